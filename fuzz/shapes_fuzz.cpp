// Any bytes as a mallar.txt: decoding, reading the shapes, and drawing sentences from them.
#include "brumlis/sentence/random.h"
#include "brumlis/sentence/shapes.h"
#include "brumlis/sentence/wordlist.h"
#include "brumlis/text/text.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace brumlis;

// The largest number of parts a row can give, counted here apart from the reader's count.
int maxPartsOf(const ShapeRow& row) {
    int total = 0;
    for (const ShapePart& part : row) {
        int most = 1;
        if (part.kind == ShapePart::Kind::Choice) {
            most = 0;
            for (const ShapeRow& alternative : part.alternatives)
                most = std::max(most, maxPartsOf(alternative));
        }
        total += most;
    }
    return total;
}

// Walks a row as a sentence is drawn from it, with alternatives taken from `random`;
// returns the parts it gave.
int draw(const ShapeRow& row, RandomSource& random, int depth) {
    if (depth > MaxShapeDepth)
        std::abort();
    int parts = 0;
    for (const ShapePart& part : row) {
        if (part.kind == ShapePart::Kind::Choice) {
            if (part.alternatives.empty())
                std::abort();
            parts +=
                draw(part.alternatives[random.below(part.alternatives.size())], random, depth + 1);
        } else {
            if (trimmed(part.text).empty())
                std::abort();
            ++parts;
        }
    }
    return parts;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ShapeBook book =
        parseShapes(decodeList(std::string_view(reinterpret_cast<const char*>(data), size)).text);
    // Every shape line is either a shape or a fault, numbered in order.
    if (book.shapes.size() + book.faults.size() != std::size_t(book.numbered))
        std::abort();
    std::uint64_t weights = 0;
    int lastNumber = 0;
    MersenneRandom random(size);
    for (const SentenceShape& shape : book.shapes) {
        if (shape.weight < 1 || shape.weight > MaxShapeWeight || shape.number <= lastNumber)
            std::abort();
        lastNumber = shape.number;
        weights += std::uint64_t(shape.weight);
        const int most = maxPartsOf(shape.parts);
        if (most < 1 || most > SentenceBuffer::SpokenSlots)
            std::abort();
        for (int i = 0; i < 4; ++i)
            if (const int parts = draw(shape.parts, random, 0); parts < 1 || parts > most)
                std::abort();
    }
    for (const ShapeFault& fault : book.faults)
        if (fault.what.empty() || fault.line < 1)
            std::abort();
    if (weights != book.totalWeight)
        std::abort();
    // The classes and phrases never name a file outside text/ and sound/.
    const ShapeVocabulary vocabulary = vocabularyOf(book);
    const auto holds = [](const std::u16string& text, std::u16string_view what) {
        return text.find(what) != std::u16string::npos;
    };
    for (const std::u16string& name : vocabulary.classes)
        if (holds(name, u"/") || holds(name, u"\\") || holds(name, u".."))
            std::abort();
    for (const std::u16string& phrase : vocabulary.phrases)
        if (holds(phrase, u"/") || holds(phrase, u"\\"))
            std::abort();
    return 0;
}
