#include "playerfactory.h"

#include "soundplayer.h"

namespace brumlis {

std::unique_ptr<SoundPlayer> createSystemPlayer(const QString&)
{
    // Until the audio engine lands every machine gets the silent player.
    return std::make_unique<SilentPlayer>();
}

} // namespace brumlis
