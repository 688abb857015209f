#include "brumlis/playback/lazyplayer.h"

#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace brumlis {
namespace {

// A player that says when each clip is heard at once, and counts what it is asked.
class CountingPlayer final : public SoundPlayer {
public:
    explicit CountingPlayer(int& stops)
        : m_stops(stops) {}
    using SoundPlayer::speak;
    void speak(std::uint64_t sentence, const std::vector<Clip>& clips) override {
        for (int k = 0; k < int(clips.size()); ++k)
            report({PlayerEvent::Kind::ClipHeard, sentence, k, {}, {}});
        report({PlayerEvent::Kind::AllHeard, sentence, -1, {}, {}});
    }
    void stop() override { ++m_stops; }
    std::u16string unavailableReason() const override { return u"ingen ljudserver"; }

private:
    int& m_stops;
};

// The window's player connects to the sound server only once it is asked to: nothing that a
// window does while it is put up (listening, asking why there is no sound, stopping) makes it.
TEST(LazyPlayer, IsMadeOnceAtStartOrAtTheFirstSentenceAndPassesEverythingOn) {
    for (const bool startFirst : {true, false}) {
        SCOPED_TRACE(startFirst ? "started, then spoken" : "spoken without a start");
        int made = 0, stops = 0;
        LazyPlayer player([&] {
            ++made;
            return std::make_unique<CountingPlayer>(stops);
        });
        std::vector<PlayerEvent> events;
        player.setListener([&](const PlayerEvent& e) { events.push_back(e); });
        player.stop();
        EXPECT_EQ(player.unavailableReason(), u"");
        EXPECT_EQ(made, 0);
        EXPECT_EQ(stops, 0);

        if (startFirst)
            player.start();
        player.speak(7, std::vector<std::u16string>{u"sound\\a.wav", u"sound\\b.wav"});
        player.start();
        player.speak(8, std::vector<std::u16string>{u"sound\\c.wav"});
        player.stop();
        EXPECT_EQ(made, 1);
        EXPECT_EQ(stops, 1);
        EXPECT_EQ(player.unavailableReason(), u"ingen ljudserver");
        ASSERT_EQ(events.size(), 5u);
        EXPECT_EQ(events[1].sentence, 7u);
        EXPECT_EQ(events[1].clip, 1);
        EXPECT_EQ(events[2].kind, PlayerEvent::Kind::AllHeard);
        EXPECT_EQ(events[3].sentence, 8u);
    }
}

} // namespace
} // namespace brumlis
