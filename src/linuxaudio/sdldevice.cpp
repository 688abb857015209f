#include "brumlis/qtbridge/text.h"
#include "devices.h"

#include <QString>
#include <SDL.h>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <string_view>

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

// SDL and what it brings (ALSA, X, Wayland, PipeWire's client) are loaded only for the
// fallback output: a desktop with a sound server never needs them, and a program that starts
// does not pay for them. The functions it is called by, looked up once.
struct SdlLibrary {
    decltype(&SDL_SetHint) SetHint;
    decltype(&SDL_InitSubSystem) InitSubSystem;
    decltype(&SDL_QuitSubSystem) QuitSubSystem;
    decltype(&SDL_WasInit) WasInit;
    decltype(&SDL_Quit) Quit;
    decltype(&SDL_GetError) GetError;
    decltype(&SDL_OpenAudioDevice) OpenAudioDevice;
    decltype(&SDL_CloseAudioDevice) CloseAudioDevice;
    decltype(&SDL_PauseAudioDevice) PauseAudioDevice;
    decltype(&SDL_GetAudioDeviceStatus) GetAudioDeviceStatus;
    decltype(&SDL_GetCurrentAudioDriver) GetCurrentAudioDriver;
    decltype(&SDL_TLSCleanup) TLSCleanup;
};

std::atomic<const SdlLibrary*> g_sdl{nullptr};

template <typename Function> bool lookUp(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(::dlsym(library, name));
    return function != nullptr;
}

// SDL's functions, the library opened on first need; null when it cannot be had. Never
// closed: SDL leaves threads of its drivers behind.
const SdlLibrary* sdl() {
    static const SdlLibrary* const loaded = []() -> const SdlLibrary* {
        void* library = ::dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return nullptr;
        auto* f = new SdlLibrary;
        const bool found = lookUp(library, "SDL_SetHint", f->SetHint) &&
                           lookUp(library, "SDL_InitSubSystem", f->InitSubSystem) &&
                           lookUp(library, "SDL_QuitSubSystem", f->QuitSubSystem) &&
                           lookUp(library, "SDL_WasInit", f->WasInit) &&
                           lookUp(library, "SDL_Quit", f->Quit) &&
                           lookUp(library, "SDL_GetError", f->GetError) &&
                           lookUp(library, "SDL_OpenAudioDevice", f->OpenAudioDevice) &&
                           lookUp(library, "SDL_CloseAudioDevice", f->CloseAudioDevice) &&
                           lookUp(library, "SDL_PauseAudioDevice", f->PauseAudioDevice) &&
                           lookUp(library, "SDL_GetAudioDeviceStatus", f->GetAudioDeviceStatus) &&
                           lookUp(library, "SDL_GetCurrentAudioDriver", f->GetCurrentAudioDriver) &&
                           lookUp(library, "SDL_TLSCleanup", f->TLSCleanup);
        if (!found) {
            delete f;
            return nullptr;
        }
        g_sdl = f;
        return f;
    }();
    return loaded;
}

class SdlDevice final : public AudioDevice {
public:
    SdlDevice(const DeviceFormat& format, Source source)
        : m_format(format)
        , m_source(std::move(source)) {}
    ~SdlDevice() override { close(); }

    bool open(std::u16string* error) override {
        m_sdl = sdl();
        if (!m_sdl) {
            *error = u"SDL finns inte (libSDL2-2.0.so.0)";
            return false;
        }
        m_sdl->SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1"); // SDL would turn Ctrl+C into an event
        m_sdl->SetHint(SDL_HINT_AUDIO_DEVICE_APP_NAME, "Brumlis");
        quietAlsa();
        if (m_sdl->InitSubSystem(SDL_INIT_AUDIO) != 0) {
            *error = core(QStringLiteral("SDL startar inget ljud (%1)").arg(m_sdl->GetError()));
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
        m_device = m_sdl->OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (m_device == 0) {
            *error = core(QStringLiteral("SDL öppnar ingen ljudenhet (%1)").arg(m_sdl->GetError()));
            m_sdl->QuitSubSystem(SDL_INIT_AUDIO);
            return false;
        }
        m_driver = QString::fromUtf8(m_sdl->GetCurrentAudioDriver());
        m_delay = estimatedDelay(m_driver);
        m_sdl->PauseAudioDevice(m_device, 0);
        return true;
    }

    void close() override {
        if (m_device == 0)
            return;
        m_sdl->CloseAudioDevice(m_device);
        m_device = 0;
        m_sdl->QuitSubSystem(SDL_INIT_AUDIO);
    }

    bool lost() const override {
        return m_device == 0 || m_sdl->GetAudioDeviceStatus(m_device) == SDL_AUDIO_STOPPED;
    }
    bool takesWhatThereIs() const override { return false; }
    bool closesWhenIdle() const override { return true; }
    std::u16string name() const override { return core(QStringLiteral("SDL %1").arg(m_driver)); }
    std::chrono::nanoseconds lead() const override { return LinuxLead; }

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
    const SdlLibrary* m_sdl = nullptr;
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
    if (const SdlLibrary* f = g_sdl; f && f->WasInit(0) == 0)
        f->Quit();
    releaseSdlThread();
}

void releaseSdlThread() {
    // SDL keeps per-thread data (its error text) for threads it did not make until told.
    if (const SdlLibrary* f = g_sdl)
        f->TLSCleanup();
}

bool sdlLoaded() {
    return g_sdl != nullptr;
}

} // namespace brumlis
