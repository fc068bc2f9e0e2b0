#pragma once
// One grid portion in memory: the ROMA40->ED50, ROMA40->ETRF89 and ETRF89->ETRF2000 shift
// grids and the geoid grid of a small area, with their origins and epoch texts.

#include <array>
#include <cstdint>
#include <optional>
#include <string>


namespace dormal {

enum class PortionKind : std::int16_t { None = 0, Vertex = 1, Sheet = 2 };

// Node spacings fixed by the system (decimal degrees, with exactly these digits).
inline constexpr double planStepLat = 0.0833333333333;  // 5'
inline constexpr double planStepLon = 0.125;            // 7'30"
inline constexpr double geoidStepLat = 0.033333333333;  // 2'
inline constexpr double geoidStepLon = 0.033333333333;  // 2'

inline constexpr int kPlanArraySize = 37;  // indices 0..36, node k at index k, 0 unused
inline constexpr int kGeoidArraySize = 141; // indices 0..140

// The bilinear form of one grid cell, value = east * dx + sw + north * dy + dy * (dx * twist)
// with dx, dy the point's offsets from the cell's south-west node: the cell's corner values
// taken once, so a point costs no division.
struct CellCoefficients {
    double sw = 0;    // value at the south-west node
    double east = 0;  // (SE - SW) / longitude step
    double north = 0; // (NW - SW) / latitude step
    double twist = 0; // (NE - SE - NW + SW) / (longitude step * latitude step)
};

// Every cell's coefficients for the grids of one portion, indexed by the cell's south-west
// node number (the shift grids' in decimal degrees). Made from the node values by
// prepareInterpolation(): whoever changes the node values of a prepared portion prepares it
// again (or sets `ready` false), else the interpolation reads the old values.
struct InterpolationTables {
    bool ready = false;
    std::array<CellCoefficients, kPlanArraySize> roEdLat{}, roEdLon{}, roE89Lat{}, roE89Lon{};
    std::array<CellCoefficients, kPlanArraySize> etLat{}, etLon{}, etH{};
    std::array<CellCoefficients, kGeoidArraySize> geoid{};
};

struct GridPortion {
    PortionKind kind = PortionKind::None;
    std::int16_t planNodeCount = 0;    // 16 (vertex) or 36 (sheet)
    std::int16_t geoidNodeCount = 0;   // 80 (vertex) or 140 (sheet)
    std::int16_t planNodesPerRow = 0;  // 4 or 6
    std::int16_t geoidNodesPerRow = 0; // 10 or 14

    // Shift grids: node k = r*planNodesPerRow + c + 1, rows counted northward from the
    // origin row, columns eastward. Latitude/longitude shifts in seconds of arc.
    std::array<double, kPlanArraySize> roEdDLat{}, roEdDLon{};
    std::array<double, kPlanArraySize> roE89DLat{}, roE89DLon{};
    double planOriginLat = 0, planOriginLon = 0; // south-west node, decimal degrees

    std::array<double, kPlanArraySize> e89E2000DLat{}, e89E2000DLon{};
    std::array<double, kPlanArraySize> e89E2000DH{}; // metres
    double e2000OriginLat = 0, e2000OriginLon = 0;    // south-west node, decimal degrees

    // Geoid grid: node k = r*geoidNodesPerRow + c + 1, rows counted SOUTHWARD from
    // geoidTopLat, columns eastward from geoidOriginLon. Undulations in metres.
    std::array<double, kGeoidArraySize> geoidN{};
    double geoidOriginLat = 0, geoidOriginLon = 0; // south edge, west edge, decimal degrees
    double geoidTopLat = 0;                        // northern node row, decimal degrees

    std::int16_t globalGeoid = 0; // 1: geoid values refer to the global model

    // The cells' bilinear coefficients, made when the portion is read; a portion built
    // value by value is interpolated from its nodes until prepared.
    InterpolationTables tables;

    std::string roEdEpoch, roE89Epoch, e89E2000Epoch, geoidEpoch;
    std::string portionName; // file name up to its first full stop
    std::string sourcePath;  // the file it was read from (folder and name joined); empty when
                             // read from memory. A batch run refuses to write its result there.
};

// Why a portion could not be read.
enum class GridLoadFailure : std::int16_t {
    Damaged,        // the items are not those of a grid portion (or the file is far too large)
    SystemError,    // the file could not be opened or read: `errorNumber` says why
    NotARegularFile // the path names a folder, a FIFO, a socket or a device: `fileType`
};
enum class FileType : std::int16_t { Regular, Folder, Fifo, Socket, Device, Other };

struct GridLoadError {
    GridLoadFailure failure = GridLoadFailure::Damaged;
    int errorNumber = 0;                // SystemError: the errno value
    FileType fileType = FileType::Regular; // NotARegularFile: what the path names
    std::string path; // the file (folder and name joined); empty for a read from memory

    friend bool operator==(const GridLoadError&, const GridLoadError&) = default;
};

// Outcome of a read: a portion, or on failure the error (the caller words the message).
struct GridLoadResult {
    std::optional<GridPortion> portion;
    std::optional<GridLoadError> error;
    bool ok() const { return portion.has_value(); }
};

// Joins folder and file name with "/" unless the folder already ends in one.
std::string gridPortionPath(const std::string& folder, const std::string& fileName);

// Reads a grid portion file (item by item, "." decimals whatever the locale). Never
// blocks on a FIFO: anything but a regular file is refused.
GridLoadResult loadGridPortion(const std::string& folder, const std::string& fileName);
// The same reading over text already in memory (used by the fuzzer and tests).
GridLoadResult parseGridPortion(std::string_view text, const std::string& fileName);

} // namespace dormal
