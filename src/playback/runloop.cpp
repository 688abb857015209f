#include "brumlis/playback/runloop.h"

namespace brumlis {

void RunLoop::post(std::function<void()> task) {
    {
        const std::lock_guard lock(m_mutex);
        m_tasks.push_back(std::move(task));
    }
    m_wake.notify_all();
}

void RunLoop::startTimer(SoundClock::time_point at, std::function<void()> fired) {
    {
        const std::lock_guard lock(m_mutex);
        m_timerAt = at;
        m_fired = std::move(fired);
    }
    m_wake.notify_all();
}

void RunLoop::stopTimer() {
    const std::lock_guard lock(m_mutex);
    m_timerAt.reset();
    m_fired = {};
}

void RunLoop::quit() {
    {
        const std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
}

void RunLoop::run() {
    std::unique_lock lock(m_mutex);
    m_quit = false;
    while (!m_quit) {
        if (!m_tasks.empty()) {
            std::function<void()> task = std::move(m_tasks.front());
            m_tasks.pop_front();
            lock.unlock();
            task();
            lock.lock();
            continue;
        }
        if (m_timerAt && SoundClock::now() >= *m_timerAt) {
            std::function<void()> fired = std::move(m_fired);
            m_timerAt.reset();
            lock.unlock();
            fired();
            lock.lock();
            continue;
        }
        // Asleep until something is posted, the timer is due or quit() is called.
        if (m_timerAt)
            m_wake.wait_until(lock, *m_timerAt);
        else
            m_wake.wait(lock);
    }
}

} // namespace brumlis
