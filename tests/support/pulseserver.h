#pragma once

#include "support/soundserver.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
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
        // Into a file: nobody reads a pipe while a test speaks, and a server whose pipe
        // fills up stops dead in its next log line.
        m_server.setProcessChannelMode(QProcess::MergedChannels);
        m_server.setStandardOutputFile(logFile());
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
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 10000) {
            QProcess info;
            info.start(QStringLiteral("pactl"), {QStringLiteral("info")});
            if (info.waitForFinished(3000) && info.exitCode() == 0)
                return true;
            if (m_server.state() != QProcess::Running)
                break;
            QThread::msleep(50);
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

/// What a capture of constant-level clips holds: each run of one level in order, and the
/// frames of silence between the first and the last clip.
struct Heard {
    struct Run {
        int clip;
        long frames;
    };
    std::vector<Run> runs;
    long zerosInside = 0;
};

/// The index of the level in `levels` nearest to `value`.
inline int nearestLevel(float value, const std::vector<float>& levels) {
    int nearest = 0;
    for (int c = 1; c < int(levels.size()); ++c)
        if (std::fabs(value - levels[std::size_t(c)]) <
            std::fabs(value - levels[std::size_t(nearest)]))
            nearest = c;
    return nearest;
}

/// Sorts every frame to the nearest of `levels` (index = clip); frames of silence before
/// the first and after the last clip are left out. A resampled clip's edge can hold a
/// few frames between two levels: runs shorter than `edge` frames count to the run
/// before them.
inline Heard analyse(const std::vector<float>& left, const std::vector<float>& levels,
                     long edge = 8) {
    Heard heard;
    std::size_t first = 0, last = left.size();
    while (first < last && left[first] == 0.0f)
        ++first;
    while (last > first && left[last - 1] == 0.0f)
        --last;
    for (std::size_t i = first; i < last; ++i) {
        if (left[i] == 0.0f) {
            ++heard.zerosInside;
            continue;
        }
        const int nearest = nearestLevel(left[i], levels);
        if (heard.runs.empty() || heard.runs.back().clip != nearest)
            heard.runs.push_back({nearest, 0});
        ++heard.runs.back().frames;
    }
    std::vector<Heard::Run> merged;
    for (const Heard::Run& r : heard.runs) {
        if (!merged.empty() && (r.frames < edge || merged.back().clip == r.clip))
            merged.back().frames += r.frames;
        else
            merged.push_back(r);
    }
    heard.runs = merged;
    return heard;
}

} // namespace brumlis::test
