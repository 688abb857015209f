#pragma once

#include "brumlis/studio/soundconnection.h"

#include <QMutex>
#include <QTimer>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

namespace brumlis {

/// The studio's sound through libpulse (PulseAudio, or PipeWire's pipewire-pulse): one
/// connection on a threaded main loop and one record stream. Calls from the window only
/// take the loop's lock, which the loop's thread holds just while it runs a callback; no
/// call waits for the server, so a frozen or absent server cannot freeze the window.
class PulseConnection final : public SoundConnection {
    Q_OBJECT

public:
    /// A server that has not answered by then is reported unavailable.
    static constexpr int ConnectTimeoutMs = 5000;

    explicit PulseConnection(QObject* parent = nullptr);
    ~PulseConnection() override;

    void open() override;
    QList<InputSource> sources() const override;
    QByteArray defaultSource() const override;
    void startCapture(const QByteArray& source, CaptureCallback callback) override;
    void stopCapture() override;

private:
    static void onContextState(pa_context* context, void* self);
    static void onRecordState(pa_stream* stream, void* self);
    static void onRead(pa_stream* stream, std::size_t bytes, void* self);

    // With the loop locked.
    void openRecordStream();
    void closeRecordStream();
    void refreshSources();
    void reportUnavailable(const QString& why);
    void reportCaptureFailed(const QString& why);

    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    bool m_ready = false;
    bool m_gaveUp = false;
    QTimer m_connectTimer;

    pa_stream* m_record = nullptr;
    bool m_wantCapture = false;
    QByteArray m_captureSource;
    CaptureCallback m_callback;

    mutable QMutex m_sourcesMutex;
    QList<InputSource> m_sources;
    QList<InputSource> m_collecting;
    QByteArray m_default;
};

} // namespace brumlis
