// The studio's session without a window: a sound server in memory that records what the
// test feeds it, a player that hears what the test says, and a data folder on disk.
#include "brumlis/qtbridge/text.h"
#include "brumlis/soundfiles/loudness.h"
#include "fakeconnection.h"
#include "studiofixture.h"
#include "support/fakes.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace brumlis {
namespace {

using Action = StudioSession::Action;
using Text = StudioSession::Text;
using test::waitUntil;

constexpr int Rate = SoundInput::CaptureRate;
constexpr std::int64_t Step = Rate / 100; // 10 ms

class StudioSessionTest : public ::testing::Test {
protected:
    void open(test::FakeConnection::Opening opening = test::FakeConnection::Opening::Ready,
              QList<InputSource> inputs = {{"mic", QStringLiteral("Mikrofon"), false}}) {
        auto server = std::make_unique<test::FakeConnection>(opening, inputs);
        fake = server.get();
        auto questions = std::make_unique<test::AnsweringQuestions>();
        answers = questions.get();
        auto speaker = std::make_unique<test::FakePlayer>();
        player = speaker.get();
        session = std::make_unique<StudioSession>(std::move(server), folder.dir.path(),
                                                  std::move(questions), std::move(speaker));
        QSignalSpy read(session.get(), &StudioSession::folderRead);
        ASSERT_TRUE(read.wait(10000));
    }
    QString text(Text which) const { return session->text(which); }
    QString word(int index) const {
        return session->queue().entries()[std::size_t(index)].word.text;
    }
    // A take of the word on screen, started by the key and ended by the silence after it.
    void record(const std::vector<float>& samples) {
        QSignalSpy shown(session.get(), &StudioSession::takeShown);
        session->newTake();
        ASSERT_TRUE(session->isRecording());
        fake->feed(samples);
        ASSERT_TRUE(shown.wait(10000));
    }
    const StudioSession::Take& chosen() const {
        return session->takes()[std::size_t(session->chosenTake())];
    }
    // Away from the word and back: its takes are read again from disk.
    bool reopen() {
        session->skip();
        session->back();
        return waitUntil(session.get(), &StudioSession::takesChanged,
                         [&] { return session->takes().size() == 1; });
    }
    bool waitForControls(const std::function<bool()>& done) {
        return waitUntil(session.get(), &StudioSession::controlsChanged, done);
    }

    test::StudioFolder folder;
    test::FakeConnection* fake = nullptr;
    test::AnsweringQuestions* answers = nullptr;
    test::FakePlayer* player = nullptr;
    std::unique_ptr<StudioSession> session;
};

const QStringList Phrases = {"tycker att", "är",     "är ett",  "är en",
                             "har",        "har en", "har ett", "som"};

// Missing first, then not playable, loose names, voice's, and the recorded last; list order
// within each.
TEST_F(StudioSessionTest, OffersTheWordsMostInNeedFirst) {
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
    QStringList words;
    std::vector<WordState> states;
    for (const WordQueue::Entry& entry : session->queue().entries()) {
        words << entry.word.text;
        states.push_back(entry.state);
    }
    EXPECT_EQ(words.join(u'|'), expected.join(u'|'));
    EXPECT_EQ(states.front(), WordState::Missing);
    EXPECT_EQ(states[missing.size()], WordState::Unplayable);
    EXPECT_EQ(states[missing.size() + 1], WordState::LooseName);
    EXPECT_EQ(states[states.size() - 2], WordState::MadeByVoice);
    EXPECT_EQ(states.back(), WordState::Recorded);
    EXPECT_EQ(text(Text::Progress), QStringLiteral("1 av %1 inspelade").arg(expected.size()));
    EXPECT_EQ(text(Text::CurrentWord), QStringLiteral("Olle"));
    EXPECT_EQ(text(Text::PreviousWord), QString());
    EXPECT_EQ(text(Text::NextWord), QStringLiteral("glad →"));
    EXPECT_EQ(text(Text::WordState), QStringLiteral("Saknas"));
    EXPECT_TRUE(text(Text::Example).contains(QStringLiteral("Olle")));
}

// Skip, back, takes, keep and undo walk the words in the order shown; keep saves the chosen
// take under the word's name and goes on at once, and every take is heard as it is cut.
TEST_F(StudioSessionTest, SkipBackKeepAndUndoWalkTheWords) {
    folder.lists();
    open();
    session->skip();
    EXPECT_EQ(text(Text::CurrentWord), word(1));
    EXPECT_EQ(text(Text::PreviousWord), QStringLiteral("← %1").arg(word(0)));
    EXPECT_EQ(text(Text::NextWord), QStringLiteral("%1 →").arg(word(2)));
    EXPECT_TRUE(session->queue().entries()[0].skipped);
    session->back();
    EXPECT_EQ(text(Text::CurrentWord), word(0));
    EXPECT_FALSE(session->canDo(Action::Back));
    session->skip();
    EXPECT_FALSE(session->canDo(Action::Keep)) << "no take yet";

    ASSERT_NO_FATAL_FAILURE(record(test::makeWord({}, Rate).samples));
    EXPECT_FALSE(session->isRecording());
    ASSERT_EQ(player->heldSamples.size(), 1u) << "a take is played back after it is made";
    EXPECT_EQ(std::int64_t(player->heldSamples[0]), chosen().trim.frames());
    test::WordShape shorter;
    shorter.bursts = 1;
    ASSERT_NO_FATAL_FAILURE(record(test::makeWord(shorter, Rate).samples));
    ASSERT_EQ(session->takes().size(), 2u);
    EXPECT_EQ(session->chosenTake(), 1) << "the newest take is the one chosen";
    session->chooseTake(0);
    const std::int64_t chosenFrames = chosen().trim.frames();

    QSignalSpy saved(session.get(), &StudioSession::saved);
    session->keep();
    EXPECT_EQ(text(Text::CurrentWord), word(2)) << "keep goes on to the next word at once";
    ASSERT_TRUE(saved.wait(10000));
    const QString soundPath = saved.front()[0].toString();
    EXPECT_EQ(soundPath, session->queue().entries()[1].word.soundPath);
    EXPECT_TRUE(saved.front()[1].toBool());
    const QString file = folder.dir.filePath(soundPath);
    const std::optional<SoundFileInfo> savedFile = soundFileInfo(QFile::encodeName(file));
    ASSERT_TRUE(savedFile);
    EXPECT_EQ(savedFile->frames, chosenFrames) << "the chosen take was saved";
    EXPECT_EQ(session->queue().entries()[1].state, WordState::Recorded);
    EXPECT_TRUE(text(Text::Progress).startsWith(QStringLiteral("1 av ")));
    EXPECT_TRUE(answers->asked.isEmpty()) << "nothing was there to replace";

    QSignalSpy undone(session.get(), &StudioSession::undone);
    session->undo();
    EXPECT_FALSE(session->canDo(Action::Undo));
    ASSERT_TRUE(undone.wait(10000));
    EXPECT_FALSE(QFile::exists(file)) << "there was no recording before";
}

TEST_F(StudioSessionTest, AnEditedListShowsUpWithoutARestart) {
    folder.lists();
    open();
    const QString current = text(Text::CurrentWord);
    folder.list("namn", "Kalle\nLisa\nNils\nOlle\nZlatan\n");
    EXPECT_TRUE(waitUntil(session.get(), &StudioSession::folderRead,
                          [&] { return test::indexOf(*session, QStringLiteral("Zlatan")) >= 0; }));
    EXPECT_EQ(text(Text::CurrentWord), current) << "the word on screen stays";
}

// The words to record are those of the classes and the phrases the folder's mallar.txt uses,
// and an edit of it shows up without a restart, in the words and in the example sentence.
TEST_F(StudioSessionTest, TheWordsAndExamplesFollowTheFoldersShapes) {
    folder.lists();
    folder.list("djur", "katten\nhunden\n");
    folder.list("ljud", "mjau");
    folder.list("sak", "bollen");
    folder.dir.write(QStringLiteral("mallar.txt"),
                     "[djur] \"säger\" [ljud]\n[djur] (\"leker med\" [sak] | \"sover\")\n");
    open();
    const auto words = [&] {
        QStringList texts;
        for (const WordQueue::Entry& entry : session->queue().entries())
            texts << entry.word.text;
        texts.sort();
        return texts;
    };
    EXPECT_EQ(words(),
              (QStringList{"bollen", "hunden", "katten", "leker med", "mjau", "sover", "säger"}));

    // Written over in place, as most editors save.
    folder.dir.write(QStringLiteral("mallar.txt"), "[djur] \"säger\" [ljud]\n");
    const QStringList fewer = {"hunden", "katten", "mjau", "säger"};
    ASSERT_TRUE(waitUntil(session.get(), &StudioSession::folderRead, [&] {
        return words() == fewer;
    })) << words().join(u'|').toStdString();
    ASSERT_EQ(text(Text::CurrentWord), QStringLiteral("säger"));
    EXPECT_TRUE(text(Text::Example).endsWith(QStringLiteral(" säger mjau”")));

    folder.dir.write(QStringLiteral("mallar.txt"), "[ljud] \"säger\" [djur]\n");
    EXPECT_TRUE(waitUntil(session.get(), &StudioSession::folderRead, [&] {
        return text(Text::Example).startsWith(QStringLiteral("”mjau säger "));
    })) << text(Text::Example).toStdString();
    EXPECT_EQ(words(), fewer);
    EXPECT_EQ(text(Text::CurrentWord), QStringLiteral("säger")) << "the word on screen stays";
}

// Everything is heard through the player. A take being listened to leaves the example as it
// is and gives way to a new take; Prova speaks the take, as it would be saved, among the
// voice's recordings, and a saved recording is heard on its own; while either is spoken
// nothing is recorded.
TEST_F(StudioSessionTest, TakesSentencesAndRecordingsAreHeardThroughThePlayer) {
    folder.lists();
    folder.recording(QStringLiteral("Kalle.wav"));
    open();
    player->hearAtOnce = false;
    const QString word = text(Text::CurrentWord);
    const QString example = text(Text::Example);
    ASSERT_NO_FATAL_FAILURE(record(test::makeWord({}, Rate).samples));
    ASSERT_EQ(player->spoken.size(), 1u);
    EXPECT_EQ(text(Text::Example), example);
    EXPECT_TRUE(session->canDo(Action::Record)) << "a take being heard does not hold it up";
    QSignalSpy heard(session.get(), &StudioSession::controlsChanged);
    player->hearAll();
    ASSERT_TRUE(heard.wait(10000));
    EXPECT_EQ(text(Text::Example), example);

    session->prova();
    EXPECT_FALSE(session->canDo(Action::Record));
    EXPECT_FALSE(session->canDo(Action::Prova));
    ASSERT_TRUE(waitUntil(session.get(), &StudioSession::textChanged,
                          [&] { return player->spoken.size() == 2; }));
    const QStringList paths = qt(player->spoken.back());
    const QString take =
        QStringLiteral("tagningar/%1/prova.wav")
            .arg(TakeStore::wordFolder(session->queue().currentEntry()->word.soundPath));
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
    player->hearAll();
    ASSERT_TRUE(waitForControls([&] { return session->canDo(Action::Prova); }));
    EXPECT_TRUE(text(Text::Example).contains(word)) << "Prova's sentence stays on screen";
    EXPECT_TRUE(session->canDo(Action::Record));

    session->chooseWord(test::indexOf(*session, QStringLiteral("Kalle")));
    const QString kalles = text(Text::Example);
    session->listenToSaved();
    ASSERT_EQ(player->spoken.size(), 3u);
    EXPECT_EQ(player->spoken.back().front(), u"sound/Kalle.wav");
    EXPECT_TRUE(player->spoken.back()[1].empty());
    EXPECT_FALSE(session->canDo(Action::Record));
    player->hearAll();
    EXPECT_TRUE(waitUntil(session.get(), &StudioSession::textChanged, [&] {
        return text(Text::Example) == kalles;
    })) << "the sentence comes back";

    ASSERT_NO_FATAL_FAILURE(record(test::makeWord({}, Rate).samples));
    session->newTake();
    EXPECT_EQ(player->stops, 1) << "a new take cuts the one being heard off";
}

TEST_F(StudioSessionTest, RecordsFromTheInputChosen) {
    folder.lists();
    open(test::FakeConnection::Opening::Ready, {{"mic", QStringLiteral("Mikrofon"), false},
                                                {"usb", QStringLiteral("USB-mikrofon"), true}});
    ASSERT_EQ(session->inputs().size(), 3);
    EXPECT_EQ(session->inputs()[0].label, QStringLiteral("Standardingången (Mikrofon)"));
    EXPECT_EQ(session->inputs()[2].label, QStringLiteral("USB-mikrofon (hör en utgång)"));
    EXPECT_EQ(fake->capturing, QByteArray()) << "the server's default input at first";
    session->chooseInput("usb");
    EXPECT_EQ(fake->capturing, QByteArray("usb"));
}

// Without a server or an input the session says so, once, and the words can still be gone
// through.
TEST_F(StudioSessionTest, SaysOnceWhenThereIsNoServerOrNoInput) {
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
        EXPECT_TRUE(text(Text::Notice).contains(QString::fromUtf8(c.says)))
            << text(Text::Notice).toStdString();
        QSignalSpy told(session.get(), &StudioSession::textChanged);
        if (c.opening == test::FakeConnection::Opening::Unavailable)
            Q_EMIT fake->unavailable(QStringLiteral("again"));
        Q_EMIT fake->sourcesChanged();
        EXPECT_TRUE(std::none_of(told.begin(), told.end(), [](const QList<QVariant>& args) {
            return args[0].value<Text>() == Text::Notice;
        })) << "said once";
        EXPECT_FALSE(session->canDo(Action::Record));
        const QString first = text(Text::CurrentWord);
        session->skip();
        EXPECT_NE(text(Text::CurrentWord), first);
        session.reset();
    }
}

// The cut of the chosen take moves by 10 ms at a time within the raw take and never to
// nothing; K puts the automatic cut back. What is shown and heard follows.
TEST_F(StudioSessionTest, TheCutMovesByStepsWithinTheTake) {
    folder.lists();
    open();
    ASSERT_NO_FATAL_FAILURE(record(test::makeWord({}, Rate).samples));
    const TrimPoints found = chosen().autoTrim;
    const auto frames = std::int64_t(chosen().raw.size());
    ASSERT_GT(found.start, 20 * Step);
    ASSERT_LT(found.end, frames - 20 * Step);
    // Figures as Swedes write them: a decimal comma.
    const std::pair<QString, const char*> shown[] = {
        {session->takeRow(0), R"(Tagning 1: -\d+,\d LUFS, topp -\d+,\d dBFS, \d,\d\d s)"},
        {text(Text::Figures), R"(Ljudstyrka -\d+,\d LUFS \(rösten: - LUFS\), topp -\d+,\d dBFS, )"
                              R"(brusgolv (-\d+|-inf) dBFS, inte överstyrd\.)"},
        {text(Text::Cut), R"(Klipp \d,\d\d–\d,\d\d s av \d,\d\d s, automatiskt)"},
    };
    for (const auto& [said, pattern] : shown)
        EXPECT_TRUE(
            QRegularExpression(QRegularExpression::anchoredPattern(QString::fromUtf8(pattern)))
                .match(said)
                .hasMatch())
            << said.toStdString();
    struct Case {
        const char* name;
        void (StudioSession::*move)();
        int times;
        TrimPoints cut;
    };
    const Case cases[] = {
        {"start earlier", &StudioSession::cutStartEarlier, 3, {found.start - 3 * Step, found.end}},
        {"start later", &StudioSession::cutStartLater, 2, {found.start + 2 * Step, found.end}},
        {"end earlier", &StudioSession::cutEndEarlier, 1, {found.start, found.end - Step}},
        {"end later", &StudioSession::cutEndLater, 1, {found.start, found.end + Step}},
        {"start before the take", &StudioSession::cutStartEarlier, 100, {0, found.end}},
        {"end after the take", &StudioSession::cutEndLater, 200, {found.start, frames}},
        {"start past the end", &StudioSession::cutStartLater, 300, {found.end - Step, found.end}},
        {"end past the start",
         &StudioSession::cutEndEarlier,
         300,
         {found.start, found.start + Step}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (int i = 0; i < c.times; ++i)
            (session.get()->*c.move)();
        EXPECT_EQ(chosen().trim, c.cut);
        EXPECT_EQ(chosen().figures.clip.frames, c.cut.frames());
        const QString start =
            QString::number(double(c.cut.start) / Rate, 'f', 2).replace(u'.', u',');
        EXPECT_TRUE(text(Text::Cut).contains(start)) << text(Text::Cut).toStdString();
        session->listen();
        EXPECT_EQ(std::int64_t(player->heldSamples.back()), c.cut.frames()) << "P plays the cut";
        session->resetCut();
        EXPECT_EQ(chosen().trim, found);
        EXPECT_TRUE(text(Text::Cut).endsWith(QStringLiteral("automatiskt")));
    }
}

// A clipped sound before the word, cut away: the warning and the figures go with it, keep
// no longer asks about clipping and saves the cut as it now is.
TEST_F(StudioSessionTest, FiguresFollowTheCutAndKeepSavesIt) {
    folder.lists();
    open();
    test::WordShape bang;
    bang.clipped = true;
    bang.bursts = 1;
    bang.tailSeconds = 0.0;
    bang.trailSeconds = 0.3;
    test::WordShape word;
    word.leadSeconds = 0.0;
    std::vector<float> samples = test::makeWord(bang, Rate).samples;
    const std::vector<float> rest = test::makeWord(word, Rate).samples;
    samples.insert(samples.end(), rest.begin(), rest.end());
    ASSERT_NO_FATAL_FAILURE(record(samples));
    ASSERT_TRUE(chosen().warnings.contains(QStringLiteral("överstyrd")));
    const double peakBefore = chosen().figures.clip.peakDbfs;

    // The bang is 0.15 s from 0.2 s into the take; the word starts 0.3 s after it.
    for (int i = 0; i < 25; ++i)
        session->cutStartLater();
    EXPECT_FALSE(chosen().figures.clipped);
    EXPECT_FALSE(chosen().warnings.contains(QStringLiteral("överstyrd")));
    EXPECT_LT(chosen().figures.clip.peakDbfs, peakBefore - 6.0);
    EXPECT_TRUE(text(Text::Figures).contains(QStringLiteral("inte överstyrd")));
    EXPECT_FALSE(session->takeRow(0).contains(u"överstyrd"));

    const TrimPoints cut = chosen().trim;
    QSignalSpy saved(session.get(), &StudioSession::saved);
    session->keep();
    ASSERT_TRUE(saved.wait(10000));
    EXPECT_TRUE(answers->asked.isEmpty()) << answers->asked.join(u'|').toStdString();
    const std::optional<SoundFileInfo> file =
        soundFileInfo(QFile::encodeName(folder.dir.filePath(saved.front()[0].toString())));
    ASSERT_TRUE(file);
    EXPECT_EQ(file->frames, cut.frames());
}

// The cut chosen is kept with the raw take, also when it is moved before the take is on
// disk, and a take read back later is cut there; so is the automatic cut put back.
TEST_F(StudioSessionTest, TheChosenCutIsKeptWithTheTake) {
    folder.lists();
    open();
    ASSERT_NO_FATAL_FAILURE(record(test::makeWord({}, Rate).samples));
    session->cutStartEarlier();
    session->cutEndLater();
    session->cutEndLater();
    const TrimPoints found = chosen().autoTrim;
    const TrimPoints moved{found.start - Step, found.end + 2 * Step};
    ASSERT_EQ(chosen().trim, moved);

    ASSERT_TRUE(reopen());
    EXPECT_EQ(chosen().trim, moved);
    EXPECT_EQ(chosen().autoTrim, found);
    EXPECT_TRUE(text(Text::Cut).endsWith(QStringLiteral("flyttat")));
    session->resetCut();
    ASSERT_TRUE(reopen());
    EXPECT_EQ(chosen().trim, found);
}

} // namespace
} // namespace brumlis
