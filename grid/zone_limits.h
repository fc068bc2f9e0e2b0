#pragma once
// Limits of the area a loaded portion lets the user convert, and the working-zone corners.

#include "geodesy/systems.h"
#include "grid/grid_portion.h"

namespace dormal {

struct ZoneLimits {
    // Edges of the ROMA40 grids and the geoid grid, 5" inside their outer nodes (decimal degrees).
    double planSouth = 0, planWest = 0, planNorth = 0, planEast = 0;
    double geoidSouth = 0, geoidWest = 0, geoidNorth = 0, geoidEast = 0;
    // Area covered by both (decimal degrees).
    double south = 0, west = 0, north = 0, east = 0;
    double midLon = 0;     // (west + east) / 2
    Zone zone = Zone::Auto; // UTM 32, 33 or 34 (OvestOr32, EstOr33, Utm34); Auto before any portion was shown
    // Plane corners (International ellipsoid, k0 0.9996), metres, in the plane convention
    // of the current input system (false easting 500000, or 1500000 / 2520000 for ROMA40).
    double nwNorth = 0, nwEast = 0; // corner (north, west)
    double seNorth = 0, seEast = 0; // corner (south, east)
};

// Limits of a portion just read, corners in the convention of inputSystem.
ZoneLimits computeZoneLimits(const GridPortion& g, RefSystem inputSystem);

// Limits of an area given by its edges (decimal degrees): south..north, west..east set, the
// grid edges equal to them, zone and corners as for a portion (the outer limits of a set).
ZoneLimits zoneLimitsOfArea(double south, double west, double north, double east, RefSystem inputSystem);

// Corners brought into the convention of a newly picked input system (the limits stay).
// Zone Auto (nothing read yet): returned unchanged.
ZoneLimits convertCornersForInputSystem(const ZoneLimits& limits, RefSystem newInputSystem);

} // namespace dormal
