#pragma once

#include "brumlis/linuxaudio/soundinput.h"
#include "brumlis/voicetools/takedetector.h"

#include <QMutex>
#include <QObject>

namespace brumlis {

/// Listens to an input and finds takes in it. The sound is examined on the server's thread
/// as it arrives, so a busy window cannot make a take late or cut it short; what happens is
/// reported to the window's thread, in the order it happened, by the signals.
class Recorder final : public QObject {
    Q_OBJECT

public:
    /// Meter readings per second while the input runs.
    static constexpr int ReadingsPerSecond = 25;

    explicit Recorder(SoundInput& server, TakeSettings settings = {}, QObject* parent = nullptr);
    ~Recorder() override;

    /// Records from `source` (empty: the default input), with the meter running.
    void listenTo(const QByteArray& source);
    void stopListening();

    void setArmed(bool armed);
    /// Off while a take is played back into the room, so it does not start a take itself.
    void setListening(bool listening);

    /// The key: starts a take now, or ends the one running.
    void startTake();
    void stopTake();
    bool isRecording() const;

Q_SIGNALS:
    void level(float peak, float rms, bool clipped);
    void takeStarted();
    void takeEnded(const brumlis::TakeDetector::Take& take);

private:
    void onSound(const float* samples, std::size_t count);
    // With m_mutex held, so that events reach the window in the order they happened.
    void post(TakeDetector::Events events);

    SoundInput& m_server;
    mutable QMutex m_mutex;
    TakeDetector m_detector;
    std::size_t m_sinceReading = 0;
    std::size_t m_readingEvery;
};

} // namespace brumlis
