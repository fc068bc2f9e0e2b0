#include "geodesy/ellipsoid.h"

namespace dormal {

Ellipsoid ellipsoidOf(RefSystem system) {
    switch (system) {
    case RefSystem::Roma40:
    case RefSystem::Ed50:
        return kInternational1924;
    case RefSystem::Etrf89:
    case RefSystem::Etrf2000:
        break;
    }
    return kGrs80;
}

} // namespace dormal
