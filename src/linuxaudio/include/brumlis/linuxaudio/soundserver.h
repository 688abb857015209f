#pragma once

#include <QByteArray>
#include <memory>

namespace brumlis {

class SoundServerConnection;

/// Who the program is to the sound server, as its mixer shows it.
struct SoundServerClient {
    QByteArray name = "Brumlis";
    QByteArray id = "se.brumlis.brumlis";
    QByteArray icon = "brumlis";
};

/// The program's one connection to the sound server (PulseAudio, or PipeWire through
/// pipewire-pulse). Hand it to the audio engine and to a sound input, and they share one
/// thread and come back together after the server restarts. Nothing is done until one of
/// them needs the server.
std::shared_ptr<SoundServerConnection> makeSoundServerConnection(SoundServerClient client = {});

} // namespace brumlis
