#include "brumlis/studio/recorder.h"

#include <QMutexLocker>

namespace brumlis {

Recorder::Recorder(SoundInput& server, TakeSettings settings, QObject* parent)
    : QObject(parent)
    , m_server(server)
    , m_detector(settings)
    , m_readingEvery(std::size_t(settings.rate / ReadingsPerSecond)) {}

Recorder::~Recorder() {
    m_server.stopCapture();
}

void Recorder::listenTo(const QByteArray& source) {
    m_server.startCapture(
        source, [this](const float* samples, std::size_t count) { onSound(samples, count); });
}

void Recorder::stopListening() {
    m_server.stopCapture();
}

void Recorder::setArmed(bool armed) {
    QMutexLocker lock(&m_mutex);
    m_detector.setArmed(armed);
}

void Recorder::setListening(bool listening) {
    QMutexLocker lock(&m_mutex);
    m_detector.setListening(listening);
}

void Recorder::startTake() {
    QMutexLocker lock(&m_mutex);
    if (m_detector.isRecording())
        return;
    m_detector.start();
    TakeDetector::Events events;
    events.started = true;
    post(std::move(events));
}

void Recorder::stopTake() {
    QMutexLocker lock(&m_mutex);
    TakeDetector::Events events;
    events.ended = m_detector.stop();
    post(std::move(events));
}

bool Recorder::isRecording() const {
    QMutexLocker lock(&m_mutex);
    return m_detector.isRecording();
}

void Recorder::onSound(const float* samples, std::size_t count) {
    QMutexLocker lock(&m_mutex);
    TakeDetector::Events events = m_detector.feed(samples, count);
    m_sinceReading += count;
    const bool reading = m_sinceReading >= m_readingEvery;
    if (reading) {
        m_sinceReading = 0;
        const LevelReading r = m_detector.takeReading();
        QMetaObject::invokeMethod(
            this, [this, r] { Q_EMIT level(r.peak, r.rms, r.clipped); }, Qt::QueuedConnection);
    }
    if (events.started || !events.ended.empty())
        post(std::move(events));
}

void Recorder::post(TakeDetector::Events events) {
    if (!events.started && events.ended.empty())
        return;
    // A piece that ended one take may have started the next: the end comes first.
    QMetaObject::invokeMethod(
        this,
        [this, events = std::move(events)] {
            for (const TakeDetector::Take& take : events.ended)
                Q_EMIT takeEnded(take);
            if (events.started)
                Q_EMIT takeStarted();
        },
        Qt::QueuedConnection);
}

} // namespace brumlis
