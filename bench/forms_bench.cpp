// The windows' figures, each next to its goal:
//   start-up   the real brumlis binary on a private X server, from process start to the
//              first drawing in its main window, as the X server sees it (XDamage), median
//              of runs; when the window was mapped is noted beside it;
//   memory     peak resident memory of a process that builds the main window as brumlis
//              does (the system player included) and speaks one sentence from the bundled data;
//   click      from a click on Generera to the first word painted in the label; median of
//              clicks;
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
#include "brumlis/playback/playerfactory.h"
#include "brumlis/playback/soundplayer.h"
#include "goaltable.h"
#include "support/pulseserver.h"
#include "support/windowprocess.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <vector>

namespace {

using namespace brumlis;
using brumlis::bench::Goal;
using brumlis::bench::GoalTable;
using brumlis::bench::Unit;

/// Runs the window's event loop until its sentence has been spoken: a real loop, as the
/// program runs it (QTest::qWaitFor would sleep between its turns).
bool untilSpoken(Brumform& window, int timeoutMs) {
    if (!window.isSpeaking())
        return true;
    QEventLoop loop;
    QObject::connect(&window.speech(), &SpeechController::sentenceEnded, &loop, &QEventLoop::quit);
    QTimer::singleShot(timeoutMs, &loop, [&loop] { loop.exit(1); });
    return loop.exec() == 0;
}
using Clock = std::chrono::steady_clock;

constexpr double StartupGoalMs = 150;
constexpr double MemoryGoalMb = 60;
constexpr double ClickGoalMs = 5;
constexpr double RepaintGoalMs = 500;
constexpr double StallGoalMs = 16;

/// CPU time of the calling thread: what it spent itself, whatever else the machine runs.
double threadCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

/// Peak resident set size of this process in MB, from /proc.
double peakMemoryMb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

/// Child process: the main window as brumlis builds it, one sentence, then the peak memory.
int speakOneSentence() {
    QDir::setCurrent(QStringLiteral(BRUMLIS_DATA_DIR));
    Brumform window(createSystemPlayer(QDir::currentPath()));
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    QTest::mouseClick(window.findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
    if (!untilSpoken(window, 30000))
        return 1;
    std::printf("%.2f\n", peakMemoryMb());
    return window.sentence().TemplateNo > 0 ? 0 : 1;
}

/// Milliseconds from starting brumlis to its window being mapped and to the first drawing
/// in it, one of each a run; empty when it never showed.
struct StartupTimes {
    std::vector<double> mapped, painted;
};
StartupTimes startupTimes(int runs) {
    test::XDisplay display;
    QString why;
    if (!display.start(&why)) {
        std::fprintf(stderr, "bench-forms: no X server: %s\n", qPrintable(why));
        return {};
    }
    StartupTimes times;
    for (int i = 0; i < runs; ++i) {
        test::WindowProcess brumlis(display, QStringLiteral(BRUMLIS_BIN),
                                    QStringLiteral(BRUMLIS_DATA_DIR));
        if (!brumlis.painted()) {
            std::fprintf(stderr, "bench-forms: the window never showed: %s\n",
                         qPrintable(brumlis.log()));
            return {};
        }
        times.mapped.push_back(*brumlis.mappedMs());
        times.painted.push_back(*brumlis.paintedMs());
    }
    return times;
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
    if (!QTest::qWaitForWindowExposed(&window))
        return {};
    std::optional<Clock::time_point> firstWord;
    double firstWordCpuMs = 0;
    QObject::connect(&window.speech(), &SpeechController::wordShown, &window, [&] {
        if (!firstWord) {
            firstWord = Clock::now();
            firstWordCpuMs = threadCpuMs();
        }
    });
    auto* generate = window.findChild<QPushButton*>(QStringLiteral("Command1"));
    std::vector<double> times;
    for (int i = 0; i < clicks; ++i) {
        firstWord.reset();
        const double clickedCpuMs = threadCpuMs();
        const Clock::time_point clickedAt = Clock::now();
        QTest::mouseClick(generate, Qt::LeftButton);
        if (!untilSpoken(window, 10000) || !firstWord)
            return {};
        times.push_back(
            measure == Measure::Cpu
                ? firstWordCpuMs - clickedCpuMs
                : std::chrono::duration<double, std::milli>(*firstWord - clickedAt).count());
        if (qEnvironmentVariableIsSet("BRUMLIS_BENCH_VERBOSE"))
            std::fprintf(stderr, "click %d: template %d, %.1f ms\n", i,
                         window.sentence().TemplateNo, times.back());
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
    Brumform window(createSystemPlayer(QStringLiteral(BRUMLIS_DATA_DIR)),
                    QStringLiteral(BRUMLIS_DATA_DIR));
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
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
        speaking = window.isSpeaking();
    });
    ticker.start(1);
    for (int i = 0; i < sentences; ++i) {
        QTest::mouseClick(generate, Qt::LeftButton);
        if (!untilSpoken(window, 30000))
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
    const StartupTimes startup = startupTimes(StartupRuns);
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
    constexpr Unit Ms{"ms", 2};
    GoalTable table;
    table.goal(
        "start-up to main window shown", medianOf(startup.painted), Ms, Goal::atMost(StartupGoalMs),
        (QStringLiteral("first drawing, ") + range(startup.painted) +
         (startup.mapped.empty()
              ? QString()
              : QStringLiteral("; mapped at %1 (median)").arg(median(startup.mapped), 0, 'f', 2)))
            .toStdString());
    table.goal("peak memory after one sentence", measured(memory), {"MB", 2},
               Goal::atMost(MemoryGoalMb), "VmHWM of a process with the system player");
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
