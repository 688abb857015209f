// The WASAPI output without a device: the formats it opens a stream with, what it gives
// the stream, when it says the stream's frames are heard, and that it counts as lost when
// the device goes away.
#include "brumlis/text/text.h"
#include "fakeclient.h"
#include "mixformat.h"
#include "wasapidevice.h"

#include <condition_variable>
#include <cstring>
#include <gtest/gtest.h>
#include <mutex>
#include <optional>
#include <vector>

namespace brumlis {
namespace {

using test::FakeAudioClient;
using test::FakeEndpoint;

const DeviceFormat Engine = DeviceFormat::of(SampleFormat::Float32, 48000, 2, 2048);

WAVEFORMATEXTENSIBLE extensible(WORD tag, int bits, int validBits, int rate, int channels) {
    WAVEFORMATEXTENSIBLE wave =
        waveFormatOf(DeviceFormat::of(SampleFormat::Float32, rate, channels));
    wave.Format.wBitsPerSample = WORD(bits);
    wave.Format.nBlockAlign = WORD(channels * bits / 8);
    wave.Format.nAvgBytesPerSec = DWORD(rate) * wave.Format.nBlockAlign;
    wave.Samples.wValidBitsPerSample = WORD(validBits);
    wave.SubFormat.Data1 = tag;
    return wave;
}

WAVEFORMATEXTENSIBLE plain(WORD tag, int bits, int rate, int channels) {
    WAVEFORMATEXTENSIBLE wave = extensible(tag, bits, bits, rate, channels);
    wave.Format.wFormatTag = tag;
    wave.Format.cbSize = 0;
    return wave;
}

TEST(WasapiFormat, MixFormatsAsTheCoreWritesThem) {
    struct Case {
        const char* name;
        WAVEFORMATEXTENSIBLE wave;
        std::optional<SampleFormat> sample;
        int rate, channels;
    };
    const Case cases[] = {
        {"float stereo (Wine, Windows)", extensible(WAVE_FORMAT_IEEE_FLOAT, 32, 32, 48000, 2),
         SampleFormat::Float32, 48000, 2},
        {"float 5.1 at 44.1 kHz", extensible(WAVE_FORMAT_IEEE_FLOAT, 32, 32, 44100, 6),
         SampleFormat::Float32, 44100, 6},
        {"plain float", plain(WAVE_FORMAT_IEEE_FLOAT, 32, 48000, 2), SampleFormat::Float32, 48000,
         2},
        {"16-bit", plain(WAVE_FORMAT_PCM, 16, 44100, 2), SampleFormat::Signed16, 44100, 2},
        {"8-bit mono", plain(WAVE_FORMAT_PCM, 8, 8000, 1), SampleFormat::Unsigned8, 8000, 1},
        {"24 bits in 32", extensible(WAVE_FORMAT_PCM, 32, 24, 96000, 2), SampleFormat::Signed32,
         96000, 2},
        {"32-bit", extensible(WAVE_FORMAT_PCM, 32, 32, 48000, 2), SampleFormat::Signed32, 48000, 2},
        {"24 bits in 3 bytes", extensible(WAVE_FORMAT_PCM, 24, 24, 48000, 2), std::nullopt, 0, 0},
        {"64-bit float", extensible(WAVE_FORMAT_IEEE_FLOAT, 64, 64, 48000, 2), std::nullopt, 0, 0},
        {"16 valid bits of float", extensible(WAVE_FORMAT_IEEE_FLOAT, 32, 16, 48000, 2),
         std::nullopt, 0, 0},
        {"ADPCM", plain(WAVE_FORMAT_ADPCM, 16, 48000, 2), std::nullopt, 0, 0},
        {"no channels", plain(WAVE_FORMAT_PCM, 16, 48000, 0), std::nullopt, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<DeviceFormat> format = deviceFormatOf(c.wave.Format);
        ASSERT_EQ(format.has_value(), c.sample.has_value());
        if (!format)
            continue;
        EXPECT_EQ(format->sample, *c.sample);
        EXPECT_EQ(format->rate, c.rate);
        EXPECT_EQ(format->channels, c.channels);
        EXPECT_EQ(format->bytesPerFrame, int(c.wave.Format.nBlockAlign));
    }
    // An extensible format too short to hold its extension is not read past its end.
    WAVEFORMATEXTENSIBLE cut = extensible(WAVE_FORMAT_IEEE_FLOAT, 32, 32, 48000, 2);
    cut.Format.cbSize = 2;
    EXPECT_FALSE(deviceFormatOf(cut.Format));
}

TEST(WasapiFormat, TheMixFormatItselfWhenTheEngineMakesItElseWindowsConverts) {
    struct Case {
        const char* name;
        WAVEFORMATEXTENSIBLE mix;
        bool converted;
    };
    const Case cases[] = {
        {"float stereo 48 kHz", extensible(WAVE_FORMAT_IEEE_FLOAT, 32, 32, 48000, 2), false},
        {"plain float stereo 48 kHz", plain(WAVE_FORMAT_IEEE_FLOAT, 32, 48000, 2), false},
        {"44.1 kHz", extensible(WAVE_FORMAT_IEEE_FLOAT, 32, 32, 44100, 2), true},
        {"5.1", extensible(WAVE_FORMAT_IEEE_FLOAT, 32, 32, 48000, 6), true},
        {"16-bit", plain(WAVE_FORMAT_PCM, 16, 48000, 2), true},
        {"unreadable", plain(WAVE_FORMAT_ADPCM, 4, 48000, 2), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const StreamFormat stream = streamFormatFor(&c.mix.Format, Engine);
        EXPECT_EQ(stream.converted, c.converted);
        const std::optional<DeviceFormat> opened = deviceFormatOf(stream.wave.Format);
        ASSERT_TRUE(opened);
        // The stream carries what the engine makes, whatever the device mixes in.
        EXPECT_EQ(opened->sample, Engine.sample);
        EXPECT_EQ(opened->rate, Engine.rate);
        EXPECT_EQ(opened->channels, Engine.channels);
        if (c.converted) {
            EXPECT_EQ(stream.flags, DWORD(AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM |
                                          AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY));
            EXPECT_EQ(stream.wave.dwChannelMask, DWORD(SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT));
        } else {
            EXPECT_EQ(stream.flags, 0u);
            EXPECT_EQ(std::memcmp(&stream.wave.Format, &c.mix.Format, sizeof(WAVEFORMATEX)), 0);
        }
    }
}

/// A WASAPI device on a fake client, with a Source that gives samples numbered 1, 2, 3, ...
/// and notes what it was asked.
class WasapiDeviceTest : public ::testing::Test {
protected:
    struct Request {
        std::size_t bytes;
        std::int64_t streamFrame;
        bool pad;
    };
    struct Anchored {
        std::int64_t streamFrame;
        SoundClock::time_point heard, toldAt;
    };

    void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
    void TearDown() override {
        if (device)
            device->close();
        device.reset();
        CoUninitialize();
    }

    void open() {
        device = makeWasapiDevice(
            Engine,
            [this](std::uint8_t* out, std::size_t bytes, std::chrono::nanoseconds,
                   std::int64_t streamFrame, bool pad) {
                std::lock_guard locked(mutex);
                requests.push_back({bytes, streamFrame, pad});
                auto* samples = reinterpret_cast<float*>(out);
                for (std::size_t i = 0; i < bytes / sizeof(float); ++i)
                    samples[i] = float(++given);
                return bytes;
            },
            [this](std::int64_t streamFrame, SoundClock::time_point heard) {
                {
                    std::lock_guard locked(mutex);
                    anchors.push_back({streamFrame, heard, SoundClock::now()});
                }
                anchored.notify_all();
            },
            [this] { return std::make_unique<FakeEndpoint>(&client, &gone); });
        std::u16string why;
        ASSERT_TRUE(device->open(&why)) << toUtf8(why);
    }

    /// The frames played so far, as the fake's samples.
    std::vector<float> played() {
        const auto locked = client.lock();
        std::vector<float> samples(client.played.size() / sizeof(float));
        std::memcpy(samples.data(), client.played.data(), samples.size() * sizeof(float));
        return samples;
    }

    static constexpr std::size_t Frames = 1440; // the fake's buffer
    static constexpr std::size_t LeadIn = 960;  // 20 ms at 48 kHz

    FakeAudioClient client{extensible(WAVE_FORMAT_IEEE_FLOAT, 32, 32, 48000, 2)};
    std::function<void()> gone;
    std::unique_ptr<AudioDevice> device;
    std::mutex mutex;
    std::condition_variable anchored;
    std::vector<Request> requests;
    std::vector<Anchored> anchors;
    long given = 0;
};

TEST_F(WasapiDeviceTest, EachStartPlaysALeadInAndThenWhatTheSourceGives) {
    open();
    EXPECT_EQ(client.mode, AUDCLNT_SHAREMODE_SHARED);
    EXPECT_EQ(client.flags, DWORD(AUDCLNT_STREAMFLAGS_EVENTCALLBACK));
    ASSERT_NE(client.event, nullptr);

    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        const std::size_t before = played().size();
        long givenBefore = 0;
        std::size_t requestsBefore = 0;
        {
            std::lock_guard locked(mutex);
            givenBefore = given;
            requestsBefore = requests.size();
        }
        device->play(false);
        // The buffer is filled before the stream starts, and again each time it asks.
        ASSERT_TRUE(client.waitUntil([&] { return client.starts == round; }));
        client.ask();
        ASSERT_TRUE(client.waitUntil(
            [&] { return client.played.size() >= (before + 2 * Frames * 2) * sizeof(float); }));
        device->pause();
        ASSERT_TRUE(client.waitUntil([&] { return client.stops == round; }));

        const std::vector<float> samples = played();
        for (std::size_t i = 0; i < LeadIn * 2; ++i)
            ASSERT_EQ(samples[before + i], 0.0f) << "lead-in sample " << i;
        // Every frame the source gave is played, in order, right after the lead-in.
        for (std::size_t i = LeadIn * 2; i < 2 * Frames * 2; ++i)
            ASSERT_EQ(samples[before + i], float(givenBefore + long(i - LeadIn * 2) + 1))
                << "sample " << i;
        std::lock_guard locked(mutex);
        // The device may take more than it is asked for (a wake-up it had coming), never less.
        ASSERT_GE(requests.size(), requestsBefore + 2);
        const Request first = requests[requestsBefore], second = requests[requestsBefore + 1];
        // Frames are counted from the start, the lead-in too, as the audio clock counts them.
        EXPECT_EQ(first.streamFrame, std::int64_t(LeadIn));
        EXPECT_EQ(first.bytes, (Frames - LeadIn) * 8);
        EXPECT_EQ(second.streamFrame, std::int64_t(Frames));
        EXPECT_EQ(second.bytes, Frames * 8);
        EXPECT_TRUE(first.pad && second.pad); // a buffer taken is a buffer filled
    }
    EXPECT_FALSE(device->lost());
}

TEST_F(WasapiDeviceTest, TheAudioClockSaysWhenTheStreamStartIsHeard) {
    // The clock counts bytes, as a shared stream's often does: 100 ms in, when read.
    client.clockFrequency = 48000 * 8;
    client.positionAt = [](UINT64) { return UINT64(4800 * 8); };
    open();
    device->play(false);
    ASSERT_TRUE(client.waitUntil([&] { return client.starts == 1; }));
    client.ask();
    std::unique_lock locked(mutex);
    ASSERT_TRUE(
        anchored.wait_for(locked, std::chrono::seconds(10), [&] { return !anchors.empty(); }));
    const Anchored anchor = anchors.front();
    SoundClock::time_point readBefore;
    {
        const auto clientLocked = client.lock();
        ASSERT_FALSE(client.reads.empty());
        readBefore = client.reads.front();
    }
    EXPECT_EQ(anchor.streamFrame, 0);
    // Frame 4800 was heard when the clock was read; the start 100 ms before.
    const auto slack = std::chrono::microseconds(1);
    EXPECT_GE(anchor.heard + std::chrono::milliseconds(100), readBefore - slack);
    EXPECT_LE(anchor.heard + std::chrono::milliseconds(100), anchor.toldAt + slack);
}

TEST_F(WasapiDeviceTest, CountsAsLostWhenTheDeviceIsInvalidatedOrNoLongerTheDefault) {
    client.bufferFailure = AUDCLNT_E_DEVICE_INVALIDATED;
    client.failAfter = 1; // the buffer before the start, then no more
    open();
    device->play(false);
    ASSERT_TRUE(client.waitUntil([&] { return client.starts == 1; }));
    client.ask();
    ASSERT_TRUE(client.waitUntil([&] { return client.stops == 1; }));
    EXPECT_TRUE(device->lost());
    device->close();

    // Another output chosen as the default: the next sentence goes there.
    client.failAfter = -1;
    open();
    EXPECT_FALSE(device->lost());
    ASSERT_TRUE(gone);
    gone();
    EXPECT_TRUE(device->lost());
}

TEST_F(WasapiDeviceTest, AnInvalidatedDeviceDoesNotOpenAndSaysWhyInSwedish) {
    client.initializeResult = AUDCLNT_E_DEVICE_INVALIDATED;
    device = makeWasapiDevice(
        Engine,
        [](std::uint8_t*, std::size_t, std::chrono::nanoseconds, std::int64_t, bool) {
            return std::size_t(0);
        },
        [](std::int64_t, SoundClock::time_point) {},
        [this] { return std::make_unique<FakeEndpoint>(&client, &gone); });
    std::u16string why;
    EXPECT_FALSE(device->open(&why));
    EXPECT_EQ(toUtf8(why), "ljudenheten öppnar ingen ljudström: enheten finns inte längre");
    EXPECT_TRUE(device->lost());
}

} // namespace
} // namespace brumlis
