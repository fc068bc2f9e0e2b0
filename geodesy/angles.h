#pragma once
// Angle formats. Sexagesimal angles are one signed real "gg.ppssdddd": whole degrees,
// two digits of minutes, two of whole seconds, then the fraction of the second.

#include <cmath>

namespace dormal {

// pi as 4*atan(1), the value every degree/radian conversion of the system uses. Inline, so
// the compiler folds it into the conversions instead of calling a function for it.
inline double pi() { return 4.0 * std::atan(1.0); }

// The largest whole number not above x (traditional name Int): the degrees, minutes and
// grid cells of the angle formats and the interpolation are taken with it.
inline double wholePart(double x) { return std::floor(x); }
inline double degToRad(double deg) { return deg * pi() / 180.0; }
inline double radToDeg(double rad) { return rad * 180.0 / pi(); }

// Sexagesimal gg.ppssdddd -> decimal degrees (adds 1e-11 before splitting, sign kept).
// Traditional name: SESS_DEC.
double sexagesimalToDegrees(double sexagesimal);
// Decimal degrees -> sexagesimal gg.ppssdddd, seconds carried at 59.99995.
// Traditional name: DEC_SESS.
double degreesToSexagesimal(double decimalDegrees);
// Decimal degrees -> sexagesimal gg.pp rounded to the whole minute (30 s rounds down).
// Traditional name: DEC_SESS_PRIMI.
double degreesToSexagesimalMinutes(double decimalDegrees);

} // namespace dormal
