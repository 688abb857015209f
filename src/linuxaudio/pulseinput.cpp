#include "brumlis/linuxaudio/soundinput.h"
#include "soundserverconnection.h"

#include <QMutex>
#include <QMutexLocker>
#include <QTimer>
#include <algorithm>
#include <vector>

namespace brumlis {

namespace {

using Lock = SoundServerConnection::Lock;

// A server that has not answered by then is reported unavailable.
constexpr int ConnectTimeoutMs = 5000;

QString pulseError(int error) {
    return SoundServerConnection::errorText(error);
}

/// Recording on the program's connection to the sound server: one record stream, made
/// anew whenever the connection comes back, and the list of the server's inputs. Calls only
/// take the loop's lock, which its thread holds just while it runs a callback; nothing
/// waits for the server, so a frozen or absent server cannot freeze the window.
class PulseInput final : public SoundInput {
public:
    explicit PulseInput(std::shared_ptr<SoundServerConnection> server)
        : m_server(std::move(server)) {
        m_connectTimer.setSingleShot(true);
        m_connectTimer.setInterval(ConnectTimeoutMs);
        connect(&m_connectTimer, &QTimer::timeout, this, [this] {
            Lock lock(*m_server);
            if (!m_up)
                reportUnavailable(QStringLiteral("ljudservern svarar inte"));
        });
    }

    ~PulseInput() override {
        m_connectTimer.stop();
        if (m_watch)
            m_server->unwatch(m_watch);
        {
            Lock lock(*m_server);
            closeRecordStream();
            for (pa_operation* op : m_asked) {
                pa_operation_cancel(op);
                pa_operation_unref(op);
            }
            m_asked.clear();
            if (pa_context* context = m_server->context())
                pa_context_set_subscribe_callback(context, nullptr, nullptr);
        }
        if (m_opened)
            m_server->unwant();
    }

    void open() override {
        if (m_opened)
            return;
        m_opened = true;
        m_watch = m_server->watch([this](bool up) { up ? cameUp() : wentDown(); });
        m_connectTimer.start();
        m_server->want();
        // Already there, for the engine's sake: no watcher is told of that.
        Lock lock(*m_server);
        if (m_server->context() && !m_up)
            cameUp();
    }

    QList<InputSource> sources() const override {
        QMutexLocker lock(&m_sourcesMutex);
        return m_sources;
    }

    QByteArray defaultSource() const override {
        QMutexLocker lock(&m_sourcesMutex);
        return m_default;
    }

    void startCapture(const QByteArray& source, CaptureCallback callback) override {
        Lock lock(*m_server);
        closeRecordStream();
        m_callback = std::move(callback);
        m_captureSource = source;
        m_wantCapture = true;
        if (m_up)
            openRecordStream();
    }

    void stopCapture() override {
        Lock lock(*m_server);
        m_wantCapture = false;
        closeRecordStream();
        // The callback runs only with the loop locked: from here on it is never called.
        m_callback = {};
    }

private:
    // With the loop locked, all of them.
    void cameUp() {
        pa_context* context = m_server->context();
        m_up = true;
        m_toldUnavailable = false;
        pa_context_set_subscribe_callback(
            context,
            [](pa_context*, pa_subscription_event_type_t, uint32_t, void* self) {
                static_cast<PulseInput*>(self)->refreshSources();
            },
            this);
        keep(pa_context_subscribe(
            context,
            pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER),
            nullptr, nullptr));
        refreshSources();
        if (m_wantCapture)
            openRecordStream();
        post([this] { Q_EMIT ready(); });
    }

    void wentDown() {
        const bool wasUp = std::exchange(m_up, false);
        closeRecordStream();
        reportUnavailable(wasUp ? QStringLiteral("ljudservern försvann")
                                : pulseError(m_server->lastError()));
    }

    void reportUnavailable(const QString& why) {
        if (std::exchange(m_toldUnavailable, true))
            return;
        post([this, why] { Q_EMIT unavailable(why); });
    }

    template <typename Work> void post(Work work) {
        QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
    }

    /// Keeps an operation under way, so that it can be called off when this input goes.
    void keep(pa_operation* op) {
        if (!op)
            return;
        m_asked.erase(std::remove_if(m_asked.begin(), m_asked.end(),
                                     [](pa_operation* o) {
                                         if (pa_operation_get_state(o) == PA_OPERATION_RUNNING)
                                             return false;
                                         pa_operation_unref(o);
                                         return true;
                                     }),
                      m_asked.end());
        m_asked.push_back(op);
    }

    void refreshSources() {
        pa_context* context = m_server->context();
        if (!context)
            return;
        // The default is asked for first and so answered first: the list that follows never
        // comes without it.
        keep(pa_context_get_server_info(
            context,
            [](pa_context*, const pa_server_info* info, void* self) {
                auto* input = static_cast<PulseInput*>(self);
                if (!info)
                    return;
                QMutexLocker lock(&input->m_sourcesMutex);
                input->m_default =
                    QByteArray(info->default_source_name ? info->default_source_name : "");
            },
            this));
        keep(pa_context_get_source_info_list(
            context,
            [](pa_context*, const pa_source_info* info, int eol, void* self) {
                auto* input = static_cast<PulseInput*>(self);
                if (eol < 0) {
                    input->m_collecting.clear();
                    return;
                }
                if (eol == 0 && info) {
                    input->m_collecting.append({QByteArray(info->name),
                                                QString::fromUtf8(info->description),
                                                info->monitor_of_sink != PA_INVALID_INDEX});
                    return;
                }
                {
                    QMutexLocker lock(&input->m_sourcesMutex);
                    input->m_sources = std::exchange(input->m_collecting, {});
                }
                input->post([input] { Q_EMIT input->sourcesChanged(); });
            },
            this));
    }

    void openRecordStream() {
        pa_context* context = m_server->context();
        const pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32NE, uint32_t(CaptureRate), 1};
        m_record = context ? pa_stream_new(context, "Inspelning", &sampleFormat, nullptr) : nullptr;
        if (!m_record) {
            reportCaptureFailed(pulseError(context ? pa_context_errno(context) : PA_ERR_UNKNOWN));
            return;
        }
        pa_stream_set_state_callback(
            m_record,
            [](pa_stream* stream, void* self) {
                auto* input = static_cast<PulseInput*>(self);
                if (pa_stream_get_state(stream) == PA_STREAM_FAILED && input->m_up)
                    input->reportCaptureFailed(
                        pulseError(pa_context_errno(pa_stream_get_context(stream))));
            },
            this);
        pa_stream_set_read_callback(m_record, &PulseInput::readable, this);
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
            reportCaptureFailed(pulseError(pa_context_errno(context)));
            closeRecordStream();
        }
    }

    void closeRecordStream() {
        if (!m_record)
            return;
        pa_stream_set_state_callback(m_record, nullptr, nullptr);
        pa_stream_set_read_callback(m_record, nullptr, nullptr);
        pa_stream_disconnect(m_record);
        pa_stream_unref(m_record);
        m_record = nullptr;
    }

    void reportCaptureFailed(const QString& why) {
        post([this, why] { Q_EMIT captureFailed(why); });
    }

    static void readable(pa_stream* stream, std::size_t, void* self) {
        auto* input = static_cast<PulseInput*>(self);
        while (pa_stream_readable_size(stream) > 0) {
            const void* data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
                break;
            // No data with a length is a hole the server left: nothing to hand on.
            if (data && input->m_callback)
                input->m_callback(static_cast<const float*>(data), bytes / sizeof(float));
            pa_stream_drop(stream);
        }
    }

    const std::shared_ptr<SoundServerConnection> m_server;
    QTimer m_connectTimer;
    bool m_opened = false;
    int m_watch = 0;
    // With the loop locked:
    bool m_up = false;
    bool m_toldUnavailable = false;
    std::vector<pa_operation*> m_asked;
    pa_stream* m_record = nullptr;
    bool m_wantCapture = false;
    QByteArray m_captureSource;
    CaptureCallback m_callback;
    QList<InputSource> m_collecting;

    mutable QMutex m_sourcesMutex;
    QList<InputSource> m_sources;
    QByteArray m_default;
};

} // namespace

std::unique_ptr<SoundInput> makeSoundInput(std::shared_ptr<SoundServerConnection> server) {
    return std::make_unique<PulseInput>(server ? std::move(server) : makeSoundServerConnection());
}

} // namespace brumlis
