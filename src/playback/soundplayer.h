#pragma once

#include <QString>
#include <functional>

namespace brumlis {

/// Plays recordings one after another, as a sentence is spoken.
///
/// `play` is synchronous in the sense that matters to the listener: it returns once the
/// clip has been handed over except for a short lookahead, so the caller can show the next
/// word and queue its clip before the device runs dry. `drain` waits until everything
/// queued has really been heard. Neither ever reports an error: a path that is empty,
/// missing, not a regular file or not a decodable WAV returns at once, silently.
class SoundPlayer {
public:
    /// Called again and again while the player waits, so a window can keep repainting.
    using IdleHook = std::function<void()>;

    virtual ~SoundPlayer() = default;

    /// `path` is relative to the player's data folder ("sound/Kalle.wav"); backslashes
    /// count as separators.
    virtual void play(const QString& path) = 0;
    virtual void drain() = 0;

    /// Silences everything queued at once and makes a `play` or `drain` in progress return.
    /// Meant to be called from the idle hook (a window being closed mid-sentence).
    virtual void stop() = 0;

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
    void play(const QString&) override {}
    void drain() override {}
    void stop() override {}
};

} // namespace brumlis
