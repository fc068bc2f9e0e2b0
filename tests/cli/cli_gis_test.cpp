// dormal2k-batch with EPSG codes and on delimited text and GIS layers (GDAL/OGR), end to end:
// the layers are made here with the OGR API, converted by the built program, and read back
// with OGR. The reference for every converted value is the program's own ASCII report of the
// same points, so the GIS path must agree with the chain the other file types use.

#include <signal.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include "cli_support.h"
#include "conversion/epsg.h"
#include "conversion/point_conversion.h"
#include "geodesy/angles.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/transverse_mercator.h"
#include "geodesy/zones.h"
#include "grid/datum_transform.h"
#include "grid/grid_portion.h"
#include "grid/zone_limits.h"
#include "tools/synthetic_grid.h"

namespace dormal::clitest {
namespace {

// A point in ROMA40 Gauss-Boaga Est (North, East, metres), its height, and the same point in
// decimal degrees from Greenwich.
struct TestPoint {
    std::string name;
    double north = 0, east = 0, height = 0;
    double lat = 0, lon = 0;
};

// A converted point as a report or a layer gives it.
struct Converted {
    double first = 0, second = 0, height = 0; // North/East metres or latitude/longitude degrees
};

struct DatasetCloser {
    void operator()(GDALDataset* d) const { GDALClose(GDALDataset::ToHandle(d)); }
};
using DatasetPtr = std::unique_ptr<GDALDataset, DatasetCloser>;

// A GeoPackage point layer of `pts` with their names, in EPSG `code`, each point placed at
// the x (East or longitude) and y `at` gives it.
void writeNamedPoints(const std::string& path, const char* layerName, int code, const std::vector<TestPoint>& pts,
                     const std::function<std::pair<double, double>(const TestPoint&)>& at) {
    GDALDriver* drv = GetGDALDriverManager()->GetDriverByName("GPKG");
    DatasetPtr ds(drv->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    OGRSpatialReference srs;
    srs.importFromEPSG(code);
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    OGRLayer* layer = ds->CreateLayer(layerName, &srs, wkbPoint, nullptr);
    OGRFieldDefn name("nome", OFTString);
    layer->CreateField(&name);
    for (const TestPoint& p : pts) {
        OGRFeature f(layer->GetLayerDefn());
        f.SetField("nome", p.name.c_str());
        const auto [x, y] = at(p);
        OGRPoint g(x, y);
        f.SetGeometry(&g);
        ASSERT_EQ(layer->CreateFeature(&f), OGRERR_NONE);
    }
}

std::vector<std::string> split(const std::string& line, char delimiter) {
    std::vector<std::string> out;
    std::string cell;
    bool quoted = false;
    for (const char c : line) {
        if (c == '"') {
            quoted = !quoted;
        } else if (c == delimiter && !quoted) {
            out.push_back(cell);
            cell.clear();
        } else if (c != '\r') {
            cell += c;
        }
    }
    out.push_back(cell);
    return out;
}

double number(std::string text) {
    for (char& c : text) {
        if (c == ',') {
            c = '.';
        }
    }
    double v = std::nan("");
    parseNumber(text, v);
    return v;
}

std::string fixed(double v, int decimals, bool comma = false) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    std::string s(buf);
    for (char& c : s) {
        if (c == '.' || c == ',') {
            c = comma ? ',' : '.';
        }
    }
    return s;
}

class GisCli : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        GDALAllRegister();
        dir_ = new ScratchDir();
        gridgen::PortionRecipe gen = testSheetRecipe();
        const std::string gridName = gridgen::defaultFileName(gen);
        gridPath_ = dir_->file(gridName);
        writeWholeFile(gridPath_, gridgen::portionText(gen));
        GridLoadResult g = loadGridPortion(dir_->path().string(), gridName);
        ASSERT_TRUE(g.ok());
        limits_ = computeZoneLimits(*g.portion, RefSystem::Roma40);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    // Generated points over the middle of the area the portion covers (a 4 x 3 lattice,
    // heights varying), in Gauss-Boaga Est and in degrees.
    static std::vector<TestPoint> points() {
        std::vector<TestPoint> pts;
        int k = 0;
        for (int i = 0; i < 4; ++i) {
            for (int j = 0; j < 3; ++j) {
                TestPoint p;
                p.name = std::to_string(++k);
                p.name.insert(0, 1, 'P');
                p.lat = limits_.south + (limits_.north - limits_.south) * (0.2 + 0.2 * i);
                p.lon = limits_.west + (limits_.east - limits_.west) * (0.25 + 0.25 * j);
                p.height = 50.0 + 123.375 * k;
                ConversionContext ctx;
                ctx.sel.inputSystem = ctx.sel.outputSystem = RefSystem::Roma40;
                ctx.sel.inputKind = CoordKind::Geographic;
                ctx.sel.outputKind = CoordKind::Plane;
                ctx.sel.outputZone = Zone::EstOr33;
                const PointResult r =
                    convertPoint(ctx, {degreesToSexagesimal(p.lat), degreesToSexagesimal(p.lon - romeMeridian()), 0},
                                 RunKind::Batch);
                // Millimetres, as a surveyor's file holds them: the text files and the layers
                // then carry exactly the same values.
                p.north = std::round(r.outFirst * 1000) / 1000;
                p.east = std::round(r.outSecond * 1000) / 1000;
                pts.push_back(p);
            }
        }
        return pts;
    }

    // The program's ASCII report of the same points, ROMA40 Gauss-Boaga Est to `to`: name to
    // converted values (the reference). Geographic input is written in gg.ppssdddd.
    static std::map<std::string, Converted> reference(const std::vector<TestPoint>& pts,
                                                      const std::vector<std::string>& to, bool heights,
                                                      bool geographicInput = false) {
        ScratchDir d;
        std::string text;
        for (const TestPoint& p : pts) {
            if (geographicInput) {
                text += p.name + " " + fixed(degreesToSexagesimal(p.lat), 12) + " " +
                        fixed(degreesToSexagesimal(p.lon - romeMeridian()), 12);
            } else {
                text += p.name + " " + fixed(p.north, 3) + " " + fixed(p.east, 3);
            }
            text += ' ' + fixed(p.height, 3) + '\n'; // (char + string: no GCC 12 -Wrestrict false alarm)
        }
        writeWholeFile(d.file("p.txt"), text);
        std::vector<std::string> a = {"--from", "ROMA40", "--from-kind", geographicInput ? "geo" : "plane"};
        a.insert(a.end(), to.begin(), to.end());
        if (heights) {
            a.push_back("--heights");
        }
        a.insert(a.end(), {"--grid", gridPath_, "--decimal-separator", ".", d.file("p.txt"), d.file("r.txt")});
        const ProcessResult r = runBatchExe(a);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const bool geoOut = std::find(to.begin(), to.end(), "plane") == to.end();
        std::map<std::string, Converted> out;
        std::istringstream in(readWholeFile(d.file("r.txt")));
        for (std::string line; std::getline(in, line);) {
            if (line.empty() || line[0] == '/') {
                continue;
            }
            std::istringstream fields(line);
            std::vector<std::string> f;
            for (std::string w; fields >> w;) {
                f.push_back(w);
            }
            const std::size_t at = heights ? 4 : 3;
            if (f.size() < at + 2) {
                continue;
            }
            Converted c{number(f[at]), number(f[at + 1]), heights ? number(f[at + 2]) : 0};
            if (geoOut) {
                c.first = sexagesimalToDegrees(c.first);
                c.second = sexagesimalToDegrees(c.second);
            }
            out[f[0]] = c;
        }
        EXPECT_EQ(out.size(), pts.size());
        return out;
    }

    // A point layer in ROMA40 Gauss-Boaga Est (EPSG 3004) with three attributes of three types.
    static void writePointLayer(const std::string& path, const char* driverName, const std::vector<TestPoint>& pts) {
        GDALDriver* drv = GetGDALDriverManager()->GetDriverByName(driverName);
        ASSERT_NE(drv, nullptr);
        DatasetPtr ds(drv->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
        ASSERT_TRUE(ds);
        OGRSpatialReference srs;
        srs.importFromEPSG(3004);
        OGRLayer* layer = ds->CreateLayer("punti", &srs, wkbPoint25D, nullptr);
        ASSERT_NE(layer, nullptr);
        OGRFieldDefn name("nome", OFTString), code("codice", OFTInteger), weight("peso", OFTReal);
        layer->CreateField(&name);
        layer->CreateField(&code);
        layer->CreateField(&weight);
        int k = 0;
        for (const TestPoint& p : pts) {
            OGRFeature f(layer->GetLayerDefn());
            f.SetField("nome", p.name.c_str());
            f.SetField("codice", 100 + k);
            f.SetField("peso", 0.5 * k++);
            OGRPoint g(p.east, p.north, p.height);
            f.SetGeometry(&g);
            ASSERT_EQ(layer->CreateFeature(&f), OGRERR_NONE);
        }
    }

    static DatasetPtr openLayer(const std::string& path) {
        return DatasetPtr(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    }

    // The layer's spatial reference names the expected system, kind and zone: by its EPSG
    // code, or (a shapefile's .prj keeps none) by the code PROJ identifies it as.
    static void expectReference(OGRLayer& layer, const EpsgCrs& expected) {
        const OGRSpatialReference* srs = layer.GetSpatialRef();
        ASSERT_NE(srs, nullptr);
        OGRSpatialReference copy(*srs);
        const char* code = copy.GetAuthorityCode(nullptr);
        if (code == nullptr) {
            int count = 0;
            int* confidence = nullptr;
            OGRSpatialReferenceH* matches =
                OSRFindMatches(OGRSpatialReference::ToHandle(&copy), nullptr, &count, &confidence);
            ASSERT_GT(count, 0);
            copy = *OGRSpatialReference::FromHandle(matches[0]);
            OSRFreeSRSArray(matches);
            CPLFree(confidence);
            code = copy.GetAuthorityCode(nullptr);
        }
        ASSERT_NE(code, nullptr);
        EXPECT_EQ(crsFromEpsg(std::atoi(code)), expected) << code;
    }

    static ScratchDir* dir_;
    static std::string gridPath_;
    static ZoneLimits limits_;
};

ScratchDir* GisCli::dir_ = nullptr;
std::string GisCli::gridPath_;
ZoneLimits GisCli::limits_;

// An EPSG code is the same selection as its words: the reports are byte for byte the same.
TEST_F(GisCli, EpsgCodesSelectAsTheirWords) {
    struct Case {
        std::vector<std::string> code, words;
    };
    const Case cases[] = {
        {{"--from", "EPSG:3004", "--to", "EPSG:6708"},
         {"--from", "ROMA40", "--from-kind", "plane", "--from-zone", "est", "--to", "ETRF2000", "--to-kind", "plane",
          "--to-zone", "33"}},
        {{"--from", "epsg:3004", "--to", "EPSG:4230"},
         {"--from", "ROMA40", "--from-kind", "plane", "--from-zone", "est", "--to", "ED50"}},
        {{"--from", "EPSG:3004", "--from-kind", "plane", "--to", "EPSG:6875", "--to-zone", "italia"},
         {"--from", "ROMA40", "--from-kind", "plane", "--from-zone", "est", "--to", "ETRF2000", "--to-kind", "plane",
          "--to-zone", "italia"}},
        {{"--from", "EPSG:3004", "--to", "EPSG:25833"},
         {"--from", "ROMA40", "--from-kind", "plane", "--from-zone", "est", "--to", "etrf89", "--to-kind", "plane",
          "--to-zone", "33"}},
    };
    ScratchDir d;
    std::string text;
    for (const TestPoint& p : points()) {
        text += p.name + " " + fixed(p.north, 3) + " " + fixed(p.east, 3) + "\n";
    }
    writeWholeFile(d.file("p.txt"), text);
    for (const Case& c : cases) {
        std::vector<std::string> a = c.code, b = c.words;
        for (std::vector<std::string>* v : {&a, &b}) {
            v->insert(v->end(), {"--grid", gridPath_, "--decimal-separator", "."});
        }
        a.insert(a.end(), {d.file("p.txt"), d.file("a.txt")});
        b.insert(b.end(), {d.file("p.txt"), d.file("b.txt")});
        const ProcessResult ra = runBatchExe(a), rb = runBatchExe(b);
        EXPECT_EQ(ra.exitCode, 0) << c.code[1] << ra.err;
        EXPECT_EQ(rb.exitCode, 0) << rb.err;
        EXPECT_EQ(readWholeFile(d.file("a.txt")), readWholeFile(d.file("b.txt"))) << c.code[1] << " " << c.code[3];
    }
}

// Fault guarded: `--to` with a code accepted for reading (ETRS89, RDN2008 easting first)
// wrote a layer carrying another code. A layer result with such a code is refused naming the
// code it would carry, the old result left as it was; a report or workbook (no code in it)
// is written as with the code of the table.
TEST_F(GisCli, ToWithACodeOnlyReadIsRefusedForLayers) {
    const std::pair<int, int> codes[] = {{4258, 4670}, {25832, 3064}, {25833, 3065}, {25834, 9716},
                                         {7791, 6707}, {7792, 6708},  {7793, 6709},  {7794, 6875}};
    ScratchDir d;
    std::string text, csv = "nome,n,e\n";
    for (const TestPoint& p : points()) {
        text += p.name + " " + fixed(p.north, 3) + " " + fixed(p.east, 3) + "\n";
        csv += p.name + "," + fixed(p.north, 3) + "," + fixed(p.east, 3) + "\n";
    }
    writeWholeFile(d.file("p.txt"), text);
    writeWholeFile(d.file("p.csv"), csv);
    const std::string layer = d.file("r.gpkg");
    writeWholeFile(layer, "old result");
    for (const auto& [asked, given] : codes) {
        SCOPED_TRACE(asked);
        const std::string to = "EPSG:" + std::to_string(asked);
        const ProcessResult g =
            runBatchExe({"--from", "EPSG:3004", "--to", to, "--grid", gridPath_, d.file("p.csv"), layer});
        EXPECT_EQ(g.exitCode, 2) << g.err;
        EXPECT_NE(g.err.find("ha il codice EPSG " + std::to_string(given) + ", non " + std::to_string(asked)),
                  std::string::npos)
            << g.err;
        EXPECT_NE(g.err.find("usare --to EPSG:" + std::to_string(given)), std::string::npos) << g.err;
        EXPECT_EQ(readWholeFile(layer), "old result");
        const ProcessResult a = runBatchExe({"--from", "EPSG:3004", "--to", to, "--grid", gridPath_,
                                             "--decimal-separator", ".", d.file("p.txt"), d.file("a.txt")});
        const ProcessResult b = runBatchExe({"--from", "EPSG:3004", "--to", "EPSG:" + std::to_string(given), "--grid",
                                             gridPath_, "--decimal-separator", ".", d.file("p.txt"), d.file("b.txt")});
        EXPECT_EQ(a.exitCode, 0) << a.err;
        EXPECT_EQ(readWholeFile(d.file("a.txt")), readWholeFile(d.file("b.txt")));
    }
}

// Command lines that are wrong: exit 2 with the reason; the agreeing ones are not refused.
TEST_F(GisCli, UsageErrors) {
    ScratchDir d;
    writeWholeFile(d.file("p.txt"), "P1 4600000 2400000\n");
    writeWholeFile(d.file("p.csv"), "nome,n,e\nP1,4600000,2400000\n");
    struct Case {
        std::vector<std::string> args;
        std::string reason; // empty: not a usage error
    };
    const std::string txt = d.file("p.txt"), csv = d.file("p.csv");
    const Case cases[] = {
        {{"--from", "EPSG:3004", "--from-kind", "geo", "--to", "ED50"}, "in contrasto con EPSG:3004"},
        {{"--from", "EPSG:3004", "--from-zone", "ovest", "--to", "ED50"}, "in contrasto con EPSG:3004"},
        {{"--from", "EPSG:4265", "--from-zone", "ovest", "--to", "ED50"}, "in contrasto con EPSG:4265"},
        {{"--from", "EPSG:4326", "--to", "ED50"}, "codice EPSG 4326"},
        {{"--from", "EPSG:4806", "--to", "ED50"}, ""}, // ROMA40 geographic from Monte Mario
        {{"--from", "EPSG:", "--to", "ED50"}, "sistema sconosciuto"},
        {{"--from", "EPSG:3004", "--to", "ED50", "--columns", "1,2,3"}, "--columns vale solo"},
        {{"--from", "EPSG:3004", "--to", "ED50", "--delimiter", ";"}, "--delimiter vale solo"},
        {{"--from", "EPSG:3004", "--to", "ED50", "--type", "gis", "--columns", "1,2"}, "NOME,N,E"},
        {{"--from", "EPSG:3004", "--to", "ED50", "--type", "gis", "--columns", "1,,3"}, "colonna vuota"},
        {{"--from", "EPSG:3004", "--to", "ETRF89", "--heights", "--type", "gis", "--columns", "1,2,3"},
         "colonna della quota"},
        {{"--from", "EPSG:3004", "--to", "ED50", "--type", "gis", "--delimiter", "|"}, "--delimiter"},
        {{"--from", "EPSG:3004", "--to", "ED50", "--to-kind", "plane", "--type", "gis"}, "fuso dei risultati"},
        {{"--from", "EPSG:3004", "--to", "ED50", "--type", "shape"}, "non e' ascii, excel ne' gis"},
        {{"--from", "EPSG:3004", "--from-zone", "est", "--from-kind", "plane", "--to", "EPSG:23033"}, ""},
        // The words through the library's parsers: any case, and each system its own zone names.
        {{"--from", "roma40", "--from-kind", "PLANE", "--from-zone", "EST", "--to", "Ed50"}, ""},
        {{"--from", "ROMA40", "--from-kind", "plane", "--from-zone", "33", "--to", "ED50"},
         "il fuso \"33\" non e' tra quelli di ROMA40"},
        {{"--from", "EPSG:3004", "--to", "ED50", "--to-kind", "plane", "--to-zone", "ovest"},
         "il fuso \"ovest\" non e' tra quelli di ED50"},
        {{"--from", "EPSG:3004", "--to", "ED50", "--to-kind", "plane", "--to-zone", "Italia"},
         "il fuso \"Italia\" non e' tra quelli di ED50"},
        {{"--from", "EPSG:3004", "--to", "ETRF2000", "--to-kind", "plane", "--to-zone", "ITALIA"}, ""},
        {{"--from", "WGS84", "--to", "ED50"}, "--from: sistema sconosciuto \"WGS84\""},
    };
    for (const Case& c : cases) {
        std::vector<std::string> a = c.args;
        const bool gis = std::find(a.begin(), a.end(), "gis") != a.end();
        a.insert(a.end(), {"--grid", gridPath_, gis ? csv : txt, d.file(gis ? "r.csv" : "r.txt")});
        const ProcessResult r = runBatchExe(a);
        if (c.reason.empty()) {
            EXPECT_NE(r.exitCode, 2) << r.err;
            continue;
        }
        EXPECT_EQ(r.exitCode, 2) << c.reason;
        EXPECT_NE(r.err.find(c.reason), std::string::npos) << r.err;
    }
}

// Delimited text: comma with a header and the columns by name in another order; semicolon
// with decimal commas and extra columns (one holding a comma); tab without a header, the
// columns by number. Every row converted as the ASCII report converts it; every other
// column kept as it was; the decimal mark of each cell kept.
TEST_F(GisCli, DelimitedTextConvertsAndKeepsColumns) {
    struct Case {
        const char* label;
        char delimiter;
        bool header;
        bool decimalComma;
        const char* columns; // --columns, or null for the default 1,2,3,4
    };
    const Case cases[] = {
        {"comma, header by name", ',', true, false, "ID,Nord,Est,Quota"},
        {"semicolon, decimal commas", ';', true, true, "id,NORD,est,quota"},
        {"tab, no header, numbers", '\t', false, false, nullptr},
        {"semicolon, no header, by number", ';', false, true, "1,2,3,4"},
    };
    const std::vector<TestPoint> pts = points();
    const std::map<std::string, Converted> ref =
        reference(pts, {"--to", "ETRF2000", "--to-kind", "plane", "--to-zone", "33"}, true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ScratchDir d;
        const std::string sep(1, c.delimiter);
        // With a header the columns stand in another order than the default, and two more follow.
        const bool named = c.header;
        std::string text =
            named ? "descrizione" + sep + "Est" + sep + "id" + sep + "Nord" + sep + "Quota" + sep + "nota\n" : "";
        for (const TestPoint& p : pts) {
            const std::string n = fixed(p.north, 3, c.decimalComma), e = fixed(p.east, 3, c.decimalComma),
                              h = fixed(p.height, 3, c.decimalComma);
            if (named) {
                text += "punto " + p.name + sep + e + sep + p.name + sep + n + sep + h + sep +
                        (c.delimiter == ',' ? "\"a, b\"" : "a, b") + "\n";
            } else {
                text += p.name + sep + n + sep + e + sep + h + "\n";
            }
        }
        writeWholeFile(d.file("punti.csv"), text);
        std::vector<std::string> a = {"--from", "EPSG:3004", "--to", "EPSG:6708", "--heights", "--grid", gridPath_};
        if (c.columns != nullptr) {
            a.insert(a.end(), {"--columns", c.columns});
        }
        a.insert(a.end(), {d.file("punti.csv"), d.file("esito.csv")});
        const ProcessResult r = runBatchExe(a);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        std::istringstream in(readWholeFile(d.file("esito.csv")));
        std::string line;
        // A text result always starts with a header: the data's, or field_1 ... when it had none.
        std::getline(in, line);
        const std::vector<std::string> namedHeader{"descrizione", "Est",  "id",   "Nord",
                                                   "Quota",       "nota", "ZONA", "STATO"};
        const std::vector<std::string> numbered{"field_1", "field_2", "field_3", "field_4", "ZONA", "STATO"};
        EXPECT_EQ(split(line, c.delimiter), c.header ? namedHeader : numbered);
        std::size_t rows = 0;
        for (; std::getline(in, line); ++rows) {
            const std::vector<std::string> f = split(line, c.delimiter);
            ASSERT_EQ(f.size(), named ? 8U : 6U) << line;
            const std::string name = named ? f[2] : f[0];
            const std::string north = named ? f[3] : f[1], east = named ? f[1] : f[2], height = named ? f[4] : f[3];
            ASSERT_TRUE(ref.count(name)) << line;
            const Converted& want = ref.at(name);
            EXPECT_NEAR(number(north), want.first, 1e-6) << line;
            EXPECT_NEAR(number(east), want.second, 1e-6) << line;
            EXPECT_NEAR(number(height), want.height, 1e-6) << line;
            EXPECT_EQ(north.find(','), c.decimalComma ? north.find_first_of(",") : std::string::npos);
            EXPECT_EQ(north.find(',') != std::string::npos, c.decimalComma) << north;
            if (named) {
                EXPECT_EQ(f[0], "punto " + name);
                EXPECT_EQ(f[5], "a, b");
            }
            EXPECT_EQ(f[f.size() - 2], "Vero"); // projected into the point's own zone
            EXPECT_EQ(f.back(), "convertito");
        }
        EXPECT_EQ(rows, pts.size());
    }
}

// A GeoPackage and a Shapefile of points with heights: the result has the target's spatial
// reference, every attribute as it was, and coordinates and heights equal to the report's.
TEST_F(GisCli, PointLayersConvertAsTheReport) {
    struct Case {
        const char* driver;
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"GPKG", "punti.gpkg", "esito.gpkg"},
        {"ESRI Shapefile", "punti.shp", "esito.shp"},
        {"GPKG", "punti.gpkg", "esito.shp"}, // the result's extension chooses the driver
        {"ESRI Shapefile", "punti.shp", "esito.geojson"},
    };
    const std::vector<TestPoint> pts = points();
    const std::map<std::string, Converted> ref =
        reference(pts, {"--to", "ETRF2000", "--to-kind", "plane", "--to-zone", "33"}, true);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.in) + " -> " + c.out);
        ScratchDir d;
        writePointLayer(d.file(c.in), c.driver, pts);
        const ProcessResult r = runBatchExe({"--from", "EPSG:3004", "--to", "EPSG:6708", "--heights", "--grid",
                                             gridPath_, d.file(c.in), d.file(c.out)});
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.err.find("PUNTI TRATTATI:   " + std::to_string(pts.size())), std::string::npos) << r.err;
        DatasetPtr ds = openLayer(d.file(c.out));
        ASSERT_TRUE(ds);
        OGRLayer& layer = *ds->GetLayer(0);
        expectReference(layer, EpsgCrs{RefSystem::Etrf2000, CoordKind::Plane, Zone::EstOr33});
        EXPECT_EQ(layer.GetFeatureCount(), static_cast<GIntBig>(pts.size()));
        int k = 0;
        for (auto& f : layer) {
            const std::string name = f->GetFieldAsString("nome");
            ASSERT_TRUE(ref.count(name)) << name;
            EXPECT_EQ(f->GetFieldAsInteger("codice"), 100 + k);
            EXPECT_DOUBLE_EQ(f->GetFieldAsDouble("peso"), 0.5 * k);
            ++k;
            EXPECT_STREQ(f->GetFieldAsString("ZONA"), "Vero");
            EXPECT_STREQ(f->GetFieldAsString("STATO"), "convertito");
            const OGRPoint* g = f->GetGeometryRef()->toPoint();
            ASSERT_TRUE(g->Is3D());
            // The report writes millimetres: half a millimetre apart at most.
            EXPECT_NEAR(g->getY(), ref.at(name).first, 0.0005 + 1e-9);
            EXPECT_NEAR(g->getX(), ref.at(name).second, 0.0005 + 1e-9);
            EXPECT_NEAR(g->getZ(), ref.at(name).height, 0.0005 + 1e-9);
        }
        EXPECT_EQ(k, static_cast<int>(pts.size()));
        // Nothing left beside the result: the scratch folder it was written in is gone.
        for (const auto& e : fs::directory_iterator(d.path())) {
            EXPECT_EQ(e.path().filename().string().rfind(".dormal2k-", 0), std::string::npos) << e.path();
        }
    }
}

// Geographic layers are decimal degrees from Greenwich: ROMA40 (EPSG 4265) to ETRF2000
// (EPSG 6706) as the report converts the same points written from Monte Mario.
TEST_F(GisCli, GeographicLayerCountsFromGreenwich) {
    const std::vector<TestPoint> pts = points();
    const std::map<std::string, Converted> ref = reference(pts, {"--to", "ETRF2000"}, false, true);
    ScratchDir d;
    writeNamedPoints(d.file("geo.gpkg"), "geo", 4265, pts, [](const TestPoint& p) { return std::pair{p.lon, p.lat}; });
    const ProcessResult r = runBatchExe(
        {"--from", "EPSG:4265", "--to", "EPSG:6706", "--grid", gridPath_, d.file("geo.gpkg"), d.file("out.gpkg")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    DatasetPtr ds = openLayer(d.file("out.gpkg"));
    ASSERT_TRUE(ds);
    OGRLayer& layer = *ds->GetLayer(0);
    expectReference(layer, EpsgCrs{RefSystem::Etrf2000, CoordKind::Geographic, Zone::Auto});
    for (auto& f : layer) {
        const std::string name = f->GetFieldAsString("nome");
        const OGRPoint* g = f->GetGeometryRef()->toPoint();
        // Both carry the chain's 1e-4" rounding; 1e-7 degree is about a centimetre.
        EXPECT_NEAR(g->getY(), ref.at(name).first, 1e-7) << name;
        EXPECT_NEAR(g->getX(), ref.at(name).second, 1e-7) << name;
        EXPECT_STREQ(f->GetFieldAsString("ZONA"), "33");
    }
}

// A report's data lines: name to its words.
std::map<std::string, std::vector<std::string>> reportLines(const std::string& report) {
    std::map<std::string, std::vector<std::string>> out;
    std::istringstream in(report);
    for (std::string line; std::getline(in, line);) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string w; fields >> w;) {
            f.push_back(w);
        }
        if (f.size() >= 5 && line[0] != '/') {
            out[f[0]] = f;
        }
    }
    return out;
}

// gg.ppssdddd with eight decimals to ten-thousandths of a second, and back: sums of such
// values are exact.
long long tenThousandths(const std::string& sexagesimal) {
    const std::size_t dot = sexagesimal.find('.');
    const std::string frac = sexagesimal.substr(dot + 1);
    const long long seconds = std::stoll(sexagesimal.substr(0, dot)) * 3600 + std::stoll(frac.substr(0, 2)) * 60 +
                              std::stoll(frac.substr(2, 2));
    return seconds * 10000 + std::stoll(frac.substr(4, 4));
}
std::string sexagesimalText(long long units) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%lld.%02lld%02lld%04lld", units / 36000000, units / 600000 % 60, units / 10000 % 60,
                  units % 10000);
    return buf;
}

// ROMA40 geographic by its two codes in data files and reports: EPSG:4806 counts longitudes
// from Monte Mario, as the words do (the same report); EPSG:4265 from Greenwich, exactly the
// Monte Mario meridian (12 deg 27' 08.4") more, both read and written.
TEST_F(GisCli, Roma40GeographicCodesInReports) {
    constexpr long long kMonteMario = ((12 * 60 + 27) * 60 + 8) * 10000LL + 4000; // 12.27084
    ScratchDir d;
    std::string mm, gw;
    for (const TestPoint& p : points()) {
        const std::string lat = fixed(degreesToSexagesimal(p.lat), 8);
        const std::string lon = fixed(degreesToSexagesimal(p.lon - romeMeridian()), 8);
        mm += p.name + " " + lat + " " + lon + "\n";
        gw += p.name + " " + lat + " " + sexagesimalText(tenThousandths(lon) + kMonteMario) + "\n";
    }
    writeWholeFile(d.file("mm.txt"), mm);
    writeWholeFile(d.file("gw.txt"), gw);
    const auto run = [&](std::vector<std::string> a, const std::string& data, const std::string& result) {
        a.insert(a.end(), {"--grid", gridPath_, "--decimal-separator", ".", d.file(data), d.file(result)});
        const ProcessResult r = runBatchExe(a);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return readWholeFile(d.file(result));
    };
    // Into ETRF2000: the words, 4806 and 4265 (Greenwich values) give the same results.
    const std::string words = run({"--from", "ROMA40", "--from-kind", "geo", "--to", "ETRF2000"}, "mm.txt", "w.txt");
    EXPECT_EQ(run({"--from", "EPSG:4806", "--to", "ETRF2000"}, "mm.txt", "a.txt"), words);
    const auto fromWords = reportLines(words);
    const auto fromGreenwich = reportLines(run({"--from", "EPSG:4265", "--to", "EPSG:6706"}, "gw.txt", "b.txt"));
    ASSERT_EQ(fromWords.size(), 12U);
    ASSERT_EQ(fromGreenwich.size(), 12U);
    for (const auto& [name, f] : fromWords) {
        EXPECT_EQ(fromGreenwich.at(name)[3], f[3]) << name;
        EXPECT_EQ(fromGreenwich.at(name)[4], f[4]) << name;
    }
    // Back into ROMA40 from those results.
    std::string etrf;
    for (const auto& [name, f] : fromWords) {
        etrf += name + " " + f[3] + " " + f[4] + "\n";
    }
    writeWholeFile(d.file("etrf.txt"), etrf);
    const std::string back = run({"--from", "ETRF2000", "--to", "ROMA40"}, "etrf.txt", "c.txt");
    EXPECT_EQ(run({"--from", "EPSG:6706", "--to", "EPSG:4806"}, "etrf.txt", "e.txt"), back);
    const auto toMonteMario = reportLines(back);
    const auto toGreenwich = reportLines(run({"--from", "ETRF2000", "--to", "EPSG:4265"}, "etrf.txt", "f.txt"));
    ASSERT_EQ(toGreenwich.size(), 12U);
    for (const auto& [name, f] : toMonteMario) {
        EXPECT_EQ(toGreenwich.at(name)[3], f[3]) << name;
        EXPECT_EQ(tenThousandths(toGreenwich.at(name)[4]) - tenThousandths(f[4]), kMonteMario) << name;
    }
}

// A layer in EPSG 4806 holds ROMA40 longitudes from Monte Mario: it is read so, whether the
// run names it by the words or by its code, and a run that names it 4265 is refused. Results
// asked for in 4806 are written so, with that code; by the words or 4265, from Greenwich.
TEST_F(GisCli, Roma40LayerFromMonteMario) {
    const std::vector<TestPoint> pts = points();
    const std::map<std::string, Converted> ref = reference(pts, {"--to", "ETRF2000"}, false, true);
    ScratchDir d;
    writeNamedPoints(d.file("mm.gpkg"), "punti", 4806, pts,
                     [](const TestPoint& p) { return std::pair{p.lon - romeMeridian(), p.lat}; });
    writeNamedPoints(d.file("etrf.gpkg"), "punti", 6706, pts,
                     [&](const TestPoint& p) { return std::pair{ref.at(p.name).second, ref.at(p.name).first}; });
    struct Case {
        std::vector<std::string> sides;
        const char* data;
        EpsgCrs crs;     // of the result
        double lonShift; // ROMA40 results: longitude minus the one from Greenwich
    };
    const EpsgCrs etrf{RefSystem::Etrf2000, CoordKind::Geographic, Zone::Auto};
    const EpsgCrs greenwich{RefSystem::Roma40, CoordKind::Geographic, Zone::Auto};
    const EpsgCrs monteMario{RefSystem::Roma40, CoordKind::Geographic, Zone::Auto, true};
    const Case cases[] = {
        {{"--from", "ROMA40", "--from-kind", "geo", "--to", "EPSG:6706"}, "mm.gpkg", etrf, 0},
        {{"--from", "EPSG:4806", "--to", "EPSG:6706"}, "mm.gpkg", etrf, 0},
        {{"--from", "EPSG:6706", "--to", "EPSG:4806"}, "etrf.gpkg", monteMario, -romeMeridian()},
        {{"--from", "EPSG:6706", "--to", "EPSG:4265"}, "etrf.gpkg", greenwich, 0},
        {{"--from", "EPSG:6706", "--to", "ROMA40"}, "etrf.gpkg", greenwich, 0},
    };
    std::map<std::string, double> roma40Lon; // name to the first ROMA40 result's longitude from Greenwich
    int k = 0;
    for (const Case& c : cases) {
        std::vector<std::string> a = c.sides;
        const std::string out = d.file("out" + std::to_string(++k) + ".gpkg");
        a.insert(a.end(), {"--grid", gridPath_, d.file(c.data), out});
        const ProcessResult r = runBatchExe(a);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        DatasetPtr ds = openLayer(out);
        ASSERT_TRUE(ds);
        OGRLayer& layer = *ds->GetLayer(0);
        expectReference(layer, c.crs);
        ASSERT_EQ(layer.GetFeatureCount(), 12);
        for (auto& f : layer) {
            const std::string name = f->GetFieldAsString("nome");
            const OGRPoint* g = f->GetGeometryRef()->toPoint();
            if (c.crs.system == RefSystem::Etrf2000) {
                EXPECT_NEAR(g->getX(), ref.at(name).second, 1e-7) << name;
                EXPECT_NEAR(g->getY(), ref.at(name).first, 1e-7) << name;
            } else if (const auto seen = roma40Lon.find(name); seen == roma40Lon.end()) {
                roma40Lon[name] = g->getX() - c.lonShift;
            } else {
                EXPECT_NEAR(g->getX() - c.lonShift, seen->second, 1e-10) << name;
            }
        }
    }
    const ProcessResult r = runBatchExe(
        {"--from", "EPSG:4265", "--to", "EPSG:6706", "--grid", gridPath_, d.file("mm.gpkg"), d.file("x.gpkg")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("EPSG:4806"), std::string::npos) << r.err;
}

// Results whose seconds fall in [59.99995, 60): the report carries them into the next minute,
// a layer takes the chain's decimal degrees as they are. The points are made by running the
// chain backwards from 41 29' 59.99997" N 14 59' 59.99997" E (ETRF2000) to ROMA40 Est.
TEST_F(GisCli, GeographicLayerTakesTheChainsDegrees) {
    const fs::path grid(gridPath_);
    const GridLoadResult loaded = loadGridPortion(grid.parent_path().string(), grid.filename().string());
    ASSERT_TRUE(loaded.ok());
    const GridPortion& portion = *loaded.portion;
    const ZoneInfo est = zoneInfo(RefSystem::Roma40, Zone::EstOr33);
    const double rome = romeMeridian();
    // ROMA40 Est North/East -> ETRF2000 latitude/longitude, decimal degrees from Greenwich.
    const auto forward = [&](double north, double east) {
        const GeoLatDLon g = tmInverse(ellipsoidOf(RefSystem::Roma40), est.scale, north, east - est.falseEasting);
        const DatumResult t =
            transformDatum(portion, radToDeg(g.invLat), radToDeg(g.invDLon) + est.centralMeridianMM + rome, 0,
                           RefSystem::Roma40, RefSystem::Etrf2000);
        return std::pair<double, double>{t.outLat, t.outLon};
    };
    const auto backward = [&](double lat, double lon) {
        const DatumResult t = transformDatum(portion, lat, lon, 0, RefSystem::Etrf2000, RefSystem::Roma40);
        const PlaneXY p = tmForward(ellipsoidOf(RefSystem::Roma40), est.scale, degToRad(t.outLat),
                                    degToRad(t.outLon - rome - est.centralMeridianMM));
        return std::pair<double, double>{p.tmNorth, p.tmEast + est.falseEasting};
    };
    const auto seconds = [](double deg) {
        const double m = (deg - std::floor(deg)) * 60;
        return (m - std::floor(m)) * 60;
    };
    const double nearly60s = 59.99997 / 3600;
    const std::pair<double, double> targets[] = {
        {41 + 29.0 / 60 + nearly60s, 14 + 59.0 / 60 + nearly60s},
        {41 + 30.0 / 60 + nearly60s, 15 + 0.0 / 60 + nearly60s},
        {41 + 31.0 / 60 + nearly60s, 15 + 1.0 / 60 + nearly60s},
    };
    std::vector<TestPoint> pts;
    std::string text;
    for (const auto& [tLat, tLon] : targets) {
        double lat = tLat, lon = tLon;
        std::pair<double, double> ne;
        for (int i = 0; i < 4; ++i) {
            ne = backward(lat, lon);
            const auto [fLat, fLon] = forward(ne.first, ne.second);
            lat += tLat - fLat;
            lon += tLon - fLon;
        }
        TestPoint p;
        p.name = "S" + std::to_string(pts.size() + 1);
        p.north = std::round(ne.first * 1e6) / 1e6; // as the data file below writes them
        p.east = std::round(ne.second * 1e6) / 1e6;
        const auto [fLat, fLon] = forward(p.north, p.east);
        ASSERT_GE(seconds(fLat), 59.99995) << p.name;
        ASSERT_GE(seconds(fLon), 59.99995) << p.name;
        p.lat = fLat;
        p.lon = fLon;
        pts.push_back(p);
        text += p.name + " " + fixed(p.north, 6) + " " + fixed(p.east, 6) + "\n";
    }
    ScratchDir d;
    // The report, as before: the seconds carried into the next minute.
    writeWholeFile(d.file("p.txt"), text);
    ProcessResult r = runBatchExe({"--from", "ROMA40", "--from-kind", "plane", "--from-zone", "Est", "--to", "ETRF2000",
                                   "--grid", gridPath_, "--decimal-separator", ".", d.file("p.txt"), d.file("r.txt")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string report = readWholeFile(d.file("r.txt"));
    EXPECT_NE(report.find(" S1 "), std::string::npos) << report;
    for (const char* carried : {"41.30000000  15.00000000", "41.31000000  15.01000000", "41.32000000  15.02000000"}) {
        EXPECT_NE(report.find(carried), std::string::npos) << carried << "\n" << report;
    }
    // The layer: the chain's own values.
    writePointLayer(d.file("s.gpkg"), "GPKG", pts);
    r = runBatchExe(
        {"--from", "EPSG:3004", "--to", "EPSG:6706", "--grid", gridPath_, d.file("s.gpkg"), d.file("out.gpkg")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    DatasetPtr ds = openLayer(d.file("out.gpkg"));
    ASSERT_TRUE(ds);
    std::size_t n = 0;
    for (auto& f : *ds->GetLayer(0)) {
        const TestPoint& p = pts.at(n++);
        EXPECT_STREQ(f->GetFieldAsString("nome"), p.name.c_str());
        const OGRPoint* g = f->GetGeometryRef()->toPoint();
        EXPECT_NEAR(g->getY(), p.lat, 1e-12) << p.name;
        EXPECT_NEAR(g->getX(), p.lon, 1e-12) << p.name;
    }
    EXPECT_EQ(n, pts.size());
}

// Polygons (a cadastral layer): every vertex converted as the report converts it as a point;
// a polygon with one vertex outside the grid is written without geometry and says so.
TEST_F(GisCli, PolygonLayerConvertsEveryVertex) {
    const std::vector<TestPoint> pts = points(); // 4 rows x 3 columns
    const std::map<std::string, Converted> ref =
        reference(pts, {"--to", "ETRF2000", "--to-kind", "plane", "--to-zone", "33"}, false);
    ScratchDir d;
    // Parcels over neighbouring lattice points: (row i, column j) to (i+1, j+1).
    std::vector<std::vector<std::size_t>> rings;
    for (std::size_t i = 0; i + 1 < 4; ++i) {
        for (std::size_t j = 0; j + 1 < 3; ++j) {
            const std::size_t a = i * 3 + j;
            rings.push_back({a, a + 1, a + 4, a + 3});
        }
    }
    OGRPolygon outside;
    {
        GDALDriver* drv = GetGDALDriverManager()->GetDriverByName("GPKG");
        DatasetPtr ds(drv->Create(d.file("particelle.gpkg").c_str(), 0, 0, 0, GDT_Unknown, nullptr));
        OGRSpatialReference srs;
        srs.importFromEPSG(3004);
        OGRLayer* layer = ds->CreateLayer("particelle", &srs, wkbPolygon, nullptr);
        OGRFieldDefn id("particella", OFTInteger);
        layer->CreateField(&id);
        int k = 0;
        for (const auto& ring : rings) {
            OGRLinearRing lr;
            for (const std::size_t v : ring) {
                lr.addPoint(pts[v].east, pts[v].north);
            }
            lr.closeRings();
            OGRPolygon poly;
            poly.addRing(&lr);
            OGRFeature f(layer->GetLayerDefn());
            f.SetField("particella", ++k);
            f.SetGeometry(&poly);
            ASSERT_EQ(layer->CreateFeature(&f), OGRERR_NONE);
        }
        // The last parcel reaches 50 km beyond the grid with one vertex.
        OGRLinearRing lr;
        lr.addPoint(pts[0].east, pts[0].north);
        lr.addPoint(pts[1].east, pts[1].north);
        lr.addPoint(pts[1].east + 50000, pts[1].north - 50000);
        lr.closeRings();
        outside.addRing(&lr);
        OGRFeature f(layer->GetLayerDefn());
        f.SetField("particella", ++k);
        f.SetGeometry(&outside);
        ASSERT_EQ(layer->CreateFeature(&f), OGRERR_NONE);
    }
    const ProcessResult r = runBatchExe({"--from", "EPSG:3004", "--to", "EPSG:6708", "--grid", gridPath_,
                                         d.file("particelle.gpkg"), d.file("esito.gpkg")});
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_NE(r.err.find("PUNTI NON CALCOLATI PERCHE' FUORI DALLA GRIGLIA:  1"), std::string::npos) << r.err;
    DatasetPtr ds = openLayer(d.file("esito.gpkg"));
    ASSERT_TRUE(ds);
    OGRLayer& layer = *ds->GetLayer(0);
    EXPECT_EQ(wkbFlatten(layer.GetGeomType()), wkbPolygon);
    for (auto& f : layer) {
        const int k = f->GetFieldAsInteger("particella");
        if (k == static_cast<int>(rings.size()) + 1) {
            // No geometry: its Gauss-Boaga vertices would stand among the UTM ones.
            EXPECT_STREQ(f->GetFieldAsString("STATO"), "fuori griglia");
            EXPECT_EQ(f->GetGeometryRef(), nullptr);
            continue;
        }
        ASSERT_NE(f->GetGeometryRef(), nullptr);
        const OGRPolygon* poly = f->GetGeometryRef()->toPolygon();
        EXPECT_STREQ(f->GetFieldAsString("STATO"), "convertito");
        const OGRLinearRing* lr = poly->getExteriorRing();
        const auto& ring = rings[static_cast<std::size_t>(k - 1)];
        ASSERT_EQ(lr->getNumPoints(), 5);
        for (int v = 0; v < 5; ++v) {
            const Converted& want = ref.at(pts[ring[static_cast<std::size_t>(v % 4)]].name);
            EXPECT_NEAR(lr->getY(v), want.first, 0.0005 + 1e-9) << k << " " << v;
            EXPECT_NEAR(lr->getX(v), want.second, 0.0005 + 1e-9) << k << " " << v;
        }
    }
}

// Rows and features that cannot be read are reported with their number, counted, and
// written with their status: nothing is dropped without a word.
TEST_F(GisCli, BadRowsAndFeaturesAreReportedWithTheirNumber) {
    ScratchDir d;
    const std::vector<TestPoint> pts = points();
    std::string text = "nome;nord;est\n";
    for (std::size_t i = 0; i < 4; ++i) {
        const bool bad = i == 2; // file line 4
        text += pts[i].name + ";" + (bad ? std::string("4x") : fixed(pts[i].north, 3, true)) + ";" +
                fixed(pts[i].east, 3, true) + "\n";
    }
    writeWholeFile(d.file("p.csv"), text);
    ProcessResult r = runBatchExe(
        {"--from", "EPSG:3004", "--to", "EPSG:6708", "--grid", gridPath_, d.file("p.csv"), d.file("r.csv")});
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_NE(r.err.find("ERRORE NELLA LETTURA NELLA COORD. NORD\nALLA RIGA:     4    DEL FILE DI INPUT"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("RIGHE SCARTATE PER ERRORI DI LETTURA:  1"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("PUNTI TRATTATI:   3"), std::string::npos) << r.err;
    std::istringstream out(readWholeFile(d.file("r.csv")));
    std::vector<std::vector<std::string>> rows;
    for (std::string line; std::getline(out, line);) {
        rows.push_back(split(line, ';'));
    }
    ASSERT_EQ(rows.size(), 5U);
    // The bad row as it was, marked; its neighbours converted.
    EXPECT_EQ(rows[3], (std::vector<std::string>{pts[2].name, "4x", fixed(pts[2].east, 3, true), "", "scartato"}));
    EXPECT_EQ(rows[4].back(), "convertito");

    // A layer: the second feature has no geometry (kept, "senza geometria"), the third no
    // height while heights are on.
    {
        GDALDriver* drv = GetGDALDriverManager()->GetDriverByName("GPKG");
        DatasetPtr ds(drv->Create(d.file("p.gpkg").c_str(), 0, 0, 0, GDT_Unknown, nullptr));
        OGRSpatialReference srs;
        srs.importFromEPSG(3004);
        OGRLayer* layer = ds->CreateLayer("p", &srs, wkbUnknown, nullptr);
        for (int i = 0; i < 3; ++i) {
            OGRFeature f(layer->GetLayerDefn());
            OGRPoint g3(pts[0].east, pts[0].north, 10.0);
            OGRPoint g2(pts[0].east, pts[0].north);
            if (i == 0) {
                f.SetGeometry(&g3);
            } else if (i == 2) {
                f.SetGeometry(&g2);
            }
            ASSERT_EQ(layer->CreateFeature(&f), OGRERR_NONE);
        }
    }
    r = runBatchExe({"--from", "EPSG:3004", "--to", "EPSG:6708", "--heights", "--grid", gridPath_, d.file("p.gpkg"),
                     d.file("r.gpkg")});
    EXPECT_EQ(r.exitCode, 3) << r.err;
    // No geometry is no reading error: the feature is kept and counted.
    EXPECT_EQ(r.err.find("ALL'ELEMENTO:     2    DEL FILE DI INPUT"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("ELEMENTI SENZA GEOMETRIA:  1"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("ERRORE NELLA LETTURA NELLA QUOTA\nALL'ELEMENTO:     3    DEL FILE DI INPUT"),
              std::string::npos)
        << r.err;
    DatasetPtr ds = openLayer(d.file("r.gpkg"));
    ASSERT_TRUE(ds);
    EXPECT_EQ(ds->GetLayer(0)->GetFeatureCount(), 3);
}

// Values that cannot be a point on the Earth: a text row and a feature with such a vertex
// are reading errors with the value shown, written marked "scartato"; the rest converted.
TEST_F(GisCli, ImpossibleValuesAreReadingErrors) {
    ScratchDir d;
    const std::vector<TestPoint> pts = points();
    struct Row {
        std::string north, east;
        const char* error; // nullptr: converted
    } const rows[] = {
        {fixed(pts[0].north, 3), fixed(pts[0].east, 3), nullptr},
        {"1000000000", fixed(pts[1].east, 3),
         "ERRORE NELLA LETTURA NELLA COORD. NORD\nALLA RIGA:     3    DEL FILE DI INPUT\n"
         "VALORE NON CONSENTITO:  1000000000"},
        {fixed(pts[2].north, 3), "-5e+20",
         "ERRORE NELLA LETTURA NELLA COOR. EST\nALLA RIGA:     4    DEL FILE DI INPUT\n"
         "VALORE NON CONSENTITO: -5e+20"},
        {fixed(pts[3].north, 3), fixed(pts[3].east, 3), nullptr},
    };
    std::string text = "nome,nord,est\n";
    for (std::size_t i = 0; i < std::size(rows); ++i) {
        for (const std::string* cell : {&pts[i].name, &rows[i].north, &rows[i].east}) {
            text += *cell;
            text += cell == &rows[i].east ? '\n' : ',';
        }
    }
    writeWholeFile(d.file("p.csv"), text);
    ProcessResult r = runBatchExe(
        {"--from", "EPSG:3004", "--to", "EPSG:6708", "--grid", gridPath_, d.file("p.csv"), d.file("r.csv")});
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_NE(r.err.find("PUNTI TRATTATI:   2"), std::string::npos) << r.err;
    std::istringstream out(readWholeFile(d.file("r.csv")));
    std::string line;
    std::getline(out, line);
    for (const Row& row : rows) {
        if (row.error != nullptr) {
            EXPECT_NE(r.err.find(row.error), std::string::npos) << row.error << "\n" << r.err;
        }
        ASSERT_TRUE(std::getline(out, line));
        EXPECT_EQ(split(line, ',').back(), row.error != nullptr ? "scartato" : "convertito") << line;
    }

    // A polygon with one vertex beyond the pole, between two good points.
    {
        GDALDriver* drv = GetGDALDriverManager()->GetDriverByName("GPKG");
        DatasetPtr ds(drv->Create(d.file("p.gpkg").c_str(), 0, 0, 0, GDT_Unknown, nullptr));
        OGRSpatialReference srs;
        srs.importFromEPSG(3004);
        OGRLayer* layer = ds->CreateLayer("p", &srs, wkbUnknown, nullptr);
        for (int i = 0; i < 3; ++i) {
            OGRFeature f(layer->GetLayerDefn());
            OGRPoint point(pts[i].east, pts[i].north);
            OGRLinearRing ring;
            ring.addPoint(pts[0].east, pts[0].north);
            ring.addPoint(pts[1].east, 20000000.0);
            ring.addPoint(pts[2].east, pts[2].north);
            ring.closeRings();
            OGRPolygon polygon;
            polygon.addRing(&ring);
            if (i == 1) {
                f.SetGeometry(&polygon);
            } else {
                f.SetGeometry(&point);
            }
            ASSERT_EQ(layer->CreateFeature(&f), OGRERR_NONE);
        }
    }
    r = runBatchExe(
        {"--from", "EPSG:3004", "--to", "EPSG:6708", "--grid", gridPath_, d.file("p.gpkg"), d.file("r.gpkg")});
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_NE(r.err.find("ERRORE NELLA LETTURA NELLA COORD. NORD\nALL'ELEMENTO:     2    DEL FILE DI INPUT\n"
                         "VALORE NON CONSENTITO:  20000000"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("PUNTI TRATTATI:   2"), std::string::npos) << r.err;
    DatasetPtr ds = openLayer(d.file("r.gpkg"));
    ASSERT_TRUE(ds);
    std::vector<std::string> status;
    for (auto& f : *ds->GetLayer(0)) {
        status.emplace_back(f->GetFieldAsString("STATO"));
    }
    EXPECT_EQ(status, (std::vector<std::string>{"convertito", "scartato", "convertito"}));
}

// Rows of a text file are numbered by the line an editor shows, whatever the line ends, empty
// lines and quoted cells that hold line ends and delimiters before them; generated files, the
// bad row placed at every position in turn.
TEST_F(GisCli, TextRowsNumberedByFileLine) {
    const std::vector<TestPoint> pts = points();
    for (const char* eol : {"\n", "\r\n", "\r"}) {
        for (std::size_t badAt = 0; badAt < 4; ++badAt) {
            SCOPED_TRACE(std::string(eol == std::string("\n")   ? "LF"
                                     : eol == std::string("\r") ? "CR"
                                                                : "CRLF") +
                         " bad row " + std::to_string(badAt));
            ScratchDir d;
            std::string text = std::string("nome;nota;nord;est") + eol;
            long line = 2, badLine = 0;
            for (std::size_t i = 0; i < 4; ++i) {
                // Every other row's note spans two lines and holds a delimiter; an empty line follows row 1.
                const std::string note =
                    i % 2 == 0 ? "\"due" + std::string(eol) + "righe; e \"\"virgolette\"\"\"" : "una";
                if (i == badAt) {
                    badLine = line;
                }
                text += pts[i].name + ";" + note + ";" + (i == badAt ? "?" : fixed(pts[i].north, 3, true)) + ";" +
                        fixed(pts[i].east, 3, true) + eol;
                line += i % 2 == 0 ? 2 : 1;
                if (i == 1) {
                    text += eol;
                    ++line;
                }
            }
            writeWholeFile(d.file("p.csv"), text);
            const ProcessResult r =
                runBatchExe({"--from", "EPSG:3004", "--to", "EPSG:6708", "--columns", "nome,nord,est", "--grid",
                             gridPath_, d.file("p.csv"), d.file("r.gpkg")});
            EXPECT_EQ(r.exitCode, 3) << r.err;
            EXPECT_NE(r.err.find("ALLA RIGA:     " + std::to_string(badLine) + "    DEL FILE DI INPUT"),
                      std::string::npos)
                << r.err;
            DatasetPtr ds = openLayer(d.file("r.gpkg"));
            ASSERT_TRUE(ds);
            std::size_t k = 0;
            for (auto& f : *ds->GetLayer(0)) {
                // The quoted note as written: its own line end kept, the doubled quotes single.
                const std::string want = k % 2 == 0 ? "due" + std::string(eol) + "righe; e \"virgolette\"" : "una";
                EXPECT_EQ(std::string(f->GetFieldAsString("nota")), want);
                EXPECT_STREQ(f->GetFieldAsString("STATO"), k == badAt ? "scartato" : "convertito");
                ++k;
            }
            EXPECT_EQ(k, 4U);
        }
    }
}

// A run that fails leaves the result as it was and nothing beside it.
TEST_F(GisCli, FailedRunLeavesNoFile) {
    ScratchDir d;
    writeWholeFile(d.file("p.csv"), "nome,nord,est\nP1,4600000,2400000\n");
    writeWholeFile(d.file("r.csv"), "prima\n");
    struct Case {
        std::vector<std::string> extra;
        std::string data;
        std::string message;
        const char* from = "EPSG:3004";
    };
    writeWholeFile(d.file("nessuno.csv"), "nome,nord,est\nP1,x,y\n");
    writePointLayer(d.file("est.gpkg"), "GPKG", points());
    const Case cases[] = {
        {{"--delimiter", ";"}, d.file("p.csv"), "COLONNA NON TROVATA: 2"}, // one column only
        {{"--columns", "nome,nord,ovest"}, d.file("p.csv"), "COLONNA NON TROVATA: ovest"},
        {{}, d.file("nessuno.csv"), "NESSUN PUNTO VALIDO"},
        {{}, d.file("manca.gpkg"), "IMPOSSIBILE APRIRE IL FILE DEI DATI"},
        // A layer in Gauss-Boaga Est read as Ovest (or as geographic) is refused, not converted.
        {{}, d.file("est.gpkg"), "IL LIVELLO E' NEL SISTEMA EPSG:3004", "EPSG:3003"},
        {{}, d.file("est.gpkg"), "IL LIVELLO E' NEL SISTEMA EPSG:3004", "EPSG:4265"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> a = {"--from", c.from, "--to", "EPSG:6708", "--grid", gridPath_};
        a.insert(a.end(), c.extra.begin(), c.extra.end());
        a.insert(a.end(), {c.data, d.file("r.csv")});
        const ProcessResult r = runBatchExe(a);
        EXPECT_EQ(r.exitCode, 1) << c.message << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        EXPECT_EQ(readWholeFile(d.file("r.csv")), "prima\n");
        for (const auto& e : fs::directory_iterator(d.path())) {
            EXPECT_EQ(e.path().filename().string().rfind(".dormal2k-", 0), std::string::npos) << e.path();
        }
    }
    // A result that names a folder is never renamed over.
    fs::create_directory(d.file("cartella.gpkg"));
    const ProcessResult r = runBatchExe(
        {"--from", "EPSG:3004", "--to", "EPSG:6708", "--grid", gridPath_, d.file("est.gpkg"), d.file("cartella.gpkg")});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("NON E' UN FILE ORDINARIO"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_directory(d.file("cartella.gpkg")));
}

// A drawing (DXF) in and out: the points' geometries converted, the drawing's own fields
// only, as the format allows no others.
TEST_F(GisCli, DrawingKeepsConvertedGeometries) {
    const std::vector<TestPoint> pts = points();
    const std::map<std::string, Converted> ref =
        reference(pts, {"--to", "ETRF2000", "--to-kind", "plane", "--to-zone", "33"}, false);
    ScratchDir d;
    {
        GDALDriver* drv = GetGDALDriverManager()->GetDriverByName("DXF");
        DatasetPtr ds(drv->Create(d.file("rilievo.dxf").c_str(), 0, 0, 0, GDT_Unknown, nullptr));
        OGRLayer* layer = ds->CreateLayer("entities", nullptr, wkbPoint, nullptr);
        for (const TestPoint& p : pts) {
            OGRFeature f(layer->GetLayerDefn());
            OGRPoint g(p.east, p.north);
            f.SetGeometry(&g);
            ASSERT_EQ(layer->CreateFeature(&f), OGRERR_NONE);
        }
    }
    const ProcessResult r = runBatchExe(
        {"--from", "EPSG:3004", "--to", "EPSG:6708", "--grid", gridPath_, d.file("rilievo.dxf"), d.file("nuovo.dxf")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("ERROR"), std::string::npos) << r.err; // GDAL's own messages kept quiet
    DatasetPtr ds = openLayer(d.file("nuovo.dxf"));
    ASSERT_TRUE(ds);
    std::size_t k = 0;
    for (auto& f : *ds->GetLayer(0)) {
        ASSERT_LT(k, pts.size());
        const OGRPoint* g = f->GetGeometryRef()->toPoint();
        EXPECT_NEAR(g->getY(), ref.at(pts[k].name).first, 0.0005 + 1e-9);
        EXPECT_NEAR(g->getX(), ref.at(pts[k].name).second, 0.0005 + 1e-9);
        ++k;
    }
    EXPECT_EQ(k, pts.size());
}

// The scratch folders in `dir` (hidden, beside the result).
std::vector<fs::path> scratchFoldersIn(const fs::path& dir) {
    std::vector<fs::path> out;
    for (const auto& e : fs::directory_iterator(dir)) {
        if (e.path().filename().string().rfind(".dormal2k-", 0) == 0) {
            out.push_back(e.path());
        }
    }
    return out;
}

// Whether a result is being written in a scratch folder of `dir` (a file of some size there).
bool writingInScratch(const fs::path& dir) {
    std::error_code ec;
    for (const fs::path& s : scratchFoldersIn(dir)) {
        for (const auto& e : fs::recursive_directory_iterator(s, ec)) {
            if (e.is_regular_file(ec) && e.path().filename() != "lock" && e.file_size(ec) > 4096) {
                return true;
            }
        }
    }
    return false;
}

// Fault guarded: a run stopped by SIGTERM, SIGINT or SIGHUP left a hidden folder with the
// partial GeoPackage and its journal beside the result, and one killed outright left it for
// good. The catchable signals remove it; after SIGKILL the next run in that folder does.
TEST_F(GisCli, InterruptedRunLeavesNoScratchFolder) {
    const int signals[] = {SIGTERM, SIGINT, SIGHUP, SIGKILL};
    // The converter inherits dispositions: it gets the defaults, as a terminal gives them.
    for (const int sig : signals) {
        if (sig != SIGKILL) {
            ::signal(sig, SIG_DFL);
        }
    }
    const std::vector<TestPoint> pts = points();
    ScratchDir in;
    std::string text = "nome,nord,est,quota\n";
    for (int i = 0; i < 150000; ++i) {
        const TestPoint& p = pts[static_cast<std::size_t>(i) % pts.size()];
        text += 'P';
        text += std::to_string(i);
        for (const double v : {p.north, p.east, p.height}) {
            text += ',';
            text += fixed(v, 3);
        }
        text += '\n';
    }
    writeWholeFile(in.file("punti.csv"), text);
    const std::vector<std::string> args = {"--from",    "EPSG:3004", "--to",    "EPSG:6708",
                                           "--heights", "--grid",    gridPath_, in.file("punti.csv")};
    for (const int sig : signals) {
        SCOPED_TRACE(sig);
        ScratchDir out;
        std::vector<std::string> a = args;
        a.push_back(out.file("esito.gpkg"));
        Started st = startBatchExe(a);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        bool writing = false;
        for (;;) {
            writing = writingInScratch(out.path());
            siginfo_t info{}; // WNOWAIT: reaped with its status by finishBatchExe
            const bool ended =
                ::waitid(P_PID, static_cast<id_t>(st.pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0;
            if (writing || ended || std::chrono::steady_clock::now() > until) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ::kill(st.pid, sig);
        const ProcessResult r = finishBatchExe(st);
        if (!writing || r.exitCode == 0 || r.exitCode == 3) {
            GTEST_SKIP() << "the run ended before it could be killed";
        }
        EXPECT_EQ(r.exitCode, 128 + sig) << r.err;
        EXPECT_FALSE(fs::exists(out.file("esito.gpkg")));
        EXPECT_EQ(scratchFoldersIn(out.path()).size(), sig == SIGKILL ? 1U : 0U);
        if (sig == SIGKILL) {
            writePointLayer(out.file("pochi.gpkg"), "GPKG", pts);
            const ProcessResult again = runBatchExe({"--from", "EPSG:3004", "--to", "EPSG:6708", "--grid", gridPath_,
                                                     out.file("pochi.gpkg"), out.file("esito.shp")});
            EXPECT_EQ(again.exitCode, 0) << again.err;
            EXPECT_TRUE(scratchFoldersIn(out.path()).empty());
        }
    }
}

} // namespace
} // namespace dormal::clitest

namespace dormal {
namespace {

// dormal2k-batch itself does not load GDAL, so an ordinary run keeps the start-up time and
// the memory of a plain converter; GIS runs (every test above) go through the program it
// hands them to, dormal2k-batch-gis.
TEST(GisProgram, BatchConverterItselfDoesNotLoadGdal) {
    const std::string command = "ldd '" + clitest::batchExe() + "' 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string libraries;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        libraries.append(buffer, n);
    }
    ASSERT_EQ(::pclose(pipe), 0) << libraries;
    EXPECT_NE(libraries.find("libc.so"), std::string::npos) << libraries;
    EXPECT_EQ(libraries.find("libgdal"), std::string::npos) << libraries;
}

} // namespace
} // namespace dormal
