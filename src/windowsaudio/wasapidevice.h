#pragma once
// The engine's output on Windows (playerfactory.cpp), and what its tests replace.
#include "brumlis/playback/audiodevice.h"

#include <functional>
#include <memory>
#include <windows.h>
// After windows.h.
#include <audioclient.h>

namespace brumlis {

/// How long before its frame is heard a word goes on screen through WASAPI: the audio
/// clock says when a frame reaches the device's end, and a timer may wake late.
inline constexpr std::chrono::milliseconds WindowsLead{18};

/// The output a WASAPI device plays on.
class AudioEndpoint {
public:
    virtual ~AudioEndpoint() = default;
    /// A new audio client on the output (its reference is the caller's). `gone` is called,
    /// on any thread, once the output stops being the one to play on: another default
    /// output was chosen, or this one was unplugged or disabled.
    virtual HRESULT activate(IAudioClient** client, std::function<void()> gone) = 0;
};

/// The default output for sound (eRender, eConsole) as it is when the device opens.
std::unique_ptr<AudioEndpoint> defaultEndpoint();

using EndpointFactory = std::function<std::unique_ptr<AudioEndpoint>()>;

/// An output through WASAPI in shared mode, event-driven: it takes sound on a thread of
/// its own each time the device asks, and learns from the stream's audio clock when what
/// it gave is heard (through `anchor`). Started for a sentence and stopped after it, so that
/// neither the program nor the audio service wakes in between. Opened where `endpoints`
/// say, the default output unless told; COM is set up on each thread that uses it.
std::unique_ptr<AudioDevice> makeWasapiDevice(const DeviceFormat& format,
                                              AudioDevice::Source source,
                                              AudioDevice::Anchor anchor,
                                              EndpointFactory endpoints = {});

/// Lets go of COM on the calling thread, which is about to end, if a device set it up there.
void releaseComOnThread();

/// What a WASAPI error means, in Swedish.
std::u16string audioErrorText(HRESULT error);

} // namespace brumlis
