#include "brumlis/sentence/composer.h"

#include "brumlis/sentence/messagesink.h"
#include "brumlis/sentence/random.h"
#include "brumlis/sentence/shapes.h"
#include "brumlis/text/text.h"

#include <vector>

namespace brumlis {

SentenceComposer::SentenceComposer(std::filesystem::path dataDir, MessageSink& messages,
                                   RandomSource& random, Clock* clock)
    : m_dataDir(std::move(dataDir))
    , m_messages(messages)
    , m_random(random)
    , m_clock(clock)
    , m_files(m_dataDir) {}

std::u16string SentenceComposer::soundPathFor(std::u16string_view word) {
    return u"sound/" + std::u16string(word) + u".wav";
}

bool SentenceComposer::PickWord(SentenceBuffer& buffer, std::u16string_view category) {
    const std::u16string relative = u"text/" + std::u16string(category) + u".txt";

    buffer.PickedWord.clear();
    const ListStatus status = readDataList(m_files, relative, m_list);
    std::u16string problem = problemText(status);
    if (status == ListStatus::Ok) {
        // Where every MarkEvery-th item starts, noted while counting, so that reaching the
        // chosen item does not walk a long list a second time.
        constexpr std::size_t MarkEvery = 4096;
        std::vector<ItemReader>& marks = m_marks;
        marks.clear();
        ItemReader reader(m_list.text);
        std::size_t count = 0;
        for (;; ++count) {
            if (count % MarkEvery == 0)
                marks.push_back(reader);
            if (!reader.next())
                break;
        }
        if (count > 0) {
            const auto wanted = std::size_t(m_random.below(std::uint64_t(count)));
            ItemReader chosen = marks[wanted / MarkEvery];
            for (std::size_t skip = wanted % MarkEvery; skip > 0; --skip)
                chosen.next();
            chosen.next(&buffer.PickedWord);
            return true;
        }
        problem = u"är tom";
    }
    // Named as the system names paths: "text/namn.txt" here, "text\namn.txt" on Windows.
    m_messages.show(replaced(relative, u'/', char16_t(std::filesystem::path::preferred_separator)) +
                    u' ' + problem);
    return false;
}

// Fills the next slots from a row, left to right: an alternative is drawn when it is
// reached, a word when its slot is filled.
struct SentenceComposer::Filler {
    SentenceComposer& composer;
    SentenceBuffer& buffer;
    bool allPicked = true;
    bool stopped = false;

    // The slot for the next part, or -1 once the sentence is to go no further.
    int nextSlot() {
        if (stopped || (composer.m_stopped && composer.m_stopped())) {
            stopped = true;
            return -1;
        }
        const int k = buffer.SlotsUsed;
        if (k >= SentenceBuffer::SpokenSlots) {
            stopped = true; // a shape is never read that could give more
            return -1;
        }
        buffer.SlotsUsed = k + 1;
        return k;
    }
    void word(const ShapePart& part) {
        const int k = nextSlot();
        if (k < 0) {
            allPicked = false;
            return;
        }
        if (composer.PickWord(buffer, part.text)) {
            buffer.SoundFile(k) = soundPathFor(buffer.PickedWord);
            buffer.WordText(k) = buffer.PickedWord;
        } else {
            allPicked = false; // the slot stays empty: no text, no sound
        }
    }
    void phrase(const ShapePart& part) {
        const int k = nextSlot();
        if (k < 0) {
            allPicked = false;
            return;
        }
        buffer.SoundFile(k) = phraseSoundPath(part.text);
        buffer.WordText(k) = part.text;
    }
    void choice(const ShapePart& part) {
        if (stopped || (composer.m_stopped && composer.m_stopped())) {
            stopped = true;
            allPicked = false;
            return;
        }
        const auto drawn = composer.m_random.below(part.alternatives.size());
        visitParts(part.alternatives[std::size_t(drawn)], *this);
    }
};

bool SentenceComposer::compose(SentenceBuffer& buffer, int forcedTemplate) {
    if (m_clock)
        m_random.seed(m_clock->seedNow());

    for (int i = 0; i < SentenceBuffer::SpokenSlots; ++i) {
        buffer.SoundFile(i).clear();
        buffer.WordText(i).clear();
    }
    buffer.SlotsUsed = 0;

    // The folder's own shapes are read afresh, as the lists are; a faulty file is told
    // once, in one message, and the sentence is made from what is left of it.
    bool allGood = true;
    // Every line is checked; only the shape drawn is kept in parts.
    const ShapeFile file = readShapeFile(m_dataDir, false);
    if (const std::vector<std::u16string> problems = file.problems(); !problems.empty()) {
        m_messages.show(problemsMessage(problems));
        allGood = false;
    }
    const ShapeBook& book = file.book();
    const SentenceShape* shape = forcedTemplate > 0 ? book.find(forcedTemplate) : nullptr;
    if (forcedTemplate > 0 && !shape) {
        m_messages.show(u"mall " + number(forcedTemplate) + u" finns inte");
        return false;
    }
    if (!shape)
        shape = &drawShape(book);
    buffer.TemplateNo = shape->number;
    Filler filler{*this, buffer};
    visitParts(partsOf(file.bookText(), *shape), filler);
    return filler.allPicked && !filler.stopped && allGood;
}

const SentenceShape& SentenceComposer::drawShape(const ShapeBook& book) {
    std::uint64_t r = m_random.below(book.totalWeight);
    for (const SentenceShape& shape : book.shapes) {
        if (r < std::uint64_t(shape.weight))
            return shape;
        r -= std::uint64_t(shape.weight);
    }
    return book.shapes.back(); // not reached: the weights add up to totalWeight
}

} // namespace brumlis
