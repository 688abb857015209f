#include "brumlis/playback/audioengine.h"

#include "audiodevice.h"
#include "brumlis/audio/soundresolver.h"
#include "soundqueue.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <vector>

namespace brumlis {

namespace {

using Clock = SoundQueue::Clock;

// Sound queued ahead of the device at most: far more than any piece a device takes.
constexpr int QueueMilliseconds = 500;
// How often a sentence on a stalled device moves on.
constexpr auto PacePeriod = std::chrono::milliseconds(20);
// How long after the last frame of a sentence is due to be heard the device is told to
// stop taking sound: what it still holds is dropped then, so the margin is wide. A
// server's word on when the end is heard was seen to come up to 10 ms early.
constexpr auto PauseMargin = std::chrono::milliseconds(150);

DeviceFormat wantedFormat() {
    return DeviceFormat::of(SampleFormat::Float32, AudioEngine::WantedRate,
                            AudioEngine::WantedChannels, AudioEngine::WantedBufferFrames);
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
    std::shared_ptr<AudioDevice> device; ///< the open device, if any
    QString failure;                     ///< why the latest open failed
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
        queue = std::make_unique<SoundQueue>(format.bytesPerFrame, format.rate, format.silence,
                                             frames, now);
        return *queue;
    }

    /// Between sentences: asks for the device to be (re)opened when it is closed, lost,
    /// stalled or failed to open the last time. Called locked.
    void ensureDevice(Clock::time_point now) {
        if (opening)
            return;
        if (device && !queue->stalled() && !device->lost())
            return;
        feeding = false;
        newQueue(now);
        openWanted = true;
        opening = true;
        command.notify_all();
    }

    /// What the device takes its sound from, on its own thread.
    std::size_t take(std::uint8_t* out, std::size_t bytes, std::chrono::nanoseconds heardDelay,
                     bool pad) {
        std::lock_guard lock(mutex);
        if (!feeding) {
            if (pad)
                std::memset(out, format.silence, bytes);
            return 0;
        }
        const std::size_t given = queue->pull(out, bytes, Clock::now(), heardDelay, pad);
        poke();
        return given;
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
    Clock::time_point startedAt;
    bool stallReported = false;
    AudioDevice* playing = nullptr; ///< the device told to play for this sentence
    /// When the device is to stop taking sound, once the sentence has been heard.
    std::optional<Clock::time_point> pauseAt;
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
    bool allQueued() const { return next >= paths.size() && !streaming; }
};

AudioEngine::AudioEngine(const QString& dataDir)
    : m_format(wantedFormat())
    , m_shared(std::make_shared<Shared>(dataDir)) {
    m_shared->format = m_format;
    m_shared->listener = [this](const PlayerEvent& event) { report(event); };
}

std::unique_ptr<AudioEngine> AudioEngine::create(const QString& dataDir, FailureReport onFailure) {
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
    if (s.everOpened && !s.device) {
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
    // A frozen sound server can hold a device's close for as long as it stays frozen:
    // leave the thread to it rather than hold up the end of the program.
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
    std::unique_lock lock(s.mutex);
    auto closeDevice = [&] {
        std::shared_ptr<AudioDevice> device = std::move(s.device);
        s.feeding = false;
        if (device) {
            lock.unlock();
            device->close();
            device.reset();
            lock.lock();
            s.poke();
        }
    };
    const AudioDevice::Source source = [&s](std::uint8_t* out, std::size_t bytes,
                                            std::chrono::nanoseconds heardDelay, bool pad) {
        return s.take(out, bytes, heardDelay, pad);
    };
    while (!s.quitWanted) {
        if (s.openWanted) {
            s.openWanted = false;
            closeDevice();
            lock.unlock();
            // The sound server's own protocol where one answers, else SDL's drivers.
            QString failure;
            std::shared_ptr<AudioDevice> device;
            if (pulseWanted()) {
                device = makePulseDevice(s.format, source);
                if (!device->open(&failure))
                    device.reset();
            }
            if (!device) {
                device = makeSdlDevice(s.format, source);
                QString sdlFailure;
                if (device->open(&sdlFailure))
                    failure.clear();
                else {
                    device.reset();
                    failure = sdlFailure;
                }
            }
            lock.lock();
            const bool first = !s.everOpened;
            s.everOpened = true;
            s.opening = false;
            s.failure = failure;
            s.device = device;
            s.feeding = device && !s.openWanted;
            if (device && device->takesWhatThereIs())
                s.queue->markStarted(Clock::now());
            s.poke();
            if (!device && first && s.onFailure) {
                const FailureReport report = s.onFailure;
                lock.unlock();
                report(failure);
                lock.lock();
            }
            continue;
        }
        if (s.device && s.device->closesWhenIdle() && !s.active) {
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
    releaseSdl();
    lock.lock();
    s.deviceDone = true;
    s.done.notify_all();
}

void AudioEngine::runSpeaker(std::shared_ptr<Shared> shared) {
    Shared& s = *shared;
    // The index of a large sound folder is read now rather than at the first word
    // without an exact recording.
    s.resolver.prepare();
    Speech sp;
    std::vector<PlayerEvent> events;
    std::unique_lock lock(s.mutex);
    // Runs `call` on the device without the lock, which the device's own thread takes.
    const auto onDevice = [&](const std::shared_ptr<AudioDevice>& device, auto call) {
        lock.unlock();
        call(*device);
        lock.lock();
    };
    while (!s.quitWanted) {
        const std::uint64_t seen = s.changes;
        if (sp.request != s.request) {
            // A speak or a stop came: whatever was being spoken is over.
            if (sp.playing && s.device.get() == sp.playing) {
                // What the device still holds of it is dropped.
                const std::shared_ptr<AudioDevice> device = s.device;
                onDevice(device, [](AudioDevice& d) { d.pause(); });
            }
            sp.end();
            sp.playing = nullptr;
            sp.pauseAt.reset();
            sp.request = s.request;
            if (s.speakWanted) {
                sp.active = true;
                sp.id = s.sentence;
                sp.paths = s.paths;
                sp.next = sp.reported = 0;
                sp.startedAt = Clock::now();
                sp.stallReported = false;
                s.clipStarts.clear();
                s.ensureDevice(sp.startedAt);
            }
            continue;
        }
        const auto changed = [&] { return s.changes != seen || s.quitWanted; };
        if (!sp.active) {
            // Once the sentence has been heard, the device stops taking sound.
            if (sp.pauseAt && Clock::now() >= *sp.pauseAt) {
                sp.pauseAt.reset();
                if (s.device && s.device.get() == sp.playing) {
                    const std::shared_ptr<AudioDevice> device = s.device;
                    onDevice(device, [](AudioDevice& d) { d.pause(); });
                }
                sp.playing = nullptr;
                continue;
            }
            if (sp.pauseAt)
                s.wake.wait_until(lock, *sp.pauseAt, changed);
            else
                s.wake.wait(lock, changed);
            continue;
        }
        // A device that has come (or come back) for this sentence is told to play.
        if (s.device && s.feeding && s.device.get() != sp.playing) {
            const std::shared_ptr<AudioDevice> device = s.device;
            sp.playing = device.get();
            onDevice(device, [](AudioDevice& d) { d.play(); });
            continue;
        }
        // When to look again if nothing wakes the speaker sooner: the device's requests
        // and every speak or stop do.
        Clock::time_point deadline = Clock::time_point::max();
        const auto sentenceOver = [&] { return s.quitWanted || sp.request != s.request; };

        if (!s.device && !s.opening && s.everOpened && !s.failure.isEmpty()) {
            // No device, and none coming: heard at once, as without a sound card.
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
            const std::int64_t queuedBefore = q.queuedEnd();
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
            if (q.queuedEnd() != queuedBefore && s.device && s.device.get() == sp.playing) {
                // The device takes what has just been queued, where it can.
                const std::shared_ptr<AudioDevice> device = s.device;
                const bool last = sp.allQueued();
                onDevice(device, [last](AudioDevice& d) { d.more(last); });
                continue;
            }

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
            // A clip is reported once the device has taken its first frame, and so knows
            // when it is heard; a clip without sound at the end of the sentence, once the
            // device has taken everything.
            const bool allTaken = sp.allQueued() && q.ahead() == 0;
            const Clock::time_point end = std::max(q.endHeardAt(), sp.startedAt);
            while (sp.reported < int(s.clipStarts.size())) {
                const std::int64_t frame = s.clipStarts[std::size_t(sp.reported)];
                std::optional<Clock::time_point> heard;
                if (frame < q.taken())
                    heard = q.heardAt(frame).value_or(now);
                else if (allTaken)
                    heard = end;
                if (!heard)
                    break;
                events.push_back({PlayerEvent::Kind::ClipHeard, sp.id, sp.reported, *heard});
                ++sp.reported;
            }
            if (allTaken && sp.reported == sp.paths.size()) {
                events.push_back({PlayerEvent::Kind::AllHeard, sp.id, -1, end});
                sp.end();
                sp.pauseAt = end + PauseMargin;
                s.active = false;
                s.lastActive = end;
                s.command.notify_all(); // the idle timer starts now
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
    releaseSdlThread();
    lock.lock();
    s.speakerDone = true;
    s.done.notify_all();
}

template <typename Change> void AudioEngine::order(Change change) {
    Shared& s = *m_shared;
    {
        // What was queued is of the sentence before, which the new request number ends.
        std::lock_guard lock(s.mutex);
        s.queue->clear();
        ++s.request;
        change(s);
        s.poke();
    }
    s.command.notify_all();
}

void AudioEngine::speak(std::uint64_t sentence, const QStringList& paths) {
    order([&](Shared& s) {
        s.speakWanted = true;
        s.sentence = sentence;
        s.paths = paths;
        s.active = true;
    });
}

void AudioEngine::stop() {
    order([](Shared& s) {
        s.speakWanted = false;
        s.active = false;
        s.lastActive = Clock::now();
    });
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

std::optional<SoundClock::time_point> AudioEngine::handedOver(int clip) const {
    std::lock_guard lock(m_shared->mutex);
    if (clip < 0 || clip >= int(m_shared->clipStarts.size()))
        return std::nullopt;
    return m_shared->queue->startedAt(m_shared->clipStarts[std::size_t(clip)]);
}

bool AudioEngine::deviceOpen() const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->device != nullptr;
}

QString AudioEngine::deviceName() const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->device ? m_shared->device->name() : QString();
}

} // namespace brumlis
