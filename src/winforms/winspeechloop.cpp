#include "winspeechloop.h"

#include <mmsystem.h>
#include <stdexcept>
#include <utility>

// Windows 10 1803; older MinGW headers do not name it.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace brumlis {

namespace {

constexpr wchar_t LoopClass[] = L"BrumlisSpeechLoop";
constexpr UINT TasksPosted = WM_APP + 1;
constexpr UINT TimerSignalled = WM_APP + 2;

void registerLoopClass(HINSTANCE instance, WNDPROC proc) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = proc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = LoopClass;
    RegisterClassExW(&windowClass); // fails harmlessly when a second loop registers it again
}

} // namespace

WinSpeechLoop::WinSpeechLoop() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    registerLoopClass(instance, &WinSpeechLoop::windowProc);
    m_window = CreateWindowExW(0, LoopClass, nullptr, 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                               instance, this);
    m_timer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                     TIMER_ALL_ACCESS);
    m_highResolution = m_timer != nullptr;
    if (!m_timer)
        m_timer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    m_quit = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!m_window || !m_timer || !m_quit)
        throw std::runtime_error("the speech loop's window or timer could not be made");
    m_waiter = std::thread([this] { waitForTimer(); });
}

WinSpeechLoop::~WinSpeechLoop() {
    SetEvent(m_quit);
    m_waiter.join();
    disarm();
    DestroyWindow(m_window);
    CloseHandle(m_timer);
    CloseHandle(m_quit);
}

void WinSpeechLoop::post(std::function<void()> task) {
    const std::lock_guard lock(m_mutex);
    m_tasks.push_back(std::move(task));
    // One message wakes the window thread for every task posted before it runs them.
    if (!m_wakePosted)
        m_wakePosted = PostMessageW(m_window, TasksPosted, 0, 0) != FALSE;
}

void WinSpeechLoop::runTasks() {
    std::deque<std::function<void()>> tasks;
    {
        const std::lock_guard lock(m_mutex);
        tasks.swap(m_tasks);
        m_wakePosted = false;
    }
    for (std::function<void()>& task : tasks)
        task();
}

void WinSpeechLoop::startTimer(SoundClock::time_point at, std::function<void()> fired) {
    m_fired = std::move(fired);
    m_at = at;
    arm(at);
}

void WinSpeechLoop::stopTimer() {
    m_fired = nullptr;
    disarm();
}

void WinSpeechLoop::arm(SoundClock::time_point at) {
    // Relative due times (negative, in 100 ns) follow the steady clock, not the wall clock.
    const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(at - now());
    LARGE_INTEGER due;
    due.QuadPart = -std::max<long long>(1, wait.count() / 100);
    if (!m_highResolution && !m_periodRaised)
        m_periodRaised = timeBeginPeriod(1) == TIMERR_NOERROR;
    SetWaitableTimer(m_timer, &due, 0, nullptr, nullptr, FALSE);
}

void WinSpeechLoop::disarm() {
    CancelWaitableTimer(m_timer);
    if (m_periodRaised) {
        timeEndPeriod(1);
        m_periodRaised = false;
    }
}

void WinSpeechLoop::timerSignalled() {
    // A signal of a timer since stopped, or of one set again for later meanwhile, is not
    // this timer's.
    if (!m_fired)
        return;
    if (now() < m_at) {
        arm(m_at);
        return;
    }
    disarm();
    std::function<void()> fired = std::exchange(m_fired, nullptr);
    fired();
}

void WinSpeechLoop::waitForTimer() {
    const HANDLE handles[] = {m_quit, m_timer};
    for (;;) {
        const DWORD woke = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
        if (woke != WAIT_OBJECT_0 + 1)
            return;
        PostMessageW(m_window, TimerSignalled, 0, 0);
    }
}

LRESULT CALLBACK WinSpeechLoop::windowProc(HWND window, UINT message, WPARAM wParam,
                                           LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(window, GWLP_USERDATA, LONG_PTR(create->lpCreateParams));
    }
    auto* loop = reinterpret_cast<WinSpeechLoop*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (loop) {
        switch (message) {
        case TasksPosted:
            loop->runTasks();
            return 0;
        case TimerSignalled:
            loop->timerSignalled();
            return 0;
        default:
            break;
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

} // namespace brumlis
