#include "conversion/point_conversion.h"

#include <cmath>
#include <utility>

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

// Values every conversion uses, worked out once: the Monte Mario meridian and the zone table.
struct Constants {
    double rome = 0; // sexagesimalToDegrees(12.27084), decimal degrees
    ZoneInfo zones[4][5]; // by system code and zone code
};

const Constants& constants() {
    static const Constants k = [] {
        Constants c;
        c.rome = romeMeridian();
        for (std::int16_t sys = 0; sys < 4; ++sys) {
            for (ZoneCode z = 0; z < 5; ++z) {
                c.zones[sys][z] = zoneInfo(sys, z);
            }
        }
        return c;
    }();
    return k;
}

// The zone of a system by a resolved zone code; an invalid ZoneInfo for codes out of range.
const ZoneInfo& zoneOf(const Constants& k, std::int16_t system, ZoneCode zone) {
    static const ZoneInfo kNone{};
    if (system < 0 || system > 3 || zone < 0 || zone > 4) {
        return kNone;
    }
    return k.zones[system][zone];
}

bool within(double v, double lo, double hi) {
    return v >= lo && v <= hi;
}

// The grid-coverage test: the approximate ROMA40 position within the ROMA40 grids' edges
// and the approximate ETRF89 position within the geoid grid's edges, every bound inclusive.
bool insideGrid(const ZoneLimits& z, std::int16_t inputSystem, double lat, double lon) {
    return coverageAccepts(z, coverageProbe(inputSystem, lat, lon));
}

// Whether projecting into zone z a point whose own zone is c earns the mismatch warning.
// L: output longitude (from Monte Mario for ROMA40 output), decimal degrees.
bool zoneMismatchRule(bool utmRules, std::int16_t c, std::int16_t z, double L) {
    if (utmRules) {
        return (c == 2 && z == 1 && L > kMismatchLon12) || (c == 2 && z == 3) || (c == 1 && z != 1) ||
               (c == 3 && z == 1) || (c == 3 && z == 2 && L > kMismatchLon18);
    }
    return (c == 1 && z != 1) || (c == 2 && z == 1);
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
    if (sel.inputKind == kPlane) {
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
        ZoneCode zone = sel.inputZone;
        if (sel.inputSystem == kRoma40 && zone == kZoneAuto) {
            zone = in.second >= kRoma40EstFrom ? kZoneEst33 : kZoneOvest32;
        }
        const ZoneInfo& zi = zoneOf(k, sel.inputSystem, zone);
        if (!zi.valid) {
            return stop(std::move(r), PointStatus::Failed);
        }
        r.inZoneUsed = zone;
        // The projection takes the zone code as selected (0 for automatic): it only picks
        // the scale factor from it.
        const GeoLatDLon g = tmInverse(in.first, in.second - zi.falseEasting, sel.inputSystem, sel.inputZone);
        lat = radToDeg(g.invLat);
        lon = radToDeg(g.invDLon) + (sel.inputSystem == kRoma40 ? zi.centralMeridianMM : zi.centralMeridian);
    } else {
        lat = sexagesimalToDegrees(in.first);
        lon = sexagesimalToDegrees(in.second);
    }

    if (sel.inputSystem == kRoma40) {
        r.naturalZone = naturalZoneRoma40(lon);
        // A batch between equal systems keeps ROMA40 longitudes from Monte Mario throughout.
        if (single || !sameSystem) {
            lon += k.rome;
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
        if (sel.outputSystem == kRoma40) {
            outLon -= k.rome;
        }
    } else if (single && sel.outputSystem == kRoma40) {
        outLon -= k.rome;
    }

    r.otherZoneInput = sel.inputKind == kPlane && r.inZoneUsed != kZoneItalia && r.inZoneUsed != r.naturalZone;

    if (sel.outputKind == kGeographic) {
        r.outFirst = degreesToSexagesimal(outLat);
        r.outSecond = degreesToSexagesimal(outLon);
    } else {
        ZoneCode zone = sel.outputZone;
        if (zone == kZoneAuto) {
            if (sel.outputSystem == kRoma40) {
                zone = r.naturalZone == 1 ? kZoneOvest32 : kZoneEst33;
            } else {
                zone = r.naturalZone;
            }
        }
        const ZoneInfo& zi = zoneOf(k, sel.outputSystem, zone);
        if (!zi.valid) {
            return stop(std::move(r), PointStatus::Failed);
        }
        r.outZoneUsed = zone;
        r.zoneText = zi.text;
        const double dLon = outLon - (sel.outputSystem == kRoma40 ? zi.centralMeridianMM : zi.centralMeridian);
        const PlaneXY p = tmForward(degToRad(outLat), degToRad(dLon), sel.outputSystem, sel.outputZone);
        r.outFirst = p.tmNorth;
        r.outSecond = p.tmEast + zi.falseEasting;

        if (sel.outputZone >= 1 && sel.outputZone <= 3 && sel.outputZone != r.naturalZone) {
            // One point chooses the rule set by the input system, a batch by the output system.
            const std::int16_t ruleSystem = single ? sel.inputSystem : sel.outputSystem;
            r.zoneMismatch = zoneMismatchRule(ruleSystem != kRoma40, r.naturalZone, zone, outLon);
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
    const bool bothGeographic = sel.inputKind == kGeographic && sel.outputKind == kGeographic;
    const bool samePlaneZone = sel.inputKind == kPlane && sel.outputKind == kPlane && sel.inputZone == sel.outputZone;
    if (bothGeographic || samePlaneZone) {
        return Message{MessageIcon::Warning, kAppTitle, {"TRASFORMAZIONE NON NECESSARIA"}};
    }
    return std::nullopt;
}

Message missingCoordinatesMessage() {
    return twoLines(MessageIcon::Warning, kAppTitle, "INSERIRE LE COORDINATE  ", "DEL PUNTO DA CALCOLARE");
}

} // namespace dormal
