#include "brumlis/playback/speechcontroller.h"
#include "brumlis/sentence/sentencebuffer.h"
#include "testkit/fakes.h"
#include "testkit/text.h"

#include <gtest/gtest.h>
#include <vector>

namespace brumlis {
namespace {

using namespace std::chrono_literals;
using State = SpeechController::State;
using Press = SpeechController::Press;
using test::u;
using test::utf8;

const std::vector<std::u16string> Words = {u"Kalle", u"tycker att", u"Lisa", u"är", u"glad"};

SentenceBuffer sentence() {
    SentenceBuffer buffer;
    for (std::size_t i = 0; i < Words.size(); ++i) {
        buffer.WordText(int(i)) = Words[i];
        buffer.SoundFile(int(i)) = u"sound/" + Words[i] + u".wav";
    }
    return buffer;
}

// The label after slots 0..last have been shown.
std::u16string labelAfter(int last) {
    std::u16string text;
    for (int i = 0; i <= last; ++i)
        text += (i < int(Words.size()) ? Words[std::size_t(i)] : std::u16string()) + u' ';
    return text;
}

// A controller on a loop whose clock only the test moves, whose player reports only when
// the test says so.
struct Rig {
    Rig() {
        auto fake = std::make_unique<test::FakePlayer>();
        fake->hearAtOnce = false;
        player = fake.get();
        speech = std::make_unique<SpeechController>(view, std::move(fake), loop);
    }
    // Delivers what the player has reported so far, the clock standing still.
    void deliver() { loop.runPosted(); }
    SoundClock::time_point now() const { return loop.now(); }

    test::FakeView view;
    test::FakeLoop loop;
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
        speech->SpeakSentence(sentence());
        EXPECT_EQ(speech->state(), State::Speaking);
        ASSERT_EQ(player->spoken.size(), std::size_t(&c - cases) + 1);
        EXPECT_EQ(player->spoken.back().size(), 15u);
        EXPECT_EQ(player->spoken.back()[2], u"sound/Lisa.wav");
        EXPECT_EQ(view.told, std::vector<std::u16string>{u"started"})
            << "the label is cleared first";

        for (int k = 0; k < c.reportedBeforeEnd; ++k) {
            EXPECT_EQ(view.label, k == 0 ? std::u16string() : labelAfter(k - 1))
                << "word " << k << " early";
            player->hear(k, now());
            if (k == 0 && c.stallAfterFirst)
                player->stall();
            deliver();
            EXPECT_EQ(view.label, labelAfter(k)) << k;
            EXPECT_FALSE(view.generateEnabled) << k;
            EXPECT_FALSE(view.repeatEnabled) << k;
        }
        EXPECT_EQ(view.ended, 0);
        player->allHeard(now());
        deliver();
        EXPECT_EQ(view.label, labelAfter(14));
        EXPECT_EQ(view.shownSlots.size(), 15u);
        EXPECT_EQ(view.ended, 1);
        EXPECT_EQ(view.stalls, c.stallAfterFirst ? 1 : 0);
        EXPECT_TRUE(view.generateEnabled && view.repeatEnabled && view.generateFocused);
        EXPECT_EQ(view.busyChanges, (std::vector<bool>{true, false}));
        EXPECT_EQ(speech->state(), State::Idle);
    }
}

// A word goes on screen the player's lead before its clip is heard, to the tick of the
// clock, unless that is within SpeechController::Soon: then at once. The sentence ends when
// its last frame is heard.
TEST_F(Controller, AWordIsShownItsLeadBeforeItIsHeardAndTheSentenceEndsWithItsLastFrame) {
    struct Case {
        const char* name;
        SoundClock::duration heardIn;
        SoundClock::duration lead;
        SoundClock::duration shownIn; // after the report, by the clock
    };
    const Case cases[] = {
        {"far ahead", 120ms, 18ms, 102ms},
        {"a long lead", 200ms, 60ms, 140ms},
        {"no lead", 40ms, 0ms, 40ms},
        {"due within the soon margin: at once", 20ms, 18ms, 0ms},
        {"already late: at once", 5ms, 18ms, 0ms},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Rig rig;
        rig.speech->SpeakSentence(sentence());
        const SoundClock::time_point reported = rig.now();
        rig.player->hear(0, reported + c.heardIn, c.lead);
        rig.deliver();
        if (c.shownIn > 0ms) {
            EXPECT_TRUE(rig.view.label.empty()) << "shown before its time";
            rig.loop.advanceTo(reported + c.shownIn - SpeechController::Soon - 1ns);
            EXPECT_TRUE(rig.view.label.empty()) << "shown before its time";
            ASSERT_TRUE(rig.loop.timerAt);
            EXPECT_EQ(*rig.loop.timerAt, reported + c.shownIn);
            rig.loop.advanceTo(reported + c.shownIn);
        }
        EXPECT_EQ(rig.view.label, labelAfter(0));
        EXPECT_EQ(rig.now(), reported + std::max(c.shownIn, SoundClock::duration(0)));
    }

    speech->SpeakSentence(sentence());
    for (int k = 0; k < 15; ++k)
        player->hear(k, now());
    const SoundClock::time_point end = now() + 80ms;
    player->allHeard(end);
    deliver();
    EXPECT_EQ(view.label, labelAfter(14));
    EXPECT_EQ(view.ended, 0) << "the buttons came back before the last frame was heard";
    loop.advanceTo(end - 1ms);
    EXPECT_EQ(view.ended, 0) << "the buttons came back before the last frame was heard";
    loop.advanceTo(end);
    EXPECT_EQ(view.ended, 1);
}

// The server's timing after a stream starts can move a word: a later report of a clip moves
// its word while it is not shown yet, and is ignored once it is.
TEST_F(Controller, AClipReportedAgainMovesItsWordUntilItIsShown) {
    speech->SpeakSentence(sentence());
    const SoundClock::time_point guessed = now() + 10s;
    player->hear(0, guessed);
    deliver();
    player->hear(0, now() + 50ms);
    deliver();
    loop.advanceTo(now() + 50ms);
    EXPECT_EQ(view.label, labelAfter(0));
    player->hear(0, now() + 1s);
    player->hear(1, now());
    deliver();
    EXPECT_EQ(view.label, labelAfter(1)) << "a word shown twice, or the next one held up";
    loop.advanceTo(guessed);
    EXPECT_EQ(view.label, labelAfter(1));
}

TEST_F(Controller, StoppingEndsTheSentenceAtOnceAndItsLaterReportsAreIgnored) {
    speech->stop();
    EXPECT_EQ(player->stops, 0) << "nothing was being spoken";
    speech->speak({u"Kalle"}, {Clip::held(std::vector<float>(480), 48000)});
    ASSERT_EQ(player->heldSamples.back(), 480u);
    speech->stop();
    EXPECT_EQ(player->stops, 1);
    EXPECT_EQ(view.ended, 1);
    EXPECT_EQ(speech->state(), State::Idle);
    EXPECT_TRUE(view.generateEnabled && view.repeatEnabled);
    player->hear(0);
    player->allHeard();
    deliver();
    EXPECT_EQ(view.label, u"");
    EXPECT_EQ(view.ended, 1);
}

TEST_F(Controller, ClosingStopsTheSoundAndNothingOfThatSentenceComesAfter) {
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
    EXPECT_EQ(view.ended, 0);
    EXPECT_FALSE(view.generateEnabled || view.repeatEnabled);
    EXPECT_EQ(speech->state(), State::Closed);
}

// A report still waiting in the loop when the controller is gone finds nothing to touch.
TEST(ControllerLifetime, AReportAfterTheControllerIsGoneIsDropped) {
    test::FakeView view;
    test::FakeLoop loop;
    {
        auto fake = std::make_unique<test::FakePlayer>();
        fake->hearAtOnce = false;
        test::FakePlayer* player = fake.get();
        SpeechController speech(view, std::move(fake), loop);
        speech.SpeakSentence(sentence());
        player->hear(0);
    }
    loop.runPosted();
    EXPECT_TRUE(view.label.empty());
}

TEST_F(Controller, ReportsOfAnEarlierSentenceAreIgnored) {
    speech->SpeakSentence(sentence());
    const std::uint64_t first = player->current;
    player->hear(0);
    deliver();
    // The first sentence is cut off by the next one (as the CLI does between sentences).
    speech->SpeakSentence(sentence());
    player->send({PlayerEvent::Kind::ClipHeard, first, 1, now(), {}});
    player->send({PlayerEvent::Kind::AllHeard, first, -1, now(), {}});
    deliver();
    EXPECT_EQ(view.label, u"");
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
