#pragma once

#include "sentence/sentencebuffer.h"

#include <QString>
#include <QStringList>
#include <cstdint>
#include <vector>

namespace brumlis {

/// A sentence's recordings joined into one stream of 16-bit samples.
struct RenderedSentence {
    std::vector<std::int16_t> samples;    ///< interleaved
    std::vector<std::int64_t> clipFrames; ///< frames each joined clip gave
    QStringList unplayable; ///< texts of the slots whose recording was missing or would not play
};

/// Converts the recording of each of the first `slotCount` slots of `buffer` to `rate` and
/// `channels`, the way the program does before playing it, and joins them with no silence in
/// between. A slot left empty by a failed pick is passed over.
RenderedSentence renderSentence(const SentenceBuffer& buffer, int slotCount, const QString& dataDir,
                                int rate, int channels);

} // namespace brumlis
