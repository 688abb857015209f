#include "clipstream.h"

#include <SDL.h>
#include <algorithm>
#include <numeric>

namespace brumlis {

ClipStream::~ClipStream() {
    close();
}

void ClipStream::close() {
    if (m_stream)
        SDL_FreeAudioStream(m_stream);
    m_stream = nullptr;
    m_decoder.close();
    m_ended = false;
    m_inputFrames = m_outputFrames = m_outputDelivered = 0;
    m_padding = MaxPaddingChunks;
}

bool ClipStream::open(const QByteArray& path, const DeviceFormat& device) {
    close();
    if (!m_decoder.open(path))
        return false;
    m_stream = SDL_NewAudioStream(AUDIO_F32SYS, Uint8(m_decoder.channels()), m_decoder.sampleRate(),
                                  device.sdlFormat, Uint8(device.channels), device.rate);
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
    return true;
}

bool ClipStream::next(std::vector<std::uint8_t>& out) {
    out.clear();
    while (m_stream) {
        if (const int ready = SDL_AudioStreamAvailable(m_stream); ready > 0) {
            out.resize(std::size_t(ready));
            const int got = SDL_AudioStreamGet(m_stream, out.data(), ready);
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
            if (frames > 0) {
                status = SDL_AudioStreamPut(m_stream, m_input.data(), bytesOf(frames));
            } else {
                m_ended = true;
                m_outputFrames = (m_inputFrames * m_outputRate + m_inputRate - 1) / m_inputRate;
            }
        }
        if (m_ended) {
            // Workaround for SDL 2's resampler: a flush does not hand out the frames it
            // holds back for the filter's right side. Feeding silence pushes them out;
            // what the silence itself yields is cut off at the clip's own length.
            std::fill(m_input.begin(), m_input.end(), 0.0f);
            status = m_inputRate == m_outputRate
                         ? SDL_AudioStreamFlush(m_stream)
                         : SDL_AudioStreamPut(m_stream, m_input.data(), bytesOf(m_chunkFrames));
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
