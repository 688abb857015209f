#include "brumlis/studio/examplesentence.h"

#include "brumlis/sentence/composer.h"
#include "brumlis/sentence/messagesink.h"

#include <QStringList>
#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace brumlis {

namespace {

// A failed pick leaves its slot blank; the example needs no message box for that.
class QuietMessages final : public MessageSink {
public:
    void show(const QString&) override {}
};

bool fits(const ShapePart& part, const WordReport& word) {
    switch (part.kind) {
    case ShapePart::Kind::Word:
        return !word.isPhrase() && word.classes.contains(part.text);
    case ShapePart::Kind::Phrase:
        return word.isPhrase() && part.text == word.text;
    case ShapePart::Kind::Choice:
        break;
    }
    return false;
}

// The places `word` can take in `row`, through every alternative of its choices.
std::uint64_t placesIn(const ShapeRow& row, const WordReport& word) {
    std::uint64_t places = 0;
    for (const ShapePart& part : row) {
        if (part.kind == ShapePart::Kind::Choice) {
            for (const ShapeRow& alternative : part.alternatives)
                places += placesIn(alternative, word);
        } else if (fits(part, word)) {
            ++places;
        }
    }
    return places;
}

// Fills a shape's slots as the composer does, except that the word goes in its place and
// the choices around that place take the alternative that holds it.
class ExampleFiller {
public:
    ExampleFiller(const WordReport& word, const QString& dataDir, RandomSource& random,
                  ExampleSentence& example)
        : m_word(word)
        , m_random(random)
        , m_composer(dataDir, m_messages, random)
        , m_example(example) {}

    // `place`: which of the word's places in `row` it goes in, counted from 0 in the order
    // placesIn() counts them; none when it goes in no part of `row`.
    void fill(const ShapeRow& row, std::optional<std::uint64_t> place) {
        SentenceBuffer& buffer = m_example.buffer;
        for (const ShapePart& part : row) {
            if (part.kind == ShapePart::Kind::Choice) {
                fillChoice(part, place);
                continue;
            }
            const int k = buffer.SlotsUsed;
            if (k >= SentenceBuffer::SpokenSlots)
                return; // a shape is never read that could give more
            buffer.SlotsUsed = k + 1;
            if (place && fits(part, m_word)) {
                if (*place == 0) {
                    m_example.wordSlot = k;
                    buffer.WordText(k) = m_word.text;
                    buffer.SoundFile(k) = m_word.soundPath;
                    place.reset();
                    continue;
                }
                --*place;
            }
            if (part.kind == ShapePart::Kind::Phrase) {
                buffer.WordText(k) = part.text;
                buffer.SoundFile(k) = phraseSoundPath(part.text);
            } else if (m_composer.PickWord(buffer, part.text)) {
                buffer.WordText(k) = buffer.PickedWord;
                buffer.SoundFile(k) = SentenceComposer::soundPathFor(buffer.PickedWord);
            }
        }
    }

private:
    // Takes the alternative that holds the place when it lies in this choice, and counts
    // the choice's places off it when it lies further on.
    void fillChoice(const ShapePart& choice, std::optional<std::uint64_t>& place) {
        const std::vector<ShapeRow>& alternatives = choice.alternatives;
        if (place) {
            for (const ShapeRow& alternative : alternatives) {
                const std::uint64_t here = placesIn(alternative, m_word);
                if (*place < here) {
                    fill(alternative, std::exchange(place, std::nullopt));
                    return;
                }
                *place -= here;
            }
        }
        fill(alternatives[std::size_t(m_random.below(alternatives.size()))], std::nullopt);
    }

    const WordReport& m_word;
    RandomSource& m_random;
    QuietMessages m_messages;
    SentenceComposer m_composer;
    ExampleSentence& m_example;
};

bool sameRows(const ShapeRow& a, const ShapeRow& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](const ShapePart& x, const ShapePart& y) {
                          return x.kind == y.kind && x.text == y.text &&
                                 std::equal(x.alternatives.begin(), x.alternatives.end(),
                                            y.alternatives.begin(), y.alternatives.end(), sameRows);
                      });
}

} // namespace

QString ExampleSentence::text() const {
    QStringList words;
    for (int k = 0; k < slotCount; ++k)
        if (!buffer.WordText(k).isEmpty())
            words << buffer.WordText(k);
    return words.join(u' ');
}

ExampleSentence sentenceWith(const WordReport& word, const ShapeBook& book, const QString& dataDir,
                             RandomSource& random) {
    // Each place weighs what its shape weighs: with the built-in shapes, every (template,
    // slot) pair the word fits is equally likely.
    std::vector<std::uint64_t> places;
    places.reserve(book.shapes.size());
    std::uint64_t total = 0;
    for (const SentenceShape& shape : book.shapes) {
        places.push_back(placesIn(shape.parts, word));
        total += places.back() * std::uint64_t(shape.weight);
    }
    ExampleSentence example;
    if (total == 0)
        return example;
    std::uint64_t drawn = random.below(total);
    for (std::size_t s = 0; s < book.shapes.size(); ++s) {
        const SentenceShape& shape = book.shapes[s];
        const std::uint64_t share = places[s] * std::uint64_t(shape.weight);
        if (drawn >= share) {
            drawn -= share;
            continue;
        }
        example.buffer.TemplateNo = shape.number;
        ExampleFiller(word, dataDir, random, example)
            .fill(shape.parts, drawn / std::uint64_t(shape.weight));
        break;
    }
    example.slotCount = example.buffer.SlotsUsed;
    return example;
}

bool sameShapes(const ShapeBook& a, const ShapeBook& b) {
    return std::equal(a.shapes.begin(), a.shapes.end(), b.shapes.begin(), b.shapes.end(),
                      [](const SentenceShape& x, const SentenceShape& y) {
                          return x.weight == y.weight && sameRows(x.parts, y.parts);
                      });
}

} // namespace brumlis
