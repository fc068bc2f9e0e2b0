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

// Which of the two ROMA40 shift grids interpolateRoma40Shift reads. (Traditionally a
// number, GRI: 1 for ED50, any other value for ETRF89; a value outside the enumeration
// still reads the ETRF89 grid.)
enum class Roma40Grid : std::int16_t { None = 0, ToEd50 = 1, ToEtrf89 = 2 };

// Every interpolation takes latDeg, lonDeg: the point, decimal degrees, longitude east of
// Greenwich, in the system the grid is laid out in (ROMA40 for interpolateRoma40Shift,
// ETRF89 for the others).

// The ROMA40->ED50 or ROMA40->ETRF89 shift at the point. Traditional name: INTER_RO.
ShiftResult interpolateRoma40Shift(const GridPortion& g, double latDeg, double lonDeg, Roma40Grid grid);
// The ETRF89->ETRF2000 shift at the point. Traditional name: INTER_ET.
ShiftResult interpolateEtrf2000Shift(const GridPortion& g, double latDeg, double lonDeg);
// The ETRF89->ETRF2000 ellipsoidal height shift at the point. Traditional name: INTER_H_ELL.
HeightShiftResult interpolateHeightShift(const GridPortion& g, double latDeg, double lonDeg);
// interpolateEtrf2000Shift and interpolateHeightShift at the same point, the grid's cell
// found once: the same results as the two calls.
struct Etrf2000ShiftAndHeight {
    ShiftResult shift;
    HeightShiftResult height;
};
Etrf2000ShiftAndHeight interpolateEtrf2000ShiftAndHeight(const GridPortion& g, double latDeg, double lonDeg);
// The geoid undulation (ETRF89 ellipsoid above the geoid) at the point. Traditional name:
// INTER_GEOIDE.
GeoidResult interpolateGeoid(const GridPortion& g, double latDeg, double lonDeg);

// Fills g.tables from the node values (every cell whose four corners are nodes of the
// portion) and marks them ready. The interpolations above then read a cell's coefficients
// instead of its corners: the same operations on the same values, so the same bits.
void prepareInterpolation(GridPortion& g);

// A shift node value in decimal degrees: the stored seconds of arc v read as the
// sexagesimal value v / 10000, that is sexagesimalToDegrees(v / 10000) (bit for bit).
double shiftSecondsToDegrees(double seconds);

} // namespace dormal
