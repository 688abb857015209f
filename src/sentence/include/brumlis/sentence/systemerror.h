#pragma once

#include <QString>

namespace brumlis {

/// What a failed system call's error number means, in Swedish whatever the locale, for the
/// errors a program that reads and writes files meets ("filen eller mappen finns inte",
/// "disken är full", "röret är stängt"); any other as "systemfel N".
QString systemErrorText(int error);

} // namespace brumlis
