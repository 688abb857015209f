#pragma once

#include <QByteArray>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <pulse/pulseaudio.h>
#include <string>
#include <utility>
#include <vector>

namespace brumlis::test {

/// Records a sink's monitor (48 kHz stereo float) through libpulse, and knows when each
/// frame it recorded passed the monitor: the server's timing says how long ago the frames
/// being read were recorded. That puts every frame on this process's steady clock, so a
/// word shown at a moment can be set against its first frame where it leaves the server.
class PulseCapture {
public:
    using Clock = std::chrono::steady_clock;

    ~PulseCapture() { stop(); }

    /// Starts recording `monitor` ("brumlis_test.monitor") on the server of PULSE_SERVER.
    /// False, with the reason, if it cannot.
    bool start(const char* monitor, std::string* why) {
        m_loop = pa_threaded_mainloop_new();
        m_context = pa_context_new(pa_threaded_mainloop_get_api(m_loop), "brumlis-capture");
        pa_context_set_state_callback(m_context, &PulseCapture::signal, this);
        if (pa_context_connect(m_context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0 ||
            pa_threaded_mainloop_start(m_loop) < 0)
            return fail(why, "connect");
        pa_threaded_mainloop_lock(m_loop);
        while (PA_CONTEXT_IS_GOOD(pa_context_get_state(m_context)) &&
               pa_context_get_state(m_context) != PA_CONTEXT_READY)
            pa_threaded_mainloop_wait(m_loop);
        if (pa_context_get_state(m_context) != PA_CONTEXT_READY) {
            pa_threaded_mainloop_unlock(m_loop);
            return fail(why, "context");
        }
        const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, 48000, 2};
        m_stream = pa_stream_new(m_context, "monitor", &spec, nullptr);
        pa_stream_set_state_callback(m_stream, &PulseCapture::streamSignal, this);
        pa_stream_set_read_callback(m_stream, &PulseCapture::readable, this);
        pa_buffer_attr attr{};
        attr.maxlength = std::uint32_t(-1);
        // Pieces of 20 ms: no more than a player asks for, so that the capture does not
        // set PipeWire's graph to a shorter cycle than a desktop without it would run. When a
        // frame passed the monitor comes from the server's timing, not from the piece size.
        attr.fragsize = std::uint32_t(pa_usec_to_bytes(20 * PA_USEC_PER_MSEC, &spec));
        if (pa_stream_connect_record(
                m_stream, monitor, &attr,
                pa_stream_flags_t(PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY)) < 0) {
            pa_threaded_mainloop_unlock(m_loop);
            return fail(why, "record");
        }
        while (PA_STREAM_IS_GOOD(pa_stream_get_state(m_stream)) &&
               pa_stream_get_state(m_stream) != PA_STREAM_READY)
            pa_threaded_mainloop_wait(m_loop);
        const bool ready = pa_stream_get_state(m_stream) == PA_STREAM_READY;
        pa_threaded_mainloop_unlock(m_loop);
        return ready || fail(why, "stream");
    }

    /// Stops recording; the frames stay.
    void stop() {
        if (!m_loop)
            return;
        pa_threaded_mainloop_stop(m_loop);
        if (m_stream) {
            pa_stream_disconnect(m_stream);
            pa_stream_unref(m_stream);
        }
        if (m_context) {
            pa_context_disconnect(m_context);
            pa_context_unref(m_context);
        }
        pa_threaded_mainloop_free(m_loop);
        m_loop = nullptr;
        m_stream = nullptr;
        m_context = nullptr;
    }

    /// The left channel so far.
    std::vector<float> left() const {
        std::lock_guard lock(m_mutex);
        return m_left;
    }
    std::size_t frames() const {
        std::lock_guard lock(m_mutex);
        return m_left.size();
    }

    /// Waits until `enough(left)` holds for the left channel so far, asked again at every
    /// read: at most `ms`. Whether it came to hold. `enough` runs under the capture's lock,
    /// on whatever thread: it must not call back into the capture.
    template <typename Enough> bool waitUntil(Enough enough, int ms) {
        std::unique_lock lock(m_mutex);
        return m_read.wait_for(lock, std::chrono::milliseconds(ms),
                               [&] { return enough(std::as_const(m_left)); });
    }
    /// Until the capture runs for sure: a new stream can take seconds to start, after a
    /// first burst of a few tenths of a second, so only one that has delivered more than
    /// that does. Whether it did within `ms`.
    bool waitUntilFlowing(int ms = 10000) {
        return waitUntil(
            [](const std::vector<float>& left) { return left.size() >= 48000 * 6 / 10; }, ms);
    }
    /// Until the newest frame recorded passed the monitor at `moment` or later: whatever left
    /// the server before then has been recorded. Whether it came to that within `ms`.
    bool waitPast(Clock::time_point moment, int ms) {
        std::unique_lock lock(m_mutex);
        return m_read.wait_for(lock, std::chrono::milliseconds(ms), [&] {
            return !m_left.empty() && timeOfLocked(m_left.size() - 1) >= moment;
        });
    }

    /// When frame `index` passed the monitor. The server's word for it at every read is
    /// noted; the median of what the reads around it say holds off any stale one. Only the
    /// reads around it: a sink's graph on an idle virtual machine runs behind the clock (a
    /// null sink is driven by a timer that wakes late), so over a minute its frames and the
    /// clock part by a tenth of a second, and one start for the whole capture would put
    /// a word heard now where it would have been heard then.
    Clock::time_point timeOf(std::size_t index) const {
        std::lock_guard lock(m_mutex);
        return timeOfLocked(index);
    }

    /// The first frame that passed the monitor at `moment` or later (the end if none did).
    std::size_t indexAt(Clock::time_point moment) const {
        std::lock_guard lock(m_mutex);
        std::size_t low = 0, high = m_left.size();
        while (low < high) {
            const std::size_t middle = low + (high - low) / 2;
            if (timeOfLocked(middle) < moment)
                low = middle + 1;
            else
                high = middle;
        }
        return low;
    }

private:
    struct Read {
        std::size_t first;    ///< the first frame it brought
        std::int64_t startNs; ///< when frame 0 passed, by the server's timing at this read
    };

    Clock::time_point timeOfLocked(std::size_t index) const {
        constexpr std::size_t Around = 48000 / 2; // frames either side
        const auto byFirst = [](const Read& r, std::size_t frame) { return r.first < frame; };
        auto from = std::lower_bound(m_reads.begin(), m_reads.end(),
                                     index > Around ? index - Around : 0, byFirst);
        auto to = std::lower_bound(from, m_reads.end(), index + Around + 1, byFirst);
        if (to - from < 5) { // too few to outvote a stale figure
            from = m_reads.begin();
            to = m_reads.end();
        }
        if (from == to)
            return {};
        std::vector<std::int64_t> starts;
        for (auto r = from; r != to; ++r)
            starts.push_back(r->startNs);
        std::nth_element(starts.begin(), starts.begin() + std::ptrdiff_t(starts.size() / 2),
                         starts.end());
        const std::int64_t start = starts[starts.size() / 2];
        return Clock::time_point(
            std::chrono::nanoseconds(start + std::int64_t(index) * 1'000'000'000 / 48000));
    }

    bool fail(std::string* why, const char* what) {
        *why = std::string("capture: ") + what + ": " +
               pa_strerror(m_context ? pa_context_errno(m_context) : PA_ERR_UNKNOWN);
        stop();
        return false;
    }

    static void signal(pa_context*, void* self) {
        pa_threaded_mainloop_signal(static_cast<PulseCapture*>(self)->m_loop, 0);
    }
    static void streamSignal(pa_stream*, void* self) {
        pa_threaded_mainloop_signal(static_cast<PulseCapture*>(self)->m_loop, 0);
    }

    // How long ago the oldest frame still to be read passed the monitor: what the server
    // had recorded beyond it when it last said (its write index then; the read index is
    // this side's, and current), plus what it has recorded since, plus what the source
    // holds.
    std::int64_t ageOfOldestNs(pa_stream* stream) const {
        const pa_timing_info* t = pa_stream_get_timing_info(stream);
        if (!t || t->write_index_corrupt || t->read_index_corrupt || t->write_index == 0)
            return -1;
        return (t->write_index - t->read_index) * 1'000'000'000 / (48000 * 8) +
               std::int64_t(pa_timeval_age(&t->timestamp)) * 1000 +
               std::int64_t(t->source_usec) * 1000;
    }

    static void readable(pa_stream* stream, std::size_t, void* self) {
        auto& c = *static_cast<PulseCapture*>(self);
        for (;;) {
            const std::int64_t age = c.ageOfOldestNs(stream);
            const auto now = Clock::now();
            const void* data = nullptr;
            std::size_t bytes = 0;
            if (pa_stream_peek(stream, &data, &bytes) < 0 || bytes == 0)
                return;
            std::lock_guard lock(c.m_mutex);
            const std::size_t first = c.m_left.size();
            const std::size_t frames = bytes / 8;
            if (data) {
                const auto* samples = static_cast<const float*>(data);
                for (std::size_t i = 0; i < frames; ++i)
                    c.m_left.push_back(samples[2 * i]);
            } else {
                c.m_left.insert(c.m_left.end(), frames, 0.0f); // a hole the server reports
            }
            if (age >= 0) {
                const std::int64_t passed =
                    std::chrono::duration_cast<std::chrono::nanoseconds>(now.time_since_epoch())
                        .count() -
                    age;
                c.m_reads.push_back({first, passed - std::int64_t(first) * 1'000'000'000 / 48000});
            }
            c.m_read.notify_all();
            pa_stream_drop(stream);
        }
    }

    pa_threaded_mainloop* m_loop = nullptr;
    pa_context* m_context = nullptr;
    pa_stream* m_stream = nullptr;
    mutable std::mutex m_mutex;
    std::condition_variable m_read; ///< after every read
    std::vector<float> m_left;
    std::vector<Read> m_reads; ///< in the order they came, so by their first frame
};

} // namespace brumlis::test
