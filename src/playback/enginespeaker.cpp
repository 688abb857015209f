#include "enginestate.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <optional>
#include <utility>

namespace brumlis {

namespace {

using Clock = EngineState::Clock;

// Sound queued before the device is told to play, so that it has the sentence's start at
// once; the rest is converted while it plays.
constexpr int StartMs = 50;
// How often a sentence on a stalled device moves on.
constexpr auto PacePeriod = std::chrono::milliseconds(20);
// How long after the last frame of a sentence is due to be heard the device is told to
// stop taking sound: what it still holds is dropped then, so the margin is wide. A
// server's word on when the end is heard was seen to come up to 10 ms early.
constexpr auto PauseMargin = std::chrono::milliseconds(150);

/// The speaker thread's work: one sentence at a time, its clips opened in turn and their
/// sound queued for the device, and what the device took reported as heard.
class Speaker {
public:
    explicit Speaker(EngineState& state)
        : s(state)
        , lock(state.mutex) {}
    void run();

private:
    /// A speak or a stop came: whatever was being spoken is over.
    void begin();
    /// Opens the clips in turn and queues their sound, as much as fits or until `enough`
    /// frames are queued ahead of the device. Each clip goes into the queue whole before
    /// the next one starts.
    void fill(std::int64_t enough = std::numeric_limits<std::int64_t>::max());
    /// Reports the clips the device has taken, and the end once it has taken everything.
    void report(Clock::time_point now);
    /// Tells again when a clip (or the end) is heard, when the device has learnt better
    /// and it is still to come.
    void retell(Clock::time_point now);
    /// No device, and none coming: heard at once, as without a sound card.
    void hearAtOnce();
    void end(Clock::time_point heardEnd);
    bool sentenceOver() const { return s.quitWanted || request != s.request; }
    int count() const { return int(clips.size()); }
    bool allQueued() const { return next >= count() && !streaming; }
    /// Runs `call` on the device without the lock, which the device's own thread takes.
    template <typename Call> void onDevice(Call call) {
        const std::shared_ptr<AudioDevice> device = s.device;
        lock.unlock();
        call(*device);
        lock.lock();
    }

    EngineState& s;
    std::unique_lock<std::mutex> lock;
    std::vector<PlayerEvent> events;

    // The sentence being spoken, or last spoken.
    std::uint64_t request = 0;
    bool active = false;
    std::uint64_t id = 0;
    std::vector<Clip> clips;
    int next = 0;                        ///< the clip to open next
    std::vector<Clock::time_point> told; ///< when each clip reported is heard, as told
    std::optional<Clock::time_point> endTold;
    Clock::time_point startedAt;
    bool stallReported = false;
    AudioDevice* playing = nullptr; ///< the device told to play for this sentence
    /// When the device is to stop taking sound, once the sentence has been heard.
    std::optional<Clock::time_point> pauseAt;
    ClipStream clip;
    bool streaming = false; ///< `clip` has frames not yet queued
    std::vector<std::uint8_t> chunk;
    std::size_t chunkOffset = 0;
};

void Speaker::begin() {
    if (playing && s.device.get() == playing)
        onDevice([](AudioDevice& d) { d.pause(); }); // what it still holds is dropped
    clip.close();
    streaming = false;
    chunk.clear();
    chunkOffset = 0;
    playing = nullptr;
    pauseAt.reset();
    endTold.reset();
    told.clear();
    request = s.request;
    active = s.speakWanted;
    if (!active)
        return;
    id = s.sentence;
    clips = s.clips;
    next = 0;
    startedAt = Clock::now();
    stallReported = false;
    s.clipStarts.clear();
    s.ensureDevice(startedAt);
}

void Speaker::fill(std::int64_t enough) {
    SoundQueue& q = *s.queue;
    while (!sentenceOver() && q.ahead() < enough) {
        if (!streaming) {
            if (next >= count())
                return;
            s.clipStarts.push_back(q.beginClip());
            const Clip c = clips[std::size_t(next++)];
            lock.unlock();
            bool opened = false;
            if (c.samples) {
                opened = clip.open(c.samples, c.rate, s.format);
            } else if (!c.path.empty()) {
                const std::filesystem::path file = s.resolver.resolve(c.path);
                opened = !file.empty() && clip.open(file, s.format);
            }
            lock.lock();
            streaming = opened;
            continue;
        }
        if (chunkOffset < chunk.size()) {
            chunkOffset += q.push(chunk.data() + chunkOffset, chunk.size() - chunkOffset);
            if (chunkOffset < chunk.size())
                return; // full, or the device has not started yet
        }
        lock.unlock();
        const bool more = clip.next(chunk);
        lock.lock();
        chunkOffset = 0;
        if (!more) {
            chunk.clear();
            streaming = false;
        }
    }
}

void Speaker::report(Clock::time_point now) {
    SoundQueue& q = *s.queue;
    // A clip is reported once the device has taken its first frame, and so knows when it
    // is heard; a clip without sound at the end of the sentence, once the device has taken
    // everything.
    const bool allTaken = allQueued() && q.ahead() == 0;
    const Clock::time_point endAt = std::max(q.endHeardAt(), startedAt);
    while (int(told.size()) < int(s.clipStarts.size())) {
        const int k = int(told.size());
        const std::int64_t frame = s.clipStarts[std::size_t(k)];
        std::optional<Clock::time_point> heard;
        if (frame < q.taken())
            heard = q.heardAt(frame).value_or(now);
        else if (allTaken)
            heard = endAt;
        if (!heard)
            break;
        events.push_back({PlayerEvent::Kind::ClipHeard, id, k, *heard, s.lead});
        told.push_back(*heard);
    }
    if (allTaken && int(told.size()) == count()) {
        events.push_back({PlayerEvent::Kind::AllHeard, id, -1, endAt, s.lead});
        end(endAt);
    }
}

void Speaker::retell(Clock::time_point now) {
    const SoundQueue& q = *s.queue;
    for (std::size_t k = 0; k < told.size() && k < s.clipStarts.size(); ++k) {
        const std::optional<Clock::time_point> heard = q.heardAt(s.clipStarts[k]);
        if (heard && *heard != told[k] && told[k] > now && *heard > now) {
            told[k] = *heard;
            events.push_back({PlayerEvent::Kind::ClipHeard, id, int(k), *heard, s.lead});
        }
    }
    if (endTold && q.endHeardAt() != *endTold && *endTold > now && q.endHeardAt() > now) {
        events.push_back({PlayerEvent::Kind::AllHeard, id, -1, q.endHeardAt(), s.lead});
        end(q.endHeardAt());
    }
}

void Speaker::hearAtOnce() {
    const Clock::time_point now = Clock::now();
    for (int k = int(told.size()); k < count(); ++k)
        events.push_back({PlayerEvent::Kind::ClipHeard, id, k, now, {}});
    events.push_back({PlayerEvent::Kind::AllHeard, id, -1, now, {}});
    told.assign(std::size_t(count()), now);
    end(now);
    pauseAt.reset();
}

void Speaker::end(Clock::time_point heardEnd) {
    clip.close();
    active = streaming = false;
    chunk.clear();
    chunkOffset = 0;
    endTold = heardEnd;
    pauseAt = heardEnd + PauseMargin;
    s.active = false;
    s.lastActive = heardEnd;
    s.command.notify_all(); // the idle timer starts now
}

void Speaker::run() {
    while (!s.quitWanted) {
        const std::uint64_t seen = s.changes;
        if (request != s.request) {
            begin();
            continue;
        }
        const auto changed = [&] { return s.changes != seen || s.quitWanted; };
        if (!active) {
            const Clock::time_point now = Clock::now();
            // The sentence heard, its end may still move; once it has been heard, the
            // device stops taking sound.
            if (endTold)
                retell(now);
            if (pauseAt && now >= *pauseAt) {
                pauseAt.reset();
                endTold.reset();
                if (s.device && s.device.get() == playing)
                    onDevice([](AudioDevice& d) { d.pause(); });
                playing = nullptr;
            } else if (events.empty()) {
                if (pauseAt)
                    s.wake.wait_until(lock, *pauseAt, changed);
                else
                    s.wake.wait(lock, changed);
            }
        } else if (s.device && s.feeding && s.device.get() != playing) {
            // A device that has come (or come back) for this sentence is told to play, with
            // the start of the sentence queued for it to take at once.
            fill(std::int64_t(s.format.rate) * StartMs / 1000);
            if (sentenceOver())
                continue;
            playing = s.device.get();
            const bool last = allQueued();
            onDevice([last](AudioDevice& d) { d.play(last); });
            continue;
        } else if (!s.device && !s.opening && s.everOpened && !s.failure.empty()) {
            hearAtOnce();
        } else {
            SoundQueue& q = *s.queue;
            const std::int64_t queuedBefore = q.queuedEnd();
            fill();
            if (sentenceOver())
                continue;
            const bool queued = q.queuedEnd() != queuedBefore;
            if (queued && s.device && s.device.get() == playing) {
                // The device takes what has just been queued, where it can.
                const bool last = allQueued();
                onDevice([last](AudioDevice& d) { d.more(last); });
                if (sentenceOver())
                    continue;
            }
            // When to look again if nothing wakes the speaker sooner: the device's requests
            // and every speak or stop do.
            const Clock::time_point now = Clock::now();
            Clock::time_point deadline = q.stallDeadline();
            if (q.checkStall(now)) {
                if (!stallReported) {
                    stallReported = true;
                    events.push_back({PlayerEvent::Kind::Stalled, id, -1, now, {}});
                }
                q.advance(now);
                deadline = now + PacePeriod;
            }
            // Reported before more is converted: the first word does not wait for the rest
            // of the sentence.
            retell(now);
            report(now);
            if (events.empty() && !queued && active && !sentenceOver())
                s.wake.wait_until(lock, deadline, changed);
        }
        if (!events.empty()) {
            const std::vector<PlayerEvent> due = std::exchange(events, {});
            lock.unlock();
            s.deliver(due);
            lock.lock();
        }
    }
    clip.close();
}

} // namespace

void runSpeakerThread(std::shared_ptr<EngineState> state) {
    EngineState& s = *state;
    // The index of a large sound folder is read now rather than at the first word
    // without an exact recording.
    s.resolver.prepare();
    {
        Speaker speaker(s);
        speaker.run();
    }
    if (s.outputs.threadEnds)
        s.outputs.threadEnds();
    std::lock_guard lock(s.mutex);
    s.speakerDone = true;
    s.done.notify_all();
}

} // namespace brumlis
