#include "conversion/grid_export.h"

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <fcntl.h>
#include <gdal.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <array>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "conversion/epsg.h"
#include "conversion/selection_words.h"
#include "conversion/system_error.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/zones.h"

namespace dormal {

namespace {

namespace fs = std::filesystem;

// A failed step: what was being written (Italian, upper case) and GDAL's own reason, when
// GDAL gave one (English, shown last).
class ExportError : public std::runtime_error {
public:
    explicit ExportError(const std::string& what, std::string reason = {})
        : std::runtime_error(what), reason_(std::move(reason)) {}
    const std::string& reason() const { return reason_; }

private:
    std::string reason_;
};

// A stop signal caught while the export was being written.
struct Interrupted {};

// The signal that asked the export to stop (0: none). The handler only records it; the
// export checks it between files and sub-grids, and cleans up on the normal path.
volatile std::sig_atomic_t gStopSignal = 0;

void checkStop() {
    if (gStopSignal != 0) {
        throw Interrupted{};
    }
}

// The name of a written file as the user sees it: the folder part (the scratch folder) left out.
std::string shownName(const std::string& path) {
    return fs::path(path).filename().string();
}

[[noreturn]] void fail(const std::string& path) {
    throw ExportError("SCRITTURA DI " + shownName(path), CPLGetLastErrorMsg());
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
        throw ExportError(std::string("GDAL SENZA IL FORMATO ") + name);
    }
    return d;
}

void writeBand(GDALDatasetH ds, int band, std::vector<float>& values, int cols, int rows, const std::string& path) {
    GDALRasterBandH b = GDALGetRasterBand(ds, band);
    if (b == nullptr ||
        GDALRasterIO(b, GF_Write, 0, 0, cols, rows, values.data(), cols, rows, GDT_Float32, 0, 0) != CE_None) {
        fail(path);
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

// NTv2 file of one shift grid for portions [first, last) of the set, one top-level sub-grid
// per portion in set order (PROJ picks the first top-level sub-grid that holds a point). GDAL shows an NTv2 sub-grid
// north-up, west to east, with each node at the centre of a pixel, and writes the header fields in seconds with
// longitudes positive west; the longitude-shift band holds the format's own values, positive WEST, so an eastward shift
// is written negated.
void writeNtv2(const PortionSet& set, std::size_t first, std::size_t last, const std::vector<std::string>& names,
               const std::string& path, const char* systemFrom, const char* systemTo,
               ShiftGrid (*gridOf)(const GridPortion&)) {
    GDALDriverH drv = driver("NTv2");
    std::error_code ec;
    fs::remove(path, ec); // sub-grids are appended: start from an empty file
    for (std::size_t i = first; i < last; ++i) {
        checkStop();
        const GridPortion& p = set.portion(i);
        const ShiftGrid g = gridOf(p);
        const int cols = p.planNodesPerRow;
        const int rows = cols > 0 ? p.planNodeCount / cols : 0;
        if (cols < 2 || rows < 2) {
            throw ExportError("PORZIONE SENZA NODI: " + p.portionName);
        }
        Options opt;
        if (i > first) {
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
            fail(path);
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
            fail(path);
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
        writeBand(ds.get(), 1, lat, cols, rows, path);
        writeBand(ds.get(), 2, lon, cols, rows, path);
        writeBand(ds.get(), 3, zero, cols, rows, path);
        writeBand(ds.get(), 4, zero, cols, rows, path);
        if (!ds.close()) {
            fail(path);
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
        fail(path);
    }
    double gt[6] = {westLon - stepLon / 2, stepLon, 0, topLat + stepLat / 2, 0, -stepLat};
    if (GDALSetGeoTransform(ds.get(), gt) != CE_None ||
        GDALSetProjection(ds.get(), "GEOGCS[\"ETRS89\",DATUM[\"European_Terrestrial_Reference_System_1989\","
                                    "SPHEROID[\"GRS 1980\",6378137,298.257222101]],PRIMEM[\"Greenwich\",0],"
                                    "UNIT[\"degree\",0.0174532925199433],AUTHORITY[\"EPSG\",\"4258\"]]") != CE_None) {
        fail(path);
    }
    GDALSetMetadataItem(ds.get(), "AREA_OR_POINT", "Area", nullptr);
    GDALSetMetadataItem(ds.get(), "TIFFTAG_IMAGEDESCRIPTION", description.c_str(), nullptr);
    GDALRasterBandH b = GDALGetRasterBand(ds.get(), 1);
    GDALSetRasterUnitType(b, "metre");
    std::vector<float> values = northUp;
    writeBand(ds.get(), 1, values, cols, rows, path);
    if (!ds.close()) {
        fail(path);
    }
}

void writeGeoid(const GridPortion& p, const std::string& path) {
    const int cols = p.geoidNodesPerRow;
    const int rows = cols > 0 ? p.geoidNodeCount / cols : 0;
    if (cols < 2 || rows < 2) {
        throw ExportError("PORZIONE SENZA NODI: " + p.portionName);
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
        throw ExportError("PORZIONE SENZA NODI: " + p.portionName);
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
    const std::size_t portions = v.geoid.size();
    const std::string ed50 = "+proj=hgridshift +grids=" + joined(shiftGridFiles(kRoma40Ed50GridFile, portions));
    const std::string etrf89 = "+proj=hgridshift +grids=" + joined(shiftGridFiles(kRoma40Etrf89GridFile, portions));
    const std::string etrf2000 = "+proj=hgridshift +grids=" + joined(shiftGridFiles(kEtrf89Etrf2000GridFile, portions));
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

std::vector<std::string> shiftGridFiles(const char* firstFile, std::size_t portions) {
    const std::string first = firstFile;
    const std::string stem = first.substr(0, first.size() - 4); // without ".gsb"
    std::vector<std::string> files{first};
    for (std::size_t n = 2; (n - 1) * kMaxSubGridsPerFile < portions; ++n) {
        files.push_back(stem + "_" + std::to_string(n) + ".gsb");
    }
    return files;
}

namespace {

void writeGridsInto(const PortionSet& set, const fs::path& dir, std::vector<std::string>& written) {
    struct Shift {
        const char* file;
        const char* from;
        const char* to;
        ShiftGrid (*gridOf)(const GridPortion&);
    };
    const Shift shifts[] = {
        {kRoma40Ed50GridFile, "ROMA40", "ED50",
         [](const GridPortion& p) {
             return ShiftGrid{&p.roEdDLat, &p.roEdDLon, p.planOriginLat, p.planOriginLon};
         }},
        {kRoma40Etrf89GridFile, "ROMA40", "ETRF89",
         [](const GridPortion& p) {
             return ShiftGrid{&p.roE89DLat, &p.roE89DLon, p.planOriginLat, p.planOriginLon};
         }},
        {kEtrf89Etrf2000GridFile, "ETRF89", "ETRF2000",
         [](const GridPortion& p) {
             return ShiftGrid{&p.e89E2000DLat, &p.e89E2000DLon, p.e2000OriginLat, p.e2000OriginLon};
         }},
    };
    const std::vector<std::string> names = subGridNames(set);
    for (const Shift& sh : shifts) {
        const std::vector<std::string> files = shiftGridFiles(sh.file, set.size());
        for (std::size_t k = 0; k < files.size(); ++k) {
            const std::size_t first = k * kMaxSubGridsPerFile;
            const std::size_t last = std::min(set.size(), first + kMaxSubGridsPerFile);
            writeNtv2(set, first, last, names, (dir / files[k]).string(), sh.from, sh.to, sh.gridOf);
            written.push_back(files[k]);
        }
    }
    const VerticalGridNames v = verticalGridNames(set);
    for (std::size_t i = 0; i < set.size(); ++i) {
        checkStop();
        writeGeoid(set.portion(i), (dir / v.geoid[i]).string());
        written.push_back(v.geoid[i]);
        writeHeightShift(set.portion(i), (dir / v.heightShift[i]).string());
        written.push_back(v.heightShift[i]);
    }
}

// GDAL's own messages go into the error text, never to the terminal.
class QuietGdal {
public:
    QuietGdal() { CPLPushErrorHandler(CPLQuietErrorHandler); }
    ~QuietGdal() { CPLPopErrorHandler(); }
    QuietGdal(const QuietGdal&) = delete;
    QuietGdal& operator=(const QuietGdal&) = delete;
};

// The text of a failure: the Italian words (and `then`, a line on what became of the
// folder), and GDAL's reason alone on the last line.
std::string failureText(const ExportError& e, const std::string& then = {}) {
    return std::string(e.what()) + (then.empty() ? std::string() : "\n" + then) +
           (e.reason().empty() ? std::string() : "\nMOTIVO INDICATO DA GDAL: " + e.reason());
}

} // namespace

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

namespace {

// ---------------------------------------------------------------------------------------
// The whole export: written in a scratch folder, moved into place when complete.

// Scratch folders are ".dormal2k-esportazione-PID-XXXXXX" inside the export folder (the
// same file system, so that the files move by renaming); PID tells a later run whether the
// run that made one is still alive.
constexpr const char* kScratchPrefix = ".dormal2k-esportazione-";

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void recordStopSignal(int sig) {
    gStopSignal = sig;
}

// Catches the stop signals that have their default action while an export runs (an ignored
// SIGHUP stays ignored), and puts the default action back at the end.
class StopSignals {
public:
    StopSignals() {
        gStopSignal = 0;
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
            struct sigaction old {};
            if (::sigaction(kStopSignals[i], nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) != 0 ||
                old.sa_handler != SIG_DFL) {
                continue;
            }
            struct sigaction sa {};
            sa.sa_handler = recordStopSignal;
            sigemptyset(&sa.sa_mask);
            sa.sa_flags = SA_RESTART;
            installed_[i] = ::sigaction(kStopSignals[i], &sa, nullptr) == 0;
        }
    }
    ~StopSignals() { restore(); }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    // The default actions back; a signal caught meanwhile then takes its course.
    void restoreAndDeliver() {
        restore();
        if (gStopSignal != 0) {
            ::raise(gStopSignal);
        }
    }

private:
    void restore() {
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
            if (installed_[i]) {
                struct sigaction sa {};
                sa.sa_handler = SIG_DFL;
                sigemptyset(&sa.sa_mask);
                ::sigaction(kStopSignals[i], &sa, nullptr);
                installed_[i] = false;
            }
        }
    }
    bool installed_[std::size(kStopSignals)] = {};
};

// Makes what was written to `path` durable (a file or a folder).
void syncPath(const fs::path& path, bool folder) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | (folder ? O_DIRECTORY : 0));
    if (fd < 0 || ::fsync(fd) != 0) {
        const int err = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        throw ExportError("SCRITTURA DI " + shownName(path.string()) + ": " + systemErrorText(err));
    }
    ::close(fd);
}

// Makes everything written on the file system of `path` durable: one call for the thousands
// of files of a large export, where one fsync per file takes seconds.
void syncFileSystem(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY);
    if (fd < 0 || ::syncfs(fd) != 0) {
        const int err = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        throw ExportError("SCRITTURA DEI FILE IN " + path.parent_path().string() + ": " + systemErrorText(err));
    }
    ::close(fd);
}

void writeTextFile(const fs::path& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    std::size_t done = 0;
    while (fd >= 0 && done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    const int err = errno;
    if (fd < 0 || done < text.size() || ::close(fd) != 0) {
        throw ExportError("SCRITTURA DI " + shownName(path.string()) + ": " + systemErrorText(fd < 0 ? err : errno));
    }
}

bool processAlive(long pid) {
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH);
}

// Removes the scratch folders that runs which have died left in `folder`.
void removeDeadScratch(const fs::path& folder) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind(kScratchPrefix, 0) != 0) {
            continue;
        }
        long pid = 0;
        const char* digits = name.c_str() + std::char_traits<char>::length(kScratchPrefix);
        const auto r = std::from_chars(digits, name.c_str() + name.size(), pid);
        std::error_code ignored;
        if (r.ec == std::errc() && *r.ptr == '-' && !processAlive(pid) &&
            fs::is_directory(fs::symlink_status(it->path(), ignored))) {
            fs::remove_all(it->path(), ignored);
        }
    }
}

// A scratch folder of this run inside the export folder, removed with what is left in it.
class ScratchFolder {
public:
    explicit ScratchFolder(const fs::path& folder) {
        std::string tmpl = (folder / (kScratchPrefix + std::to_string(::getpid()) + "-XXXXXX")).string();
        if (::mkdtemp(tmpl.data()) == nullptr) {
            throw ExportError("IMPOSSIBILE CREARE LA CARTELLA DI LAVORO IN " + folder.string() + ": " +
                              systemErrorText(errno));
        }
        path_ = tmpl;
    }
    ~ScratchFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

// The file names the manifest in `folder` lists: plain names only (no folders, no hidden
// names), so that a damaged or edited manifest cannot reach outside the export's own files.
std::vector<std::string> listedFiles(const fs::path& folder) {
    std::vector<std::string> names;
    std::ifstream in(folder / kManifestFile, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.empty() || line[0] == '#' || line[0] == '.' || line.find('/') != std::string::npos ||
            line == kManifestFile) {
            continue;
        }
        names.push_back(line);
    }
    return names;
}

std::string manifestText(const std::vector<std::string>& files) {
    std::string t = "# Dormal2k: file dell'esportazione delle griglie in questa cartella, uno per riga.\n"
                    "# Una nuova esportazione qui rimuove quelli elencati che non riscrive; gli altri file\n"
                    "# della cartella non li tocca.\n";
    for (const std::string& f : files) {
        t += f + "\n";
    }
    return t;
}

} // namespace

GridExportResult writeExport(const PortionSet& set, const std::string& folder, const std::vector<PipelineEnd>& ends,
                             const PipelineOptions& cctOptions) {
    GridExportResult r;
    if (set.empty()) {
        r.error = "NESSUNA PORZIONE DI GRIGLIA DA ESPORTARE";
        return r;
    }
    const fs::path dir(folder);
    const std::string unchanged = "LA CARTELLA " + folder + " RESTA COM'ERA";
    const QuietGdal quiet;
    StopSignals signals;
    std::vector<std::string> files;
    bool moving = false;
    try {
        removeDeadScratch(dir);
        const ScratchFolder scratch(dir);
        const fs::path& work = scratch.path();
        writeGridsInto(set, work, files);
        PipelineOptions qgis;
        qgis.xyOrder = true; // ROMA40 from Greenwich, as QGIS's EPSG:4265
        const VerticalGridNames vertical = verticalGridNames(set);
        checkStop();
        writeTextFile(work / kPipelinesFile, pipelinesText(ends, vertical, cctOptions));
        files.push_back(kPipelinesFile);
        writeTextFile(work / kQgisPipelinesFile, pipelinesText(ends, vertical, qgis));
        files.push_back(kQgisPipelinesFile);
        writeTextFile(work / kManifestFile, manifestText(files));
        checkStop();
        syncFileSystem(work); // every file of the export, at once
        syncPath(work, true);
        files.push_back(kManifestFile); // moved last: it names a complete export

        // Nothing in the way of a move: a folder where a file must go stops the export here.
        for (const std::string& f : files) {
            std::error_code ec;
            if (fs::is_directory(fs::symlink_status(dir / f, ec))) {
                throw ExportError("IMPOSSIBILE SOSTITUIRE " + f + ": E' UNA CARTELLA");
            }
        }
        checkStop();
        // From here on the export completes: a stop signal waits for the end.
        const std::vector<std::string> previous = listedFiles(dir);
        moving = true;
        for (const std::string& f : files) {
            if (::rename((work / f).c_str(), (dir / f).c_str()) != 0) {
                throw ExportError("IMPOSSIBILE SPOSTARE " + f + " NELLA CARTELLA: " + systemErrorText(errno));
            }
            r.files.push_back(f);
        }
        syncPath(dir, true);
        for (const std::string& old : previous) {
            std::error_code ec;
            const fs::file_status st = fs::symlink_status(dir / old, ec);
            if (std::find(files.begin(), files.end(), old) == files.end() &&
                (fs::is_regular_file(st) || fs::is_symlink(st))) {
                fs::remove(dir / old, ec);
            }
        }
        syncPath(dir, true);
    } catch (const ExportError& e) {
        r.error = failureText(e, moving ? "L'ESPORTAZIONE NELLA CARTELLA " + folder + " E' INCOMPLETA" : unchanged);
    } catch (const Interrupted&) {
        r.error = "ESPORTAZIONE INTERROTTA\n" + unchanged;
    } catch (const std::exception&) {
        r.error = "ESPORTAZIONE NON COMPLETATA\n" +
                  (moving ? "L'ESPORTAZIONE NELLA CARTELLA " + folder + " E' INCOMPLETA" : unchanged);
    }
    if (!r.ok()) {
        r.files.clear();
    }
    signals.restoreAndDeliver();
    return r;
}

} // namespace dormal
