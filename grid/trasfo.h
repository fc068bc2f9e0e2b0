#pragma once
// The datum chain between ROMA40, ED50, ETRF89 and ETRF2000 through the loaded portion.

#include <cstdint>
#include <vector>

#include "grid/interpolation.h"

namespace dormal {

// The result cells the interpolations write; a zero-corner interpolation leaves them as
// they were, so the chain goes on with the previous values.
struct InterpolationCells {
    double shiftLat = 0, shiftLon = 0, shiftH = 0, geoidUndulation = 0;
};

struct ZeroCornerEvent {
    Corner corner;
    bool geoid; // true for INTER_GEOIDE (which adds the "ERRORE" box)
};

struct TrasfoResult {
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

// LATI_D, LONI_D: input datum, decimal degrees, Greenwich. ACCAI: height, metres
// (orthometric for ROMA40/ED50 input, ellipsoidal for ETRF89/ETRF2000).
// Equal systems give the input position back and no height. A system code outside 0..3
// computes nothing: out* stay 0, hasHeight false, cells as `previous`.
// Every step of a chain runs, in its order, even when the chosen output does not use its
// result; a zero-corner interpolation of a shift grid is recorded in zeroCorners and the
// chain goes on with the cells as they were; a zero corner of the geoid grid is recorded
// too but ends the chain as outside the nodes, as does any interpolation beyond the nodes.
TrasfoResult TRASFO(const GridPortion& g, double LATI_D, double LONI_D, double ACCAI, std::int16_t inputSystem,
                    std::int16_t outputSystem, const InterpolationCells& previous = {});

// One interpolation call of the chain, as a trace records it.
enum class InterpCall : std::int16_t { RO, ET, H_ELL, GEOIDE };
struct InterpCallRecord {
    InterpCall call;
    std::int16_t GRI; // INTER_RO only (1 ROMA40->ED50, 2 ROMA40->ETRF89); 0 for the others
    double lat, lon;  // where the grid was sampled, decimal degrees, Greenwich

    friend bool operator==(const InterpCallRecord&, const InterpCallRecord&) = default;
};

// The same chain, appending every interpolation call to *trace in the order it is made
// (for checking a chain's steps; TRASFO above pays nothing for it).
TrasfoResult TRASFO(const GridPortion& g, double LATI_D, double LONI_D, double ACCAI, std::int16_t inputSystem,
                    std::int16_t outputSystem, const InterpolationCells& previous,
                    std::vector<InterpCallRecord>* trace);

} // namespace dormal
