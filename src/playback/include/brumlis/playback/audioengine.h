#pragma once

#include "brumlis/playback/audiodevice.h"
#include "brumlis/playback/soundplayer.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

namespace brumlis {

struct EngineState;

/// Speaks recordings through the first of the platform's outputs that opens (on Linux the
/// sound server's own protocol, PulseAudio or PipeWire through pipewire-pulse, else SDL's
/// drivers).
///
/// A thread of the engine's own, the speaker, decodes and converts each clip a chunk at a
/// time into a SoundQueue that the device drains on its own thread, keeping the queue as
/// full as it goes, so a device that takes large or irregular pieces never runs dry between
/// words. A clip is reported once the device has taken its first frame, with the time that
/// frame is heard (what the server says, or an estimate for SDL's drivers), and again when
/// the server's word on it changes before it is heard; the sentence once the device has
/// taken its last frame, with the time that is heard.
///
/// The device is opened, closed and reopened on another thread, so a sound server that is
/// slow, frozen or gone never holds up anyone: every wait on it is bounded. A device that
/// does not start, stops asking or disappears leaves the sentence going on silently at the
/// pace of its clips; the next sentence opens the device again. Where no device can be
/// opened at all, sentences are heard at once, as on a machine without sound. Between
/// sentences the server's stream is corked; an SDL device is closed after `IdleClose`
/// without speaking. Either way an idle program and its sound server both sleep.
class AudioEngine final : public SoundPlayer {
public:
    static constexpr int WantedRate = 48000;
    static constexpr int WantedChannels = 2;
    /// About 43 ms, what an SDL device is asked to take at a time. A sound server takes
    /// that as the latency it has to keep; at 21 ms PulseAudio on an idle machine still
    /// underran now and then, in the middle of a word.
    static constexpr int WantedBufferFrames = 2048;
    static constexpr auto IdleClose = std::chrono::seconds(10);
    /// Longest the destructor waits for the engine's threads before it leaves them behind.
    static constexpr auto CloseBound = std::chrono::milliseconds(300);

    /// Called once, on the engine's thread, when the first device cannot be opened.
    using FailureReport = std::function<void(const std::u16string& reason)>;

    /// Starts opening the first of `outputs` that opens and returns at once: a sentence
    /// spoken meanwhile waits for the device on the engine's threads. Recordings are looked
    /// up under `dataDir`.
    static std::unique_ptr<AudioEngine> create(const std::filesystem::path& dataDir,
                                               Outputs outputs, FailureReport onFailure = {});
    ~AudioEngine() override;

    using SoundPlayer::speak;
    void speak(std::uint64_t sentence, const std::vector<Clip>& clips) override;
    void stop() override;
    std::u16string unavailableReason() const override;

private:
    explicit AudioEngine(std::shared_ptr<EngineState> state);
    /// Hands the speaker a new request: the queue emptied, `change` made to what is
    /// asked, the speaker woken.
    template <typename Change> void order(Change change);

    std::shared_ptr<EngineState> m_state;
    std::thread m_device;
    std::thread m_speaker;
};

} // namespace brumlis
