#pragma once

#include <filesystem>
#include <memory>

namespace brumlis {

class SoundPlayer;

/// The player for this machine: the audio engine on the default output through WASAPI, in
/// shared mode. Returns at once; when no output can be opened it says so once on stderr and
/// sentences are heard at once, without sound. `dataDir` is the folder that holds sound\.
std::unique_ptr<SoundPlayer> createWindowsPlayer(const std::filesystem::path& dataDir);

} // namespace brumlis
