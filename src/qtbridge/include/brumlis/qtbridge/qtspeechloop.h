#pragma once

#include "brumlis/playback/speechloop.h"

#include <QObject>
#include <QTimer>

namespace brumlis {

/// The speech controller's loop for a Qt front end: the thread that made it (the GUI
/// thread), Qt's precise timer, and posts that Qt queues to it. A post that arrives after
/// the loop is gone is dropped.
class QtSpeechLoop final : public SpeechLoop {
public:
    QtSpeechLoop();

    SoundClock::time_point now() const override { return SoundClock::now(); }
    void post(std::function<void()> task) override;
    void startTimer(SoundClock::time_point at, std::function<void()> fired) override;
    void stopTimer() override;

private:
    QObject m_context;
    QTimer m_timer;
    std::function<void()> m_fired;
};

} // namespace brumlis
