#include "conversion/selection_words.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "geodesy/zones.h"
#include "grid/text_encoding.h"

namespace dormal {

namespace {

// Texts per reference system, indexed by RefSystem.
struct SystemTexts {
    std::string_view name;
    std::string_view heightSymbol;
    std::string_view inputHeightCaption;
    std::string_view outputHeightCaption;
    std::string_view heightHeading;
};

constexpr std::array<SystemTexts, 4> kSystems{{
    {"ROMA40", "H", "Da quote geoidiche", "A quote geoidiche", "H geoid."},
    {"ED50", "H", "Da quote geoidiche", "A quote geoidiche", "H geoid."},
    {"ETRF89", "h", "Da quote ellissoidiche", "A quote ellissoidiche", "h ellis."},
    {"ETRF2000", "h", "Da quote ellissoidiche", "A quote ellissoidiche", "h ellis."},
}};

// Combo1, Combo6.
constexpr std::array<ListItem<RefSystem>, 4> kSystemList{{{"ROMA40", RefSystem::Roma40},
                                                          {"ED50", RefSystem::Ed50},
                                                          {"ETRF89", RefSystem::Etrf89},
                                                          {"ETRF2000", RefSystem::Etrf2000}}};
// Combo2, Combo7.
constexpr std::array<ListItem<CoordKind>, 2> kKindList{
    {{"Geografiche", CoordKind::Geographic}, {"Piane", CoordKind::Plane}}};

// Input zone lists: Combo3 (ROMA40), Combo4 (ED50), Combo5 (ETRF89, ETRF2000).
constexpr std::array<ListItem<Zone>, 3> kCombo3{
    {{"Gauss-Boaga", Zone::Auto}, {"Gauss-Boaga Ovest", Zone::OvestOr32}, {"Gauss-Boaga Est", Zone::EstOr33}}};
constexpr std::array<ListItem<Zone>, 3> kCombo4{
    {{"UTM 32", Zone::OvestOr32}, {"UTM 33", Zone::EstOr33}, {"UTM 34", Zone::Utm34}}};
constexpr std::array<ListItem<Zone>, 4> kCombo5{
    {{"UTM 32", Zone::OvestOr32}, {"UTM 33", Zone::EstOr33}, {"UTM 34", Zone::Utm34}, {"Fuso Italia", Zone::Italia}}};

// Output zone lists: Combo8 (ROMA40), Combo9 (ED50), Combo10 (ETRF89, ETRF2000).
constexpr std::array<ListItem<Zone>, 3> kCombo8{
    {{"Gauss-Boaga Autom.", Zone::Auto}, {"Gauss-Boaga Ovest", Zone::OvestOr32}, {"Gauss-Boaga Est", Zone::EstOr33}}};
constexpr std::array<ListItem<Zone>, 4> kCombo9{
    {{"UTM Automatico", Zone::Auto}, {"UTM 32", Zone::OvestOr32}, {"UTM 33", Zone::EstOr33}, {"UTM 34", Zone::Utm34}}};
constexpr std::array<ListItem<Zone>, 5> kCombo10{{{"UTM Automatico", Zone::Auto},
                                                  {"UTM 32", Zone::OvestOr32},
                                                  {"UTM 33", Zone::EstOr33},
                                                  {"UTM 34", Zone::Utm34},
                                                  {"Fuso Italia", Zone::Italia}}};

// Name of an automatic zone in the result headers.
constexpr std::string_view kAutomaticZoneName = "Automatico";

const SystemTexts& systemTexts(RefSystem system) {
    switch (system) {
    case RefSystem::Roma40:
        return kSystems[0];
    case RefSystem::Ed50:
        return kSystems[1];
    case RefSystem::Etrf89:
        return kSystems[2];
    case RefSystem::Etrf2000:
        break;
    }
    return kSystems[3];
}

// Zone text of a resolved zone from the zone table ("Ovest", "32", "Italia", ...), or "".
std::string_view zoneText(RefSystem system, Zone zone) {
    const ZoneInfo z = zoneInfo(system, zone);
    return z.valid ? std::string_view(z.text) : std::string_view();
}


} // namespace

std::span<const ListItem<RefSystem>> systemList() {
    return kSystemList;
}
std::span<const ListItem<CoordKind>> kindList() {
    return kKindList;
}

std::span<const ListItem<Zone>> inputZoneList(RefSystem system) {
    switch (system) {
    case RefSystem::Roma40:
        return kCombo3;
    case RefSystem::Ed50:
        return kCombo4;
    case RefSystem::Etrf89:
    case RefSystem::Etrf2000:
        break;
    }
    return kCombo5;
}

std::span<const ListItem<Zone>> outputZoneList(RefSystem system) {
    switch (system) {
    case RefSystem::Roma40:
        return kCombo8;
    case RefSystem::Ed50:
        return kCombo9;
    case RefSystem::Etrf89:
    case RefSystem::Etrf2000:
        break;
    }
    return kCombo10;
}

std::string_view systemName(RefSystem system) {
    return systemTexts(system).name;
}
std::string_view heightSymbol(RefSystem system) {
    return systemTexts(system).heightSymbol;
}
std::string_view inputHeightCaption(RefSystem system) {
    return systemTexts(system).inputHeightCaption;
}
std::string_view outputHeightCaption(RefSystem system) {
    return systemTexts(system).outputHeightCaption;
}
std::string_view heightHeading(RefSystem system) {
    return systemTexts(system).heightHeading;
}

std::string_view inputZoneName(RefSystem system, Zone zone) {
    // Only ROMA40 has an automatic input zone (taken from the typed East).
    if (zone == Zone::Auto) {
        return system == RefSystem::Roma40 ? kAutomaticZoneName : std::string_view();
    }
    return zoneText(system, zone);
}

std::string_view outputZoneName(RefSystem system, Zone zone) {
    if (zone == Zone::Auto) {
        return kAutomaticZoneName;
    }
    return zoneText(system, zone);
}

PairEntry pairEntry(RefSystem inputSystem, RefSystem outputSystem) {
    if (inputSystem == outputSystem) {
        return PairEntry::Same;
    }
    const auto geoidHeights = [](RefSystem s) { return s == RefSystem::Roma40 || s == RefSystem::Ed50; };
    if (geoidHeights(inputSystem) && geoidHeights(outputSystem)) {
        return PairEntry::GeoidPair;
    }
    return PairEntry::Open;
}

std::optional<RefSystem> parseSystemWord(std::string_view word) {
    const std::string w = asciiUpperCase(word);
    for (const ListItem<RefSystem>& item : kSystemList) {
        if (w == item.text) {
            return item.value;
        }
    }
    return std::nullopt;
}

std::optional<Zone> parseZoneWord(std::string_view word) {
    struct ZoneWord {
        std::string_view word;
        Zone zone;
    };
    static constexpr std::array<ZoneWord, 7> kZoneWords{{{"AUTO", Zone::Auto},
                                                         {"OVEST", Zone::OvestOr32},
                                                         {"EST", Zone::EstOr33},
                                                         {"32", Zone::OvestOr32},
                                                         {"33", Zone::EstOr33},
                                                         {"34", Zone::Utm34},
                                                         {"ITALIA", Zone::Italia}}};
    const std::string w = asciiUpperCase(word);
    for (const ZoneWord& z : kZoneWords) {
        if (w == z.word) {
            return z.zone;
        }
    }
    return std::nullopt;
}

} // namespace dormal
