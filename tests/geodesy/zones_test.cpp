// Zone table and natural zone: plain tables that the window, the run and the result files
// all read, so a wrong code shows everywhere.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "geodesy/angles.h"
#include "geodesy/zones.h"
#include "tests/support/print_enums.h"

namespace dormal {
namespace {

TEST(Zones, Table) {
    struct Case {
        RefSystem system;
        Zone zone;
        double centralMeridian, falseEasting, scale;
        std::string text;
    };
    const Case cases[] = {
        {RefSystem::Roma40, Zone::OvestOr32, 9, 1500000, 0.9996, "Ovest"},
        {RefSystem::Roma40, Zone::EstOr33, 15, 2520000, 0.9996, "Est"},
        {RefSystem::Ed50, Zone::OvestOr32, 9, 500000, 0.9996, "32"},
        {RefSystem::Ed50, Zone::EstOr33, 15, 500000, 0.9996, "33"},
        {RefSystem::Ed50, Zone::Utm34, 21, 500000, 0.9996, "34"},
        {RefSystem::Etrf89, Zone::OvestOr32, 9, 500000, 0.9996, "32"},
        {RefSystem::Etrf89, Zone::Utm34, 21, 500000, 0.9996, "34"},
        {RefSystem::Etrf89, Zone::Italia, 12, 7000000, 0.9985, "Italia"},
        {RefSystem::Etrf2000, Zone::EstOr33, 15, 500000, 0.9996, "33"},
        {RefSystem::Etrf2000, Zone::Italia, 12, 7000000, 0.9985, "Italia"},
    };
    for (const auto& c : cases) {
        const ZoneInfo z = zoneInfo(c.system, c.zone);
        ASSERT_TRUE(z.valid) << c.system << "/" << c.zone;
        EXPECT_EQ(z.centralMeridian, c.centralMeridian) << c.system << "/" << c.zone;
        EXPECT_EQ(z.falseEasting, c.falseEasting) << c.system << "/" << c.zone;
        EXPECT_EQ(z.scale, c.scale) << c.system << "/" << c.zone;
        EXPECT_EQ(std::string(z.text), c.text) << c.system << "/" << c.zone;
    }
    // Zones a system does not have, and the automatic choice, are not zones.
    const std::pair<RefSystem, Zone> missing[] = {{RefSystem::Roma40, Zone::Auto},   {RefSystem::Roma40, Zone::Utm34},
                                                  {RefSystem::Roma40, Zone::Italia}, {RefSystem::Ed50, Zone::Auto},
                                                  {RefSystem::Ed50, Zone::Italia},   {RefSystem::Etrf89, Zone::Auto}};
    for (const auto& [system, zone] : missing) {
        EXPECT_FALSE(zoneInfo(system, zone).valid) << system << "/" << zone;
    }
}

// ROMA40 central meridians are held from Monte Mario; adding the Rome meridian gives 9 and 15 E.
TEST(Zones, Roma40FromMonteMario) {
    EXPECT_EQ(romeMeridian(), sexagesimalToDegrees(12.27084));
    EXPECT_NEAR(romeMeridian(), 12.452333333361, 1e-12);
    EXPECT_EQ(zoneInfo(RefSystem::Roma40, Zone::OvestOr32).centralMeridianMM, sexagesimalToDegrees(-3.27084));
    EXPECT_EQ(zoneInfo(RefSystem::Roma40, Zone::EstOr33).centralMeridianMM, sexagesimalToDegrees(2.32516));
    EXPECT_NEAR(zoneInfo(RefSystem::Roma40, Zone::OvestOr32).centralMeridianMM + romeMeridian(), 9.0, 1e-10);
    EXPECT_NEAR(zoneInfo(RefSystem::Roma40, Zone::EstOr33).centralMeridianMM + romeMeridian(), 15.0, 1e-10);
}

TEST(Zones, NaturalZone) {
    struct Case {
        double lon;
        Zone zone;
    };
    // Borders belong to the western zone: exactly 12 is zone 32, just east of it 33.
    const Zone z32 = Zone::OvestOr32, z33 = Zone::EstOr33, z34 = Zone::Utm34;
    const Case greenwich[] = {{5, z32}, {12, z32}, {12.0000001, z33}, {18, z33}, {18.0000001, z34}, {20, z34}};
    for (const auto& c : greenwich) {
        EXPECT_EQ(naturalZoneGreenwich(c.lon), c.zone) << c.lon;
    }
    // ROMA40 from Monte Mario: the border is sexagesimalToDegrees(-0.27084), 12 E of Greenwich.
    const Case roma40[] = {{sexagesimalToDegrees(-2.30), z32},
                           {sexagesimalToDegrees(-0.27084), z32},
                           {sexagesimalToDegrees(-0.27083), z33},
                           {5, z33}};
    for (const auto& c : roma40) {
        EXPECT_EQ(naturalZoneRoma40(c.lon), c.zone) << c.lon;
    }
}
} // namespace
} // namespace dormal
