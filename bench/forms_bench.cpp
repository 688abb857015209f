// The windows' figures, each next to its goal:
//   start-up   the real brumlis binary on a private X server, from process start to the
//              first drawing in its main window, as the X server sees it (XDamage), median
//              of runs; when the window was mapped is noted beside it. Each run of brumlis is
//              followed by one of bench-bare-window, a window of the same shape from Qt
//              Widgets alone, on the same server: brumlis's medians over the bare window's,
//              to mapped and to the first drawing, say what the program adds to what any
//              Qt 6 window costs, whatever the machine's speed;
//   memory     peak resident memory of a process that builds the main window as brumlis
//              does (the system player included) and speaks one sentence from the bundled
//              data; and, like for like, the peak of the real brumlis and of the bare window
//              in those start-up runs, each read from /proc a moment after its first
//              drawing, with the shared libraries it maps then;
//   click      from a click on Generera to the label's paint of the first word (its Paint
//              event, as an event filter on the label sees it); median of clicks;
//   stall      the longest the window's event loop stood still while sentences were spoken
//              through the system player on a private PulseAudio: a 1 ms timer in the
//              window's thread, and the longest gap between two of its ticks;
//   hostile   a click on Generera with text/namn.txt replaced by a list at the 16 MiB limit
//              (short lines, one line, Windows-1252, UTF-16) or of a million items, and with
//              every list at the limit (up to six picks from them in one sentence): the CPU
//              time of the GUI thread from the click to the first word painted, which is
//              how long the window cannot repaint; the worst of several clicks.
// Start-up runs on a private Xvfb of its own; the rest on Qt's offscreen platform.
#include "brumlis/forms/brumform.h"
#include "brumlis/linuxaudio/playerfactory.h"
#include "brumlis/playback/soundplayer.h"
#include "goaltable.h"
#include "support/eventwait.h"
#include "support/pulseserver.h"
#include "support/widgetevents.h"
#include "support/windowprocess.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace {

using namespace brumlis;
using brumlis::bench::Goal;
using brumlis::bench::GoalTable;
using brumlis::bench::Unit;

using Clock = std::chrono::steady_clock;

constexpr double StartupGoalMs = 150;
constexpr double StartupRatioGoal = 1.25; // brumlis over the bare window, to mapped
constexpr double MemoryGoalMb = 60;
constexpr double MemoryRatioGoal = 1.15; // brumlis over the bare window, shown and drawn
constexpr double ClickGoalMs = 5;
constexpr double RepaintGoalMs = 500;
constexpr double StallGoalMs = 16;

/// CPU time of the calling thread: what it spent itself, whatever else the machine runs.
double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

/// Runs the window's event loop until its sentence has been spoken, which Generera shows by
/// taking presses again: a real loop, as the program runs it (QTest::qWaitFor would sleep
/// between its turns).
bool untilSpoken(QPushButton* generate, int timeoutMs) {
    return test::untilSeen(
        {generate}, [generate] { return generate->isEnabled(); }, timeoutMs);
}

/// When the label, after a click on Generera, is painted with the first word of the new
/// sentence: the sentence starts from an empty label.
class FirstWordWatch final : public QObject {
public:
    explicit FirstWordWatch(QLabel* label)
        : m_label(label) {
        label->installEventFilter(this);
    }
    void arm() {
        m_cleared = false;
        at.reset();
    }
    std::optional<Clock::time_point> at;
    double cpuMs = 0;
    QString word;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == m_label && event->type() == QEvent::Paint && !at) {
            if (m_label->text().isEmpty()) {
                m_cleared = true;
            } else if (m_cleared) {
                at = Clock::now();
                cpuMs = threadCpuMs();
                word = m_label->text().left(40);
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QLabel* m_label;
    bool m_cleared = false;
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

/// Peak resident set size in MB of the process `pid` ("self" for this one), from /proc;
/// negative when it cannot be read.
double peakMemoryMb(const QString& pid = QStringLiteral("self")) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

/// The shared objects the process `pid` maps now (the dynamic loader, libraries and Qt's
/// plugins), each counted once however many mappings it has; negative when /proc cannot
/// be read.
int sharedObjectsMapped(qint64 pid) {
    QFile maps(QStringLiteral("/proc/%1/maps").arg(pid));
    if (!maps.open(QIODevice::ReadOnly))
        return -1;
    static const QRegularExpression sharedObject(QStringLiteral("\\.so(\\.[0-9]+)*$"));
    QSet<QString> files;
    for (const QByteArray& line : maps.readAll().split('\n')) {
        // address perms offset device inode path
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() < 6)
            continue;
        const QString path = QString::fromLocal8Bit(fields.mid(5).join(' '));
        if (path.startsWith(u'/') && sharedObject.match(path).hasMatch())
            files.insert(path);
    }
    return int(files.size());
}

/// Child process: the main window as brumlis builds it, one sentence, then the peak memory.
int speakOneSentence() {
    QDir::setCurrent(QStringLiteral(BRUMLIS_DATA_DIR));
    Brumform window(createSystemPlayer(std::filesystem::current_path()));
    window.show();
    if (!test::untilExposed(&window))
        return 1;
    auto* generate = window.findChild<QPushButton*>(QStringLiteral("Command1"));
    auto* label = window.findChild<QLabel*>(QStringLiteral("smisk"));
    const QString prompt = label->text();
    QTest::mouseClick(generate, Qt::LeftButton);
    if (!untilSpoken(generate, 30000))
        return 1;
    std::printf("%.2f\n", peakMemoryMb());
    // A sentence was spoken: the label shows it instead of the prompt.
    return label->text() != prompt && !label->text().trimmed().isEmpty() ? 0 : 1;
}

/// Of each run of one program: milliseconds from its start to its window being mapped and
/// to the first drawing in it, and its peak memory (MB) and the shared objects it mapped a
/// moment later; all empty when it once never showed.
struct Launches {
    std::vector<double> mapped, painted, peakMb, sharedObjects;
};
struct Startup {
    Launches brumlis, bare;
};

/// How long a window's event loop runs past its first drawing before its memory is read:
/// the audio engine opens its device meanwhile, and the first paint's work is done.
constexpr int SettleMs = 500;

/// Starts brumlis and the bare window by turns, `runs` times each, on one private X server
/// in the bundled data folder, and times each as it comes up. By turns, so that whatever
/// else the machine does at the time falls on both alike.
Startup startupSideBySide(int runs) {
    test::XDisplay display;
    QString why;
    if (!display.start(&why)) {
        std::fprintf(stderr, "bench-forms: no X server: %s\n", qPrintable(why));
        return {};
    }
    // On a desktop as people have them, with a sound server: the window connects to it as it
    // starts, as it does there, and has no fallback to load.
    test::PulseServer server;
    if (!server.start(&why)) {
        std::fprintf(stderr, "bench-forms: no private PulseAudio: %s\n", qPrintable(why));
        return {};
    }
    Startup startup;
    const std::pair<const char*, Launches*> programs[] = {{BRUMLIS_BIN, &startup.brumlis},
                                                          {BRUMLIS_BARE_WINDOW, &startup.bare}};
    for (int i = 0; i < runs; ++i) {
        for (const auto& [program, launches] : programs) {
            test::WindowProcess window(display, QString::fromLocal8Bit(program),
                                       QStringLiteral(BRUMLIS_DATA_DIR));
            if (!window.painted()) {
                std::fprintf(stderr, "bench-forms: %s never showed its window: %s\n", program,
                             qPrintable(window.log()));
                return {};
            }
            launches->mapped.push_back(*window.mappedMs());
            launches->painted.push_back(*window.paintedMs());
            // A span its loop runs for: nothing to wait for, it only has to go on running.
            test::runEventLoopFor(SettleMs);
            const double peak = peakMemoryMb(QString::number(window.pid()));
            const int objects = sharedObjectsMapped(window.pid());
            if (peak < 0 || objects < 0) {
                std::fprintf(stderr, "bench-forms: cannot read /proc of %s\n", program);
                return {};
            }
            launches->peakMb.push_back(peak);
            launches->sharedObjects.push_back(objects);
        }
    }
    return startup;
}

double sentencePeakMemory(const char* self) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    if (!env.contains(QStringLiteral("SDL_AUDIODRIVER")))
        env.insert(QStringLiteral("SDL_AUDIODRIVER"), QStringLiteral("dummy"));
    QProcess child;
    child.setProcessEnvironment(env);
    child.start(QString::fromLocal8Bit(self), {QStringLiteral("--speak-one-sentence")});
    if (!child.waitForFinished(120000) || child.exitCode() != 0)
        return -1;
    bool ok = false;
    const double mb = child.readAllStandardOutput().trimmed().toDouble(&ok);
    return ok ? mb : -1;
}

/// A copy of the bundled lists with namn.txt (or every list) replaced by `hostile`.
class HostileData {
public:
    HostileData(const QByteArray& hostile, bool everyList) {
        const QDir bundled(QStringLiteral(BRUMLIS_DATA_DIR "/text"));
        QDir(m_dir.path()).mkpath(QStringLiteral("text"));
        for (const QString& name : bundled.entryList(QDir::Files)) {
            const QString path = m_dir.filePath("text/" + name);
            if (!everyList && name != QStringLiteral("namn.txt")) {
                QFile::copy(bundled.filePath(name), path);
                continue;
            }
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(hostile) != hostile.size())
                qFatal("cannot write the hostile list");
        }
    }
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

QByteArray repeatedTo(const QByteArray& unit, qsizetype limit, const QByteArray& head = {}) {
    QByteArray bytes = head;
    bytes.reserve(limit);
    while (bytes.size() + unit.size() <= limit)
        bytes += unit;
    return bytes;
}

/// What a click is timed by: the wall clock, or the CPU time of the window's thread.
enum class Measure { Wall, Cpu };

/// Milliseconds from each click on Generera to the first word on screen, in the window
/// on `dataDir`.
std::vector<double> clicksToFirstWord(const QString& dataDir, int clicks, Measure measure) {
    Brumform window(std::make_unique<SilentPlayer>(), dataDir);
    window.show();
    if (!test::untilExposed(&window))
        return {};
    FirstWordWatch firstWord(window.findChild<QLabel*>(QStringLiteral("smisk")));
    auto* generate = window.findChild<QPushButton*>(QStringLiteral("Command1"));
    std::vector<double> times;
    for (int i = 0; i < clicks; ++i) {
        firstWord.arm();
        const double clickedCpuMs = threadCpuMs();
        const Clock::time_point clickedAt = Clock::now();
        QTest::mouseClick(generate, Qt::LeftButton);
        if (!untilSpoken(generate, 10000) || !firstWord.at)
            return {};
        times.push_back(
            measure == Measure::Cpu
                ? firstWord.cpuMs - clickedCpuMs
                : std::chrono::duration<double, std::milli>(*firstWord.at - clickedAt).count());
        if (qEnvironmentVariableIsSet("BRUMLIS_BENCH_VERBOSE"))
            std::fprintf(stderr, "click %d: \"%s\", %.1f ms\n", i, qPrintable(firstWord.word),
                         times.back());
    }
    return times;
}

/// The longest gap, in ms, between two ticks of a 1 ms timer in the window's thread while
/// the window speaks `sentences` sentences of the bundled voice through the system player
/// on a private PulseAudio; negative when that could not be measured.
double longestEventLoopStall(int sentences) {
    test::PulseServer server;
    QString why;
    if (!server.start(&why)) {
        std::fprintf(stderr, "bench-forms: no private PulseAudio: %s\n", qPrintable(why));
        return -1;
    }
    Brumform window(createSystemPlayer(BRUMLIS_DATA_DIR), QStringLiteral(BRUMLIS_DATA_DIR));
    window.show();
    if (!test::untilExposed(&window))
        return -1;
    auto* generate = window.findChild<QPushButton*>(QStringLiteral("Command1"));
    double longest = 0;
    Clock::time_point lastTick;
    bool speaking = false;
    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    QObject::connect(&ticker, &QTimer::timeout, &window, [&] {
        const Clock::time_point now = Clock::now();
        if (speaking)
            longest = std::max(longest,
                               std::chrono::duration<double, std::milli>(now - lastTick).count());
        lastTick = now;
        // Generera takes no press while its sentence is composed and spoken.
        speaking = !generate->isEnabled();
    });
    ticker.start(1);
    for (int i = 0; i < sentences; ++i) {
        QTest::mouseClick(generate, Qt::LeftButton);
        if (!untilSpoken(generate, 30000))
            return -1;
    }
    return longest;
}

} // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc > 1 && QByteArray(argv[1]) == "--speak-one-sentence")
        return speakOneSentence();

    constexpr int StartupRuns = 11;
    constexpr int Clicks = 200;
    const Startup startup = startupSideBySide(StartupRuns);
    const double memory = sentencePeakMemory(argv[0]);
    const std::vector<double> click =
        clicksToFirstWord(QStringLiteral(BRUMLIS_DATA_DIR), Clicks, Measure::Wall);
    constexpr int StallSentences = 5;
    const double stall = longestEventLoopStall(StallSentences);

    auto range = [](const std::vector<double>& v) {
        if (v.empty())
            return QStringLiteral("(failed)");
        const auto [lo, hi] = std::minmax_element(v.begin(), v.end());
        return QStringLiteral("median of %1, min %2, max %3")
            .arg(v.size())
            .arg(*lo, 0, 'f', 2)
            .arg(*hi, 0, 'f', 2);
    };
    constexpr qsizetype Limit = 16 * 1024 * 1024;
    constexpr int HostileClicks = 8;
    struct Hostile {
        const char* figure;
        QByteArray list;
        bool everyList = false;
    };
    QByteArray million;
    for (int i = 0; i < 1'000'000; ++i)
        million += "namn" + QByteArray::number(i) + "\r\n";
    const Hostile hostile[] = {
        {"Generera, namn 16 MiB of short lines", repeatedTo("ab\n", Limit)},
        {"Generera, namn 16 MiB in one line", QByteArray(Limit, 'x')},
        {"Generera, namn 16 MiB Windows-1252", repeatedTo("G\xf6ran\r\n", Limit)},
        {"Generera, namn 16 MiB UTF-16",
         repeatedTo(QByteArray("G\0\xf6\0r\0a\0n\0\n\0", 12), Limit, "\xff\xfe")},
        {"Generera, namn a million items", million},
        {"Generera, all 11 lists 16 MiB of short lines", repeatedTo("ab\n", Limit), true},
    };

    // A figure that could not be measured is negative.
    auto measured = [](double ms) { return ms >= 0 ? std::optional(ms) : std::nullopt; };
    auto medianOf = [](const std::vector<double>& v) {
        return v.empty() ? std::nullopt : std::optional(median(v));
    };
    // brumlis's median over the bare window's.
    auto ratio = [&medianOf](const std::vector<double>& brumlis, const std::vector<double>& bare) {
        const std::optional<double> of = medianOf(brumlis), to = medianOf(bare);
        return of && to && *to > 0 ? std::optional(*of / *to) : std::nullopt;
    };
    auto mappedAt = [](const Launches& l) {
        return l.mapped.empty()
                   ? QString()
                   : QStringLiteral("; mapped at %1 (median)").arg(median(l.mapped), 0, 'f', 2);
    };
    auto sharedObjects = [](const Launches& l) {
        return l.sharedObjects.empty()
                   ? QString()
                   : QStringLiteral("; %1 shared objects mapped").arg(median(l.sharedObjects));
    };
    constexpr Unit Ms{"ms", 2};
    constexpr Unit Mb{"MB", 2};
    constexpr Unit Times{"×", 2};
    GoalTable table;
    table.goal("start-up to main window shown", medianOf(startup.brumlis.painted), Ms,
               Goal::atMost(StartupGoalMs),
               (QStringLiteral("first drawing, ") + range(startup.brumlis.painted) +
                mappedAt(startup.brumlis))
                   .toStdString());
    table.report(
        "start-up of the bare Qt 6 window, by turns", medianOf(startup.bare.painted), Ms,
        (QStringLiteral("first drawing, ") + range(startup.bare.painted) + mappedAt(startup.bare))
            .toStdString());
    table.goal("start-up to mapped, brumlis / bare window",
               ratio(startup.brumlis.mapped, startup.bare.mapped), Times,
               Goal::atMost(StartupRatioGoal), "medians, on the same X server by turns");
    table.report("start-up to first drawing, brumlis / bare window",
                 ratio(startup.brumlis.painted, startup.bare.painted), Times, "medians");
    table.goal("peak memory after one sentence", measured(memory), Mb, Goal::atMost(MemoryGoalMb),
               "VmHWM of a process with the system player");
    const QString afterDrawing = QStringLiteral("VmHWM %1 ms after the first drawing, median of %2")
                                     .arg(SettleMs)
                                     .arg(startup.brumlis.peakMb.size());
    table.report("peak memory, brumlis shown", medianOf(startup.brumlis.peakMb), Mb,
                 (afterDrawing + sharedObjects(startup.brumlis)).toStdString());
    table.report("peak memory, bare Qt 6 window shown", medianOf(startup.bare.peakMb), Mb,
                 (afterDrawing + sharedObjects(startup.bare)).toStdString());
    table.goal("peak memory shown, brumlis / bare window",
               ratio(startup.brumlis.peakMb, startup.bare.peakMb), Times,
               Goal::atMost(MemoryRatioGoal), "medians, neither has spoken");
    table.goal("click to first word on screen", medianOf(click), Ms, Goal::atMost(ClickGoalMs),
               range(click).toStdString());
    table.goal(
        "longest event-loop stall while speaking", measured(stall), Ms, Goal::atMost(StallGoalMs),
        QStringLiteral("1 ms timer, %1 sentences on PulseAudio").arg(StallSentences).toStdString());
    for (const Hostile& h : hostile) {
        const HostileData data(h.list, h.everyList);
        const std::vector<double> times =
            clicksToFirstWord(data.path(), HostileClicks, Measure::Cpu);
        table.goal(h.figure,
                   times.empty() ? std::nullopt
                                 : std::optional(*std::max_element(times.begin(), times.end())),
                   Ms, Goal::atMost(RepaintGoalMs),
                   QStringLiteral("CPU time, worst of %1 clicks").arg(HostileClicks).toStdString());
    }
    return table.print() ? 0 : 1;
}
