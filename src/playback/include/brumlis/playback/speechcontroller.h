#pragma once

#include "brumlis/playback/soundplayer.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>

namespace brumlis {

struct SentenceBuffer;

/// What speaking a sentence drives: the sentence label and the two buttons that are
/// enabled again at the end. The main window implements it; the CLI and tests do too.
class SentenceView {
public:
    virtual ~SentenceView() = default;

    virtual QString caption() const = 0;
    /// Sets the label's caption and puts it on screen at once.
    virtual void showCaption(const QString& caption) = 0;
    virtual void setRepeatEnabled(bool enabled) = 0;
    virtual void setGenerateEnabled(bool enabled) = 0;
    virtual void focusGenerate() = 0;
};

/// Speaks sentences and decides, in one place, what a press does meanwhile.
///
/// Idle → Composing (Generera was taken; the front end composes, and a failed pick's
/// message box may wait for its OK) → Speaking → Idle. Nothing waits here: the player
/// reports from its own thread when each clip is about to be heard and when the last has
/// been heard, those reports come in through the event loop, and each word goes on screen
/// by a timer `Lead` before its clip is heard. When the last clip has been heard, Repetera
/// and Generera are enabled and Generera gets the focus.
///
/// While Composing or Speaking every press of every button is dropped, also a press whose
/// click comes only later (an accessibility press clicks on a timer).
class SpeechController final : public QObject {
    Q_OBJECT

public:
    enum class State { Idle, Composing, Speaking, Closed };
    enum class Press { Generate, Repeat, About };
    /// How long before its clip is heard a word goes on screen: by the servers' own figures,
    /// which put a PulseAudio null sink's sound a render block after its monitor has it and
    /// a PipeWire one a little before, and with room for a timer that wakes late.
    static constexpr std::chrono::milliseconds Lead{18};
    /// A word due within this is shown at once rather than by a timer.
    static constexpr std::chrono::milliseconds Soon{5};

    /// Without a player, sentences are spoken silently and at once.
    SpeechController(SentenceView& view, std::unique_ptr<SoundPlayer> player,
                     QObject* parent = nullptr);
    ~SpeechController() override;

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
    /// Shows and speaks up to 15 slots: word k with clip k.
    void speak(const QStringList& words, std::vector<Clip> clips);

    /// Cuts the sentence off where it is: the sound stops at once, and the sentence ends
    /// as if it had been heard (the buttons come back, sentenceEnded follows). Nothing
    /// happens unless a sentence is being spoken.
    void stop();

    /// The front end is going away: the sound stops at once, the sentence ends where it is
    /// (the buttons are left alone) and no press is taken any more.
    void close();

Q_SIGNALS:
    void busyChanged(bool busy);
    /// Slot `slot`'s text has just been appended to the caption.
    void wordShown(int slot);
    /// The last clip has been heard; the buttons are back.
    void sentenceEnded();
    /// The device stopped taking sound mid-sentence; the sentence goes on silently.
    void deviceStalled();

private:
    static constexpr int Slots = 15;

    void setState(State state);
    void handle(const PlayerEvent& event);
    /// Shows every word that is due, then sets the timer for what comes next.
    void advance();
    void finish();

    SentenceView& m_view;
    std::unique_ptr<SoundPlayer> m_player;
    State m_state = State::Idle;
    std::array<bool, 3> m_pressedWhileBusy{};

    // The sentence being spoken.
    std::uint64_t m_sentence = 0;
    int m_slots = 0; ///< of the sentence being spoken
    std::array<QString, Slots> m_words;
    std::array<SoundClock::time_point, Slots> m_due{}; ///< when each word goes on screen
    int m_known = 0;                                   ///< clips reported so far
    int m_shown = 0;                                   ///< words on screen so far
    bool m_allHeard = false;
    SoundClock::time_point m_endAt;
    QTimer m_timer;
};

} // namespace brumlis
