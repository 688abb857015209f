#pragma once

#include "brumlis/playback/soundplayer.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace brumlis::test {

/// Collects what a player reports, on whatever thread, and waits for it.
class PlayerEvents {
public:
    explicit PlayerEvents(SoundPlayer& player)
        : m_player(player) {
        player.setListener([this](const PlayerEvent& e) {
            std::lock_guard lock(m_mutex);
            m_events.push_back(e);
            m_changed.notify_all();
        });
    }
    ~PlayerEvents() { m_player.setListener({}); }
    PlayerEvents(const PlayerEvents&) = delete;
    PlayerEvents& operator=(const PlayerEvents&) = delete;
    /// Waits for the sentence's AllHeard (a broken engine gives up after half a minute).
    std::vector<PlayerEvent> untilAllHeard() {
        return until([](const PlayerEvent& e) { return e.kind == PlayerEvent::Kind::AllHeard; });
    }
    std::vector<PlayerEvent> until(const std::function<bool(const PlayerEvent&)>& wanted) {
        std::unique_lock lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(30),
                           [&] { return std::any_of(m_events.begin(), m_events.end(), wanted); });
        return std::exchange(m_events, {});
    }

private:
    SoundPlayer& m_player;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<PlayerEvent> m_events;
};

} // namespace brumlis::test
