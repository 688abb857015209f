#include "wasapidevice.h"

#include "mixformat.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mmdeviceapi.h>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace brumlis {

namespace {

using namespace std::chrono_literals;
using Clock = SoundClock;

// What the stream's buffer holds: what the audio service takes at each of its periods
// (10 ms on Windows, Wine's too) and room for a late wake-up of the thread that fills it.
constexpr REFERENCE_TIME BufferDuration = 400'000; // 40 ms in 100 ns
// Silence a sentence starts with once the stream runs again: the first frames of a stream
// go into a device period that has already begun.
constexpr int LeadInMs = 20;
// Longest the filling thread waits for the device to ask while the stream runs: a device
// that stops asking is noticed by the engine, this only keeps the thread from waiting for
// ever.
constexpr DWORD PlayingWaitMs = 2000;
// Longest play() waits for the stream to have taken the sentence's first sound: the engine
// judges a device by when it last took sound, so that must be now, not before the pause.
constexpr std::chrono::milliseconds StartWait = 500ms;
// Closer than this counts as the same time: a word is shown to the millisecond.
constexpr std::chrono::microseconds Same{500};

thread_local bool t_comReady = false;

// COM in the multithreaded apartment, so that what one of the engine's threads made another
// may use. False when the thread had COM set up otherwise already.
bool ensureCom() {
    if (t_comReady)
        return true;
    const HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    t_comReady = SUCCEEDED(result);
    return t_comReady;
}

template <typename T> void release(T*& object) {
    if (object)
        object->Release();
    object = nullptr;
}

std::u16string hexOf(HRESULT error) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(error));
    return std::u16string(text, text + std::strlen(text));
}

/// Hears when the default output changes, or the one in use goes away.
class EndpointWatch final : public IMMNotificationClient {
public:
    EndpointWatch(std::wstring id, std::function<void()> gone)
        : m_id(std::move(id))
        , m_gone(std::move(gone)) {}

    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_references; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --m_references;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IMMNotificationClient)) {
            *out = static_cast<IMMNotificationClient*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role,
                                                     LPCWSTR id) override {
        if (flow == eRender && role == eConsole && (!id || m_id != id))
            m_gone();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR id, DWORD state) override {
        if (id && m_id == id && state != DEVICE_STATE_ACTIVE)
            m_gone();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR id) override {
        if (id && m_id == id)
            m_gone();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override {
        return S_OK;
    }

private:
    virtual ~EndpointWatch() = default;

    std::atomic<ULONG> m_references{1};
    const std::wstring m_id;
    const std::function<void()> m_gone;
};

class DefaultEndpoint final : public AudioEndpoint {
public:
    ~DefaultEndpoint() override {
        if (m_enumerator && m_watch)
            m_enumerator->UnregisterEndpointNotificationCallback(m_watch);
        release(m_watch);
        release(m_enumerator);
    }

    HRESULT activate(IAudioClient** client, std::function<void()> gone) override {
        HRESULT result = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                          __uuidof(IMMDeviceEnumerator),
                                          reinterpret_cast<void**>(&m_enumerator));
        if (FAILED(result))
            return result;
        IMMDevice* device = nullptr;
        result = m_enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device);
        if (FAILED(result))
            return result;
        LPWSTR id = nullptr;
        if (SUCCEEDED(device->GetId(&id))) {
            m_watch = new EndpointWatch(id, std::move(gone));
            CoTaskMemFree(id);
            // Without the watch the device is still played on; only a change of default
            // output goes unheard until the device is invalidated.
            if (FAILED(m_enumerator->RegisterEndpointNotificationCallback(m_watch)))
                release(m_watch);
        }
        result = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                  reinterpret_cast<void**>(client));
        device->Release();
        return result;
    }

private:
    IMMDeviceEnumerator* m_enumerator = nullptr;
    EndpointWatch* m_watch = nullptr;
};

/// A shared-mode stream, filled on a thread of its own when the device's event says it has
/// room. The thread alone calls the stream once it runs; the engine's calls only tell it
/// what is wanted. Right after a start, the audio clock has not moved: a frame given then is
/// handed over with what the stream says of its latency, and the clock's first figure, on
/// the next event, moves it (the Anchor).
class WasapiDevice final : public AudioDevice {
public:
    WasapiDevice(const DeviceFormat& format, Source source, Anchor anchor,
                 EndpointFactory endpoints)
        : m_format(format)
        , m_source(std::move(source))
        , m_anchor(std::move(anchor))
        , m_endpoints(std::move(endpoints))
        , m_control(CreateEventW(nullptr, FALSE, FALSE, nullptr))
        , m_ready(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
    ~WasapiDevice() override {
        close();
        CloseHandle(m_control);
        CloseHandle(m_ready);
    }

    bool open(std::u16string* error) override;
    void close() override;
    bool lost() const override { return m_lost; }
    bool takesWhatThereIs() const override { return true; }
    bool closesWhenIdle() const override { return true; }
    void play(bool last) override;
    void pause() override;
    std::u16string name() const override { return u"WASAPI"; }
    std::chrono::nanoseconds lead() const override { return WindowsLead; }

private:
    /// Opens the stream; false with why.
    HRESULT openStream(std::u16string* why);
    void dropStream();

    // On the filling thread:
    void fillLoop();
    HRESULT start();
    HRESULT stop();
    /// Gives the device all it has room for.
    HRESULT feed();
    /// Reads the audio clock and tells the engine when the stream's start is heard, when
    /// that has moved.
    HRESULT readClock();
    /// The stream cannot go on: the engine opens another.
    void lose();

    std::chrono::nanoseconds frameTime(std::int64_t frames) const {
        return std::chrono::nanoseconds(frames * 1'000'000'000 / m_format.rate);
    }

    const DeviceFormat m_format;
    const Source m_source;
    const Anchor m_anchor;
    const EndpointFactory m_endpoints;
    const HANDLE m_control; ///< set when the engine wants something
    const HANDLE m_ready;   ///< set by the device when it has room
    std::mutex m_use;       ///< open() and close() against the engine's other calls
    std::unique_ptr<AudioEndpoint> m_endpoint;
    IAudioClient* m_client = nullptr;
    IAudioRenderClient* m_render = nullptr;
    IAudioClock* m_clock = nullptr;
    UINT32 m_bufferFrames = 0;
    UINT64 m_clockFrequency = 0;
    std::chrono::nanoseconds m_latency{};
    std::thread m_filler;
    std::atomic<bool> m_lost{false};

    std::mutex m_wants;
    std::condition_variable m_served; ///< the stream started for a play(), or cannot
    bool m_playWanted = false;
    bool m_quitWanted = false;
    bool m_running = false;         ///< the filling thread serves the engine's calls
    std::uint64_t m_playAsked = 0;  ///< counts play(): each starts the stream afresh
    std::uint64_t m_playServed = 0; ///< the play() the stream last started for

    // The filling thread's own:
    bool m_started = false;
    bool m_failed = false;
    std::int64_t m_written = 0; ///< frames given since the stream last started
    std::int64_t m_leadIn = 0;  ///< frames of silence still to go before the sentence
    std::optional<Clock::time_point> m_startHeard;
    std::array<Clock::time_point, 8> m_figures{}; ///< this start's last figures for it
    std::size_t m_figureCount = 0;
};

bool WasapiDevice::open(std::u16string* error) {
    std::lock_guard use(m_use);
    m_lost = false;
    std::u16string why;
    if (!ensureCom()) {
        why = u"COM startar inte";
    } else if (const HRESULT result = openStream(&why); FAILED(result)) {
        if (result == AUDCLNT_E_DEVICE_INVALIDATED)
            m_lost = true;
    }
    if (!why.empty()) {
        dropStream();
        *error = why;
        return false;
    }
    {
        std::lock_guard wants(m_wants);
        m_playWanted = false;
        m_quitWanted = false;
        m_running = true;
        m_playServed = m_playAsked;
    }
    m_started = m_failed = false;
    m_filler = std::thread(&WasapiDevice::fillLoop, this);
    return true;
}

HRESULT WasapiDevice::openStream(std::u16string* why) {
    const auto failed = [why](const char16_t* what, HRESULT result) {
        *why = u"ljudenheten " + std::u16string(what) + u": " + audioErrorText(result);
        return result;
    };
    m_endpoint = m_endpoints ? m_endpoints() : defaultEndpoint();
    HRESULT result = m_endpoint->activate(&m_client, [this] { m_lost = true; });
    if (FAILED(result))
        return failed(u"öppnar inte", result);
    WAVEFORMATEX* mix = nullptr;
    if (result = m_client->GetMixFormat(&mix); FAILED(result))
        return failed(u"säger inte vilket format den blandar i", result);
    StreamFormat stream = streamFormatFor(mix, m_format);
    CoTaskMemFree(mix);
    result = m_client->Initialize(AUDCLNT_SHAREMODE_SHARED,
                                  AUDCLNT_STREAMFLAGS_EVENTCALLBACK | stream.flags, BufferDuration,
                                  0, &stream.wave.Format, nullptr);
    if (FAILED(result))
        return failed(u"öppnar ingen ljudström", result);
    REFERENCE_TIME latency = 0;
    if (result = m_client->GetBufferSize(&m_bufferFrames); FAILED(result))
        return failed(u"öppnar ingen ljudström", result);
    if (SUCCEEDED(m_client->GetStreamLatency(&latency)))
        m_latency = std::chrono::nanoseconds(latency * 100);
    if (result = m_client->SetEventHandle(m_ready); FAILED(result))
        return failed(u"öppnar ingen ljudström", result);
    if (result =
            m_client->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(&m_render));
        FAILED(result))
        return failed(u"öppnar ingen ljudström", result);
    if (result = m_client->GetService(__uuidof(IAudioClock), reinterpret_cast<void**>(&m_clock));
        FAILED(result))
        return failed(u"har ingen klocka", result);
    if (result = m_clock->GetFrequency(&m_clockFrequency); FAILED(result) || m_clockFrequency == 0)
        return failed(u"har ingen klocka", FAILED(result) ? result : E_UNEXPECTED);
    return S_OK;
}

void WasapiDevice::dropStream() {
    release(m_clock);
    release(m_render);
    release(m_client);
    m_endpoint.reset();
}

void WasapiDevice::close() {
    std::lock_guard use(m_use);
    if (m_filler.joinable()) {
        {
            std::lock_guard wants(m_wants);
            m_quitWanted = true;
        }
        SetEvent(m_control);
        m_filler.join();
    }
    dropStream();
    m_lost = true;
}

void WasapiDevice::play(bool) {
    std::unique_lock wants(m_wants);
    m_playWanted = true;
    const std::uint64_t asked = ++m_playAsked;
    SetEvent(m_control);
    m_served.wait_for(wants, StartWait, [&] { return m_playServed >= asked || !m_running; });
}

void WasapiDevice::pause() {
    {
        std::lock_guard wants(m_wants);
        m_playWanted = false;
    }
    SetEvent(m_control);
}

void WasapiDevice::fillLoop() {
    const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    const HANDLE events[2] = {m_control, m_ready};
    std::uint64_t startedFor = 0;
    {
        std::lock_guard wants(m_wants);
        startedFor = m_playServed;
    }
    for (;;) {
        bool wanted = false;
        std::uint64_t asked = 0;
        {
            std::lock_guard wants(m_wants);
            if (m_quitWanted)
                break;
            wanted = m_playWanted;
            asked = m_playAsked;
        }
        if (!m_failed) {
            HRESULT result = S_OK;
            if (wanted && asked != startedFor) {
                // Each sentence from an empty stream whose frames count from 0, also when
                // its play() came before the last one's pause() was seen.
                if (m_started)
                    result = stop();
                if (SUCCEEDED(result))
                    result = start();
                startedFor = asked;
            } else if (!wanted && m_started) {
                result = stop();
            } else if (m_started) {
                result = feed();
            }
            if (FAILED(result))
                lose();
            std::lock_guard wants(m_wants);
            m_playServed = startedFor;
            if (m_failed)
                m_running = false;
        }
        m_served.notify_all();
        const bool running = m_started && !m_failed;
        WaitForMultipleObjects(running ? 2 : 1, events, FALSE, running ? PlayingWaitMs : INFINITE);
    }
    if (m_started)
        m_client->Stop();
    m_started = false;
    {
        std::lock_guard wants(m_wants);
        m_running = false;
    }
    m_served.notify_all();
    if (com)
        CoUninitialize();
}

HRESULT WasapiDevice::start() {
    // What a stream held when it was stopped is gone, and its clock counts from 0 again.
    if (const HRESULT result = m_client->Reset(); FAILED(result))
        return result;
    m_written = 0;
    m_leadIn = std::int64_t(m_format.rate) * LeadInMs / 1000;
    m_startHeard.reset();
    m_figureCount = 0;
    if (const HRESULT result = feed(); FAILED(result))
        return result;
    const HRESULT result = m_client->Start();
    m_started = SUCCEEDED(result);
    return result;
}

HRESULT WasapiDevice::stop() {
    m_started = false;
    const HRESULT result = m_client->Stop();
    return FAILED(result) ? result : m_client->Reset();
}

HRESULT WasapiDevice::feed() {
    UINT32 padding = 0;
    if (const HRESULT result = m_client->GetCurrentPadding(&padding); FAILED(result))
        return result;
    const UINT32 frames = padding < m_bufferFrames ? m_bufferFrames - padding : 0;
    if (frames > 0) {
        BYTE* data = nullptr;
        if (const HRESULT result = m_render->GetBuffer(frames, &data); FAILED(result))
            return result;
        const std::size_t frameBytes = std::size_t(m_format.bytesPerFrame);
        const std::int64_t silent = std::min<std::int64_t>(m_leadIn, frames);
        std::memset(data, m_format.silence, std::size_t(silent) * frameBytes);
        m_leadIn -= silent;
        if (silent < std::int64_t(frames)) {
            const std::int64_t first = m_written + silent;
            // When the first frame given now is heard: by the clock once it has said, else
            // after what the stream holds and its latency.
            const std::chrono::nanoseconds delay =
                m_startHeard ? std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   *m_startHeard + frameTime(first) - Clock::now())
                             : frameTime(std::int64_t(padding) + silent) + m_latency;
            m_source(data + std::size_t(silent) * frameBytes,
                     std::size_t(std::int64_t(frames) - silent) * frameBytes, delay, first, true);
        }
        if (const HRESULT result = m_render->ReleaseBuffer(frames, 0); FAILED(result))
            return result;
        m_written += frames;
    }
    return m_started ? readClock() : S_OK;
}

HRESULT WasapiDevice::readClock() {
    UINT64 position = 0, at = 0;
    if (const HRESULT result = m_clock->GetPosition(&position, &at); FAILED(result))
        return result;
    if (position == 0)
        return S_OK; // nothing heard yet: the figure tells nothing
    // `position` is heard at `at`, in 100 ns units of the performance counter.
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    const Clock::time_point now = Clock::now();
    QueryPerformanceFrequency(&frequency);
    const auto ticks = UINT64(counter.QuadPart), perSecond = UINT64(frequency.QuadPart);
    const UINT64 nowUnits =
        ticks / perSecond * 10'000'000 + ticks % perSecond * 10'000'000 / perSecond;
    const auto age = std::chrono::nanoseconds(std::int64_t(nowUnits) - std::int64_t(at)) * 100;
    const auto frame = std::int64_t(position * UINT64(m_format.rate) / m_clockFrequency);
    const Clock::time_point heard = now - age;
    // The earliest of the last few figures stands, as one read late says the stream is
    // later than it is; a lasting move is followed.
    m_figures[m_figureCount++ % m_figures.size()] =
        heard - std::chrono::duration_cast<Clock::duration>(frameTime(frame));
    const Clock::time_point startHeard = *std::min_element(
        m_figures.begin(), m_figures.begin() + std::min(m_figureCount, m_figures.size()));
    if (m_startHeard && startHeard + Same > *m_startHeard && *m_startHeard + Same > startHeard)
        return S_OK;
    m_startHeard = startHeard;
    m_anchor(0, startHeard);
    return S_OK;
}

void WasapiDevice::lose() {
    m_lost = true;
    m_failed = true;
    if (m_started)
        m_client->Stop();
    m_started = false;
}

} // namespace

std::unique_ptr<AudioEndpoint> defaultEndpoint() {
    return std::make_unique<DefaultEndpoint>();
}

std::unique_ptr<AudioDevice> makeWasapiDevice(const DeviceFormat& format,
                                              AudioDevice::Source source,
                                              AudioDevice::Anchor anchor,
                                              EndpointFactory endpoints) {
    return std::make_unique<WasapiDevice>(format, std::move(source), std::move(anchor),
                                          std::move(endpoints));
}

void releaseComOnThread() {
    if (t_comReady)
        CoUninitialize();
    t_comReady = false;
}

std::u16string audioErrorText(HRESULT error) {
    if (error == HRESULT_FROM_WIN32(ERROR_NOT_FOUND))
        return u"ingen ljudenhet för uppspelning";
    switch (error) {
    case AUDCLNT_E_DEVICE_INVALIDATED:
        return u"enheten finns inte längre";
    case AUDCLNT_E_DEVICE_IN_USE:
        return u"enheten används av ett annat program";
    case AUDCLNT_E_UNSUPPORTED_FORMAT:
        return u"formatet stöds inte";
    case AUDCLNT_E_SERVICE_NOT_RUNNING:
        return u"Windows ljudtjänst körs inte";
    case AUDCLNT_E_ENDPOINT_CREATE_FAILED:
        return u"enheten kan inte användas";
    case E_OUTOFMEMORY:
        return u"minnet räcker inte";
    case E_ACCESSDENIED:
        return u"åtkomst nekas";
    default:
        return u"fel " + hexOf(error);
    }
}

} // namespace brumlis
