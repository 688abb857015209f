#include "brumlis/sentence/composer.h"
#include "brumlis/sentence/shapes.h"
#include "brumlis/sentence/wordlist.h"
#include "testkit/fakes.h"
#include "testkit/tempfolder.h"
#include "testkit/text.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace brumlis {
namespace {

using test::FakeClock;
using test::RecordingMessages;
using test::ScriptedRandom;
using test::TempFolder;
using test::u;
using test::utf8;

constexpr int TemplateCount = 11;

// A failed pick's message names the list as the system names paths.
std::string native(std::string path) {
    for (char& c : path)
        if (c == '/')
            c = char(std::filesystem::path::preferred_separator);
    return path;
}

// A data folder in which every class has a list with one item named after the class,
// so each slot shows where its word came from.
void writeClassLists(const TempFolder& dir) {
    for (const std::u16string& wordClass : BuiltinClasses) {
        std::string upper = utf8(wordClass);
        for (char& c : upper)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        // "färg" in capitals, by hand: toupper knows no UTF-8.
        if (upper == "F\xc3\xa4RG")
            upper = "FÄRG";
        dir.write("text/" + utf8(wordClass) + ".txt", upper + "\n");
    }
}

class Composer : public testing::Test {
protected:
    TempFolder dir;
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
    ASSERT_EQ(builtinShapes().shapes.size(), std::size_t(TemplateCount));
    for (int number = 1; number <= TemplateCount; ++number) {
        ASSERT_TRUE(composer.compose(buffer, number));
        std::vector<std::string> slots;
        std::string rest = golden[number - 1];
        for (std::size_t bar; (bar = rest.find('|')) != std::string::npos; rest.erase(0, bar + 1))
            slots.push_back(rest.substr(0, bar));
        slots.push_back(rest);
        for (int k = 0; k < SentenceBuffer::SpokenSlots; ++k) {
            const std::string text = k < int(slots.size()) ? slots[std::size_t(k)] : "";
            std::string file = text;
            for (char& c : file)
                c = c == ' ' ? '_' : c;
            const std::string sound = text.empty() ? "" : "sound/" + file + ".wav";
            EXPECT_EQ(utf8(buffer.WordText(k)), text) << "template " << number << " slot " << k;
            EXPECT_EQ(utf8(buffer.SoundFile(k)), sound) << "template " << number << " slot " << k;
        }
    }
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(Composer, LongItemIsCutInTextAndFileName) {
    dir.write("text/namn.txt", std::string(2000, 'k') + "\nLisa\n");
    random.queued = {0};
    ASSERT_TRUE(composer.PickWord(buffer, u"namn"));
    EXPECT_EQ(buffer.PickedWord, std::u16string(MaxItemLength, u'k'));
}

TEST_F(Composer, FixedPhrasesAndTheirRecordings) {
    // Guards the exact texts and recordings, including the ä of U+00E4.
    const std::vector<std::string> expected = {"tycker att", "är",     "är ett",  "är en",
                                               "har",        "har en", "har ett", "som"};
    const ShapeVocabulary vocabulary = vocabularyOf(builtinShapes());
    EXPECT_EQ(utf8(vocabulary.phrases), expected);
    EXPECT_EQ(vocabulary.phrases[1].front(), char16_t(0x00E4));
    EXPECT_EQ(utf8(phraseSoundPath(u"tycker att")), "sound/tycker_att.wav");
    EXPECT_EQ(utf8(phraseSoundPath(u"är ett")), "sound/är_ett.wav");
}

TEST_F(Composer, ShorterSentenceAfterLongerLeavesNothingBehind) {
    writeClassLists(dir);
    ASSERT_TRUE(composer.compose(buffer, 10));
    ASSERT_FALSE(buffer.WordText(7).empty());
    ASSERT_TRUE(composer.compose(buffer, 5));
    for (int k = 4; k < SentenceBuffer::SpokenSlots; ++k) {
        EXPECT_TRUE(buffer.WordText(k).empty()) << k;
        EXPECT_TRUE(buffer.SoundFile(k).empty()) << k;
    }
}

TEST_F(Composer, SlotsBeyondTheSpokenOnesAreNeverTouched) {
    writeClassLists(dir);
    buffer.WordText(15) = u"kvar";
    buffer.SoundFile(20) = u"sound/kvar.wav";
    for (int number = 1; number <= TemplateCount; ++number)
        composer.compose(buffer, number);
    EXPECT_EQ(buffer.WordText(15), u"kvar");
    EXPECT_EQ(buffer.SoundFile(20), u"sound/kvar.wav");
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
    std::string list;
    for (int i = 0; i < 20; ++i)
        list += "ord" + std::to_string(i) + "\n";
    dir.write("text/namn.txt", list);
    random.seed(77);
    std::map<std::u16string, long> counts;
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
    EXPECT_EQ(buffer.PickedWord, u"Kalle");
    dir.write("text/namn.txt", "Lisa\n");
    ASSERT_TRUE(composer.PickWord(buffer, u"namn"));
    EXPECT_EQ(buffer.PickedWord, u"Lisa");
}

TEST_F(Composer, ListsBeyondSixteenBitsWork) {
    std::string list;
    for (int i = 0; i < 40000; ++i)
        list += std::to_string(i) + "\n";
    dir.write("text/namn.txt", list);
    random.queued = {39999, 32767, 0};
    for (const char* expected : {"39999", "32767", "0"}) {
        ASSERT_TRUE(composer.PickWord(buffer, u"namn"));
        EXPECT_EQ(utf8(buffer.PickedWord), expected);
    }
    EXPECT_EQ(random.bounds, (std::vector<std::uint64_t>{40000, 40000, 40000}));
}

TEST_F(Composer, PickedWordsKeepBlanksCaseAndLetters) {
    dir.write("text/plats.txt", "  \"Röda Stugan, Nere\"  \n");
    dir.write("text/prep.txt", "inne i\n");
    dir.write("text/namn.txt", "ÅSA\n");
    dir.write("text/verb_pre.txt", "gömmer sig\n");
    ASSERT_TRUE(composer.compose(buffer, 6));
    const std::vector<std::u16string> texts{buffer.WordText(0), buffer.WordText(1),
                                            buffer.WordText(2), buffer.WordText(3)};
    EXPECT_EQ(utf8(texts),
              (std::vector<std::string>{"ÅSA", "gömmer sig", "inne i", "Röda Stugan, Nere"}));
    EXPECT_EQ(utf8(buffer.SoundFile(3)), "sound/Röda Stugan, Nere.wav");
    EXPECT_EQ(utf8(buffer.SoundFile(1)), "sound/gömmer sig.wav");
}

TEST_F(Composer, EmptyItemGivesEmptyWordAndItsPath) {
    dir.write("text/namn.txt", "\n");
    ASSERT_TRUE(composer.PickWord(buffer, u"namn"));
    EXPECT_EQ(buffer.PickedWord, u"");
    EXPECT_EQ(SentenceComposer::soundPathFor(buffer.PickedWord), u"sound/.wav");
}

struct FailureCase {
    const char* name;
    std::function<void(const TempFolder&)> make; // prepares text/färg.txt
    const char* message;
    friend void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }
};

class ComposerFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(ComposerFailure, ReportsOnceAndLeavesTheSlotEmpty) {
    TempFolder dir;
    writeClassLists(dir);
    std::filesystem::remove(dir.filePath("text/färg.txt"));
    GetParam().make(dir);

    RecordingMessages messages;
    ScriptedRandom random;
    SentenceComposer composer(dir.path(), messages, random);
    SentenceBuffer buffer;
    EXPECT_FALSE(composer.compose(buffer, 4)); // the only template with a colour
    EXPECT_EQ(utf8(messages.messages), std::vector{native(GetParam().message)});
    EXPECT_EQ(buffer.WordText(4), u"");          // not the name picked for slot 2
    EXPECT_EQ(buffer.SoundFile(4), u"");         // and nothing to play
    EXPECT_EQ(buffer.WordText(5), u"SUB_REALE"); // the sentence goes on
}

const std::vector<FailureCase> FailureCases = {
    FailureCase{"Missing", [](const TempFolder&) {}, "text/färg.txt existerar inte"},
    FailureCase{"Folder", [](const TempFolder& d) { d.mkdir("text/färg.txt"); },
                "text/färg.txt kan inte läsas"},
#ifndef _WIN32
    FailureCase{"Fifo",
                [](const TempFolder& d) { ::mkfifo(d.filePath("text/färg.txt").c_str(), 0600); },
                "text/färg.txt kan inte läsas"},
    FailureCase{
        "Device",
        [](const TempFolder& d) { ::symlink("/dev/zero", d.filePath("text/färg.txt").c_str()); },
        "text/färg.txt kan inte läsas"},
#endif
    FailureCase{
        "SeventeenMegabytes",
        [](const TempFolder& d) { d.write("text/färg.txt", std::string(17 * 1024 * 1024, 'x')); },
        "text/färg.txt är för stor"},
    FailureCase{"Empty", [](const TempFolder& d) { d.write("text/färg.txt", ""); },
                "text/färg.txt är tom"},
    FailureCase{"OnlyByteOrderMark",
                [](const TempFolder& d) { d.write("text/färg.txt", "\xef\xbb\xbf"); },
                "text/färg.txt är tom"},
};

INSTANTIATE_TEST_SUITE_P(Rows, ComposerFailure, testing::ValuesIn(FailureCases),
                         [](const testing::TestParamInfo<FailureCase>& info) {
                             return std::string(info.param.name);
                         });

#ifndef _WIN32
int openDescriptors() {
    int n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

TEST_F(Composer, EveryPickClosesItsFile) {
    writeClassLists(dir);
    dir.mkdir("text/adj.txt.d");
    std::filesystem::remove(dir.filePath("text/adj.txt"));
    std::filesystem::remove(dir.filePath("text/adj_neu.txt"));
    ::symlink("/dev/zero", dir.filePath("text/adj_neu.txt").c_str());
    std::filesystem::remove(dir.filePath("text/sub.txt"));
    ::mkfifo(dir.filePath("text/sub.txt").c_str(), 0600);
    dir.write("text/prep.txt", "");
    const int before = openDescriptors();
    for (int round = 0; round < 50; ++round)
        for (int number = 1; number <= TemplateCount; ++number)
            composer.compose(buffer, number);
    EXPECT_EQ(openDescriptors(), before);
    EXPECT_FALSE(messages.messages.empty());
}
#endif

TEST_F(Composer, MissingNamesReportTwiceInTheTemplatesThatUseTwo) {
    writeClassLists(dir);
    std::filesystem::remove(dir.filePath("text/namn.txt"));
    EXPECT_FALSE(composer.compose(buffer, 1));
    EXPECT_EQ(utf8(messages.messages),
              std::vector<std::string>(2, native("text/namn.txt existerar inte")));
    EXPECT_EQ(buffer.WordText(0), u"");
    EXPECT_EQ(buffer.WordText(2), u"");
    EXPECT_EQ(buffer.WordText(4), u"ADJ");

    messages.messages.clear();
    EXPECT_FALSE(composer.compose(buffer, 5));
    EXPECT_EQ(messages.messages.size(), 1u);
}

TEST_F(Composer, WithoutDataFolderReadsTheWorkingDirectory) {
    writeClassLists(dir);
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    SentenceComposer here({}, messages, random);
    const bool ok = here.compose(buffer, 5);
    std::filesystem::current_path(previous);
    EXPECT_TRUE(ok);
    EXPECT_EQ(buffer.WordText(0), u"NAMN");
}

// A list is found as Windows and macOS name it when its exact name is not there, and the
// exact name wins when both are.
TEST(PickWord, FindsAListByItsExactNameElseLoosely) {
    struct Case {
        const char* name;
        std::vector<std::pair<std::string, std::string>> files; // raw name bytes, contents
        const char* category;
        const char* picked; // nullptr: nothing is found
    };
    const Case cases[] = {
        {"capitals", {{"text/NAMN.TXT", "Kalle"}}, "namn", "Kalle"},
        {"a capital", {{"text/Adj.txt", "glad"}}, "adj", "glad"},
        {"decomposed, from macOS", {{"text/fa\xcc\x88rg.txt", "röd"}}, "färg", "röd"},
#ifndef _WIN32
        // A name that is not UTF-8 is one only a Linux file system holds.
        {"a Windows-1252 name", {{"text/f\xe4rg.txt", "blå"}}, "färg", "blå"},
#endif
        {"the folder in capitals", {{"Text/namn.txt", "Lisa"}}, "namn", "Lisa"},
        {"all in capitals", {{"TEXT/NAMN.TXT", "Bo"}}, "namn", "Bo"},
#ifndef _WIN32
        // Where case counts in names, the exact one is read.
        {"the exact name wins",
         {{"text/NAMN.txt", "Loose"}, {"text/namn.txt", "Exact"}},
         "namn",
         "Exact"},
#endif
        {"another name is not the list", {{"text/namn.txt.bak", "Kalle"}}, "namn", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder dir;
        for (const auto& [name, contents] : c.files)
            dir.write(name, contents);
        RecordingMessages messages;
        ScriptedRandom random;
        SentenceComposer composer(dir.path(), messages, random);
        SentenceBuffer buffer;
        const bool picked = composer.PickWord(buffer, u(c.category));
        EXPECT_EQ(picked, c.picked != nullptr);
        if (c.picked) {
            EXPECT_EQ(utf8(buffer.PickedWord), c.picked);
            EXPECT_TRUE(messages.messages.empty());
        } else {
            EXPECT_EQ(utf8(messages.messages), std::vector{native("text/namn.txt existerar inte")});
        }
    }
}

} // namespace
} // namespace brumlis
