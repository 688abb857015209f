#pragma once
// The program's arguments as Windows hands them over: UTF-16, whatever the code page.
// Windows only.
#include <string>
#include <vector>

namespace brumlis::platform {

/// The arguments of the command line, split as the C runtime splits them, without the
/// program's own name.
std::vector<std::u16string> commandLineArguments();

} // namespace brumlis::platform
