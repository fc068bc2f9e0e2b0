#pragma once
// Synthetic grid portions for trying the program and for tests: every value is a smooth
// function of the node's position, so portions made with the same seed agree where they
// overlap. The values are plausible in size only; they are NOT real corrections.

#include <cstdint>
#include <string>
#include <vector>

#include "grid/grid_portion.h"

namespace dormal::gridgen {

struct PortionRecipe {
    PortionKind kind = PortionKind::Vertex; // Vertex ("PUNTO") or Sheet ("FOGLIO")
    double southLat = 0;                    // south-west node of the ROMA40 grids, decimal degrees
    double westLon = 0;                     // decimal degrees east of Greenwich
    std::string name;                       // vertex or sheet number, written as the tag item
    std::uint32_t seed = 1;                 // selects the phases of the value functions
    bool globalGeoid = false;               // flag item: geoid values of the global model
};

// The value functions (seconds of arc for the shifts, metres for the height shift and the
// geoid), at a position in decimal degrees, Greenwich.
struct NodeValues {
    double roEdDLat, roEdDLon;         // ROMA40->ED50, around +5" and +2.5"
    double roE89DLat, roE89DLon;       // ROMA40->ETRF89, around +2.35" and -0.65"
    double e89E2000DLat, e89E2000DLon; // ETRF89->ETRF2000, a few ten-thousandths of a second
    double e89E2000DH;                 // metres, a few centimetres
    double geoidN;                     // metres, 35 to 55
};
NodeValues valuesAt(double lat, double lon, std::uint32_t seed);

// Origins of the other grids of a portion whose ROMA40 grids start at (southLat, westLon):
// the ETRF89->ETRF2000 grid sits where the ROMA40 origin falls in ETRF89 (a few seconds
// off); the geoid grid is centred in the ROMA40 grid area.
struct Origins {
    double e2000Lat, e2000Lon;
    double geoidLat, geoidLon; // south edge and west edge
};
Origins originsFor(const PortionRecipe& gen);

// The whole file text, in the item-by-item format, one row of nodes per line.
std::string portionText(const PortionRecipe& gen);

// A mosaic of rows x cols portions of the same kind and seed, sampled from the one field, so
// neighbours agree: the ROMA40 grids of neighbours share a common node lattice and overlap
// (sheets every 15' north and 22'30" east, vertices every 10' and 15'), so that the
// convertible areas of neighbours overlap and the mosaic leaves no gap. `first` gives the
// south-west portion; names count up from first.name (a number, its width kept), row by row
// from the south, west to east. Empty when first.name is not a number.
std::vector<PortionRecipe> mosaicRecipes(const PortionRecipe& first, int rows, int cols);

// The file name: gen.name plus ".GK1" (vertex) or ".GK2" (sheet).
std::string defaultFileName(const PortionRecipe& gen);

} // namespace dormal::gridgen
