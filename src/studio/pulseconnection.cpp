#include "brumlis/studio/pulseconnection.h"

#include <QMutexLocker>
#include <pulse/pulseaudio.h>

namespace brumlis {

namespace {

// The loop's lock, held just while the window touches the connection or a stream.
class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop)
        : m_loop(loop) {
        if (m_loop)
            pa_threaded_mainloop_lock(m_loop);
    }
    ~LoopLock() {
        if (m_loop)
            pa_threaded_mainloop_unlock(m_loop);
    }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* m_loop;
};

QString pulseError(pa_context* context) {
    return QString::fromUtf8(pa_strerror(context ? pa_context_errno(context) : PA_ERR_UNKNOWN));
}

PulseConnection* serverOf(void* self) {
    return static_cast<PulseConnection*>(self);
}

} // namespace

PulseConnection::PulseConnection(QObject* parent)
    : SoundConnection(parent) {
    m_connectTimer.setSingleShot(true);
    m_connectTimer.setInterval(ConnectTimeoutMs);
    connect(&m_connectTimer, &QTimer::timeout, this, [this] {
        LoopLock lock(m_loop);
        if (!m_ready)
            reportUnavailable(QStringLiteral("ljudservern svarar inte"));
    });
}

PulseConnection::~PulseConnection() {
    m_connectTimer.stop();
    if (!m_loop)
        return;
    {
        LoopLock lock(m_loop);
        closeRecordStream();
        if (m_context) {
            pa_context_set_state_callback(m_context, nullptr, nullptr);
            pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
            m_context = nullptr;
        }
    }
    // The loop's thread only waits in poll(), never on the server, so this join is quick.
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
}

void PulseConnection::open() {
    if (m_loop)
        return;
    m_loop = pa_threaded_mainloop_new();
    if (!m_loop) {
        reportUnavailable(QStringLiteral("libpulse kunde inte starta"));
        return;
    }
    m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "Brumlis studio");
    if (!m_context) {
        reportUnavailable(QStringLiteral("libpulse kunde inte starta"));
        return;
    }
    pa_context_set_state_callback(m_context, &PulseConnection::onContextState, this);
    // No autospawn: a studio that starts a sound server of its own would record from a
    // server nobody else plays to.
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        reportUnavailable(pulseError(m_context));
        return;
    }
    if (pa_threaded_mainloop_start(m_loop) < 0) {
        reportUnavailable(QStringLiteral("libpulse kunde inte starta"));
        return;
    }
    m_connectTimer.start();
}

QList<InputSource> PulseConnection::sources() const {
    QMutexLocker lock(&m_sourcesMutex);
    return m_sources;
}

QByteArray PulseConnection::defaultSource() const {
    QMutexLocker lock(&m_sourcesMutex);
    return m_default;
}

void PulseConnection::reportUnavailable(const QString& why) {
    if (m_gaveUp)
        return;
    m_gaveUp = true;
    QMetaObject::invokeMethod(
        this, [this, why] { Q_EMIT unavailable(why); }, Qt::QueuedConnection);
}

void PulseConnection::reportCaptureFailed(const QString& why) {
    QMetaObject::invokeMethod(
        this, [this, why] { Q_EMIT captureFailed(why); }, Qt::QueuedConnection);
}

void PulseConnection::onContextState(pa_context* context, void* self) {
    PulseConnection* server = serverOf(self);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY:
        server->m_ready = true;
        pa_context_set_subscribe_callback(
            context,
            [](pa_context*, pa_subscription_event_type_t, uint32_t, void* s) {
                serverOf(s)->refreshSources();
            },
            server);
        if (pa_operation* op = pa_context_subscribe(
                context,
                pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER),
                nullptr, nullptr))
            pa_operation_unref(op);
        server->refreshSources();
        if (server->m_wantCapture)
            server->openRecordStream();
        QMetaObject::invokeMethod(
            server, [server] { Q_EMIT server->ready(); }, Qt::QueuedConnection);
        break;
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        server->reportUnavailable(server->m_ready ? QStringLiteral("ljudservern försvann")
                                                  : pulseError(context));
        server->m_ready = false;
        break;
    default:
        break;
    }
}

void PulseConnection::refreshSources() {
    if (!m_context)
        return;
    if (pa_operation* op = pa_context_get_server_info(
            m_context,
            [](pa_context*, const pa_server_info* info, void* s) {
                PulseConnection* server = serverOf(s);
                if (!info)
                    return;
                // Reported with the list of sources, which is asked for after this and so
                // answered after it: the window never sees a default without the list.
                QMutexLocker lock(&server->m_sourcesMutex);
                server->m_default =
                    QByteArray(info->default_source_name ? info->default_source_name : "");
            },
            this))
        pa_operation_unref(op);
    if (pa_operation* op = pa_context_get_source_info_list(
            m_context,
            [](pa_context*, const pa_source_info* info, int eol, void* s) {
                PulseConnection* server = serverOf(s);
                if (eol < 0) {
                    server->m_collecting.clear();
                    return;
                }
                if (eol == 0 && info) {
                    server->m_collecting.append({QByteArray(info->name),
                                                 QString::fromUtf8(info->description),
                                                 info->monitor_of_sink != PA_INVALID_INDEX});
                    return;
                }
                {
                    QMutexLocker lock(&server->m_sourcesMutex);
                    server->m_sources = std::move(server->m_collecting);
                }
                server->m_collecting.clear();
                QMetaObject::invokeMethod(
                    server, [server] { Q_EMIT server->sourcesChanged(); }, Qt::QueuedConnection);
            },
            this))
        pa_operation_unref(op);
}

void PulseConnection::startCapture(const QByteArray& source, CaptureCallback callback) {
    LoopLock lock(m_loop);
    closeRecordStream();
    m_callback = std::move(callback);
    m_captureSource = source;
    m_wantCapture = true;
    if (m_ready)
        openRecordStream();
}

void PulseConnection::stopCapture() {
    LoopLock lock(m_loop);
    m_wantCapture = false;
    closeRecordStream();
    // The callback runs only with the loop locked: from here on it is never called.
    m_callback = {};
}

void PulseConnection::openRecordStream() {
    const pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32NE, uint32_t(CaptureRate), 1};
    m_record = pa_stream_new(m_context, "Inspelning", &sampleFormat, nullptr);
    if (!m_record) {
        reportCaptureFailed(pulseError(m_context));
        return;
    }
    pa_stream_set_state_callback(m_record, &PulseConnection::onRecordState, this);
    pa_stream_set_read_callback(m_record, &PulseConnection::onRead, this);
    // Pieces of 20 ms: the meter gets a fresh reading in time and a take's end is noticed
    // soon after its silence, for about fifty wake-ups a second.
    pa_buffer_attr attr;
    attr.maxlength = uint32_t(-1);
    attr.tlength = uint32_t(-1);
    attr.prebuf = uint32_t(-1);
    attr.minreq = uint32_t(-1);
    attr.fragsize = uint32_t(pa_usec_to_bytes(20000, &sampleFormat));
    const char* device = m_captureSource.isEmpty() ? nullptr : m_captureSource.constData();
    if (pa_stream_connect_record(m_record, device, &attr, PA_STREAM_ADJUST_LATENCY) < 0) {
        reportCaptureFailed(pulseError(m_context));
        closeRecordStream();
    }
}

void PulseConnection::closeRecordStream() {
    if (!m_record)
        return;
    pa_stream_set_state_callback(m_record, nullptr, nullptr);
    pa_stream_set_read_callback(m_record, nullptr, nullptr);
    pa_stream_disconnect(m_record);
    pa_stream_unref(m_record);
    m_record = nullptr;
}

void PulseConnection::onRecordState(pa_stream* stream, void* self) {
    PulseConnection* server = serverOf(self);
    if (pa_stream_get_state(stream) == PA_STREAM_FAILED)
        server->reportCaptureFailed(pulseError(server->m_context));
}

void PulseConnection::onRead(pa_stream* stream, std::size_t, void* self) {
    PulseConnection* server = serverOf(self);
    while (pa_stream_readable_size(stream) > 0) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
            break;
        // No data with a length is a hole the server left: nothing to hand on.
        if (data && server->m_callback)
            server->m_callback(static_cast<const float*>(data), bytes / sizeof(float));
        pa_stream_drop(stream);
    }
}

} // namespace brumlis
