// The working set of portions: which portion a point uses, the index against a plain scan,
// folders of portion files, and how much neighbouring portions disagree.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "conversion/grid_messages.h"
#include "geodesy/systems.h"
#include "grid/datum_transform.h"
#include "grid/portion_set.h"
#include "grid_fixtures.h"
#include "tools/synthetic_grid.h"

namespace dormal {
namespace {

namespace fs = std::filesystem;

// A folder of its own, removed with what it holds.
class Scratch {
public:
    Scratch() {
        std::string tmpl = (fs::temp_directory_path() / "dormal2k-set-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        path_ = tmpl;
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    Scratch(const Scratch&) = delete;
    Scratch& operator=(const Scratch&) = delete;
    std::string path() const { return path_.string(); }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(path_ / name, std::ios::binary) << text;
        return (path_ / name).string();
    }

private:
    fs::path path_;
};

// The probe of a ROMA40 position (Greenwich).
CoverageProbe roma40(double lat, double lon) {
    return coverageProbe(RefSystem::Roma40, lat, lon);
}

// ---- The rule: first portion in set order whose coverage test accepts the point ----------

// Two sheets whose convertible areas overlap: A at (42.25, 13.25), B a quarter of a degree
// north-east. Guards the order of the rule (first, not nearest, not last).
TEST(PortionSetRule, FirstAcceptingPortionInSetOrder) {
    const GridPortion a = test::generatedPortion(PortionKind::Sheet, 42.25, 13.25);
    const GridPortion b = test::generatedPortion(PortionKind::Sheet, 42.4166666666667, 13.5);
    struct Case {
        const char* what;
        double lat, lon;
        int whenAB, whenBA; // expected index with order A,B and with order B,A
    };
    const Case cases[] = {
        {"only in A", 42.35, 13.40, 0, 1},
        {"only in B", 42.75, 14.00, 1, 0},
        {"in both: the first of the set", 42.55, 13.70, 0, 0},
        {"in neither", 43.50, 13.70, -1, -1},
        {"west of A's ROMA40 grid", 42.40, 13.00, -1, -1},
    };
    PortionSet ab, ba;
    ab.add(a);
    ab.add(b);
    ba.add(b);
    ba.add(a);
    for (PortionSet* s : {&ab, &ba}) {
        s->buildIndex();
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ab.find(roma40(c.lat, c.lon)), c.whenAB);
        EXPECT_EQ(ba.find(roma40(c.lat, c.lon)), c.whenBA);
        // A one-portion set says exactly what the portion's own test says.
        PortionSet onlyA;
        onlyA.add(a);
        onlyA.buildIndex();
        const ZoneLimits za = computeZoneLimits(a, RefSystem::Roma40);
        EXPECT_EQ(onlyA.find(roma40(c.lat, c.lon)) == 0, coverageAccepts(za, roma40(c.lat, c.lon)));
    }
}

// Every bound of the test is inclusive, in the set as for one portion: points exactly on
// the ROMA40 and geoid edges of a portion.
TEST(PortionSetRule, EdgesAreInclusiveAsForOnePortion) {
    PortionSet s;
    s.add(test::generatedPortion(PortionKind::Vertex, 45.25, 9.0));
    s.buildIndex();
    const ZoneLimits& z = s.limits(0);
    const double midLat = (z.south + z.north) / 2, midLon = (z.west + z.east) / 2;
    const CoverageProbe onEdges[] = {
        {z.planSouth, midLon, midLat, midLon}, {z.planNorth, midLon, midLat, midLon},
        {midLat, z.planWest, midLat, midLon},  {midLat, z.planEast, midLat, midLon},
        {midLat, midLon, z.geoidSouth, midLon}, {midLat, midLon, z.geoidNorth, midLon},
        {midLat, midLon, midLat, z.geoidWest},  {midLat, midLon, midLat, z.geoidEast},
    };
    for (const CoverageProbe& p : onEdges) {
        EXPECT_EQ(s.find(p), 0);
        CoverageProbe beyond = p;
        beyond.roLat = p.roLat == z.planSouth ? std::nextafter(p.roLat, 0.0) : p.roLat;
        beyond.roLat = p.roLat == z.planNorth ? std::nextafter(p.roLat, 90.0) : beyond.roLat;
        beyond.e89Lon = p.e89Lon == z.geoidEast ? std::nextafter(p.e89Lon, 90.0) : p.e89Lon;
        if (beyond.roLat != p.roLat || beyond.e89Lon != p.e89Lon) {
            EXPECT_EQ(s.find(beyond), -1);
        }
    }
    EXPECT_EQ(s.find(CoverageProbe{NAN, midLon, midLat, midLon}), -1);
}

// ---- The index gives the scan's answer ----------------------------------------------------

// 200 portions of both kinds scattered (many overlapping) over Italy, 100,000 random probes
// plus probes on every portion's edges: the index must name the same portion as trying
// every portion in order. Guards cell arithmetic at edges and set order within a cell.
TEST(PortionSetIndex, SameAnswerAsLinearScan) {
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> lat(37.0, 46.5), lon(7.0, 18.0), jitter(-0.02, 0.02);
    PortionSet s;
    for (int i = 0; i < 200; ++i) {
        // A third of them in one crowded corner, so cells hold many portions.
        const bool crowded = i % 3 == 0;
        const double la = crowded ? 42.0 + jitter(rng) * 10 : lat(rng);
        const double lo = crowded ? 13.0 + jitter(rng) * 10 : lon(rng);
        s.add(test::blankPortion(i % 2 == 0 ? PortionKind::Sheet : PortionKind::Vertex, la, lo));
    }
    s.buildIndex();
    ASSERT_TRUE(s.indexed());
    std::uniform_int_distribution<int> which(0, 199);
    int accepted = 0;
    for (int i = 0; i < 100000; ++i) {
        CoverageProbe p;
        if (i % 4 == 0) { // near a portion, often on an edge
            const ZoneLimits& z = s.limits(static_cast<std::size_t>(which(rng)));
            const double pick[] = {z.planSouth, z.planNorth, z.south, z.north};
            const double pickLon[] = {z.planWest, z.planEast, z.west, z.east};
            p = CoverageProbe{pick[i % 3], pickLon[(i / 4) % 4], z.south + jitter(rng), z.west + jitter(rng)};
        } else {
            p = roma40(i % 2 == 0 ? 42.0 + jitter(rng) * 10 : lat(rng), i % 2 == 0 ? 13.0 + jitter(rng) * 10 : lon(rng));
        }
        const int byIndex = s.find(p);
        ASSERT_EQ(byIndex, s.findByScan(p)) << "probe " << i << " at " << p.roLat << ", " << p.roLon;
        accepted += byIndex >= 0 ? 1 : 0;
    }
    // The property means something only if many probes hit portions.
    EXPECT_GT(accepted, 10000);
}

// ---- Folders ------------------------------------------------------------------------------

// Which names of a folder are portions, and their order: "*.GK?" in any case, by bytes.
TEST(PortionSetFolder, NamesMatchedWithoutCaseInByteOrder) {
    Scratch dir;
    for (const char* name : {"b.gk2", "A.GK1", "c.Gk3", "Z.GKX", "d.txt", "e.GK12", "GK1", "f.GK", "a.GK1"}) {
        dir.write(name, "x");
    }
    int error = -1;
    const std::vector<std::string> names = portionFileNames(dir.path(), error);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(names, (std::vector<std::string>{"A.GK1", "Z.GKX", "a.GK1", "b.gk2", "c.Gk3"}));
}

std::string sheetText(double lat, double lon, const std::string& name, std::uint32_t seed = 1) {
    gridgen::PortionRecipe recipe;
    recipe.kind = PortionKind::Sheet;
    recipe.southLat = lat;
    recipe.westLon = lon;
    recipe.name = name;
    recipe.seed = seed;
    return gridgen::portionText(recipe);
}

// What a set refuses, and the message that names the culprit: nothing is skipped.
TEST(PortionSetFolder, RefusalsNameTheFileOrFolder) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files; // name, text
        const char* expectedInMessage;
    };
    const std::string good = sheetText(42.25, 13.25, "0245");
    const std::string damaged = good.substr(0, good.size() / 2);
    const Case cases[] = {
        {"damaged portion among good ones", {{"0245.GK2", good}, {"0246.GK2", damaged}}, "0246.GK2"},
        {"no portion in the folder", {{"note.txt", "x"}}, "NESSUNA PORZIONE DI GRIGLIA"},
        {"empty folder", {}, "NESSUNA PORZIONE DI GRIGLIA"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Scratch dir;
        for (const auto& [name, text] : c.files) {
            dir.write(name, text);
        }
        const PortionSetLoad r = loadPortionSet({}, {dir.path()});
        ASSERT_FALSE(r.ok());
        const std::string text = joinedText(portionSetMessage(*r.error));
        EXPECT_NE(text.find(c.expectedInMessage), std::string::npos) << text;
    }
    const PortionSetLoad missing = loadPortionSet({}, {"/nonexistent-dormal2k-folder"});
    ASSERT_FALSE(missing.ok());
    EXPECT_EQ(missing.error->failure, PortionSetFailure::FolderUnreadable);
    EXPECT_EQ(missing.error->errorNumber, ENOENT);
    EXPECT_NE(joinedText(portionSetMessage(*missing.error)).find("/nonexistent-dormal2k-folder"), std::string::npos);
}

// Files named one by one come first, in the order given, then the folder's in name order.
TEST(PortionSetFolder, FilesFirstThenFolder) {
    Scratch dir, other;
    dir.write("0300.GK2", sheetText(44.0, 11.0, "0300"));
    dir.write("0100.gk2", sheetText(43.0, 11.0, "0100"));
    const std::string single = other.write("0500.GK2", sheetText(45.0, 11.0, "0500"));
    const PortionSetLoad r = loadPortionSet({single}, {dir.path()});
    ASSERT_TRUE(r.ok()) << joinedText(portionSetMessage(*r.error));
    ASSERT_EQ(r.set.size(), 3u);
    EXPECT_EQ(r.set.portion(0).portionName, "0500");
    EXPECT_EQ(r.set.portion(1).portionName, "0100");
    EXPECT_EQ(r.set.portion(2).portionName, "0300");
    EXPECT_TRUE(r.set.indexed());
}

// ---- Neighbours that agree, and sets that do not ------------------------------------------

PortionSet mosaic(PortionKind kind, double lat, double lon, int rows, int cols, std::uint32_t seed) {
    gridgen::PortionRecipe first;
    first.kind = kind;
    first.southLat = lat;
    first.westLon = lon;
    first.name = "100";
    first.seed = seed;
    PortionSet s;
    for (const gridgen::PortionRecipe& recipe : gridgen::mosaicRecipes(first, rows, cols)) {
        GridLoadResult r = parseGridPortion(gridgen::portionText(recipe), gridgen::defaultFileName(recipe));
        EXPECT_TRUE(r.ok());
        s.add(std::move(*r.portion));
    }
    s.buildIndex();
    return s;
}

// A generated mosaic leaves no gap: walking across it in small steps, every point is
// accepted by some portion, and where the portion changes the result moves by no more
// than the step itself would (within 1 mm).
TEST(PortionSetMosaic, ContinuousAcrossSharedEdges) {
    struct Case {
        const char* what;
        PortionKind kind;
        double lat, lon;
    };
    const Case cases[] = {{"sheets", PortionKind::Sheet, 42.25, 13.25}, {"vertices", PortionKind::Vertex, 45.25, 9.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const PortionSet s = mosaic(c.kind, c.lat, c.lon, 2, 3, 1);
        ASSERT_EQ(s.size(), 6u);
        const SetBounds b = s.bounds();
        // A diagonal walk from inside the south-west portion to inside the north-east one.
        const double la0 = b.south + 0.01, lo0 = b.west + 0.01, la1 = b.north - 0.01, lo1 = b.east - 0.01;
        const int steps = 20000;
        int switches = 0;
        int previousIndex = -1;
        for (int i = 0; i <= steps; ++i) {
            const double lat = la0 + (la1 - la0) * i / steps, lon = lo0 + (lo1 - lo0) * i / steps;
            const int k = s.find(roma40(lat, lon));
            ASSERT_GE(k, 0) << "gap at " << lat << ", " << lon;
            const DatumResult r = transformDatum(s.portion(static_cast<std::size_t>(k)), lat, lon, 500, RefSystem::Roma40, RefSystem::Etrf2000);
            ASSERT_FALSE(r.outsideNodes);
            if (previousIndex >= 0 && k != previousIndex) {
                ++switches;
                // The same point through the portion used just before.
                const DatumResult same =
                    transformDatum(s.portion(static_cast<std::size_t>(previousIndex)), lat, lon, 500, RefSystem::Roma40, RefSystem::Etrf2000);
                ASSERT_FALSE(same.outsideNodes);
                EXPECT_LT(std::abs(same.outLat - r.outLat) * 111000 * 1000, 1.0);
                EXPECT_LT(std::abs(same.outLon - r.outLon) * 82000 * 1000, 1.0);
                EXPECT_LT(std::abs(same.outHeight - r.outHeight) * 1000, 1.0);
            }
            previousIndex = k;
        }
        EXPECT_GE(switches, 2);
        // The check of the whole mosaic agrees.
        for (const PortionDisagreement& d : comparePortions(s, 11)) {
            EXPECT_GT(d.samples, 0);
            EXPECT_LT(d.maxHorizontalMm, 1.0) << d.first << "-" << d.second;
            EXPECT_LT(d.maxHeightMm, 1.0) << d.first << "-" << d.second;
        }
    }
}

// The check finds portions that disagree: the same mosaic with one sheet from another
// field (seed), and pairs that do not overlap are not listed.
TEST(PortionSetMosaic, CheckReportsDisagreeingNeighbours) {
    PortionSet s = mosaic(PortionKind::Sheet, 42.25, 13.25, 1, 2, 1);
    const PortionSet stranger = mosaic(PortionKind::Sheet, 42.25, 13.25, 1, 1, 7);
    s.add(stranger.portion(0));
    s.add(test::generatedPortion(PortionKind::Sheet, 45.0, 9.0)); // far away
    s.buildIndex();
    const std::vector<PortionDisagreement> pairs = comparePortions(s, 11);
    ASSERT_EQ(pairs.size(), 3u); // 0-1, 0-2, 1-2; none with the far one
    for (const PortionDisagreement& d : pairs) {
        EXPECT_NE(d.second, 3u);
        const bool withStranger = d.second == 2;
        SCOPED_TRACE(std::to_string(d.first) + "-" + std::to_string(d.second));
        if (withStranger) {
            EXPECT_GT(d.maxHorizontalMm, 100.0);
            EXPECT_GT(d.maxAngle1e4, 10.0);
        } else {
            EXPECT_LT(d.maxHorizontalMm, 1.0);
        }
    }
}

} // namespace
} // namespace dormal
