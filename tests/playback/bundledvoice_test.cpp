#include "brumlis/audio/clipdecoder.h"
#include "brumlis/sentence/fileresolver.h"
#include "brumlis/sentence/templates.h"
#include "brumlis/sentence/wordlist.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace brumlis {
namespace {

// Every word of the bundled lists and every fixed phrase has a recording that plays, so
// an edited list without `brumlis-cli voice` run afterwards shows up here.
TEST(BundledVoice, EveryWordAndPhraseHasAPlayableRecording) {
    const QString data = QStringLiteral(BRUMLIS_DATA);
    const FileResolver resolver(data);
    QStringList paths;
    for (const TemplateSlot& phrase : FixedPhrases)
        paths << phrase.sound.toString();
    for (const QStringView wordClass : WordClasses) {
        const ListFile list = readListFile(data + QStringLiteral("/text/%1.txt").arg(wordClass));
        ASSERT_EQ(list.status, ListStatus::Ok) << wordClass.toString().toStdString();
        for (const QString& item : parseItems(list.text)) {
            if (!item.trimmed().isEmpty())
                paths << QStringLiteral("sound\\%1.wav").arg(item);
        }
    }
    ASSERT_GT(paths.size(), 8 + 11 * 10);
    for (const QString& path : paths) {
        ClipDecoder decoder;
        EXPECT_TRUE(decoder.open(resolver.resolve(path))) << path.toStdString();
    }
}

} // namespace
} // namespace brumlis
