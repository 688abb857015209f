#pragma once

#include "brumlis/playback/soundplayer.h"

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace brumlis {

/// A player made when it is first needed: when start() is called (a window calls it once it
/// has drawn itself, so that the sound server is not connected to while the window is being
/// put up) or at the first speak, whichever comes first.
class LazyPlayer final : public SoundPlayer {
public:
    using Factory = std::function<std::unique_ptr<SoundPlayer>()>;
    explicit LazyPlayer(Factory make)
        : m_make(std::move(make)) {}

    /// Makes the player now, if it is not made yet.
    void start() {
        if (m_player)
            return;
        m_player = m_make();
        m_make = nullptr;
        m_player->setListener([this](const PlayerEvent& event) { report(event); });
    }
    bool started() const { return m_player != nullptr; }

    using SoundPlayer::speak;
    void speak(std::uint64_t sentence, const std::vector<Clip>& clips) override {
        start();
        m_player->speak(sentence, clips);
    }
    void stop() override {
        if (m_player)
            m_player->stop();
    }
    /// Nothing is known of a player that is not made yet.
    std::u16string unavailableReason() const override {
        return m_player ? m_player->unavailableReason() : std::u16string();
    }

private:
    Factory m_make;
    std::unique_ptr<SoundPlayer> m_player;
};

} // namespace brumlis
