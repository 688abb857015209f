#pragma once

#include "brumlis/soundfiles/loudness.h"

#include <QStringList>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

namespace brumlis {

/// Sound kept around the speech found in a take: enough for a soft start and for the last
/// consonant, which is far quieter than the vowels before it.
inline constexpr double TrimMarginSeconds = 0.05;
/// The trimmed clip fades in and out over this long (fadeEdges), so it starts and ends near
/// zero and joins its neighbours in a sentence without a click.
inline constexpr double TrimFadeSeconds = 0.005;
/// Speech is what is this much louder than the take's noise floor...
inline constexpr double SpeechOverNoiseDb = 10.0;
/// ...but never quieter than this, so a take of digital silence has no speech in it.
inline constexpr double QuietestSpeechDbfs = -65.0;

/// The part of a raw take that is kept: frames [start, end).
struct TrimPoints {
    std::int64_t start = 0;
    std::int64_t end = 0;

    std::int64_t frames() const { return end - start; }
    bool operator==(const TrimPoints&) const = default;
};

/// The noise floor of mono `samples`: the RMS of their quieter 5 ms windows (the tenth
/// percentile), in dBFS; -inf for digital silence.
double noiseFloorDbfs(const std::vector<float>& samples, int rate);

/// From the first to the last 5 ms window whose RMS reaches `thresholdDbfs`, as frames
/// [start, end); nothing when no window does.
std::optional<TrimPoints> findSpeech(const std::vector<float>& samples, int rate,
                                     double thresholdDbfs);

/// Where a take is cut: the speech found over its own noise floor, with TrimMarginSeconds
/// on each side, within the take. Nothing when the take holds no speech.
std::optional<TrimPoints> findTrim(const std::vector<float>& take, int rate);

/// The frames between `points` (clamped to the take), faded in and out.
std::vector<float> applyTrim(const std::vector<float>& take, TrimPoints points, int rate);

/// True when `count` samples hold ClipRun samples in a row at ClipLevel or above.
bool hasClipping(const float* samples, std::size_t count);

/// What the studio shows of a take: the figures check gives a recording (of the clip as it
/// would be saved), the noise floor of the raw take and whether it clipped.
struct TakeFigures {
    ClipMeasure clip;
    double noiseFloorDbfs = -HUGE_VAL;
    bool clipped = false;
};

TakeFigures measureTake(const std::vector<float>& take, TrimPoints points, int rate);

/// A take this far under the voice's median loudness is called too quiet: matching its
/// loudness would raise the room's noise with it.
inline constexpr double TooQuietLu = 10.0;
/// A noise floor at or above this is called noisy.
inline constexpr double NoisyFloorDbfs = -45.0;

/// What is wrong with a take, in Swedish, for the person recording: clipped, too quiet
/// compared with `medianLufs` (when the voice has one), noisy. Empty for a good take.
QStringList takeWarnings(const TakeFigures& figures, std::optional<double> medianLufs);

} // namespace brumlis
