// dormal2k-gridgen: writes a synthetic grid portion for trying the program.
//
//   dormal2k-gridgen --kind PUNTO|FOGLIO --lat 45.25 --lon 9.0 --name 123456
//                    [--seed 1] [--global-geoid] [--out FOLDER] [--rows R --cols C]
//
// --rows/--cols: a mosaic of R x C neighbouring portions sampled from the same field, so
// they agree where they overlap; --lat/--lon then give the south-west portion and --name
// the first number (the others count up, row by row from the south, west to east).
// --lat/--lon: south-west node of the ROMA40 grids, decimal degrees (Greenwich).
// The file is FOLDER/NAME.GK1 (PUNTO) or FOLDER/NAME.GK2 (FOGLIO); it is written whole
// or not at all. The limits of the area it lets the user convert are printed.
// The values are synthetic: never use them for surveying.

#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "geodesy/systems.h"
#include "geodesy/zones.h"
#include "grid/grid_portion.h"
#include "grid/zone_limits.h"
#include "tools/synthetic_grid.h"

#ifndef DORMAL2K_VERSION
#define DORMAL2K_VERSION "0"
#endif

namespace {

int usage(const char* why) {
    std::fprintf(stderr, "dormal2k-gridgen: %s\n", why);
    std::fprintf(stderr, "usage: dormal2k-gridgen --kind PUNTO|FOGLIO --lat DEG --lon DEG --name NUMBER\n"
                         "                        [--seed N] [--global-geoid] [--out FOLDER] [--rows R --cols C]\n"
                         "       dormal2k-gridgen --version\n");
    return 2;
}

template <typename T> bool parse(std::string_view text, T& out) {
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && ptr == text.data() + text.size();
}

// Writes one portion whole or not at all and prints its limits; false on failure.
bool writePortion(const dormal::gridgen::PortionRecipe& gen, const std::string& folder) {
    using namespace dormal;
    const std::string text = gridgen::portionText(gen);
    const std::string fileName = gridgen::defaultFileName(gen);
    // Check the text reads back before writing it.
    const GridLoadResult check = parseGridPortion(text, fileName);
    if (!check.ok()) {
        std::fprintf(stderr, "dormal2k-gridgen: internal error, the portion does not read back\n");
        return false;
    }

    const std::filesystem::path target = std::filesystem::path(folder) / fileName;
    const std::filesystem::path temp = std::filesystem::path(folder) / (fileName + ".tmp");
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out << text;
        out.close();
        if (!out) {
            std::filesystem::remove(temp);
            std::fprintf(stderr, "dormal2k-gridgen: cannot write %s\n", temp.c_str());
            return false;
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, target, ec);
    if (ec) {
        std::filesystem::remove(temp);
        std::fprintf(stderr, "dormal2k-gridgen: cannot write %s: %s\n", target.c_str(), ec.message().c_str());
        return false;
    }

    const ZoneLimits z = computeZoneLimits(*check.portion, RefSystem::Etrf89);
    std::printf("%s: %s, zone %s\n", target.c_str(), gen.kind == PortionKind::Sheet ? "FOGLIO" : "PUNTO",
                zoneInfo(RefSystem::Ed50, z.zone).text);
    std::printf("  area that can be converted: latitude %.6f to %.6f, longitude %.6f to %.6f (decimal degrees)\n",
                z.south, z.north, z.west, z.east);
    std::printf("  ROMA40 grids: latitude %.6f to %.6f, longitude %.6f to %.6f\n", z.planSouth, z.planNorth, z.planWest,
                z.planEast);
    std::printf("  geoid grid:   latitude %.6f to %.6f, longitude %.6f to %.6f\n", z.geoidSouth, z.geoidNorth,
                z.geoidWest, z.geoidEast);
    return true;
}

} // namespace

int main(int argc, char** argv) {
    using namespace dormal;
    gridgen::PortionRecipe gen;
    std::string folder = ".";
    bool haveKind = false, haveLat = false, haveLon = false;
    int rows = 1, cols = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--global-geoid") {
            gen.globalGeoid = true;
            continue;
        }
        if (arg == "--version") {
            std::printf("dormal2k-gridgen %s\n", DORMAL2K_VERSION);
            return 0;
        }
        if (i + 1 >= argc) {
            return usage("missing value after an option");
        }
        const std::string_view value = argv[++i];
        if (arg == "--kind") {
            if (value == "PUNTO") {
                gen.kind = PortionKind::Vertex;
            } else if (value == "FOGLIO") {
                gen.kind = PortionKind::Sheet;
            } else {
                return usage("--kind must be PUNTO or FOGLIO");
            }
            haveKind = true;
        } else if (arg == "--lat") {
            haveLat = parse(value, gen.southLat);
            if (!haveLat || gen.southLat < 35 || gen.southLat > 47.5) {
                return usage("--lat must be a latitude in Italy (35 to 47.5), decimal degrees");
            }
        } else if (arg == "--lon") {
            haveLon = parse(value, gen.westLon);
            if (!haveLon || gen.westLon < 6 || gen.westLon > 19) {
                return usage("--lon must be a longitude in Italy (6 to 19), decimal degrees");
            }
        } else if (arg == "--name") {
            gen.name = std::string(value);
            if (gen.name.empty() || gen.name.find_first_of("/.\"") != std::string::npos) {
                return usage("--name must be a plain number, without '/', '.' or '\"'");
            }
        } else if (arg == "--seed") {
            if (!parse(value, gen.seed)) {
                return usage("--seed must be a whole number");
            }
        } else if (arg == "--rows" || arg == "--cols") {
            int& n = arg == "--rows" ? rows : cols;
            if (!parse(value, n) || n < 1 || n > 100) {
                return usage("--rows and --cols must be whole numbers from 1 to 100");
            }
        } else if (arg == "--out") {
            folder = std::string(value);
        } else {
            return usage("unknown option");
        }
    }
    if (!haveKind || !haveLat || !haveLon || gen.name.empty()) {
        return usage("--kind, --lat, --lon and --name are required");
    }

    if (rows == 1 && cols == 1) {
        return writePortion(gen, folder) ? 0 : 1;
    }
    const std::vector<gridgen::PortionRecipe> recipes = gridgen::mosaicRecipes(gen, rows, cols);
    if (recipes.empty()) {
        return usage("a mosaic needs --name to be a number");
    }
    for (const gridgen::PortionRecipe& recipe : recipes) {
        if (recipe.southLat > 47.5 || recipe.westLon > 19) {
            return usage("the mosaic reaches beyond Italy (latitude 47.5, longitude 19)");
        }
    }
    for (const gridgen::PortionRecipe& recipe : recipes) {
        if (!writePortion(recipe, folder)) {
            return 1;
        }
    }
    return 0;
}
