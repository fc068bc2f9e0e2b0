// Cost of a working set of portions: loading a folder of generated portions, and converting
// 1,000,000 points through a set of 100 and of 1,000 portions against the same points through
// one portion. ROMA40 geographic -> ETRF2000 geographic with heights (no projection, so the
// lookup weighs as much as it can). The portions are synthetic (made-up smooth values).
//
//   BM_LoadFolder/N              reading a folder of N sheet portions and indexing them
//   BM_Convert/0                 1,000,000 points inside the first sheet, the sheet alone
//   BM_Convert/N                 the same points through the set of N sheets
//   BM_ConvertSpread/N           1,000,000 points spread over the whole set of N sheets

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "conversion/point_conversion.h"
#include "geodesy/angles.h"
#include "geodesy/systems.h"
#include "geodesy/zones.h"
#include "grid/portion_set.h"
#include "tools/synthetic_grid.h"

namespace {

using namespace dormal;
namespace fs = std::filesystem;

constexpr int kPoints = 1000000;

// A folder of rows x cols neighbouring sheets, removed at exit.
struct Folder {
    fs::path path;
    explicit Folder(int count) {
        std::string tmpl = (fs::temp_directory_path() / "dormal2k-bench-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) {
            std::abort();
        }
        path = tmpl;
        const int cols = count >= 1000 ? 40 : 10;
        gridgen::PortionRecipe first;
        first.kind = PortionKind::Sheet;
        first.southLat = 38.0;
        first.westLon = 6.5;
        first.name = "1000";
        for (const gridgen::PortionRecipe& s : gridgen::mosaicRecipes(first, count / cols, cols)) {
            std::ofstream(path / gridgen::defaultFileName(s), std::ios::binary) << gridgen::portionText(s);
        }
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(path, ec);
    }
};

Folder& folder(int count) {
    static std::map<int, std::unique_ptr<Folder>> made;
    auto& f = made[count];
    if (!f) {
        f = std::make_unique<Folder>(count);
    }
    return *f;
}

const PortionSet& set(int count) {
    static std::map<int, PortionSetLoad> loaded;
    auto it = loaded.find(count);
    if (it == loaded.end()) {
        it = loaded.emplace(count, loadPortionSet({}, {folder(count).path.string()})).first;
    }
    return it->second.set;
}

// Points (gg.ppssdddd, ROMA40 longitudes from Monte Mario) uniformly within an area.
std::vector<PointInput> points(double south, double west, double north, double east) {
    std::mt19937_64 rng(42);
    std::uniform_real_distribution<double> lat(south, north), lon(west, east), h(0, 2000);
    std::vector<PointInput> p(kPoints);
    for (PointInput& q : p) {
        q = PointInput{degreesToSexagesimal(lat(rng)), degreesToSexagesimal(lon(rng) - romeMeridian()), h(rng)};
    }
    return p;
}

ConversionContext context() {
    ConversionContext c;
    c.sel = SelectionState{RefSystem::Roma40, CoordKind::Geographic, Zone::Auto, RefSystem::Etrf2000, CoordKind::Geographic, Zone::Auto};
    c.heights = true;
    return c;
}

void convertAll(benchmark::State& state, const ConversionContext& ctx, const std::vector<PointInput>& pts) {
    long converted = 0;
    for (auto _ : state) {
        for (const PointInput& p : pts) {
            const PointResult r = convertPoint(ctx, p, RunKind::Batch);
            converted += r.status == PointStatus::Converted ? 1 : 0;
        }
    }
    benchmark::DoNotOptimize(converted);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kPoints);
    state.counters["converted"] = static_cast<double>(converted) / static_cast<double>(state.iterations());
}

void BM_LoadFolder(benchmark::State& state) {
    const std::string path = folder(static_cast<int>(state.range(0))).path.string();
    for (auto _ : state) {
        PortionSetLoad r = loadPortionSet({}, {path});
        benchmark::DoNotOptimize(r.set.size());
    }
}
BENCHMARK(BM_LoadFolder)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_Convert(benchmark::State& state) {
    const PortionSet& s = set(1000);
    const ZoneLimits& z = s.limits(0);
    static const std::vector<PointInput> inFirst = points(z.south, z.west, z.north, z.east);
    ConversionContext ctx = context();
    ctx.portion = &s.portion(0);
    ctx.limits = &z;
    if (state.range(0) != 0) {
        ctx.set = &set(static_cast<int>(state.range(0)));
    }
    convertAll(state, ctx, inFirst);
}
BENCHMARK(BM_Convert)->Arg(0)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

void BM_ConvertSpread(benchmark::State& state) {
    const PortionSet& s = set(static_cast<int>(state.range(0)));
    const SetBounds b = s.bounds();
    const std::vector<PointInput> spread = points(b.south, b.west, b.north, b.east);
    ConversionContext ctx = context();
    ctx.set = &s;
    ctx.portion = &s.portion(0);
    ctx.limits = &s.limits(0);
    convertAll(state, ctx, spread);
}
BENCHMARK(BM_ConvertSpread)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
