#include "examplesentence.h"

#include "brumlis/sentence/composer.h"
#include "brumlis/sentence/messagesink.h"
#include "brumlis/sentence/templates.h"

#include <QStringList>
#include <utility>
#include <vector>

namespace brumlis {

namespace {

// A failed pick leaves its slot blank; the example needs no message box for that.
class QuietMessages final : public MessageSink {
public:
    void show(const QString&) override {}
};

bool fits(const TemplateSlot& slot, const WordReport& word) {
    return word.isPhrase() ? slot.isPhrase() && slot.text == word.text
                           : !slot.isPhrase() && word.classes.contains(slot.text.toString());
}

} // namespace

QString ExampleSentence::text() const {
    QStringList words;
    for (int k = 0; k < slotCount; ++k)
        if (!buffer.WordText(k).isEmpty())
            words << buffer.WordText(k);
    return words.join(u' ');
}

ExampleSentence sentenceWith(const WordReport& word, const QString& dataDir, RandomSource& random) {
    // Every (template, slot) pair the word fits, each equally likely.
    std::vector<std::pair<int, int>> places;
    for (int t = 0; t < TemplateCount; ++t)
        for (int k = 0; k < Templates[std::size_t(t)].slotCount; ++k)
            if (fits(Templates[std::size_t(t)].slots[std::size_t(k)], word))
                places.emplace_back(t + 1, k);
    ExampleSentence example;
    if (places.empty())
        return example;
    const auto [templateNo, slot] = places[std::size_t(random.below(places.size()))];
    QuietMessages messages;
    SentenceComposer composer(dataDir, messages, random);
    composer.compose(example.buffer, templateNo);
    example.slotCount = Templates[std::size_t(templateNo - 1)].slotCount;
    example.wordSlot = slot;
    example.buffer.WordText(slot) = word.text;
    example.buffer.SoundFile(slot) = word.soundPath;
    return example;
}

} // namespace brumlis
