#pragma once
// Where a user's and the system's data folders are. One implementation per platform.
#include <filesystem>
#include <vector>

namespace brumlis::platform {

/// The folders the program looks for its data in, after the working directory, most
/// personal first: on Linux $XDG_DATA_HOME/brumlis (~/.local/share/brumlis) and each
/// $XDG_DATA_DIRS entry's brumlis (/usr/local/share/brumlis, /usr/share/brumlis).
std::vector<std::filesystem::path> dataLocations();

} // namespace brumlis::platform
