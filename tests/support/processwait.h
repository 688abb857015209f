#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QtGlobal>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace brumlis::test {

/// What a wait on other processes wakes on, as they send this one no event of Qt's: a file
/// or folder changing (inotify), a process ending (its pidfd) or a descriptor having
/// something to read. It blocks in poll() between wakeups, with the time left as its
/// timeout, so it needs no event loop: the servers start before QApplication in the
/// benchmarks.
class Wakeups {
public:
    /// What changes a folder's contents: a file made, moved there, or gone.
    static constexpr std::uint32_t FolderChanges =
        IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM;
    /// What a file that is written to does.
    static constexpr std::uint32_t Written = IN_MODIFY | IN_CLOSE_WRITE;

    Wakeups()
        : m_inotify(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}
    Wakeups(const Wakeups&) = delete;
    Wakeups& operator=(const Wakeups&) = delete;
    ~Wakeups() {
        if (m_inotify >= 0)
            ::close(m_inotify);
        for (const int fd : m_ends)
            ::close(fd);
    }

    /// Wakes whenever `path` changes as `mask` says. False when it cannot be watched (it is
    /// not there, say).
    bool onChange(const QString& path, std::uint32_t mask) {
        return m_inotify >= 0 &&
               ::inotify_add_watch(m_inotify, QFile::encodeName(path).constData(), mask) >= 0;
    }
    /// Wakes when process `pid` ends, and ends the wait after one last look: a server that
    /// died will not answer any more.
    void onEnd(qint64 pid) {
        // Through syscall(): glibc 2.36's <sys/pidfd.h> does not declare it for C++.
        const int fd = int(::syscall(SYS_pidfd_open, pid_t(pid), 0u));
        if (fd >= 0)
            m_ends.push_back(fd);
        else
            m_ended = true; // already gone and reaped
    }
    /// Wakes when `fd` has something to read. What waits must read it, or it wakes at once
    /// again.
    void onRead(int fd) { m_reads.push_back(fd); }

    /// Until `holds`, looked at first and again at every wakeup, for at most `ms`. False when
    /// it did not come to hold, also when a process given to onEnd() ended first.
    bool until(const std::function<bool()>& holds, int ms) {
        using Clock = std::chrono::steady_clock;
        const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            if (holds())
                return true;
            if (m_ended)
                return false;
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return false;
            std::vector<pollfd> fds;
            if (m_inotify >= 0)
                fds.push_back({m_inotify, POLLIN, 0});
            for (const int fd : m_reads)
                fds.push_back({fd, POLLIN, 0});
            const std::size_t firstEnd = fds.size();
            for (const int fd : m_ends)
                fds.push_back({fd, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), int(left)) < 0 && errno != EINTR)
                return holds();
            char events[4096];
            while (m_inotify >= 0 && ::read(m_inotify, events, sizeof events) > 0) {
            }
            // A pidfd stays readable once its process has ended: one look more, then done.
            for (std::size_t i = firstEnd; i < fds.size(); ++i)
                if (fds[i].revents != 0)
                    m_ended = true;
        }
    }

private:
    int m_inotify;
    std::vector<int> m_reads;
    std::vector<int> m_ends;
    bool m_ended = false;
};

/// The other end of systemd's readiness protocol (sd_notify): a datagram socket whose path,
/// given to a daemon as NOTIFY_SOCKET, hears it say READY=1 once it serves.
class ReadinessSocket {
public:
    explicit ReadinessSocket(const QString& path)
        : m_path(path) {
        const QByteArray name = QFile::encodeName(path);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (std::size_t(name.size()) >= sizeof address.sun_path)
            return;
        std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
        ::unlink(name.constData());
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (m_fd >= 0 &&
            ::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ReadinessSocket(const ReadinessSocket&) = delete;
    ReadinessSocket& operator=(const ReadinessSocket&) = delete;
    ~ReadinessSocket() {
        if (m_fd >= 0) {
            ::close(m_fd);
            ::unlink(QFile::encodeName(m_path).constData());
        }
    }

    bool isOpen() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    QString path() const { return m_path; }
    /// Reads what has come so far; whether READY=1 was among it.
    bool ready() {
        char message[4096];
        ssize_t n = 0;
        while (m_fd >= 0 && (n = ::recv(m_fd, message, sizeof message, 0)) > 0)
            for (const QByteArray& line : QByteArray(message, n).split('\n'))
                m_ready = m_ready || line == "READY=1";
        return m_ready;
    }

private:
    QString m_path;
    int m_fd = -1;
    bool m_ready = false;
};

/// Until each of `children`, processes this one started, has stopped (SIGSTOP) or ended,
/// for at most `ms`; whether they all stopped. Only a parent hears of its child's stop,
/// through waitid, which takes no bound: a thread waits there (WNOWAIT, so nothing is reaped
/// under QProcess; __WALL, as Qt may start children that signal no SIGCHLD), and this one waits for
/// the thread with the bound. A thread left behind by the bound returns once its process ends.
inline bool untilStopped(const std::vector<qint64>& children, int ms) {
    struct Outcome {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
        bool allStopped = true;
    };
    auto outcome = std::make_shared<Outcome>();
    std::thread([outcome, children] {
        bool allStopped = true;
        for (const qint64 pid : children) {
            siginfo_t info{};
            int waited = 0;
            do
                waited = ::waitid(P_PID, id_t(pid), &info, WSTOPPED | WEXITED | WNOWAIT | __WALL);
            while (waited < 0 && errno == EINTR);
            allStopped = allStopped && waited == 0 && info.si_code == CLD_STOPPED;
        }
        const std::lock_guard lock(outcome->mutex);
        outcome->finished = true;
        outcome->allStopped = allStopped;
        outcome->done.notify_all();
    }).detach();
    std::unique_lock lock(outcome->mutex);
    return outcome->done.wait_for(lock, std::chrono::milliseconds(ms), [&] {
        return outcome->finished;
    }) && outcome->allStopped;
}

} // namespace brumlis::test
