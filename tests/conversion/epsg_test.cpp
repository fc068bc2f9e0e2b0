// EPSG codes of the systems, kinds and zones: the table goes both ways, and every code means,
// in PROJ's own database (projinfo, offline), the projection and ellipsoid the chain computes
// with. A wrong code would tag every GIS result with a frame it is not in.

#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "conversion/epsg.h"
#include "conversion/selection_words.h"
#include "geodesy/ellipsoid.h"
#include "geodesy/zones.h"

namespace dormal {
namespace {

struct Choice {
    RefSystem system;
    CoordKind kind;
    Zone zone;
};

// Every system, kind and zone the window's output lists offer, Auto left out (not a zone).
std::vector<Choice> allChoices() {
    std::vector<Choice> out;
    for (RefSystem s : kAllSystems) {
        out.push_back({s, CoordKind::Geographic, Zone::Auto});
        for (const ListItem<Zone>& z : outputZoneList(s)) {
            if (z.value != Zone::Auto) {
                out.push_back({s, CoordKind::Plane, z.value});
            }
        }
    }
    return out;
}

// Property: every choice but ETRF89 "Fuso Italia" has a code, no two choices share one, and
// the code reads back as the same choice.
TEST(EpsgTable, EveryChoiceHasItsOwnCodeAndReadsBack) {
    std::set<int> seen;
    for (const Choice& c : allChoices()) {
        const std::optional<int> code = epsgCode(c.system, c.kind, c.zone);
        const bool etrf89Italia = c.system == RefSystem::Etrf89 && c.zone == Zone::Italia;
        SCOPED_TRACE(std::string(systemName(c.system)) + " zone " + std::to_string(static_cast<int>(c.zone)));
        if (etrf89Italia) {
            EXPECT_FALSE(code.has_value());
            continue;
        }
        ASSERT_TRUE(code.has_value());
        EXPECT_TRUE(seen.insert(*code).second) << *code;
        const std::optional<EpsgCrs> back = crsFromEpsg(*code);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(back->system, c.system);
        EXPECT_EQ(back->kind, c.kind);
        EXPECT_EQ(back->zone, c.kind == CoordKind::Plane ? c.zone : Zone::Auto);
    }
    EXPECT_EQ(seen.size(), 16U);
}

// The codes named for the Italian frames, and the choices without one.
TEST(EpsgTable, KnownCodes) {
    struct Row {
        RefSystem system;
        CoordKind kind;
        Zone zone;
        std::optional<int> code;
    };
    const Row rows[] = {
        {RefSystem::Roma40, CoordKind::Geographic, Zone::Auto, 4265},
        {RefSystem::Roma40, CoordKind::Plane, Zone::OvestOr32, 3003},
        {RefSystem::Roma40, CoordKind::Plane, Zone::EstOr33, 3004},
        {RefSystem::Roma40, CoordKind::Plane, Zone::Utm34, std::nullopt},
        {RefSystem::Ed50, CoordKind::Plane, Zone::Utm34, 23034},
        {RefSystem::Ed50, CoordKind::Plane, Zone::Italia, std::nullopt},
        {RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, 4670}, // zone ignored for geographic
        {RefSystem::Etrf2000, CoordKind::Plane, Zone::EstOr33, 6708},
        {RefSystem::Etrf2000, CoordKind::Plane, Zone::Italia, 6875},
        {RefSystem::Etrf2000, CoordKind::Plane, Zone::Auto, std::nullopt}, // a choice, not a zone
    };
    for (const Row& r : rows) {
        EXPECT_EQ(epsgCode(r.system, r.kind, r.zone), r.code) << systemName(r.system);
    }
}

// Codes of the same frame and projection are read, never given; others are not read.
TEST(EpsgTable, EquivalentAndUnknownCodes) {
    const std::map<int, std::optional<EpsgCrs>> rows{
        {25833, EpsgCrs{RefSystem::Etrf89, CoordKind::Plane, Zone::EstOr33}},
        {4258, EpsgCrs{RefSystem::Etrf89, CoordKind::Geographic, Zone::Auto}},
        {7794, EpsgCrs{RefSystem::Etrf2000, CoordKind::Plane, Zone::Italia}},
        {4806, EpsgCrs{RefSystem::Roma40, CoordKind::Geographic, Zone::Auto, true}}, // longitudes from Monte Mario
        {4326, std::nullopt},
        {0, std::nullopt},
        {-3003, std::nullopt},
    };
    for (const auto& [code, crs] : rows) {
        EXPECT_EQ(crsFromEpsg(code), crs) << code;
    }
}

TEST(EpsgTable, ParseWord) {
    const std::map<std::string, std::optional<int>> rows{
        {"EPSG:3003", 3003},
        {"epsg:6708", 6708},
        {"Epsg:4265", 4265},
        {"EPSG:", std::nullopt},
        {"EPSG: 3003", std::nullopt},
        {"EPSG:3003x", std::nullopt},
        {"3003", std::nullopt},
        {"EPSG:-1", std::nullopt},
        {"EPSG:0", std::nullopt},
        {"ROMA40", std::nullopt},
        {"EPSG:99999999999", std::nullopt},
    };
    for (const auto& [word, code] : rows) {
        EXPECT_EQ(parseEpsgWord(word), code) << word;
    }
}

// What projinfo prints for a code: its PROJ string and its WKT.
std::string runProjinfo(int code, const char* format) {
    const std::string cmd = "projinfo -q -o " + std::string(format) + " EPSG:" + std::to_string(code) + " 2>&1";
    std::string out;
    if (FILE* p = ::popen(cmd.c_str(), "r")) {
        char buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) {
            out.append(buf, n);
        }
        ::pclose(p);
    }
    return out;
}

// The value of "+name=" in a PROJ string, if present.
std::optional<std::string> projParameter(const std::string& proj, const std::string& name) {
    const std::string key = "+" + name + "=";
    const std::size_t at = proj.find(key);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    const std::size_t from = at + key.size();
    return proj.substr(from, proj.find(' ', from) - from);
}

// A number written the C way (the test also runs under a comma-decimal locale).
std::optional<double> cNumber(std::string_view text) {
    double v = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    return ec == std::errc() ? std::optional<double>(v) : std::nullopt;
}

// Semi-major axis and inverse flattening of the WKT's ELLIPSOID["name",a,rf,...].
bool wktEllipsoid(const std::string& wkt, double& a, double& rf) {
    const std::size_t at = wkt.find("ELLIPSOID[\"");
    if (at == std::string::npos) {
        return false;
    }
    const std::size_t aAt = wkt.find('"', at + 11) + 2;
    const std::size_t rfAt = wkt.find(',', aAt) + 1;
    const std::optional<double> av = cNumber(std::string_view(wkt).substr(aAt, rfAt - 1 - aAt));
    const std::optional<double> rfv = cNumber(std::string_view(wkt).substr(rfAt, wkt.find(',', rfAt) - rfAt));
    if (!av || !rfv) {
        return false;
    }
    a = *av;
    rf = *rfv;
    return true;
}

// A "+name=" parameter of a PROJ string as a number; NaN when absent.
double projNumber(const std::string& proj, const std::string& name) {
    const std::optional<std::string> text = projParameter(proj, name);
    return text ? cNumber(*text).value_or(std::nan("")) : std::nan("");
}

// Each code as PROJ knows it: the projection's central meridian, scale factor and false
// easting equal the zone table's; the ellipsoid is the system's; the datum is the frame.
TEST(EpsgProjinfo, EveryCodeMeansWhatTheChainComputes) {
    const std::map<RefSystem, std::string> datumName{
        {RefSystem::Roma40, "Monte Mario"},
        {RefSystem::Ed50, "European Datum 1950"},
        {RefSystem::Etrf89, "Istituto Geografico Militaire 1995"},
        {RefSystem::Etrf2000, "Rete Dinamica Nazionale 2008"},
    };
    if (runProjinfo(4326, "PROJ").find("+proj=longlat") == std::string::npos) {
        GTEST_FAIL() << "projinfo (Debian proj-bin) is needed by this test";
    }
    for (const Choice& c : allChoices()) {
        const std::optional<int> code = epsgCode(c.system, c.kind, c.zone);
        if (!code) {
            continue;
        }
        SCOPED_TRACE("EPSG:" + std::to_string(*code));
        const std::string proj = runProjinfo(*code, "PROJ");
        const std::string wkt = runProjinfo(*code, "WKT2_2019");
        // Geographic codes count longitudes from Greenwich: no other prime meridian.
        EXPECT_EQ(projParameter(proj, "pm"), std::nullopt);
        const Ellipsoid e = ellipsoidOf(c.system);
        double a = 0, rf = 0;
        ASSERT_TRUE(wktEllipsoid(wkt, a, rf)) << wkt;
        EXPECT_DOUBLE_EQ(a, e.a);
        EXPECT_NEAR(1.0 / rf, e.f, 1e-15);
        EXPECT_NE(wkt.find("DATUM[\"" + datumName.at(c.system)), std::string::npos) << wkt;
        if (c.kind == CoordKind::Geographic) {
            EXPECT_EQ(projParameter(proj, "proj"), "longlat");
            continue;
        }
        const ZoneInfo z = zoneInfo(c.system, c.zone);
        ASSERT_TRUE(z.valid);
        const std::string method = projParameter(proj, "proj").value_or("");
        if (method == "utm") {
            const int utmZone = std::stoi(projParameter(proj, "zone").value_or("0"));
            EXPECT_DOUBLE_EQ(6.0 * utmZone - 183.0, z.centralMeridian);
            EXPECT_DOUBLE_EQ(0.9996, z.scale);
            EXPECT_DOUBLE_EQ(500000.0, z.falseEasting);
            EXPECT_EQ(projParameter(proj, "south"), std::nullopt);
        } else {
            ASSERT_EQ(method, "tmerc") << proj;
            EXPECT_DOUBLE_EQ(projNumber(proj, "lon_0"), z.centralMeridian);
            EXPECT_DOUBLE_EQ(projNumber(proj, "k"), z.scale);
            EXPECT_DOUBLE_EQ(projNumber(proj, "x_0"), z.falseEasting);
            EXPECT_DOUBLE_EQ(projNumber(proj, "y_0"), 0.0);
            EXPECT_DOUBLE_EQ(projNumber(proj, "lat_0"), 0.0);
        }
    }
}

// ROMA40 geographic: the table's code counts from Greenwich; the Monte Mario meridian the
// program's own files count from is the one PROJ gives EPSG 4806.
TEST(EpsgProjinfo, MonteMarioMeridianIsRomeOf4806) {
    const std::string wkt = runProjinfo(4806, "WKT2_2019");
    const std::size_t at = wkt.find("PRIMEM[\"Rome\",");
    ASSERT_NE(at, std::string::npos) << wkt;
    const std::size_t from = at + 14;
    const std::optional<double> rome = cNumber(std::string_view(wkt).substr(from, wkt.find(',', from) - from));
    ASSERT_TRUE(rome.has_value()) << wkt;
    EXPECT_NEAR(*rome, romeMeridian(), 1e-9);
}

} // namespace
} // namespace dormal
