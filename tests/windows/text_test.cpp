// The Windows side of the core's text seam: word lists from old Windows programs are
// Windows-1252, names from macOS are decomposed, and Windows matches file names ignoring
// case. These are the calls that seam is written on.
#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <windows.h>

namespace {

std::wstring fromCodePage(UINT codePage, std::string_view bytes) {
    const int size = static_cast<int>(bytes.size());
    const int length =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (length <= 0)
        return L"<error " + std::to_wstring(GetLastError()) + L">";
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, text.data(), length);
    return text;
}

std::wstring normalized(NORM_FORM form, std::wstring_view text) {
    const int size = static_cast<int>(text.size());
    // The first call only estimates the length; the second tells the real one.
    int length = NormalizeString(form, text.data(), size, nullptr, 0);
    if (length <= 0)
        return L"<error " + std::to_wstring(GetLastError()) + L">";
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    length = NormalizeString(form, text.data(), size, result.data(), length);
    if (length <= 0)
        return L"<error " + std::to_wstring(GetLastError()) + L">";
    result.resize(static_cast<std::size_t>(length));
    return result;
}

TEST(Text, Windows1252DecodesToUnicode) {
    struct Case {
        const char* label;
        std::string_view bytes;
        std::wstring_view text;
    };
    const Case cases[] = {
        {"å ä ö", "\xe5\xe4\xf6", L"\u00e5\u00e4\u00f6"},
        {"Å Ä Ö", "\xc5\xc4\xd6", L"\u00c5\u00c4\u00d6"},
        {"a word", "r\xe4ksm\xf6rg\xe5s", L"r\u00e4ksm\u00f6rg\u00e5s"},
        // 0x80 to 0x9F is where Windows-1252 is not ISO 8859-1.
        {"euro sign", "\x80", L"\u20ac"},
        {"dash and quotes", "\x96\x93\x94", L"\u2013\u201c\u201d"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(fromCodePage(1252, c.bytes), c.text);
    }
}

TEST(Text, NormalizeStringComposesAndDecomposes) {
    struct Case {
        const char* label;
        NORM_FORM form;
        std::wstring_view text;
        std::wstring_view expected;
    };
    const Case cases[] = {
        {"a + diaeresis", NormalizationC, L"a\u0308", L"\u00e4"},
        {"A + ring", NormalizationC, L"A\u030a", L"\u00c5"},
        {"o + diaeresis", NormalizationC, L"o\u0308", L"\u00f6"},
        {"inside a word", NormalizationC, L"fa\u0308rg", L"f\u00e4rg"},
        {"composed stays", NormalizationC, L"f\u00e4rg", L"f\u00e4rg"},
        {"decomposed", NormalizationD, L"\u00e4", L"a\u0308"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(normalized(c.form, c.text), c.expected);
    }
}

TEST(Text, CompareStringOrdinalIgnoresCaseOfSwedishLetters) {
    struct Case {
        const char* label;
        std::wstring_view left;
        std::wstring_view right;
        bool ignoreCase;
        int expected;
    };
    const Case cases[] = {
        {"Å", L"\u00c5SA", L"\u00e5sa", true, CSTR_EQUAL},
        {"Ä", L"\u00c4PPLE", L"\u00e4pple", true, CSTR_EQUAL},
        {"Ö", L"\u00d6L", L"\u00f6l", true, CSTR_EQUAL},
        {"case counts unless ignored", L"\u00c5SA", L"\u00e5sa", false, CSTR_LESS_THAN},
        {"å is not a", L"\u00e5sa", L"asa", true, CSTR_GREATER_THAN},
        // Ordinal means no normalisation: the resolver normalises before it compares.
        {"forms differ", L"f\u00e4rg", L"fa\u0308rg", true, CSTR_GREATER_THAN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(CompareStringOrdinal(c.left.data(), static_cast<int>(c.left.size()),
                                       c.right.data(), static_cast<int>(c.right.size()),
                                       c.ignoreCase),
                  c.expected);
    }
}

} // namespace
