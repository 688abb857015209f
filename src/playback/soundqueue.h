#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace brumlis {

/// The sound queued ahead of an audio device, and what is known about how the device
/// takes it and when what it took is heard.
///
/// Knows nothing of any sound library: the device's thread calls `pull`, the speaking
/// side pushes clips and asks when each one is heard. Every call that depends on time is
/// given the time, so the bookkeeping can be driven by any pattern of requests, real or
/// made up.
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

    SoundQueue(int bytesPerFrame, int rate, std::uint8_t silence, std::size_t capacityFrames,
               TimePoint openedAt);

    // --- the speaking side

    /// Marks the start of the next clip at the end of what is queued; returns its frame.
    std::int64_t beginClip();
    /// Copies as much of `data` as fits (whole frames); returns the bytes taken. Takes
    /// nothing before the device has started (or stalled).
    std::size_t push(const std::uint8_t* data, std::size_t bytes);
    /// Frames queued and not yet taken.
    std::int64_t ahead() const { return m_queuedEnd - m_taken; }
    bool full() const { return m_filled + std::size_t(m_bytesPerFrame) > m_ring.size(); }

    /// When `frame` is heard, once the device has taken it: the time of the request that
    /// took it, plus what the device said was still to be heard before that request's
    /// first frame, plus the frame's place in the request.
    std::optional<TimePoint> heardAt(std::int64_t frame) const;
    /// When the frame a clip started at was handed to the device (or given up on).
    std::optional<TimePoint> startedAt(std::int64_t frame) const;
    /// When everything taken so far has been heard to its end.
    TimePoint endHeardAt() const { return m_endHeard; }
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

    /// Hands over up to `bytes` of queued sound at `now`; the first of it will be heard
    /// `heardDelay` later, and is the device's frame `streamFrame` (-1: it does not count). With
    /// `pad`, `out` is filled to `bytes` with silence for whatever is missing (a device that must
    /// be given a whole piece); without, only what is queued is given. Returns the bytes of queued
    /// sound given.
    std::size_t pull(std::uint8_t* out, std::size_t bytes, TimePoint now,
                     Clock::duration heardDelay = {}, bool pad = true,
                     std::int64_t streamFrame = -1);
    /// The device has learnt that its frame `streamFrame` (as it numbered the frames it
    /// pulled) is heard at `heard`: every clip start and the end it took with a number are
    /// heard accordingly. Returns whether any of them moved.
    bool anchor(std::int64_t streamFrame, TimePoint heard);
    /// The device takes sound as soon as it runs, without a first burst to wait out; it is
    /// ready at `now`, and counts as stalled once it has asked for nothing for StallLimit.
    void markStarted(TimePoint now) {
        m_startsAtOnce = true;
        if (m_pulls == 0)
            m_lastPull = now;
    }

    // --- figures
    std::int64_t queuedEnd() const { return m_queuedEnd; }
    std::int64_t taken() const { return m_taken; }
    /// The device asks at its pace. A sound server may take a piece or a few at once
    /// when the stream opens and then nothing for seconds: sound queued before it really
    /// runs would be cut in two by that wait, so nothing is queued until it has asked
    /// twice at least half a piece's time after the request before.
    /// A device that keeps asking faster than that (a file written as fast as it goes)
    /// runs as well.
    bool started() const {
        return m_startsAtOnce || m_pacedPulls >= PacedPulls || m_pulls >= BurstPulls;
    }
    TimePoint lastPull() const { return m_lastPull; }

private:
    /// Moves `frames` from the front of the ring to `out` (or nowhere), noting clip starts;
    /// the first of them is heard at `heard`.
    void take(std::uint8_t* out, std::int64_t frames, TimePoint now, TimePoint heard,
              std::int64_t streamFrame = -1);
    Clock::duration durationOf(std::int64_t frames) const;

    int m_bytesPerFrame;
    int m_rate;
    std::uint8_t m_silence;
    TimePoint m_openedAt;

    std::vector<std::uint8_t> m_ring;
    std::size_t m_head = 0;
    std::size_t m_filled = 0;
    std::int64_t m_queuedEnd = 0;
    std::int64_t m_taken = 0;

    std::int64_t m_pulls = 0;
    int m_pacedPulls = 0;
    bool m_startsAtOnce = false;
    TimePoint m_lastPull;
    TimePoint m_endHeard;
    std::int64_t m_endStreamFrame = -1; ///< the device's number for the frame after the last taken

    bool m_stalled = false;
    TimePoint m_advancedTo;

    struct ClipStart {
        std::int64_t frame;
        std::optional<TimePoint> handedAt;
        std::optional<TimePoint> heardAt;
        std::int64_t streamFrame = -1; ///< the device's number for it, once taken
    };
    std::deque<ClipStart> m_starts; ///< the latest clips, oldest first
};

} // namespace brumlis
