#pragma once
// The ten selection lists, their items and the value each position gives; captions and
// height texts per system; the pair table. Plain data read by the window and the batch
// converter alike.

#include <array>
#include <optional>
#include <span>
#include <string_view>

#include "geodesy/systems.h"

namespace dormal {

// An item of a list: its text and the value its position gives.
template <class T> struct ListItem {
    std::string_view text;
    T value;
};

// The value at a list position, or nothing for a position the list does not have.
template <class T> std::optional<T> valueAt(std::span<const ListItem<T>> list, int position) {
    if (position < 0 || static_cast<std::size_t>(position) >= list.size()) {
        return std::nullopt;
    }
    return list[static_cast<std::size_t>(position)].value;
}
// The position of a value in a list, or -1 when the list does not offer it.
template <class T> int positionOf(std::span<const ListItem<T>> list, T value) {
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (list[i].value == value) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Lists by control name.
std::span<const ListItem<RefSystem>> systemList();                // Combo1, Combo6: ROMA40 ED50 ETRF89 ETRF2000
std::span<const ListItem<CoordKind>> kindList();                  // Combo2, Combo7: Geografiche Piane
std::span<const ListItem<Zone>> inputZoneList(RefSystem system);  // Combo3 / Combo4 / Combo5
std::span<const ListItem<Zone>> outputZoneList(RefSystem system); // Combo8 / Combo9 / Combo10

// Texts per system.
std::string_view systemName(RefSystem system);          // "ROMA40" ...
std::string_view heightSymbol(RefSystem system);        // "H" or "h"
std::string_view inputHeightCaption(RefSystem system);  // "Da quote geoidiche" ...
std::string_view outputHeightCaption(RefSystem system); // "A quote geoidiche" ...
std::string_view heightHeading(RefSystem system);       // "H geoid." or "h ellis."
// Zone names as the result headers write them: input ROMA40 "Automatico", "Ovest", "Est";
// others "32", "33", "34", "Italia". Output adds "Automatico" for all.
std::string_view inputZoneName(RefSystem system, Zone zone);
std::string_view outputZoneName(RefSystem system, Zone zone);

enum class PairEntry { Same, GeoidPair, Open };
// Pair table: same system; ROMA40/ED50 (geoid pair: grid, no height conversion); open.
PairEntry pairEntry(RefSystem inputSystem, RefSystem outputSystem);
inline bool gridNeeded(PairEntry e) {
    return e != PairEntry::Same;
}
inline bool heightsAllowed(PairEntry e) {
    return e == PairEntry::Open;
}

// Parse the batch converter's words, any case. Systems "ROMA40", "ED50", "ETRF89",
// "ETRF2000" give their RefSystem; zones "auto", "ovest", "est", "32", "33", "34",
// "italia" (parseZoneWord) give their Zone. Both give nothing for a word not known;
// whether a zone exists for a system is for zoneInfo() to say.
std::optional<RefSystem> parseSystemWord(std::string_view word);
std::optional<Zone> parseZoneWord(std::string_view word);

} // namespace dormal
