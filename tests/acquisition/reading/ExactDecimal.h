#pragma once
// A slow, independent reference for the reading texts: the double's exact
// binary value expanded long-hand into decimal digits, then rounded the two
// ways the readings are printed, with plain digit-string arithmetic.
#include <string>

// Exact decimal expansion of |value| (finite): integer digits and fraction
// digits, no sign.
struct ExactDecimal {
    std::string integerDigits;
    std::string fractionDigits;
};
ExactDecimal exactDecimal(double value);

// |value| to 18 significant digits (ties to even), then half away from zero
// at `decimals`; '.' separator; a leading '-' only when a non-zero digit
// remains.
std::string referenceFixed(double value, int decimals);
