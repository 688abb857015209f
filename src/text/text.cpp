#include "brumlis/text/text.h"

#include <array>
#include <charconv>
#include <cmath>

namespace brumlis {

namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F.
constexpr std::array<char16_t, 32> Cp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

constexpr char16_t Replacement = 0xFFFD;

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

} // namespace

bool isHighSurrogate(char16_t c) {
    return c >= 0xD800 && c <= 0xDBFF;
}

bool isLowSurrogate(char16_t c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

std::string toUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (isHighSurrogate(c) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            appendUtf8(out, 0x10000 + ((char32_t(c) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (isHighSurrogate(c) || isLowSurrogate(c)) {
            appendUtf8(out, Replacement);
        } else {
            appendUtf8(out, c);
        }
    }
    return out;
}

int decodeUtf8Sequence(const unsigned char* in, const unsigned char* end, char16_t*& out) {
    const unsigned b = *in;
    int length = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2, cp = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3, cp = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4, cp = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (end - in < length)
        return 0;
    for (int i = 1; i < length; ++i) {
        if ((in[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (in[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    if (cp >= 0x10000) {
        *out++ = char16_t(0xD800 + ((cp - 0x10000) >> 10));
        *out++ = char16_t(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
        *out++ = char16_t(cp);
    }
    return length;
}

std::u16string fromUtf8(std::string_view bytes) {
    std::u16string text(bytes.size(), u'\0');
    char16_t* out = text.data();
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = in + bytes.size();
    while (in < end) {
        if (*in < 0x80)
            *out++ = char16_t(*in++);
        else if (const int taken = decodeUtf8Sequence(in, end, out))
            in += taken;
        else
            *out++ = Replacement, ++in;
    }
    text.resize(std::size_t(out - text.data()));
    return text;
}

bool isUtf8(std::string_view bytes) {
    char16_t scratch[2];
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = in + bytes.size();
    while (in < end) {
        if (*in < 0x80) {
            ++in;
            continue;
        }
        char16_t* out = scratch;
        const int taken = decodeUtf8Sequence(in, end, out);
        if (taken == 0)
            return false;
        in += taken;
    }
    return true;
}

char16_t fromWindows1252(unsigned char byte) {
    return (byte >= 0x80 && byte < 0xA0) ? Cp1252High[byte - 0x80] : char16_t(byte);
}

std::u16string decodeWindows1252(std::string_view bytes) {
    std::u16string text;
    text.reserve(bytes.size());
    for (const char c : bytes)
        text += fromWindows1252(static_cast<unsigned char>(c));
    return text;
}

std::u16string number(long long n) {
    char digits[24];
    const auto [end, error] = std::to_chars(digits, digits + sizeof digits, n);
    return std::u16string(digits, end);
}

std::u16string decimal(double value, int decimals) {
    char digits[400];
    const auto [end, error] =
        std::to_chars(digits, digits + sizeof digits, value, std::chars_format::fixed, decimals);
    return error == std::errc() ? std::u16string(digits, end) : std::u16string(u"?");
}

bool isSpace(char16_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

std::u16string_view trimmed(std::u16string_view text) {
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

std::u16string replaced(std::u16string text, char16_t from, char16_t to) {
    for (char16_t& c : text)
        if (c == from)
            c = to;
    return text;
}

std::vector<std::u16string_view> splitSkippingEmpty(std::u16string_view text, char16_t separator) {
    std::vector<std::u16string_view> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find(separator, start), text.size());
        if (end > start)
            parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

std::u16string joined(const std::vector<std::u16string>& parts, std::u16string_view separator) {
    std::u16string out;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            out += separator;
        out += parts[i];
    }
    return out;
}

} // namespace brumlis
