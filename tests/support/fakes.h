#pragma once

#include "brumlis/playback/soundplayer.h"
#include "brumlis/playback/speechcontroller.h"
#include "brumlis/sentence/messagesink.h"
#include "brumlis/sentence/random.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <vector>

namespace brumlis::test {

/// Collects every message instead of showing it.
class RecordingMessages final : public MessageSink {
public:
    void show(const QString& message) override { messages << message; }
    QStringList messages;
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

/// A label and two buttons in memory.
class FakeView final : public SentenceView {
public:
    QString caption() const override { return label; }
    void showCaption(const QString& caption) override {
        label = caption;
        ++repaints;
    }
    void setRepeatEnabled(bool enabled) override { repeatEnabled = enabled; }
    void setGenerateEnabled(bool enabled) override { generateEnabled = enabled; }
    void focusGenerate() override { generateFocused = true; }

    QString label;
    int repaints = 0;
    bool repeatEnabled = false;
    bool generateEnabled = false;
    bool generateFocused = false;
};

/// A player that notes what it is asked to speak and reports what the test says, when it
/// says. With `hearAtOnce` every sentence is heard as soon as it is spoken, clip by clip.
class FakePlayer final : public SoundPlayer {
public:
    using SoundPlayer::speak;
    void speak(std::uint64_t sentence, const std::vector<Clip>& clips) override {
        QStringList paths;
        for (const Clip& clip : clips)
            paths << clip.path;
        spoken.push_back(paths);
        heldSamples.push_back(clips.empty() || !clips.front().samples
                                  ? std::size_t(0)
                                  : clips.front().samples->size());
        current = sentence;
        if (hearAtOnce)
            hearAll();
    }
    void stop() override { ++stops; }
    QString unavailableReason() const override { return reason; }

    /// Reports clip `clip` of the latest sentence as heard at `at`.
    void hear(int clip, SoundClock::time_point at = SoundClock::now()) {
        report({PlayerEvent::Kind::ClipHeard, current, clip, at});
    }
    void allHeard(SoundClock::time_point at = SoundClock::now()) {
        report({PlayerEvent::Kind::AllHeard, current, -1, at});
    }
    void stall() { report({PlayerEvent::Kind::Stalled, current, -1, SoundClock::now()}); }
    /// Any event, of any sentence.
    void send(const PlayerEvent& event) { report(event); }
    void hearAll() {
        for (int k = 0; k < spoken.back().size(); ++k)
            hear(k);
        allHeard();
    }

    std::vector<QStringList> spoken;
    /// Of each sentence: how many samples its first clip holds in memory (0: none).
    std::vector<std::size_t> heldSamples;
    std::uint64_t current = 0;
    int stops = 0;
    bool hearAtOnce = true;
    QString reason;
};

} // namespace brumlis::test
