#include "brumlis/audio/fade.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace brumlis {

float fadeGain(std::int64_t offset, std::int64_t length) {
    return float(0.5 - 0.5 * std::cos(std::numbers::pi * (double(offset) + 0.5) / double(length)));
}

void fadeEdges(float* samples, std::int64_t frames, int channels, std::int64_t fadeFrames) {
    const std::int64_t fade = std::min(fadeFrames, frames / 2);
    for (std::int64_t i = 0; i < fade; ++i) {
        const float gain = fadeGain(i, fade);
        float* in = samples + i * channels;
        float* out = samples + (frames - 1 - i) * channels;
        for (int c = 0; c < channels; ++c) {
            in[c] *= gain;
            out[c] *= gain;
        }
    }
}

} // namespace brumlis
