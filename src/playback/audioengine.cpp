#include "audioengine.h"

#include <SDL.h>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <mutex>

namespace brumlis {

namespace {

using Clock = SoundQueue::Clock;

// How often a waiting call gives the idle hook a turn.
constexpr auto IdlePeriod = std::chrono::milliseconds(5);
// How long open() waits for the first device before it hands out an engine anyway.
constexpr auto FirstOpenWait = std::chrono::seconds(3);
// Sound queued ahead of the device at most: far more than any piece a device takes.
constexpr int QueueMilliseconds = 500;

using AlsaErrorHandler = void (*)(const char*, int, const char*, int, const char*, ...);

void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

// libasound prints every failed probe of a sound card on stderr by itself, eight lines on
// a machine without one. The engine says in one line what went wrong instead, so ALSA's
// own report is turned off. SDL loads the same library; it stays loaded so the setting
// lasts.
void quietAlsa() {
    static void* const library = [] {
        void* handle = ::dlopen("libasound.so.2", RTLD_LAZY | RTLD_LOCAL);
        if (handle) {
            using SetHandler = int (*)(AlsaErrorHandler);
            if (auto set =
                    reinterpret_cast<SetHandler>(::dlsym(handle, "snd_lib_error_set_handler")))
                set(&ignoreAlsaError);
        }
        return handle;
    }();
    (void)library;
}

DeviceFormat wantedFormat() {
    DeviceFormat format;
    format.sdlFormat = AUDIO_F32SYS;
    format.rate = AudioEngine::WantedRate;
    format.channels = AudioEngine::WantedChannels;
    format.bytesPerFrame = int(sizeof(float)) * AudioEngine::WantedChannels;
    format.bufferFrames = AudioEngine::WantedBufferFrames;
    format.silence = 0;
    return format;
}

} // namespace

/// What the engine, its device thread and the device's callback share. The device thread
/// owns a reference, so a thread abandoned at exit never touches freed memory.
struct AudioEngine::Shared {
    std::mutex mutex;
    std::condition_variable wake;    ///< the device took sound, or a device came or went
    std::condition_variable command; ///< wakes the device thread
    DeviceFormat format;
    std::unique_ptr<SoundQueue> queue; ///< a new one for every device opened
    bool feeding = false;              ///< the open device takes from `queue`
    bool openWanted = false;
    bool quitWanted = false;
    bool opening = false;
    bool quitDone = false;
    bool active = false; ///< a play or drain is in progress
    Clock::time_point lastActive = Clock::now();
    SDL_AudioDeviceID device = 0;
    QString failure; ///< why the latest open failed

    SoundQueue& newQueue(Clock::time_point now) {
        const std::size_t frames = std::max<std::size_t>(
            std::size_t(format.rate) * QueueMilliseconds / 1000, 8u * format.bufferFrames);
        queue = std::make_unique<SoundQueue>(format.bytesPerFrame, format.rate, format.bufferFrames,
                                             format.silence, frames, now);
        return *queue;
    }
};

class AudioEngine::Call {
public:
    explicit Call(AudioEngine& engine)
        : m_engine(engine) {
        m_engine.m_inCall = true;
        std::lock_guard lock(m_engine.m_shared->mutex);
        m_engine.m_shared->active = true;
    }
    ~Call() {
        m_engine.m_inCall = false;
        {
            std::lock_guard lock(m_engine.m_shared->mutex);
            m_engine.m_shared->active = false;
            m_engine.m_shared->lastActive = Clock::now();
        }
        m_engine.m_shared->command.notify_all();
    }

private:
    AudioEngine& m_engine;
};

AudioEngine::AudioEngine(const QString& dataDir)
    : m_resolver(dataDir)
    , m_format(wantedFormat())
    , m_shared(std::make_shared<Shared>()) {
    m_shared->format = m_format;
}

std::unique_ptr<AudioEngine> AudioEngine::open(const QString& dataDir, QString* error) {
    // SDL would otherwise turn Ctrl+C into an event nobody reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Brumlis");
    quietAlsa();
    std::unique_ptr<AudioEngine> engine(new AudioEngine(dataDir));
    // The callers open the engine off the window's thread: the index of a large sound
    // folder is read here rather than at the first word without an exact recording.
    engine->m_resolver.prepare();
    Shared& s = *engine->m_shared;
    {
        std::unique_lock lock(s.mutex);
        s.newQueue(Clock::now());
        s.openWanted = true;
        s.opening = true;
        engine->m_thread = std::thread(&AudioEngine::run, engine->m_shared);
        s.wake.wait_for(lock, FirstOpenWait, [&] { return !s.opening; });
        if (!s.opening && s.device == 0) {
            if (error)
                *error = s.failure;
            lock.unlock();
            return nullptr;
        }
    }
    return engine;
}

AudioEngine::~AudioEngine() {
    Shared& s = *m_shared;
    std::unique_lock lock(s.mutex);
    s.quitWanted = true;
    s.command.notify_all();
    // A frozen sound server holds SDL's close for as long as it stays frozen: leave the
    // thread to it rather than hold up the end of the program.
    if (s.wake.wait_for(lock, CloseBound, [&] { return s.quitDone; })) {
        lock.unlock();
        m_thread.join();
    } else {
        lock.unlock();
        m_thread.detach();
        g_soundAbandoned = true;
    }
}

void AudioEngine::run(std::shared_ptr<Shared> shared) {
    Shared& s = *shared;
    bool subsystem = false;
    std::unique_lock lock(s.mutex);
    auto closeDevice = [&] {
        const SDL_AudioDeviceID device = s.device;
        s.device = 0;
        s.feeding = false;
        if (device != 0) {
            lock.unlock();
            SDL_CloseAudioDevice(device);
            lock.lock();
            s.wake.notify_all();
        }
    };
    while (!s.quitWanted) {
        if (s.openWanted) {
            s.openWanted = false;
            closeDevice();
            lock.unlock();
            QString failure;
            SDL_AudioDeviceID device = 0;
            if (!subsystem && SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
                failure = QStringLiteral("SDL_InitSubSystem: %1").arg(SDL_GetError());
            else
                subsystem = true;
            if (subsystem) {
                SDL_AudioSpec want{};
                want.freq = s.format.rate;
                want.format = s.format.sdlFormat;
                want.channels = std::uint8_t(s.format.channels);
                want.samples = std::uint16_t(s.format.bufferFrames);
                want.callback = &AudioEngine::feed;
                want.userdata = &s;
                SDL_AudioSpec have{};
                // No changes allowed: SDL converts, so the format never changes between
                // one device and the next.
                device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
                if (device == 0)
                    failure = QStringLiteral("SDL_OpenAudioDevice: %1").arg(SDL_GetError());
            }
            lock.lock();
            s.opening = false;
            s.failure = failure;
            s.device = device;
            s.feeding = device != 0 && !s.openWanted;
            s.wake.notify_all();
            if (device != 0) {
                lock.unlock();
                SDL_PauseAudioDevice(device, 0);
                lock.lock();
            }
            continue;
        }
        if (s.device != 0 && !s.active) {
            const Clock::time_point idleAt = s.lastActive + IdleClose;
            if (Clock::now() >= idleAt) {
                closeDevice();
                continue;
            }
            s.command.wait_until(lock, idleAt);
        } else {
            s.command.wait(lock);
        }
    }
    closeDevice();
    lock.unlock();
    if (subsystem) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        // The last user of SDL lets go of everything it holds, hints included.
        if (SDL_WasInit(0) == 0)
            SDL_Quit();
    }
    // SDL keeps per-thread data (its error text) for threads it did not make until told.
    SDL_TLSCleanup();
    lock.lock();
    s.quitDone = true;
    s.wake.notify_all();
}

void AudioEngine::feed(void* shared, std::uint8_t* out, int length) {
    auto& s = *static_cast<Shared*>(shared);
    {
        std::lock_guard lock(s.mutex);
        if (s.feeding) {
            s.queue->pull(out, std::size_t(length), Clock::now());
        } else {
            std::memset(out, s.format.silence, std::size_t(length));
            return;
        }
    }
    s.wake.notify_all();
}

void AudioEngine::ensureDevice() {
    Shared& s = *m_shared;
    std::unique_lock lock(s.mutex);
    const Clock::time_point now = Clock::now();
    if (!s.queue->drained(now) || s.opening)
        return; // mid-sentence, or an open is under way already
    const bool lost = s.device != 0 && (s.queue->stalled() ||
                                        SDL_GetAudioDeviceStatus(s.device) == SDL_AUDIO_STOPPED);
    if (s.device != 0 && !lost)
        return;
    s.feeding = false;
    s.newQueue(now);
    s.openWanted = true;
    s.opening = true;
    s.command.notify_all();
}

template <typename Lock> void AudioEngine::topUp(Lock& lock) {
    SoundQueue& q = *m_shared->queue;
    while (m_streaming && !m_holdBack) {
        if (m_chunkOffset >= m_chunk.size()) {
            lock.unlock();
            const bool more = m_clip.next(m_chunk);
            lock.lock();
            m_chunkOffset = 0;
            if (!more) {
                m_chunk.clear();
                m_streaming = false;
                break;
            }
        }
        const std::size_t taken =
            q.push(m_chunk.data() + m_chunkOffset, m_chunk.size() - m_chunkOffset);
        m_chunkOffset += taken;
        m_framesQueued += std::int64_t(taken) / m_format.bytesPerFrame;
        if (m_chunkOffset < m_chunk.size())
            break; // full
    }
}

template <typename Done> bool AudioEngine::waitFor(Done done) {
    const std::uint64_t generation = m_generation;
    Shared& s = *m_shared;
    std::unique_lock lock(s.mutex);
    for (;;) {
        if (m_generation != generation)
            return false;
        topUp(lock);
        SoundQueue& q = *s.queue;
        const Clock::time_point now = Clock::now();
        if (q.checkStall(now))
            q.advance(now);
        if (done(q, now))
            return true;
        // The idle hook gets its turn every IdlePeriod however often the device wakes
        // us, so a window stays responsive (and can stop us) during a long clip.
        if (now - m_lastIdle >= IdlePeriod) {
            m_lastIdle = now;
            lock.unlock();
            idle();
            lock.lock();
            continue;
        }
        s.wake.wait_until(lock, m_lastIdle + IdlePeriod);
    }
}

void AudioEngine::endStream() {
    m_clip.close();
    m_streaming = false;
    m_holdBack = false;
    m_chunk.clear();
    m_chunkOffset = 0;
}

void AudioEngine::play(const QString& path) {
    if (m_inCall)
        return;
    if (!(m_prepared && path == m_preparedPath))
        prepare(path);
    m_prepared = false;
    // Its word is on screen now: queue what fits at once, the rest follows while the
    // next call waits.
    m_holdBack = false;
    std::unique_lock lock(m_shared->mutex);
    topUp(lock);
}

void AudioEngine::prepare(const QString& path) {
    if (m_inCall)
        return;
    m_prepared = true;
    m_preparedPath = path;
    Call call(*this);
    // The clip before goes into the queue whole before this one starts.
    if (!waitFor([this](SoundQueue&, Clock::time_point) { return !m_streaming; })) {
        endStream();
        return;
    }
    const QByteArray file = m_resolver.resolve(path);
    if (!file.isEmpty() && m_clip.open(file, m_format)) {
        ensureDevice();
        m_streaming = true;
        m_holdBack = true;
    }
    {
        std::lock_guard lock(m_shared->mutex);
        m_lastStart = m_shared->queue->beginClip();
    }
    // A clip with sound waits for a device that runs, even where nothing is queued.
    if (!waitFor([this](SoundQueue& q, Clock::time_point) {
            return q.reachesNext(m_lastStart) && (!m_streaming || q.started() || q.stalled());
        }))
        endStream();
}

void AudioEngine::drain() {
    if (m_inCall)
        return;
    Call call(*this);
    m_holdBack = false;
    if (!waitFor([this](SoundQueue& q, Clock::time_point now) {
            return !m_streaming && q.drained(now);
        }))
        endStream();
}

void AudioEngine::stop() {
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->queue->clear();
        ++m_generation;
    }
    // Outside a call nothing else uses the clip; inside one, the call lets go of it.
    if (!m_inCall)
        endStream();
    m_shared->wake.notify_all();
}

QString AudioEngine::unavailableReason() const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->failure;
}

AudioEngine::Position AudioEngine::position() const {
    std::lock_guard lock(m_shared->mutex);
    const SoundQueue& q = *m_shared->queue;
    return {q.taken(), q.lastPull(), q.queuedEnd()};
}

std::int64_t AudioEngine::framesQueued() const {
    std::lock_guard lock(m_shared->mutex);
    return m_framesQueued;
}

std::optional<SoundQueue::TimePoint> AudioEngine::startedAt(std::int64_t frame) const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->queue->startedAt(frame);
}

bool AudioEngine::deviceOpen() const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->device != 0;
}

} // namespace brumlis
