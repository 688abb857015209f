#pragma once
// The event loop a front end runs, as the speech controller needs it: a clock, a way onto the
// loop's thread, and one precise timer. The Qt window, the CLI and the Win32 window each give
// one; tests give a fake that they drive by hand.
#include "brumlis/playback/soundplayer.h"

#include <functional>

namespace brumlis {

class SpeechLoop {
public:
    virtual ~SpeechLoop() = default;

    virtual SoundClock::time_point now() const = 0;
    /// Runs `task` on the loop's thread, after what it is doing now. Called from any thread.
    virtual void post(std::function<void()> task) = 0;
    /// Calls `fired` on the loop's thread at `at` or as soon after as the loop can, to the
    /// millisecond or better; replaces the one set before.
    virtual void startTimer(SoundClock::time_point at, std::function<void()> fired) = 0;
    virtual void stopTimer() = 0;
};

} // namespace brumlis
