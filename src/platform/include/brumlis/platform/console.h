#pragma once
// A terminal that takes text rather than bytes. One implementation per platform.
#include <cstdio>
#include <string_view>

namespace brumlis::platform {

/// When `stream` is a console that is written in UTF-16 (Windows' console, whatever its code
/// page), writes `utf8` to it as such and returns true; `failed` is set when the console
/// refused it. Any other stream (a file, a pipe, every stream on Linux) takes the bytes as
/// they are: false, and nothing is written.
bool writeToConsole(std::FILE* stream, std::string_view utf8, bool* failed);

} // namespace brumlis::platform
