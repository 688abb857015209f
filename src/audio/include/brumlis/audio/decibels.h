#pragma once

#include <algorithm>
#include <cmath>

namespace brumlis {

/// Decibels of full scale, the one way they are reckoned here. An amplitude (a sample, a
/// peak, an RMS, a gain) takes 20 log10, a power (a mean square) 10 log10; nothing at all
/// is -inf, as no finite figure would be true of it.
inline double amplitudeToDb(double amplitude) {
    return amplitude > 0.0 ? 20.0 * std::log10(amplitude) : -HUGE_VAL;
}

/// The same, but never below `floor`, for a scale that has a bottom (a meter, a drawing).
inline double amplitudeToDb(double amplitude, double floor) {
    return std::max(floor, amplitudeToDb(amplitude));
}

inline double powerToDb(double power) {
    return power > 0.0 ? 10.0 * std::log10(power) : -HUGE_VAL;
}

inline double dbToAmplitude(double db) {
    return std::pow(10.0, db / 20.0);
}

inline double dbToPower(double db) {
    return std::pow(10.0, db / 10.0);
}

} // namespace brumlis
