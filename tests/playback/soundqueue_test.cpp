#include "soundqueue.h"

#include <algorithm>
#include <chrono>
#include <cmath>
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

SoundQueue makeQueue(std::size_t capacity = 24000) {
    return SoundQueue(FrameBytes, Rate, 0, capacity, T0);
}

std::vector<std::uint32_t> clipFrames(std::uint32_t clip, int frames) {
    return std::vector<std::uint32_t>(std::size_t(frames), clip);
}

TimePoint at(double ms) {
    return T0 + std::chrono::duration_cast<TimePoint::duration>(
                    std::chrono::duration<double, std::milli>(ms));
}

double msOf(TimePoint t) {
    return std::chrono::duration<double, std::milli>(t - T0).count();
}

// A device request: how many frames it takes, and how long the device says what it holds
// already takes to be heard.
struct Piece {
    int frames;
    double delayMs = 0;
};

// Speaks clips the way the engine does (each clip queued whole before the next begins,
// the queue kept as full as it goes) against a device that takes the given pieces, one
// every piece's duration.
struct Spoken {
    std::vector<std::uint32_t> heard;              // every frame the device got, silence included
    std::vector<TimePoint> pullTimes;              // of every request
    std::vector<double> pullDelays;                // what the device said at each
    std::vector<std::int64_t> starts;              // each clip's first frame
    std::vector<std::optional<TimePoint>> heardAt; // as the queue reports it, per clip
    TimePoint endHeard;
};

Spoken speak(SoundQueue& q, const std::vector<int>& clipLengths, const std::vector<Piece>& pieces) {
    Spoken out;
    double now = 0;
    std::size_t nextPiece = 0;
    auto pull = [&] {
        const Piece& piece = pieces[nextPiece++ % pieces.size()];
        std::vector<std::uint32_t> buffer(std::size_t(piece.frames), 0xdead);
        out.pullTimes.push_back(at(now));
        out.pullDelays.push_back(piece.delayMs);
        q.pull(reinterpret_cast<std::uint8_t*>(buffer.data()), buffer.size() * FrameBytes, at(now),
               std::chrono::duration_cast<SoundQueue::Clock::duration>(
                   std::chrono::duration<double, std::milli>(piece.delayMs)));
        out.heard.insert(out.heard.end(), buffer.begin(), buffer.end());
        now += 1000.0 * piece.frames / Rate;
    };
    for (int i = 0; i < SoundQueue::StartPulls; ++i)
        pull(); // the device is running before the first word
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
        out.starts.push_back(q.beginClip());
        pending = clipFrames(std::uint32_t(c + 1), clipLengths[c]);
        offset = 0;
    }
    for (topUp(); offset < pending.size() || q.ahead() > 0; topUp())
        pull();
    for (std::int64_t start : out.starts)
        out.heardAt.push_back(q.heardAt(start));
    out.endHeard = q.endHeardAt();
    return out;
}

TEST(SoundQueue, BigAndIrregularPiecesGetEveryClipWholeInOrderWithoutSilence) {
    struct Case {
        const char* name;
        std::vector<Piece> pieces;
    };
    const Case cases[] = {
        {"as asked", {{1024}}},
        {"a server taking 40 ms", {{1920}}},
        {"irregular", {{441}, {1920}, {4800}, {256}, {3001}, {1024}}},
        {"one huge piece", {{12000}, {512}}},
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

// Where a clip's first frame went out, and when it is heard: the time of the request that
// took it, plus what the device said was still to be heard then, plus its place in the
// request, whatever the sizes of the pieces and of the delays.
TEST(SoundQueue, EachClipIsHeardAtItsRequestPlusTheReportedDelayPlusItsPlaceInIt) {
    struct Case {
        const char* name;
        std::vector<Piece> pieces;
    };
    const Case cases[] = {
        {"even pieces, no delay", {{1024, 0}}},
        {"even pieces, a server's 43 ms", {{2048, 43}}},
        {"irregular pieces and delays", {{4800, 80}, {441, 12.5}, {1920, 51}, {256, 0}}},
    };
    // Clip lengths that put starts on piece boundaries and just past them.
    const std::vector<int> clips = {1024, 1023, 1, 2048, 5000, 960};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SoundQueue q = makeQueue();
        const Spoken s = speak(q, clips, c.pieces);
        // Which request took each frame, and where in it the frame was.
        std::vector<std::pair<std::size_t, int>> requestOf;
        for (std::size_t p = 0; p < s.pullTimes.size(); ++p)
            for (int n = 0; n < c.pieces[p % c.pieces.size()].frames; ++n)
                requestOf.emplace_back(p, n);
        const std::size_t lead = std::size_t(std::find(s.heard.begin(), s.heard.end(), 1u) -
                                             s.heard.begin()); // frames before clip 1
        auto expectedMs = [&](std::int64_t frame) {
            const auto [request, place] = requestOf[lead + std::size_t(frame)];
            return msOf(s.pullTimes[request]) + s.pullDelays[request] + 1000.0 * place / Rate;
        };
        for (std::size_t clip = 0; clip < clips.size(); ++clip) {
            SCOPED_TRACE(clip);
            ASSERT_TRUE(s.heardAt[clip].has_value());
            EXPECT_NEAR(msOf(*s.heardAt[clip]), expectedMs(s.starts[clip]), 1e-3);
        }
        // The end: the last frame's time plus its own length.
        std::int64_t total = 0;
        for (int length : clips)
            total += length;
        EXPECT_NEAR(msOf(s.endHeard), expectedMs(total - 1) + 1000.0 / Rate, 1e-3);
    }
}

TEST(SoundQueue, ADeviceThatTakesWhatThereIsGetsNoSilenceAndCountsAsStarted) {
    SoundQueue q = makeQueue();
    q.markStarted(at(2000));
    EXPECT_TRUE(q.started()) << "nothing is queued until it has asked";
    // Ready since it was marked: it stalls only after asking for nothing for the limit.
    EXPECT_FALSE(q.checkStall(at(2000) + SoundQueue::StallLimit));
    const std::vector<std::uint32_t> data = clipFrames(1, 300);
    ASSERT_EQ(q.push(reinterpret_cast<const std::uint8_t*>(data.data()), 300 * FrameBytes),
              300u * FrameBytes);
    std::vector<std::uint32_t> out(1000, 0xdead);
    const std::size_t given =
        q.pull(reinterpret_cast<std::uint8_t*>(out.data()), out.size() * FrameBytes, T0, {}, false);
    EXPECT_EQ(given, 300u * FrameBytes);
    EXPECT_EQ(out[299], 1u);
    EXPECT_EQ(out[300], 0xdeadu) << "padded although it was not to be";
}

// A server's first word on when the stream is heard comes after the stream started: the
// clips handed over with a guess, and the end, move to it; clips of a cleared sentence,
// numbered by a play of the device that is over, stay where they were.
TEST(SoundQueue, WhatTheDeviceLearnsLaterMovesTheClipsItNumbered) {
    SoundQueue q = makeQueue();
    q.markStarted(T0);
    const auto push = [&](std::uint32_t clip, int frames) {
        const std::int64_t start = q.beginClip();
        const std::vector<std::uint32_t> data = clipFrames(clip, frames);
        q.push(reinterpret_cast<const std::uint8_t*>(data.data()), data.size() * FrameBytes);
        return start;
    };
    std::vector<std::uint32_t> out(4800);
    const std::int64_t old = push(1, 480);
    q.pull(reinterpret_cast<std::uint8_t*>(out.data()), 480 * FrameBytes, T0, 0ms, false, 0);
    q.clear();
    const std::int64_t first = push(2, 480);
    const std::int64_t second = push(3, 960);
    // Numbered from 960: the stream had 20 ms of silence before them.
    q.pull(reinterpret_cast<std::uint8_t*>(out.data()), 1440 * FrameBytes, at(1), 19ms, false, 960);
    ASSERT_NEAR(msOf(*q.heardAt(first)), 20, 0.01);

    // Frame 0 of the stream is heard at 30 ms, not at 1 ms: everything after it is 29 ms later.
    EXPECT_TRUE(q.anchor(0, at(30)));
    EXPECT_NEAR(msOf(*q.heardAt(first)), 50, 0.01);
    EXPECT_NEAR(msOf(*q.heardAt(second)), 60, 0.01);
    EXPECT_NEAR(msOf(q.endHeardAt()), 80, 0.01);
    EXPECT_NEAR(msOf(*q.heardAt(old)), 0, 0.01) << "a clip of another play moved";
    EXPECT_FALSE(q.anchor(480, at(40.2))) << "the same time again is no news";
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
        SoundQueue q = makeQueue(96000);
        // Two clips of a second each, queued as the device lets them.
        const std::vector<std::uint32_t> both = clipFrames(1, 2 * Rate);
        const std::size_t firstBytes = std::size_t(Rate) * FrameBytes;
        std::size_t pushed = 0;
        q.beginClip();
        std::int64_t startB = -1; // the second clip begins once the first is queued whole

        std::vector<std::uint32_t> buffer(1024);
        int bShown = -1, drainedAt = -1, stalledAt = -1;
        std::int64_t takenAtStall = 0;
        for (int ms = 0; ms < 9000 && drainedAt < 0; ++ms) {
            const auto* data = reinterpret_cast<const std::uint8_t*>(both.data());
            if (pushed < firstBytes)
                pushed += q.push(data + pushed, firstBytes - pushed);
            if (pushed >= firstBytes && startB < 0)
                startB = q.beginClip();
            if (startB >= 0)
                pushed += q.push(data + pushed, both.size() * FrameBytes - pushed);
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
            if (bShown < 0 && startB >= 0 && q.heardAt(startB))
                bShown = int(std::lround(msOf(*q.heardAt(startB))));
            if (q.ahead() == 0 && pushed == both.size() * FrameBytes && q.taken() > 0)
                drainedAt = int(std::lround(msOf(q.endHeardAt())));
        }
        EXPECT_EQ(q.stalled(), c.stalls);
        ASSERT_GE(drainedAt, 0) << "never drained";
        if (c.pauseAfterFirst > 0) {
            // Sound taken before the pause would have been cut in two by it.
            ASSERT_TRUE(q.startedAt(0).has_value());
            EXPECT_GE(*q.startedAt(0), at(c.firstPull + c.pauseAfterFirst));
        } else if (!c.stalls) {
            EXPECT_EQ(q.taken(), 2 * Rate) << "frames lost";
            // The device takes 1024 frames every 21 ms from its fourth request on; the
            // second clip starts at frame 48000, 896 frames into a request.
            EXPECT_NEAR(bShown,
                        c.firstPull + 21 * (SoundQueue::StartPulls + 48000 / 1024) +
                            1000.0 * (48000 % 1024) / Rate,
                        1)
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
