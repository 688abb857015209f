#include "brumlis/audio/clipdecoder.h"
#include "brumlis/audio/clipstream.h"
#include "brumlis/qtbridge/files.h"
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
        ASSERT_TRUE(decoder.open(corePath(path)));
        EXPECT_EQ(decoder.sampleRate(), c.rate);
        EXPECT_EQ(decoder.channels(), c.channels);
        const std::int64_t frames = decodedFrames(decoder);
        EXPECT_GE(frames, c.frames);
        EXPECT_LE(frames, c.frames + c.blockFrames);

        // Converted to the device's rate, the clip keeps its duration.
        ClipStream stream;
        ASSERT_TRUE(stream.open(corePath(path), stereoFloat48k()));
        std::vector<std::uint8_t> chunk;
        std::int64_t outFrames = 0;
        while (stream.next(chunk))
            outFrames += std::int64_t(chunk.size()) / 8;
        // The clip keeps its duration: rounded to the nearest whole frame at 48 kHz.
        EXPECT_EQ(outFrames, (2 * frames * 48000 + c.rate) / (2 * c.rate));
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
        const bool opened = decoder.open(corePath(dir.filePath(name)));
        // A decoder may accept the bare 4 GB header, but then it must yield nothing.
        EXPECT_TRUE(!opened || decodedFrames(decoder) == 0) << c.label;
    }

    // Things that are not regular files are never opened, so none of them can block.
    dir.mkdir(QStringLiteral("folder.wav"));
    const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("fifo.wav")));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0644), 0);
    const QByteArray device = QFile::encodeName(dir.filePath(QStringLiteral("zero.wav")));
    ASSERT_EQ(::symlink("/dev/zero", device.constData()), 0);
    for (const std::filesystem::path& path :
         {corePath(dir.filePath(QStringLiteral("folder.wav"))), corePath(fifo), corePath(device),
          corePath(dir.filePath(QStringLiteral("nope.wav"))), std::filesystem::path()}) {
        ClipDecoder decoder;
        EXPECT_FALSE(decoder.open(path)) << path;
    }
    ClipDecoder decoder;
    EXPECT_TRUE(decoder.open(corePath(good))) << "the control file must play";
}

} // namespace
} // namespace brumlis
