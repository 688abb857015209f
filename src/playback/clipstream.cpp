#include "clipstream.h"

#include <SDL.h>

namespace brumlis {

ClipStream::~ClipStream() {
    close();
}

void ClipStream::close() {
    if (m_stream)
        SDL_FreeAudioStream(m_stream);
    m_stream = nullptr;
    m_decoder.close();
    m_flushed = false;
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
    m_input.resize(std::size_t(ChunkFrames) * std::size_t(m_decoder.channels()));
    return true;
}

bool ClipStream::next(std::vector<std::uint8_t>& out) {
    out.clear();
    while (m_stream) {
        if (const int ready = SDL_AudioStreamAvailable(m_stream); ready > 0) {
            out.resize(std::size_t(ready));
            const int got = SDL_AudioStreamGet(m_stream, out.data(), ready);
            out.resize(std::size_t(got > 0 ? got : 0));
            if (!out.empty())
                return true;
        }
        if (m_flushed) {
            close();
            break;
        }
        const std::int64_t frames = m_decoder.read(m_input.data(), ChunkFrames);
        const int bytes = int(frames * m_decoder.channels() * std::int64_t(sizeof(float)));
        // At the end, the converter hands out what it still holds back for resampling.
        const int status = frames > 0 ? SDL_AudioStreamPut(m_stream, m_input.data(), bytes)
                                      : SDL_AudioStreamFlush(m_stream);
        if (status != 0) {
            close();
            break;
        }
        m_flushed = frames == 0;
    }
    return false;
}

} // namespace brumlis
