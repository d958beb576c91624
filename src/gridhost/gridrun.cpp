#include "gridhost/gridrun.h"

#include "common/errors.h"
#include "common/fileio.h"
#include "gridhost/contourmap.h"
#include "gridhost/gridfile.h"
#include "gridhost/gissurvey.h"
#include "gridhost/gridjob.h"

#include <QSaveFile>

#include <string>
#include <vector>

namespace qgrad {

namespace {

// The GIS outputs asked for, beside the grid file, in the order GeoTIFF,
// KMZ, GeoPackage.
std::vector<QString> GisOutputPaths(const GridJob& job, const GisOutputs& gis) {
    std::vector<QString> paths;
    if (gis.geoTiff) paths.push_back(ReplaceExtension(job.gridFile, ".tif"));
    if (gis.kmz) paths.push_back(ReplaceExtension(job.gridFile, ".kmz"));
    if (gis.geoPackage) paths.push_back(ReplaceExtension(job.gridFile, ".gpkg"));
    return paths;
}

std::vector<QString> WriteGisOutputs(const GridJob& job, const Grid& grid, const std::vector<DataPoint>& points,
                                     const GridRunOptions& options) {
    const GisOutputs& gis = options.gis;
    const std::vector<QString> paths = GisOutputPaths(job, gis);
    auto path = paths.begin();
    if (gis.geoTiff) WriteGeoTiff(*path++, grid, gis.projection);
    if (gis.kmz || gis.geoPackage) {
        const GisSurvey survey = ReadGisSurvey(job.dataFile, points);
        if (gis.kmz) WriteKmz(*path++, grid, survey, options.presentation);
        if (gis.geoPackage) WriteGeoPackage(*path++, grid, survey);
    }
    return paths;
}

}  // namespace

std::vector<QString> ExportGis(const QString& scriptPath, const GridRunOptions& options) {
    const GridJob job = ReadGriddingScript(scriptPath);
    CheckJobOutputs(job, scriptPath, GisOutputPaths(job, options.gis));
    return WriteGisOutputs(job, ReadGridFile(job.gridFile), ReadPointFile(job.dataFile), options);
}

GridRunResult RunGridHost(const QString& scriptPath, const GridRunOptions& options,
                          const std::function<void(int, int)>& progress, const std::atomic<bool>* cancel) {
    const GridJob job = ReadGriddingScript(scriptPath);
    CheckJobOutputs(job, scriptPath, GisOutputPaths(job, options.gis));
    const std::vector<DataPoint> points = ReadPointFile(job.dataFile);
    if (static_cast<long long>(job.cols) * job.rows > kMaxGridNodes)
        throw GridHostError("a grid of " + std::to_string(job.cols) + " by " + std::to_string(job.rows) +
                            " nodes is more than this host makes (" + std::to_string(kMaxGridNodes) + ")");
    const Grid grid = KrigeGrid(
        points, job.cols, job.rows, {},
        [&](int rows) {
            if (progress) progress(rows, job.rows);
        },
        cancel);
    GridRunResult result;
    result.gridFile = job.gridFile;
    WriteGridFile(job.gridFile, grid);
    result.pictureFile = MapPicturePath(job);
    result.picture = DrawContourMap(grid, points, options.presentation);
    QSaveFile out(result.pictureFile);
    if (!out.open(QIODevice::WriteOnly) || !result.picture.save(&out, "PNG") || !out.commit())
        throw FileError("cannot write " + result.pictureFile.toLocal8Bit().toStdString());

    result.gisFiles = WriteGisOutputs(job, grid, points, options);
    return result;
}

}  // namespace qgrad
