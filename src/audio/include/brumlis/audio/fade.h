#pragma once

#include <cstdint>

namespace brumlis {

/// The gain `offset` frames into a fade in of `length` frames: half a cosine from nearly
/// nothing to nearly full, never quite either, so that a faded clip is never exactly silent
/// and a fade read backwards is the same fade out.
float fadeGain(std::int64_t offset, std::int64_t length);

/// Fades the first and last `fadeFrames` of interleaved `samples` in and out, so that the
/// clip starts and ends near zero and joins its neighbours without a click. A clip shorter
/// than two fades is faded over half its length each way.
void fadeEdges(float* samples, std::int64_t frames, int channels, std::int64_t fadeFrames);

} // namespace brumlis
