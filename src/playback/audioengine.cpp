#include "brumlis/playback/audioengine.h"

#include "enginestate.h"

#include <algorithm>
#include <cstring>

namespace brumlis {

namespace {

using Clock = EngineState::Clock;

// Sound queued ahead of the device at most: far more than any piece a device takes.
constexpr int QueueMilliseconds = 500;

DeviceFormat wantedFormat() {
    return DeviceFormat::of(SampleFormat::Float32, AudioEngine::WantedRate,
                            AudioEngine::WantedChannels, AudioEngine::WantedBufferFrames);
}

} // namespace

EngineState::EngineState(const std::filesystem::path& dataDir, Outputs kinds)
    : resolver(dataDir)
    , outputs(std::move(kinds))
    , format(wantedFormat()) {}

void EngineState::poke() {
    ++changes;
    wake.notify_all();
}

SoundQueue& EngineState::newQueue(Clock::time_point now) {
    const std::size_t frames = std::max<std::size_t>(
        std::size_t(format.rate) * QueueMilliseconds / 1000, 8u * format.bufferFrames);
    queue = std::make_unique<SoundQueue>(format.bytesPerFrame, format.rate, format.silence, frames,
                                         now);
    return *queue;
}

void EngineState::ensureDevice(Clock::time_point now) {
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

std::size_t EngineState::take(std::uint8_t* out, std::size_t bytes,
                              std::chrono::nanoseconds heardDelay, std::int64_t streamFrame,
                              bool pad) {
    std::lock_guard lock(mutex);
    if (!feeding) {
        if (pad)
            std::memset(out, format.silence, bytes);
        return 0;
    }
    const std::size_t given = queue->pull(out, bytes, Clock::now(), heardDelay, pad, streamFrame);
    poke();
    return given;
}

void EngineState::anchor(std::int64_t streamFrame, Clock::time_point heard) {
    std::lock_guard lock(mutex);
    if (feeding && queue->anchor(streamFrame, heard))
        poke();
}

void EngineState::deliver(const std::vector<PlayerEvent>& events) {
    std::lock_guard lock(listenerMutex);
    if (listener)
        for (const PlayerEvent& event : events)
            listener(event);
}

AudioEngine::AudioEngine(std::shared_ptr<EngineState> state)
    : m_state(std::move(state)) {
    m_state->listener = [this](const PlayerEvent& event) { report(event); };
}

std::unique_ptr<AudioEngine> AudioEngine::create(const std::filesystem::path& dataDir,
                                                 Outputs outputs, FailureReport onFailure) {
    auto state = std::make_shared<EngineState>(dataDir, std::move(outputs));
    std::unique_ptr<AudioEngine> engine(new AudioEngine(state));
    std::lock_guard lock(state->mutex);
    state->onFailure = std::move(onFailure);
    state->newQueue(Clock::now());
    state->openWanted = true;
    state->opening = true;
    engine->m_device = std::thread(&runDeviceThread, state);
    engine->m_speaker = std::thread(&runSpeakerThread, state);
    return engine;
}

AudioEngine::~AudioEngine() {
    EngineState& s = *m_state;
    {
        // Whatever is left behind reports to nobody from here on.
        std::lock_guard lock(s.listenerMutex);
        s.listener = {};
    }
    std::unique_lock lock(s.mutex);
    s.quitWanted = true;
    s.command.notify_all();
    s.poke();
    // A device that stopped answering can hold its close for as long as it does (an SDL
    // driver on a frozen server): leave the thread to it rather than hold up the end of
    // the program.
    s.done.wait_for(lock, CloseBound, [&] { return s.deviceDone && s.speakerDone; });
    const bool deviceDone = s.deviceDone, speakerDone = s.speakerDone;
    lock.unlock();
    deviceDone ? m_device.join() : m_device.detach();
    speakerDone ? m_speaker.join() : m_speaker.detach();
    if (!deviceDone || !speakerDone)
        g_soundAbandoned = true;
}

void runDeviceThread(std::shared_ptr<EngineState> state) {
    EngineState& s = *state;
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
                                            std::chrono::nanoseconds heardDelay,
                                            std::int64_t streamFrame, bool pad) {
        return s.take(out, bytes, heardDelay, streamFrame, pad);
    };
    const AudioDevice::Anchor anchor = [&s](std::int64_t streamFrame, Clock::time_point heard) {
        s.anchor(streamFrame, heard);
    };
    while (!s.quitWanted) {
        if (s.openWanted) {
            s.openWanted = false;
            closeDevice();
            lock.unlock();
            // The platform's outputs in their order (on Linux the sound server's own protocol
            // where one answers, else SDL's drivers); the first that opens is kept, and the
            // last one's failure is what is told.
            std::u16string failure = u"ingen ljudutgång";
            std::shared_ptr<AudioDevice> device;
            for (const OutputKind& kind : s.outputs.kinds) {
                failure.clear();
                device = kind.make(s.format, source, anchor);
                if (device && device->open(&failure))
                    break;
                device.reset();
            }
            if (device)
                failure.clear();
            lock.lock();
            const bool first = !s.everOpened;
            s.everOpened = true;
            s.opening = false;
            s.failure = failure;
            s.device = device;
            s.lead = device ? device->lead() : std::chrono::nanoseconds{};
            s.feeding = device && !s.openWanted;
            if (device && device->takesWhatThereIs())
                s.queue->markStarted(Clock::now());
            s.poke();
            if (!device && first && s.onFailure) {
                const AudioEngine::FailureReport report = s.onFailure;
                lock.unlock();
                report(failure);
                lock.lock();
            }
            continue;
        }
        if (s.device && s.device->closesWhenIdle() && !s.active) {
            const Clock::time_point idleAt = s.lastActive + AudioEngine::IdleClose;
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
    if (s.outputs.engineEnds)
        s.outputs.engineEnds();
    if (s.outputs.threadEnds)
        s.outputs.threadEnds();
    lock.lock();
    s.deviceDone = true;
    s.done.notify_all();
}

template <typename Change> void AudioEngine::order(Change change) {
    EngineState& s = *m_state;
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

void AudioEngine::speak(std::uint64_t sentence, const std::vector<Clip>& clips) {
    order([&](EngineState& s) {
        s.speakWanted = true;
        s.sentence = sentence;
        s.clips = clips;
        s.active = true;
    });
}

void AudioEngine::stop() {
    order([](EngineState& s) {
        s.speakWanted = false;
        s.active = false;
        s.lastActive = Clock::now();
    });
}

std::u16string AudioEngine::unavailableReason() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->failure;
}

} // namespace brumlis
