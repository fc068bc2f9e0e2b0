#include "geodesy/zones.h"

#include "geodesy/angles.h"
#include "geodesy/ellipsoid.h"

namespace dormal {

namespace {

// Gauss-Boaga central meridians as ROMA40 holds them, counted from Monte Mario
// (sexagesimal): Ovest -3 deg 27' 08.4" (9 deg E of Greenwich), Est +2 deg 32' 51.6" (15 deg E).
constexpr double kOvestFromMonteMarioSexagesimal = -3.27084;
constexpr double kEstFromMonteMarioSexagesimal = 2.32516;
// A ROMA40 longitude east of this (from Monte Mario, sexagesimal -0 deg 27' 08.4", that is
// 12 deg E of Greenwich) lies in Est.
constexpr double kRoma40ZoneBorderSexagesimal = -0.27084;

ZoneInfo roma40Zone(ZoneCode zone) {
    ZoneInfo z;
    switch (zone) {
    case kZoneOvest32:
        z.centralMeridian = 9.0;
        z.centralMeridianMM = sexagesimalToDegrees(kOvestFromMonteMarioSexagesimal);
        z.falseEasting = 1500000.0;
        z.text = "Ovest";
        break;
    case kZoneEst33:
        z.centralMeridian = 15.0;
        z.centralMeridianMM = sexagesimalToDegrees(kEstFromMonteMarioSexagesimal);
        z.falseEasting = 2520000.0;
        z.text = "Est";
        break;
    default:
        return z;
    }
    z.valid = true;
    z.scale = scaleFactorFor(zone);
    return z;
}

ZoneInfo utmOrItaliaZone(std::int16_t system, ZoneCode zone) {
    ZoneInfo z;
    switch (zone) {
    case kZoneOvest32:
        z.centralMeridian = 9.0;
        z.falseEasting = 500000.0;
        z.text = "32";
        break;
    case kZoneEst33:
        z.centralMeridian = 15.0;
        z.falseEasting = 500000.0;
        z.text = "33";
        break;
    case kZone34:
        z.centralMeridian = 21.0;
        z.falseEasting = 500000.0;
        z.text = "34";
        break;
    case kZoneItalia:
        // "Fuso Italia" is defined for ETRF89 and ETRF2000 only.
        if (system != kEtrf89 && system != kEtrf2000) {
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
    z.scale = scaleFactorFor(zone);
    return z;
}

} // namespace

double romeMeridian() {
    return sexagesimalToDegrees(kMonteMarioSexagesimal);
}

ZoneInfo zoneInfo(std::int16_t system, ZoneCode zone) {
    switch (system) {
    case kRoma40:
        return roma40Zone(zone);
    case kEd50:
    case kEtrf89:
    case kEtrf2000:
        return utmOrItaliaZone(system, zone);
    default:
        return {};
    }
}

ZoneCode naturalZoneGreenwich(double lonGreenwich) {
    if (lonGreenwich > 18) {
        return kZone34;
    }
    if (lonGreenwich > 12) {
        return kZoneEst33;
    }
    return kZoneOvest32;
}

ZoneCode naturalZoneRoma40(double lonFromMonteMario) {
    return lonFromMonteMario > sexagesimalToDegrees(kRoma40ZoneBorderSexagesimal) ? kZoneEst33 : kZoneOvest32;
}

} // namespace dormal
