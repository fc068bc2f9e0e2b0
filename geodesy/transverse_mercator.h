#pragma once
// Transverse Mercator, forward and inverse, by power series in the longitude difference
// (to the 12th power in latitude, 11th in longitude). The functions know nothing of zones:
// callers subtract the central meridian and add the false easting (see zones.h).

#include "geodesy/ellipsoid.h"

namespace dormal {

struct PlaneXY {
    double tmNorth; // northing from the equator, metres, scale applied, no false northing
    double tmEast;  // easting from the central meridian, metres, scale applied, no false easting
};

struct GeoLatDLon {
    double invLat;  // latitude, radians
    double invDLon; // longitude minus the central meridian, radians
};

// Meridian arc from the equator to latitude phi (radians) on an ellipsoid of semi-major
// axis A (metres, already scaled) and first eccentricity squared e2; metres.
// Traditional name: ARCO_MERIDIANO.
double meridianArc(double phi, double A, double e2);

// Geographic -> plane on ellipsoid e with scale factor k0 on the central meridian.
// phi: latitude, radians; dLon: longitude minus central meridian, radians.
// Traditional name: GEO_PIANE.
PlaneXY tmForward(const Ellipsoid& e, double k0, double phi, double dLon);

// Plane -> geographic on ellipsoid e with scale factor k0. north: metres; east: easting
// minus the false easting, metres. Traditional name: PIANE_GEO.
GeoLatDLon tmInverse(const Ellipsoid& e, double k0, double north, double east);

} // namespace dormal
