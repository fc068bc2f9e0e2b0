#pragma once
#include "geodesy/codes.h"

namespace dormal {

// Semi-major axis (metres) and flattening of the ellipsoid a reference-system code selects.
// Codes 0 and 1: International 1924 (a 6378388, f 1/297); 2 and 3: GRS80 (a 6378137,
// f 1/298.257222101); any other code gives a = f = 0.
struct Ellipsoid {
    double a;
    double f;
};
Ellipsoid ellipsoidFor(EllipsoidCode code);

// Scale factor on the central meridian: 0.9985 for code 4 ("Fuso Italia"), 0.9996 for any other.
double scaleFactorFor(ProjectionCode code);

} // namespace dormal
