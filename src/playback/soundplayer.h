#pragma once

#include <QString>
#include <atomic>
#include <functional>

namespace brumlis {

/// Plays recordings one after another, as a sentence is spoken.
///
/// `prepare` queues a clip behind the ones before it and returns when its first frame is
/// about to be heard: that is when the caller shows its word. `play` then lets it go; the
/// rest of the clip plays during the calls that follow, so clips follow each other without
/// a gap. `drain` waits until everything queued has really been heard. None of them ever
/// reports an error: a path that is empty, missing, not a regular file or not a decodable
/// WAV plays nothing and costs no time of its own (its `prepare` returns when the clip
/// before it ends).
class SoundPlayer {
public:
    /// Called again and again while the player waits, so a window can keep repainting.
    /// The hook may call `stop` and anything that does not speak; a `prepare`, `play`
    /// or `drain` made from inside it is ignored.
    using IdleHook = std::function<void()>;

    virtual ~SoundPlayer() = default;

    /// `path` is relative to the player's data folder ("sound/Kalle.wav"); backslashes
    /// count as separators.
    virtual void play(const QString& path) = 0;
    /// Queues `path` and waits until it is about to be heard, so its word can be shown
    /// just in time; the `play` of the same path that follows returns at once. Players
    /// that cannot tell when a clip starts leave it out: their `play` does it all.
    virtual void prepare(const QString& path) { (void)path; }
    virtual void drain() = 0;

    /// Silences everything queued at once and makes a `play` or `drain` in progress return.
    /// Meant to be called from the idle hook (a window being closed mid-sentence).
    virtual void stop() = 0;

    /// Why no sound can be heard, in the words of the system that failed; empty when it can.
    virtual QString unavailableReason() const { return {}; }

    void setIdleHook(IdleHook hook) { m_idle = std::move(hook); }

protected:
    void idle() const {
        if (m_idle)
            m_idle();
    }

private:
    IdleHook m_idle;
};

/// The player used where no audio device exists: every call returns at once.
class SilentPlayer final : public SoundPlayer {
public:
    explicit SilentPlayer(QString reason = {})
        : m_reason(std::move(reason)) {}
    void play(const QString&) override {}
    void drain() override {}
    void stop() override {}
    QString unavailableReason() const override { return m_reason; }

private:
    QString m_reason;
};

/// Set once a player had to leave a thread behind that waits on a sound server that
/// stopped answering. Such a thread can hold up the normal end of the process, so the
/// program should end with _exit once it has finished its own work.
inline std::atomic<bool> g_soundAbandoned{false};
inline bool soundAbandoned() {
    return g_soundAbandoned.load();
}

} // namespace brumlis
