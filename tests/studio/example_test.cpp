// The example sentence shown with a word: a place for it in the folder's shapes, the other
// slots filled from the lists.
#include "brumlis/qtbridge/text.h"
#include "brumlis/sentence/composer.h"
#include "brumlis/studio/examplesentence.h"
#include "studiofixture.h"

#include <QSet>
#include <gtest/gtest.h>

namespace brumlis {
namespace {

WordReport wordOf(const char* text, QStringList classes) {
    WordReport word;
    word.text = QString::fromUtf8(text);
    word.classes = std::move(classes);
    word.soundPath = qt(word.isPhrase() ? phraseSoundPath(core(word.text))
                                        : SentenceComposer::soundPathFor(core(word.text)));
    return word;
}

// Every sentence the word can be shown in comes up, and no other: with the built-in shapes
// the templates that have its class or phrase, with the folder's own the alternatives that
// hold it, whatever the choices around them draw.
TEST(ExampleSentenceTest, PutsTheWordInEachPlaceTheShapesHaveForIt) {
    test::StudioFolder folder;
    folder.lists();
    folder.list("namn", "Kalle");
    folder.list("djur", "katten");
    folder.list("ljud", "mjau");
    folder.list("sak", "bollen");
    const ShapeBook own =
        parseShapes(u"[djur] \"säger\" [ljud]\n"
                    u"3: [namn] (\"tittar på\" [sak] | \"leker med\" ([sak] | \"sig själv\")) "
                    u"(\"i dag\" | \"i går\")\n");
    ASSERT_EQ(own.shapes.size(), 2u);
    struct Case {
        const char* name;
        const ShapeBook& book;
        WordReport word;
        QStringList examples;
    };
    const Case cases[] = {
        {"built-in phrase",
         builtinShapes(),
         wordOf("tycker att", {}),
         {"Kalle tycker att Kalle är glad", "Kalle tycker att Kalle är ett glatt bord",
          "Kalle tycker att Kalle är en glad bil", "Kalle tycker att Kalle är en röd bil"}},
        {"built-in word",
         builtinShapes(),
         wordOf("vagn", {"sub_reale"}),
         {"Kalle tycker att Kalle är en glad vagn", "Kalle tycker att Kalle är en röd vagn",
          "Kalle har en glad vagn på hemma", "Kalle har en glad vagn som springer på hemma"}},
        {"word of one shape", own, wordOf("Musse", {"djur"}), {"Musse säger mjau"}},
        {"word in an alternative and a nested one",
         own,
         wordOf("pinnen", {"sak"}),
         {"Kalle tittar på pinnen i dag", "Kalle tittar på pinnen i går",
          "Kalle leker med pinnen i dag", "Kalle leker med pinnen i går"}},
        {"phrase in a nested alternative",
         own,
         wordOf("sig själv", {}),
         {"Kalle leker med sig själv i dag", "Kalle leker med sig själv i går"}},
        {"phrase of the second choice",
         own,
         wordOf("i går", {}),
         {"Kalle tittar på bollen i går", "Kalle leker med bollen i går",
          "Kalle leker med sig själv i går"}},
        {"word no shape uses", own, wordOf("hemma", {"plats"}), {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MersenneRandom random(7);
        QSet<QString> seen;
        int misplaced = 0;
        for (int draw = 0; draw < 100; ++draw) {
            const ExampleSentence example = sentenceWith(c.word, c.book, folder.dir.path(), random);
            if (example.wordSlot < 0) {
                misplaced += !example.text().isEmpty();
                continue;
            }
            misplaced += qt(example.buffer.WordText(example.wordSlot)) != c.word.text ||
                         qt(example.buffer.SoundFile(example.wordSlot)) != c.word.soundPath;
            seen.insert(example.text());
        }
        EXPECT_EQ(misplaced, 0);
        QStringList shown = seen.values();
        shown.sort();
        QStringList expected = c.examples;
        expected.sort();
        EXPECT_EQ(shown, expected);
    }

    // A word of both lists: its place in the shape of weight 3 comes up about three times
    // as often as the one in the shape of weight 1.
    MersenneRandom random(7);
    int first = 0;
    for (int draw = 0; draw < 400; ++draw)
        first += sentenceWith(wordOf("Ada", {"namn", "djur"}), own, folder.dir.path(), random)
                     .buffer.TemplateNo == 1;
    EXPECT_GT(first, 60);
    EXPECT_LT(first, 140);
}

} // namespace
} // namespace brumlis
