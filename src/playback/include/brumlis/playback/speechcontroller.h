#pragma once

#include "brumlis/playback/soundplayer.h"
#include "brumlis/playback/speechloop.h"
#include "brumlis/sentence/sentencebuffer.h"

#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace brumlis {

/// What speaking a sentence is shown on: the sentence label and the two buttons that are
/// enabled again at the end. The main window implements it; the CLI, the studio and tests
/// do too. Each call comes on the front end's thread.
class SentenceView {
public:
    virtual ~SentenceView() = default;

    /// A sentence starts: the caption is emptied.
    virtual void sentenceStarted() = 0;
    /// Word `slot` is about to be heard: its text goes on the caption after the words before
    /// it, followed by a blank, and on screen at once.
    virtual void wordShown(int slot, const std::u16string& word) = 0;
    /// The last word has been heard: Repetera and Generera are enabled and Generera gets the
    /// focus.
    virtual void sentenceEnded() = 0;
    /// Composing or speaking began (the front end takes no input), or ended.
    virtual void busyChanged(bool busy) { (void)busy; }
    /// The device stopped taking sound mid-sentence; the sentence goes on silently.
    virtual void deviceStalled() {}
};

/// Speaks sentences and decides, in one place, what a press does meanwhile.
///
/// Idle → Composing (Generera was taken; the front end composes, and a failed pick's
/// message box may wait for its OK) → Speaking → Idle. Nothing waits here: the player
/// reports from its own thread when each clip is about to be heard and when the last has
/// been heard, those reports come in through the loop, and each word goes on screen by the
/// loop's timer the player's lead before its clip is heard.
///
/// While Composing or Speaking every press of every button is dropped, also a press whose
/// click comes only later (an accessibility press clicks on a timer).
class SpeechController final {
public:
    enum class State { Idle, Composing, Speaking, Closed };
    enum class Press { Generate, Repeat, About };
    /// A word due within this is shown at once rather than by a timer: a thread that sleeps a
    /// few milliseconds on an idle machine may wake much later than it asked.
    static constexpr std::chrono::milliseconds Soon{5};

    /// Without a player, sentences are spoken silently and at once. `loop` outlives the
    /// controller.
    SpeechController(SentenceView& view, std::unique_ptr<SoundPlayer> player, SpeechLoop& loop);
    ~SpeechController();
    SpeechController(const SpeechController&) = delete;
    SpeechController& operator=(const SpeechController&) = delete;

    State state() const { return m_state; }
    /// Composing or Speaking: the front end takes no input.
    bool busy() const { return m_state == State::Composing || m_state == State::Speaking; }
    SoundPlayer& player() { return *m_player; }

    /// A button went down (mouse, key, accessibility action): noted, so that its click can
    /// be dropped even when it comes after the sentence has ended.
    void notePress(Press press);
    /// Whether the click of `press` is acted on. Taking Generera starts Composing.
    bool take(Press press);

    /// Shows and speaks slots 0..14 of `buffer` (copied: the buffer may change meanwhile).
    /// Does nothing once closed.
    void SpeakSentence(const SentenceBuffer& buffer);
    /// Shows and speaks up to SentenceBuffer::SpokenSlots slots: word k with clip k.
    void speak(const std::vector<std::u16string>& words, std::vector<Clip> clips);

    /// Cuts the sentence off where it is: the sound stops at once, and the sentence ends
    /// as if it had been heard (the buttons come back). Nothing happens unless a sentence is
    /// being spoken.
    void stop();

    /// The front end is going away: the sound stops at once, the sentence ends where it is
    /// (the buttons are left alone) and no press is taken any more.
    void close();

private:
    static constexpr int Slots = SentenceBuffer::SpokenSlots;

    void setState(State state);
    void handle(const PlayerEvent& event);
    /// Shows every word that is due, then sets the timer for what comes next.
    void advance();
    void finish();

    SentenceView& m_view;
    std::unique_ptr<SoundPlayer> m_player;
    SpeechLoop& m_loop;
    /// What the player's reports, posted to the loop, check before they touch this object:
    /// a report may still be on its way when the controller is gone.
    std::shared_ptr<SpeechController*> m_self;
    State m_state = State::Idle;
    std::array<bool, 3> m_pressedWhileBusy{};

    // The sentence being spoken.
    std::uint64_t m_sentence = 0;
    int m_slots = 0; ///< of the sentence being spoken
    std::array<std::u16string, Slots> m_words;
    std::array<SoundClock::time_point, Slots> m_due{}; ///< when each word goes on screen
    int m_known = 0;                                   ///< clips reported so far
    int m_shown = 0;                                   ///< words on screen so far
    bool m_allHeard = false;
    SoundClock::time_point m_endAt;
};

} // namespace brumlis
