#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace brumlis::test {

/// A made-up spoken word with every edge known: bursts of a tone at a known level with
/// pauses between them, then a quiet tail of hiss like a final consonant, in silence or in
/// a constant noise.
struct WordShape {
    double leadSeconds = 0.4;
    int bursts = 3;
    double burstSeconds = 0.15;
    double pauseSeconds = 0.25;
    double burstDbfs = -12.0; ///< RMS of each burst
    double tailSeconds = 0.08;
    double tailDbfs = -36.0; ///< RMS of the tail
    double trailSeconds = 1.0;
    double noiseDbfs = -HUGE_VAL; ///< RMS of a noise under all of it; -inf for none
    bool clipped = false;         ///< the bursts driven far past full scale
    double hz = 440.0;
};

struct SpokenWord {
    std::vector<float> samples;
    int rate = 0;
    std::int64_t soundStart = 0; ///< first frame of the first burst
    std::int64_t tailStart = 0;
    std::int64_t soundEnd = 0; ///< one past the last frame of the tail
};

/// Uniform noise in [-1, 1], the same on every run.
class NoiseSource {
public:
    explicit NoiseSource(std::uint32_t seed = 1)
        : m_state(seed) {}
    float next() {
        m_state = m_state * 1664525u + 1013904223u;
        return float(m_state >> 8) / float(1 << 23) - 1.0f;
    }

private:
    std::uint32_t m_state;
};

inline float amplitudeOf(double dbfs) {
    return float(std::pow(10.0, dbfs / 20.0));
}

/// A sine tone of `seconds` at `amplitude`, starting at zero.
inline std::vector<float> sine(int rate, double seconds, double amplitude, double hz = 440.0) {
    std::vector<float> samples(std::size_t(rate * seconds));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = float(amplitude * std::sin(2.0 * std::numbers::pi * hz * double(i) / rate));
    return samples;
}

inline SpokenWord makeWord(const WordShape& shape, int rate) {
    SpokenWord word;
    word.rate = rate;
    const auto frames = [rate](double seconds) {
        return std::int64_t(std::llround(seconds * rate));
    };
    word.soundStart = frames(shape.leadSeconds);
    std::vector<float>& s = word.samples;
    s.assign(std::size_t(word.soundStart), 0.0f);
    // A sine's RMS is its amplitude over the square root of two.
    const float sineAmplitude =
        shape.clipped ? 4.0f : amplitudeOf(shape.burstDbfs) * float(std::numbers::sqrt2);
    for (int b = 0; b < shape.bursts; ++b) {
        if (b > 0)
            s.resize(s.size() + std::size_t(frames(shape.pauseSeconds)), 0.0f);
        for (std::int64_t i = 0; i < frames(shape.burstSeconds); ++i) {
            const float v = sineAmplitude *
                            float(std::sin(2.0 * std::numbers::pi * shape.hz * double(i) / rate));
            s.push_back(std::clamp(v, -1.0f, 1.0f));
        }
    }
    word.tailStart = std::int64_t(s.size());
    // Hiss: the difference of white noise is mostly high frequencies, as an "s" is. Uniform
    // noise has an RMS of 1/sqrt(3); its difference, sqrt(2) times that.
    NoiseSource hiss(7);
    const float hissScale = amplitudeOf(shape.tailDbfs) * float(std::sqrt(3.0 / 2.0));
    float previous = hiss.next();
    for (std::int64_t i = 0; i < frames(shape.tailSeconds); ++i) {
        const float current = hiss.next();
        s.push_back(hissScale * (current - previous));
        previous = current;
    }
    word.soundEnd = std::int64_t(s.size());
    s.resize(s.size() + std::size_t(frames(shape.trailSeconds)), 0.0f);
    if (std::isfinite(shape.noiseDbfs)) {
        NoiseSource noise(3);
        const float scale = amplitudeOf(shape.noiseDbfs) * float(std::sqrt(3.0));
        for (float& v : s)
            v += scale * noise.next();
    }
    return word;
}

/// The RMS of samples [from, to), in dBFS.
inline double rmsDbfs(const std::vector<float>& s, std::int64_t from, std::int64_t to) {
    double squares = 0.0;
    for (std::int64_t i = from; i < to; ++i)
        squares += double(s[std::size_t(i)]) * s[std::size_t(i)];
    return 10.0 * std::log10(squares / double(std::max<std::int64_t>(1, to - from)));
}

} // namespace brumlis::test
