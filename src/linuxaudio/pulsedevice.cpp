#include "brumlis/qtbridge/text.h"
#include "devices.h"
#include "soundserverconnection.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

namespace brumlis {

namespace {

using namespace std::chrono_literals;

// Longest the server, or the stream on it, is waited for.
constexpr std::chrono::milliseconds ConnectWait = 3s;
// What the server is asked to keep queued for the stream, all the way to the speaker. It
// sets the sink's latency, and so how soon the first word is heard.
constexpr int TargetLatencyMs = 50;
// How far ahead of the speaker the stream is fed, beyond what the server asks for: a
// sentence's clips are all known when it starts, and sound the server already holds is
// never late, however busy the machine is.
constexpr std::chrono::milliseconds AheadLimit = 1000ms;
// Silence a sentence starts with once the stream runs again. A PulseAudio sink rewinds
// what it has rendered ahead when a stream starts, and the start of the stream's sound
// goes missing, as far as the sink's latency (12 ms here): the silence goes instead. And
// pipewire-pulse's first figure, sent just before the stream is heard, is in before the
// first word is due.
constexpr int LeadInMs = 25;
// Silence after a sentence's last sound, so that all of it is played out: pipewire-pulse
// keeps the last part of a quantum until more comes.
constexpr int LeadOutMs = 50;
// How often the server is asked where the stream is while it plays, once it has said so
// for this sentence; before that, far more often, as the first word waits for it.
constexpr std::chrono::milliseconds TimingEvery = 100ms;
constexpr std::chrono::milliseconds FirstTimingEvery = 2ms;
// Closer than this counts as the same time: a word is shown to the millisecond.
constexpr std::chrono::microseconds Same{500};
// How long the stream plays silence once it is open at most, waiting for the sink to come
// down to its latency (an idle null sink takes about two seconds).
constexpr std::chrono::milliseconds WarmUpLimit = 2500ms;

void unref(pa_operation* operation) {
    if (operation)
        pa_operation_unref(operation);
}

/// A playback stream on the program's connection to the sound server.
///
/// The server asks for sound whenever its buffer for the stream runs below the target; the
/// stream gives it that and more, as far ahead as there is sound, up to AheadLimit. When
/// what it writes is heard is worked out from the server's timing, asked for only while
/// the stream plays: between sentences the stream is corked, which costs neither side
/// anything and starts again at once. Right after the stream starts, the server's figures
/// are stale: a frame written then is handed over with how soon the last sentences were
/// heard after their uncork, and the server's first fresh figure, asked for at once, moves
/// it (the Anchor), mostly before the first word is due.
class PulseDevice final : public AudioDevice {
public:
    PulseDevice(const DeviceFormat& format, Source source, Anchor anchor,
                std::shared_ptr<SoundServerConnection> connection)
        : m_format(format)
        , m_source(std::move(source))
        , m_anchor(std::move(anchor))
        , m_connection(std::move(connection)) {}
    ~PulseDevice() override { close(); }

    bool open(std::u16string* error) override;
    void close() override;
    bool lost() const override { return m_lost; }
    bool takesWhatThereIs() const override { return true; }
    bool closesWhenIdle() const override { return false; }
    void play(bool last) override;
    void more(bool last) override;
    void pause() override;
    std::u16string name() const override { return u"PulseAudio"; }
    std::chrono::nanoseconds lead() const override { return LinuxLead; }

private:
    using Clock = SoundClock;

    static void streamChanged(pa_stream* stream, void* self);
    static void writable(pa_stream* stream, std::size_t bytes, void* self);
    static void started(pa_stream* stream, void* self);
    static void timingDue(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* self);
    static void timingCame(pa_stream* stream, int success, void* self);

    // With the loop locked:
    /// Writes what the server asks for and what may go ahead of it.
    void write();
    /// Starts the stream playing from an empty buffer.
    void uncork();
    void cork();
    void askTiming();
    void scheduleTiming(std::chrono::milliseconds after);
    void stopTiming();
    /// When the frame the next write starts with is heard.
    Clock::time_point heardAtWriteEnd() const;
    Clock::duration typicalStart() const;
    std::int64_t writtenFrames() const { return m_written / m_format.bytesPerFrame; }
    std::chrono::nanoseconds frameTime(std::int64_t frames) const {
        return std::chrono::nanoseconds(frames * 1'000'000'000 / m_format.rate);
    }

    /// Plays the stream a moment, so the sink settles on its latency.
    void warmUp();
    void dropStream();

    const DeviceFormat m_format;
    const Source m_source;
    const Anchor m_anchor;
    const std::shared_ptr<SoundServerConnection> m_connection;
    std::mutex m_use; ///< open() and close() against the speaker's calls
    int m_watch = 0;
    bool m_wanted = false;
    pa_stream* m_stream = nullptr;
    // With the loop locked:
    bool m_corked = true;
    bool m_endQueued = false;   ///< the sentence's last sound is in the engine's queue
    std::size_t m_leadIn = 0;   ///< bytes of silence still to go before the sentence
    std::size_t m_leadOut = 0;  ///< and after it
    bool m_warming = false;     ///< playing silence until the sink has settled
    std::int64_t m_written = 0; ///< bytes written since the stream last started to play
    Clock::time_point m_uncorkedAt;
    /// When the first frame written since the uncork is heard, by the server's word on
    /// this play; none yet right after the stream started.
    std::optional<Clock::time_point> m_startHeard;
    std::array<Clock::time_point, 8> m_figures{}; ///< this play's last figures for it
    std::size_t m_figureCount = 0;
    /// Uncork to first frame heard, of the last sentences or the warm-up: typicalStart().
    std::array<Clock::duration, 9> m_starts{};
    std::size_t m_startCount = 0;
    Clock::duration m_warmUpStart{};
    pa_time_event* m_timingTimer = nullptr;
    pa_operation* m_timingAsked = nullptr;
    std::atomic<bool> m_settled{false}; ///< the sink's latency is down to what was asked
    std::atomic<pa_stream_state_t> m_streamState{PA_STREAM_UNCONNECTED};
    std::atomic<bool> m_lost{false};
};

void PulseDevice::streamChanged(pa_stream* stream, void* self) {
    auto& d = *static_cast<PulseDevice*>(self);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    d.m_streamState = state;
    if (!PA_STREAM_IS_GOOD(state))
        d.m_lost = true;
    d.m_connection->signal();
}

void PulseDevice::writable(pa_stream*, std::size_t, void* self) {
    static_cast<PulseDevice*>(self)->write();
}

void PulseDevice::started(pa_stream*, void* self) {
    // The server has begun to take the stream's sound: from now on its timing tells.
    static_cast<PulseDevice*>(self)->askTiming();
}

void PulseDevice::timingDue(pa_mainloop_api* api, pa_time_event* event, const timeval*,
                            void* self) {
    auto& d = *static_cast<PulseDevice*>(self);
    api->time_free(event);
    d.m_timingTimer = nullptr;
    d.askTiming();
    d.scheduleTiming(d.m_startHeard ? TimingEvery : FirstTimingEvery);
}

void PulseDevice::askTiming() {
    if (!m_stream || m_corked || m_timingAsked)
        return;
    m_timingAsked = pa_stream_update_timing_info(m_stream, &PulseDevice::timingCame, this);
}

void PulseDevice::stopTiming() {
    if (m_timingTimer)
        m_connection->api()->time_free(std::exchange(m_timingTimer, nullptr));
    if (pa_operation* asked = std::exchange(m_timingAsked, nullptr)) {
        pa_operation_cancel(asked);
        unref(asked);
    }
}

void PulseDevice::scheduleTiming(std::chrono::milliseconds after) {
    if (m_timingTimer || m_corked)
        return;
    pa_mainloop_api* api = m_connection->api();
    timeval at;
    pa_timeval_add(pa_gettimeofday(&at), pa_usec_t(std::chrono::microseconds(after).count()));
    m_timingTimer = api->time_new(api, &at, &PulseDevice::timingDue, this);
}

void PulseDevice::timingCame(pa_stream* stream, int success, void* self) {
    auto& d = *static_cast<PulseDevice*>(self);
    unref(std::exchange(d.m_timingAsked, nullptr));
    const pa_timing_info* timing = success ? pa_stream_get_timing_info(stream) : nullptr;
    if (!timing || d.m_corked || timing->read_index_corrupt || timing->write_index_corrupt ||
        !timing->playing)
        return;
    // The server read `read_index` at `timestamp` (its clock, which is this machine's), and
    // the sink plays what it reads `sink_usec` later. What was written at this play's start
    // is where the write index was then.
    const std::int64_t start = timing->write_index - d.m_written;
    const std::int64_t frame = (timing->read_index - start) / d.m_format.bytesPerFrame;
    // A server that does not know its sink's latency (pipewire-pulse on a sink without a
    // device) says 0; the latency it set up the stream for is then the best there is.
    const pa_usec_t sinkLatency =
        timing->sink_usec > 0 ? timing->sink_usec : timing->configured_sink_usec;
    const Clock::time_point heard = Clock::now() -
                                    std::chrono::microseconds(pa_timeval_age(&timing->timestamp)) +
                                    std::chrono::microseconds(sinkLatency);
    if (d.m_warming && timing->sink_usec <= std::uint64_t(2 * TargetLatencyMs) * PA_USEC_PER_MSEC) {
        d.m_settled = true;
        d.m_connection->signal();
    }
    // A figure may be late (pipewire-pulse dates where its read index was at its last cycle
    // when it answers; a reply held up on a busy machine), but a sink's clock may also fall
    // behind this machine's (a null sink on an idle virtual machine, by milliseconds a
    // second). The earliest of the last few figures stands: a lasting move is followed.
    d.m_figures[d.m_figureCount++ % d.m_figures.size()] = heard - d.frameTime(frame);
    const Clock::time_point startHeard = *std::min_element(
        d.m_figures.begin(), d.m_figures.begin() + std::min(d.m_figureCount, d.m_figures.size()));
    const bool first = !d.m_startHeard;
    if (!first && startHeard + Same > *d.m_startHeard && *d.m_startHeard + Same > startHeard)
        return d.write();
    d.m_startHeard = startHeard;
    if (first)
        (d.m_warming ? d.m_warmUpStart : d.m_starts[d.m_startCount++ % d.m_starts.size()]) =
            startHeard - d.m_uncorkedAt;
    if (!d.m_warming)
        d.m_anchor(0, startHeard);
    d.write();
}

PulseDevice::Clock::time_point PulseDevice::heardAtWriteEnd() const {
    return (m_startHeard ? *m_startHeard : m_uncorkedAt + typicalStart()) +
           frameTime(writtenFrames());
}

PulseDevice::Clock::duration PulseDevice::typicalStart() const {
    // Late rather than soon (the upper quartile): a PipeWire graph starts a stream at its
    // next cycle, and its first figure comes just before the stream is heard, in time to
    // move a first word guessed late earlier; one guessed soon would be on screen already.
    const std::size_t n = std::min(m_startCount, m_starts.size());
    if (n == 0)
        return std::max(m_warmUpStart, Clock::duration{});
    auto starts = m_starts;
    const auto quartile = starts.begin() + std::ptrdiff_t(n * 3 / 4);
    std::nth_element(starts.begin(), quartile, starts.begin() + std::ptrdiff_t(n));
    return std::max(*quartile, Clock::duration{});
}

bool PulseDevice::open(std::u16string* error) {
    std::unique_lock use(m_use);
    m_lost = false;
    m_connection->want();
    m_wanted = true;
    if (QString unready; !m_connection->waitReady(ConnectWait, &unready)) {
        *error = core(unready);
        return false;
    }
    m_watch = m_connection->watch([this](bool up) {
        if (!up)
            m_lost = true;
    });
    QString why;
    {
        SoundServerConnection::Lock locked(*m_connection);
        pa_context* context = m_connection->context();
        const pa_sample_spec sampleFormat{PA_SAMPLE_FLOAT32NE, std::uint32_t(m_format.rate),
                                          std::uint8_t(m_format.channels)};
        pa_channel_map map;
        pa_channel_map_init_auto(&map, sampleFormat.channels, PA_CHANNEL_MAP_DEFAULT);
        m_stream = context ? pa_stream_new(context, "Brumlis", &sampleFormat, &map) : nullptr;
        if (m_stream) {
            pa_stream_set_state_callback(m_stream, &PulseDevice::streamChanged, this);
            pa_stream_set_write_callback(m_stream, &PulseDevice::writable, this);
            pa_stream_set_started_callback(m_stream, &PulseDevice::started, this);
            pa_buffer_attr attr{};
            attr.maxlength = std::uint32_t(-1);
            attr.tlength =
                std::uint32_t(pa_usec_to_bytes(TargetLatencyMs * PA_USEC_PER_MSEC, &sampleFormat));
            attr.prebuf = std::uint32_t(-1);
            attr.minreq = std::uint32_t(-1);
            attr.fragsize = std::uint32_t(-1);
            // No automatic timing updates: they keep the loop and the server waking while
            // the stream is corked. The stream asks while it plays.
            const auto flags = pa_stream_flags_t(PA_STREAM_START_CORKED | PA_STREAM_ADJUST_LATENCY);
            if (pa_stream_connect_playback(m_stream, nullptr, &attr, flags, nullptr, nullptr) < 0)
                why = m_connection->error("öppnar ingen ljudström");
        } else {
            why = m_connection->error("öppnar ingen ljudström");
        }
    }
    if (why.isEmpty()) {
        const bool settled = m_connection->waitFor(
            [this] {
                const pa_stream_state_t state = m_streamState;
                return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
            },
            ConnectWait);
        if (m_streamState != PA_STREAM_READY) {
            SoundServerConnection::Lock locked(*m_connection);
            why = settled ? m_connection->error("öppnar ingen ljudström")
                          : QStringLiteral("ljudservern startar inte ljudströmmen");
        }
    }
    if (!why.isEmpty()) {
        *error = core(why);
        use.unlock();
        close();
        return false;
    }
    warmUp();
    return true;
}

void PulseDevice::warmUp() {
    // A sink with no stream may run with a latency of a second or two; it comes down to
    // what this stream asks for only while the stream plays. So the stream plays silence
    // until it has (on the device thread, which is there to wait on the server), and is
    // corked then: the first sentence is heard when the timing says, not after the sink's
    // old buffer. It also shows how soon the stream is heard after an uncork.
    {
        SoundServerConnection::Lock locked(*m_connection);
        m_warming = true;
        m_settled = false;
        uncork();
    }
    m_connection->waitFor([this] { return m_settled || m_lost; }, WarmUpLimit);
    SoundServerConnection::Lock locked(*m_connection);
    m_warming = false;
    cork();
}

void PulseDevice::uncork() {
    m_corked = false;
    m_written = 0;
    m_startHeard.reset();
    m_figureCount = 0;
    m_uncorkedAt = Clock::now();
    unref(pa_stream_cork(m_stream, 0, nullptr, nullptr));
    m_leadIn = std::size_t(LeadInMs * m_format.rate / 1000 * m_format.bytesPerFrame);
    write();
    // The server starts the stream once it holds enough; a short sentence may hold less.
    unref(pa_stream_trigger(m_stream, nullptr, nullptr));
    scheduleTiming(FirstTimingEvery);
}

void PulseDevice::cork() {
    if (m_corked)
        return;
    m_corked = true;
    stopTiming();
    unref(pa_stream_cork(m_stream, 1, nullptr, nullptr));
    // Whatever the server still holds would be heard at the next sentence's start.
    unref(pa_stream_flush(m_stream, nullptr, nullptr));
}

void PulseDevice::dropStream() {
    if (!m_stream)
        return;
    stopTiming();
    pa_stream_set_state_callback(m_stream, nullptr, nullptr);
    pa_stream_set_write_callback(m_stream, nullptr, nullptr);
    pa_stream_set_started_callback(m_stream, nullptr, nullptr);
    pa_stream_disconnect(m_stream);
    pa_stream_unref(m_stream);
    m_stream = nullptr;
}

void PulseDevice::close() {
    std::lock_guard use(m_use);
    if (m_watch)
        m_connection->unwatch(std::exchange(m_watch, 0));
    {
        SoundServerConnection::Lock locked(*m_connection);
        dropStream();
        m_warming = false;
        m_corked = true;
    }
    if (std::exchange(m_wanted, false))
        m_connection->unwant();
    m_lost = true;
}

void PulseDevice::play(bool last) {
    std::lock_guard use(m_use);
    if (!m_stream)
        return;
    SoundServerConnection::Lock locked(*m_connection);
    m_endQueued = last;
    m_leadOut = std::size_t(LeadOutMs * m_format.rate / 1000 * m_format.bytesPerFrame);
    if (m_corked)
        uncork();
    else
        write();
}

void PulseDevice::more(bool last) {
    std::lock_guard use(m_use);
    if (!m_stream)
        return;
    SoundServerConnection::Lock locked(*m_connection);
    m_endQueued = last;
    write();
}

void PulseDevice::pause() {
    std::lock_guard use(m_use);
    if (!m_stream)
        return;
    SoundServerConnection::Lock locked(*m_connection);
    cork();
}

void PulseDevice::write() {
    if (!m_stream || m_corked || pa_stream_get_state(m_stream) != PA_STREAM_READY)
        return;
    const std::size_t frameBytes = std::size_t(m_format.bytesPerFrame);
    for (;;) {
        // What the server asks for, and beyond it as far ahead as AheadLimit.
        const std::size_t asked = pa_stream_writable_size(m_stream);
        if (asked == std::size_t(-1))
            return;
        const auto room = std::chrono::duration_cast<std::chrono::microseconds>(
            AheadLimit - (heardAtWriteEnd() - Clock::now()));
        std::size_t bytes =
            m_warming || room.count() <= 0
                ? asked
                : std::max(asked, pa_usec_to_bytes(pa_usec_t(room.count()),
                                                   pa_stream_get_sample_spec(m_stream)));
        bytes -= bytes % frameBytes;
        if (bytes < frameBytes)
            return;
        void* data = nullptr;
        if (pa_stream_begin_write(m_stream, &data, &bytes) < 0 || !data)
            return;
        bytes -= bytes % frameBytes;
        if (m_warming || m_leadIn > 0) {
            const std::size_t n = m_warming ? bytes : std::min(bytes, m_leadIn);
            std::memset(data, 0, n);
            pa_stream_write(m_stream, data, n, nullptr, 0, PA_SEEK_RELATIVE);
            m_written += std::int64_t(n);
            if (m_warming)
                return;
            m_leadIn -= n;
            continue;
        }
        // What comes now is heard right after what has been written so far.
        const auto delay = heardAtWriteEnd() - Clock::now();
        const std::size_t given = bytes > 0 ? m_source(static_cast<std::uint8_t*>(data), bytes,
                                                       delay, writtenFrames(), false)
                                            : 0;
        if (given == 0)
            pa_stream_cancel_write(m_stream);
        else
            pa_stream_write(m_stream, data, given, nullptr, 0, PA_SEEK_RELATIVE);
        m_written += std::int64_t(given);
        if (given < bytes) {
            if (!m_endQueued)
                return; // all there is for now
            // The end of the sentence: silence behind it, and a start, as a sentence
            // shorter than what the server waits for before it starts would never be heard.
            if (m_leadOut > 0 && pa_stream_begin_write(m_stream, &data, &m_leadOut) >= 0 && data) {
                const std::size_t silence = m_leadOut - m_leadOut % frameBytes;
                std::memset(data, 0, silence);
                pa_stream_write(m_stream, data, silence, nullptr, 0, PA_SEEK_RELATIVE);
                m_written += std::int64_t(silence);
                m_leadOut = 0;
            }
            unref(pa_stream_trigger(m_stream, nullptr, nullptr));
            return;
        }
    }
}

} // namespace

std::unique_ptr<AudioDevice> makePulseDevice(const DeviceFormat& format, AudioDevice::Source source,
                                             AudioDevice::Anchor anchor,
                                             std::shared_ptr<SoundServerConnection> connection) {
    return std::make_unique<PulseDevice>(format, std::move(source), std::move(anchor),
                                         std::move(connection));
}

} // namespace brumlis
