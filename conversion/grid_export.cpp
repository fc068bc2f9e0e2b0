#include "conversion/grid_export.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <gdal.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <set>
#include <stdexcept>

#include "conversion/epsg.h"
#include "conversion/selection_words.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/zones.h"

namespace dormal {

namespace {

namespace fs = std::filesystem;

// A failed GDAL call: what was being written and GDAL's own reason.
class ExportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& what) {
    std::string reason = CPLGetLastErrorMsg();
    throw ExportError(what + (reason.empty() ? std::string() : ": " + reason));
}

// Creation and metadata options as GDAL takes them (a NULL-terminated list of "KEY=VALUE").
class Options {
public:
    ~Options() { CSLDestroy(list_); }
    Options() = default;
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;
    void set(const char* key, const std::string& value) { list_ = CSLSetNameValue(list_, key, value.c_str()); }
    char** get() const { return list_; }

private:
    char** list_ = nullptr;
};

// Closes a dataset on every path out.
class Dataset {
public:
    explicit Dataset(GDALDatasetH h) : h_(h) {}
    ~Dataset() { close(); }
    Dataset(const Dataset&) = delete;
    Dataset& operator=(const Dataset&) = delete;
    GDALDatasetH get() const { return h_; }
    bool close() {
        if (h_ == nullptr) {
            return true;
        }
        CPLErrorReset();
        GDALClose(h_);
        h_ = nullptr;
        return CPLGetLastErrorType() < CE_Failure;
    }

private:
    GDALDatasetH h_;
};

GDALDriverH driver(const char* name) {
    GDALAllRegister();
    GDALDriverH d = GDALGetDriverByName(name);
    if (d == nullptr) {
        throw ExportError(std::string("GDAL senza il formato ") + name);
    }
    return d;
}

void writeBand(GDALDatasetH ds, int band, std::vector<float>& values, int cols, int rows, const std::string& what) {
    GDALRasterBandH b = GDALGetRasterBand(ds, band);
    if (b == nullptr ||
        GDALRasterIO(b, GF_Write, 0, 0, cols, rows, values.data(), cols, rows, GDT_Float32, 0, 0) != CE_None) {
        fail(what);
    }
}

// One planimetric shift grid of a portion: node values in seconds of arc, rows counted
// northward from the south-west node (lat0, lon0; decimal degrees, Greenwich).
struct ShiftGrid {
    const std::array<double, kPlanArraySize>* dLat;
    const std::array<double, kPlanArraySize>* dLon;
    double lat0, lon0;
};

struct Axes {
    double a, b; // semi-major and semi-minor axis, metres
};
// ROMA40 and ED50 lie on the International 1924 ellipsoid, ETRF89 and ETRF2000 on GRS80.
Axes ellipsoidOfWord(const std::string& system) {
    const Ellipsoid e = system == "ROMA40" || system == "ED50" ? kInternational1924 : kGrs80;
    return {e.a, e.a * (1 - e.f)};
}

// Text of a double that reads back as the same value, "." as decimal separator whatever
// the locale (PROJ reads numbers the C way).
std::string exact(double v) {
    char buf[40];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

// The 8-character NTv2 sub-grid names of the set's portions: the portion name when it fits
// and is not taken, otherwise "P" and the position in the set.
std::vector<std::string> subGridNames(const PortionSet& set) {
    std::vector<std::string> names;
    std::set<std::string> taken;
    for (std::size_t i = 0; i < set.size(); ++i) {
        std::string n = set.portion(i).portionName;
        if (n.empty() || n.size() > 8 || n == "NONE" || taken.count(n) != 0) {
            const std::string digits = std::to_string(i + 1);
            n.assign(1, 'P');
            n.append(digits.size() < 7 ? 7 - digits.size() : 0, '0');
            n.append(digits);
        }
        taken.insert(n);
        names.push_back(n);
    }
    return names;
}

// NTv2 file of one shift grid, one top-level sub-grid per portion in set order (PROJ picks
// the first top-level sub-grid that holds a point). GDAL shows an NTv2 sub-grid north-up,
// west to east, with each node at the centre of a pixel, and writes the header fields in
// seconds with longitudes positive west; the longitude-shift band holds the format's own
// values, positive WEST, so an eastward shift is written negated.
void writeNtv2(const PortionSet& set, const std::string& path, const char* systemFrom, const char* systemTo,
               ShiftGrid (*gridOf)(const GridPortion&)) {
    GDALDriverH drv = driver("NTv2");
    std::error_code ec;
    fs::remove(path, ec); // sub-grids are appended: start from an empty file
    const std::vector<std::string> names = subGridNames(set);
    for (std::size_t i = 0; i < set.size(); ++i) {
        const GridPortion& p = set.portion(i);
        const ShiftGrid g = gridOf(p);
        const int cols = p.planNodesPerRow;
        const int rows = cols > 0 ? p.planNodeCount / cols : 0;
        if (cols < 2 || rows < 2) {
            throw ExportError("porzione senza nodi: " + p.portionName);
        }
        Options opt;
        if (i > 0) {
            opt.set("APPEND_SUBDATASET", "YES");
        }
        opt.set("VERSION", "NTv2.0");
        opt.set("SYSTEM_F", systemFrom);
        opt.set("SYSTEM_T", systemTo);
        opt.set("SUB_NAME", names[i]);
        opt.set("PARENT", "NONE");
        opt.set("GS_TYPE", "SECONDS");
        CPLErrorReset();
        Dataset ds(GDALCreate(drv, path.c_str(), cols, rows, 4, GDT_Float32, opt.get()));
        if (ds.get() == nullptr) {
            fail("scrittura di " + path);
        }
        // Semi-axes of the ellipsoids the two systems lie on (metres): file header fields,
        // which the driver takes as metadata rather than as creation options.
        const Axes f = ellipsoidOfWord(systemFrom), t = ellipsoidOfWord(systemTo);
        GDALSetMetadataItem(ds.get(), "MAJOR_F", exact(f.a).c_str(), nullptr);
        GDALSetMetadataItem(ds.get(), "MINOR_F", exact(f.b).c_str(), nullptr);
        GDALSetMetadataItem(ds.get(), "MAJOR_T", exact(t.a).c_str(), nullptr);
        GDALSetMetadataItem(ds.get(), "MINOR_T", exact(t.b).c_str(), nullptr);
        // Node (r, c) lies at lat0 + r * planStepLat, lon0 + c * planStepLon.
        const double top = g.lat0 + (rows - 1) * planStepLat;
        double gt[6] = {g.lon0 - planStepLon / 2, planStepLon, 0, top + planStepLat / 2, 0, -planStepLat};
        if (GDALSetGeoTransform(ds.get(), gt) != CE_None) {
            fail("scrittura di " + path);
        }
        std::vector<float> lat(static_cast<std::size_t>(rows * cols)), lon(lat.size()), zero(lat.size(), 0.0f);
        for (int r = 0; r < rows; ++r) {     // r counted from the south
            for (int c = 0; c < cols; ++c) { // c counted from the west
                const std::size_t node = static_cast<std::size_t>(r * cols + c + 1);
                const std::size_t pixel = static_cast<std::size_t>((rows - 1 - r) * cols + c);
                lat[pixel] = static_cast<float>((*g.dLat)[node]);
                lon[pixel] = static_cast<float>(-(*g.dLon)[node]); // positive west
            }
        }
        writeBand(ds.get(), 1, lat, cols, rows, "scrittura di " + path);
        writeBand(ds.get(), 2, lon, cols, rows, "scrittura di " + path);
        writeBand(ds.get(), 3, zero, cols, rows, "scrittura di " + path);
        writeBand(ds.get(), 4, zero, cols, rows, "scrittura di " + path);
        if (!ds.close()) {
            fail("scrittura di " + path);
        }
    }
}

// A vertical-offset grid as PROJ's vgridshift reads it: Float32 GeoTIFF, geographic ETRS89,
// north-up, each node at the centre of its pixel (pixel-is-area), metres.
void writeVerticalTiff(const std::string& path, const std::vector<float>& northUp, int cols, int rows, double westLon,
                       double topLat, double stepLat, double stepLon, const std::string& description) {
    GDALDriverH drv = driver("GTiff");
    Options opt;
    opt.set("COMPRESS", "DEFLATE");
    CPLErrorReset();
    Dataset ds(GDALCreate(drv, path.c_str(), cols, rows, 1, GDT_Float32, opt.get()));
    if (ds.get() == nullptr) {
        fail("scrittura di " + path);
    }
    double gt[6] = {westLon - stepLon / 2, stepLon, 0, topLat + stepLat / 2, 0, -stepLat};
    if (GDALSetGeoTransform(ds.get(), gt) != CE_None ||
        GDALSetProjection(ds.get(), "GEOGCS[\"ETRS89\",DATUM[\"European_Terrestrial_Reference_System_1989\","
                                    "SPHEROID[\"GRS 1980\",6378137,298.257222101]],PRIMEM[\"Greenwich\",0],"
                                    "UNIT[\"degree\",0.0174532925199433],AUTHORITY[\"EPSG\",\"4258\"]]") != CE_None) {
        fail("scrittura di " + path);
    }
    GDALSetMetadataItem(ds.get(), "AREA_OR_POINT", "Area", nullptr);
    GDALSetMetadataItem(ds.get(), "TIFFTAG_IMAGEDESCRIPTION", description.c_str(), nullptr);
    GDALRasterBandH b = GDALGetRasterBand(ds.get(), 1);
    GDALSetRasterUnitType(b, "metre");
    std::vector<float> values = northUp;
    writeBand(ds.get(), 1, values, cols, rows, "scrittura di " + path);
    if (!ds.close()) {
        fail("scrittura di " + path);
    }
}

void writeGeoid(const GridPortion& p, const std::string& path) {
    const int cols = p.geoidNodesPerRow;
    const int rows = cols > 0 ? p.geoidNodeCount / cols : 0;
    if (cols < 2 || rows < 2) {
        throw ExportError("porzione senza nodi: " + p.portionName);
    }
    // The file lists the geoid nodes north-up already: node k = r * cols + c + 1, r counted
    // southward from geoidTopLat.
    std::vector<float> v(static_cast<std::size_t>(rows * cols));
    for (std::size_t k = 0; k < v.size(); ++k) {
        v[k] = static_cast<float>(p.geoidN[k + 1]);
    }
    writeVerticalTiff(path, v, cols, rows, p.geoidOriginLon, p.geoidTopLat, geoidStepLat, geoidStepLon,
                      "Dormal2k: ondulazione del geoide (m), porzione " + p.portionName + ", " + p.geoidEpoch);
}

void writeHeightShift(const GridPortion& p, const std::string& path) {
    const int cols = p.planNodesPerRow;
    const int rows = cols > 0 ? p.planNodeCount / cols : 0;
    if (cols < 2 || rows < 2) {
        throw ExportError("porzione senza nodi: " + p.portionName);
    }
    std::vector<float> v(static_cast<std::size_t>(rows * cols));
    for (int r = 0; r < rows; ++r) { // r counted from the south
        for (int c = 0; c < cols; ++c) {
            v[static_cast<std::size_t>((rows - 1 - r) * cols + c)] =
                static_cast<float>(p.e89E2000DH[static_cast<std::size_t>(r * cols + c + 1)]);
        }
    }
    const double top = p.e2000OriginLat + (rows - 1) * planStepLat;
    writeVerticalTiff(path, v, cols, rows, p.e2000OriginLon, top, planStepLat, planStepLon,
                      "Dormal2k: differenza di quota ellissoidica ETRF89-ETRF2000 (m), porzione " + p.portionName +
                          ", " + p.e89E2000Epoch);
}

std::string safeName(const std::string& s) {
    std::string out;
    for (char ch : s) {
        const bool ok =
            (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == '-' || ch == '_';
        out += ok ? ch : '_';
    }
    return out;
}

std::string joined(const std::vector<std::string>& names) {
    std::string s;
    for (const auto& n : names) {
        s += (s.empty() ? "" : ",") + n;
    }
    return s;
}

const char* zoneWord(RefSystem s, Zone z) {
    switch (z) {
    case Zone::OvestOr32:
        return s == RefSystem::Roma40 ? "ovest" : "32";
    case Zone::EstOr33:
        return s == RefSystem::Roma40 ? "est" : "33";
    case Zone::Utm34:
        return "34";
    case Zone::Italia:
        return "italia";
    case Zone::Auto:
        break;
    }
    return "auto";
}

bool onInternational(RefSystem s) {
    return s == RefSystem::Roma40 || s == RefSystem::Ed50;
}

// The projection of a plane end (Gauss-Boaga, UTM or "Fuso Italia"), East and North in metres.
std::string tmerc(const PipelineEnd& e) {
    const ZoneInfo z = zoneInfo(e.system, e.zone);
    if (!z.valid) {
        throw std::invalid_argument("zona non valida per il sistema");
    }
    return "+proj=tmerc +lat_0=0 +lon_0=" + exact(z.centralMeridian) + " +k=" + exact(z.scale) +
           " +x_0=" + exact(z.falseEasting) + " +y_0=0 +ellps=" + (onInternational(e.system) ? "intl" : "GRS80");
}

// Steps of the datum chain between two systems, on (longitude, latitude) in radians and the
// height in metres. Each grid is sampled at a position in the system its nodes are laid out
// in, as the chain does: the ROMA40 grids at ROMA40 positions, the others at ETRF89 ones.
// A step against a grid's direction is PROJ's iterative inverse, where the chain refines
// once; with shifts that change by hundredths of a second per cell the two differ by far
// less than 1e-9 degrees.
std::vector<std::string> chainSteps(RefSystem from, RefSystem to, const VerticalGridNames& v) {
    const std::string ed50 = std::string("+proj=hgridshift +grids=") + kRoma40Ed50GridFile;
    const std::string etrf89 = std::string("+proj=hgridshift +grids=") + kRoma40Etrf89GridFile;
    const std::string etrf2000 = std::string("+proj=hgridshift +grids=") + kEtrf89Etrf2000GridFile;
    const std::string geoid = "+proj=vgridshift +grids=" + joined(v.geoid);
    const std::string heightShift = "+proj=vgridshift +grids=" + joined(v.heightShift);
    std::vector<std::string> s;
    // To ETRF89 (or, for the pair ROMA40/ED50, straight across).
    switch (from) {
    case RefSystem::Roma40:
        if (to == RefSystem::Ed50) {
            return {ed50};
        }
        s = {etrf89, geoid + " +multiplier=1"}; // h89 = H + N at the ETRF89 position
        break;
    case RefSystem::Ed50:
        if (to == RefSystem::Roma40) {
            return {"+inv " + ed50};
        }
        s = {"+inv " + ed50, etrf89, geoid + " +multiplier=1"};
        break;
    case RefSystem::Etrf89:
        break;
    case RefSystem::Etrf2000:
        // ETRF89 position first, then h89 = h2000 - shift at that position.
        s = {"+inv " + etrf2000, heightShift + " +multiplier=-1"};
        break;
    }
    // From ETRF89 to the output.
    switch (to) {
    case RefSystem::Roma40:
    case RefSystem::Ed50:
        s.push_back(geoid + " +multiplier=-1"); // H = h89 - N at the ETRF89 position
        s.push_back("+inv " + etrf89);
        if (to == RefSystem::Ed50) {
            s.push_back(ed50);
        }
        break;
    case RefSystem::Etrf89:
        break;
    case RefSystem::Etrf2000:
        // Height shift sampled at the ETRF89 position, before the position moves.
        s.push_back(heightShift + " +multiplier=1");
        s.push_back(etrf2000);
        break;
    }
    return s;
}

} // namespace

VerticalGridNames verticalGridNames(const PortionSet& set) {
    VerticalGridNames v;
    for (std::size_t i = 0; i < set.size(); ++i) {
        char index[32];
        std::snprintf(index, sizeof index, "%03zu", i + 1);
        const std::string tail = std::string(index) + "_" + safeName(set.portion(i).portionName) + ".tif";
        v.geoid.push_back("dormal2k_geoide_" + tail);
        v.heightShift.push_back("dormal2k_etrf89_etrf2000_h_" + tail);
    }
    return v;
}

GridExportResult exportGrids(const PortionSet& set, const std::string& folder) {
    GridExportResult r;
    if (set.empty()) {
        r.error = "nessuna porzione di griglia da esportare";
        return r;
    }
    const fs::path dir(folder);
    try {
        writeNtv2(set, (dir / kRoma40Ed50GridFile).string(), "ROMA40", "ED50", [](const GridPortion& p) {
            return ShiftGrid{&p.roEdDLat, &p.roEdDLon, p.planOriginLat, p.planOriginLon};
        });
        r.files.push_back(kRoma40Ed50GridFile);
        writeNtv2(set, (dir / kRoma40Etrf89GridFile).string(), "ROMA40", "ETRF89", [](const GridPortion& p) {
            return ShiftGrid{&p.roE89DLat, &p.roE89DLon, p.planOriginLat, p.planOriginLon};
        });
        r.files.push_back(kRoma40Etrf89GridFile);
        writeNtv2(set, (dir / kEtrf89Etrf2000GridFile).string(), "ETRF89", "ETRF2000", [](const GridPortion& p) {
            return ShiftGrid{&p.e89E2000DLat, &p.e89E2000DLon, p.e2000OriginLat, p.e2000OriginLon};
        });
        r.files.push_back(kEtrf89Etrf2000GridFile);
        const VerticalGridNames v = verticalGridNames(set);
        for (std::size_t i = 0; i < set.size(); ++i) {
            writeGeoid(set.portion(i), (dir / v.geoid[i]).string());
            r.files.push_back(v.geoid[i]);
            writeHeightShift(set.portion(i), (dir / v.heightShift[i]).string());
            r.files.push_back(v.heightShift[i]);
        }
    } catch (const ExportError& e) {
        r.error = e.what();
    }
    return r;
}

std::string pipelineEndLabel(const PipelineEnd& end) {
    return std::string(systemName(end.system)) + ":" +
           (end.kind == CoordKind::Geographic ? "geo" : zoneWord(end.system, end.zone));
}

std::string pipelineFor(const PipelineEnd& from, const PipelineEnd& to, const VerticalGridNames& vertical,
                        const PipelineOptions& options) {
    std::string p = "+proj=pipeline";
    auto step = [&p](const std::string& s) { p += " +step " + s; };
    // Input columns: latitude, longitude (or North, East), height; x first for QGIS and GDAL.
    if (!options.xyOrder) {
        step("+proj=axisswap +order=2,1");
    }
    if (from.kind == CoordKind::Plane) {
        step("+inv " + tmerc(from));
    } else {
        if (from.system == RefSystem::Roma40 && options.roma40FromMonteMario) {
            step("+proj=affine +xoff=" + exact(romeMeridian())); // degrees, to Greenwich
        }
        step("+proj=unitconvert +xy_in=deg +xy_out=rad");
    }
    for (const std::string& s : chainSteps(from.system, to.system, vertical)) {
        step(s);
    }
    if (to.kind == CoordKind::Plane) {
        step(tmerc(to));
    } else {
        step("+proj=unitconvert +xy_in=rad +xy_out=deg");
        if (to.system == RefSystem::Roma40 && options.roma40FromMonteMario) {
            step("+proj=affine +xoff=" + exact(-romeMeridian()));
        }
    }
    if (!options.xyOrder) {
        step("+proj=axisswap +order=2,1");
    }
    return p;
}

std::vector<PipelineEnd> pipelineEnds(bool plane, const std::vector<Zone>& zones) {
    std::vector<PipelineEnd> ends;
    for (RefSystem s : kAllSystems) {
        ends.push_back({s, CoordKind::Geographic, Zone::Auto});
        if (!plane) {
            continue;
        }
        for (Zone z : {Zone::OvestOr32, Zone::EstOr33, Zone::Utm34, Zone::Italia}) {
            const bool wanted = zones.empty() || std::find(zones.begin(), zones.end(), z) != zones.end();
            if (wanted && zoneInfo(s, z).valid) {
                ends.push_back({s, CoordKind::Plane, z});
            }
        }
    }
    return ends;
}

std::string pipelinesText(const std::vector<PipelineEnd>& ends, const VerticalGridNames& vertical,
                          const PipelineOptions& options) {
    std::string t;
    t += "# Dormal2k: pipeline PROJ tra i sistemi di riferimento, con le griglie esportate.\n";
    if (options.xyOrder) {
        t += "# Ordine degli assi x,y, come li passano QGIS e GDAL (non per cct sulle colonne Nord Est).\n";
        t += "# Una riga per coppia: DA>A seguito dalla pipeline (trasformazione personalizzata di QGIS).\n";
        t += "# Coordinate: geo = longitudine latitudine quota (gradi decimali, metri),\n";
        t += "# piane = Est Nord quota (metri, con la falsa origine del fuso).\n";
    } else {
        t += "# Ordine degli assi Nord,Est, come le colonne dei file di Dormal2k (per cct; QGIS usa\n";
        t += "# pipelines_qgis.txt).\n";
        t += "# Una riga per coppia: DA>A seguito dalla pipeline (per cct o cs2cs).\n";
        t += "# Coordinate: geo = latitudine longitudine quota (gradi decimali, metri),\n";
        t += "# piane = Nord Est quota (metri, con la falsa origine del fuso).\n";
    }
    t += options.roma40FromMonteMario ? "# Longitudini ROMA40 da Monte Mario; le altre da Greenwich.\n"
                                      : "# Tutte le longitudini da Greenwich (anche ROMA40, come EPSG:4265).\n";
    t += "# Quote geoidiche per ROMA40 ed ED50, ellissoidiche per ETRF89 ed ETRF2000;\n";
    t += "# tra ROMA40 ed ED50 la quota resta invariata.\n";
    t += "# Le griglie si cercano in PROJ_DATA: aggiungere questa cartella.\n";
    // QGIS names each end by its EPSG code; an end without one (ETRF89 "Fuso Italia") has no
    // layer to convert and is left out.
    auto code = [](const PipelineEnd& e) { return epsgCode(e.system, e.kind, e.zone); };
    if (options.xyOrder) {
        t += "# Codici EPSG:";
        for (const PipelineEnd& e : ends) {
            if (code(e)) {
                t += " " + pipelineEndLabel(e) + "=" + std::to_string(*code(e));
            }
        }
        t += "\n";
    }
    for (const PipelineEnd& from : ends) {
        for (const PipelineEnd& to : ends) {
            if (from.system == to.system || (options.xyOrder && (!code(from) || !code(to)))) {
                continue;
            }
            t += pipelineEndLabel(from) + ">" + pipelineEndLabel(to) + " " + pipelineFor(from, to, vertical, options) +
                 "\n";
        }
    }
    return t;
}

} // namespace dormal
