#pragma once

#include "brumlis/playback/speechloop.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>

namespace brumlis {

/// An event loop of the program's own, for a front end without one (the command line): run()
/// does what is posted and fires the timer, on the calling thread, until quit(). The clock is
/// the steady one.
class RunLoop final : public SpeechLoop {
public:
    SoundClock::time_point now() const override { return SoundClock::now(); }
    void post(std::function<void()> task) override;
    void startTimer(SoundClock::time_point at, std::function<void()> fired) override;
    void stopTimer() override;

    /// Runs until quit() is called from a task or the timer (or from another thread).
    void run();
    void quit();

private:
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::function<void()>> m_tasks;
    std::optional<SoundClock::time_point> m_timerAt;
    std::function<void()> m_fired;
    bool m_quit = false;
};

} // namespace brumlis
