#include "playback/soundqueue.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <gtest/gtest.h>
#include <vector>

namespace brumlis {
namespace {

using namespace std::chrono_literals;
using TimePoint = SoundQueue::TimePoint;

constexpr int Rate = 48000;
const TimePoint T0{};

// One frame is one 32-bit number: the clip it belongs to, counted from 1, so silence (0)
// and every clip's frames can be told apart in what the device got.
constexpr int FrameBytes = 4;

SoundQueue makeQueue(int requestFrames = 1024, std::size_t capacity = 24000) {
    return SoundQueue(FrameBytes, Rate, requestFrames, 0, capacity, T0);
}

std::vector<std::uint32_t> clipFrames(std::uint32_t clip, int frames) {
    return std::vector<std::uint32_t>(std::size_t(frames), clip);
}

TimePoint at(double ms) {
    return T0 + std::chrono::duration_cast<TimePoint::duration>(
                    std::chrono::duration<double, std::milli>(ms));
}

// Speaks clips the way the engine does (the word shown when reachesNext says so, then its
// clip queued, each clip queued whole before the next begins, the queue kept as full as
// it goes) against a device that takes the given pieces, one every piece's duration.
struct Spoken {
    std::vector<std::uint32_t> heard; // every frame the device got, silence included
    std::vector<int> shownBeforePull; // per clip: pulls made before its word was shown
    std::vector<TimePoint> pullTimes;
    std::vector<std::optional<TimePoint>> reported; // startedAt per clip
};

Spoken speak(SoundQueue& q, const std::vector<int>& clipLengths, const std::vector<int>& pieces) {
    Spoken out;
    double now = 0;
    std::size_t nextPiece = 0;
    auto pull = [&] {
        const int frames = pieces[nextPiece++ % pieces.size()];
        std::vector<std::uint32_t> buffer(std::size_t(frames), 0xdead);
        out.pullTimes.push_back(at(now));
        q.pull(reinterpret_cast<std::uint8_t*>(buffer.data()), buffer.size() * FrameBytes, at(now));
        out.heard.insert(out.heard.end(), buffer.begin(), buffer.end());
        now += 1000.0 * frames / Rate;
    };
    for (int i = 0; i < SoundQueue::StartPulls; ++i)
        pull(); // the device is running before the first word
    std::vector<std::int64_t> starts;
    std::vector<std::uint32_t> pending;
    std::size_t offset = 0;
    auto topUp = [&] {
        offset += q.push(reinterpret_cast<const std::uint8_t*>(pending.data() + offset),
                         (pending.size() - offset) * FrameBytes) /
                  FrameBytes;
    };
    for (std::size_t c = 0; c < clipLengths.size(); ++c) {
        for (topUp(); offset < pending.size(); topUp())
            pull();
        starts.push_back(q.beginClip());
        while (!q.reachesNext(starts.back()))
            pull();
        // The word is shown, then its clip queued.
        out.shownBeforePull.push_back(int(out.pullTimes.size()));
        pending = clipFrames(std::uint32_t(c + 1), clipLengths[c]);
        offset = 0;
    }
    for (topUp(); offset < pending.size() || q.ahead() > 0; topUp())
        pull();
    for (std::int64_t start : starts)
        out.reported.push_back(q.startedAt(start));
    return out;
}

TEST(SoundQueue, BigAndIrregularPiecesGetEveryClipWholeInOrderWithoutSilence) {
    struct Case {
        const char* name;
        std::vector<int> pieces;
    };
    const Case cases[] = {
        {"as asked", {1024}},
        {"a server taking 40 ms", {1920}},
        {"irregular", {441, 1920, 4800, 256, 3001, 1024}},
        {"one huge piece", {12000, 512}},
    };
    const std::vector<int> clips = {7000, 960, 15000, 1, 2400, 30000};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SoundQueue q = makeQueue();
        const Spoken s = speak(q, clips, c.pieces);

        // Leading silence (before the first clip) is the device starting; after it, every
        // clip in order, whole, and not a single frame of silence in between.
        std::size_t i = 0;
        while (i < s.heard.size() && s.heard[i] == 0)
            ++i;
        for (std::size_t clip = 0; clip < clips.size(); ++clip) {
            int run = 0;
            while (i < s.heard.size() && s.heard[i] == clip + 1) {
                ++run;
                ++i;
            }
            EXPECT_EQ(run, clips[clip]) << "clip " << clip + 1;
        }
        while (i < s.heard.size() && s.heard[i] == 0)
            ++i;
        EXPECT_EQ(i, s.heard.size()) << "sound after the last clip";
    }
}

TEST(SoundQueue, EachWordIsShownJustBeforeThePieceThatHoldsItsFirstFrame) {
    struct Case {
        std::vector<int> pieces;
        int mostPullsEarly; // the word may be shown this many pulls before its own at most
    };
    const Case cases[] = {{{1024}, 1}, {{1920}, 1}, {{4800, 441, 1920, 256}, 4}};
    // Clip lengths that put starts on piece boundaries and just past them.
    const std::vector<int> clips = {1024, 1023, 1, 2048, 5000, 960};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pieces.size());
        SoundQueue q = makeQueue();
        const Spoken s = speak(q, clips, c.pieces);
        // Locate each clip's first frame in what the device took, pull by pull.
        std::vector<int> pullOf(s.heard.size());
        for (std::size_t p = 0, frame = 0; p < s.pullTimes.size(); ++p)
            for (int n = 0; n < c.pieces[p % c.pieces.size()]; ++n)
                pullOf[frame++] = int(p);
        for (std::size_t clip = 0; clip < clips.size(); ++clip) {
            SCOPED_TRACE(clip);
            std::size_t first = 0;
            while (s.heard[first] != clip + 1)
                ++first;
            const int pull = pullOf[first];
            EXPECT_LE(s.shownBeforePull[clip], pull) << "word shown after its sound";
            EXPECT_GE(s.shownBeforePull[clip], pull - c.mostPullsEarly + 1)
                << "word shown earlier than needed";
            ASSERT_TRUE(s.reported[clip].has_value());
            EXPECT_EQ(*s.reported[clip], s.pullTimes[std::size_t(pull)]);
        }
    }
}

TEST(SoundQueue, DrainEndsOnlyOnceTheLastFrameWasTakenAndPlayedOut) {
    SoundQueue q = makeQueue();
    EXPECT_TRUE(q.drained(T0)) << "nothing queued is drained at once";
    std::vector<std::uint32_t> buffer(1024);
    auto pull = [&](double ms) {
        q.pull(reinterpret_cast<std::uint8_t*>(buffer.data()), buffer.size() * FrameBytes, at(ms));
    };
    for (int i = 0; i < SoundQueue::StartPulls; ++i)
        pull(-21.3 * (SoundQueue::StartPulls - i));
    const std::vector<std::uint32_t> data = clipFrames(1, 2500);
    q.push(reinterpret_cast<const std::uint8_t*>(data.data()), data.size() * FrameBytes);
    struct Step {
        double pullAt; // < 0: no pull
        double askAt;
        bool drained;
    };
    // Two pieces of 1024 frames (42.7 ms) to play out after the last frame was taken.
    const Step steps[] = {
        {0, 0, false},     {21.3, 30, false}, {42.7, 42.7, false},
        {-1, 85.0, false}, {-1, 85.4, true},  {100, 100, true},
    };
    for (const Step& s : steps) {
        if (s.pullAt >= 0)
            pull(s.pullAt);
        EXPECT_EQ(q.drained(at(s.askAt)), s.drained) << s.askAt;
    }
}

TEST(SoundQueue, ADeviceThatStartsLateIsWaitedForOneThatNeverStartsIsPlayedAtPace) {
    struct Case {
        const char* name;
        int firstPull;  // ms; < 0: never
        int stopsAfter; // the device asks no more from here on (ms); < 0: never
        bool stalls;
        int pauseAfterFirst = 0; // ms without a request after the first one
        int firstBurst = 1;      // requests made at once the first time
    };
    const Case cases[] = {
        {"asks 2 s late", 2000, -1, false},
        {"asks 4.9 s late", 4900, -1, false},
        {"takes one piece at once, then nothing for 2 s", 0, -1, false, 2016},
        {"takes three pieces at once, then nothing for 2 s", 0, -1, false, 2016, 3},
        {"never asks", -1, -1, true},
        {"stops mid-sentence", 100, 300, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SoundQueue q = makeQueue(1024, 96000);
        // Two clips of a second each, queued as the device lets them.
        const std::vector<std::uint32_t> both = clipFrames(1, 2 * Rate);
        std::size_t pushed = 0;
        const std::int64_t startB = q.beginClip() + Rate;

        std::vector<std::uint32_t> buffer(1024);
        int bShown = -1, drainedAt = -1, stalledAt = -1;
        std::int64_t takenAtStall = 0;
        for (int ms = 0; ms < 9000 && drainedAt < 0; ++ms) {
            pushed += q.push(reinterpret_cast<const std::uint8_t*>(both.data()) + pushed,
                             both.size() * FrameBytes - pushed);
            const bool paused = ms > c.firstPull && ms < c.firstPull + c.pauseAfterFirst;
            if (c.firstPull >= 0 && ms >= c.firstPull && (c.stopsAfter < 0 || ms < c.stopsAfter) &&
                (ms - c.firstPull) % 21 == 0 && !paused)
                for (int n = ms == c.firstPull ? c.firstBurst : 1; n > 0; --n)
                    q.pull(reinterpret_cast<std::uint8_t*>(buffer.data()),
                           buffer.size() * FrameBytes, at(ms));
            if (q.checkStall(at(ms))) {
                if (stalledAt < 0) {
                    stalledAt = ms;
                    takenAtStall = q.taken();
                }
                q.advance(at(ms));
            }
            if (bShown < 0 && q.reachesNext(startB))
                bShown = ms;
            if (q.drained(at(ms)) && pushed == both.size() * FrameBytes)
                drainedAt = ms;
        }
        EXPECT_EQ(q.stalled(), c.stalls);
        ASSERT_GE(drainedAt, 0) << "never drained";
        if (c.pauseAfterFirst > 0) {
            // Sound taken before the pause would have been cut in two by it.
            ASSERT_TRUE(q.startedAt(startB - Rate).has_value());
            EXPECT_GE(*q.startedAt(startB - Rate), at(c.firstPull + c.pauseAfterFirst));
        } else if (!c.stalls) {
            EXPECT_EQ(q.taken(), 2 * Rate) << "frames lost";
            // The device takes 1024 frames every 21 ms from its third request on; the
            // second clip starts at frame 48000.
            EXPECT_EQ(bShown, c.firstPull + 21 * (SoundQueue::StartPulls - 1 + 48000 / 1024))
                << "second word's time";
        } else {
            const int lastPull =
                c.firstPull < 0 ? 0 : c.firstPull + (c.stopsAfter - 1 - c.firstPull) / 21 * 21;
            const auto limit = c.firstPull < 0 ? SoundQueue::StartLimit : SoundQueue::StallLimit;
            EXPECT_EQ(stalledAt, lastPull + int(limit.count()) + 1);
            // From the stall on, the rest plays into nothing at the pace of the clips.
            EXPECT_NEAR(drainedAt, stalledAt + 1000.0 * double(2 * Rate - takenAtStall) / Rate, 2);
            EXPECT_NEAR(bShown, stalledAt + 1000.0 * double(Rate - takenAtStall) / Rate, 2);
        }
    }
}

} // namespace
} // namespace brumlis
