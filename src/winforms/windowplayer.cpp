#include "windowplayer.h"

#include "brumlis/playback/lazyplayer.h"
#include "brumlis/windowsaudio/playerfactory.h"

namespace brumlis::winforms {

std::unique_ptr<LazyPlayer> createWindowPlayer(const std::filesystem::path& dataDir) {
    return std::make_unique<LazyPlayer>([dataDir] { return createWindowsPlayer(dataDir); });
}

} // namespace brumlis::winforms
