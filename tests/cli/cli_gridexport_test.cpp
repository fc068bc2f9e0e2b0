// dormal2k-gridexport: the exported NTv2 and GeoTIFF grids, read back by GDAL, and PROJ's
// cct running the exported pipelines, which must give what dormal2k-batch gives.

#include <fcntl.h>
#include <gdal.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cli_support.h"
#include "conversion/grid_export.h"
#include "conversion/point_conversion.h"
#include "geodesy/angles.h"
#include "geodesy/zones.h"
#include "grid/interpolation.h"
#include "grid/portion_set.h"
#include "tools/synthetic_grid.h"

namespace dormal {
namespace {

using clitest::ScratchDir;

std::string exportExe() {
    return std::string(DORMAL2K_BINARY_DIR) + "/cli/dormal2k-gridexport";
}

struct PipedRun {
    int exitCode = -1;
    std::string out; // standard output (standard error joined)
};

// Runs a shell command line through a pipe and collects what it writes.
PipedRun runPiped(const std::string& command) {
    PipedRun r;
    FILE* p = ::popen((command + " 2>&1").c_str(), "r");
    if (p == nullptr) {
        return r;
    }
    char buf[65536];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) {
        r.out.append(buf, n);
    }
    const int status = ::pclose(p);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    return r;
}

// A line "a b h" of cct input, "." decimals whatever the test's locale.
std::string cctLine(double a, double b, double h) {
    char buf[128];
    char* p = buf;
    for (double v : {a, b, h}) {
        p = std::to_chars(p, buf + sizeof buf - 2, v, std::chars_format::fixed, 12).ptr;
        *p++ = ' ';
    }
    p[-1] = '\n';
    return std::string(buf, p);
}

std::string quotedArg(const std::string& s) {
    return "'" + s + "'";
}

// cct with a pipeline, finding the exported grids (and nothing on the network) through
// PROJ_DATA; `input` a file, or empty to read standard input.
std::string cctCommand(const std::string& exportDir, const std::string& pipeline, const std::string& input) {
    return "PROJ_DATA=" + quotedArg(exportDir + ":/usr/share/proj") + " PROJ_NETWORK=OFF cct -d 10 " + pipeline +
           (input.empty() ? std::string() : " " + quotedArg(input));
}

// The first three numbers of each line cct wrote (the fourth, time, is "inf"); "." decimals
// whatever the test's locale.
std::vector<std::array<double, 3>> cctColumns(const std::string& out) {
    std::vector<std::array<double, 3>> rows;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        std::array<double, 3> v{};
        const char* p = line.data();
        const char* const lineEnd = line.data() + line.size();
        bool ok = true;
        for (double& x : v) {
            while (p < lineEnd && *p == ' ') {
                ++p;
            }
            const auto r = std::from_chars(p, lineEnd, x);
            ok = ok && r.ec == std::errc();
            p = r.ptr;
        }
        if (ok) {
            rows.push_back(v);
        }
    }
    return rows;
}

// A map sheet in zone 33 (Est for ROMA40) and a vertex portion in zone 32 (Ovest), as
// dormal2k-gridgen writes them; the second sheet overlaps the first one (same seed, two
// nodes further east).
gridgen::PortionRecipe sheet() {
    gridgen::PortionRecipe r;
    r.kind = PortionKind::Sheet;
    r.southLat = 42.25;
    r.westLon = 13.25;
    r.name = "0245";
    return r;
}

// One export shared by the tests of this program: the sheet, its grids and pipelines.
class GridExportTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        scratch_ = new ScratchDir();
        const std::string grids = scratch_->file("griglie");
        std::filesystem::create_directories(grids);
        clitest::writeWholeFile(grids + "/0245.GK2", gridgen::portionText(sheet()));
        exportDir_ = scratch_->file("export");
        const PipedRun r = runPiped(exportExe() + " --grid " + quotedArg(grids + "/0245.GK2") + " --out " +
                                    quotedArg(exportDir_) + " --plane");
        ASSERT_EQ(r.exitCode, 0) << r.out;
        load_ = new PortionSetLoad(loadPortionSet({grids + "/0245.GK2"}, {}));
        ASSERT_TRUE(load_->ok());
        load_->set.buildIndex();
        pipelines_ = clitest::readWholeFile(exportDir_ + "/pipelines.txt");
    }
    static void TearDownTestSuite() {
        delete load_;
        delete scratch_;
    }
    static ScratchDir* scratch_;
    static std::string exportDir_;
    static PortionSetLoad* load_;
    static std::string pipelines_;
};
ScratchDir* GridExportTest::scratch_ = nullptr;
std::string GridExportTest::exportDir_;
PortionSetLoad* GridExportTest::load_ = nullptr;
std::string GridExportTest::pipelines_;

// ---------------------------------------------------------------------------------------
// cct with the exported pipelines against the program's own conversion (the batch run's
// per-point conversion, RunKind::Batch), at 10,000 random points inside the portion.
// Tolerances: 1e-8 degree geographic, 1 mm plane and height.

struct PairCase {
    RefSystem from, to;
    CoordKind kind; // both ends
    Zone fromZone, toZone;
};

const char* kindWord(CoordKind k) {
    return k == CoordKind::Geographic ? "geo" : "piane";
}

bool convertsHeights(RefSystem a, RefSystem b) {
    const bool geoidA = a == RefSystem::Roma40 || a == RefSystem::Ed50;
    const bool geoidB = b == RefSystem::Roma40 || b == RefSystem::Ed50;
    return !(geoidA && geoidB);
}

// The plane zone of the sheet (13.25 to 13.9 degrees east) for each system: Est / 33, and
// "Fuso Italia" on the ETRF2000 side to take in the other projection.
Zone planeZone(RefSystem s, bool outputSide) {
    if (s == RefSystem::Etrf2000 && outputSide) {
        return Zone::Italia;
    }
    return Zone::EstOr33;
}

std::vector<PairCase> allPairs() {
    std::vector<PairCase> cases;
    for (CoordKind kind : {CoordKind::Geographic, CoordKind::Plane}) {
        for (RefSystem from : kAllSystems) {
            for (RefSystem to : kAllSystems) {
                if (from != to) {
                    cases.push_back({from, to, kind, planeZone(from, false), planeZone(to, true)});
                }
            }
        }
    }
    return cases;
}

// Where cct and the program part at random points of an area (decimal degrees, in the input
// system; ROMA40 from Greenwich), points the program refuses left out.
struct Agreement {
    std::string failure;    // empty when cct ran and gave one line per point
    std::string label;      // "FROM>TO" of pipelines.txt
    double worst = 0;       // largest position difference: degrees (geographic) or metres (plane)
    double worstHeight = 0; // metres
};

struct Area {
    double south, west, north, east;
};

Agreement compareWithCct(const PortionSet& set, const std::string& exportDir, const std::string& pipelines,
                         const PairCase& pc, const Area& area, int points, unsigned seed, const std::string& workFile) {
    Agreement a;
    const double rome = romeMeridian();
    const PipelineEnd fromEnd{pc.from, pc.kind, pc.kind == CoordKind::Plane ? pc.fromZone : Zone::Auto};
    const PipelineEnd toEnd{pc.to, pc.kind, pc.kind == CoordKind::Plane ? pc.toZone : Zone::Auto};
    a.label = pipelineEndLabel(fromEnd) + ">" + pipelineEndLabel(toEnd);
    std::string pipe;
    {
        std::istringstream in(pipelines);
        std::string line;
        while (std::getline(in, line)) {
            if (line.rfind(a.label + " ", 0) == 0) {
                pipe = line.substr(a.label.size() + 1);
            }
        }
    }
    if (pipe.empty()) {
        a.failure = "no pipeline " + a.label;
        return a;
    }
    ConversionContext ctx;
    ctx.sel = {pc.from, pc.kind, fromEnd.zone, pc.to, pc.kind, toEnd.zone};
    ctx.heights = convertsHeights(pc.from, pc.to);
    ctx.set = &set;
    ctx.portion = &set.portion(0);
    ctx.limits = &set.limits(0);
    // Plane input points: the program's own projection of random positions in the input
    // system (equal systems need no grid).
    ConversionContext toPlane;
    toPlane.sel = {pc.from, CoordKind::Geographic, Zone::Auto, pc.from, CoordKind::Plane, fromEnd.zone};

    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> lat(area.south, area.north), lon(area.west, area.east), h(-50, 2500);
    std::string input;
    struct Expected {
        double first, second, height;
    };
    std::vector<Expected> expected;
    for (int tries = 0; static_cast<int>(expected.size()) < points && tries < 4 * points; ++tries) {
        const double la = lat(rng), lo = lon(rng), height = h(rng);
        PointInput in;
        in.height = height;
        // Geographic values as the program reads them: sexagesimal, ROMA40 from Monte Mario.
        in.first = degreesToSexagesimal(la);
        in.second = degreesToSexagesimal(pc.from == RefSystem::Roma40 ? lo - rome : lo);
        double cctFirst = sexagesimalToDegrees(in.first);
        double cctSecond = sexagesimalToDegrees(in.second) + (pc.from == RefSystem::Roma40 ? rome : 0.0);
        if (pc.kind == CoordKind::Plane) {
            const PointResult p = convertPoint(toPlane, in, RunKind::Batch);
            if (p.status != PointStatus::Converted) {
                a.failure = "projection refused";
                return a;
            }
            in.first = cctFirst = p.outFirst;
            in.second = cctSecond = p.outSecond;
        }
        const PointResult r = convertPoint(ctx, in, RunKind::Batch);
        if (r.status != PointStatus::Converted) {
            continue; // outside the grid by the program's own test: not compared
        }
        Expected e{r.outFirst, r.outSecond, r.hasHeight ? r.outHeight : height};
        if (pc.kind == CoordKind::Geographic) {
            e.first = sexagesimalToDegrees(r.outFirst);
            e.second = sexagesimalToDegrees(r.outSecond) + (pc.to == RefSystem::Roma40 ? rome : 0.0);
        }
        expected.push_back(e);
        input += cctLine(cctFirst, cctSecond, height);
    }
    if (static_cast<int>(expected.size()) < points) {
        a.failure = "the program refused too many points: " + std::to_string(expected.size());
        return a;
    }
    clitest::writeWholeFile(workFile, input);
    const PipedRun run = runPiped(cctCommand(exportDir, pipe, workFile));
    const std::vector<std::array<double, 3>> got = cctColumns(run.out);
    if (run.exitCode != 0 || got.size() != expected.size()) {
        a.failure = "cct: " + run.out.substr(0, 2000);
        return a;
    }
    for (std::size_t i = 0; i < got.size(); ++i) {
        const Expected& e = expected[i];
        a.worst = std::max({a.worst, std::fabs(got[i][0] - e.first), std::fabs(got[i][1] - e.second)});
        a.worstHeight = std::max(a.worstHeight, std::fabs(got[i][2] - e.height));
    }
    return a;
}

void expectAgreement(const Agreement& a, const PairCase& pc) {
    SCOPED_TRACE(a.label);
    ASSERT_EQ(a.failure, "");
    EXPECT_LE(a.worst, pc.kind == CoordKind::Geographic ? 1e-8 : 1e-3) << kindWord(pc.kind);
    // Heights: 1 mm where the pair converts them; otherwise passed through (cct's 10 decimals).
    EXPECT_LE(a.worstHeight, convertsHeights(pc.from, pc.to) ? 1e-3 : 1e-9) << "heights";
    std::printf("%-28s largest difference %.3g %s, height %.3g m\n", a.label.c_str(), a.worst,
                pc.kind == CoordKind::Geographic ? "deg" : "m", a.worstHeight);
}

TEST_F(GridExportTest, CctReproducesTheProgramForEveryOrderedPair) {
    const ZoneLimits& lim = load_->set.limits(0);
    const std::vector<PairCase> pairs = allPairs();
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        const Agreement a =
            compareWithCct(load_->set, exportDir_, pipelines_, pairs[i], {lim.south, lim.west, lim.north, lim.east},
                           10000, 20261209u + static_cast<unsigned>(i), scratch_->file("punti.txt"));
        expectAgreement(a, pairs[i]);
    }
}

// The sample mosaic of four overlapping sheets: one sub-grid per sheet in set order. Its
// sheets agree where they overlap, so cct must follow the program over the whole mosaic,
// borders included, whichever sheet each of its steps takes.
TEST(GridExportSet, CctFollowsTheProgramOverTheSampleMosaic) {
    ScratchDir dir;
    const std::string mosaic = std::string(DORMAL2K_SAMPLES_DIR) + "/mosaic";
    const PipedRun r = runPiped(exportExe() + " --grid-dir " + quotedArg(mosaic) + " --out " +
                                quotedArg(dir.file("x")) + " --plane --zone est --zone 33");
    ASSERT_EQ(r.exitCode, 0) << r.out;
    PortionSetLoad load = loadPortionSet({}, {mosaic});
    ASSERT_TRUE(load.ok());
    ASSERT_EQ(load.set.size(), 4u);
    load.set.buildIndex();
    const SetBounds b = load.set.bounds();
    const std::string pipelines = clitest::readWholeFile(dir.file("x/pipelines.txt"));
    const PairCase cases[] = {
        {RefSystem::Roma40, RefSystem::Etrf2000, CoordKind::Plane, Zone::EstOr33, Zone::EstOr33},
        {RefSystem::Etrf2000, RefSystem::Roma40, CoordKind::Plane, Zone::EstOr33, Zone::EstOr33},
        {RefSystem::Ed50, RefSystem::Etrf89, CoordKind::Geographic, Zone::Auto, Zone::Auto},
        {RefSystem::Etrf89, RefSystem::Ed50, CoordKind::Geographic, Zone::Auto, Zone::Auto},
    };
    for (const PairCase& pc : cases) {
        const Agreement a = compareWithCct(load.set, dir.file("x"), pipelines, pc, {b.south, b.west, b.north, b.east},
                                           3000, 77u, dir.file("punti.txt"));
        expectAgreement(a, pc);
    }
}

// ROMA40 longitudes counted from Monte Mario, as the program reads and writes them.
TEST_F(GridExportTest, MonteMarioPipelinesTakeTheProgramsOwnRoma40Longitudes) {
    const VerticalGridNames v = verticalGridNames(load_->set);
    PipelineOptions mm;
    mm.roma40FromMonteMario = true;
    const PipelineEnd roma{RefSystem::Roma40, CoordKind::Geographic, Zone::Auto};
    const PipelineEnd etrf{RefSystem::Etrf89, CoordKind::Geographic, Zone::Auto};
    const std::string forward = pipelineFor(roma, etrf, v, mm);
    const std::string back = pipelineFor(etrf, roma, v, mm);
    const double rome = romeMeridian();
    // A point in the middle of the sheet, ROMA40 longitude from Monte Mario.
    const double lat = 42.45, lonMM = 13.55 - rome;
    const std::string inPath = scratch_->file("mm.txt");
    clitest::writeWholeFile(inPath, cctLine(lat, lonMM, 0));
    const PipedRun r =
        runPiped(cctCommand(exportDir_, forward, inPath) + " | " + cctCommand(exportDir_, back, std::string()));
    ASSERT_EQ(r.exitCode, 0) << r.out;
    const auto rows = cctColumns(r.out);
    ASSERT_EQ(rows.size(), 1u) << r.out;
    EXPECT_NEAR(rows[0][0], lat, 1e-9);
    EXPECT_NEAR(rows[0][1], lonMM, 1e-9); // back from Monte Mario, not from Greenwich
    // And the ETRF89 position between the two is the program's own.
    const PipedRun once = runPiped(cctCommand(exportDir_, forward, inPath));
    const auto mid = cctColumns(once.out);
    ASSERT_EQ(mid.size(), 1u) << once.out;
    const ShiftResult s = interpolateRoma40Shift(load_->set.portion(0), lat, lonMM + rome, Roma40Grid::ToEtrf89);
    ASSERT_EQ(s.status, InterpStatus::Ok);
    EXPECT_NEAR(mid[0][0], lat + s.shiftLat, 1e-9);
    EXPECT_NEAR(mid[0][1], lonMM + rome + s.shiftLon, 1e-9);
}

// ---------------------------------------------------------------------------------------
// The exported files read back by GDAL: sizes, node positions and values.

struct Raster {
    int cols = 0, rows = 0, bands = 0;
    double gt[6] = {};
    std::vector<float> band1, band2;
    std::map<std::string, std::string> metadata; // the dataset's own (default domain)
};

Raster readRaster(const std::string& path) {
    GDALAllRegister();
    Raster r;
    GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
    if (ds == nullptr) {
        return r;
    }
    r.cols = GDALGetRasterXSize(ds);
    r.rows = GDALGetRasterYSize(ds);
    r.bands = GDALGetRasterCount(ds);
    GDALGetGeoTransform(ds, r.gt);
    for (char** md = GDALGetMetadata(ds, nullptr); md != nullptr && *md != nullptr; ++md) {
        const std::string item = *md;
        const std::size_t eq = item.find('=');
        if (eq != std::string::npos) {
            r.metadata[item.substr(0, eq)] = item.substr(eq + 1);
        }
    }
    for (int b = 1; b <= std::min(2, r.bands); ++b) {
        std::vector<float>& v = b == 1 ? r.band1 : r.band2;
        v.resize(static_cast<std::size_t>(r.cols * r.rows));
        if (GDALRasterIO(GDALGetRasterBand(ds, b), GF_Read, 0, 0, r.cols, r.rows, v.data(), r.cols, r.rows, GDT_Float32,
                         0, 0) != CE_None) {
            v.clear();
        }
    }
    GDALClose(ds);
    return r;
}

// Position of the node in pixel (row, col), decimal degrees: pixel centres.
double nodeLon(const Raster& r, int col) {
    return r.gt[0] + (col + 0.5) * r.gt[1];
}
double nodeLat(const Raster& r, int row) {
    return r.gt[3] + (row + 0.5) * r.gt[5];
}

TEST_F(GridExportTest, NtvTwoGridsHoldTheNodesOfThePortion) {
    const GridPortion& p = load_->set.portion(0);
    struct Case {
        const char* file;
        const std::array<double, kPlanArraySize>&dLat, &dLon;
        double lat0, lon0;
    } cases[] = {
        {kRoma40Ed50GridFile, p.roEdDLat, p.roEdDLon, p.planOriginLat, p.planOriginLon},
        {kRoma40Etrf89GridFile, p.roE89DLat, p.roE89DLon, p.planOriginLat, p.planOriginLon},
        {kEtrf89Etrf2000GridFile, p.e89E2000DLat, p.e89E2000DLon, p.e2000OriginLat, p.e2000OriginLon},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const Raster r = readRaster(exportDir_ + "/" + c.file);
        ASSERT_EQ(r.metadata.count("MAJOR_T"), 1u);
        EXPECT_EQ(r.metadata.at("GS_TYPE"), "SECONDS");
        EXPECT_EQ(r.metadata.at("PARENT"), "NONE");
        EXPECT_EQ(r.metadata.at("SUB_NAME"), "0245");
        // Semi-major axes: International 1924 for ROMA40 and ED50, GRS80 for the ETRF.
        const bool fromEtrf = std::string(c.file) == kEtrf89Etrf2000GridFile;
        const bool toEtrf = std::string(c.file) != kRoma40Ed50GridFile;
        EXPECT_EQ(r.metadata.at("MAJOR_F"), fromEtrf ? "6378137" : "6378388");
        EXPECT_EQ(r.metadata.at("MAJOR_T"), toEtrf ? "6378137" : "6378388");
        ASSERT_EQ(r.cols, 6);
        ASSERT_EQ(r.rows, 6);
        ASSERT_EQ(r.bands, 4);
        // South-west node and spacing (within 1e-9 degrees: the header is in seconds).
        EXPECT_NEAR(nodeLon(r, 0), c.lon0, 1e-9);
        EXPECT_NEAR(nodeLat(r, 5), c.lat0, 1e-9);
        EXPECT_NEAR(nodeLat(r, 0), c.lat0 + 5 * planStepLat, 1e-9);
        EXPECT_NEAR(nodeLon(r, 5), c.lon0 + 5 * planStepLon, 1e-9);
        for (int row = 0; row < 6; ++row) {
            for (int col = 0; col < 6; ++col) {
                const std::size_t node = static_cast<std::size_t>((5 - row) * 6 + col + 1); // rows from the south
                const std::size_t px = static_cast<std::size_t>(row * 6 + col);
                EXPECT_FLOAT_EQ(r.band1[px], static_cast<float>(c.dLat[node]));
                EXPECT_FLOAT_EQ(r.band2[px], static_cast<float>(-c.dLon[node])) << "NTv2 longitudes positive west";
            }
        }
    }
}

TEST_F(GridExportTest, VerticalGridsAreGeographicFloat32WithNodesAtPixelCentres) {
    const GridPortion& p = load_->set.portion(0);
    const VerticalGridNames v = verticalGridNames(load_->set);
    {
        const Raster r = readRaster(exportDir_ + "/" + v.geoid[0]);
        ASSERT_EQ(r.cols, 14);
        ASSERT_EQ(r.rows, 10);
        EXPECT_NEAR(nodeLon(r, 0), p.geoidOriginLon, 1e-12);
        EXPECT_NEAR(nodeLat(r, 0), p.geoidTopLat, 1e-12);
        EXPECT_NEAR(nodeLat(r, 9), p.geoidOriginLat, 1e-9); // south edge: 9 rows of 2'
        for (std::size_t k = 0; k < 140; ++k) {
            EXPECT_FLOAT_EQ(r.band1[k], static_cast<float>(p.geoidN[k + 1]));
        }
    }
    {
        const Raster r = readRaster(exportDir_ + "/" + v.heightShift[0]);
        ASSERT_EQ(r.cols, 6);
        ASSERT_EQ(r.rows, 6);
        EXPECT_NEAR(nodeLon(r, 0), p.e2000OriginLon, 1e-12);
        EXPECT_NEAR(nodeLat(r, 5), p.e2000OriginLat, 1e-12);
        EXPECT_FLOAT_EQ(r.band1[30], static_cast<float>(p.e89E2000DH[1])); // south-west node
        EXPECT_FLOAT_EQ(r.band1[5], static_cast<float>(p.e89E2000DH[36])); // north-east node
    }
    // gdalinfo sees a geographic CRS with pixel-is-area, as PROJ's vgridshift wants.
    const PipedRun info = runPiped("gdalinfo " + quotedArg(exportDir_ + "/" + v.geoid[0]));
    ASSERT_EQ(info.exitCode, 0) << info.out;
    EXPECT_NE(info.out.find("Type=Float32"), std::string::npos);
    EXPECT_NE(info.out.find("AREA_OR_POINT=Area"), std::string::npos);
    EXPECT_NE(info.out.find("ETRS89"), std::string::npos);
}

// Overlapping portions: one top-level sub-grid per portion, in set order, so that PROJ
// takes the first portion of the set where they overlap.
TEST(GridExportSet, SubGridsFollowTheSetOrder) {
    ScratchDir dir;
    gridgen::PortionRecipe first = sheet();
    gridgen::PortionRecipe second = sheet();
    second.westLon += 2 * planStepLon;
    second.name = "0246";
    second.seed = 7; // different values: the overlap shows which portion PROJ took
    clitest::writeWholeFile(dir.file("b.GK2"), gridgen::portionText(first));
    clitest::writeWholeFile(dir.file("a.GK2"), gridgen::portionText(second));
    // Set order: b.GK2 named first, then a.GK2.
    const PipedRun r = runPiped(exportExe() + " --grid " + quotedArg(dir.file("b.GK2")) + " --grid " +
                                quotedArg(dir.file("a.GK2")) + " --out " + quotedArg(dir.file("x")));
    ASSERT_EQ(r.exitCode, 0) << r.out;
    const PipedRun info = runPiped("gdalinfo " + quotedArg(dir.file("x/") + kRoma40Etrf89GridFile));
    ASSERT_EQ(info.exitCode, 0);
    const std::size_t s0 = info.out.find("SUBDATASET_0_DESC=b");
    const std::size_t s1 = info.out.find("SUBDATASET_1_DESC=a");
    ASSERT_NE(s0, std::string::npos) << info.out;
    ASSERT_NE(s1, std::string::npos) << info.out;
    EXPECT_LT(s0, s1);

    // A point inside both: cct agrees with the first portion's conversion.
    const PortionSetLoad load = loadPortionSet({dir.file("b.GK2"), dir.file("a.GK2")}, {});
    ASSERT_TRUE(load.ok());
    const std::string pipes = clitest::readWholeFile(dir.file("x/pipelines.txt"));
    const std::string label = "ROMA40:geo>ETRF89:geo ";
    const std::size_t at = pipes.find(label);
    ASSERT_NE(at, std::string::npos);
    const std::string pipe = pipes.substr(at + label.size(), pipes.find('\n', at) - at - label.size());
    const double la = 42.45, lo = 13.55; // inside both sheets' ROMA40 grids
    const ShiftResult s = interpolateRoma40Shift(load.set.portion(0), la, lo, Roma40Grid::ToEtrf89);
    ASSERT_EQ(s.status, InterpStatus::Ok);
    clitest::writeWholeFile(dir.file("p.txt"), cctLine(la, lo, 0));
    const PipedRun c = runPiped(cctCommand(dir.file("x"), pipe, dir.file("p.txt")));
    ASSERT_EQ(c.exitCode, 0) << c.out;
    const auto rows = cctColumns(c.out);
    ASSERT_EQ(rows.size(), 1u) << c.out;
    EXPECT_NEAR(rows[0][0], la + s.shiftLat, 1e-9);
    EXPECT_NEAR(rows[0][1], lo + s.shiftLon, 1e-9);
}

// ---------------------------------------------------------------------------------------
// The command line.

TEST(GridExportCommandLine, ExitStatusAndMessages) {
    ScratchDir dir;
    struct Case {
        std::string args;
        int exitCode;
        const char* says; // part of what the program writes
    } cases[] = {
        {"--help", 0, "Esporta le griglie"},
        {"--out " + dir.file("x"), 2, "servono --grid o --grid-dir"},
        {"--grid g.GK1", 2, "manca --out"},
        {"--grid g.GK1 --out x --zone 35 --plane", 2, "fuso sconosciuto \"35\""},
        {"--grid g.GK1 --out x --zone 33", 2, "--zone vale solo con --plane"},
        {"--grid g.GK1 --out x --bogus", 2, "opzione sconosciuta"},
        // An empty value (an unset variable) is not the current folder.
        {"--grid-dir= --out " + dir.file("x"), 2, "--grid-dir: valore vuoto"},
        {"--grid '' --out " + dir.file("x"), 2, "--grid: valore vuoto"},
        {"--grid-dir " + dir.file("vuota") + " --out " + dir.file("x"), 1, "NESSUNA PORZIONE DI GRIGLIA"},
        // The output folder is a file: refused before anything is written.
        {"--grid " + dir.file("g.GK2") + " --out " + dir.file("g.GK2"), 1, "IMPOSSIBILE CREARE LA CARTELLA"},
    };
    std::filesystem::create_directories(dir.file("vuota"));
    clitest::writeWholeFile(dir.file("g.GK2"), gridgen::portionText(sheet()));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args);
        const PipedRun r = runPiped(exportExe() + " " + c.args);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.out;
        EXPECT_NE(r.out.find(c.says), std::string::npos) << r.out;
    }
}

// Every pipelines.txt line names two ends of different systems; the plane ends are the zones
// each system has (ROMA40 Ovest and Est, ED50 32 to 34, ETRF 32 to 34 and Italia).
TEST(GridExportPipelines, OneLinePerOrderedPairOfEnds) {
    const VerticalGridNames v{{"g.tif"}, {"h.tif"}};
    struct Case {
        bool plane;
        std::vector<Zone> zones;
        std::size_t ends;
    } cases[] = {
        {false, {}, 4},
        {true, {}, 4 + 2 + 3 + 4 + 4},
        {true, {Zone::EstOr33}, 4 + 4},
        {true, {Zone::Italia}, 4 + 2},
    };
    for (const Case& c : cases) {
        const std::vector<PipelineEnd> ends = pipelineEnds(c.plane, c.zones);
        ASSERT_EQ(ends.size(), c.ends);
        const std::string text = pipelinesText(ends, v);
        std::size_t lines = 0, expected = 0;
        for (const PipelineEnd& a : ends) {
            for (const PipelineEnd& b : ends) {
                expected += a.system != b.system ? 1 : 0;
            }
        }
        std::istringstream in(text);
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#') {
                continue;
            }
            ++lines;
            EXPECT_NE(line.find(" +proj=pipeline "), std::string::npos) << line;
        }
        EXPECT_EQ(lines, expected);
    }
}

// ---------------------------------------------------------------------------------------
// The export folder: written whole or not at all, and only the export's own files replaced.

namespace fs = std::filesystem;

// Every entry under a folder, hidden ones included: a file's bytes, "<cartella>" for a folder.
std::map<std::string, std::string> folderSnapshot(const std::string& folder) {
    // Read while an export runs: entries may vanish on the way.
    std::map<std::string, std::string> entries;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().lexically_relative(folder).string();
        entries[name] = it->is_directory(ec) ? "<cartella>" : clitest::readWholeFile(it->path().string());
    }
    return entries;
}

// A mosaic of rows x cols neighbouring synthetic vertex portions, as dormal2k-gridgen writes them.
void writeMosaic(const std::string& folder, int rows, int cols) {
    gridgen::PortionRecipe first;
    first.kind = PortionKind::Vertex;
    first.southLat = 40.0;
    first.westLon = 10.0;
    first.name = "100000";
    fs::create_directories(folder);
    for (const gridgen::PortionRecipe& r : gridgen::mosaicRecipes(first, rows, cols)) {
        clitest::writeWholeFile(folder + "/" + gridgen::defaultFileName(r), gridgen::portionText(r));
    }
}

struct ExportRun {
    int exitCode = -1; // exit status, or 128 + the signal that ended it
    std::string out;
};

// dormal2k-gridexport with `args`; with `stopWith`, that signal as soon as anything under
// `watched` differs from `before` (the export has begun writing).
ExportRun runExport(const std::vector<std::string>& args, int stopWith = 0, const std::string& watched = {},
                    const std::map<std::string, std::string>& before = {}) {
    ScratchDir logs;
    const std::string log = logs.file("out.txt");
    std::vector<std::string> store{exportExe()};
    store.insert(store.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : store) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    if (stopWith != 0) {
        while (::waitpid(pid, &status, WNOHANG) == 0) {
            if (folderSnapshot(watched) != before) {
                ::kill(pid, stopWith);
                break;
            }
            ::usleep(1000);
        }
    }
    ::waitpid(pid, &status, 0);
    ExportRun r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = clitest::readWholeFile(log);
    return r;
}

// An export, then one that fails (a folder where one of its files must go) or is stopped by
// a signal while it writes: the first export stays byte for byte, and no scratch folder is
// left behind.
TEST(GridExportFolder, AFailedOrStoppedExportLeavesThePreviousOneAsItWas) {
    ScratchDir dir;
    const std::string sheets = dir.file("fogli"), many = dir.file("molte"), out = dir.file("export");
    const std::vector<gridgen::PortionRecipe> two = gridgen::mosaicRecipes(sheet(), 1, 2);
    fs::create_directories(sheets);
    for (const gridgen::PortionRecipe& r : two) {
        clitest::writeWholeFile(sheets + "/" + gridgen::defaultFileName(r), gridgen::portionText(r));
    }
    writeMosaic(many, 20, 20); // about a second of writing
    const struct Case {
        const char* what;
        int signal;        // 0: the folder in the way
        const char* grids; // the second export's portions
        int exitCode;
        const char* says;
    } cases[] = {
        {"folder in the way", 0, "fogli", 1, "IMPOSSIBILE SOSTITUIRE dormal2k_geoide_002_0246.tif: E' UNA CARTELLA"},
        {"SIGTERM", SIGTERM, "molte", 128 + SIGTERM, ""},
        {"SIGINT", SIGINT, "molte", 128 + SIGINT, ""},
        {"SIGHUP", SIGHUP, "molte", 128 + SIGHUP, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        fs::remove_all(out);
        ExportRun first = runExport({"--grid", sheets + "/0245.GK2", "--out", out, "--plane"});
        ASSERT_EQ(first.exitCode, 0) << first.out;
        if (c.signal == 0) {
            fs::create_directories(out + "/dormal2k_geoide_002_0246.tif");
        }
        const std::map<std::string, std::string> before = folderSnapshot(out);
        const ExportRun second = runExport({"--grid-dir", dir.file(c.grids), "--out", out}, c.signal, out, before);
        EXPECT_EQ(second.exitCode, c.exitCode) << second.out;
        EXPECT_NE(second.out.find(c.says), std::string::npos) << second.out;
        EXPECT_TRUE(folderSnapshot(out) == before) << "the first export changed";
    }
}

// A smaller export after a larger one removes the larger one's files it does not write
// again, and nothing the manifest does not list; scratch folders of runs that died go too.
TEST(GridExportFolder, ALaterExportRemovesOnlyTheFilesOfThePreviousOne) {
    ScratchDir dir;
    const std::string sheets = dir.file("fogli"), out = dir.file("export");
    fs::create_directories(sheets);
    for (const gridgen::PortionRecipe& r : gridgen::mosaicRecipes(sheet(), 1, 2)) {
        clitest::writeWholeFile(sheets + "/" + gridgen::defaultFileName(r), gridgen::portionText(r));
    }
    ExportRun r = runExport({"--grid-dir", sheets, "--out", out});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    ASSERT_TRUE(fs::exists(out + "/dormal2k_geoide_002_0246.tif"));
    // Files of the user's beside the export, one named like an export's; a dead run's scratch
    // folder (no process has a pid that large) and a live one's (this test's own pid).
    clitest::writeWholeFile(out + "/note.txt", "mie note\n");
    clitest::writeWholeFile(out + "/dormal2k_geoide_009_vecchio.tif", "non in elenco\n");
    const std::string dead = out + "/.dormal2k-esportazione-2147483646-abcdef";
    const std::string alive = out + "/.dormal2k-esportazione-" + std::to_string(::getpid()) + "-abcdef";
    fs::create_directories(dead);
    fs::create_directories(alive);
    clitest::writeWholeFile(dead + "/dormal2k_roma40_ed50.gsb", "mezzo file");

    r = runExport({"--grid", sheets + "/0245.GK2", "--out", out});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(out)) {
        names.insert(e.path().filename().string());
    }
    const std::set<std::string> expected = {
        "dormal2k_roma40_ed50.gsb",
        "dormal2k_roma40_etrf89.gsb",
        "dormal2k_etrf89_etrf2000.gsb",
        "dormal2k_geoide_001_0245.tif",
        "dormal2k_etrf89_etrf2000_h_001_0245.tif",
        kPipelinesFile,
        kQgisPipelinesFile,
        kManifestFile,
        "note.txt",
        "dormal2k_geoide_009_vecchio.tif",
        fs::path(alive).filename().string(),
    };
    EXPECT_TRUE(names == expected) << r.out;
    // The manifest lists exactly the export's own files.
    std::set<std::string> listed;
    std::istringstream in(clitest::readWholeFile(out + "/" + kManifestFile));
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] != '#') {
            listed.insert(line);
        }
    }
    std::set<std::string> own = expected;
    for (const char* n : {kManifestFile, "note.txt", "dormal2k_geoide_009_vecchio.tif"}) {
        own.erase(n);
    }
    own.erase(fs::path(alive).filename().string());
    EXPECT_TRUE(listed == own);
}

// Beyond 1,023 portions (the most sub-grids GDAL reads in one NTv2 file) each shift grid goes
// on in a second file, listed after the first in the pipelines: cct follows the program in
// the last portion, which only the second files hold.
TEST(GridExportSet, MoreThan1023PortionsSplitOverTwoNtv2Files) {
    ScratchDir dir;
    writeMosaic(dir.file("g"), 41, 25); // 1,025 portions
    const ExportRun r = runExport({"--grid-dir", dir.file("g"), "--out", dir.file("x")});
    ASSERT_EQ(r.exitCode, 0) << r.out;
    const std::string pipelines = clitest::readWholeFile(dir.file("x/pipelines.txt"));
    for (const char* f : {kRoma40Ed50GridFile, kRoma40Etrf89GridFile, kEtrf89Etrf2000GridFile}) {
        const std::vector<std::string> files = shiftGridFiles(f, 1025);
        ASSERT_EQ(files.size(), 2u);
        EXPECT_NE(pipelines.find("+grids=" + files[0] + "," + files[1] + " "), std::string::npos) << f;
        const PipedRun info = runPiped("gdalinfo " + quotedArg(dir.file("x/") + files[1]));
        EXPECT_EQ(info.exitCode, 0) << info.out.substr(0, 500);
        // Portions 1,024 and 1,025.
        EXPECT_NE(info.out.find("SUBDATASET_1_NAME"), std::string::npos) << info.out.substr(0, 2000);
        EXPECT_EQ(info.out.find("SUBDATASET_2_NAME"), std::string::npos) << info.out.substr(0, 2000);
    }
    PortionSetLoad load = loadPortionSet({}, {dir.file("g")});
    ASSERT_TRUE(load.ok());
    load.set.buildIndex();
    const ZoneLimits& last = load.set.limits(1024);
    const Area northEast{(last.south + last.north) / 2, (last.west + last.east) / 2, last.north, last.east};
    const PairCase pc{RefSystem::Roma40, RefSystem::Etrf2000, CoordKind::Geographic, Zone::Auto, Zone::Auto};
    expectAgreement(compareWithCct(load.set, dir.file("x"), pipelines, pc, northEast, 200, 5u, dir.file("p.txt")), pc);
}

} // namespace
} // namespace dormal
