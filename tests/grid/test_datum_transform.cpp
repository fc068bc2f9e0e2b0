#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "geodesy/angles.h"
#include "geodesy/systems.h"
#include "grid/datum_transform.h"
#include "grid/zone_limits.h"
#include "grid_fixtures.h"
#include "tests/support/print_enums.h"

namespace dormal {
namespace {

constexpr RefSystem kSystems[] = {RefSystem::Roma40, RefSystem::Ed50, RefSystem::Etrf89, RefSystem::Etrf2000};
std::string pairName(RefSystem a, RefSystem b) {
    std::ostringstream os;
    os << a << "->" << b;
    return os.str();
}

constexpr double kLat0 = 43.0;
constexpr double kLon0 = 11.0;
constexpr double kLat = 43.1; // inside every grid of a blank portion at (43, 11)
constexpr double kLon = 11.2;

// --- Grids that make the chain easy to follow -------------------------------------------

// All grids zero: every pair gives the input position back, and heights keep their value.
TEST(DatumTransform, ZeroGridsGiveTheInputBack) {
    const GridPortion g = test::blankPortion(PortionKind::Vertex, kLat0, kLon0);
    for (RefSystem a : kSystems) {
        for (RefSystem b : kSystems) {
            SCOPED_TRACE(pairName(a, b));
            const DatumResult r = transformDatum(g, kLat, kLon, 123.456, a, b);
            EXPECT_FALSE(r.outsideNodes);
            EXPECT_EQ(r.outLat, kLat);
            EXPECT_EQ(r.outLon, kLon);
            if (r.hasHeight) {
                EXPECT_EQ(r.outHeight, 123.456);
            }
        }
    }
}

// Constant shifts: the inverse step subtracts exactly what the forward step adds.
TEST(DatumTransform, ConstantShiftsInvertExactly) {
    GridPortion g = test::blankPortion(PortionKind::Sheet, kLat0, kLon0);
    g.roE89DLat.fill(1.5);
    g.roE89DLon.fill(-12);
    const double dLat = sexagesimalToDegrees(1.5 / 10000);
    const double dLon = sexagesimalToDegrees(-12.0 / 10000);
    EXPECT_NEAR(dLat, 1.5 / 3600, 1e-10);

    const DatumResult fwd = transformDatum(g, kLat, kLon, 250.0, RefSystem::Roma40, RefSystem::Etrf89);
    EXPECT_EQ(fwd.outLat, kLat + dLat);
    EXPECT_EQ(fwd.outLon, kLon + dLon);
    ASSERT_TRUE(fwd.hasHeight);
    EXPECT_EQ(fwd.outHeight, 250.0);

    const DatumResult back = transformDatum(g, kLat, kLon, 250.0, RefSystem::Etrf89, RefSystem::Roma40);
    EXPECT_EQ(back.outLat, kLat - dLat);
    EXPECT_EQ(back.outLon, kLon - dLon);
}

// ETRF2000 -> ED50 with an undulation of 48.0 m and a height shift of 0.02 m: 100 m becomes
// 100 - 0.02 - 48 = 51.98 m.
TEST(DatumTransform, Etrf2000ToEd50Height) {
    GridPortion g = test::blankPortion(PortionKind::Vertex, kLat0, kLon0);
    g.geoidN.fill(48.0);
    g.e89E2000DH.fill(0.02);
    const DatumResult r = transformDatum(g, kLat, kLon, 100.00, RefSystem::Etrf2000, RefSystem::Ed50);
    ASSERT_TRUE(r.hasHeight);
    EXPECT_NEAR(r.outHeight, 51.98, 1e-9);
    const DatumResult up = transformDatum(g, kLat, kLon, 51.98, RefSystem::Ed50, RefSystem::Etrf2000);
    EXPECT_NEAR(up.outHeight, 100.00, 1e-9);
}

// --- The steps of each chain ------------------------------------------------------------

// Every step runs, in its order, whether or not the output uses its result; heights are
// produced exactly when the chain crosses between {ROMA40, ED50} and {ETRF89, ETRF2000}.
TEST(DatumTransform, EveryChainMakesItsStepsInOrder) {
    using C = InterpCall;
    struct Step {
        C call;
        Roma40Grid roma40Grid;
    };
    const Step RO1{C::Roma40Shift, Roma40Grid::ToEd50}, RO2{C::Roma40Shift, Roma40Grid::ToEtrf89}, ET{C::Etrf2000Shift, Roma40Grid::None}, HELL{C::HeightShift, Roma40Grid::None}, GEO{C::Geoid, Roma40Grid::None};
    const struct {
        RefSystem in, out;
        bool height;
        std::vector<Step> steps;
    } chains[] = {
        {RefSystem::Roma40, RefSystem::Ed50, false, {RO2, GEO, RO1}},
        {RefSystem::Roma40, RefSystem::Etrf89, true, {RO2, GEO}},
        {RefSystem::Roma40, RefSystem::Etrf2000, true, {RO2, GEO, ET, HELL}},
        {RefSystem::Ed50, RefSystem::Roma40, false, {RO1, RO1, RO2, GEO}},
        {RefSystem::Ed50, RefSystem::Etrf89, true, {RO1, RO1, RO2, GEO}},
        {RefSystem::Ed50, RefSystem::Etrf2000, true, {RO1, RO1, RO2, GEO, ET, HELL}},
        {RefSystem::Etrf89, RefSystem::Roma40, true, {RO2, RO2, GEO}},
        {RefSystem::Etrf89, RefSystem::Ed50, true, {RO2, RO2, GEO, RO1}},
        {RefSystem::Etrf89, RefSystem::Etrf2000, true, {RO2, RO2, GEO, ET, HELL}},
        {RefSystem::Etrf2000, RefSystem::Roma40, true, {ET, ET, HELL, RO2, RO2, GEO}},
        {RefSystem::Etrf2000, RefSystem::Ed50, true, {ET, ET, HELL, RO2, RO2, GEO, RO1}},
        {RefSystem::Etrf2000, RefSystem::Etrf89, true, {ET, ET, HELL, RO2, RO2, GEO}},
    };
    const GridPortion g = test::generatedPortion(PortionKind::Sheet, 42.25, 13.25);
    for (const auto& c : chains) {
        SCOPED_TRACE(pairName(c.in, c.out));
        std::vector<InterpCallRecord> trace;
        const DatumResult r = transformDatum(g, 42.45, 13.55, 500, c.in, c.out, {}, &trace);
        EXPECT_FALSE(r.outsideNodes);
        EXPECT_EQ(r.hasHeight, c.height);
        ASSERT_EQ(trace.size(), c.steps.size());
        for (std::size_t i = 0; i < trace.size(); ++i) {
            EXPECT_EQ(trace[i].call, c.steps[i].call) << i;
            EXPECT_EQ(trace[i].roma40Grid, c.steps[i].roma40Grid) << i;
        }
        // The traced and the plain chain agree to the bit.
        const DatumResult plain = transformDatum(g, 42.45, 13.55, 500, c.in, c.out);
        EXPECT_EQ(plain.outLat, r.outLat);
        EXPECT_EQ(plain.outLon, r.outLon);
        EXPECT_EQ(plain.outHeight, r.outHeight);
    }
}

// ED50 -> ETRF2000: each grid is sampled in the system its nodes are laid out in.
TEST(DatumTransform, Ed50ToEtrf2000SamplesEachGridInItsOwnSystem) {
    const GridPortion g = test::generatedPortion(PortionKind::Sheet, 42.25, 13.25);
    const double lat = 42.45, lon = 13.55;
    std::vector<InterpCallRecord> t;
    const DatumResult r = transformDatum(g, lat, lon, 500, RefSystem::Ed50, RefSystem::Etrf2000, {}, &t);
    ASSERT_EQ(t.size(), 6u);
    const ShiftResult first = interpolateRoma40Shift(g, lat, lon, Roma40Grid::ToEd50);
    EXPECT_EQ(t[0], (InterpCallRecord{InterpCall::Roma40Shift, Roma40Grid::ToEd50, lat, lon}));
    EXPECT_EQ(t[1], (InterpCallRecord{InterpCall::Roma40Shift, Roma40Grid::ToEd50, lat - first.shiftLat, lon - first.shiftLon}));
    const ShiftResult second = interpolateRoma40Shift(g, t[1].lat, t[1].lon, Roma40Grid::ToEd50);
    const double lat40 = lat - second.shiftLat, lon40 = lon - second.shiftLon;
    EXPECT_EQ(t[2], (InterpCallRecord{InterpCall::Roma40Shift, Roma40Grid::ToEtrf89, lat40, lon40}));
    const ShiftResult to89 = interpolateRoma40Shift(g, lat40, lon40, Roma40Grid::ToEtrf89);
    const double lat89 = lat40 + to89.shiftLat, lon89 = lon40 + to89.shiftLon;
    EXPECT_EQ(t[3], (InterpCallRecord{InterpCall::Geoid, Roma40Grid::None, lat89, lon89}));
    EXPECT_EQ(t[4], (InterpCallRecord{InterpCall::Etrf2000Shift, Roma40Grid::None, lat89, lon89}));
    EXPECT_EQ(t[5], (InterpCallRecord{InterpCall::HeightShift, Roma40Grid::None, lat89, lon89}));
    const ShiftResult to2000 = interpolateEtrf2000Shift(g, lat89, lon89);
    EXPECT_EQ(r.outLat, lat89 + to2000.shiftLat);
    EXPECT_EQ(r.outLon, lon89 + to2000.shiftLon);
    EXPECT_EQ(r.outHeight, interpolateHeightShift(g, lat89, lon89).shiftH + (500 + interpolateGeoid(g, lat89, lon89).geoidUndulation));
}

// --- Round trips through generated portions ---------------------------------------------

// A -> B -> A returns to the start for every pair of different systems, anywhere in the
// area the portion lets the user convert.
TEST(DatumTransform, RoundTripsReturnToTheStart) {
    const struct {
        PortionKind kind;
        double lat0, lon0;
    } portions[] = {{PortionKind::Vertex, 45.25, 9.0},
                    {PortionKind::Sheet, 42.25, 13.25},
                    {PortionKind::Vertex, 40.0, 18.25},
                    {PortionKind::Sheet, 37.5, 14.0}};
    std::mt19937 rng(2024);
    for (const auto& p : portions) {
        const GridPortion g = test::generatedPortion(p.kind, p.lat0, p.lon0, 5);
        const ZoneLimits z = computeZoneLimits(g, RefSystem::Etrf89);
        std::uniform_real_distribution<double> lat(z.south, z.north), lon(z.west, z.east), h(-50, 3000);
        for (RefSystem a : kSystems) {
            for (RefSystem b : kSystems) {
                if (a == b) {
                    continue;
                }
                SCOPED_TRACE(pairName(a, b));
                for (int i = 0; i < 50; ++i) {
                    const double la = lat(rng), lo = lon(rng), hh = h(rng);
                    const DatumResult there = transformDatum(g, la, lo, hh, a, b);
                    ASSERT_FALSE(there.outsideNodes);
                    ASSERT_TRUE(there.zeroCorners.empty());
                    const DatumResult back = transformDatum(g, there.outLat, there.outLon, there.outHeight, b, a);
                    ASSERT_FALSE(back.outsideNodes);
                    EXPECT_NEAR(back.outLat, la, 1e-8);
                    EXPECT_NEAR(back.outLon, lo, 1e-8);
                    // The datum really changed (ROMA40 shifts are seconds of arc).
                    if (a < RefSystem::Etrf89 || b < RefSystem::Etrf89) {
                        EXPECT_GT(std::fabs(there.outLat - la) + std::fabs(there.outLon - lo), 1e-5);
                    }
                    EXPECT_EQ(there.hasHeight, back.hasHeight);
                    if (there.hasHeight) {
                        EXPECT_NEAR(back.outHeight, hh, 1e-6);
                    }
                }
            }
        }
    }
}

// --- Points the grids do not cover ------------------------------------------------------

// An interpolation outside the nodes ends the chain at once: no further grid is read.
TEST(DatumTransform, OutsideTheNodesEndsTheChain) {
    const GridPortion g = test::generatedPortion(PortionKind::Vertex, kLat0, kLon0);
    std::vector<InterpCallRecord> t;
    const DatumResult r = transformDatum(g, kLat0 + 1, kLon0, 100, RefSystem::Etrf2000, RefSystem::Ed50, {}, &t);
    EXPECT_TRUE(r.outsideNodes);
    EXPECT_FALSE(r.hasHeight);
    EXPECT_EQ(t.size(), 1u);

    GridPortion none;
    EXPECT_TRUE(transformDatum(none, kLat, kLon, 0, RefSystem::Roma40, RefSystem::Etrf89).outsideNodes);
}

// Fault guarded: a geoid corner numbered 0 (a point north of the geoid's top row) let the
// chain go on with the previous undulation, 0 for a first point, and a wrong height was
// written without a word. The corner is still recorded (its messages) and the point is
// outside, for every pair (each samples the geoid).
TEST(DatumTransform, GeoidZeroCornerEndsTheChainAsOutside) {
    GridPortion g = test::blankPortion(PortionKind::Vertex, kLat0, kLon0);
    g.geoidN.fill(40);
    g.geoidOriginLat = kLat0 - 0.1; // the geoid's top row now lies south of the point
    g.geoidTopLat = g.geoidOriginLat + sexagesimalToDegrees(0.14);
    const double lat = g.geoidTopLat + geoidStepLat / 2;
    const double lon = g.geoidOriginLon + 8.5 * geoidStepLon; // NE corner's node number is 0
    InterpolationCells previous;
    previous.geoidUndulation = 7;
    for (RefSystem a : kSystems) {
        for (RefSystem b : kSystems) {
            if (a == b) {
                continue;
            }
            SCOPED_TRACE(pairName(a, b));
            const DatumResult r = transformDatum(g, lat, lon, 100, a, b, previous);
            EXPECT_TRUE(r.outsideNodes);
            ASSERT_EQ(r.zeroCorners.size(), 1u);
            EXPECT_EQ(r.zeroCorners[0].corner, Corner::NE);
            EXPECT_TRUE(r.zeroCorners[0].geoid);
            EXPECT_FALSE(r.hasHeight);
            EXPECT_EQ(r.cells.geoidUndulation, 7);
        }
    }
}

TEST(DatumTransform, EqualOrUnknownSystems) {
    const GridPortion g = test::generatedPortion(PortionKind::Vertex, kLat0, kLon0);
    for (RefSystem s : kSystems) {
        std::vector<InterpCallRecord> t;
        const DatumResult r = transformDatum(g, kLat, kLon, 10, s, s, {}, &t);
        EXPECT_EQ(r.outLat, kLat);
        EXPECT_EQ(r.outLon, kLon);
        EXPECT_FALSE(r.hasHeight);
        EXPECT_TRUE(t.empty());
    }
    InterpolationCells previous;
    previous.shiftLat = 1;
    // Values outside the enumeration (only a cast makes one) compute nothing.
    for (auto [a, b] : {std::pair{static_cast<RefSystem>(4), RefSystem::Etrf89},
                        std::pair{RefSystem::Etrf89, static_cast<RefSystem>(-1)}}) {
        std::vector<InterpCallRecord> t;
        const DatumResult r = transformDatum(g, kLat, kLon, 10, a, b, previous, &t);
        EXPECT_TRUE(t.empty());
        EXPECT_FALSE(r.hasHeight);
        EXPECT_EQ(r.cells.shiftLat, 1);
    }
}

} // namespace
} // namespace dormal
