#pragma once

#include "brumlis/linuxaudio/soundserver.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <cstddef>
#include <functional>
#include <memory>

namespace brumlis {

/// An input the sound server offers.
struct InputSource {
    QByteArray name;      ///< the server's name for it
    QString description;  ///< for people
    bool monitor = false; ///< it hears what an output plays, not a microphone
};

/// Recording from the sound server's inputs. Every call returns at once, whatever state the
/// server is in; what follows is reported by the signals, on the thread this object lives in.
class SoundInput : public QObject {
    Q_OBJECT

public:
    /// Called with each piece of recorded sound (mono, at CaptureRate), on a thread of the
    /// server's, never after stopCapture() has returned.
    using CaptureCallback = std::function<void(const float* samples, std::size_t count)>;
    static constexpr int CaptureRate = 48000;

    using QObject::QObject;

    /// Starts to connect; ready() or unavailable() follows.
    virtual void open() = 0;

    /// The inputs the server offers, and the name of its default one. Meaningful once
    /// ready() has come; sourcesChanged() tells when they change.
    virtual QList<InputSource> sources() const = 0;
    virtual QByteArray defaultSource() const = 0;

    /// Records from `source` (empty: the server's default input), replacing the recording
    /// that ran, and again whenever the server comes back. captureFailed() follows when the
    /// input cannot be used.
    virtual void startCapture(const QByteArray& source, CaptureCallback callback) = 0;
    virtual void stopCapture() = 0;

Q_SIGNALS:
    /// The server answers, or answers again after it went away.
    void ready();
    /// There is no server to talk to, or it stopped answering: said once until ready().
    void unavailable(const QString& why);
    void sourcesChanged();
    void captureFailed(const QString& why);
};

/// Recording through the program's connection to the sound server (PulseAudio, or PipeWire
/// through pipewire-pulse). It comes back with the connection when the server restarts.
std::unique_ptr<SoundInput> makeSoundInput(std::shared_ptr<SoundServerConnection> server);

} // namespace brumlis
