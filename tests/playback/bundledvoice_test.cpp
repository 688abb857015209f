#include "brumlis/audio/clipdecoder.h"
#include "brumlis/sentence/fileresolver.h"
#include "brumlis/sentence/shapes.h"
#include "brumlis/sentence/wordlist.h"
#include "brumlis/text/text.h"

#include <gtest/gtest.h>

namespace brumlis {
namespace {

// Every word of the bundled lists and every fixed phrase has a recording that plays, so
// an edited list without `brumlis-cli voice` run afterwards shows up here.
TEST(BundledVoice, EveryWordAndPhraseHasAPlayableRecording) {
    const std::filesystem::path data = BRUMLIS_DATA;
    const FileResolver resolver(data);
    const ShapeVocabulary vocabulary = vocabularyOf(builtinShapes());
    std::vector<std::u16string> paths;
    for (const std::u16string& phrase : vocabulary.phrases)
        paths.push_back(phraseSoundPath(phrase));
    for (const std::u16string& wordClass : vocabulary.classes) {
        const ListFile list = readListFile(data / "text" / (toUtf8(wordClass) + ".txt"));
        ASSERT_EQ(list.status, ListStatus::Ok) << toUtf8(wordClass);
        for (const std::u16string& item : parseItems(list.text)) {
            if (!trimmed(item).empty())
                paths.push_back(u"sound\\" + item + u".wav");
        }
    }
    ASSERT_GT(paths.size(), 8u + 11 * 10);
    for (const std::u16string& path : paths) {
        ClipDecoder decoder;
        EXPECT_TRUE(decoder.open(resolver.resolve(path))) << toUtf8(path);
    }
}

} // namespace
} // namespace brumlis
