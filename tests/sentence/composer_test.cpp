#include "brumlis/sentence/composer.h"
#include "brumlis/sentence/templates.h"
#include "brumlis/sentence/wordlist.h"
#include "support/fakes.h"
#include "support/tempdir.h"

#include <QDir>
#include <QFile>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace brumlis {
namespace {

using test::FakeClock;
using test::RecordingMessages;
using test::ScriptedRandom;
using test::TempDir;

QByteArray utf8(const char* s) {
    return QByteArray(s);
}

// A data folder in which every class has a list with one item named after the class,
// so each slot shows where its word came from.
void writeClassLists(const TempDir& dir) {
    for (const QStringView wordClass : WordClasses)
        dir.write("text/" + wordClass.toString() + ".txt",
                  wordClass.toString().toUpper().toUtf8() + "\n");
}

class Composer : public testing::Test {
protected:
    TempDir dir;
    RecordingMessages messages;
    ScriptedRandom random;
    FakeClock clock;
    SentenceComposer composer{dir.path(), messages, random, &clock};
    SentenceBuffer buffer;
};

TEST_F(Composer, TemplatesReadAsWrittenSlotBySlot) {
    // Written out by hand: each class's list holds its own name in capitals, and a
    // fixed phrase's recording is its text with blanks as underscores.
    const char* const golden[TemplateCount] = {
        "NAMN|tycker att|NAMN|är|ADJ",
        "NAMN|tycker att|NAMN|är ett|ADJ_NEU|SUB_NEU",
        "NAMN|tycker att|NAMN|är en|ADJ|SUB_REALE",
        "NAMN|tycker att|NAMN|är en|FÄRG|SUB_REALE",
        "NAMN|är|PREP|PLATS",
        "NAMN|VERB_PRE|PREP|PLATS",
        "NAMN|har|VERB_PER|SUB|PREP|PLATS",
        "NAMN|har en|ADJ|SUB_REALE|PREP|PLATS",
        "NAMN|har ett|ADJ_NEU|SUB_NEU|PREP|PLATS",
        "NAMN|har en|ADJ|SUB_REALE|som|VERB_PRE|PREP|PLATS",
        "NAMN|har ett|ADJ_NEU|SUB_NEU|som|VERB_PRE|PREP|PLATS",
    };
    writeClassLists(dir);
    for (int number = 1; number <= TemplateCount; ++number) {
        ASSERT_TRUE(composer.compose(buffer, number));
        const QStringList slots = QString::fromUtf8(golden[number - 1]).split(u'|');
        for (int k = 0; k < SentenceBuffer::SpokenSlots; ++k) {
            const QString text = slots.value(k);
            const QString sound =
                text.isEmpty() ? QString() : "sound/" + QString(text).replace(u' ', u'_') + ".wav";
            EXPECT_EQ(buffer.WordText(k), text) << "template " << number << " slot " << k;
            EXPECT_EQ(buffer.SoundFile(k), sound) << "template " << number << " slot " << k;
        }
    }
    EXPECT_TRUE(messages.messages.isEmpty());
}

TEST_F(Composer, LongItemIsCutInTextAndFileName) {
    dir.write("text/namn.txt", QByteArray(2000, 'k') + "\nLisa\n");
    random.queued = {0};
    ASSERT_TRUE(composer.PickWord(buffer, u"namn"));
    EXPECT_EQ(buffer.PickedWord, QString(MaxItemLength, u'k'));
}

TEST_F(Composer, FixedPhrasesTable) {
    // Guards the exact texts and recordings, including the ä of U+00E4.
    const std::map<QString, QString> expected = {
        {"tycker att", "sound/tycker_att.wav"},
        {"är", "sound/är.wav"},
        {"är ett", "sound/är_ett.wav"},
        {"är en", "sound/är_en.wav"},
        {"har", "sound/har.wav"},
        {"har en", "sound/har_en.wav"},
        {"har ett", "sound/har_ett.wav"},
        {"som", "sound/som.wav"},
    };
    ASSERT_EQ(FixedPhrases.size(), expected.size());
    for (const TemplateSlot& phrase : FixedPhrases)
        EXPECT_EQ(expected.at(phrase.text.toString()), phrase.sound);
    EXPECT_EQ(FixedPhrases[1].text.at(0).unicode(), 0x00E4);
}

TEST_F(Composer, ShorterSentenceAfterLongerLeavesNothingBehind) {
    writeClassLists(dir);
    ASSERT_TRUE(composer.compose(buffer, 10));
    ASSERT_FALSE(buffer.WordText(7).isEmpty());
    ASSERT_TRUE(composer.compose(buffer, 5));
    for (int k = 4; k < SentenceBuffer::SpokenSlots; ++k) {
        EXPECT_TRUE(buffer.WordText(k).isEmpty()) << k;
        EXPECT_TRUE(buffer.SoundFile(k).isEmpty()) << k;
    }
}

TEST_F(Composer, SlotsBeyondTheSpokenOnesAreNeverTouched) {
    writeClassLists(dir);
    buffer.WordText(15) = "kvar";
    buffer.SoundFile(20) = "sound/kvar.wav";
    for (int number = 1; number <= TemplateCount; ++number)
        composer.compose(buffer, number);
    EXPECT_EQ(buffer.WordText(15), "kvar");
    EXPECT_EQ(buffer.SoundFile(20), "sound/kvar.wav");
}

TEST_F(Composer, SlotAccessOutsideTheBufferThrows) {
    for (const int i : {-1, 21, 1000})
        EXPECT_THROW(buffer.WordText(i), std::out_of_range) << i;
    EXPECT_NO_THROW(buffer.SoundFile(20));
}

TEST_F(Composer, ReseedsFromTheClockBeforeEverySentence) {
    writeClassLists(dir);
    composer.compose(buffer);
    composer.compose(buffer);
    EXPECT_EQ(random.seeds, (std::vector<std::uint64_t>{1001, 1002}));
    // The template is the first draw after the seed.
    EXPECT_EQ(random.bounds.front(), std::uint64_t(TemplateCount));
}

TEST_F(Composer, TemplatesAreDrawnUniformly) {
    writeClassLists(dir);
    SentenceComposer seeded(dir.path(), messages, random); // no clock: one seeded sequence
    random.seed(4242);
    std::vector<long> counts(TemplateCount + 2);
    const long draws = 11 * 300;
    for (long i = 0; i < draws; ++i) {
        seeded.compose(buffer);
        ++counts.at(std::size_t(buffer.TemplateNo));
    }
    EXPECT_EQ(counts[0], 0);
    EXPECT_EQ(counts[12], 0);
    double chi = 0;
    for (int k = 1; k <= TemplateCount; ++k)
        chi += (counts[std::size_t(k)] - 300.0) * (counts[std::size_t(k)] - 300.0) / 300.0;
    EXPECT_LT(chi, 29.59); // p = 0.001, 10 degrees of freedom
}

TEST_F(Composer, PickIsUniformOverTheList) {
    QByteArray list;
    for (int i = 0; i < 20; ++i)
        list += "ord" + QByteArray::number(i) + "\n";
    dir.write("text/namn.txt", list);
    random.seed(77);
    std::map<QString, long> counts;
    const long picks = 20 * 500;
    for (long i = 0; i < picks; ++i) {
        ASSERT_TRUE(composer.PickWord(buffer, u"namn"));
        ++counts[buffer.PickedWord];
    }
    ASSERT_EQ(counts.size(), 20u);
    double chi = 0;
    for (const auto& [word, n] : counts)
        chi += (n - 500.0) * (n - 500.0) / 500.0;
    EXPECT_LT(chi, 43.82); // p = 0.001, 19 degrees of freedom
}

TEST_F(Composer, PickReadsTheListAfreshEveryTime) {
    dir.write("text/namn.txt", "Kalle\n");
    ASSERT_TRUE(composer.PickWord(buffer, u"namn"));
    EXPECT_EQ(buffer.PickedWord, "Kalle");
    dir.write("text/namn.txt", "Lisa\n");
    ASSERT_TRUE(composer.PickWord(buffer, u"namn"));
    EXPECT_EQ(buffer.PickedWord, "Lisa");
}

TEST_F(Composer, ListsBeyondSixteenBitsWork) {
    QByteArray list;
    for (int i = 0; i < 40000; ++i)
        list += QByteArray::number(i) + "\n";
    dir.write("text/namn.txt", list);
    random.queued = {39999, 32767, 0};
    for (const char* expected : {"39999", "32767", "0"}) {
        ASSERT_TRUE(composer.PickWord(buffer, u"namn"));
        EXPECT_EQ(buffer.PickedWord, expected);
    }
    EXPECT_EQ(random.bounds, (std::vector<std::uint64_t>{40000, 40000, 40000}));
}

TEST_F(Composer, PickedWordsKeepBlanksCaseAndLetters) {
    dir.write("text/plats.txt", utf8("  \"Röda Stugan, Nere\"  \n"));
    dir.write("text/prep.txt", utf8("inne i\n"));
    dir.write("text/namn.txt", utf8("ÅSA\n"));
    dir.write("text/verb_pre.txt", utf8("gömmer sig\n"));
    ASSERT_TRUE(composer.compose(buffer, 6));
    const QStringList texts{buffer.WordText(0), buffer.WordText(1), buffer.WordText(2),
                            buffer.WordText(3)};
    EXPECT_EQ(texts, (QStringList{"ÅSA", "gömmer sig", "inne i", "Röda Stugan, Nere"}));
    EXPECT_EQ(buffer.SoundFile(3), "sound/Röda Stugan, Nere.wav");
    EXPECT_EQ(buffer.SoundFile(1), "sound/gömmer sig.wav");
}

TEST_F(Composer, EmptyItemGivesEmptyWordAndItsPath) {
    dir.write("text/namn.txt", "\n");
    ASSERT_TRUE(composer.PickWord(buffer, u"namn"));
    EXPECT_EQ(buffer.PickedWord, "");
    EXPECT_EQ(SentenceComposer::soundPathFor(buffer.PickedWord), "sound/.wav");
}

struct FailureCase {
    const char* name;
    std::function<void(const TempDir&)> make; // prepares text/färg.txt
    const char* message;
};

class ComposerFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(ComposerFailure, ReportsOnceAndLeavesTheSlotEmpty) {
    TempDir dir;
    writeClassLists(dir);
    QFile::remove(dir.filePath(QString::fromUtf8("text/färg.txt")));
    GetParam().make(dir);

    RecordingMessages messages;
    ScriptedRandom random;
    SentenceComposer composer(dir.path(), messages, random);
    SentenceBuffer buffer;
    EXPECT_FALSE(composer.compose(buffer, 4)); // the only template with a colour
    EXPECT_EQ(messages.messages, QStringList{QString::fromUtf8(GetParam().message)});
    EXPECT_EQ(buffer.WordText(4), "");          // not the name picked for slot 2
    EXPECT_EQ(buffer.SoundFile(4), "");         // and nothing to play
    EXPECT_EQ(buffer.WordText(5), "SUB_REALE"); // the sentence goes on
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ComposerFailure,
    testing::Values(
        FailureCase{"Missing", [](const TempDir&) {}, "text/färg.txt existerar inte"},
        FailureCase{"Folder", [](const TempDir& d) { d.mkdir(QString::fromUtf8("text/färg.txt")); },
                    "text/färg.txt kan inte läsas"},
        FailureCase{"Fifo",
                    [](const TempDir& d) {
                        ::mkfifo(QFile::encodeName(d.filePath(QString::fromUtf8("text/färg.txt"))),
                                 0600);
                    },
                    "text/färg.txt kan inte läsas"},
        FailureCase{"Device",
                    [](const TempDir& d) {
                        ::symlink("/dev/zero", QFile::encodeName(
                                                   d.filePath(QString::fromUtf8("text/färg.txt"))));
                    },
                    "text/färg.txt kan inte läsas"},
        FailureCase{"SeventeenMegabytes",
                    [](const TempDir& d) {
                        d.write(QString::fromUtf8("text/färg.txt"),
                                QByteArray(17 * 1024 * 1024, 'x'));
                    },
                    "text/färg.txt är för stor"},
        FailureCase{"Empty",
                    [](const TempDir& d) { d.write(QString::fromUtf8("text/färg.txt"), ""); },
                    "text/färg.txt är tom"},
        FailureCase{
            "OnlyByteOrderMark",
            [](const TempDir& d) { d.write(QString::fromUtf8("text/färg.txt"), "\xef\xbb\xbf"); },
            "text/färg.txt är tom"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

int openDescriptors() {
    return int(QDir("/proc/self/fd").entryList(QDir::Files | QDir::System).size());
}

TEST_F(Composer, EveryPickClosesItsFile) {
    writeClassLists(dir);
    dir.mkdir("text/adj.txt.d");
    QFile::remove(dir.filePath("text/adj.txt"));
    ::symlink("/dev/zero", QFile::encodeName(dir.filePath("text/adj_neu.txt")));
    ::mkfifo(QFile::encodeName(dir.filePath("text/sub.txt")), 0600);
    dir.write("text/prep.txt", "");
    const int before = openDescriptors();
    for (int round = 0; round < 50; ++round)
        for (int number = 1; number <= TemplateCount; ++number)
            composer.compose(buffer, number);
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_FALSE(messages.messages.isEmpty());
}

TEST_F(Composer, MissingNamesReportTwiceInTheTemplatesThatUseTwo) {
    writeClassLists(dir);
    QFile::remove(dir.filePath("text/namn.txt"));
    EXPECT_FALSE(composer.compose(buffer, 1));
    EXPECT_EQ(messages.messages, QStringList(2, "text/namn.txt existerar inte"));
    EXPECT_EQ(buffer.WordText(0), "");
    EXPECT_EQ(buffer.WordText(2), "");
    EXPECT_EQ(buffer.WordText(4), "ADJ");

    messages.messages.clear();
    EXPECT_FALSE(composer.compose(buffer, 5));
    EXPECT_EQ(messages.messages.size(), 1);
}

TEST_F(Composer, WithoutDataFolderReadsTheWorkingDirectory) {
    writeClassLists(dir);
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    SentenceComposer here(QString(), messages, random);
    const bool ok = here.compose(buffer, 5);
    QDir::setCurrent(previous);
    EXPECT_TRUE(ok);
    EXPECT_EQ(buffer.WordText(0), "NAMN");
}

// A list is found as Windows and macOS name it when its exact name is not there, and the
// exact name wins when both are.
TEST(PickWord, FindsAListByItsExactNameElseLoosely) {
    struct Case {
        const char* name;
        std::vector<std::pair<QByteArray, QByteArray>> files; // raw name bytes, contents
        const char* category;
        const char* picked; // nullptr: nothing is found
    };
    const Case cases[] = {
        {"capitals", {{"text/NAMN.TXT", "Kalle"}}, "namn", "Kalle"},
        {"a capital", {{"text/Adj.txt", "glad"}}, "adj", "glad"},
        {"decomposed, from macOS", {{"text/fa\xcc\x88rg.txt", "röd"}}, "färg", "röd"},
        {"a Windows-1252 name", {{"text/f\xe4rg.txt", "blå"}}, "färg", "blå"},
        {"the folder in capitals", {{"Text/namn.txt", "Lisa"}}, "namn", "Lisa"},
        {"all in capitals", {{"TEXT/NAMN.TXT", "Bo"}}, "namn", "Bo"},
        {"the exact name wins",
         {{"text/NAMN.txt", "Loose"}, {"text/namn.txt", "Exact"}, {"Text/namn.txt", "Other"}},
         "namn",
         "Exact"},
        {"another name is not the list", {{"text/namn.txt.bak", "Kalle"}}, "namn", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        for (const auto& [name, contents] : c.files) {
            const QByteArray path = QFile::encodeName(dir.path()) + '/' + name;
            QDir().mkpath(QFile::decodeName(path.left(path.lastIndexOf('/'))));
            // Raw bytes: a name that is not UTF-8 cannot go through QString.
            FILE* f = std::fopen(path.constData(), "wb");
            ASSERT_NE(f, nullptr) << path.constData();
            std::fwrite(contents.constData(), 1, std::size_t(contents.size()), f);
            std::fclose(f);
        }
        RecordingMessages messages;
        ScriptedRandom random;
        SentenceComposer composer(dir.path(), messages, random);
        SentenceBuffer buffer;
        const bool picked = composer.PickWord(buffer, QString::fromUtf8(c.category));
        EXPECT_EQ(picked, c.picked != nullptr);
        if (c.picked) {
            EXPECT_EQ(buffer.PickedWord, QString::fromUtf8(c.picked));
            EXPECT_TRUE(messages.messages.isEmpty());
        } else {
            EXPECT_EQ(messages.messages,
                      QStringList{QStringLiteral("text/namn.txt existerar inte")});
        }
    }
}

} // namespace
} // namespace brumlis
