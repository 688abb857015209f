#pragma once

#include "brumlis/playback/soundserver.h"

#include <QString>
#include <memory>

namespace brumlis {

class SoundPlayer;

/// The player for this machine: the audio engine on the default output device. Returns at
/// once; when no device can be opened it says so once on stderr and sentences are heard
/// at once, without sound. `dataDir` is the folder that holds sound/; `server`, the
/// program's connection to the sound server, when it has one to share.
std::unique_ptr<SoundPlayer> createSystemPlayer(const QString& dataDir,
                                                std::shared_ptr<SoundServerConnection> server = {});

} // namespace brumlis
