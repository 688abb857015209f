#include "brumlis/sentence/templates.h"
#include "brumlis/voicetools/folderreport.h"
#include "brumlis/voicetools/loudness.h"
#include "brumlis/voicetools/voicemaker.h"
#include "brumlis/voicetools/wavfile.h"
#include "speechsynth.h"
#include "support/levelclip.h"
#include "support/tempdir.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <cmath>
#include <csignal>
#include <gtest/gtest.h>
#include <numbers>
#include <sndfile.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace brumlis {
namespace {

std::vector<float> sine(int rate, double seconds, double amplitude, double hz = 440.0) {
    std::vector<float> samples(std::size_t(rate * seconds));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = float(amplitude * std::sin(2.0 * std::numbers::pi * hz * double(i) / rate));
    return samples;
}

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

template <typename Enum>
QStringList textsOf(QString (*text)(Enum), std::initializer_list<Enum> values) {
    QStringList texts;
    for (const Enum value : values)
        texts << text(value);
    return texts;
}

// Every value a report shows has a key of its own for scripts and a name of its own for
// people: a row missing from its table leaves both empty, a row copied and not changed
// repeats them.
TEST(ReportNames, EveryValueHasItsOwnKeyAndName) {
    using Match = SoundResolver::Match;
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

// check says why a recording cannot be played.
TEST(ClipProblem, SaysWhyARecordingIsNotPlayable) {
    const test::TempDir dir;
    dir.mkdir(QStringLiteral("folder.wav"));
    dir.write(QStringLiteral("empty.wav"), {});
    dir.write(QStringLiteral("text.wav"), "just some text, not audio at all");
    ASSERT_EQ(
        ::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("fifo.wav"))).constData(), 0600), 0);
    ASSERT_TRUE(test::writeLevelClip(dir.filePath(QStringLiteral("slow.wav")), SF_FORMAT_PCM_16,
                                     500, 1, 100, 0.5f));
    ASSERT_TRUE(test::writeLevelClip(dir.filePath(QStringLiteral("good.wav")), SF_FORMAT_PCM_16,
                                     8000, 1, 100, 0.5f));
    struct Case {
        const char* name;
        ClipDecoder::Problem expected;
    };
    const Case cases[] = {
        {"none.wav", ClipDecoder::Problem::Missing},
        {"folder.wav", ClipDecoder::Problem::NotRegular},
        {"fifo.wav", ClipDecoder::Problem::NotRegular},
        {"empty.wav", ClipDecoder::Problem::Undecodable},
        {"text.wav", ClipDecoder::Problem::Undecodable},
        {"slow.wav", ClipDecoder::Problem::Refused},
        {"good.wav", ClipDecoder::Problem::None},
    };
    for (const Case& c : cases) {
        ClipDecoder::Problem problem = ClipDecoder::Problem::Missing;
        const auto measure =
            measureClip(QFile::encodeName(dir.filePath(QString::fromUtf8(c.name))), &problem);
        EXPECT_EQ(problem, c.expected) << c.name;
        EXPECT_EQ(bool(measure), c.expected == ClipDecoder::Problem::None) << c.name;
    }
}

TEST(Loudness, SilenceAtBothEndsIsCountedInFrames) {
    struct Case {
        int leading;
        int sound;
        int trailing;
    };
    const Case cases[] = {{0, 4000, 0}, {1234, 4000, 77}, {0, 100, 5000}, {8000, 0, 0}};
    for (const Case& c : cases) {
        std::vector<float> samples(std::size_t(c.leading), 0.001f); // below the silence level
        const std::vector<float> tone = sine(8000, c.sound / 8000.0, 0.5, 1000.0);
        samples.insert(samples.end(), tone.begin(), tone.end());
        // A sine starts at zero: the first loud sample is a little after the tone begins.
        std::int64_t firstLoud = c.leading;
        std::int64_t lastLoud = c.leading - 1;
        for (std::size_t i = 0; i < tone.size(); ++i)
            if (std::fabs(tone[i]) >= SilenceLevel) {
                if (lastLoud < c.leading)
                    firstLoud = c.leading + std::int64_t(i);
                lastLoud = c.leading + std::int64_t(i);
            }
        samples.resize(samples.size() + std::size_t(c.trailing), 0.0f);
        const ClipMeasure m = measureSamples(samples.data(), std::int64_t(samples.size()), 8000, 1);
        EXPECT_EQ(m.frames, std::int64_t(samples.size()));
        if (c.sound == 0) {
            EXPECT_EQ(m.leadingSilence, m.frames);
            EXPECT_TRUE(std::isinf(m.loudnessLufs));
            continue;
        }
        EXPECT_EQ(m.leadingSilence, firstLoud) << c.leading;
        EXPECT_EQ(m.trailingSilence, std::int64_t(samples.size()) - 1 - lastLoud) << c.trailing;
        EXPECT_NEAR(m.peakDbfs, 20 * std::log10(0.5), 0.01);
    }
}

// How far a recording starts and ends from zero: where a hand cut clicks.
TEST(Loudness, FirstAndLastSamplesAreMeasuredFromZero) {
    struct Case {
        const char* name;
        std::vector<float> frames; // stereo
        float first, last;
    };
    const Case cases[] = {
        {"cut at half of full scale, the louder channel counts",
         {0.1f, -0.49f, 0.3f, 0.3f, 0.2f, 0.49f},
         0.49f,
         0.49f},
        {"faded to silence", {0.0f, 0.0f, 0.5f, 0.5f, 0.001f, 0.0f}, 0.0f, 0.001f},
        {"one frame", {-0.25f, 0.1f}, 0.25f, 0.25f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Fed a frame at a time, as a decoder may hand it over.
        LoudnessMeter meter(8000, 2);
        for (std::size_t i = 0; i < c.frames.size(); i += 2)
            meter.add(c.frames.data() + i, 1);
        const ClipMeasure m = meter.finish();
        EXPECT_FLOAT_EQ(m.firstEdge, c.first);
        EXPECT_FLOAT_EQ(m.lastEdge, c.last);
    }
}

// A word shorter than one 400 ms block has the loudness of the same sound held longer, and
// 20 dB more level reads as 20 LU more.
TEST(Loudness, ShortClipsMeasureLikeLongOnes) {
    const std::vector<float> longTone = sine(22050, 2.0, 0.1);
    const double reference =
        measureSamples(longTone.data(), std::int64_t(longTone.size()), 22050, 1).loudnessLufs;
    ASSERT_TRUE(std::isfinite(reference));
    for (const double seconds : {0.05, 0.2, 0.39, 0.41, 1.0}) {
        const std::vector<float> tone = sine(22050, seconds, 0.1);
        EXPECT_NEAR(measureSamples(tone.data(), std::int64_t(tone.size()), 22050, 1).loudnessLufs,
                    reference, 0.3)
            << seconds;
    }
    const std::vector<float> louder = sine(22050, 0.3, 1.0);
    EXPECT_NEAR(measureSamples(louder.data(), std::int64_t(louder.size()), 22050, 1).loudnessLufs,
                reference + 20.0, 0.3);
}

TEST(Loudness, MedianOfOddAndEvenCounts) {
    EXPECT_FALSE(median({}));
    EXPECT_EQ(median({-30, -10, -20}), -20);
    EXPECT_EQ(median({-30, -10, -20, -12}), -16);
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
    const std::size_t phrases = std::size(FixedPhrases);
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

TEST(WavFile, EncodesWhatLibsndfileReadsBack) {
    const std::vector<std::int16_t> samples = {0, 1, -1, 32767, -32768, 1000};
    const test::TempDir dir;
    const QString path = dir.filePath(QStringLiteral("a.wav"));
    ASSERT_TRUE(writeFileAtomically(path, encodeWav(samples, 16000, 2)));
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    ASSERT_TRUE(file);
    std::vector<std::int16_t> back(samples.size() + 2);
    EXPECT_EQ(sf_read_short(file, back.data(), sf_count_t(back.size())),
              sf_count_t(samples.size()));
    sf_close(file);
    back.resize(samples.size());
    EXPECT_EQ(back, samples);
    EXPECT_EQ(info.samplerate, 16000);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(toPcm16({0.0f, 0.5f, -1.0f, 2.0f, -2.0f}),
              (std::vector<std::int16_t>{0, 16384, -32767, 32767, -32768}));
}

// A write that fails half-way (here: the file size limit) leaves the old file as it was
// and no temporary file behind.
TEST(WavFile, FailedWriteKeepsTheOldFileAndLeavesNothing) {
    const test::TempDir dir;
    const QString path = dir.filePath(QStringLiteral("Kalle.wav"));
    dir.write(QStringLiteral("Kalle.wav"), "old");
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    QString why;
    const bool written = writeFileAtomically(path, QByteArray(100000, 'x'), &why);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(written);
    EXPECT_FALSE(why.isEmpty());
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("old"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

} // namespace
} // namespace brumlis
