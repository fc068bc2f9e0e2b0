#pragma once
// Names of reference systems, coordinate kinds and zones in test failure messages.

#include <ostream>

#include "geodesy/systems.h"

namespace dormal {

inline std::ostream& operator<<(std::ostream& os, RefSystem s) {
    switch (s) {
    case RefSystem::Roma40:
        return os << "Roma40";
    case RefSystem::Ed50:
        return os << "Ed50";
    case RefSystem::Etrf89:
        return os << "Etrf89";
    case RefSystem::Etrf2000:
        return os << "Etrf2000";
    }
    return os << "RefSystem?";
}

inline std::ostream& operator<<(std::ostream& os, CoordKind k) {
    return os << (k == CoordKind::Plane ? "Plane" : "Geographic");
}

inline std::ostream& operator<<(std::ostream& os, Zone z) {
    switch (z) {
    case Zone::Auto:
        return os << "Auto";
    case Zone::OvestOr32:
        return os << "OvestOr32";
    case Zone::EstOr33:
        return os << "EstOr33";
    case Zone::Utm34:
        return os << "Utm34";
    case Zone::Italia:
        return os << "Italia";
    }
    return os << "Zone?";
}

// A zone by its place in the fullest zone list (Combo10): 0 automatic, 1 Ovest or 32,
// 2 Est or 33, 3 UTM 34, 4 Fuso Italia.
inline int zoneNumber(Zone z) {
    switch (z) {
    case Zone::Auto:
        return 0;
    case Zone::OvestOr32:
        return 1;
    case Zone::EstOr33:
        return 2;
    case Zone::Utm34:
        return 3;
    case Zone::Italia:
        break;
    }
    return 4;
}

// The UTM number of a zone (32, 33, 34), 0 for the others: how the working zone shows it.
inline int utmZoneNumber(Zone z) {
    switch (z) {
    case Zone::OvestOr32:
        return 32;
    case Zone::EstOr33:
        return 33;
    case Zone::Utm34:
        return 34;
    case Zone::Auto:
    case Zone::Italia:
        break;
    }
    return 0;
}

} // namespace dormal
