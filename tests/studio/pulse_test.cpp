// The whole path on a private PulseAudio server: known words are played into a null sink
#include "brumlis/qtbridge/files.h"
// "mic" whose monitor is the default input, found and trimmed by the session's recorder, and
// saved. The server passes float samples through untouched at 48 kHz mono, so every edge
// of the played sound can be found again in what the studio recorded.
#include "brumlis/linuxaudio/playerfactory.h"
#include "brumlis/linuxaudio/soundinput.h"
#include "brumlis/soundfiles/loudness.h"
#include "studiofixture.h"
#include "support/pulsecapture.h"
#include "support/pulseserver.h"

#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/inotify.h>
#include <unistd.h>

namespace brumlis {
namespace {

constexpr int Rate = SoundInput::CaptureRate;
constexpr double Ms = Rate / 1000.0;

bool pactl(const QStringList& args) {
    QProcess p;
    p.start(QStringLiteral("pactl"), args);
    return p.waitForFinished(10000) && p.exitCode() == 0;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class StudioOnServer : public ::testing::Test {
protected:
    void SetUp() override {
        folder.lists();
        folder.list("verb_pre", "gömmer sig");
        // The voice the takes are matched to: three recordings, the middle one the median.
        for (const auto& [name, dbfs] :
             {std::pair{"Kalle.wav", -20.0}, {"Lisa.wav", -29.0}, {"Nils.wav", -24.0}})
            folder.recording(QString::fromUtf8(name), dbfs);
        std::vector<double> levels;
        for (const char* name : {"Kalle.wav", "Lisa.wav", "Nils.wav"})
            levels.push_back(measureClip(QFile::encodeName(folder.sound(QString::fromUtf8(name))))
                                 ->loudnessLufs);
        median = *brumlis::median(levels);

        ASSERT_NO_FATAL_FAILURE(startServer());

        auto questions = std::make_unique<test::AnsweringQuestions>();
        answers = questions.get();
        session = std::make_unique<StudioSession>(makeSoundInput({}), folder.dir.path(),
                                                  std::move(questions), nullptr);
        QSignalSpy read(session.get(), &StudioSession::folderRead);
        QSignalSpy level(&session->recorder(), &Recorder::level);
        session->setPlayEachTake(false);
        ASSERT_TRUE(read.count() > 0 || read.wait(10000));
        ASSERT_TRUE(level.wait(10000)) << "the input never ran";
        ASSERT_TRUE(session->canDo(StudioSession::Action::Record));
    }
    /// The server, with a null sink "mic" whose monitor is the default input.
    void startServer() {
        QString why;
        ASSERT_TRUE(server.start(&why)) << "cannot test on a sound server: " << why.toStdString();
        ASSERT_TRUE(pactl({QStringLiteral("load-module"), QStringLiteral("module-null-sink"),
                           QStringLiteral("sink_name=mic"), QStringLiteral("rate=48000"),
                           QStringLiteral("channels=1"), QStringLiteral("format=float32le")}));
        ASSERT_TRUE(pactl({QStringLiteral("set-default-source"), QStringLiteral("mic.monitor")}));
    }
    void TearDown() override {
        if (player.state() != QProcess::NotRunning)
            player.waitForFinished(10000);
        session.reset();
    }

    /// Plays `samples` into mic; returns at once.
    void say(const std::vector<float>& samples) {
        const QString file = folder.dir.filePath(QStringLiteral("said-%1.wav").arg(++m_said));
        ASSERT_TRUE(writeFileAtomically(file, encodeFloatWav(samples, Rate, nullptr)));
        if (player.state() != QProcess::NotRunning)
            player.waitForFinished(10000);
        player.start(QStringLiteral("paplay"), {QStringLiteral("--device=mic"), file});
        ASSERT_TRUE(player.waitForStarted(5000));
    }
    /// Waits until the session shows its next take.
    StudioSession::Take nextTake() {
        QSignalSpy shown(session.get(), &StudioSession::takeShown);
        EXPECT_TRUE(shown.wait(15000)) << "no take";
        return shown.isEmpty() ? StudioSession::Take()
                               : session->takes()[std::size_t(shown.front()[0].toInt())];
    }
    QString current() const { return session->text(StudioSession::Text::CurrentWord); }

    test::PulseServer server;
    test::StudioFolder folder;
    test::AnsweringQuestions* answers = nullptr;
    std::unique_ptr<StudioSession> session;
    QProcess player;
    double median = 0;

private:
    int m_said = 0;
};

// Where the played word starts in a recorded take: its first sample well over the noise.
std::int64_t onsetIn(const std::vector<float>& raw) {
    for (std::size_t i = 0; i < raw.size(); ++i)
        if (std::fabs(raw[i]) > 0.05f)
            return std::int64_t(i);
    return -1;
}

TEST_F(StudioOnServer, TheVoiceStartsATakeThatIsTrimmedToItAndAClippedOneIsRefused) {
    session->setStartOnVoice(true);
    QSignalSpy started(&session->recorder(), &Recorder::takeStarted);
    QSignalSpy stored(session.get(), &StudioSession::takeStored);

    // Noise under the start level first, then the word in a quieter noise.
    test::WordShape noise;
    noise.bursts = 0;
    noise.tailSeconds = 0;
    noise.leadSeconds = 0;
    noise.trailSeconds = 1.2;
    noise.noiseDbfs = -50.0;
    test::WordShape shape;
    shape.noiseDbfs = -62.0;
    const test::SpokenWord word = test::makeWord(shape, Rate);
    std::vector<float> said = test::makeWord(noise, Rate).samples;
    said.insert(said.end(), word.samples.begin(), word.samples.end());
    say(said);

    const StudioSession::Take take = nextTake();
    ASSERT_FALSE(take.raw.empty());
    EXPECT_EQ(started.count(), 1) << "the noise started a take of its own";
    // The take holds 200 ms from before the voice, and none of the noise before that.
    const std::int64_t onset = onsetIn(take.raw);
    EXPECT_NEAR(double(onset), 200 * Ms, 15 * Ms);
    const double soundLength = double(word.soundEnd - word.soundStart);
    EXPECT_NEAR(double(take.trim.start), double(onset) - 50 * Ms, 10 * Ms);
    EXPECT_NEAR(double(take.trim.end), double(onset) + soundLength + 50 * Ms, 10 * Ms);
    const std::vector<float> clip = applyTrim(take.raw, take.trim, Rate);
    const std::int64_t tail = onset + (word.tailStart - word.soundStart) - take.trim.start;
    EXPECT_NEAR(test::rmsDbfs(clip, tail, tail + 70 * std::int64_t(Ms)), shape.tailDbfs, 1.5)
        << "the quiet tail was cut off";
    EXPECT_FALSE(take.figures.clipped);

    // Kept raw, with the cut, where check does not look.
    ASSERT_TRUE(stored.count() > 0 || stored.wait(10000));
    const QString word1 = session->queue().currentEntry()->word.soundPath;
    const TakeStore store(folder.dir.path());
    const std::vector<StoredTake> kept = store.takes(word1);
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].trim, take.trim);
    EXPECT_EQ(store.load(kept[0])->samples, take.raw);

    // A clipped take is refused, unless the user keeps it anyway.
    test::WordShape hot;
    hot.clipped = true;
    say(test::makeWord(hot, Rate).samples);
    const StudioSession::Take clipped = nextTake();
    EXPECT_TRUE(clipped.figures.clipped);
    const QString soundFile = folder.dir.filePath(word1);
    session->keep();
    ASSERT_EQ(answers->asked.size(), 1);
    EXPECT_TRUE(answers->asked.front().contains(QStringLiteral("överstyrd")));
    EXPECT_FALSE(QFile::exists(soundFile));
    EXPECT_EQ(session->queue().currentEntry()->word.soundPath, word1) << "still on the word";

    answers->answers.push_back(StudioQuestions::Answer::Yes);
    QSignalSpy saved(session.get(), &StudioSession::saved);
    session->keep();
    ASSERT_TRUE(saved.wait(10000));
    EXPECT_TRUE(QFile::exists(soundFile));
}

struct Events {
    std::vector<std::pair<std::uint32_t, QString>> list;
    bool onlyMovedIn(const QString& name) const {
        bool seen = false;
        for (const auto& [mask, file] : list)
            if (file == name) {
                if (mask != IN_MOVED_TO)
                    return false;
                seen = true;
            }
        return seen;
    }
};

Events drain(int fd) {
    Events events;
    alignas(inotify_event) char buffer[64 * 1024];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        for (char* p = buffer; p < buffer + n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(p);
            events.list.emplace_back(e->mask, e->len ? QFile::decodeName(e->name) : QString());
            p += sizeof(inotify_event) + e->len;
        }
    return events;
}

// Saved at the voice's median loudness under the word's exact name, which shows the file
// only once it is whole; a retake replaces it after a question, and undo brings it back.
TEST_F(StudioOnServer, SavesAtTheVoicesLoudnessUnderTheExactNameRetakesAndUndoes) {
    session->chooseWord(test::indexOf(*session, QStringLiteral("gömmer sig")));
    ASSERT_EQ(current(), QStringLiteral("gömmer sig"));
    const QString name = QStringLiteral("gömmer sig.wav");
    const QString soundFile = folder.sound(name);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, QFile::encodeName(folder.sound({})).constData(),
                                  IN_CREATE | IN_MODIFY | IN_CLOSE_WRITE | IN_MOVED_TO |
                                      IN_MOVED_FROM | IN_DELETE),
              0);

    session->toggleRecording();
    say(test::makeWord({}, Rate).samples);
    ASSERT_FALSE(nextTake().raw.empty());
    QSignalSpy saved(session.get(), &StudioSession::saved);
    session->keep();
    ASSERT_TRUE(saved.wait(10000));
    EXPECT_TRUE(drain(watch).onlyMovedIn(name)) << "a half-written file had the word's name";

    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(soundFile).constData(), SFM_READ, &info);
    ASSERT_TRUE(file);
    sf_close(file);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    const std::optional<ClipMeasure> measure = measureClip(QFile::encodeName(soundFile));
    ASSERT_TRUE(measure);
    EXPECT_NEAR(measure->loudnessLufs, median, 0.5);
    EXPECT_LE(measure->peakDbfs, -1.0);
    const QByteArray first = readFile(soundFile);

    // A retake, louder, after a question.
    session->back();
    ASSERT_EQ(current(), QStringLiteral("gömmer sig"));
    test::WordShape louder;
    louder.burstDbfs = -6.0;
    session->newTake();
    say(test::makeWord(louder, Rate).samples);
    ASSERT_FALSE(nextTake().raw.empty());
    answers->answers.push_back(StudioQuestions::Answer::Yes);
    session->keep();
    ASSERT_TRUE(saved.wait(10000));
    ASSERT_EQ(answers->asked.size(), 1);
    EXPECT_TRUE(answers->asked.front().contains(QStringLiteral("redan en inspelning")));
    EXPECT_TRUE(drain(watch).onlyMovedIn(name));
    const QByteArray second = readFile(soundFile);
    EXPECT_NE(second, first);
    EXPECT_NEAR(measureClip(QFile::encodeName(soundFile))->loudnessLufs, median, 0.5);

    QSignalSpy undone(session.get(), &StudioSession::undone);
    session->undo();
    ASSERT_TRUE(undone.wait(10000));
    EXPECT_TRUE(undone.front()[1].toBool());
    EXPECT_EQ(readFile(soundFile), first) << "undo brings the first save back";
    ::close(watch);
    // Every raw take is still there.
    const std::vector<StoredTake> takes =
        TakeStore(folder.dir.path()).takes(QStringLiteral("sound/gömmer sig.wav"));
    ASSERT_EQ(takes.size(), 2u);
    EXPECT_EQ(takes[0].number, 1);
    EXPECT_EQ(takes[1].number, 2);
}

// The studio records and plays on the program's one connection to the server, which comes
// back by itself when the server restarts: the same studio records and is heard again.
TEST_F(StudioOnServer, AfterTheServerRestartsItRecordsAndPlaysAgain) {
    const auto connection = makeSoundServerConnection();
    session = std::make_unique<StudioSession>(
        makeSoundInput(connection), folder.dir.path(), std::make_unique<test::AnsweringQuestions>(),
        createSystemPlayer(corePath(folder.dir.path()), connection));
    session->setPlayEachTake(false);
    session->setStartOnVoice(true);
    QSignalSpy level(&session->recorder(), &Recorder::level);
    ASSERT_TRUE(level.wait(10000)) << "the input never ran";

    QSignalSpy texts(session.get(), &StudioSession::textChanged);
    server.stop();
    while (session->text(StudioSession::Text::Notice).isEmpty())
        ASSERT_TRUE(texts.wait(10000)) << "the server's going went unnoticed";
    ASSERT_NO_FATAL_FAILURE(startServer());
    level.clear();
    ASSERT_TRUE(level.wait(15000)) << "the input never came back";
    EXPECT_EQ(session->text(StudioSession::Text::Notice), QString());

    say(test::makeWord({}, Rate).samples);
    const StudioSession::Take take = nextTake();
    ASSERT_TRUE(take.voiced) << "nothing recorded after the restart";
    test::PulseCapture heard;
    std::string why;
    ASSERT_TRUE(heard.start("brumlis_test.monitor", &why)) << why;
    ASSERT_TRUE(heard.waitUntilFlowing());
    ASSERT_TRUE(session->canDo(StudioSession::Action::Listen));
    session->listen();
    EXPECT_TRUE(heard.waitUntil(
        [](const std::vector<float>& left) {
            return std::any_of(left.begin(), left.end(),
                               [](float x) { return std::fabs(x) > 0.05f; });
        },
        10000))
        << "the take was not heard";
}

} // namespace
} // namespace brumlis
