#pragma once
// Angle constants in extended precision, shared by the projection code.

namespace orvanta::geo {

inline constexpr long double kPi = 3.141592653589793238462643383279502884L;
inline constexpr long double kDegToRad = kPi / 180.0L;
inline constexpr long double kRadToDeg = 180.0L / kPi;

} // namespace orvanta::geo
