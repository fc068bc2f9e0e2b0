#include "grid_fixtures.h"

#include <stdexcept>

#include "geodesy/angles.h"

namespace dormal::test {

GridPortion blankPortion(PortionKind kind, double lat0, double lon0) {
    GridPortion g;
    g.kind = kind;
    const bool sheet = kind == PortionKind::Sheet;
    g.planNodeCount = sheet ? 36 : 16;
    g.geoidNodeCount = sheet ? 140 : 80;
    g.planNodesPerRow = sheet ? 6 : 4;
    g.geoidNodesPerRow = sheet ? 14 : 10;
    g.planOriginLat = g.e2000OriginLat = g.geoidOriginLat = lat0;
    g.planOriginLon = g.e2000OriginLon = g.geoidOriginLon = lon0;
    g.geoidTopLat = lat0 + sexagesimalToDegrees(sheet ? 0.18 : 0.14);
    return g;
}

GridPortion generatedPortion(PortionKind kind, double lat0, double lon0, std::uint32_t seed) {
    gridgen::PortionRecipe gen;
    gen.kind = kind;
    gen.southLat = lat0;
    gen.westLon = lon0;
    gen.name = "777";
    gen.seed = seed;
    GridLoadResult r = parseGridPortion(gridgen::portionText(gen), gridgen::defaultFileName(gen));
    if (!r.ok()) {
        throw std::runtime_error("generated portion does not read");
    }
    return *r.portion;
}

std::vector<std::string> generatedItems(PortionKind kind, double lat0, double lon0) {
    gridgen::PortionRecipe gen;
    gen.kind = kind;
    gen.southLat = lat0;
    gen.westLon = lon0;
    gen.name = "777";
    const std::string text = gridgen::portionText(gen);
    // The generator quotes only texts and never puts a quote inside one.
    std::vector<std::string> items;
    std::string cur;
    bool inQuotes = false;
    for (char c : text) {
        if (c == '"') {
            inQuotes = !inQuotes;
        } else if (!inQuotes && (c == ',' || c == '\n')) {
            items.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    return items;
}

std::string joinItems(const std::vector<std::string>& items, const std::string& separator) {
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            out += separator;
        }
        out += items[i].find(',') != std::string::npos ? "\"" + items[i] + "\"" : items[i];
    }
    return out;
}

} // namespace dormal::test
