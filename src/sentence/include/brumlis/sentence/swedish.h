#pragma once

#include <QString>
#include <cmath>

namespace brumlis {

/// `value` with `decimals` decimals as Swedes write it: a decimal comma, an ordinary minus
/// ("-23,0"); "-inf" for minus infinity (silence in decibels), "?" for not a number.
inline QString swedishDecimal(double value, int decimals) {
    if (std::isnan(value))
        return QStringLiteral("?");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");
    if (std::round(std::abs(value) * std::pow(10.0, decimals)) == 0)
        value = 0; // "0,0", never "-0,0"
    return QString::number(value, 'f', decimals).replace(u'.', u',');
}

/// "1 inspelning", "2 inspelningar": the count with the noun in agreement.
inline QString swedishCount(long long n, const QString& one, const QString& many) {
    return QString::number(n) + u' ' + (n == 1 ? one : many);
}

} // namespace brumlis
