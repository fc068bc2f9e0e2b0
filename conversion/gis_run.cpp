#include "conversion/gis_run.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include "conversion/epsg.h"
#include "conversion/io_detail.h"
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

// One record of a delimited text file: its cells and the file line it starts on.
struct TextRecord {
    long line = 0;
    std::vector<std::string> cells;
};

// Splits delimited text into records. A cell may be quoted with '"' (a doubled quote
// inside stands for one) and then hold delimiters and line ends. Lines end with LF, CR LF
// or CR; empty lines are no records. Line numbers are those an editor shows.
std::vector<TextRecord> splitRecords(const std::string& text, char delimiter) {
    std::vector<TextRecord> records;
    TextRecord rec;
    std::string cell;
    long line = 1;
    bool quoted = false;
    bool any = false; // the record has a character
    const auto endRecord = [&] {
        if (any) {
            rec.cells.push_back(cell);
            records.push_back(std::move(rec));
        }
        rec = TextRecord{};
        cell.clear();
        any = false;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (!any) {
            rec.line = line;
        }
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                cell += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                if (c == '\n' || (c == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) {
                    ++line;
                }
                cell += c;
            }
            continue;
        }
        if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            endRecord();
            ++line;
            continue;
        }
        any = true;
        if (c == '"' && cell.empty()) {
            quoted = true;
        } else if (c == delimiter) {
            rec.cells.push_back(cell);
            cell.clear();
        } else {
            cell += c;
        }
    }
    endRecord();
    return records;
}

// The delimiter of a text file, found on its first line outside quotes: a tab if there is
// one, else a semicolon, else a comma. A semicolon file may then hold decimal commas.
char detectDelimiter(const std::string& text) {
    bool quoted = false;
    bool semicolon = false;
    for (const char c : text) {
        if (c == '\n' || c == '\r') {
            if (!quoted) {
                break;
            }
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == '\t') {
            return '\t';
        } else if (!quoted && c == ';') {
            semicolon = true;
        }
    }
    return semicolon ? ';' : ',';
}

const char* separatorOption(char delimiter) {
    return delimiter == ';' ? "SEMICOLON" : delimiter == '\t' ? "TAB" : "COMMA";
}

// A number in a text cell: blanks around it ignored, a comma read as the decimal point.
bool parseNumberText(const char* text, double& value) {
    std::string s(text != nullptr ? text : "");
    const auto notBlank = [](unsigned char c) { return std::isspace(c) == 0; };
    s.erase(s.begin(), std::find_if(s.begin(), s.end(), notBlank));
    s.erase(std::find_if(s.rbegin(), s.rend(), notBlank).base(), s.end());
    std::replace(s.begin(), s.end(), ',', '.');
    if (s.empty()) {
        return false;
    }
    const char* begin = s.data();
    if (*begin == '+') {
        ++begin;
    }
    const auto [end, ec] = std::from_chars(begin, s.data() + s.size(), value);
    return ec == std::errc() && end == s.data() + s.size() && std::isfinite(value);
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
};

// One feature's conversion, vertex by vertex, through the chain. x is East or longitude
// (decimal degrees from Greenwich; ROMA40 from Monte Mario in a layer of EPSG 4806), y North
// or latitude, z the height.
class ChainConverter {
public:
    ChainConverter(const ConversionContext& ctx, bool outputFromMonteMario)
        : ctx_(ctx), outputFromMonteMario_(outputFromMonteMario) {}

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
        const PointResult r = convertPoint(ctx_, in, RunKind::Batch);
        if (t.portionIndex < 0) {
            t.portionIndex = r.portionIndex;
            t.zone = sel.outputKind == CoordKind::Plane ? r.outZoneUsed : r.naturalZone;
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
            const double lon = sexagesimalToDegrees(r.outSecond);
            x = sel.outputSystem == RefSystem::Roma40 && !outputFromMonteMario_ ? lon + romeMeridian() : lon;
            y = sexagesimalToDegrees(r.outFirst);
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
};

// The chain as OGR's coordinate transformation, so that every vertex of any geometry
// (points, lines, polygons, collections) goes through it by OGRGeometry::transform.
class ChainTransformation final : public OGRCoordinateTransformation {
public:
    ChainTransformation(const ChainConverter& conv, FeatureTally& tally) : conv_(conv), tally_(tally) {}

    OGRSpatialReference* GetSourceCS() override { return nullptr; }
    OGRSpatialReference* GetTargetCS() override { return nullptr; }

    int Transform(int count, double* x, double* y, double* z, double* /*t*/, int* success) override {
        bool all = true;
        for (int i = 0; i < count; ++i) {
            const bool ok = conv_.convert(x[i], y[i], z != nullptr ? &z[i] : nullptr, tally_);
            if (success != nullptr) {
                success[i] = ok ? TRUE : FALSE;
            }
            all = all && ok;
        }
        return all ? TRUE : FALSE;
    }

    OGRCoordinateTransformation* Clone() const override { return new ChainTransformation(conv_, tally_); }
    OGRCoordinateTransformation* GetInverse() const override { return nullptr; }

private:
    const ChainConverter& conv_;
    FeatureTally& tally_;
};

struct DatasetCloser {
    void operator()(GDALDataset* d) const { GDALClose(GDALDataset::ToHandle(d)); }
};
using DatasetPtr = std::unique_ptr<GDALDataset, DatasetCloser>;

// A folder beside the result that holds the result while it is written; removed with
// whatever is left in it when the run ends.
class ScratchFolder {
public:
    explicit ScratchFolder(const fs::path& resultPath) {
        const fs::path folder = resultPath.has_parent_path() ? resultPath.parent_path() : fs::path(".");
        std::string pattern = (folder / ".dormal2k-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder() {
        if (!path_.empty()) {
            std::error_code ec;
            fs::remove_all(path_, ec);
        }
    }
    bool ok() const { return !path_.empty(); }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

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

// Moves every file of the scratch folder to the result's folder, the result last.
bool moveIntoPlace(const fs::path& scratch, const fs::path& result, std::string& cause) {
    const fs::path folder = result.has_parent_path() ? result.parent_path() : fs::path(".");
    std::vector<fs::path> files;
    std::error_code ec;
    for (const fs::directory_entry& e : fs::directory_iterator(scratch, ec)) {
        files.push_back(e.path());
    }
    if (ec) {
        cause = ec.message();
        return false;
    }
    std::stable_partition(files.begin(), files.end(),
                          [&result](const fs::path& p) { return p.filename() != result.filename(); });
    for (const fs::path& f : files) {
        fs::rename(f, folder / f.filename(), ec);
        if (ec) {
            cause = ec.message();
            return false;
        }
    }
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
    std::optional<Message> resolveTextColumns(const std::vector<std::string>& words);
    std::optional<Message> createOutput(GDALDataset& out);
    // Reads, converts and writes one feature; a message when the run must stop.
    std::optional<Message> convertFeature(OGRFeature& in, long number);
    bool readTextPoint(OGRFeature& in, long row, double& x, double& y, double& z);

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
    BatchOutcome out_;
};

std::optional<Message> GisRun::openInput() {
    if (gisExtension(req_.dataPath) == ".csv") {
        return openText();
    }
    CPLErrorReset();
    input_.reset(GDALDataset::Open(req_.dataPath.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    if (!input_ || input_->GetLayerCount() < 1) {
        return detail::openFailureMessage(req_.dataPath, gdalCause("NESSUN LIVELLO LEGGIBILE"));
    }
    inLayer_ = input_->GetLayer(0);
    return checkLayerReference();
}

// A layer that names its own reference system by an EPSG code of one of the program's
// systems must be in the one the run reads: a layer in Gauss-Boaga Ovest read as Est would
// be converted to nonsense without a word. Codes of other frames, and layers without a
// code, are read as the run says. A ROMA40 geographic layer's longitudes are read as its
// code counts them (4806 from Monte Mario, 4265 from Greenwich); a side named by the other
// of the two codes is refused.
std::optional<Message> GisRun::checkLayerReference() {
    const OGRSpatialReference* srs = inLayer_->GetSpatialRef();
    const char* authority = srs != nullptr ? srs->GetAuthorityName(nullptr) : nullptr;
    const char* code = srs != nullptr ? srs->GetAuthorityCode(nullptr) : nullptr;
    if (authority == nullptr || code == nullptr || std::string(authority) != "EPSG") {
        return std::nullopt;
    }
    const std::optional<EpsgCrs> crs = crsFromEpsg(std::atoi(code));
    if (!crs) {
        return std::nullopt;
    }
    const SelectionState& sel = req_.ctx.sel;
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
    return detail::openFailureMessage(req_.dataPath, "IL LIVELLO E' NEL SISTEMA EPSG:" + std::string(code) +
                                                         ", NON IN QUELLO DEI DATI INDICATO");
}

// A delimited text file is read here, not by GDAL's CSV reader, which neither takes a given
// delimiter nor reads a semicolon file with decimal commas: its records go into a layer in
// memory, every cell a text field, each feature numbered by the file line it starts on.
std::optional<Message> GisRun::openText() {
    text_ = true;
    std::ifstream file(req_.dataPath, std::ios::binary);
    std::string text;
    if (file) {
        text.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }
    if (!file && !file.eof()) {
        return detail::openFailureMessage(req_.dataPath, "IMPOSSIBILE LEGGERE IL FILE");
    }
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
        text.erase(0, 3); // byte order mark
    }
    delimiter_ = req_.gisDelimiter != 0 ? req_.gisDelimiter : detectDelimiter(text);
    std::vector<TextRecord> records = splitRecords(text, delimiter_);
    text.clear();

    std::vector<std::string> words = req_.gisColumns;
    if (words.empty()) {
        words = {"1", "2", "3", "4"};
    }
    const auto isNumber = [](const std::string& w) {
        return !w.empty() && std::all_of(w.begin(), w.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
    };
    // A header when a column is named, or when the first record's North is not a number.
    bool header = !std::all_of(words.begin(), words.end(), isNumber);
    if (!header && !records.empty()) {
        const auto north = static_cast<std::size_t>(std::max(1, std::atoi(words[1].c_str())) - 1);
        double v = 0;
        header = north >= records.front().cells.size() || !parseNumberText(records.front().cells[north].c_str(), v);
    }
    std::size_t width = 0;
    for (const TextRecord& r : records) {
        width = std::max(width, r.cells.size());
    }

    GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("Memory");
    if (memory != nullptr) {
        input_.reset(memory->Create("", 0, 0, 0, GDT_Unknown, nullptr));
    }
    if (!input_ || (inLayer_ = input_->CreateLayer("dati", nullptr, wkbNone, nullptr)) == nullptr) {
        return detail::openFailureMessage(req_.dataPath, gdalCause("LETTORE NON DISPONIBILE"));
    }
    for (std::size_t i = 0; i < width; ++i) {
        std::string name = header && i < records.front().cells.size() ? records.front().cells[i] : std::string();
        if (name.empty()) {
            name = "field_" + std::to_string(i + 1);
        }
        OGRFieldDefn field(freeFieldName(*inLayer_->GetLayerDefn(), name).c_str(), OFTString);
        if (inLayer_->CreateField(&field) != OGRERR_NONE) {
            return detail::openFailureMessage(req_.dataPath, gdalCause("LETTORE NON DISPONIBILE"));
        }
    }
    for (std::size_t r = header ? 1 : 0; r < records.size(); ++r) {
        OGRFeature f(inLayer_->GetLayerDefn());
        f.SetFID(records[r].line);
        for (std::size_t i = 0; i < records[r].cells.size(); ++i) {
            f.SetField(static_cast<int>(i), records[r].cells[i].c_str());
        }
        if (inLayer_->CreateFeature(&f) != OGRERR_NONE) {
            return detail::openFailureMessage(req_.dataPath, gdalCause("LETTORE NON DISPONIBILE"));
        }
    }
    return resolveTextColumns(words);
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

std::optional<Message> GisRun::createOutput(GDALDataset& out) {
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
    char** options = nullptr;
    if (textOut_) {
        options = CSLSetNameValue(options, "SEPARATOR",
                                  separatorOption(req_.gisDelimiter != 0 ? req_.gisDelimiter : delimiter_));
        // Numbers written as text stay unquoted, as the data file had them.
        options = CSLSetNameValue(options, "STRING_QUOTING", "IF_NEEDED");
        if (!text_ && wkbFlatten(type) == wkbPoint) {
            options = CSLSetNameValue(options, "GEOMETRY", req_.ctx.heights ? "AS_XYZ" : "AS_XY");
        } else if (!text_) {
            options = CSLSetNameValue(options, "GEOMETRY", "AS_WKT");
        }
    }
    const std::string layerName = fs::path(req_.resultPath).stem().string();
    outLayer_ = out.CreateLayer(layerName.c_str(), &srs, textOut_ && text_ ? wkbNone : type, options);
    CSLDestroy(options);
    if (outLayer_ == nullptr) {
        return failureMessage(
            {"IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI", req_.resultPath, gdalCause("LIVELLO NON CREATO")});
    }
    fieldMap_.assign(static_cast<std::size_t>(inDefn.GetFieldCount()), -1);
    // DXF has a fixed set of fields and keeps none of the layer's own, nor the added ones:
    // a drawing gets the converted geometries only.
    if (std::string(out.GetDriver()->GetDescription()) == "DXF") {
        return std::nullopt;
    }
    for (int i = 0; i < inDefn.GetFieldCount(); ++i) {
        OGRFieldDefn field(inDefn.GetFieldDefn(i));
        if (outLayer_->CreateField(&field) != OGRERR_NONE) {
            return failureMessage(
                {"IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI", req_.resultPath, gdalCause("CAMPO NON CREATO")});
        }
        fieldMap_[static_cast<std::size_t>(i)] = outLayer_->GetLayerDefn()->GetFieldCount() - 1;
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
        return failureMessage(
            {"IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI", req_.resultPath, gdalCause("CAMPO NON CREATO")});
    }
    return std::nullopt;
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
    if (!parseNumberText(in.GetFieldAsString(columns_.north), y)) {
        return fail(detail::FieldSlot::First);
    }
    if (!parseNumberText(in.GetFieldAsString(columns_.east), x)) {
        return fail(detail::FieldSlot::Second);
    }
    z = 0;
    if (req_.ctx.heights && !parseNumberText(in.GetFieldAsString(columns_.height), z)) {
        return fail(detail::FieldSlot::Height);
    }
    return true;
}

std::optional<Message> GisRun::convertFeature(OGRFeature& in, long number) {
    OGRFeature outFeature(outLayer_->GetLayerDefn());
    for (std::size_t i = 0; i < fieldMap_.size(); ++i) {
        if (fieldMap_[i] >= 0 && in.IsFieldSetAndNotNull(static_cast<int>(i))) {
            outFeature.SetField(fieldMap_[i], in.GetRawFieldRef(static_cast<int>(i)));
        }
    }
    const CoordKind kind = req_.ctx.sel.inputKind;
    FeatureTally tally;
    bool readOk = true;
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
            readOk = false;
            ++out_.readingErrorCount;
            if (cb_.onReadingError) {
                cb_.onReadingError(readingError(detail::FieldSlot::First, kind, number, false));
            }
        } else if (req_.ctx.heights && !g->Is3D()) {
            readOk = false;
            ++out_.readingErrorCount;
            if (cb_.onReadingError) {
                cb_.onReadingError(readingError(detail::FieldSlot::Height, kind, number, false));
            }
        } else {
            converted.reset(g->clone());
            ChainTransformation ct(conv_, tally);
            if (converted->transform(&ct) != OGRERR_NONE || tally.outside || tally.failed) {
                converted.reset();
            }
        }
    }

    const char* status = kStatusRefused;
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
    if (converted) {
        outFeature.SetGeometryDirectly(converted.release());
    } else if (const OGRGeometry* g = in.GetGeometryRef(); g != nullptr && !(textOut_ && text_)) {
        outFeature.SetGeometry(g);
    }
    if (zoneField_ >= 0 && readOk && !tally.outside) {
        const ZoneInfo zi = zoneInfo(req_.ctx.sel.outputSystem, tally.zone);
        outFeature.SetField(zoneField_, zi.valid ? zi.text : "");
    }
    if (statusField_ >= 0) {
        outFeature.SetField(statusField_, status);
    }
    if (outLayer_->CreateFeature(&outFeature) != OGRERR_NONE) {
        return failureMessage(
            {"IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI", req_.resultPath, gdalCause("SCRITTURA NON RIUSCITA")});
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
    textOut_ = std::string(driverName) == "CSV";
    if (req_.ctx.sel.outputKind == CoordKind::Plane && req_.ctx.sel.outputZone == Zone::Auto) {
        return ended(failureMessage({"IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI", req_.resultPath,
                                     "UN LIVELLO HA UN SOLO FUSO: INDICARE IL FUSO DEI RISULTATI"}));
    }
    if (std::optional<Message> m = openInput()) {
        return ended(std::move(*m));
    }
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName(driverName);
    ScratchFolder scratch{fs::path(req_.resultPath)};
    if (driver == nullptr || !scratch.ok()) {
        return ended(
            failureMessage({"IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI", req_.resultPath, "CARTELLA NON SCRIVIBILE"}));
    }
    const fs::path scratchResult = scratch.path() / fs::path(req_.resultPath).filename();
    {
        CPLErrorReset();
        DatasetPtr output(driver->Create(scratchResult.string().c_str(), 0, 0, 0, GDT_Unknown, nullptr));
        if (!output) {
            return ended(failureMessage(
                {"IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI", req_.resultPath, gdalCause("FILE NON CREATO")}));
        }
        if (std::optional<Message> m = createOutput(*output)) {
            return ended(std::move(*m));
        }
        const bool transaction = output->StartTransaction() == OGRERR_NONE;
        const GIntBig total = inLayer_->GetFeatureCount(TRUE);
        inLayer_->ResetReading();
        long number = 0;
        for (std::unique_ptr<OGRFeature> f(inLayer_->GetNextFeature()); f; f.reset(inLayer_->GetNextFeature())) {
            ++number;
            if (std::optional<Message> m = convertFeature(*f, number)) {
                BatchOutcome o = ended(std::move(*m));
                o.pointCount = out_.pointCount;
                o.outsideCount = out_.outsideCount;
                o.readingErrorCount = out_.readingErrorCount;
                return o;
            }
            if (cb_.onProgress) {
                cb_.onProgress(number, total > 0 ? static_cast<long>(total) : 0);
            }
        }
        if (out_.pointCount == 0) {
            BatchOutcome o = ended(batchNoPointMessage(), BatchStatus::Refused);
            o.readingErrorCount = out_.readingErrorCount;
            return o;
        }
        if (transaction && output->CommitTransaction() != OGRERR_NONE) {
            return ended(failureMessage(
                {"IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI", req_.resultPath, gdalCause("SCRITTURA NON RIUSCITA")}));
        }
        CPLErrorReset();
        GDALDataset* raw = output.release();
        GDALClose(GDALDataset::ToHandle(raw));
        if (CPLGetLastErrorType() >= CE_Failure) {
            return ended(failureMessage(
                {"IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI", req_.resultPath, gdalCause("SCRITTURA NON RIUSCITA")}));
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
    return out_;
}

} // namespace

BatchOutcome runGisBatch(const BatchRequest& req, const BatchCallbacks& cb) {
    // GDAL's own messages (English, on standard error) are kept quiet: a failure is told by
    // the run's message, which takes GDAL's last error as its cause.
    struct QuietGdal {
        QuietGdal() { CPLPushErrorHandler(CPLQuietErrorHandler); }
        ~QuietGdal() { CPLPopErrorHandler(); }
        QuietGdal(const QuietGdal&) = delete;
        QuietGdal& operator=(const QuietGdal&) = delete;
    } quiet;
    GisRun run(req, cb);
    try {
        return run.run();
    } catch (const std::bad_alloc&) {
        return ended(failureMessage({"ELABORAZIONE INTERROTTA:", "MEMORIA INSUFFICIENTE"}));
    }
}

} // namespace dormal
