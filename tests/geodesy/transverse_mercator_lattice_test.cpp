// The projection series against their term-by-term form (std::sin, std::cos and std::tan of
// every angle, every power a product of its own): within a nanometre over a lattice that
// covers Italy and three degrees beyond, for every ellipsoid and projection the system uses.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "geodesy/angles.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/transverse_mercator.h"

namespace dormal {
namespace {

// The series as they were written term by term: the yardstick.
inline double pw(double x, int k) {
    double r = x;
    for (int i = 1; i < k; ++i) {
        r *= x;
    }
    return r;
}

// Scaled ellipsoid of a projection call: A = a*k0, B = A - f*A, e2 = (A^2 - B^2)/A^2.
struct ScaledEllipsoid {
    double A;
    double e2;
};

ScaledEllipsoid scaledEllipsoid(const Ellipsoid& el, double k0) {
    const double A = el.a * k0;
    const double B = A - el.f * A;
    const double e2 = (pw(A, 2) - pw(B, 2)) / pw(A, 2);
    return {A, e2};
}

double refMeridianArc(double phi, double A, double e2) {
    const double e4 = pw(e2, 2);
    const double e6 = pw(e2, 3);
    const double A0 = 1.0 - e2 / 4.0 - 3.0 * e4 / 64.0 - 5.0 * e6 / 256.0;
    const double A2 = 3.0 * e2 / 8.0 + 3.0 * e4 / 32.0 + 45.0 * e6 / 1024.0;
    const double A4 = 15.0 * e4 / 256.0 + 45.0 * e6 / 1024.0;
    const double A6 = 35.0 * e6 / 3072.0;
    return A * (A0 * phi - A2 * std::sin(2.0 * phi) + A4 * std::sin(4.0 * phi) - A6 * std::sin(6.0 * phi));
}

PlaneXY refForward(const Ellipsoid& ellipsoid, double k0, double phi, double l) {
    const auto [A, e2] = scaledEllipsoid(ellipsoid, k0);

    const double s = std::sin(phi);
    const double c = std::cos(phi);
    const double t = std::tan(phi);
    // Prime-vertical radius, already scaled by k0.
    const double N = A / std::sqrt(1.0 - e2 * pw(s, 2));
    const double ep = std::sqrt(e2 / (1.0 - e2)); // second eccentricity e'
    const double eta = c * ep;

    const double t2 = pw(t, 2), t4 = pw(t, 4), t6 = pw(t, 6), t8 = pw(t, 8), t10 = pw(t, 10);
    const double h2 = pw(eta, 2), h4 = pw(eta, 4), h6 = pw(eta, 6), h8 = pw(eta, 8), h10 = pw(eta, 10);

    const double M = refMeridianArc(phi, A, e2);

    // Northing coefficients: N*s*c^k/k! times a polynomial in t^2 and eta^2.
    const double P2 = (1.0 / 2.0) * N * s * c * (1.0);
    const double P4 = (1.0 / 24.0) * N * s * pw(c, 3) * (5.0 - t2 + 9.0 * h2 + 4.0 * h4);
    const double P6 = (1.0 / 720.0) * N * s * pw(c, 5) *
                      (61.0 - 58.0 * t2 + t4 + 270.0 * h2 - 330.0 * t2 * h2 + 445.0 * h4 - 680.0 * t2 * h4 +
                       324.0 * h6 - 600.0 * t2 * h6 + 88.0 * h8 - 192.0 * t2 * h8);
    const double P8 = (1.0 / 40320.0) * N * s * pw(c, 7) *
                      (1385.0 - 3111.0 * t2 + 543.0 * t4 - t6 + 10899.0 * h2 - 32802.0 * t2 * h2 + 9219.0 * t4 * h2 +
                       34419.0 * h4 - 129087.0 * t2 * h4 + 49644.0 * t4 * h4 + 56385.0 * h6 - 252084.0 * t2 * h6 +
                       121800.0 * t4 * h6 + 53740.0 * h8 - 310408.0 * t2 * h8 - 200256.0 * t4 * h8);
    const double P10 = (1.0 / 3628800.0) * N * s * pw(c, 9) *
                       (50521.0 - 206276.0 * t2 + 101166.0 * t4 - 4916.0 * t6 + t8 + 612540.0 * h2 -
                        3277980.0 * t2 * h2 + 2402100.0 * t4 * h2 - 239220.0 * t6 * h2 + 3043190.0 * h4 -
                        19954380.0 * t2 * h4 + 19210830.0 * t4 * h4 - 2879440.0 * t6 * h4);
    const double P12 = (1.0 / 479001600.0) * N * s * pw(c, 11) *
                       (2702765.0 - 17460701.0 * t2 + 16535834.0 * t4 - 2996242.0 * t6 + 221257.0 * t8 - t10);

    // Easting coefficients: N*c^k/k! times a polynomial in t^2 and eta^2.
    const double Q1 = N * c * (1.0);
    const double Q3 = (1.0 / 6.0) * N * pw(c, 3) * (1.0 - t2 + h2);
    const double Q5 =
        (1.0 / 120.0) * N * pw(c, 5) *
        (5.0 - 18.0 * t2 + t4 + 14.0 * h2 - 58.0 * t2 * h2 + 13.0 * h4 - 64.0 * t2 * h4 + 4.0 * h6 - 24.0 * t2 * h6);
    const double Q7 =
        (1.0 / 5040.0) * N * pw(c, 7) *
        (61.0 - 479.0 * t2 + 179.0 * t4 - t6 + 331.0 * h2 - 3298.0 * t2 * h2 + 1771.0 * t4 * h2 + 715.0 * h4 -
         8655.0 * t2 * h4 + 6080.0 * t4 * h4 + 769.0 * h6 - 10964.0 * t2 * h6 + 9480.0 * t4 * h6 + 412.0 * h8 -
         6760.0 * t2 * h8 + 6912.0 * t4 * h8 + 88.0 * h10 - 1632.0 * t2 * h10 + 1920.0 * t4 * h10);
    const double Q9 =
        (1.0 / 362880.0) * N * pw(c, 9) *
        (1385.0 - 19028.0 * t2 + 18270.0 * t4 - 1636.0 * t6 + t8 + 12284.0 * h2 - 214140.0 * t2 * h2 +
         290868.0 * t4 * h2 - 47188.0 * t6 * h2 + 45318.0 * h4 - 951468.0 * t2 * h4 + 1652910.0 * t4 * h4 -
         384384.0 * t6 * h4 + 90804.0 * h6 - 2220708.0 * t2 * h6 + 4662840.0 * t4 * h6 - 1394064.0 * t6 * h6);
    const double Q11 = (1.0 / 39916800.0) * N * pw(c, 11) *
                       (50521.0 - 1073517.0 * t2 + 1949762.0 * t4 - 481250.0 * t6 + 73749.0 * t8 - t10 + 663061.0 * h2 -
                        17594876.0 * t2 * h2 + 43255806.0 * t4 * h2 - 23673524.0 * t6 * h2 + 1264933.0 * t8 * h2);

    PlaneXY r;
    r.tmNorth = M + P2 * pw(l, 2) + P4 * pw(l, 4) + P6 * pw(l, 6) + P8 * pw(l, 8) + P10 * pw(l, 10) + P12 * pw(l, 12);
    r.tmEast = Q1 * l + Q3 * pw(l, 3) + Q5 * pw(l, 5) + Q7 * pw(l, 7) + Q9 * pw(l, 9) + Q11 * pw(l, 11);
    return r;
}

GeoLatDLon refInverse(const Ellipsoid& ellipsoid, double k0, double north, double east) {
    const double PI = pi();
    const auto [A, e2] = scaledEllipsoid(ellipsoid, k0);
    const double ep2 = e2 / (1.0 - e2);
    const double ep = std::sqrt(ep2);

    const double e1 = (1.0 - std::sqrt(1.0 - e2)) / (std::sqrt(1.0 - e2) + 1.0);

    // Quarter meridian (A0 of the meridian arc times A times pi/2), then the rectifying latitude.
    const double Q = (1.0 - e2 / 4.0 - 3.0 * pw(e2, 2) / 64.0 - 5.0 * pw(e2, 3) / 256.0) * A * (PI / 2.0);
    const double mu = PI * north / (2.0 * Q);

    // Footpoint latitude.
    const double phi1 = mu + (3.0 * e1 / 2.0 - 27.0 * pw(e1, 3) / 32.0) * std::sin(2.0 * mu) +
                        (21.0 * pw(e1, 2) / 16.0 - 55.0 * pw(e1, 4) / 32.0) * std::sin(4.0 * mu) +
                        (151.0 * pw(e1, 3) / 96.0) * std::sin(6.0 * mu) +
                        (1097.0 * pw(e1, 4) / 512.0) * std::sin(8.0 * mu);

    const double N1 = A / std::sqrt(1.0 - e2 * pw(std::sin(phi1), 2));
    const double c = std::cos(phi1);
    const double eta = c * ep;
    const double t = std::tan(phi1);

    const double t2 = pw(t, 2), t4 = pw(t, 4), t6 = pw(t, 6), t8 = pw(t, 8), t10 = pw(t, 10);
    const double h2 = pw(eta, 2), h4 = pw(eta, 4), h6 = pw(eta, 6), h8 = pw(eta, 8), h10 = pw(eta, 10);

    const double x = east / N1;

    // Latitude coefficients.
    const double L2 = (-t / 2.0) * (1.0 + h2);
    const double L4 = (t / 24.0) * (5.0 + 3.0 * t2 + 6.0 * h2 - 6.0 * t2 * h2 - 3.0 * h4 - 9.0 * t2 * h4 - 4.0 * h6);
    const double L6 = (-t / 720.0) * (61.0 + 90.0 * t2 + 45.0 * t4 + 107.0 * h2 - 162.0 * t2 * h2 - 45.0 * t4 * h2 +
                                      43.0 * h4 - 318.0 * t2 * h4 + 135.0 * t4 * h4 + 97.0 * h6 + 18.0 * t2 * h6 +
                                      225.0 * t4 * h6 + 188.0 * h8 - 108.0 * t2 * h8 + 88.0 * h10 - 192.0 * t2 * h10);
    const double L8 =
        (t / 40320.0) * (1385.0 + 3633.0 * t2 + 4095.0 * t4 + 1575.0 * t6 + 3116.0 * h2 - 5748.0 * t2 * h2 -
                         3276.0 * t4 * h2 - 1260.0 * t6 * h2 + 1158.0 * h4 - 17826.0 * t2 * h4 + 12954.0 * t4 * h4 +
                         1890.0 * t6 * h4 - 3500.0 * h6 + 1164.0 * t2 * h6 + 30876.0 * t4 * h6 - 6300.0 * t6 * h6 -
                         11735.0 * h8 + 29001.0 * t2 * h8 + 3519.0 * t4 * h8 - 11025.0 * t6 * h8);
    const double L10 = (-t / 3628800.0) * (50521.0 + 204180.0 * t2 + 383670.0 * t4 + 321300.0 * t6 + 99225.0 * t8 +
                                           138933.0 * h2 + 264684.0 * t2 * h2 - 211410.0 * t4 * h2 -
                                           192780.0 * t6 * h2 - 70875.0 * t8 * h2 + 97362.0 * h4 - 1265040.0 * t2 * h4 +
                                           777024.0 * t4 * h4 + 354240.0 * t6 * h4 + 85050.0 * t8 * h4);
    const double L12 = (t / 479001600.0) * (2702765.0 + 15487263.0 * t2 + 42660090.0 * t4 + 57900150.0 * t6 +
                                            38201625.0 * t8 + 9823275.0 * t10);

    // Longitude coefficients, each divided by c.
    const double D1 = 1.0 / c * (1.0);
    const double D3 = -1.0 / (6.0 * c) * (1.0 + 2.0 * t2 + h2);
    const double D5 =
        1.0 / (120.0 * c) *
        (5.0 + 28.0 * t2 + 24.0 * t4 + 6.0 * h2 + 8.0 * t2 * h2 - 3.0 * h4 + 4.0 * t2 * h4 - 4.0 * h6 + 24.0 * t2 * h6);
    const double D7 =
        -1.0 / (5040.0 * c) *
        (61.0 + 662.0 * t2 + 1320.0 * t4 + 720.0 * t6 + 107.0 * h2 + 440.0 * t2 * h2 + 336.0 * t4 * h2 + 43.0 * h4 -
         234.0 * t2 * h4 - 192.0 * t4 * h4 + 97.0 * h6 - 772.0 * t2 * h6 + 408.0 * t4 * h6 + 188.0 * h8 -
         2392.0 * t2 * h8 + 1536.0 * t4 * h8 + 88.0 * h10 - 1632.0 * t2 * h10 + 1920.0 * t4 * h10);
    const double D9 =
        1.0 / (362880.0 * c) *
        (1385.0 + 24568.0 * t2 + 83664.0 * t4 + 100800.0 * t6 + 40320.0 * t8 + 3116.0 * h2 + 26736.0 * t2 * h2 +
         47808.0 * t4 * h2 + 24192.0 * t6 * h2 + 1158.0 * h4 - 4944.0 * t2 * h4 - 20736.0 * t4 * h4 -
         13824.0 * t6 * h4 - 3500.0 * h6 + 27104.0 * t2 * h6 + 576.0 * t4 * h6 + 9216.0 * t6 * h6);
    const double D11 =
        -1.0 / (39916800.0 * c) *
        (50521.0 + 1326122.0 * t2 + 6749040.0 * t4 + 13335840.0 * t6 + 11491200.0 * t8 + 3628800.0 * t10 +
         138933.0 * h2 + 2036560.0 * t2 * h2 + 6269472.0 * t4 * h2 + 7032960.0 * t6 * h2 + 2661120.0 * t8 * h2);

    // Horner in x^2, innermost level first. x^2 is the square of E/N1, the same value at every level.
    const double x2 = x * x;
    GeoLatDLon r;
    r.invLat = phi1 + x2 * (L2 + x2 * (L4 + x2 * (L6 + x2 * (L8 + x2 * (L10 + x2 * L12)))));
    r.invDLon = x * (D1 + x2 * (D3 + x2 * (D5 + x2 * (D7 + x2 * (D9 + x2 * D11)))));
    return r;
}


TEST(TransverseMercatorLattice, WithinANanometreOfTheTermByTermSeries) {
    const Ellipsoid ellipsoids[] = {kInternational1924, kGrs80};
    const double scales[] = {0.9996, 0.9985}; // UTM and Gauss-Boaga; "Fuso Italia"
    const double kMetresPerRadian = 6.4e6;
    double worstForward = 0, worstInverse = 0;
    for (const Ellipsoid& e : ellipsoids) {
        for (const double p : scales) {
            for (double lat = 30.0; lat <= 50.0; lat += 0.037) {
                for (double dlon = -9.0; dlon <= 9.0; dlon += 0.061) {
                    const double phi = degToRad(lat), l = degToRad(dlon);
                    const PlaneXY got = tmForward(e, p, phi, l);
                    const PlaneXY want = refForward(e, p, phi, l);
                    worstForward = std::max({worstForward, std::fabs(got.tmNorth - want.tmNorth),
                                             std::fabs(got.tmEast - want.tmEast)});
                    const GeoLatDLon back = tmInverse(e, p, want.tmNorth, want.tmEast);
                    const GeoLatDLon wantBack = refInverse(e, p, want.tmNorth, want.tmEast);
                    worstInverse = std::max({worstInverse, std::fabs(back.invLat - wantBack.invLat) * kMetresPerRadian,
                                             std::fabs(back.invDLon - wantBack.invDLon) * kMetresPerRadian});
                    ASSERT_LT(worstForward, 1e-9) << lat << " " << dlon << " a " << e.a << " k0 " << p;
                    ASSERT_LT(worstInverse, 1e-9) << lat << " " << dlon << " a " << e.a << " k0 " << p;
                }
            }
        }
    }
}

TEST(TransverseMercatorLattice, MeridianArcWithinANanometre) {
    const double A = 6378388.0 * 0.9996, e2 = 0.0067226700223333;
    for (double lat = -89.0; lat <= 89.0; lat += 0.013) {
        const double phi = degToRad(lat);
        ASSERT_NEAR(meridianArc(phi, A, e2), refMeridianArc(phi, A, e2), 1e-9) << lat;
    }
}

} // namespace
} // namespace dormal
