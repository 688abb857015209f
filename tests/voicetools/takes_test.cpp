// Finding, trimming and keeping takes, on generated words whose every edge is known.
#include "brumlis/qtbridge/files.h"
#include "brumlis/soundfiles/wavfile.h"
#include "brumlis/voicecheck/folderreport.h"
#include "brumlis/voicetools/recordingsaver.h"
#include "brumlis/voicetools/takedetector.h"
#include "brumlis/voicetools/takestore.h"
#include "brumlis/voicetools/taketrim.h"
#include "support/speechclip.h"
#include "support/tempdir.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace brumlis {
namespace {

constexpr int Rate = 48000;
constexpr std::int64_t Ms = Rate / 1000;

std::vector<TakeDetector::Take> feedAll(TakeDetector& detector, const std::vector<float>& s,
                                        std::size_t piece, std::int64_t keyStart = -1,
                                        std::int64_t keyStop = -1) {
    std::vector<TakeDetector::Take> takes;
    for (std::size_t at = 0; at < s.size();) {
        std::size_t n = std::min(piece, s.size() - at);
        // A key press lands between two pieces, at its frame.
        for (const std::int64_t key : {keyStart, keyStop})
            if (key > std::int64_t(at))
                n = std::min(n, std::size_t(key) - at);
        TakeDetector::Events events = detector.feed(s.data() + at, n);
        takes.insert(takes.end(), events.ended.begin(), events.ended.end());
        at += n;
        if (std::int64_t(at) == keyStart)
            detector.start();
        if (std::int64_t(at) == keyStop)
            for (TakeDetector::Take& t : detector.stop())
                takes.push_back(std::move(t));
    }
    return takes;
}

TEST(TakeDetector, StartsOnTheVoiceOrAKeyAndEndsOnSilenceOrAKey) {
    using End = TakeDetector::End;
    struct Case {
        const char* name;
        test::WordShape shape;
        bool armed;
        bool listening;
        std::int64_t keyStart, keyStop; // frames; -1 for none
        int takes;
        std::int64_t takeStart; // frame of the word where the take begins
        End endedBy;
    };
    test::WordShape noiseOnly;
    noiseOnly.bursts = 0;
    noiseOnly.tailSeconds = 0;
    noiseOnly.noiseDbfs = -50.0; // under the start level, over the stop level
    test::WordShape longPauses;
    longPauses.pauseSeconds = 0.45;
    const test::WordShape word;
    const std::int64_t onset = std::int64_t(word.leadSeconds * Rate);
    const Case cases[] = {
        {"armed: the voice starts it, 200 ms early", word, true, true, -1, -1, 1, onset - 200 * Ms,
         End::Silence},
        {"pauses shorter than the end silence", longPauses, true, true, -1, -1, 1, onset - 200 * Ms,
         End::Silence},
        {"noise under the start level", noiseOnly, true, true, -1, -1, 0, 0, End::Silence},
        {"not armed", word, false, true, -1, -1, 0, 0, End::Silence},
        {"armed but playing back", word, true, false, -1, -1, 0, 0, End::Silence},
        {"key, then the voice, then silence", word, false, true, 100 * Ms, -1, 1, 0, End::Silence},
        {"key and key around silence", noiseOnly, false, true, 300 * Ms, 900 * Ms, 1, 100 * Ms,
         End::Key},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const test::SpokenWord spoken = test::makeWord(c.shape, Rate);
        std::vector<TakeDetector::Take> reference;
        // However the sound is cut into pieces, the same takes come out.
        for (const std::size_t piece :
             {std::size_t(1), std::size_t(480), std::size_t(7919), spoken.samples.size()}) {
            TakeDetector detector;
            detector.setArmed(c.armed);
            detector.setListening(c.listening);
            const auto takes = feedAll(detector, spoken.samples, piece, c.keyStart, c.keyStop);
            ASSERT_EQ(int(takes.size()), c.takes) << "pieces of " << piece;
            if (reference.empty() && !takes.empty()) {
                reference = takes;
                continue;
            }
            for (std::size_t i = 0; i < takes.size(); ++i) {
                EXPECT_EQ(takes[i].samples, reference[i].samples) << "pieces of " << piece;
                EXPECT_EQ(takes[i].voiceAt, reference[i].voiceAt) << "pieces of " << piece;
            }
        }
        if (c.takes == 0)
            continue;
        const TakeDetector::Take& take = reference.front();
        EXPECT_EQ(take.endedBy, c.endedBy);
        // Where in the word the take begins: its samples are the word's from there on.
        const std::int64_t start =
            c.keyStart >= 0 ? std::max<std::int64_t>(0, c.keyStart - 200 * Ms) : c.takeStart;
        EXPECT_NEAR(double(start), double(c.takeStart), 10.0 * Ms);
        ASSERT_LE(start + std::int64_t(take.samples.size()), std::int64_t(spoken.samples.size()));
        EXPECT_TRUE(
            std::equal(take.samples.begin(), take.samples.end(), spoken.samples.begin() + start));
        if (c.endedBy == End::Silence) {
            EXPECT_NEAR(double(take.voiceAt), double(onset - start), 10.0 * Ms);
            // It ends 0.6 s after the tail, which is over the stop level, went quiet.
            EXPECT_NEAR(double(start + std::int64_t(take.samples.size())),
                        double(spoken.soundEnd + 600 * Ms), 10.0 * Ms);
        } else {
            EXPECT_EQ(take.voiceAt, -1);
            EXPECT_EQ(start + std::int64_t(take.samples.size()), c.keyStop);
        }
    }
}

TEST(TakeDetector, ReadingsGivePeakRmsAndAClippingLatch) {
    TakeDetector detector;
    std::vector<float> tone(4800);
    for (std::size_t i = 0; i < tone.size(); ++i)
        tone[i] = 0.5f * float(std::sin(2 * std::numbers::pi * 1000 * double(i) / Rate));
    detector.feed(tone.data(), tone.size());
    LevelReading r = detector.takeReading();
    EXPECT_NEAR(r.peak, 0.5f, 1e-3);
    EXPECT_NEAR(r.rms, 0.5f / std::sqrt(2.0f), 1e-3);
    EXPECT_FALSE(r.clipped);
    const float flat[] = {0.2f, 1.0f, 1.0f, 0.2f, 0.995f, 0.995f, 0.995f, 0.2f};
    detector.feed(flat, 4); // full scale, but only two samples of it: a peak
    EXPECT_FALSE(detector.takeReading().clipped);
    detector.feed(flat + 4, 4);
    EXPECT_TRUE(detector.takeReading().clipped);
    EXPECT_FALSE(detector.takeReading().clipped) << "a reading starts afresh";
}

// The cut keeps 50 ms around the sound, the quiet tail included, in silence or in noise.
TEST(TakeTrim, KeepsTheTailAndAMarginAndFades) {
    for (const double noise : {-HUGE_VAL, -70.0, -58.0}) {
        SCOPED_TRACE(noise);
        test::WordShape shape;
        shape.noiseDbfs = noise;
        const test::SpokenWord word = test::makeWord(shape, Rate);
        const std::optional<TrimPoints> trim = findTrim(word.samples, Rate);
        ASSERT_TRUE(trim);
        EXPECT_NEAR(double(trim->start), double(word.soundStart - 50 * Ms), 10.0 * Ms);
        EXPECT_NEAR(double(trim->end), double(word.soundEnd + 50 * Ms), 10.0 * Ms);

        const std::vector<float> clip = applyTrim(word.samples, *trim, Rate);
        ASSERT_EQ(std::int64_t(clip.size()), trim->frames());
        // A fade's outer gain is about 1e-5, and the margin holds at most the noise.
        EXPECT_LT(std::fabs(clip.front()), 1e-6f);
        EXPECT_LT(std::fabs(clip.back()), 1e-6f);
        // The tail is there at its own level.
        const std::int64_t tail = word.tailStart - trim->start;
        EXPECT_NEAR(test::rmsDbfs(clip, tail, tail + 70 * Ms), shape.tailDbfs, 1.0);
    }
    for (const double noise : {-HUGE_VAL, -50.0}) {
        test::WordShape nothing;
        nothing.bursts = 0;
        nothing.tailSeconds = 0;
        nothing.noiseDbfs = noise;
        EXPECT_FALSE(findTrim(test::makeWord(nothing, Rate).samples, Rate)) << noise;
    }
}

TEST(TakeTrim, FiguresAndWarnings) {
    struct Case {
        const char* name;
        test::WordShape shape;
        std::optional<double> median;
        QStringList warnings;
    };
    test::WordShape clipped;
    clipped.clipped = true;
    test::WordShape quiet;
    quiet.burstDbfs = -40.0;
    quiet.tailDbfs = -55.0;
    test::WordShape noisy;
    noisy.noiseDbfs = -42.0;
    noisy.tailDbfs = -30.0;
    const Case cases[] = {
        {"good", {}, -20.0, {}},
        {"good, no voice to compare with", {}, std::nullopt, {}},
        {"clipped", clipped, -20.0, {QStringLiteral("överstyrd")}},
        {"too quiet", quiet, -20.0, {QStringLiteral("för svag")}},
        {"noisy", noisy, -20.0, {QStringLiteral("brusig")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const test::SpokenWord word = test::makeWord(c.shape, Rate);
        const TakeFigures figures =
            measureTake(word.samples, findTrim(word.samples, Rate).value(), Rate);
        EXPECT_EQ(figures.clipped, c.shape.clipped);
        if (std::isfinite(c.shape.noiseDbfs)) {
            EXPECT_NEAR(figures.noiseFloorDbfs, c.shape.noiseDbfs, 1.5);
        }
        // Each warning by its first words; the figures after a colon are the take's own.
        QStringList kinds;
        for (const QString& warning : takeWarnings(figures, c.median)) {
            kinds << warning.section(u':', 0, 0);
            // Figures as Swedes write them: "för svag: 20,3 LU under rösten".
            if (warning.contains(u':')) {
                EXPECT_TRUE(
                    QRegularExpression(QStringLiteral(": \\d+,\\d LU ")).match(warning).hasMatch())
                    << warning.toStdString();
            }
        }
        EXPECT_EQ(kinds.join(u'|').toStdString(), c.warnings.join(u'|').toStdString());
    }
}

TEST(TakeStore, KeepsNumberedTakesWithTheirTrimPoints) {
    const test::TempDir dir;
    const TakeStore store(dir.path());
    const QString word = QStringLiteral("sound/gömmer sig.wav");
    EXPECT_EQ(TakeStore::wordFolder(word), QStringLiteral("gömmer sig"));
    EXPECT_EQ(TakeStore::wordFolder(QStringLiteral("sound/../x.wav")), QString());
    const test::SpokenWord spoken = test::makeWord({}, Rate);
    const TrimPoints trim = findTrim(spoken.samples, Rate).value();

    auto first = store.add(word, spoken.samples, Rate, trim);
    auto second = store.add(word, spoken.samples, Rate, {10, 20});
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->number, 1);
    EXPECT_EQ(second->number, 2);
    EXPECT_TRUE(QFile::exists(dir.filePath(QStringLiteral("tagningar/gömmer sig/2.wav"))));
    ASSERT_TRUE(store.setTrim(*second, {100, 200}));
    // A replaced recording kept beside the takes is not one of them.
    dir.write(QStringLiteral("tagningar/gömmer sig/ersatt-1.wav"), "RIFF");
    // A take whose trim points were lost is cut as a new one would be.
    QFile::remove(dir.filePath(QStringLiteral("tagningar/gömmer sig/1.json")));

    const std::vector<StoredTake> takes = store.takes(word);
    ASSERT_EQ(takes.size(), 2u);
    EXPECT_EQ(takes[0].trim, trim);
    EXPECT_EQ(takes[1].trim, (TrimPoints{100, 200}));
    EXPECT_EQ(takes[1].frames, std::int64_t(spoken.samples.size()));
    const std::optional<RawTake> raw = store.load(takes[1]);
    ASSERT_TRUE(raw);
    EXPECT_EQ(raw->rate, Rate);
    EXPECT_EQ(raw->samples, spoken.samples) << "a raw take is kept exactly";
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What sound/ holds, name by name.
QMap<QString, QByteArray> soundFolder(const test::TempDir& dir) {
    QMap<QString, QByteArray> files;
    const QDir sound(dir.filePath(QStringLiteral("sound")));
    for (const QString& name : sound.entryList(QDir::Files | QDir::Hidden))
        files[name] = readFile(sound.filePath(name));
    return files;
}

// A save puts the new file under the exact name and nowhere else; undo brings back what was
// there before, name and bytes, and leaves the raw takes alone.
TEST(RecordingSaver, SavesUnderTheExactNameAndUndoes) {
    struct Case {
        const char* name;
        const char* existing; // file in sound/ before, or null
    };
    const Case cases[] = {{"new", nullptr}, {"replaces", "Kalle.wav"}, {"loose", "kalle.wav"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const test::TempDir dir;
        dir.mkdir(QStringLiteral("sound"));
        dir.write(QStringLiteral("tagningar/Kalle/1.wav"), "take");
        QByteArray replacing;
        if (c.existing) {
            dir.write(QStringLiteral("sound/") + QString::fromUtf8(c.existing), "old");
            replacing = QFile::encodeName(
                dir.filePath(QStringLiteral("sound/") + QString::fromUtf8(c.existing)));
        }
        const QMap<QString, QByteArray> before = soundFolder(dir);

        RecordingSaver saver(dir.path());
        QString why;
        ASSERT_TRUE(saver.save(QStringLiteral("sound/Kalle.wav"), "new", replacing, &why))
            << why.toStdString();
        EXPECT_EQ(soundFolder(dir), (QMap<QString, QByteArray>{{"Kalle.wav", "new"}}));
        EXPECT_EQ(saver.undoable(), QStringLiteral("sound/Kalle.wav"));
        if (c.existing) {
            EXPECT_EQ(readFile(dir.filePath(QStringLiteral("tagningar/Kalle/ersatt-1.wav"))),
                      QByteArray("old"));
        }

        ASSERT_TRUE(saver.undo(&why)) << why.toStdString();
        EXPECT_EQ(soundFolder(dir), before);
        EXPECT_TRUE(saver.undoable().isEmpty());
        EXPECT_FALSE(saver.undo()) << "only the last save is undone, once";
        EXPECT_EQ(readFile(dir.filePath(QStringLiteral("tagningar/Kalle/1.wav"))), "take");
    }
}

TEST(MadeByVoice, OnlyVoicesMarkCounts) {
    const test::TempDir dir;
    struct Case {
        const char* software;
        bool madeByVoice;
    };
    const Case cases[] = {{nullptr, false},
                          {VoiceSoftware, true},
                          {StudioSoftware, false},
                          {"brumlis-cli voiceover", false}};
    for (const Case& c : cases) {
        const QString path = dir.filePath(QStringLiteral("a.wav"));
        ASSERT_TRUE(writeFileAtomically(path, encodeWav({0, 100, 0}, 8000, 1, c.software)));
        EXPECT_EQ(isMadeByVoice(QFile::encodeName(path)), c.madeByVoice)
            << (c.software ? c.software : "none");
    }
}

} // namespace
} // namespace brumlis
