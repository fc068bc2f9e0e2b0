#include <gtest/gtest.h>

#include <GeographicLib/TransverseMercator.hpp>

#include "geodesy/angles.h"
#include "geodesy/systems.h"
#include "geodesy/transverse_mercator.h"
#include "grid/zone_limits.h"
#include "grid_fixtures.h"
#include "tests/support/print_enums.h"

namespace dormal {
namespace {

// Each edge lies a fixed sexagesimal offset from its grid's origin: 5" inside the outer nodes.
TEST(ZoneLimits, EdgesLieFiveSecondsInsideTheOuterNodes) {
    const struct {
        PortionKind kind;
        double north, east, geoidNorth, geoidEast; // sexagesimal offsets from the origins
    } cases[] = {
        {PortionKind::Vertex, 0.1455, 0.2225, 0.1355, 0.1755},
        {PortionKind::Sheet, 0.2455, 0.3725, 0.1755, 0.2555},
    };
    for (const auto& c : cases) {
        GridPortion g = test::blankPortion(c.kind, 44.0, 10.0);
        g.geoidOriginLat = 44.01;
        g.geoidOriginLon = 10.02;
        const ZoneLimits z = computeZoneLimits(g, RefSystem::Etrf89);
        EXPECT_EQ(z.planSouth, 44.0 + sexagesimalToDegrees(0.0005));
        EXPECT_EQ(z.planWest, 10.0 + sexagesimalToDegrees(0.0005));
        EXPECT_EQ(z.planNorth, 44.0 + sexagesimalToDegrees(c.north));
        EXPECT_EQ(z.planEast, 10.0 + sexagesimalToDegrees(c.east));
        EXPECT_EQ(z.geoidSouth, 44.01 + sexagesimalToDegrees(0.0005));
        EXPECT_EQ(z.geoidWest, 10.02 + sexagesimalToDegrees(0.0005));
        EXPECT_EQ(z.geoidNorth, 44.01 + sexagesimalToDegrees(c.geoidNorth));
        EXPECT_EQ(z.geoidEast, 10.02 + sexagesimalToDegrees(c.geoidEast));
        // The common area is the tighter of the two on every side.
        EXPECT_EQ(z.south, z.geoidSouth);
        EXPECT_EQ(z.west, z.geoidWest);
        EXPECT_EQ(z.north, std::min(z.planNorth, z.geoidNorth));
        EXPECT_EQ(z.east, std::min(z.planEast, z.geoidEast));
        EXPECT_EQ(z.midLon, (z.west + z.east) / 2);
    }
    // A geoid grid lying south-west of the ROMA40 grids: the plan edges bound south and west.
    GridPortion g = test::blankPortion(PortionKind::Vertex, 44.0, 10.0);
    g.geoidOriginLat = 43.99;
    g.geoidOriginLon = 9.98;
    const ZoneLimits z = computeZoneLimits(g, RefSystem::Etrf89);
    EXPECT_EQ(z.south, z.planSouth);
    EXPECT_EQ(z.west, z.planWest);
    EXPECT_EQ(z.north, z.geoidNorth);
    EXPECT_EQ(z.east, z.geoidEast);
}

TEST(ZoneLimits, NothingLoadedGivesNoZone) {
    const ZoneLimits z = computeZoneLimits(GridPortion{}, RefSystem::Roma40);
    EXPECT_EQ(z.zone, Zone::Auto);
    EXPECT_EQ(z.nwEast, 0.0);
    EXPECT_EQ(convertCornersForInputSystem(z, RefSystem::Ed50).nwEast, 0.0);
}

// The zone is the one of the area's middle longitude, whatever the sides straddle.
TEST(ZoneLimits, ZoneOfTheMiddleLongitude) {
    // With both origins at lon0 the common area of a vertex portion runs from lon0 + 5" to
    // lon0 + 17'55": its middle is lon0 + 0.15.
    const struct {
        double lon0;
        int zone;
    } cases[] = {{8.0, 32}, {11.84, 32}, {11.86, 33}, {11.75 + 0.15, 33}, {17.84, 33}, {17.86, 34}, {18.3, 34}};
    for (const auto& c : cases) {
        const ZoneLimits z = computeZoneLimits(test::blankPortion(PortionKind::Vertex, 42.0, c.lon0), RefSystem::Ed50);
        EXPECT_NEAR(z.midLon, c.lon0 + 0.15, 1e-9);
        EXPECT_EQ(utmZoneNumber(z.zone), c.zone) << c.lon0;
    }
    // A sheet whose area runs from 11.9 to 12.33 straddles 12 E and takes zone 33.
    const GridPortion g = test::blankPortion(PortionKind::Sheet, 42.0, 11.9 - sexagesimalToDegrees(0.0005));
    const ZoneLimits z = computeZoneLimits(g, RefSystem::Ed50);
    EXPECT_NEAR(z.west, 11.9, 1e-9);
    EXPECT_LT(z.west, 12.0);
    EXPECT_GT(z.east, 12.3);
    EXPECT_EQ(utmZoneNumber(z.zone), 33);
}

// Corner coordinates: International ellipsoid, scale 0.9996, central meridian of the zone
// (15 for zone 34 with ROMA40 input), false easting of the input system's convention.
TEST(ZoneLimits, CornerCoordinatesByZoneAndInputSystem) {
    const struct {
        double lat0, lon0;
        RefSystem input;
        int zone;
        double cm, extra; // extra: added to the UTM false easting 500000 for ROMA40
    } cases[] = {
        {45.25, 9.0, RefSystem::Etrf89, 32, 9, 0},     {45.25, 9.0, RefSystem::Roma40, 32, 9, 1000000},
        {42.25, 13.25, RefSystem::Ed50, 33, 15, 0},    {42.25, 13.25, RefSystem::Roma40, 33, 15, 2020000},
        {40.0, 18.25, RefSystem::Etrf2000, 34, 21, 0}, {40.0, 18.25, RefSystem::Roma40, 34, 15, 2020000},
    };
    const GeographicLib::TransverseMercator international(6378388, 1 / 297.0, 0.9996);
    for (const auto& c : cases) {
        const GridPortion g = test::generatedPortion(PortionKind::Vertex, c.lat0, c.lon0);
        const ZoneLimits z = computeZoneLimits(g, c.input);
        SCOPED_TRACE(testing::Message() << "zone " << c.zone << " input " << c.input);
        ASSERT_EQ(utmZoneNumber(z.zone), c.zone);
        const PlaneXY nw = tmForward(kInternational1924, 0.9996, degToRad(z.north), degToRad(z.west - c.cm));
        const PlaneXY se = tmForward(kInternational1924, 0.9996, degToRad(z.south), degToRad(z.east - c.cm));
        EXPECT_EQ(z.nwNorth, nw.tmNorth);
        EXPECT_EQ(z.nwEast, nw.tmEast + 500000 + c.extra);
        EXPECT_EQ(z.seNorth, se.tmNorth);
        EXPECT_EQ(z.seEast, se.tmEast + 500000 + c.extra);
        // And the same corners from an independent projection, to a metre.
        double x = 0, y = 0;
        international.Forward(c.cm, z.north, z.west, x, y);
        EXPECT_NEAR(z.nwNorth, y, 1.0);
        EXPECT_NEAR(z.nwEast, x + 500000 + c.extra, 1.0);
    }
}

// Picking another input system brings the corners into its convention and back; the
// limits themselves never change.
TEST(ZoneLimits, CornersFollowTheInputSystem) {
    const struct {
        double lat0, lon0;
        double roma40Extra; // added to the UTM eastings for ROMA40
    } cases[] = {{42.25, 13.25, 2020000}, {45.25, 9.0, 1000000}};
    for (const auto& c : cases) {
        const GridPortion g = test::generatedPortion(PortionKind::Sheet, c.lat0, c.lon0);
        const ZoneLimits ed50 = computeZoneLimits(g, RefSystem::Ed50);
        const ZoneLimits roma = convertCornersForInputSystem(ed50, RefSystem::Roma40);
        EXPECT_EQ(roma.nwEast, ed50.nwEast + c.roma40Extra);
        EXPECT_EQ(roma.seEast, ed50.seEast + c.roma40Extra);
        EXPECT_EQ(roma.nwNorth, ed50.nwNorth);
        EXPECT_EQ(roma.seNorth, ed50.seNorth);
        EXPECT_EQ(roma.nwEast, computeZoneLimits(g, RefSystem::Roma40).nwEast);
        const ZoneLimits again = convertCornersForInputSystem(roma, RefSystem::Roma40);
        EXPECT_EQ(again.nwEast, roma.nwEast);
        const ZoneLimits etrf = convertCornersForInputSystem(again, RefSystem::Etrf89);
        EXPECT_NEAR(etrf.nwEast, ed50.nwEast, 1e-6);
        EXPECT_NEAR(etrf.seEast, ed50.seEast, 1e-6);
        EXPECT_EQ(convertCornersForInputSystem(etrf, RefSystem::Etrf2000).nwEast, etrf.nwEast);
        EXPECT_EQ(etrf.south, ed50.south);
        EXPECT_EQ(etrf.east, ed50.east);
    }
    // Zone 34: recomputed about 15 E for ROMA40 and about 21 E for the others.
    const GridPortion g = test::generatedPortion(PortionKind::Vertex, 40.0, 18.25);
    const ZoneLimits ed50 = computeZoneLimits(g, RefSystem::Ed50);
    const ZoneLimits roma = convertCornersForInputSystem(ed50, RefSystem::Roma40);
    const ZoneLimits roma40Direct = computeZoneLimits(g, RefSystem::Roma40);
    EXPECT_NEAR(roma.nwEast, roma40Direct.nwEast, 1e-6);
    EXPECT_EQ(roma.nwNorth, roma40Direct.nwNorth);
    EXPECT_NEAR(roma.seEast, roma40Direct.seEast, 1e-6);
    EXPECT_GT(roma.nwEast, 2520000); // the area lies east of the 15 E meridian
    EXPECT_NE(roma.nwNorth, ed50.nwNorth);
    const ZoneLimits back = convertCornersForInputSystem(roma, RefSystem::Etrf89);
    EXPECT_EQ(back.nwEast, ed50.nwEast);
    EXPECT_EQ(back.seNorth, ed50.seNorth);
}

} // namespace
} // namespace dormal
