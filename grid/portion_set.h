#pragma once
// A working set of grid portions used together (the files of a folder, or several files
// named one by one), with an index by coverage so that finding the portion of a point
// costs the same whatever the number of portions.
//
// The rule: a point is converted with the FIRST portion of the set, in the set's order,
// whose coverage test accepts it; a point that no portion accepts is outside the grid.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "grid/grid_portion.h"
#include "grid/zone_limits.h"

namespace dormal {

// Where the coverage test looks at a point: its approximate ROMA40 position (tested against
// the ROMA40 grids' edges) and its approximate ETRF89 position (tested against the geoid
// grid's edges). Decimal degrees, Greenwich.
struct CoverageProbe {
    double roLat = 0, roLon = 0;
    double e89Lat = 0, e89Lon = 0;
};

// The probe of a point given in inputSystem (ROMA40 longitudes from Greenwich): the point
// itself for its own datum, and the other position moved by the typical shift between ROMA40
// and ETRF89 (2.35" in latitude, 0.65" in longitude; ED50 input also 5" and 2.5" back to ROMA40).
CoverageProbe coverageProbe(RefSystem inputSystem, double latDeg, double lonDeg);

// The coverage test of one portion: both positions within their edges, every bound inclusive.
bool coverageAccepts(const ZoneLimits& z, const CoverageProbe& p);

// Outer limits of a set: the smallest box holding every portion's convertible area
// (ZoneLimits::south..north, west..east), decimal degrees.
struct SetBounds {
    double south = 0, west = 0, north = 0, east = 0;
};

class PortionSet {
public:
    // Appends a portion after those already held. The index is dropped until buildIndex.
    void add(GridPortion portion);

    std::size_t size() const { return portions_.size(); }
    bool empty() const { return portions_.empty(); }
    const GridPortion& portion(std::size_t i) const { return portions_[i]; }
    // Limits of portion i (edges only: the plane corners are not meaningful here).
    const ZoneLimits& limits(std::size_t i) const { return limits_[i]; }
    SetBounds bounds() const;

    // Index of the first portion, in set order, whose coverage test accepts the probe, or
    // -1. With the index built it looks only at the portions listed in the probe's cell;
    // without it, at every portion in order.
    int find(const CoverageProbe& p) const;
    // The same answer by trying every portion in order (reference for the index).
    int findByScan(const CoverageProbe& p) const;

    // Builds the index over the portions held (loadPortionSet does it). find never changes
    // the set, so a built set can be shared between threads.
    void buildIndex();
    bool indexed() const { return indexed_; }

private:
    int cellRow(double lat) const;
    int cellCol(double lon) const;

    std::vector<GridPortion> portions_;
    std::vector<ZoneLimits> limits_;

    // Uniform cells over the ROMA40 edges of all portions: cell (r, c) lists, in set order,
    // the portions whose ROMA40 edges overlap it (compressed rows: ids_[start_[k]..start_[k+1])).
    bool indexed_ = false;
    double lat0_ = 0, lon0_ = 0, latTop_ = 0, lonEnd_ = 0; // outer ROMA40 edges
    double cellLat_ = 1, cellLon_ = 1;                     // decimal degrees
    int rows_ = 0, cols_ = 0;
    std::vector<std::uint32_t> start_;
    std::vector<std::uint32_t> ids_;
};

// Why a set could not be loaded.
enum class PortionSetFailure : std::int16_t {
    PortionUnreadable,  // a portion file could not be read: `portion` says which and why
    FolderUnreadable,   // a folder could not be listed: `errorNumber`
    NoPortionInFolder   // a folder holds no portion file
};
struct PortionSetError {
    PortionSetFailure failure = PortionSetFailure::PortionUnreadable;
    std::string folder;      // FolderUnreadable, NoPortionInFolder
    int errorNumber = 0;     // FolderUnreadable: the errno value
    GridLoadError portion;   // PortionUnreadable

    friend bool operator==(const PortionSetError&, const PortionSetError&) = default;
};

// Outcome of loading a set: on failure `error` says which file or folder and why.
struct PortionSetLoad {
    PortionSet set;
    std::optional<PortionSetError> error;
    bool ok() const { return !error.has_value(); }
};

// The portion files of a folder: every entry whose name ends in ".GK" and one more
// character, without regard to case, sorted by the bytes of the name. On failure
// (the folder cannot be read) `errorNumber` gets the errno value and the list is empty.
std::vector<std::string> portionFileNames(const std::string& folder, int& errorNumber);

// Loads `files` (paths, in the order given), then every portion of each of `folders`
// (each in portionFileNames order). Refuses a folder without portions, and stops at the
// first file that cannot be read: nothing is skipped. A file named again (the same file
// by device and inode: another spelling, a link, a file also in a folder given) is used
// once, where it first came.
PortionSetLoad loadPortionSet(const std::vector<std::string>& files, const std::vector<std::string>& folders);

// How much two overlapping portions disagree on their common area.
struct PortionDisagreement {
    std::size_t first = 0, second = 0; // indices in the set, first < second
    int samples = 0;                    // points compared (accepted by both)
    double maxHorizontalMm = 0;         // largest horizontal difference, millimetres
    double maxHeightMm = 0;             // largest height difference, millimetres
    double maxAngle1e4 = 0;             // largest latitude or longitude difference, 1e-4"
};

// How far two neighbours holding the same grids may disagree: the shift grids give seconds
// of arc to the fourth decimal, so two portions rounded from the same values differ by at
// most one unit of it, 0.0001" (about 3 mm); the geoid and the height shift give metres to
// the fourth decimal, and 1 mm leaves room for the two portions' nodes and their rounding.
constexpr double kSetToleranceAngle1e4 = 1.0;
constexpr double kSetToleranceHeightMm = 1.0;
// Whether a pair disagrees beyond those tolerances (a hair of slack for the arithmetic).
bool beyondSetTolerance(const PortionDisagreement& d);

// For every pair of portions whose convertible areas overlap, the largest differences of
// the ROMA40->ETRF2000 (with heights) and ROMA40->ED50 results over a grid of
// samplesPerSide x samplesPerSide points spread over the common area, edges included.
std::vector<PortionDisagreement> comparePortions(const PortionSet& set, int samplesPerSide = 21);

} // namespace dormal
