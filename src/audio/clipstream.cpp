#include "brumlis/audio/clipstream.h"

#include "brumlis/audio/fade.h"

#include <SDL.h>
#include <algorithm>
#include <cmath>
#include <numeric>

namespace brumlis {

namespace {

SDL_AudioFormat sdlFormat(SampleFormat sample) {
    switch (sample) {
    case SampleFormat::Unsigned8:
        return AUDIO_U8;
    case SampleFormat::Signed16:
        return AUDIO_S16SYS;
    case SampleFormat::Signed32:
        return AUDIO_S32SYS;
    case SampleFormat::Float32:
        return AUDIO_F32SYS;
    }
    return AUDIO_F32SYS;
}

} // namespace

DeviceFormat DeviceFormat::of(SampleFormat sample, int rate, int channels, int bufferFrames) {
    DeviceFormat f;
    f.sample = sample;
    f.rate = rate;
    f.channels = channels;
    f.bufferFrames = bufferFrames;
    f.bytesPerFrame = int(SDL_AUDIO_BITSIZE(sdlFormat(sample)) / 8) * channels;
    f.silence = sample == SampleFormat::Unsigned8 ? 0x80 : 0;
    return f;
}

struct ClipStream::Converter {
    explicit Converter(SDL_AudioStream* s)
        : stream(s) {}
    ~Converter() { SDL_FreeAudioStream(stream); }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;
    SDL_AudioStream* const stream;
};

ClipStream::ClipStream() = default;

ClipStream::~ClipStream() {
    close();
}

void ClipStream::close() {
    m_stream.reset();
    m_decoder.close();
    m_ended = false;
    m_inputFrames = m_outputFrames = m_outputDelivered = 0;
    m_padding = MaxPaddingChunks;
    m_held.clear();
    m_heldStart = 0;
}

bool ClipStream::open(const QByteArray& path, const DeviceFormat& device) {
    close();
    return m_decoder.open(path) && start(device);
}

bool ClipStream::open(std::shared_ptr<const std::vector<float>> samples, int rate,
                      const DeviceFormat& device) {
    close();
    return m_decoder.open(std::move(samples), rate) && start(device);
}

bool ClipStream::start(const DeviceFormat& device) {
    SDL_AudioStream* stream =
        SDL_NewAudioStream(AUDIO_F32SYS, Uint8(m_decoder.channels()), m_decoder.sampleRate(),
                           sdlFormat(device.sample), Uint8(device.channels), device.rate);
    if (stream)
        m_stream = std::make_unique<Converter>(stream);
    if (!m_stream) {
        close();
        return false;
    }
    // SDL 2's resampler turns each piece it is given into a whole number of frames and
    // drops the remainder, so a long clip would come out short. Pieces whose length maps
    // to whole frames at the device rate lose nothing.
    const int step = m_decoder.sampleRate() / std::gcd(m_decoder.sampleRate(), device.rate);
    m_chunkFrames = step <= MaxChunkFrames ? std::max(1, ChunkFrames / step) * step : ChunkFrames;
    m_input.resize(std::size_t(m_chunkFrames) * std::size_t(m_decoder.channels()));
    m_inputRate = m_decoder.sampleRate();
    m_outputRate = device.rate;
    m_frameBytes = device.bytesPerFrame;
    m_fadeFrames = std::max(1, int(std::lround(FadeSeconds * m_inputRate)));
    return true;
}

int ClipStream::putHeld(std::int64_t frames, std::int64_t total) {
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
    const int status = SDL_AudioStreamPut(m_stream->stream, m_held.data(), bytesOf(frames));
    m_held.erase(m_held.begin(), m_held.begin() + std::ptrdiff_t(frames * channels));
    m_heldStart += frames;
    return status;
}

bool ClipStream::next(std::vector<std::uint8_t>& out) {
    out.clear();
    while (m_stream) {
        if (const int ready = SDL_AudioStreamAvailable(m_stream->stream); ready > 0) {
            out.resize(std::size_t(ready));
            const int got = SDL_AudioStreamGet(m_stream->stream, out.data(), ready);
            std::int64_t frames = got > 0 ? got / m_frameBytes : 0;
            if (m_ended)
                frames = std::min(frames, m_outputFrames - m_outputDelivered);
            m_outputDelivered += frames;
            out.resize(std::size_t(frames * m_frameBytes));
            if (!out.empty())
                return true;
        }
        if (m_ended && (m_outputDelivered >= m_outputFrames || m_padding <= 0)) {
            close();
            break;
        }
        int status = 0;
        if (!m_ended) {
            const std::int64_t frames = m_decoder.read(m_input.data(), m_chunkFrames);
            m_inputFrames += frames;
            const int channels = m_decoder.channels();
            if (frames > 0) {
                m_held.insert(m_held.end(), m_input.begin(),
                              m_input.begin() + std::ptrdiff_t(frames * channels));
                // The last fade's worth is held back, as it may be the clip's end; and
                // nothing goes before two fades are known, as a shorter clip fades in over
                // less. What goes is whole chunks, which the resampler takes whole.
                const std::int64_t held = std::int64_t(m_held.size()) / channels;
                if (m_inputFrames >= 2 * std::int64_t(m_fadeFrames))
                    for (std::int64_t n = held; n - m_fadeFrames >= m_chunkFrames && status == 0;
                         n -= m_chunkFrames)
                        status = putHeld(m_chunkFrames, 0);
            } else {
                m_ended = true;
                m_outputFrames = (m_inputFrames * m_outputRate + m_inputRate - 1) / m_inputRate;
                if (!m_held.empty())
                    status = putHeld(std::int64_t(m_held.size()) / channels, m_inputFrames);
            }
        }
        if (m_ended) {
            // Workaround for SDL 2's resampler: a flush does not hand out the frames it
            // holds back for the filter's right side. Feeding silence pushes them out;
            // what the silence itself yields is cut off at the clip's own length.
            std::fill(m_input.begin(), m_input.end(), 0.0f);
            status =
                m_inputRate == m_outputRate
                    ? SDL_AudioStreamFlush(m_stream->stream)
                    : SDL_AudioStreamPut(m_stream->stream, m_input.data(), bytesOf(m_chunkFrames));
            m_padding = m_inputRate == m_outputRate ? 0 : m_padding - 1;
        }
        if (status != 0) {
            close();
            break;
        }
    }
    return false;
}

int ClipStream::bytesOf(std::int64_t frames) const {
    return int(frames * m_decoder.channels() * std::int64_t(sizeof(float)));
}

} // namespace brumlis
