#pragma once

#include "support/capture.h"
#include "support/soundserver.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/prctl.h>
#include <vector>

namespace brumlis::test {

/// A private PulseAudio server with one null sink, on a socket in a temporary folder:
/// no system daemon, no D-Bus, no cookie. While it lives, PULSE_SERVER and friends in
/// this process's environment point at it, so SDL and anything started from here use it.
class PulseServer : public SoundServer {
public:
    static constexpr const char* Sink = "brumlis_test";

    PulseServer() {
        const QString dir = m_dir.path();
        QDir(dir).mkpath(QStringLiteral("run"));
        QFile conf(dir + QStringLiteral("/client.conf"));
        if (conf.open(QIODevice::WriteOnly))
            conf.write("autospawn = no\n");
        conf.close();
        set("HOME", dir);
        set("XDG_RUNTIME_DIR", dir + QStringLiteral("/run"));
        set("PULSE_RUNTIME_PATH", dir + QStringLiteral("/run/pulse"));
        set("PULSE_STATE_PATH", dir + QStringLiteral("/state"));
        set("PULSE_CLIENTCONFIG", dir + QStringLiteral("/client.conf"));
        set("PULSE_SERVER", QStringLiteral("unix:") + socket());
        set("SDL_AUDIODRIVER", QStringLiteral("pulseaudio"));
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    ~PulseServer() override {
        PulseServer::stopCapture();
        PulseServer::stop();
    }

    QString name() const override { return QStringLiteral("PulseAudio"); }
    QString socket() const { return m_dir.filePath(QStringLiteral("sock")); }
    QString logFile() const { return m_dir.filePath(QStringLiteral("server.log")); }
    QByteArray serverLog() const override {
        QFile file(logFile());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    QString captureFile() const override { return m_dir.filePath(QStringLiteral("capture.raw")); }

    bool start(QString* why) override {
        QFile::remove(socket());
        // PulseAudio says READY=1 on NOTIFY_SOCKET, as to systemd, once it serves: after
        // its modules are loaded, the socket among them.
        ReadinessSocket readiness(m_dir.filePath(QStringLiteral("notify")));
        if (!readiness.isOpen()) {
            *why = QStringLiteral("cannot make the socket pulseaudio tells it is ready on");
            return false;
        }
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("NOTIFY_SOCKET"), readiness.path());
        m_server.setProcessEnvironment(env);
        // Into a file: nobody reads a pipe while a test speaks, and a server whose pipe
        // fills up stops dead in its next log line.
        m_server.setProcessChannelMode(QProcess::MergedChannels);
        m_server.setStandardOutputFile(logFile());
        // A test that crashes or is killed by its timeout takes the server with it.
        m_server.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        m_server.start(QStringLiteral("pulseaudio"),
                       {QStringLiteral("-n"), QStringLiteral("--daemonize=no"),
                        QStringLiteral("--exit-idle-time=-1"), QStringLiteral("--use-pid-file=no"),
                        QStringLiteral("--disable-shm=yes"), QStringLiteral("--log-target=stderr"),
                        QStringLiteral("-L"),
                        QStringLiteral("module-null-sink sink_name=%1 rate=48000 channels=2 "
                                       "format=float32le")
                            .arg(QLatin1String(Sink)),
                        QStringLiteral("-L"),
                        QStringLiteral("module-native-protocol-unix socket=%1 auth-anonymous=1")
                            .arg(socket())});
        if (!m_server.waitForStarted(5000)) {
            *why = QStringLiteral("pulseaudio did not start: ") + m_server.errorString();
            return false;
        }
        Wakeups wake;
        wake.onRead(readiness.fd());
        wake.onEnd(m_server.processId());
        if (wake.until([&] { return readiness.ready(); }, 10000)) {
            QProcess info;
            info.start(QStringLiteral("pactl"), {QStringLiteral("info")});
            if (info.waitForFinished(3000) && info.exitCode() == 0)
                return true;
        }
        m_server.waitForFinished(100);
        *why = QStringLiteral("pulseaudio never answered: ") + QString::fromLocal8Bit(serverLog());
        return false;
    }
    void stop() override {
        if (m_server.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(m_server.processId()), SIGCONT);
        m_server.terminate();
        if (!m_server.waitForFinished(3000))
            m_server.kill();
        m_server.waitForFinished(3000);
    }
    qint64 pid() const { return m_server.processId(); }
    void freeze() override { ::kill(pid_t(m_server.processId()), SIGSTOP); }
    void thaw() override { ::kill(pid_t(m_server.processId()), SIGCONT); }

    bool startCapture() override {
        return m_capture.start(QStringLiteral("%1.monitor").arg(QLatin1String(Sink)),
                               captureFile());
    }
    std::vector<float> stopCapture() override { return m_capture.stop(); }

private:
    static void set(const char* name, const QString& value) {
        ::setenv(name, QFile::encodeName(value).constData(), 1);
    }

    QTemporaryDir m_dir;
    QProcess m_server;
    MonitorCapture m_capture;
};

} // namespace brumlis::test
