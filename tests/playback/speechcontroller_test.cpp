#include "brumlis/playback/speechcontroller.h"
#include "brumlis/sentence/sentencebuffer.h"
#include "support/fakes.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <vector>

namespace brumlis {
namespace {

using namespace std::chrono_literals;
using State = SpeechController::State;
using Press = SpeechController::Press;

const QStringList Words = {QStringLiteral("Kalle"), QStringLiteral("tycker att"),
                           QStringLiteral("Lisa"), QStringLiteral("är"), QStringLiteral("glad")};

SentenceBuffer sentence() {
    SentenceBuffer buffer;
    for (int i = 0; i < Words.size(); ++i) {
        buffer.WordText(i) = Words[i];
        buffer.SoundFile(i) = QStringLiteral("sound/%1.wav").arg(Words[i]);
    }
    return buffer;
}

// The label after slots 0..last have been shown.
QString labelAfter(int last) {
    QString text;
    for (int i = 0; i <= last; ++i)
        text += (i < Words.size() ? Words[i] : QString()) + u' ';
    return text;
}

// Delivers what the player has reported so far.
void deliver() {
    QCoreApplication::sendPostedEvents();
}

// A controller whose player reports only when the test says so.
struct Rig {
    Rig() {
        auto fake = std::make_unique<test::FakePlayer>();
        fake->hearAtOnce = false;
        player = fake.get();
        speech = std::make_unique<SpeechController>(view, std::move(fake));
    }

    test::FakeView view;
    test::FakePlayer* player = nullptr;
    std::unique_ptr<SpeechController> speech;
};

class Controller : public testing::Test, protected Rig {};

// How a sentence's reports may come: in order, words are shown one by one as their clips
// are reported; however the player ends, the sentence ends only with everything shown.
TEST_F(Controller, EachWordIsShownWhenItsClipIsHeardAndTheButtonsComeBackAtTheEnd) {
    struct Case {
        const char* name;
        int reportedBeforeEnd; // clips reported one by one before AllHeard
        bool stallAfterFirst;
    };
    const Case cases[] = {
        {"every clip reported", 15, false},
        {"a device that stalls after the first clip", 15, true},
        {"the end reported before the last clips", 3, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        view = {};
        QSignalSpy shown(speech.get(), &SpeechController::wordShown);
        QSignalSpy ended(speech.get(), &SpeechController::sentenceEnded);
        QSignalSpy stalled(speech.get(), &SpeechController::deviceStalled);
        speech->SpeakSentence(sentence());
        EXPECT_EQ(speech->state(), State::Speaking);
        ASSERT_EQ(player->spoken.size(), std::size_t(&c - cases) + 1);
        EXPECT_EQ(player->spoken.back().size(), 15);
        EXPECT_EQ(player->spoken.back()[2], QStringLiteral("sound/Lisa.wav"));
        EXPECT_EQ(view.label, QString()) << "the label is cleared first";

        for (int k = 0; k < c.reportedBeforeEnd; ++k) {
            EXPECT_EQ(view.label, k == 0 ? QString() : labelAfter(k - 1))
                << "word " << k << " early";
            player->hear(k);
            if (k == 0 && c.stallAfterFirst)
                player->stall();
            deliver();
            EXPECT_EQ(view.label, labelAfter(k)) << k;
            EXPECT_FALSE(view.generateEnabled) << k;
            EXPECT_FALSE(view.repeatEnabled) << k;
        }
        EXPECT_EQ(ended.size(), 0);
        player->allHeard();
        deliver();
        EXPECT_EQ(view.label, labelAfter(14));
        EXPECT_EQ(shown.size(), 15);
        EXPECT_EQ(ended.size(), 1);
        EXPECT_EQ(stalled.size(), c.stallAfterFirst ? 1 : 0);
        EXPECT_TRUE(view.generateEnabled && view.repeatEnabled && view.generateFocused);
        EXPECT_EQ(speech->state(), State::Idle);
    }
}

TEST_F(Controller, AWordWaitsForItsTimeAndTheSentenceForItsLastFrame) {
    speech->SpeakSentence(sentence());
    QSignalSpy shown(speech.get(), &SpeechController::wordShown);
    QSignalSpy ended(speech.get(), &SpeechController::sentenceEnded);
    const SoundClock::time_point heard = SoundClock::now() + 120ms;
    player->hear(0, heard);
    deliver();
    EXPECT_EQ(view.label, QString()) << "shown long before it is heard";
    ASSERT_TRUE(shown.wait(2000));
    EXPECT_GE(SoundClock::now(), heard - SpeechController::Lead - SpeechController::Soon);

    for (int k = 1; k < 15; ++k)
        player->hear(k, heard);
    const SoundClock::time_point end = SoundClock::now() + 80ms;
    player->allHeard(end);
    ASSERT_TRUE(ended.wait(2000));
    EXPECT_GE(SoundClock::now(), end) << "the buttons came back before the last frame was heard";
    EXPECT_EQ(view.label, labelAfter(14));
}

// The server's timing after a stream starts can move a word: a later report of a clip moves
// its word while it is not shown yet, and is ignored once it is.
TEST_F(Controller, AClipReportedAgainMovesItsWordUntilItIsShown) {
    speech->SpeakSentence(sentence());
    QSignalSpy shown(speech.get(), &SpeechController::wordShown);
    const SoundClock::time_point guessed = SoundClock::now() + 10s;
    player->hear(0, guessed);
    deliver();
    player->hear(0, SoundClock::now() + 50ms);
    ASSERT_TRUE(shown.wait(5000));
    EXPECT_LT(SoundClock::now(), guessed - SpeechController::Lead);
    player->hear(0, SoundClock::now() + 1s);
    player->hear(1, SoundClock::now());
    deliver();
    EXPECT_EQ(view.label, labelAfter(1)) << "a word shown twice, or the next one held up";
}

TEST_F(Controller, StoppingEndsTheSentenceAtOnceAndItsLaterReportsAreIgnored) {
    QSignalSpy ended(speech.get(), &SpeechController::sentenceEnded);
    speech->stop();
    EXPECT_EQ(player->stops, 0) << "nothing was being spoken";
    speech->speak({QStringLiteral("Kalle")}, {Clip::held(std::vector<float>(480), 48000)});
    ASSERT_EQ(player->heldSamples.back(), 480u);
    speech->stop();
    EXPECT_EQ(player->stops, 1);
    EXPECT_EQ(ended.size(), 1);
    EXPECT_EQ(speech->state(), State::Idle);
    EXPECT_TRUE(view.generateEnabled && view.repeatEnabled);
    player->hear(0);
    player->allHeard();
    deliver();
    EXPECT_EQ(view.label, QString());
    EXPECT_EQ(ended.size(), 1);
}

TEST_F(Controller, ClosingStopsTheSoundAndNothingOfThatSentenceComesAfter) {
    QSignalSpy ended(speech.get(), &SpeechController::sentenceEnded);
    speech->SpeakSentence(sentence());
    for (int k = 0; k < 3; ++k)
        player->hear(k);
    deliver();
    speech->close();
    EXPECT_EQ(player->stops, 1);
    // Reports already on their way, and a sentence spoken after the close.
    player->hear(3);
    player->allHeard();
    speech->SpeakSentence(sentence());
    deliver();
    EXPECT_EQ(view.label, labelAfter(2));
    EXPECT_EQ(player->spoken.size(), 1u);
    EXPECT_EQ(ended.size(), 0);
    EXPECT_FALSE(view.generateEnabled || view.repeatEnabled);
    EXPECT_EQ(speech->state(), State::Closed);
}

TEST_F(Controller, ReportsOfAnEarlierSentenceAreIgnored) {
    speech->SpeakSentence(sentence());
    const std::uint64_t first = player->current;
    player->hear(0);
    deliver();
    // The first sentence is cut off by the next one (as the CLI does between sentences).
    speech->SpeakSentence(sentence());
    player->send({PlayerEvent::Kind::ClipHeard, first, 1, SoundClock::now()});
    player->send({PlayerEvent::Kind::AllHeard, first, -1, SoundClock::now()});
    deliver();
    EXPECT_EQ(view.label, QString());
    EXPECT_EQ(speech->state(), State::Speaking);
}

TEST_F(Controller, APressIsTakenOnlyWhenIdleAndPressedWhileIdle) {
    struct Case {
        const char* name;
        State state;
        Press press;
        bool pressedFirst; // the press was noted in that state (else: a click without a press)
        bool taken;
        State after;
    };
    const Case cases[] = {
        {"Generera when idle", State::Idle, Press::Generate, true, true, State::Composing},
        {"Repetera when idle", State::Idle, Press::Repeat, true, true, State::Idle},
        {"Informera when idle", State::Idle, Press::About, false, true, State::Idle},
        {"Generera while composing", State::Composing, Press::Generate, true, false,
         State::Composing},
        {"Repetera while composing", State::Composing, Press::Repeat, false, false,
         State::Composing},
        {"Informera while composing", State::Composing, Press::About, true, false,
         State::Composing},
        {"Generera while speaking", State::Speaking, Press::Generate, false, false,
         State::Speaking},
        {"Repetera while speaking", State::Speaking, Press::Repeat, true, false, State::Speaking},
        {"Informera while speaking", State::Speaking, Press::About, true, false, State::Speaking},
        {"Generera once closed", State::Closed, Press::Generate, false, false, State::Closed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig fresh;
        SpeechController& s = *fresh.speech;
        if (c.state == State::Composing) {
            ASSERT_TRUE(s.take(Press::Generate));
        }
        if (c.state == State::Speaking)
            s.SpeakSentence(sentence());
        if (c.state == State::Closed)
            s.close();
        if (c.pressedFirst)
            s.notePress(c.press);
        EXPECT_EQ(s.take(c.press), c.taken);
        EXPECT_EQ(s.state(), c.after);
    }
}

TEST_F(Controller, APressMadeWhileSpeakingIsDroppedWhenItsClickComesAfterTheEnd) {
    speech->SpeakSentence(sentence());
    speech->notePress(Press::About);
    speech->notePress(Press::Repeat);
    player->hearAll();
    deliver();
    ASSERT_EQ(speech->state(), State::Idle);
    EXPECT_FALSE(speech->take(Press::About));
    EXPECT_FALSE(speech->take(Press::Repeat));
    // The next press is a new one.
    speech->notePress(Press::About);
    EXPECT_TRUE(speech->take(Press::About));
}

} // namespace
} // namespace brumlis
