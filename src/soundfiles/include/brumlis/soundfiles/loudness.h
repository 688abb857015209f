#pragma once

#include "brumlis/audio/clipdecoder.h"

#include <QByteArray>
#include <cmath>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace brumlis {

/// Samples quieter than this (about -46 dBFS) count as silence around a word.
inline constexpr float SilenceLevel = 0.005f;

/// What a recording holds, measured over all of it.
struct ClipMeasure {
    std::int64_t frames = 0;
    int rate = 0;
    int channels = 0;
    double peakDbfs = -HUGE_VAL;      ///< highest sample, in dB of full scale
    double loudnessLufs = -HUGE_VAL;  ///< integrated loudness (EBU R128); -inf for pure silence
    std::int64_t leadingSilence = 0;  ///< frames before the first sample at SilenceLevel
    std::int64_t trailingSilence = 0; ///< frames after the last one
    /// How far the first and the last frame are from zero, of full scale (the louder
    /// channel): a recording cut away from zero clicks where it starts or ends.
    float firstEdge = 0.0f;
    float lastEdge = 0.0f;

    double seconds() const { return rate > 0 ? double(frames) / rate : 0.0; }
    double secondsOf(std::int64_t n) const { return rate > 0 ? double(n) / rate : 0.0; }
};

/// Measures interleaved float frames fed in pieces: peak, EBU R128 integrated loudness
/// and the silence at both ends.
class LoudnessMeter {
public:
    LoudnessMeter(int rate, int channels);
    ~LoudnessMeter();
    LoudnessMeter(const LoudnessMeter&) = delete;
    LoudnessMeter& operator=(const LoudnessMeter&) = delete;

    void add(const float* samples, std::int64_t frames);
    ClipMeasure finish();

private:
    int m_rate;
    int m_channels;
    void* m_state = nullptr; ///< an ebur128_state, whose type cannot be declared ahead
    ClipMeasure m_measure;
    std::int64_t m_lastSound = -1; ///< frame index of the last sample at SilenceLevel
    float m_peak = 0.0f;
    std::vector<float> m_opening; ///< the first frames, kept while shorter than one gating block
};

/// Decodes the recording at `path` (file-system bytes) and measures it; nothing when
/// ClipDecoder refuses it, and then `problem` (when given) says why.
std::optional<ClipMeasure> measureClip(const QByteArray& path,
                                       ClipDecoder::Problem* problem = nullptr);

/// Measures samples held in memory.
ClipMeasure measureSamples(const float* samples, std::int64_t frames, int rate, int channels);

/// The median of `values` (the mean of the middle two for an even count); nothing for none.
std::optional<double> median(std::vector<double> values);

} // namespace brumlis
