#pragma once
// The ten selection lists, their items and the code each position gives; captions and
// height texts per system; the pair table. Plain data read by the window and the batch
// converter alike.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

#include "geodesy/codes.h"

namespace dormal {

struct ListItem {
    std::string_view text;
    std::int16_t code; // the code the position gives
};

// Lists by control name.
std::span<const ListItem> systemList();                        // Combo1, Combo6: ROMA40 ED50 ETRF89 ETRF2000
std::span<const ListItem> kindList();                          // Combo2, Combo7: Geografiche Piane
std::span<const ListItem> inputZoneList(std::int16_t system);  // Combo3 / Combo4 / Combo5
std::span<const ListItem> outputZoneList(std::int16_t system); // Combo8 / Combo9 / Combo10

// Texts per system.
std::string_view systemName(std::int16_t system);          // "ROMA40" ...
std::string_view heightSymbol(std::int16_t system);        // "H" or "h"
std::string_view inputHeightCaption(std::int16_t system);  // "Da quote geoidiche" ...
std::string_view outputHeightCaption(std::int16_t system); // "A quote geoidiche" ...
std::string_view heightHeading(std::int16_t system);       // "H geoid." or "h ellis."
// Zone names as the result headers write them: input ROMA40 0 "Automatico", 1 "Ovest",
// 2 "Est"; others 1 "32" 2 "33" 3 "34" 4 "Italia". Output adds 0 "Automatico" for all.
std::string_view inputZoneName(std::int16_t system, ZoneCode zone);
std::string_view outputZoneName(std::int16_t system, ZoneCode zone);

enum class PairEntry { Same, GeoidPair, Open };
// Pair table: same system; ROMA40/ED50 (geoid pair: grid, no height conversion); open.
PairEntry pairEntry(std::int16_t inputSystem, std::int16_t outputSystem);
inline bool gridNeeded(PairEntry e) {
    return e != PairEntry::Same;
}
inline bool heightsAllowed(PairEntry e) {
    return e == PairEntry::Open;
}

// Parse the batch converter's words, any case. Systems "ROMA40", "ED50", "ETRF89",
// "ETRF2000" give their RefSystemCode; zones "auto", "ovest", "est", "32", "33", "34",
// "italia" (parseZoneWord) give their ZoneCode (0 to 4). Both return -1 when not known;
// whether a zone exists for a system is for zoneInfo() to say.
std::int16_t parseSystemWord(std::string_view word);
std::int16_t parseZoneWord(std::string_view word);

} // namespace dormal
