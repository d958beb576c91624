// One run of our own gridding host: the script's data file gridded by
// kriging, the grid file and the map picture beside it, and the GIS outputs
// asked for.
#pragma once

#include "gridhost/gisoutput.h"
#include "gridhost/handover.h"
#include "gridhost/kriging.h"
#include "gridhost/presentation.h"

#include <QImage>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qgrad {

// More nodes than this the host does not make.
inline constexpr long long kMaxGridNodes = 50'000'000;
// More nodes than this a grid on metre cells is not made of, when the node
// limit is left at kMaxGridNodes: such grids are kriged in tiles, and only
// the grid file and the picture hold them whole.
inline constexpr long long kMaxTiledGridNodes = 128'000'000;

// Each written beside the grid file with its name: NAME.tif, NAME.kmz,
// NAME.gpkg beside NAME.grd.
struct GisOutputs {
    bool geoTiff = false;
    bool kmz = false;
    bool geoPackage = false;
    GeoTiffProjection projection = GeoTiffProjection::Geographic;
    // The GeoPackage's points when there are at most this many; none for
    // every point.
    std::optional<std::uint64_t> geoPackagePointLimit = kGeoPackagePointLimit;
};

// What the session that arranged the points knows of them beyond the point
// files, for the GIS outputs: each run's track, and the GeoPackage already
// holding the points with their channel, survey file, line and time (when
// one is asked for), to be completed with the grid; and where the targets
// are asked for, where each point came from.
struct ArrangedGis {
    std::vector<SurveyRun> runs;
    std::unique_ptr<GeoPackageWriter> geoPackage;
    std::optional<PointOrigins> origins;
};

struct GridRunOptions {
    Presentation presentation;
    GisOutputs gis;
    // A script asking for more nodes is gridded coarser (FitToNodeLimit).
    long long maxNodes = kMaxGridNodes;
    // Set: the grid on square cells of this many metres in the UTM zone of
    // the points' middle, whatever nodes the script asks for
    // (MetricGridNodes); its GeoTIFF and GeoPackage raster in that system.
    std::optional<double> cellMetres;
    // The target list, coverage report and printable page asked for.
    HandoverOptions handover;
    // The map picture laid out as the printed page (PrintableMapPicture)
    // instead of the plot with its axes in degrees.
    bool printablePicture = false;
    // A grid on metre cells whose values would take more bytes than this
    // is kriged tile by tile, each tile of at most this many bytes, and its
    // GeoTIFF written as the tiles finish. The default keeps every grid of
    // up to kMaxGridNodes whole.
    std::uint64_t memoryBudget = kMaxGridNodes * sizeof(double);
};

struct GridNodes {
    std::int32_t cols = 0;
    std::int32_t rows = 0;
    bool operator==(const GridNodes&) const = default;
};

// The tiles a grid of `grid` is kriged in under a budget of
// `bytes` for its values: none (zero) when the whole grid fits; else
// squares of at most 1024 nodes a side, whole GeoTIFF blocks of 256 where
// they are that large.
GridNodes TileShape(GridNodes grid, std::uint64_t bytes);

// The largest grid of no more than `limit` nodes whose node spacing keeps
// the ratio of `asked`'s over the same extent: the side with fewer nodes
// scaled down, the other in proportion to the nearest node. `asked` itself
// when it is within the limit. Throws GridHostError when not even two nodes
// across the narrow side fit.
GridNodes FitToNodeLimit(GridNodes asked, long long limit);

// The widest spread of points one grid is made of: a site, not a region.
inline constexpr double kMaxGriddedSpanMetres = 300'000;
// Throws GridHostError, saying why, for points that span more than that or
// lie on both sides of the 180th meridian: a grid over them would be
// nodes kilometres wide with nothing between the surveys.
void CheckGriddableSpan(const std::vector<DataPoint>& points);

// A node limit given as text: a whole number from 4 (two by two nodes) to
// kMaxGridNodes. Throws std::invalid_argument naming the text.
long long ParseNodeLimit(const std::string& text);

// The GeoPackage's point limit given as text: a whole number of points, or
// "all" for every point (none). Throws std::invalid_argument naming the text.
std::optional<std::uint64_t> ParseGeoPackagePointLimit(const std::string& text);

// A cell size given as text: metres, a number from 0.01 to 1000. Throws
// std::invalid_argument naming the text.
double ParseCellSize(const std::string& text);

// What a grid made coarser than its script asked says, on the picture and
// to the person.
QString NodeLimitNote(GridNodes asked, GridNodes made, long long limit);

struct GridRunResult {
    QString gridFile;
    QString pictureFile;  // the grid file's name with ".png"
    QImage picture;
    std::vector<QString> gisFiles;  // in the order GeoTIFF, KMZ, GeoPackage
    GridNodes made;                 // fewer than the script asks when those are over the limit
    QString note;                   // NodeLimitNote when made differs from asked, else empty
    Handover handover;              // the files of GridRunOptions::handover, and what they found
};

// Reads the script and its data file, grids, and writes the grid file, the
// picture and the GIS outputs, each whole or not at all. `progress` gets
// the rows done and the rows in all. A grid over the node limit is made
// coarser, with the note on the picture. Once `cancel` is set the gridding
// stops with GridCancelled, before anything is written. Without `arranged`
// the GIS outputs know what the point files hold: position, gradient, and
// the field from the absolute point file beside ("GPS_ABS_" for
// "GPS_DIFF_"); with it, what the session knows besides. Throws
// GridHostError for a script, data file, output path or grid the host
// cannot take, FileError when an output cannot be written; and, after the
// grid file and the picture but before any GIS output, GridHostError with
// BlankMapNote for a grid with no cell to draw.
GridRunResult RunGridHost(const QString& scriptPath, const GridRunOptions& options = {},
                          const std::function<void(int, int)>& progress = {},
                          const std::atomic<bool>* cancel = nullptr, ArrangedGis* arranged = nullptr);

// The GIS outputs asked for of a grid the host has made already (its grid
// file beside the script's data), without gridding again; the paths written.
std::vector<QString> ExportGis(const QString& scriptPath, const GridRunOptions& options,
                               ArrangedGis* arranged = nullptr);

}  // namespace qgrad
