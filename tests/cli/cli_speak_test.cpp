#include "support/tempdir.h"

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <algorithm>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace {

// brumlis-cli speak with the bundled voice, its sound captured by SDL's disk driver.
TEST(CliSpeak, SpeaksTheBundledVoiceThroughTheDevice) {
    brumlis::test::TempDir dir;
    const QString capture = dir.filePath(QStringLiteral("capture.raw"));
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("disk"));
    env.insert(QStringLiteral("SDL_DISKAUDIOFILE"), capture);
    cli.setProcessEnvironment(env);
    cli.start(QStringLiteral(BRUMLIS_CLI),
              {QStringLiteral("--data"), QStringLiteral(BRUMLIS_DATA), QStringLiteral("speak"),
               QStringLiteral("--seed"), QStringLiteral("7"), QStringLiteral("--template"),
               QStringLiteral("5")});
    ASSERT_TRUE(cli.waitForFinished(60000));
    EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    EXPECT_TRUE(out.endsWith(u'\n'));
    EXPECT_EQ(out.count(u'\n'), 1);
    EXPECT_TRUE(out.contains(QStringLiteral(" är "))) << out.toStdString();

    // Template 5 is name, "är", preposition, place: every one of them has a recording,
    // so the stream holds well over a second of sound (48 kHz stereo float).
    QFile file(capture);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray bytes = file.readAll();
    std::vector<float> samples(std::size_t(bytes.size()) / sizeof(float));
    std::memcpy(samples.data(), bytes.constData(), samples.size() * sizeof(float));
    const auto heard =
        std::count_if(samples.begin(), samples.end(), [](float s) { return s != 0.0f; });
    EXPECT_GT(heard, 2 * 48000 / 2) << "less than half a second of sound";
}

} // namespace
