#pragma once

#include "brumlis/audio/clipstream.h"
#include "brumlis/playback/soundplayer.h"

#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

namespace brumlis {

/// Speaks recordings through the sound server (PulseAudio, or PipeWire through
/// pipewire-pulse), or through SDL's drivers where there is none.
///
/// A thread of the engine's own, the speaker, decodes and converts each clip a chunk at a
/// time into a SoundQueue that the device drains on its own thread, keeping the queue as
/// full as it goes, so a device that takes large or irregular pieces never runs dry between
/// words. A clip is reported once the device has taken its first frame, with the time that
/// frame is heard (what the server says, or an estimate for SDL's drivers), and the
/// sentence once the device has taken its last frame, with the time that is heard.
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
    /// About 43 ms. A sound server takes what a client asks for here as the latency it
    /// has to keep; at 21 ms PulseAudio on an idle machine still underran now and then,
    /// in the middle of a word, while 43 ms keeps each word's lead within 50 ms.
    static constexpr int WantedBufferFrames = 2048;
    static constexpr auto IdleClose = std::chrono::seconds(10);
    /// Longest the destructor waits for the engine's threads before it leaves them behind.
    static constexpr auto CloseBound = std::chrono::milliseconds(300);
    /// Longest open() waits for the first device.
    static constexpr auto FirstOpenWait = std::chrono::seconds(3);

    /// Called once, on the engine's thread, when the first device cannot be opened.
    using FailureReport = std::function<void(const QString& reason)>;

    /// Starts opening the default output (honouring PULSE_SERVER, SDL_AUDIODRIVER and
    /// friends) and returns at once: a sentence spoken meanwhile waits for the device on the
    /// engine's threads.
    static std::unique_ptr<AudioEngine> create(const QString& dataDir,
                                               FailureReport onFailure = {});
    /// create(), then waits up to FirstOpenWait for the device. Null, with the reason in
    /// `error`, when it could not be opened.
    static std::unique_ptr<AudioEngine> open(const QString& dataDir, QString* error = nullptr);
    ~AudioEngine() override;

    void speak(std::uint64_t sentence, const QStringList& paths) override;
    void stop() override;
    QString unavailableReason() const override;

    const DeviceFormat& format() const { return m_format; }

    /// How far the device has got in the current queue: frames it has taken, when it last
    /// asked, and the frame at which sound queued now would start.
    struct Position {
        std::int64_t frames = 0;
        SoundClock::time_point at;
        std::int64_t queuedEnd = 0;
    };
    Position position() const;
    /// Frames of recordings queued since the engine was made.
    std::int64_t framesQueued() const;
    /// When the device took the first frame of clip `clip` of the sentence now or last
    /// spoken (empty until it has).
    std::optional<SoundClock::time_point> handedOver(int clip) const;
    /// True while a device is open.
    bool deviceOpen() const;
    /// What the open device is ("PulseAudio", "SDL pipewire"); empty without one.
    QString deviceName() const;

private:
    struct Shared;
    struct Speech;

    explicit AudioEngine(const QString& dataDir);
    /// The device thread: opens, closes and reopens the device.
    static void runDevice(std::shared_ptr<Shared> shared);
    /// The speaker thread: queues the sentence's sound and reports how far it got.
    static void runSpeaker(std::shared_ptr<Shared> shared);
    /// Hands the speaker a new request: the queue emptied, `change` made to what is
    /// asked, the speaker woken.
    template <typename Change> void order(Change change);

    DeviceFormat m_format;
    std::shared_ptr<Shared> m_shared;
    std::thread m_device;
    std::thread m_speaker;
};

} // namespace brumlis
