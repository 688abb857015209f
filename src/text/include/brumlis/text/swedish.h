#pragma once

#include <string>

namespace brumlis {

/// `value` with `decimals` decimals as Swedes write it: a decimal comma, an ordinary minus
/// ("-23,0"); "-inf" for minus infinity (silence in decibels), "?" for not a number.
std::u16string swedishDecimal(double value, int decimals);

/// "1 inspelning", "2 inspelningar": the count with the noun in agreement.
std::u16string swedishCount(long long n, const std::u16string& one, const std::u16string& many);

} // namespace brumlis
