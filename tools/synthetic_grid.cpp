#include "tools/synthetic_grid.h"

#include <charconv>
#include <cmath>
#include <numbers>

#include "geodesy/angles.h"

namespace dormal::gridgen {

namespace {

constexpr double kTwoPi = 2 * std::numbers::pi;

// A phase in [0, 2 pi) for term i of the value functions (splitmix64 of seed and i).
double phase(std::uint32_t seed, int i) {
    std::uint64_t z = (static_cast<std::uint64_t>(seed) << 8) + static_cast<std::uint64_t>(i) + 0x9E3779B97F4A7C15ULL;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    z ^= z >> 31;
    return static_cast<double>(z >> 11) / 9007199254740992.0 * kTwoPi;
}

// base + a sin(2 pi (lat - 36)/wLat + p) + b cos(2 pi (lon - 6)/wLon + q). The slope is at
// most 2 pi a / wLat per degree of latitude and 2 pi b / wLon per degree of longitude.
double wave(double lat, double lon, double base, double a, double wLat, double b, double wLon, std::uint32_t seed,
            int term) {
    return base + a * std::sin(kTwoPi * (lat - 36) / wLat + phase(seed, term)) +
           b * std::cos(kTwoPi * (lon - 6) / wLon + phase(seed, term + 1));
}

// Fixed-point text of a value, "." as decimal separator whatever the locale.
std::string fixed(double v, int decimals) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    std::string s(buf, r.ptr);
    if (s.front() == '-' && s.find_first_not_of("-0.") == std::string::npos) {
        s.erase(0, 1); // "0.0000", not "-0.0000"
    }
    return s;
}

// Shortest text that reads back as the same double.
std::string exact(double v) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, r.ptr);
}

std::string quoted(const std::string& s) {
    return "\"" + s + "\"";
}

struct Layout {
    int planPerRow, planRows, geoidPerRow, geoidRows;
    double geoidTopOffsetSexagesimal; // 0.14 (0 14') or 0.18 (0 18')
};

Layout layoutOf(PortionKind kind) {
    if (kind == PortionKind::Sheet) {
        return {6, 6, 14, 10, 0.18};
    }
    return {4, 4, 10, 8, 0.14};
}

// One line per row of nodes, rows northward, values west to east.
template <typename F> void planBlock(std::string& out, const Layout& l, double lat0, double lon0, F value) {
    for (int r = 0; r < l.planRows; ++r) {
        for (int c = 0; c < l.planPerRow; ++c) {
            out += value(lat0 + r * planStepLat, lon0 + c * planStepLon);
            out += c + 1 < l.planPerRow ? "," : "\n";
        }
    }
}

} // namespace

NodeValues valuesAt(double lat, double lon, std::uint32_t s) {
    NodeValues v{};
    v.roEdDLat = wave(lat, lon, 5.0, 0.6, 23, 0.3, 17, s, 0);
    v.roEdDLon = wave(lat, lon, 2.5, 0.5, 19, 0.4, 21, s, 2);
    v.roE89DLat = wave(lat, lon, 2.35, 0.5, 21, 0.3, 18, s, 4);
    v.roE89DLon = wave(lat, lon, -0.65, 0.4, 17, 0.6, 24, s, 6);
    v.e89E2000DLat = wave(lat, lon, 0.0003, 0.0002, 15, 0.0001, 13, s, 8);
    v.e89E2000DLon = wave(lat, lon, -0.0002, 0.0002, 14, 0.0001, 16, s, 10);
    v.e89E2000DH = wave(lat, lon, 0.03, 0.012, 16, 0.008, 12, s, 12);
    v.geoidN = wave(lat, lon, 45.0, 6.0, 30, 3.5, 26, s, 14);
    return v;
}

Origins originsFor(const PortionRecipe& gen) {
    const bool sheet = gen.kind == PortionKind::Sheet;
    const NodeValues atOrigin = valuesAt(gen.southLat, gen.westLon, gen.seed);
    Origins o{};
    // The ROMA40 origin moved into ETRF89, to the hundredth of a second.
    o.e2000Lat = gen.southLat + std::round(atOrigin.roE89DLat * 100) / 100 / 3600;
    o.e2000Lon = gen.westLon + std::round(atOrigin.roE89DLon * 100) / 100 / 3600;
    // Geoid grid (14' x 18' or 18' x 26') centred in the ROMA40 grid area (15' x 22'30" or
    // 25' x 37'30"): 30" and 2'15", or 3'30" and 5'45", inside its south and west sides.
    o.geoidLat = gen.southLat + (sheet ? 210.0 : 30.0) / 3600;
    o.geoidLon = gen.westLon + (sheet ? 345.0 : 135.0) / 3600;
    return o;
}

std::vector<PortionRecipe> mosaicRecipes(const PortionRecipe& first, int rows, int cols) {
    std::vector<PortionRecipe> out;
    std::uint64_t number = 0;
    const char* end = first.name.data() + first.name.size();
    const auto parsed = std::from_chars(first.name.data(), end, number);
    if (first.name.empty() || parsed.ec != std::errc() || parsed.ptr != end) {
        return out;
    }
    const bool sheet = first.kind == PortionKind::Sheet;
    const int rowNodes = sheet ? 3 : 2; // plane-grid intervals between neighbours
    const int colNodes = sheet ? 3 : 2;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < cols; ++c) {
            PortionRecipe p = first;
            p.southLat = first.southLat + r * rowNodes * planStepLat;
            p.westLon = first.westLon + c * colNodes * planStepLon;
            std::string n = std::to_string(number + static_cast<std::uint64_t>(r * cols + c));
            if (n.size() < first.name.size()) {
                n.insert(0, first.name.size() - n.size(), '0');
            }
            p.name = n;
            out.push_back(std::move(p));
        }
    }
    return out;
}

std::string defaultFileName(const PortionRecipe& gen) {
    return gen.name + (gen.kind == PortionKind::Sheet ? ".GK2" : ".GK1");
}

std::string portionText(const PortionRecipe& gen) {
    const Layout l = layoutOf(gen.kind);
    const Origins o = originsFor(gen);
    const std::uint32_t seed = gen.seed;
    const double lat0 = gen.southLat;
    const double lon0 = gen.westLon;
    auto at = [seed](double lat, double lon) { return valuesAt(lat, lon, seed); };

    std::string t;
    t.reserve(16384);
    t += gen.kind == PortionKind::Sheet ? "FOGLIO\n" : "PUNTO\n";
    t += quoted(gen.name) + "\n";

    t += quoted("ROMA40-ED50") + "\n" + quoted("SINTETICA, NON PER RILIEVI") + "\n";
    planBlock(t, l, lat0, lon0, [&](double la, double lo) { return fixed(at(la, lo).roEdDLat, 4); });
    planBlock(t, l, lat0, lon0, [&](double la, double lo) { return fixed(at(la, lo).roEdDLon, 4); });

    t += quoted("ROMA40-ETRF89") + "\n" + quoted("SINTETICA, NON PER RILIEVI") + "\n";
    planBlock(t, l, lat0, lon0, [&](double la, double lo) { return fixed(at(la, lo).roE89DLat, 4); });
    planBlock(t, l, lat0, lon0, [&](double la, double lo) { return fixed(at(la, lo).roE89DLon, 4); });
    t += exact(lat0) + "\n" + exact(lon0) + "\n";

    t += quoted("ETRF89-ETRF2000") + "\n" + quoted("SINTETICA, NON PER RILIEVI") + "\n";
    planBlock(t, l, o.e2000Lat, o.e2000Lon, [&](double la, double lo) { return fixed(at(la, lo).e89E2000DLat, 6); });
    planBlock(t, l, o.e2000Lat, o.e2000Lon, [&](double la, double lo) { return fixed(at(la, lo).e89E2000DLon, 6); });
    planBlock(t, l, o.e2000Lat, o.e2000Lon, [&](double la, double lo) { return fixed(at(la, lo).e89E2000DH, 4); });
    t += exact(o.e2000Lat) + "\n" + exact(o.e2000Lon) + "\n";

    t += quoted("GEOIDE") + "\n" +
         quoted(gen.globalGeoid ? "SINTETICO GLOBALE, NON PER RILIEVI" : "SINTETICO, NON PER RILIEVI") + "\n";
    // Rows southward from the northern row, values west to east.
    const double top = o.geoidLat + sexagesimalToDegrees(l.geoidTopOffsetSexagesimal);
    for (int r = 0; r < l.geoidRows; ++r) {
        for (int c = 0; c < l.geoidPerRow; ++c) {
            t += fixed(at(top - r * geoidStepLat, o.geoidLon + c * geoidStepLon).geoidN, 4);
            t += c + 1 < l.geoidPerRow ? "," : "\n";
        }
    }
    t += exact(o.geoidLat) + "\n" + exact(o.geoidLon) + "\n";
    t += gen.globalGeoid ? "1\n" : "0\n";
    t += "-11.99\n";
    return t;
}

} // namespace dormal::gridgen
