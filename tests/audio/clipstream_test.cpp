// A recording converted for the device, as every platform decodes and resamples it: whole,
// without a frame lost or added, and faded in and out. The recordings are written by the
// test itself.
#include "brumlis/audio/clipstream.h"
#include "testkit/tempfolder.h"
#include "testkit/wav.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace brumlis {
namespace {

DeviceFormat stereoFloat48k() {
    return DeviceFormat::of(SampleFormat::Float32, 48000, 2, 512);
}

TEST(ClipStream, LongClipsAreResampledWithoutLosingOrPaddingFrames) {
    struct Case {
        int rate;
        int channels;
        std::int64_t frames;
    };
    const Case cases[] = {{44100, 2, 441001}, {22050, 1, 661500}, {11025, 1, 110251},
                          {32000, 2, 320000}, {96000, 1, 480001}, {44101, 1, 44101}};
    test::TempFolder dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.frames << " frames");
        const std::string name = std::to_string(c.rate) + ".wav";
        const std::vector<float> level(std::size_t(c.frames) * std::size_t(c.channels), 0.5f);
        dir.write(name, test::wavBytes(level, c.rate, c.channels));

        ClipStream stream;
        ASSERT_TRUE(stream.open(dir.filePath(name), stereoFloat48k()));
        std::vector<float> out;
        std::vector<std::uint8_t> chunk;
        while (stream.next(chunk)) {
            const std::size_t at = out.size();
            out.resize(at + chunk.size() / sizeof(float));
            std::memcpy(out.data() + at, chunk.data(), chunk.size());
        }
        const std::int64_t expected = (2 * c.frames * 48000 + c.rate) / (2 * c.rate);
        EXPECT_EQ(std::int64_t(out.size() / 2), expected);
        // Apart from the fades and the filter's edges at both ends, every frame holds the
        // level: a frame dropped inside the clip shows as a jump; and none is exactly zero,
        // which only padding would be (a fade comes close to nothing but never reaches it).
        const std::size_t edge = 2 * std::size_t(std::lround(48000 * ClipStream::FadeSeconds) + 64);
        long off = 0;
        for (std::size_t i = edge; i + edge < out.size(); ++i)
            off += std::fabs(out[i] - 0.5f) > 0.01f;
        EXPECT_EQ(off, 0);
        EXPECT_EQ(std::count(out.begin(), out.end(), 0.0f), 0) << "padded with silence";
    }
}

// Converts the clip at `path` to `format` whole.
std::vector<std::uint8_t> converted(const std::filesystem::path& path, const DeviceFormat& format) {
    ClipStream stream;
    EXPECT_TRUE(stream.open(path, format));
    std::vector<std::uint8_t> all, chunk;
    while (stream.next(chunk))
        all.insert(all.end(), chunk.begin(), chunk.end());
    return all;
}

// Two clips that meet at different levels click, gap or no gap: each is faded in and out as
// it is converted, by a raised cosine, without a frame added.
TEST(ClipStream, EveryClipIsFadedInAndOutWithoutAFrameAdded) {
    struct Case {
        const char* name;
        int rate;
        int channels;
        std::int64_t frames;
        float level; // every sample
    };
    const Case cases[] = {
        {"mono at +50 %", 48000, 1, 4800, 0.5f},
        {"stereo at -50 %, resampled", 22050, 2, 2205, -0.5f},
        {"8 kHz, as old packs were", 8000, 1, 800, 0.5f},
        {"shorter than two fades", 48000, 1, 150, 0.5f},
        {"silent", 48000, 2, 4800, 0.0f},
    };
    test::TempFolder dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<float> level(std::size_t(c.frames) * std::size_t(c.channels), c.level);
        dir.write("clip.wav", test::wavBytes(level, c.rate, c.channels, test::WavSamples::Float32));

        const std::vector<std::uint8_t> bytes =
            converted(dir.filePath("clip.wav"), stereoFloat48k());
        std::vector<float> left(bytes.size() / 8);
        for (std::size_t i = 0; i < left.size(); ++i)
            std::memcpy(&left[i], bytes.data() + 8 * i, sizeof(float));
        ASSERT_EQ(std::int64_t(left.size()), (2 * c.frames * 48000 + c.rate) / (2 * c.rate))
            << "frames added";
        const float full = std::fabs(c.level);
        // Both ends near silence, whatever the level the recording was cut at.
        EXPECT_LE(std::fabs(left.front()), 0.02f * std::max(full, 1e-6f));
        EXPECT_LE(std::fabs(left.back()), 0.02f * std::max(full, 1e-6f));
        // No step bigger than a smooth fade over 2.5 ms makes (a resampler's ripple aside).
        float largest = 0;
        for (std::size_t i = 1; i < left.size(); ++i)
            largest = std::max(largest, std::fabs(left[i] - left[i - 1]));
        const long fadeFrames =
            std::min<long>(std::lround(48000 * ClipStream::FadeSeconds), long(left.size()) / 2);
        if (c.frames > 1) {
            EXPECT_LE(largest, full * 3.2f / float(std::max(fadeFrames, 1L)) + 1e-6f);
        }
        if (c.frames >= 4800) {
            // Whole in the middle: the fade is where the edges are, nowhere else.
            const std::size_t middle = left.size() / 2;
            EXPECT_NEAR(left[middle], c.level, 1e-3);
            EXPECT_LT(std::fabs(left[std::size_t(fadeFrames) / 2]), 0.9f * full + 1e-6f);
        }
    }
}

} // namespace
} // namespace brumlis
