#include "grid/zone_limits.h"

#include <algorithm>

#include "geodesy/angles.h"
#include "geodesy/systems.h"
#include "geodesy/transverse_mercator.h"
#include "geodesy/zones.h"

namespace dormal {

namespace {

// A sexagesimal gg.ppss offset in decimal degrees.
double dms(double sexagesimal) {
    return sexagesimalToDegrees(sexagesimal);
}

constexpr double kUtmFalseEasting = 500000;
// Extra easting of the Gauss-Boaga zones over the UTM false easting: Ovest 1500000, Est 2520000.
constexpr double kOvestExtra = 1000000;
constexpr double kEstExtra = 2020000;

// Corners projected as ED50 UTM (International ellipsoid, scale 0.9996), whatever the input
// system: they only serve the display of the limits in whole kilometres.
void projectCorners(ZoneLimits& z, double centralMeridian, double falseEasting) {
    const Ellipsoid international = ellipsoidOf(RefSystem::Ed50);
    const double k0 = zoneInfo(RefSystem::Ed50, z.zone).scale;
    const PlaneXY nw = tmForward(international, k0, degToRad(z.north), degToRad(z.west - centralMeridian));
    const PlaneXY se = tmForward(international, k0, degToRad(z.south), degToRad(z.east - centralMeridian));
    z.nwNorth = nw.tmNorth;
    z.nwEast = nw.tmEast + falseEasting;
    z.seNorth = se.tmNorth;
    z.seEast = se.tmEast + falseEasting;
}

// Zone 34 with ROMA40 input: Gauss-Boaga has no third zone, so the corners are projected
// about the Est zone's 15 E.
double centralMeridian(Zone zone, RefSystem inputSystem) {
    if (zone == Zone::Utm34) {
        return inputSystem == RefSystem::Roma40 ? 15 : 21;
    }
    return zone == Zone::EstOr33 ? 15 : 9;
}

// Middle longitude, zone and plane corners of limits whose edges are set.
void zoneAndCorners(ZoneLimits& z, RefSystem inputSystem) {
    z.midLon = (z.west + z.east) / 2;
    z.zone = z.midLon > 18 ? Zone::Utm34 : (z.midLon > 12 ? Zone::EstOr33 : Zone::OvestOr32);

    projectCorners(z, centralMeridian(z.zone, inputSystem), kUtmFalseEasting);
    if (inputSystem == RefSystem::Roma40) {
        const double extra = z.zone == Zone::OvestOr32 ? kOvestExtra : kEstExtra;
        z.nwEast += extra;
        z.seEast += extra;
    }
}

} // namespace

ZoneLimits computeZoneLimits(const GridPortion& g, RefSystem inputSystem) {
    ZoneLimits z;
    if (g.kind != PortionKind::Vertex && g.kind != PortionKind::Sheet) {
        return z;
    }
    const bool vertex = g.kind == PortionKind::Vertex;
    // Every edge stays 5" inside the outermost nodes.
    z.planSouth = g.planOriginLat + dms(0.0005);
    z.planWest = g.planOriginLon + dms(0.0005);
    z.planNorth = g.planOriginLat + dms(vertex ? 0.1455 : 0.2455);
    z.planEast = g.planOriginLon + dms(vertex ? 0.2225 : 0.3725);
    z.geoidSouth = g.geoidOriginLat + dms(0.0005);
    z.geoidWest = g.geoidOriginLon + dms(0.0005);
    z.geoidNorth = g.geoidOriginLat + dms(vertex ? 0.1355 : 0.1755);
    z.geoidEast = g.geoidOriginLon + dms(vertex ? 0.1755 : 0.2555);

    // The ETRF89->ETRF2000 grid does not enter the common area.
    z.south = std::max(z.planSouth, z.geoidSouth);
    z.west = std::max(z.planWest, z.geoidWest);
    z.north = std::min(z.planNorth, z.geoidNorth);
    z.east = std::min(z.planEast, z.geoidEast);

    zoneAndCorners(z, inputSystem);
    return z;
}

ZoneLimits zoneLimitsOfArea(double south, double west, double north, double east, RefSystem inputSystem) {
    ZoneLimits z;
    z.south = z.planSouth = z.geoidSouth = south;
    z.west = z.planWest = z.geoidWest = west;
    z.north = z.planNorth = z.geoidNorth = north;
    z.east = z.planEast = z.geoidEast = east;
    zoneAndCorners(z, inputSystem);
    return z;
}

ZoneLimits convertCornersForInputSystem(const ZoneLimits& limits, RefSystem newInputSystem) {
    ZoneLimits z = limits;
    if (z.zone == Zone::Utm34) {
        const bool roma40 = newInputSystem == RefSystem::Roma40;
        projectCorners(z, centralMeridian(Zone::Utm34, newInputSystem), roma40 ? 2520000 : kUtmFalseEasting);
    } else if (z.zone == Zone::EstOr33 || z.zone == Zone::OvestOr32) {
        if (newInputSystem == RefSystem::Roma40) {
            if (z.nwEast < 1000000) { // still in the UTM convention
                const double extra = z.zone == Zone::EstOr33 ? kEstExtra : kOvestExtra;
                z.nwEast += extra;
                z.seEast += extra;
            }
        } else {
            if (z.nwEast > 2000000) {
                z.nwEast -= kEstExtra;
                z.seEast -= kEstExtra;
            }
            if (z.nwEast > 1000000 && z.nwEast < 2000000) {
                z.nwEast -= kOvestExtra;
                z.seEast -= kOvestExtra;
            }
        }
    }
    return z;
}

} // namespace dormal
