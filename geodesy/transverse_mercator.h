#pragma once
// Transverse Mercator, forward and inverse, by power series in the longitude difference
// (to the 12th power in latitude, 11th in longitude). The functions know nothing of zones:
// callers subtract the central meridian and add the false easting (see zones.h).

#include "geodesy/codes.h"

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

// Geographic -> plane. phi: latitude, radians; l: longitude minus central meridian, radians.
// Traditional name: GEO_PIANE.
PlaneXY tmForward(double phi, double l, EllipsoidCode ellipsoid, ProjectionCode projection);

// Plane -> geographic. north: metres; east: easting minus the false easting, metres.
// Traditional name: PIANE_GEO.
GeoLatDLon tmInverse(double north, double east, EllipsoidCode ellipsoid, ProjectionCode projection);

} // namespace dormal
