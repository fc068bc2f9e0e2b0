#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "geodesy/systems.h"
#include "grid/grid_portion.h"
#include "grid/interpolation.h"
#include "grid/zone_limits.h"
#include "grid_fixtures.h"
#include "tests/support/print_enums.h"
#include "tools/synthetic_grid.h"

namespace dormal {
namespace {

using PlanArray = std::array<double, kPlanArraySize>;

// Largest change between neighbouring nodes (east and north) of a row-by-row array.
template <std::size_t N> double largestStep(const std::array<double, N>& a, int count, int perRow) {
    double worst = 0;
    for (int k = 1; k <= count; ++k) {
        const auto i = static_cast<std::size_t>(k);
        if (k % perRow != 0) {
            worst = std::max(worst, std::fabs(a[i + 1] - a[i]));
        }
        if (k + perRow <= count) {
            worst = std::max(worst, std::fabs(a[i + static_cast<std::size_t>(perRow)] - a[i]));
        }
    }
    return worst;
}

template <std::size_t N> std::pair<double, double> range(const std::array<double, N>& a, int count) {
    const auto first = a.begin() + 1;
    const auto [lo, hi] = std::minmax_element(first, first + count);
    return {*lo, *hi};
}

// Plausible sizes, smooth from node to node, anywhere in Italy.
TEST(GridGen, ValuesArePlausibleAndSmooth) {
    const struct {
        double lat0, lon0;
    } places[] = {{46.5, 7.0}, {45.25, 9.0}, {42.25, 13.25}, {40.0, 18.25}, {37.5, 14.0}, {39.0, 8.5}, {36.7, 15.0}};
    const struct {
        const char* what;
        PlanArray GridPortion::*values;
        double low, high, maxStep;
    } planGrids[] = {
        {"ROMA40-ED50 latitude, seconds", &GridPortion::roEdDLat, 4.0, 6.0, 0.03},
        {"ROMA40-ED50 longitude, seconds", &GridPortion::roEdDLon, 1.5, 3.5, 0.03},
        {"ROMA40-ETRF89 latitude, seconds", &GridPortion::roE89DLat, 1.5, 3.2, 0.03},
        {"ROMA40-ETRF89 longitude, seconds", &GridPortion::roE89DLon, -1.7, 0.4, 0.03},
        {"ETRF89-ETRF2000 latitude, seconds", &GridPortion::e89E2000DLat, -0.0001, 0.0007, 0.00002},
        {"ETRF89-ETRF2000 longitude, seconds", &GridPortion::e89E2000DLon, -0.0006, 0.0002, 0.00002},
        {"ETRF89-ETRF2000 height, metres", &GridPortion::e89E2000DH, 0.009, 0.051, 0.001},
    };
    for (const auto& p : places) {
        for (PortionKind kind : {PortionKind::Vertex, PortionKind::Sheet}) {
            const GridPortion g = test::generatedPortion(kind, p.lat0, p.lon0, 3);
            for (const auto& grid : planGrids) {
                SCOPED_TRACE(testing::Message() << grid.what << " at " << p.lat0 << ", " << p.lon0);
                const auto [lo, hi] = range(g.*grid.values, g.planNodeCount);
                EXPECT_GE(lo, grid.low);
                EXPECT_LE(hi, grid.high);
                EXPECT_LE(largestStep(g.*grid.values, g.planNodeCount, g.planNodesPerRow), grid.maxStep);
            }
            const auto [lo, hi] = range(g.geoidN, g.geoidNodeCount);
            EXPECT_GE(lo, 35.0);
            EXPECT_LE(hi, 55.0);
            EXPECT_LE(largestStep(g.geoidN, g.geoidNodeCount, g.geoidNodesPerRow), 0.05);
            EXPECT_GT(largestStep(g.geoidN, g.geoidNodeCount, g.geoidNodesPerRow), 0.0);
        }
    }
}

// Two neighbouring portions made with the same seed agree along their common edge.
TEST(GridGen, NeighbouringPortionsAgree) {
    const GridPortion west = test::generatedPortion(PortionKind::Vertex, 44.0, 10.0);
    const GridPortion east = test::generatedPortion(PortionKind::Vertex, 44.0, 10.375); // 3 columns on
    for (int r = 0; r < 4; ++r) {
        const auto w = static_cast<std::size_t>(r * 4 + 4); // west portion's last column
        const auto e = static_cast<std::size_t>(r * 4 + 1); // east portion's first column
        EXPECT_NEAR(west.roEdDLat[w], east.roEdDLat[e], 0.00011) << r;
        EXPECT_NEAR(west.roE89DLon[w], east.roE89DLon[e], 0.00011) << r;
    }
    // Interpolated just inside each side of the common edge: within rounding of the file values.
    for (double lat = 44.02; lat < 44.23; lat += 0.05) {
        const ShiftResult a = interpolateRoma40Shift(west, lat, 10.375 - 1e-9, Roma40Grid::ToEtrf89);
        const ShiftResult b = interpolateRoma40Shift(east, lat, 10.375 + 1e-9, Roma40Grid::ToEtrf89);
        ASSERT_EQ(a.status, InterpStatus::Ok);
        ASSERT_EQ(b.status, InterpStatus::Ok);
        EXPECT_NEAR(a.shiftLat * 3600, b.shiftLat * 3600, 0.00011);
    }
}

// The committed samples are exactly what the generator writes for them, read well and lie
// where their README says. Their names are used by other tests: keep them.
TEST(GridGen, CommittedSamples) {
    const struct {
        const char* file;
        PortionKind kind;
        double lat0, lon0;
        bool global;
        int zone;
    } samples[] = {
        {"123456.GK1", PortionKind::Vertex, 45.25, 9.0, false, 32},
        {"0245.GK2", PortionKind::Sheet, 42.25, 13.25, false, 33},
        {"654321.GK1", PortionKind::Vertex, 40.0, 18.25, true, 34},
    };
    for (const auto& s : samples) {
        SCOPED_TRACE(s.file);
        gridgen::PortionRecipe gen;
        gen.kind = s.kind;
        gen.southLat = s.lat0;
        gen.westLon = s.lon0;
        gen.name = std::string(s.file).substr(0, std::string(s.file).find('.'));
        gen.globalGeoid = s.global;
        EXPECT_EQ(gridgen::defaultFileName(gen), s.file);

        std::ifstream in(std::string(DORMAL2K_SAMPLES_DIR) + "/" + s.file, std::ios::binary);
        ASSERT_TRUE(in.good());
        std::stringstream text;
        text << in.rdbuf();
        EXPECT_EQ(text.str(), gridgen::portionText(gen));

        const GridLoadResult r = loadGridPortion(DORMAL2K_SAMPLES_DIR, s.file);
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(r.portion->kind, s.kind);
        EXPECT_EQ(r.portion->globalGeoid, s.global ? 1 : 0);
        EXPECT_EQ(utmZoneNumber(computeZoneLimits(*r.portion, RefSystem::Etrf89).zone), s.zone);
    }
}

} // namespace
} // namespace dormal
