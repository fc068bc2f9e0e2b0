// dormal2k-batch --type gis on the reading side: damaged layers, layers whose reference is not
// the one the run reads, inputs that would be overwritten by their own result, and the
// header rule of delimited text. The layers are made here with the OGR API; every refused run
// must leave its input and an existing result byte for byte as they were.

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>

#include "cli_support.h"

namespace dormal::clitest {
namespace {

struct DatasetCloser {
    void operator()(GDALDataset* d) const { GDALClose(GDALDataset::ToHandle(d)); }
};
using DatasetPtr = std::unique_ptr<GDALDataset, DatasetCloser>;

// 26 points in Gauss-Boaga Est (EPSG 3004 unless `epsg` says otherwise; 0: no reference),
// one attribute each, written with the named driver into `path` (layer "pts").
// Points of Gauss-Boaga Est, or geographic ones (a 4326 or 4265 layer, or `geographic`).
void writePoints(const std::string& path, const char* driverName, int epsg = 3004, bool geographicValues = false) {
    GDALAllRegister();
    GDALDriver* drv = GetGDALDriverManager()->GetDriverByName(driverName);
    ASSERT_NE(drv, nullptr);
    DatasetPtr ds(drv->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    ASSERT_TRUE(ds);
    OGRSpatialReference srs;
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    if (epsg != 0) {
        ASSERT_EQ(srs.importFromEPSG(epsg), OGRERR_NONE);
    }
    OGRLayer* layer = ds->CreateLayer("pts", epsg != 0 ? &srs : nullptr, wkbPoint, nullptr);
    ASSERT_NE(layer, nullptr);
    if (std::string(driverName) != "DXF") {
        OGRFieldDefn name("nome", OFTString);
        ASSERT_EQ(layer->CreateField(&name), OGRERR_NONE);
    }
    const bool geographic = geographicValues || epsg == 4326 || epsg == 4265;
    for (int i = 0; i < 26; ++i) {
        OGRFeature f(layer->GetLayerDefn());
        if (std::string(driverName) != "DXF") {
            f.SetField("nome", std::string("P").append(std::to_string(i + 1)).c_str());
        }
        OGRPoint g = geographic ? OGRPoint(15.0 + i * 0.001, 41.5 + i * 0.001)
                                : OGRPoint(2500000.0 + i * 7.25, 4600000.0 + i * 10.5);
        f.SetGeometry(&g);
        ASSERT_EQ(layer->CreateFeature(&f), OGRERR_NONE);
    }
}

// Every file of a folder and its bytes.
std::map<std::string, std::string> folderBytes(const fs::path& folder) {
    std::map<std::string, std::string> all;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        if (e.is_regular_file()) {
            all[e.path().string()] = readWholeFile(e.path().string());
        }
    }
    return all;
}

void cutFile(const std::string& path, double fraction) {
    const std::string bytes = readWholeFile(path);
    writeWholeFile(path, bytes.substr(0, static_cast<std::size_t>(static_cast<double>(bytes.size()) * fraction)));
}

// Rewrites a .dbf to hold only its first `n` records, header and all: a whole file of its
// own, which no longer agrees with the .shp and .shx beside it.
void keepDbfRecords(const std::string& path, unsigned n) {
    std::string d = readWholeFile(path);
    const auto u16 = [&](std::size_t i) {
        return static_cast<unsigned>(static_cast<unsigned char>(d[i])) |
               static_cast<unsigned>(static_cast<unsigned char>(d[i + 1])) << 8;
    };
    const unsigned headerLength = u16(8), recordLength = u16(10);
    for (int i = 0; i < 4; ++i) {
        d[4 + static_cast<std::size_t>(i)] = static_cast<char>((n >> (8 * i)) & 0xFF);
    }
    d.resize(headerLength + n * recordLength);
    d.push_back('\x1A');
    writeWholeFile(path, d);
}

// A damaged layer is a reading failure (or, when GDAL cannot open it, an opening failure), with
// GDAL's words as the last line, never a run that converts the features it could read: the result already there stays
// as it was.
TEST(GisRead, DamagedLayersAreReadingFailures) {
    struct Case {
        const char* name;
        const char* driver;
        const char* file;     // the layer's file read
        const char* damaged;  // the file damaged
        double cut;           // kept fraction; 0: the .dbf cut to 20 whole records; -1: garbage
        const char* lastLine; // the start of the message's last line
        const char* first = "ERRORE NELLA LETTURA DEL FILE DEI DATI";
    };
    const Case cases[] = {
        {"dbf cut in half", "ESRI Shapefile", "pts.shp", "pts.dbf", 0.5, "MESSAGGIO DI GDAL: "},
        {"shp cut in half", "ESRI Shapefile", "pts.shp", "pts.shp", 0.5, "MESSAGGIO DI GDAL: "},
        {"dbf of fewer records", "ESRI Shapefile", "pts.shp", "pts.dbf", 0, "IL FILE .shx HA 26 ELEMENTI"},
        {"prj GDAL cannot read", "ESRI Shapefile", "pts.shp", "pts.prj", -1, "IL FILE .prj DEL LIVELLO NON SI LEGGE"},
        {"dxf cut at 60 %", "DXF", "pts.dxf", "pts.dxf", 0.6, "DISEGNO INCOMPLETO"},
        // GDAL gives up on opening it: its words, all of them, below the Italian ones.
        {"geojson cut at 60 %", "GeoJSON", "pts.geojson", "pts.geojson", 0.6,
         "MESSAGGIO DI GDAL: ", "IMPOSSIBILE APRIRE IL FILE DEI DATI"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir d;
        fs::create_directory(d.path() / "in");
        const std::string layer = (d.path() / "in" / c.file).string();
        writePoints(layer, c.driver);
        const std::string damaged = (d.path() / "in" / c.damaged).string();
        if (c.cut > 0) {
            cutFile(damaged, c.cut);
        } else if (c.cut < 0) {
            writeWholeFile(damaged, "PROJCS[[[\n");
        } else {
            keepDbfRecords(damaged, 20);
        }
        writeWholeFile(d.file("r.gpkg"), "prima\n");
        const std::map<std::string, std::string> before = folderBytes(d.path());
        const ProcessResult r = runBatchExe({"--from", "EPSG:3004", "--to", "EPSG:4265", layer, d.file("r.gpkg")});
        EXPECT_EQ(r.exitCode, 1) << r.err;
        const std::string head = std::string(c.first).append("\n").append(layer).append("\n");
        EXPECT_NE(r.err.find(head), std::string::npos) << r.err;
        const std::size_t last = r.err.rfind('\n', r.err.size() - 2);
        EXPECT_EQ(r.err.substr(last + 1).rfind(c.lastLine, 0), 0U) << r.err;
        EXPECT_EQ(folderBytes(d.path()), before);
    }
}

// A text drawing damaged in place, which GDAL reads in part without a word (found
// by the mutation run): a slip in an entity's name, a line lost (codes out of step). NUL bytes
// in a GeoJSON file are the mutation run's to find (scripts/gis-mutate.py).
TEST(GisRead, DrawingsDamagedInPlace) {
    struct Case {
        const char* name;
        const char* driver;
        const char* file;
        std::string from, to; // the first `from` after the entities start becomes `to`
        const char* lastLine;
    };
    const Case cases[] = {
        {"entity name", "DXF", "pts.dxf", "\nPOINT", "\nPOINU", "DISEGNO DANNEGGIATO: ELEMENTO DI TIPO SCONOSCIUTO"},
        {"line lost", "DXF", "pts.dxf", "\nPOINT\n", "\n", "DISEGNO DANNEGGIATO: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir d;
        const std::string layer = d.file(c.file);
        writePoints(layer, c.driver);
        std::string bytes = readWholeFile(layer);
        const std::size_t entities = bytes.find("ENTITIES");
        const std::size_t at = bytes.find(c.from, entities == std::string::npos ? 0 : entities);
        ASSERT_NE(at, std::string::npos);
        bytes.replace(at, c.from.size(), c.to);
        writeWholeFile(layer, bytes);
        const ProcessResult r = runBatchExe({"--from", "EPSG:3004", "--to", "EPSG:4265", layer, d.file("r.gpkg")});
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find(c.lastLine), std::string::npos) << r.err;
        EXPECT_FALSE(fs::exists(d.file("r.gpkg")));
    }
}

// A layer is read in its own spatial reference or not at all: one that is not the reference
// --from names is refused naming both (whether it carries an EPSG code or a .prj without one),
// one without a reference takes --from, and one in a system of the program may stand for
// --from. Read with --from, the result is the same as the layer's own reference gives.
TEST(GisRead, LayerReferenceMustBeTheOneRead) {
    struct Case {
        const char* name;
        const char* driver;
        const char* file;
        int epsg;         // the layer's reference; 0: none
        const char* from; // nullptr: --from left out
        int exitCode;
        std::vector<std::string> said; // in the message, in order
    };
    const std::string refused = "IL LIVELLO E' NEL SISTEMA ";
    const Case cases[] = {
        {"WGS84 read as Monte Mario",
         "GPKG",
         "p.gpkg",
         4326,
         "EPSG:4265",
         1,
         {refused + "EPSG:4326", "NON E' TRA I SISTEMI DEL PROGRAMMA", "NON IN QUELLO DEI DATI INDICATO: EPSG:4265"}},
        {"WGS84 .prj read as Monte Mario",
         "ESRI Shapefile",
         "p.shp",
         4326,
         "EPSG:4265",
         1,
         {refused + "EPSG:4326", "EPSG:4265"}},
        {"Gauss-Boaga Est .prj read as Ovest",
         "ESRI Shapefile",
         "p.shp",
         3004,
         "EPSG:3003",
         1,
         {refused + "EPSG:3004", "NON IN QUELLO DEI DATI INDICATO: EPSG:3003"}},
        {"GeoJSON read as Gauss-Boaga",
         "GeoJSON",
         "p.geojson",
         4326,
         "EPSG:3004",
         1,
         {refused + "EPSG:4326", "EPSG:3004"}},
        {"KML read as Gauss-Boaga", "KML", "p.kml", 4326, "EPSG:3004", 1, {refused + "EPSG:4326", "EPSG:3004"}},
        {"Monte Mario .prj, no --from", "ESRI Shapefile", "p.shp", 4265, nullptr, 0, {"PUNTI TRATTATI:   26"}},
        {"Monte Mario .prj read as such", "ESRI Shapefile", "p.shp", 4265, "EPSG:4265", 0, {"PUNTI TRATTATI:   26"}},
        {"no reference takes --from", "GPKG", "p.gpkg", 0, "EPSG:4265", 0, {"PUNTI TRATTATI:   26"}},
        {"WGS84, no --from", "GPKG", "p.gpkg", 4326, nullptr, 2, {"manca --from", "EPSG:4326"}},
    };
    std::map<std::string, std::string> results; // by layer file: the first text result
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir d;
        fs::create_directory(d.path() / "in");
        const std::string layer = (d.path() / "in" / c.file).string();
        // A layer without a reference read as geographic holds degrees: North and East there
        // would be latitudes of millions of degrees, refused as values.
        writePoints(layer, c.driver, c.epsg, c.epsg == 0 && c.from != nullptr && std::string(c.from) == "EPSG:4265");
        writeWholeFile(d.file("r.csv"), "prima\n");
        const std::map<std::string, std::string> before = folderBytes(d.path());
        std::vector<std::string> args;
        if (c.from != nullptr) {
            args = {"--from", c.from};
        }
        // Within ROMA40, so that no grid is needed.
        const bool plane = c.from != nullptr && std::string(c.from) != "EPSG:4265";
        args.insert(args.end(), {"--to", plane ? "EPSG:4265" : "EPSG:3004", "--type", "gis", layer, d.file("r.csv")});
        const ProcessResult r = runBatchExe(args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        std::size_t at = 0;
        for (const std::string& s : c.said) {
            at = r.err.find(s, at);
            EXPECT_NE(at, std::string::npos) << s << "\n" << r.err;
        }
        if (c.exitCode != 0) {
            EXPECT_EQ(folderBytes(d.path()), before);
        } else if (c.epsg != 0) {
            const std::string out = readWholeFile(d.file("r.csv"));
            const auto [it, fresh] = results.emplace(c.file, out);
            EXPECT_EQ(out, it->second);
        }
    }
}

// A result that would replace a file the input is read from is refused, however the input is
// named (a folder of shapefiles, GDAL's "GPKG:file:layer", a shapefile by its .dbf), and the
// files are left as they were; a result beside the input that replaces none of them is not.
TEST(GisRead, InputNeverOverwrittenByItsResult) {
    struct Case {
        const char* name;
        const char* driver;
        const char* layerFile; // under the folder "in"
        std::string data;      // the data argument; "@" stands for the folder
        const char* result;    // under the folder "in"
        int exitCode;
    };
    const Case cases[] = {
        {"folder of shapefiles", "ESRI Shapefile", "pts.shp", "@", "pts.shp", 1},
        {"shapefile by its .dbf", "ESRI Shapefile", "pts.shp", "@/pts.dbf", "pts.shp", 1},
        {"GeoPackage by GDAL's name", "GPKG", "in.gpkg", "GPKG:@/in.gpkg:pts", "in.gpkg", 1},
        {"GeoPackage beside its shapefile", "ESRI Shapefile", "pts.shp", "@/pts.shp", "pts.gpkg", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir d;
        const fs::path in = d.path() / "in";
        fs::create_directory(in);
        writePoints((in / c.layerFile).string(), c.driver);
        std::string data = c.data;
        data.replace(data.find('@'), 1, in.string());
        const std::map<std::string, std::string> before = folderBytes(d.path());
        const ProcessResult r =
            runBatchExe({"--from", "EPSG:3004", "--to", "EPSG:4265", "--type", "gis", data, (in / c.result).string()});
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        if (c.exitCode != 0) {
            EXPECT_NE(r.err.find("IL FILE DI INPUT E QUELLO  \nDI OUTPUT SONO LO STESSO"), std::string::npos) << r.err;
            EXPECT_EQ(folderBytes(d.path()), before);
        }
    }
}

// Without named columns the first row of a text file is a header only when neither its North
// nor its East is a number: a typing slip in one of them is a reading error for that row, and
// the row stays in the result, marked, instead of turning into field names.
TEST(GisRead, FirstRowIsHeaderOnlyWithoutNumbers) {
    struct Case {
        const char* name;
        const char* first; // the first line; the second is always a good point
        int exitCode;
        const char* said;       // in the message ("" nothing)
        const char* resultHead; // the result's first line
    };
    const Case cases[] = {
        {"slip in the North", "P1,46000x0.5,2500000.5", 3,
         "ERRORE NELLA LETTURA NELLA COORD. NORD\nALLA RIGA:     1    DEL FILE DI INPUT",
         "field_1,field_2,field_3,ZONA,STATO"},
        {"slip in the East", "P1,4600000.5,25OOOOO.5", 3,
         "ERRORE NELLA LETTURA NELLA COOR. EST\nALLA RIGA:     1    DEL FILE DI INPUT",
         "field_1,field_2,field_3,ZONA,STATO"},
        {"a header", "nome,nord,est", 0, "PUNTI TRATTATI:   1", "nome,nord,est,ZONA,STATO"},
        {"numbers only", "P1,4600000.5,2500000.5", 0, "PUNTI TRATTATI:   2", "field_1,field_2,field_3,ZONA,STATO"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScratchDir d;
        writeWholeFile(d.file("p.csv"), std::string(c.first).append("\nP2,4600010.25,2500010.25\n"));
        const ProcessResult r =
            runBatchExe({"--from", "EPSG:3004", "--to", "EPSG:3003", d.file("p.csv"), d.file("r.csv")});
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << r.err;
        const std::string out = readWholeFile(d.file("r.csv"));
        EXPECT_EQ(out.substr(0, out.find('\n')), c.resultHead) << out;
    }
}

// A .csv or a layer is read only from a file on disk: a link to a device, a folder or a pipe
// is refused before anything is read (a link to /dev/zero would be read until memory ran out).
TEST(GisRead, TextFromNonRegularFilesRefused) {
    ScratchDir d;
    fs::create_symlink("/dev/null", d.path() / "device.csv");
    fs::create_symlink("/dev/zero", d.path() / "device.geojson");
    fs::create_directory(d.path() / "folder.csv");
    struct Case {
        const char* data;
        const char* cause;
    };
    const Case cases[] = {
        {"device.csv", "Non è un file regolare ma un dispositivo: un file .csv si legge solo da un file su disco"},
        {"folder.csv", "Non è un file regolare ma una cartella"},
        {"device.geojson",
         "Non è un file regolare ma un dispositivo: un livello gis si legge solo da un file su disco"},
    };
    writeWholeFile(d.file("r.csv"), "prima\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data);
        const ProcessResult r =
            runBatchExe({"--from", "EPSG:3004", "--to", "EPSG:3003", d.file(c.data), d.file("r.csv")});
        EXPECT_EQ(r.exitCode, 1) << r.err;
        const std::string head =
            std::string("IMPOSSIBILE APRIRE IL FILE DEI DATI\n").append(d.file(c.data)).append("\n");
        EXPECT_NE(r.err.find(head + c.cause), std::string::npos) << r.err;
        EXPECT_EQ(readWholeFile(d.file("r.csv")), "prima\n");
    }
}

// Numeric columns of a text file are numeric fields in a result that keeps types, as GDAL's
// own detection would make them (codes with leading zeros stay text), while a text result
// keeps every cell as the file wrote it.
TEST(GisRead, TextColumnsTypedAsGdalDetects) {
    ScratchDir d;
    writeWholeFile(d.file("p.csv"), "nome;nord;est;codice;grande;peso;sigla;nota\n"
                                    "P1;4600000,5;2500000,5;12;5000000000;1,50;007;uno\n"
                                    "P2;4600010,25;2500010,25;-3;7;2;010;\n"
                                    "P3;4600020,125;2500020,125;;8;-0,25;;3\n");
    ProcessResult r = runBatchExe({"--from", "EPSG:3004", "--to", "EPSG:3003", d.file("p.csv"), d.file("r.gpkg")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    GDALAllRegister();
    DatasetPtr ds(GDALDataset::Open(d.file("r.gpkg").c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY));
    ASSERT_TRUE(ds);
    OGRFeatureDefn& defn = *ds->GetLayer(0)->GetLayerDefn();
    const std::map<std::string, OGRFieldType> want = {
        {"nome", OFTString},      {"nord", OFTReal}, {"est", OFTReal},     {"codice", OFTInteger},
        {"grande", OFTInteger64}, {"peso", OFTReal}, {"sigla", OFTString}, {"nota", OFTString}};
    for (const auto& [name, type] : want) {
        const int i = defn.GetFieldIndex(name.c_str());
        ASSERT_GE(i, 0) << name;
        EXPECT_EQ(defn.GetFieldDefn(i)->GetType(), type) << name;
    }
    std::vector<std::string> got;
    for (auto& f : *ds->GetLayer(0)) {
        std::string row;
        for (const char* field : {"codice", "grande", "peso", "sigla", "STATO"}) {
            row.append(f->GetFieldAsString(field)).append("|");
        }
        got.push_back(row);
    }
    EXPECT_EQ(got, (std::vector<std::string>{"12|5000000000|1.5|007|convertito|", "-3|7|2|010|convertito|",
                                             "|8|-0.25||convertito|"}));
    // A text result: the cells as they were, decimal commas and leading zeros kept.
    r = runBatchExe({"--from", "EPSG:3004", "--to", "EPSG:3003", d.file("p.csv"), d.file("r.csv")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string out = readWholeFile(d.file("r.csv"));
    EXPECT_NE(out.find(";12;5000000000;\"1,50\";007;uno;"), std::string::npos) << out;
    EXPECT_NE(out.find(";;8;\"-0,25\";;3;"), std::string::npos) << out;
}

// A data file that cannot be opened says why in Italian, GDAL's words (if any) only below.
TEST(GisRead, OpeningFailuresSayWhyInItalian) {
    ScratchDir d;
    writeWholeFile(d.file("junk.gpkg"), "non un geopackage\n");
    struct Case {
        const char* data;
        const char* cause;
    };
    const Case cases[] = {
        {"missing.gpkg", "Il file o la cartella non esiste"},
        {"missing.csv", "Il file o la cartella non esiste"},
        {"junk.gpkg", "GDAL NON LO LEGGE COME LIVELLO GIS"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data);
        const ProcessResult r =
            runBatchExe({"--from", "EPSG:3004", "--to", "EPSG:3003", d.file(c.data), d.file("r.csv")});
        EXPECT_EQ(r.exitCode, 1) << r.err;
        const std::string want =
            std::string("IMPOSSIBILE APRIRE IL FILE DEI DATI\n").append(d.file(c.data)).append("\n").append(c.cause);
        EXPECT_EQ(r.err.substr(0, want.size()), want) << r.err;
        EXPECT_FALSE(fs::exists(d.file("r.csv")));
    }
}

} // namespace
} // namespace dormal::clitest
