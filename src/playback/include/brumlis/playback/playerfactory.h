#pragma once

#include <QString>
#include <memory>

namespace brumlis {

class SoundPlayer;

/// The player for this machine: the audio engine on the default output device. Returns at
/// once; when no device can be opened it says so once on stderr and sentences are heard
/// at once, without sound. `dataDir` is the folder that holds sound/.
std::unique_ptr<SoundPlayer> createSystemPlayer(const QString& dataDir);

} // namespace brumlis
