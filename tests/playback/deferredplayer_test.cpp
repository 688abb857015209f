#include "playback/deferredplayer.h"
#include "playback/playerfactory.h"
#include "support/fakes.h"
#include "support/tempdir.h"

#include <algorithm>
#include <cstdlib>
#include <future>
#include <gtest/gtest.h>

namespace brumlis {
namespace {

TEST(DeferredPlayer, OnlyWaitsForTheDeviceWhenThereIsSomethingToPlay) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    auto* inner = new test::RecordingPlayer;
    DeferredPlayer player([&]() -> std::unique_ptr<SoundPlayer> {
        released.wait();
        return std::unique_ptr<SoundPlayer>(inner);
    });

    // Still opening: an empty slot returns without waiting for it.
    player.play(QString());
    EXPECT_EQ(released.wait_for(std::chrono::seconds(0)), std::future_status::timeout);

    bool releasedFromIdle = false;
    player.setIdleHook([&] {
        if (!releasedFromIdle) {
            releasedFromIdle = true;
            release.set_value();
        }
    });
    player.play(QStringLiteral("sound\\Kalle.wav"));
    ASSERT_TRUE(releasedFromIdle) << "play did not keep the idle hook running while it waited";
    ASSERT_EQ(inner->calls.size(), 1u);
    EXPECT_EQ(inner->calls[0].path, QStringLiteral("sound\\Kalle.wav"));

    player.drain();
    player.stop();
    EXPECT_EQ(inner->drains, 1);
    EXPECT_EQ(inner->stops, 1);
}

TEST(DeferredPlayer, StopEndsAWaitForTheDevice) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    DeferredPlayer player([&]() -> std::unique_ptr<SoundPlayer> {
        released.wait();
        return std::make_unique<test::RecordingPlayer>();
    });
    player.setIdleHook([&] { player.stop(); });
    player.play(QStringLiteral("sound\\Kalle.wav")); // returns although the device never came
    release.set_value();
    EXPECT_NE(player.player(), nullptr);
}

TEST(SystemPlayer, WithoutAnAudioDeviceItIsSilentAndSaysSoOnce) {
    test::TempDir dir;
    // An ALSA whose configuration is empty knows no device at all, as on a machine
    // without a sound card; libasound would complain on stderr by itself.
    dir.write(QStringLiteral("asound.conf"), {});
    struct Case {
        const char* driver;
        QString alsaConfig;
    };
    const Case cases[] = {
        {"no-such-driver", {}},
        {"alsa", dir.filePath(QStringLiteral("asound.conf"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.driver);
        ::setenv("SDL_AUDIODRIVER", c.driver, 1);
        if (!c.alsaConfig.isEmpty())
            ::setenv("ALSA_CONFIG_PATH", c.alsaConfig.toLocal8Bit().constData(), 1);
        testing::internal::CaptureStderr();
        auto player = createSystemPlayer(dir.path());
        auto* deferred = dynamic_cast<DeferredPlayer*>(player.get());
        ASSERT_NE(deferred, nullptr);
        SoundPlayer* real = deferred->player();
        const std::string err = testing::internal::GetCapturedStderr();
        ::unsetenv("ALSA_CONFIG_PATH");
        EXPECT_NE(dynamic_cast<SilentPlayer*>(real), nullptr);
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        player->play(QStringLiteral("sound\\Kalle.wav"));
        player->drain();
    }
}

} // namespace
} // namespace brumlis
