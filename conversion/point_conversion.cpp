#include "conversion/point_conversion.h"

#include <array>
#include <cmath>
#include <utility>

#include "conversion/grid_messages.h"
#include "geodesy/angles.h"
#include "geodesy/transverse_mercator.h"
#include "geodesy/zones.h"

namespace dormal {

namespace {

// Typed-value limits of a single point (inclusive).
constexpr double kNorthMin = 3000000, kNorthMax = 6000000;
constexpr double kEastMin = 100000, kEastMax = 8000000;
constexpr double kHeightMin = -1000, kHeightMax = 20000;
// sexagesimalToDegrees adds 1e-11 before splitting a sexagesimal value, which puts a typed 49°00'00" at
// 49.000000000028; the upper limits allow for that (1e-10 degrees is 0.01 mm), so the limits
// the user types are accepted, as they are meant to be.
constexpr double kSexagesimalSlack = 1e-10;
constexpr double kLatMin = 34, kLatMax = 49 + kSexagesimalSlack;
constexpr double kLonMin = 5, kLonMax = 20 + kSexagesimalSlack;

// ROMA40 plane input with automatic zone: East from this value on is Gauss-Boaga Est.
constexpr double kRoma40EstFrom = 2000000;

// The UTM zone-mismatch rules compare the output longitude with these values, not with
// 12 and 18: a point a hair east of the meridian still counts as belonging to it.
constexpr double kMismatchLon12 = 12.000000000028;
constexpr double kMismatchLon18 = 18.000000000028;

// Values every conversion uses, worked out once: the Monte Mario meridian.
struct Constants {
    double rome = 0; // sexagesimalToDegrees(12.27084), decimal degrees
};

const Constants& constants() {
    static const Constants k = [] {
        Constants c;
        c.rome = romeMeridian();
        return c;
    }();
    return k;
}

// The zone table, by system and zone, worked out once.
class ZoneTable {
public:
    ZoneTable() {
        for (std::size_t s = 0; s < kAllSystems.size(); ++s) {
            for (std::size_t z = 0; z < kZones.size(); ++z) {
                zones_[s][z] = zoneInfo(kAllSystems[s], kZones[z]);
            }
        }
    }
    const ZoneInfo& operator()(RefSystem system, Zone zone) const {
        return zones_[indexOf(kAllSystems, system)][indexOf(kZones, zone)];
    }

private:
    static constexpr std::array<Zone, 5> kZones{Zone::Auto, Zone::OvestOr32, Zone::EstOr33, Zone::Utm34, Zone::Italia};
    template <class T, std::size_t N> static std::size_t indexOf(const std::array<T, N>& all, T v) {
        std::size_t i = 0;
        while (i + 1 < N && all[i] != v) {
            ++i;
        }
        return i;
    }
    ZoneInfo zones_[4][5];
};

const ZoneInfo& zoneOf(RefSystem system, Zone zone) {
    static const ZoneTable table;
    return table(system, zone);
}

bool within(double v, double lo, double hi) {
    return v >= lo && v <= hi;
}

// The grid-coverage test: the approximate ROMA40 position within the ROMA40 grids' edges
// and the approximate ETRF89 position within the geoid grid's edges, every bound inclusive.
bool insideGrid(const ZoneLimits& z, RefSystem inputSystem, double lat, double lon) {
    return coverageAccepts(z, coverageProbe(inputSystem, lat, lon));
}

// Whether projecting into zone z a point whose own zone is c earns the mismatch warning.
// L: output longitude (from Monte Mario for ROMA40 output), decimal degrees.
bool zoneMismatchRule(bool utmRules, Zone c, Zone z, double L) {
    constexpr Zone k32 = Zone::OvestOr32, k33 = Zone::EstOr33, k34 = Zone::Utm34;
    if (utmRules) {
        return (c == k33 && z == k32 && L > kMismatchLon12) || (c == k33 && z == k34) || (c == k32 && z != k32) ||
               (c == k34 && z == k32) || (c == k34 && z == k33 && L > kMismatchLon18);
    }
    return (c == k32 && z != k32) || (c == k33 && z == k32);
}

PointResult stop(PointResult r, PointStatus s) {
    r.status = s;
    return r;
}

Message twoLines(MessageIcon icon, const char* title, const char* a, const char* b) {
    return Message{icon, title, {a, b}};
}

} // namespace

PointResult convertPoint(const ConversionContext& ctx, const PointInput& in, RunKind kind) {
    const SelectionState& sel = ctx.sel;
    const bool single = kind == RunKind::SinglePoint;
    const bool sameSystem = sel.inputSystem == sel.outputSystem;
    const Constants& k = constants();
    PointResult r;

    // Read the point: latitude and longitude in decimal degrees (ROMA40: from Monte Mario).
    double lat = 0;
    double lon = 0;
    if (sel.inputKind == CoordKind::Plane) {
        if (single) {
            if (!within(in.first, kNorthMin, kNorthMax)) {
                return stop(std::move(r), PointStatus::NorthOutOfRange);
            }
            if (!within(in.second, kEastMin, kEastMax)) {
                return stop(std::move(r), PointStatus::EastOutOfRange);
            }
            if (!within(in.height, kHeightMin, kHeightMax)) {
                return stop(std::move(r), PointStatus::HeightOutOfRange);
            }
        }
        Zone zone = sel.inputZone;
        if (sel.inputSystem == RefSystem::Roma40 && zone == Zone::Auto) {
            zone = in.second >= kRoma40EstFrom ? Zone::EstOr33 : Zone::OvestOr32;
        }
        const ZoneInfo& zi = zoneOf(sel.inputSystem, zone);
        if (!zi.valid) {
            return stop(std::move(r), PointStatus::Failed);
        }
        r.inZoneUsed = zone;
        const GeoLatDLon g = tmInverse(ellipsoidOf(sel.inputSystem), zi.scale, in.first, in.second - zi.falseEasting);
        lat = radToDeg(g.invLat);
        lon = radToDeg(g.invDLon) + (sel.inputSystem == RefSystem::Roma40 ? zi.centralMeridianMM : zi.centralMeridian);
    } else {
        lat = sexagesimalToDegrees(in.first);
        lon = sexagesimalToDegrees(in.second);
    }

    // ROMA40 geographic values read from Greenwich (EPSG 4265) rather than from Monte Mario.
    const bool inGreenwich =
        ctx.inputLonFromGreenwich && sel.inputSystem == RefSystem::Roma40 && sel.inputKind == CoordKind::Geographic;
    const bool outGreenwich =
        ctx.outputLonFromGreenwich && sel.outputSystem == RefSystem::Roma40 && sel.outputKind == CoordKind::Geographic;
    if (sel.inputSystem == RefSystem::Roma40) {
        r.naturalZone = naturalZoneRoma40(inGreenwich ? lon - k.rome : lon);
        // A batch between equal systems keeps ROMA40 longitudes from Monte Mario throughout.
        if (single || !sameSystem) {
            if (!inGreenwich) {
                lon += k.rome;
            }
        } else if (inGreenwich) {
            lon -= k.rome;
        }
    } else {
        r.naturalZone = naturalZoneGreenwich(lon);
    }

    if (single) {
        if (!within(lat, kLatMin, kLatMax)) {
            return stop(std::move(r), PointStatus::LatOutOfRange);
        }
        if (!within(lon, kLonMin, kLonMax)) {
            return stop(std::move(r), PointStatus::LonOutOfRange);
        }
        if (!within(in.height, kHeightMin, kHeightMax)) {
            return stop(std::move(r), PointStatus::HeightOutOfRange);
        }
    }

    double outLat = lat;
    double outLon = lon;
    if (!sameSystem) {
        const GridPortion* portion = ctx.portion;
        if (ctx.set != nullptr) {
            r.portionIndex = ctx.set->find(coverageProbe(sel.inputSystem, lat, lon));
            if (r.portionIndex < 0) {
                return stop(std::move(r), PointStatus::OutsideGrid);
            }
            portion = &ctx.set->portion(static_cast<std::size_t>(r.portionIndex));
        } else if (ctx.portion == nullptr || ctx.limits == nullptr || !insideGrid(*ctx.limits, sel.inputSystem, lat, lon)) {
            return stop(std::move(r), PointStatus::OutsideGrid);
        }
        DatumResult t = transformDatum(*portion, lat, lon, in.height, sel.inputSystem, sel.outputSystem);
        r.zeroCorners = std::move(t.zeroCorners);
        if (t.outsideNodes) {
            return stop(std::move(r), PointStatus::OutsideGrid);
        }
        outLat = t.outLat;
        outLon = t.outLon;
        r.hasHeight = ctx.heights && t.hasHeight;
        r.outHeight = t.outHeight;
        if (sel.outputSystem == RefSystem::Roma40 && !outGreenwich) {
            outLon -= k.rome;
        }
    } else if (single && sel.outputSystem == RefSystem::Roma40 && !outGreenwich) {
        outLon -= k.rome;
    } else if (!single && outGreenwich) {
        outLon += k.rome; // from Monte Mario, kept so between equal systems, to Greenwich
    }

    r.otherZoneInput =
        sel.inputKind == CoordKind::Plane && r.inZoneUsed != Zone::Italia && r.inZoneUsed != r.naturalZone;

    if (sel.outputKind == CoordKind::Geographic) {
        r.outFirst = degreesToSexagesimal(outLat);
        r.outSecond = degreesToSexagesimal(outLon);
    } else {
        Zone zone = sel.outputZone;
        if (zone == Zone::Auto) {
            if (sel.outputSystem == RefSystem::Roma40) {
                zone = r.naturalZone == Zone::OvestOr32 ? Zone::OvestOr32 : Zone::EstOr33;
            } else {
                zone = r.naturalZone;
            }
        }
        const ZoneInfo& zi = zoneOf(sel.outputSystem, zone);
        if (!zi.valid) {
            return stop(std::move(r), PointStatus::Failed);
        }
        r.outZoneUsed = zone;
        r.zoneText = zi.text;
        const double dLon =
            outLon - (sel.outputSystem == RefSystem::Roma40 ? zi.centralMeridianMM : zi.centralMeridian);
        const PlaneXY p = tmForward(ellipsoidOf(sel.outputSystem), zi.scale, degToRad(outLat), degToRad(dLon));
        r.outFirst = p.tmNorth;
        r.outSecond = p.tmEast + zi.falseEasting;

        const bool utmOrGaussBoagaZone =
            sel.outputZone == Zone::OvestOr32 || sel.outputZone == Zone::EstOr33 || sel.outputZone == Zone::Utm34;
        if (utmOrGaussBoagaZone && sel.outputZone != r.naturalZone) {
            // One point chooses the rule set by the input system, a batch by the output system.
            const RefSystem ruleSystem = single ? sel.inputSystem : sel.outputSystem;
            r.zoneMismatch = zoneMismatchRule(ruleSystem != RefSystem::Roma40, r.naturalZone, zone, outLon);
        }
    }

    if (!std::isfinite(r.outFirst) || !std::isfinite(r.outSecond) || (r.hasHeight && !std::isfinite(r.outHeight))) {
        r.status = PointStatus::Failed;
    }
    return r;
}

FieldRef focusField(PointStatus s) {
    switch (s) {
    case PointStatus::NorthOutOfRange:
    case PointStatus::LatOutOfRange:
        return FieldRef::First;
    case PointStatus::EastOutOfRange:
    case PointStatus::LonOutOfRange:
        return FieldRef::Second;
    case PointStatus::HeightOutOfRange:
        return FieldRef::Height;
    default:
        return FieldRef::None;
    }
}

Message outsideGridMessage(PortionKind kind) {
    return Message{
        MessageIcon::Warning,
        kTitleFuoriGrigliato,
        {"Punto non calcolabile perchè situato", "fuori della porzione di grigliato",
         kind == PortionKind::Vertex ? "relativo al vertice KVT95 indicato" : "relativo al foglio al 50.000 indicato"}};
}

Message pointFailureMessage() {
    return twoLines(MessageIcon::Error, kTitleErrore,
                    "PUNTO NON CALCOLABILE:", "IL CALCOLO HA DATO UN RISULTATO NON VALIDO");
}

std::vector<Message> singlePointMessages(const ConversionContext& ctx, const PointResult& r) {
    std::vector<Message> out;
    for (const ZeroCornerEvent& z : r.zeroCorners) {
        for (Message& m : zeroCornerMessages(z.corner, z.geoid)) {
            out.push_back(std::move(m));
        }
    }
    const auto warn = [&out](const char* a, const char* b) {
        out.push_back(twoLines(MessageIcon::Warning, kAppTitle, a, b));
    };
    switch (r.status) {
    case PointStatus::NorthOutOfRange:
        warn("VALORE DELLA COORD. NORD", "NON CONSENTITO");
        break;
    case PointStatus::EastOutOfRange:
        warn("VALORE DELLA COORD. EST", "NON CONSENTITO");
        break;
    case PointStatus::LatOutOfRange:
        warn("VALORE DI LATITUDINE", "NON CONSENTITO");
        break;
    case PointStatus::LonOutOfRange:
        warn("VALORE DI LONGITUDINE", "NON CONSENTITO");
        break;
    case PointStatus::HeightOutOfRange:
        warn("VALORE DI QUOTA", "NON CONSENTITO");
        break;
    case PointStatus::OutsideGrid:
        out.push_back(outsideGridMessage(ctx.portion != nullptr ? ctx.portion->kind : PortionKind::None));
        break;
    case PointStatus::Failed:
        out.push_back(pointFailureMessage());
        break;
    case PointStatus::Converted:
        if (r.otherZoneInput) {
            out.push_back(twoLines(MessageIcon::Warning, kTitleAttenzione,
                                   "IL PUNTO IN CALCOLO APPARTIENE AD UN FUSO DIVERSO",
                                   "RISPETTO ALLE COORDINATE PIANE INTRODOTTE"));
        }
        if (r.zoneMismatch) {
            out.push_back(twoLines(MessageIcon::Warning, kTitleAttenzione, "E' STATA RICHIESTA LA PROIEZIONE DEL PUNTO",
                                   "IN UN FUSO DIVERSO DA QUELLO DI APPARTENENZA"));
        }
        break;
    }
    return out;
}

std::optional<Message> globalGeoidMessage(const ConversionContext& ctx) {
    if (ctx.heights && ctx.portion != nullptr && ctx.portion->globalGeoid == 1) {
        return Message{
            MessageIcon::Information, kAppTitle, {"ATTENZIONE: QUOTE GEOIDICHE RIFERITE AL MODELLO GLOBALE"}};
    }
    return std::nullopt;
}

std::optional<Message> commonChecks(const SelectionState& sel, bool gridSelected) {
    if (sel.inputSystem != sel.outputSystem) {
        if (!gridSelected) {
            return twoLines(MessageIcon::Warning, kAppTitle, "NON E' STATO SELEZIONATO  ",
                            "NESSUN FILE CONTENENTE PORZIONI DI GRIGLIA");
        }
        return std::nullopt;
    }
    const bool bothGeographic = sel.inputKind == CoordKind::Geographic && sel.outputKind == CoordKind::Geographic;
    const bool samePlaneZone =
        sel.inputKind == CoordKind::Plane && sel.outputKind == CoordKind::Plane && sel.inputZone == sel.outputZone;
    if (bothGeographic || samePlaneZone) {
        return Message{MessageIcon::Warning, kAppTitle, {"TRASFORMAZIONE NON NECESSARIA"}};
    }
    return std::nullopt;
}

Message missingCoordinatesMessage() {
    return twoLines(MessageIcon::Warning, kAppTitle, "INSERIRE LE COORDINATE  ", "DEL PUNTO DA CALCOLARE");
}

} // namespace dormal
