// Selection lists, pair table, zone names and the batch converter's words: plain tables
// that the window, the run and the result files all read, so a wrong text shows everywhere.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "conversion/selection_words.h"
#include "tests/support/print_enums.h"

namespace dormal {
namespace {


template <class T> std::vector<std::string> texts(std::span<const ListItem<T>> list) {
    std::vector<std::string> out;
    for (const auto& item : list) {
        out.emplace_back(item.text);
    }
    return out;
}
template <class T> std::vector<T> values(std::span<const ListItem<T>> list) {
    std::vector<T> out;
    for (const auto& item : list) {
        out.push_back(item.value);
    }
    return out;
}
using Texts = std::vector<std::string>;
using Zones = std::vector<Zone>;
constexpr Zone kAuto = Zone::Auto, k32 = Zone::OvestOr32, k33 = Zone::EstOr33, k34 = Zone::Utm34,
               kItalia = Zone::Italia;

TEST(Selection, Lists) {
    EXPECT_EQ(texts(systemList()), (Texts{"ROMA40", "ED50", "ETRF89", "ETRF2000"}));
    EXPECT_EQ(values(systemList()), (std::vector<RefSystem>(kAllSystems.begin(), kAllSystems.end())));
    EXPECT_EQ(texts(kindList()), (Texts{"Geografiche", "Piane"}));
    EXPECT_EQ(values(kindList()), (std::vector<CoordKind>{CoordKind::Geographic, CoordKind::Plane}));

    // Input zone lists: Combo3 from the automatic zone, Combo4 and Combo5 from zone 32.
    EXPECT_EQ(texts(inputZoneList(RefSystem::Roma40)), (Texts{"Gauss-Boaga", "Gauss-Boaga Ovest", "Gauss-Boaga Est"}));
    EXPECT_EQ(values(inputZoneList(RefSystem::Roma40)), (Zones{kAuto, k32, k33}));
    EXPECT_EQ(texts(inputZoneList(RefSystem::Ed50)), (Texts{"UTM 32", "UTM 33", "UTM 34"}));
    EXPECT_EQ(values(inputZoneList(RefSystem::Ed50)), (Zones{k32, k33, k34}));
    for (RefSystem s : {RefSystem::Etrf89, RefSystem::Etrf2000}) {
        EXPECT_EQ(texts(inputZoneList(s)), (Texts{"UTM 32", "UTM 33", "UTM 34", "Fuso Italia"}));
        EXPECT_EQ(values(inputZoneList(s)), (Zones{k32, k33, k34, kItalia}));
    }

    // Output zone lists: the automatic zone first, then the zones.
    EXPECT_EQ(texts(outputZoneList(RefSystem::Roma40)),
              (Texts{"Gauss-Boaga Autom.", "Gauss-Boaga Ovest", "Gauss-Boaga Est"}));
    EXPECT_EQ(values(outputZoneList(RefSystem::Roma40)), (Zones{kAuto, k32, k33}));
    EXPECT_EQ(texts(outputZoneList(RefSystem::Ed50)), (Texts{"UTM Automatico", "UTM 32", "UTM 33", "UTM 34"}));
    EXPECT_EQ(values(outputZoneList(RefSystem::Ed50)), (Zones{kAuto, k32, k33, k34}));
    for (RefSystem s : {RefSystem::Etrf89, RefSystem::Etrf2000}) {
        EXPECT_EQ(texts(outputZoneList(s)), (Texts{"UTM Automatico", "UTM 32", "UTM 33", "UTM 34", "Fuso Italia"}));
        EXPECT_EQ(values(outputZoneList(s)), (Zones{kAuto, k32, k33, k34, kItalia}));
    }
}

TEST(Selection, SystemTexts) {
    struct Case {
        RefSystem system;
        const char *name, *symbol, *inCaption, *outCaption, *heading;
    };
    const Case cases[] = {
        {RefSystem::Roma40, "ROMA40", "H", "Da quote geoidiche", "A quote geoidiche", "H geoid."},
        {RefSystem::Ed50, "ED50", "H", "Da quote geoidiche", "A quote geoidiche", "H geoid."},
        {RefSystem::Etrf89, "ETRF89", "h", "Da quote ellissoidiche", "A quote ellissoidiche", "h ellis."},
        {RefSystem::Etrf2000, "ETRF2000", "h", "Da quote ellissoidiche", "A quote ellissoidiche", "h ellis."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(systemName(c.system), c.name);
        EXPECT_EQ(heightSymbol(c.system), c.symbol);
        EXPECT_EQ(inputHeightCaption(c.system), c.inCaption);
        EXPECT_EQ(outputHeightCaption(c.system), c.outCaption);
        EXPECT_EQ(heightHeading(c.system), c.heading);
    }
}

TEST(Selection, PairTable) {
    using P = PairEntry;
    const P S = P::Same, G = P::GeoidPair, O = P::Open;
    const P table[4][4] = {{S, G, O, O}, {G, S, O, O}, {O, O, S, O}, {O, O, O, S}};
    for (std::size_t in = 0; in < kAllSystems.size(); ++in) {
        for (std::size_t out = 0; out < kAllSystems.size(); ++out) {
            EXPECT_EQ(pairEntry(kAllSystems[in], kAllSystems[out]), table[in][out])
                << kAllSystems[in] << " -> " << kAllSystems[out];
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
        RefSystem system;
        Zone zone;
        const char *input, *output;
    };
    const Case cases[] = {
        {RefSystem::Roma40, Zone::Auto, "Automatico", "Automatico"},
        {RefSystem::Roma40, Zone::OvestOr32, "Ovest", "Ovest"},
        {RefSystem::Roma40, Zone::EstOr33, "Est", "Est"},
        {RefSystem::Roma40, Zone::Utm34, "", ""},
        {RefSystem::Ed50, Zone::Auto, "", "Automatico"},
        {RefSystem::Ed50, Zone::OvestOr32, "32", "32"},
        {RefSystem::Ed50, Zone::Utm34, "34", "34"},
        {RefSystem::Ed50, Zone::Italia, "", ""},
        {RefSystem::Etrf89, Zone::Auto, "", "Automatico"},
        {RefSystem::Etrf89, Zone::EstOr33, "33", "33"},
        {RefSystem::Etrf2000, Zone::Italia, "Italia", "Italia"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(inputZoneName(c.system, c.zone), c.input) << c.system << "/" << c.zone;
        EXPECT_EQ(outputZoneName(c.system, c.zone), c.output) << c.system << "/" << c.zone;
    }
}

TEST(Selection, Words) {
    using S = std::optional<RefSystem>;
    const std::pair<const char*, S> systems[] = {{"ROMA40", RefSystem::Roma40},
                                                 {"roma40", RefSystem::Roma40},
                                                 {"Ed50", RefSystem::Ed50},
                                                 {"ETRF89", RefSystem::Etrf89},
                                                 {"etrf2000", RefSystem::Etrf2000},
                                                 {"ETRF", std::nullopt},
                                                 {"", std::nullopt},
                                                 {"ROMA40 ", std::nullopt}};
    for (const auto& [word, system] : systems) {
        EXPECT_EQ(parseSystemWord(word), system) << word;
    }
    using Z = std::optional<Zone>;
    const std::pair<const char*, Z> zones[] = {{"auto", kAuto},     {"OVEST", k32},       {"est", k33},
                                               {"32", k32},         {"33", k33},          {"34", k34},
                                               {"Italia", kItalia}, {"35", std::nullopt}, {"ovest32", std::nullopt}};
    for (const auto& [word, zone] : zones) {
        EXPECT_EQ(parseZoneWord(word), zone) << word;
    }
}

} // namespace
} // namespace dormal
