#include "audioengine.h"

#include <SDL.h>
#include <algorithm>
#include <cstring>
#include <dlfcn.h>

namespace brumlis {

namespace {

// How often a waiting call gives the idle hook a turn.
constexpr auto IdlePeriod = std::chrono::milliseconds(5);
// A device that has not asked for sound for this long is taken as gone.
constexpr auto StallLimit = std::chrono::milliseconds(1000);
// A word's text may be on screen this long before its first sample is heard, at most.
// Kept a little below the 25 ms the eye forgives, for the time showing the text takes.
constexpr auto LeadBudget = std::chrono::milliseconds(21);
// The queue holds this much sound ahead of the device while a clip streams.
constexpr int QueueMilliseconds = 250;

using AlsaErrorHandler = void (*)(const char*, int, const char*, int, const char*, ...);

void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

// libasound prints every failed probe of a sound card on stderr by itself, eight lines on
// a machine without one. The engine says in one line what went wrong instead, so ALSA's
// own report is turned off. SDL loads the same library; it stays loaded so the setting
// lasts.
void quietAlsa() {
    static void* const library = [] {
        void* handle = ::dlopen("libasound.so.2", RTLD_LAZY | RTLD_LOCAL);
        if (handle) {
            using SetHandler = int (*)(AlsaErrorHandler);
            if (auto set =
                    reinterpret_cast<SetHandler>(::dlsym(handle, "snd_lib_error_set_handler")))
                set(&ignoreAlsaError);
        }
        return handle;
    }();
    (void)library;
}

} // namespace

AudioEngine::AudioEngine(const QString& dataDir)
    : m_resolver(dataDir) {}

std::unique_ptr<AudioEngine> AudioEngine::open(const QString& dataDir, QString* error) {
    auto fail = [error](const char* what) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(QLatin1String(what),
                                                  QString::fromUtf8(SDL_GetError()));
        return nullptr;
    };

    // SDL would otherwise turn Ctrl+C into an event nobody reads.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    quietAlsa();
    std::unique_ptr<AudioEngine> engine(new AudioEngine(dataDir));
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return fail("SDL_InitSubSystem");
    engine->m_subsystemStarted = true;

    SDL_AudioSpec want{};
    want.freq = WantedRate;
    want.format = AUDIO_F32SYS;
    want.channels = WantedChannels;
    want.samples = WantedBufferFrames;
    want.callback = &AudioEngine::feed;
    want.userdata = engine.get();
    SDL_AudioSpec have{};
    const SDL_AudioDeviceID device =
        SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_ANY_CHANGE);
    if (device == 0)
        return fail("SDL_OpenAudioDevice");
    engine->m_device = device;

    {
        // The device's thread exists already; it reads all of this under the same lock.
        std::lock_guard lock(engine->m_mutex);
        DeviceFormat& format = engine->m_format;
        format.sdlFormat = have.format;
        format.rate = have.freq;
        format.channels = have.channels;
        format.bytesPerFrame = int(SDL_AUDIO_BITSIZE(have.format) / 8) * have.channels;
        format.bufferFrames = have.samples;
        format.silence = have.silence;
        const std::size_t queueFrames = std::max<std::size_t>(
            std::size_t(have.freq) * QueueMilliseconds / 1000, 4u * have.samples);
        engine->m_queue.resize(queueFrames * std::size_t(format.bytesPerFrame));
        engine->m_lastRequest = Clock::now();
        // A word is heard at most one device buffer after the sound queued ahead of it, so
        // the lookahead is what the lead budget leaves after that buffer, but never less than
        // one buffer: the device takes whole buffers, and one must be ready at every request.
        const int budgetFrames = int(std::int64_t(have.freq) * LeadBudget.count() / 1000);
        const int lookaheadFrames = std::max<int>(have.samples, budgetFrames - have.samples);
        engine->m_lookaheadBytes = std::size_t(lookaheadFrames) * std::size_t(format.bytesPerFrame);
    }

    SDL_PauseAudioDevice(device, 0);
    return engine;
}

AudioEngine::~AudioEngine() {
    if (m_device != 0)
        SDL_CloseAudioDevice(m_device);
    if (m_subsystemStarted)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    // The last user of SDL lets go of what SDL keeps besides (hints, its error text).
    if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0)
        SDL_Quit();
}

void AudioEngine::feed(void* self, std::uint8_t* out, int length) {
    static_cast<AudioEngine*>(self)->fill(out, length);
}

void AudioEngine::fill(std::uint8_t* out, int length) {
    {
        std::lock_guard lock(m_mutex);
        std::size_t want = std::size_t(length);
        std::size_t done = 0;
        while (done < want && m_filled > 0) {
            const std::size_t run = std::min({want - done, m_filled, m_queue.size() - m_head});
            std::memcpy(out + done, m_queue.data() + m_head, run);
            m_head = (m_head + run) % m_queue.size();
            m_filled -= run;
            done += run;
        }
        // The device only hears silence when nothing at all is queued.
        std::memset(out + done, m_format.silence, want - done);
        m_framesPulled += std::int64_t(want) / m_format.bytesPerFrame;
        ++m_requests;
        if (done > 0)
            m_lastDataRequest = m_requests;
        m_lastRequest = Clock::now();
    }
    m_wake.notify_all();
}

template <typename Done> bool AudioEngine::waitFor(Done done, std::uint64_t generation) {
    std::unique_lock lock(m_mutex);
    while (!done()) {
        if (m_generation != generation)
            return false;
        if (Clock::now() - m_lastRequest > StallLimit) {
            // The device is gone; drop what it will never take.
            m_filled = 0;
            return false;
        }
        // The idle hook gets its turn every IdlePeriod however often the device wakes
        // us, so a window stays responsive (and can stop us) during a long clip.
        if (const Clock::time_point now = Clock::now(); now - m_lastIdle >= IdlePeriod) {
            m_lastIdle = now;
            lock.unlock();
            idle();
            lock.lock();
            continue;
        }
        m_wake.wait_until(lock, m_lastIdle + IdlePeriod);
    }
    return m_generation == generation;
}

bool AudioEngine::enqueue(const std::uint8_t* data, std::size_t bytes, std::uint64_t generation) {
    while (bytes > 0) {
        if (!waitFor([&] { return m_filled < m_queue.size(); }, generation))
            return false;
        std::lock_guard lock(m_mutex);
        std::size_t room = m_queue.size() - m_filled;
        std::size_t run = std::min(bytes, room);
        m_framesQueued += std::int64_t(run) / m_format.bytesPerFrame;
        while (run > 0) {
            const std::size_t tail = (m_head + m_filled) % m_queue.size();
            const std::size_t piece = std::min(run, m_queue.size() - tail);
            std::memcpy(m_queue.data() + tail, data, piece);
            m_filled += piece;
            data += piece;
            bytes -= piece;
            run -= piece;
        }
    }
    return true;
}

void AudioEngine::play(const QString& path) {
    const QByteArray file = m_resolver.resolve(path);
    if (file.isEmpty() || !m_clip.open(file, m_format))
        return;

    std::uint64_t generation;
    {
        std::lock_guard lock(m_mutex);
        generation = m_generation;
    }
    while (m_clip.next(m_chunk)) {
        if (!enqueue(m_chunk.data(), m_chunk.size(), generation)) {
            m_clip.close();
            return;
        }
    }
    // Hand back control while a little of the clip is still to come, so the next word's
    // text appears and its clip is queued before the device runs dry.
    waitFor([&] { return m_filled <= m_lookaheadBytes; }, generation);
}

void AudioEngine::drain() {
    std::uint64_t generation;
    {
        std::lock_guard lock(m_mutex);
        generation = m_generation;
    }
    // The device plays one buffer while it asks for the next, so the last sound has been
    // heard once two more requests have followed the one that took it. With nothing
    // queued since, this holds at once.
    waitFor([&] { return m_filled == 0 && m_requests >= m_lastDataRequest + 2; }, generation);
}

void AudioEngine::stop() {
    {
        std::lock_guard lock(m_mutex);
        m_filled = 0;
        ++m_generation;
    }
    m_wake.notify_all();
}

AudioEngine::Position AudioEngine::position() const {
    std::lock_guard lock(m_mutex);
    return {m_framesPulled, m_lastRequest,
            m_framesPulled + std::int64_t(m_filled) / m_format.bytesPerFrame};
}

std::int64_t AudioEngine::framesQueued() const {
    std::lock_guard lock(m_mutex);
    return m_framesQueued;
}

} // namespace brumlis
