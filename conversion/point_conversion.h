#pragma once
// The conversion of one point: zone resolution, projection, grid-coverage test, datum
// chain, output zone, warnings. Never throws; the result says what happened.

#include <cstdint>
#include <optional>
#include <vector>

#include "geodesy/systems.h"
#include "grid/datum_transform.h"
#include "grid/grid_portion.h"
#include "conversion/message.h"
#include "grid/portion_set.h"
#include "grid/zone_limits.h"

namespace dormal {

struct ConversionContext {
    SelectionState sel;
    bool heights = false;                 // Check1 "Trasforma le quote"
    const GridPortion* portion = nullptr; // loaded portion, or null
    const ZoneLimits* limits = nullptr;   // its limits, or null
    // A working set of portions, or null. When given it takes the place of portion/limits
    // for converting: each point uses the first portion of the set that accepts it.
    // portion/limits then name the set's first portion (kind, epochs, global geoid).
    const PortionSet* set = nullptr;
    // Batch runs: the ROMA40 geographic longitudes of the data (input) or of the results
    // (output) are counted from Greenwich (EPSG 4265) instead of from Monte Mario.
    bool inputLonFromGreenwich = false;
    bool outputLonFromGreenwich = false;
};

// Values as typed or read: geographic kind gives gg.ppssdddd (ROMA40 longitudes from
// Monte Mario), plane kind North and East in metres; height in metres.
struct PointInput {
    double first = 0;
    double second = 0;
    double height = 0;
};

enum class PointStatus : std::int16_t {
    Converted,
    OutsideGrid,     // grid-coverage test failed, or the interpolation reached beyond the nodes
    NorthOutOfRange, // single point only, the range checks
    EastOutOfRange,
    LatOutOfRange,
    LonOutOfRange,
    HeightOutOfRange,
    Failed // no finite result, or a zone the system does not have
};

// Which typed field a failed check points at.
enum class FieldRef : std::int16_t { None, First /*Text3*/, Second /*Text5*/, Height /*Text7*/ };

struct PointResult {
    PointStatus status = PointStatus::Converted;
    // Output as shown/written: geographic output gives gg.ppssdddd (degreesToSexagesimal; ROMA40 from
    // Monte Mario), plane output North and East with false easting.
    double outFirst = 0;
    double outSecond = 0;
    bool hasHeight = false; // heights on and the chain produced one
    double outHeight = 0;
    Zone naturalZone = Zone::Auto; // the zone the point lies in (Auto: not worked out)
    Zone inZoneUsed = Zone::Auto;  // plane input: the zone the point was read in
    Zone outZoneUsed = Zone::Auto; // plane output: the zone the point was projected into
    const char* zoneText = "";   // plane output: "Ovest", "Est", "32", "33", "34", "Italia"
    bool otherZoneInput = false; // plane input in a zone that is not the point's own
    bool zoneMismatch = false;   // projected into a zone that is not the point's own
    std::vector<ZeroCornerEvent> zeroCorners;
    int portionIndex = -1; // with a working set: the portion that converted the point
};

enum class RunKind { SinglePoint, Batch };

// SinglePoint: range checks, mismatch rule set by the input system.
// Batch: no range checks, rule set by the output system, equal systems keep ROMA40
// longitudes from Monte Mario.
PointResult convertPoint(const ConversionContext& ctx, const PointInput& in, RunKind kind);

// The messages of a single-point run, in the order the window shows them: for a failed
// check its one message; for a converted point the warnings (other zone of the plane
// input, then zone mismatch); the zero-corner boxes come first, as the chain raised them.
// The global-geoid note is separate: it comes after the fields are written.
std::vector<Message> singlePointMessages(const ConversionContext& ctx, const PointResult& r);
// "ATTENZIONE: QUOTE GEOIDICHE RIFERITE AL MODELLO GLOBALE" when heights are on and the
// portion's globalGeoid is 1.
std::optional<Message> globalGeoidMessage(const ConversionContext& ctx);

// The common checks before any run: no grid portion selected while the systems differ,
// then "TRASFORMAZIONE NON NECESSARIA". `gridSelected`: a file is selected and loaded.
std::optional<Message> commonChecks(const SelectionState& sel, bool gridSelected);

// Keyboard mode: the first coordinate field is empty.
Message missingCoordinatesMessage();

// The typed field a failed range check points at (None for any other status).
FieldRef focusField(PointStatus s);

// "Punto non calcolabile perchè situato" / "fuori della porzione di grigliato" / the
// vertex or map-sheet line by the portion kind; title "Punto fuori Grigliato".
Message outsideGridMessage(PortionKind kind);

// A point whose computation gave no finite result (status Failed), error icon, "Errore".
Message pointFailureMessage();

} // namespace dormal
