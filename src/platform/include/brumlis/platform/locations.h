#pragma once
// Where a user's and the system's data folders are. One implementation per platform.
#include <filesystem>
#include <vector>

namespace brumlis::platform {

/// The folders the program looks for its data in, after the working directory, most
/// personal first: on Linux $XDG_DATA_HOME/brumlis (~/.local/share/brumlis) and each
/// $XDG_DATA_DIRS entry's brumlis (/usr/local/share/brumlis, /usr/share/brumlis); on
/// Windows %APPDATA%\\Brumlis and the folder that holds the program.
std::vector<std::filesystem::path> dataLocations();

/// The data folder when none of the working directory and dataLocations() holds a text
/// folder: on Linux the working directory `here`, on Windows the folder of the program.
std::filesystem::path lastDataLocation(const std::filesystem::path& here);

} // namespace brumlis::platform
