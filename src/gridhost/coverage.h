// Where the points leave the surveyed block uncovered: the parts of the
// block (the points' convex hull) farther than a gap distance from every
// point, found on a fine raster, as whole gaps with their areas.
#pragma once

#include "gridhost/gridjob.h"

#include <cstdint>
#include <vector>

namespace qgrad {

struct CoverageOptions {
    double gapMetres = 1.0;   // twice the usual 0.5 m sensor spacing
    // The raster's cell; 0 takes a quarter of the gap distance, coarser
    // where the block would need more than `maxCells`.
    double cellMetres = 0;
    long long maxCells = 100'000'000;
};

struct CoverageGap {
    double area = 0;          // m²
    double lon = 0, lat = 0;  // its cells' centroid
    long long cells = 0;
};

struct Coverage {
    // The raster: cells of `cell` metres from the south-west corner, rows
    // south first; in degrees `xSize` by `ySize`.
    int cols = 0, rows = 0;
    double cell = 0;
    double xLL = 0, yLL = 0, xSize = 0, ySize = 0;
    std::vector<std::uint8_t> uncovered;  // 1 where a cell's centre is in the block and out of reach
    double blockArea = 0, coveredArea = 0, uncoveredArea = 0;  // m²
    std::vector<CoverageGap> gaps;  // largest first

    bool Uncovered(int col, int row) const { return uncovered[static_cast<std::size_t>(row) * cols + col] != 0; }
};

Coverage FindCoverage(const std::vector<DataPoint>& points, const CoverageOptions& options = {});

}  // namespace qgrad
