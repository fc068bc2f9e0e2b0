#include "geodesy/zones.h"

#include "geodesy/angles.h"

namespace dormal {

namespace {

// Gauss-Boaga central meridians as ROMA40 holds them, counted from Monte Mario
// (sexagesimal): Ovest -3 deg 27' 08.4" (9 deg E of Greenwich), Est +2 deg 32' 51.6" (15 deg E).
constexpr double kOvestFromMonteMarioSexagesimal = -3.27084;
constexpr double kEstFromMonteMarioSexagesimal = 2.32516;
// A ROMA40 longitude east of this (from Monte Mario, sexagesimal -0 deg 27' 08.4", that is
// 12 deg E of Greenwich) lies in Est.
constexpr double kRoma40ZoneBorderSexagesimal = -0.27084;

// Scale factor on the central meridian: Gauss-Boaga and UTM, and "Fuso Italia".
constexpr double kTmScale = 0.9996;
constexpr double kFusoItaliaScale = 0.9985;

ZoneInfo roma40Zone(Zone zone) {
    ZoneInfo z;
    switch (zone) {
    case Zone::OvestOr32:
        z.centralMeridian = 9.0;
        z.centralMeridianMM = sexagesimalToDegrees(kOvestFromMonteMarioSexagesimal);
        z.falseEasting = 1500000.0;
        z.text = "Ovest";
        break;
    case Zone::EstOr33:
        z.centralMeridian = 15.0;
        z.centralMeridianMM = sexagesimalToDegrees(kEstFromMonteMarioSexagesimal);
        z.falseEasting = 2520000.0;
        z.text = "Est";
        break;
    default:
        return z;
    }
    z.valid = true;
    z.scale = kTmScale;
    return z;
}

ZoneInfo utmOrItaliaZone(RefSystem system, Zone zone) {
    ZoneInfo z;
    switch (zone) {
    case Zone::OvestOr32:
        z.centralMeridian = 9.0;
        z.falseEasting = 500000.0;
        z.text = "32";
        break;
    case Zone::EstOr33:
        z.centralMeridian = 15.0;
        z.falseEasting = 500000.0;
        z.text = "33";
        break;
    case Zone::Utm34:
        z.centralMeridian = 21.0;
        z.falseEasting = 500000.0;
        z.text = "34";
        break;
    case Zone::Italia:
        // "Fuso Italia" is defined for ETRF89 and ETRF2000 only.
        if (system != RefSystem::Etrf89 && system != RefSystem::Etrf2000) {
            return z;
        }
        z.centralMeridian = 12.0;
        z.falseEasting = 7000000.0;
        z.text = "Italia";
        break;
    default:
        return z;
    }
    z.valid = true;
    z.scale = zone == Zone::Italia ? kFusoItaliaScale : kTmScale;
    return z;
}

} // namespace

double romeMeridian() {
    return sexagesimalToDegrees(kMonteMarioSexagesimal);
}

ZoneInfo zoneInfo(RefSystem system, Zone zone) {
    if (system == RefSystem::Roma40) {
        return roma40Zone(zone);
    }
    return utmOrItaliaZone(system, zone);
}

Zone naturalZoneGreenwich(double lonGreenwich) {
    if (lonGreenwich > 18) {
        return Zone::Utm34;
    }
    if (lonGreenwich > 12) {
        return Zone::EstOr33;
    }
    return Zone::OvestOr32;
}

Zone naturalZoneRoma40(double lonFromMonteMario) {
    return lonFromMonteMario > sexagesimalToDegrees(kRoma40ZoneBorderSexagesimal) ? Zone::EstOr33 : Zone::OvestOr32;
}

} // namespace dormal
