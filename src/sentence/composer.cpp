#include "brumlis/sentence/composer.h"

#include "brumlis/sentence/messagesink.h"
#include "brumlis/sentence/random.h"
#include "brumlis/sentence/templates.h"
#include "brumlis/sentence/wordlist.h"

#include <QDir>
#include <vector>

namespace brumlis {

SentenceComposer::SentenceComposer(QString dataDir, MessageSink& messages, RandomSource& random,
                                   Clock* clock)
    : m_dataDir(std::move(dataDir))
    , m_messages(messages)
    , m_random(random)
    , m_clock(clock) {}

QString SentenceComposer::soundPathFor(const QString& word) {
    return QStringLiteral("sound/") + word + QStringLiteral(".wav");
}

bool SentenceComposer::PickWord(SentenceBuffer& buffer, QStringView category) {
    const QString relative = QStringLiteral("text/") + category.toString() + QStringLiteral(".txt");
    const QString path = m_dataDir.isEmpty() ? relative : m_dataDir + u'/' + relative;

    buffer.PickedWord.clear();
    const ListStatus status = readListFile(path, m_list);
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

    buffer.TemplateNo = (forcedTemplate >= 1 && forcedTemplate <= TemplateCount)
                            ? forcedTemplate
                            : int(m_random.below(TemplateCount)) + 1;

    bool allPicked = true;
    const SentenceTemplate& chosen = Templates[std::size_t(buffer.TemplateNo - 1)];
    for (int k = 0; k < chosen.slotCount; ++k) {
        const TemplateSlot& slot = chosen.slots[std::size_t(k)];
        if (m_stopped && m_stopped())
            return false;
        if (slot.isPhrase()) {
            buffer.SoundFile(k) = slot.sound.toString();
            buffer.WordText(k) = slot.text.toString();
        } else if (PickWord(buffer, slot.text)) {
            buffer.SoundFile(k) = soundPathFor(buffer.PickedWord);
            buffer.WordText(k) = buffer.PickedWord;
        } else {
            allPicked = false; // the slot stays empty: no text, no sound
        }
    }
    return allPicked;
}

} // namespace brumlis
