#pragma once
// Reference systems, coordinate kinds and zones, and the choice of input and output side.

#include <array>
#include <cstdint>

namespace dormal {

// Reference system. ROMA40 and ED50 lie on the International 1924 ellipsoid, ETRF89 and
// ETRF2000 on GRS80 (ellipsoidOf in ellipsoid.h).
enum class RefSystem : std::int8_t { Roma40, Ed50, Etrf89, Etrf2000 };
inline constexpr std::array<RefSystem, 4> kAllSystems{RefSystem::Roma40, RefSystem::Ed50, RefSystem::Etrf89,
                                                      RefSystem::Etrf2000};

// Coordinate kind: latitude and longitude, or North and East on a zone's plane.
enum class CoordKind : std::int8_t { Geographic, Plane };

// Zone of a plane. The first two name Gauss-Boaga Ovest and Est for ROMA40, UTM 32 and 33
// for the other systems; Utm34 exists for every system but ROMA40, Italia ("Fuso Italia")
// for ETRF89 and ETRF2000 only (zoneInfo in zones.h says which exist). Auto is a choice,
// not a zone: the zone is taken from the point.
enum class Zone : std::int8_t { Auto, OvestOr32, EstOr33, Utm34, Italia };

// The choice of input and output side, as the window's rules keep it.
struct SelectionState {
    RefSystem inputSystem = RefSystem::Etrf89;
    CoordKind inputKind = CoordKind::Geographic;
    Zone inputZone = Zone::OvestOr32;
    RefSystem outputSystem = RefSystem::Roma40;
    CoordKind outputKind = CoordKind::Geographic;
    Zone outputZone = Zone::Auto;

    friend bool operator==(const SelectionState&, const SelectionState&) = default;
};

} // namespace dormal
