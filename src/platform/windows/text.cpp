// Unicode on Windows: the system's own normalization and case tables, the ones its file
// systems compare names with.
#include "brumlis/platform/text.h"

#include <windows.h>

namespace brumlis::platform {

namespace {

const wchar_t* wide(std::u16string_view text) {
    return reinterpret_cast<const wchar_t*>(text.data());
}

} // namespace

std::u16string composed(std::u16string_view text) {
    if (text.empty())
        return {};
    const int size = int(text.size());
    // The first answer is an estimate; a second call may ask for more room.
    int room = NormalizeString(NormalizationC, wide(text), size, nullptr, 0);
    for (int attempt = 0; room > 0 && attempt < 4; ++attempt) {
        std::u16string result(std::size_t(room), u'\0');
        const int length = NormalizeString(NormalizationC, wide(text), size,
                                           reinterpret_cast<wchar_t*>(result.data()), room);
        if (length > 0) {
            result.resize(std::size_t(length));
            return result;
        }
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            break;
        room = -length;
    }
    // Not valid UTF-16 (a lone surrogate): compared as it is.
    return std::u16string(text);
}

std::u16string caseFolded(std::u16string_view text) {
    if (text.empty())
        return {};
    // Upper case in the invariant locale, as NTFS and CompareStringOrdinal match names.
    const int size = int(text.size());
    const int length = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide(text), size,
                                     nullptr, 0, nullptr, nullptr, 0);
    if (length <= 0)
        return std::u16string(text);
    std::u16string result(std::size_t(length), u'\0');
    LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide(text), size,
                  reinterpret_cast<wchar_t*>(result.data()), length, nullptr, nullptr, 0);
    return result;
}

} // namespace brumlis::platform
