#pragma once

#include "brumlis/platform/files.h"
#include "brumlis/platform/sound.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

namespace brumlis {

/// Reads one recording as interleaved 32-bit float frames, a chunk at a time, whatever
/// its encoding: PCM of 8 to 32 bits, float, mu-law, A-law, IMA or MS ADPCM, GSM 6.10.
class ClipDecoder {
public:
    /// Highest channel count and the range of sample rates that are taken as real audio.
    static constexpr int MaxChannels = 8;
    static constexpr int MinRate = 1000;
    static constexpr int MaxRate = 768000;

    /// Why the last open() failed.
    enum class Problem {
        None,        ///< the last open() succeeded, or none was tried
        Missing,     ///< nothing by that name
        NotRegular,  ///< a folder, FIFO, device or the like
        Undecodable, ///< empty, unreadable, or not audio the decoder knows
        Refused,     ///< decodable, but with a rate or channel count outside the limits
    };

    ClipDecoder() = default;
    ~ClipDecoder();
    ClipDecoder(const ClipDecoder&) = delete;
    ClipDecoder& operator=(const ClipDecoder&) = delete;

    /// Opens `path`. False for anything but a regular file that holds decodable audio with
    /// a sane rate and channel count. Never blocks: a FIFO or device is recognised by its
    /// status and not opened.
    bool open(const std::filesystem::path& path);
    /// Reads mono `samples` at `rate` held in memory, as a file of them would be read.
    bool open(std::shared_ptr<const std::vector<float>> samples, int rate);
    void close();

    bool isOpen() const { return m_sound != nullptr || m_held != nullptr; }
    Problem problem() const { return m_problem; }
    int sampleRate() const { return m_rate; }
    int channels() const { return m_channels; }

    /// Reads up to `frames` frames into `out` (room for frames * channels() floats).
    /// Returns the number of frames read; 0 at the end or after a read error.
    std::int64_t read(float* out, std::int64_t frames);

private:
    platform::InputFile m_file;
    std::unique_ptr<platform::SoundDecoder> m_sound;
    std::shared_ptr<const std::vector<float>> m_held;
    std::size_t m_heldAt = 0;
    int m_rate = 0;
    int m_channels = 0;
    Problem m_problem = Problem::None;
};

} // namespace brumlis
