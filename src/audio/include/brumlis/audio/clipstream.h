#pragma once

#include "brumlis/audio/clipdecoder.h"

#include <QByteArray>
#include <cstdint>
#include <memory>
#include <vector>

namespace brumlis {

/// How a sample is stored, in the machine's byte order.
enum class SampleFormat { Unsigned8, Signed16, Signed32, Float32 };

/// The format sound is converted to: what an audio device was opened with, or a file.
struct DeviceFormat {
    SampleFormat sample = SampleFormat::Float32;
    int rate = 0;
    int channels = 0;
    int bufferFrames = 0; ///< frames the device takes at each request

    /// The same, with the frame size and the silence value that follow from it.
    static DeviceFormat of(SampleFormat sample, int rate, int channels, int bufferFrames = 0);
    int bytesPerFrame = 0;
    std::uint8_t silence = 0;
};

/// One recording decoded and converted to a device's format, a chunk at a time, so that
/// a long file never sits in memory whole.
///
/// The first and last `FadeSeconds` of every clip are faded in and out (a raised cosine),
/// so that two clips that meet at different levels do not click, however they were cut;
/// no frame is added. A clip shorter than two fades is faded over half its length each way.
class ClipStream {
public:
    /// Input frames decoded per step, about.
    static constexpr int ChunkFrames = 1024;
    static constexpr int MaxChunkFrames = 8192;
    static constexpr double FadeSeconds = 0.0025;

    ClipStream();
    ~ClipStream();
    ClipStream(const ClipStream&) = delete;
    ClipStream& operator=(const ClipStream&) = delete;

    /// False, at once, for anything ClipDecoder refuses or that cannot be converted.
    bool open(const QByteArray& path, const DeviceFormat& device);
    /// The same for mono `samples` at `rate` held in memory.
    bool open(std::shared_ptr<const std::vector<float>> samples, int rate,
              const DeviceFormat& device);

    /// Replaces `out` with the next converted bytes (whole device frames). Returns false
    /// once the clip has been delivered entirely.
    bool next(std::vector<std::uint8_t>& out);

    /// Lets go of the file early.
    void close();

private:
    /// Chunks of silence fed at most to push out the resampler's last frames.
    static constexpr int MaxPaddingChunks = 8;

    /// Sets up the converter for what the decoder has opened.
    bool start(const DeviceFormat& device);
    int bytesOf(std::int64_t frames) const;
    /// Hands the first `frames` held frames to the converter, faded as their place in the
    /// clip asks; `total` is the clip's length once known (else 0).
    int putHeld(std::int64_t frames, std::int64_t total);

    /// The resampling converter, SDL's: nothing of it shows outside clipstream.cpp.
    struct Converter;

    ClipDecoder m_decoder;
    std::unique_ptr<Converter> m_stream;
    std::vector<float> m_input;
    /// Decoded frames not yet converted: the last of them may turn out to be the clip's end.
    std::vector<float> m_held;
    std::int64_t m_heldStart = 0; ///< the clip's frame at m_held's start
    int m_fadeFrames = 1;         ///< at the clip's own rate
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
