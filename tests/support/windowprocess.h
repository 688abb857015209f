#pragma once

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <csignal>
#include <optional>

namespace brumlis::test {

/// The real window program, started offscreen in `dataDir` with its benchmark hooks on:
/// it prints a line once the window has painted, and SIGUSR1 presses Generera.
class WindowProcess {
public:
    WindowProcess(const QString& program, const QString& dataDir) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("BRUMLIS_BENCH_READY"), QStringLiteral("1"));
        m_process.setProcessEnvironment(env);
        m_process.setWorkingDirectory(dataDir);
        m_process.start(program, {});
        m_painted = m_process.waitForStarted(5000) && m_process.waitForReadyRead(10000);
    }
    ~WindowProcess() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(3000);
        }
    }
    WindowProcess(const WindowProcess&) = delete;
    WindowProcess& operator=(const WindowProcess&) = delete;

    /// Whether the window came up and painted.
    bool painted() const { return m_painted; }
    qint64 pid() const { return m_process.processId(); }
    void generate() { ::kill(pid_t(pid()), SIGUSR1); }
    /// Closes the window as its close box does (SIGTERM): the milliseconds until the
    /// program had ended, or nothing when it still ran 10 s later.
    std::optional<double> close() {
        QElapsedTimer closing;
        closing.start();
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            return std::nullopt;
        return double(closing.nsecsElapsed()) / 1e6;
    }
    /// Once it has ended: whether it ended by returning from main(), and with what.
    bool endedNormally() const {
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    }

private:
    QProcess m_process;
    bool m_painted = false;
};

} // namespace brumlis::test
