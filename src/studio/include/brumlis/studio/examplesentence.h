#pragma once

#include "brumlis/sentence/random.h"
#include "brumlis/sentence/sentencebuffer.h"
#include "brumlis/sentence/shapes.h"
#include "brumlis/voicecheck/folderreport.h"

#include <QString>

namespace brumlis {

/// A random sentence in which a given word or fixed phrase occurs.
struct ExampleSentence {
    SentenceBuffer buffer; ///< as a Generate would leave it
    int slotCount = 0;
    int wordSlot = -1; ///< the slot that holds the word; -1 when no shape has room for it

    /// The words shown, blank slots of failed picks left out.
    QString text() const;
};

/// Draws a place for `word` among the shapes of `book`: a part that takes one of its word
/// classes, or the fixed phrase itself, anywhere in a shape, inside choices too. Each place
/// is as likely as its shape's weight says. The choices on the way to it take the
/// alternative that holds it, every other choice one drawn at random; the other slots are
/// filled from the lists in `dataDir` as Brumlis fills them, and `word` goes in its slot.
ExampleSentence sentenceWith(const WordReport& word, const ShapeBook& book, const QString& dataDir,
                             RandomSource& random);

/// Whether two readings of shapes give the same sentences: the same shapes, weights and
/// parts, in the same order.
bool sameShapes(const ShapeBook& a, const ShapeBook& b);

} // namespace brumlis
