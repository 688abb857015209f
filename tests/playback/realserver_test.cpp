// The engine on the sound servers desktops run: a private PulseAudio, and a private
// PipeWire with WirePlumber and pipewire-pulse, each with a null sink whose monitor is
// recorded, so every frame the server played (and every frame of silence it had to
// insert) can be counted.
#include "brumlis/linuxaudio/playerfactory.h"
#include "brumlis/playback/speechcontroller.h"
#include "brumlis/qtbridge/qtspeechloop.h"
#include "brumlis/qtbridge/text.h"
#include "brumlis/sentence/sentencebuffer.h"
#include "brumlis/sentence/shapes.h"
#include "brumlis/text/text.h"
#include "support/capture.h"
#include "support/fakes.h"
#include "support/levelclip.h"
#include "support/playerevents.h"
#include "support/pulsecapture.h"
#include "support/soundservers.h"
#include "support/tempdir.h"
#include "support/windowprocess.h"

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <string>

namespace brumlis {
namespace {

struct Clip {
    const char* name;
    int rate;
    int frames; // at its own rate
    float level;
};
const Clip Clips[] = {
    {"ett", 48000, 9000, 0.2f},   {"två", 22050, 6615, 0.35f}, {"tre", 44100, 13230, 0.5f},
    {"fyra", 48000, 4800, 0.65f}, {"fem", 16000, 4000, 0.8f},
};
constexpr int ClipCount = int(std::size(Clips));

// Both servers call the sink the same.
const std::string Monitor = std::string(test::PulseServer::Sink) + ".monitor";

/// At least 20 ms of silence after sound: the end of a sentence has passed the monitor.
bool endsInSilence(const std::vector<float>& left) {
    constexpr std::size_t Quiet = 960;
    std::size_t zeros = 0;
    for (auto it = left.rbegin(); it != left.rend(); ++it, ++zeros)
        if (*it != 0.0f)
            return zeros >= Quiet;
    return false;
}

class RealServer : public testing::TestWithParam<test::ServerKind> {
protected:
    void SetUp() override {
        m_dir.mkdir(QStringLiteral("sound"));
        for (const Clip& c : Clips)
            ASSERT_TRUE(test::writeLevelClip(
                m_dir.filePath(QStringLiteral("sound/%1.wav").arg(QString::fromUtf8(c.name))),
                SF_FORMAT_PCM_16, c.rate, 1, c.frames, c.level));
        m_server = test::makeSoundServer(GetParam());
        QString why;
        ASSERT_TRUE(m_server->start(&why))
            << "cannot test on " << m_server->name().toStdString() << ": " << why.toStdString();
    }

    SentenceBuffer sentence() const {
        SentenceBuffer buffer;
        for (int i = 0; i < ClipCount; ++i) {
            buffer.WordText(i) = fromUtf8(Clips[i].name);
            buffer.SoundFile(i) = u"sound\\" + buffer.WordText(i) + u".wav";
        }
        return buffer;
    }

    /// Speaks the sentence while the monitor is recorded; checks every clip was heard
    /// whole, in order, without a frame of silence between the first and the last.
    void speakAndCheck(SoundPlayer& engine) {
        test::PulseCapture capture;
        std::string why;
        ASSERT_TRUE(capture.start(Monitor.c_str(), &why)) << why;
        ASSERT_TRUE(capture.waitUntilFlowing()) << "the capture never ran";
        test::PlayerEvents events(engine);
        engine.speak(++m_sentences, test::pathsOf(sentence()));
        const std::vector<PlayerEvent> reports = events.untilAllHeard();
        ASSERT_FALSE(reports.empty());
        ASSERT_EQ(reports.back().kind, PlayerEvent::Kind::AllHeard);
        // Until the monitor has passed on the moment the engine says the last frame was
        // heard, and the silence after that frame, however early the engine said it.
        ASSERT_TRUE(capture.waitPast(reports.back().at, 10000)) << "the capture stopped";
        ASSERT_TRUE(capture.waitUntil(endsInSilence, 10000)) << "the sentence never ended";
        capture.stop();
        const test::Heard heard = test::analyse(capture.left(), levels());
        EXPECT_EQ(heard.zerosInside, 0) << "silence inserted: " << test::describe(heard);
        ASSERT_EQ(heard.runs.size(), std::size_t(ClipCount))
            << "clips missing, split or reordered: " << test::describe(heard);
        for (int i = 0; i < ClipCount; ++i) {
            SCOPED_TRACE(Clips[i].name);
            EXPECT_EQ(heard.runs[std::size_t(i)].clip, i);
            // Resampled clips may gain or lose a frame at their edges, where they are faded
            // to nearly nothing.
            const long expected = std::lround(double(Clips[i].frames) * 48000 / Clips[i].rate);
            EXPECT_NEAR(heard.runs[std::size_t(i)].frames, expected, 2);
        }
    }

    static std::vector<float> levels() {
        std::vector<float> l;
        for (const Clip& c : Clips)
            l.push_back(c.level);
        return l;
    }

    test::TempDir m_dir;
    std::unique_ptr<test::SoundServer> m_server;
    std::uint64_t m_sentences = 0;
};

TEST_P(RealServer, ASentenceIsHeardWholeInOrderWithoutSilence) {
    auto engine = createSystemPlayer(corePath(m_dir.path()));
    speakAndCheck(*engine);
    // The sound server's own protocol, not SDL's drivers: only it says when a frame is heard.
    EXPECT_TRUE(test::playbackStreams().contains("application.id = \"se.brumlis.brumlis\""));
}

TEST_P(RealServer, AfterTheServerRestartedTheNextSentenceIsHeard) {
    auto engine = createSystemPlayer(corePath(m_dir.path()));
    speakAndCheck(*engine);
    m_server->stop();
    QString why;
    ASSERT_TRUE(m_server->start(&why)) << why.toStdString();
    speakAndCheck(*engine);
}

// A data folder of one word a list, every word and phrase recorded two seconds long: any
// sentence is four words or more, so one that has sounded for less than two seconds is
// still at its first.
constexpr long WordFrames = 2 * 48000;

void writeLongWords(const test::TempDir& data) {
    const auto record = [&](const std::u16string& sound) {
        return test::writeLevelClip(data.filePath(qt(sound)), SF_FORMAT_PCM_16, 48000, 1,
                                    WordFrames, 0.5f);
    };
    data.mkdir(QStringLiteral("sound"));
    const ShapeVocabulary vocabulary = vocabularyOf(builtinShapes());
    for (const std::u16string& list : vocabulary.classes) {
        data.write(QStringLiteral("text/") + qt(list) + QStringLiteral(".txt"),
                   qt(list).toUtf8() + '\n');
        ASSERT_TRUE(record(u"sound/" + list + u".wav"));
    }
    for (const std::u16string& phrase : vocabulary.phrases)
        ASSERT_TRUE(record(phraseSoundPath(phrase)));
}

// How soon it ends is bench-servers' figure; here, that it ends, and in the ordinary way.
TEST_P(RealServer, TheWindowEndsWhileTheServerIsFrozen) {
    test::TempDir data;
    ASSERT_NO_FATAL_FAILURE(writeLongWords(data));
    test::PulseCapture capture;
    std::string why;
    ASSERT_TRUE(capture.start(Monitor.c_str(), &why)) << why;
    ASSERT_TRUE(capture.waitUntilFlowing()) << "the capture never ran";
    test::XDisplay display;
    QString noDisplay;
    ASSERT_TRUE(display.start(&noDisplay)) << noDisplay.toStdString();
    test::WindowProcess brumlis(display, QStringLiteral(BRUMLIS_BIN), data.path());
    ASSERT_TRUE(brumlis.painted()) << "the window never showed: " << brumlis.log().toStdString();

    // Frozen the moment the sentence's first frames leave the server.
    ASSERT_TRUE(brumlis.generate());
    std::size_t scanned = 0;
    long sounded = 0;
    const bool heard = capture.waitUntil(
        [&](const std::vector<float>& left) {
            for (; scanned < left.size(); ++scanned)
                sounded += left[scanned] != 0.0f;
            return sounded > 0;
        },
        30000);
    m_server->freeze();
    ASSERT_TRUE(heard) << "Generera was never heard: " << brumlis.log().toStdString();
    EXPECT_LT(sounded, WordFrames) << "frozen past the first word";

    // Far longer than it takes: only a program that hangs on the server reaches it.
    const bool ended = brumlis.close().has_value();
    m_server->thaw();
    ASSERT_TRUE(ended) << "still running 10 s after it was asked to end";
    EXPECT_TRUE(brumlis.endedNormally()) << brumlis.log().toStdString();
}

// Every word goes on screen in step with its sound, the first word of a sentence too: after
// the word before it was first heard, and before the word after it is. (The stream's
// figures right after it starts are stale; the word follows the server's fresh ones.) How
// long before its own sound a word is shown is bench-servers' figure.
TEST_P(RealServer, EveryWordIsShownInStepWithItsSound) {
    struct View final : SentenceView {
        void sentenceStarted() override {}
        void wordShown(int, const std::u16string&) override { shown.push_back(SoundClock::now()); }
        void sentenceEnded() override { loop.quit(); }
        QEventLoop loop;
        std::vector<SoundClock::time_point> shown;
    } view;
    test::PulseCapture capture;
    std::string why;
    ASSERT_TRUE(capture.start(Monitor.c_str(), &why)) << why;
    ASSERT_TRUE(capture.waitUntilFlowing()) << "the capture never ran";
    QtSpeechLoop loop;
    SpeechController speech(view, createSystemPlayer(corePath(m_dir.path())), loop);
    struct Spoken {
        SoundClock::time_point called;
        std::vector<SoundClock::time_point> shown;
    };
    std::vector<Spoken> spoken;
    for (int n = 0; n < 6; ++n) {
        view.shown.clear();
        spoken.push_back({SoundClock::now(), {}});
        speech.SpeakSentence(sentence());
        // Bounded, so that a sentence that never ends fails the test.
        QTimer bound;
        bound.setSingleShot(true);
        QObject::connect(&bound, &QTimer::timeout, &view.loop, [&] { view.loop.exit(1); });
        bound.start(10000);
        ASSERT_EQ(view.loop.exec(), 0) << "sentence " << n << " never ended";
        spoken.back().shown = view.shown;
        // Each sentence apart from the next, so that it is told from it in the capture.
        ASSERT_TRUE(capture.waitPast(SoundClock::now() + std::chrono::milliseconds(200), 10000));
    }
    ASSERT_TRUE(capture.waitUntil(endsInSilence, 10000)) << "the last sentence never ended";
    capture.stop();
    const std::vector<float> left = capture.left();
    // The first sentence waited for the device to open; it is not judged.
    for (std::size_t n = 1; n < spoken.size(); ++n) {
        SCOPED_TRACE("sentence " + std::to_string(n));
        const std::size_t from = capture.indexAt(spoken[n].called);
        const std::size_t to =
            n + 1 < spoken.size() ? capture.indexAt(spoken[n + 1].called) : left.size();
        const test::Heard heard =
            test::analyse(std::vector<float>(left.begin() + std::ptrdiff_t(from),
                                             left.begin() + std::ptrdiff_t(to)),
                          levels());
        ASSERT_EQ(heard.runs.size(), std::size_t(ClipCount)) << test::describe(heard);
        ASSERT_GE(spoken[n].shown.size(), std::size_t(ClipCount));
        const auto heardAt = [&](int w) {
            return capture.timeOf(from + std::size_t(heard.runs[std::size_t(w)].start));
        };
        const auto sinceCall = [&](SoundClock::time_point t) {
            return std::chrono::duration<double, std::milli>(t - spoken[n].called).count();
        };
        for (int w = 0; w < ClipCount; ++w) {
            const SoundClock::time_point shown = spoken[n].shown[std::size_t(w)];
            if (w > 0) {
                EXPECT_GT(shown, heardAt(w - 1))
                    << "word " << w << " shown " << sinceCall(shown) << " ms after the call, "
                    << "before the word before it was heard at " << sinceCall(heardAt(w - 1));
            }
            if (w + 1 < ClipCount) {
                EXPECT_LT(shown, heardAt(w + 1))
                    << "word " << w << " shown " << sinceCall(shown) << " ms after the call, "
                    << "after the word after it was heard at " << sinceCall(heardAt(w + 1));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServer,
                         testing::Values(test::ServerKind::PulseAudio, test::ServerKind::PipeWire),
                         [](const testing::TestParamInfo<test::ServerKind>& info) {
                             return std::string(test::serverKindName(info.param));
                         });

} // namespace
} // namespace brumlis
