#include "brumlis/sentence/composer.h"

#include "brumlis/sentence/fileresolver.h"
#include "brumlis/sentence/messagesink.h"
#include "brumlis/sentence/random.h"
#include "brumlis/sentence/shapes.h"
#include "brumlis/sentence/wordlist.h"

#include <QDir>
#include <vector>

namespace brumlis {

SentenceComposer::SentenceComposer(QString dataDir, MessageSink& messages, RandomSource& random,
                                   Clock* clock)
    : m_dataDir(std::move(dataDir))
    , m_messages(messages)
    , m_random(random)
    , m_clock(clock)
    , m_files(m_dataDir) {}

QString SentenceComposer::soundPathFor(const QString& word) {
    return QStringLiteral("sound/") + word + QStringLiteral(".wav");
}

bool SentenceComposer::PickWord(SentenceBuffer& buffer, QStringView category) {
    const QString relative = QStringLiteral("text/") + category.toString() + QStringLiteral(".txt");

    buffer.PickedWord.clear();
    const ListStatus status = readDataList(m_files, relative, m_list);
    QString problem = problemText(status);
    if (status == ListStatus::Ok) {
        // Where every MarkEvery-th item starts, noted while counting, so that reaching the
        // chosen item does not walk a long list a second time.
        constexpr qsizetype MarkEvery = 4096;
        std::vector<ItemReader>& marks = m_marks;
        marks.clear();
        ItemReader reader(m_list.text);
        qsizetype count = 0;
        for (;; ++count) {
            if (count % MarkEvery == 0)
                marks.push_back(reader);
            if (!reader.next())
                break;
        }
        if (count > 0) {
            const qsizetype wanted = qsizetype(m_random.below(std::uint64_t(count)));
            ItemReader chosen = marks[std::size_t(wanted / MarkEvery)];
            for (qsizetype skip = wanted % MarkEvery; skip > 0; --skip)
                chosen.next();
            chosen.next(&buffer.PickedWord);
            return true;
        }
        problem = QStringLiteral("är tom");
    }
    m_messages.show(QDir::toNativeSeparators(relative) + u' ' + problem);
    return false;
}

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
    if (const QStringList problems = file.problems(); !problems.isEmpty()) {
        m_messages.show(problemsMessage(problems));
        allGood = false;
    }
    const ShapeBook& book = file.book();
    const SentenceShape* shape = forcedTemplate > 0 ? book.find(forcedTemplate) : nullptr;
    if (forcedTemplate > 0 && !shape) {
        m_messages.show(QStringLiteral("mall %1 finns inte").arg(forcedTemplate));
        return false;
    }
    if (!shape)
        shape = &drawShape(book);
    buffer.TemplateNo = shape->number;
    return fill(buffer, partsOf(file.text, *shape)) && allGood;
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

// Fills the next slots from `row`, left to right: an alternative is drawn when it is
// reached, a word when its slot is filled.
bool SentenceComposer::fill(SentenceBuffer& buffer, const ShapeRow& row) {
    bool allPicked = true;
    for (const ShapePart& part : row) {
        if (m_stopped && m_stopped())
            return false;
        if (part.kind == ShapePart::Kind::Choice) {
            const auto drawn = m_random.below(part.alternatives.size());
            allPicked = fill(buffer, part.alternatives[std::size_t(drawn)]) && allPicked;
            continue;
        }
        const int k = buffer.SlotsUsed;
        if (k >= SentenceBuffer::SpokenSlots)
            return false; // a shape is never read that could give more
        buffer.SlotsUsed = k + 1;
        if (part.kind == ShapePart::Kind::Phrase) {
            buffer.SoundFile(k) = phraseSoundPath(part.text);
            buffer.WordText(k) = part.text;
        } else if (PickWord(buffer, part.text)) {
            buffer.SoundFile(k) = soundPathFor(buffer.PickedWord);
            buffer.WordText(k) = buffer.PickedWord;
        } else {
            allPicked = false; // the slot stays empty: no text, no sound
        }
    }
    return allPicked;
}

} // namespace brumlis
