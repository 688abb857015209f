#pragma once

#include "playback/soundplayer.h"
#include "playback/speaker.h"
#include "sentence/messagesink.h"
#include "sentence/random.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
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
    bool speakingAborted() const override { return aborted; }

    QString label;
    int repaints = 0;
    bool repeatEnabled = false;
    bool generateEnabled = false;
    bool generateFocused = false;
    bool aborted = false;
};

/// Notes every play call together with what the label showed at that moment.
class RecordingPlayer final : public SoundPlayer {
public:
    struct Call {
        QString path;
        QString labelAtPlay;
    };

    explicit RecordingPlayer(std::function<QString()> label = {})
        : m_label(std::move(label)) {}

    void play(const QString& path) override {
        calls.push_back({path, m_label ? m_label() : QString()});
        if (onPlay)
            onPlay();
    }
    void drain() override { ++drains; }
    void stop() override { ++stops; }

    std::vector<Call> calls;
    int drains = 0;
    int stops = 0;
    std::function<void()> onPlay;

private:
    std::function<QString()> m_label;
};

} // namespace brumlis::test
