#include "geodesy/angles.h"

#include <cmath>

namespace dormal {

namespace {
// sign(x): -1, 0 or +1.
double sgn(double x) { return x > 0 ? 1.0 : (x < 0 ? -1.0 : 0.0); }
} // namespace

double sexagesimalToDegrees(double p) {
    const double x = std::fabs(p) + 0.00000000001;
    const double deg = wholePart(x);
    const double min = (wholePart(x * 100) - wholePart(x) * 100) / 60;
    const double sec = (x * 100 - wholePart(x * 100)) / 36;
    const double r = (min + deg) + sec;
    return sgn(p) * r;
}

double degreesToSexagesimal(double p) {
    const double v = std::fabs(p);
    const double f = v - wholePart(v);
    const double min0 = wholePart(f * 60);
    const double sec0 = (f * 60 - min0) * 60;
    const double deg0 = wholePart(v);
    double min1 = min0;
    double sec1 = sec0;
    if (sec0 >= 59.99995) {
        min1 = min0 + 1;
        sec1 = 0;
    }
    double min2 = min1;
    double deg1 = deg0;
    if (min1 == 60) {
        min2 = 0;
        deg1 = deg0 + 1;
    }
    const double r = (min2 / 100 + deg1) + sec1 / 10000;
    return sgn(p) * r;
}

double degreesToSexagesimalMinutes(double p) {
    const double v = std::fabs(p);
    const double f = v - wholePart(v);
    double min = wholePart(f * 60);
    const double sec = (f * 60 - min) * 60;
    double deg = wholePart(v);
    if (sec > 30) {
        min += 1;
    }
    if (min == 60) {
        min = 0;
        deg += 1;
    }
    return sgn(p) * (min / 100 + deg);
}

} // namespace dormal
