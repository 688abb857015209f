#pragma once

#include "soundplayer.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace brumlis {

/// A player whose real player is made on a background thread, so that opening an audio
/// device never holds up the start of the program. Calls wait for it only when there is
/// something to play; the idle hook keeps running while they wait.
class DeferredPlayer final : public SoundPlayer {
public:
    using Opener = std::function<std::unique_ptr<SoundPlayer>()>;

    explicit DeferredPlayer(Opener opener);
    ~DeferredPlayer() override;

    void play(const QString& path) override;
    void drain() override;
    void stop() override;

    /// Waits for the real player (null if the opener made none).
    SoundPlayer* player();

private:
    /// Waits for the real player unless stopped meanwhile.
    SoundPlayer* await();

    std::mutex m_mutex;
    std::condition_variable m_ready;
    bool m_opened = false;
    bool m_hooked = false;
    std::uint64_t m_generation = 0;
    std::unique_ptr<SoundPlayer> m_player;
    std::thread m_opener;
};

} // namespace brumlis
