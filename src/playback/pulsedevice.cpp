#include "audiodevice.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <pulse/pulseaudio.h>

namespace brumlis {

namespace {

// Longest a connection to the sound server, or its stream, is waited for.
constexpr auto ConnectWait = std::chrono::seconds(3);
// What the server is asked to keep queued for the stream, all the way to the speaker: a
// busy machine has that long to come back with more before a word breaks up.
constexpr int TargetLatencyMs = 50;
// Silence a sentence starts with once the stream runs again. A PulseAudio sink rewinds
// what it has rendered ahead when a stream starts, to mix it in sooner, and the start of
// the stream's sound then goes missing from what the sink puts out, as far as the sink's
// latency (12 ms here); the silence goes instead.
constexpr int LeadInMs = 20;
// Silence after a sentence's last sound, so that all of it is played out.
constexpr int LeadOutMs = 50;
// How long the stream plays silence once it is open at most, waiting for the sink to come
// down to its latency (an idle null sink takes about two seconds).
constexpr auto WarmUpLimit = std::chrono::milliseconds(2500);

/// A playback stream on a PulseAudio server, or on PipeWire through pipewire-pulse, on a
/// main loop thread of libpulse's.
///
/// The server asks for sound whenever its buffer for the stream runs below the target,
/// and says how long what the stream has written takes to be heard: what is written next
/// is heard that long after now. Between sentences the stream is corked, which costs
/// neither side anything and starts again at once.
class PulseDevice final : public AudioDevice {
public:
    PulseDevice(const DeviceFormat& format, Source source)
        : m_format(format)
        , m_source(std::move(source)) {}
    ~PulseDevice() override { close(); }

    bool open(QString* error) override;
    void close() override;
    bool lost() const override { return m_lost; }
    bool takesWhatThereIs() const override { return true; }
    bool closesWhenIdle() const override { return false; }
    void play() override;
    void more(bool last) override;
    void pause() override;
    QString name() const override { return QStringLiteral("PulseAudio"); }

private:
    class Locked;

    static void contextChanged(pa_context* context, void* self);
    static void streamChanged(pa_stream* stream, void* self);
    static void writable(pa_stream* stream, std::size_t bytes, void* self);
    static void timingUpdated(pa_stream* stream, void* self);
    /// Writes as much of the queued sound as the server takes. Called with the loop locked.
    void write();
    /// Plays the stream a moment, so the sink settles on its latency.
    void warmUp();
    /// How long until what has been written so far is heard. Called with the loop locked.
    std::chrono::nanoseconds heardDelay() const;
    /// Waits for the callbacks, at most `limit`, until `done` holds.
    template <typename Done>
    bool waitUntil(Done done, std::chrono::milliseconds limit = ConnectWait);
    void changed();
    QString failure(const char* what) const;

    DeviceFormat m_format;
    Source m_source;
    std::mutex m_use; ///< open() and close() against the speaker's calls
    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    // With the loop locked:
    bool m_corked = true;
    bool m_endQueued = false;           ///< the sentence's last sound is in the engine's queue
    std::size_t m_leadIn = 0;           ///< bytes of silence still to go before the sentence
    std::size_t m_leadOut = 0;          ///< and after it
    bool m_warming = false;             ///< playing silence until the sink has settled
    std::atomic<bool> m_settled{false}; ///< the sink's latency is down to what was asked

    std::mutex m_stateMutex;
    std::condition_variable m_stateChanged;
    std::atomic<pa_context_state_t> m_contextState{PA_CONTEXT_UNCONNECTED};
    std::atomic<pa_stream_state_t> m_streamState{PA_STREAM_UNCONNECTED};
    std::atomic<bool> m_lost{false};
};

/// The main loop locked for the life of a scope.
class PulseDevice::Locked {
public:
    explicit Locked(pa_threaded_mainloop* loop)
        : m_loop(loop) {
        pa_threaded_mainloop_lock(m_loop);
    }
    ~Locked() { pa_threaded_mainloop_unlock(m_loop); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    pa_threaded_mainloop* m_loop;
};

void unref(pa_operation* operation) {
    if (operation)
        pa_operation_unref(operation);
}

void PulseDevice::contextChanged(pa_context* context, void* self) {
    auto& d = *static_cast<PulseDevice*>(self);
    const pa_context_state_t state = pa_context_get_state(context);
    d.m_contextState = state;
    if (!PA_CONTEXT_IS_GOOD(state))
        d.m_lost = true;
    d.changed();
}

void PulseDevice::streamChanged(pa_stream* stream, void* self) {
    auto& d = *static_cast<PulseDevice*>(self);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    d.m_streamState = state;
    if (!PA_STREAM_IS_GOOD(state))
        d.m_lost = true;
    d.changed();
}

void PulseDevice::writable(pa_stream*, std::size_t, void* self) {
    static_cast<PulseDevice*>(self)->write();
}

// With automatic timing updates on, the server's figures come in by themselves.
void PulseDevice::timingUpdated(pa_stream* stream, void* self) {
    auto& d = *static_cast<PulseDevice*>(self);
    if (!d.m_warming)
        return;
    const pa_timing_info* timing = pa_stream_get_timing_info(stream);
    if (timing && timing->playing &&
        timing->sink_usec <= std::uint64_t(2 * TargetLatencyMs) * PA_USEC_PER_MSEC) {
        d.m_settled = true;
        d.changed();
    }
}

void PulseDevice::changed() {
    std::lock_guard lock(m_stateMutex);
    m_stateChanged.notify_all();
}

template <typename Done> bool PulseDevice::waitUntil(Done done, std::chrono::milliseconds limit) {
    std::unique_lock lock(m_stateMutex);
    return m_stateChanged.wait_for(lock, limit, done);
}

QString PulseDevice::failure(const char* what) const {
    const int error = m_context ? pa_context_errno(m_context) : PA_ERR_UNKNOWN;
    return QStringLiteral("PulseAudio: %1: %2")
        .arg(QLatin1String(what), QString::fromUtf8(pa_strerror(error)));
}

bool PulseDevice::open(QString* error) {
    std::unique_lock use(m_use);
    m_lost = false;
    m_corked = true;
    m_loop = pa_threaded_mainloop_new();
    if (!m_loop) {
        *error = QStringLiteral("PulseAudio: pa_threaded_mainloop_new");
        return false;
    }
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, "Brumlis");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ID, "se.brumlis.brumlis");
    pa_proplist_sets(properties, PA_PROP_APPLICATION_ICON_NAME, "brumlis");
    m_context =
        pa_context_new_with_proplist(pa_threaded_mainloop_get_api(m_loop), "Brumlis", properties);
    pa_proplist_free(properties);
    auto fail = [&](const QString& why) {
        *error = why;
        use.unlock();
        close();
        return false;
    };
    if (!m_context)
        return fail(QStringLiteral("PulseAudio: pa_context_new"));
    pa_context_set_state_callback(m_context, &PulseDevice::contextChanged, this);
    // Without a server there is nothing to wait for: the program falls back on SDL.
    if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
        return fail(failure("pa_context_connect"));
    if (pa_threaded_mainloop_start(m_loop) < 0)
        return fail(QStringLiteral("PulseAudio: pa_threaded_mainloop_start"));
    const bool settled = waitUntil([this] {
        const pa_context_state_t state = m_contextState;
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    });
    if (!settled || m_contextState != PA_CONTEXT_READY) {
        QString why;
        {
            Locked locked(m_loop);
            why = settled ? failure("pa_context_connect")
                          : QStringLiteral("PulseAudio: the server does not answer");
        }
        return fail(why);
    }
    QString why;
    {
        Locked locked(m_loop);
        pa_sample_spec sampleFormat{};
        sampleFormat.format = PA_SAMPLE_FLOAT32NE;
        sampleFormat.rate = std::uint32_t(m_format.rate);
        sampleFormat.channels = std::uint8_t(m_format.channels);
        pa_channel_map map;
        pa_channel_map_init_auto(&map, sampleFormat.channels, PA_CHANNEL_MAP_DEFAULT);
        m_stream = pa_stream_new(m_context, "Brumlis", &sampleFormat, &map);
        if (m_stream) {
            pa_stream_set_state_callback(m_stream, &PulseDevice::streamChanged, this);
            pa_stream_set_write_callback(m_stream, &PulseDevice::writable, this);
            pa_stream_set_latency_update_callback(m_stream, &PulseDevice::timingUpdated, this);
            pa_buffer_attr attr{};
            attr.maxlength = std::uint32_t(-1);
            attr.tlength =
                std::uint32_t(pa_usec_to_bytes(TargetLatencyMs * PA_USEC_PER_MSEC, &sampleFormat));
            attr.prebuf = std::uint32_t(-1);
            attr.minreq = std::uint32_t(-1);
            attr.fragsize = std::uint32_t(-1);
            const auto flags = pa_stream_flags_t(
                PA_STREAM_START_CORKED | PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
            if (pa_stream_connect_playback(m_stream, nullptr, &attr, flags, nullptr, nullptr) < 0)
                why = failure("pa_stream_connect_playback");
        } else {
            why = failure("pa_stream_new");
        }
    }
    if (!why.isEmpty())
        return fail(why);
    const bool ready = waitUntil([this] {
        const pa_stream_state_t state = m_streamState;
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state) ||
               !PA_CONTEXT_IS_GOOD(m_contextState.load());
    });
    if (!ready || m_streamState != PA_STREAM_READY) {
        {
            Locked locked(m_loop);
            why = ready ? failure("pa_stream_connect_playback")
                        : QStringLiteral("PulseAudio: the stream does not start");
        }
        return fail(why);
    }
    warmUp();
    return true;
}

void PulseDevice::warmUp() {
    // A sink with no stream may run with a latency of a second or two; it comes down to
    // what this stream asks for only while the stream plays. So the stream plays silence
    // until it has (on the device thread, which is there to wait on the server), and is
    // corked then: the first sentence is heard when the timing says, not after the sink's
    // old buffer.
    {
        Locked locked(m_loop);
        m_corked = false;
        m_warming = true;
        m_settled = false;
        unref(pa_stream_cork(m_stream, 0, nullptr, nullptr));
        write();
        unref(pa_stream_trigger(m_stream, nullptr, nullptr));
    }
    waitUntil([this] { return m_settled || m_lost; }, WarmUpLimit);
    Locked locked(m_loop);
    m_warming = false;
    m_corked = true;
    unref(pa_stream_cork(m_stream, 1, nullptr, nullptr));
    unref(pa_stream_flush(m_stream, nullptr, nullptr));
}

void PulseDevice::close() {
    std::lock_guard use(m_use);
    if (!m_loop)
        return;
    // The loop's thread is gone after this, so nothing below needs its lock. A frozen
    // server does not hold it up: the loop never waits on the server.
    pa_threaded_mainloop_stop(m_loop);
    if (m_stream) {
        pa_stream_set_state_callback(m_stream, nullptr, nullptr);
        pa_stream_set_write_callback(m_stream, nullptr, nullptr);
        pa_stream_set_latency_update_callback(m_stream, nullptr, nullptr);
        pa_stream_disconnect(m_stream);
        pa_stream_unref(m_stream);
        m_stream = nullptr;
    }
    if (m_context) {
        pa_context_set_state_callback(m_context, nullptr, nullptr);
        pa_context_disconnect(m_context);
        pa_context_unref(m_context);
        m_context = nullptr;
    }
    pa_threaded_mainloop_free(m_loop);
    m_loop = nullptr;
    m_warming = false;
    m_lost = true;
}

void PulseDevice::play() {
    std::lock_guard use(m_use);
    if (!m_stream)
        return;
    Locked locked(m_loop);
    m_endQueued = false;
    m_leadOut = std::size_t(LeadOutMs * m_format.rate / 1000 * m_format.bytesPerFrame);
    if (m_corked) {
        m_corked = false;
        unref(pa_stream_cork(m_stream, 0, nullptr, nullptr));
        m_leadIn = std::size_t(LeadInMs * m_format.rate / 1000 * m_format.bytesPerFrame);
    }
    write();
}

void PulseDevice::more(bool last) {
    std::lock_guard use(m_use);
    if (!m_stream)
        return;
    Locked locked(m_loop);
    m_endQueued = last;
    write();
}

void PulseDevice::pause() {
    std::lock_guard use(m_use);
    if (!m_stream)
        return;
    Locked locked(m_loop);
    if (m_corked)
        return;
    m_corked = true;
    unref(pa_stream_cork(m_stream, 1, nullptr, nullptr));
    // Whatever the server still holds would be heard at the next sentence's start.
    unref(pa_stream_flush(m_stream, nullptr, nullptr));
}

std::chrono::nanoseconds PulseDevice::heardDelay() const {
    // libpulse's own interpolation (PA_STREAM_INTERPOLATE_TIMING) was seen to run ahead
    // while the stream was corked and then stand still, as it never goes back: what it
    // said was heard was far ahead of what had been written. So it is worked out from the
    // latest timing update here, and what has been played since.
    const pa_timing_info* timing = pa_stream_get_timing_info(m_stream);
    if (!timing || timing->write_index_corrupt || timing->read_index_corrupt)
        return std::chrono::milliseconds(TargetLatencyMs);
    const std::int64_t buffered = std::int64_t(pa_bytes_to_usec(
        std::uint64_t(std::max<std::int64_t>(0, timing->write_index - timing->read_index)),
        pa_stream_get_sample_spec(m_stream)));
    std::int64_t usec = buffered - std::int64_t(timing->transport_usec);
    if (timing->playing) {
        // Played since the update: the server's buffer and the sink's ran on.
        usec += std::int64_t(timing->sink_usec) - std::int64_t(pa_timeval_age(&timing->timestamp));
    } else if (timing->sink_usec > std::uint64_t(2 * TargetLatencyMs) * PA_USEC_PER_MSEC) {
        // Not started, on a sink that has not come down to this stream's latency yet: what
        // it holds is heard first.
        usec += std::int64_t(timing->sink_usec);
    }
    // Otherwise not started yet: a stream that has just been uncorked waits for its first
    // sound, and then the sink mixes it in at once (a PulseAudio sink rewinds what it had
    // rendered ahead for that): what has been written is heard from then on.
    return std::chrono::microseconds(std::max<std::int64_t>(0, usec));
}

void PulseDevice::write() {
    if (!m_stream || m_corked || pa_stream_get_state(m_stream) != PA_STREAM_READY)
        return;
    const std::size_t frameBytes = std::size_t(m_format.bytesPerFrame);
    for (;;) {
        std::size_t bytes = pa_stream_writable_size(m_stream);
        if (bytes == std::size_t(-1) || bytes < frameBytes)
            return;
        // What comes now is heard right after what has been written so far.
        const std::chrono::nanoseconds delay = heardDelay();
        void* data = nullptr;
        if (pa_stream_begin_write(m_stream, &data, &bytes) < 0 || !data)
            return;
        bytes -= bytes % frameBytes;
        if (m_warming || m_leadIn > 0) {
            const std::size_t n = m_warming ? bytes : std::min(bytes, m_leadIn);
            std::memset(data, 0, n);
            pa_stream_write(m_stream, data, n, nullptr, 0, PA_SEEK_RELATIVE);
            m_leadIn -= m_warming ? 0 : n;
            if (m_warming)
                return;
            continue;
        }
        const std::size_t given =
            bytes > 0 ? m_source(static_cast<std::uint8_t*>(data), bytes, delay, false) : 0;
        if (given == 0)
            pa_stream_cancel_write(m_stream);
        else
            pa_stream_write(m_stream, data, given, nullptr, 0, PA_SEEK_RELATIVE);
        if (given < bytes) {
            if (!m_endQueued)
                return; // all there is for now
            // The end of the sentence: silence behind it, as pipewire-pulse keeps the last
            // part of a quantum until more comes; and a start, as a sentence shorter than
            // what the server waits for before it starts would never be heard.
            if (m_leadOut > 0) {
                const std::size_t n =
                    std::min(m_leadOut, std::size_t(pa_stream_writable_size(m_stream)));
                if (n >= frameBytes && pa_stream_begin_write(m_stream, &data, &bytes) >= 0 &&
                    data) {
                    const std::size_t silence =
                        std::min(n, bytes) - std::min(n, bytes) % frameBytes;
                    std::memset(data, 0, silence);
                    pa_stream_write(m_stream, data, silence, nullptr, 0, PA_SEEK_RELATIVE);
                    m_leadOut -= silence;
                }
            }
            unref(pa_stream_trigger(m_stream, nullptr, nullptr));
            return;
        }
    }
}

} // namespace

std::unique_ptr<AudioDevice> makePulseDevice(const DeviceFormat& format,
                                             AudioDevice::Source source) {
    return std::make_unique<PulseDevice>(format, std::move(source));
}

} // namespace brumlis
