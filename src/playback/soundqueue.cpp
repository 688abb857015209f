#include "soundqueue.h"

#include <algorithm>
#include <cstring>

namespace brumlis {

namespace {

// Clip starts remembered; a sentence has fifteen slots.
constexpr std::size_t RememberedStarts = 64;

} // namespace

SoundQueue::SoundQueue(int bytesPerFrame, int rate, std::uint8_t silence,
                       std::size_t capacityFrames, TimePoint openedAt)
    : m_bytesPerFrame(bytesPerFrame)
    , m_rate(rate)
    , m_silence(silence)
    , m_openedAt(openedAt)
    , m_ring(capacityFrames * std::size_t(bytesPerFrame)) {}

std::int64_t SoundQueue::beginClip() {
    m_starts.push_back({m_queuedEnd, std::nullopt, std::nullopt});
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

std::optional<SoundQueue::TimePoint> SoundQueue::heardAt(std::int64_t frame) const {
    for (const ClipStart& s : m_starts)
        if (s.frame == frame)
            return s.heardAt;
    return std::nullopt;
}

std::optional<SoundQueue::TimePoint> SoundQueue::startedAt(std::int64_t frame) const {
    for (const ClipStart& s : m_starts)
        if (s.frame == frame)
            return s.handedAt;
    return std::nullopt;
}

SoundQueue::Clock::duration SoundQueue::durationOf(std::int64_t frames) const {
    return std::chrono::nanoseconds(frames * 1'000'000'000 / m_rate);
}

void SoundQueue::clear() {
    m_head = (m_head + m_filled) % m_ring.size();
    m_filled = 0;
    m_queuedEnd = m_taken;
    // The device numbers its frames afresh when it next starts to play.
    for (ClipStart& s : m_starts)
        s.streamFrame = -1;
    m_endStreamFrame = -1;
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
    // Played into nothing: the first of it was "heard" where the pace had got to.
    const TimePoint heard = m_advancedTo;
    if (n < due)
        m_advancedTo = now; // the queue ran out: time without sound is not owed later
    else
        m_advancedTo += durationOf(n);
    take(nullptr, n, now, heard);
}

std::size_t SoundQueue::pull(std::uint8_t* out, std::size_t bytes, TimePoint now,
                             Clock::duration heardDelay, bool pad, std::int64_t streamFrame) {
    const std::int64_t frames = std::int64_t(bytes) / m_bytesPerFrame;
    const auto halfPiece = std::chrono::nanoseconds(frames * 500'000'000 / m_rate);
    if (m_pulls > 0 && now - m_lastPull >= halfPiece && m_pacedPulls < PacedPulls)
        ++m_pacedPulls;
    ++m_pulls;
    m_lastPull = now;
    std::int64_t n = 0;
    if (!m_stalled) {
        n = std::min(frames, ahead());
        take(out, n, now, now + heardDelay, streamFrame);
    }
    const std::size_t done = std::size_t(n) * std::size_t(m_bytesPerFrame);
    if (pad)
        std::memset(out + done, m_silence, bytes - done);
    return done;
}

void SoundQueue::take(std::uint8_t* out, std::int64_t frames, TimePoint now, TimePoint heard,
                      std::int64_t streamFrame) {
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
    for (ClipStart& s : m_starts) {
        if (!s.handedAt && s.frame < end) {
            const std::int64_t offset = std::max<std::int64_t>(0, s.frame - m_taken);
            s.handedAt = now;
            s.heardAt = heard + durationOf(offset);
            s.streamFrame = streamFrame >= 0 ? streamFrame + offset : -1;
        }
    }
    m_taken = end;
    m_endHeard = heard + durationOf(frames);
    m_endStreamFrame = streamFrame >= 0 ? streamFrame + frames : -1;
}

bool SoundQueue::anchor(std::int64_t streamFrame, TimePoint heard) {
    // Closer than this counts as the same time: a word is shown to the millisecond.
    constexpr auto Same = std::chrono::microseconds(500);
    bool moved = false;
    const auto place = [&](std::int64_t frame, TimePoint& at) {
        const TimePoint now = heard + durationOf(frame - streamFrame);
        if (now - at > Same || at - now > Same) {
            at = now;
            moved = true;
        }
    };
    for (ClipStart& s : m_starts)
        if (s.heardAt && s.streamFrame >= 0)
            place(s.streamFrame, *s.heardAt);
    if (m_endStreamFrame >= 0)
        place(m_endStreamFrame, m_endHeard);
    return moved;
}

} // namespace brumlis
