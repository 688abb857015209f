#pragma once

#include <filesystem>

namespace brumlis {

/// The folder whose text/ and sound/ the programs read. `given` (from --data or the
/// window's argument) wins as it is; otherwise the first folder that holds text/ (in any
/// case: "Text") of: the working directory, then platform::dataLocations() (on Linux
/// $XDG_DATA_HOME/brumlis and each $XDG_DATA_DIRS entry's brumlis). When none does, the
/// working directory, so the usual messages name what is missing. The result is an
/// absolute path without "." or ".." parts.
std::filesystem::path findDataDir(const std::filesystem::path& given = {});

} // namespace brumlis
