#pragma once

#include "clipdecoder.h"

#include <QByteArray>
#include <cstdint>
#include <vector>

struct _SDL_AudioStream;

namespace brumlis {

/// The sample format an audio device was opened with.
struct DeviceFormat {
    std::uint16_t sdlFormat = 0; ///< an SDL_AudioFormat value
    int rate = 0;
    int channels = 0;
    int bytesPerFrame = 0;
    int bufferFrames = 0; ///< frames the device takes at each request
    std::uint8_t silence = 0;
};

/// One recording decoded and converted to a device's format, a chunk at a time, so that
/// a long file never sits in memory whole.
class ClipStream {
public:
    /// Input frames decoded per step, about.
    static constexpr int ChunkFrames = 1024;
    static constexpr int MaxChunkFrames = 8192;

    ClipStream() = default;
    ~ClipStream();
    ClipStream(const ClipStream&) = delete;
    ClipStream& operator=(const ClipStream&) = delete;

    /// False, at once, for anything ClipDecoder refuses or SDL cannot convert.
    bool open(const QByteArray& path, const DeviceFormat& device);

    /// Replaces `out` with the next converted bytes (whole device frames). Returns false
    /// once the clip has been delivered entirely.
    bool next(std::vector<std::uint8_t>& out);

    /// Lets go of the file early.
    void close();

private:
    /// Chunks of silence fed at most to push out the resampler's last frames.
    static constexpr int MaxPaddingChunks = 8;

    int bytesOf(std::int64_t frames) const;

    ClipDecoder m_decoder;
    _SDL_AudioStream* m_stream = nullptr;
    std::vector<float> m_input;
    int m_inputRate = 0;
    int m_outputRate = 0;
    int m_frameBytes = 0;
    int m_chunkFrames = ChunkFrames;
    bool m_ended = false;            ///< the decoder has delivered everything
    std::int64_t m_inputFrames = 0;  ///< decoded so far
    std::int64_t m_outputFrames = 0; ///< the clip's length at the device rate, once known
    std::int64_t m_outputDelivered = 0;
    int m_padding = MaxPaddingChunks; ///< silence chunks still allowed
};

} // namespace brumlis
