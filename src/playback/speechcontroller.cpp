#include "brumlis/playback/speechcontroller.h"

#include "brumlis/sentence/sentencebuffer.h"

#include <algorithm>
#include <utility>

namespace brumlis {

namespace {

int indexOf(SpeechController::Press press) {
    return int(press);
}

} // namespace

SpeechController::SpeechController(SentenceView& view, std::unique_ptr<SoundPlayer> player,
                                   QObject* parent)
    : QObject(parent)
    , m_view(view)
    , m_player(player ? std::move(player) : std::make_unique<SilentPlayer>()) {
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &SpeechController::advance);
    // The player reports from its own threads; the event is handled on this object's.
    m_player->setListener([this](const PlayerEvent& event) {
        QMetaObject::invokeMethod(
            this, [this, event] { handle(event); }, Qt::QueuedConnection);
    });
}

SpeechController::~SpeechController() {
    // The player goes first, so that nothing reports to this object while it is taken apart.
    m_player->setListener({});
    m_player.reset();
}

void SpeechController::setState(State state) {
    const bool wasBusy = busy();
    m_state = state;
    if (busy() != wasBusy)
        Q_EMIT busyChanged(busy());
}

void SpeechController::notePress(Press press) {
    m_pressedWhileBusy[std::size_t(indexOf(press))] = m_state != State::Idle;
}

bool SpeechController::take(Press press) {
    const bool pressedWhileBusy =
        std::exchange(m_pressedWhileBusy[std::size_t(indexOf(press))], false);
    if (m_state != State::Idle || pressedWhileBusy)
        return false;
    if (press == Press::Generate)
        setState(State::Composing);
    return true;
}

void SpeechController::SpeakSentence(const SentenceBuffer& buffer) {
    QStringList words, paths;
    for (int i = 0; i < Slots; ++i) {
        words << buffer.WordText(i);
        paths << buffer.SoundFile(i);
    }
    speak(words, clipsOf(paths));
}

void SpeechController::speak(const QStringList& words, std::vector<Clip> clips) {
    if (m_state == State::Closed)
        return;
    m_slots = std::min<int>({Slots, int(words.size()), int(clips.size())});
    clips.resize(std::size_t(m_slots));
    for (int i = 0; i < m_slots; ++i)
        m_words[std::size_t(i)] = words[i];
    ++m_sentence;
    m_known = m_shown = 0;
    m_allHeard = false;
    m_timer.stop();
    setState(State::Speaking);
    m_view.showCaption(QString());
    m_player->speak(m_sentence, clips);
}

void SpeechController::stop() {
    if (m_state != State::Speaking)
        return;
    m_timer.stop();
    m_player->stop();
    finish();
}

void SpeechController::close() {
    m_timer.stop();
    m_player->stop();
    setState(State::Closed);
}

void SpeechController::handle(const PlayerEvent& event) {
    // Reports of a sentence that was stopped may still be on their way.
    if (m_state != State::Speaking || event.sentence != m_sentence)
        return;
    switch (event.kind) {
    case PlayerEvent::Kind::ClipHeard:
        if (event.clip >= m_shown && event.clip < m_known) {
            // A better word on a clip reported before: its word is not shown yet, and
            // moves to it.
            m_due[std::size_t(event.clip)] = event.at - Lead;
            break;
        }
        if (event.clip != m_known || m_known >= m_slots)
            return;
        m_due[std::size_t(m_known++)] = event.at - Lead;
        break;
    case PlayerEvent::Kind::AllHeard:
        // Everything has been heard: a word not reported yet is due now.
        for (; m_known < m_slots; ++m_known)
            m_due[std::size_t(m_known)] = event.at;
        m_allHeard = true;
        m_endAt = event.at;
        break;
    case PlayerEvent::Kind::Stalled:
        Q_EMIT deviceStalled();
        return;
    }
    advance();
}

void SpeechController::advance() {
    if (m_state != State::Speaking)
        return;
    const SoundClock::time_point now = SoundClock::now();
    // A word due this soon is shown now: a thread that sleeps a few milliseconds on an idle
    // machine may wake much later than it asked, and the word after its sound.
    while (m_shown < m_known && m_due[std::size_t(m_shown)] <= now + Soon) {
        const int slot = m_shown++;
        m_view.showCaption(m_view.caption() + m_words[std::size_t(slot)] + u' ');
        Q_EMIT wordShown(slot);
        if (m_state != State::Speaking)
            return; // closed from a slot
    }
    SoundClock::time_point next;
    if (m_shown < m_known) {
        next = m_due[std::size_t(m_shown)];
    } else if (m_allHeard && m_shown == m_slots) {
        if (m_endAt <= now) {
            finish();
            return;
        }
        next = m_endAt;
    } else {
        return; // waiting for the player
    }
    // Rounded up, and checked again when it fires.
    m_timer.start(std::chrono::ceil<std::chrono::milliseconds>(next - now));
}

void SpeechController::finish() {
    setState(State::Idle);
    m_view.setRepeatEnabled(true);
    m_view.setGenerateEnabled(true);
    m_view.focusGenerate();
    Q_EMIT sentenceEnded();
}

} // namespace brumlis
