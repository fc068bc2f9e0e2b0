// dormal2k-batch writing GIS results (GDAL/OGR): features that were not converted, write
// failures on a full disk, several layers and existing GeoPackages, values a format cannot
// hold, and the zone column. Layers are made here with the OGR API and read back with it.

#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include "cli_support.h"
#include "conversion/point_conversion.h"
#include "geodesy/angles.h"
#include "geodesy/zones.h"
#include "grid/grid_portion.h"
#include "grid/zone_limits.h"
#include "tools/synthetic_grid.h"

namespace dormal::clitest {
namespace {

struct DatasetCloser {
    void operator()(GDALDataset* d) const { GDALClose(GDALDataset::ToHandle(d)); }
};
using DatasetPtr = std::unique_ptr<GDALDataset, DatasetCloser>;

DatasetPtr openLayers(const std::string& path) {
    return DatasetPtr(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A feature to write: its Gauss-Boaga Est position (null: no geometry) and attributes.
struct Feature {
    double east = 0, north = 0;
    bool geometry = true;
    std::map<std::string, std::string> text; // string fields
};

class GisWrite : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        GDALAllRegister();
        dir_ = new ScratchDir();
        const gridgen::PortionRecipe gen = testSheetRecipe();
        const std::string gridName = gridgen::defaultFileName(gen);
        gridPath_ = dir_->file(gridName);
        writeWholeFile(gridPath_, gridgen::portionText(gen));
        GridLoadResult g = loadGridPortion(dir_->path().string(), gridName);
        ASSERT_TRUE(g.ok());
        ZoneLimits limits = computeZoneLimits(*g.portion, RefSystem::Roma40);
        // The middle of the portion in Gauss-Boaga Est.
        ConversionContext ctx;
        ctx.sel.inputSystem = ctx.sel.outputSystem = RefSystem::Roma40;
        ctx.sel.inputKind = CoordKind::Geographic;
        ctx.sel.outputKind = CoordKind::Plane;
        ctx.sel.outputZone = Zone::EstOr33;
        const double lat = (limits.north + limits.south) / 2, lon = (limits.east + limits.west) / 2;
        const PointResult r = convertPoint(
            ctx, {degreesToSexagesimal(lat), degreesToSexagesimal(lon - romeMeridian()), 0}, RunKind::Batch);
        north_ = r.outFirst;
        east_ = r.outSecond;
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    // `count` points inside the portion, a few metres apart.
    static std::vector<Feature> inside(int count) {
        std::vector<Feature> v;
        for (int i = 0; i < count; ++i) {
            Feature f;
            f.east = east_ + (i % 100) * 3.0;
            f.north = north_ + (i / 100) * 3.0;
            f.text["nome"] = "P" + std::to_string(i + 1);
            v.push_back(f);
        }
        return v;
    }

    // A point layer in EPSG 3004 with string fields for every key of the features.
    static void addLayer(GDALDataset& ds, const char* name, const std::vector<Feature>& features) {
        OGRSpatialReference srs;
        srs.importFromEPSG(3004);
        OGRLayer* layer = ds.CreateLayer(name, &srs, wkbPoint, nullptr);
        ASSERT_NE(layer, nullptr);
        for (const Feature& f : features) {
            for (const auto& [key, value] : f.text) {
                if (layer->GetLayerDefn()->GetFieldIndex(key.c_str()) < 0) {
                    OGRFieldDefn field(key.c_str(), OFTString);
                    ASSERT_EQ(layer->CreateField(&field), OGRERR_NONE);
                }
            }
        }
        ASSERT_EQ(layer->StartTransaction(), OGRERR_NONE);
        for (const Feature& f : features) {
            OGRFeature out(layer->GetLayerDefn());
            for (const auto& [key, value] : f.text) {
                out.SetField(key.c_str(), value.c_str());
            }
            OGRPoint g(f.east, f.north);
            if (f.geometry) {
                out.SetGeometry(&g);
            }
            ASSERT_EQ(layer->CreateFeature(&out), OGRERR_NONE);
        }
        ASSERT_EQ(layer->CommitTransaction(), OGRERR_NONE);
    }

    static DatasetPtr createGpkg(const std::string& path) {
        GDALDriver* drv = GetGDALDriverManager()->GetDriverByName("GPKG");
        return DatasetPtr(drv->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    }

    static std::vector<std::string> args(std::vector<std::string> extra, const std::string& to = "EPSG:6708") {
        std::vector<std::string> a = {"--from", "EPSG:3004", "--to", to, "--grid", gridPath_};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }

    static ScratchDir* dir_;
    static std::string gridPath_;
    static double north_, east_;
};

ScratchDir* GisWrite::dir_ = nullptr;
std::string GisWrite::gridPath_;
double GisWrite::north_ = 0, GisWrite::east_ = 0;

// A feature outside the grid gets no geometry in every format (its Gauss-Boaga position
// would stand among the UTM ones) and keeps its status; a drawing leaves it out and the
// summary counts it.
TEST_F(GisWrite, UnconvertedFeaturesHaveNoGeometry) {
    const char* formats[] = {"gpkg", "shp", "geojson", "csv", "dxf"};
    std::vector<Feature> features = inside(3);
    Feature far;
    far.east = 2700000; // hundreds of kilometres from the portion
    far.north = 4400000;
    far.text["nome"] = "lontano";
    features.insert(features.begin() + 1, far);
    ScratchDir d;
    {
        DatasetPtr ds = createGpkg(d.file("punti.gpkg"));
        addLayer(*ds, "punti", features);
    }
    for (const char* ext : formats) {
        SCOPED_TRACE(ext);
        const std::string result = d.file(std::string("esito.") + ext);
        const ProcessResult r = runBatchExe(args({d.file("punti.gpkg"), result}));
        ASSERT_EQ(r.exitCode, 3) << r.err;
        EXPECT_TRUE(contains(r.err, "PUNTI NON CALCOLATI PERCHE' FUORI DALLA GRIGLIA:  1")) << r.err;
        DatasetPtr ds = openLayers(result);
        ASSERT_TRUE(ds);
        OGRLayer& layer = *ds->GetLayer(0);
        if (std::string(ext) == "dxf") {
            EXPECT_TRUE(contains(r.err, "ELEMENTI NON SCRITTI NEL DISEGNO PERCHE' SENZA GEOMETRIA:  1")) << r.err;
            EXPECT_EQ(layer.GetFeatureCount(), 3);
            for (auto& f : layer) {
                ASSERT_NE(f->GetGeometryRef(), nullptr);
                EXPECT_LT(f->GetGeometryRef()->toPoint()->getX(), 1000000.0); // UTM, not Gauss-Boaga
            }
            continue;
        }
        if (std::string(ext) == "csv") {
            // X and Y empty on the row of the point outside.
            const std::string text = readWholeFile(result);
            EXPECT_TRUE(contains(text, "\n,,lontano,,fuori griglia")) << text;
            continue;
        }
        int seen = 0;
        for (auto& f : layer) {
            ++seen;
            const bool outside = std::string(f->GetFieldAsString("nome")) == "lontano";
            EXPECT_STREQ(f->GetFieldAsString("STATO"), outside ? "fuori griglia" : "convertito");
            EXPECT_EQ(f->GetGeometryRef() == nullptr, outside);
        }
        EXPECT_EQ(seen, 4);
    }
}

// A full disk, or a file grown past the size the process may write, fails the run in every
// format with the write-failure message, and the old result stays as it was. The full disk
// is a small tmpfs in a mount namespace of the run's own (root only).
TEST_F(GisWrite, WriteFailuresFailTheRun) {
    ScratchDir d;
    {
        DatasetPtr ds = createGpkg(d.file("punti.gpkg"));
        std::vector<Feature> features = inside(20000);
        for (Feature& f : features) {
            f.text["nota"] = "una nota che occupa spazio in ogni formato dei risultati";
        }
        addLayer(*ds, "punti", features);
    }
    const bool root = ::geteuid() == 0 && std::system("unshare --mount true >/dev/null 2>&1") == 0;
    const char* formats[] = {"gpkg", "shp", "geojson", "csv", "dxf"};
    for (const bool tmpfs : {false, true}) {
        if (tmpfs && !root) {
            std::cout << "[ SKIPPED  ] full tmpfs: needs root and unshare\n";
            continue;
        }
        for (const char* ext : formats) {
            SCOPED_TRACE(std::string(ext) + (tmpfs ? " tmpfs" : " file size limit"));
            const std::string name = std::string("r.") + ext;
            int status = -1;
            std::string after, message, left;
            if (tmpfs) {
                const std::string mnt = d.file("disco");
                fs::create_directories(mnt);
                std::string command = "unshare --mount sh -c 'mount -t tmpfs -o size=256k tmpfs \"$1\" || exit 99; "
                                      "printf vecchio > \"$1/" +
                                      name +
                                      "\"; shift; out=\"$1\"; shift; "
                                      "\"$@\" 2> \"$out/err\"; echo $? > \"$out/status\"; "
                                      "cp \"" +
                                      mnt + "/" + name + "\" \"$out/after\"; ls -A \"" + mnt +
                                      "\" > \"$out/left\"' sh '" + mnt + "' '" + d.path().string() + "' '" +
                                      batchExe() + "'";
                for (const std::string& a : args({d.file("punti.gpkg"), mnt + "/" + name})) {
                    command += " '" + a + "'";
                }
                ASSERT_EQ(std::system(command.c_str()), 0) << command;
                status = std::atoi(readWholeFile(d.file("status")).c_str());
                after = readWholeFile(d.file("after"));
                message = readWholeFile(d.file("err"));
                left = readWholeFile(d.file("left"));
            } else {
                writeWholeFile(d.file(name), "vecchio");
                ProcessOptions opt;
                opt.fileSizeLimit = 200 * 1024;
                const ProcessResult r = runBatchExe(args({d.file("punti.gpkg"), d.file(name)}), opt);
                status = r.exitCode;
                message = r.err;
                after = readWholeFile(d.file(name));
                for (const auto& e : fs::directory_iterator(d.path())) {
                    left += e.path().filename().string() + "\n";
                }
            }
            EXPECT_EQ(status, 1) << message;
            EXPECT_TRUE(contains(message, "IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI")) << message;
            EXPECT_FALSE(contains(message, "PROCEDURA TERMINATA CON SUCCESSO")) << message;
            EXPECT_EQ(after, "vecchio");
            EXPECT_FALSE(contains(left, ".dormal2k-")) << left;
        }
    }
    // An update that fails leaves the GeoPackage as it was, its other layers with it.
    {
        DatasetPtr ds = createGpkg(d.file("vecchio.gpkg"));
        addLayer(*ds, "fiumi", inside(3));
    }
    const std::string old = readWholeFile(d.file("vecchio.gpkg"));
    ProcessOptions opt;
    opt.fileSizeLimit = static_cast<long long>(old.size()) + 64 * 1024;
    const ProcessResult r = runBatchExe(args({"--update", d.file("punti.gpkg"), d.file("vecchio.gpkg")}), opt);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(contains(r.err, "IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI")) << r.err;
    EXPECT_EQ(readWholeFile(d.file("vecchio.gpkg")), old);
}

// Every layer of the input is converted into a GeoPackage under its own name; a format of
// one layer takes only one (--layer); --nln renames it. A GeoPackage result with other
// layers is refused, byte for byte kept, unless --update, which replaces only the converted
// layers and keeps the others.
TEST_F(GisWrite, LayersAreChosenAndOtherLayersKept) {
    ScratchDir d;
    {
        DatasetPtr ds = createGpkg(d.file("dati.gpkg"));
        addLayer(*ds, "strade", inside(2));
        addLayer(*ds, "edifici", inside(3));
    }
    {
        DatasetPtr ds = createGpkg(d.file("vecchio.gpkg"));
        addLayer(*ds, "fiumi", inside(5));
        addLayer(*ds, "edifici", inside(7));
    }
    struct Case {
        std::vector<std::string> extra;
        std::string result;
        int exit;
        std::string message;
        std::map<std::string, GIntBig> layers; // name to feature count, afterwards
    };
    const std::string old = readWholeFile(d.file("vecchio.gpkg"));
    const Case cases[] = {
        {{}, "tutti.gpkg", 0, "PUNTI TRATTATI:   5", {{"strade", 2}, {"edifici", 3}}},
        {{}, "uno.shp", 1, "IL FILE DEI DATI HA PIU' LIVELLI: strade, edifici", {}},
        {{"--layer", "edifici"}, "uno.geojson", 0, "PUNTI TRATTATI:   3", {{"edifici", 3}}},
        {{"--layer", "edifici", "--nln", "case"}, "nuovo.gpkg", 0, "", {{"case", 3}}},
        {{"--layer", "ponti"}, "nuovo2.gpkg", 1, "LIVELLO NON TROVATO: ponti (LIVELLI DEL FILE: strade, edifici)", {}},
        {{"--layer", "edifici"}, "vecchio.gpkg", 1, "IL GEOPACKAGE CONTIENE ALTRI LIVELLI: fiumi", {}},
        {{"--layer", "edifici", "--update"}, "vecchio.gpkg", 0, "", {{"fiumi", 5}, {"edifici", 3}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result + " " + (c.extra.empty() ? "" : c.extra.back()));
        std::vector<std::string> extra = c.extra;
        extra.insert(extra.end(), {d.file("dati.gpkg"), d.file(c.result)});
        const ProcessResult r = runBatchExe(args(extra));
        EXPECT_EQ(r.exitCode, c.exit) << r.err;
        EXPECT_TRUE(contains(r.err, c.message)) << r.err;
        if (c.exit != 0) {
            if (c.result == "vecchio.gpkg") {
                EXPECT_EQ(readWholeFile(d.file(c.result)), old);
            } else {
                EXPECT_FALSE(fs::exists(d.file(c.result)));
            }
            continue;
        }
        DatasetPtr ds = openLayers(d.file(c.result));
        ASSERT_TRUE(ds);
        EXPECT_EQ(ds->GetLayerCount(), static_cast<int>(c.layers.size()));
        for (const auto& [name, count] : c.layers) {
            // A single-layer format names its layer after the file.
            OGRLayer* layer =
                c.layers.size() == 1 && ds->GetLayerCount() == 1 ? ds->GetLayer(0) : ds->GetLayerByName(name.c_str());
            ASSERT_NE(layer, nullptr) << name;
            if (c.result.find(".gpkg") != std::string::npos) {
                EXPECT_EQ(std::string(layer->GetName()), name);
            }
            EXPECT_EQ(layer->GetFeatureCount(), count) << name;
        }
    }
    // The options belong to layers and GeoPackages.
    const std::pair<std::vector<std::string>, std::string> usage[] = {
        {{"--update", d.file("dati.gpkg"), d.file("r.shp")}, "--update vale solo per un file dei risultati .gpkg"},
        {{"--layer", "strade", d.file("p.txt"), d.file("r.txt")}, "--layer vale solo per --type gis"},
        {{"--nln", "", d.file("dati.gpkg"), d.file("r.gpkg")}, "--nln: valore vuoto"},
    };
    for (const auto& [extra, message] : usage) {
        const ProcessResult r = runBatchExe(args(extra));
        EXPECT_EQ(r.exitCode, 2) << r.err;
        EXPECT_TRUE(contains(r.err, message)) << r.err;
    }
}

// A shapefile result keeps every character (UTF-8 and its .cpg), replaces the whole set of
// an older result, and what it cannot hold is counted field by field: the run ends with 3.
TEST_F(GisWrite, ShapefileValuesTheFormatCannotHoldAreReported) {
    ScratchDir d;
    const std::string accented = "perch\xC3\xA9 \xE2\x82\xAC 25"; // "perché € 25"
    std::string longText(300, 'a');
    longText.replace(253, 2, "\xC3\xA9"); // a two-byte character across the 254th byte
    {
        // GeoJSON: it reads back times and lists as their own types.
        GDALDriver* drv = GetGDALDriverManager()->GetDriverByName("GeoJSON");
        DatasetPtr ds(drv->Create(d.file("dati.geojson").c_str(), 0, 0, 0, GDT_Unknown, nullptr));
        // In its own reference: a GeoJSON without one is WGS 84, which the run refuses.
        OGRSpatialReference srs;
        srs.importFromEPSG(3004);
        OGRLayer* layer = ds->CreateLayer("dati", &srs, wkbPoint, nullptr);
        OGRFieldDefn text("testo", OFTString), note("nota", OFTString), when("quando", OFTDateTime),
            hour("ora", OFTTime), big("grande", OFTReal), list("lista", OFTStringList);
        for (OGRFieldDefn* f : {&text, &note, &when, &hour, &big, &list}) {
            ASSERT_EQ(layer->CreateField(f), OGRERR_NONE);
        }
        for (int i = 0; i < 2; ++i) {
            OGRFeature f(layer->GetLayerDefn());
            f.SetField("testo", accented.c_str());
            f.SetField("nota", i == 0 ? longText.c_str() : "breve");
            f.SetField("quando", 2024, 5, 6, 7, 8, 9, 0);
            f.SetField("ora", 0, 0, 0, 10, 11, 12, 0);
            f.SetField("grande", i == 0 ? 1e300 : 12.5);
            const char* items[] = {"a", "b", nullptr};
            f.SetField("lista", const_cast<char**>(items));
            OGRPoint g(east_, north_ + i);
            f.SetGeometry(&g);
            ASSERT_EQ(layer->CreateFeature(&f), OGRERR_NONE);
        }
    }
    // An older result with an index and a code page the new one does not write.
    for (const char* stale : {"esito.qix", "esito.sbn", "esito.cpg", "esito.shp"}) {
        writeWholeFile(d.file(stale), "vecchio");
    }
    const ProcessResult r = runBatchExe(args({d.file("dati.geojson"), d.file("esito.shp")}));
    ASSERT_EQ(r.exitCode, 3) << r.err;
    const char* lines[] = {
        "CAMPO nota: 1 TESTI TAGLIATI A 254 BYTE",  "CAMPO quando: 2 VALORI SCRITTI COME TESTO",
        "CAMPO ora: 2 VALORI SCRITTI COME TESTO",   "CAMPO grande: 1 NUMERI TROPPO LUNGHI PER IL CAMPO, LASCIATI VUOTI",
        "CAMPO lista: 2 VALORI SCRITTI COME TESTO",
    };
    for (const char* line : lines) {
        EXPECT_TRUE(contains(r.err, line)) << line << "\n" << r.err;
    }
    EXPECT_FALSE(fs::exists(d.file("esito.qix")));
    EXPECT_FALSE(fs::exists(d.file("esito.sbn")));
    EXPECT_EQ(readWholeFile(d.file("esito.cpg")).substr(0, 5), "UTF-8");
    DatasetPtr ds = openLayers(d.file("esito.shp"));
    ASSERT_TRUE(ds);
    OGRLayer& layer = *ds->GetLayer(0);
    std::vector<std::unique_ptr<OGRFeature>> got;
    for (auto& f : layer) {
        got.emplace_back(f.release());
    }
    ASSERT_EQ(got.size(), 2U);
    EXPECT_EQ(std::string(got[0]->GetFieldAsString("testo")), accented);
    EXPECT_EQ(std::string(got[0]->GetFieldAsString("nota")), std::string(253, 'a')); // cut before the character
    EXPECT_EQ(std::string(got[1]->GetFieldAsString("nota")), "breve");
    EXPECT_EQ(std::string(got[0]->GetFieldAsString("quando")), "2024/05/06 07:08:09");
    EXPECT_EQ(std::string(got[0]->GetFieldAsString("ora")), "10:11:12");
    EXPECT_FALSE(got[0]->IsFieldSetAndNotNull(got[0]->GetFieldIndex("grande")));
    EXPECT_DOUBLE_EQ(got[1]->GetFieldAsDouble("grande"), 12.5);
    // The spatial query a stale index would have spoiled.
    layer.SetSpatialFilterRect(0, 0, 1e7, 1e7);
    EXPECT_EQ(layer.GetFeatureCount(), 2);
}

// ZONA is the report's zone column: "Vero" in the point's own zone, "Altro" projected into
// another; with geographic output (no zone column in the report) the point's zone.
TEST_F(GisWrite, ZoneColumnAsTheReport) {
    struct Case {
        const char* to;
        const char* zone;
    };
    const Case cases[] = {{"EPSG:6708", "Vero"}, {"EPSG:6709", "Altro"}, {"EPSG:6706", "33"}};
    ScratchDir d;
    {
        DatasetPtr ds = createGpkg(d.file("punti.gpkg"));
        addLayer(*ds, "punti", inside(2));
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.to);
        const ProcessResult r = runBatchExe(args({d.file("punti.gpkg"), d.file("esito.gpkg")}, c.to));
        ASSERT_EQ(r.exitCode, 0) << r.err;
        DatasetPtr ds = openLayers(d.file("esito.gpkg"));
        ASSERT_TRUE(ds);
        for (auto& f : *ds->GetLayer(0)) {
            EXPECT_STREQ(f->GetFieldAsString("ZONA"), c.zone);
        }
    }
}

// What a layer holds that cannot be converted or written as it is does not stop the run: an
// infinite height refuses its feature ("scartato"), a feature without geometry is kept
// ("senza geometria"), a property named as a column the format keeps for itself is renamed
// and reported, and an empty layer gives an empty result.
TEST_F(GisWrite, FeaturesAndFieldsTheFormatCannotTakeAsTheyAre) {
    const auto feature = [](const std::string& name, const std::string& geometry) {
        return "{\"type\":\"Feature\",\"properties\":{\"nome\":\"" + name +
               "\",\"X\":\"x\",\"fid\":\"abc\",\"geom\":\"g\"},\"geometry\":" + geometry + "}";
    };
    const auto point = [](double east, double north, const std::string& z) {
        return "{\"type\":\"Point\",\"coordinates\":[" + std::to_string(east) + "," + std::to_string(north) + "," + z +
               "]}";
    };
    const std::string head = "{\"type\":\"FeatureCollection\",\"crs\":{\"type\":\"name\",\"properties\":{\"name\":"
                             "\"urn:ogc:def:crs:EPSG::3004\"}},\"features\":[";
    const std::string layer = head + feature("P0", point(east_, north_, "100")) + "," +
                              feature("P1", point(east_ + 1, north_, "1e999")) + "," + // an infinite height
                              feature("P2", point(east_ + 2, north_, "50")) + "," + feature("nullo", "null") + "]}";
    struct Case {
        std::string data;
        bool heights;
        std::string result;
        int exit;
        std::vector<std::string> messages;
        std::map<std::string, std::string> status; // nome to STATO
        std::string header;                        // of a CSV result
    };
    const Case cases[] = {
        {layer,
         true,
         "esito.gpkg",
         3,
         {"ERRORE NELLA LETTURA NELLA QUOTA\nALL'ELEMENTO:     2    DEL FILE DI INPUT", "PUNTI TRATTATI:   2",
          "ELEMENTI SENZA GEOMETRIA:  1", "CAMPO fid RINOMINATO fid_1", "CAMPO geom RINOMINATO geom_1"},
         {{"P0", "convertito"}, {"P1", "scartato"}, {"P2", "convertito"}, {"nullo", "senza geometria"}},
         ""},
        {layer, false, "esito.csv", 3, {"CAMPO X RINOMINATO X_1"}, {}, "X,Y,nome,X_1,fid,geom,ZONA,STATO"},
        {head + "]}", false, "vuoto.gpkg", 0, {"PUNTI TRATTATI:   0"}, {}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        ScratchDir d;
        writeWholeFile(d.file("dati.geojson"), c.data);
        std::vector<std::string> extra;
        if (c.heights) {
            extra.emplace_back("--heights");
        }
        extra.insert(extra.end(), {d.file("dati.geojson"), d.file(c.result)});
        const ProcessResult r = runBatchExe(args(extra));
        EXPECT_EQ(r.exitCode, c.exit) << r.err;
        for (const std::string& m : c.messages) {
            EXPECT_TRUE(contains(r.err, m)) << m << "\n" << r.err;
        }
        EXPECT_FALSE(contains(r.err, "ELABORAZIONE INTERROTTA")) << r.err;
        if (!c.header.empty()) {
            const std::string text = readWholeFile(d.file(c.result));
            EXPECT_EQ(text.substr(0, text.find_first_of("\r\n")), c.header);
            continue;
        }
        DatasetPtr ds = openLayers(d.file(c.result));
        ASSERT_TRUE(ds);
        ASSERT_EQ(ds->GetLayerCount(), 1);
        std::map<std::string, std::string> status;
        for (auto& f : *ds->GetLayer(0)) {
            status[f->GetFieldAsString("nome")] = f->GetFieldAsString("STATO");
            EXPECT_EQ(f->GetGeometryRef() != nullptr, status[f->GetFieldAsString("nome")] == "convertito");
        }
        EXPECT_EQ(status, c.status);
    }
}

} // namespace
} // namespace dormal::clitest
