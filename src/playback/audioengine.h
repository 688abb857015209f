#pragma once

#include "clipstream.h"
#include "soundplayer.h"
#include "soundqueue.h"
#include "soundresolver.h"

#include <QString>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace brumlis {

/// Speaks recordings through an SDL audio device.
///
/// Each clip is decoded and converted a chunk at a time into a SoundQueue that the
/// device's callback drains; the queue is kept as full as it goes, so a device that takes
/// large or irregular pieces never runs dry between words. `play` queues its clip behind
/// the one before and returns when the device's next piece reaches the clip's first frame:
/// the caller shows the word then, just before it is heard.
///
/// The device is opened, closed and reopened on a thread of its own, so a sound server
/// that is slow, frozen or gone never holds up the window: every wait on it is bounded.
/// A device that does not start, stops asking or disappears leaves the sentence going on
/// silently at the pace of its clips; the next sentence opens the device again. After
/// `IdleClose` without speaking the device is closed, so an idle program and its sound
/// server both sleep.
class AudioEngine final : public SoundPlayer {
public:
    static constexpr int WantedRate = 48000;
    static constexpr int WantedChannels = 2;
    /// About 43 ms. A sound server takes what a client asks for here as the latency it
    /// has to keep; at 21 ms PulseAudio on an idle machine still underran now and then,
    /// in the middle of a word, while 43 ms keeps each word's lead within 50 ms.
    static constexpr int WantedBufferFrames = 2048;
    static constexpr auto IdleClose = std::chrono::seconds(10);
    /// Longest the destructor waits for the device to close before it gives up on it.
    static constexpr auto CloseBound = std::chrono::milliseconds(300);

    /// Starts opening the default output device (honouring SDL_AUDIODRIVER and friends)
    /// and waits a few seconds at most for the outcome. Null, with the reason in `error`,
    /// when opening failed; an engine whose device is still opening otherwise.
    static std::unique_ptr<AudioEngine> open(const QString& dataDir, QString* error = nullptr);
    ~AudioEngine() override;

    void play(const QString& path) override;
    void prepare(const QString& path) override;
    void drain() override;
    void stop() override;
    QString unavailableReason() const override;

    const DeviceFormat& format() const { return m_format; }

    /// How far the device has got in the current queue: frames it has taken, when it last
    /// asked, and the frame at which sound queued now would start.
    struct Position {
        std::int64_t frames = 0;
        SoundQueue::TimePoint at;
        std::int64_t queuedEnd = 0;
    };
    Position position() const;

    /// Frames of recordings queued since the engine was made.
    std::int64_t framesQueued() const;
    /// Where the clip of the latest `play` starts in the current queue, and when that
    /// frame was handed to the device (empty until it has been).
    std::int64_t lastClipStart() const { return m_lastStart; }
    std::optional<SoundQueue::TimePoint> startedAt(std::int64_t frame) const;
    /// True while an SDL device is open.
    bool deviceOpen() const;

private:
    struct Shared;

    explicit AudioEngine(const QString& dataDir);
    static void feed(void* shared, std::uint8_t* out, int length);
    static void run(std::shared_ptr<Shared> shared);

    /// Between sentences: (re)opens the device when it is closed, lost or stalled.
    void ensureDevice();
    /// Moves as much of the streaming clip into the queue as fits. Called locked.
    template <typename Lock> void topUp(Lock& lock);
    /// Waits, topping up the queue and calling the idle hook, until `done(queue, now)`
    /// holds. False when stopped meanwhile.
    template <typename Done> bool waitFor(Done done);
    void endStream();

    /// Marks a call in progress for its life: re-entry from the idle hook is refused,
    /// and the device is not closed as idle meanwhile.
    class Call;

    SoundResolver m_resolver;
    DeviceFormat m_format;
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;

    bool m_inCall = false;
    std::uint64_t m_generation = 0; ///< bumped by stop()
    SoundQueue::TimePoint m_lastIdle;
    ClipStream m_clip;
    bool m_streaming = false; ///< m_clip has frames not yet queued
    bool m_holdBack = false;  ///< prepared, but not to be queued before its word is shown
    std::vector<std::uint8_t> m_chunk;
    std::size_t m_chunkOffset = 0;
    std::int64_t m_lastStart = 0;
    bool m_prepared = false; ///< the latest clip was queued by prepare, not yet played
    QString m_preparedPath;
    std::int64_t m_framesQueued = 0;
};

} // namespace brumlis
