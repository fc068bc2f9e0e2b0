#include "geodesy/selection.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "geodesy/zones.h"

namespace dormal {

namespace {

// Texts per reference system, indexed by RefSystemCode.
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
constexpr std::array<ListItem, 4> kSystemList{{{"ROMA40", 0}, {"ED50", 1}, {"ETRF89", 2}, {"ETRF2000", 3}}};
// Combo2, Combo7.
constexpr std::array<ListItem, 2> kKindList{{{"Geografiche", kGeographic}, {"Piane", kPlane}}};

// Input zone lists: Combo3 (ROMA40), Combo4 (ED50), Combo5 (ETRF89, ETRF2000).
constexpr std::array<ListItem, 3> kCombo3{{{"Gauss-Boaga", 0}, {"Gauss-Boaga Ovest", 1}, {"Gauss-Boaga Est", 2}}};
constexpr std::array<ListItem, 3> kCombo4{{{"UTM 32", 1}, {"UTM 33", 2}, {"UTM 34", 3}}};
constexpr std::array<ListItem, 4> kCombo5{{{"UTM 32", 1}, {"UTM 33", 2}, {"UTM 34", 3}, {"Fuso Italia", 4}}};

// Output zone lists: Combo8 (ROMA40), Combo9 (ED50), Combo10 (ETRF89, ETRF2000).
constexpr std::array<ListItem, 3> kCombo8{
    {{"Gauss-Boaga Autom.", 0}, {"Gauss-Boaga Ovest", 1}, {"Gauss-Boaga Est", 2}}};
constexpr std::array<ListItem, 4> kCombo9{{{"UTM Automatico", 0}, {"UTM 32", 1}, {"UTM 33", 2}, {"UTM 34", 3}}};
constexpr std::array<ListItem, 5> kCombo10{
    {{"UTM Automatico", 0}, {"UTM 32", 1}, {"UTM 33", 2}, {"UTM 34", 3}, {"Fuso Italia", 4}}};

// Name of an automatic zone in the result headers.
constexpr std::string_view kAutomaticZoneName = "Automatico";

const SystemTexts* systemTexts(std::int16_t system) {
    if (system < 0 || system >= static_cast<std::int16_t>(kSystems.size())) {
        return nullptr;
    }
    return &kSystems[static_cast<std::size_t>(system)];
}

// Zone text of a resolved zone from the zone table ("Ovest", "32", "Italia", ...), or "".
std::string_view zoneText(std::int16_t system, ZoneCode zone) {
    const ZoneInfo z = zoneInfo(system, zone);
    return z.valid ? std::string_view(z.text) : std::string_view();
}

std::string upper(std::string_view word) {
    std::string s(word);
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
    return s;
}

} // namespace

std::span<const ListItem> systemList() {
    return kSystemList;
}
std::span<const ListItem> kindList() {
    return kKindList;
}

std::span<const ListItem> inputZoneList(std::int16_t system) {
    switch (system) {
    case kRoma40:
        return kCombo3;
    case kEd50:
        return kCombo4;
    case kEtrf89:
    case kEtrf2000:
        return kCombo5;
    default:
        return {};
    }
}

std::span<const ListItem> outputZoneList(std::int16_t system) {
    switch (system) {
    case kRoma40:
        return kCombo8;
    case kEd50:
        return kCombo9;
    case kEtrf89:
    case kEtrf2000:
        return kCombo10;
    default:
        return {};
    }
}

std::string_view systemName(std::int16_t system) {
    const SystemTexts* s = systemTexts(system);
    return s ? s->name : std::string_view();
}
std::string_view heightSymbol(std::int16_t system) {
    const SystemTexts* s = systemTexts(system);
    return s ? s->heightSymbol : std::string_view();
}
std::string_view inputHeightCaption(std::int16_t system) {
    const SystemTexts* s = systemTexts(system);
    return s ? s->inputHeightCaption : std::string_view();
}
std::string_view outputHeightCaption(std::int16_t system) {
    const SystemTexts* s = systemTexts(system);
    return s ? s->outputHeightCaption : std::string_view();
}
std::string_view heightHeading(std::int16_t system) {
    const SystemTexts* s = systemTexts(system);
    return s ? s->heightHeading : std::string_view();
}

std::string_view inputZoneName(std::int16_t system, ZoneCode zone) {
    // Only ROMA40 has an automatic input zone (taken from the typed East).
    if (zone == kZoneAuto) {
        return system == kRoma40 ? kAutomaticZoneName : std::string_view();
    }
    return zoneText(system, zone);
}

std::string_view outputZoneName(std::int16_t system, ZoneCode zone) {
    if (zone == kZoneAuto) {
        return systemTexts(system) ? kAutomaticZoneName : std::string_view();
    }
    return zoneText(system, zone);
}

PairEntry pairEntry(std::int16_t inputSystem, std::int16_t outputSystem) {
    if (inputSystem == outputSystem) {
        return PairEntry::Same;
    }
    const auto geoidHeights = [](std::int16_t s) { return s == kRoma40 || s == kEd50; };
    if (geoidHeights(inputSystem) && geoidHeights(outputSystem)) {
        return PairEntry::GeoidPair;
    }
    return PairEntry::Open;
}

std::int16_t parseSystemWord(std::string_view word) {
    const std::string w = upper(word);
    for (const ListItem& item : kSystemList) {
        if (w == item.text) {
            return item.code;
        }
    }
    return -1;
}

std::int16_t parseZoneWord(std::string_view word) {
    struct ZoneWord {
        std::string_view word;
        ZoneCode zone;
    };
    static constexpr std::array<ZoneWord, 7> kZoneWords{{{"AUTO", kZoneAuto},
                                                         {"OVEST", kZoneOvest32},
                                                         {"EST", kZoneEst33},
                                                         {"32", kZoneOvest32},
                                                         {"33", kZoneEst33},
                                                         {"34", kZone34},
                                                         {"ITALIA", kZoneItalia}}};
    const std::string w = upper(word);
    for (const ZoneWord& z : kZoneWords) {
        if (w == z.word) {
            return z.zone;
        }
    }
    return -1;
}

} // namespace dormal
