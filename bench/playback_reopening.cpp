// A player that opens the device for every clip, as a per-call sound API does: what the
// engine's one open device is compared with.
#include "benchkit.h"
#include "playback/clipstream.h"
#include "playback/soundresolver.h"
#include "playback_bench.h"
#include "sentence/sentencebuffer.h"

#include <SDL.h>
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <vector>

namespace brumlis::bench {

namespace {

class ReopeningPlayer {
public:
    explicit ReopeningPlayer(const QString& dataDir)
        : m_resolver(dataDir) {}

    // Shows each word, then plays its clip and returns once it has been played out.
    void speak(const SentenceBuffer& buffer, TimingView& view) {
        view.showCaption(QString());
        for (int i = 0; i < SentenceBuffer::SpokenSlots; ++i) {
            view.showCaption(view.caption() + buffer.WordText(i) + u' ');
            play(buffer.SoundFile(i));
        }
    }

    void play(const QString& path) {
        DeviceFormat format;
        format.sdlFormat = AUDIO_F32SYS;
        format.rate = Rate;
        format.channels = 2;
        format.bytesPerFrame = 8;
        ClipStream clip;
        if (!clip.open(m_resolver.resolve(path), format))
            return;
        m_data.clear();
        std::vector<std::uint8_t> chunk;
        while (clip.next(chunk))
            m_data.insert(m_data.end(), chunk.begin(), chunk.end());

        m_offset = 0;
        m_first.reset();
        m_last.reset();
        m_requestsAfterEnd = 0;
        SDL_AudioSpec want{};
        want.freq = Rate;
        want.format = AUDIO_F32SYS;
        want.channels = 2;
        want.samples = 512;
        want.callback = &ReopeningPlayer::feed;
        want.userdata = this;
        SDL_AudioSpec have{};
        const SDL_AudioDeviceID device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (device == 0)
            return;
        SDL_PauseAudioDevice(device, 0);
        {
            std::unique_lock lock(m_mutex);
            // Returns when the clip has been played out, as a synchronous call does.
            m_done.wait(lock, [this] { return m_requestsAfterEnd >= 2; });
        }
        SDL_CloseAudioDevice(device);
        firstHeard.push_back(*m_first);
        lastHeard.push_back(*m_last);
    }

    std::vector<Clock::time_point> firstHeard;
    std::vector<Clock::time_point> lastHeard;

private:
    static void feed(void* self, Uint8* out, int length) {
        auto* p = static_cast<ReopeningPlayer*>(self);
        const Clock::time_point now = Clock::now();
        std::lock_guard lock(p->m_mutex);
        const std::size_t run = std::min(std::size_t(length), p->m_data.size() - p->m_offset);
        std::memcpy(out, p->m_data.data() + p->m_offset, run);
        std::memset(out + run, 0, std::size_t(length) - run);
        if (run > 0 && !p->m_first)
            p->m_first = now;
        if (run > 0 && p->m_offset + run == p->m_data.size())
            p->m_last =
                now + std::chrono::microseconds(std::int64_t(1e6 * double(run / 8 - 1) / Rate));
        p->m_offset += run;
        if (p->m_offset == p->m_data.size())
            ++p->m_requestsAfterEnd;
        p->m_done.notify_all();
    }

    SoundResolver m_resolver;
    std::vector<std::uint8_t> m_data;
    std::mutex m_mutex;
    std::condition_variable m_done;
    std::size_t m_offset = 0;
    std::optional<Clock::time_point> m_first;
    std::optional<Clock::time_point> m_last;
    int m_requestsAfterEnd = 0;
};

} // namespace

std::vector<WordFigures> measureReopening(const QString& dataDir) {
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", "/dev/null", 1);
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        std::exit(1);
    ReopeningPlayer player(dataDir);
    TimingView view;
    player.speak(sentence(), view);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);

    std::vector<WordFigures> figures(WordCount);
    for (int w = 0; w < WordCount && w < int(player.firstHeard.size()); ++w) {
        figures[w].leadMs = ms(player.firstHeard[w] - view.shown[w]);
        if (w > 0)
            figures[w].silenceBefore = std::max(
                0.0, ms(player.firstHeard[w] - player.lastHeard[w - 1]) * Rate / 1000.0 - 1);
    }
    return figures;
}

} // namespace brumlis::bench
