#pragma once
// The datum chain between ROMA40, ED50, ETRF89 and ETRF2000 through the loaded portion.

#include <cstdint>
#include <vector>

#include "geodesy/systems.h"
#include "grid/interpolation.h"

namespace dormal {

// The result cells the interpolations write; a zero-corner interpolation leaves them as
// they were, so the chain goes on with the previous values.
struct InterpolationCells {
    double shiftLat = 0, shiftLon = 0, shiftH = 0, geoidUndulation = 0;
};

struct ZeroCornerEvent {
    Corner corner;
    bool geoid; // true for interpolateGeoid (which adds the "ERRORE" box)
};

struct DatumResult {
    bool outsideNodes = false;                // an interpolation reached beyond the portion's nodes
                                              // (or a geoid corner numbered 0): the point is
                                              // outside the grid, out* are not valid
    double outLat = 0;                        // decimal degrees, output datum
    double outLon = 0;                        // decimal degrees east of Greenwich
    bool hasHeight = false;                   // outHeight produced for this pair
    double outHeight = 0;                     // metres
    std::vector<ZeroCornerEvent> zeroCorners; // in the order they happened (usually empty)
    InterpolationCells cells;                 // cells as the chain left them
};

// The datum chain from one system to another at one point. Traditional name: TRASFO.
// latDeg, lonDeg: input datum, decimal degrees, Greenwich. height: height, metres
// (orthometric for ROMA40/ED50 input, ellipsoidal for ETRF89/ETRF2000).
// Equal systems give the input position back and no height. A value outside the
// enumeration computes nothing: out* stay 0, hasHeight false, cells as `previous`.
// Every step of a chain runs, in its order, even when the chosen output does not use its
// result; a zero-corner interpolation of a shift grid is recorded in zeroCorners and the
// chain goes on with the cells as they were; a zero corner of the geoid grid is recorded
// too but ends the chain as outside the nodes, as does any interpolation beyond the nodes.
DatumResult transformDatum(const GridPortion& g, double latDeg, double lonDeg, double height, RefSystem inputSystem,
                           RefSystem outputSystem, const InterpolationCells& previous = {});

// One interpolation call of the chain, as a trace records it.
enum class InterpCall : std::int16_t { Roma40Shift, Etrf2000Shift, HeightShift, Geoid };
struct InterpCallRecord {
    InterpCall call;
    Roma40Grid roma40Grid; // which grid interpolateRoma40Shift read; None for the other calls
    double lat, lon;  // where the grid was sampled, decimal degrees, Greenwich

    friend bool operator==(const InterpCallRecord&, const InterpCallRecord&) = default;
};

// The same chain, appending every interpolation call to *trace in the order it is made
// (for checking a chain's steps; transformDatum above pays nothing for it).
DatumResult transformDatum(const GridPortion& g, double latDeg, double lonDeg, double height, RefSystem inputSystem,
                           RefSystem outputSystem, const InterpolationCells& previous,
                           std::vector<InterpCallRecord>* trace);

} // namespace dormal
