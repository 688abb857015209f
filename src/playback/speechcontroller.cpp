#include "brumlis/playback/speechcontroller.h"

#include <algorithm>
#include <utility>

namespace brumlis {

namespace {

int indexOf(SpeechController::Press press) {
    return int(press);
}

} // namespace

SpeechController::SpeechController(SentenceView& view, std::unique_ptr<SoundPlayer> player,
                                   SpeechLoop& loop)
    : m_view(view)
    , m_player(player ? std::move(player) : std::make_unique<SilentPlayer>())
    , m_loop(loop)
    , m_self(std::make_shared<SpeechController*>(this)) {
    // The player reports from its own threads; the event is handled on the loop's.
    m_player->setListener([loop = &m_loop, self = std::weak_ptr(m_self)](const PlayerEvent& event) {
        loop->post([self, event] {
            if (const auto alive = self.lock())
                (*alive)->handle(event);
        });
    });
}

SpeechController::~SpeechController() {
    // The player goes first, so that nothing reports to this object while it is taken apart;
    // a report already posted finds it gone.
    m_player->setListener({});
    m_player.reset();
    m_self.reset();
    m_loop.stopTimer();
}

void SpeechController::setState(State state) {
    const bool wasBusy = busy();
    m_state = state;
    if (busy() != wasBusy)
        m_view.busyChanged(busy());
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
    std::vector<std::u16string> words, paths;
    for (int i = 0; i < Slots; ++i) {
        words.push_back(buffer.WordText(i));
        paths.push_back(buffer.SoundFile(i));
    }
    speak(words, clipsOf(paths));
}

void SpeechController::speak(const std::vector<std::u16string>& words, std::vector<Clip> clips) {
    if (m_state == State::Closed)
        return;
    m_slots = std::min<int>({Slots, int(words.size()), int(clips.size())});
    clips.resize(std::size_t(m_slots));
    for (int i = 0; i < m_slots; ++i)
        m_words[std::size_t(i)] = words[std::size_t(i)];
    ++m_sentence;
    m_known = m_shown = 0;
    m_allHeard = false;
    m_loop.stopTimer();
    setState(State::Speaking);
    m_view.sentenceStarted();
    m_player->speak(m_sentence, clips);
}

void SpeechController::stop() {
    if (m_state != State::Speaking)
        return;
    m_loop.stopTimer();
    m_player->stop();
    finish();
}

void SpeechController::close() {
    m_loop.stopTimer();
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
            m_due[std::size_t(event.clip)] = event.at - event.lead;
            break;
        }
        if (event.clip != m_known || m_known >= m_slots)
            return;
        m_due[std::size_t(m_known++)] = event.at - event.lead;
        break;
    case PlayerEvent::Kind::AllHeard:
        // Everything has been heard: a word not reported yet is due now.
        for (; m_known < m_slots; ++m_known)
            m_due[std::size_t(m_known)] = event.at;
        m_allHeard = true;
        m_endAt = event.at;
        break;
    case PlayerEvent::Kind::Stalled:
        m_view.deviceStalled();
        return;
    }
    advance();
}

void SpeechController::advance() {
    if (m_state != State::Speaking)
        return;
    const SoundClock::time_point now = m_loop.now();
    while (m_shown < m_known && m_due[std::size_t(m_shown)] <= now + Soon) {
        const int slot = m_shown++;
        m_view.wordShown(slot, m_words[std::size_t(slot)]);
        if (m_state != State::Speaking)
            return; // closed from the view
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
    // Checked again when it fires.
    m_loop.startTimer(next, [this] { advance(); });
}

void SpeechController::finish() {
    setState(State::Idle);
    m_view.sentenceEnded();
}

} // namespace brumlis
