// The engine's speaker against an output of the test's own, which takes sound when the test
// pulls it and learns when it is heard when the test tells it: every clip reaches the output
// whole and in order, each is reported with the output's lead, and what the output learns
// later moves the words still to come.
#include "brumlis/playback/audioengine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

namespace brumlis {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds FakeLead{25};

// What the test and the engine's threads share of the output.
struct OutputSide {
    std::mutex mutex;
    std::condition_variable changed;
    AudioDevice::Source source;
    AudioDevice::Anchor anchor;
    DeviceFormat format;
    bool open = false;
    int plays = 0; ///< play() and more(): sound was queued
    std::vector<PlayerEvent> events;

    // Waits, at most a bound a working engine never nears, for `condition`.
    template <typename Condition> bool waitFor(Condition condition) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, 30s, condition);
    }
    void notify() {
        {
            const std::lock_guard lock(mutex);
            ++plays;
        }
        changed.notify_all();
    }
};

class FakeOutput final : public AudioDevice {
public:
    explicit FakeOutput(OutputSide& side)
        : m_side(side) {}
    bool open(std::u16string*) override {
        {
            const std::lock_guard lock(m_side.mutex);
            m_side.open = true;
        }
        m_side.changed.notify_all();
        return true;
    }
    void close() override {}
    bool lost() const override { return false; }
    bool takesWhatThereIs() const override { return true; }
    bool closesWhenIdle() const override { return false; }
    void play(bool) override { m_side.notify(); }
    void more(bool) override { m_side.notify(); }
    std::u16string name() const override { return u"fake"; }
    std::chrono::nanoseconds lead() const override { return FakeLead; }

private:
    OutputSide& m_side;
};

struct EngineRig {
    EngineRig() {
        Outputs outputs;
        outputs.kinds.push_back({[this](const DeviceFormat& format, AudioDevice::Source source,
                                        AudioDevice::Anchor anchor) {
            const std::lock_guard lock(side.mutex);
            side.format = format;
            side.source = std::move(source);
            side.anchor = std::move(anchor);
            return std::make_unique<FakeOutput>(side);
        }});
        engine = AudioEngine::create({}, std::move(outputs));
        engine->setListener([this](const PlayerEvent& event) {
            {
                const std::lock_guard lock(side.mutex);
                side.events.push_back(event);
            }
            side.changed.notify_all();
        });
    }
    ~EngineRig() {
        engine->setListener({});
        engine.reset();
    }

    bool allHeard() {
        const std::lock_guard lock(side.mutex);
        return std::any_of(side.events.begin(), side.events.end(), [](const PlayerEvent& e) {
            return e.kind == PlayerEvent::Kind::AllHeard;
        });
    }

    // Takes what is queued, `frames` at a time, as an output that is heard at once would,
    // until the sentence has been heard; the left channel of what it took.
    std::vector<float> pullUntilHeard(std::int64_t frames, std::int64_t* streamFrame,
                                      std::chrono::nanoseconds heardDelay = {}) {
        std::vector<float> left;
        std::vector<float> piece;
        while (!allHeard()) {
            const int channels = side.format.channels;
            piece.assign(std::size_t(frames * channels), -2.0f);
            const int playsBefore = [&] {
                const std::lock_guard lock(side.mutex);
                return side.plays;
            }();
            const std::size_t bytes =
                side.source(reinterpret_cast<std::uint8_t*>(piece.data()),
                            piece.size() * sizeof(float), heardDelay, *streamFrame, false);
            const std::size_t got = bytes / (sizeof(float) * std::size_t(channels));
            *streamFrame += std::int64_t(got);
            for (std::size_t f = 0; f < got; ++f)
                left.push_back(piece[f * std::size_t(channels)]);
            if (got == 0) {
                // Nothing queued: until the speaker queues more, or reports the end.
                if (!side.waitFor([&] {
                        return side.plays != playsBefore ||
                               std::any_of(side.events.begin(), side.events.end(),
                                           [](const PlayerEvent& e) {
                                               return e.kind == PlayerEvent::Kind::AllHeard;
                                           });
                    }))
                    break;
            }
        }
        return left;
    }

    OutputSide side;
    std::unique_ptr<AudioEngine> engine;
};

std::vector<Clip> levelClips(const std::vector<float>& levels, int frames) {
    std::vector<Clip> clips;
    for (const float level : levels)
        clips.push_back(Clip::held(std::vector<float>(std::size_t(frames), level), 48000));
    return clips;
}

TEST(EngineSpeaker, EveryClipReachesTheOutputWholeInOrderAndIsReportedWithItsLead) {
    EngineRig rig;
    ASSERT_TRUE(rig.side.waitFor([&] { return rig.side.open; }));
    const std::vector<float> levels{0.2f, 0.4f, 0.6f};
    constexpr int Frames = 4800;
    rig.engine->speak(1, levelClips(levels, Frames));
    std::int64_t streamFrame = 0;
    const std::vector<float> left = rig.pullUntilHeard(1000, &streamFrame);

    // Each clip is one run at its level, as long as it is but for its faded edges, in order,
    // and every frame taken is of a clip: nothing lost, nothing added.
    EXPECT_EQ(left.size(), std::size_t(3 * Frames));
    std::vector<std::pair<float, int>> runs;
    for (const float x : left) {
        const auto level = std::find_if(levels.begin(), levels.end(),
                                        [&](float l) { return std::fabs(x - l) < 1e-4f; });
        if (level == levels.end())
            continue; // a faded edge
        if (runs.empty() || runs.back().first != *level)
            runs.push_back({*level, 0});
        ++runs.back().second;
    }
    ASSERT_EQ(runs.size(), levels.size());
    for (std::size_t c = 0; c < levels.size(); ++c) {
        EXPECT_EQ(runs[c].first, levels[c]);
        EXPECT_GT(runs[c].second, Frames - 2 * 200);
    }

    const std::lock_guard lock(rig.side.mutex);
    std::vector<int> clips;
    for (const PlayerEvent& e : rig.side.events) {
        EXPECT_EQ(e.sentence, 1u);
        if (e.kind == PlayerEvent::Kind::ClipHeard) {
            clips.push_back(e.clip);
            EXPECT_EQ(e.lead, FakeLead) << "the output's own lead";
        }
    }
    EXPECT_EQ(clips, (std::vector<int>{0, 1, 2}));
}

// A word is heard when the output says its frames are heard, not when they were handed over:
// once it has learnt the time of a frame, the clips still to come are told again, each its
// own length after the one before, and so is the end.
TEST(EngineSpeaker, WhatTheOutputLearnsMovesTheClipsStillToCome) {
    EngineRig rig;
    ASSERT_TRUE(rig.side.waitFor([&] { return rig.side.open; }));
    constexpr int Frames = 9600; // 200 ms a clip
    rig.engine->speak(1, levelClips({0.3f, 0.5f, 0.7f}, Frames));
    // Everything handed over with the output's guess: heard a second after the hand-over.
    std::int64_t streamFrame = 0;
    rig.pullUntilHeard(4800, &streamFrame, 1s);
    ASSERT_EQ(streamFrame, 3 * Frames);

    // Then the output learns that its first frame is heard later than it guessed.
    const SoundClock::time_point firstHeard = SoundClock::now() + 3s;
    rig.side.anchor(0, firstHeard);
    const auto ends = [&] {
        return std::count_if(
            rig.side.events.begin(), rig.side.events.end(),
            [](const PlayerEvent& e) { return e.kind == PlayerEvent::Kind::AllHeard; });
    };
    ASSERT_TRUE(rig.side.waitFor([&] { return ends() == 2; })) << "the end is told again";

    const std::lock_guard lock(rig.side.mutex);
    std::vector<SoundClock::time_point> clip(3);
    SoundClock::time_point end;
    for (const PlayerEvent& e : rig.side.events) { // the last word on each counts
        if (e.kind == PlayerEvent::Kind::ClipHeard)
            clip.at(std::size_t(e.clip)) = e.at;
        if (e.kind == PlayerEvent::Kind::AllHeard)
            end = e.at;
    }
    const auto near = [](SoundClock::time_point a, SoundClock::time_point b) {
        return std::chrono::abs(a - b) < 1ms;
    };
    for (int c = 0; c < 3; ++c)
        EXPECT_TRUE(near(clip[std::size_t(c)], firstHeard + c * 200ms)) << "clip " << c;
    EXPECT_TRUE(near(end, firstHeard + 600ms)) << "the end";
}

} // namespace
} // namespace brumlis
