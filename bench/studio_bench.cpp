// brumlis-studio's figures, measured on its real window, session and recorder: a private
// PulseAudio server with a null sink "mic" as the default input, made-up words played into it
// with paplay, and a copy of the bundled data folder (204 recordings) to record into.
//
//   end of speech to take shown   from the moment the last sound of a word is handed to
//                                 paplay's start time plus its place in the clip, to the
//                                 session's takeShown; paplay's own start-up and the server's
//                                 latency count against the studio, so the figure is high,
//                                 never low
//   CPU while recording           the process's CPU time (all its threads, from the kernel)
//                                 over 5 s of a take running and the meter painting
//   keep -> file on disk          Enter pressed to the session's saved signal, which comes
//                                 after the file was flushed and renamed into place
#include "brumlis/audio/wavfile.h"
#include "brumlis/playback/playerfactory.h"
#include "brumlis/playback/soundinput.h"
#include "brumlis/studio/studiowindow.h"
#include "brumlis/voicetools/takedetector.h"
#include "goaltable.h"
#include "support/pulseserver.h"
#include "support/speechclip.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <optional>
#include <sys/resource.h>
#include <vector>

namespace {

using namespace brumlis;

constexpr int Rate = SoundInput::CaptureRate;
constexpr int Runs = 5;
constexpr double ShownGoalS = 0.8;
constexpr double CpuGoalPercent = 5.0;
constexpr double ReadingsGoal = 20.0;
constexpr double KeepGoalMs = 50.0;
// The silence after a word that ends a take, as the window records.
const double TakeEndSilenceS = TakeSettings{}.endSilenceSeconds;

class YesToAll final : public StudioQuestions {
public:
    Answer ask(const QString&, bool) override { return Answer::YesToAll; }
};

double cpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool run(const QString& program, const QStringList& args) {
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool copyFolder(const QString& from, const QString& to) {
    QDir().mkpath(to);
    for (const QString& name : QDir(from).entryList(QDir::Files))
        if (!QFile::copy(from + u'/' + name, to + u'/' + name))
            return false;
    return true;
}

double middle(const std::vector<double>& v) {
    return brumlis::median(v).value_or(0.0);
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    test::PulseServer server; // points this process's PULSE_SERVER at itself
    QApplication app(argc, argv);

    QString why;
    if (!server.start(&why)) {
        std::fprintf(stderr, "bench-studio: no sound server: %s\n", qPrintable(why));
        return 1;
    }
    if (!run(QStringLiteral("pactl"),
             {QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
              QStringLiteral("sink_name=mic"), QStringLiteral("rate=48000"),
              QStringLiteral("channels=1"), QStringLiteral("format=float32le")}) ||
        !run(QStringLiteral("pactl"),
             {QStringLiteral("set-default-source"), QStringLiteral("mic.monitor")})) {
        std::fprintf(stderr, "bench-studio: cannot make the mic sink\n");
        return 1;
    }
    QTemporaryDir data;
    if (!copyFolder(QStringLiteral(BRUMLIS_DATA_DIR "/text"),
                    data.filePath(QStringLiteral("text"))) ||
        !copyFolder(QStringLiteral(BRUMLIS_DATA_DIR "/sound"),
                    data.filePath(QStringLiteral("sound")))) {
        std::fprintf(stderr, "bench-studio: cannot copy the bundled data folder\n");
        return 1;
    }

    // As brumlis-studio runs: the engine it plays everything through opened beside the
    // recorder.
    StudioWindow window(makeSoundInput({}), data.path(), std::make_unique<YesToAll>(),
                        createSystemPlayer(data.path()));
    StudioSession& session = window.session();
    QSignalSpy read(&session, &StudioSession::folderRead);
    QSignalSpy readings(&session.recorder(), &Recorder::level);
    window.show();
    // Its keys are the window's shortcuts, which answer only in the active window.
    window.activateWindow();
    if (!QTest::qWaitForWindowActive(&window)) {
        std::fprintf(stderr, "bench-studio: the window never became active\n");
        return 1;
    }
    if (!(read.count() > 0 || read.wait(10000)) || !readings.wait(10000)) {
        std::fprintf(stderr, "bench-studio: the window never read the folder or the input\n");
        return 1;
    }
    window.findChild<QCheckBox*>(QStringLiteral("playAfterTakeBox"))->setChecked(false);

    QProcess player;
    int said = 0;
    const auto say = [&](const std::vector<float>& samples) {
        const QString file = data.filePath(QStringLiteral("said-%1.wav").arg(++said));
        writeFileAtomically(file, encodeFloatWav(samples, Rate, nullptr));
        if (player.state() != QProcess::NotRunning)
            player.waitForFinished(10000);
        player.start(QStringLiteral("paplay"),
                     {QStringLiteral("--device=mic"), QStringLiteral("--latency-msec=20"), file});
        player.waitForStarted(5000);
    };
    QElapsedTimer clock;
    clock.start();

    // CPU while a take runs: a key take through 6 s of words with short pauses.
    test::WordShape talk;
    talk.bursts = 16;
    talk.pauseSeconds = 0.2;
    talk.burstSeconds = 0.2;
    talk.noiseDbfs = -60.0;
    talk.trailSeconds = 0.0;
    QTest::keyClick(&window, Qt::Key_Space);
    say(test::makeWord(talk, Rate).samples);
    QTest::qWait(1000);
    readings.clear();
    const double cpuBefore = cpuSeconds();
    const qint64 wallBefore = clock.nsecsElapsed();
    QTest::qWait(5000);
    const double wall = double(clock.nsecsElapsed() - wallBefore) / 1e9;
    const double cpuPercent = (cpuSeconds() - cpuBefore) / wall * 100.0;
    const double perSecond = double(readings.count()) / wall;
    const bool recording = session.isRecording();
    QSignalSpy stored(&session, &StudioSession::takeStored);
    QTest::keyClick(&window, Qt::Key_Space);
    stored.wait(10000);
    player.waitForFinished(10000);

    // Voice-started takes, each then kept.
    window.findChild<QCheckBox*>(QStringLiteral("voiceStartBox"))->setChecked(true);
    std::vector<double> shownS, keepMs;
    qint64 shownAt = 0, savedAt = 0;
    QObject::connect(&session, &StudioSession::takeShown, [&] { shownAt = clock.nsecsElapsed(); });
    QObject::connect(&session, &StudioSession::saved, [&] { savedAt = clock.nsecsElapsed(); });
    test::WordShape word;
    word.noiseDbfs = -65.0;
    const test::SpokenWord spoken = test::makeWord(word, Rate);
    for (int i = 0; i < Runs; ++i) {
        QSignalSpy shown(&session, &StudioSession::takeShown);
        QSignalSpy kept(&session, &StudioSession::saved);
        stored.clear();
        const qint64 start = clock.nsecsElapsed();
        say(spoken.samples);
        if (!shown.wait(10000) || !(stored.count() > 0 || stored.wait(10000))) {
            std::fprintf(stderr, "bench-studio: take %d never came\n", i + 1);
            return 1;
        }
        const double speechEnd = double(start) / 1e9 + double(spoken.soundEnd) / Rate;
        shownS.push_back(double(shownAt) / 1e9 - speechEnd);
        player.waitForFinished(10000);
        const qint64 keep = clock.nsecsElapsed();
        QTest::keyClick(&window, Qt::Key_Return);
        if (!kept.wait(10000) || !kept.front()[1].toBool()) {
            std::fprintf(stderr, "bench-studio: keep %d never saved\n", i + 1);
            return 1;
        }
        keepMs.push_back(double(savedAt - keep) / 1e6);
    }

    using namespace brumlis::bench;
    constexpr Unit Seconds{"s", 3};
    constexpr Unit Ms{"ms", 3};
    GoalTable table;
    table.goal("end of speech to take shown, median of 5", middle(shownS), Seconds,
               Goal::atMost(ShownGoalS));
    table.goal("end of speech to take shown, worst of 5",
               *std::max_element(shownS.begin(), shownS.end()), Seconds, Goal::atMost(ShownGoalS));
    char silence[80];
    std::snprintf(silence, sizeof silence, "of which the silence that ends a take: %.3f s",
                  TakeEndSilenceS);
    table.report("  beyond the silence, median", middle(shownS) - TakeEndSilenceS, Seconds,
                 silence);
    // Measured only while a take runs.
    table.goal("CPU while recording, meter running",
               recording ? std::optional(cpuPercent) : std::nullopt, {"%", 3},
               Goal::atMost(CpuGoalPercent),
               recording ? "" : "the take had ended before the CPU was measured");
    table.goal("meter readings per second while recording", perSecond, {"/s", 3},
               Goal::atLeast(ReadingsGoal));
    table.goal("keep -> file on disk, median of 5", middle(keepMs), Ms, Goal::atMost(KeepGoalMs));
    table.goal("keep -> file on disk, worst of 5", *std::max_element(keepMs.begin(), keepMs.end()),
               Ms, Goal::atMost(KeepGoalMs));
    return table.print() ? 0 : 1;
}
