#pragma once

#include "brumlis/audio/clipdecoder.h"

#include <cstdint>
#include <filesystem>
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
/// a long file never sits in memory whole: its rate by the platform's resampler, its
/// channels by copying (a mono clip plays on every channel; channels the device lacks are
/// left out, or averaged into one for a mono device), its samples as the device stores them.
/// At the device's rate it is as long as it was, to the nearest whole frame.
///
/// The first and last `FadeSeconds` of every clip are faded in and out (a raised cosine),
/// so that two clips that meet at different levels do not click, however they were cut;
/// no frame is added. A clip shorter than two fades is faded over half its length each way.
class ClipStream {
public:
    /// Input frames decoded per step.
    static constexpr int ChunkFrames = 1024;
    static constexpr double FadeSeconds = 0.0025;

    ClipStream();
    ~ClipStream();
    ClipStream(const ClipStream&) = delete;
    ClipStream& operator=(const ClipStream&) = delete;

    /// False, at once, for anything ClipDecoder refuses or that cannot be converted.
    bool open(const std::filesystem::path& path, const DeviceFormat& device);
    /// The same for mono `samples` at `rate` held in memory.
    bool open(std::shared_ptr<const std::vector<float>> samples, int rate,
              const DeviceFormat& device);

    /// Replaces `out` with the next converted bytes (whole device frames). Returns false
    /// once the clip has been delivered entirely.
    bool next(std::vector<std::uint8_t>& out);

    /// Lets go of the file early.
    void close();

private:
    /// Sets up the conversion for what the decoder has opened.
    bool start(const DeviceFormat& device);
    /// Hands the first `frames` held frames on, faded as their place in the clip asks;
    /// `total` is the clip's length once known (else 0), and `last` says they are its end.
    bool putHeld(std::int64_t frames, std::int64_t total, bool last);
    /// Appends the converted frames waiting in m_converted to `out`, as the device takes
    /// them: its channels and sample format, never past the clip's length at its rate.
    void deliver(std::vector<std::uint8_t>& out);

    ClipDecoder m_decoder;
    /// Only when the clip's rate is not the device's.
    std::unique_ptr<platform::Resampler> m_resampler;
    DeviceFormat m_device;
    std::vector<float> m_input;
    /// Decoded frames not yet converted: the last of them may turn out to be the clip's end.
    std::vector<float> m_held;
    /// At the device's rate, still in the clip's channels.
    std::vector<float> m_converted;
    std::int64_t m_heldStart = 0; ///< the clip's frame at m_held's start
    int m_fadeFrames = 1;         ///< at the clip's own rate
    bool m_open = false;
    bool m_ended = false;            ///< the decoder has delivered everything
    std::int64_t m_inputFrames = 0;  ///< decoded so far
    std::int64_t m_outputFrames = 0; ///< the clip's length at the device rate, once known
    std::int64_t m_outputDelivered = 0;
};

} // namespace brumlis
