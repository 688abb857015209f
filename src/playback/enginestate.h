#pragma once

#include "brumlis/playback/audiodevice.h"
#include "brumlis/playback/audioengine.h"
#include "brumlis/sentence/fileresolver.h"
#include "soundqueue.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace brumlis {

/// What the audio engine, its two threads and the device's callbacks share. Each thread
/// owns a reference, so a thread left behind at exit never touches freed memory.
struct EngineState {
    using Clock = SoundQueue::Clock;

    EngineState(const std::filesystem::path& dataDir, Outputs outputs);

    const FileResolver resolver;
    const Outputs outputs;
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
    std::u16string failure;              ///< why the latest open failed
    std::chrono::nanoseconds lead{};     ///< of the open device: see AudioDevice::lead()
    AudioEngine::FailureReport onFailure;

    // What the speaker is asked to do: a request number that changes with every speak or
    // stop, and the sentence of the latest speak.
    std::uint64_t request = 0;
    bool speakWanted = false;
    std::uint64_t sentence = 0;
    std::vector<Clip> clips;
    std::uint64_t changes = 0;            ///< counts every poke()
    std::vector<std::int64_t> clipStarts; ///< of the sentence now or last spoken

    // Where the events go; cleared by the engine's destructor, so that a thread left
    // behind reports to nobody.
    std::mutex listenerMutex;
    SoundPlayer::Listener listener;

    /// Something the speaker waits for has happened: the device took sound or learnt when
    /// it is heard, a device came or went, a request came. Counted, so that a change made
    /// while the speaker was busy is not slept through. Called locked.
    void poke();
    SoundQueue& newQueue(Clock::time_point now);
    /// Between sentences: asks for the device to be (re)opened when it is closed, lost,
    /// stalled or failed to open the last time. Called locked.
    void ensureDevice(Clock::time_point now);
    /// What the device takes its sound from, on its own thread.
    std::size_t take(std::uint8_t* out, std::size_t bytes, std::chrono::nanoseconds heardDelay,
                     std::int64_t streamFrame, bool pad);
    /// What the device says once it knows when its frames are heard.
    void anchor(std::int64_t streamFrame, Clock::time_point heard);
    void deliver(const std::vector<PlayerEvent>& events);
};

/// The device thread: opens, closes and reopens the device.
void runDeviceThread(std::shared_ptr<EngineState> state);
/// The speaker thread: queues each sentence's sound and reports how far it got.
void runSpeakerThread(std::shared_ptr<EngineState> state);

} // namespace brumlis
