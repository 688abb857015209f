#pragma once

#include "brumlis/sentence/random.h"
#include "brumlis/sentence/sentencebuffer.h"
#include "brumlis/voicetools/folderreport.h"

#include <QString>

namespace brumlis {

/// A random sentence in which a given word or fixed phrase occurs.
struct ExampleSentence {
    SentenceBuffer buffer; ///< as a Generate would leave it
    int slotCount = 0;
    int wordSlot = -1; ///< the slot that holds the word; -1 when no template has room for it

    /// The words shown, blank slots of failed picks left out.
    QString text() const;
};

/// Draws one of the templates that has a slot for `word` (one of its word classes, or the
/// fixed phrase itself), fills the other slots from the lists in `dataDir` as Brumlis
/// does, and puts `word` in its slot.
ExampleSentence sentenceWith(const WordReport& word, const QString& dataDir, RandomSource& random);

} // namespace brumlis
