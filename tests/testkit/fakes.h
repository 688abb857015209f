#pragma once
// Fakes of what the core talks to, in standard C++: a message sink, a random source, a
// clock, the sentence view, a player that reports when the test says, and the front end's
// loop on a clock the test moves.
#include "brumlis/playback/soundplayer.h"
#include "brumlis/playback/speechcontroller.h"
#include "brumlis/playback/speechloop.h"
#include "brumlis/sentence/messagesink.h"
#include "brumlis/sentence/random.h"
#include "brumlis/sentence/sentencebuffer.h"

#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace brumlis::test {

/// Collects every message instead of showing it.
class RecordingMessages final : public MessageSink {
public:
    void show(const std::u16string& message) override { messages.push_back(message); }
    std::vector<std::u16string> messages;
};

/// Hands out the queued values first (each taken modulo n), then falls back to a
/// seeded generator. Records every bound it was asked for.
class ScriptedRandom final : public RandomSource {
public:
    void seed(std::uint64_t s) override {
        seeds.push_back(s);
        m_fallback.seed(s);
    }
    std::uint64_t below(std::uint64_t n) override {
        bounds.push_back(n);
        if (!queued.empty()) {
            const std::uint64_t v = queued.front();
            queued.pop_front();
            return v % n;
        }
        return m_fallback.below(n);
    }

    std::deque<std::uint64_t> queued;
    std::vector<std::uint64_t> bounds;
    std::vector<std::uint64_t> seeds;

private:
    MersenneRandom m_fallback;
};

class FakeClock final : public Clock {
public:
    std::uint64_t seedNow() override { return ++now; }
    std::uint64_t now = 1000;
};

/// A label and two buttons in memory, and what the controller told it, in order.
class FakeView final : public SentenceView {
public:
    void sentenceStarted() override {
        label.clear();
        ++repaints;
        told.push_back(u"started");
    }
    void wordShown(int slot, const std::u16string& word) override {
        label += word + u' ';
        ++repaints;
        shownSlots.push_back(slot);
        told.push_back(word);
        if (onWord)
            onWord(slot);
    }
    void sentenceEnded() override {
        repeatEnabled = generateEnabled = generateFocused = true;
        ++ended;
        told.push_back(u"ended");
        if (onEnded)
            onEnded();
    }
    void busyChanged(bool busy) override { busyChanges.push_back(busy); }
    void deviceStalled() override { ++stalls; }

    std::u16string label;
    int repaints = 0;
    bool repeatEnabled = false;
    bool generateEnabled = false;
    bool generateFocused = false;
    int ended = 0;
    int stalls = 0;
    std::vector<int> shownSlots;
    std::vector<bool> busyChanges;
    std::vector<std::u16string> told;
    std::function<void(int slot)> onWord;
    std::function<void()> onEnded;
};

/// The front end's loop on a clock that moves only when the test says: posts wait until
/// runPosted(), and the timer fires when the clock is moved past it.
class FakeLoop final : public SpeechLoop {
public:
    SoundClock::time_point now() const override { return m_now; }
    void post(std::function<void()> task) override {
        const std::lock_guard lock(m_mutex);
        m_posted.push_back(std::move(task));
    }
    void startTimer(SoundClock::time_point at, std::function<void()> fired) override {
        timerAt = at;
        m_fired = std::move(fired);
    }
    void stopTimer() override {
        timerAt.reset();
        m_fired = {};
    }

    /// Runs what has been posted, in order, also what that posts.
    void runPosted() {
        for (;;) {
            std::function<void()> task;
            {
                const std::lock_guard lock(m_mutex);
                if (m_posted.empty())
                    return;
                task = std::move(m_posted.front());
                m_posted.pop_front();
            }
            task();
        }
    }
    /// Moves the clock to `t`, firing the timer each time it is due on the way.
    void advanceTo(SoundClock::time_point t) {
        runPosted();
        while (timerAt && *timerAt <= t) {
            m_now = std::max(m_now, *timerAt);
            const std::function<void()> fired = std::move(m_fired);
            timerAt.reset();
            fired();
            runPosted();
        }
        m_now = std::max(m_now, t);
    }
    void advanceBy(SoundClock::duration d) { advanceTo(m_now + d); }

    std::optional<SoundClock::time_point> timerAt;

private:
    SoundClock::time_point m_now{std::chrono::seconds(100)};
    std::mutex m_mutex;
    std::deque<std::function<void()>> m_posted;
    std::function<void()> m_fired;
};

/// A player that notes what it is asked to speak and reports what the test says, when it
/// says. With `hearAtOnce` every sentence is heard as soon as it is spoken, clip by clip.
class FakePlayer final : public SoundPlayer {
public:
    using SoundPlayer::speak;
    void speak(std::uint64_t sentence, const std::vector<Clip>& clips) override {
        std::vector<std::u16string> paths;
        for (const Clip& clip : clips)
            paths.push_back(clip.path);
        spoken.push_back(paths);
        heldSamples.push_back(clips.empty() || !clips.front().samples
                                  ? std::size_t(0)
                                  : clips.front().samples->size());
        current = sentence;
        if (hearAtOnce)
            hearAll();
    }
    void stop() override { ++stops; }
    std::u16string unavailableReason() const override { return reason; }

    /// Reports clip `clip` of the latest sentence as heard at `at`, its word best shown
    /// `lead` before.
    void hear(int clip, SoundClock::time_point at = {},
              std::chrono::nanoseconds lead = std::chrono::nanoseconds{}) {
        report({PlayerEvent::Kind::ClipHeard, current, clip, at, lead});
    }
    void allHeard(SoundClock::time_point at = {}) {
        report({PlayerEvent::Kind::AllHeard, current, -1, at, {}});
    }
    void stall() { report({PlayerEvent::Kind::Stalled, current, -1, {}, {}}); }
    /// Any event, of any sentence.
    void send(const PlayerEvent& event) { report(event); }
    void hearAll() {
        for (int k = 0; k < int(spoken.back().size()); ++k)
            hear(k);
        allHeard();
    }

    std::vector<std::vector<std::u16string>> spoken;
    /// Of each sentence: how many samples its first clip holds in memory (0: none).
    std::vector<std::size_t> heldSamples;
    std::uint64_t current = 0;
    int stops = 0;
    bool hearAtOnce = true;
    std::u16string reason;
};

/// The recordings of the spoken slots of `buffer`, as the controller hands them on.
inline std::vector<std::u16string> pathsOf(const SentenceBuffer& buffer) {
    std::vector<std::u16string> paths;
    for (int i = 0; i < SentenceBuffer::SpokenSlots; ++i)
        paths.push_back(buffer.SoundFile(i));
    return paths;
}

} // namespace brumlis::test
