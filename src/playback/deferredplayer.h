#pragma once

#include "soundplayer.h"

#include <chrono>
#include <functional>
#include <memory>

namespace brumlis {

/// A player whose real player is made on a background thread, so that opening an audio
/// device never holds up the start of the program. Calls wait for it only when there is
/// something to play, and only so long; the idle hook keeps running while they wait.
class DeferredPlayer final : public SoundPlayer {
public:
    using Opener = std::function<std::unique_ptr<SoundPlayer>()>;

    /// Longest a call waits for the real player; after that it plays nothing.
    static constexpr auto OpenWait = std::chrono::seconds(5);
    /// Longest the destructor waits for an opener that is still busy.
    static constexpr auto ExitWait = std::chrono::milliseconds(300);

    explicit DeferredPlayer(Opener opener);
    ~DeferredPlayer() override;

    void play(const QString& path) override;
    void prepare(const QString& path) override;
    void drain() override;
    void stop() override;
    QString unavailableReason() const override;

    /// Waits for the real player (null if the opener made none).
    SoundPlayer* player();

private:
    struct State;

    /// Waits for the real player unless stopped meanwhile or waited for too long.
    SoundPlayer* await();

    std::shared_ptr<State> m_state;
    bool m_hooked = false;
    bool m_inCall = false;
    std::uint64_t m_generation = 0;
};

} // namespace brumlis
