#include "grid/portion_set.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>
#include <utility>

#include <dirent.h>
#include <sys/stat.h>

#include "geodesy/angles.h"
#include "geodesy/systems.h"
#include "grid/datum_transform.h"
#include "grid/text_encoding.h"

namespace dormal {

namespace {

// Offsets between a point and its approximate ROMA40 and ETRF89 positions (decimal degrees,
// from the sexagesimal values 5", 2.5", 2.35", 0.65"), worked out once.
struct ProbeOffsets {
    double s5, s2_5, s2_35, s0_65;
};

const ProbeOffsets& probeOffsets() {
    static const ProbeOffsets k{sexagesimalToDegrees(0.0005), sexagesimalToDegrees(0.00025),
                                sexagesimalToDegrees(0.000235), sexagesimalToDegrees(0.000065)};
    return k;
}

bool within(double v, double lo, double hi) {
    return v >= lo && v <= hi;
}

// The index keeps at most this many cells a side, however spread out the portions are.
constexpr int kMaxCellsPerSide = 512;

// Name ends in ".GK" and one more character, any case.
bool isPortionFileName(const std::string& name) {
    const std::size_t n = name.size();
    if (n < 4) {
        return false;
    }
    return name[n - 4] == '.' && asciiUpper(name[n - 3]) == 'G' && asciiUpper(name[n - 2]) == 'K';
}

// Metres per degree of latitude and of longitude near latitude lat (mean sphere of radius
// 6371 km: the check reports millimetres, a relative error of 0.5 % does not matter).
constexpr double kMetresPerDegree = 6371000.0 * 3.14159265358979323846 / 180.0;

} // namespace

CoverageProbe coverageProbe(RefSystem inputSystem, double lat, double lon) {
    const ProbeOffsets& k = probeOffsets();
    CoverageProbe p{lat, lon, lat, lon};
    switch (inputSystem) {
    case RefSystem::Roma40:
        p.e89Lat = lat + k.s2_35;
        p.e89Lon = lon - k.s0_65;
        break;
    case RefSystem::Ed50:
        p.roLat = lat - k.s5;
        p.roLon = lon - k.s2_5;
        p.e89Lat = lat + k.s2_35;
        p.e89Lon = lon - k.s0_65;
        break;
    default: // ETRF89, ETRF2000
        p.roLat = lat - k.s2_35;
        p.roLon = lon + k.s0_65;
        break;
    }
    return p;
}

bool coverageAccepts(const ZoneLimits& z, const CoverageProbe& p) {
    return within(p.roLat, z.planSouth, z.planNorth) && within(p.roLon, z.planWest, z.planEast) &&
           within(p.e89Lat, z.geoidSouth, z.geoidNorth) && within(p.e89Lon, z.geoidWest, z.geoidEast);
}

void PortionSet::add(GridPortion portion) {
    limits_.push_back(computeZoneLimits(portion, RefSystem::Etrf89));
    portions_.push_back(std::move(portion));
    indexed_ = false;
}

SetBounds PortionSet::bounds() const {
    SetBounds b;
    for (std::size_t i = 0; i < limits_.size(); ++i) {
        const ZoneLimits& z = limits_[i];
        if (i == 0) {
            b = SetBounds{z.south, z.west, z.north, z.east};
            continue;
        }
        b.south = std::min(b.south, z.south);
        b.west = std::min(b.west, z.west);
        b.north = std::max(b.north, z.north);
        b.east = std::max(b.east, z.east);
    }
    return b;
}

int PortionSet::findByScan(const CoverageProbe& p) const {
    for (std::size_t i = 0; i < limits_.size(); ++i) {
        if (coverageAccepts(limits_[i], p)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// Cell of a latitude or longitude: the same monotone formula for building and for finding,
// so a value within a portion's edges always falls in a cell that lists the portion.
int PortionSet::cellRow(double lat) const {
    const double r = std::floor((lat - lat0_) / cellLat_);
    return static_cast<int>(std::clamp(r, 0.0, static_cast<double>(rows_ - 1)));
}

int PortionSet::cellCol(double lon) const {
    const double c = std::floor((lon - lon0_) / cellLon_);
    return static_cast<int>(std::clamp(c, 0.0, static_cast<double>(cols_ - 1)));
}

void PortionSet::buildIndex() {
    indexed_ = false;
    start_.clear();
    ids_.clear();
    if (limits_.empty()) {
        rows_ = cols_ = 0;
        indexed_ = true;
        return;
    }
    // Cells about the size of a typical portion (the median), fewer when the portions lie
    // far apart.
    std::vector<double> heights, widths;
    lat0_ = limits_[0].planSouth;
    lon0_ = limits_[0].planWest;
    latTop_ = limits_[0].planNorth;
    lonEnd_ = limits_[0].planEast;
    for (const ZoneLimits& z : limits_) {
        lat0_ = std::min(lat0_, z.planSouth);
        lon0_ = std::min(lon0_, z.planWest);
        latTop_ = std::max(latTop_, z.planNorth);
        lonEnd_ = std::max(lonEnd_, z.planEast);
        heights.push_back(z.planNorth - z.planSouth);
        widths.push_back(z.planEast - z.planWest);
    }
    const auto median = [](std::vector<double>& v) {
        std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2), v.end());
        return v[v.size() / 2];
    };
    const double spanLat = latTop_ - lat0_;
    const double spanLon = lonEnd_ - lon0_;
    cellLat_ = std::max({median(heights), spanLat / kMaxCellsPerSide, 1e-6});
    cellLon_ = std::max({median(widths), spanLon / kMaxCellsPerSide, 1e-6});
    rows_ = std::min(kMaxCellsPerSide, static_cast<int>(spanLat / cellLat_) + 1);
    cols_ = std::min(kMaxCellsPerSide, static_cast<int>(spanLon / cellLon_) + 1);

    // Two passes: count the portions of every cell, then fill them in set order.
    const std::size_t cells = static_cast<std::size_t>(rows_) * static_cast<std::size_t>(cols_);
    std::vector<std::uint32_t> count(cells + 1, 0);
    const auto forEachCell = [this](const ZoneLimits& z, auto&& f) {
        const int r1 = cellRow(z.planNorth), c1 = cellCol(z.planEast);
        for (int r = cellRow(z.planSouth); r <= r1; ++r) {
            for (int c = cellCol(z.planWest); c <= c1; ++c) {
                f(static_cast<std::size_t>(r) * static_cast<std::size_t>(cols_) + static_cast<std::size_t>(c));
            }
        }
    };
    for (const ZoneLimits& z : limits_) {
        forEachCell(z, [&count](std::size_t k) { ++count[k + 1]; });
    }
    start_.assign(cells + 1, 0);
    for (std::size_t k = 0; k < cells; ++k) {
        start_[k + 1] = start_[k] + count[k + 1];
    }
    ids_.assign(start_[cells], 0);
    std::vector<std::uint32_t> fill(start_.begin(), start_.end() - 1);
    for (std::size_t i = 0; i < limits_.size(); ++i) {
        forEachCell(limits_[i], [&](std::size_t k) { ids_[fill[k]++] = static_cast<std::uint32_t>(i); });
    }
    indexed_ = true;
}

int PortionSet::find(const CoverageProbe& p) const {
    if (!indexed_) {
        return findByScan(p);
    }
    // Outside every ROMA40 edge (or not a number): no portion can accept it.
    if (!(p.roLat >= lat0_ && p.roLat <= latTop_ && p.roLon >= lon0_ && p.roLon <= lonEnd_)) {
        return -1;
    }
    const std::size_t k = static_cast<std::size_t>(cellRow(p.roLat)) * static_cast<std::size_t>(cols_) +
                          static_cast<std::size_t>(cellCol(p.roLon));
    for (std::uint32_t j = start_[k]; j < start_[k + 1]; ++j) {
        if (coverageAccepts(limits_[ids_[j]], p)) {
            return static_cast<int>(ids_[j]);
        }
    }
    return -1;
}

std::vector<std::string> portionFileNames(const std::string& folder, int& errorNumber) {
    std::vector<std::string> names;
    errorNumber = 0;
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) {
        errorNumber = errno;
        return names;
    }
    errno = 0;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name(e->d_name);
        if (isPortionFileName(name)) {
            names.push_back(name);
        }
        errno = 0;
    }
    const int readErr = errno;
    ::closedir(dir);
    if (readErr != 0) {
        errorNumber = readErr;
        names.clear();
        return names;
    }
    std::sort(names.begin(), names.end()); // std::string compares by bytes
    return names;
}

PortionSetLoad loadPortionSet(const std::vector<std::string>& files, const std::vector<std::string>& folders) {
    PortionSetLoad out;
    std::set<std::pair<dev_t, ino_t>> seen; // the files taken, by identity
    const auto take = [&out, &seen](const std::string& folder, const std::string& name) {
        // The same file again (another spelling, a link, or a file also in a folder given):
        // it stays where it first came. A file that cannot be looked at is left to the reader.
        const std::string path = gridPortionPath(folder, name);
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0 && !seen.emplace(st.st_dev, st.st_ino).second) {
            return true;
        }
        GridLoadResult r = loadGridPortion(folder, name);
        if (!r.ok()) {
            PortionSetError e;
            e.failure = PortionSetFailure::PortionUnreadable;
            e.portion = *r.error;
            out.error = std::move(e);
            return false;
        }
        out.set.add(std::move(*r.portion));
        return true;
    };
    for (const std::string& file : files) {
        const std::filesystem::path p(file);
        // No folder: the name alone, relative to the current folder, as the user wrote it.
        const std::string folder = p.has_parent_path() ? p.parent_path().string() : std::string();
        if (!take(folder, p.filename().string())) {
            return out;
        }
    }
    for (const std::string& folder : folders) {
        int errorNumber = 0;
        const std::vector<std::string> names = portionFileNames(folder, errorNumber);
        if (errorNumber != 0 || names.empty()) {
            PortionSetError e;
            e.failure = errorNumber != 0 ? PortionSetFailure::FolderUnreadable : PortionSetFailure::NoPortionInFolder;
            e.folder = folder;
            e.errorNumber = errorNumber;
            out.error = std::move(e);
            return out;
        }
        for (const std::string& name : names) {
            if (!take(folder, name)) {
                return out;
            }
        }
    }
    out.set.buildIndex();
    return out;
}

bool beyondSetTolerance(const PortionDisagreement& d) {
    constexpr double kSlack = 1e-6;
    return d.maxAngle1e4 > kSetToleranceAngle1e4 + kSlack || d.maxHeightMm > kSetToleranceHeightMm + kSlack;
}

std::vector<PortionDisagreement> comparePortions(const PortionSet& set, int samplesPerSide) {
    std::vector<PortionDisagreement> out;
    const int n = std::max(samplesPerSide, 2);
    for (std::size_t a = 0; a < set.size(); ++a) {
        const ZoneLimits& za = set.limits(a);
        for (std::size_t b = a + 1; b < set.size(); ++b) {
            const ZoneLimits& zb = set.limits(b);
            const double south = std::max(za.south, zb.south), north = std::min(za.north, zb.north);
            const double west = std::max(za.west, zb.west), east = std::min(za.east, zb.east);
            if (south > north || west > east) {
                continue;
            }
            PortionDisagreement d;
            d.first = a;
            d.second = b;
            for (int i = 0; i < n; ++i) {
                const double lat = south + (north - south) * i / (n - 1);
                for (int j = 0; j < n; ++j) {
                    const double lon = west + (east - west) * j / (n - 1);
                    // Sample points are ROMA40 positions (Greenwich), heights 100 m.
                    const CoverageProbe probe = coverageProbe(RefSystem::Roma40, lat, lon);
                    if (!coverageAccepts(za, probe) || !coverageAccepts(zb, probe)) {
                        continue;
                    }
                    bool compared = false;
                    for (const RefSystem to : {RefSystem::Etrf2000, RefSystem::Ed50}) {
                        const DatumResult ra = transformDatum(set.portion(a), lat, lon, 100, RefSystem::Roma40, to);
                        const DatumResult rb = transformDatum(set.portion(b), lat, lon, 100, RefSystem::Roma40, to);
                        if (ra.outsideNodes || rb.outsideNodes) {
                            continue;
                        }
                        compared = true;
                        const double dLat = std::abs(ra.outLat - rb.outLat);
                        const double dLon = std::abs(ra.outLon - rb.outLon);
                        const double north_m = dLat * kMetresPerDegree;
                        const double east_m = dLon * kMetresPerDegree * std::cos(lat * 3.14159265358979323846 / 180);
                        d.maxHorizontalMm = std::max(d.maxHorizontalMm, std::hypot(north_m, east_m) * 1000);
                        d.maxAngle1e4 = std::max(d.maxAngle1e4, std::max(dLat, dLon) * 3600 * 1e4);
                        if (ra.hasHeight && rb.hasHeight) {
                            d.maxHeightMm = std::max(d.maxHeightMm, std::abs(ra.outHeight - rb.outHeight) * 1000);
                        }
                    }
                    d.samples += compared ? 1 : 0;
                }
            }
            out.push_back(d);
        }
    }
    return out;
}

} // namespace dormal
