#include "brumlis/studio/examplesentence.h"

#include "brumlis/qtbridge/text.h"
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
    void show(const std::u16string&) override {}
};

bool fits(const ShapePart& part, const WordReport& word) {
    switch (part.kind) {
    case ShapePart::Kind::Word:
        return !word.isPhrase() && word.classes.contains(qt(part.text));
    case ShapePart::Kind::Phrase:
        return word.isPhrase() && qt(part.text) == word.text;
    case ShapePart::Kind::Choice:
        break;
    }
    return false;
}

// The places `word` can take in a row, through every alternative of its choices.
struct PlaceCounter {
    const WordReport& target;
    std::uint64_t places = 0;

    void count(const ShapePart& part) {
        if (fits(part, target))
            ++places;
    }
    void word(const ShapePart& part) { count(part); }
    void phrase(const ShapePart& part) { count(part); }
    void choice(const ShapePart& part) {
        for (const ShapeRow& alternative : part.alternatives)
            visitParts(alternative, *this);
    }
};

std::uint64_t placesIn(const ShapeRow& row, const WordReport& word) {
    PlaceCounter counter{word};
    visitParts(row, counter);
    return counter.places;
}

// Fills a shape's slots as the composer does, except that the word goes in its place and
// the choices around that place take the alternative that holds it.
class ExampleFiller {
public:
    ExampleFiller(const WordReport& word, const QString& dataDir, RandomSource& random,
                  ExampleSentence& example)
        : m_word(word)
        , m_random(random)
        , m_composer(corePath(dataDir), m_messages, random)
        , m_example(example) {}

    // `place`: which of the word's places in `row` it goes in, counted from 0 in the order
    // placesIn() counts them; none when it goes in no part of `row`.
    void fill(const ShapeRow& row, std::optional<std::uint64_t> place) {
        const std::optional<std::uint64_t> outer = std::exchange(m_place, place);
        visitParts(row, *this);
        m_place = outer;
    }

    void word(const ShapePart& part) {
        if (const std::optional<int> k = slotFor(part);
            k && m_composer.PickWord(buffer(), part.text)) {
            buffer().WordText(*k) = buffer().PickedWord;
            buffer().SoundFile(*k) = SentenceComposer::soundPathFor(buffer().PickedWord);
        }
    }
    void phrase(const ShapePart& part) {
        if (const std::optional<int> k = slotFor(part)) {
            buffer().WordText(*k) = part.text;
            buffer().SoundFile(*k) = phraseSoundPath(part.text);
        }
    }
    // Takes the alternative that holds the place when it lies in this choice, and counts
    // the choice's places off it when it lies further on.
    void choice(const ShapePart& choice) {
        const std::vector<ShapeRow>& alternatives = choice.alternatives;
        if (m_place) {
            for (const ShapeRow& alternative : alternatives) {
                const std::uint64_t here = placesIn(alternative, m_word);
                if (*m_place < here) {
                    const std::uint64_t place = *m_place;
                    m_place.reset();
                    fill(alternative, place);
                    return;
                }
                *m_place -= here;
            }
        }
        fill(alternatives[std::size_t(m_random.below(alternatives.size()))], std::nullopt);
    }

private:
    SentenceBuffer& buffer() { return m_example.buffer; }

    // The next slot for `part`, to be filled by the caller; none when the word itself took it
    // or the sentence is full.
    std::optional<int> slotFor(const ShapePart& part) {
        SentenceBuffer& b = buffer();
        const int k = b.SlotsUsed;
        if (k >= SentenceBuffer::SpokenSlots)
            return std::nullopt; // a shape is never read that could give more
        b.SlotsUsed = k + 1;
        if (m_place && fits(part, m_word)) {
            if (*m_place == 0) {
                m_example.wordSlot = k;
                b.WordText(k) = core(m_word.text);
                b.SoundFile(k) = core(m_word.soundPath);
                m_place.reset();
                return std::nullopt;
            }
            --*m_place;
        }
        return k;
    }

    const WordReport& m_word;
    RandomSource& m_random;
    QuietMessages m_messages;
    SentenceComposer m_composer;
    ExampleSentence& m_example;
    std::optional<std::uint64_t> m_place;
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
        if (!buffer.WordText(k).empty())
            words << qt(buffer.WordText(k));
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
