#pragma once

#include "brumlis/playback/speechloop.h"

#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <windows.h>

namespace brumlis {

/// The speech controller's loop on a Win32 window thread: what is posted arrives as a
/// message to a message-only window of the loop's own, so any message loop of the thread
/// runs it (a message box's too), and the timer is a waitable timer that a thread of the
/// loop's waits on and posts back from.
///
/// Why not SetTimer: a window timer fires on the system's tick, 15.6 ms apart, so a word
/// could go on screen that much late; the speech controller asks for the millisecond. A
/// high-resolution waitable timer (Windows 10 1803 on) wakes to the half-millisecond
/// without raising the resolution of the whole system. Where it cannot be had, a plain
/// waitable timer is used and the resolution raised to 1 ms only while it is set.
class WinSpeechLoop final : public SpeechLoop {
public:
    /// On the thread whose messages will run what is posted.
    WinSpeechLoop();
    ~WinSpeechLoop() override;
    WinSpeechLoop(const WinSpeechLoop&) = delete;
    WinSpeechLoop& operator=(const WinSpeechLoop&) = delete;

    SoundClock::time_point now() const override { return SoundClock::now(); }
    void post(std::function<void()> task) override;
    void startTimer(SoundClock::time_point at, std::function<void()> fired) override;
    void stopTimer() override;

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void runTasks();
    void timerSignalled();
    void arm(SoundClock::time_point at);
    void disarm();
    void waitForTimer();

    HWND m_window = nullptr;
    HANDLE m_timer = nullptr;
    HANDLE m_quit = nullptr;
    bool m_highResolution = false;
    bool m_periodRaised = false;

    std::mutex m_mutex;
    std::deque<std::function<void()>> m_tasks;
    bool m_wakePosted = false;

    // The window thread's alone.
    std::function<void()> m_fired;
    SoundClock::time_point m_at;

    std::thread m_waiter;
};

} // namespace brumlis
