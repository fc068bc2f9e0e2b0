// Grid portion reading over arbitrary text: no crash, no sanitizer report, and a portion
// that reads successfully is consistent with its kind.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "grid/grid_portion.h"

namespace {

void require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

template <class Array> bool zeroFrom(const Array& a, int first) {
    for (int k = first; k < static_cast<int>(a.size()); ++k) {
        if (a[static_cast<std::size_t>(k)] != 0.0) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const dormal::GridLoadResult r = dormal::parseGridPortion(text, "FUZZ.GK1");
    if (!r.ok()) {
        return 0;
    }
    const dormal::GridPortion& g = *r.portion;
    require(g.portionName == "FUZZ");
    if (g.kind == dormal::PortionKind::Vertex) {
        require(g.planNodeCount == 16 && g.geoidNodeCount == 80);
        require(g.planNodesPerRow == 4 && g.geoidNodesPerRow == 10);
    } else if (g.kind == dormal::PortionKind::Sheet) {
        require(g.planNodeCount == 36 && g.geoidNodeCount == 140);
        require(g.planNodesPerRow == 6 && g.geoidNodesPerRow == 14);
    }
    // Index 0 is never used; nodes beyond the kind's count stay 0.
    const int n = g.planNodeCount;
    for (const auto* a :
         {&g.roEdDLat, &g.roEdDLon, &g.roE89DLat, &g.roE89DLon, &g.e89E2000DLat, &g.e89E2000DLon, &g.e89E2000DH}) {
        require((*a)[0] == 0.0 && zeroFrom(*a, n + 1));
    }
    require(g.geoidN[0] == 0.0 && zeroFrom(g.geoidN, g.geoidNodeCount + 1));
    return 0;
}
