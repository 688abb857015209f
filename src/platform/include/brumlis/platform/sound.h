#pragma once
// Sound files and sample rates: the system's decoder for what a recording holds, and a
// resampler for what the output device takes. One implementation per platform.
#include "brumlis/platform/files.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace brumlis::platform {

/// One recording being read as interleaved 32-bit float frames: PCM of every width, float,
/// mu-law, A-law, the ADPCMs, whatever the system's decoder knows.
class SoundDecoder {
public:
    virtual ~SoundDecoder() = default;
    /// Reads from `file`, which stays open as long as the decoder; null when the file holds
    /// no sound the decoder knows.
    static std::unique_ptr<SoundDecoder> open(InputFile& file);

    virtual int rate() const = 0;
    virtual int channels() const = 0;
    /// Up to `frames` frames into `out` (room for frames * channels() floats): how many, 0 at
    /// the end or after an error.
    virtual std::int64_t read(float* out, std::int64_t frames) = 0;
};

/// Changes the sample rate of interleaved float frames.
class Resampler {
public:
    virtual ~Resampler() = default;
    /// Null when the rates or channels cannot be converted.
    static std::unique_ptr<Resampler> create(int inputRate, int outputRate, int channels);

    /// Takes `frames` input frames and appends the output frames that are ready to `out`.
    /// With `last`, also every frame held back, so that the output is complete.
    virtual bool process(const float* in, std::int64_t frames, std::vector<float>& out,
                         bool last) = 0;
};

} // namespace brumlis::platform
