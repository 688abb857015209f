#include "brumlis/qtbridge/qtspeechloop.h"

#include <chrono>

namespace brumlis {

QtSpeechLoop::QtSpeechLoop() {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_timer, &QTimer::timeout, &m_context, [this] {
        // The task may start the timer again.
        const std::function<void()> fired = m_fired;
        if (fired)
            fired();
    });
}

void QtSpeechLoop::post(std::function<void()> task) {
    QMetaObject::invokeMethod(&m_context, std::move(task), Qt::QueuedConnection);
}

void QtSpeechLoop::startTimer(SoundClock::time_point at, std::function<void()> fired) {
    m_fired = std::move(fired);
    // Rounded up, and checked again when it fires.
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(at - now());
    m_timer.start(std::max(wait, std::chrono::milliseconds(0)));
}

void QtSpeechLoop::stopTimer() {
    m_timer.stop();
    m_fired = {};
}

} // namespace brumlis
