#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace brumlis {

using SoundClock = std::chrono::steady_clock;

/// What a player says about the sentence it speaks.
struct PlayerEvent {
    enum class Kind {
        /// Clip `clip` is about to be heard, at `at`. A clip without sound (an empty, missing
        /// or unplayable path) is heard when the one before it ends. A clip may be reported
        /// again, before it is heard, when the player has learnt better when it is.
        ClipHeard,
        /// The last clip is heard to its end at `at`. It may come before then, once the
        /// player holds everything; until `at` a later AllHeard may move the end.
        AllHeard,
        /// The device stopped taking sound. The sentence goes on without it, at the pace of
        /// its clips, and still ends with AllHeard.
        Stalled,
    };
    Kind kind = Kind::ClipHeard;
    std::uint64_t sentence = 0; ///< as given to speak()
    int clip = -1;              ///< ClipHeard only
    SoundClock::time_point at;
    /// ClipHeard: how long before it is heard the clip's word is best shown. What the
    /// output knows of itself: how its figures relate to what a listener hears, and how late
    /// a timer on this machine may wake.
    std::chrono::nanoseconds lead{};
};

/// What one slot of a sentence plays: a recording under the player's data folder, or
/// sound held in memory (a take not saved yet).
struct Clip {
    /// Relative to the data folder ("sound/Kalle.wav"; backslashes count as separators);
    /// empty for a slot without sound.
    std::u16string path;
    /// Mono samples at `rate`, played instead of a file when set.
    std::shared_ptr<const std::vector<float>> samples;
    int rate = 0;

    static Clip held(std::vector<float> samples, int rate) {
        return {{}, std::make_shared<const std::vector<float>>(std::move(samples)), rate};
    }
};

/// The clips of recordings at `paths`.
inline std::vector<Clip> clipsOf(const std::vector<std::u16string>& paths) {
    std::vector<Clip> clips;
    clips.reserve(paths.size());
    for (const std::u16string& path : paths)
        clips.push_back({path, nullptr, 0});
    return clips;
}

/// Speaks the recordings of a sentence one after another, without a gap, and says how far
/// it has got through events. Nothing here waits: `speak` and `stop` return at once, and
/// the events come later from a thread of the player's, through the listener.
///
/// For every clip given to `speak` a ClipHeard comes, in order, and then an AllHeard,
/// unless `stop` or a later `speak` ends the sentence first; after that nothing more comes
/// for it. Players never report errors: a path that is empty, missing, not a
/// regular file or not a decodable WAV plays nothing and takes no time of its own.
class SoundPlayer {
public:
    /// Called on any thread, possibly while the player holds its own locks: hand the event
    /// on (post it to an event loop) and return.
    using Listener = std::function<void(const PlayerEvent&)>;

    virtual ~SoundPlayer() = default;

    /// Speaks `clips` one after another. Whatever was still sounding is cut off.
    virtual void speak(std::uint64_t sentence, const std::vector<Clip>& clips) = 0;
    /// The same for recordings at `paths`.
    void speak(std::uint64_t sentence, const std::vector<std::u16string>& paths) {
        speak(sentence, clipsOf(paths));
    }
    /// Silences everything at once; the current sentence reports nothing more.
    virtual void stop() = 0;

    /// Why no sound can be heard, in Swedish; empty when it can.
    virtual std::u16string unavailableReason() const { return {}; }

    void setListener(Listener listener) {
        std::lock_guard lock(m_listenerMutex);
        m_listener = std::move(listener);
    }

protected:
    void report(const PlayerEvent& event) const {
        std::lock_guard lock(m_listenerMutex);
        if (m_listener)
            m_listener(event);
    }

private:
    mutable std::mutex m_listenerMutex;
    Listener m_listener;
};

/// The player used where no audio device exists: every sentence is heard at once.
class SilentPlayer final : public SoundPlayer {
public:
    explicit SilentPlayer(std::u16string reason = {})
        : m_reason(std::move(reason)) {}
    using SoundPlayer::speak;
    void speak(std::uint64_t sentence, const std::vector<Clip>& clips) override {
        // Heard before any clock can say "now": whatever clock the listener keeps.
        const SoundClock::time_point atOnce{};
        for (int k = 0; k < int(clips.size()); ++k)
            report({PlayerEvent::Kind::ClipHeard, sentence, k, atOnce, {}});
        report({PlayerEvent::Kind::AllHeard, sentence, -1, atOnce, {}});
    }
    void stop() override {}
    std::u16string unavailableReason() const override { return m_reason; }

private:
    std::u16string m_reason;
};

/// Set once a player had to leave a thread behind that waits on a sound server that
/// stopped answering. Such a thread can hold up the normal end of the process, so the
/// program should end with _exit once it has finished its own work.
inline std::atomic<bool> g_soundAbandoned{false};
inline bool soundAbandoned() {
    return g_soundAbandoned.load();
}

} // namespace brumlis
