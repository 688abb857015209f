// The private sound servers that the audio tests and benchmarks run on. Each must play
// what a client sends whole and at its level, be reached by the engine through the output
// asked for,
// hold its clients while frozen, and end without leaving a process behind.
#include "brumlis/linuxaudio/playerfactory.h"
#include "brumlis/playback/soundplayer.h"
#include "brumlis/qtbridge/text.h"
#include "support/levelclip.h"
#include "support/playerevents.h"
#include "support/processwait.h"
#include "support/soundservers.h"
#include "support/tempdir.h"

#include <QDir>
#include <QProcess>
#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <map>
#include <sndfile.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace brumlis {
namespace {

struct Setup {
    test::ServerKind kind;
    test::SdlDriver driver;
};

void PrintTo(const Setup& setup, std::ostream* out) {
    *out << test::serverKindName(setup.kind) << " with SDL " << test::sdlDriverName(setup.driver);
}

std::string setupName(const testing::TestParamInfo<Setup>& info) {
    std::string name = test::serverKindName(info.param.kind);
    if (info.param.kind == test::ServerKind::PipeWire)
        name += info.param.driver == test::SdlDriver::PipeWire ? "_NativeSdl" : "_PulseSdl";
    return name;
}

constexpr long ClipFrames = 24000; // half a second at 48 kHz
constexpr float Level = 0.3f;
// 16-bit samples hold the level to within 1/65536; a sink volume or a monitor that is
// not at 100% would be far off.
constexpr float LevelTolerance = 1e-3f;

struct Process {
    qint64 pid;
    char state; // as /proc shows it: 'T' stopped, 'Z' ended but not reaped
    QString name;
};

/// Every process descended from this one. The test is made the subreaper of what it
/// starts, so that a process a server leaves orphaned stays in this list instead of
/// vanishing under init.
std::vector<Process> descendants() {
    std::map<qint64, std::pair<qint64, Process>> all; // pid → (parent, process)
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!number || !stat.open(QIODevice::ReadOnly))
            continue;
        // "pid (name) state ppid ...": the name may hold spaces and parentheses.
        const QByteArray line = stat.readAll();
        const qsizetype open = line.indexOf('('), close = line.lastIndexOf(')');
        if (open < 0 || close < open || close + 2 >= line.size())
            continue;
        const QList<QByteArray> rest = line.mid(close + 2).split(' ');
        if (rest.size() < 2)
            continue;
        all[pid] = {
            rest[1].toLongLong(),
            {pid, rest[0].at(0), QString::fromLocal8Bit(line.mid(open + 1, close - open - 1))}};
    }
    std::vector<Process> found;
    for (const auto& [pid, entry] : all) {
        for (qint64 up = entry.first; up > 1; up = all.count(up) ? all[up].first : 0)
            if (up == ::getpid()) {
                found.push_back(entry.second);
                break;
            }
    }
    return found;
}

std::string describe(const std::vector<Process>& processes) {
    std::string text;
    for (const Process& p : processes)
        text += p.name.toStdString() + "[" + std::to_string(p.pid) + "]:" + p.state + " ";
    return text.empty() ? "none" : text;
}

class SoundServerTest : public testing::TestWithParam<Setup> {
protected:
    void SetUp() override {
        ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0); // see descendants()
        // PulseAudio mixes a new stream in by rewinding what its sink had rendered ahead,
        // and its monitor has already passed on the first few milliseconds of that: the
        // clip begins after a tenth of a second of silence, which is all that is lost.
        ASSERT_TRUE(
            test::writeLevelClip(clip(), SF_FORMAT_PCM_16, 48000, 2, ClipFrames, Level, 4800));
        m_server = test::makeSoundServer(GetParam().kind, GetParam().driver);
        ASSERT_TRUE(m_server) << "no such server";
        startServer();
    }

    void startServer() {
        QString why;
        ASSERT_TRUE(m_server->start(&why))
            << m_server->name().toStdString() << " cannot start: " << why.toStdString();
    }

    QString clip() const { return m_dir.filePath(QStringLiteral("level.wav")); }

    /// Waits until the capture holds the whole clip and a tenth of a second of silence
    /// after it; then checks that it was one run, at its level and of its length.
    void expectClipHeard(bool faded = false) {
        long sound = 0, after = 0;
        const auto over = [&] {
            const std::vector<float> left = test::readLeftChannel(m_server->captureFile());
            const auto last =
                std::find_if(left.rbegin(), left.rend(), [](float v) { return v != 0.0f; });
            sound =
                long(std::count_if(left.begin(), left.end(), [](float v) { return v != 0.0f; }));
            after = long(last - left.rbegin());
            return sound >= ClipFrames && after >= 4800;
        };
        test::Wakeups written;
        written.onChange(m_server->captureFile(), test::Wakeups::Written);
        const bool heard = written.until(over, 15000);
        const std::vector<float> left = m_server->stopCapture();
        ASSERT_TRUE(heard) << "the clip was not heard to its end within 15 s: " << sound
                           << " frames of sound, " << after << " of silence after them";
        const test::Heard runs = test::analyse(left, {Level});
        ASSERT_EQ(runs.runs.size(), 1u);
        EXPECT_NEAR(runs.runs[0].frames, ClipFrames, 4);
        float worst = 0;
        const std::size_t start = std::size_t(runs.runs[0].start);
        const std::size_t edge = faded ? 512 : 0; // a fade and the resampler's edge
        for (std::size_t i = start + edge; i + edge < start + std::size_t(runs.runs[0].frames); ++i)
            worst = std::max(worst, std::fabs(left[i] - Level));
        EXPECT_LT(worst, LevelTolerance) << "heard at another level";
    }

    void playClipAndCheck() {
        ASSERT_TRUE(m_server->startCapture()) << "the capture never ran";
        QProcess paplay;
        paplay.setProcessChannelMode(QProcess::MergedChannels);
        paplay.start(QStringLiteral("paplay"), {clip()});
        ASSERT_TRUE(paplay.waitForFinished(30000)) << "paplay still playing after 30 s";
        ASSERT_EQ(paplay.exitCode(), 0) << paplay.readAll().toStdString();
        expectClipHeard();
    }

    test::TempDir m_dir;
    std::unique_ptr<test::SoundServer> m_server;
};

TEST_P(SoundServerTest, AClipIsHeardWholeAtItsLevel) {
    playClipAndCheck();
}

TEST_P(SoundServerTest, AFrozenServerHoldsItsClientsUntilThawed) {
    m_server->freeze();
    // Every program of a server is this test's child, so it hears each one stop.
    std::vector<qint64> pids;
    for (const Process& p : descendants())
        pids.push_back(p.pid);
    test::untilStopped(pids, 5000);
    const std::vector<Process> now = descendants();
    EXPECT_TRUE(!now.empty() && std::all_of(now.begin(), now.end(),
                                            [](const Process& p) { return p.state == 'T'; }))
        << "not all stopped: " << describe(now);
    QProcess info;
    info.start(QStringLiteral("pactl"), {QStringLiteral("info")});
    ASSERT_TRUE(info.waitForStarted(5000));
    EXPECT_FALSE(info.waitForFinished(1000))
        << "a frozen server answered: " << info.readAllStandardOutput().toStdString();
    m_server->thaw();
    // The same request, held while the server was frozen, is answered now.
    ASSERT_TRUE(info.waitForFinished(10000)) << "no answer after the thaw";
    EXPECT_EQ(info.exitCode(), 0) << info.readAllStandardError().toStdString();
}

TEST_P(SoundServerTest, AStoppedServerLeavesNoProcessAndPlaysAgainOnceRestarted) {
    // stop() returns once it has reaped every program of the server.
    m_server->stop();
    EXPECT_TRUE(descendants().empty()) << "left behind: " << describe(descendants());
    ASSERT_NO_FATAL_FAILURE(startServer());
    playClipAndCheck();
}

TEST_P(SoundServerTest, AFrozenServerEndsWithoutLeavingAProcess) {
    m_server->freeze();
    m_server->stop();
    EXPECT_TRUE(descendants().empty()) << "left behind: " << describe(descendants());
}

INSTANTIATE_TEST_SUITE_P(
    Servers, SoundServerTest,
    testing::Values(Setup{test::ServerKind::PulseAudio, test::SdlDriver::PulseAudio},
                    Setup{test::ServerKind::PipeWire, test::SdlDriver::PulseAudio}),
    setupName);

// The engine reaches each server through the output asked for: the server's own protocol
// where SDL_AUDIODRIVER asks for pulseaudio (pipewire-pulse on PipeWire), SDL's native
// backend, which finds PipeWire through XDG_RUNTIME_DIR, where it asks for pipewire.
class EngineOnSoundServerTest : public SoundServerTest {};

TEST_P(EngineOnSoundServerTest, AClipIsHeardWholeThroughTheOutputAskedFor) {
    m_dir.mkdir(QStringLiteral("sound"));
    ASSERT_TRUE(test::writeLevelClip(m_dir.filePath(QStringLiteral("sound/clip.wav")),
                                     SF_FORMAT_PCM_16, 48000, 2, ClipFrames, Level));
    auto engine = createSystemPlayer(corePath(m_dir.path()));
    ASSERT_TRUE(m_server->startCapture()) << "the capture never ran";
    test::PlayerEvents events(*engine);
    engine->speak(1, {u"sound/clip.wav"});
    events.untilAllHeard();
    // Only the program's own stream on the server's protocol carries its id.
    EXPECT_EQ(test::playbackStreams().contains("application.id = \"se.brumlis.brumlis\""),
              GetParam().driver != test::SdlDriver::PipeWire)
        << test::playbackStreams().toStdString();
    // The engine fades the clip in and out: its level is judged where it holds.
    expectClipHeard(/*faded=*/true);
}

INSTANTIATE_TEST_SUITE_P(
    Servers, EngineOnSoundServerTest,
    testing::Values(Setup{test::ServerKind::PulseAudio, test::SdlDriver::PulseAudio},
                    Setup{test::ServerKind::PipeWire, test::SdlDriver::PulseAudio},
                    Setup{test::ServerKind::PipeWire, test::SdlDriver::PipeWire}),
    setupName);

} // namespace
} // namespace brumlis
