#pragma once

#include "brumlis/playback/soundplayer.h"

#include <filesystem>
#include <memory>

namespace brumlis::winforms {

/// The window's sound: what speaks the recordings under `dataDir`. The one place that
/// chooses it.
std::unique_ptr<SoundPlayer> createWindowPlayer(const std::filesystem::path& dataDir);

} // namespace brumlis::winforms
