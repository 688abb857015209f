#pragma once
// WAV files written by the tests themselves, in standard C++, so that the core's tests make
// the same recordings on every platform: 16-bit PCM or 32-bit float, interleaved.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace brumlis::test {

enum class WavSamples { Pcm16, Float32 };

/// The bytes of a WAV file holding `samples` (interleaved, -1..1) at `rate`.
inline std::string wavBytes(const std::vector<float>& samples, int rate, int channels,
                            WavSamples kind = WavSamples::Pcm16) {
    const bool isFloat = kind == WavSamples::Float32;
    const std::uint32_t sampleBytes = isFloat ? 4 : 2;
    const std::uint32_t dataBytes = std::uint32_t(samples.size()) * sampleBytes;
    std::string bytes;
    const auto u16 = [&](std::uint32_t v) {
        bytes += char(v & 0xff);
        bytes += char((v >> 8) & 0xff);
    };
    const auto u32 = [&](std::uint32_t v) {
        u16(v & 0xffff);
        u16(v >> 16);
    };
    bytes += "RIFF";
    u32(4 + 8 + 16 + 8 + dataBytes);
    bytes += "WAVEfmt ";
    u32(16);
    u16(isFloat ? 3 : 1); // WAVE_FORMAT_IEEE_FLOAT, WAVE_FORMAT_PCM
    u16(std::uint32_t(channels));
    u32(std::uint32_t(rate));
    u32(std::uint32_t(rate) * std::uint32_t(channels) * sampleBytes);
    u16(std::uint32_t(channels) * sampleBytes);
    u16(sampleBytes * 8);
    bytes += "data";
    u32(dataBytes);
    for (const float sample : samples) {
        if (isFloat) {
            std::uint32_t bits = 0;
            std::memcpy(&bits, &sample, sizeof bits);
            u32(bits);
        } else {
            const long scaled = std::lround(double(sample) * 32767.0);
            u16(std::uint32_t(std::int16_t(std::clamp(scaled, -32768L, 32767L))) & 0xffff);
        }
    }
    return bytes;
}

} // namespace brumlis::test
