#include "soundqueue.h"

#include <algorithm>
#include <cstring>

namespace brumlis {

namespace {

// Clip starts remembered; a sentence has fifteen slots.
constexpr std::size_t RememberedStarts = 64;

} // namespace

SoundQueue::SoundQueue(int bytesPerFrame, int rate, int requestFrames, std::uint8_t silence,
                       std::size_t capacityFrames, TimePoint openedAt)
    : m_bytesPerFrame(bytesPerFrame)
    , m_rate(rate)
    , m_requestFrames(requestFrames)
    , m_silence(silence)
    , m_openedAt(openedAt)
    , m_ring(capacityFrames * std::size_t(bytesPerFrame)) {}

std::int64_t SoundQueue::beginClip() {
    m_starts.push_back({m_queuedEnd, std::nullopt});
    if (m_starts.size() > RememberedStarts)
        m_starts.pop_front();
    return m_queuedEnd;
}

std::size_t SoundQueue::push(const std::uint8_t* data, std::size_t bytes) {
    if (!started() && !m_stalled)
        return 0;
    const std::size_t frameBytes = std::size_t(m_bytesPerFrame);
    std::size_t run = std::min(bytes, m_ring.size() - m_filled);
    run -= run % frameBytes;
    std::size_t done = 0;
    while (done < run) {
        const std::size_t tail = (m_head + m_filled) % m_ring.size();
        const std::size_t piece = std::min(run - done, m_ring.size() - tail);
        std::memcpy(m_ring.data() + tail, data + done, piece);
        m_filled += piece;
        done += piece;
    }
    m_queuedEnd += std::int64_t(run / frameBytes);
    return run;
}

bool SoundQueue::reachesNext(std::int64_t frame) const {
    // Nothing queued from `frame` on: a clip without sound starts when the one before ends.
    if (frame < m_taken || (frame == m_taken && m_queuedEnd == m_taken))
        return true;
    if (m_stalled || !started())
        return false;
    // Pieces are taken as large as the largest so far: a device that takes irregular
    // pieces may then reach the frame a piece later, never earlier.
    return frame - m_taken < std::max(m_largestPiece, m_requestFrames);
}

std::optional<SoundQueue::TimePoint> SoundQueue::startedAt(std::int64_t frame) const {
    for (const ClipStart& s : m_starts)
        if (s.frame == frame)
            return s.at;
    return std::nullopt;
}

SoundQueue::Clock::duration SoundQueue::latency() const {
    if (m_stalled)
        return {};
    // The piece that held the last frame is played while the device asks for the next.
    const int piece = std::max(m_largestPiece, m_requestFrames);
    return std::chrono::nanoseconds(std::int64_t(2) * piece * 1'000'000'000 / m_rate);
}

bool SoundQueue::drained(TimePoint now) const {
    return m_taken == m_queuedEnd && (!m_tookAny || now - m_lastTakenAt >= latency());
}

SoundQueue::TimePoint SoundQueue::drainedAt() const {
    return m_tookAny ? m_lastTakenAt + latency() : TimePoint::min();
}

void SoundQueue::clear() {
    m_head = (m_head + m_filled) % m_ring.size();
    m_filled = 0;
    m_queuedEnd = m_taken;
    m_tookAny = false;
}

bool SoundQueue::checkStall(TimePoint now) {
    if (m_stalled)
        return true;
    const bool stalled = started() ? now - m_lastPull > StallLimit : now - m_openedAt > StartLimit;
    if (stalled) {
        m_stalled = true;
        m_advancedTo = now;
    }
    return m_stalled;
}

SoundQueue::TimePoint SoundQueue::stallDeadline() const {
    // One tick past the limit: checkStall() wants the limit exceeded.
    const auto tick = std::chrono::milliseconds(1);
    return (started() ? m_lastPull + StallLimit : m_openedAt + StartLimit) + tick;
}

void SoundQueue::advance(TimePoint now) {
    if (!m_stalled || now <= m_advancedTo)
        return;
    const std::int64_t elapsedNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(now - m_advancedTo).count();
    const std::int64_t due = elapsedNs * m_rate / 1'000'000'000;
    const std::int64_t n = std::min(due, ahead());
    if (n < due)
        m_advancedTo = now; // the queue ran out: time without sound is not owed later
    else
        m_advancedTo += std::chrono::nanoseconds(n * 1'000'000'000 / m_rate);
    take(nullptr, n, now);
}

void SoundQueue::pull(std::uint8_t* out, std::size_t bytes, TimePoint now) {
    const std::int64_t frames = std::int64_t(bytes) / m_bytesPerFrame;
    const auto halfPiece = std::chrono::nanoseconds(frames * 500'000'000 / m_rate);
    if (m_pulls > 0 && now - m_lastPull >= halfPiece && m_pacedPulls < PacedPulls)
        ++m_pacedPulls;
    ++m_pulls;
    m_largestPiece = std::max<std::int64_t>(m_largestPiece, frames);
    m_lastPull = now;
    std::int64_t n = 0;
    if (!m_stalled) {
        n = std::min(frames, ahead());
        take(out, n, now);
    }
    const std::size_t done = std::size_t(n) * std::size_t(m_bytesPerFrame);
    std::memset(out + done, m_silence, bytes - done);
}

void SoundQueue::take(std::uint8_t* out, std::int64_t frames, TimePoint now) {
    if (frames <= 0)
        return;
    std::size_t want = std::size_t(frames) * std::size_t(m_bytesPerFrame);
    while (want > 0) {
        const std::size_t run = std::min(want, m_ring.size() - m_head);
        if (out) {
            std::memcpy(out, m_ring.data() + m_head, run);
            out += run;
        }
        m_head = (m_head + run) % m_ring.size();
        m_filled -= run;
        want -= run;
    }
    const std::int64_t end = m_taken + frames;
    for (ClipStart& s : m_starts)
        if (!s.at && s.frame < end)
            s.at = now;
    m_taken = end;
    m_lastTakenAt = now;
    m_tookAny = true;
}

} // namespace brumlis
