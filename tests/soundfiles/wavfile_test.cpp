#include "brumlis/qtbridge/files.h"
#include "brumlis/soundfiles/wavfile.h"
#include "support/tempdir.h"

#include <QDir>
#include <QFile>
#include <csignal>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/resource.h>

namespace brumlis {
namespace {

TEST(WavFile, EncodesWhatLibsndfileReadsBack) {
    const std::vector<std::int16_t> samples = {0, 1, -1, 32767, -32768, 1000};
    const test::TempDir dir;
    const QString path = dir.filePath(QStringLiteral("a.wav"));
    ASSERT_TRUE(writeFileAtomically(path, encodeWav(samples, 16000, 2)));
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    ASSERT_TRUE(file);
    std::vector<std::int16_t> back(samples.size() + 2);
    EXPECT_EQ(sf_read_short(file, back.data(), sf_count_t(back.size())),
              sf_count_t(samples.size()));
    sf_close(file);
    back.resize(samples.size());
    EXPECT_EQ(back, samples);
    EXPECT_EQ(info.samplerate, 16000);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(toPcm16({0.0f, 0.5f, -1.0f, 2.0f, -2.0f}),
              (std::vector<std::int16_t>{0, 16384, -32767, 32767, -32768}));
}

// A write that fails half-way (here: the file size limit) leaves the old file as it was
// and no temporary file behind.
TEST(WavFile, FailedWriteKeepsTheOldFileAndLeavesNothing) {
    const test::TempDir dir;
    const QString path = dir.filePath(QStringLiteral("Kalle.wav"));
    dir.write(QStringLiteral("Kalle.wav"), "old");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    QString why;
    const bool written = writeFileAtomically(path, QByteArray(100000, 'x'), &why);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_FALSE(why.isEmpty());
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("old"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

} // namespace
} // namespace brumlis
