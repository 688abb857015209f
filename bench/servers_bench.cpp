// Speaking on the sound servers desktops run: a private PulseAudio, and a private PipeWire
// with WirePlumber and pipewire-pulse (Debian 12's desktop), each with a null sink whose
// monitor is recorded through libpulse with the server's own timing, so that every frame
// that leaves the server is put on this process's clock. On each, with the machine idle
// and with both cores busy: how long before its first frame leaves the server each word
// is shown, silence the server had to insert, sentences heard whole, and the time from a
// call to the first frame heard, with the device ready and after ten seconds without
// speaking. With the machine idle the program and paplay take turns at the same sentence
// (one file for paplay), so that silence a server inserts into any player's sound in that
// run is told from the program's: the program may insert no more than paplay did. Then
// the real window: its wake-ups when idle, and how soon it ends when closed with the
// server frozen. Exits non-zero when a goal is missed.
#include "benchkit.h"
#include "brumlis/linuxaudio/playerfactory.h"
#include "brumlis/playback/audioengine.h"
#include "goaltable.h"
#include "support/capture.h"
#include "support/pulsecapture.h"
#include "support/soundservers.h"
#include "support/windowprocess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <optional>
#include <pthread.h>
#include <sched.h>
#include <sndfile.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using namespace brumlis;
using namespace brumlis::bench;

constexpr double LeadGoalMs = 30;
constexpr double ReadyGoalMs = 60;
constexpr double AfterIdleGoalMs = 150;
constexpr double WakeupsGoal = 1; // per second, the whole process
constexpr double FrozenCloseGoalMs = 1000;
// Fewer with BRUMLIS_BENCH_SENTENCES, to look into something.
const int Sentences = qEnvironmentVariableIsSet("BRUMLIS_BENCH_SENTENCES")
                          ? qEnvironmentVariableIntValue("BRUMLIS_BENCH_SENTENCES")
                          : 20;
constexpr int Rate = 48000;
// The sentence as one file, in the data folder, for paplay.
const QString ReferenceFile = QStringLiteral("sentence.wav");

// A span of time a figure is measured over or after (a pause between sentences, idle past
// the device's closing, a window left alone): there is nothing to wait for, so this sleeps.
void sleepMs(int n) {
    std::this_thread::sleep_for(std::chrono::milliseconds(n));
}

// A thread that asks to wake every millisecond, at real-time priority where allowed, and
// notes how late it woke at worst. Silence inside a clip that was queued whole long
// before has to come from outside the program; a late wake-up here at the same time says
// the machine itself stood still. Not while the program and paplay take turns on an idle
// machine: there it would be a third player beside them, taking a core a thousand times a
// second, and they are compared with nothing else of this process running.
class StallWatch {
public:
    StallWatch()
        : m_thread([this] { run(); }) {}
    ~StallWatch() {
        m_stop = true;
        m_thread.join();
    }
    double longestMs() const { return double(m_longestUs.load()) / 1000.0; }

private:
    void run() {
        sched_param param{};
        param.sched_priority = 10;
        ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &param); // best effort
        const auto tick = std::chrono::milliseconds(1);
        while (!m_stop) {
            const Clock::time_point asked = Clock::now() + tick;
            std::this_thread::sleep_until(asked);
            const auto lateUs =
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - asked).count();
            if (lateUs > m_longestUs)
                m_longestUs = lateUs;
        }
    }

    std::atomic<bool> m_stop{false};
    std::atomic<long long> m_longestUs{0};
    std::thread m_thread;
};

// Two busy loops, one per core, for as long as it lives.
class BusyLoops {
public:
    BusyLoops() {
        // Separate programs rather than forks that go on running this one: such a fork
        // would carry copies of the sound server connection and of every lock the threads
        // held at that moment. Each loop dies with this process even when it is killed and
        // never reaches the destructor: a loop left behind would slow every benchmark run
        // after it. (Made on the main thread, which lives as long as the process.)
        const pid_t parent = ::getpid();
        for (pid_t& pid : m_pids) {
            pid = ::fork();
            if (pid != 0)
                continue;
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent)
                ::_exit(1);
            ::execle("/bin/sh", "sh", "-c", "while :; do :; done", static_cast<char*>(nullptr),
                     environ);
            ::_exit(127);
        }
    }
    ~BusyLoops() {
        for (pid_t pid : m_pids) {
            if (pid <= 0)
                continue;
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }

private:
    pid_t m_pids[2] = {};
};

// One sentence as it was spoken: when it was asked for, and when each word was shown.
struct Spoken {
    Clock::time_point called;
    std::vector<Clock::time_point> shown;
    bool reference = false; // played by paplay, not by the program
    bool busy = false;
    bool afterIdle = false;
};

struct Phase {
    int sentences = 0;
    int whole = 0;
    long inserted = 0;
    std::vector<std::string> holes;
    double longestLateMs = 0; // the machine's: see StallWatch
};

struct ServerFigures {
    Phase idle, busy;
    std::vector<double> leads;      // ms, word shown to its first frame leaving the server
    std::vector<double> firstLeads; // the same, of each sentence's first word
    std::vector<double> ready;      // ms, call to the first frame heard, device ready
    double afterIdleMs = -1;
    double largestStep = 0; // between two captured samples, of full scale
    Phase paplay;           // the same sentence played by paplay, by turns with `idle`
};

// The program speaks one sentence, heard whole before it returns, and then a pause.
void speakOne(Speaking& speaking, bool busy, std::vector<Spoken>& spoken) {
    speaking.view.shown.clear();
    Spoken s;
    s.busy = busy;
    s.called = Clock::now();
    speakThrough(speaking, sentence());
    s.shown = speaking.view.shown;
    spoken.push_back(s);
    sleepMs(250);
}

// With the machine idle: the program and paplay by turns, `count` sentences each, the
// program first. Nothing else of this process runs meanwhile but the capture.
void speakBesidePaplay(Speaking& speaking, int count, const QString& referenceFile,
                       std::vector<Spoken>& spoken, ServerFigures& f) {
    for (int n = 0; n < count; ++n) {
        speakOne(speaking, false, spoken);
        Spoken reference;
        reference.reference = true;
        reference.called = Clock::now();
        spoken.push_back(reference);
        QProcess::execute(QStringLiteral("paplay"), {referenceFile});
        sleepMs(250);
    }
    f.idle.sentences += count;
    f.paplay.sentences += count;
}

// With both cores busy, or once after a long idle span: the program alone, with a thread
// beside it that notes whether the machine stood still.
void speakPhase(Speaking& speaking, int count, bool busy, std::vector<Spoken>& spoken,
                Phase& phase) {
    StallWatch watch;
    for (int n = 0; n < count; ++n)
        speakOne(speaking, busy, spoken);
    phase.sentences += count;
    phase.longestLateMs = watch.longestMs();
}

// Puts each spoken sentence against what left the server while it was spoken.
void judge(const test::PulseCapture& capture, const std::vector<Spoken>& spoken, ServerFigures& f) {
    const std::vector<float> left = capture.left();
    for (std::size_t n = 0; n < spoken.size(); ++n) {
        const Spoken& s = spoken[n];
        Phase& phase = s.reference ? f.paplay : s.busy ? f.busy : f.idle;
        // Everything from the call to the next call (or the end) belongs to this sentence.
        const std::size_t from = capture.indexAt(s.called);
        const std::size_t to =
            n + 1 < spoken.size() ? capture.indexAt(spoken[n + 1].called) : left.size();
        const std::vector<float> part(left.begin() + std::ptrdiff_t(from),
                                      left.begin() + std::ptrdiff_t(to));
        const test::Heard heard = test::analyse(part, wordLevels());
        for (std::size_t i = 1; i < part.size(); ++i)
            f.largestStep = std::max(f.largestStep, double(std::fabs(part[i] - part[i - 1])));
        if (!s.afterIdle)
            phase.inserted += heard.zerosInside;
        for (std::size_t before : heard.silenceBefore) {
            char where[160];
            std::snprintf(where, sizeof where, "sentence %zu: silence before word %zu", n + 1,
                          before + 1);
            phase.holes.emplace_back(where);
        }
        bool whole = int(heard.runs.size()) == WordCount &&
                     (s.reference || int(s.shown.size()) == WordCount);
        for (int w = 0; whole && w < WordCount; ++w)
            whole = heard.runs[std::size_t(w)].clip == w &&
                    std::labs(heard.runs[std::size_t(w)].frames - wordFrames(w)) <= 8;
        if (!s.afterIdle)
            phase.whole += whole;
        if (!whole || s.reference) {
            if (!whole && std::getenv("BRUMLIS_BENCH_DUMP"))
                std::fprintf(stderr, "sentence %zu: %s\n", n + 1, test::describe(heard).c_str());
            continue;
        }
        for (int w = 0; w < WordCount; ++w) {
            const Clock::time_point heardAt =
                capture.timeOf(from + std::size_t(heard.runs[std::size_t(w)].start));
            const double lead = ms(heardAt - s.shown[std::size_t(w)]);
            if (!s.afterIdle) {
                f.leads.push_back(lead);
                if (w == 0)
                    f.firstLeads.push_back(lead);
            }
            if (std::getenv("BRUMLIS_BENCH_DUMP"))
                std::fprintf(stderr, "sentence %zu word %d: lead %.1f ms shown %.1f heard %.1f\n",
                             n + 1, w, lead, ms(s.shown[std::size_t(w)].time_since_epoch()),
                             ms(heardAt.time_since_epoch()));
        }
        const double first =
            ms(capture.timeOf(from + std::size_t(heard.runs.front().start)) - s.called);
        if (s.afterIdle)
            f.afterIdleMs = first;
        else if (!s.busy)
            f.ready.push_back(first);
    }
}

ServerFigures measureServer(test::ServerKind kind, test::SdlDriver driver, const QString& dataDir) {
    ServerFigures f;
    auto server = test::makeSoundServer(kind, driver);
    QString why;
    if (!server || !server->start(&why)) {
        std::fprintf(stderr, "cannot start the server: %s\n", qPrintable(why));
        std::exit(1);
    }
    test::PulseCapture capture;
    std::string captureWhy;
    if (!capture.start("brumlis_test.monitor", &captureWhy)) {
        std::fprintf(stderr, "%s\n", captureWhy.c_str());
        std::exit(1);
    }
    Speaking speaking(createSystemPlayer(corePath(dataDir)));
    // Not measured: it waits for the device to open.
    speakThrough(speaking, sentence());
    sleepMs(1000);
    std::vector<Spoken> spoken;
    speakBesidePaplay(speaking, Sentences, QDir(dataDir).filePath(ReferenceFile), spoken, f);
    {
        BusyLoops busy;
        speakPhase(speaking, Sentences, true, spoken, f.busy);
    }
    sleepMs(int(std::chrono::milliseconds(AudioEngine::IdleClose).count()) + 1000);
    Phase afterIdle;
    speakPhase(speaking, 1, false, spoken, afterIdle);
    spoken.back().afterIdle = true;
    sleepMs(300);
    capture.stop();
    judge(capture, spoken, f);
    return f;
}

long contextSwitches(qint64 pid) {
    long total = 0;
    const std::string taskDir = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = ::opendir(taskDir.c_str());
    if (!dir)
        return -1;
    while (dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream status(taskDir + "/" + entry->d_name + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                total += std::atol(line.c_str() + line.find(':') + 1);
    }
    ::closedir(dir);
    return total;
}

// The real window program, on the bundled voice, on an X server of its own.
struct Window {
    Window() {
        QString why;
        if (!display.start(&why)) {
            std::fprintf(stderr, "no X server: %s\n", qPrintable(why));
            std::exit(1);
        }
        process.emplace(display, QStringLiteral(BRUMLIS_BIN), QStringLiteral(BRUMLIS_DATA_DIR));
        if (!process->painted()) {
            std::fprintf(stderr, "brumlis did not start: %s\n", qPrintable(process->log()));
            std::exit(1);
        }
    }
    test::XDisplay display;
    std::optional<test::WindowProcess> process;
};

struct WindowFigures {
    double wakeups = -1; // per second, idle window after 15 s
    double frozenCloseMs = -1;
};

WindowFigures measureWindow(test::ServerKind kind) {
    WindowFigures f;
    auto server = test::makeSoundServer(kind);
    QString why;
    if (!server->start(&why)) {
        std::fprintf(stderr, "cannot start the server: %s\n", qPrintable(why));
        std::exit(1);
    }
    {
        Window window;
        const QByteArray repeatDisabled = window.process->picture(layout::RepeatButton);
        window.process->generate();
        // Repetera is enabled, and drawn so, once the sentence has been spoken; then 15 s of
        // quiet.
        if (!window.process->untilChanged(layout::RepeatButton, repeatDisabled, 30000))
            std::fprintf(stderr, "the window's sentence never ended\n");
        sleepMs(15000);
        const long before = contextSwitches(window.process->pid());
        sleepMs(5000);
        f.wakeups = double(contextSwitches(window.process->pid()) - before) / 5.0;
        window.process->close();
    }
    {
        // Frozen as the sentence's first frames leave the server.
        test::PulseCapture capture;
        std::string captureWhy;
        if (!capture.start("brumlis_test.monitor", &captureWhy) || !capture.waitUntilFlowing()) {
            std::fprintf(stderr, "no capture: %s\n", captureWhy.c_str());
            return f;
        }
        Window window;
        window.process->generate();
        std::size_t scanned = 0;
        const bool heard = capture.waitUntil(
            [&scanned](const std::vector<float>& left) {
                for (; scanned < left.size(); ++scanned)
                    if (left[scanned] != 0.0f)
                        return true;
                return false;
            },
            30000);
        server->freeze();
        if (heard)
            f.frozenCloseMs = window.process->close().value_or(-1);
        else
            std::fprintf(stderr, "the window's sentence was never heard\n");
        server->thaw();
    }
    return f;
}

// The table of one server. `held`: the program's own choice of output there, held to the
// goals; otherwise they are only shown.
GoalTable serverTable(const char* name, const char* output, const ServerFigures& f, bool held) {
    auto goal = [held](Goal g) { return held ? g : g.shownOnly(); };
    // Nothing heard whole gives no lead: not measured, which misses its goal.
    auto least = [](const std::vector<double>& v) {
        return v.empty() ? std::nullopt : std::optional(*std::min_element(v.begin(), v.end()));
    };
    auto most = [](const std::vector<double>& v) {
        return v.empty() ? std::nullopt : std::optional(*std::max_element(v.begin(), v.end()));
    };
    auto at = [](const std::vector<double>& v, double p) {
        return v.empty() ? std::nullopt : std::optional(percentile(v, p));
    };
    constexpr Unit Frames{"fr", 0};
    constexpr Unit Ms{"ms", 1};
    GoalTable table(std::string(name) + ", through " + output + ":");
    // Idle, what the server inserts into paplay's sound in the same run is the bound: the
    // server's own losses are not the program's.
    table.goal("frames of silence inserted, idle, by turns with paplay", double(f.idle.inserted),
               Frames, goal(Goal::atMost(double(f.paplay.inserted))),
               std::to_string(f.idle.sentences) + " sentences");
    table.report("paplay's turns: frames of silence inserted", double(f.paplay.inserted), Frames,
                 std::to_string(f.paplay.sentences) + " sentences, the same as one file");
    table.goal("frames of silence inserted, both cores busy", double(f.busy.inserted), Frames,
               goal(Goal::exactly(0)));
    table.goal("sentences heard whole and in order, idle", f.idle.whole, {},
               goal(Goal::exactly(f.idle.sentences)));
    table.report("paplay's turns: sentences heard whole and in order", f.paplay.whole, {});
    table.goal("sentences heard whole and in order, busy", f.busy.whole, {},
               goal(Goal::exactly(f.busy.sentences)));
    table.report("longest a 1 ms timer thread woke late, busy", f.busy.longestLateMs, Ms);
    table.goal("lead, word shown to its first frame heard: least", least(f.leads), Ms,
               goal(Goal::atLeast(0)));
    table.goal("lead: 95th percentile (idle and busy)", at(f.leads, 0.95), Ms,
               goal(Goal::atMost(LeadGoalMs)));
    table.report("lead: median", at(f.leads, 0.5), Ms);
    table.report("lead: most", most(f.leads), Ms);
    table.goal("lead of first words: least", least(f.firstLeads), Ms, goal(Goal::atLeast(0)));
    table.goal("lead of first words: 95th percentile", at(f.firstLeads, 0.95), Ms,
               goal(Goal::atMost(LeadGoalMs)));
    table.report("lead of first words: median", at(f.firstLeads, 0.5), Ms);
    table.report("lead of first words: most", most(f.firstLeads), Ms);
    table.goal("call to first frame heard, device ready (median)", at(f.ready, 0.5), Ms,
               goal(Goal::atMost(ReadyGoalMs)));
    table.goal("call to first frame heard, after 11 s idle",
               f.afterIdleMs >= 0 ? std::optional<double>(f.afterIdleMs) : std::nullopt, Ms,
               goal(Goal::atMost(AfterIdleGoalMs)));
    table.report("largest step between two samples heard", 100 * f.largestStep, {"%", 2});
    return table;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString sound = dir.filePath(QStringLiteral("sound"));
    if (!dir.isValid() || !QDir().mkpath(sound))
        return 1;
    writeWords(sound);
    // The sentence as one file, 48 kHz stereo float, for paplay.
    {
        std::vector<float> frames;
        for (int w = 0; w < WordCount; ++w)
            frames.insert(frames.end(), std::size_t(2 * wordFrames(w)),
                          wordLevels()[std::size_t(w)]);
        SF_INFO info{};
        info.samplerate = Rate;
        info.channels = 2;
        info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        SNDFILE* file =
            sf_open(QFile::encodeName(dir.filePath(ReferenceFile)).constData(), SFM_WRITE, &info);
        if (!file || sf_writef_float(file, frames.data(), sf_count_t(frames.size() / 2)) !=
                         sf_count_t(frames.size() / 2))
            return 1;
        sf_close(file);
    }

    struct Setup {
        const char* name;
        const char* output;
        test::ServerKind kind;
        test::SdlDriver driver;
        bool held; // the program's own choice of output there: held to the goals
    };
    const Setup setups[] = {
        {"PulseAudio", "libpulse", test::ServerKind::PulseAudio, test::SdlDriver::PulseAudio, true},
        {"PipeWire", "libpulse and pipewire-pulse", test::ServerKind::PipeWire,
         test::SdlDriver::PulseAudio, true},
        {"PipeWire with SDL_AUDIODRIVER=pipewire", "SDL's pipewire driver",
         test::ServerKind::PipeWire, test::SdlDriver::PipeWire, false},
    };
    std::printf("Speaking %d sentences of %d words on each server, idle and busy; each frame timed "
                "where it leaves the server (its sink's monitor).\n",
                Sentences, WordCount);
    bool allMet = true;
    // Only the setups whose name starts so with BRUMLIS_BENCH_SERVER, to look into one.
    const QString only = qEnvironmentVariable("BRUMLIS_BENCH_SERVER");
    for (const Setup& s : setups) {
        if (!QString::fromUtf8(s.name).startsWith(only))
            continue;
        const ServerFigures figures = measureServer(s.kind, s.driver, dir.path());
        allMet &= serverTable(s.name, s.output, figures, s.held).print();
        const std::pair<const char*, const Phase*> phases[] = {
            {"idle", &figures.idle}, {"paplay", &figures.paplay}, {"busy", &figures.busy}};
        for (const auto& [phaseName, phase] : phases)
            for (const std::string& hole : phase->holes)
                std::printf("  silence inserted, %s: %s\n", phaseName, hole.c_str());
    }

    GoalTable window("The window, on the bundled voice:");
    for (test::ServerKind kind : {test::ServerKind::PulseAudio, test::ServerKind::PipeWire}) {
        if (!QString::fromUtf8(test::serverKindName(kind)).startsWith(only))
            continue;
        const WindowFigures w = measureWindow(kind);
        const std::string server = test::serverKindName(kind);
        window.goal("wake-ups of the idle window, " + server,
                    w.wakeups >= 0 ? std::optional<double>(w.wakeups) : std::nullopt, {"/s", 1},
                    Goal::atMost(WakeupsGoal));
        window.goal("close to exit, " + server + " frozen",
                    w.frozenCloseMs >= 0 ? std::optional<double>(w.frozenCloseMs) : std::nullopt,
                    {"ms", 1}, Goal::atMost(FrozenCloseGoalMs));
    }
    allMet &= window.print();
    return allMet ? 0 : 1;
}
