#include "conversion/epsg.h"

#include <array>
#include <cctype>
#include <charconv>

#include "grid/text_encoding.h"

namespace dormal {

namespace {

struct EpsgEntry {
    int code;
    EpsgCrs crs;
};

// The codes epsgCode() gives, one per system, kind and zone.
constexpr std::array<EpsgEntry, 16> kTable{{
    {4265, {RefSystem::Roma40, CoordKind::Geographic, Zone::Auto}},
    {3003, {RefSystem::Roma40, CoordKind::Plane, Zone::OvestOr32}},
    {3004, {RefSystem::Roma40, CoordKind::Plane, Zone::EstOr33}},
    {4230, {RefSystem::Ed50, CoordKind::Geographic, Zone::Auto}},
    {23032, {RefSystem::Ed50, CoordKind::Plane, Zone::OvestOr32}},
    {23033, {RefSystem::Ed50, CoordKind::Plane, Zone::EstOr33}},
    {23034, {RefSystem::Ed50, CoordKind::Plane, Zone::Utm34}},
    {4670, {RefSystem::Etrf89, CoordKind::Geographic, Zone::Auto}},
    {3064, {RefSystem::Etrf89, CoordKind::Plane, Zone::OvestOr32}},
    {3065, {RefSystem::Etrf89, CoordKind::Plane, Zone::EstOr33}},
    {9716, {RefSystem::Etrf89, CoordKind::Plane, Zone::Utm34}},
    {6706, {RefSystem::Etrf2000, CoordKind::Geographic, Zone::Auto}},
    {6707, {RefSystem::Etrf2000, CoordKind::Plane, Zone::OvestOr32}},
    {6708, {RefSystem::Etrf2000, CoordKind::Plane, Zone::EstOr33}},
    {6709, {RefSystem::Etrf2000, CoordKind::Plane, Zone::Utm34}},
    {6875, {RefSystem::Etrf2000, CoordKind::Plane, Zone::Italia}},
}};

// Codes of the same frame and projection, accepted when read but never given.
constexpr std::array<EpsgEntry, 8> kEquivalents{{
    {4258, {RefSystem::Etrf89, CoordKind::Geographic, Zone::Auto}},
    {25832, {RefSystem::Etrf89, CoordKind::Plane, Zone::OvestOr32}},
    {25833, {RefSystem::Etrf89, CoordKind::Plane, Zone::EstOr33}},
    {25834, {RefSystem::Etrf89, CoordKind::Plane, Zone::Utm34}},
    {7791, {RefSystem::Etrf2000, CoordKind::Plane, Zone::OvestOr32}},
    {7792, {RefSystem::Etrf2000, CoordKind::Plane, Zone::EstOr33}},
    {7793, {RefSystem::Etrf2000, CoordKind::Plane, Zone::Utm34}},
    {7794, {RefSystem::Etrf2000, CoordKind::Plane, Zone::Italia}},
}};

} // namespace

std::optional<int> epsgCode(RefSystem system, CoordKind kind, Zone zone, bool fromMonteMario) {
    const Zone wanted = kind == CoordKind::Geographic ? Zone::Auto : zone;
    if (kind == CoordKind::Plane && zone == Zone::Auto) {
        return std::nullopt;
    }
    if (fromMonteMario && system == RefSystem::Roma40 && kind == CoordKind::Geographic) {
        return kEpsgRoma40MonteMario;
    }
    for (const EpsgEntry& e : kTable) {
        if (e.crs == EpsgCrs{system, kind, wanted}) {
            return e.code;
        }
    }
    return std::nullopt;
}

std::optional<EpsgCrs> crsFromEpsg(int code) {
    if (code <= 0) {
        return std::nullopt;
    }
    if (code == kEpsgRoma40MonteMario) {
        return EpsgCrs{RefSystem::Roma40, CoordKind::Geographic, Zone::Auto, true};
    }
    for (const EpsgEntry& e : kTable) {
        if (e.code == code) {
            return e.crs;
        }
    }
    for (const EpsgEntry& e : kEquivalents) {
        if (e.code == code) {
            return e.crs;
        }
    }
    return std::nullopt;
}

std::optional<int> parseEpsgWord(std::string_view word) {
    constexpr std::string_view kPrefix = "EPSG:";
    if (word.size() <= kPrefix.size()) {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < kPrefix.size(); ++i) {
        if (asciiUpper(word[i]) != kPrefix[i]) {
            return std::nullopt;
        }
    }
    const std::string_view digits = word.substr(kPrefix.size());
    int code = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), code);
    if (ec != std::errc() || end != digits.data() + digits.size() || code <= 0) {
        return std::nullopt;
    }
    return code;
}

} // namespace dormal
