#include "deferredplayer.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace brumlis {

/// Shared with the opener thread, which may outlive the player when it hangs at exit.
struct DeferredPlayer::State {
    std::mutex mutex;
    std::condition_variable ready;
    bool opened = false;
    std::unique_ptr<SoundPlayer> player;
};

DeferredPlayer::DeferredPlayer(Opener opener)
    : m_state(std::make_shared<State>()) {
    std::thread([state = m_state, opener = std::move(opener)] {
        std::unique_ptr<SoundPlayer> made = opener();
        {
            std::lock_guard lock(state->mutex);
            state->player = std::move(made);
            state->opened = true;
        }
        state->ready.notify_all();
    }).detach();
}

DeferredPlayer::~DeferredPlayer() {
    std::unique_ptr<SoundPlayer> player;
    {
        std::unique_lock lock(m_state->mutex);
        if (!m_state->ready.wait_for(lock, ExitWait, [this] { return m_state->opened; })) {
            // The opener waits on a sound server that does not answer; it keeps the
            // state alive and drops whatever it makes.
            g_soundAbandoned = true;
            return;
        }
        player = std::move(m_state->player);
    }
    // Destroyed here rather than whenever the state goes, so it happens now.
    player.reset();
}

SoundPlayer* DeferredPlayer::await() {
    const auto giveUp = std::chrono::steady_clock::now() + OpenWait;
    const std::uint64_t generation = m_generation;
    std::unique_lock lock(m_state->mutex);
    while (!m_state->opened) {
        m_state->ready.wait_for(lock, std::chrono::milliseconds(5));
        if (m_state->opened)
            break;
        lock.unlock();
        idle();
        lock.lock();
        if (m_generation != generation || std::chrono::steady_clock::now() >= giveUp)
            return nullptr;
    }
    SoundPlayer* real = m_state->player.get();
    if (real && !m_hooked) {
        real->setIdleHook([this] { idle(); });
        m_hooked = true;
    }
    return real;
}

SoundPlayer* DeferredPlayer::player() {
    std::unique_lock lock(m_state->mutex);
    m_state->ready.wait(lock, [this] { return m_state->opened; });
    return m_state->player.get();
}

void DeferredPlayer::play(const QString& path) {
    // An empty slot has nothing to wait for.
    if (path.isEmpty() || m_inCall)
        return;
    m_inCall = true;
    if (SoundPlayer* real = await())
        real->play(path);
    m_inCall = false;
}

void DeferredPlayer::prepare(const QString& path) {
    if (path.isEmpty() || m_inCall)
        return;
    m_inCall = true;
    if (SoundPlayer* real = await())
        real->prepare(path);
    m_inCall = false;
}

void DeferredPlayer::drain() {
    if (m_inCall)
        return;
    m_inCall = true;
    // Nothing was handed on if the player is not there yet.
    SoundPlayer* real = nullptr;
    {
        std::lock_guard lock(m_state->mutex);
        real = m_state->opened ? m_state->player.get() : nullptr;
    }
    if (real)
        real->drain();
    m_inCall = false;
}

void DeferredPlayer::stop() {
    SoundPlayer* real = nullptr;
    {
        std::lock_guard lock(m_state->mutex);
        ++m_generation;
        if (m_state->opened)
            real = m_state->player.get();
    }
    if (real)
        real->stop();
}

QString DeferredPlayer::unavailableReason() const {
    std::lock_guard lock(m_state->mutex);
    return m_state->opened && m_state->player ? m_state->player->unavailableReason() : QString();
}

} // namespace brumlis
