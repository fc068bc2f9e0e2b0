// Cost of one projection call, forward and inverse, over points spread across Italy so that
// nothing folds into a constant and every branch of the input range is exercised.

#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>

#include "geodesy/angles.h"
#include "geodesy/codes.h"
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
std::array<Sample, kPoints> makeSamples(dormal::EllipsoidCode e, dormal::ProjectionCode p) {
    std::array<Sample, kPoints> s{};
    unsigned state = 12345u;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return static_cast<double>((state >> 8) & 0xFFFFu) / 65535.0;
    };
    for (auto& x : s) {
        x.phi = dormal::degToRad(36.0 + 11.0 * next());
        x.dlon = dormal::degToRad(-3.5 + 7.0 * next());
        const dormal::PlaneXY xy = dormal::tmForward(x.phi, x.dlon, e, p);
        x.north = xy.tmNorth;
        x.east = xy.tmEast;
    }
    return s;
}

void BM_TmForward(benchmark::State& state) {
    const auto e = static_cast<dormal::EllipsoidCode>(state.range(0));
    const auto p = static_cast<dormal::ProjectionCode>(state.range(1));
    const auto samples = makeSamples(e, p);
    std::size_t i = 0;
    for (auto _ : state) {
        const Sample& s = samples[i++ & (kPoints - 1)];
        benchmark::DoNotOptimize(dormal::tmForward(s.phi, s.dlon, e, p));
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_TmInverse(benchmark::State& state) {
    const auto e = static_cast<dormal::EllipsoidCode>(state.range(0));
    const auto p = static_cast<dormal::ProjectionCode>(state.range(1));
    const auto samples = makeSamples(e, p);
    std::size_t i = 0;
    for (auto _ : state) {
        const Sample& s = samples[i++ & (kPoints - 1)];
        benchmark::DoNotOptimize(dormal::tmInverse(s.north, s.east, e, p));
    }
    state.SetItemsProcessed(state.iterations());
}

// Arguments: ellipsoid code (0 International 1924, 2 GRS80), zone code (1 UTM/Gauss-Boaga, 4 Fuso Italia).
BENCHMARK(BM_TmForward)->Args({0, 1})->Args({2, 1})->Args({2, 4});
BENCHMARK(BM_TmInverse)->Args({0, 1})->Args({2, 1})->Args({2, 4});

} // namespace

BENCHMARK_MAIN();
