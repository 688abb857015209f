#pragma once

#include <cstdint>
#include <random>

namespace brumlis {

/// The program's one source of randomness.
class RandomSource {
public:
    virtual ~RandomSource() = default;
    virtual void seed(std::uint64_t seed) = 0;
    /// A uniformly distributed integer in [0, n), without bias; n must be at least 1.
    virtual std::uint64_t below(std::uint64_t n) = 0;
};

/// Mersenne twister with Lemire's unbiased bounded draw. The sequence for a seed is
/// fixed by this code alone (not by the standard library's distributions), so seeded
/// runs give the same sentences on every build.
class MersenneRandom final : public RandomSource {
public:
    explicit MersenneRandom(std::uint64_t seed = 5489u)
        : m_engine(seed) {}
    void seed(std::uint64_t seed) override { m_engine.seed(seed); }
    std::uint64_t below(std::uint64_t n) override;

private:
    std::mt19937_64 m_engine;
};

/// Supplies the seed for each Generate.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint64_t seedNow() = 0;
};

/// Nanoseconds of the system clock: two Generates never share a seed, even when
/// they follow each other within a millisecond.
class SystemClock final : public Clock {
public:
    std::uint64_t seedNow() override;
};

} // namespace brumlis
