// Conversion of one point: checks, zones, grid coverage, warnings and messages.

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "conversion/point_conversion.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/transverse_mercator.h"
#include "run_test_support.h"
#include "tests/support/print_enums.h"

// Counts heap allocations while a test asks for it: converting a point must not allocate.
namespace {
std::atomic<bool> gCountAllocations{false};
std::atomic<long> gAllocations{0};
} // namespace

// The replacement pair goes through malloc and free; gcc cannot see that they match.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t n) {
    if (gCountAllocations.load(std::memory_order_relaxed)) {
        gAllocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* p = std::malloc(n == 0 ? 1 : n)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop

namespace dormal {
namespace {

using testing::ConstantGrids;
using testing::greenwichOf;
using testing::LoadedGrid;
using testing::portionAround;
using testing::selection;

constexpr auto G = CoordKind::Geographic;
constexpr auto P = CoordKind::Plane;
// Zones by their old numbers in the tables below: 0 automatic, 1 Ovest or 32, 2 Est or 33,
// 3 UTM 34, 4 Fuso Italia.
constexpr Zone z0 = Zone::Auto, z1 = Zone::OvestOr32, z2 = Zone::EstOr33, z3 = Zone::Utm34, z4 = Zone::Italia;

ConversionContext noGrid(const SelectionState& sel, bool heights = false) {
    ConversionContext c;
    c.sel = sel;
    c.heights = heights;
    return c;
}

ConversionContext withGrid(const SelectionState& sel, const LoadedGrid& g, bool heights = false) {
    ConversionContext c = noGrid(sel, heights);
    c.portion = &g.portion;
    c.limits = &g.limits;
    return c;
}

std::vector<std::string> firstLines(const std::vector<Message>& ms) {
    std::vector<std::string> out;
    for (const Message& m : ms) {
        out.push_back(m.lines.empty() ? std::string() : m.lines.front());
    }
    return out;
}

// ---------------------------------------------------------------------------------------
// The two checks before any run, in their order.
struct CommonCase {
    const char* what;
    SelectionState sel;
    bool gridSelected;
    std::vector<std::string> lines; // empty: the run goes on
};

TEST(CommonChecks, RefusalsInOrder) {
    const std::vector<std::string> noGridLines{"NON E' STATO SELEZIONATO  ",
                                               "NESSUN FILE CONTENENTE PORZIONI DI GRIGLIA"};
    const std::vector<std::string> notNeeded{"TRASFORMAZIONE NON NECESSARIA"};
    const CommonCase cases[] = {
        {"different systems without grid",
         selection(RefSystem::Roma40, P, Zone::Auto, RefSystem::Etrf2000, P, Zone::Auto), false, noGridLines},
        {"different systems with grid",
         selection(RefSystem::Roma40, P, Zone::Auto, RefSystem::Etrf2000, P, Zone::Auto),
         true,
         {}},
        {"geoid pair needs a grid too", selection(RefSystem::Roma40, G, Zone::Auto, RefSystem::Ed50, G, Zone::Auto),
         false, noGridLines},
        {"ETRF89 geographic to itself",
         selection(RefSystem::Etrf89, G, Zone::OvestOr32, RefSystem::Etrf89, G, Zone::Auto), false, notNeeded},
        {"same system, both geographic, grid selected",
         selection(RefSystem::Etrf89, G, Zone::OvestOr32, RefSystem::Etrf89, G, Zone::Auto), true, notNeeded},
        {"ETRF2000 UTM 32 to UTM 32",
         selection(RefSystem::Etrf2000, P, Zone::OvestOr32, RefSystem::Etrf2000, P, Zone::OvestOr32), false, notNeeded},
        {"ETRF2000 UTM 32 to UTM 33",
         selection(RefSystem::Etrf2000, P, Zone::OvestOr32, RefSystem::Etrf2000, P, Zone::EstOr33),
         false,
         {}},
        {"ROMA40 automatic to automatic (same code)",
         selection(RefSystem::Roma40, P, Zone::Auto, RefSystem::Roma40, P, Zone::Auto), false, notNeeded},
        {"ROMA40 automatic to Est (codes differ)",
         selection(RefSystem::Roma40, P, Zone::Auto, RefSystem::Roma40, P, Zone::EstOr33),
         false,
         {}},
        {"geographic to plane, same system",
         selection(RefSystem::Ed50, G, Zone::OvestOr32, RefSystem::Ed50, P, Zone::Auto),
         false,
         {}},
        {"plane to geographic, same system",
         selection(RefSystem::Ed50, P, Zone::OvestOr32, RefSystem::Ed50, G, Zone::Auto),
         false,
         {}},
    };
    for (const CommonCase& c : cases) {
        const std::optional<Message> m = commonChecks(c.sel, c.gridSelected);
        if (c.lines.empty()) {
            EXPECT_FALSE(m.has_value()) << c.what;
        } else {
            ASSERT_TRUE(m.has_value()) << c.what;
            EXPECT_EQ(m->lines, c.lines) << c.what;
            EXPECT_EQ(m->icon, MessageIcon::Warning) << c.what;
            EXPECT_EQ(m->title, kAppTitle) << c.what;
        }
    }
    const Message missing = missingCoordinatesMessage();
    EXPECT_EQ(missing.lines, (std::vector<std::string>{"INSERIRE LE COORDINATE  ", "DEL PUNTO DA CALCOLARE"}));
    EXPECT_EQ(missing.icon, MessageIcon::Warning);
}

// ---------------------------------------------------------------------------------------
// Range checks of one typed point: limits inclusive, order North, East, height, then
// latitude, longitude, height on the converted position. A batch makes none of them.
struct RangeCase {
    const char* what;
    SelectionState sel;
    PointInput in;
    PointStatus expected;
};

TEST(SinglePointRanges, LimitsAndOrder) {
    const SelectionState plane = selection(RefSystem::Etrf2000, P, Zone::OvestOr32, RefSystem::Etrf2000, G, Zone::Auto);
    const SelectionState geo = selection(RefSystem::Etrf89, G, Zone::OvestOr32, RefSystem::Etrf89, P, Zone::Auto);
    using S = PointStatus;
    const RangeCase cases[] = {
        {"North just below 3000000", plane, {2999999.999, 500000, 0}, S::NorthOutOfRange},
        {"North 3000000 passes its check (latitude then refuses)", plane, {3000000, 500000, 0}, S::LatOutOfRange},
        {"North 6000000 passes its check (latitude then refuses)", plane, {6000000, 500000, 0}, S::LatOutOfRange},
        {"North just above 6000000", plane, {6000000.001, 500000, 0}, S::NorthOutOfRange},
        {"East just below 100000", plane, {4800000, 99999.999, 0}, S::EastOutOfRange},
        {"East 100000 passes (longitude 4.1 then refuses)", plane, {4800000, 100000, 0}, S::LonOutOfRange},
        {"East just above 8000000", plane, {4800000, 8000000.001, 0}, S::EastOutOfRange},
        {"height -1000 accepted", plane, {4800000, 500000, -1000}, S::Converted},
        {"height 20000 accepted", plane, {4800000, 500000, 20000}, S::Converted},
        {"height below -1000", plane, {4800000, 500000, -1000.001}, S::HeightOutOfRange},
        {"height above 20000", plane, {4800000, 500000, 20000.001}, S::HeightOutOfRange},
        {"North is checked before East and height", plane, {100, 100, 1e9}, S::NorthOutOfRange},
        {"East is checked before height", plane, {4800000, 100, 1e9}, S::EastOutOfRange},
        {"latitude 34 accepted", geo, {34.00, 10.00, 0}, S::Converted},
        {"latitude just south of 34", geo, {33.5959999, 10.00, 0}, S::LatOutOfRange},
        {"latitude 49 typed accepted (sexagesimalToDegrees's 1e-11 once refused it)", geo, {49.00, 10.00, 0}, S::Converted},
        {"latitude just north of 49", geo, {49.0000001, 10.00, 0}, S::LatOutOfRange},
        {"latitude 48 59 59.999 accepted", geo, {48.5959999, 10.00, 0}, S::Converted},
        {"longitude 5 accepted", geo, {43.00, 5.00, 0}, S::Converted},
        {"longitude just west of 5", geo, {43.00, 4.5959999, 0}, S::LonOutOfRange},
        {"longitude 19 59 59.999 accepted", geo, {43.00, 19.5959999, 0}, S::Converted},
        {"longitude 20 typed accepted (sexagesimalToDegrees's 1e-11 once refused it)", geo, {43.00, 20.00, 0}, S::Converted},
        {"longitude just east of 20", geo, {43.00, 20.0000001, 0}, S::LonOutOfRange},
        {"latitude is checked before longitude and height", geo, {60, 30, 1e9}, S::LatOutOfRange},
        {"longitude is checked before height", geo, {43, 30, 1e9}, S::LonOutOfRange},
        {"height on geographic input", geo, {43, 10, -1000.5}, S::HeightOutOfRange},
    };
    for (const RangeCase& c : cases) {
        const PointResult r = convertPoint(noGrid(c.sel), c.in, RunKind::SinglePoint);
        EXPECT_EQ(r.status, c.expected) << c.what;
        // A batch never refuses a point for its range.
        const PointStatus b = convertPoint(noGrid(c.sel), c.in, RunKind::Batch).status;
        EXPECT_TRUE(b == S::Converted || b == S::Failed) << c.what << " (batch)";
    }
}

TEST(SinglePointRanges, MessagesAndFields) {
    struct Expect {
        PointStatus status;
        const char* first;
        FieldRef field;
    };
    const Expect cases[] = {
        {PointStatus::NorthOutOfRange, "VALORE DELLA COORD. NORD", FieldRef::First},
        {PointStatus::EastOutOfRange, "VALORE DELLA COORD. EST", FieldRef::Second},
        {PointStatus::LatOutOfRange, "VALORE DI LATITUDINE", FieldRef::First},
        {PointStatus::LonOutOfRange, "VALORE DI LONGITUDINE", FieldRef::Second},
        {PointStatus::HeightOutOfRange, "VALORE DI QUOTA", FieldRef::Height},
    };
    const ConversionContext ctx =
        noGrid(selection(RefSystem::Etrf89, G, Zone::OvestOr32, RefSystem::Etrf89, P, Zone::Auto));
    for (const Expect& e : cases) {
        PointResult r;
        r.status = e.status;
        const std::vector<Message> ms = singlePointMessages(ctx, r);
        ASSERT_EQ(ms.size(), 1u);
        EXPECT_EQ(ms[0].lines, (std::vector<std::string>{e.first, "NON CONSENTITO"}));
        EXPECT_EQ(ms[0].icon, MessageIcon::Warning);
        EXPECT_EQ(ms[0].title, kAppTitle);
        EXPECT_EQ(focusField(e.status), e.field);
    }
    EXPECT_EQ(focusField(PointStatus::Converted), FieldRef::None);
}

// ---------------------------------------------------------------------------------------
// Input zones of ROMA40 plane input with the automatic zone: Est from East 2000000 on.
TEST(InputZone, Roma40AutomaticByEast) {
    const ConversionContext ctx = noGrid(selection(RefSystem::Roma40, P, Zone::Auto, RefSystem::Roma40, G, Zone::Auto));
    const PointResult ovest = convertPoint(ctx, {4800000, 1999999.999, 0}, RunKind::SinglePoint);
    const PointResult est = convertPoint(ctx, {4800000, 2000000, 0}, RunKind::SinglePoint);
    ASSERT_EQ(ovest.status, PointStatus::Converted);
    ASSERT_EQ(est.status, PointStatus::Converted);
    EXPECT_EQ(ovest.inZoneUsed, z1);
    EXPECT_EQ(est.inZoneUsed, z2);
    // East 2000000 in Est lies 520 km west of 15 E, in the Ovest zone: the plane-input warning.
    EXPECT_TRUE(est.otherZoneInput);
    EXPECT_EQ(firstLines(singlePointMessages(ctx, est)),
              (std::vector<std::string>{"IL PUNTO IN CALCOLO APPARTIENE AD UN FUSO DIVERSO"}));
    // Output longitudes of ROMA40 stay counted from Monte Mario: Ovest's central meridian
    // is -3 27' 08.4" from it, so East 1500000 gives that longitude back.
    const PointResult cm = convertPoint(ctx, {4800000, 1500000, 0}, RunKind::SinglePoint);
    EXPECT_NEAR(sexagesimalToDegrees(cm.outSecond), sexagesimalToDegrees(-3.27084), 1e-9);
}

TEST(InputZone, OtherZoneWarningOnlyForPlaneInputOutsideItsZone) {
    // A UTM 33 point west of 12 E: converted, with the warning, then the coordinates.
    const ConversionContext ctx =
        noGrid(selection(RefSystem::Etrf2000, P, Zone::EstOr33, RefSystem::Etrf2000, G, Zone::Auto));
    // About 11.9 E at 44 N in zone 33.
    const PointResult r = convertPoint(ctx, {4877000, 257500, 0}, RunKind::SinglePoint);
    ASSERT_EQ(r.status, PointStatus::Converted);
    EXPECT_LT(sexagesimalToDegrees(r.outSecond), 12.0);
    EXPECT_EQ(r.naturalZone, z1);
    const std::vector<Message> ms = singlePointMessages(ctx, r);
    ASSERT_EQ(ms.size(), 1u);
    EXPECT_EQ(ms[0].lines, (std::vector<std::string>{"IL PUNTO IN CALCOLO APPARTIENE AD UN FUSO DIVERSO",
                                                     "RISPETTO ALLE COORDINATE PIANE INTRODOTTE"}));
    EXPECT_EQ(ms[0].title, kTitleAttenzione);

    // "Fuso Italia" input belongs to no UTM zone: never the warning.
    const ConversionContext italia =
        noGrid(selection(RefSystem::Etrf2000, P, Zone::Italia, RefSystem::Etrf2000, G, Zone::Auto));
    const PointResult ri = convertPoint(italia, {4877000, 6757500, 0}, RunKind::SinglePoint);
    ASSERT_EQ(ri.status, PointStatus::Converted);
    EXPECT_FALSE(ri.otherZoneInput);
}

// ---------------------------------------------------------------------------------------
// Output zone and zone-mismatch warning. Points at 43 N given as geographic input; the
// longitude is typed (sexagesimal, ROMA40 from Monte Mario). Between different systems a
// zero grid around the point lets the datum chain give the same position back.
struct ZoneCase {
    const char* what;
    RefSystem inSys, outSys;
    double typedLon;
    Zone outputZone;
    RunKind kind;
    Zone naturalZone;
    const char* zoneText;
    bool mismatch;
};

TEST(OutputZone, MismatchRulesAndThresholds) {
    const auto S = RunKind::SinglePoint;
    const auto B = RunKind::Batch;
    const ZoneCase cases[] = {
        // UTM rules (single point, input not ROMA40).
        {"c2 z1 east of 12", RefSystem::Etrf2000, RefSystem::Etrf2000, 13.00, z1, S, z2, "32", true},
        {"typed 12 lies 2.8e-11 deg east: zone 2, under the 12.000000000028 threshold", RefSystem::Etrf2000,
         RefSystem::Etrf2000, 12.00, z1, S, z2, "32", false},
        {"typed 12 00 00.001 passes the threshold", RefSystem::Etrf2000, RefSystem::Etrf2000, 12.0000001, z1, S, z2,
         "32", true},
        {"c2 z3", RefSystem::Etrf2000, RefSystem::Etrf2000, 13.00, z3, S, z2, "34", true},
        {"c1 z2", RefSystem::Etrf2000, RefSystem::Etrf2000, 10.00, z2, S, z1, "33", true},
        {"c1 z3", RefSystem::Etrf2000, RefSystem::Etrf2000, 10.00, z3, S, z1, "34", true},
        {"own zone never warns", RefSystem::Etrf2000, RefSystem::Etrf2000, 10.00, z1, S, z1, "32", false},
        {"c3 z1", RefSystem::Etrf2000, RefSystem::Etrf2000, 19.00, z1, S, z3, "32", true},
        {"c3 z2 east of 18", RefSystem::Etrf2000, RefSystem::Etrf2000, 19.00, z2, S, z3, "33", true},
        {"typed 18 is zone 3 but under the 18.000000000028 threshold", RefSystem::Etrf2000, RefSystem::Etrf2000, 18.00,
         z2, S, z3, "33", false},
        {"typed 18 00 00.001 passes the threshold", RefSystem::Etrf2000, RefSystem::Etrf2000, 18.0000001, z2, S, z3,
         "33", true},
        {"Fuso Italia never warns", RefSystem::Etrf2000, RefSystem::Etrf2000, 19.00, z4, S, z3, "Italia", false},
        {"automatic never warns", RefSystem::Etrf2000, RefSystem::Etrf2000, 19.00, z0, S, z3, "34", false},
        {"automatic just west of 12", RefSystem::Etrf89, RefSystem::Etrf89, 11.5959999, z0, S, z1, "32", false},
        {"automatic just east of 12", RefSystem::Etrf89, RefSystem::Etrf89, 12.0000001, z0, S, z2, "33", false},
        {"ED50 automatic east of 18", RefSystem::Ed50, RefSystem::Ed50, 18.30, z0, S, z3, "34", false},
        // Gauss-Boaga rules (single point, ROMA40 input; longitudes from Monte Mario).
        {"GB c1 z2", RefSystem::Roma40, RefSystem::Roma40, -2.30, z2, S, z1, "Est", true},
        {"GB c2 z1", RefSystem::Roma40, RefSystem::Roma40, 1.00, z1, S, z2, "Ovest", true},
        {"GB own zone", RefSystem::Roma40, RefSystem::Roma40, 1.00, z2, S, z2, "Est", false},
        {"GB automatic west of 12 E", RefSystem::Roma40, RefSystem::Roma40, -2.30, z0, S, z1, "Ovest", false},
        {"ROMA40 input east of 18 E is never zone 3", RefSystem::Roma40, RefSystem::Roma40, 6.30, z0, S, z2, "Est",
         false},
        // The rule set: one point by the input system, a batch by the output system.
        {"ETRF2000 13 E to ROMA40 Ovest, single: UTM rules, L from Monte Mario", RefSystem::Etrf2000, RefSystem::Roma40,
         13.00, z1, S, z2, "Ovest", false},
        {"ETRF2000 13 E to ROMA40 Ovest, batch: Gauss-Boaga rules", RefSystem::Etrf2000, RefSystem::Roma40, 13.00, z1,
         B, z2, "Ovest", true},
        {"ETRF2000 19 E to ROMA40 Ovest, single: UTM c3 z1", RefSystem::Etrf2000, RefSystem::Roma40, 19.00, z1, S, z3,
         "Ovest", true},
        {"ETRF2000 19 E to ROMA40 Ovest, batch: no Gauss-Boaga rule", RefSystem::Etrf2000, RefSystem::Roma40, 19.00, z1,
         B, z3, "Ovest", false},
        {"ROMA40 15 E to UTM 34, single: no Gauss-Boaga rule", RefSystem::Roma40, RefSystem::Etrf2000, 2.30, z3, S, z2,
         "34", false},
        {"ROMA40 15 E to UTM 34, batch: UTM c2 z3", RefSystem::Roma40, RefSystem::Etrf2000, 2.30, z3, B, z2, "34",
         true},
        {"ETRF89 18 30 E to ROMA40 automatic: Est", RefSystem::Etrf89, RefSystem::Roma40, 18.30, z0, S, z3, "Est",
         false},
        {"ROMA40 18 50 E to UTM automatic: 33", RefSystem::Roma40, RefSystem::Etrf89, 6.23, z0, S, z2, "33", false},
    };
    for (const ZoneCase& c : cases) {
        const SelectionState sel = selection(c.inSys, G, z1, c.outSys, P, c.outputZone);
        const double lonG = greenwichOf(c.inSys, c.typedLon);
        const LoadedGrid grid(portionAround(43.0, lonG), c.inSys);
        const ConversionContext ctx = c.inSys == c.outSys ? noGrid(sel) : withGrid(sel, grid);
        const PointResult r = convertPoint(ctx, {43.00, c.typedLon, 0}, c.kind);
        ASSERT_EQ(r.status, PointStatus::Converted) << c.what;
        EXPECT_EQ(r.naturalZone, c.naturalZone) << c.what;
        EXPECT_STREQ(r.zoneText, c.zoneText) << c.what;
        EXPECT_EQ(r.zoneMismatch, c.mismatch) << c.what;
        if (c.kind == RunKind::SinglePoint) {
            const std::vector<Message> ms = singlePointMessages(ctx, r);
            ASSERT_EQ(ms.size(), c.mismatch ? 1u : 0u) << c.what;
            if (c.mismatch) {
                EXPECT_EQ(ms[0].lines, (std::vector<std::string>{"E' STATA RICHIESTA LA PROIEZIONE DEL PUNTO",
                                                                 "IN UN FUSO DIVERSO DA QUELLO DI APPARTENENZA"}));
                EXPECT_EQ(ms[0].title, kTitleAttenzione);
            }
        }
    }
}

// The zone of a longitude, as the conversion relies on it: a point exactly on 12 E (or
// 18 E) belongs to the western zone. A typed 12 00 00 is not exactly 12 once converted:
// sexagesimalToDegrees adds 1e-11 before splitting, which leaves it 2.8e-11 degrees east (zone 2);
// that is why the mismatch rules compare with 12.000000000028, not with 12.
TEST(OutputZone, NaturalZoneBoundaries) {
    EXPECT_EQ(naturalZoneGreenwich(12.0), z1);
    EXPECT_EQ(naturalZoneGreenwich(12.0000001), z2);
    EXPECT_EQ(naturalZoneGreenwich(18.0), z2);
    EXPECT_EQ(naturalZoneGreenwich(18.0000001), z3);
    EXPECT_GT(sexagesimalToDegrees(12.0), 12.0);
    EXPECT_LT(sexagesimalToDegrees(12.0), 12.000000000028);
    EXPECT_EQ(naturalZoneRoma40(sexagesimalToDegrees(-0.27084)), z1); // 12 E counted from Monte Mario
    EXPECT_EQ(naturalZoneRoma40(sexagesimalToDegrees(-0.27084) + 1e-7), z2);
}

TEST(OutputZone, PlaneInputWarningComesBeforeMismatch) {
    // UTM 33 point at about 11.9 E projected into UTM 34: both warnings, in this order.
    const ConversionContext ctx =
        noGrid(selection(RefSystem::Etrf2000, P, Zone::EstOr33, RefSystem::Etrf2000, P, Zone::Utm34));
    const PointResult r = convertPoint(ctx, {4877000, 257500, 0}, RunKind::SinglePoint);
    ASSERT_EQ(r.status, PointStatus::Converted);
    EXPECT_EQ(firstLines(singlePointMessages(ctx, r)),
              (std::vector<std::string>{"IL PUNTO IN CALCOLO APPARTIENE AD UN FUSO DIVERSO",
                                        "E' STATA RICHIESTA LA PROIEZIONE DEL PUNTO"}));
}

// ---------------------------------------------------------------------------------------
// Projection changes within one system need no grid and go through latitude and longitude.
TEST(SameSystem, ProjectionOnlyRoundTrips) {
    struct Case {
        const char* what;
        RefSystem sys;
        Zone from, to;
        PointInput in;
    };
    const Case cases[] = {
        {"ETRF2000 UTM 32 to UTM 33", RefSystem::Etrf2000, z1, z2, {4800000.123, 712345.678, 0}},
        {"ETRF89 UTM 33 to Fuso Italia", RefSystem::Etrf89, z2, z4, {4500000, 350000, 0}},
        {"ED50 UTM 34 to UTM 33", RefSystem::Ed50, z3, z2, {4450000, 300000, 0}},
        {"ROMA40 Ovest to Est", RefSystem::Roma40, z1, z2, {4900000, 1700000, 0}},
    };
    for (const Case& c : cases) {
        for (const RunKind kind : {RunKind::SinglePoint, RunKind::Batch}) {
            const PointResult there = convertPoint(noGrid(selection(c.sys, P, c.from, c.sys, P, c.to)), c.in, kind);
            ASSERT_EQ(there.status, PointStatus::Converted) << c.what;
            EXPECT_FALSE(there.hasHeight) << c.what;
            const PointResult back = convertPoint(noGrid(selection(c.sys, P, c.to, c.sys, P, c.from)),
                                                  {there.outFirst, there.outSecond, 0}, kind);
            ASSERT_EQ(back.status, PointStatus::Converted) << c.what;
            EXPECT_NEAR(back.outFirst, c.in.first, 1e-3) << c.what;
            EXPECT_NEAR(back.outSecond, c.in.second, 1e-3) << c.what;
        }
    }
}

TEST(SameSystem, BatchKeepsRoma40LongitudesFromMonteMario) {
    // Geographic ROMA40 to Gauss-Boaga, and back: the batch never moves the longitude to
    // Greenwich and back, the single point does; both give the same plane point.
    const SelectionState toPlane = selection(RefSystem::Roma40, G, Zone::Auto, RefSystem::Roma40, P, Zone::Auto);
    const PointInput in{42.30, -1.15, 0};
    const PointResult single = convertPoint(noGrid(toPlane), in, RunKind::SinglePoint);
    const PointResult batch = convertPoint(noGrid(toPlane), in, RunKind::Batch);
    ASSERT_EQ(batch.status, PointStatus::Converted);
    EXPECT_STREQ(batch.zoneText, "Ovest");
    EXPECT_NEAR(batch.outFirst, single.outFirst, 1e-6);
    EXPECT_NEAR(batch.outSecond, single.outSecond, 1e-6);
    const PointResult back =
        convertPoint(noGrid(selection(RefSystem::Roma40, P, Zone::Auto, RefSystem::Roma40, G, Zone::Auto)),
                     {batch.outFirst, batch.outSecond, 0}, RunKind::Batch);
    EXPECT_NEAR(sexagesimalToDegrees(back.outFirst), sexagesimalToDegrees(42.30), 1e-9);
    EXPECT_NEAR(sexagesimalToDegrees(back.outSecond), sexagesimalToDegrees(-1.15), 1e-9);
}

// Values read from a file that cannot be a point on the Earth, and values at the limits
// that can; minutes of 60 read as ever. Plane positions are judged by their inverse.
TEST(PointValues, EarthLimitsByKindAndSystem) {
    constexpr auto None = ValueFault::None, First = ValueFault::First, Second = ValueFault::Second,
                   Height = ValueFault::Height;
    constexpr RefSystem R = RefSystem::Roma40, E = RefSystem::Etrf2000;
    struct Case {
        RefSystem system;
        CoordKind kind;
        Zone zone;
        bool heights;
        PointInput in;
        ValueFault want;
    } const cases[] = {
        {E, G, z0, true, {45.30, 12.15, 120}, None},
        {E, G, z0, false, {95, 12, 0}, First},
        {E, G, z0, false, {-90, -180, 0}, None},
        {E, G, z0, false, {89.60, 179.60, 0}, None}, // 89 deg 60' is 90, 179 deg 60' is 180
        {E, G, z0, false, {89.6001, 12, 0}, First},
        {E, G, z0, false, {45.60, 12.6060, 0}, None},
        {E, G, z0, false, {45, 360, 0}, Second},
        {E, G, z0, false, {45, -180.0001, 0}, Second},
        {R, G, z0, false, {45, 179.5959, 0}, None}, // from Monte Mario, as read
        {E, G, z0, false, {std::nan(""), 12, 0}, First},
        {E, G, z0, true, {45, 12, 1e308}, Height},
        {E, G, z0, true, {45, 12, 100000}, None},
        {E, G, z0, true, {45, 12, -100000.001}, Height},
        {E, G, z0, false, {45, 12, 1e308}, None}, // heights not converted: not looked at
        {E, G, z0, true, {95, 12, 1e308}, First}, // the first value that cannot be
        {E, P, z1, true, {4500000, 500000, 10}, None},
        {E, P, z1, false, {1e9, 500000, 0}, First},
        {E, P, z1, false, {-1e9, 500000, 0}, First},
        {E, P, z1, false, {9990000, 600000, 0}, Second}, // 100 km from the meridian near the pole
        {E, P, z1, false, {10010000, 500000, 0}, First}, // beyond the pole
        {E, P, z1, false, {9990000, 500000, 0}, None},
        {E, P, z4, false, {4500000, 7000000 + 2.9e6, 0}, None},
        {E, P, z1, false, {4500000, 1e12, 0}, Second},
        {E, P, z1, false, {9000000, 2000000, 0}, Second}, // latitude 89.5, longitude -235
        {E, P, z1, false, {4500000, std::numeric_limits<double>::infinity(), 0}, Second},
        {R, P, z0, false, {4500000, 1999999.999, 0}, None},
        {R, P, z0, false, {1e9, 2520000, 0}, First},
        {R, P, z0, false, {1e9, 1e12, 0}, First},              // both: the North first
        {RefSystem::Ed50, P, z4, false, {1e9, 1e12, 0}, None}, // no such zone: the conversion refuses it
    };
    for (const Case& c : cases) {
        const PointValueCheck check(c.system, c.kind, c.zone, c.heights);
        EXPECT_EQ(check.fault(c.in), c.want) << c.in.first << " " << c.in.second << " " << c.in.height;
    }
    EXPECT_EQ(PointValueCheck().fault({95, 360, 1e308}), None);
}

// The band of plane positions the check lets pass without working out their inverse: on both
// ellipsoids and scale factors the inverse stays within 64 degrees of latitude and 45 of
// longitude from the central meridian, far inside the Earth's limits.
TEST(PointValues, SureBandKeepsTheInverseOnTheEarth) {
    for (const RefSystem s : {RefSystem::Roma40, RefSystem::Etrf2000}) {
        for (const double k0 : {0.9996, 0.9985}) {
            double maxLat = 0, maxDLon = 0;
            for (double n = -7e6; n <= 7e6; n += 50e3) {
                for (double e = -3e6; e <= 3e6; e += 50e3) {
                    const GeoLatDLon g = tmInverse(ellipsoidOf(s), k0, n, e);
                    maxLat = std::max(maxLat, std::fabs(radToDeg(g.invLat)));
                    maxDLon = std::max(maxDLon, std::fabs(radToDeg(g.invDLon)));
                }
            }
            EXPECT_LT(maxLat, 64);
            EXPECT_LT(maxDLon, 45);
        }
    }
}

// ---------------------------------------------------------------------------------------
// Datum chain through constant grids: the shifts land exactly, ROMA40 longitudes are moved
// to Greenwich and back, heights change kind only when asked for.
TEST(DatumChain, ConstantShiftsAndMonteMario) {
    ConstantGrids v;
    v.roE89Lat = 1.5;
    v.roE89Lon = -12;
    v.geoidN = 48;
    const double lat = sexagesimalToDegrees(43.10);
    const double typedLonMM = -0.40; // 40' west of Monte Mario
    const double lonG = greenwichOf(RefSystem::Roma40, typedLonMM);
    const LoadedGrid g(portionAround(lat, lonG, v), RefSystem::Roma40);

    for (const bool heights : {false, true}) {
        const ConversionContext ctx =
            withGrid(selection(RefSystem::Roma40, G, Zone::Auto, RefSystem::Etrf89, G, Zone::Auto), g, heights);
        const PointResult r = convertPoint(ctx, {43.10, typedLonMM, 100}, RunKind::SinglePoint);
        ASSERT_EQ(r.status, PointStatus::Converted);
        EXPECT_NEAR(sexagesimalToDegrees(r.outFirst), lat + 1.5 / 3600, 1e-9);
        EXPECT_NEAR(sexagesimalToDegrees(r.outSecond), lonG - 12.0 / 3600, 1e-9);
        EXPECT_EQ(r.hasHeight, heights);
        if (heights) {
            EXPECT_NEAR(r.outHeight, 148, 1e-9);
        }
    }
    // And back: ETRF89 to ROMA40 subtracts the same shifts; the longitude is from Monte Mario.
    const LoadedGrid g89(portionAround(lat, lonG, v), RefSystem::Etrf89);
    const ConversionContext back =
        withGrid(selection(RefSystem::Etrf89, G, Zone::OvestOr32, RefSystem::Roma40, G, Zone::Auto), g89, true);
    const double e89Lat = lat + 1.5 / 3600;
    const double e89Lon = lonG - 12.0 / 3600;
    const PointResult r = convertPoint(back, {degreesToSexagesimal(e89Lat), degreesToSexagesimal(e89Lon), 148}, RunKind::SinglePoint);
    ASSERT_EQ(r.status, PointStatus::Converted);
    EXPECT_NEAR(sexagesimalToDegrees(r.outFirst), lat, 1e-8);
    EXPECT_NEAR(sexagesimalToDegrees(r.outSecond), sexagesimalToDegrees(typedLonMM), 1e-8);
    EXPECT_NEAR(r.outHeight, 100, 1e-9);
}

// The decimal degrees a result carries are the chain's, longitude from Greenwich for every
// system and run kind; the sexagesimal form is made from them.
TEST(DatumChain, DecimalDegreesFromGreenwich) {
    ConstantGrids v;
    v.roE89Lat = 1.5;
    v.roE89Lon = -12;
    const double lat = sexagesimalToDegrees(43.10);
    const double lonG = greenwichOf(RefSystem::Roma40, -0.40);
    const LoadedGrid g(portionAround(lat, lonG, v), RefSystem::Roma40);
    const LoadedGrid g89(portionAround(lat, lonG, v), RefSystem::Etrf89);
    const double rome = romeMeridian();
    const double typedLon89 = degreesToSexagesimal(lonG);
    struct Case {
        SelectionState sel;
        const LoadedGrid* grid;
        PointInput in;
        double wantLat, wantLon; // Greenwich
    } const cases[] = {
        {selection(RefSystem::Roma40, G, z0, RefSystem::Etrf89, G, z0),
         &g,
         {43.10, -0.40, 0},
         lat + 1.5 / 3600,
         lonG - 12.0 / 3600},
        {selection(RefSystem::Etrf89, G, z0, RefSystem::Roma40, G, z0),
         &g89,
         {43.10, typedLon89, 0},
         lat - 1.5 / 3600,
         sexagesimalToDegrees(typedLon89) + 12.0 / 3600},
        {selection(RefSystem::Roma40, P, z1, RefSystem::Roma40, G, z0),
         nullptr,
         {4800000, 1500000, 0},
         std::nan(""),
         9},
        {selection(RefSystem::Etrf2000, P, z2, RefSystem::Etrf2000, G, z0),
         nullptr,
         {4800000, 500000, 0},
         std::nan(""),
         15},
    };
    for (const Case& c : cases) {
        for (const RunKind kind : {RunKind::SinglePoint, RunKind::Batch}) {
            const ConversionContext ctx = c.grid != nullptr ? withGrid(c.sel, *c.grid) : noGrid(c.sel);
            const PointResult r = convertPoint(ctx, c.in, kind);
            ASSERT_EQ(r.status, PointStatus::Converted);
            if (!std::isnan(c.wantLat)) {
                EXPECT_NEAR(r.outLatDeg, c.wantLat, 1e-9);
            }
            EXPECT_NEAR(r.outLonDeg, c.wantLon, 1e-9);
            const double fromMM = c.sel.outputSystem == RefSystem::Roma40 ? rome : 0.0;
            EXPECT_EQ(degreesToSexagesimal(r.outLatDeg), r.outFirst);
            EXPECT_NEAR(degreesToSexagesimal(r.outLonDeg - fromMM), r.outSecond, 1e-12);
        }
    }
}

// ---------------------------------------------------------------------------------------
// Grid coverage: each test position against its edges, every bound inclusive. The edge is
// moved exactly onto the test position (inside), then one step further (outside).
TEST(GridCoverage, EachEdgeInclusive) {
    enum Edge { PlanS, PlanN, PlanW, PlanE, GeoS, GeoN, GeoW, GeoE };
    // Offsets of the test positions from the point, from the system's sexagesimal values.
    struct Offsets {
        RefSystem sys;
        double roLat, roLon, e89Lat, e89Lon;
    };
    const double s5 = sexagesimalToDegrees(0.0005), s25 = sexagesimalToDegrees(0.00025), s235 = sexagesimalToDegrees(0.000235), s065 = sexagesimalToDegrees(0.000065);
    const Offsets systems[] = {
        {RefSystem::Roma40, 0, 0, +s235, -s065},
        {RefSystem::Ed50, -s5, -s25, +s235, -s065},
        {RefSystem::Etrf89, -s235, +s065, 0, 0},
        {RefSystem::Etrf2000, -s235, +s065, 0, 0},
    };
    for (const Offsets& o : systems) {
        const double typedLon = o.sys == RefSystem::Roma40 ? -1.10 : 11.20;
        const double lat = sexagesimalToDegrees(44.05);
        const double lon = greenwichOf(o.sys, typedLon);
        for (int edge = PlanS; edge <= GeoE; ++edge) {
            LoadedGrid g(portionAround(lat, lon), o.sys);
            ZoneLimits& z = g.limits;
            // The bound, the test position it is compared with, and the direction that
            // moves the bound past the position.
            struct Bound {
                double* bound;
                double pos;
                double outward;
            };
            const Bound bounds[] = {
                {&z.planSouth, lat + o.roLat, +1},   {&z.planNorth, lat + o.roLat, -1},
                {&z.planWest, lon + o.roLon, +1},    {&z.planEast, lon + o.roLon, -1},
                {&z.geoidSouth, lat + o.e89Lat, +1}, {&z.geoidNorth, lat + o.e89Lat, -1},
                {&z.geoidWest, lon + o.e89Lon, +1},  {&z.geoidEast, lon + o.e89Lon, -1},
            };
            double* bound = bounds[edge].bound;
            const double pos = bounds[edge].pos;
            const double outward = bounds[edge].outward;
            const SelectionState sel =
                selection(o.sys, G, z1, o.sys == RefSystem::Etrf2000 ? RefSystem::Roma40 : RefSystem::Etrf2000, G, z0);
            const ConversionContext ctx = withGrid(sel, g);
            *bound = pos;
            EXPECT_EQ(convertPoint(ctx, {44.05, typedLon, 0}, RunKind::SinglePoint).status, PointStatus::Converted)
                << "system " << o.sys << " edge " << edge;
            *bound = std::nextafter(pos, outward * std::numeric_limits<double>::infinity());
            EXPECT_EQ(convertPoint(ctx, {44.05, typedLon, 0}, RunKind::SinglePoint).status, PointStatus::OutsideGrid)
                << "system " << o.sys << " edge " << edge;
            EXPECT_EQ(convertPoint(ctx, {44.05, typedLon, 0}, RunKind::Batch).status, PointStatus::OutsideGrid)
                << "system " << o.sys << " edge " << edge;
        }
    }
}

TEST(GridCoverage, OutsideMessageByPortionKind) {
    for (const PortionKind kind : {PortionKind::Vertex, PortionKind::Sheet}) {
        const LoadedGrid g(portionAround(44.0, 11.0, {}, kind), RefSystem::Etrf89);
        const ConversionContext ctx =
            withGrid(selection(RefSystem::Etrf89, G, Zone::OvestOr32, RefSystem::Roma40, G, Zone::Auto), g);
        const PointResult r = convertPoint(ctx, {45.00, 11.00, 0}, RunKind::SinglePoint); // a degree north
        ASSERT_EQ(r.status, PointStatus::OutsideGrid);
        const std::vector<Message> ms = singlePointMessages(ctx, r);
        ASSERT_EQ(ms.size(), 1u);
        EXPECT_EQ(ms[0].title, kTitleFuoriGrigliato);
        EXPECT_EQ(ms[0].icon, MessageIcon::Warning);
        EXPECT_EQ(ms[0].lines,
                  (std::vector<std::string>{"Punto non calcolabile perchè situato", "fuori della porzione di grigliato",
                                            kind == PortionKind::Vertex ? "relativo al vertice KVT95 indicato"
                                                                        : "relativo al foglio al 50.000 indicato"}));
    }
}

TEST(GridCoverage, InterpolationBeyondTheNodesIsOutside) {
    // Limits that let everything through (as after a damaged or mismatched portion): the
    // interpolation finds no cell of its own and the point counts as outside, never as a
    // result read from the zero-filled nodes.
    LoadedGrid g(portionAround(44.0, 11.0), RefSystem::Etrf2000);
    g.limits.planSouth = g.limits.geoidSouth = g.limits.planWest = g.limits.geoidWest = -1000;
    g.limits.planNorth = g.limits.geoidNorth = g.limits.planEast = g.limits.geoidEast = 1000;
    const ConversionContext ctx =
        withGrid(selection(RefSystem::Etrf2000, G, Zone::OvestOr32, RefSystem::Roma40, P, Zone::Auto), g, true);
    for (const RunKind kind : {RunKind::SinglePoint, RunKind::Batch}) {
        const PointResult r = convertPoint(ctx, {44.30, 11.30, 0}, kind); // north-east of the nodes
        EXPECT_EQ(r.status, PointStatus::OutsideGrid);
    }
    const PointResult r = convertPoint(ctx, {44.30, 11.30, 0}, RunKind::SinglePoint);
    EXPECT_EQ(firstLines(singlePointMessages(ctx, r)),
              (std::vector<std::string>{"Punto non calcolabile perchè situato"}));
}

TEST(GridCoverage, NoPortionMeansOutside) {
    const ConversionContext ctx =
        noGrid(selection(RefSystem::Etrf89, G, Zone::OvestOr32, RefSystem::Roma40, G, Zone::Auto));
    EXPECT_EQ(convertPoint(ctx, {44.00, 11.00, 0}, RunKind::Batch).status, PointStatus::OutsideGrid);
}

// ---------------------------------------------------------------------------------------
// The global-geoid note: only with heights on and a global-model portion; never among the
// run's own messages (the window shows it after writing the fields).
TEST(Messages, GlobalGeoidNoteComesSeparately) {
    const double lat = 44.0, lon = 11.0;
    const LoadedGrid global(portionAround(lat, lon, {}, PortionKind::Vertex, 1), RefSystem::Etrf89);
    const LoadedGrid national(portionAround(lat, lon), RefSystem::Etrf89);
    const SelectionState sel = selection(RefSystem::Etrf89, G, Zone::OvestOr32, RefSystem::Roma40, G, Zone::Auto);
    const std::optional<Message> note = globalGeoidMessage(withGrid(sel, global, true));
    ASSERT_TRUE(note.has_value());
    EXPECT_EQ(note->lines, (std::vector<std::string>{"ATTENZIONE: QUOTE GEOIDICHE RIFERITE AL MODELLO GLOBALE"}));
    EXPECT_EQ(note->icon, MessageIcon::Information);
    EXPECT_FALSE(globalGeoidMessage(withGrid(sel, global, false)).has_value());
    EXPECT_FALSE(globalGeoidMessage(withGrid(sel, national, true)).has_value());

    const ConversionContext ctx = withGrid(sel, global, true);
    const PointResult r = convertPoint(ctx, {44.00, 11.00, 100}, RunKind::SinglePoint);
    ASSERT_EQ(r.status, PointStatus::Converted);
    EXPECT_TRUE(singlePointMessages(ctx, r).empty());
}

TEST(Messages, FailedPointHasItsMessage) {
    const ConversionContext ctx =
        noGrid(selection(RefSystem::Etrf89, P, Zone::OvestOr32, RefSystem::Etrf89, G, Zone::Auto));
    const PointResult r = convertPoint(ctx, {std::numeric_limits<double>::infinity(), 500000, 0}, RunKind::Batch);
    EXPECT_EQ(r.status, PointStatus::Failed);
    const std::vector<Message> ms = singlePointMessages(ctx, r);
    ASSERT_EQ(ms.size(), 1u);
    EXPECT_EQ(ms[0].icon, MessageIcon::Error);
}

// ---------------------------------------------------------------------------------------
TEST(HotPath, ConvertingAPointDoesNotAllocate) {
    ConstantGrids v;
    v.roE89Lat = 1.5;
    v.roE89Lon = -1;
    v.geoidN = 45;
    v.etH = 0.02;
    const double lat = sexagesimalToDegrees(44.10);
    const double lonG = 11.3;
    const LoadedGrid g(portionAround(lat, lonG, v), RefSystem::Roma40);
    const ConversionContext ctx =
        withGrid(selection(RefSystem::Roma40, G, Zone::Auto, RefSystem::Etrf2000, P, Zone::Auto), g, true);
    const PointInput in{44.10, degreesToSexagesimal(lonG - romeMeridian()), 120};
    PointResult warm = convertPoint(ctx, in, RunKind::Batch);
    ASSERT_EQ(warm.status, PointStatus::Converted);
    gAllocations = 0;
    gCountAllocations = true;
    for (int i = 0; i < 100; ++i) {
        const PointResult r = convertPoint(ctx, in, RunKind::Batch);
        ASSERT_EQ(r.status, PointStatus::Converted);
    }
    gCountAllocations = false;
    EXPECT_EQ(gAllocations.load(), 0);
}

} // namespace
} // namespace dormal
