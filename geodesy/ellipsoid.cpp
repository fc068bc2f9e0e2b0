#include "geodesy/ellipsoid.h"

namespace dormal {

Ellipsoid ellipsoidFor(EllipsoidCode code) {
    switch (code) {
    case 0: // ROMA40
    case 1: // ED50
        // International 1924 (Hayford).
        return {6378388.0, 1.0 / 297.0};
    case 2: // ETRF89
    case 3: // ETRF2000
        // GRS80.
        return {6378137.0, 1.0 / 298.257222101};
    default:
        // No ellipsoid: the projection's first division then fails, as callers expect
        // never to pass such a code.
        return {0.0, 0.0};
    }
}

double scaleFactorFor(ProjectionCode code) {
    return code == kZoneItalia ? 0.9985 : 0.9996;
}

} // namespace dormal
