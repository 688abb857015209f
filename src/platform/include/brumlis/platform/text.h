#pragma once
// Unicode that names of files need and the standard library lacks. One implementation per
// platform: the system's own tables.
#include <string>
#include <string_view>

namespace brumlis::platform {

/// `text` in Unicode normalization form C (composed: "a" + U+0308 becomes "ä").
std::u16string composed(std::u16string_view text);

/// `text` folded for caseless comparison: two names that differ only in case fold to the
/// same text ("ÅSA" and "åsa").
std::u16string caseFolded(std::u16string_view text);

} // namespace brumlis::platform
