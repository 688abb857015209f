#pragma once
// An audio client without a device behind it: it takes what the WASAPI device gives it into
// memory, says what the test tells it to, and notes what it was asked.
#include "wasapidevice.h"

#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <vector>

namespace brumlis::test {

class FakeAudioClient final : public IAudioClient, IAudioRenderClient, IAudioClock {
public:
    explicit FakeAudioClient(const WAVEFORMATEXTENSIBLE& mix)
        : m_mix(mix) {}

    // --- what the test sets, before the device opens or under lock()
    UINT32 bufferFrames = 1440;
    HRESULT initializeResult = S_OK;
    /// What GetBuffer says from its `failAfter`-th call on (counting from 0).
    HRESULT bufferFailure = S_OK;
    int failAfter = -1;
    UINT64 clockFrequency = 48000;
    /// The clock's position; `positionAt` is given the time it is read at, in 100 ns units
    /// of the performance counter, and returns the position then.
    std::function<UINT64(UINT64 now)> positionAt = [](UINT64) { return UINT64(0); };

    // --- what the device did
    WAVEFORMATEXTENSIBLE initialized{};
    DWORD flags = 0;
    AUDCLNT_SHAREMODE mode = AUDCLNT_SHAREMODE_EXCLUSIVE;
    HANDLE event = nullptr;
    std::vector<std::uint8_t> played; ///< every frame released, in order
    int starts = 0, stops = 0, buffers = 0;
    std::vector<SoundClock::time_point> reads; ///< just before each time the clock was read

    std::unique_lock<std::mutex> lock() { return std::unique_lock(m_mutex); }
    /// Waits, bounded, until `done` holds; it is looked at after each call the device makes.
    template <typename Done> bool waitUntil(Done done) {
        std::unique_lock locked(m_mutex);
        return m_changed.wait_for(locked, std::chrono::seconds(10), done);
    }
    /// The device may take more: what the audio service does every period.
    void ask() { SetEvent(event); }

    // IUnknown: the test owns the object; the counts are not used.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }

    // IAudioClient
    HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE shareMode, DWORD streamFlags,
                                         REFERENCE_TIME, REFERENCE_TIME, const WAVEFORMATEX* format,
                                         LPCGUID) override {
        return changed([&] {
            mode = shareMode;
            flags = streamFlags;
            std::memcpy(&initialized, format,
                        sizeof(WAVEFORMATEX) + std::min<std::size_t>(format->cbSize, 22));
            m_frameBytes = format->nBlockAlign;
            return initializeResult;
        });
    }
    HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32* frames) override {
        *frames = bufferFrames;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME* latency) override {
        *latency = 100'000;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32* padding) override {
        *padding = 0; // what was given has been played at once
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE, const WAVEFORMATEX*,
                                                WAVEFORMATEX**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX** format) override {
        auto* copy = static_cast<WAVEFORMATEXTENSIBLE*>(CoTaskMemAlloc(sizeof m_mix));
        *copy = m_mix;
        *format = &copy->Format;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME* standard,
                                              REFERENCE_TIME* least) override {
        *standard = *least = 100'000;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Start() override {
        return changed([&] { return ++starts, S_OK; });
    }
    HRESULT STDMETHODCALLTYPE Stop() override {
        return changed([&] { return ++stops, S_OK; });
    }
    HRESULT STDMETHODCALLTYPE Reset() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE handle) override {
        event = handle;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetService(REFIID iid, void** out) override {
        if (iid == __uuidof(IAudioRenderClient))
            *out = static_cast<IAudioRenderClient*>(this);
        else if (iid == __uuidof(IAudioClock))
            *out = static_cast<IAudioClock*>(this);
        else
            return *out = nullptr, E_NOINTERFACE;
        return S_OK;
    }

    // IAudioRenderClient
    HRESULT STDMETHODCALLTYPE GetBuffer(UINT32 frames, BYTE** data) override {
        return changed([&] {
            if (failAfter >= 0 && buffers >= failAfter)
                return bufferFailure;
            ++buffers;
            m_buffer.assign(std::size_t(frames) * m_frameBytes, 0xAB);
            *data = m_buffer.data();
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames, DWORD) override {
        return changed([&] {
            played.insert(played.end(), m_buffer.begin(),
                          m_buffer.begin() + std::ptrdiff_t(frames * m_frameBytes));
            return S_OK;
        });
    }

    // IAudioClock
    HRESULT STDMETHODCALLTYPE GetFrequency(UINT64* frequency) override {
        *frequency = clockFrequency;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPosition(UINT64* position, UINT64* at) override {
        return changed([&] {
            reads.push_back(SoundClock::now());
            LARGE_INTEGER counter, frequency;
            QueryPerformanceCounter(&counter);
            QueryPerformanceFrequency(&frequency);
            *at = UINT64(counter.QuadPart) / UINT64(frequency.QuadPart) * 10'000'000 +
                  UINT64(counter.QuadPart) % UINT64(frequency.QuadPart) * 10'000'000 /
                      UINT64(frequency.QuadPart);
            *position = positionAt(*at);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetCharacteristics(DWORD* characteristics) override {
        *characteristics = 0;
        return S_OK;
    }

private:
    template <typename Call> HRESULT changed(Call call) {
        HRESULT result;
        {
            std::lock_guard locked(m_mutex);
            result = call();
        }
        m_changed.notify_all();
        return result;
    }

    const WAVEFORMATEXTENSIBLE m_mix;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::uint8_t> m_buffer;
    std::size_t m_frameBytes = 1;
};

/// Hands the device the test's client, and lets the test say the output has gone.
class FakeEndpoint final : public AudioEndpoint {
public:
    FakeEndpoint(IAudioClient* client, std::function<void()>* gone)
        : m_client(client)
        , m_gone(gone) {}
    HRESULT activate(IAudioClient** client, std::function<void()> gone) override {
        *m_gone = std::move(gone);
        *client = m_client;
        return S_OK;
    }

private:
    IAudioClient* m_client;
    std::function<void()>* m_gone;
};

} // namespace brumlis::test
