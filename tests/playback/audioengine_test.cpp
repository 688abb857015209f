#include "brumlis/linuxaudio/playerfactory.h"
#include "brumlis/playback/audioengine.h"
#include "brumlis/qtbridge/text.h"
#include "brumlis/sentence/sentencebuffer.h"
#include "brumlis/text/text.h"
#include "support/capture.h"
#include "support/fakes.h"
#include "support/levelclip.h"
#include "support/playerevents.h"
#include "support/tempdir.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <vector>

namespace brumlis {
namespace {

void writeLevelClip(const QString& path, int format, int rate, int channels, int frames,
                    float level) {
    ASSERT_TRUE(test::writeLevelClip(path, format, rate, channels, frames, level))
        << sf_strerror(nullptr);
}

/// Points SDL at one of its headless drivers for the life of a test.
class HeadlessAudio : public testing::Test {
protected:
    void useDriver(const char* driver) {
        m_dir.mkdir(QStringLiteral("sound"));
        ::setenv("SDL_AUDIODRIVER", driver, 1);
        ::setenv("SDL_DISKAUDIOFILE", QFile::encodeName(capturePath()).constData(), 1);
    }
    QString capturePath() const { return m_dir.filePath(QStringLiteral("capture.raw")); }
    /// The left channel of what the disk driver wrote (once its device is closed).
    std::vector<float> captured() const {
        QFile capture(capturePath());
        const QByteArray bytes =
            capture.open(QIODevice::ReadOnly) ? capture.readAll() : QByteArray();
        std::vector<float> left(std::size_t(bytes.size()) / (2 * sizeof(float)));
        for (std::size_t i = 0; i < left.size(); ++i)
            std::memcpy(&left[i], bytes.constData() + 2 * i * sizeof(float), sizeof(float));
        return left;
    }

    test::TempDir m_dir;
};

struct SoundClip {
    const char* slotPath; // as the sentence holds it
    const char* fileName; // as it lies in sound/
    int format;
    int rate;
    int channels;
    int frames;
    float level;
};

TEST_F(HeadlessAudio, EveryClipOfASentenceReachesTheDeviceWholeAndInOrder) {
    useDriver("disk");
    // The disk device takes a buffer every 80 ms, a quarter of real speed, and the engine
    // keeps far more than that queued while a clip streams, so a loaded machine cannot
    // make it lose frames inside a clip.
    ::setenv("SDL_DISKAUDIODELAY", "80", 1);
    const SoundClip clips[] = {
        {"sound\\a.wav", "a.wav", SF_FORMAT_PCM_16, 48000, 1, 2400, 0.2f},
        {"sound\\b.wav", "b.wav", SF_FORMAT_FLOAT, 48000, 2, 2400, 0.3f},
        {"sound\\C.wav", "c.wav", SF_FORMAT_PCM_24, 48000, 1, 2400, 0.4f},
        {"sound\\d.wav", "d.wav", SF_FORMAT_PCM_U8, 48000, 1, 2400, 0.5f},
        // Resampled: its level is the only negative one, so its edges cannot be
        // mistaken for a neighbour's.
        {"sound\\e.wav", "e.wav", SF_FORMAT_PCM_16, 24000, 2, 1200, -0.6f},
        {"sound\\f.wav", "f.wav", SF_FORMAT_PCM_16, 48000, 2, 4800, 0.7f},
    };
    SentenceBuffer buffer;
    int slot = 0;
    for (const SoundClip& clip : clips) {
        writeLevelClip(m_dir.filePath(QStringLiteral("sound/") + QString::fromUtf8(clip.fileName)),
                       clip.format, clip.rate, clip.channels, clip.frames, clip.level);
        buffer.WordText(slot) = fromUtf8(clip.fileName);
        buffer.SoundFile(slot++) = fromUtf8(clip.slotPath);
        if (slot == 2) {
            // A slot without a recording between two clips costs no time either.
            buffer.WordText(slot) = u"saknas";
            buffer.SoundFile(slot++) = u"sound\\saknas.wav";
        }
    }
    m_dir.mkdir(QStringLiteral("sound/mapp.wav"));
    buffer.SoundFile(slot++) = u"sound\\mapp.wav";

    // A take not saved yet is played from memory, as any recording.
    std::vector<Clip> sentence = clipsOf(test::pathsOf(buffer));
    const int held = 2400;
    sentence[std::size_t(slot)] = Clip::held(std::vector<float>(held, 0.8f), 48000);
    {
        auto engine = createSystemPlayer(corePath(m_dir.path()));
        test::PlayerEvents events(*engine);
        engine->speak(1, sentence);
        const std::vector<PlayerEvent> heard = events.untilAllHeard();
        ASSERT_EQ(heard.size(), 16u);
        for (int k = 0; k < 15; ++k) {
            EXPECT_EQ(heard[std::size_t(k)].kind, PlayerEvent::Kind::ClipHeard);
            EXPECT_EQ(heard[std::size_t(k)].clip, k) << "reported out of order";
        }
    } // closing the device writes out the capture

    const std::vector<float> left = captured();
    std::vector<float> levels;
    for (const SoundClip& clip : clips)
        levels.push_back(clip.level);
    levels.push_back(0.8f);
    // Silence at a clip boundary depends on how soon the speaker got to queue the next
    // clip (the queue's own tests and the benchmark judge that); silence inside a clip
    // would mean the engine lost or held back frames of it, and splits the clip's run.
    const test::Heard heard = test::analyse(left, levels);
    ASSERT_EQ(heard.runs.size(), std::size(clips) + 1)
        << "clips missing, split or out of order: " << test::describe(heard);
    for (std::size_t c = 0; c < std::size(clips); ++c) {
        SCOPED_TRACE(clips[c].fileName);
        EXPECT_EQ(heard.runs[c].clip, int(c));
        // Where one clip ends and the next begins is known to a frame or two: both are
        // faded to nearly nothing there.
        EXPECT_NEAR(heard.runs[c].frames, clips[c].frames * 48000 / clips[c].rate, 2);
    }
    EXPECT_EQ(heard.runs.back().clip, int(std::size(clips)));
    EXPECT_NEAR(heard.runs.back().frames, held, 2);
}

TEST_F(HeadlessAudio, BrokenOrMissingRecordingsAreSilentAndNeverWait) {
    useDriver("disk");
    m_dir.write(QStringLiteral("sound/tom.wav"), {});
    m_dir.write(QStringLiteral("sound/text.wav"), "inte ljud\n");
    m_dir.write(QStringLiteral("sound/skräp.wav"), QByteArray(3000, '\x7f'));
    m_dir.mkdir(QStringLiteral("sound/mapp.wav"));
    ASSERT_EQ(
        ::mkfifo(QFile::encodeName(m_dir.filePath(QStringLiteral("sound/rör.wav"))).constData(),
                 0644),
        0);
    writeLevelClip(m_dir.filePath(QStringLiteral("utanför.wav")), SF_FORMAT_PCM_16, 48000, 1, 4800,
                   0.5f);

    const std::vector<std::u16string> paths = {u"",
                                               u"sound\\saknas.wav",
                                               u"sound\\tom.wav",
                                               u"sound\\text.wav",
                                               u"sound\\skräp.wav",
                                               u"sound\\mapp.wav",
                                               u"sound\\rör.wav",
                                               u"sound\\..\\utanför.wav",
                                               u"saknad mapp\\x.wav"};
    {
        auto engine = createSystemPlayer(corePath(m_dir.path()));
        test::PlayerEvents events(*engine);
        engine->speak(7, paths);
        const std::vector<PlayerEvent> heard = events.untilAllHeard();
        ASSERT_EQ(heard.size(), std::size_t(paths.size()) + 1);
        for (const PlayerEvent& e : heard)
            EXPECT_EQ(e.sentence, 7u);
    }
    // Nothing reached the device, so nothing had to be waited for.
    const std::vector<float> left = captured();
    EXPECT_TRUE(std::all_of(left.begin(), left.end(), [](float x) { return x == 0.0f; }));
}

TEST_F(HeadlessAudio, StopSilencesAtOnceAndTheNextClipStillPlays) {
    useDriver("disk");
    writeLevelClip(m_dir.filePath(QStringLiteral("sound/lång.wav")), SF_FORMAT_PCM_16, 48000, 1,
                   96000, 0.5f);
    writeLevelClip(m_dir.filePath(QStringLiteral("sound/kort.wav")), SF_FORMAT_PCM_16, 48000, 1,
                   960, 0.3f);
    {
        auto engine = createSystemPlayer(corePath(m_dir.path()));
        test::PlayerEvents events(*engine);
        // Stopped as soon as the long clip is about to be heard, as a window being closed
        // would.
        engine->speak(1, std::vector<std::u16string>{u"sound/lång.wav"});
        events.until([](const PlayerEvent& e) { return e.kind == PlayerEvent::Kind::ClipHeard; });
        engine->stop();
        engine->speak(2, std::vector<std::u16string>{u"sound/kort.wav"});
        const std::vector<PlayerEvent> heard = events.untilAllHeard();
        for (const PlayerEvent& e : heard)
            EXPECT_EQ(e.sentence, 2u) << "the stopped sentence reported on";
    }
    const test::Heard heard = test::analyse(captured(), {0.5f, 0.3f});
    ASSERT_EQ(heard.runs.size(), 2u) << test::describe(heard);
    EXPECT_EQ(heard.runs[0].clip, 0);
    EXPECT_LT(heard.runs[0].frames, 48000) << "the clip went on after stop";
    EXPECT_EQ(heard.runs[1].clip, 1);
    EXPECT_NEAR(heard.runs[1].frames, 960, 2);
}

} // namespace
} // namespace brumlis

namespace brumlis {
namespace {

TEST(SystemPlayer, WithoutAnAudioDeviceSentencesAreHeardAtOnceAndItSaysSoOnce) {
    test::TempDir dir;
    // An ALSA whose configuration is empty knows no device at all, as on a machine
    // without a sound card; libasound would complain on stderr by itself.
    dir.write(QStringLiteral("asound.conf"), {});
    dir.mkdir(QStringLiteral("sound"));
    writeLevelClip(dir.filePath(QStringLiteral("sound/Kalle.wav")), SF_FORMAT_PCM_16, 48000, 1,
                   48000, 0.5f);
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
        {
            auto player = createSystemPlayer(corePath(dir.path()));
            test::PlayerEvents events(*player);
            // Twice: the second sentence tries the device again, and says nothing more.
            for (std::uint64_t sentence : {1u, 2u}) {
                player->speak(sentence, std::vector<std::u16string>{u"sound\\Kalle.wav", u""});
                const std::vector<PlayerEvent> heard = events.untilAllHeard();
                ASSERT_EQ(heard.size(), 3u);
                // Not played into nothing at the clip's pace: its second passes unheard.
                EXPECT_LT(heard.back().at - heard.front().at, std::chrono::milliseconds(500));
            }
            EXPECT_FALSE(player->unavailableReason().empty());
        }
        const std::string err = testing::internal::GetCapturedStderr();
        ::unsetenv("ALSA_CONFIG_PATH");
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    }
}

} // namespace
} // namespace brumlis
