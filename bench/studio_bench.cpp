// brumlis-studio's figures, measured on its real window, session and recorder: a private
// PulseAudio server with a null sink "mic" as the default input, made-up words played into it
// with paplay, and a copy of the bundled data folder (204 recordings) to record into.
//
//   end of speech to take shown   from the moment the last sound of a word is handed to
//                                 paplay's start time plus its place in the clip, to the
//                                 take's row in the take list; paplay's own start-up and the
//                                 server's latency count against the studio, so the figure is
//                                 high, never low
//   CPU while recording           the process's CPU time (all its threads, from the kernel)
//                                 over 5 s of a take running and the meter painting, with the
//                                 meter's paints per second beside it
//   keep -> file on disk          Enter pressed to the recording renamed into place in sound/,
//                                 as the folder's watch (inotify) sees it
// The window is read as a person sees it, through its widgets and the data folder.
#include "brumlis/linuxaudio/playerfactory.h"
#include "brumlis/linuxaudio/soundinput.h"
#include "brumlis/qtbridge/files.h"
#include "brumlis/soundfiles/wavfile.h"
#include "brumlis/studio/studiowindow.h"
#include "brumlis/voicetools/takedetector.h"
#include "brumlis/voicetools/takestore.h"
#include "goaltable.h"
#include "support/pulseserver.h"
#include "support/speechclip.h"
#include "support/widgetevents.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

namespace {

using namespace brumlis;

constexpr int Rate = SoundInput::CaptureRate;
constexpr int Runs = 5;
constexpr double ShownGoalS = 0.8;
constexpr double CpuGoalPercent = 5.0;
constexpr double MeterPaintsGoal = 20.0;
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

/// Counts the paints of a widget: the level meter repaints for each reading that moves it.
class PaintCount final : public QObject {
public:
    explicit PaintCount(QWidget* widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return QObject::eventFilter(watched, event);
    }
};

/// How many files named like `pattern` there are in `folder` and the folders under it.
int filesUnder(const QString& folder, const char* pattern) {
    int n = 0;
    QDirIterator files(folder, {QString::fromLatin1(pattern)}, QDir::Files,
                       QDirIterator::Subdirectories);
    for (; files.hasNext(); files.next())
        ++n;
    return n;
}

/// The recordings in `folder`, each with its inode: one renamed into place has a new one.
std::map<QString, ino_t> recordings(const QString& folder) {
    std::map<QString, ino_t> found;
    for (const QString& name : QDir(folder).entryList({QStringLiteral("*.wav")}, QDir::Files)) {
        struct stat info {};
        if (::stat(QFile::encodeName(folder + u'/' + name).constData(), &info) == 0)
            found[name] = info.st_ino;
    }
    return found;
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

    // The take store's folder, there from the start so that its changes can be watched.
    const QString takesFolder = data.filePath(QLatin1String(TakesFolder));
    QDir().mkpath(takesFolder);
    const QString soundFolder = data.filePath(QStringLiteral("sound"));

    // As brumlis-studio runs: the engine it plays everything through opened beside the
    // recorder.
    StudioWindow window(makeSoundInput({}), data.path(), std::make_unique<YesToAll>(),
                        createSystemPlayer(corePath(data.path())));
    PaintCount meter(window.findChild<QWidget*>(QStringLiteral("levelMeter")));
    auto* words = window.findChild<QTreeWidget*>(QStringLiteral("wordList"));
    auto* status = window.findChild<QLabel*>(QStringLiteral("statusLine"));
    auto* record = window.findChild<QPushButton*>(QStringLiteral("recordButton"));
    auto* takeList = window.findChild<QListWidget*>(QStringLiteral("takeList"));
    window.show();
    // Its keys are the window's shortcuts, which answer only in the active window.
    window.activateWindow();
    if (!test::untilActive(&window)) {
        std::fprintf(stderr, "bench-studio: the window never became active\n");
        return 1;
    }
    // The folder is read once its words are listed and the status line no longer says it
    // reads; the input is there once a take can be recorded.
    if (!test::untilSeen({words, status, record}, [&] {
            return words->topLevelItemCount() > 0 && !status->text().startsWith(u"Läser ") &&
                   record->isEnabled();
        })) {
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
    // A take is stored once its cut is on disk beside it, the last file the store writes.
    const auto untilStored = [&](int before) {
        return test::untilInFolder(takesFolder,
                                   [&] { return filesUnder(takesFolder, "*.json") > before; });
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
    // The first second is the take's start, not what it costs to run.
    test::runEventLoopFor(1000);
    meter.paints = 0;
    const double cpuBefore = cpuSeconds();
    const qint64 wallBefore = clock.nsecsElapsed();
    test::runEventLoopFor(5000);
    const double wall = double(clock.nsecsElapsed() - wallBefore) / 1e9;
    const double cpuPercent = (cpuSeconds() - cpuBefore) / wall * 100.0;
    const double perSecond = double(meter.paints) / wall;
    const bool recording = record->text().startsWith(u"Stoppa");
    const int storedBefore = filesUnder(takesFolder, "*.json");
    QTest::keyClick(&window, Qt::Key_Space);
    untilStored(storedBefore);
    player.waitForFinished(10000);

    // Voice-started takes, each then kept.
    window.findChild<QCheckBox*>(QStringLiteral("voiceStartBox"))->setChecked(true);
    std::vector<double> shownS, keepMs;
    test::WordShape word;
    word.noiseDbfs = -65.0;
    const test::SpokenWord spoken = test::makeWord(word, Rate);
    for (int i = 0; i < Runs; ++i) {
        const int rows = takeList->count();
        const int stored = filesUnder(takesFolder, "*.json");
        qint64 shownAt = 0;
        // Shown once its row is put in the take list, as the list's model tells its view.
        QSignalSpy inserted(takeList->model(), &QAbstractItemModel::rowsInserted);
        const QMetaObject::Connection noted =
            QObject::connect(takeList->model(), &QAbstractItemModel::rowsInserted, [&] {
                if (shownAt == 0)
                    shownAt = clock.nsecsElapsed();
            });
        const qint64 start = clock.nsecsElapsed();
        say(spoken.samples);
        const bool shown = inserted.wait(10000) && takeList->count() > rows;
        QObject::disconnect(noted);
        if (!shown || !untilStored(stored)) {
            std::fprintf(stderr, "bench-studio: take %d never came\n", i + 1);
            return 1;
        }
        const double speechEnd = double(start) / 1e9 + double(spoken.soundEnd) / Rate;
        shownS.push_back(double(shownAt) / 1e9 - speechEnd);
        player.waitForFinished(10000);
        const std::map<QString, ino_t> before = recordings(soundFolder);
        qint64 savedAt = 0;
        const qint64 keep = clock.nsecsElapsed();
        QTest::keyClick(&window, Qt::Key_Return);
        // Saved once a recording has been renamed into place: a new file under its name.
        const bool saved = test::untilInFolder(soundFolder, [&] {
            const qint64 now = clock.nsecsElapsed(); // before the look, which takes its time
            if (recordings(soundFolder) == before)
                return false;
            savedAt = now;
            return true;
        });
        if (!saved) {
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
    table.goal("meter repaints per second while recording", perSecond, {"/s", 3},
               Goal::atLeast(MeterPaintsGoal));
    table.goal("keep -> file on disk, median of 5", middle(keepMs), Ms, Goal::atMost(KeepGoalMs));
    table.goal("keep -> file on disk, worst of 5", *std::max_element(keepMs.begin(), keepMs.end()),
               Ms, Goal::atMost(KeepGoalMs));
    return table.print() ? 0 : 1;
}
