#pragma once

#include "clipstream.h"
#include "soundplayer.h"
#include "soundresolver.h"

#include <QString>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

namespace brumlis {

/// Speaks recordings through one SDL audio device that stays open for the engine's life.
///
/// Each clip is decoded and converted a chunk at a time into a small queue that the
/// device's callback drains. `play` returns once its clip is queued and only a short
/// lookahead of it is left (about 16 ms), so the caller has time to show the next word
/// and queue its clip: consecutive clips follow each other without a single sample of
/// silence between them, and no word is shown more than 21 ms before it is heard.
class AudioEngine final : public SoundPlayer {
public:
    static constexpr int WantedRate = 48000;
    static constexpr int WantedChannels = 2;
    static constexpr int WantedBufferFrames = 256;

    /// Starts SDL's audio subsystem and opens the default output device (honouring
    /// SDL_AUDIODRIVER and friends). Null, with the reason in `error`, when there is none.
    static std::unique_ptr<AudioEngine> open(const QString& dataDir, QString* error = nullptr);
    ~AudioEngine() override;

    void play(const QString& path) override;
    void drain() override;
    void stop() override;

    const DeviceFormat& format() const { return m_format; }

    /// How far the device has got: frames it has taken so far, when it last took some, and
    /// the frame at which sound queued now would start (if the queue does not run dry).
    struct Position {
        std::int64_t frames = 0;
        std::chrono::steady_clock::time_point at;
        std::int64_t queuedEnd = 0;
    };
    Position position() const;

    /// Frames of recordings queued since the device was opened.
    std::int64_t framesQueued() const;

private:
    using Clock = std::chrono::steady_clock;

    explicit AudioEngine(const QString& dataDir);
    static void feed(void* self, std::uint8_t* out, int length);
    void fill(std::uint8_t* out, int length);

    /// Copies `bytes` into the queue, waiting for room. False when stopped meanwhile.
    bool enqueue(const std::uint8_t* data, std::size_t bytes, std::uint64_t generation);
    /// Waits, calling the idle hook, until `done` holds (checked under the lock). False
    /// when stopped meanwhile or when the device has stopped asking for sound.
    template <typename Done> bool waitFor(Done done, std::uint64_t generation);

    SoundResolver m_resolver;
    DeviceFormat m_format;
    std::uint32_t m_device = 0;
    bool m_subsystemStarted = false;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::size_t m_lookaheadBytes = 0;  ///< play returns once no more than this is queued
    std::vector<std::uint8_t> m_queue; ///< ring buffer of device-format bytes
    std::size_t m_head = 0;            ///< where the device reads next
    std::size_t m_filled = 0;
    std::int64_t m_framesPulled = 0;
    std::int64_t m_framesQueued = 0;
    std::int64_t m_requests = 0;         ///< callbacks so far
    std::int64_t m_lastDataRequest = -2; ///< the last callback that took queued sound
    Clock::time_point m_lastRequest;
    std::uint64_t m_generation = 0; ///< bumped by stop()
    Clock::time_point m_lastIdle;   ///< when a wait last called the idle hook

    ClipStream m_clip;
    std::vector<std::uint8_t> m_chunk;
};

} // namespace brumlis
