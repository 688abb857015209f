// The studio window's flow, driven from the keyboard and by its buttons' object names, with
// a sound server in memory.
#include "brumlis/audio/loudness.h"
#include "fakeconnection.h"
#include "studiofixture.h"
#include "support/fakes.h"

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace brumlis {
namespace {

using test::child;
using test::column;
using test::labelText;

class StudioWindowTest : public ::testing::Test {
protected:
    void open(test::FakeConnection::Opening opening = test::FakeConnection::Opening::Ready,
              QList<InputSource> inputs = {{"mic", QStringLiteral("Mikrofon"), false}}) {
        auto server = std::make_unique<test::FakeConnection>(opening, inputs);
        fake = server.get();
        auto questions = std::make_unique<test::AnsweringQuestions>();
        answers = questions.get();
        auto speaker = std::make_unique<test::FakePlayer>();
        player = speaker.get();
        window = std::make_unique<StudioWindow>(std::move(server), folder.dir.path(),
                                                std::move(questions), std::move(speaker));
        QSignalSpy read(window.get(), &StudioWindow::folderRead);
        window->show();
        ASSERT_TRUE(read.wait(10000));
        list = child<QTreeWidget>(window.get(), "wordList");
    }
    QString current() const { return labelText(window.get(), "currentWord"); }
    void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(window.get(), key, modifiers);
    }
    // A take of the word on screen, shown.
    void record(const std::vector<float>& samples) {
        QSignalSpy shown(window.get(), &StudioWindow::takeShown);
        press(Qt::Key_R);
        fake->feed(samples);
        ASSERT_TRUE(shown.wait(10000));
    }
    const StudioWindow::Take& chosen() const {
        return window->takes()[std::size_t(window->selectedTake())];
    }
    // The cut of the chosen take as kept on disk.
    std::optional<TrimPoints> storedCut() const {
        const auto stored =
            TakeStore(folder.dir.path()).takes(window->queue().currentEntry()->word.soundPath);
        const int number = chosen().number;
        for (const StoredTake& take : stored)
            if (take.number == number)
                return take.trim;
        return std::nullopt;
    }

    test::StudioFolder folder;
    test::FakeConnection* fake = nullptr;
    test::AnsweringQuestions* answers = nullptr;
    test::FakePlayer* player = nullptr;
    std::unique_ptr<StudioWindow> window;
    QTreeWidget* list = nullptr;
};

const QStringList Phrases = {"tycker att", "är",     "är ett",  "är en",
                             "har",        "har en", "har ett", "som"};

// Missing first, then not playable, loose names, voice's, and the recorded last; list order
// within each.
TEST_F(StudioWindowTest, OffersTheWordsMostInNeedFirst) {
    folder.lists();
    folder.recording(QStringLiteral("Kalle.wav"));
    folder.recording(QStringLiteral("lisa.wav"));
    folder.recording(QStringLiteral("Nils.wav"), -20.0, VoiceSoftware);
    for (const QString& phrase : Phrases)
        folder.recording(QString(phrase).replace(u' ', u'_') + QStringLiteral(".wav"), -20.0,
                         VoiceSoftware);
    folder.dir.write(QStringLiteral("sound/bord.wav"), "RIFF, not really");
    open();

    const QStringList missing = {"Olle", "glad",     "glatt",    "röd", "apa",
                                 "bil",  "springer", "sprungit", "på",  "hemma"};
    const QStringList expected =
        missing + QStringList{"bord", "Lisa"} + Phrases + QStringList{"Nils", "Kalle"};
    EXPECT_EQ(column(list, 0).join(u'|').toStdString(), expected.join(u'|').toStdString());
    const QStringList states = column(list, 1);
    EXPECT_EQ(states.first(), QStringLiteral("saknas"));
    EXPECT_EQ(states[missing.size()], QStringLiteral("kan inte spelas"));
    EXPECT_EQ(states[missing.size() + 1], QStringLiteral("bara med löst namn"));
    EXPECT_EQ(states[states.size() - 2], QStringLiteral("gjord av voice"));
    EXPECT_EQ(states.last(), QStringLiteral("inspelad"));
    EXPECT_EQ(labelText(window.get(), "progressLabel"),
              QStringLiteral("1 av %1 inspelade").arg(expected.size()));
    EXPECT_EQ(current(), QStringLiteral("Olle"));
    EXPECT_EQ(labelText(window.get(), "previousWord"), QString());
    EXPECT_EQ(labelText(window.get(), "nextWord"), QStringLiteral("glad →"));
    EXPECT_TRUE(labelText(window.get(), "exampleSentence").contains(QStringLiteral("Olle")));
}

// Skip, back, a take, keep: each key moves through the words in the order shown, and
// keep saves the take under the word's name first.
TEST_F(StudioWindowTest, SkipBackAndKeepWalkTheWordsFromTheKeyboard) {
    folder.lists();
    open();
    const QStringList order = column(list, 0);
    const auto at = [&](int i) { return order[i]; };
    ASSERT_EQ(current(), at(0));
    // The keys work wherever the focus is, the word list included.
    list->setFocus();

    press(Qt::Key_S);
    EXPECT_EQ(current(), at(1));
    EXPECT_EQ(labelText(window.get(), "previousWord"), QStringLiteral("← %1").arg(at(0)));
    EXPECT_EQ(labelText(window.get(), "nextWord"), QStringLiteral("%1 →").arg(at(2)));
    EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("saknas, överhoppad"));
    press(Qt::Key_Backspace);
    EXPECT_EQ(current(), at(0));
    EXPECT_FALSE(child<QPushButton>(window.get(), "backButton")->isEnabled());
    child<QPushButton>(window.get(), "skipButton")->click();
    EXPECT_EQ(current(), at(1));
    EXPECT_EQ(list->currentItem()->text(0), at(1));
    EXPECT_FALSE(child<QPushButton>(window.get(), "keepButton")->isEnabled()) << "no take yet";

    // A take started by the key and ended by the silence after the word, trimmed and shown.
    QSignalSpy shown(window.get(), &StudioWindow::takeShown);
    press(Qt::Key_Space);
    ASSERT_TRUE(window->recorder().isRecording());
    fake->feed(test::makeWord({}, SoundConnection::CaptureRate).samples);
    ASSERT_TRUE(shown.wait(10000));
    EXPECT_FALSE(window->recorder().isRecording());
    EXPECT_EQ(window->takes().size(), 1u);
    EXPECT_EQ(fake->played.size(), 1u) << "a take is played back after it is made";
    // A second, shorter take; the first is chosen again from the keyboard and kept.
    test::WordShape shorter;
    shorter.bursts = 1;
    press(Qt::Key_R);
    fake->feed(test::makeWord(shorter, SoundConnection::CaptureRate).samples);
    ASSERT_TRUE(shown.wait(10000));
    ASSERT_EQ(window->takes().size(), 2u);
    EXPECT_EQ(window->selectedTake(), 1) << "the newest take is the one chosen";
    auto* takeList = child<QListWidget>(window.get(), "takeList");
    takeList->setFocus();
    QTest::keyClick(takeList, Qt::Key_Up);
    ASSERT_EQ(window->selectedTake(), 0);
    const std::int64_t chosenFrames = window->takes()[0].trim.frames();

    QSignalSpy saved(window.get(), &StudioWindow::saved);
    press(Qt::Key_Return);
    EXPECT_EQ(current(), at(2)) << "keep goes on to the next word at once";
    ASSERT_TRUE(saved.wait(10000));
    const QString soundPath = saved.front()[0].toString();
    EXPECT_EQ(soundPath, window->queue().entries()[1].word.soundPath);
    EXPECT_TRUE(saved.front()[1].toBool());
    const std::optional<SoundFileInfo> savedFile =
        soundFileInfo(QFile::encodeName(folder.dir.filePath(soundPath)));
    ASSERT_TRUE(savedFile);
    EXPECT_EQ(savedFile->frames, chosenFrames) << "the chosen take was saved";
    EXPECT_EQ(list->topLevelItem(1)->text(1), QStringLiteral("inspelad"));
    EXPECT_TRUE(labelText(window.get(), "progressLabel").startsWith(QStringLiteral("1 av ")));
    EXPECT_TRUE(answers->asked.isEmpty()) << "nothing was there to replace";
}

TEST_F(StudioWindowTest, AnEditedListShowsUpWithoutARestart) {
    folder.lists();
    open();
    folder.list("namn", "Kalle\nLisa\nNils\nOlle\nZlatan\n");
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return column(list, 0).contains(QStringLiteral("Zlatan")); }, 10000));
    EXPECT_EQ(current(), column(list, 0).front()) << "the word on screen stays";
}

// Prova speaks a sentence of the voice's recordings through the sentence player, the chosen
// take in the word's place, as it would be saved; meanwhile nothing is recorded. A saved
// recording is heard through the same player.
TEST_F(StudioWindowTest, ProvaSpeaksTheTakeAmongTheVoicesRecordings) {
    folder.lists();
    folder.recording(QStringLiteral("Kalle.wav"));
    open();
    player->hearAtOnce = false;
    const QString word = current();
    QSignalSpy shown(window.get(), &StudioWindow::takeShown);
    press(Qt::Key_Space);
    fake->feed(test::makeWord({}, SoundConnection::CaptureRate).samples);
    ASSERT_TRUE(shown.wait(10000));

    press(Qt::Key_T);
    ASSERT_TRUE(QTest::qWaitFor([&] { return player->spoken.size() == 1; }, 10000));
    const QStringList paths = player->spoken.front();
    const QString take =
        QStringLiteral("tagningar/%1/prova.wav")
            .arg(TakeStore::wordFolder(window->queue().currentEntry()->word.soundPath));
    EXPECT_EQ(paths.count(take), 1) << paths.join(u',').toStdString();
    for (const QString& path : paths)
        EXPECT_TRUE(path.isEmpty() || path == take || path.startsWith(u"sound/"))
            << path.toStdString();
    const std::optional<ClipMeasure> measured =
        measureClip(QFile::encodeName(folder.dir.filePath(take)));
    ASSERT_TRUE(measured);
    EXPECT_NEAR(
        measured->loudnessLufs,
        measureClip(QFile::encodeName(folder.sound(QStringLiteral("Kalle.wav"))))->loudnessLufs,
        0.5);
    EXPECT_FALSE(child<QPushButton>(window.get(), "recordButton")->isEnabled());
    EXPECT_FALSE(child<QPushButton>(window.get(), "tryButton")->isEnabled());

    player->hearAll();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return child<QPushButton>(window.get(), "tryButton")->isEnabled(); }, 10000));
    EXPECT_TRUE(labelText(window.get(), "exampleSentence").contains(word));
    EXPECT_TRUE(child<QPushButton>(window.get(), "recordButton")->isEnabled());

    // A saved recording is heard through the same player, on its own.
    auto* list = child<QTreeWidget>(window.get(), "wordList");
    list->setCurrentItem(
        list->topLevelItem(int(test::column(list, 0).indexOf(QStringLiteral("Kalle")))));
    const QString example = labelText(window.get(), "exampleSentence");
    press(Qt::Key_L);
    ASSERT_EQ(player->spoken.size(), 2u);
    EXPECT_EQ(player->spoken.back().front(), QStringLiteral("sound/Kalle.wav"));
    EXPECT_TRUE(player->spoken.back()[1].isEmpty());
    player->hearAll();
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return labelText(window.get(), "exampleSentence") == example;
    })) << "the sentence comes back";
}

TEST_F(StudioWindowTest, RecordsFromTheInputChosen) {
    folder.lists();
    open(test::FakeConnection::Opening::Ready, {{"mic", QStringLiteral("Mikrofon"), false},
                                                {"usb", QStringLiteral("USB-mikrofon"), false}});
    auto* sources = child<QComboBox>(window.get(), "sourceBox");
    ASSERT_TRUE(QTest::qWaitFor([&] { return sources->count() == 3; }));
    EXPECT_EQ(fake->capturing, QByteArray()) << "the server's default input at first";
    sources->setCurrentIndex(2);
    Q_EMIT sources->activated(2);
    EXPECT_EQ(fake->capturing, QByteArray("usb"));
}

// Without a server or an input the window says so, once, and the words can still be gone
// through.
TEST_F(StudioWindowTest, SaysOnceWhenThereIsNoServerOrNoInput) {
    struct Case {
        const char* name;
        test::FakeConnection::Opening opening;
        QList<InputSource> inputs;
        const char* says;
    };
    const Case cases[] = {
        {"no server", test::FakeConnection::Opening::Unavailable, {}, "Ingen ljudserver"},
        {"no input", test::FakeConnection::Opening::Ready, {}, "ingen ingång"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        folder.lists();
        open(c.opening, c.inputs);
        const QLabel* notice = child<QLabel>(window.get(), "soundNotice");
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window->soundNotice().isEmpty(); }));
        EXPECT_TRUE(notice->isVisible());
        EXPECT_TRUE(notice->text().contains(QString::fromUtf8(c.says)))
            << notice->text().toStdString();
        const QString said = notice->text();
        if (c.opening == test::FakeConnection::Opening::Unavailable)
            Q_EMIT fake->unavailable(QStringLiteral("again"));
        Q_EMIT fake->sourcesChanged();
        EXPECT_EQ(notice->text(), said) << "said once";
        EXPECT_FALSE(child<QPushButton>(window.get(), "recordButton")->isEnabled());
        const QString first = current();
        press(Qt::Key_S);
        EXPECT_NE(current(), first);
        window.reset();
    }
}

constexpr std::int64_t Step = SoundConnection::CaptureRate / 100; // 10 ms

// The cut of the chosen take moves by 10 ms at a time, by key or button, within the raw take
// and never to nothing; K puts the automatic cut back. What is shown and played follows.
TEST_F(StudioWindowTest, TheCutMovesByStepsWithinTheTake) {
    folder.lists();
    open();
    ASSERT_NO_FATAL_FAILURE(record(test::makeWord({}, SoundConnection::CaptureRate).samples));
    const TrimPoints found = chosen().autoTrim;
    const auto frames = std::int64_t(chosen().raw.size());
    ASSERT_GT(found.start, 20 * Step);
    ASSERT_LT(found.end, frames - 20 * Step);
    struct Case {
        const char* name;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        const char* button; // pressed instead of the key
        int times;
        TrimPoints cut;
    };
    const Case cases[] = {
        {"[ thrice", Qt::Key_BracketLeft, {}, nullptr, 3, {found.start - 3 * Step, found.end}},
        {"] twice", Qt::Key_BracketRight, {}, nullptr, 2, {found.start + 2 * Step, found.end}},
        {"{", Qt::Key_BraceLeft, {}, nullptr, 1, {found.start, found.end - Step}},
        {"}", Qt::Key_BraceRight, {}, nullptr, 1, {found.start, found.end + Step}},
        {"Ctrl+Left",
         Qt::Key_Left,
         Qt::ControlModifier,
         nullptr,
         1,
         {found.start - Step, found.end}},
        {"Ctrl+Shift+Right",
         Qt::Key_Right,
         Qt::ControlModifier | Qt::ShiftModifier,
         nullptr,
         2,
         {found.start, found.end + 2 * Step}},
        {"start button", {}, {}, "cutStartLaterButton", 1, {found.start + Step, found.end}},
        {"end button", {}, {}, "cutEndEarlierButton", 1, {found.start, found.end - Step}},
        {"start before the take", Qt::Key_BracketLeft, {}, nullptr, 100, {0, found.end}},
        {"end after the take", Qt::Key_BraceRight, {}, nullptr, 200, {found.start, frames}},
        {"start past the end",
         Qt::Key_BracketRight,
         {},
         nullptr,
         300,
         {found.end - Step, found.end}},
        {"end past the start",
         Qt::Key_BraceLeft,
         {},
         nullptr,
         300,
         {found.start, found.start + Step}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int i = 0; i < c.times; ++i)
            if (c.button)
                child<QPushButton>(window.get(), c.button)->click();
            else
                press(c.key, c.modifiers);
        EXPECT_EQ(chosen().trim, c.cut);
        EXPECT_EQ(chosen().figures.clip.frames, c.cut.frames());
        const QString start =
            QString::number(double(c.cut.start) / SoundConnection::CaptureRate, 'f', 2)
                .replace(u'.', u',');
        EXPECT_TRUE(labelText(window.get(), "cutLabel").contains(start))
            << labelText(window.get(), "cutLabel").toStdString();
        press(Qt::Key_P);
        EXPECT_EQ(std::int64_t(fake->played.back()), c.cut.frames()) << "P plays the new cut";
        press(Qt::Key_K);
        EXPECT_EQ(chosen().trim, found);
        EXPECT_TRUE(labelText(window.get(), "cutLabel").endsWith(QStringLiteral("automatiskt")));
    }
}

// A clipped sound before the word, cut away: the warning and the figures go with it, keep
// no longer asks about clipping and saves the cut as it now is.
TEST_F(StudioWindowTest, FiguresFollowTheCutAndKeepSavesIt) {
    folder.lists();
    open();
    test::WordShape bang;
    bang.clipped = true;
    bang.bursts = 1;
    bang.tailSeconds = 0.0;
    bang.trailSeconds = 0.3;
    test::WordShape word;
    word.leadSeconds = 0.0;
    std::vector<float> samples = test::makeWord(bang, SoundConnection::CaptureRate).samples;
    const std::vector<float> rest = test::makeWord(word, SoundConnection::CaptureRate).samples;
    samples.insert(samples.end(), rest.begin(), rest.end());
    ASSERT_NO_FATAL_FAILURE(record(samples));
    ASSERT_TRUE(chosen().figures.clipped);
    ASSERT_TRUE(chosen().warnings.contains(QStringLiteral("överstyrd")));
    const double peakBefore = chosen().figures.clip.peakDbfs;

    // The bang is 0.15 s from 0.2 s into the take; the word starts 0.3 s after it.
    for (int i = 0; i < 25; ++i)
        press(Qt::Key_BracketRight);
    EXPECT_FALSE(chosen().figures.clipped);
    EXPECT_FALSE(chosen().warnings.contains(QStringLiteral("överstyrd")));
    EXPECT_LT(chosen().figures.clip.peakDbfs, peakBefore - 6.0);
    EXPECT_TRUE(labelText(window.get(), "takeFigures").contains(QStringLiteral("inte överstyrd")));
    EXPECT_FALSE(
        child<QListWidget>(window.get(), "takeList")->item(0)->text().contains(u"överstyrd"));

    const TrimPoints cut = chosen().trim;
    QSignalSpy saved(window.get(), &StudioWindow::saved);
    press(Qt::Key_Return);
    ASSERT_TRUE(saved.wait(10000));
    EXPECT_TRUE(answers->asked.isEmpty()) << answers->asked.join(u'|').toStdString();
    const std::optional<SoundFileInfo> file =
        soundFileInfo(QFile::encodeName(folder.dir.filePath(saved.front()[0].toString())));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->frames, cut.frames());
}

// The cut chosen is kept with the raw take, also when it is moved before the take is on
// disk, and a take read back later is cut there; so is the automatic cut put back.
TEST_F(StudioWindowTest, TheChosenCutIsKeptWithTheTake) {
    folder.lists();
    open();
    ASSERT_NO_FATAL_FAILURE(record(test::makeWord({}, SoundConnection::CaptureRate).samples));
    press(Qt::Key_BracketLeft);
    press(Qt::Key_BraceRight);
    press(Qt::Key_BraceRight);
    const TrimPoints found = chosen().autoTrim;
    const TrimPoints moved{found.start - Step, found.end + 2 * Step};
    ASSERT_EQ(chosen().trim, moved);
    ASSERT_TRUE(QTest::qWaitFor([&] { return chosen().number > 0 && storedCut() == moved; }))
        << "on disk: " << (storedCut() ? storedCut()->start : -1);

    const auto reopen = [&] {
        press(Qt::Key_S);
        press(Qt::Key_Backspace);
        return QTest::qWaitFor([&] { return window->takes().size() == 1; });
    };
    ASSERT_TRUE(reopen());
    EXPECT_EQ(chosen().trim, moved);
    EXPECT_EQ(chosen().autoTrim, found);
    EXPECT_TRUE(labelText(window.get(), "cutLabel").endsWith(QStringLiteral("flyttat")));

    press(Qt::Key_K);
    EXPECT_TRUE(QTest::qWaitFor([&] { return storedCut() == found; }));
    ASSERT_TRUE(reopen());
    EXPECT_EQ(chosen().trim, found);
}

} // namespace
} // namespace brumlis
