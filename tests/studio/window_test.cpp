// The studio window's flow, driven from the keyboard and by its buttons' object names, with
// a sound server in memory.
#include "fakeconnection.h"
#include "studiofixture.h"
#include "support/fakes.h"
#include "voicetools/loudness.h"

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
    void press(Qt::Key key) { QTest::keyClick(window.get(), key); }

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

} // namespace
} // namespace brumlis
