#pragma once
// Export of a working set of grid portions for PROJ and QGIS: the three planimetric shift
// grids as NTv2 files, the geoid and the ETRF89->ETRF2000 height shift as GeoTIFF
// vertical-offset grids, and the PROJ pipelines that chain them as this program does.
//
// How the set's rule ("the first portion, in set order, that holds the point") carries over:
// - each NTv2 file holds one sub-grid per portion, all at the top level (PARENT "NONE"), in
//   set order; PROJ takes the first top-level sub-grid whose extent holds the point, so
//   where portions overlap the earlier portion's grid is used; beyond kMaxSubGridsPerFile
//   portions the sub-grids go on in further files, listed in order in "+grids=", where PROJ
//   tries the files in turn;
// - each vertical grid is one GeoTIFF per portion, listed in set order in the step's
//   "+grids=" list; PROJ takes the first grid of the list that holds the point.
// PROJ chooses the sub-grid at every step by the point's position at that step, while this
// program chooses one portion per point from its approximate ROMA40 and ETRF89 positions.
// With one portion, or where overlapping portions agree, the results are the same; inside
// an overlap a step may take its values from another portion than the program would, by at
// most the disagreement that `dormal2k-batch --check-set` reports.

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "geodesy/systems.h"
#include "grid/portion_set.h"

namespace dormal {

// Names of the files an export writes into its folder.
inline constexpr const char* kRoma40Ed50GridFile = "dormal2k_roma40_ed50.gsb";
inline constexpr const char* kRoma40Etrf89GridFile = "dormal2k_roma40_etrf89.gsb";
inline constexpr const char* kEtrf89Etrf2000GridFile = "dormal2k_etrf89_etrf2000.gsb";
inline constexpr const char* kPipelinesFile = "pipelines.txt";
// The same pipelines in the order QGIS and GDAL pass coordinates: x, y (East North,
// longitude latitude).
inline constexpr const char* kQgisPipelinesFile = "pipelines_qgis.txt";

// The record of an export, one file name a line after "#" comment lines: the files the export
// wrote. A later export into the same folder removes the files it lists and does not write
// again; files it does not list are never touched.
inline constexpr const char* kManifestFile = "dormal2k_esportazione.txt";

// Sub-grids one NTv2 file holds at most: GDAL refuses to read (and so to append to) a file
// of 1,024 or more. A larger set is split over several files, in set order, all listed in
// the pipelines' "+grids=".
inline constexpr std::size_t kMaxSubGridsPerFile = 1023;

// The NTv2 files of one shift grid for `portions` portions: `firstFile` ("NAME.gsb"), then
// "NAME_2.gsb", "NAME_3.gsb", ... one per kMaxSubGridsPerFile portions.
std::vector<std::string> shiftGridFiles(const char* firstFile, std::size_t portions);

// The vertical grids of a set, one file per portion in set order.
struct VerticalGridNames {
    std::vector<std::string> geoid;       // geoid undulation, metres, ETRF89 positions
    std::vector<std::string> heightShift; // ETRF89->ETRF2000 ellipsoidal height shift, metres
};
// File names of the vertical grids of portion i (0-based) named `portionName`:
// "dormal2k_geoide_001_NAME.tif" and "dormal2k_etrf89_etrf2000_h_001_NAME.tif" (characters
// other than letters, digits, '-' and '_' in the name become '_').
VerticalGridNames verticalGridNames(const PortionSet& set);

struct GridExportResult {
    std::vector<std::string> files;   // names written into the folder, in the order written
    std::optional<std::string> error; // why the export stopped (Italian), when it did
    bool ok() const { return !error.has_value(); }
};

// One end of a pipeline: a system, a coordinate kind and, for the plane kind, a zone that
// the system has (zoneInfo(system, zone).valid; Zone::Auto is not accepted).
struct PipelineEnd {
    RefSystem system = RefSystem::Etrf89;
    CoordKind kind = CoordKind::Geographic;
    Zone zone = Zone::Auto; // plane kind only
    friend bool operator==(const PipelineEnd&, const PipelineEnd&) = default;
};

struct PipelineOptions {
    // ROMA40 geographic longitudes counted from Monte Mario, as this program reads and writes
    // them; otherwise from Greenwich, as PROJ's ROMA40 (EPSG:4265) counts them.
    bool roma40FromMonteMario = false;
    // Coordinates in the order QGIS and GDAL pass them, x before y: "longitude latitude
    // height" and "East North height"; otherwise "latitude longitude height" and "North East
    // height", the columns of this program's data and result files, as cct reads them.
    bool xyOrder = false;
};

// The label of an end in pipelines.txt: "ROMA40:geo", "ROMA40:ovest", "ED50:33",
// "ETRF2000:italia".
std::string pipelineEndLabel(const PipelineEnd& end);

// The PROJ pipeline from one end to the other (different systems). Coordinates in and out:
// geographic "latitude longitude height" (decimal degrees, metres), plane "North East
// height" (metres, with false easting), or x before y with options.xyOrder; heights
// orthometric for ROMA40 and ED50 and ellipsoidal for ETRF89 and ETRF2000, converted exactly
// where this program converts them (between ROMA40 and ED50 the height passes unchanged).
// Grids are named by file name only: PROJ finds them through PROJ_DATA (or the proj.ini
// search path).
std::string pipelineFor(const PipelineEnd& from, const PipelineEnd& to, const VerticalGridNames& vertical,
                        const PipelineOptions& options = {});

// Every end to offer: the four systems geographic, and with `plane` every zone of each
// system, limited to `zones` when that list is not empty.
std::vector<PipelineEnd> pipelineEnds(bool plane, const std::vector<Zone>& zones);

// The text of pipelines.txt: comment lines ("#"), then one line per ordered pair of ends of
// different systems, "FROM>TO PIPELINE" (for example "ROMA40:geo>ETRF89:geo +proj=pipeline ...").
// The comment lines say the axis order; with options.xyOrder (the text of pipelines_qgis.txt)
// they also give the EPSG code of each end, and ends without one are left out.
std::string pipelinesText(const std::vector<PipelineEnd>& ends, const VerticalGridNames& vertical,
                          const PipelineOptions& options = {});

// A whole export into `folder` (which must exist): the grids, pipelines.txt with `cctOptions`
// and pipelines_qgis.txt (x,y order, ROMA40 from Greenwich) for `ends`, and the manifest.
// Everything is written and synced in a scratch folder inside `folder` first and moved into
// place only when complete, the manifest last; then the files the previous manifest lists
// and this export does not write are removed. On any failure the folder keeps the previous
// export as it was. SIGINT, SIGTERM and SIGHUP (when not ignored) stop the export the same
// way, then take their default course. Scratch folders of earlier runs that died are
// removed. `files` lists what was moved into place, the manifest last.
// Grid files: NTv2 in seconds of arc, longitudes and longitude shifts positive WEST as the
// format wants, one top-level sub-grid per portion; GeoTIFF Float32, geographic ETRS89
// (EPSG:4258), pixel-is-area with each node at the centre of its pixel, values in metres.
GridExportResult writeExport(const PortionSet& set, const std::string& folder, const std::vector<PipelineEnd>& ends,
                             const PipelineOptions& cctOptions);

} // namespace dormal
