#pragma once
// In-memory grid portions for the conversion tests: constant grids, so every shift the
// chain applies is known exactly; and a temporary folder of the test's own.

#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

#include <stdlib.h>

#include "conversion/point_conversion.h"
#include "geodesy/angles.h"
#include "geodesy/zones.h"
#include "grid/grid_portion.h"
#include "grid/zone_limits.h"

namespace dormal::testing {

// A folder made for one test under the process's temporary folder, removed with everything
// in it when the test ends.
class Scratch {
public:
    Scratch() {
        std::string t = (std::filesystem::temp_directory_path() / "dormal2k-run-XXXXXX").string();
        if (::mkdtemp(t.data()) == nullptr) {
            throw std::runtime_error("mkdtemp");
        }
        dir_ = t;
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    std::string file(const std::string& name) const { return (dir_ / name).string(); }
    const std::filesystem::path& dir() const { return dir_; }

private:
    std::filesystem::path dir_;
};

// Constant node values: shifts in seconds of arc, height shift and undulation in metres.
struct ConstantGrids {
    double roEdLat = 0, roEdLon = 0;
    double roE89Lat = 0, roE89Lon = 0;
    double etLat = 0, etLon = 0, etH = 0;
    double geoidN = 0;
};

// A portion whose ROMA40 and ETRF2000 grids start at (lat0, lon0) (decimal degrees,
// Greenwich) and whose geoid grid starts 30" north and 2' east of it, inside the shift grids.
inline GridPortion constantPortion(double lat0, double lon0, const ConstantGrids& v = {},
                                   PortionKind kind = PortionKind::Vertex, std::int16_t globalGeoid = 0) {
    GridPortion g;
    const bool vertex = kind == PortionKind::Vertex;
    g.kind = kind;
    g.planNodeCount = vertex ? 16 : 36;
    g.geoidNodeCount = vertex ? 80 : 140;
    g.planNodesPerRow = vertex ? 4 : 6;
    g.geoidNodesPerRow = vertex ? 10 : 14;
    for (int k = 1; k <= g.planNodeCount; ++k) {
        const auto i = static_cast<std::size_t>(k);
        g.roEdDLat[i] = v.roEdLat;
        g.roEdDLon[i] = v.roEdLon;
        g.roE89DLat[i] = v.roE89Lat;
        g.roE89DLon[i] = v.roE89Lon;
        g.e89E2000DLat[i] = v.etLat;
        g.e89E2000DLon[i] = v.etLon;
        g.e89E2000DH[i] = v.etH;
    }
    for (int k = 1; k <= g.geoidNodeCount; ++k) {
        g.geoidN[static_cast<std::size_t>(k)] = v.geoidN;
    }
    g.planOriginLat = g.e2000OriginLat = lat0;
    g.planOriginLon = g.e2000OriginLon = lon0;
    g.geoidOriginLat = lat0 + sexagesimalToDegrees(0.0030);
    g.geoidOriginLon = lon0 + sexagesimalToDegrees(0.02);
    g.geoidTopLat = g.geoidOriginLat + sexagesimalToDegrees(vertex ? 0.14 : 0.18);
    g.globalGeoid = globalGeoid;
    g.roEdEpoch = "RE1";
    g.roE89Epoch = "RE2";
    g.e89E2000Epoch = "EE3";
    g.geoidEpoch = "GE4";
    g.portionName = "123";
    return g;
}

// A portion with the point (decimal degrees, Greenwich) well inside every grid.
inline GridPortion portionAround(double lat, double lon, const ConstantGrids& v = {},
                                 PortionKind kind = PortionKind::Vertex, std::int16_t globalGeoid = 0) {
    return constantPortion(lat - 0.1, lon - 0.15, v, kind, globalGeoid);
}

// A loaded portion with its limits, as the window holds them.
struct LoadedGrid {
    GridPortion portion;
    ZoneLimits limits;
    LoadedGrid(GridPortion p, RefSystem inputSystem)
        : portion(std::move(p)), limits(computeZoneLimits(portion, inputSystem)) {}
    LoadedGrid(const LoadedGrid&) = delete;
    LoadedGrid& operator=(const LoadedGrid&) = delete;
};

inline SelectionState selection(RefSystem inSys, CoordKind inKind, Zone inZone, RefSystem outSys, CoordKind outKind,
                                Zone outZone) {
    SelectionState s;
    s.inputSystem = inSys;
    s.inputKind = inKind;
    s.inputZone = inZone;
    s.outputSystem = outSys;
    s.outputKind = outKind;
    s.outputZone = outZone;
    return s;
}

// Decimal degrees east of Greenwich of a typed longitude (sexagesimal; ROMA40 from Monte Mario).
inline double greenwichOf(RefSystem system, double typedLon) {
    return sexagesimalToDegrees(typedLon) + (system == RefSystem::Roma40 ? romeMeridian() : 0.0);
}

} // namespace dormal::testing
