#pragma once

#include "brumlis/linuxaudio/soundserver.h"

#include <filesystem>
#include <memory>

namespace brumlis {

class SoundPlayer;

/// The player for this machine: the audio engine on the sound server's own protocol where
/// one answers, else on SDL's drivers. Returns at once; when no device can be opened it says
/// so once on stderr and sentences are heard at once, without sound. `dataDir` is the folder
/// that holds sound/; `server`, the program's connection to the sound server, when it has
/// one to share.
std::unique_ptr<SoundPlayer> createSystemPlayer(const std::filesystem::path& dataDir,
                                                std::shared_ptr<SoundServerConnection> server = {});

} // namespace brumlis
