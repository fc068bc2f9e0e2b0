#pragma once
// EPSG codes of the program's reference systems, coordinate kinds and zones, both ways.
//
// The codes name the reference frame each system of the program is:
//   ROMA40    Monte Mario: geographic 4265, Gauss-Boaga Ovest 3003, Est 3004.
//   ED50      geographic 4230, UTM 32/33/34 23032/23033/23034.
//   ETRF89    IGM95, the Italian realisation of ETRS89 in frame ETRF89 (the network the
//             ETRF89 grid values refer to): geographic 4670, UTM 32/33/34 3064/3065/9716.
//             EPSG defines no "Fuso Italia" on IGM95: that zone has no code.
//   ETRF2000  RDN2008: geographic 6706, UTM 32/33/34 6707/6708/6709, Fuso Italia 6875.
//             These are the northing-first variants, the order in which the program writes
//             North and East; 7791..7794 are the same projections easting first.
//
// Geographic ROMA40 has two codes. EPSG 4806 ("Monte Mario (Rome)") counts longitudes from
// the Monte Mario meridian, as the window, the data files and the reports do: the window shows
// it, and --from/--to EPSG:4806 reads and writes longitudes from Monte Mario (GIS layers too:
// OGR gives a 4806 layer's longitudes from its Rome prime meridian). EPSG 4265 is the same
// frame with longitudes from Greenwich: the table's code, the one GIS layers of ROMA40
// geographic coordinates are written in, and --from/--to EPSG:4265 reads and writes
// longitudes from Greenwich in every file type.

#include <optional>
#include <string_view>

#include "geodesy/systems.h"

namespace dormal {

// ROMA40 geographic: longitudes from Greenwich, and from the Rome (Monte Mario) meridian.
inline constexpr int kEpsgRoma40Greenwich = 4265;
inline constexpr int kEpsgRoma40MonteMario = 4806;

// The EPSG code of a system, kind and zone; nothing for a zone the system does not have,
// for Zone::Auto with plane coordinates, and for ETRF89 "Fuso Italia" (no EPSG code).
// The zone is ignored for geographic coordinates. ROMA40 geographic is 4265, or 4806 when
// its longitudes are counted from Monte Mario (fromMonteMario).
std::optional<int> epsgCode(RefSystem system, CoordKind kind, Zone zone, bool fromMonteMario = false);

// What an EPSG code names: system, kind and zone (Zone::Auto for geographic codes).
struct EpsgCrs {
    RefSystem system = RefSystem::Etrf2000;
    CoordKind kind = CoordKind::Geographic;
    Zone zone = Zone::Auto;
    // ROMA40 geographic with the Rome prime meridian (4806): longitudes from Monte Mario.
    bool fromMonteMario = false;
    friend bool operator==(const EpsgCrs&, const EpsgCrs&) = default;
};

// The system, kind and zone of an EPSG code: every code epsgCode() gives, and the
// equivalents of the same frame and projection a user may hold: ETRS89 4258 and
// 25832..25834 for ETRF89, the easting-first RDN2008 codes 7791..7794 for ETRF2000, and
// 4806 for ROMA40 geographic from Monte Mario. Nothing for any other code.
std::optional<EpsgCrs> crsFromEpsg(int code);

// "EPSG:3003" (any case, blanks not allowed) to 3003; nothing when the word is not of that form.
std::optional<int> parseEpsgWord(std::string_view word);

} // namespace dormal
