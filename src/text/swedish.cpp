#include "brumlis/text/swedish.h"

#include "brumlis/text/text.h"

#include <cmath>

namespace brumlis {

std::u16string swedishDecimal(double value, int decimals) {
    if (std::isnan(value))
        return u"?";
    if (std::isinf(value))
        return value < 0 ? u"-inf" : u"inf";
    if (std::round(std::abs(value) * std::pow(10.0, decimals)) == 0)
        value = 0; // "0,0", never "-0,0"
    return replaced(decimal(value, decimals), u'.', u',');
}

std::u16string swedishCount(long long n, const std::u16string& one, const std::u16string& many) {
    return number(n) + u' ' + (n == 1 ? one : many);
}

} // namespace brumlis
