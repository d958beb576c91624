// One run of our own gridding host: the script's data file gridded by
// kriging, the grid file and the map picture beside it, and the GIS outputs
// asked for.
#pragma once

#include "gridhost/gisoutput.h"
#include "gridhost/kriging.h"
#include "gridhost/presentation.h"

#include <QImage>
#include <QString>

#include <atomic>
#include <functional>
#include <vector>

namespace qgrad {

// More nodes than this the host does not make.
inline constexpr long long kMaxGridNodes = 50'000'000;

// Each written beside the grid file with its name: NAME.tif, NAME.kmz,
// NAME.gpkg beside NAME.grd.
struct GisOutputs {
    bool geoTiff = false;
    bool kmz = false;
    bool geoPackage = false;
    GeoTiffProjection projection = GeoTiffProjection::Geographic;
};

struct GridRunOptions {
    Presentation presentation;
    GisOutputs gis;
};

struct GridRunResult {
    QString gridFile;
    QString pictureFile;  // the grid file's name with ".png"
    QImage picture;
    std::vector<QString> gisFiles;  // in the order GeoTIFF, KMZ, GeoPackage
};

// Reads the script and its data file, grids, and writes the grid file, the
// picture and the GIS outputs, each whole or not at all. `progress` gets
// the rows done and the rows in all. Once `cancel` is set the gridding stops
// with GridCancelled, before anything is written. Throws GridHostError for a
// script, data file, output path or grid the host cannot take, FileError
// when an output cannot be written.
GridRunResult RunGridHost(const QString& scriptPath, const GridRunOptions& options = {},
                          const std::function<void(int, int)>& progress = {},
                          const std::atomic<bool>* cancel = nullptr);

// The GIS outputs asked for of a grid the host has made already (its grid
// file beside the script's data), without gridding again; the paths written.
std::vector<QString> ExportGis(const QString& scriptPath, const GridRunOptions& options);

}  // namespace qgrad
