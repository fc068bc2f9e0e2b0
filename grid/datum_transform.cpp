#include "grid/datum_transform.h"

#include "geodesy/systems.h"

namespace dormal {

namespace {

// The interpolation steps of one chain. Each step writes the result cells it sets (or
// leaves them as they are after a zero corner, recording it); a step outside the grid's
// nodes marks the result and returns false, which ends the chain.
template <bool kTraced> class Chain {
public:
    Chain(const GridPortion& g, DatumResult& r, std::vector<InterpCallRecord>* trace)
        : g_(g), r_(r), cells_(r.cells), trace_(trace) {}

    bool ro(double lat, double lon, Roma40Grid grid) {
        record(InterpCall::Roma40Shift, grid, lat, lon);
        return takeShift(interpolateRoma40Shift(g_, lat, lon, grid));
    }
    bool et(double lat, double lon) { return et(lat, lon, interpolateEtrf2000Shift(g_, lat, lon)); }
    bool hEll(double lat, double lon) { return hEll(lat, lon, interpolateHeightShift(g_, lat, lon)); }
    // The same steps with the grid already sampled at (lat, lon).
    bool et(double lat, double lon, const ShiftResult& s) {
        record(InterpCall::Etrf2000Shift, Roma40Grid::None, lat, lon);
        return takeShift(s);
    }
    bool hEll(double lat, double lon, const HeightShiftResult& s) {
        record(InterpCall::HeightShift, Roma40Grid::None, lat, lon);
        if (!accept(s.status, s.zeroCorner, false)) {
            return false;
        }
        if (s.status == InterpStatus::Ok) {
            cells_.shiftH = s.shiftH;
        }
        return true;
    }
    const GridPortion& portion() const { return g_; }
    bool geoide(double lat, double lon) {
        record(InterpCall::Geoid, Roma40Grid::None, lat, lon);
        const GeoidResult s = interpolateGeoid(g_, lat, lon);
        if (s.status == InterpStatus::ZeroCorner) {
            // A geoid corner numbered 0 lies north of the geoid's top row or west of its
            // origin: the point is off the geoid grid. Going on with the previous
            // undulation (0 for a first point) would write a wrong height without a word;
            // the corner is recorded (its messages) and the point is outside.
            r_.zeroCorners.push_back({s.zeroCorner, true});
            r_.outsideNodes = true;
            return false;
        }
        if (!accept(s.status, s.zeroCorner, true)) {
            return false;
        }
        if (s.status == InterpStatus::Ok) {
            cells_.geoidUndulation = s.geoidUndulation;
        }
        return true;
    }

    // A step against a grid's direction: from (y, x) in the grid's target system, a first
    // estimate with the shift sampled at (y, x), then the shift sampled again at that estimate.
    template <typename Step> bool inverse(double y, double x, Step step, double& lat, double& lon) {
        if (!step(y, x)) {
            return false;
        }
        const double latA = y - cells_.shiftLat;
        const double lonA = x - cells_.shiftLon;
        if (!step(latA, lonA)) {
            return false;
        }
        lat = y - cells_.shiftLat;
        lon = x - cells_.shiftLon;
        return true;
    }

    const InterpolationCells& cells() const { return cells_; }

private:
    void record(InterpCall call, Roma40Grid grid, double lat, double lon) {
        if constexpr (kTraced) {
            if (trace_ != nullptr) {
                trace_->push_back({call, grid, lat, lon});
            }
        }
    }
    bool accept(InterpStatus status, Corner corner, bool geoid) {
        switch (status) {
        case InterpStatus::Ok:
            return true;
        case InterpStatus::ZeroCorner:
            r_.zeroCorners.push_back({corner, geoid});
            return true;
        case InterpStatus::OutsideNodes:
            break;
        }
        r_.outsideNodes = true;
        return false;
    }
    bool takeShift(const ShiftResult& s) {
        if (!accept(s.status, s.zeroCorner, false)) {
            return false;
        }
        if (s.status == InterpStatus::Ok) {
            cells_.shiftLat = s.shiftLat;
            cells_.shiftLon = s.shiftLon;
        }
        return true;
    }

    const GridPortion& g_;
    DatumResult& r_;
    InterpolationCells& cells_;
    std::vector<InterpCallRecord>* trace_;
};

void setOut(DatumResult& r, double lat, double lon) {
    r.outLat = lat;
    r.outLon = lon;
}
void setOut(DatumResult& r, double lat, double lon, double height) {
    setOut(r, lat, lon);
    r.hasHeight = true;
    r.outHeight = height;
}

// ETRF89 position and ellipsoidal height to ETRF2000: both grids sampled at the ETRF89 position.
template <bool kTraced>
void etrf89ToEtrf2000(Chain<kTraced>& c, DatumResult& r, double lat89, double lon89, double h89) {
    const Etrf2000ShiftAndHeight s = interpolateEtrf2000ShiftAndHeight(c.portion(), lat89, lon89);
    if (c.et(lat89, lon89, s.shift)) {
        const double lat = lat89 + c.cells().shiftLat;
        const double lon = lon89 + c.cells().shiftLon;
        if (c.hEll(lat89, lon89, s.height)) {
            setOut(r, lat, lon, c.cells().shiftH + h89);
        }
    }
}

// ROMA40 position to ED50, through the ROMA40->ED50 grid sampled at the ROMA40 position;
// the height is passed on only when the chain has one for this pair.
template <bool kTraced>
void roma40ToEd50(Chain<kTraced>& c, DatumResult& r, double lat40, double lon40, const double* height) {
    if (c.ro(lat40, lon40, Roma40Grid::ToEd50)) {
        const double lat = lat40 + c.cells().shiftLat;
        const double lon = lon40 + c.cells().shiftLon;
        if (height != nullptr) {
            setOut(r, lat, lon, *height);
        } else {
            setOut(r, lat, lon);
        }
    }
}

template <bool kTraced>
void fromRoma40(Chain<kTraced>& c, DatumResult& r, double latDeg, double lonDeg, double height, RefSystem out) {
    if (!c.ro(latDeg, lonDeg, Roma40Grid::ToEtrf89)) {
        return;
    }
    const double lat89 = latDeg + c.cells().shiftLat;
    const double lon89 = lonDeg + c.cells().shiftLon;
    if (!c.geoide(lat89, lon89)) {
        return;
    }
    const double h89 = height + c.cells().geoidUndulation;
    switch (out) {
    case RefSystem::Ed50:
        roma40ToEd50(c, r, latDeg, lonDeg, nullptr);
        break;
    case RefSystem::Etrf89:
        setOut(r, lat89, lon89, h89);
        break;
    case RefSystem::Etrf2000:
        etrf89ToEtrf2000(c, r, lat89, lon89, h89);
        break;
    default:
        break;
    }
}

template <bool kTraced>
void fromEd50(Chain<kTraced>& c, DatumResult& r, double latDeg, double lonDeg, double height, RefSystem out) {
    double lat40 = 0;
    double lon40 = 0;
    const auto roEd50 = [&c](double y, double x) { return c.ro(y, x, Roma40Grid::ToEd50); };
    if (!c.inverse(latDeg, lonDeg, roEd50, lat40, lon40)) {
        return;
    }
    if (!c.ro(lat40, lon40, Roma40Grid::ToEtrf89)) {
        return;
    }
    const double lat89 = lat40 + c.cells().shiftLat;
    const double lon89 = lon40 + c.cells().shiftLon;
    if (!c.geoide(lat89, lon89)) {
        return;
    }
    const double h89 = height + c.cells().geoidUndulation;
    switch (out) {
    case RefSystem::Roma40:
        setOut(r, lat40, lon40);
        break;
    case RefSystem::Etrf89:
        setOut(r, lat89, lon89, h89);
        break;
    case RefSystem::Etrf2000:
        etrf89ToEtrf2000(c, r, lat89, lon89, h89);
        break;
    default:
        break;
    }
}

template <bool kTraced>
void fromEtrf89(Chain<kTraced>& c, DatumResult& r, double latDeg, double lonDeg, double height, RefSystem out) {
    double lat40 = 0;
    double lon40 = 0;
    const auto roEtrf89 = [&c](double y, double x) { return c.ro(y, x, Roma40Grid::ToEtrf89); };
    if (!c.inverse(latDeg, lonDeg, roEtrf89, lat40, lon40)) {
        return;
    }
    if (!c.geoide(latDeg, lonDeg)) {
        return;
    }
    const double H = height - c.cells().geoidUndulation;
    switch (out) {
    case RefSystem::Roma40:
        setOut(r, lat40, lon40, H);
        break;
    case RefSystem::Ed50:
        roma40ToEd50(c, r, lat40, lon40, &H);
        break;
    case RefSystem::Etrf2000:
        etrf89ToEtrf2000(c, r, latDeg, lonDeg, height);
        break;
    default:
        break;
    }
}

template <bool kTraced>
void fromEtrf2000(Chain<kTraced>& c, DatumResult& r, double latDeg, double lonDeg, double height, RefSystem out) {
    double lat89 = 0;
    double lon89 = 0;
    const auto et = [&c](double y, double x) { return c.et(y, x); };
    if (!c.inverse(latDeg, lonDeg, et, lat89, lon89)) {
        return;
    }
    if (!c.hEll(lat89, lon89)) {
        return;
    }
    const double h89 = height - c.cells().shiftH;
    double lat40 = 0;
    double lon40 = 0;
    const auto roEtrf89 = [&c](double y, double x) { return c.ro(y, x, Roma40Grid::ToEtrf89); };
    if (!c.inverse(lat89, lon89, roEtrf89, lat40, lon40)) {
        return;
    }
    if (!c.geoide(lat89, lon89)) {
        return;
    }
    const double H = h89 - c.cells().geoidUndulation;
    switch (out) {
    case RefSystem::Roma40:
        setOut(r, lat40, lon40, H);
        break;
    case RefSystem::Ed50:
        roma40ToEd50(c, r, lat40, lon40, &H);
        break;
    case RefSystem::Etrf89:
        setOut(r, lat89, lon89, h89);
        break;
    default:
        break;
    }
}

// False for a value outside the enumeration (only a cast can make one).
bool validSystem(RefSystem s) {
    return s >= RefSystem::Roma40 && s <= RefSystem::Etrf2000;
}

template <bool kTraced>
DatumResult run(const GridPortion& g, double latDeg, double lonDeg, double height, RefSystem in, RefSystem out,
                const InterpolationCells& previous, std::vector<InterpCallRecord>* trace) {
    DatumResult r;
    r.cells = previous;
    if (!validSystem(in) || !validSystem(out)) {
        return r;
    }
    if (in == out) {
        setOut(r, latDeg, lonDeg);
        return r;
    }
    Chain<kTraced> c(g, r, trace);
    switch (in) {
    case RefSystem::Roma40:
        fromRoma40(c, r, latDeg, lonDeg, height, out);
        break;
    case RefSystem::Ed50:
        fromEd50(c, r, latDeg, lonDeg, height, out);
        break;
    case RefSystem::Etrf89:
        fromEtrf89(c, r, latDeg, lonDeg, height, out);
        break;
    default:
        fromEtrf2000(c, r, latDeg, lonDeg, height, out);
        break;
    }
    return r;
}

} // namespace

DatumResult transformDatum(const GridPortion& g, double latDeg, double lonDeg, double height, RefSystem inputSystem,
                           RefSystem outputSystem, const InterpolationCells& previous) {
    return run<false>(g, latDeg, lonDeg, height, inputSystem, outputSystem, previous, nullptr);
}

DatumResult transformDatum(const GridPortion& g, double latDeg, double lonDeg, double height, RefSystem inputSystem,
                           RefSystem outputSystem, const InterpolationCells& previous,
                           std::vector<InterpCallRecord>* trace) {
    return run<true>(g, latDeg, lonDeg, height, inputSystem, outputSystem, previous, trace);
}

} // namespace dormal
