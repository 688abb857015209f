#pragma once
// The core's one text type is std::u16string: UTF-16, as Qt and Windows hold text, so that a
// front end converts without decoding and an item is cut at the same place on both
// platforms. These are the few things done to it that the standard library does not do.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brumlis {

/// Text in UTF-8; an unpaired surrogate becomes U+FFFD.
std::string toUtf8(std::u16string_view text);
/// UTF-8 as text; each byte that is not part of a valid sequence becomes U+FFFD.
std::u16string fromUtf8(std::string_view bytes);
/// Whether `bytes` are valid UTF-8 throughout: no overlong forms, no surrogates, nothing
/// past U+10FFFF.
bool isUtf8(std::string_view bytes);

/// Decodes one strict UTF-8 sequence that starts with the non-ASCII byte at `in`, writing
/// its one or two UTF-16 units at `out` and moving it on. Returns the bytes it took, or 0
/// when the bytes there are not UTF-8.
int decodeUtf8Sequence(const unsigned char* in, const unsigned char* end, char16_t*& out);

/// One byte in the Windows code page 1252 (the five it leaves undefined map to the C1
/// control of the same value, as Windows does).
char16_t fromWindows1252(unsigned char byte);
/// Bytes in Windows-1252, one character each.
std::u16string decodeWindows1252(std::string_view bytes);

/// ASCII or UTF-8 source text, such as a string literal: u16("klassnamnet").
inline std::u16string u16(std::string_view utf8) {
    return fromUtf8(utf8);
}

/// A whole number in decimal digits.
std::u16string number(long long n);
/// `value` rounded to `decimals` decimals, with a decimal point ("-23.0").
std::u16string decimal(double value, int decimals);

/// Whether `c` is white space: the C0 blanks (tab to carriage return), space, U+0085, and
/// Unicode's space, line and paragraph separators.
bool isSpace(char16_t c);
/// `text` without white space at either end.
std::u16string_view trimmed(std::u16string_view text);

bool isHighSurrogate(char16_t c);
bool isLowSurrogate(char16_t c);

/// `text` with every `from` replaced by `to`.
std::u16string replaced(std::u16string text, char16_t from, char16_t to);

/// The parts of `text` between `separator`s, empty ones dropped.
std::vector<std::u16string_view> splitSkippingEmpty(std::u16string_view text, char16_t separator);
/// `parts` with `separator` between them.
std::u16string joined(const std::vector<std::u16string>& parts, std::u16string_view separator);

} // namespace brumlis
