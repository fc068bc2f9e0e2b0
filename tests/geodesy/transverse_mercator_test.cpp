// Transverse Mercator forward and inverse: check points, the independent reference table,
// accuracy against GeographicLib's exact projection over Italy, and the round trip.

#include <gtest/gtest.h>

#include <GeographicLib/TransverseMercatorExact.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "geodesy/angles.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/transverse_mercator.h"
#include "geodesy/zones.h"

namespace dormal {
namespace {

constexpr Ellipsoid kHayford = kInternational1924; // ROMA40, ED50 (kGrs80: ETRF89, ETRF2000)
constexpr double kUtm = 0.9996;                    // Gauss-Boaga and UTM
constexpr double kItalia = 0.9985;                 // Fuso Italia

PlaneXY forwardDeg(double latDeg, double dlonDeg, const Ellipsoid& e, double k0) {
    return tmForward(e, k0, degToRad(latDeg), degToRad(dlonDeg));
}
GeoLatDLon inverse(double north, double east, const Ellipsoid& e, double k0) {
    return tmInverse(e, k0, north, east);
}

// The reference table names the ellipsoid by reference system (0 ROMA40, 1 ED50, 2 ETRF89,
// 3 ETRF2000) and the scale by zone (4 Fuso Italia, any other 0.9996).
Ellipsoid tableEllipsoid(int code) {
    return code <= 1 ? kHayford : kGrs80;
}
double tableScale(int code) {
    return code == 4 ? kItalia : kUtm;
}

// Check points of the surveyor's usual zones, to 0.1 mm where known (the values the inverse
// check points start from), else to the millimetre. Fuso Italia at 6 E gives -511757.84446 m:
// to 0.1 mm -511757.8445, to the millimetre -511757.844 (not .845, which is .8445 rounded twice).
TEST(GeoPiane, CheckPoints) {
    struct Case {
        const char* what;
        Ellipsoid e;
        double p;
        double latDeg, dlonDeg, north, east, tol;
    };
    const Case cases[] = {
        {"GRS80 UTM on the central meridian", kGrs80, kUtm, 45, 0, 4982950.4004, 0.0, 5e-5},
        {"GRS80 UTM 32 at 12 E", kGrs80, kUtm, 45, 3, 4987329.5048, 236446.0261, 5e-5},
        {"GRS80 Fuso Italia on the meridian", kGrs80, kItalia, 42, 0, 4644659.424, 0.0, 5e-4},
        {"GRS80 Fuso Italia at 6 E", kGrs80, kItalia, 40, -6, 4440143.1456, -511757.8445, 5e-5},
        {"Hayford Gauss-Boaga", kHayford, kUtm, 46, 3.5, 5100102.0670, 271020.0396, 5e-5},
        {"ED50 takes Hayford, zone table's UTM 33 scale", ellipsoidOf(RefSystem::Ed50),
         zoneInfo(RefSystem::Ed50, Zone::EstOr33).scale, 46, 3.5, 5100102.0670, 271020.0396, 5e-5},
        {"ETRF2000 takes GRS80, zone table's UTM 34 scale", ellipsoidOf(RefSystem::Etrf2000),
         zoneInfo(RefSystem::Etrf2000, Zone::Utm34).scale, 45, 3, 4987329.5048, 236446.0261, 5e-5},
        {"ROMA40 Gauss-Boaga Ovest from the tables", ellipsoidOf(RefSystem::Roma40),
         zoneInfo(RefSystem::Roma40, Zone::OvestOr32).scale, 46, 3.5, 5100102.0670, 271020.0396, 5e-5},
        {"ETRF89 Fuso Italia from the tables", ellipsoidOf(RefSystem::Etrf89),
         zoneInfo(RefSystem::Etrf89, Zone::Italia).scale, 40, -6, 4440143.1456, -511757.8445, 5e-5},
    };
    for (const auto& c : cases) {
        const PlaneXY r = forwardDeg(c.latDeg, c.dlonDeg, c.e, c.p);
        EXPECT_NEAR(r.tmNorth, c.north, c.tol) << c.what;
        EXPECT_NEAR(r.tmEast, c.east, c.tol) << c.what;
    }
    EXPECT_EQ(forwardDeg(45, 0, kGrs80, kUtm).tmEast, 0.0);
}

// A negative longitude difference mirrors the easting and keeps the northing.
TEST(GeoPiane, WestMirrorsEast) {
    for (double lat : {34.0, 41.5, 49.0}) {
        for (double dlon : {0.5, 3.5, 7.0}) {
            const PlaneXY east = forwardDeg(lat, dlon, kGrs80, kItalia);
            const PlaneXY west = forwardDeg(lat, -dlon, kGrs80, kItalia);
            EXPECT_EQ(west.tmNorth, east.tmNorth);
            EXPECT_EQ(west.tmEast, -east.tmEast);
        }
    }
}

TEST(PianeGeo, CheckPoints) {
    struct Case {
        const char* what;
        Ellipsoid e;
        double p;
        double north, east, latDeg, dlonDeg, tolDeg;
    };
    const Case cases[] = {
        {"GRS80 UTM on the central meridian", kGrs80, kUtm, 4982950.4004, 0, 45.000000002, 0, 5e-10},
        {"GRS80 UTM 32 at 12 E", kGrs80, kUtm, 4987329.5048, 236446.0261, 45.000000001, 3.0, 5e-10},
        {"GRS80 Fuso Italia at 6 E", kGrs80, kItalia, 4440143.1456, -511757.8445, 40.0000000002, -6.0000000005, 5e-11},
        {"Hayford Gauss-Boaga", kHayford, kUtm, 5100102.0670, 271020.0396, 46.000000001, 3.5000000001, 5e-10},
    };
    for (const auto& c : cases) {
        const GeoLatDLon r = inverse(c.north, c.east, c.e, c.p);
        EXPECT_NEAR(radToDeg(r.invLat), c.latDeg, c.tolDeg) << c.what;
        EXPECT_NEAR(radToDeg(r.invDLon), c.dlonDeg, c.tolDeg) << c.what;
    }
}

// On the central meridian the longitude difference is exactly 0; a negative easting mirrors it.
TEST(PianeGeo, CentralMeridianAndMirror) {
    for (double north : {3800000.0, 4982950.4004, 5400000.0}) {
        const GeoLatDLon onMeridian = inverse(north, 0.0, kGrs80, kUtm);
        EXPECT_EQ(onMeridian.invDLon, 0.0);
        const GeoLatDLon east = inverse(north, 250000.0, kHayford, kUtm);
        const GeoLatDLon west = inverse(north, -250000.0, kHayford, kUtm);
        EXPECT_EQ(west.invLat, east.invLat);
        EXPECT_EQ(west.invDLon, -east.invDLon);
    }
}

// Reference rows computed independently from the same formulas, for both ellipsoids and
// every zone code: a term out of order or a wrong coefficient shows here first.
struct ReferenceRow {
    int ellipsoid = 0, projection = 0;
    double latDeg = 0, dlonDeg = 0, north = 0, east = 0, invLatDeg = 0, invDLonDeg = 0;
};

std::vector<ReferenceRow> readReference(const std::string& path) {
    std::vector<ReferenceRow> rows;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#' || line[0] == 'e') {
            continue; // comments and the heading
        }
        // Locale-independent number reading: the suite also runs with "," as decimal separator.
        double v[8];
        const char* p = line.data();
        const char* end = line.data() + line.size();
        for (double& x : v) {
            const auto res = std::from_chars(p, end, x);
            if (res.ec != std::errc()) {
                ADD_FAILURE() << "bad reference line: " << line;
                return rows;
            }
            p = res.ptr + (res.ptr < end ? 1 : 0);
        }
        rows.push_back({static_cast<int>(v[0]), static_cast<int>(v[1]), v[2], v[3], v[4], v[5], v[6], v[7]});
    }
    return rows;
}

TEST(TransverseMercator, ReferenceTable) {
    const auto rows = readReference(std::string(DORMAL2K_REFERENCE_DIR) + "/transverse_mercator.csv");
    ASSERT_EQ(rows.size(), 1280u);
    double maxNorth = 0, maxEast = 0, maxLat = 0, maxDLon = 0;
    int bad = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const ReferenceRow& r = rows[i];
        const Ellipsoid e = tableEllipsoid(r.ellipsoid);
        const double p = tableScale(r.projection);
        const PlaneXY f = forwardDeg(r.latDeg, r.dlonDeg, e, p);
        const GeoLatDLon g = inverse(r.north, r.east, e, p);
        const double dn = std::fabs(f.tmNorth - r.north), de = std::fabs(f.tmEast - r.east);
        const double dlat = std::fabs(radToDeg(g.invLat) - r.invLatDeg);
        const double dlon = std::fabs(radToDeg(g.invDLon) - r.invDLonDeg);
        maxNorth = std::max(maxNorth, dn);
        maxEast = std::max(maxEast, de);
        maxLat = std::max(maxLat, dlat);
        maxDLon = std::max(maxDLon, dlon);
        if (dn > 1e-6 || de > 1e-6 || dlat > 1e-11 || dlon > 1e-11) {
            if (++bad <= 10) {
                ADD_FAILURE() << "row " << i + 1 << " (ellipsoid " << r.ellipsoid << ", zone " << r.projection
                              << ", lat " << r.latDeg << ", dlon " << r.dlonDeg << "): dN " << dn << " dE " << de
                              << " dLat " << dlat << " dDLon " << dlon;
            }
        }
    }
    EXPECT_EQ(bad, 0);
    std::cout << "reference table, " << rows.size() << " rows: max |dN| " << maxNorth << " m, |dE| " << maxEast
              << " m, |dLat| " << maxLat << " deg, |dDLon| " << maxDLon << " deg\n";
}

// Lattice over Italy (latitude 34 to 49) at the spread of each zone kind: +-3.5 deg around a
// Gauss-Boaga/UTM meridian (k0 0.9996), +-7 deg around the Fuso Italia meridian (k0 0.9985).
struct LatticeZone {
    const char* what;
    Ellipsoid e;
    double p;
    double halfWidthDeg;
};
constexpr LatticeZone kLatticeZones[] = {
    {"Hayford 0.9996", kHayford, kUtm, 3.5},
    {"GRS80 0.9996", kGrs80, kUtm, 3.5},
    {"Hayford 0.9985", kHayford, kItalia, 7.0},
    {"GRS80 0.9985", kGrs80, kItalia, 7.0},
};

template <class F> void forEachLatticePoint(double halfWidthDeg, F f) {
    for (int i = 0; i <= 60; ++i) {
        const double lat = 34.0 + 0.25 * i;
        for (int j = -28; j <= 28; ++j) {
            f(lat, halfWidthDeg * j / 28.0);
        }
    }
}

// The series against the exact projection: forward and inverse within 0.5 mm on the ground.
TEST(TransverseMercator, AgreesWithGeographicLibOverItaly) {
    for (const auto& z : kLatticeZones) {
        const Ellipsoid el = z.e;
        const GeographicLib::TransverseMercatorExact exact(el.a, el.f, z.p);
        double maxForward = 0, maxInverse = 0;
        forEachLatticePoint(z.halfWidthDeg, [&](double lat, double dlon) {
            double x = 0, y = 0;
            exact.Forward(0.0, lat, dlon, x, y);
            const PlaneXY f = forwardDeg(lat, dlon, z.e, z.p);
            maxForward = std::max(maxForward, std::hypot(f.tmNorth - y, f.tmEast - x));

            const GeoLatDLon g = inverse(y, x, z.e, z.p);
            const double dLatM = degToRad(radToDeg(g.invLat) - lat) * el.a;
            const double dLonM = degToRad(radToDeg(g.invDLon) - dlon) * el.a * std::cos(degToRad(lat));
            maxInverse = std::max(maxInverse, std::hypot(dLatM, dLonM));
        });
        EXPECT_LE(maxForward, 0.0005) << z.what;
        EXPECT_LE(maxInverse, 0.0005) << z.what;
        std::cout << z.what << " +-" << z.halfWidthDeg << " deg vs GeographicLib: forward " << maxForward * 1000
                  << " mm, inverse " << maxInverse * 1000 << " mm\n";
    }
}

// tmForward then tmInverse gives the point back: latitude within 2e-9 deg (0.2 mm),
// longitude difference within 3e-10 deg, up to 47.5 N (Italy ends at 47.1 N). The footpoint
// series makes the latitude error grow northward: 2.3e-9 deg at 49 N.
TEST(TransverseMercator, RoundTripOverItaly) {
    for (const auto& z : kLatticeZones) {
        double maxLat = 0, maxLon = 0;
        forEachLatticePoint(z.halfWidthDeg, [&](double lat, double dlon) {
            if (lat > 47.5) {
                return;
            }
            const PlaneXY f = forwardDeg(lat, dlon, z.e, z.p);
            const GeoLatDLon g = inverse(f.tmNorth, f.tmEast, z.e, z.p);
            maxLat = std::max(maxLat, std::fabs(radToDeg(g.invLat) - lat));
            maxLon = std::max(maxLon, std::fabs(radToDeg(g.invDLon) - dlon));
        });
        EXPECT_LE(maxLat, 2e-9) << z.what;
        EXPECT_LE(maxLon, 3e-10) << z.what;
        std::cout << z.what << " round trip: latitude " << maxLat << " deg, longitude " << maxLon << " deg\n";
    }
}

} // namespace
} // namespace dormal
