#include "brumlis/audio/clipdecoder.h"
#include "brumlis/audio/clipstream.h"
#include "soxclip.h"
#include "support/tempdir.h"

#include <QFile>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace brumlis {
namespace {

std::int64_t decodedFrames(ClipDecoder& decoder) {
    std::vector<float> buffer(std::size_t(512) * std::size_t(decoder.channels()));
    std::int64_t total = 0;
    while (const std::int64_t got = decoder.read(buffer.data(), 512))
        total += got;
    return total;
}

DeviceFormat stereoFloat48k() {
    return DeviceFormat::of(SampleFormat::Float32, 48000, 2, 512);
}

TEST(ClipDecoder, DecodesEveryEncodingAWindowsRecorderWrites) {
    struct Case {
        const char* encoding; // sox options
        int rate;
        int channels;
        long frames;
        long blockFrames; // block codecs may pad the last block up to this many frames
    };
    const Case cases[] = {
        {"-e unsigned-integer -b 8", 11025, 1, 3001, 0},
        {"-e signed-integer -b 16", 22050, 1, 4410, 0},
        {"-e signed-integer -b 16", 44100, 2, 4410, 0},
        {"-e signed-integer -b 24", 48000, 2, 4800, 0},
        {"-e signed-integer -b 32", 96000, 1, 9600, 0},
        {"-e floating-point -b 32", 32000, 2, 3200, 0},
        {"-e floating-point -b 64", 16000, 1, 1600, 0},
        {"-e mu-law", 8000, 1, 3001, 0},
        {"-e a-law", 8000, 2, 3001, 0},
        {"-e ima-adpcm", 22050, 1, 3001, 1017},
        {"-e ima-adpcm", 8000, 2, 3001, 505},
        {"-e ms-adpcm", 22050, 1, 3001, 1012},
        {"-e ms-adpcm", 11025, 2, 3001, 500},
        {"-e gsm-full-rate", 8000, 1, 3001, 320},
        // Long enough that a frame lost per decoded chunk would add up.
        {"-e signed-integer -b 16", 44100, 2, 441001, 0},
        {"-e signed-integer -b 16", 22050, 1, 220501, 0},
    };

    test::TempDir dir;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.encoding << ' ' << c.rate << " Hz " << c.channels << " ch");
        const QString path = dir.filePath(QStringLiteral("clip%1.wav").arg(n++));
        const QString problem =
            test::soxTone(path, c.rate, c.channels, QLatin1String(c.encoding), c.frames);
        ASSERT_TRUE(problem.isEmpty()) << problem.toStdString();

        ClipDecoder decoder;
        ASSERT_TRUE(decoder.open(QFile::encodeName(path)));
        EXPECT_EQ(decoder.sampleRate(), c.rate);
        EXPECT_EQ(decoder.channels(), c.channels);
        const std::int64_t frames = decodedFrames(decoder);
        EXPECT_GE(frames, c.frames);
        EXPECT_LE(frames, c.frames + c.blockFrames);

        // Converted to the device's rate, the clip keeps its duration.
        ClipStream stream;
        ASSERT_TRUE(stream.open(QFile::encodeName(path), stereoFloat48k()));
        std::vector<std::uint8_t> chunk;
        std::int64_t outFrames = 0;
        while (stream.next(chunk))
            outFrames += std::int64_t(chunk.size()) / 8;
        // The clip keeps its duration exactly: rounded up to whole frames at 48 kHz.
        EXPECT_EQ(outFrames, (frames * 48000 + c.rate - 1) / c.rate);
    }
}

TEST(ClipStream, LongClipsAreResampledWithoutLosingOrPaddingFrames) {
    struct Case {
        int rate;
        int channels;
        long frames;
    };
    const Case cases[] = {{44100, 2, 441001}, {22050, 1, 661500}, {11025, 1, 110251},
                          {32000, 2, 320000}, {96000, 1, 480001}, {44101, 1, 44101}};
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.frames << " frames");
        const QString path = dir.filePath(QStringLiteral("%1.wav").arg(c.rate));
        SF_INFO info{};
        info.samplerate = c.rate;
        info.channels = c.channels;
        info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr);
        const std::vector<float> level(std::size_t(c.frames) * std::size_t(c.channels), 0.5f);
        ASSERT_EQ(sf_writef_float(file, level.data(), c.frames), c.frames);
        sf_close(file);

        ClipStream stream;
        ASSERT_TRUE(stream.open(QFile::encodeName(path), stereoFloat48k()));
        std::vector<float> out;
        std::vector<std::uint8_t> chunk;
        while (stream.next(chunk)) {
            const std::size_t at = out.size();
            out.resize(at + chunk.size() / sizeof(float));
            std::memcpy(out.data() + at, chunk.data(), chunk.size());
        }
        const long expected = (c.frames * 48000 + c.rate - 1) / c.rate;
        EXPECT_EQ(long(out.size() / 2), expected);
        // Apart from the fades and the filter's edges at both ends, every frame holds the
        // level: a frame dropped inside the clip shows as a jump, padding at its end as a
        // fall to zero.
        const std::size_t edge = 2 * std::size_t(std::lround(48000 * ClipStream::FadeSeconds) + 64);
        long off = 0;
        for (std::size_t i = edge; i + edge < out.size(); ++i)
            off += std::fabs(out[i] - 0.5f) > 0.01f;
        EXPECT_EQ(off, 0);
    }
}

// Converts the clip at `path` to `format` whole.
std::vector<std::uint8_t> converted(const QString& path, const DeviceFormat& format) {
    ClipStream stream;
    EXPECT_TRUE(stream.open(QFile::encodeName(path), format));
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
        long frames;
        float level; // every sample
    };
    const Case cases[] = {
        {"mono at +50 %", 48000, 1, 4800, 0.5f},
        {"stereo at -50 %, resampled", 22050, 2, 2205, -0.5f},
        {"8 kHz, as old packs were", 8000, 1, 800, 0.5f},
        {"shorter than two fades", 48000, 1, 150, 0.5f},
        {"silent", 48000, 2, 4800, 0.0f},
    };
    test::TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath(QStringLiteral("clip.wav"));
        SF_INFO info{};
        info.samplerate = c.rate;
        info.channels = c.channels;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
        ASSERT_NE(file, nullptr);
        const std::vector<float> level(std::size_t(c.frames) * std::size_t(c.channels), c.level);
        ASSERT_EQ(sf_writef_float(file, level.data(), c.frames), c.frames);
        sf_close(file);

        const std::vector<std::uint8_t> bytes = converted(path, stereoFloat48k());
        std::vector<float> left(bytes.size() / 8);
        for (std::size_t i = 0; i < left.size(); ++i)
            std::memcpy(&left[i], bytes.data() + 8 * i, sizeof(float));
        ASSERT_EQ(long(left.size()), (c.frames * 48000 + c.rate - 1) / c.rate) << "frames added";
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

QByteArray wavHeader(quint32 riffSize, quint16 channels, quint32 rate, quint32 dataSize) {
    QByteArray h;
    auto u16 = [&h](quint16 v) { h.append(char(v & 0xff)).append(char(v >> 8)); };
    auto u32 = [&h](quint32 v) {
        for (int i = 0; i < 4; ++i)
            h.append(char((v >> (8 * i)) & 0xff));
    };
    h += "RIFF";
    u32(riffSize);
    h += "WAVEfmt ";
    u32(16);
    u16(1); // PCM
    u16(channels);
    u32(rate);
    u32(rate * channels * 2);
    u16(quint16(channels * 2));
    u16(16);
    h += "data";
    u32(dataSize);
    return h;
}

TEST(ClipDecoder, RefusesWhatIsNotPlayableWithoutBlocking) {
    test::TempDir dir;
    const QString good = dir.filePath(QStringLiteral("good.wav"));
    ASSERT_TRUE(test::soxTone(good, 22050, 1, QStringLiteral("-b 16"), 2205).isEmpty());
    QFile goodFile(good);
    ASSERT_TRUE(goodFile.open(QIODevice::ReadOnly));
    const QByteArray goodBytes = goodFile.readAll();
    const QByteArray someSamples(200, '\x11');

    struct Case {
        const char* label;
        QByteArray bytes;
    };
    const Case files[] = {
        {"zero bytes", {}},
        {"truncated inside the header", goodBytes.left(30)},
        {"text renamed .wav", "Kalle tycker att Lisa är glad\r\n"},
        {"binary garbage", QByteArray(4096, '\xA5')},
        {"header claiming 4 GB, no data", wavHeader(0xFFFFFFFFu, 1, 22050, 0xFFFFFFF0u)},
        {"rate of zero", wavHeader(236, 1, 0, 200) + someSamples},
        {"absurd rate", wavHeader(236, 1, 4000000000u, 200) + someSamples},
        {"no channels", wavHeader(236, 0, 22050, 200) + someSamples},
        {"300 channels", wavHeader(236, 300, 22050, 200) + someSamples},
    };
    for (const Case& c : files) {
        const QString name = QStringLiteral("%1.wav").arg(QLatin1String(c.label));
        dir.write(name, c.bytes);
        ClipDecoder decoder;
        const bool opened = decoder.open(QFile::encodeName(dir.filePath(name)));
        // A decoder may accept the bare 4 GB header, but then it must yield nothing.
        EXPECT_TRUE(!opened || decodedFrames(decoder) == 0) << c.label;
    }

    // Things that are not regular files are never opened, so none of them can block.
    dir.mkdir(QStringLiteral("folder.wav"));
    const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("fifo.wav")));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0644), 0);
    const QByteArray device = QFile::encodeName(dir.filePath(QStringLiteral("zero.wav")));
    ASSERT_EQ(::symlink("/dev/zero", device.constData()), 0);
    for (const QByteArray& path :
         {QFile::encodeName(dir.filePath(QStringLiteral("folder.wav"))), fifo, device,
          QFile::encodeName(dir.filePath(QStringLiteral("nope.wav"))), QByteArray()}) {
        ClipDecoder decoder;
        EXPECT_FALSE(decoder.open(path)) << path.constData();
    }
    ClipDecoder decoder;
    EXPECT_TRUE(decoder.open(QFile::encodeName(good))) << "the control file must play";
}

} // namespace
} // namespace brumlis
