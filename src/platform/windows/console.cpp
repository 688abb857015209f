// The console on Windows shows what WriteConsoleW is given, whatever its code page; a
// redirected stream gets UTF-8 bytes.
#include "brumlis/platform/console.h"

#include "brumlis/text/text.h"

#include <io.h>
#include <windows.h>

namespace brumlis::platform {

bool writeToConsole(std::FILE* stream, std::string_view utf8, bool* failed) {
    *failed = false;
    const int descriptor = _fileno(stream);
    if (descriptor < 0)
        return false;
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return false;
    // What the stream still buffers goes first, so that nothing changes places.
    std::fflush(stream);
    const std::u16string text = fromUtf8(utf8);
    const auto* at = reinterpret_cast<const wchar_t*>(text.data());
    std::size_t left = text.size();
    while (left > 0) {
        DWORD written = 0;
        const DWORD piece = DWORD(std::min<std::size_t>(left, 16 * 1024));
        if (!WriteConsoleW(handle, at, piece, &written, nullptr) || written == 0) {
            *failed = true;
            return true;
        }
        at += written;
        left -= written;
    }
    return true;
}

} // namespace brumlis::platform
