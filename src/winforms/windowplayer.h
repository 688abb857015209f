#pragma once

#include <filesystem>
#include <memory>

namespace brumlis {
class LazyPlayer;
}

namespace brumlis::winforms {

/// The window's sound: the recordings under `dataDir`, spoken through WASAPI. Made when the
/// player is started (once the window has drawn itself) or at the first sentence, so that
/// putting the window up waits for no sound device. The one place that chooses it.
std::unique_ptr<LazyPlayer> createWindowPlayer(const std::filesystem::path& dataDir);

} // namespace brumlis::winforms
