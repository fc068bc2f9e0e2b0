// Time of the datum chain per point, for its longest chains (six interpolations and more),
// on the sample map-sheet portion. Read the result as ns per point (time / items).

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "geodesy/systems.h"
#include "grid/datum_transform.h"
#include "grid/grid_portion.h"
#include "grid/interpolation.h"
#include "grid/zone_limits.h"

namespace {

using namespace dormal;

struct Point {
    double lat, lon, h;
};

const GridPortion& samplePortion() {
    static const GridPortion g = [] {
        GridLoadResult r = loadGridPortion(DORMAL2K_SAMPLES_DIR, "0245.GK2");
        if (!r.ok()) {
            std::fprintf(stderr, "cannot read the sample portion 0245.GK2\n");
            std::exit(1);
        }
        return *r.portion;
    }();
    return g;
}

// Points spread over the area the portion lets the user convert.
const std::vector<Point>& samplePoints() {
    static const std::vector<Point> points = [] {
        const ZoneLimits z = computeZoneLimits(samplePortion(), RefSystem::Etrf89);
        std::mt19937 rng(11);
        std::uniform_real_distribution<double> lat(z.south, z.north), lon(z.west, z.east), h(0, 2500);
        std::vector<Point> p(4096);
        for (Point& q : p) {
            q = {lat(rng), lon(rng), h(rng)};
        }
        return p;
    }();
    return points;
}

void chain(benchmark::State& state, RefSystem in, RefSystem out) {
    const GridPortion& g = samplePortion();
    const std::vector<Point>& points = samplePoints();
    std::size_t i = 0;
    for (auto _ : state) {
        const Point& p = points[i];
        i = (i + 1) % points.size();
        DatumResult r = transformDatum(g, p.lat, p.lon, p.h, in, out);
        benchmark::DoNotOptimize(r.outLat);
        benchmark::DoNotOptimize(r.outHeight);
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_TrasfoEd50ToEtrf2000(benchmark::State& state) {
    chain(state, RefSystem::Ed50, RefSystem::Etrf2000);
}
void BM_TrasfoEtrf2000ToEd50(benchmark::State& state) {
    chain(state, RefSystem::Etrf2000, RefSystem::Ed50);
}
void BM_TrasfoRoma40ToEtrf89(benchmark::State& state) {
    chain(state, RefSystem::Roma40, RefSystem::Etrf89);
}

// One interpolation, for scale.
void BM_InterRo(benchmark::State& state) {
    const GridPortion& g = samplePortion();
    const std::vector<Point>& points = samplePoints();
    std::size_t i = 0;
    for (auto _ : state) {
        const Point& p = points[i];
        i = (i + 1) % points.size();
        ShiftResult s = interpolateRoma40Shift(g, p.lat, p.lon, Roma40Grid::ToEtrf89);
        benchmark::DoNotOptimize(s.shiftLat);
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_TrasfoEd50ToEtrf2000);
BENCHMARK(BM_TrasfoEtrf2000ToEd50);
BENCHMARK(BM_TrasfoRoma40ToEtrf89);
BENCHMARK(BM_InterRo);
BENCHMARK_MAIN();
