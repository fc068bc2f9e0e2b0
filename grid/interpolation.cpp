#include "grid/interpolation.h"

#include <algorithm>
#include <cmath>

#include "geodesy/angles.h"

namespace dormal {

namespace {

// The cell that holds a point: its four corner node numbers, the point's offsets from the
// cell's south-west node, and whether the cell can be used.
struct Cell {
    InterpStatus status = InterpStatus::Ok;
    Corner zeroCorner = Corner::None;
    int sw = 0, se = 0, nw = 0, ne = 0; // node numbers (indices into the value arrays)
    double dx = 0;                      // longitude east of the west side, decimal degrees
    double dy = 0;                      // latitude north of the south side, decimal degrees
};

Cell outside() {
    Cell c;
    c.status = InterpStatus::OutsideNodes;
    return c;
}

bool fits16(double v) {
    return v >= -32768.0 && v <= 32767.0;
}
bool fits16(int v) {
    return v >= -32768 && v <= 32767;
}

// The corner node numbers are tested for 0 in this order: NE, SE, SW, NW. A 0 means the
// cell lies off the grid's numbering; the interpolation then gives no result.
bool zeroCornerFound(Cell& c) {
    const Corner order[] = {Corner::NE, Corner::SE, Corner::SW, Corner::NW};
    const int nodes[] = {c.ne, c.se, c.sw, c.nw};
    for (int i = 0; i < 4; ++i) {
        if (nodes[i] == 0) {
            c.status = InterpStatus::ZeroCorner;
            c.zeroCorner = order[i];
            return true;
        }
    }
    return false;
}

bool inNodes(int node, int count) {
    return node >= 1 && node <= count;
}

// Cell of a shift grid (rows counted northward from the origin row, columns eastward).
Cell planCell(const GridPortion& g, double lat0, double lon0, double lat, double lon) {
    const int n = g.planNodesPerRow;
    const int count = g.planNodeCount;
    if (n < 2 || count < 2 * n || count % n != 0) {
        return outside(); // no portion loaded
    }
    const double row = wholePart(std::fabs(lat0 - lat) / planStepLat);
    const double col = wholePart(std::fabs(lon0 - lon) / planStepLon);
    const double first = 1 + n * row;
    const double sw = first + col;
    if (!fits16(sw)) {
        return outside(); // node number beyond the 16-bit range (and beyond any grid)
    }
    Cell c;
    c.sw = static_cast<int>(sw);
    c.se = c.sw + 1;
    c.nw = c.sw + n;
    c.ne = c.sw + n + 1;
    if (!fits16(c.ne)) {
        return outside();
    }
    if (zeroCornerFound(c)) {
        return c;
    }
    // The cell must lie within the portion's own nodes: a point south or west of the
    // origin node would be mirrored into the grid by the absolute values above, and a cell
    // in the last row or column would take its north or east corners from the zero-filled
    // nodes beyond the portion, or from the start of the next row.
    const int rows = count / n;
    if (lat < lat0 || lon < lon0 || row > rows - 2 || col > n - 2 || !inNodes(c.sw, count) || !inNodes(c.ne, count)) {
        return outside();
    }
    // (first - 1) / n is `row` exactly (small whole numbers): the division is spared.
    const double latS = row * planStepLat + lat0;
    const double lonW = (c.sw - first) * planStepLon + lon0;
    c.dx = lon - lonW;
    c.dy = lat - latS;
    return c;
}

// Cell of the geoid grid (rows counted southward from geoidTopLat, columns eastward).
Cell geoidCell(const GridPortion& g, double lat, double lon) {
    const int n = g.geoidNodesPerRow;
    const int count = g.geoidNodeCount;
    if (n < 2 || count < 2 * n || count % n != 0) {
        return outside();
    }
    const double southRow = wholePart((g.geoidTopLat - lat) / geoidStepLat) + 1;
    const double col = wholePart((lon - g.geoidOriginLon) / geoidStepLon);
    const double first = 1 + n * southRow;
    const double sw = first + col;
    if (!fits16(first) || !fits16(sw)) {
        return outside();
    }
    Cell c;
    c.sw = static_cast<int>(sw);
    c.se = c.sw + 1;
    c.nw = c.sw - n;
    c.ne = c.sw - n + 1;
    if (!fits16(c.se) || !fits16(c.nw)) {
        return outside();
    }
    if (zeroCornerFound(c)) {
        return c;
    }
    const int rows = count / n;
    if (southRow < 1 || southRow > rows - 1 || col < 0 || col > n - 2 || !inNodes(c.nw, count) ||
        !inNodes(c.se, count)) {
        return outside();
    }
    const double latS = g.geoidTopLat - southRow * geoidStepLat; // (first - 1) / n exactly
    const double lonW = (c.sw - first) * geoidStepLon + g.geoidOriginLon;
    c.dx = lon - lonW;
    c.dy = lat - latS;
    return c;
}

// The bilinear form of a cell from its corner values.
CellCoefficients coefficients(double vSW, double vSE, double vNW, double vNE, double stepLat, double stepLon) {
    CellCoefficients k;
    k.sw = vSW;
    k.east = (vSE - vSW) / stepLon;
    k.north = (vNW - vSW) / stepLat;
    k.twist = (vNE - vSE - vNW + vSW) / (stepLon * stepLat);
    return k;
}

// Bilinear interpolation in a cell; the sum is formed in this order.
double evaluate(const CellCoefficients& k, const Cell& c) {
    return k.east * c.dx + k.sw + k.north * c.dy + c.dy * (c.dx * k.twist);
}

// A shift grid's node value in decimal degrees (stored in seconds of arc), or a metre
// grid's as it is.
enum class Unit : std::uint8_t { Seconds, Metres };
double nodeValue(double v, Unit unit) {
    return unit == Unit::Seconds ? shiftSecondsToDegrees(v) : v;
}

// The coefficients of a cell from the grid's node values.
template <std::size_t N>
CellCoefficients cellCoefficients(const std::array<double, N>& v, const Cell& c, Unit unit, double stepLat,
                                  double stepLon) {
    const auto at = [&](int node) { return nodeValue(v[static_cast<std::size_t>(node)], unit); };
    return coefficients(at(c.sw), at(c.se), at(c.nw), at(c.ne), stepLat, stepLon);
}

// The value of a grid in an accepted cell: from the prepared table, or from the nodes.
template <std::size_t N>
double interpolate(const GridPortion& g, const std::array<CellCoefficients, N>& table, const std::array<double, N>& v,
                   const Cell& c, Unit unit, double stepLat, double stepLon) {
    if (g.tables.ready) {
        return evaluate(table[static_cast<std::size_t>(c.sw)], c);
    }
    return evaluate(cellCoefficients(v, c, unit, stepLat, stepLon), c);
}

ShiftResult shiftPair(const GridPortion& g, const std::array<CellCoefficients, kPlanArraySize>& tLat,
                      const std::array<double, kPlanArraySize>& dLat,
                      const std::array<CellCoefficients, kPlanArraySize>& tLon,
                      const std::array<double, kPlanArraySize>& dLon, const Cell& c) {
    ShiftResult r;
    r.status = c.status;
    r.zeroCorner = c.zeroCorner;
    if (c.status == InterpStatus::Ok) {
        r.shiftLat = interpolate(g, tLat, dLat, c, Unit::Seconds, planStepLat, planStepLon);
        r.shiftLon = interpolate(g, tLon, dLon, c, Unit::Seconds, planStepLat, planStepLon);
    }
    return r;
}

// Every cell of a grid whose four corners are nodes 1..count; `north` is +n for the shift
// grids (rows counted northward) and -n for the geoid (rows counted southward).
template <std::size_t N>
void fillTable(std::array<CellCoefficients, N>& table, const std::array<double, N>& v, int count, int north,
               Unit unit, double stepLat, double stepLon) {
    table.fill(CellCoefficients{});
    const int last = std::min(count, static_cast<int>(N) - 1);
    for (int sw = 1; sw <= last; ++sw) {
        Cell c;
        c.sw = sw;
        c.se = sw + 1;
        c.nw = sw + north;
        c.ne = sw + north + 1;
        if (inNodes(c.se, count) && inNodes(c.nw, count) && inNodes(c.ne, count) &&
            c.ne <= last && c.nw <= last) {
            table[static_cast<std::size_t>(sw)] = cellCoefficients(v, c, unit, stepLat, stepLon);
        }
    }
}

} // namespace

void prepareInterpolation(GridPortion& g) {
    InterpolationTables& t = g.tables;
    const int plan = g.planNodeCount;
    const int n = g.planNodesPerRow;
    fillTable(t.roEdLat, g.roEdDLat, plan, n, Unit::Seconds, planStepLat, planStepLon);
    fillTable(t.roEdLon, g.roEdDLon, plan, n, Unit::Seconds, planStepLat, planStepLon);
    fillTable(t.roE89Lat, g.roE89DLat, plan, n, Unit::Seconds, planStepLat, planStepLon);
    fillTable(t.roE89Lon, g.roE89DLon, plan, n, Unit::Seconds, planStepLat, planStepLon);
    fillTable(t.etLat, g.e89E2000DLat, plan, n, Unit::Seconds, planStepLat, planStepLon);
    fillTable(t.etLon, g.e89E2000DLon, plan, n, Unit::Seconds, planStepLat, planStepLon);
    fillTable(t.etH, g.e89E2000DH, plan, n, Unit::Metres, planStepLat, planStepLon);
    fillTable(t.geoid, g.geoidN, g.geoidNodeCount, -g.geoidNodesPerRow, Unit::Metres, geoidStepLat, geoidStepLon);
    t.ready = true;
}

ShiftResult interpolateRoma40Shift(const GridPortion& g, double latDeg, double lonDeg, Roma40Grid grid) {
    const Cell c = planCell(g, g.planOriginLat, g.planOriginLon, latDeg, lonDeg);
    const InterpolationTables& t = g.tables;
    if (grid == Roma40Grid::ToEd50) {
        return shiftPair(g, t.roEdLat, g.roEdDLat, t.roEdLon, g.roEdDLon, c);
    }
    return shiftPair(g, t.roE89Lat, g.roE89DLat, t.roE89Lon, g.roE89DLon, c);
}

ShiftResult interpolateEtrf2000Shift(const GridPortion& g, double latDeg, double lonDeg) {
    const Cell c = planCell(g, g.e2000OriginLat, g.e2000OriginLon, latDeg, lonDeg);
    return shiftPair(g, g.tables.etLat, g.e89E2000DLat, g.tables.etLon, g.e89E2000DLon, c);
}

namespace {
HeightShiftResult heightShift(const GridPortion& g, const Cell& c) {
    HeightShiftResult r;
    r.status = c.status;
    r.zeroCorner = c.zeroCorner;
    if (c.status == InterpStatus::Ok) {
        r.shiftH = interpolate(g, g.tables.etH, g.e89E2000DH, c, Unit::Metres, planStepLat, planStepLon);
    }
    return r;
}
} // namespace

HeightShiftResult interpolateHeightShift(const GridPortion& g, double latDeg, double lonDeg) {
    return heightShift(g, planCell(g, g.e2000OriginLat, g.e2000OriginLon, latDeg, lonDeg));
}

Etrf2000ShiftAndHeight interpolateEtrf2000ShiftAndHeight(const GridPortion& g, double latDeg, double lonDeg) {
    const Cell c = planCell(g, g.e2000OriginLat, g.e2000OriginLon, latDeg, lonDeg);
    return {shiftPair(g, g.tables.etLat, g.e89E2000DLat, g.tables.etLon, g.e89E2000DLon, c), heightShift(g, c)};
}

GeoidResult interpolateGeoid(const GridPortion& g, double lat, double lon) {
    const Cell c = geoidCell(g, lat, lon);
    GeoidResult r;
    r.status = c.status;
    r.zeroCorner = c.zeroCorner;
    if (c.status == InterpStatus::Ok) {
        r.geoidUndulation = interpolate(g, g.tables.geoid, g.geoidN, c, Unit::Metres, geoidStepLat, geoidStepLon);
    }
    return r;
}

double shiftSecondsToDegrees(double seconds) {
    // sexagesimalToDegrees(p) with p = seconds / 10000, step by step: x = |p| + 1e-11; below 100" both
    // Int(x) and wholePart(x * 100) are 0, so the degrees and minutes add 0 and the result is the
    // seconds term (x * 100 - 0) / 36 with p's sign, the same bits sexagesimalToDegrees gives. This
    // spares three floor calls per node value on the conversion's hot path.
    const double p = seconds / 10000;
    const double x = std::fabs(p) + 0.00000000001;
    const double x100 = x * 100;
    if (x100 < 1.0) {
        const double r = x100 / 36;
        return p > 0 ? r : (p < 0 ? -r : 0.0);
    }
    return sexagesimalToDegrees(p);
}

} // namespace dormal
