#pragma once

#include <string>

namespace brumlis {

/// What a failed system call's error number (errno) means, in Swedish whatever the locale,
/// for the errors a program that reads and writes files meets ("filen eller mappen finns
/// inte", "disken är full", "röret är stängt"); any other as "systemfel N".
std::u16string systemErrorText(int error);

} // namespace brumlis
