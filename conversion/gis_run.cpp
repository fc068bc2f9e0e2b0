#include "conversion/gis_run.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include "conversion/epsg.h"
#include "conversion/gis_csv.h"
#include "conversion/io_detail.h"
#include "conversion/result_writer.h"
#include "conversion/scratch_folder.h"
#include "conversion/selection_words.h"
#include "conversion/system_error.h"
#include "conversion/watched_files.h"
#include "geodesy/angles.h"
#include "geodesy/zones.h"
#include "grid/text_encoding.h"

namespace dormal {

namespace {

namespace fs = std::filesystem;

// Texts of the status field.
constexpr const char* kStatusConverted = "convertito";
constexpr const char* kStatusOutside = "fuori griglia";
constexpr const char* kStatusRefused = "scartato";
constexpr const char* kStatusNoGeometry = "senza geometria";
// Names of the added fields (at most 10 characters: shapefiles keep no more).
constexpr const char* kZoneField = "ZONA";
constexpr const char* kStatusField = "STATO";

Message failureMessage(std::vector<std::string> lines) {
    return Message{MessageIcon::Error, kTitleErrore, std::move(lines)};
}

BatchOutcome ended(Message m, BatchStatus s = BatchStatus::Failed) {
    BatchOutcome o;
    o.status = s;
    o.message = std::move(m);
    return o;
}

std::string gdalCause(const char* fallback) {
    const char* msg = CPLGetLastErrorMsg();
    return msg != nullptr && *msg != '\0' ? std::string(msg) : std::string(fallback);
}

// GDAL's failures while the result is written: the first one's text. Every one of them
// fails the run, whether or not the driver goes on.
struct GdalFailures {
    bool any = false;
    std::string first;
    bool paused = false; // while reading and converting: their failures are told otherwise
};

// Pauses the recording of failures for a scope.
class PausedFailures {
public:
    explicit PausedFailures(GdalFailures* f) : f_(f) {
        if (f_ != nullptr) {
            f_->paused = true;
        }
    }
    ~PausedFailures() {
        if (f_ != nullptr) {
            f_->paused = false;
        }
    }
    PausedFailures(const PausedFailures&) = delete;
    PausedFailures& operator=(const PausedFailures&) = delete;

private:
    GdalFailures* f_;
};

// What GDAL says (errors and warnings) while the run lives: kept here instead of reaching the
// terminal, so that a file GDAL could only read in part is not taken for a whole one. Debug
// messages are not kept.
class GdalMessages {
public:
    GdalMessages() { CPLPushErrorHandlerEx(&GdalMessages::handle, this); }
    ~GdalMessages() { CPLPopErrorHandler(); }
    GdalMessages(const GdalMessages&) = delete;
    GdalMessages& operator=(const GdalMessages&) = delete;

    void clear() { texts_.clear(); }
    bool any() const { return !texts_.empty(); }
    // While a result is written (and not paused for reading or converting), what GDAL says
    // belongs to the writing: its failures go to `writing`, not to the reading's texts.
    void setWriting(GdalFailures* writing) { writing_ = writing; }
    // Every text kept, in order, the same one once ("; " between them).
    std::string text() const {
        std::string all;
        for (const std::string& t : texts_) {
            if (all.find(t) == std::string::npos) {
                all += (all.empty() ? "" : "; ") + t;
            }
        }
        return all;
    }

private:
    static void CPL_STDCALL handle(CPLErr level, CPLErrorNum /*number*/, const char* text) {
        auto* self = static_cast<GdalMessages*>(CPLGetErrorHandlerUserData());
        if (self == nullptr || level < CE_Warning) {
            return;
        }
        if (GdalFailures* w = self->writing_; w != nullptr && !w->paused) {
            if (level >= CE_Failure && !w->any) {
                w->any = true;
                w->first = text != nullptr ? text : "";
            }
            return;
        }
        if (self->texts_.size() < 16) {
            self->texts_.emplace_back(text != nullptr && *text != '\0' ? text : "errore senza descrizione");
        }
    }
    std::vector<std::string> texts_;
    GdalFailures* writing_ = nullptr;
};

// A data file GDAL read only in part: the reading-failure message, what went wrong, and
// GDAL's own words as the last line.
Message damagedInputMessage(const std::string& path, const std::string& what, const std::string& gdalText) {
    Message m = detail::readFailureMessage(path, what);
    if (!gdalText.empty()) {
        m.lines.push_back("MESSAGGIO DI GDAL: " + gdalText);
    }
    return m;
}

// Decimal degrees to gg.ppssdddd without rounding the seconds: the chain then starts from
// the value the layer holds, not from a value rounded to the report's digits.
double exactSexagesimal(double degrees) {
    const double a = std::fabs(degrees);
    double whole = std::floor(a);
    const double minutesAll = (a - whole) * 60.0;
    double minutes = std::floor(minutesAll);
    double seconds = (minutesAll - minutes) * 60.0;
    if (seconds >= 60.0) {
        seconds -= 60.0;
        minutes += 1.0;
    }
    if (minutes >= 60.0) {
        minutes -= 60.0;
        whole += 1.0;
    }
    const double s = whole + minutes / 100.0 + seconds / 10000.0;
    return degrees < 0 ? -s : s;
}

const char* separatorOption(char delimiter) {
    return delimiter == ';' ? "SEMICOLON" : delimiter == '\t' ? "TAB" : "COMMA";
}

// A converted value written back into a text cell, with the decimal mark the cell had
// (whatever the process's locale says).
std::string numberText(double v, int decimals, bool decimalComma) {
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    std::string s(buf, ec == std::errc() ? end : buf);
    if (decimalComma) {
        std::replace(s.begin(), s.end(), '.', ',');
    }
    return s;
}

// What happened to the vertices of one feature.
struct FeatureTally {
    bool outside = false;
    bool failed = false;
    int portionIndex = -1;  // of the first vertex
    Zone zone = Zone::Auto; // plane output: the zone projected into; geographic: the first vertex's own
    PointResult first;      // the first vertex's zone text and mark, as the report writes them
    bool notFinite = false; // a vertex with an infinite or undefined coordinate
    bool notFiniteHeight = false; // ... in its height only
    // The first value of a vertex that cannot be a point on the Earth, as the layer holds it:
    // a reading error for the feature.
    ValueFault fault = ValueFault::None;
    double faultValue = 0;
};

// One feature's conversion, vertex by vertex, through the chain. x is East or longitude
// (decimal degrees from Greenwich; ROMA40 from Monte Mario in a layer of EPSG 4806), y North
// or latitude, z the height.
class ChainConverter {
public:
    ChainConverter(const ConversionContext& ctx, bool outputFromMonteMario)
        : ctx_(ctx), outputFromMonteMario_(outputFromMonteMario),
          check_(ctx.sel.inputSystem, ctx.sel.inputKind, ctx.sel.inputZone, ctx.heights) {}

    // The ROMA40 longitudes read are counted from Monte Mario (a layer in EPSG 4806).
    void setInputFromMonteMario(bool fromMonteMario) { inputFromMonteMario_ = fromMonteMario; }

    // Converts one vertex in place; false when it lies outside the grid or cannot be computed.
    bool convert(double& x, double& y, double* z, FeatureTally& t) const {
        const SelectionState& sel = ctx_.sel;
        PointInput in;
        if (sel.inputKind == CoordKind::Geographic) {
            const double lon = sel.inputSystem == RefSystem::Roma40 && !inputFromMonteMario_ ? x - romeMeridian() : x;
            in.first = exactSexagesimal(y);
            in.second = exactSexagesimal(lon);
        } else {
            in.first = y;
            in.second = x;
        }
        in.height = z != nullptr ? *z : 0.0;
        // Longitudes are checked as the layer holds them (from Greenwich, or Monte Mario).
        const PointInput asHeld{in.first, sel.inputKind == CoordKind::Geographic ? exactSexagesimal(x) : x, in.height};
        if (const ValueFault f = check_.fault(asHeld); f != ValueFault::None) {
            if (t.fault == ValueFault::None) {
                t.fault = f;
                t.faultValue = f == ValueFault::First ? y : f == ValueFault::Second ? x : in.height;
            }
            return false;
        }
        const PointResult r = convertPoint(ctx_, in, RunKind::Batch);
        if (t.portionIndex < 0) {
            t.portionIndex = r.portionIndex;
            t.zone = sel.outputKind == CoordKind::Plane ? r.outZoneUsed : r.naturalZone;
            t.first.zoneText = r.zoneText;
            t.first.zoneMismatch = r.zoneMismatch;
        }
        if (r.status == PointStatus::OutsideGrid) {
            t.outside = true;
            return false;
        }
        if (r.status != PointStatus::Converted) {
            t.failed = true;
            return false;
        }
        if (sel.outputKind == CoordKind::Geographic) {
            // Decimal degrees as the chain gives them, not the report's form; from Monte Mario
            // for a layer in EPSG 4806 (the chain's own step back to it).
            x = sel.outputSystem == RefSystem::Roma40 && outputFromMonteMario_ ? r.outLonDeg - romeMeridian()
                                                                               : r.outLonDeg;
            y = r.outLatDeg;
        } else {
            x = r.outSecond;
            y = r.outFirst;
        }
        if (z != nullptr && ctx_.heights && r.hasHeight) {
            *z = r.outHeight;
        }
        return true;
    }

private:
    const ConversionContext& ctx_;
    bool inputFromMonteMario_ = false;
    bool outputFromMonteMario_ = false;
    PointValueCheck check_;
};

// The chain as OGR's coordinate transformation, so that every vertex of any geometry
// (points, lines, polygons, collections) goes through it by OGRGeometry::transform.
class ChainTransformation final : public OGRCoordinateTransformation {
public:
    // `heights`: the Z of the vertices is converted (and must then be a number).
    ChainTransformation(const ChainConverter& conv, FeatureTally& tally, bool heights)
        : conv_(conv), tally_(tally), heights_(heights) {}

    OGRSpatialReference* GetSourceCS() override { return nullptr; }
    OGRSpatialReference* GetTargetCS() override { return nullptr; }

    int Transform(int count, double* x, double* y, double* z, double* /*t*/, int* success) override {
        bool all = true;
        for (int i = 0; i < count; ++i) {
            const bool badHeight = heights_ && z != nullptr && !std::isfinite(z[i]);
            if (!std::isfinite(x[i]) || !std::isfinite(y[i]) || badHeight) {
                // Not a point: the feature is refused as unreadable, the layer goes on.
                tally_.notFinite = true;
                tally_.notFiniteHeight =
                    tally_.notFiniteHeight || (badHeight && std::isfinite(x[i]) && std::isfinite(y[i]));
                if (success != nullptr) {
                    success[i] = FALSE;
                }
                all = false;
                continue;
            }
            const bool ok = conv_.convert(x[i], y[i], z != nullptr ? &z[i] : nullptr, tally_);
            if (success != nullptr) {
                success[i] = ok ? TRUE : FALSE;
            }
            all = all && ok;
        }
        return all ? TRUE : FALSE;
    }

    OGRCoordinateTransformation* Clone() const override { return new ChainTransformation(conv_, tally_, heights_); }
    OGRCoordinateTransformation* GetInverse() const override { return nullptr; }

private:
    const ChainConverter& conv_;
    FeatureTally& tally_;
    bool heights_;
};

struct DatasetCloser {
    void operator()(GDALDataset* d) const { GDALClose(GDALDataset::ToHandle(d)); }
};
using DatasetPtr = std::unique_ptr<GDALDataset, DatasetCloser>;

// The entity names a drawing's ENTITIES section may hold (group code 0), and ENDSEC.
bool knownDrawingEntity(std::string_view name) {
    static constexpr std::string_view kNames[] = {
        "3DFACE", "3DSOLID",  "ACAD_PROXY_ENTITY", "ARC",    "ATTDEF",    "ATTRIB",  "BODY",     "CIRCLE",
        "DIMENSION", "ELLIPSE", "ENDSEC",          "HATCH",  "HELIX",     "IMAGE",   "INSERT",   "LEADER",
        "LIGHT",  "LINE",     "LWPOLYLINE",        "MESH",   "MLINE",     "MLEADER", "MTEXT",    "MULTILEADER",
        "OLE2FRAME", "OLEFRAME", "POINT",          "POLYLINE", "RAY",     "REGION",  "SECTION",  "SEQEND",
        "SHAPE",  "SOLID",    "SPLINE",            "SUN",    "SURFACE",   "TABLE",   "TEXT",     "TOLERANCE",
        "TRACE",  "UNDERLAY", "VERTEX",            "VIEWPORT", "WIPEOUT", "XLINE",   "PDFUNDERLAY", "DGNUNDERLAY",
        "DWFUNDERLAY", "ARC_DIMENSION", "LARGE_RADIAL_DIMENSION"};
    return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

// GDAL reads a damaged text drawing or GeoJSON file in part without a word: a line of a
// drawing out of step (a group code that is no number), an entity of no known kind (a slip
// in its name, or other sections' lines inside the entities), a drawing without its closing
// "EOF", a NUL byte inside either text. What is wrong, or nothing.
std::optional<std::string> textLayerDamage(const std::string& path, const std::string& driver) {
    if (driver != "DXF" && driver != "GeoJSON") {
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt; // GDAL opened it: a path of its own syntax, checked by GDAL
    }
    std::string line;
    if (driver == "GeoJSON") {
        char buffer[65536];
        while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
            if (std::memchr(buffer, '\0', static_cast<std::size_t>(in.gcount())) != nullptr) {
                return std::string("IL FILE CONTIENE BYTE NULLI: E' DANNEGGIATO");
            }
        }
        return std::nullopt;
    }
    const auto trimmed = [](std::string& t) {
        while (!t.empty() && (t.back() == '\r' || t.back() == ' ' || t.back() == '\t')) {
            t.pop_back();
        }
        std::size_t b = 0;
        while (b < t.size() && (t[b] == ' ' || t[b] == '\t')) {
            ++b;
        }
        t.erase(0, b);
    };
    if (!std::getline(in, line)) {
        return std::nullopt;
    }
    if (line.rfind("AutoCAD Binary DXF", 0) == 0) {
        return std::nullopt; // a binary drawing: GDAL reads it by its own record lengths
    }
    in.seekg(0);
    long number = 0;
    bool inEntities = false;
    bool ended = false;
    std::string code, value;
    while (std::getline(in, code)) {
        ++number;
        if (!std::getline(in, value)) {
            return "DISEGNO INCOMPLETO: MANCA IL VALORE DELLA RIGA " + std::to_string(number);
        }
        ++number;
        if (code.find('\0') != std::string::npos || value.find('\0') != std::string::npos) {
            return "IL DISEGNO CONTIENE BYTE NULLI ALLA RIGA " + std::to_string(number - 1);
        }
        trimmed(code);
        trimmed(value);
        int group = 0;
        const auto [end, ec] = std::from_chars(code.data(), code.data() + code.size(), group);
        if (code.empty() || ec != std::errc() || end != code.data() + code.size()) {
            return "DISEGNO DANNEGGIATO: CODICE DI GRUPPO NON VALIDO ALLA RIGA " + std::to_string(number - 1);
        }
        if (group == 2 && value == "ENTITIES") {
            inEntities = true;
        } else if (group == 0 && value == "ENDSEC") {
            inEntities = false;
        } else if (group == 0 && value == "EOF") {
            ended = true;
            break;
        } else if (inEntities && group == 0 && !knownDrawingEntity(value)) {
            return "DISEGNO DANNEGGIATO: ELEMENTO DI TIPO SCONOSCIUTO \"" + value + "\" ALLA RIGA " +
                   std::to_string(number);
        }
    }
    if (!ended) {
        return std::string("DISEGNO INCOMPLETO: MANCA LA FINE DEL FILE (EOF)");
    }
    return std::nullopt;
}

// The record count a shapefile's index (.shx) and attribute table (.dbf) announce in their
// headers; a message when they differ, as GDAL then reads the fewer without a word.
std::optional<std::string> shapefileCountMismatch(GDALDataset& ds, const std::string& layerName) {
    if (ds.GetDriver() == nullptr || std::string(ds.GetDriver()->GetDescription()) != "ESRI Shapefile") {
        return std::nullopt;
    }
    std::string shx, dbf;
    char** files = ds.GetFileList();
    for (char** f = files; f != nullptr && *f != nullptr; ++f) {
        const fs::path p(*f);
        if (asciiLowerCase(p.stem().string()) != asciiLowerCase(layerName)) {
            continue;
        }
        const std::string ext = gisExtension(p.string());
        if (ext == ".shx") {
            shx = p.string();
        } else if (ext == ".dbf") {
            dbf = p.string();
        }
    }
    CSLDestroy(files);
    if (shx.empty() || dbf.empty()) {
        return std::nullopt;
    }
    const auto header = [](const std::string& path, std::size_t n) {
        std::string bytes(n, '\0');
        std::ifstream in(path, std::ios::binary);
        in.read(bytes.data(), static_cast<std::streamsize>(n));
        return in ? bytes : std::string();
    };
    const std::string h1 = header(shx, 100), h2 = header(dbf, 8);
    if (h1.empty() || h2.empty()) {
        return std::string("INTESTAZIONE DEL FILE .shx O .dbf INCOMPLETA");
    }
    const auto byte = [](const std::string& h, std::size_t i) {
        return static_cast<unsigned long long>(static_cast<unsigned char>(h[i]));
    };
    // .shx: the file length in 16-bit words (big-endian), a 100-byte header and 8 bytes a record.
    const unsigned long long words = byte(h1, 24) << 24 | byte(h1, 25) << 16 | byte(h1, 26) << 8 | byte(h1, 27);
    const unsigned long long shxCount = words * 2 >= 100 ? (words * 2 - 100) / 8 : 0;
    // .dbf: the record count (little-endian) at byte 4.
    const unsigned long long dbfCount = byte(h2, 4) | byte(h2, 5) << 8 | byte(h2, 6) << 16 | byte(h2, 7) << 24;
    if (shxCount == dbfCount) {
        return std::nullopt;
    }
    return "IL FILE .shx HA " + std::to_string(shxCount) + " ELEMENTI, IL FILE .dbf " + std::to_string(dbfCount);
}

// Whether a shapefile layer has a .prj beside it (GDAL ignores one it cannot read).
bool hasProjectionFile(GDALDataset& ds, const std::string& layerName) {
    if (ds.GetDriver() == nullptr || std::string(ds.GetDriver()->GetDescription()) != "ESRI Shapefile") {
        return false;
    }
    // Not in GDAL's list of the dataset's files when it could not read it: looked for beside the .shp.
    bool found = false;
    char** files = ds.GetFileList();
    for (char** f = files; f != nullptr && *f != nullptr; ++f) {
        fs::path p(*f);
        if (asciiLowerCase(p.stem().string()) == asciiLowerCase(layerName) && gisExtension(p.string()) == ".shp") {
            std::error_code ec;
            found = found || fs::exists(fs::path(p).replace_extension(".prj"), ec) ||
                    fs::exists(p.replace_extension(".PRJ"), ec);
        }
    }
    CSLDestroy(files);
    return found;
}

// A field name not yet in the layer: `base`, else base_1, base_2 ...
std::string freeFieldName(OGRFeatureDefn& defn, const std::string& base) {
    std::string name = base;
    for (int i = 1; defn.GetFieldIndex(name.c_str()) >= 0; ++i) {
        name = base + "_" + std::to_string(i);
    }
    return name;
}

// The spatial reference of the result: the target's EPSG code, or (ETRF89 "Fuso Italia",
// which has none) its projection on IGM95 written out. ROMA40 geographic is 4265, or 4806
// when the results were asked for in it.
bool targetReference(const SelectionState& sel, bool fromMonteMario, OGRSpatialReference& srs) {
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    if (const std::optional<int> code = epsgCode(sel.outputSystem, sel.outputKind, sel.outputZone, fromMonteMario)) {
        return srs.importFromEPSG(*code) == OGRERR_NONE;
    }
    const ZoneInfo zi = zoneInfo(sel.outputSystem, sel.outputZone);
    if (!zi.valid || srs.importFromEPSG(4670) != OGRERR_NONE) {
        return false;
    }
    srs.SetProjCS("IGM95 / Fuso Italia");
    srs.SetTM(0.0, zi.centralMeridian, zi.scale, zi.falseEasting, 0.0);
    return true;
}

// The reference of the run's data: the EPSG code of its system, kind and zone, or (ETRF89
// "Fuso Italia") its projection on IGM95 written out. False for plane input in the automatic
// zone, which names no single reference.
bool inputReference(const SelectionState& sel, bool fromMonteMario, OGRSpatialReference& srs) {
    SelectionState asOutput = sel;
    asOutput.outputSystem = sel.inputSystem;
    asOutput.outputKind = sel.inputKind;
    asOutput.outputZone = sel.inputZone;
    if (sel.inputKind == CoordKind::Plane && sel.inputZone == Zone::Auto) {
        return false;
    }
    return targetReference(asOutput, fromMonteMario, srs);
}

// The run's data reference in words: "EPSG:3004", or the system, kind and zone.
std::string selectionWords(const SelectionState& sel, bool fromMonteMario) {
    if (const std::optional<int> code = epsgCode(sel.inputSystem, sel.inputKind, sel.inputZone, fromMonteMario)) {
        return "EPSG:" + std::to_string(*code);
    }
    std::string words(systemName(sel.inputSystem));
    if (sel.inputKind == CoordKind::Geographic) {
        return words + " GEOGRAFICHE";
    }
    const ZoneInfo zi = zoneInfo(sel.inputSystem, sel.inputZone);
    return words + " PIANE, FUSO " + (zi.valid ? asciiUpperCase(zi.text) : std::string("AUTOMATICO"));
}

// A GeoPackage layer without a reference has srs_id 0 or -1, which GDAL gives as a reference
// of these names: no reference at all.
bool isUndefinedReference(const OGRSpatialReference& srs) {
    const char* name = srs.GetName();
    return name != nullptr &&
           (std::string(name) == "Undefined geographic SRS" || std::string(name) == "Undefined Cartesian SRS");
}

// The EPSG code of a spatial reference: its own, else the one PROJ finds it the same as
// (confidence 90 and over: the same definition, names or axis order aside).
std::optional<int> identifyEpsg(const OGRSpatialReference& srs) {
    const char* authority = srs.GetAuthorityName(nullptr);
    const char* code = srs.GetAuthorityCode(nullptr);
    if (authority != nullptr && code != nullptr && std::string(authority) == "EPSG") {
        return std::atoi(code);
    }
    int count = 0;
    int* confidence = nullptr;
    OGRSpatialReferenceH* matches = srs.FindMatches(nullptr, &count, &confidence);
    std::optional<int> found;
    if (count > 0 && confidence != nullptr && confidence[0] >= 90) {
        const OGRSpatialReference* best = OGRSpatialReference::FromHandle(matches[0]);
        const char* a = best->GetAuthorityName(nullptr);
        const char* c = best->GetAuthorityCode(nullptr);
        if (a != nullptr && c != nullptr && std::string(a) == "EPSG") {
            found = std::atoi(c);
        }
    }
    if (matches != nullptr) {
        OSRFreeSRSArray(matches);
    }
    CPLFree(confidence);
    return found;
}

// The files a result is written as and beside: a shapefile's sidecars, a GeoPackage's
// journals, a text layer's types and reference (extensions in both cases).
std::vector<std::string> resultFiles(const std::string& result) {
    std::vector<std::string> files = {result};
    const std::string ext = gisExtension(result);
    const std::string stem = fs::path(result).replace_extension().string();
    std::vector<const char*> sidecars;
    if (ext == ".shp") {
        sidecars = {".shx", ".dbf", ".prj", ".cpg", ".qix", ".sbn", ".sbx", ".shp.xml"};
    } else if (ext == ".csv") {
        sidecars = {".csvt", ".prj"};
    } else if (ext == ".gpkg") {
        for (const char* suffix : {"-wal", "-shm", "-journal"}) {
            files.push_back(result + suffix);
        }
    }
    for (const char* sidecar : sidecars) {
        files.push_back(stem + sidecar);
        files.push_back(stem + asciiUpperCase(sidecar));
    }
    return files;
}

// The columns of a delimited text file, resolved to field indexes.
struct TextColumns {
    int name = -1, north = -1, east = -1, height = -1;
};

// A column given by a header name (any case) or by a 1-based number.
int resolveColumn(OGRFeatureDefn& defn, const std::string& word) {
    const bool number =
        !word.empty() && std::all_of(word.begin(), word.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
    if (number) {
        const int n = std::atoi(word.c_str());
        return n >= 1 && n <= defn.GetFieldCount() ? n - 1 : -1;
    }
    for (int i = 0; i < defn.GetFieldCount(); ++i) {
        if (asciiLowerCase(defn.GetFieldDefn(i)->GetNameRef()) == asciiLowerCase(word)) {
            return i;
        }
    }
    return -1;
}

// A reading error for a feature: the row of a text file, or the feature number of a layer.
Message readingError(detail::FieldSlot slot, CoordKind kind, long number, bool text) {
    ReadEvent ev;
    detail::setReadingError(ev, slot, kind, number);
    if (!text) {
        ev.message.lines[1] = "ALL'ELEMENTO:     " + std::to_string(number) + "    DEL FILE DI INPUT";
    }
    return ev.message;
}

// Asks the system to write every file of a folder, and the folder itself, to the disk; the
// errno of the first that failed, 0 when none did.
int syncFolder(const fs::path& folder) {
    std::error_code ec;
    int failed = 0;
    for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
        if (!e.is_regular_file(ec)) {
            continue;
        }
        const int fd = ::open(e.path().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::fsync(fd) != 0) {
            failed = failed != 0 ? failed : errno;
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
    if (ec) {
        return ec.value();
    }
    const int dfd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0 || ::fsync(dfd) != 0) {
        failed = failed != 0 ? failed : errno;
    }
    if (dfd >= 0) {
        ::close(dfd);
    }
    return failed;
}

// Whether `name` is a file of the shapefile `stem` (the same stem, a shapefile's extension
// in any case): an older result's index or code page left beside a new .dbf misleads readers.
bool shapefileSibling(const std::string& name, const std::string& stem) {
    static const char* const extensions[] = {"shp", "shx", "dbf",     "prj", "cpg", "qix", "sbn", "sbx",
                                             "fix", "qpj", "shp.xml", "aih", "ain", "atx", "ixs", "mxs"};
    if (name.size() <= stem.size() + 1 || name.compare(0, stem.size(), stem) != 0 || name[stem.size()] != '.') {
        return false;
    }
    const std::string ext = asciiLowerCase(name.substr(stem.size() + 1));
    return std::any_of(std::begin(extensions), std::end(extensions), [&](const char* e) { return ext == e; });
}

// Moves every file of the scratch folder to the result's folder, the result last. A
// shapefile replaces the whole set: files of the old set that the new one lacks go before
// the .shp takes its place.
bool moveIntoPlace(const fs::path& scratch, const fs::path& result, std::string& cause) {
    const fs::path folder = result.has_parent_path() ? result.parent_path() : fs::path(".");
    std::vector<fs::path> files;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(scratch, ec)) {
        files.push_back(e.path());
    }
    if (ec) {
        cause = systemErrorText(ec.value());
        return false;
    }
    std::stable_partition(files.begin(), files.end(),
                          [&result](const fs::path& p) { return p.filename() != result.filename(); });
    const bool shapefile = asciiLowerCase(result.extension().string()) == ".shp";
    for (const fs::path& f : files) {
        if (shapefile && f.filename() == result.filename()) {
            const std::string stem = result.stem().string();
            for (const fs::directory_entry& e : fs::directory_iterator(folder, ec)) {
                const std::string name = e.path().filename().string();
                const bool inNewSet =
                    std::any_of(files.begin(), files.end(), [&](const fs::path& n) { return n.filename() == name; });
                if (!inNewSet && shapefileSibling(name, stem) && e.is_regular_file(ec)) {
                    fs::remove(e.path(), ec);
                }
            }
        }
        fs::rename(f, folder / f.filename(), ec);
        if (ec) {
            cause = systemErrorText(ec.value());
            return false;
        }
    }
    if (const int err = syncFolder(folder); err != 0) {
        cause = systemErrorText(err);
        return false;
    }
    return true;
}

// How an attribute goes into the result: as it is, as text (a type the format lacks), or
// checked against what the format holds (a shapefile's 254 bytes of text, its number widths).
enum class FieldMode { Copy, Text, CheckedText, CheckedNumber };

// Shapefiles hold at most 254 bytes of text in a field.
constexpr std::size_t kShapefileTextBytes = 254;

struct FieldWrite {
    FieldMode mode = FieldMode::Copy;
    std::string name; // the input field's
    OGRFieldType type = OFTString;
    int width = 0, precision = 0; // CheckedNumber: the result field's
    long asText = 0, cut = 0, dropped = 0;
};

// Cuts a UTF-8 text to at most `bytes` bytes at a character boundary; true when it was longer.
bool cutText(std::string& s, std::size_t bytes) {
    if (s.size() <= bytes) {
        return false;
    }
    std::size_t n = bytes;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) {
        --n;
    }
    s.resize(n);
    return true;
}

class GisRun {
public:
    GisRun(const BatchRequest& req, const BatchCallbacks& cb)
        : req_(req), cb_(cb), conv_(req.ctx, req.outputEpsg == kEpsgRoma40MonteMario) {
        conv_.setInputFromMonteMario(req.inputEpsg == kEpsgRoma40MonteMario);
    }

    BatchOutcome run();

private:
    std::optional<Message> openInput();
    std::optional<Message> openText();
    std::optional<Message> checkLayerReference();
    std::optional<Message> checkNotOverwritten() const;
    std::optional<Message> resolveTextColumns(const std::vector<std::string>& words);
    std::optional<Message> chooseLayers();
    std::optional<Message> checkExistingResult();
    std::optional<Message> createOutput(GDALDataset& out, const std::string& layerName);
    std::optional<Message> writeResult(const fs::path& scratchResult, GdalFailures& failures);
    void copyFields(OGRFeature& in, OGRFeature& out);
    void reportFieldChanges(std::size_t layer);
    Message writeFailure(const std::string& what, const std::string& gdalText = {}) const;
    // GDAL's text of the first failure while writing; empty when it reported none.
    std::string writeText() const { return failures_ != nullptr && failures_->any ? failures_->first : std::string(); }
    // Reads, converts and writes one feature; a message when the run must stop.
    std::optional<Message> convertFeature(OGRFeature& in, long number);
    bool readTextPoint(OGRFeature& in, long row, double& x, double& y, double& z);
    // The next feature of the input, or null at its end and when GDAL could not read it
    // (readFailure_ then says why).
    OGRFeature* nextFeature(long number);
    // After the last feature: the failure when the file announced more features than were read.
    std::optional<Message> checkAfterReading(long read);

    GdalMessages gdal_; // first: it outlives the datasets, whose closing GDAL may comment on
    std::unique_ptr<DelimitedTextLayer> textLayer_;
    std::optional<Message> readFailure_;
    const BatchRequest& req_;
    const BatchCallbacks& cb_;
    ChainConverter conv_;
    DatasetPtr input_;
    OGRLayer* inLayer_ = nullptr;
    bool text_ = false; // a delimited text file (columns), not a layer with geometries
    char delimiter_ = ',';
    TextColumns columns_;
    OGRLayer* outLayer_ = nullptr;
    bool textOut_ = false;
    int zoneField_ = -1, statusField_ = -1;
    std::vector<int> fieldMap_;
    std::vector<FieldWrite> writes_; // by input field, beside fieldMap_
    std::string driverName_;
    bool drawing_ = false; // DXF: no attributes, and no feature without geometry
    long leftOut_ = 0;     // features a drawing could not hold
    long noGeometryCount_ = 0;
    std::vector<OGRLayer*> layers_;
    std::vector<std::string> outNames_;    // the output layer of each
    bool copyOld_ = false;                 // --update on an existing GeoPackage
    GdalFailures* failures_ = nullptr;     // GDAL's failures while writing
    std::vector<std::string> changeLines_; // the summary's lines about changed values
    BatchOutcome out_;
};

std::optional<Message> GisRun::openInput() {
    if (gisExtension(req_.dataPath) == ".csv") {
        return openText();
    }
    // A layer is read from a file on disk (or a folder of them): a device or a pipe could be
    // read without end.
    struct stat st {};
    if (req_.dataPath.find(':') == std::string::npos && ::stat(req_.dataPath.c_str(), &st) == 0 &&
        !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        return detail::openFailureMessage(req_.dataPath, notRegularCause(st.st_mode, "un livello gis"));
    }
    CPLErrorReset();
    gdal_.clear();
    input_.reset(GDALDataset::Open(req_.dataPath.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    if (!input_ || input_->GetLayerCount() < 1) {
        std::string cause = !input_ ? "GDAL NON LO LEGGE COME LIVELLO GIS" : "NESSUN LIVELLO LEGGIBILE NEL FILE";
        // A plain path (not GDAL's "DRIVER:file:layer" nor a /vsi path) that is no file at all.
        if (!input_ && req_.dataPath.find(':') == std::string::npos && req_.dataPath.rfind("/vsi", 0) != 0 &&
            ::stat(req_.dataPath.c_str(), &st) != 0) {
            cause = systemErrorText(errno);
        }
        Message m = detail::openFailureMessage(req_.dataPath, cause);
        if (gdal_.any()) {
            m.lines.push_back("MESSAGGIO DI GDAL: " + gdal_.text());
        }
        return m;
    }
    inLayer_ = input_->GetLayer(0);
    if (gdal_.any()) {
        return damagedInputMessage(req_.dataPath, "IL FILE NON SI LEGGE PER INTERO", gdal_.text());
    }
    if (std::optional<std::string> damage =
            textLayerDamage(req_.dataPath, input_->GetDriver() != nullptr ? input_->GetDriver()->GetDescription() : "")) {
        return damagedInputMessage(req_.dataPath, *damage, "");
    }
    // Each chosen layer's own checks (counts, reference) come when the layers are chosen.
    return checkNotOverwritten();
}

// The result, once moved into place, must replace none of the files the input is read from:
// every file of the input dataset (a folder of shapefiles, GDAL's "GPKG:file:layer") against
// the result and every file written beside it, by identity (device and inode), not by name.
std::optional<Message> GisRun::checkNotOverwritten() const {
    std::vector<std::string> inputs;
    if (text_) {
        inputs.push_back(req_.dataPath);
    } else {
        if (char** files = input_->GetFileList()) {
            for (char** f = files; *f != nullptr; ++f) {
                inputs.emplace_back(*f);
            }
            CSLDestroy(files);
        }
        // GDAL's "GPKG:file.gpkg:layer" lists no file: every part of the name after the
        // driver's that ends before a colon, or at the end, may be the file.
        const std::string& name = req_.dataPath;
        for (std::size_t colon = name.find(':'); colon != std::string::npos; colon = name.find(':', colon + 1)) {
            const std::size_t from = name.find(':') + 1;
            if (colon >= from) {
                inputs.push_back(name.substr(from, colon - from));
            }
        }
        inputs.push_back(name.substr(name.find(':') + 1));
        inputs.push_back(name);
    }
    const auto identity = [](const std::string& path) -> std::optional<std::pair<dev_t, ino_t>> {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) {
            return std::nullopt;
        }
        return std::make_pair(st.st_dev, st.st_ino);
    };
    std::vector<std::pair<std::pair<dev_t, ino_t>, std::string>> read;
    for (const std::string& f : inputs) {
        if (const auto id = identity(f)) {
            read.emplace_back(*id, f);
        }
    }
    for (const std::string& f : resultFiles(req_.resultPath)) {
        const auto id = identity(f);
        for (const auto& [inputId, inputPath] : read) {
            if (id && *id == inputId) {
                return Message{MessageIcon::Warning,
                               kAppTitle,
                               {"IL FILE DI INPUT E QUELLO  ", "DI OUTPUT SONO LO STESSO",
                                "FILE DEI DATI: " + inputPath, "FILE DEI RISULTATI: " + f}};
            }
        }
    }
    return std::nullopt;
}

OGRFeature* GisRun::nextFeature(long number) {
    gdal_.clear();
    std::unique_ptr<OGRFeature> f(inLayer_->GetNextFeature());
    if (textLayer_ && textLayer_->failure()) {
        readFailure_ = detail::readFailureMessage(req_.dataPath, *textLayer_->failure());
        return nullptr;
    }
    if (gdal_.any()) {
        readFailure_ = damagedInputMessage(
            req_.dataPath, "IL FILE NON SI LEGGE PER INTERO: ERRORE ALL'ELEMENTO " + std::to_string(number),
            gdal_.text());
        return nullptr;
    }
    return f.release();
}

std::optional<Message> GisRun::checkAfterReading(long read) {
    if (readFailure_) {
        return readFailure_;
    }
    // A count the file holds (a shapefile's .dbf header, a GeoPackage's table of contents)
    // against the features GDAL gave: fewer means some were lost on the way.
    if (!text_ && inLayer_->TestCapability(OLCFastFeatureCount)) {
        const GIntBig announced = inLayer_->GetFeatureCount(FALSE);
        if (announced >= 0 && announced != read) {
            return damagedInputMessage(req_.dataPath,
                                       "IL FILE ANNUNCIA " + std::to_string(announced) +
                                           " ELEMENTI, NE SONO STATI LETTI " + std::to_string(read),
                                       gdal_.text());
        }
    }
    return std::nullopt;
}

// A layer's spatial reference must be the one the run reads (--from): a layer in WGS84 read
// as ROMA40, or in Gauss-Boaga Est read as Ovest, would be converted to nonsense without a
// word. The reference is known by its EPSG code, or by the code PROJ identifies it as (a
// shapefile's .prj and many GeoJSON files carry none); one that no code matches is compared
// with the run's own. A layer without a reference is read as the run says. A ROMA40
// geographic layer's longitudes are read as its code counts them (4806 from Monte Mario,
// 4265 from Greenwich); a side named by the other of the two codes is refused.
std::optional<Message> GisRun::checkLayerReference() {
    if (text_) {
        return std::nullopt; // delimited text carries no reference
    }
    gdal_.clear();
    const OGRSpatialReference* srs = inLayer_->GetSpatialRef();
    // A reference GDAL could not read (a damaged .prj) is not taken for none.
    if (gdal_.any()) {
        return damagedInputMessage(req_.dataPath, "IL SISTEMA DI RIFERIMENTO DEL LIVELLO NON SI LEGGE", gdal_.text());
    }
    if (srs == nullptr && hasProjectionFile(*input_, inLayer_->GetName())) {
        return damagedInputMessage(req_.dataPath, "IL FILE .prj DEL LIVELLO NON SI LEGGE", "");
    }
    if (srs == nullptr || srs->IsEmpty() || isUndefinedReference(*srs)) {
        return std::nullopt;
    }
    const std::optional<int> code = identifyEpsg(*srs);
    const SelectionState& sel = req_.ctx.sel;
    std::string layerWords = code ? "EPSG:" + std::to_string(*code) : std::string();
    const char* name = srs->GetName();
    if (name != nullptr && *name != '\0') {
        layerWords += (layerWords.empty() ? "\"" : " (\"") + std::string(name) + "\"" + (code ? ")" : "");
    }
    if (const std::optional<EpsgCrs> crs = code ? crsFromEpsg(*code) : std::nullopt) {
        const bool zoneAgrees =
            crs->kind == CoordKind::Geographic || sel.inputZone == Zone::Auto || crs->zone == sel.inputZone;
        const bool named = req_.inputEpsg == kEpsgRoma40Greenwich || req_.inputEpsg == kEpsgRoma40MonteMario;
        const bool meridianAgrees = !named || crs->fromMonteMario == (req_.inputEpsg == kEpsgRoma40MonteMario);
        if (crs->system == sel.inputSystem && crs->kind == sel.inputKind && zoneAgrees && meridianAgrees) {
            if (crs->system == RefSystem::Roma40 && crs->kind == CoordKind::Geographic) {
                conv_.setInputFromMonteMario(crs->fromMonteMario);
            }
            return std::nullopt;
        }
    } else if (!code) {
        // No code: the run's own reference, compared as PROJ does (axis order aside).
        OGRSpatialReference own;
        const char* options[] = {"IGNORE_DATA_AXIS_TO_SRS_AXIS_MAPPING=YES",
                                 "CRITERION=EQUIVALENT_EXCEPT_AXIS_ORDER_GEOGCRS", nullptr};
        if (inputReference(sel, req_.inputEpsg == kEpsgRoma40MonteMario, own) && srs->IsSame(&own, options)) {
            return std::nullopt;
        }
    }
    gdal_.clear();
    Message m = detail::openFailureMessage(req_.dataPath, "IL LIVELLO E' NEL SISTEMA " + layerWords);
    if (!crsFromEpsg(code.value_or(0))) {
        m.lines.push_back("CHE NON E' TRA I SISTEMI DEL PROGRAMMA,");
    }
    m.lines.push_back("NON IN QUELLO DEI DATI INDICATO: " +
                      selectionWords(sel, req_.inputEpsg == kEpsgRoma40MonteMario));
    return m;
}

// A delimited text file is read by its own streaming reader (see gis_csv.h): its fields are
// typed when the result keeps types, text for a text result, which then gets every number
// as the file had it.
std::optional<Message> GisRun::openText() {
    text_ = true;
    std::vector<std::string> words = req_.gisColumns;
    if (words.empty()) {
        words = {"1", "2", "3", "4"};
    }
    std::string cause;
    textLayer_ = DelimitedTextLayer::open(req_.dataPath, req_.gisDelimiter, req_.gisColumns, !textOut_, cause);
    if (!textLayer_) {
        return detail::openFailureMessage(req_.dataPath, cause);
    }
    inLayer_ = textLayer_.get();
    delimiter_ = textLayer_->delimiter();
    if (std::optional<Message> m = resolveTextColumns(words)) {
        return m;
    }
    return checkNotOverwritten();
}

std::optional<Message> GisRun::resolveTextColumns(const std::vector<std::string>& words) {
    OGRFeatureDefn& defn = *inLayer_->GetLayerDefn();
    int* slots[] = {&columns_.name, &columns_.north, &columns_.east, &columns_.height};
    const std::size_t wanted = req_.ctx.heights ? 4 : 3;
    if (words.size() < wanted) {
        return detail::openFailureMessage(req_.dataPath, "MANCA LA COLONNA DELLA QUOTA (--columns NOME,N,E,H)");
    }
    for (std::size_t i = 0; i < wanted; ++i) {
        *slots[i] = resolveColumn(defn, words[i]);
        if (*slots[i] < 0) {
            return detail::openFailureMessage(req_.dataPath, "COLONNA NON TROVATA: " + words[i]);
        }
    }
    return std::nullopt;
}

Message GisRun::writeFailure(const std::string& what, const std::string& gdalText) const {
    std::vector<std::string> lines = {"IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI", req_.resultPath, what};
    if (!gdalText.empty()) {
        lines.push_back("(GDAL: " + gdalText + ")");
    } else if (const int err = watchedWriteError(); err != 0) {
        lines.push_back(systemErrorText(err));
    }
    return failureMessage(std::move(lines));
}

// The layers to convert and the names of the layers they become: those named by --layer, else
// every layer of the file (a delimited text file is one, named as the file). A result format
// of one layer takes one only.
std::optional<Message> GisRun::chooseLayers() {
    std::vector<std::pair<std::string, OGRLayer*>> all;
    if (text_) {
        all.emplace_back(fs::path(req_.dataPath).stem().string(), inLayer_);
    } else {
        for (int i = 0; i < input_->GetLayerCount(); ++i) {
            all.emplace_back(input_->GetLayer(i)->GetName(), input_->GetLayer(i));
        }
    }
    const auto names = [](const std::vector<std::pair<std::string, OGRLayer*>>& list) {
        std::string t;
        for (const auto& l : list) {
            t += (t.empty() ? "" : ", ") + l.first;
        }
        return t;
    };
    std::vector<std::pair<std::string, OGRLayer*>> chosen;
    for (const std::string& wanted : req_.gisLayers) {
        const auto it = std::find_if(all.begin(), all.end(), [&](const auto& l) { return l.first == wanted; });
        if (it == all.end()) {
            return detail::openFailureMessage(req_.dataPath, "LIVELLO NON TROVATO: " + wanted +
                                                                 " (LIVELLI DEL FILE: " + names(all) + ")");
        }
        if (std::none_of(chosen.begin(), chosen.end(), [&](const auto& l) { return l.first == wanted; })) {
            chosen.push_back(*it);
        }
    }
    if (chosen.empty()) {
        chosen = all;
    }
    if (chosen.size() > 1 && driverName_ != "GPKG") {
        return failureMessage({"IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI", req_.resultPath,
                               "IL FILE DEI DATI HA PIU' LIVELLI: " + names(chosen),
                               "UN FILE " + gisExtension(req_.resultPath) +
                                   " NE CONTIENE UNO SOLO: INDICARE --layer NOME O UN RISULTATO .gpkg"});
    }
    if (chosen.size() > 1 && !req_.gisLayerName.empty()) {
        return failureMessage({"IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI", req_.resultPath,
                               "--nln RINOMINA UN SOLO LIVELLO; I LIVELLI DA CONVERTIRE SONO: " + names(chosen)});
    }
    for (const auto& [name, layer] : chosen) {
        inLayer_ = layer;
        if (!text_) {
            if (std::optional<std::string> mismatch = shapefileCountMismatch(*input_, layer->GetName())) {
                return damagedInputMessage(req_.dataPath, *mismatch, "");
            }
        }
        if (std::optional<Message> m = checkLayerReference()) {
            return m;
        }
        layers_.push_back(layer);
        outNames_.push_back(req_.gisLayerName.empty() ? name : req_.gisLayerName);
    }
    return std::nullopt;
}

// A GeoPackage result that exists and holds layers other than those written is replaced
// only as a whole when asked to (without --update it is refused); with --update it is copied
// and changed in the copy, which then takes its place.
std::optional<Message> GisRun::checkExistingResult() {
    std::error_code ec;
    if (driverName_ != "GPKG" || !fs::exists(req_.resultPath, ec)) {
        return std::nullopt;
    }
    const char* const drivers[] = {"GPKG", nullptr};
    CPLErrorReset();
    DatasetPtr old(static_cast<GDALDataset*>(
        GDALOpenEx(req_.resultPath.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, drivers, nullptr, nullptr)));
    if (!old) {
        if (req_.gisUpdate) {
            return writeFailure("IL FILE ESISTENTE NON E' UN GEOPACKAGE LEGGIBILE (--update)", gdalCause(""));
        }
        return std::nullopt;
    }
    std::string others;
    for (int i = 0; i < old->GetLayerCount(); ++i) {
        const std::string name = old->GetLayer(i)->GetName();
        const bool written = std::any_of(outNames_.begin(), outNames_.end(), [&](const std::string& n) {
            return asciiLowerCase(n) == asciiLowerCase(name);
        });
        if (!written) {
            others += (others.empty() ? "" : ", ") + name;
        }
    }
    if (!others.empty() && !req_.gisUpdate) {
        return failureMessage({"IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI", req_.resultPath,
                               "IL GEOPACKAGE CONTIENE ALTRI LIVELLI: " + others,
                               "PER AGGIUNGERE O SOSTITUIRE SOLO I LIVELLI CONVERTITI: --update"});
    }
    copyOld_ = req_.gisUpdate;
    return std::nullopt;
}

std::optional<Message> GisRun::createOutput(GDALDataset& out, const std::string& layerName) {
    OGRSpatialReference srs;
    if (!targetReference(req_.ctx.sel, req_.outputEpsg == kEpsgRoma40MonteMario, srs)) {
        return failureMessage({"IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI", req_.resultPath,
                               "SISTEMA DI RIFERIMENTO DEI RISULTATI SENZA CODICE EPSG"});
    }
    OGRFeatureDefn& inDefn = *inLayer_->GetLayerDefn();
    OGRwkbGeometryType type = text_ ? wkbPoint : inLayer_->GetGeomType();
    if (req_.ctx.heights) {
        type = OGR_GT_SetZ(type);
    }
    const bool shapefile = driverName_ == "ESRI Shapefile";
    std::vector<std::string> reserved; // names the format keeps for itself
    char** options = nullptr;
    if (textOut_) {
        options = CSLSetNameValue(options, "SEPARATOR",
                                  separatorOption(req_.gisDelimiter != 0 ? req_.gisDelimiter : delimiter_));
        // Numbers written as text stay unquoted, as the data file had them.
        options = CSLSetNameValue(options, "STRING_QUOTING", "IF_NEEDED");
        if (!text_ && wkbFlatten(type) == wkbPoint) {
            options = CSLSetNameValue(options, "GEOMETRY", req_.ctx.heights ? "AS_XYZ" : "AS_XY");
            reserved = {"X", "Y"};
            if (req_.ctx.heights) {
                reserved.emplace_back("Z");
            }
        } else if (!text_) {
            options = CSLSetNameValue(options, "GEOMETRY", "AS_WKT");
            reserved = {"WKT"};
        }
    }
    if (shapefile) {
        // UTF-8 with its .cpg: any character is kept, not only those of Latin-1.
        options = CSLSetNameValue(options, "ENCODING", "UTF-8");
    }
    outLayer_ = out.CreateLayer(layerName.c_str(), &srs, textOut_ && text_ ? wkbNone : type, options);
    CSLDestroy(options);
    if (outLayer_ == nullptr) {
        return writeFailure("LIVELLO NON CREATO: " + layerName, writeText());
    }
    for (const char* column : {outLayer_->GetFIDColumn(), outLayer_->GetGeometryColumn()}) {
        if (column != nullptr && *column != '\0') {
            reserved.emplace_back(column);
        }
    }
    fieldMap_.assign(static_cast<std::size_t>(inDefn.GetFieldCount()), -1);
    writes_.assign(static_cast<std::size_t>(inDefn.GetFieldCount()), FieldWrite{});
    // DXF has a fixed set of fields and keeps none of the layer's own, nor the added ones:
    // a drawing gets the converted geometries only.
    if (drawing_) {
        return std::nullopt;
    }
    const auto isReserved = [&](const std::string& name) {
        return std::any_of(reserved.begin(), reserved.end(),
                           [&](const std::string& r) { return asciiLowerCase(r) == asciiLowerCase(name); });
    };
    for (int i = 0; i < inDefn.GetFieldCount(); ++i) {
        OGRFieldDefn field(inDefn.GetFieldDefn(i));
        FieldWrite& w = writes_[static_cast<std::size_t>(i)];
        w.name = field.GetNameRef();
        w.type = field.GetType();
        if (isReserved(w.name)) {
            std::string name;
            for (int k = 1;
                 name.empty() || isReserved(name) || outLayer_->GetLayerDefn()->GetFieldIndex(name.c_str()) >= 0; ++k) {
                name = w.name + "_" + std::to_string(k);
            }
            field.SetName(name.c_str());
        }
        if (shapefile) {
            switch (w.type) {
            case OFTString:
                w.mode = FieldMode::CheckedText;
                if (field.GetWidth() > static_cast<int>(kShapefileTextBytes)) {
                    field.SetWidth(0);
                }
                break;
            case OFTInteger:
            case OFTInteger64:
            case OFTReal:
                w.mode = FieldMode::CheckedNumber;
                if (field.GetWidth() == 0 && w.type != OFTReal) {
                    field.SetWidth(w.type == OFTInteger ? 11 : 20); // any value of the type, with its sign
                }
                break;
            case OFTDate:
                break;
            default: // date and time, time, lists, binary: kept as text
                w.mode = FieldMode::Text;
                field.SetType(OFTString);
                field.SetSubType(OFSTNone);
                field.SetWidth(0);
                break;
            }
        }
        if (outLayer_->CreateField(&field) != OGRERR_NONE) {
            return writeFailure("CAMPO NON CREATO: " + w.name, writeText());
        }
        const int at = outLayer_->GetLayerDefn()->GetFieldCount() - 1;
        fieldMap_[static_cast<std::size_t>(i)] = at;
        const OGRFieldDefn& made = *outLayer_->GetLayerDefn()->GetFieldDefn(at);
        w.width = made.GetWidth();
        w.precision = made.GetPrecision();
        if (w.mode == FieldMode::CheckedNumber && w.width <= 0) {
            w.mode = FieldMode::Copy;
        }
        if (made.GetNameRef() != w.name) {
            changeLines_.push_back("CAMPO " + w.name + " RINOMINATO " + made.GetNameRef());
            ++out_.changedValueCount;
        }
    }
    OGRFeatureDefn& outDefn = *outLayer_->GetLayerDefn();
    OGRFieldDefn zone(freeFieldName(outDefn, kZoneField).c_str(), OFTString);
    zone.SetWidth(8);
    OGRFieldDefn status(freeFieldName(outDefn, kStatusField).c_str(), OFTString);
    status.SetWidth(16);
    if (outLayer_->CreateField(&zone) == OGRERR_NONE) {
        zoneField_ = outLayer_->GetLayerDefn()->GetFieldCount() - 1;
    }
    if (outLayer_->CreateField(&status) == OGRERR_NONE) {
        statusField_ = outLayer_->GetLayerDefn()->GetFieldCount() - 1;
    }
    if (zoneField_ < 0 || statusField_ < 0) {
        return writeFailure("CAMPO NON CREATO: " + std::string(zoneField_ < 0 ? kZoneField : kStatusField),
                            writeText());
    }
    return std::nullopt;
}

// The attributes of a feature into its result; what the format cannot hold as it is, is
// counted by field.
void GisRun::copyFields(OGRFeature& in, OGRFeature& out) {
    for (std::size_t i = 0; i < fieldMap_.size(); ++i) {
        const int from = static_cast<int>(i);
        const int to = fieldMap_[i];
        if (to < 0 || !in.IsFieldSetAndNotNull(from)) {
            continue;
        }
        FieldWrite& w = writes_[i];
        switch (w.mode) {
        case FieldMode::Copy:
            out.SetField(to, in.GetRawFieldRef(from));
            break;
        case FieldMode::Text: {
            std::string text = in.GetFieldAsString(from);
            ++w.asText;
            w.cut += cutText(text, kShapefileTextBytes) ? 1 : 0;
            out.SetField(to, text.c_str());
            break;
        }
        case FieldMode::CheckedText: {
            const char* text = in.GetFieldAsString(from);
            if (std::strlen(text) > kShapefileTextBytes) {
                std::string t(text);
                cutText(t, kShapefileTextBytes);
                ++w.cut;
                out.SetField(to, t.c_str());
            } else {
                out.SetField(to, in.GetRawFieldRef(from));
            }
            break;
        }
        case FieldMode::CheckedNumber: {
            // The number as the .dbf writes it: one that does not fit the field's width would
            // be cut to other digits, so it is left empty and counted.
            char buf[32];
            int n = 0;
            if (w.type == OFTReal) {
                const double v = in.GetFieldAsDouble(from);
                n = std::isfinite(v) ? std::snprintf(buf, sizeof buf, "%*.*f", w.width, w.precision, v) : w.width + 1;
            } else {
                n = std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(in.GetFieldAsInteger64(from)));
            }
            if (n > w.width) {
                ++w.dropped;
            } else {
                out.SetField(to, in.GetRawFieldRef(from));
            }
            break;
        }
        }
    }
}

// The summary's lines about one layer's values the format could not hold as they were.
void GisRun::reportFieldChanges(std::size_t layer) {
    const std::string where = layers_.size() > 1 ? "LIVELLO " + outNames_[layer] + ", " : std::string();
    for (const FieldWrite& w : writes_) {
        const auto line = [&](long count, const char* what) {
            if (count > 0) {
                changeLines_.push_back(where + "CAMPO " + w.name + ": " + std::to_string(count) + " " + what);
                out_.changedValueCount += count;
            }
        };
        line(w.asText, "VALORI SCRITTI COME TESTO");
        line(w.cut, "TESTI TAGLIATI A 254 BYTE");
        line(w.dropped, "NUMERI TROPPO LUNGHI PER IL CAMPO, LASCIATI VUOTI");
    }
}

bool GisRun::readTextPoint(OGRFeature& in, long row, double& x, double& y, double& z) {
    const CoordKind kind = req_.ctx.sel.inputKind;
    const auto fail = [&](detail::FieldSlot slot) {
        ++out_.readingErrorCount;
        if (cb_.onReadingError) {
            cb_.onReadingError(readingError(slot, kind, row, true));
        }
        return false;
    };
    // A numeric field holds the number read from the file; a text field the cell itself.
    const auto number = [&in](int field, double& v) {
        const OGRFieldType type = in.GetFieldDefnRef(field)->GetType();
        if (type == OFTReal || type == OFTInteger || type == OFTInteger64) {
            v = in.GetFieldAsDouble(field);
            return in.IsFieldSetAndNotNull(field) != 0;
        }
        return parseNumberText(in.GetFieldAsString(field), v);
    };
    if (!number(columns_.north, y)) {
        return fail(detail::FieldSlot::First);
    }
    if (!number(columns_.east, x)) {
        return fail(detail::FieldSlot::Second);
    }
    z = 0;
    if (req_.ctx.heights && !number(columns_.height, z)) {
        return fail(detail::FieldSlot::Height);
    }
    return true;
}

std::optional<Message> GisRun::convertFeature(OGRFeature& in, long number) {
    OGRFeature outFeature(outLayer_->GetLayerDefn());
    copyFields(in, outFeature);
    const CoordKind kind = req_.ctx.sel.inputKind;
    FeatureTally tally;
    bool readOk = true;
    bool noGeometry = false; // a NULL or empty geometry
    std::unique_ptr<OGRGeometry> converted;
    if (text_) {
        const long row = static_cast<long>(in.GetFID()); // the file line
        double x = 0, y = 0, z = 0;
        readOk = readTextPoint(in, row, x, y, z);
        if (readOk) {
            const bool ok = conv_.convert(x, y, req_.ctx.heights ? &z : nullptr, tally);
            if (ok) {
                const auto write = [&](int field, double v, int decimals) {
                    const char* old = in.GetFieldAsString(field);
                    const bool comma = old != nullptr && std::string_view(old).find(',') != std::string_view::npos;
                    if (fieldMap_[static_cast<std::size_t>(field)] >= 0) {
                        outFeature.SetField(fieldMap_[static_cast<std::size_t>(field)],
                                            numberText(v, decimals, comma).c_str());
                    }
                };
                const int angleDecimals = 9; // 1e-9 degree: 0.1 mm on the ground
                const bool geo = req_.ctx.sel.outputKind == CoordKind::Geographic;
                write(columns_.north, y, geo ? angleDecimals : 3);
                write(columns_.east, x, geo ? angleDecimals : 3);
                if (req_.ctx.heights) {
                    write(columns_.height, z, 3);
                }
                if (!(textOut_ && text_)) {
                    converted = std::make_unique<OGRPoint>(x, y);
                    if (req_.ctx.heights) {
                        static_cast<OGRPoint&>(*converted).setZ(z);
                    }
                }
            }
        }
    } else {
        const OGRGeometry* g = in.GetGeometryRef();
        if (g == nullptr || g->IsEmpty()) {
            // Nothing to convert: kept with its attributes, and said so.
            readOk = false;
            noGeometry = true;
        } else if (req_.ctx.heights && !g->Is3D()) {
            readOk = false;
            ++out_.readingErrorCount;
            if (cb_.onReadingError) {
                cb_.onReadingError(readingError(detail::FieldSlot::Height, kind, number, false));
            }
        } else {
            converted.reset(g->clone());
            ChainTransformation ct(conv_, tally, req_.ctx.heights);
            const PausedFailures paused(failures_);
            if (converted->transform(&ct) != OGRERR_NONE || tally.outside || tally.failed || tally.notFinite) {
                converted.reset();
            }
            if (tally.notFinite) {
                readOk = false;
                ++out_.readingErrorCount;
                if (cb_.onReadingError) {
                    cb_.onReadingError(
                        readingError(tally.notFiniteHeight ? detail::FieldSlot::Height : detail::FieldSlot::First, kind,
                                     number, false));
                }
            }
        }
    }

    if (readOk && tally.fault != ValueFault::None) {
        readOk = false;
        converted.reset();
        ++out_.readingErrorCount;
        if (cb_.onReadingError) {
            const detail::FieldSlot slot = tally.fault == ValueFault::First    ? detail::FieldSlot::First
                                           : tally.fault == ValueFault::Second ? detail::FieldSlot::Second
                                                                               : detail::FieldSlot::Height;
            Message m = readingError(slot, kind, text_ ? static_cast<long>(in.GetFID()) : number, text_);
            m.lines.push_back(detail::valueNotAllowedLine(tally.faultValue));
            cb_.onReadingError(m);
        }
    }
    const char* status = noGeometry ? kStatusNoGeometry : kStatusRefused;
    noGeometryCount_ += noGeometry ? 1 : 0;
    if (readOk) {
        if (tally.failed && !tally.outside) {
            return failureMessage({"IMPOSSIBILE CALCOLARE IL PUNTO " + std::to_string(number),
                                   "IL CALCOLO HA DATO UN RISULTATO NON VALIDO",
                                   "ELABORAZIONE INTERROTTA: NESSUN RISULTATO E' STATO SCRITTO"});
        }
        ++out_.pointCount;
        if (tally.outside) {
            ++out_.outsideCount;
            status = kStatusOutside;
        } else {
            status = kStatusConverted;
            if (tally.portionIndex >= 0) {
                const auto i = static_cast<std::size_t>(tally.portionIndex);
                if (out_.pointsPerPortion.size() <= i) {
                    out_.pointsPerPortion.resize(i + 1, 0);
                }
                ++out_.pointsPerPortion[i];
            }
        }
    }
    // A feature that was not converted has no geometry: its source coordinates would stand
    // among the converted ones in a layer of the target system. A drawing cannot hold a
    // feature without one: it is left out, and counted.
    if (converted) {
        outFeature.SetGeometryDirectly(converted.release());
    } else if (drawing_) {
        ++leftOut_;
        return std::nullopt;
    }
    if (zoneField_ >= 0 && readOk && !tally.outside) {
        // The report's zone column (the mark of a point projected outside its own zone), or
        // where the report has none, the zone itself.
        const std::string_view mark = reportZoneText(req_.ctx.sel, tally.first);
        const ZoneInfo zi = zoneInfo(req_.ctx.sel.outputSystem, tally.zone);
        outFeature.SetField(zoneField_, !mark.empty() ? std::string(mark).c_str() : zi.valid ? zi.text : "");
    }
    if (statusField_ >= 0) {
        outFeature.SetField(statusField_, status);
    }
    if (outLayer_->CreateFeature(&outFeature) != OGRERR_NONE) {
        return writeFailure("SCRITTURA NON RIUSCITA ALL'ELEMENTO " + std::to_string(number), writeText());
    }
    return std::nullopt;
}

// Writes every chosen layer into the result in the scratch folder and closes it; a message
// when the run must stop. Every failure GDAL reports, and every failed write, fails it.
std::optional<Message> GisRun::writeResult(const fs::path& scratchResult, GdalFailures& failures) {
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(driverName_.c_str());
    // Every format but GeoPackage (whose SQLite reports its own failures) is written through
    // the watching file system: some drivers do not check their writes.
    const bool watched = driverName_ != "GPKG";
    const std::string path = watched ? watchedPath(scratchResult.string()) : scratchResult.string();
    resetWatchedWriteError();
    failures_ = &failures;
    const auto gdalFailure = [&](const std::string& what) -> std::optional<Message> {
        if (failures.any) {
            return writeFailure(what, failures.first);
        }
        if (watched && watchedWriteError() != 0) {
            return writeFailure(what);
        }
        return std::nullopt;
    };
    DatasetPtr output;
    if (copyOld_) {
        std::error_code ec;
        fs::copy_file(req_.resultPath, scratchResult, fs::copy_options::overwrite_existing, ec);
        if (ec) {
            return writeFailure("COPIA DEL GEOPACKAGE ESISTENTE NON RIUSCITA", systemErrorText(ec.value()));
        }
        const char* const drivers[] = {"GPKG", nullptr};
        output.reset(static_cast<GDALDataset*>(
            GDALOpenEx(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE, drivers, nullptr, nullptr)));
    } else if (driver != nullptr) {
        output.reset(driver->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    }
    if (!output) {
        return writeFailure("FILE NON CREATO", writeText());
    }
    // One transaction for every layer (GeoPackage): an update changes the file all at once.
    const bool transaction = output->StartTransaction() == OGRERR_NONE;
    for (std::size_t k = 0; k < layers_.size(); ++k) {
        inLayer_ = layers_[k];
        // The layer's own reference (checked already) says how its longitudes are counted.
        conv_.setInputFromMonteMario(req_.inputEpsg == kEpsgRoma40MonteMario);
        if (std::optional<Message> m = checkLayerReference()) {
            return m;
        }
        if (copyOld_) {
            for (int j = output->GetLayerCount() - 1; j >= 0; --j) {
                if (asciiLowerCase(output->GetLayer(j)->GetName()) == asciiLowerCase(outNames_[k]) &&
                    output->DeleteLayer(j) != OGRERR_NONE) {
                    return writeFailure("LIVELLO " + outNames_[k] + " NON SOSTITUITO", writeText());
                }
            }
        }
        zoneField_ = statusField_ = -1;
        if (std::optional<Message> m = createOutput(*output, outNames_[k])) {
            return m;
        }
        if (std::optional<Message> m = gdalFailure("LIVELLO NON CREATO: " + outNames_[k])) {
            return m;
        }
        GIntBig total = 0;
        {
            const PausedFailures paused(&failures);
            gdal_.clear();
            total = inLayer_->GetFeatureCount(TRUE);
            inLayer_->ResetReading();
            if (gdal_.any()) {
                return damagedInputMessage(req_.dataPath, "IL FILE NON SI LEGGE PER INTERO", gdal_.text());
            }
        }
        long number = 0;
        const auto next = [&] {
            const PausedFailures paused(&failures);
            return std::unique_ptr<OGRFeature>(nextFeature(number + 1));
        };
        for (std::unique_ptr<OGRFeature> f = next(); f; f = next()) {
            ++number;
            std::optional<Message> m = convertFeature(*f, number);
            if (!m) {
                m = gdalFailure("SCRITTURA NON RIUSCITA ALL'ELEMENTO " + std::to_string(number));
            }
            if (m) {
                return m;
            }
            if (cb_.onProgress) {
                cb_.onProgress(number, total > 0 ? static_cast<long>(total) : 0);
            }
        }
        {
            const PausedFailures paused(&failures);
            if (std::optional<Message> m = checkAfterReading(number)) {
                return m;
            }
        }
        reportFieldChanges(k);
    }
    if (out_.pointCount == 0 && out_.readingErrorCount > 0) {
        return std::nullopt; // refused by the caller
    }
    if (transaction && output->CommitTransaction() != OGRERR_NONE) {
        return writeFailure("SCRITTURA NON RIUSCITA", writeText());
    }
    CPLErrorReset();
    GDALDataset* raw = output.release();
    GDALClose(GDALDataset::ToHandle(raw));
    if (std::optional<Message> m = gdalFailure("SCRITTURA NON RIUSCITA ALLA CHIUSURA DEL FILE")) {
        return m;
    }
    if (CPLGetLastErrorType() >= CE_Failure) {
        return writeFailure("SCRITTURA NON RIUSCITA ALLA CHIUSURA DEL FILE", writeText());
    }
    // On the disk before the result takes its name.
    if (const int err = syncFolder(scratchResult.parent_path()); err != 0) {
        return writeFailure("SCRITTURA SUL DISCO NON RIUSCITA", systemErrorText(err));
    }
    return std::nullopt;
}

BatchOutcome GisRun::run() {
    const std::string gridPath = req_.ctx.portion != nullptr ? req_.ctx.portion->sourcePath : std::string();
    if (std::optional<Message> m = batchFileChecks(req_.dataPath, req_.resultPath, gridPath)) {
        return ended(std::move(*m), BatchStatus::Refused);
    }
    for (std::size_t i = 0; req_.ctx.set != nullptr && i < req_.ctx.set->size(); ++i) {
        if (std::optional<Message> m =
                batchFileChecks(req_.dataPath, req_.resultPath, req_.ctx.set->portion(i).sourcePath)) {
            return ended(std::move(*m), BatchStatus::Refused);
        }
    }
    // The result is written beside its place and renamed over it, which must never replace
    // a folder, a device or a pipe.
    std::error_code ec;
    const fs::file_status st = fs::status(req_.resultPath, ec);
    if (!ec && fs::exists(st) && !fs::is_regular_file(st)) {
        return ended(failureMessage(
            {"IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI", req_.resultPath, "NON E' UN FILE ORDINARIO"}));
    }
    GDALAllRegister();
    const char* driverName = gisDriverName(gisExtension(req_.resultPath));
    if (driverName == nullptr) {
        return ended(failureMessage({"IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI", req_.resultPath,
                                     "ESTENSIONE NON RICONOSCIUTA (.csv, .gpkg, .shp, .geojson, .dxf)"}));
    }
    driverName_ = driverName;
    textOut_ = driverName_ == "CSV";
    drawing_ = driverName_ == "DXF";
    if (req_.ctx.sel.outputKind == CoordKind::Plane && req_.ctx.sel.outputZone == Zone::Auto) {
        return ended(failureMessage({"IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI", req_.resultPath,
                                     "UN LIVELLO HA UN SOLO FUSO: INDICARE IL FUSO DEI RISULTATI"}));
    }
    if (std::optional<Message> m = openInput()) {
        return ended(std::move(*m));
    }
    if (std::optional<Message> m = chooseLayers()) {
        return ended(std::move(*m), BatchStatus::Refused);
    }
    if (std::optional<Message> m = checkExistingResult()) {
        return ended(std::move(*m), BatchStatus::Refused);
    }
    ScratchFolder scratch{fs::path(req_.resultPath)};
    if (GetGDALDriverManager()->GetDriverByName(driverName) == nullptr || !scratch.ok()) {
        return ended(
            failureMessage({"IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI", req_.resultPath, "CARTELLA NON SCRIVIBILE"}));
    }
    const fs::path scratchResult = scratch.path() / fs::path(req_.resultPath).filename();
    {
        GdalFailures failures;
        CPLErrorReset();
        gdal_.setWriting(&failures);
        std::optional<Message> m = writeResult(scratchResult, failures);
        gdal_.setWriting(nullptr);
        failures_ = nullptr;
        if (m) {
            BatchOutcome o = ended(std::move(*m));
            o.pointCount = out_.pointCount;
            o.outsideCount = out_.outsideCount;
            o.readingErrorCount = out_.readingErrorCount;
            return o;
        }
        // Features that could not be read and none that could: refused. An empty layer, or
        // one of features without geometry, gives its result.
        if (out_.pointCount == 0 && out_.readingErrorCount > 0) {
            BatchOutcome o = ended(batchNoPointMessage(), BatchStatus::Refused);
            o.readingErrorCount = out_.readingErrorCount;
            return o;
        }
    }
    std::string cause;
    if (!moveIntoPlace(scratch.path(), fs::path(req_.resultPath), cause)) {
        return ended(failureMessage({"IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI", req_.resultPath, cause}));
    }
    if (req_.ctx.set != nullptr) {
        out_.pointsPerPortion.resize(req_.ctx.set->size(), 0);
    }
    out_.status = BatchStatus::Completed;
    out_.message = batchSummaryMessage(req_.ctx, out_.pointCount, out_.outsideCount);
    if (noGeometryCount_ > 0) {
        out_.message.lines.push_back("ELEMENTI SENZA GEOMETRIA:  " + std::to_string(noGeometryCount_));
    }
    if (leftOut_ > 0) {
        out_.message.lines.push_back("ELEMENTI NON SCRITTI NEL DISEGNO PERCHE' SENZA GEOMETRIA:  " +
                                     std::to_string(leftOut_));
        out_.changedValueCount += leftOut_;
    }
    out_.message.lines.insert(out_.message.lines.end(), changeLines_.begin(), changeLines_.end());
    return out_;
}

} // namespace

std::optional<int> gisLayerEpsg(const std::string& path, std::string& why) {
    GdalMessages quiet;
    GDALAllRegister();
    if (gisExtension(path) == ".csv") {
        why = "un file di testo delimitato non ha sistema di riferimento";
        return std::nullopt;
    }
    DatasetPtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    OGRLayer* layer = ds && ds->GetLayerCount() > 0 ? ds->GetLayer(0) : nullptr;
    const OGRSpatialReference* srs = layer != nullptr ? layer->GetSpatialRef() : nullptr;
    if (layer == nullptr) {
        why = "impossibile aprire il livello " + path;
        return std::nullopt;
    }
    if (srs == nullptr || srs->IsEmpty() || isUndefinedReference(*srs)) {
        why = "il livello non ha sistema di riferimento";
        return std::nullopt;
    }
    const std::optional<int> code = identifyEpsg(*srs);
    if (!code || !crsFromEpsg(*code)) {
        why = "il sistema di riferimento del livello" +
              (code ? " (EPSG:" + std::to_string(*code) + ")" : std::string()) + " non e' tra quelli del programma";
        return std::nullopt;
    }
    return code;
}

BatchOutcome runGisBatch(const BatchRequest& req, const BatchCallbacks& cb) {
    // GDAL's own messages (English, on standard error) are kept quiet: a failure is told by
    // the run's message, which takes GDAL's last error as its cause.
    struct QuietGdal {
        QuietGdal() { CPLPushErrorHandler(CPLQuietErrorHandler); }
        ~QuietGdal() { CPLPopErrorHandler(); }
        QuietGdal(const QuietGdal&) = delete;
        QuietGdal& operator=(const QuietGdal&) = delete;
    } quiet;
    // SQLite's page cache (GeoPackage) large enough for a layer of some hundred thousand
    // features: with GDAL's default the same pages are read from the system again and again
    // (a fifth of a GeoPackage run's processor time). A value the user set is kept.
    if (CPLGetConfigOption("OGR_SQLITE_CACHE", nullptr) == nullptr) {
        CPLSetConfigOption("OGR_SQLITE_CACHE", "64");
    }
    GisRun run(req, cb);
    try {
        return run.run();
    } catch (const std::bad_alloc&) {
        return ended(failureMessage({"ELABORAZIONE INTERROTTA:", "MEMORIA INSUFFICIENTE"}));
    }
}

} // namespace dormal
