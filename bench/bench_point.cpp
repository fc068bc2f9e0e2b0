// Time of converting one point (convertPoint), without reading or writing files.
//
//   FullChain: ROMA40 Gauss-Boaga (automatic zone) -> ETRF2000 UTM (automatic zone) with
//              heights: tmInverse, grid-coverage test, transformDatum (ROMA40->ETRF89 grid, geoid,
//              ETRF89->ETRF2000 grids), tmForward.
//   ProjectionOnly: ETRF2000 UTM 32 -> UTM 33, no grid.
// Points are spread over one synthetic vertex portion (smooth made-up values, not real
// corrections). Items per second is points per second.

#include <cmath>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "conversion/data_source.h"
#include "conversion/point_conversion.h"
#include "conversion/result_writer.h"
#include "geodesy/angles.h"
#include "geodesy/zones.h"
#include "grid/grid_portion.h"
#include "grid/interpolation.h"
#include "grid/zone_limits.h"

namespace {

using namespace dormal;

// A vertex portion with values that vary from node to node (seconds of arc, metres).
GridPortion syntheticPortion(double lat0, double lon0) {
    GridPortion g;
    g.kind = PortionKind::Vertex;
    g.planNodeCount = 16;
    g.geoidNodeCount = 80;
    g.planNodesPerRow = 4;
    g.geoidNodesPerRow = 10;
    for (std::size_t k = 1; k <= 16; ++k) {
        const double t = static_cast<double>(k);
        g.roEdDLat[k] = 5.0 + 0.01 * std::sin(t);
        g.roEdDLon[k] = 2.5 + 0.01 * std::cos(t);
        g.roE89DLat[k] = 2.35 + 0.02 * std::sin(0.7 * t);
        g.roE89DLon[k] = -0.65 + 0.02 * std::cos(0.3 * t);
        g.e89E2000DLat[k] = 0.0003 * std::sin(t);
        g.e89E2000DLon[k] = 0.0004 * std::cos(t);
        g.e89E2000DH[k] = 0.02 + 0.005 * std::sin(t);
    }
    for (std::size_t k = 1; k <= 80; ++k) {
        g.geoidN[k] = 45.0 + 0.5 * std::sin(0.1 * static_cast<double>(k));
    }
    g.planOriginLat = g.e2000OriginLat = lat0;
    g.planOriginLon = g.e2000OriginLon = lon0;
    g.geoidOriginLat = lat0 + sexagesimalToDegrees(0.0030);
    g.geoidOriginLon = lon0 + sexagesimalToDegrees(0.02);
    g.geoidTopLat = g.geoidOriginLat + sexagesimalToDegrees(0.14);
    prepareInterpolation(g); // as when a portion is read from its file
    return g;
}

SelectionState sel(RefSystem inSys, CoordKind inKind, Zone inZone, RefSystem outSys, CoordKind outKind, Zone outZone) {
    SelectionState s;
    s.inputSystem = inSys;
    s.inputKind = inKind;
    s.inputZone = inZone;
    s.outputSystem = outSys;
    s.outputKind = outKind;
    s.outputZone = outZone;
    return s;
}

// Plane points of one system and zone, spread over the common area of the limits.
std::vector<PointInput> planePointsOver(const ZoneLimits& z, RefSystem system, Zone zone) {
    ConversionContext toPlane;
    toPlane.sel = sel(system, CoordKind::Geographic, Zone::OvestOr32, system, CoordKind::Plane, zone);
    const double mm = system == RefSystem::Roma40 ? romeMeridian() : 0.0;
    std::vector<PointInput> pts;
    constexpr int kSide = 64;
    for (int i = 0; i < kSide; ++i) {
        for (int j = 0; j < kSide; ++j) {
            const double lat = z.south + (z.north - z.south) * (i + 0.5) / kSide;
            const double lon = z.west + (z.east - z.west) * (j + 0.5) / kSide - mm;
            const PointResult p = convertPoint(toPlane, {degreesToSexagesimal(lat), degreesToSexagesimal(lon), 0}, RunKind::Batch);
            pts.push_back({p.outFirst, p.outSecond, 150.0 + i});
        }
    }
    return pts;
}

void runPoints(benchmark::State& state, const ConversionContext& ctx, const std::vector<PointInput>& pts,
               RunKind kind) {
    std::size_t i = 0;
    long converted = 0;
    for (auto _ : state) {
        const PointResult r = convertPoint(ctx, pts[i], kind);
        benchmark::DoNotOptimize(r.outFirst);
        benchmark::DoNotOptimize(r.outSecond);
        converted += r.status == PointStatus::Converted;
        i = i + 1 == pts.size() ? 0 : i + 1;
    }
    state.SetItemsProcessed(state.iterations());
    state.counters["converted"] = benchmark::Counter(static_cast<double>(converted) / state.iterations());
    state.counters["ns/point"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void FullChain(benchmark::State& state, RunKind kind) {
    const GridPortion g = syntheticPortion(43.70, 11.10);
    const ZoneLimits z = computeZoneLimits(g, RefSystem::Roma40);
    ConversionContext ctx;
    ctx.sel = sel(RefSystem::Roma40, CoordKind::Plane, Zone::Auto, RefSystem::Etrf2000, CoordKind::Plane, Zone::Auto);
    ctx.heights = true;
    ctx.portion = &g;
    ctx.limits = &z;
    const std::vector<PointInput> pts = planePointsOver(z, RefSystem::Roma40, Zone::OvestOr32);
    runPoints(state, ctx, pts, kind);
}

void BM_FullChain_Roma40GB_to_Etrf2000UTM_heights(benchmark::State& state) {
    FullChain(state, RunKind::Batch);
}
void BM_FullChain_SinglePoint(benchmark::State& state) {
    FullChain(state, RunKind::SinglePoint);
}

void BM_ProjectionOnly_Etrf2000_UTM32_to_UTM33(benchmark::State& state) {
    const GridPortion g = syntheticPortion(43.70, 11.10);
    const ZoneLimits z = computeZoneLimits(g, RefSystem::Etrf2000);
    ConversionContext ctx;
    ctx.sel = sel(RefSystem::Etrf2000, CoordKind::Plane, Zone::OvestOr32, RefSystem::Etrf2000, CoordKind::Plane,
                  Zone::EstOr33);
    const std::vector<PointInput> pts = planePointsOver(z, RefSystem::Etrf2000, Zone::OvestOr32);
    runPoints(state, ctx, pts, RunKind::Batch);
}

// The reading and writing the batch converter does around each point, measured alone, to
// show where the time of a whole run goes.

// Reading ASCII lines "name North East height" (the data of the full-chain run).
void BM_AsciiRead_PlaneWithHeight(benchmark::State& state) {
    std::string text;
    char line[96];
    for (int i = 0; i < 100000; ++i) {
        std::snprintf(line, sizeof line, "G%d %.3f %.3f %d\n", i, 4600000.0 + i * 0.37, 2510000.0 + i * 0.11,
                      100 + i % 500);
        text += line;
    }
    DataReadOptions opt;
    opt.inputKind = CoordKind::Plane;
    opt.readHeight = true;
    long points = 0;
    for (auto _ : state) {
        std::istringstream in(text);
        const std::unique_ptr<DataSource> src = makeAsciiSource(in, opt);
        ReadEvent ev;
        for (src->next(ev); ev.kind != ReadEvent::Kind::End; src->next(ev)) {
            ++points;
        }
    }
    state.SetItemsProcessed(points);
}

// Writing report lines of plane output with heights and automatic zone (the report of the
// full-chain run) to a stream that discards them.
void BM_AsciiReportWrite_PlaneWithHeight(benchmark::State& state) {
    std::ostringstream sink;
    const std::unique_ptr<ResultWriter> w = makeAsciiReportWriter(sink);
    ResultHeader h;
    h.sel = sel(RefSystem::Roma40, CoordKind::Plane, Zone::Auto, RefSystem::Etrf2000, CoordKind::Plane, Zone::Auto);
    h.heights = true;
    const GridPortion g = syntheticPortion(43.70, 11.10);
    h.portion = &g;
    w->writeHeader(h);
    DataPoint in{"G123456", 4612345.678, 2523456.789, 123.0};
    PointResult r;
    r.outFirst = 4612330.123;
    r.outSecond = 503456.456;
    r.hasHeight = true;
    r.outHeight = 170.321;
    r.zoneText = "33";
    long i = 0;
    for (auto _ : state) {
        r.outFirst += 0.001;
        r.outSecond += 0.003;
        w->writePoint(in, r);
        if (++i % 100000 == 0) {
            sink.str(std::string());
        }
    }
    state.SetItemsProcessed(state.iterations());
}

} // namespace

BENCHMARK(BM_AsciiRead_PlaneWithHeight);
BENCHMARK(BM_AsciiReportWrite_PlaneWithHeight);
BENCHMARK(BM_FullChain_Roma40GB_to_Etrf2000UTM_heights);
BENCHMARK(BM_FullChain_SinglePoint);
BENCHMARK(BM_ProjectionOnly_Etrf2000_UTM32_to_UTM33);

BENCHMARK_MAIN();
