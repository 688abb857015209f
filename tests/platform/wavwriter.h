#pragma once
// WAV files byte by byte, as the tests want them: any chunk in any order, sizes that lie,
// pad bytes or none, and the samples of each format with what a reader must make of them.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brumlis::test::wav {

inline void put16(std::string& out, std::uint32_t value) {
    out += char(value & 0xff);
    out += char((value >> 8) & 0xff);
}

inline void put32(std::string& out, std::uint32_t value) {
    put16(out, value & 0xffff);
    put16(out, value >> 16);
}

struct Chunk {
    Chunk(std::string id_, std::string body_, std::optional<std::uint32_t> size_ = {},
          bool pad_ = true)
        : id(std::move(id_))
        , body(std::move(body_))
        , size(size_)
        , pad(pad_) {}
    std::string id;
    std::string body;
    std::optional<std::uint32_t> size; ///< what the header says, when not the body's size
    bool pad;                          ///< an odd body gets its pad byte
};

inline std::string bytesOf(const Chunk& chunk) {
    std::string out = chunk.id;
    put32(out, chunk.size.value_or(std::uint32_t(chunk.body.size())));
    out += chunk.body;
    if (chunk.pad && chunk.body.size() % 2 == 1)
        out += '\0';
    return out;
}

/// A RIFF file of `form` holding `chunks`; `size` is what its header says, when not the truth.
inline std::string riff(const std::vector<Chunk>& chunks, std::optional<std::uint32_t> size = {},
                        const std::string& form = "WAVE") {
    std::string body = form;
    for (const Chunk& chunk : chunks)
        body += bytesOf(chunk);
    std::string out = "RIFF";
    put32(out, size.value_or(std::uint32_t(body.size())));
    return out + body;
}

constexpr std::uint16_t Pcm = 1;
constexpr std::uint16_t Float = 3;
constexpr std::uint16_t ALaw = 6;
constexpr std::uint16_t MuLaw = 7;
constexpr std::uint16_t ImaAdpcm = 0x11;
constexpr std::uint16_t Extensible = 0xfffe;

/// The body of a fmt chunk: WAVEFORMAT's 16 bytes, then `extension` (cbSize and what
/// follows) when there is one.
inline std::string fmtBody(std::uint16_t tag, std::uint32_t channels, std::uint32_t rate,
                           std::uint32_t bits, std::uint32_t blockAlign,
                           std::optional<std::string> extension = {},
                           std::optional<std::uint32_t> bytesPerSecond = {}) {
    std::string out;
    put16(out, tag);
    put16(out, channels);
    put32(out, rate);
    put32(out, bytesPerSecond.value_or(rate * blockAlign));
    put16(out, blockAlign);
    put16(out, bits);
    if (extension) {
        put16(out, std::uint32_t(extension->size()));
        out += *extension;
    }
    return out;
}

/// WAVE_FORMAT_EXTENSIBLE whose sub-format is the plain format `tag`.
inline std::string extensibleBody(std::uint16_t tag, std::uint32_t channels, std::uint32_t rate,
                                  std::uint32_t containerBits, std::uint32_t validBits,
                                  std::uint32_t channelMask) {
    std::string extension;
    put16(extension, validBits);
    put32(extension, channelMask);
    put32(extension, tag); // the GUID: the tag, then the fixed tail of every such GUID
    put16(extension, 0x0000);
    put16(extension, 0x0010);
    extension += std::string("\x80\x00\x00\xaa\x00\x38\x9b\x71", 8);
    return fmtBody(Extensible, channels, rate, containerBits, channels * containerBits / 8,
                   extension);
}

enum class Sample { U8, S16, S24, S32, F32, F64 };

inline int bytesOf(Sample sample) {
    switch (sample) {
    case Sample::U8:
        return 1;
    case Sample::S16:
        return 2;
    case Sample::S24:
        return 3;
    case Sample::S32:
    case Sample::F32:
        return 4;
    case Sample::F64:
        return 8;
    }
    return 0;
}

inline bool isFloat(Sample sample) {
    return sample == Sample::F32 || sample == Sample::F64;
}

// An integer format's full scale: 2^(bits - 1).
inline double scaleOf(Sample sample) {
    return std::ldexp(1.0, 8 * bytesOf(sample) - 1);
}

inline std::int64_t quantized(Sample sample, double value) {
    const double scale = scaleOf(sample);
    return std::int64_t(std::clamp(std::round(value * scale), -scale, scale - 1));
}

/// `values` (interleaved, full scale 1) as the data chunk of `sample` holds them.
inline std::string encode(Sample sample, const std::vector<double>& values) {
    std::string out;
    for (double value : values) {
        if (sample == Sample::F32) {
            const float f = float(value);
            char bytes[4];
            std::memcpy(bytes, &f, 4);
            out.append(bytes, 4);
            continue;
        }
        if (sample == Sample::F64) {
            char bytes[8];
            std::memcpy(bytes, &value, 8);
            out.append(bytes, 8);
            continue;
        }
        std::int64_t q = quantized(sample, value);
        if (sample == Sample::U8)
            q += 128;
        for (int b = 0; b < bytesOf(sample); ++b)
            out += char((std::uint64_t(q) >> (8 * b)) & 0xff);
    }
    return out;
}

/// What a reader must give for `values` written as `sample`: the stored step over full scale.
inline std::vector<float> decoded(Sample sample, const std::vector<double>& values) {
    std::vector<float> out;
    for (double value : values)
        out.push_back(isFloat(sample) ? float(value)
                                      : float(double(quantized(sample, value)) / scaleOf(sample)));
    return out;
}

/// G.711 as the ITU tables have it, in 16-bit steps.
inline int muLawValue(std::uint8_t code) {
    const int u = ~code & 0xff;
    const int magnitude = (((u & 0x0f) << 3) + 0x84) << ((u & 0x70) >> 4);
    return (u & 0x80) ? 0x84 - magnitude : magnitude - 0x84;
}

inline int aLawValue(std::uint8_t code) {
    const int a = code ^ 0x55;
    const int segment = (a & 0x70) >> 4;
    int magnitude = (a & 0x0f) << 4;
    if (segment == 0)
        magnitude += 8;
    else
        magnitude = (magnitude + 0x108) << (segment - 1);
    return (a & 0x80) ? magnitude : -magnitude;
}

/// Mono IMA ADPCM as WAV files hold it, in blocks of `blockAlign` bytes: each block a
/// header (the first sample and the step's index) and then two samples a byte, the first in
/// the low nibble. `decoded` is what the standard decoder makes of it, padding and all.
struct Adpcm {
    std::string data;
    std::vector<float> decoded;
    std::uint32_t samplesPerBlock = 0;
};

inline Adpcm imaAdpcm(const std::vector<double>& values, std::uint32_t blockAlign) {
    static constexpr int Steps[89] = {
        7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
        25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
        88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
        307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
        1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
        3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
        12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
    static constexpr int IndexStep[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
    Adpcm out;
    out.samplesPerBlock = (blockAlign - 4) * 2 + 1;
    int index = 0;
    for (std::size_t start = 0; start < values.size(); start += out.samplesPerBlock) {
        const auto sampleAt = [&](std::size_t i) {
            return i < values.size() ? int(quantized(Sample::S16, values[i])) : 0;
        };
        int predicted = sampleAt(start);
        put16(out.data, std::uint32_t(predicted & 0xffff));
        out.data += char(index);
        out.data += '\0';
        out.decoded.push_back(float(predicted / 32768.0));
        std::uint8_t pending = 0;
        for (std::uint32_t k = 1; k < out.samplesPerBlock; ++k) {
            const int step = Steps[index];
            int difference = sampleAt(start + k) - predicted;
            int code = 0;
            if (difference < 0) {
                code = 8;
                difference = -difference;
            }
            if (difference >= step) {
                code |= 4;
                difference -= step;
            }
            if (difference >= step / 2) {
                code |= 2;
                difference -= step / 2;
            }
            if (difference >= step / 4)
                code |= 1;
            // As the decoder will have it.
            int change = step >> 3;
            if (code & 4)
                change += step;
            if (code & 2)
                change += step >> 1;
            if (code & 1)
                change += step >> 2;
            predicted = std::clamp(predicted + (code & 8 ? -change : change), -32768, 32767);
            index = std::clamp(index + IndexStep[code & 7], 0, 88);
            out.decoded.push_back(float(predicted / 32768.0));
            if (k % 2 == 1) {
                pending = std::uint8_t(code);
            } else {
                out.data += char(pending | code << 4);
            }
        }
    }
    return out;
}

} // namespace brumlis::test::wav
