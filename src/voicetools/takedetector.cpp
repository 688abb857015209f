#include "brumlis/voicetools/takedetector.h"

#include "brumlis/audio/decibels.h"

#include <algorithm>
#include <cmath>

namespace brumlis {

namespace {

constexpr int LevelWindowMs = 10;

std::size_t samplesOf(double seconds, int rate) {
    return std::size_t(std::llround(seconds * rate));
}

} // namespace

TakeDetector::TakeDetector(TakeSettings settings)
    : m_settings(settings)
    , m_window(std::max<std::size_t>(1, std::size_t(settings.rate) * LevelWindowMs / 1000))
    , m_preRoll(samplesOf(settings.preRollSeconds, settings.rate))
    , m_historyKeep(m_preRoll + std::size_t(std::max(1, settings.startWindows)) * m_window)
    , m_endSilenceWindows(
          std::max<std::size_t>(1, samplesOf(settings.endSilenceSeconds, settings.rate) / m_window))
    , m_maxSamples(samplesOf(settings.maxSeconds, settings.rate))
    , m_startPower(dbToPower(settings.startDbfs))
    , m_stopPower(dbToPower(settings.stopDbfs)) {
    m_history.reserve(2 * m_historyKeep + m_window);
}

void TakeDetector::setArmed(bool armed) {
    m_armed = armed;
    if (!m_recording)
        m_loudWindows = 0;
}

void TakeDetector::setListening(bool listening) {
    m_listening = listening;
    if (!m_recording)
        m_loudWindows = 0;
}

void TakeDetector::start() {
    if (m_recording)
        return;
    beginTake(m_preRoll);
    m_voiceAt = -1;
}

std::vector<TakeDetector::Take> TakeDetector::stop() {
    std::vector<Take> ended;
    if (m_recording)
        ended.push_back(endTake(End::Key));
    return ended;
}

void TakeDetector::beginTake(std::size_t fromHistory) {
    const std::size_t n = std::min(fromHistory, m_history.size());
    m_take.assign(m_history.end() - std::ptrdiff_t(n), m_history.end());
    m_history.clear();
    m_recording = true;
    m_loudWindows = 0;
    m_quietWindows = 0;
}

TakeDetector::Take TakeDetector::endTake(End why) {
    Take take;
    take.samples = std::move(m_take);
    take.rate = m_settings.rate;
    take.voiceAt = m_voiceAt;
    take.endedBy = why;
    m_take = {};
    m_recording = false;
    m_voiceAt = -1;
    m_loudWindows = 0;
    m_quietWindows = 0;
    return take;
}

void TakeDetector::closeWindow(Events& events) {
    const double power = m_windowSquares / double(m_window);
    const bool loud = power >= m_startPower;
    m_loudWindows = loud ? m_loudWindows + 1 : 0;
    const std::size_t loudRun = std::size_t(std::max(1, m_settings.startWindows));

    if (!m_recording) {
        if (!m_armed || !m_listening) {
            m_loudWindows = 0;
            return;
        }
        if (m_loudWindows >= loudRun) {
            const std::size_t run = loudRun * m_window;
            const std::size_t before = std::min(m_preRoll, m_history.size() - run);
            beginTake(before + run);
            m_voiceAt = std::int64_t(before);
            events.started = true;
        }
        return;
    }

    if (m_voiceAt < 0 && m_loudWindows >= loudRun)
        m_voiceAt = std::max<std::int64_t>(0, std::int64_t(m_take.size()) -
                                                  std::int64_t(loudRun * m_window));
    m_quietWindows = power < m_stopPower ? m_quietWindows + 1 : 0;
    if (m_voiceAt >= 0 && m_quietWindows >= m_endSilenceWindows) {
        events.ended.push_back(endTake(End::Silence));
        events.started = false;
    } else if (m_take.size() >= m_maxSamples) {
        events.ended.push_back(endTake(End::Limit));
        events.started = false;
    }
}

TakeDetector::Events TakeDetector::feed(const float* samples, std::size_t count) {
    Events events;
    for (std::size_t i = 0; i < count; ++i) {
        const float x = samples[i];
        const float level = std::fabs(x);
        m_readingPeak = std::max(m_readingPeak, level);
        m_readingSquares += double(x) * x;
        ++m_readingCount;
        m_clipRun = level >= ClipLevel ? m_clipRun + 1 : 0;
        m_readingClipped |= m_clipRun >= ClipRun;

        if (m_recording) {
            m_take.push_back(x);
        } else {
            m_history.push_back(x);
            // Trimmed in bulk, so that most samples cost one append.
            if (m_history.size() >= 2 * m_historyKeep + m_window)
                m_history.erase(m_history.begin(), m_history.end() - std::ptrdiff_t(m_historyKeep));
        }

        m_windowSquares += double(x) * x;
        if (++m_windowFill == m_window) {
            closeWindow(events);
            m_windowSquares = 0.0;
            m_windowFill = 0;
        }
    }
    return events;
}

LevelReading TakeDetector::takeReading() {
    LevelReading reading;
    reading.peak = m_readingPeak;
    reading.rms =
        m_readingCount > 0 ? float(std::sqrt(m_readingSquares / double(m_readingCount))) : 0.0f;
    reading.clipped = m_readingClipped;
    m_readingPeak = 0.0f;
    m_readingSquares = 0.0;
    m_readingCount = 0;
    m_readingClipped = false;
    return reading;
}

} // namespace brumlis
