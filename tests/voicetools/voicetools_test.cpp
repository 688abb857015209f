#include "brumlis/qtbridge/files.h"
#include "brumlis/sentence/shapes.h"
#include "brumlis/soundfiles/loudness.h"
#include "brumlis/soundfiles/wavfile.h"
#include "brumlis/voicecheck/folderreport.h"
#include "brumlis/voicetools/voicemaker.h"
#include "speechsynth.h"
#include "support/speechclip.h"
#include "support/tempdir.h"

#include <QFile>
#include <QSet>
#include <cmath>
#include <gtest/gtest.h>

namespace brumlis {
namespace {

using test::sine;

TEST(LineEnds, NamesTheKindFound) {
    struct Case {
        const char16_t* text;
        LineEnds expected;
    };
    const Case cases[] = {
        {u"a,b", LineEnds::None},       {u"a\r\nb\r\n", LineEnds::CrLf},
        {u"a\nb\n", LineEnds::Lf},      {u"a\rb\r", LineEnds::Cr},
        {u"a\r\nb\n", LineEnds::Mixed}, {u"a\rb\n", LineEnds::Mixed},
        {u"a\r\n\r\n", LineEnds::CrLf},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lineEndsOf(QStringView(c.text)), c.expected)
            << QString::fromUtf16(c.text).toStdString();
}

QString asQString(const QString& text) {
    return text;
}
QString asQString(const std::u16string& text) {
    return qt(text);
}

template <typename Text, typename Enum>
QStringList textsOf(Text (*text)(Enum), std::initializer_list<Enum> values) {
    QStringList texts;
    for (const Enum value : values)
        texts << asQString(text(value));
    return texts;
}

// Every value a report shows has a key of its own for scripts and a name of its own for
// people: a row missing from its table leaves both empty, a row copied and not changed
// repeats them.
TEST(ReportNames, EveryValueHasItsOwnKeyAndName) {
    using Match = FileResolver::Match;
    using Problem = ClipDecoder::Problem;
    struct Case {
        const char* type;
        QStringList keys;
        QStringList names;
    };
    const std::initializer_list<ListEncoding> encodings = {
        ListEncoding::Utf8,    ListEncoding::Utf8Bom,     ListEncoding::Utf16LE,
        ListEncoding::Utf16BE, ListEncoding::Windows1252, ListEncoding::Mixed};
    const std::initializer_list<LineEnds> lineEnds = {LineEnds::None, LineEnds::CrLf, LineEnds::Lf,
                                                      LineEnds::Cr, LineEnds::Mixed};
    const std::initializer_list<Match> matches = {Match::None, Match::Exact, Match::Case,
                                                  Match::Form, Match::Windows1252};
    // A list that was read, and a recording that plays, have no problem to name.
    const std::initializer_list<Problem> problems = {Problem::Missing, Problem::NotRegular,
                                                     Problem::Undecodable, Problem::Refused};
    const std::initializer_list<WordState> states = {WordState::Missing, WordState::Unplayable,
                                                     WordState::LooseName, WordState::MadeByVoice,
                                                     WordState::Recorded};
    const Case cases[] = {
        {"ListEncoding", textsOf(encodingKey, encodings), textsOf(encodingName, encodings)},
        {"ListStatus",
         textsOf(listStatusKey, {ListStatus::Ok, ListStatus::Missing, ListStatus::Unreadable,
                                 ListStatus::TooLarge}),
         textsOf(problemText, {ListStatus::Missing, ListStatus::Unreadable, ListStatus::TooLarge})},
        {"LineEnds", textsOf(lineEndsKey, lineEnds), textsOf(lineEndsName, lineEnds)},
        {"Match", textsOf(matchKey, matches), textsOf(matchName, matches)},
        {"Problem", textsOf(problemKey, problems), textsOf(problemName, problems)},
        {"WordState", textsOf(wordStateKey, states), textsOf(wordStateName, states)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        for (const QStringList& texts : {c.keys, c.names}) {
            EXPECT_FALSE(texts.contains(QString())) << texts.join(u'|').toStdString();
            EXPECT_EQ(QSet<QString>(texts.begin(), texts.end()).size(), texts.size())
                << texts.join(u'|').toStdString();
        }
    }
}

// The counts of a list, read by the program's own reader.
TEST(CollectWords, CountsItemsEmptiesDuplicatesAndOverlongOnes) {
    struct Case {
        QByteArray bytes;
        qsizetype items, empty, duplicates, tooLong;
        ListEncoding encoding;
        QStringList words;
    };
    const QByteArray longWord(MaxItemLength + 1, 'a');
    const Case cases[] = {
        {"Kalle\nLisa\n", 2, 0, 0, 0, ListEncoding::Utf8, {"Kalle", "Lisa"}},
        {"Kalle,,Lisa,\n\n  \n", 6, 4, 0, 0, ListEncoding::Utf8, {"Kalle", "Lisa"}},
        {"Kalle\r\nKalle\r\n\"Kalle\"\r\nkalle",
         4,
         0,
         2,
         0,
         ListEncoding::Utf8,
         {"Kalle", "kalle"}},
        {"\xEF\xBB\xBFK\xC3\xA5re\n" + longWord,
         2,
         0,
         0,
         1,
         ListEncoding::Utf8Bom,
         {"Kåre", QString::fromLatin1(longWord.left(MaxItemLength))}},
        {"K\xE5re", 1, 0, 0, 0, ListEncoding::Windows1252, {"Kåre"}},
    };
    for (const Case& c : cases) {
        const test::TempDir dir;
        dir.write(QStringLiteral("text/sub.txt"), c.bytes);
        std::vector<ListReport> lists;
        const std::vector<WordReport> words = collectWords(dir.path(), &lists);
        const auto sub = std::find_if(lists.begin(), lists.end(),
                                      [](const ListReport& l) { return l.wordClass == u"sub"; });
        ASSERT_NE(sub, lists.end());
        SCOPED_TRACE(c.bytes.left(40).toStdString());
        EXPECT_EQ(sub->status, ListStatus::Ok);
        EXPECT_EQ(sub->items, c.items);
        EXPECT_EQ(sub->emptyItems, c.empty);
        EXPECT_EQ(sub->duplicates, c.duplicates);
        EXPECT_EQ(sub->tooLong, c.tooLong);
        EXPECT_EQ(sub->encoding, c.encoding);
        QStringList found;
        for (const WordReport& w : words)
            if (!w.isPhrase())
                found << w.text;
        EXPECT_EQ(found, c.words);
        EXPECT_EQ(words.front().soundPath, QStringLiteral("sound/tycker_att.wav"));
    }
}

TEST(VoiceMaker, TrimsSilenceAndMatchesLoudnessWithoutClipping) {
    std::vector<float> word(3000, 0.0f);
    const std::vector<float> tone = sine(22050, 0.3, 0.05);
    word.insert(word.end(), tone.begin() + 1, tone.end()); // from the first loud sample on
    word.resize(word.size() + 500, 0.002f);
    std::vector<float> trimmed = trimSilence(word);
    EXPECT_LE(trimmed.size(), tone.size());
    EXPECT_GE(trimmed.size(), tone.size() - 60); // less the quiet samples near zero crossings
    EXPECT_GE(std::fabs(trimmed.front()), SilenceLevel);
    EXPECT_GE(std::fabs(trimmed.back()), SilenceLevel);
    EXPECT_TRUE(trimSilence(std::vector<float>(100, 0.001f)).empty());

    matchLoudness(trimmed, 22050, -30.0);
    EXPECT_NEAR(measureSamples(trimmed.data(), std::int64_t(trimmed.size()), 22050, 1).loudnessLufs,
                -30.0, 0.05);
    // Far louder than the sound allows: held at the peak limit instead.
    matchLoudness(trimmed, 22050, 0.0);
    const ClipMeasure m = measureSamples(trimmed.data(), std::int64_t(trimmed.size()), 22050, 1);
    EXPECT_NEAR(m.peakDbfs, MaxPeakDbfs, 0.01);
}

// voice makes what is missing, or with --alla everything, and matches the new recordings to
// those that stay: a word's old recording that is being replaced must not pull the voice
// towards its own last run.
TEST(VoiceMaker, MakesWhatIsMissingAndMatchesTheRecordingsThatStay) {
    struct Case {
        bool remake;
        bool kalleRecorded;
        bool orphan; ///< a recording no word uses
        std::size_t wanted;
        int present;
        QStringList matchedTo;
    };
    const std::size_t phrases = vocabularyOf(builtinShapes()).phrases.size();
    const Case cases[] = {
        {false, true, true, phrases, 1, {"Kalle.wav", "gammal.wav"}},
        {true, true, true, phrases + 1, 0, {"gammal.wav"}},
        {true, true, false, phrases + 1, 0, {}},
        {false, false, true, phrases + 1, 0, {"gammal.wav"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "remake " << c.remake << ", Kalle " << c.kalleRecorded
                                        << ", orphan " << c.orphan);
        const test::TempDir dir;
        dir.write(QStringLiteral("text/namn.txt"), "Kalle\nx/y\n");
        dir.mkdir(QStringLiteral("sound"));
        auto record = [&](const char* name, double amplitude) {
            ASSERT_TRUE(
                writeFileAtomically(dir.filePath(QStringLiteral("sound/") + name),
                                    encodeWav(toPcm16(sine(8000, 0.5, amplitude)), 8000, 1)));
        };
        if (c.kalleRecorded)
            record("Kalle.wav", 0.02);
        if (c.orphan)
            record("gammal.wav", 0.3);
        QList<QByteArray> matched;
        for (const QString& name : c.matchedTo)
            matched << QFile::encodeName(dir.filePath(QStringLiteral("sound/") + name));

        VoiceMaker maker(dir.path(), c.remake);
        EXPECT_EQ(maker.wanted().size(), c.wanted);
        EXPECT_EQ(maker.present(), c.present);
        ASSERT_EQ(maker.skipped().size(), 1u);
        EXPECT_EQ(maker.skipped().front().text, QStringLiteral("x/y"));
        ASSERT_TRUE(maker.start().ok());
        EXPECT_NEAR(maker.targetLufs(), targetLoudness(matched), 0.01);
    }
}

// A second voice run in the same process must not find espeak-ng stopped (or hang in it).
TEST(SpeechSynth, SpeaksAgainAfterTheFirstIsGone) {
    for (int round = 0; round < 2; ++round) {
        SpeechSynth synth;
        ASSERT_TRUE(synth.isReady()) << synth.error().toStdString();
        const std::vector<float> word = trimSilence(synth.speak(QStringLiteral("hej")));
        EXPECT_GT(word.size(), std::size_t(synth.rate() / 10)) << round;
    }
}

} // namespace
} // namespace brumlis
