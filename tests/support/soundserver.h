#pragma once

#include "support/processwait.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QString>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brumlis::test {

/// Which of SDL's audio backends a test uses to reach the server.
enum class SdlDriver { PulseAudio, PipeWire };

inline const char* sdlDriverName(SdlDriver driver) {
    return driver == SdlDriver::PipeWire ? "pipewire" : "pulseaudio";
}

/// A private sound server with one null sink whose monitor can be recorded. While one
/// lives, this process's environment points at it, so SDL and every program started
/// from here reach it and nothing else. One at a time: they share that environment.
class SoundServer {
public:
    virtual ~SoundServer() = default;

    /// For test output: which server, and for PipeWire which SDL backend.
    virtual QString name() const = 0;
    /// Starts the server and waits until it plays. False, with the reason, if it cannot.
    virtual bool start(QString* why) = 0;
    /// Ends every process of the server, frozen or not.
    virtual void stop() = 0;
    /// Stops every process of the server dead (SIGSTOP), as a hung server looks to a
    /// client; thaw() lets them run on.
    virtual void freeze() = 0;
    virtual void thaw() = 0;
    /// What the server has said so far.
    virtual QByteArray serverLog() const = 0;
    /// Records the sink's monitor, 48 kHz stereo float, into captureFile() until
    /// stopCapture. Returns once the recording runs.
    virtual bool startCapture() = 0;
    virtual QString captureFile() const = 0;
    /// Stops recording; returns the left channel of what was captured.
    virtual std::vector<float> stopCapture() = 0;
};

/// What the server in this process's environment says of its playback streams
/// (`pactl list sink-inputs`): which program each belongs to, and through what.
inline QByteArray playbackStreams() {
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), {QStringLiteral("list"), QStringLiteral("sink-inputs")});
    pactl.waitForFinished(10000);
    return pactl.readAllStandardOutput();
}

/// The left channel of a 48 kHz stereo float capture, as far as it has been written.
inline std::vector<float> readLeftChannel(const QString& path) {
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    std::vector<float> left(std::size_t(bytes.size()) / 8);
    for (std::size_t i = 0; i < left.size(); ++i)
        std::memcpy(&left[i], bytes.constData() + 8 * i, sizeof(float));
    return left;
}

/// parec recording a sink's monitor into a file, its messages into another beside it.
/// parec writes to the file itself: a pipe would hold it up whenever this process, busy
/// speaking, is slow to read.
class MonitorCapture {
public:
    bool start(const QString& monitor, const QString& path) {
        QFile::remove(path);
        m_path = path;
        m_parec.setStandardOutputFile(path);
        m_parec.setStandardErrorFile(path + QStringLiteral(".log"));
        m_parec.start(QStringLiteral("parec"),
                      {QStringLiteral("--device=%1").arg(monitor), QStringLiteral("--raw"),
                       QStringLiteral("--format=float32le"), QStringLiteral("--rate=48000"),
                       QStringLiteral("--channels=2"), QStringLiteral("--latency-msec=20")});
        // A new stream can take seconds to start, after a first burst of a few tenths of
        // a second: only a capture that has delivered more than that runs for sure.
        constexpr qint64 Flowing = 48000 * 8 * 6 / 10;
        if (!m_parec.waitForStarted(5000))
            return false;
        // The file is there once parec runs: QProcess opens it before parec starts.
        Wakeups wake;
        wake.onChange(path, Wakeups::Written);
        wake.onEnd(m_parec.processId());
        return wake.until([&] { return QFileInfo(path).size() >= Flowing; }, 10000);
    }
    std::vector<float> stop() {
        if (m_parec.state() == QProcess::NotRunning)
            return {};
        m_parec.terminate();
        if (!m_parec.waitForFinished(10000)) {
            m_parec.kill();
            m_parec.waitForFinished(3000);
        }
        return readLeftChannel(m_path);
    }

private:
    QProcess m_parec;
    QString m_path;
};

/// Sets environment variables for as long as it lives, then puts back what was there.
class EnvironmentOverride {
public:
    EnvironmentOverride() = default;
    EnvironmentOverride(const EnvironmentOverride&) = delete;
    EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;
    ~EnvironmentOverride() {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second)
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                ::unsetenv(it->first.c_str());
        }
    }
    void set(const char* name, const QString& value) {
        save(name);
        ::setenv(name, QFile::encodeName(value).constData(), 1);
    }
    void unset(const char* name) {
        save(name);
        ::unsetenv(name);
    }

private:
    void save(const char* name) {
        const char* old = std::getenv(name);
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

} // namespace brumlis::test
