#pragma once
// Text in the core's tests: written in UTF-8, compared as UTF-8, so that a table of cases
// reads as the text it holds and a failure prints it.
#include "brumlis/text/text.h"

#include <string>
#include <vector>

namespace brumlis::test {

inline std::u16string u(std::string_view utf8) {
    return fromUtf8(utf8);
}

inline std::string utf8(std::u16string_view text) {
    return toUtf8(text);
}

inline std::vector<std::string> utf8(const std::vector<std::u16string>& texts) {
    std::vector<std::string> out;
    for (const std::u16string& text : texts)
        out.push_back(toUtf8(text));
    return out;
}

} // namespace brumlis::test
