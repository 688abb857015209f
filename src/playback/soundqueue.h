#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace brumlis {

/// The sound queued ahead of an audio device, and what is known about how the device
/// takes it.
///
/// Knows nothing of SDL: the device's callback calls `pull`, the speaking side pushes
/// clips and asks when each one starts. Every call that depends on time is given the time,
/// so the bookkeeping can be driven by any pattern of requests, real or made up.
///
/// Positions count frames of recordings queued since the queue was made; silence the
/// device is given when nothing is queued does not count.
class SoundQueue {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;

    /// A desktop sound server may take seconds to start a new stream: a device that has
    /// not asked for sound this long after it was opened counts as stalled.
    static constexpr auto StartLimit = std::chrono::milliseconds(5000);
    /// A device that asked before and then stops asking this long counts as stalled. A
    /// busy PulseAudio may take a stream's first pieces and then pause for a second or
    /// more before it really runs, which is not a lost device.
    static constexpr auto StallLimit = std::chrono::milliseconds(3000);
    static constexpr int PacedPulls = 2;
    /// More requests in a row than a server's first burst ever holds.
    static constexpr int BurstPulls = 16;
    /// The request at which a device that asks at an even pace from the first counts as
    /// started.
    static constexpr int StartPulls = PacedPulls + 1;

    /// `requestFrames` is the piece size the device was asked to take; the pieces it
    /// really takes may be larger, and are measured as they come.
    SoundQueue(int bytesPerFrame, int rate, int requestFrames, std::uint8_t silence,
               std::size_t capacityFrames, TimePoint openedAt);

    // --- the speaking side

    /// Marks the start of the next clip at the end of what is queued; returns its frame.
    std::int64_t beginClip();
    /// Copies as much of `data` as fits (whole frames); returns the bytes taken. Takes
    /// nothing before the device has started (or stalled).
    std::size_t push(const std::uint8_t* data, std::size_t bytes);
    /// Frames queued and not yet taken.
    std::int64_t ahead() const { return m_queuedEnd - m_taken; }
    bool full() const { return m_filled + std::size_t(m_bytesPerFrame) > m_ring.size(); }

    /// True once the device's next piece will reach `frame` (or it already has): the
    /// moment to show the word whose clip starts there, and only then to queue the clip,
    /// so the word is on screen before its first frame can go out. That leaves the time
    /// of one piece to queue it before the device needs it. Never before the device has
    /// started, as the time of its next request is anyone's guess until then.
    bool reachesNext(std::int64_t frame) const;
    /// When the frame a clip started at was handed to the device (or given up on).
    std::optional<TimePoint> startedAt(std::int64_t frame) const;
    /// Everything queued has been taken and the device has had time to play it out.
    bool drained(TimePoint now) const;
    /// When drained() will hold if nothing more is queued.
    TimePoint drainedAt() const;
    /// Drops everything not yet taken.
    void clear();

    /// Checks the device against the limits above (call while waiting on it). Once
    /// stalled, the queue stays so: the device gets silence, and `advance` plays the queue
    /// into nothing at the pace of its clips, so a sentence still ends in its own time.
    bool checkStall(TimePoint now);
    bool stalled() const { return m_stalled; }
    /// When checkStall() will first say so if the device asks for nothing more.
    TimePoint stallDeadline() const;
    void advance(TimePoint now);

    // --- the device side

    /// Fills `out` with `bytes` of queued sound, silence for whatever is missing.
    void pull(std::uint8_t* out, std::size_t bytes, TimePoint now);

    // --- figures
    std::int64_t queuedEnd() const { return m_queuedEnd; }
    std::int64_t taken() const { return m_taken; }
    int largestPiece() const { return m_largestPiece; }
    /// The device asks at its pace. A sound server may take a piece or a few at once
    /// when the stream opens and then nothing for seconds: sound queued before it really
    /// runs would be cut in two by that wait, so nothing is queued until it has asked
    /// twice at least half a piece's time after the request before.
    /// A device that keeps asking faster than that (a file written as fast as it goes)
    /// runs as well.
    bool started() const { return m_pacedPulls >= PacedPulls || m_pulls >= BurstPulls; }
    TimePoint lastPull() const { return m_lastPull; }

private:
    /// Moves `frames` from the front of the ring to `out` (or nowhere), noting clip starts.
    void take(std::uint8_t* out, std::int64_t frames, TimePoint now);
    /// The device's own latency: what it still has to play after it took a frame.
    Clock::duration latency() const;

    int m_bytesPerFrame;
    int m_rate;
    int m_requestFrames;
    std::uint8_t m_silence;
    TimePoint m_openedAt;

    std::vector<std::uint8_t> m_ring;
    std::size_t m_head = 0;
    std::size_t m_filled = 0;
    std::int64_t m_queuedEnd = 0;
    std::int64_t m_taken = 0;

    std::int64_t m_pulls = 0;
    int m_pacedPulls = 0;
    int m_largestPiece = 0;
    TimePoint m_lastPull;
    TimePoint m_lastTakenAt; ///< when the last queued frame so far was taken
    bool m_tookAny = false;

    bool m_stalled = false;
    TimePoint m_advancedTo;

    struct ClipStart {
        std::int64_t frame;
        std::optional<TimePoint> at;
    };
    std::deque<ClipStart> m_starts; ///< the latest clips, oldest first
};

} // namespace brumlis
