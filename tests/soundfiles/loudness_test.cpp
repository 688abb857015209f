#include "brumlis/soundfiles/loudness.h"
#include "support/levelclip.h"
#include "support/speechclip.h"
#include "support/tempdir.h"

#include <QFile>
#include <cmath>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

namespace brumlis {
namespace {

using test::sine;

// Why a recording cannot be measured is why check calls it unplayable.
TEST(ClipProblem, SaysWhyARecordingIsNotPlayable) {
    const test::TempDir dir;
    dir.mkdir(QStringLiteral("folder.wav"));
    dir.write(QStringLiteral("empty.wav"), {});
    dir.write(QStringLiteral("text.wav"), "just some text, not audio at all");
    ASSERT_EQ(
        ::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("fifo.wav"))).constData(), 0600), 0);
    ASSERT_TRUE(test::writeLevelClip(dir.filePath(QStringLiteral("slow.wav")), SF_FORMAT_PCM_16,
                                     500, 1, 100, 0.5f));
    ASSERT_TRUE(test::writeLevelClip(dir.filePath(QStringLiteral("good.wav")), SF_FORMAT_PCM_16,
                                     8000, 1, 100, 0.5f));
    struct Case {
        const char* name;
        ClipDecoder::Problem expected;
    };
    const Case cases[] = {
        {"none.wav", ClipDecoder::Problem::Missing},
        {"folder.wav", ClipDecoder::Problem::NotRegular},
        {"fifo.wav", ClipDecoder::Problem::NotRegular},
        {"empty.wav", ClipDecoder::Problem::Undecodable},
        {"text.wav", ClipDecoder::Problem::Undecodable},
        {"slow.wav", ClipDecoder::Problem::Refused},
        {"good.wav", ClipDecoder::Problem::None},
    };
    for (const Case& c : cases) {
        ClipDecoder::Problem problem = ClipDecoder::Problem::Missing;
        const auto measure =
            measureClip(QFile::encodeName(dir.filePath(QString::fromUtf8(c.name))), &problem);
        EXPECT_EQ(problem, c.expected) << c.name;
        EXPECT_EQ(bool(measure), c.expected == ClipDecoder::Problem::None) << c.name;
    }
}

TEST(Loudness, SilenceAtBothEndsIsCountedInFrames) {
    struct Case {
        int leading;
        int sound;
        int trailing;
    };
    const Case cases[] = {{0, 4000, 0}, {1234, 4000, 77}, {0, 100, 5000}, {8000, 0, 0}};
    for (const Case& c : cases) {
        std::vector<float> samples(std::size_t(c.leading), 0.001f); // below the silence level
        const std::vector<float> tone = sine(8000, c.sound / 8000.0, 0.5, 1000.0);
        samples.insert(samples.end(), tone.begin(), tone.end());
        // A sine starts at zero: the first loud sample is a little after the tone begins.
        std::int64_t firstLoud = c.leading;
        std::int64_t lastLoud = c.leading - 1;
        for (std::size_t i = 0; i < tone.size(); ++i)
            if (std::fabs(tone[i]) >= SilenceLevel) {
                if (lastLoud < c.leading)
                    firstLoud = c.leading + std::int64_t(i);
                lastLoud = c.leading + std::int64_t(i);
            }
        samples.resize(samples.size() + std::size_t(c.trailing), 0.0f);
        const ClipMeasure m = measureSamples(samples.data(), std::int64_t(samples.size()), 8000, 1);
        EXPECT_EQ(m.frames, std::int64_t(samples.size()));
        if (c.sound == 0) {
            EXPECT_EQ(m.leadingSilence, m.frames);
            EXPECT_TRUE(std::isinf(m.loudnessLufs));
            continue;
        }
        EXPECT_EQ(m.leadingSilence, firstLoud) << c.leading;
        EXPECT_EQ(m.trailingSilence, std::int64_t(samples.size()) - 1 - lastLoud) << c.trailing;
        EXPECT_NEAR(m.peakDbfs, 20 * std::log10(0.5), 0.01);
    }
}

// How far a recording starts and ends from zero: where a hand cut clicks.
TEST(Loudness, FirstAndLastSamplesAreMeasuredFromZero) {
    struct Case {
        const char* name;
        std::vector<float> frames; // stereo
        float first, last;
    };
    const Case cases[] = {
        {"cut at half of full scale, the louder channel counts",
         {0.1f, -0.49f, 0.3f, 0.3f, 0.2f, 0.49f},
         0.49f,
         0.49f},
        {"faded to silence", {0.0f, 0.0f, 0.5f, 0.5f, 0.001f, 0.0f}, 0.0f, 0.001f},
        {"one frame", {-0.25f, 0.1f}, 0.25f, 0.25f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Fed a frame at a time, as a decoder may hand it over.
        LoudnessMeter meter(8000, 2);
        for (std::size_t i = 0; i < c.frames.size(); i += 2)
            meter.add(c.frames.data() + i, 1);
        const ClipMeasure m = meter.finish();
        EXPECT_FLOAT_EQ(m.firstEdge, c.first);
        EXPECT_FLOAT_EQ(m.lastEdge, c.last);
    }
}

// A word shorter than one 400 ms block has the loudness of the same sound held longer, and
// 20 dB more level reads as 20 LU more.
TEST(Loudness, ShortClipsMeasureLikeLongOnes) {
    const std::vector<float> longTone = sine(22050, 2.0, 0.1);
    const double reference =
        measureSamples(longTone.data(), std::int64_t(longTone.size()), 22050, 1).loudnessLufs;
    ASSERT_TRUE(std::isfinite(reference));
    for (const double seconds : {0.05, 0.2, 0.39, 0.41, 1.0}) {
        const std::vector<float> tone = sine(22050, seconds, 0.1);
        EXPECT_NEAR(measureSamples(tone.data(), std::int64_t(tone.size()), 22050, 1).loudnessLufs,
                    reference, 0.3)
            << seconds;
    }
    const std::vector<float> louder = sine(22050, 0.3, 1.0);
    EXPECT_NEAR(measureSamples(louder.data(), std::int64_t(louder.size()), 22050, 1).loudnessLufs,
                reference + 20.0, 0.3);
}

TEST(Loudness, MedianOfOddAndEvenCounts) {
    EXPECT_FALSE(median({}));
    EXPECT_EQ(median({-30, -10, -20}), -20);
    EXPECT_EQ(median({-30, -10, -20, -12}), -16);
}

} // namespace
} // namespace brumlis
