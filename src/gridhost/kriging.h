// Ordinary point kriging with a linear variogram (slope 1, isotropic, no
// nugget), onto a node-registered grid over the data's extent; nodes outside
// the convex hull of the data are blank.
#pragma once

#include "common/geodesy.h"
#include "gridhost/gridjob.h"

#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace qgrad {

struct Grid {
    int cols = 0;
    int rows = 0;
    double xLL = 0, yLL = 0;      // the south-west node, in the grid's system
    double xSize = 0, ySize = 0;  // node spacing, in the grid's system
    std::vector<double> z;        // south row first, west to east; NaN = blank
    // 0: longitude and latitude in degrees (WGS 84); otherwise the EPSG code
    // of the projected system, in metres east and north, that x and y are in.
    int epsg = 0;

    double& at(int col, int row) { return z[static_cast<std::size_t>(row) * cols + col]; }
    double at(int col, int row) const { return z[static_cast<std::size_t>(row) * cols + col]; }
    static bool Blank(double v) { return std::isnan(v); }

    bool Metric() const { return epsg != 0; }
    // Metres on the ground per unit of x and of y: for degrees, taken at the
    // grid's middle latitude.
    double MetresAcross() const { return Metric() ? 1 : MetresPerDegreeLongitude(yLL + ySize * (rows - 1) / 2); }
    double MetresUp() const { return Metric() ? 1 : kMetresPerDegree; }
};

struct KrigingOptions {
    // All data in one system up to this many points; a local search beyond.
    std::size_t globalLimit = 250;
    // Local search: nearest points per quadrant, and the least in all.
    int perQuadrant = 8;
    int minimumPoints = 8;
    // Nodes that choose the same points share one factorisation of their
    // system. Off, every node factorises its own: the plain path, slower,
    // equal to rounding.
    bool shareFactorisations = true;
    // Nodes kriged a block of this many columns by rows at a time, each
    // block searching only the points near it, so that no search holds all
    // the points: the values are those of the whole grid kriged at once.
    // 0: the whole grid at once.
    int tileCols = 0, tileRows = 0;
};

// A block of a grid's nodes as tiled kriging finishes it: columns
// [col, col + cols) and rows [row, row + rows) of the grid.
struct GridTile {
    int col = 0, row = 0;
    int cols = 0, rows = 0;
    std::vector<double> z;  // south row first, west to east; NaN = blank
};
// Called with each tile once its nodes are kriged, the northern strip of
// tiles first and each strip west to east, on the thread that kriges.
using TileSink = std::function<void(const GridTile&)>;

// Gridding stopped by its cancel flag: there is no grid to write; or, once
// the writing had begun, the files named were written whole and no more.
class GridCancelled : public GridHostError {
public:
    GridCancelled() : GridHostError("gridding cancelled: nothing was written") {}
    explicit GridCancelled(const std::string& written)
        : GridHostError("gridding cancelled: only " + written + " written, each whole") {}
};

// The points given to KrigeGrid and KrigeMetricGrid are merged in place:
// a caller done with them moves them in, and no second list of them is made.
//
// `progress` is called with the rows done so far (from any thread).
// `cancel`, when given, is watched node by node; once set, KrigeGrid throws
// GridCancelled. Throws GridHostError for points that span no area (none,
// one spot, one line) or whose extent gives no finite node spacing, and for
// a coordinate or value that is not a finite number.
Grid KrigeGrid(std::vector<DataPoint> points, int cols, int rows, const KrigingOptions& options = {},
               const std::function<void(int)>& progress = {}, const std::atomic<bool>* cancel = nullptr);

// The nodes, without values, of a grid on square cells of `cell` metres of
// the projected system `epsg`, over points whose lon and lat are already
// that system's easting and northing: every node a whole number of cells
// from the system's origin, the nodes covering the points' extent. Throws
// GridHostError for fewer than two points, for a cell that is not a
// positive number and for more nodes than `maxNodes`.
Grid MetricGridNodes(const std::vector<DataPoint>& projected, int epsg, double cell, long long maxNodes);

// The points, in the system of the grid `nodes` from MetricGridNodes,
// kriged onto its nodes; as KrigeGrid does otherwise. Kriged in tiles
// (KrigingOptions::tileCols), each tile goes to `onTile` as it is done.
Grid KrigeMetricGrid(std::vector<DataPoint> projected, Grid nodes, const KrigingOptions& options = {},
                     const std::function<void(int)>& progress = {}, const std::atomic<bool>* cancel = nullptr,
                     const TileSink& onTile = {});

// Exact duplicates (same longitude and latitude) become one point with
// their mean value; the order of first appearance is kept. Merged in place.
std::vector<DataPoint> MergeDuplicates(std::vector<DataPoint> points);

}  // namespace qgrad
