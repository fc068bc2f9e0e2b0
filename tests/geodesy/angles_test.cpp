// Angle formats and the ellipsoid/scale choice that every projection call leans on.

#include <gtest/gtest.h>

#include <cmath>

#include "geodesy/angles.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/zones.h"

namespace dormal {
namespace {

struct AngleCase {
    const char* what;
    double in;
    double expected;
    double tol;
};

// sexagesimalToDegrees: the 1e-11 added before splitting shows in the 11th decimal; minutes and
// seconds are read as digit pairs, not as a plain fraction.
TEST(Angles, SessDec) {
    const AngleCase cases[] = {
        {"45 30' 15.1234\"", 45.30151234, 45.504200944472, 1e-12},
        {"Monte Mario", 12.27084, 12.452333333361, 1e-12},
        {"negative as a whole", -3.27084, -3.452333333361, 1e-12},
        {"zero stays zero", 0.0, 0.0, 0.0},
        {"75 seconds without minutes", 0.0075, 75.0 / 3600.0, 1e-10},
        {"0.01 is one minute", 0.01, 1.0 / 60.0, 1e-10},
        {"whole degrees", 7.0, 7.0, 1e-10},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(sexagesimalToDegrees(c.in), c.expected, c.tol) << c.what;
    }
    EXPECT_EQ(sexagesimalToDegrees(0.0), 0.0);
    EXPECT_EQ(sexagesimalToDegrees(-12.27084), -sexagesimalToDegrees(12.27084));
}

// degreesToSexagesimal: seconds carried at 59.99995 into the minutes, minutes at 60 into the degrees.
TEST(Angles, DecSess) {
    const AngleCase cases[] = {
        {"round trip of 45 30' 15.1234\"", 45.504200944444, 45.30151234, 1e-10},
        {"negative half degree", -7.5, -7.30, 1e-12},
        {"59.999964 s carry into 45 deg", 44.99999999, 45.0, 1e-12},
        {"59.964 s stay", 45.99999, 45.5959964, 1e-9},
        {"zero", 0.0, 0.0, 0.0},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(degreesToSexagesimal(c.in), c.expected, c.tol) << c.what;
    }
}

// degreesToSexagesimalMinutes: whole minutes, more than 30 seconds round up, exactly 30 rounds down.
TEST(Angles, DecSessPrimi) {
    const AngleCase cases[] = {
        {"29.9999 s round down", 10.2583333, 10.15, 1e-12},
        {"30.5 s round up", 10.0 + 15.0 / 60.0 + 30.5 / 3600.0, 10.16, 1e-12},
        {"exactly 30 s round down", 10.0 + 15.0 / 60.0 + 30.0 / 3600.0, 10.15, 1e-12},
        {"10 59' 24\"", 10.99, 10.59, 1e-12},
        {"59' 45\" carry into the degree", 10.0 + 59.75 / 60.0, 11.0, 1e-12},
        {"negative", -12.4522, -12.27, 1e-12},
    };
    for (const auto& c : cases) {
        EXPECT_NEAR(degreesToSexagesimalMinutes(c.in), c.expected, c.tol) << c.what;
    }
}

// The reference system selects the ellipsoid whatever the zone; the zone table gives the
// scale: 0.9985 for Fuso Italia, 0.9996 for every other zone of every system.
TEST(Ellipsoids, SystemSelectsEllipsoidZoneSelectsScale) {
    for (RefSystem s : {RefSystem::Roma40, RefSystem::Ed50}) {
        EXPECT_EQ(ellipsoidOf(s).a, 6378388.0);
        EXPECT_EQ(ellipsoidOf(s).f, 1.0 / 297.0);
    }
    for (RefSystem s : {RefSystem::Etrf89, RefSystem::Etrf2000}) {
        EXPECT_EQ(ellipsoidOf(s).a, 6378137.0);
        EXPECT_EQ(ellipsoidOf(s).f, 1.0 / 298.257222101);
    }
    int zones = 0;
    for (RefSystem s : kAllSystems) {
        for (Zone z : {Zone::OvestOr32, Zone::EstOr33, Zone::Utm34, Zone::Italia}) {
            const ZoneInfo zi = zoneInfo(s, z);
            if (!zi.valid) {
                continue;
            }
            ++zones;
            EXPECT_EQ(zi.scale, z == Zone::Italia ? 0.9985 : 0.9996) << zi.text;
        }
    }
    EXPECT_EQ(zones, 2 + 3 + 4 + 4);
}

} // namespace
} // namespace dormal
