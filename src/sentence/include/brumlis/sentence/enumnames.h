#pragma once

#include "brumlis/text/text.h"

#include <cstddef>
#include <string>

namespace brumlis {

/// A value of an enum that reports show, with its key for scripts (fixed English, as in
/// JSON) and its name for people (Swedish). Each such enum has one table of these, so that
/// a value added to it needs one new row, not a case in a switch for keys and another in a
/// switch for names.
template <typename Enum> struct EnumName {
    Enum value;
    const char* key;  ///< ASCII
    const char* name; ///< UTF-8
};

/// The key of `value` in `table`; empty when it has no row.
template <typename Enum, std::size_t Size>
std::u16string keyOf(const EnumName<Enum> (&table)[Size], Enum value) {
    for (const EnumName<Enum>& row : table)
        if (row.value == value)
            return fromUtf8(row.key);
    return {};
}

/// The name of `value` in `table`; empty when it has no row.
template <typename Enum, std::size_t Size>
std::u16string nameOf(const EnumName<Enum> (&table)[Size], Enum value) {
    for (const EnumName<Enum>& row : table)
        if (row.value == value)
            return fromUtf8(row.name);
    return {};
}

} // namespace brumlis
