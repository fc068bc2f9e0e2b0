#pragma once
// Bilinear interpolation of the loaded grid portion at one point.

#include <cstdint>

#include "grid/grid_portion.h"

namespace dormal {

enum class Corner : std::int16_t { None = 0, NE, SE, SW, NW };

enum class InterpStatus : std::int16_t {
    Ok,          // result set
    ZeroCorner,  // a corner node number was 0: result NOT set, caller keeps the previous one
    OutsideNodes // the cell would reach beyond the portion's own nodes: the point is outside
};

struct ShiftResult {
    InterpStatus status = InterpStatus::Ok;
    Corner zeroCorner = Corner::None;
    double shiftLat = 0; // decimal degrees
    double shiftLon = 0; // decimal degrees
};
struct HeightShiftResult {
    InterpStatus status = InterpStatus::Ok;
    Corner zeroCorner = Corner::None;
    double shiftH = 0; // metres
};
struct GeoidResult {
    InterpStatus status = InterpStatus::Ok;
    Corner zeroCorner = Corner::None;
    double geoidUndulation = 0; // metres
};

// LATI_D, LONI_D: decimal degrees, longitude east of Greenwich, in the system the grid is
// laid out in (ROMA40 for INTER_RO, ETRF89 for the others).
// GRI 1: ROMA40->ED50 grid; any other value: ROMA40->ETRF89 grid.
ShiftResult INTER_RO(const GridPortion& g, double LATI_D, double LONI_D, std::int16_t GRI);
ShiftResult INTER_ET(const GridPortion& g, double LATI_D, double LONI_D);
HeightShiftResult INTER_H_ELL(const GridPortion& g, double LATI_D, double LONI_D);
GeoidResult INTER_GEOIDE(const GridPortion& g, double lat, double lon);

// A shift node value in decimal degrees: the stored seconds of arc v read as the
// sexagesimal value v / 10000, that is SESS_DEC(v / 10000) (bit for bit).
double shiftSecondsToDegrees(double seconds);

// The messages for a corner node number of 0: "IL PUNTO A N.E. VALE 0 " (and S.E., S.O.,
// N.O.), warning icon, title "Dormal2k"; for the geoid a second box "ERRORE".
std::vector<Message> zeroCornerMessages(Corner corner, bool geoid);

} // namespace dormal
