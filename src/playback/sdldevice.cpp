#include "audiodevice.h"

#include <SDL.h>
#include <atomic>
#include <cstring>
#include <dlfcn.h>

namespace brumlis {

namespace {

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

std::atomic<bool> g_sdlUsed{false};

class SdlDevice final : public AudioDevice {
public:
    SdlDevice(const DeviceFormat& format, Source source)
        : m_format(format)
        , m_source(std::move(source)) {}
    ~SdlDevice() override { close(); }

    bool open(QString* error) override {
        SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1"); // SDL would turn Ctrl+C into an event
        SDL_SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Brumlis");
        quietAlsa();
        g_sdlUsed = true;
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            *error = QStringLiteral("SDL startar inget ljud (%1)").arg(SDL_GetError());
            return false;
        }
        SDL_AudioSpec want{};
        want.freq = m_format.rate;
        want.format = AUDIO_F32SYS; // the engine converts everything to float
        want.channels = std::uint8_t(m_format.channels);
        want.samples = std::uint16_t(m_format.bufferFrames);
        want.callback = &SdlDevice::feed;
        want.userdata = this;
        SDL_AudioSpec have{};
        // No changes allowed: SDL converts, so the format never changes between one
        // device and the next.
        m_device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (m_device == 0) {
            *error = QStringLiteral("SDL öppnar ingen ljudenhet (%1)").arg(SDL_GetError());
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return false;
        }
        m_driver = QString::fromUtf8(SDL_GetCurrentAudioDriver());
        m_delay = estimatedDelay(m_driver);
        SDL_PauseAudioDevice(m_device, 0);
        return true;
    }

    void close() override {
        if (m_device == 0)
            return;
        SDL_CloseAudioDevice(m_device);
        m_device = 0;
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }

    bool lost() const override {
        return m_device == 0 || SDL_GetAudioDeviceStatus(m_device) == SDL_AUDIO_STOPPED;
    }
    bool takesWhatThereIs() const override { return false; }
    bool closesWhenIdle() const override { return true; }
    QString name() const override { return QStringLiteral("SDL %1").arg(m_driver); }

private:
    // From a piece handed over to its first frame heard, by driver. SDL does not say. Its
    // pipewire driver was measured on the private PipeWire of the benchmark (bench-servers);
    // its pulseaudio driver is never used, as a PulseAudio server is reached directly. Where
    // nothing could be measured (ALSA on a sound card), the piece before it is taken to be
    // still playing.
    std::chrono::nanoseconds estimatedDelay(const QString& driver) const {
        if (driver == u"disk" || driver == u"dummy")
            return {}; // what the callback gives is "heard" there and then
        if (driver == u"pipewire")
            return std::chrono::milliseconds(8);
        return std::chrono::nanoseconds(std::int64_t(m_format.bufferFrames) * 1'000'000'000 /
                                        m_format.rate);
    }

    static void feed(void* self, std::uint8_t* out, int length) {
        auto& device = *static_cast<SdlDevice*>(self);
        device.m_source(out, std::size_t(length), device.m_delay, -1, true);
    }

    DeviceFormat m_format;
    Source m_source;
    std::atomic<SDL_AudioDeviceID> m_device{0};
    QString m_driver;
    std::chrono::nanoseconds m_delay{};
};

} // namespace

std::unique_ptr<AudioDevice> makeSdlDevice(const DeviceFormat& format, AudioDevice::Source source) {
    return std::make_unique<SdlDevice>(format, std::move(source));
}

bool pulseWanted() {
    const QByteArray driver = qgetenv("SDL_AUDIODRIVER").trimmed().toLower();
    return driver.isEmpty() || driver == "pulseaudio" || driver == "pulse";
}

void releaseSdl() {
    // The last user of SDL lets go of everything it holds, hints included.
    if (g_sdlUsed && SDL_WasInit(0) == 0)
        SDL_Quit();
    releaseSdlThread();
}

void releaseSdlThread() {
    // SDL keeps per-thread data (its error text) for threads it did not make until told.
    SDL_TLSCleanup();
}

} // namespace brumlis
