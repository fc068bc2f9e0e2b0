#pragma once
#include "geodesy/systems.h"

namespace dormal {

// Semi-major axis (metres) and flattening of an ellipsoid.
struct Ellipsoid {
    double a;
    double f;
};

// International 1924 (Hayford), the ellipsoid of ROMA40 and ED50.
inline constexpr Ellipsoid kInternational1924{6378388.0, 1.0 / 297.0};
// GRS80, the ellipsoid of ETRF89 and ETRF2000.
inline constexpr Ellipsoid kGrs80{6378137.0, 1.0 / 298.257222101};

// The ellipsoid a reference system lies on.
Ellipsoid ellipsoidOf(RefSystem system);

} // namespace dormal
