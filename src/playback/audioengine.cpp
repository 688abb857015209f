#include "audioengine.h"

#include "soundresolver.h"

#include <SDL.h>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <dlfcn.h>
#include <mutex>
#include <vector>

namespace brumlis {

namespace {

using Clock = SoundQueue::Clock;

// Sound queued ahead of the device at most: far more than any piece a device takes.
constexpr int QueueMilliseconds = 500;
// How often a sentence on a stalled device moves on.
constexpr auto PacePeriod = std::chrono::milliseconds(20);

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

/// What the engine, its two threads and the device's callback share. Each thread owns a
/// reference, so a thread left behind at exit never touches freed memory.
struct AudioEngine::Shared {
    explicit Shared(const QString& dataDir)
        : resolver(dataDir) {}

    const SoundResolver resolver;
    std::mutex mutex;
    std::condition_variable wake;    ///< wakes the speaker: see poke()
    std::condition_variable command; ///< wakes the device thread
    std::condition_variable done;    ///< a thread has ended
    DeviceFormat format;
    std::unique_ptr<SoundQueue> queue; ///< a new one for every device opened
    bool feeding = false;              ///< the open device takes from `queue`
    bool openWanted = false;
    bool opening = false;
    bool everOpened = false; ///< the first open has ended, one way or the other
    bool quitWanted = false;
    bool deviceDone = false;
    bool speakerDone = false;
    bool active = false; ///< a sentence is being spoken
    Clock::time_point lastActive = Clock::now();
    SDL_AudioDeviceID device = 0;
    QString failure; ///< why the latest open failed
    FailureReport onFailure;

    // What the speaker is asked to do: a request number that changes with every speak or
    // stop, and the sentence of the latest speak.
    std::uint64_t request = 0;
    bool speakWanted = false;
    std::uint64_t sentence = 0;
    QStringList paths;
    std::int64_t framesQueued = 0;
    std::uint64_t changes = 0;            ///< counts every poke()
    std::vector<std::int64_t> clipStarts; ///< of the sentence now or last spoken

    // Where the events go; cleared by the engine's destructor, so that a thread left
    // behind reports to nobody.
    std::mutex listenerMutex;
    std::function<void(const PlayerEvent&)> listener;

    /// Something the speaker waits for has happened: the device took sound, a device came
    /// or went, a request came. Counted, so that a change made while the speaker was busy
    /// is not slept through. Called locked.
    void poke() {
        ++changes;
        wake.notify_all();
    }

    SoundQueue& newQueue(Clock::time_point now) {
        const std::size_t frames = std::max<std::size_t>(
            std::size_t(format.rate) * QueueMilliseconds / 1000, 8u * format.bufferFrames);
        queue = std::make_unique<SoundQueue>(format.bytesPerFrame, format.rate, format.bufferFrames,
                                             format.silence, frames, now);
        return *queue;
    }

    /// Between sentences: asks for the device to be (re)opened when it is closed, lost,
    /// stalled or failed to open the last time. Called locked.
    void ensureDevice(Clock::time_point now) {
        if (opening)
            return;
        const bool lost = device != 0 && (queue->stalled() ||
                                          SDL_GetAudioDeviceStatus(device) == SDL_AUDIO_STOPPED);
        if (device != 0 && !lost)
            return;
        feeding = false;
        newQueue(now);
        openWanted = true;
        opening = true;
        command.notify_all();
    }

    void deliver(const std::vector<PlayerEvent>& events) {
        std::lock_guard lock(listenerMutex);
        if (listener)
            for (const PlayerEvent& event : events)
                listener(event);
    }
};

/// The sentence the speaker works on. Only the speaker thread touches it.
struct AudioEngine::Speech {
    std::uint64_t request = 0;
    bool active = false;
    std::uint64_t id = 0;
    QStringList paths;
    int next = 0;     ///< the clip to open next
    int reported = 0; ///< clips reported as heard
    std::vector<bool> hasSound;
    bool stallReported = false;
    ClipStream clip;
    bool streaming = false; ///< `clip` has frames not yet queued
    std::vector<std::uint8_t> chunk;
    std::size_t chunkOffset = 0;

    void end() {
        clip.close();
        active = streaming = false;
        chunk.clear();
        chunkOffset = 0;
    }
};

AudioEngine::AudioEngine(const QString& dataDir)
    : m_format(wantedFormat())
    , m_shared(std::make_shared<Shared>(dataDir)) {
    m_shared->format = m_format;
    m_shared->listener = [this](const PlayerEvent& event) { report(event); };
}

std::unique_ptr<AudioEngine> AudioEngine::create(const QString& dataDir, FailureReport onFailure) {
    // SDL would otherwise turn Ctrl+C into an event nobody reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Brumlis");
    quietAlsa();
    std::unique_ptr<AudioEngine> engine(new AudioEngine(dataDir));
    Shared& s = *engine->m_shared;
    std::lock_guard lock(s.mutex);
    s.onFailure = std::move(onFailure);
    s.newQueue(Clock::now());
    s.openWanted = true;
    s.opening = true;
    engine->m_device = std::thread(&AudioEngine::runDevice, engine->m_shared);
    engine->m_speaker = std::thread(&AudioEngine::runSpeaker, engine->m_shared);
    return engine;
}

std::unique_ptr<AudioEngine> AudioEngine::open(const QString& dataDir, QString* error) {
    std::unique_ptr<AudioEngine> engine = create(dataDir);
    Shared& s = *engine->m_shared;
    std::unique_lock lock(s.mutex);
    s.wake.wait_for(lock, FirstOpenWait, [&] { return s.everOpened; });
    if (s.everOpened && s.device == 0) {
        if (error)
            *error = s.failure;
        lock.unlock();
        return nullptr;
    }
    return engine;
}

AudioEngine::~AudioEngine() {
    Shared& s = *m_shared;
    {
        // Whatever is left behind reports to nobody from here on.
        std::lock_guard lock(s.listenerMutex);
        s.listener = {};
    }
    std::unique_lock lock(s.mutex);
    s.quitWanted = true;
    s.command.notify_all();
    s.poke();
    // A frozen sound server holds SDL's close for as long as it stays frozen: leave the
    // thread to it rather than hold up the end of the program.
    s.done.wait_for(lock, CloseBound, [&] { return s.deviceDone && s.speakerDone; });
    const bool deviceDone = s.deviceDone, speakerDone = s.speakerDone;
    lock.unlock();
    deviceDone ? m_device.join() : m_device.detach();
    speakerDone ? m_speaker.join() : m_speaker.detach();
    if (!deviceDone || !speakerDone)
        g_soundAbandoned = true;
}

void AudioEngine::runDevice(std::shared_ptr<Shared> shared) {
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
            s.poke();
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
            const bool first = !s.everOpened;
            s.everOpened = true;
            s.opening = false;
            s.failure = failure;
            s.device = device;
            s.feeding = device != 0 && !s.openWanted;
            s.poke();
            if (device != 0) {
                lock.unlock();
                SDL_PauseAudioDevice(device, 0);
                lock.lock();
            } else if (first && s.onFailure) {
                const FailureReport report = s.onFailure;
                lock.unlock();
                report(failure);
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
    s.deviceDone = true;
    s.done.notify_all();
}

void AudioEngine::feed(void* shared, std::uint8_t* out, int length) {
    auto& s = *static_cast<Shared*>(shared);
    std::lock_guard lock(s.mutex);
    if (s.feeding) {
        s.queue->pull(out, std::size_t(length), Clock::now());
        s.poke();
    } else {
        std::memset(out, s.format.silence, std::size_t(length));
    }
}

void AudioEngine::runSpeaker(std::shared_ptr<Shared> shared) {
    Shared& s = *shared;
    // The index of a large sound folder is read now rather than at the first word
    // without an exact recording.
    s.resolver.prepare();
    Speech sp;
    std::vector<PlayerEvent> events;
    std::unique_lock lock(s.mutex);
    while (!s.quitWanted) {
        const std::uint64_t seen = s.changes;
        if (sp.request != s.request) {
            // A speak or a stop came: whatever was being spoken is over.
            sp.end();
            sp.request = s.request;
            if (s.speakWanted) {
                sp.active = true;
                sp.id = s.sentence;
                sp.paths = s.paths;
                sp.next = sp.reported = 0;
                sp.hasSound.clear();
                sp.stallReported = false;
                s.clipStarts.clear();
                s.ensureDevice(Clock::now());
            }
        }
        const auto changed = [&] { return s.changes != seen || s.quitWanted; };
        if (!sp.active) {
            s.wake.wait(lock, changed);
            continue;
        }
        // When to look again if nothing wakes the speaker sooner: the device's requests
        // and every speak or stop do.
        Clock::time_point deadline = Clock::time_point::max();
        const auto sentenceOver = [&] { return s.quitWanted || sp.request != s.request; };

        // No device, and none coming: heard at once, as without a sound card.
        if (s.device == 0 && !s.opening && s.everOpened && !s.failure.isEmpty()) {
            const Clock::time_point now = Clock::now();
            for (int k = sp.reported; k < sp.paths.size(); ++k)
                events.push_back({PlayerEvent::Kind::ClipHeard, sp.id, k, now});
            events.push_back({PlayerEvent::Kind::AllHeard, sp.id, -1, now});
            sp.end();
            s.active = false;
            s.lastActive = now;
        } else {
            SoundQueue& q = *s.queue;
            // Open the clips in turn and queue as much of their sound as fits. Each clip
            // goes into the queue whole before the next one starts.
            while (!sentenceOver()) {
                if (!sp.streaming) {
                    if (sp.next >= sp.paths.size())
                        break;
                    s.clipStarts.push_back(q.beginClip());
                    const QString path = sp.paths[sp.next++];
                    lock.unlock();
                    const QByteArray file =
                        path.isEmpty() ? QByteArray() : s.resolver.resolve(path);
                    const bool opened = !file.isEmpty() && sp.clip.open(file, s.format);
                    lock.lock();
                    sp.hasSound.push_back(opened);
                    sp.streaming = opened;
                    continue;
                }
                if (sp.chunkOffset < sp.chunk.size()) {
                    const std::size_t taken =
                        q.push(sp.chunk.data() + sp.chunkOffset, sp.chunk.size() - sp.chunkOffset);
                    sp.chunkOffset += taken;
                    s.framesQueued += std::int64_t(taken) / s.format.bytesPerFrame;
                    if (sp.chunkOffset < sp.chunk.size())
                        break; // full, or the device has not started yet
                }
                lock.unlock();
                const bool more = sp.clip.next(sp.chunk);
                lock.lock();
                sp.chunkOffset = 0;
                if (!more) {
                    sp.chunk.clear();
                    sp.streaming = false;
                }
            }
            if (sentenceOver())
                continue;

            const Clock::time_point now = Clock::now();
            if (q.checkStall(now)) {
                if (!sp.stallReported) {
                    sp.stallReported = true;
                    events.push_back({PlayerEvent::Kind::Stalled, sp.id, -1, now});
                }
                q.advance(now);
                deadline = now + PacePeriod;
            } else {
                deadline = std::min(deadline, q.stallDeadline());
            }
            // A clip is about to be heard once the device's next piece reaches its first
            // frame; a clip with sound also waits for a device that runs.
            while (sp.reported < int(s.clipStarts.size())) {
                const int k = sp.reported;
                const bool due = q.reachesNext(s.clipStarts[std::size_t(k)]) &&
                                 (!sp.hasSound[std::size_t(k)] || q.started() || q.stalled());
                if (!due)
                    break;
                events.push_back({PlayerEvent::Kind::ClipHeard, sp.id, k, now});
                ++sp.reported;
            }
            const bool allQueued = sp.next >= sp.paths.size() && !sp.streaming;
            if (allQueued && sp.reported == sp.paths.size() && q.ahead() == 0) {
                if (q.drained(now)) {
                    events.push_back({PlayerEvent::Kind::AllHeard, sp.id, -1, now});
                    sp.end();
                    s.active = false;
                    s.lastActive = now;
                    s.command.notify_all(); // the idle timer starts now
                } else {
                    deadline = std::min(deadline, q.drainedAt());
                }
            }
        }
        if (!events.empty()) {
            lock.unlock();
            s.deliver(events);
            events.clear();
            lock.lock();
            continue;
        }
        if (!sp.active || sentenceOver())
            continue;
        if (deadline == Clock::time_point::max())
            s.wake.wait(lock, changed);
        else
            s.wake.wait_until(lock, deadline, changed);
    }
    sp.end();
    lock.unlock();
    SDL_TLSCleanup();
    lock.lock();
    s.speakerDone = true;
    s.done.notify_all();
}

void AudioEngine::speak(std::uint64_t sentence, const QStringList& paths) {
    Shared& s = *m_shared;
    {
        std::lock_guard lock(s.mutex);
        s.queue->clear();
        ++s.request;
        s.speakWanted = true;
        s.sentence = sentence;
        s.paths = paths;
        s.active = true;
        s.poke();
    }
    s.command.notify_all();
}

void AudioEngine::stop() {
    Shared& s = *m_shared;
    {
        std::lock_guard lock(s.mutex);
        s.queue->clear();
        ++s.request;
        s.speakWanted = false;
        s.active = false;
        s.lastActive = Clock::now();
        s.poke();
    }
    s.command.notify_all();
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
    return m_shared->framesQueued;
}

std::optional<SoundQueue::TimePoint> AudioEngine::handedOver(int clip) const {
    std::lock_guard lock(m_shared->mutex);
    if (clip < 0 || clip >= int(m_shared->clipStarts.size()))
        return std::nullopt;
    return m_shared->queue->startedAt(m_shared->clipStarts[std::size_t(clip)]);
}

bool AudioEngine::deviceOpen() const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->device != 0;
}

} // namespace brumlis
