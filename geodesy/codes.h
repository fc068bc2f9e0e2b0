#pragma once
// Codes of reference systems, coordinate kinds and zones, and the selection the
// window holds. All codes are 16-bit integers; a list position maps onto a code.

#include <cstdint>

namespace dormal {

// Reference system; the code also selects the ellipsoid (0, 1 International 1924; 2, 3 GRS80).
enum RefSystemCode : std::int16_t { kRoma40 = 0, kEd50 = 1, kEtrf89 = 2, kEtrf2000 = 3 };

// Coordinate kind.
enum CoordKindCode : std::int16_t { kGeographic = 0, kPlane = 1 };

// Zone codes. 0 automatic; 1 Gauss-Boaga Ovest or UTM 32; 2 Gauss-Boaga Est or UTM 33;
// 3 UTM 34; 4 "Fuso Italia". Passed on to the projection as its ProjectionCode.
using ZoneCode = std::int16_t;
inline constexpr ZoneCode kZoneAuto = 0;
inline constexpr ZoneCode kZoneOvest32 = 1;
inline constexpr ZoneCode kZoneEst33 = 2;
inline constexpr ZoneCode kZone34 = 3;
inline constexpr ZoneCode kZoneItalia = 4;

using EllipsoidCode = std::int16_t;
using ProjectionCode = std::int16_t;

// The choice of input and output side, as the window's rules keep it.
struct SelectionState {
    std::int16_t inputSystem = kEtrf89;  // RefSystemCode
    std::int16_t inputKind = kGeographic; // CoordKindCode
    ZoneCode inputZone = 1;
    std::int16_t outputSystem = kRoma40;
    std::int16_t outputKind = kGeographic;
    ZoneCode outputZone = 0;

    friend bool operator==(const SelectionState&, const SelectionState&) = default;
};

} // namespace dormal
