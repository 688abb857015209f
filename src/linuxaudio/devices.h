#pragma once
// The outputs Linux has, for the player this machine gets (playerfactory.cpp).
#include "brumlis/playback/audiodevice.h"

#include <memory>

namespace brumlis {

class SoundServerConnection;

/// How long before its frame is heard a word goes on screen through the outputs here: by
/// the servers' own figures, which put a PulseAudio null sink's sound a render block after
/// its monitor has it and a PipeWire one a little before, and with room for a timer that
/// wakes late.
inline constexpr std::chrono::milliseconds LinuxLead{18};

/// An output on the sound server's own protocol (PulseAudio, and PipeWire through
/// pipewire-pulse, as desktops run them), on the program's connection to it. It knows when
/// what it plays is heard, and says so through `anchor` once the server has told it.
std::unique_ptr<AudioDevice> makePulseDevice(const DeviceFormat& format, AudioDevice::Source source,
                                             AudioDevice::Anchor anchor,
                                             std::shared_ptr<SoundServerConnection> connection);

/// An output through SDL and its drivers (ALSA, PipeWire's own, disk, dummy). SDL does not
/// say when what it plays is heard: each driver has an estimate. SDL's library is opened
/// when the first such device is made; a device without it does not open.
std::unique_ptr<AudioDevice> makeSdlDevice(const DeviceFormat& format, AudioDevice::Source source);

/// Whether the sound server's own protocol is tried first: unless SDL_AUDIODRIVER names a
/// driver other than SDL's PulseAudio one.
bool pulseWanted();

/// Lets go of what SDL holds for the process once no SDL device is left, and of what it
/// holds for the calling thread; nothing when SDL was never used.
void releaseSdl();
/// Lets go of what SDL holds for the calling thread, which is about to end.
void releaseSdlThread();

/// Whether SDL's library has been loaded into the process.
bool sdlLoaded();

} // namespace brumlis
