#include "brumlis/audio/clipstream.h"

#include "brumlis/audio/fade.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace brumlis {

namespace {

int bytesPerSample(SampleFormat sample) {
    switch (sample) {
    case SampleFormat::Unsigned8:
        return 1;
    case SampleFormat::Signed16:
        return 2;
    case SampleFormat::Signed32:
    case SampleFormat::Float32:
        return 4;
    }
    return 4;
}

// One sample as the device stores it: rounded to the nearest step, full scale clipped.
void store(float value, SampleFormat sample, std::uint8_t* out) {
    const float clipped = std::clamp(value, -1.0f, 1.0f);
    switch (sample) {
    case SampleFormat::Unsigned8: {
        *out = std::uint8_t(std::lround(clipped * 127.0f) + 128);
        return;
    }
    case SampleFormat::Signed16: {
        const auto v = std::int16_t(std::lround(clipped * 32767.0f));
        std::memcpy(out, &v, sizeof v);
        return;
    }
    case SampleFormat::Signed32: {
        const auto v = std::int32_t(std::llround(double(clipped) * 2147483647.0));
        std::memcpy(out, &v, sizeof v);
        return;
    }
    case SampleFormat::Float32:
        std::memcpy(out, &value, sizeof value);
        return;
    }
}

} // namespace

DeviceFormat DeviceFormat::of(SampleFormat sample, int rate, int channels, int bufferFrames) {
    DeviceFormat f;
    f.sample = sample;
    f.rate = rate;
    f.channels = channels;
    f.bufferFrames = bufferFrames;
    f.bytesPerFrame = bytesPerSample(sample) * channels;
    f.silence = sample == SampleFormat::Unsigned8 ? 0x80 : 0;
    return f;
}

ClipStream::ClipStream() = default;

ClipStream::~ClipStream() {
    close();
}

void ClipStream::close() {
    m_resampler.reset();
    m_decoder.close();
    m_open = m_ended = false;
    m_inputFrames = m_outputFrames = m_outputDelivered = 0;
    m_held.clear();
    m_converted.clear();
    m_heldStart = 0;
}

bool ClipStream::open(const std::filesystem::path& path, const DeviceFormat& device) {
    close();
    return m_decoder.open(path) && start(device);
}

bool ClipStream::open(std::shared_ptr<const std::vector<float>> samples, int rate,
                      const DeviceFormat& device) {
    close();
    return m_decoder.open(std::move(samples), rate) && start(device);
}

bool ClipStream::start(const DeviceFormat& device) {
    if (device.rate <= 0 || device.channels <= 0) {
        close();
        return false;
    }
    m_device = device;
    if (m_decoder.sampleRate() != device.rate) {
        m_resampler =
            platform::Resampler::create(m_decoder.sampleRate(), device.rate, m_decoder.channels());
        if (!m_resampler) {
            close();
            return false;
        }
    }
    m_input.resize(std::size_t(ChunkFrames) * std::size_t(m_decoder.channels()));
    m_fadeFrames = std::max(1, int(std::lround(FadeSeconds * m_decoder.sampleRate())));
    m_open = true;
    return true;
}

bool ClipStream::putHeld(std::int64_t frames, std::int64_t total, bool last) {
    const int channels = m_decoder.channels();
    // Until the clip's length is known, it is at least two fades long (see next()).
    const std::int64_t fade =
        total > 0 ? std::max<std::int64_t>(1, std::min<std::int64_t>(m_fadeFrames, total / 2))
                  : m_fadeFrames;
    for (std::int64_t i = 0; i < frames; ++i) {
        const std::int64_t at = m_heldStart + i;
        float gain = 1.0f;
        if (at < fade)
            gain *= fadeGain(at, fade);
        if (total > 0 && total - 1 - at < fade)
            gain *= fadeGain(total - 1 - at, fade);
        if (gain != 1.0f)
            for (int c = 0; c < channels; ++c)
                m_held[std::size_t(i * channels + c)] *= gain;
    }
    const std::size_t samples = std::size_t(frames * channels);
    bool ok = true;
    if (m_resampler)
        ok = m_resampler->process(m_held.data(), frames, m_converted, last);
    else
        m_converted.insert(m_converted.end(), m_held.begin(),
                           m_held.begin() + std::ptrdiff_t(samples));
    m_held.erase(m_held.begin(), m_held.begin() + std::ptrdiff_t(samples));
    m_heldStart += frames;
    return ok;
}

void ClipStream::deliver(std::vector<std::uint8_t>& out) {
    const int in = m_decoder.channels();
    const int channels = m_device.channels;
    std::int64_t frames = std::int64_t(m_converted.size()) / in;
    if (m_ended)
        frames = std::min(frames, m_outputFrames - m_outputDelivered);
    const int sampleBytes = bytesPerSample(m_device.sample);
    const std::size_t start = out.size();
    out.resize(start + std::size_t(frames) * std::size_t(m_device.bytesPerFrame));
    std::uint8_t* to = out.data() + start;
    for (std::int64_t f = 0; f < frames; ++f) {
        const float* frame = m_converted.data() + f * in;
        float mono = 0.0f;
        if (channels == 1) {
            for (int c = 0; c < in; ++c)
                mono += frame[c];
            mono /= float(in);
        }
        for (int c = 0; c < channels; ++c, to += sampleBytes)
            store(channels == 1 ? mono : frame[c % in], m_device.sample, to);
    }
    m_converted.clear();
    m_outputDelivered += frames;
}

bool ClipStream::next(std::vector<std::uint8_t>& out) {
    out.clear();
    while (m_open) {
        if (!m_ended) {
            const std::int64_t frames = m_decoder.read(m_input.data(), ChunkFrames);
            const int channels = m_decoder.channels();
            bool ok = true;
            if (frames > 0) {
                m_inputFrames += frames;
                m_held.insert(m_held.end(), m_input.begin(),
                              m_input.begin() + std::ptrdiff_t(frames * channels));
                // The last fade's worth is held back, as it may be the clip's end; and
                // nothing goes before two fades are known, as a shorter clip fades in over
                // less.
                const std::int64_t held = std::int64_t(m_held.size()) / channels;
                if (m_inputFrames >= 2 * std::int64_t(m_fadeFrames) && held > m_fadeFrames)
                    ok = putHeld(held - m_fadeFrames, 0, false);
            } else {
                m_ended = true;
                // Rounded to the nearest frame, as resamplers deliver: a frame more would be
                // a frame of silence padded between two words.
                m_outputFrames = (2 * m_inputFrames * m_device.rate + m_decoder.sampleRate()) /
                                 (2 * std::int64_t(m_decoder.sampleRate()));
                ok = putHeld(std::int64_t(m_held.size()) / channels, m_inputFrames, true);
            }
            if (!ok) {
                close();
                break;
            }
        }
        deliver(out);
        // A resampler that gave a frame less than the clip's length: silence makes it up,
        // so that the next clip starts where this one's time ends.
        if (m_ended && m_outputDelivered < m_outputFrames) {
            out.resize(out.size() + std::size_t(m_outputFrames - m_outputDelivered) *
                                        std::size_t(m_device.bytesPerFrame),
                       m_device.silence);
            m_outputDelivered = m_outputFrames;
        }
        if (!out.empty())
            return true;
        if (m_ended) {
            close();
            break;
        }
    }
    return false;
}

} // namespace brumlis
