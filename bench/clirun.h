#pragma once

// The real brumlis-cli run as a user runs it, timed from outside.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace brumlis::bench {

/// What one run of a program cost.
struct ProgramRun {
    double wallMs = 0;
    double cpuMs = 0;        ///< user and system time of the process
    double writtenBytes = 0; ///< handed to write() by the process (wchar in /proc/<pid>/io)
    int status = -1;         ///< its exit status; -1 when it did not exit
};

/// Runs `program` with `args` and the variables `env` set, its output thrown away. The
/// figures are taken once it has ended and before it is reaped.
inline ProgramRun runProgram(const QByteArray& program, const QStringList& args,
                             const std::vector<std::pair<QByteArray, QByteArray>>& env = {}) {
    std::vector<QByteArray> storage{program};
    for (const QString& arg : args)
        storage.push_back(QFile::encodeName(arg));
    std::vector<char*> argv;
    for (QByteArray& a : storage)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (const auto& [name, value] : env)
            ::setenv(name.constData(), value.constData(), 1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ProgramRun m;
    siginfo_t info{};
    if (pid < 0 || ::waitid(P_PID, id_t(pid), &info, WEXITED | WNOWAIT) != 0)
        return m;
    m.wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    QFile io(QStringLiteral("/proc/%1/io").arg(pid));
    if (io.open(QIODevice::ReadOnly))
        for (const QByteArray& line : io.readAll().split('\n'))
            if (line.startsWith("wchar: "))
                m.writtenBytes = line.mid(7).toDouble();
    rusage usage{};
    int status = 0;
    ::wait4(pid, &status, 0, &usage);
    m.cpuMs = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
              double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    m.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return m;
}

/// The run whose `figure` is the median of `runs`.
inline ProgramRun medianOf(std::vector<ProgramRun> runs, double ProgramRun::*figure) {
    std::sort(runs.begin(), runs.end(),
              [figure](const ProgramRun& a, const ProgramRun& b) { return a.*figure < b.*figure; });
    return runs[runs.size() / 2];
}

} // namespace brumlis::bench
