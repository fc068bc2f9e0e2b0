// A 200 MB ASCII data file through dormal2k-batch: every point converted and counted, and
// the program's peak memory stays small whatever the size of the file (it works in blocks).

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli_support.h"
#include "conversion/point_conversion.h"
#include "geodesy/angles.h"
#include "geodesy/zones.h"
#include "grid/grid_portion.h"
#include "grid/zone_limits.h"
#include "tools/synthetic_grid.h"

namespace dormal::clitest {
namespace {

constexpr long long kDataBytes = 200LL * 1000 * 1000;
constexpr long kMaxRssKb = 64 * 1024; // far below the file's size

TEST(BigFile, TwoHundredMegabytesInBoundedMemory) {
    ScratchDir dir;
    gridgen::PortionRecipe gen;
    gen.kind = PortionKind::Sheet;
    gen.southLat = 43.50;
    gen.westLon = 11.00;
    gen.name = "5555";
    const std::string gridName = gridgen::defaultFileName(gen);
    writeWholeFile(dir.file(gridName), gridgen::portionText(gen));
    GridLoadResult g = loadGridPortion(dir.path().string(), gridName);
    ASSERT_TRUE(g.ok());
    const ZoneLimits z = computeZoneLimits(*g.portion, RefSystem::Roma40);

    // 1000 ROMA40 Gauss-Boaga points spread over the middle of the portion.
    ConversionContext toPlane;
    toPlane.sel.inputSystem = toPlane.sel.outputSystem = RefSystem::Roma40;
    toPlane.sel.inputKind = CoordKind::Geographic;
    toPlane.sel.outputKind = CoordKind::Plane;
    toPlane.sel.outputZone = Zone::Auto;
    std::vector<std::pair<double, double>> plane;
    for (int i = 0; i < 40; ++i) {
        for (int j = 0; j < 25; ++j) {
            const double lat = z.south + (z.north - z.south) * (0.1 + 0.8 * i / 39.0);
            const double lon = z.west + (z.east - z.west) * (0.1 + 0.8 * j / 24.0) - romeMeridian();
            const PointResult r = convertPoint(toPlane, {degreesToSexagesimal(lat), degreesToSexagesimal(lon), 0}, RunKind::Batch);
            plane.emplace_back(r.outFirst, r.outSecond);
        }
    }

    const std::string data = dir.file("big.txt"), result = dir.file("big-result.txt");
    long points = 0;
    {
        std::ofstream out(data, std::ios::binary);
        std::string buf;
        buf.reserve(1 << 20);
        long long written = 0;
        char line[128];
        while (written < kDataBytes) {
            const auto& [n, e] = plane[static_cast<std::size_t>(points % 1000)];
            const int len =
                std::snprintf(line, sizeof line, "P%08ld %.3f %.3f %.3f\n", points, n, e, 100.0 + points % 997);
            buf.append(line, static_cast<std::size_t>(len));
            written += len;
            ++points;
            if (buf.size() > (1 << 20) - 128) {
                out << buf;
                buf.clear();
            }
        }
        out << buf;
        ASSERT_TRUE(out.good());
    }

    const auto t0 = std::chrono::steady_clock::now();
    const ProcessResult p = runBatchExe({"--from", "ROMA40", "--from-kind", "plane", "--to", "ETRF2000", "--to-kind",
                                         "plane", "--heights", "--grid", dir.file(gridName), data, result});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ASSERT_EQ(p.exitCode, 0) << p.err;
    EXPECT_NE(p.err.find("PUNTI TRATTATI:   " + std::to_string(points) + "\n"), std::string::npos) << p.err;
    EXPECT_NE(p.err.find("FUORI DALLA GRIGLIA:  0"), std::string::npos) << p.err;
    EXPECT_LT(p.maxRssKb, kMaxRssKb);
    EXPECT_GT(fs::file_size(result), static_cast<std::uintmax_t>(kDataBytes));
    std::printf("%ld points (%.0f MB) in %.2f s (%.2f s of processor time): %.0f points/s, peak memory %ld kB\n",
                points, kDataBytes / 1e6, seconds, p.cpuSeconds, points / seconds, p.maxRssKb);
}

} // namespace
} // namespace dormal::clitest
