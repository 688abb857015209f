#pragma once

#include <QString>
#include <memory>

namespace brumlis {

class SoundPlayer;

/// The player for this machine: the audio engine when an audio device can be opened,
/// otherwise the silent player. `dataDir` is the folder that holds sound/.
std::unique_ptr<SoundPlayer> createSystemPlayer(const QString& dataDir);

} // namespace brumlis
