#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace brumlis::winforms {

/// What brumlis.exe was told on its command line.
struct WindowArguments {
    /// The folder given (`--data MAPP`, `--data=MAPP` or the one argument); empty when none.
    std::filesystem::path dataDir;
    /// In Swedish, why the command line is not understood; empty when it is.
    std::u16string problem;
};

/// Reads the arguments after the program's name: at most one folder, which must exist.
WindowArguments parseWindowArguments(const std::vector<std::u16string>& args);

} // namespace brumlis::winforms
