#include "brumlis/sentence/random.h"

#include <cassert>
#include <chrono>

namespace brumlis {

namespace {
__extension__ typedef unsigned __int128 u128;
}

std::uint64_t MersenneRandom::below(std::uint64_t n) {
    assert(n > 0);
    // Lemire, "Fast Random Integer Generation in an Interval" (2019).
    u128 m = static_cast<u128>(m_engine()) * n;
    auto low = static_cast<std::uint64_t>(m);
    if (low < n) {
        const std::uint64_t threshold = -n % n;
        while (low < threshold) {
            m = static_cast<u128>(m_engine()) * n;
            low = static_cast<std::uint64_t>(m);
        }
    }
    return static_cast<std::uint64_t>(m >> 64);
}

std::uint64_t SystemClock::seedNow() {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(now).count());
}

} // namespace brumlis
