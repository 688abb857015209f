#pragma once

#include "brumlis/linuxaudio/soundserver.h"

#include <QString>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <list>
#include <mutex>
#include <pulse/pulseaudio.h>

namespace brumlis {

/// The program's one connection to the sound server: libpulse's threaded main loop and its
/// context, shared by every stream the program has (the engine's output, the studio's
/// input). Nothing here waits on the server: calls take the loop's lock, which the loop's
/// thread holds only while it runs a callback, so a frozen server freezes nobody.
///
/// It connects when a stream first wants the server and, once connected, comes back by
/// itself when the server goes away and returns (a restart of PulseAudio or PipeWire):
/// every stream is told that it went and that it came back, and makes itself anew. While
/// nobody wants the server it stops trying, so a machine without one pays nothing.
class SoundServerConnection {
public:
    /// Each try to reach a server that went away waits twice as long as the one before, up
    /// to this: a server gone for good costs a wake-up every few seconds, no more.
    static constexpr std::chrono::milliseconds LongestRetry{4000};
    static constexpr std::chrono::milliseconds FirstRetry{50};

    /// Called on the loop's thread, with the loop locked, when the context has become
    /// ready (`up`; again after a loss), has gone, or a try to reach the server failed.
    /// Must not wait.
    using Watcher = std::function<void(bool up)>;

    explicit SoundServerConnection(SoundServerClient client);
    ~SoundServerConnection();
    SoundServerConnection(const SoundServerConnection&) = delete;
    SoundServerConnection& operator=(const SoundServerConnection&) = delete;

    /// The loop's lock for a scope: every call into libpulse, and context(), take it.
    class Lock {
    public:
        explicit Lock(const SoundServerConnection& connection);
        ~Lock();
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* m_loop;
    };

    /// Someone needs the server from now on: connects at once unless connected or
    /// connecting, even when a retry was waiting. Each want() is matched by one unwant().
    /// Without the loop locked.
    void want();
    void unwant();

    /// Waits up to `limit` for the context to be ready; call after want(). False, with the
    /// reason in `why`, when there is no server or none answers in time.
    bool waitReady(std::chrono::milliseconds limit, QString* why);

    /// The ready context, with the loop locked; null while there is none.
    pa_context* context() const { return m_ready ? m_context : nullptr; }
    /// The loop's own interface, for timers on its thread.
    pa_mainloop_api* api() const { return pa_threaded_mainloop_get_api(m_loop); }
    /// Why the server was last lost or not reached (a libpulse error). With the loop locked.
    int lastError() const { return m_errno; }
    /// "ljudservern <what>: <why>", why being libpulse's last error, in Swedish (`what` is a
    /// Swedish phrase: "kan inte anslutas"). With the loop locked.
    QString error(const char* what) const;
    /// A libpulse error number in Swedish.
    static QString errorText(int error);

    /// Adds a watcher; returns its key for unwatch(). Without the loop locked.
    int watch(Watcher watcher);
    /// After it returns, the watcher is never called again. Without the loop locked.
    void unwatch(int key);

    /// Wakes every waitFor(). Callable from the loop's callbacks.
    void signal();
    /// Waits, without the loop locked, until `done` holds or `limit` has passed; `done`
    /// may read only what needs no lock (atomics).
    template <typename Done> bool waitFor(Done done, std::chrono::milliseconds limit) {
        std::unique_lock lock(m_waitMutex);
        return m_changed.wait_for(lock, limit, done);
    }

private:
    static void contextChanged(pa_context* context, void* self);
    static void retryDue(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);
    // With the loop locked:
    void connect();
    void dropContext();
    void scheduleRetry();
    void tell(bool up);

    const SoundServerClient m_client;
    pa_threaded_mainloop* m_loop = nullptr;
    std::mutex m_waitMutex;
    std::condition_variable m_changed;
    std::atomic<bool> m_ready{false};
    std::atomic<bool> m_connecting{false}; ///< a context is on its way to the server
    // With the loop locked:
    bool m_running = false; ///< the loop's thread has started
    pa_context* m_context = nullptr;
    QString m_why;
    int m_errno = PA_OK;
    int m_wanted = 0;
    pa_time_event* m_retry = nullptr;
    std::chrono::milliseconds m_retryAfter = FirstRetry;
    int m_nextKey = 1;
    std::list<std::pair<int, Watcher>> m_watchers;
};

} // namespace brumlis
