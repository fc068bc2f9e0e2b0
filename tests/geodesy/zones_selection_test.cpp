// Zone table, natural zone, selection lists, pair table and zone names: plain tables that
// the window, the run and the result files all read, so a wrong code or text shows everywhere.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "geodesy/angles.h"
#include "geodesy/selection.h"
#include "geodesy/zones.h"

namespace dormal {
namespace {

TEST(Zones, Table) {
    struct Case {
        std::int16_t system;
        ZoneCode zone;
        double centralMeridian, falseEasting, scale;
        std::string text;
    };
    const Case cases[] = {
        {kRoma40, 1, 9, 1500000, 0.9996, "Ovest"}, {kRoma40, 2, 15, 2520000, 0.9996, "Est"},
        {kEd50, 1, 9, 500000, 0.9996, "32"},       {kEd50, 2, 15, 500000, 0.9996, "33"},
        {kEd50, 3, 21, 500000, 0.9996, "34"},      {kEtrf89, 1, 9, 500000, 0.9996, "32"},
        {kEtrf89, 3, 21, 500000, 0.9996, "34"},    {kEtrf89, 4, 12, 7000000, 0.9985, "Italia"},
        {kEtrf2000, 2, 15, 500000, 0.9996, "33"},  {kEtrf2000, 4, 12, 7000000, 0.9985, "Italia"},
    };
    for (const auto& c : cases) {
        const ZoneInfo z = zoneInfo(c.system, c.zone);
        ASSERT_TRUE(z.valid) << c.system << "/" << c.zone;
        EXPECT_EQ(z.centralMeridian, c.centralMeridian) << c.system << "/" << c.zone;
        EXPECT_EQ(z.falseEasting, c.falseEasting) << c.system << "/" << c.zone;
        EXPECT_EQ(z.scale, c.scale) << c.system << "/" << c.zone;
        EXPECT_EQ(std::string(z.text), c.text) << c.system << "/" << c.zone;
    }
    // Zones a system does not have, and the automatic code, are not zones.
    const std::pair<std::int16_t, ZoneCode> missing[] = {{kRoma40, 0}, {kRoma40, 3}, {kRoma40, 4}, {kEd50, 0},
                                                         {kEd50, 4},   {kEtrf89, 0}, {kEtrf89, 5}, {4, 1}};
    for (const auto& [system, zone] : missing) {
        EXPECT_FALSE(zoneInfo(system, zone).valid) << system << "/" << zone;
    }
}

// ROMA40 central meridians are held from Monte Mario; adding the Rome meridian gives 9 and 15 E.
TEST(Zones, Roma40FromMonteMario) {
    EXPECT_EQ(romeMeridian(), sexagesimalToDegrees(12.27084));
    EXPECT_NEAR(romeMeridian(), 12.452333333361, 1e-12);
    EXPECT_EQ(zoneInfo(kRoma40, 1).centralMeridianMM, sexagesimalToDegrees(-3.27084));
    EXPECT_EQ(zoneInfo(kRoma40, 2).centralMeridianMM, sexagesimalToDegrees(2.32516));
    EXPECT_NEAR(zoneInfo(kRoma40, 1).centralMeridianMM + romeMeridian(), 9.0, 1e-10);
    EXPECT_NEAR(zoneInfo(kRoma40, 2).centralMeridianMM + romeMeridian(), 15.0, 1e-10);
}

TEST(Zones, NaturalZone) {
    struct Case {
        double lon;
        ZoneCode zone;
    };
    // Borders belong to the western zone: exactly 12 is zone 32, just east of it 33.
    const Case greenwich[] = {{5, 1}, {12, 1}, {12.0000001, 2}, {18, 2}, {18.0000001, 3}, {20, 3}};
    for (const auto& c : greenwich) {
        EXPECT_EQ(naturalZoneGreenwich(c.lon), c.zone) << c.lon;
    }
    // ROMA40 from Monte Mario: the border is sexagesimalToDegrees(-0.27084), 12 E of Greenwich.
    const Case roma40[] = {{sexagesimalToDegrees(-2.30), 1}, {sexagesimalToDegrees(-0.27084), 1}, {sexagesimalToDegrees(-0.27083), 2}, {5, 2}};
    for (const auto& c : roma40) {
        EXPECT_EQ(naturalZoneRoma40(c.lon), c.zone) << c.lon;
    }
}

std::vector<std::string> texts(std::span<const ListItem> list) {
    std::vector<std::string> out;
    for (const auto& item : list) {
        out.emplace_back(item.text);
    }
    return out;
}
std::vector<int> codes(std::span<const ListItem> list) {
    std::vector<int> out;
    for (const auto& item : list) {
        out.push_back(item.code);
    }
    return out;
}
using Texts = std::vector<std::string>;
using Codes = std::vector<int>;

TEST(Selection, Lists) {
    EXPECT_EQ(texts(systemList()), (Texts{"ROMA40", "ED50", "ETRF89", "ETRF2000"}));
    EXPECT_EQ(codes(systemList()), (Codes{0, 1, 2, 3}));
    EXPECT_EQ(texts(kindList()), (Texts{"Geografiche", "Piane"}));
    EXPECT_EQ(codes(kindList()), (Codes{0, 1}));

    // Input zone lists: Combo3 from position 0, Combo4 and Combo5 from zone code 1.
    EXPECT_EQ(texts(inputZoneList(kRoma40)), (Texts{"Gauss-Boaga", "Gauss-Boaga Ovest", "Gauss-Boaga Est"}));
    EXPECT_EQ(codes(inputZoneList(kRoma40)), (Codes{0, 1, 2}));
    EXPECT_EQ(texts(inputZoneList(kEd50)), (Texts{"UTM 32", "UTM 33", "UTM 34"}));
    EXPECT_EQ(codes(inputZoneList(kEd50)), (Codes{1, 2, 3}));
    for (std::int16_t s : {kEtrf89, kEtrf2000}) {
        EXPECT_EQ(texts(inputZoneList(s)), (Texts{"UTM 32", "UTM 33", "UTM 34", "Fuso Italia"}));
        EXPECT_EQ(codes(inputZoneList(s)), (Codes{1, 2, 3, 4}));
    }

    // Output zone lists: every position gives its own code, 0 automatic.
    EXPECT_EQ(texts(outputZoneList(kRoma40)), (Texts{"Gauss-Boaga Autom.", "Gauss-Boaga Ovest", "Gauss-Boaga Est"}));
    EXPECT_EQ(codes(outputZoneList(kRoma40)), (Codes{0, 1, 2}));
    EXPECT_EQ(texts(outputZoneList(kEd50)), (Texts{"UTM Automatico", "UTM 32", "UTM 33", "UTM 34"}));
    EXPECT_EQ(codes(outputZoneList(kEd50)), (Codes{0, 1, 2, 3}));
    for (std::int16_t s : {kEtrf89, kEtrf2000}) {
        EXPECT_EQ(texts(outputZoneList(s)), (Texts{"UTM Automatico", "UTM 32", "UTM 33", "UTM 34", "Fuso Italia"}));
        EXPECT_EQ(codes(outputZoneList(s)), (Codes{0, 1, 2, 3, 4}));
    }
    EXPECT_TRUE(inputZoneList(4).empty());
    EXPECT_TRUE(outputZoneList(-1).empty());
}

TEST(Selection, SystemTexts) {
    struct Case {
        std::int16_t system;
        const char *name, *symbol, *inCaption, *outCaption, *heading;
    };
    const Case cases[] = {
        {kRoma40, "ROMA40", "H", "Da quote geoidiche", "A quote geoidiche", "H geoid."},
        {kEd50, "ED50", "H", "Da quote geoidiche", "A quote geoidiche", "H geoid."},
        {kEtrf89, "ETRF89", "h", "Da quote ellissoidiche", "A quote ellissoidiche", "h ellis."},
        {kEtrf2000, "ETRF2000", "h", "Da quote ellissoidiche", "A quote ellissoidiche", "h ellis."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(systemName(c.system), c.name);
        EXPECT_EQ(heightSymbol(c.system), c.symbol);
        EXPECT_EQ(inputHeightCaption(c.system), c.inCaption);
        EXPECT_EQ(outputHeightCaption(c.system), c.outCaption);
        EXPECT_EQ(heightHeading(c.system), c.heading);
    }
    EXPECT_EQ(systemName(4), "");
}

TEST(Selection, PairTable) {
    using P = PairEntry;
    const P S = P::Same, G = P::GeoidPair, O = P::Open;
    const P table[4][4] = {{S, G, O, O}, {G, S, O, O}, {O, O, S, O}, {O, O, O, S}};
    for (std::int16_t in = 0; in < 4; ++in) {
        for (std::int16_t out = 0; out < 4; ++out) {
            EXPECT_EQ(pairEntry(in, out), table[in][out]) << in << " -> " << out;
        }
    }
    EXPECT_FALSE(gridNeeded(S));
    EXPECT_FALSE(heightsAllowed(S));
    EXPECT_TRUE(gridNeeded(G));
    EXPECT_FALSE(heightsAllowed(G));
    EXPECT_TRUE(gridNeeded(O));
    EXPECT_TRUE(heightsAllowed(O));
}

// Zone names of the result headers: only ROMA40 has an automatic input zone; every system
// has an automatic output zone.
TEST(Selection, ZoneNames) {
    struct Case {
        std::int16_t system;
        ZoneCode zone;
        const char *input, *output;
    };
    const Case cases[] = {
        {kRoma40, 0, "Automatico", "Automatico"},
        {kRoma40, 1, "Ovest", "Ovest"},
        {kRoma40, 2, "Est", "Est"},
        {kRoma40, 3, "", ""},
        {kEd50, 0, "", "Automatico"},
        {kEd50, 1, "32", "32"},
        {kEd50, 3, "34", "34"},
        {kEd50, 4, "", ""},
        {kEtrf89, 0, "", "Automatico"},
        {kEtrf89, 2, "33", "33"},
        {kEtrf2000, 4, "Italia", "Italia"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(inputZoneName(c.system, c.zone), c.input) << c.system << "/" << c.zone;
        EXPECT_EQ(outputZoneName(c.system, c.zone), c.output) << c.system << "/" << c.zone;
    }
}

TEST(Selection, Words) {
    const std::pair<const char*, int> systems[] = {{"ROMA40", 0},   {"roma40", 0}, {"Ed50", 1}, {"ETRF89", 2},
                                                   {"etrf2000", 3}, {"ETRF", -1},  {"", -1},    {"ROMA40 ", -1}};
    for (const auto& [word, code] : systems) {
        EXPECT_EQ(parseSystemWord(word), code) << word;
    }
    const std::pair<const char*, int> zones[] = {{"auto", 0}, {"OVEST", 1},  {"est", 2}, {"32", 1},      {"33", 2},
                                                 {"34", 3},   {"Italia", 4}, {"35", -1}, {"ovest32", -1}};
    for (const auto& [word, code] : zones) {
        EXPECT_EQ(parseZoneWord(word), code) << word;
    }
}

} // namespace
} // namespace dormal
