#include "deferredplayer.h"

#include <chrono>

namespace brumlis {

DeferredPlayer::DeferredPlayer(Opener opener) {
    m_opener = std::thread([this, opener = std::move(opener)] {
        std::unique_ptr<SoundPlayer> made = opener();
        {
            std::lock_guard lock(m_mutex);
            m_player = std::move(made);
            m_opened = true;
        }
        m_ready.notify_all();
    });
}

DeferredPlayer::~DeferredPlayer() {
    m_opener.join();
}

SoundPlayer* DeferredPlayer::await() {
    std::unique_lock lock(m_mutex);
    const std::uint64_t generation = m_generation;
    while (!m_opened) {
        m_ready.wait_for(lock, std::chrono::milliseconds(5));
        if (m_opened)
            break;
        lock.unlock();
        idle();
        lock.lock();
        if (m_generation != generation)
            return nullptr;
    }
    if (m_player && !m_hooked) {
        m_player->setIdleHook([this] { idle(); });
        m_hooked = true;
    }
    return m_player.get();
}

SoundPlayer* DeferredPlayer::player() {
    std::unique_lock lock(m_mutex);
    m_ready.wait(lock, [this] { return m_opened; });
    return m_player.get();
}

void DeferredPlayer::play(const QString& path) {
    // An empty slot has nothing to wait for.
    if (path.isEmpty())
        return;
    if (SoundPlayer* real = await())
        real->play(path);
}

void DeferredPlayer::drain() {
    if (SoundPlayer* real = await())
        real->drain();
}

void DeferredPlayer::stop() {
    SoundPlayer* real = nullptr;
    {
        std::lock_guard lock(m_mutex);
        ++m_generation;
        if (m_opened)
            real = m_player.get();
    }
    if (real)
        real->stop();
}

} // namespace brumlis
