#include "winspeechloop.h"

#include <gtest/gtest.h>
#include <thread>
#include <vector>
#include <windows.h>

namespace brumlis {
namespace {

using std::chrono::milliseconds;

// Runs the thread's messages until `done`, or until a window timer of 10 s says the loop
// never got there.
bool runUntil(const bool& done) {
    const UINT_PTR watchdog = SetTimer(nullptr, 0, 10000, nullptr);
    bool timedOut = false;
    MSG message;
    while (!done && GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr && message.wParam == watchdog) {
            timedOut = true;
            break;
        }
        DispatchMessageW(&message);
    }
    KillTimer(nullptr, watchdog);
    return !timedOut;
}

TEST(WinSpeechLoop, RunsWhatAnyThreadPostsOnItsOwnThreadInOrder) {
    WinSpeechLoop loop;
    const DWORD windowThread = GetCurrentThreadId();
    std::vector<int> ran;
    bool offThread = false;
    bool done = false;
    std::thread poster([&] {
        for (int i = 0; i < 50; ++i)
            loop.post([&, i] {
                ran.push_back(i);
                offThread = offThread || GetCurrentThreadId() != windowThread;
            });
        loop.post([&] { done = true; });
    });
    ASSERT_TRUE(runUntil(done));
    poster.join();
    ASSERT_EQ(ran.size(), 50u);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(ran[size_t(i)], i);
    EXPECT_FALSE(offThread);
}

TEST(WinSpeechLoop, TimerFiresNotBeforeItsTimeAndOnlyTheLastOneSet) {
    WinSpeechLoop loop;
    bool stale = false;
    bool stopped = false;
    bool done = false;
    SoundClock::time_point firedAt;
    const SoundClock::time_point at = loop.now() + milliseconds(30);
    loop.startTimer(loop.now() + milliseconds(5), [&] { stale = true; });
    loop.startTimer(at, [&] {
        firedAt = loop.now();
        done = true;
    });
    ASSERT_TRUE(runUntil(done));
    EXPECT_GE(firedAt, at);
    EXPECT_FALSE(stale) << "a timer set again fired for its first time too";

    // A stopped timer never fires: not by the time a window timer set for after it has.
    loop.startTimer(loop.now() + milliseconds(5), [&] { stopped = true; });
    loop.stopTimer();
    const UINT_PTR later = SetTimer(nullptr, 0, 50, nullptr);
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == nullptr && message.wParam == later)
            break;
        DispatchMessageW(&message);
    }
    KillTimer(nullptr, later);
    EXPECT_FALSE(stopped);
}

} // namespace
} // namespace brumlis
