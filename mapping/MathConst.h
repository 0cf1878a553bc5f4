#pragma once
// Angle constants in extended precision, shared by the projection code.

#include <numbers>

namespace orvanta::geo {

inline constexpr long double kPi = 3.141592653589793238462643383279502884L;
inline constexpr long double kDegToRad = kPi / 180.0L;
inline constexpr long double kRadToDeg = 180.0L / kPi;
// For code that works in double precision: the double nearest to pi, over 180.
inline constexpr double kDegToRadDouble = std::numbers::pi / 180.0;

} // namespace orvanta::geo
