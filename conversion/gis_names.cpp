// The names of the GIS run that the batch converter needs without GDAL: which extensions are
// GIS layers, and the OGR driver of each.

#include <filesystem>

#include "conversion/gis_run.h"
#include "grid/text_encoding.h"

namespace dormal {

std::string gisExtension(std::string_view path) {
    return asciiLowerCase(std::filesystem::path(std::string(path)).extension().string());
}

const char* gisDriverName(const std::string& ext) {
    if (ext == ".csv") {
        return "CSV";
    }
    if (ext == ".gpkg") {
        return "GPKG";
    }
    if (ext == ".shp") {
        return "ESRI Shapefile";
    }
    if (ext == ".geojson") {
        return "GeoJSON";
    }
    if (ext == ".dxf") {
        return "DXF";
    }
    return nullptr;
}

bool isGisPath(std::string_view path) {
    return gisDriverName(gisExtension(path)) != nullptr;
}

} // namespace dormal
