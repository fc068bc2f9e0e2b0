#include "grid/zone_limits.h"

#include <algorithm>

#include "geodesy/angles.h"
#include "geodesy/codes.h"
#include "geodesy/transverse_mercator.h"

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

// Corners projected on the International ellipsoid with scale 0.9996, whatever the input
// system: they only serve the display of the limits in whole kilometres.
void projectCorners(ZoneLimits& z, double centralMeridian, double falseEasting) {
    const EllipsoidCode international = 1;
    const ProjectionCode scale09996 = 1;
    const PlaneXY nw = tmForward(degToRad(z.north), degToRad(z.west - centralMeridian), international, scale09996);
    const PlaneXY se = tmForward(degToRad(z.south), degToRad(z.east - centralMeridian), international, scale09996);
    z.nwNorth = nw.tmNorth;
    z.nwEast = nw.tmEast + falseEasting;
    z.seNorth = se.tmNorth;
    z.seEast = se.tmEast + falseEasting;
}

// Zone 34 with ROMA40 input: Gauss-Boaga has no third zone, so the corners are projected
// about the Est zone's 15 E.
double centralMeridian(std::int16_t zone, std::int16_t inputSystem) {
    if (zone == 34) {
        return inputSystem == kRoma40 ? 15 : 21;
    }
    return zone == 33 ? 15 : 9;
}

// Middle longitude, zone and plane corners of limits whose edges are set.
void zoneAndCorners(ZoneLimits& z, std::int16_t inputSystem) {
    z.midLon = (z.west + z.east) / 2;
    z.zone = z.midLon > 18 ? 34 : (z.midLon > 12 ? 33 : 32);

    projectCorners(z, centralMeridian(z.zone, inputSystem), kUtmFalseEasting);
    if (inputSystem == kRoma40) {
        const double extra = z.zone == 32 ? kOvestExtra : kEstExtra;
        z.nwEast += extra;
        z.seEast += extra;
    }
}

} // namespace

ZoneLimits computeZoneLimits(const GridPortion& g, std::int16_t inputSystem) {
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

ZoneLimits zoneLimitsOfArea(double south, double west, double north, double east, std::int16_t inputSystem) {
    ZoneLimits z;
    z.south = z.planSouth = z.geoidSouth = south;
    z.west = z.planWest = z.geoidWest = west;
    z.north = z.planNorth = z.geoidNorth = north;
    z.east = z.planEast = z.geoidEast = east;
    zoneAndCorners(z, inputSystem);
    return z;
}

ZoneLimits convertCornersForInputSystem(const ZoneLimits& limits, std::int16_t newInputSystem) {
    ZoneLimits z = limits;
    if (z.zone == 34) {
        const bool roma40 = newInputSystem == kRoma40;
        projectCorners(z, centralMeridian(34, newInputSystem), roma40 ? 2520000 : kUtmFalseEasting);
    } else if (z.zone == 33 || z.zone == 32) {
        if (newInputSystem == kRoma40) {
            if (z.nwEast < 1000000) { // still in the UTM convention
                const double extra = z.zone == 33 ? kEstExtra : kOvestExtra;
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
