// Speaking sentences through the audio engine on a real sound server: a private
// PulseAudio with a null sink started here, its monitor recorded with parec, once with
// the machine idle and once with both cores busy. Silence the server had to insert,
// sentences heard whole, how long each word is on screen before its first sample reaches
// the server, the first word after a click, wake-ups of an idle window and the time the
// window takes to end with the server frozen. Then what SDL's disk driver shows (a device
// that can never run late: only the engine's own queue can run dry there), a player that
// opens and closes the device for every clip for comparison, the cost of decoding a clip
// and the memory used while a long file streams. Exits non-zero when a goal is missed.
#include "playback/audioengine.h"
#include "playback/clipstream.h"
#include "playback/soundresolver.h"
#include "playback/speechcontroller.h"
#include "sentence/sentencebuffer.h"
#include "support/levelclip.h"
#include "support/playerevents.h"
#include "support/pulseserver.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <SDL.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <sched.h>
#include <sndfile.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace brumlis;
using Clock = std::chrono::steady_clock;

constexpr double LeadGoalMs = 50.0;
constexpr int Rate = 48000;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

void writeLevelClip(const QString& path, int format, int rate, int channels, long frames,
                    float level) {
    if (!test::writeLevelClip(path, format, rate, channels, frames, level)) {
        std::fprintf(stderr, "cannot write %s: %s\n", qPrintable(path), sf_strerror(nullptr));
        std::exit(1);
    }
}

// A sentence of word-length clips in the encodings a Windows recorder might use. Each
// clip holds one level in every sample, so silence between them is a run of zeros and
// every frame can be told apart.
struct Word {
    const char* name;
    int format;
    int rate;
    int channels;
    double seconds;
    float level;
};
const Word Words[] = {
    {"Kalle", SF_FORMAT_PCM_16, 22050, 1, 0.34, 0.20f},
    {"tycker_att", SF_FORMAT_PCM_16, 22050, 1, 0.67, 0.25f},
    {"Lisa", SF_FORMAT_PCM_24, 44100, 2, 0.38, 0.30f},
    // Not ADPCM, whose last block decodes to a tail at another level: every frame of a
    // level clip must hold its level, or the capture cannot be judged.
    {"är", SF_FORMAT_PCM_16, 22050, 1, 0.35, 0.35f},
    {"glad", SF_FORMAT_FLOAT, 48000, 2, 0.41, 0.40f},
    {"och", SF_FORMAT_PCM_U8, 11025, 1, 0.22, 0.45f},
    {"sjunger", SF_FORMAT_ULAW, 8000, 1, 0.52, 0.50f},
    {"hemma", SF_FORMAT_PCM_16, 48000, 2, 0.45, 0.55f},
};
constexpr int WordCount = int(std::size(Words));

const std::vector<float>& wordLevels() {
    static const std::vector<float> levels = [] {
        std::vector<float> v;
        for (const Word& w : Words)
            v.push_back(w.level);
        return v;
    }();
    return levels;
}

struct Shown {
    Clock::time_point at;
};

// Notes when each word appears.
class TimingView final : public SentenceView {
public:
    QString caption() const override { return m_caption; }
    void showCaption(const QString& caption) override {
        const bool newWord = caption.size() > m_caption.size() + 1 && !caption.isEmpty();
        m_caption = caption;
        if (newWord)
            shown.push_back({Clock::now()});
    }
    void setRepeatEnabled(bool) override {}
    void setGenerateEnabled(bool) override {}
    void focusGenerate() override {}

    std::vector<Shown> shown;

private:
    QString m_caption;
};

// Speaks `buffer` through `speech` as the window does, in an event loop of its own, and
// returns once it has been heard (false when that took more than a minute).
bool speakThrough(SpeechController& speech, const SentenceBuffer& buffer) {
    QEventLoop loop;
    QObject::connect(&speech, &SpeechController::sentenceEnded, &loop, &QEventLoop::quit);
    QTimer::singleShot(60000, &loop, [&loop] { loop.exit(1); });
    speech.SpeakSentence(buffer);
    return loop.exec() == 0;
}

SentenceBuffer sentence() {
    SentenceBuffer buffer;
    for (int i = 0; i < WordCount; ++i) {
        buffer.WordText(i) = QString::fromUtf8(Words[i].name);
        buffer.SoundFile(i) = QStringLiteral("sound\\%1.wav").arg(buffer.WordText(i));
    }
    return buffer;
}

struct WordFigures {
    double silenceBefore = 0; // samples at 48 kHz inserted before this word
    double leadMs = 0;        // text on screen before the first sample is heard
};

// --- the engine -------------------------------------------------------------------

std::vector<WordFigures> measureEngine(const QString& dataDir, const QString& capture,
                                       int* bufferFrames) {
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", QFile::encodeName(capture).constData(), 1);
    QString error;
    auto engine = AudioEngine::open(dataDir, &error);
    if (!engine) {
        std::fprintf(stderr, "no disk audio device: %s\n", qPrintable(error));
        std::exit(1);
    }
    *bufferFrames = engine->format().bufferFrames;
    AudioEngine* device = engine.get();
    TimingView view;
    auto speech = std::make_unique<SpeechController>(view, std::move(engine));

    std::this_thread::sleep_for(std::chrono::milliseconds(100)); // let the device settle
    speakThrough(*speech, sentence());

    // The engine notes when the device's callback took each clip's first frame.
    std::vector<WordFigures> figures(WordCount);
    for (int w = 0; w < WordCount && w < int(view.shown.size()); ++w)
        if (const auto started = device->handedOver(w))
            figures[std::size_t(w)].leadMs = ms(*started - view.shown[std::size_t(w)].at);
    speech.reset(); // closing the device writes out the capture

    // Inserted silence, straight from the captured stream.
    QFile file(capture);
    if (!file.open(QIODevice::ReadOnly))
        std::exit(1);
    const QByteArray bytes = file.readAll();
    const std::size_t frames = std::size_t(bytes.size()) / 8;
    const auto* samples = reinterpret_cast<const float*>(bytes.constData());
    int current = -1;
    long zeros = 0;
    for (std::size_t i = 0; i < frames; ++i) {
        const float left = samples[2 * i];
        if (left == 0.0f) {
            if (current >= 0)
                ++zeros;
            continue;
        }
        const int nearest = test::nearestLevel(left, wordLevels());
        if (nearest != current) {
            if (current >= 0 && nearest < WordCount)
                figures[nearest].silenceBefore = double(zeros);
            current = nearest;
        }
        zeros = 0;
    }
    return figures;
}

// --- a player that opens the device for every clip, as a per-call sound API does ----

class ReopeningPlayer {
public:
    explicit ReopeningPlayer(const QString& dataDir)
        : m_resolver(dataDir) {}

    // Shows each word, then plays its clip and returns once it has been played out.
    void speak(const SentenceBuffer& buffer, TimingView& view) {
        view.showCaption(QString());
        for (int i = 0; i < SentenceBuffer::SpokenSlots; ++i) {
            view.showCaption(view.caption() + buffer.WordText(i) + u' ');
            play(buffer.SoundFile(i));
        }
    }

    void play(const QString& path) {
        DeviceFormat format;
        format.sdlFormat = AUDIO_F32SYS;
        format.rate = Rate;
        format.channels = 2;
        format.bytesPerFrame = 8;
        ClipStream clip;
        if (!clip.open(m_resolver.resolve(path), format))
            return;
        m_data.clear();
        std::vector<std::uint8_t> chunk;
        while (clip.next(chunk))
            m_data.insert(m_data.end(), chunk.begin(), chunk.end());

        m_offset = 0;
        m_first.reset();
        m_last.reset();
        m_requestsAfterEnd = 0;
        SDL_AudioSpec want{};
        want.freq = Rate;
        want.format = AUDIO_F32SYS;
        want.channels = 2;
        want.samples = 512;
        want.callback = &ReopeningPlayer::feed;
        want.userdata = this;
        SDL_AudioSpec have{};
        const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (device == 0)
            return;
        SDL_PauseAudioDevice(device, 0);
        {
            std::unique_lock lock(m_mutex);
            // Returns when the clip has been played out, as a synchronous call does.
            m_done.wait(lock, [this] { return m_requestsAfterEnd >= 2; });
        }
        SDL_CloseAudioDevice(device);
        firstHeard.push_back(*m_first);
        lastHeard.push_back(*m_last);
    }

    std::vector<Clock::time_point> firstHeard;
    std::vector<Clock::time_point> lastHeard;

private:
    static void feed(void* self, Uint8* out, int length) {
        auto* p = static_cast<ReopeningPlayer*>(self);
        const Clock::time_point now = Clock::now();
        std::lock_guard lock(p->m_mutex);
        const std::size_t run = std::min(std::size_t(length), p->m_data.size() - p->m_offset);
        std::memcpy(out, p->m_data.data() + p->m_offset, run);
        std::memset(out + run, 0, std::size_t(length) - run);
        if (run > 0 && !p->m_first)
            p->m_first = now;
        if (run > 0 && p->m_offset + run == p->m_data.size())
            p->m_last =
                now + std::chrono::microseconds(std::int64_t(1e6 * double(run / 8 - 1) / Rate));
        p->m_offset += run;
        if (p->m_offset == p->m_data.size())
            ++p->m_requestsAfterEnd;
        p->m_done.notify_all();
    }

    SoundResolver m_resolver;
    std::vector<std::uint8_t> m_data;
    std::mutex m_mutex;
    std::condition_variable m_done;
    std::size_t m_offset = 0;
    std::optional<Clock::time_point> m_first;
    std::optional<Clock::time_point> m_last;
    int m_requestsAfterEnd = 0;
};

std::vector<WordFigures> measureReopening(const QString& dataDir) {
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        std::exit(1);
    ReopeningPlayer player(dataDir);
    TimingView view;
    player.speak(sentence(), view);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);

    std::vector<WordFigures> figures(WordCount);
    for (int w = 0; w < WordCount && w < int(player.firstHeard.size()); ++w) {
        figures[w].leadMs = ms(player.firstHeard[w] - view.shown[w].at);
        if (w > 0)
            figures[w].silenceBefore = std::max(
                0.0, ms(player.firstHeard[w] - player.lastHeard[w - 1]) * Rate / 1000.0 - 1);
    }
    return figures;
}

// --- decoding ------------------------------------------------------------------------

struct DecodeFigures {
    double firstChunkMs;
    double wholeClipMs;
};

DecodeFigures measureDecode(const QString& path) {
    DeviceFormat format;
    format.sdlFormat = AUDIO_F32SYS;
    format.rate = Rate;
    format.channels = 2;
    format.bytesPerFrame = 8;
    std::vector<double> first, whole;
    std::vector<std::uint8_t> chunk;
    std::vector<std::uint8_t> queue(std::size_t(Rate) * 8); // stands in for the engine's queue
    for (int run = 0; run < 41; ++run) {
        const Clock::time_point start = Clock::now();
        ClipStream clip;
        clip.open(QFile::encodeName(path), format);
        bool firstDone = false;
        std::size_t at = 0;
        while (clip.next(chunk)) {
            const std::size_t n = std::min(chunk.size(), queue.size() - at);
            std::memcpy(queue.data() + at, chunk.data(), n);
            at = (at + n) % queue.size();
            if (!firstDone) {
                first.push_back(ms(Clock::now() - start));
                firstDone = true;
            }
        }
        whole.push_back(ms(Clock::now() - start));
    }
    std::sort(first.begin(), first.end());
    std::sort(whole.begin(), whole.end());
    return {first[first.size() / 2], whole[whole.size() / 2]};
}

// --- memory while streaming ----------------------------------------------------------

long kib(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0)
            return std::atol(line.c_str() + std::strlen(field));
    return -1;
}

// Runs in a child process of its own, so its peak is not the parent's.
int streamChild(const char* dataDir, const char* word) {
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    ::setenv("SDL_DISKAUDIODELAY", "0", 1); // as fast as the engine can feed it
    auto engine = AudioEngine::open(QString::fromUtf8(dataDir));
    if (!engine)
        return 1;
    const long before = kib("VmRSS:");
    const Clock::time_point start = Clock::now();
    test::PlayerEvents events(*engine);
    engine->speak(1, {QStringLiteral("sound/%1.wav").arg(QString::fromUtf8(word))});
    events.untilAllHeard();
    const double seconds = ms(Clock::now() - start) / 1000.0;
    std::printf("%ld %ld %lld %.2f\n", before, kib("VmHWM:"),
                static_cast<long long>(engine->framesQueued()), seconds);
    return 0;
}

struct StreamFigures {
    long rssBeforeKiB = 0;
    long peakKiB = 0;
    long long frames = 0;
    double seconds = 0;
};

StreamFigures runStreamChild(const QString& dataDir, const char* word) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        std::exit(1);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], STDOUT_FILENO);
        ::close(pipeFds[0]);
        ::execl("/proc/self/exe", "bench-playback", "--stream",
                QFile::encodeName(dataDir).constData(), word, static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    std::string out;
    char buf[256];
    for (ssize_t n; (n = ::read(pipeFds[0], buf, sizeof buf)) > 0;)
        out.append(buf, std::size_t(n));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    StreamFigures f;
    std::sscanf(out.c_str(), "%ld %ld %lld %lf", &f.rssBeforeKiB, &f.peakKiB, &f.frames,
                &f.seconds);
    return f;
}

// --- a real sound server ---------------------------------------------------------------

struct SentenceFigures {
    int sentences = 0;
    int whole = 0;                  // every word heard, in order and whole
    long inserted = 0;              // frames of silence inside sentences
    std::vector<std::string> holes; // where that silence was
    double longestStallMs = 0;      // the machine's: see StallWatch
    std::vector<double> leads;      // ms, one per word
    std::vector<double> firsts;     // ms from the call to the first word's first sample
};

// Splits a capture of sentences (separated by silence) into its runs of levels, and
// checks each sentence against the words.
void judgeCapture(const std::vector<float>& left, SentenceFigures& f) {
    const std::vector<float>& levels = wordLevels();
    // Runs of one level, silence as -1; a few frames between two levels at a resampled
    // clip's edge count to the run before.
    struct Run {
        int clip;
        long frames;
    };
    std::vector<Run> runs;
    for (float v : left) {
        const int clip = v == 0.0f ? -1 : test::nearestLevel(v, levels);
        if (runs.empty() || runs.back().clip != clip)
            runs.push_back({clip, 0});
        ++runs.back().frames;
    }
    std::vector<Run> merged;
    for (const Run& r : runs) {
        if (!merged.empty() && r.clip >= 0 && merged.back().clip >= 0 && r.frames < 8)
            merged.back().frames += r.frames;
        else if (!merged.empty() && merged.back().clip == r.clip)
            merged.back().frames += r.frames;
        else
            merged.push_back(r);
    }
    // Silence after a sentence's last word and before a first word separates sentences;
    // any other silence between two words was inserted.
    std::vector<std::vector<Run>> sentences(1);
    for (std::size_t i = 0; i < merged.size(); ++i) {
        const Run& r = merged[i];
        if (r.clip >= 0) {
            sentences.back().push_back(r);
            continue;
        }
        const bool edge = i == 0 || i + 1 == merged.size();
        const bool between =
            !edge && merged[i - 1].clip == WordCount - 1 && merged[i + 1].clip == 0;
        if (edge || between) {
            if (!sentences.back().empty())
                sentences.emplace_back();
        } else {
            f.inserted += r.frames;
            const int before = merged[i - 1].clip, after = merged[i + 1].clip;
            char where[160];
            if (before == after)
                std::snprintf(where, sizeof where, "sentence %zu: %ld frames inside \"%s\"",
                              sentences.size(), r.frames, Words[before].name);
            else
                std::snprintf(where, sizeof where,
                              "sentence %zu: %ld frames between \"%s\" and \"%s\"",
                              sentences.size(), r.frames, Words[before].name, Words[after].name);
            f.holes.emplace_back(where);
            sentences.back().push_back(r);
        }
    }
    for (const auto& sentence : sentences) {
        if (sentence.empty())
            continue;
        if (std::getenv("BRUMLIS_BENCH_DUMP")) {
            for (const Run& r : sentence)
                std::fprintf(stderr, "%d:%ld ", r.clip, r.frames);
            std::fprintf(stderr, "\n");
        }
        // Silence between two words is counted above; inside a word it splits the word
        // in two, which makes the sentence fail here.
        std::vector<Run> words;
        for (const Run& r : sentence)
            if (r.clip >= 0)
                words.push_back(r);
        bool whole = int(words.size()) == WordCount;
        for (int w = 0; whole && w < WordCount; ++w) {
            const long expected =
                std::lround(Words[w].seconds * Words[w].rate) * Rate / Words[w].rate;
            whole = words[std::size_t(w)].clip == w &&
                    std::labs(words[std::size_t(w)].frames - expected) <= 8;
        }
        f.whole += whole;
    }
}

// A thread that asks to wake every millisecond, at real-time priority where allowed, and
// notes how late it woke at worst. Silence inside a clip that was queued whole long
// before has to come from outside the engine; a late wake-up here at the same time says
// the machine itself stood still.
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

SentenceFigures speakOnServer(test::PulseServer& server, SpeechController& speech,
                              const AudioEngine& engine, TimingView& view, int count) {
    SentenceFigures f;
    f.sentences = count;
    if (!server.startCapture()) {
        std::fprintf(stderr, "parec did not start\n");
        std::exit(1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    StallWatch watch;
    for (int n = 0; n < count; ++n) {
        view.shown.clear();
        const Clock::time_point called = Clock::now();
        speakThrough(speech, sentence());
        for (int w = 0; w < int(view.shown.size()); ++w)
            if (const auto started = engine.handedOver(w))
                f.leads.push_back(ms(*started - view.shown[std::size_t(w)].at));
        if (const auto started = engine.handedOver(0))
            f.firsts.push_back(ms(*started - called));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    f.longestStallMs = watch.longestMs();
    {
        const std::vector<float> cap = server.stopCapture();
        long nz = 0;
        for (float v : cap)
            nz += v != 0.0f;
        if (std::getenv("BRUMLIS_BENCH_DUMP"))
            std::fprintf(stderr, "capture: %zu frames, %ld non-silent\n", cap.size(), nz);
        judgeCapture(cap, f);
    }
    return f;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, std::size_t(p * double(v.size() - 1) + 0.5))];
}

// Two busy loops, one per core, for as long as it lives.
class BusyLoops {
public:
    BusyLoops() {
        // Separate programs rather than forks of this one: a fork carries copies of the
        // sound server connection and of every lock the threads held at that moment.
        char sh[] = "sh";
        char dashC[] = "-c";
        char loop[] = "while :; do :; done";
        char* argv[] = {sh, dashC, loop, nullptr};
        for (pid_t& pid : m_pids)
            if (::posix_spawnp(&pid, "sh", nullptr, nullptr, argv, environ) != 0)
                pid = -1;
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

// The real window program, on the bundled voice, speaking when sent SIGUSR1.
class Window {
public:
    Window() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("BRUMLIS_BENCH_READY"), QStringLiteral("1"));
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(QStringLiteral(BRUMLIS_DATA_DIR));
        m_process.start(QStringLiteral(BRUMLIS_BIN), {});
        if (!m_process.waitForStarted(5000) || !m_process.waitForReadyRead(10000)) {
            std::fprintf(stderr, "brumlis did not start\n");
            std::exit(1);
        }
    }
    ~Window() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    qint64 pid() const { return m_process.processId(); }
    void generate() { ::kill(pid_t(pid()), SIGUSR1); }
    // Milliseconds from the close to the end of the process (-1: not within 10 s).
    double close() {
        QElapsedTimer t;
        t.start();
        m_process.terminate();
        const bool ended = m_process.waitForFinished(10000);
        return ended ? double(t.nsecsElapsed()) / 1e6 : -1;
    }

private:
    QProcess m_process;
};

void sleepMs(int n) {
    std::this_thread::sleep_for(std::chrono::milliseconds(n));
}

struct ServerFigures {
    SentenceFigures idle, load;
    double firstOpenMs = 0; // first word after a click, device open
    double firstAfterIdleMs = 0;
    double wakeups = 0; // per second, idle window after 15 s
    double frozenCloseMs = 0;
};

ServerFigures measureServer(const QString& dataDir) {
    test::PulseServer server;
    QString why;
    if (!server.start(&why)) {
        std::fprintf(stderr, "cannot start a private PulseAudio: %s\n", qPrintable(why));
        std::exit(1);
    }
    ServerFigures f;
    {
        QString error;
        auto engine = AudioEngine::open(dataDir, &error);
        if (!engine) {
            std::fprintf(stderr, "no PulseAudio device: %s\n", qPrintable(error));
            std::exit(1);
        }
        const AudioEngine& device = *engine;
        TimingView view;
        SpeechController speech(view, std::move(engine));
        sleepMs(3000); // a new stream can take seconds to start
        f.idle = speakOnServer(server, speech, device, view, 20);
        {
            BusyLoops busy;
            f.load = speakOnServer(server, speech, device, view, 20);
        }
        f.firstOpenMs = percentile(f.idle.firsts, 0.5);
        sleepMs(int(std::chrono::milliseconds(AudioEngine::IdleClose).count()) + 1000);
        const SentenceFigures afterIdle = speakOnServer(server, speech, device, view, 1);
        f.firstAfterIdleMs = afterIdle.firsts.empty() ? -1 : afterIdle.firsts.front();
    }
    {
        Window window;
        sleepMs(1000);
        window.generate();
        sleepMs(15000 + 5000); // the sentence, then 15 s of quiet
        const long before = contextSwitches(window.pid());
        sleepMs(5000);
        f.wakeups = double(contextSwitches(window.pid()) - before) / 5.0;
        window.close();
    }
    {
        Window window;
        sleepMs(1000);
        window.generate();
        sleepMs(700);
        server.freeze();
        sleepMs(300);
        f.frozenCloseMs = window.close();
        server.thaw();
    }
    return f;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc == 4 && std::strcmp(argv[1], "--stream") == 0)
        return streamChild(argv[2], argv[3]);
    // The speech controller runs in an event loop, as in the window.
    QCoreApplication app(argc, argv);

    QTemporaryDir dir;
    const QString sound = dir.filePath(QStringLiteral("sound"));
    if (!dir.isValid() || !QDir().mkpath(sound))
        return 1;
    for (const Word& w : Words)
        writeLevelClip(sound + QStringLiteral("/%1.wav").arg(QString::fromUtf8(w.name)), w.format,
                       w.rate, w.channels, std::lround(w.seconds * w.rate), w.level);

    int bufferFrames = 0;
    const auto engine =
        measureEngine(dir.path(), dir.filePath(QStringLiteral("capture.raw")), &bufferFrames);
    const auto reopening = measureReopening(dir.path());
    const ServerFigures server = measureServer(dir.path());

    std::printf("Speaking %d words through SDL's disk driver (48 kHz stereo float, device buffer "
                "%d frames).\n",
                WordCount, bufferFrames);
    std::printf(
        "silence = samples inserted before the word; lead = text on screen before its first "
        "sample is heard\n\n");
    std::printf("%-12s %-14s | %14s %10s | %18s %10s\n", "word", "recording", "engine silence",
                "lead", "reopening silence", "lead");
    double worstSilence = 0, worstLead = -1e9, worstReopenSilence = 0, worstReopenLead = -1e9,
           sumReopenSilence = 0;
    for (int w = 0; w < WordCount; ++w) {
        char rec[32];
        std::snprintf(rec, sizeof rec, "%d Hz %dch", Words[w].rate, Words[w].channels);
        // Pad by characters, not bytes: "är" is three bytes wide.
        const QString name = QString::fromUtf8(Words[w].name).leftJustified(12);
        std::printf("%s %-14s | %14.0f %7.1f ms | %18.0f %7.1f ms\n", name.toUtf8().constData(),
                    rec, engine[w].silenceBefore, engine[w].leadMs, reopening[w].silenceBefore,
                    reopening[w].leadMs);
        worstSilence = std::max(worstSilence, engine[w].silenceBefore);
        worstLead = std::max(worstLead, engine[w].leadMs);
        worstReopenSilence = std::max(worstReopenSilence, reopening[w].silenceBefore);
        worstReopenLead = std::max(worstReopenLead, reopening[w].leadMs);
        sumReopenSilence += reopening[w].silenceBefore;
    }

    const QString oneSecond = dir.filePath(QStringLiteral("sound/en sekund.wav"));
    writeLevelClip(oneSecond, SF_FORMAT_PCM_16, 22050, 1, 22050, 0.3f);
    const DecodeFigures decode = measureDecode(oneSecond);
    const QString oneSecondCd = dir.filePath(QStringLiteral("sound/en sekund cd.wav"));
    writeLevelClip(oneSecondCd, SF_FORMAT_PCM_16, 44100, 2, 44100, 0.3f);
    const DecodeFigures decodeCd = measureDecode(oneSecondCd);

    writeLevelClip(dir.filePath(QStringLiteral("sound/tio sekunder.wav")), SF_FORMAT_PCM_16, 44100,
                   2, 44100L * 10, 0.3f);
    writeLevelClip(dir.filePath(QStringLiteral("sound/tio minuter.wav")), SF_FORMAT_PCM_16, 44100,
                   2, 44100L * 600, 0.3f);
    const StreamFigures shortStream = runStreamChild(dir.path(), "tio sekunder");
    const StreamFigures longStream = runStreamChild(dir.path(), "tio minuter");
    const long growth = longStream.peakKiB - shortStream.peakKiB;

    const double period = 1000.0 * bufferFrames / Rate;
    bool allMet = true;
    auto verdict = [&allMet](bool met) {
        allMet &= met;
        return met ? "met" : "MISSED";
    };
    std::printf("\n%-58s %14s %16s\n", "figure", "measured", "goal");
    std::printf("%-58s %11.0f sa %16s  %s\n", "disk driver: most silence between two words",
                worstSilence, "0 samples", verdict(worstSilence == 0));
    std::printf("%-58s %11.1f ms %16s  %s\n", "disk driver: longest text-to-device lead", worstLead,
                "<= 50 ms", verdict(worstLead <= LeadGoalMs && worstLead >= 0));
    std::printf("%-58s %11.0f sa %16s\n", "reopening player: most silence between two words",
                worstReopenSilence, "(comparison)");
    std::printf("%-58s %11.1f ms %16s\n", "reopening player: mean silence between two words",
                sumReopenSilence / (WordCount - 1) * 1000.0 / Rate, "(comparison)");
    std::printf("%-58s %11.1f ms %16s\n", "reopening player: longest text-to-sound lead",
                worstReopenLead, "(comparison)");
    std::printf("%-58s %11.3f ms %13s%.1f ms  %s\n",
                "decode+convert+queue, first chunk of a 1 s clip (22 kHz)", decode.firstChunkMs,
                "<= ", period, verdict(decode.firstChunkMs <= period));
    std::printf("%-58s %11.3f ms %16s\n", "decode+convert+queue, whole 1 s clip (22 kHz mono)",
                decode.wholeClipMs, "-");
    std::printf("%-58s %11.3f ms %16s\n", "decode+convert+queue, whole 1 s clip (44.1 kHz stereo)",
                decodeCd.wholeClipMs, "-");
    std::printf("%-58s %11ld KiB %15s\n", "peak memory streaming a 10 s file (44.1 kHz stereo)",
                shortStream.peakKiB, "-");
    std::printf("%-58s %11ld KiB %15s\n", "peak memory streaming a 10 min file (101 MiB)",
                longStream.peakKiB, "-");
    std::printf("%-58s %11ld KiB %16s  %s\n", "growth from 10 s to 10 min", growth, "<= 1024 KiB",
                verdict(growth <= 1024));
    std::printf("(10 min file: %lld frames queued in %.1f s with the disk driver unthrottled)\n",
                longStream.frames, longStream.seconds);

    std::printf("\nOn a private PulseAudio null sink, captured with parec (%d words a sentence):\n",
                WordCount);
    std::printf("%-58s %14s %16s\n", "figure", "measured", "goal");
    std::printf("%-58s %11ld fr %16s  %s\n", "frames of silence inserted, machine idle",
                server.idle.inserted, "0 frames", verdict(server.idle.inserted == 0));
    std::printf("%-58s %11ld fr %16s\n", "frames of silence inserted, both cores busy",
                server.load.inserted, "(report)");
    std::printf("%-58s %8d of %d %16s  %s\n", "sentences heard whole and in order, idle",
                server.idle.whole, server.idle.sentences, "all",
                verdict(server.idle.whole == server.idle.sentences));
    std::printf("%-58s %8d of %d %16s  %s\n", "sentences heard whole and in order, busy",
                server.load.whole, server.load.sentences, "all",
                verdict(server.load.whole == server.load.sentences));
    std::printf("%-58s %11.1f ms %16s\n", "longest a 1 ms timer thread woke late, idle",
                server.idle.longestStallMs, "(report)");
    std::printf("%-58s %11.1f ms %16s\n", "longest a 1 ms timer thread woke late, busy",
                server.load.longestStallMs, "(report)");
    for (const SentenceFigures* phase : {&server.idle, &server.load})
        for (const std::string& hole : phase->holes)
            std::printf("  silence inserted, %s: %s\n", phase == &server.idle ? "idle" : "busy",
                        hole.c_str());
    std::vector<double> leads = server.idle.leads;
    leads.insert(leads.end(), server.load.leads.begin(), server.load.leads.end());
    const double leastLead = leads.empty() ? -1 : *std::min_element(leads.begin(), leads.end());
    std::printf("%-58s %11.1f ms %16s  %s\n", "lead, word shown to first sample at server: least",
                leastLead, ">= 0 ms", verdict(!leads.empty() && leastLead >= 0));
    std::printf("%-58s %11.1f ms %16s  %s\n", "lead: 95th percentile (idle and busy)",
                percentile(leads, 0.95), "<= 50 ms", verdict(percentile(leads, 0.95) <= 50));
    std::printf("%-58s %11.1f ms %16s\n", "lead: median", percentile(leads, 0.5), "(report)");
    std::printf("%-58s %11.1f ms %16s\n", "lead: most",
                leads.empty() ? 0 : *std::max_element(leads.begin(), leads.end()), "(report)");
    std::printf("%-58s %11.1f ms %16s\n",
                "first word at server after the call, device open (median)", server.firstOpenMs,
                "(report)");
    std::printf("%-58s %11.1f ms %16s\n", "first word at server after the call, after 11 s idle",
                server.firstAfterIdleMs, "(report)");
    std::printf("%-58s %11.1f /s %16s  %s\n", "wake-ups of the idle window (15 s after a sentence)",
                server.wakeups, "<= 2 /s", verdict(server.wakeups >= 0 && server.wakeups <= 2));
    std::printf("%-58s %11.1f ms %16s  %s\n", "window close to process exit, server frozen",
                server.frozenCloseMs, "<= 1000 ms",
                verdict(server.frozenCloseMs >= 0 && server.frozenCloseMs <= 1000));
    return allMet ? 0 : 1;
}
