#pragma once
// Small portions built in code for the grid tests.

#include <string>
#include <vector>

#include "grid/grid_portion.h"
#include "tools/synthetic_grid.h"

namespace dormal::test {

// An empty portion of the given kind with its node counts set and every value 0;
// all origins at (lat0, lon0), the geoid's top row sexagesimalToDegrees(0.14 / 0.18) above.
GridPortion blankPortion(PortionKind kind, double lat0, double lon0);

// A generated portion, read back from its text.
GridPortion generatedPortion(PortionKind kind, double lat0, double lon0, std::uint32_t seed = 1);

// The items of a valid file in order (texts without quotes), to be joined in any layout.
std::vector<std::string> generatedItems(PortionKind kind, double lat0, double lon0);

// Items joined with a separator; items holding a comma are quoted.
std::string joinItems(const std::vector<std::string>& items, const std::string& separator);

} // namespace dormal::test
