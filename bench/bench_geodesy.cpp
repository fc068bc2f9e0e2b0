// Cost of one projection call, forward and inverse, over points spread across Italy so that
// nothing folds into a constant and every branch of the input range is exercised.

#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>

#include "geodesy/angles.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/transverse_mercator.h"

namespace {

constexpr std::size_t kPoints = 1024; // a power of two: the index wraps with a mask

struct Sample {
    double phi;         // latitude, radians
    double dlon;        // longitude minus the central meridian, radians
    double north, east; // the same point projected, metres (no false easting)
};

// Latitudes 36 to 47 N, longitude differences -3.5 to +3.5 deg, from a small linear
// congruential sequence (fixed seed, so runs compare).
std::array<Sample, kPoints> makeSamples(const dormal::Ellipsoid& e, double k0) {
    std::array<Sample, kPoints> s{};
    unsigned state = 12345u;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return static_cast<double>((state >> 8) & 0xFFFFu) / 65535.0;
    };
    for (auto& x : s) {
        x.phi = dormal::degToRad(36.0 + 11.0 * next());
        x.dlon = dormal::degToRad(-3.5 + 7.0 * next());
        const dormal::PlaneXY xy = dormal::tmForward(e, k0, x.phi, x.dlon);
        x.north = xy.tmNorth;
        x.east = xy.tmEast;
    }
    return s;
}

// The benchmark arguments: ellipsoid 0 International 1924, 2 GRS80; zone 1 UTM/Gauss-Boaga
// (k0 0.9996), 4 Fuso Italia (k0 0.9985).
dormal::Ellipsoid ellipsoidArg(std::int64_t arg) {
    return arg == 0 ? dormal::kInternational1924 : dormal::kGrs80;
}
double scaleArg(std::int64_t arg) {
    return arg == 4 ? 0.9985 : 0.9996;
}

void BM_TmForward(benchmark::State& state) {
    const dormal::Ellipsoid e = ellipsoidArg(state.range(0));
    const double k0 = scaleArg(state.range(1));
    const auto samples = makeSamples(e, k0);
    std::size_t i = 0;
    for (auto _ : state) {
        const Sample& s = samples[i++ & (kPoints - 1)];
        benchmark::DoNotOptimize(dormal::tmForward(e, k0, s.phi, s.dlon));
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_TmInverse(benchmark::State& state) {
    const dormal::Ellipsoid e = ellipsoidArg(state.range(0));
    const double k0 = scaleArg(state.range(1));
    const auto samples = makeSamples(e, k0);
    std::size_t i = 0;
    for (auto _ : state) {
        const Sample& s = samples[i++ & (kPoints - 1)];
        benchmark::DoNotOptimize(dormal::tmInverse(e, k0, s.north, s.east));
    }
    state.SetItemsProcessed(state.iterations());
}

// Arguments: ellipsoid (0 International 1924, 2 GRS80), zone (1 UTM/Gauss-Boaga, 4 Fuso Italia).
BENCHMARK(BM_TmForward)->Args({0, 1})->Args({2, 1})->Args({2, 4});
BENCHMARK(BM_TmInverse)->Args({0, 1})->Args({2, 1})->Args({2, 4});

} // namespace

BENCHMARK_MAIN();
