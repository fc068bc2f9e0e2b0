#pragma once
// The batch run over a delimited text file or a GIS layer, read and written through GDAL/OGR.
//
// Every feature of every chosen layer (BatchRequest::gisLayers, default all) is read, each of
// its vertices converted with the chain (convertPoint, RunKind::Batch, the same working-set
// rule as the other data files), and the layer written again under its name with every
// attribute kept, the converted geometry (with Z when heights are converted), the target's
// spatial reference and two added fields: the zone (the report's zone column) and the status
// of the feature ("convertito", "fuori griglia", "scartato", "senza geometria"). A feature
// that was not converted has no geometry in the result (a drawing leaves it out, counted); a
// row or feature that cannot be read is reported (row of a text file, feature number of a
// layer). Values the result's format cannot hold are written another way and counted by
// field (BatchOutcome::changedValueCount). Geographic values are decimal degrees from
// Greenwich.
//
// The run ends without a result when GDAL reads the input only in part (its errors and
// warnings while reading, counts the file announces and does not hold), when a layer's spatial
// reference is not the one the run reads, and when the result would replace one of the
// input's own files.

#include <optional>
#include <string>
#include <string_view>

#include "conversion/batch_run.h"

namespace dormal {

// Whether a path names a file the GIS run reads by its extension (any case): .csv, .gpkg,
// .shp, .geojson, .dxf.
bool isGisPath(std::string_view path);
// The extension of a path in lower case, with its dot (".gpkg"); empty without one.
std::string gisExtension(std::string_view path);
// The OGR driver that reads and writes files of an extension ("GPKG"), or null.
const char* gisDriverName(const std::string& extension);

// The EPSG code of the spatial reference of the first layer of a GIS file, when it is one of
// the program's systems (what --from may be left to); nothing, with `why` in words, otherwise.
std::optional<int> gisLayerEpsg(const std::string& path, std::string& why);

// The run of a DataFileType::Gis request (runBatch takes the other types): file checks, reading, converting, writing the
// result beside its final place and renaming it there at the end. The outcome counts as the
// other data files' (points are features).
BatchOutcome runGisBatch(const BatchRequest& req, const BatchCallbacks& cb = {});

} // namespace dormal
