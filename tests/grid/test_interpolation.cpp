#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>

#include "geodesy/angles.h"
#include "grid/interpolation.h"
#include "grid_fixtures.h"

namespace dormal {
namespace {

using PlanArray = std::array<double, kPlanArraySize>;

// The sheet cell of the worked example: origin (43, 11), six nodes a row; the point
// (43.1, 11.3) falls in the cell with SW 9, SE 10, NW 15, NE 16.
constexpr double kLat0 = 43.0;
constexpr double kLon0 = 11.0;
constexpr double kCellSouth = 43.0833333333333; // (7 - 1) / 6 * planStepLat + 43
constexpr double kCellWest = 11.25;

// Every node 100 except the example's four corners 1, 2, 3, 5: a wrong cell shows at once.
PlanArray exampleValues(double scale) {
    PlanArray a{};
    for (int k = 1; k <= 36; ++k) {
        a[static_cast<std::size_t>(k)] = 100 * scale;
    }
    a[9] = 1 * scale;  // SW
    a[10] = 2 * scale; // SE
    a[15] = 3 * scale; // NW
    a[16] = 5 * scale; // NE
    return a;
}

// The three shift grids: which arrays an interpolation reads, and how it is called.
struct ShiftGrid {
    const char* name;
    PlanArray GridPortion::*dLat;
    PlanArray GridPortion::*dLon;
    std::function<ShiftResult(const GridPortion&, double, double)> call;
};
const ShiftGrid kShiftGrids[] = {
    {"interpolateRoma40Shift ToEd50", &GridPortion::roEdDLat, &GridPortion::roEdDLon,
     [](const GridPortion& g, double la, double lo) { return interpolateRoma40Shift(g, la, lo, Roma40Grid::ToEd50); }},
    {"interpolateRoma40Shift ToEtrf89", &GridPortion::roE89DLat, &GridPortion::roE89DLon,
     [](const GridPortion& g, double la, double lo) { return interpolateRoma40Shift(g, la, lo, Roma40Grid::ToEtrf89); }},
    {"interpolateRoma40Shift, a value outside the enumeration", &GridPortion::roE89DLat, &GridPortion::roE89DLon,
     [](const GridPortion& g, double la, double lo) { return interpolateRoma40Shift(g, la, lo, static_cast<Roma40Grid>(7)); }},
    {"interpolateEtrf2000Shift", &GridPortion::e89E2000DLat, &GridPortion::e89E2000DLon,
     [](const GridPortion& g, double la, double lo) { return interpolateEtrf2000Shift(g, la, lo); }},
};

// The worked example: the cell centre gives the corners' mean 2.75; the point (43.1, 11.3)
// gives a*dx + vSW + b*dy + dy*(dx*c) with dx 0.05, dy 0.0166666666667.
TEST(Interpolation, WorkedExampleOnEveryShiftGrid) {
    const double centreLat = kCellSouth + planStepLat / 2;
    const double centreLon = kCellWest + planStepLon / 2;
    const double dx = 11.3 - kCellWest;
    const double dy = 43.1 - kCellSouth;
    const double atPoint = 8 * dx + 1 + (2 / planStepLat) * dy + dy * (dx * (1 / (planStepLon * planStepLat)));
    for (const ShiftGrid& s : kShiftGrids) {
        SCOPED_TRACE(s.name);
        GridPortion g = test::blankPortion(PortionKind::Sheet, kLat0, kLon0);
        g.*s.dLat = exampleValues(1);   // seconds of arc
        g.*s.dLon = exampleValues(-10); // seconds of arc
        const ShiftResult centre = s.call(g, centreLat, centreLon);
        ASSERT_EQ(centre.status, InterpStatus::Ok);
        // Node values are seconds, read through sexagesimalToDegrees(v / 10000): v / 3600 to 1e-10.
        EXPECT_NEAR(centre.shiftLat, 2.75 / 3600, 1e-10);
        EXPECT_NEAR(centre.shiftLon, -27.5 / 3600, 1e-10);
        const ShiftResult point = s.call(g, 43.1, 11.3);
        EXPECT_NEAR(point.shiftLat, atPoint / 3600, 1e-10);
    }
    GridPortion g = test::blankPortion(PortionKind::Sheet, kLat0, kLon0);
    g.e89E2000DH = exampleValues(1); // metres, used as stored
    EXPECT_NEAR(interpolateHeightShift(g, centreLat, centreLon).shiftH, 2.75, 1e-12);
    EXPECT_NEAR(interpolateHeightShift(g, 43.1, 11.3).shiftH, atPoint, 1e-12);
}

// Node values in seconds are read as sexagesimalToDegrees(v / 10000), to the bit, on both sides of
// 100" (where the shortcut for small values stops) and at 0.
TEST(Interpolation, ShiftValuesReadAsSexagesimalSeconds) {
    std::vector<double> values = {0.0,    -0.0,     1.5,      -12.0,   99.9999, 99.99999999, 100.0,
                                  -100.0, 100.0001, 123.4567, -5999.9, 1e-12,   59.99999,    -0.65};
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> u(-200, 200);
    for (int i = 0; i < 10000; ++i) {
        values.push_back(u(rng));
    }
    for (double v : values) {
        const double fast = shiftSecondsToDegrees(v);
        const double literal = sexagesimalToDegrees(v / 10000);
        EXPECT_EQ(std::memcmp(&fast, &literal, sizeof fast), 0) << v;
    }
    EXPECT_NEAR(shiftSecondsToDegrees(1.5), 1.5 / 3600, 1e-10);
}

// ToEd50 reads the ROMA40->ED50 grid, every other value the ROMA40->ETRF89 grid.
TEST(Interpolation, Roma40GridSelectsTheShiftGrid) {
    GridPortion g = test::blankPortion(PortionKind::Vertex, kLat0, kLon0);
    g.roEdDLat.fill(3.6);
    g.roE89DLat.fill(7.2);
    const double lat = kLat0 + 0.1;
    const double lon = kLon0 + 0.1;
    EXPECT_NEAR(interpolateRoma40Shift(g, lat, lon, Roma40Grid::ToEd50).shiftLat, 0.001, 1e-10);
    for (std::int16_t gri : {0, 2, 7, -1}) {
        EXPECT_NEAR(interpolateRoma40Shift(g, lat, lon, static_cast<Roma40Grid>(gri)).shiftLat, 0.002, 1e-10) << gri;
    }
}

// Bilinear interpolation reproduces a bilinear function of position exactly: guards the
// corner naming (a swapped corner or step shows as an error of the size of the function).
TEST(Interpolation, ReproducesBilinearFunctions) {
    auto f = [](double y, double x) { return 3 + 2 * y - 5 * x + 7 * y * x; };
    std::mt19937 rng(7);
    for (PortionKind kind : {PortionKind::Vertex, PortionKind::Sheet}) {
        GridPortion g = test::blankPortion(kind, kLat0, kLon0);
        const int n = g.planNodesPerRow;
        for (int k = 1; k <= g.planNodeCount; ++k) {
            const int r = (k - 1) / n;
            const int c = (k - 1) % n;
            g.e89E2000DH[static_cast<std::size_t>(k)] = f(r * planStepLat, c * planStepLon);
        }
        const int m = g.geoidNodesPerRow;
        for (int k = 1; k <= g.geoidNodeCount; ++k) {
            const int r = (k - 1) / m;
            const int c = (k - 1) % m;
            g.geoidN[static_cast<std::size_t>(k)] = f(g.geoidTopLat - r * geoidStepLat - kLat0, c * geoidStepLon);
        }
        const int rows = g.planNodeCount / n;
        const int geoidRows = g.geoidNodeCount / m;
        std::uniform_real_distribution<double> u(0.0, 1.0);
        for (int i = 0; i < 200; ++i) {
            const double y = u(rng) * (rows - 1) * planStepLat * 0.999;
            const double x = u(rng) * (n - 1) * planStepLon * 0.999;
            const HeightShiftResult h = interpolateHeightShift(g, kLat0 + y, kLon0 + x);
            ASSERT_EQ(h.status, InterpStatus::Ok);
            EXPECT_NEAR(h.shiftH, f(y, x), 1e-9);
            const double gy = u(rng) * (geoidRows - 1) * geoidStepLat * 0.999 + 1e-9;
            const double gx = u(rng) * (m - 1) * geoidStepLon * 0.999;
            const GeoidResult n89 = interpolateGeoid(g, g.geoidTopLat - gy, kLon0 + gx);
            ASSERT_EQ(n89.status, InterpStatus::Ok);
            EXPECT_NEAR(n89.geoidUndulation, f(g.geoidTopLat - gy - kLat0, gx), 1e-9);
        }
    }
}

// A point on a node row or column takes that node as a corner and yields the node's value.
TEST(Interpolation, PointsOnNodesGiveTheNodeValues) {
    for (PortionKind kind : {PortionKind::Vertex, PortionKind::Sheet}) {
        const GridPortion g = test::generatedPortion(kind, 44.0, 10.0);
        const int n = g.planNodesPerRow;
        const int rows = g.planNodeCount / n;
        for (int r = 0; r + 1 < rows; ++r) {
            for (int c = 0; c + 1 < n; ++c) {
                const auto k = static_cast<std::size_t>(r * n + c + 1);
                const double lat = g.e2000OriginLat + r * planStepLat;
                const double lon = g.e2000OriginLon + c * planStepLon;
                EXPECT_NEAR(interpolateHeightShift(g, lat, lon).shiftH, g.e89E2000DH[k], 1e-12) << k;
                EXPECT_NEAR(interpolateEtrf2000Shift(g, lat, lon).shiftLon, sexagesimalToDegrees(g.e89E2000DLon[k] / 10000), 1e-15) << k;
                const double roLat = g.planOriginLat + r * planStepLat;
                const double roLon = g.planOriginLon + c * planStepLon;
                EXPECT_NEAR(interpolateRoma40Shift(g, roLat, roLon, Roma40Grid::ToEd50).shiftLat, sexagesimalToDegrees(g.roEdDLat[k] / 10000), 1e-13) << k;
            }
        }
        const int m = g.geoidNodesPerRow;
        const int geoidRows = g.geoidNodeCount / m;
        for (int r = 0; r + 1 < geoidRows; ++r) {
            for (int c = 0; c + 1 < m; ++c) {
                const auto k = static_cast<std::size_t>(r * m + c + 1);
                const GeoidResult res =
                    interpolateGeoid(g, g.geoidTopLat - r * geoidStepLat, g.geoidOriginLon + c * geoidStepLon);
                ASSERT_EQ(res.status, InterpStatus::Ok) << k;
                EXPECT_NEAR(res.geoidUndulation, g.geoidN[k], 1e-9) << k;
            }
        }
    }
}

// In the top cell row of the geoid grid, row 1 is the south side and row 0 the north side.
TEST(Interpolation, GeoidTopCellRowUsesRowsOneAndZero) {
    GridPortion g = test::blankPortion(PortionKind::Vertex, kLat0, kLon0);
    for (int c = 1; c <= 10; ++c) {
        g.geoidN[static_cast<std::size_t>(c)] = 50;      // row 0, at geoidTopLat
        g.geoidN[static_cast<std::size_t>(10 + c)] = 40; // row 1
        g.geoidN[static_cast<std::size_t>(20 + c)] = 30; // row 2
    }
    const double lon = kLon0 + 0.05;
    EXPECT_NEAR(interpolateGeoid(g, g.geoidTopLat - geoidStepLat / 4, lon).geoidUndulation, 47.5, 1e-9);
    EXPECT_NEAR(interpolateGeoid(g, g.geoidTopLat - geoidStepLat * 1.5, lon).geoidUndulation, 35, 1e-9);
}

// A cell that would reach beyond the portion's own nodes is reported, never read: the
// unused nodes 17-36 of a vertex portion, the next row's first node, the array's end.
TEST(Interpolation, CellsBeyondThePortionsNodesAreOutside) {
    const GridPortion vertex = test::blankPortion(PortionKind::Vertex, kLat0, kLon0);
    const GridPortion sheet = test::blankPortion(PortionKind::Sheet, kLat0, kLon0);
    const GridPortion none;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* what;
        const GridPortion& g;
        double dLat, dLon; // from the ROMA40 origin, in node steps
    } cases[] = {
        {"vertex, top cell row would use nodes 17-20", vertex, 3.5, 1.5},
        {"vertex, exactly on the eastern node column", vertex, 1.5, 3.0},
        {"vertex, last column would wrap to the next row", vertex, 1.5, 3.5},
        {"vertex, far north", vertex, 40, 1},
        {"vertex, south of the origin", vertex, -0.2, 1},
        {"vertex, south of the origin by more than a step", vertex, -1.5, 1},
        {"vertex, west of the origin", vertex, 1, -0.2},
        {"vertex, beyond the 16-bit node numbers", vertex, 1e7, 1},
        {"vertex, not a number", vertex, nan, 1},
        {"sheet, top cell row would use nodes 37-42", sheet, 5.5, 2},
        {"sheet, last column would wrap", sheet, 2, 5.5},
        {"no portion loaded", none, 1, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const double lat = c.g.planOriginLat + c.dLat * planStepLat;
        const double lon = c.g.planOriginLon + c.dLon * planStepLon;
        EXPECT_EQ(interpolateRoma40Shift(c.g, lat, lon, Roma40Grid::ToEd50).status, InterpStatus::OutsideNodes);
        EXPECT_EQ(interpolateRoma40Shift(c.g, lat, lon, Roma40Grid::ToEtrf89).status, InterpStatus::OutsideNodes);
        const double etLat = c.g.e2000OriginLat + c.dLat * planStepLat;
        const double etLon = c.g.e2000OriginLon + c.dLon * planStepLon;
        EXPECT_EQ(interpolateEtrf2000Shift(c.g, etLat, etLon).status, InterpStatus::OutsideNodes);
        EXPECT_EQ(interpolateHeightShift(c.g, etLat, etLon).status, InterpStatus::OutsideNodes);
    }
    const struct {
        const char* what;
        const GridPortion& g;
        double rowsSouth, colsEast; // from geoidTopLat and geoidOriginLon, in node steps
    } geoidCases[] = {
        {"vertex, below the southern node row", vertex, 7.5, 2},
        {"vertex, last column would wrap", vertex, 2.5, 9.5},
        {"vertex, west of the grid in a lower row", vertex, 2.5, -0.5},
        {"vertex, far north of the top row", vertex, -3.5, 2.5},
        {"sheet, below the southern node row", sheet, 9.5, 2},
        {"sheet, last column would wrap", sheet, 2.5, 13.5},
        {"no portion loaded", none, 1, 1},
    };
    for (const auto& c : geoidCases) {
        SCOPED_TRACE(c.what);
        const double lat = c.g.geoidTopLat - c.rowsSouth * geoidStepLat;
        const double lon = c.g.geoidOriginLon + c.colsEast * geoidStepLon;
        EXPECT_EQ(interpolateGeoid(c.g, lat, lon).status, InterpStatus::OutsideNodes);
    }
}

// North of the geoid's top row (within one step) the cell's node numbers run to 0: the
// corners are tested NE, SE, SW, NW and the first 0 is reported, with no result.
TEST(Interpolation, GeoidZeroCornersAreReportedInOrder) {
    const GridPortion g = test::generatedPortion(PortionKind::Vertex, kLat0, kLon0);
    const int n = g.geoidNodesPerRow;
    const struct {
        int column;
        Corner corner;
    } cases[] = {{n - 2, Corner::NE}, {-2, Corner::SE}, {-1, Corner::SW}, {n - 1, Corner::NW}};
    for (const auto& c : cases) {
        const GeoidResult r =
            interpolateGeoid(g, g.geoidTopLat + geoidStepLat / 2, g.geoidOriginLon + (c.column + 0.5) * geoidStepLon);
        EXPECT_EQ(r.status, InterpStatus::ZeroCorner) << c.column;
        EXPECT_EQ(r.zeroCorner, c.corner) << c.column;
        EXPECT_EQ(r.geoidUndulation, 0.0);
    }
}

// A portion read from its file has its cells' coefficients prepared; one built value by value
// is interpolated from its nodes. Both must give the same bits and the same statuses, at
// random points over the portion and a step and a half around it, and on its nodes; and the
// ETRF2000 shift and height taken together must equal the two single calls.
TEST(Interpolation, PreparedCellsGiveTheNodesBits) {
    const auto same = [](double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; };
    for (const PortionKind kind : {PortionKind::Vertex, PortionKind::Sheet}) {
        for (std::uint32_t seed = 1; seed <= 3; ++seed) {
            const GridPortion prepared = test::generatedPortion(kind, kLat0 + seed, kLon0 + seed, seed);
            ASSERT_TRUE(prepared.tables.ready);
            GridPortion fromNodes = prepared;
            fromNodes.tables.ready = false;
            std::mt19937_64 rng(seed);
            std::uniform_real_distribution<double> along(-1.5, 7.5);
            for (int i = 0; i < 20000; ++i) {
                // Every fourth point on a node or a cell side, the others anywhere.
                double rows = along(rng), cols = along(rng);
                if (i % 4 == 0) {
                    rows = std::floor(rows);
                    cols = std::floor(cols * 2) / 2;
                }
                SCOPED_TRACE(::testing::Message() << "kind " << static_cast<int>(kind) << " seed " << seed
                                                  << " rows " << rows << " cols " << cols);
                for (const Roma40Grid grid : {Roma40Grid::ToEd50, Roma40Grid::ToEtrf89}) {
                    const double lat = prepared.planOriginLat + rows * planStepLat;
                    const double lon = prepared.planOriginLon + cols * planStepLon;
                    const ShiftResult a = interpolateRoma40Shift(prepared, lat, lon, grid);
                    const ShiftResult b = interpolateRoma40Shift(fromNodes, lat, lon, grid);
                    ASSERT_EQ(a.status, b.status);
                    ASSERT_EQ(a.zeroCorner, b.zeroCorner);
                    ASSERT_TRUE(same(a.shiftLat, b.shiftLat) && same(a.shiftLon, b.shiftLon));
                }
                const double lat = prepared.e2000OriginLat + rows * planStepLat;
                const double lon = prepared.e2000OriginLon + cols * planStepLon;
                const ShiftResult a = interpolateEtrf2000Shift(prepared, lat, lon);
                const ShiftResult b = interpolateEtrf2000Shift(fromNodes, lat, lon);
                ASSERT_EQ(a.status, b.status);
                ASSERT_TRUE(same(a.shiftLat, b.shiftLat) && same(a.shiftLon, b.shiftLon));
                const HeightShiftResult h = interpolateHeightShift(prepared, lat, lon);
                const HeightShiftResult hn = interpolateHeightShift(fromNodes, lat, lon);
                ASSERT_EQ(h.status, hn.status);
                ASSERT_TRUE(same(h.shiftH, hn.shiftH));
                // The shift and the height from one cell: the same as the two calls.
                const Etrf2000ShiftAndHeight both = interpolateEtrf2000ShiftAndHeight(prepared, lat, lon);
                ASSERT_EQ(both.shift.status, a.status);
                ASSERT_EQ(both.shift.zeroCorner, a.zeroCorner);
                ASSERT_TRUE(same(both.shift.shiftLat, a.shiftLat) && same(both.shift.shiftLon, a.shiftLon));
                ASSERT_EQ(both.height.status, h.status);
                ASSERT_EQ(both.height.zeroCorner, h.zeroCorner);
                ASSERT_TRUE(same(both.height.shiftH, h.shiftH));
                const double gLat = prepared.geoidTopLat - (rows * 1.5 - 1) * geoidStepLat;
                const double gLon = prepared.geoidOriginLon + (cols * 2 - 1) * geoidStepLon;
                const GeoidResult n = interpolateGeoid(prepared, gLat, gLon);
                const GeoidResult nn = interpolateGeoid(fromNodes, gLat, gLon);
                ASSERT_EQ(n.status, nn.status);
                ASSERT_EQ(n.zeroCorner, nn.zeroCorner);
                ASSERT_TRUE(same(n.geoidUndulation, nn.geoidUndulation));
            }
        }
    }
}

} // namespace
} // namespace dormal
