#pragma once
// The zone table, in one place for every user: central meridian, false easting, scale
// factor and zone text per reference system and zone.

#include "geodesy/systems.h"

namespace dormal {

// Monte Mario (Rome) meridian east of Greenwich, sexagesimal 12 deg 27' 08.4".
inline constexpr double kMonteMarioSexagesimal = 12.27084;
// sexagesimalToDegrees(12.27084): the value added to a ROMA40 longitude to count it from Greenwich.
double romeMeridian();

struct ZoneInfo {
    bool valid = false;           // false: the system has no such zone
    double centralMeridian = 0;   // decimal degrees east of Greenwich (ROMA40: nominal 9 or 15)
    double centralMeridianMM = 0; // ROMA40 only: decimal degrees east of Monte Mario, sexagesimalToDegrees(-3.27084)
                                  // or sexagesimalToDegrees(2.32516); ROMA40 runs count longitudes from it
    double falseEasting = 0;      // metres
    double scale = 0;             // k0 on the central meridian
    const char* text = "";        // "Ovest", "Est", "32", "33", "34", "Italia"
};

// Zone of a system (Zone::Auto is not a zone and gives valid = false). ROMA40: Ovest, Est.
// ED50: 32 to 34. ETRF89, ETRF2000: 32 to 34 and Italia.
ZoneInfo zoneInfo(RefSystem system, Zone zone);

// Zone in which a longitude lies (naturalZone): for systems other than ROMA40,
// 34 if lon > 18, else 33 if lon > 12, else 32 (lon decimal degrees east of Greenwich).
// For ROMA40, lonFromMonteMario in decimal degrees: Est if > sexagesimalToDegrees(-0.27084), else Ovest.
Zone naturalZoneGreenwich(double lonGreenwich);
Zone naturalZoneRoma40(double lonFromMonteMario);

} // namespace dormal
