#include "windowplayer.h"

namespace brumlis::winforms {

std::unique_ptr<SoundPlayer> createWindowPlayer(const std::filesystem::path&) {
    // Silent until the Windows output is built in: every sentence is shown at once.
    return std::make_unique<SilentPlayer>(u"ingen ljudutgång i den här versionen");
}

} // namespace brumlis::winforms
