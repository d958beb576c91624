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

std::vector<QString> WriteGisOutputs(const GridJob& job, const Grid& grid, const std::vector<DataPoint>& points,
                                     const GridRunOptions& options) {
    std::vector<QString> written;
    const GisOutputs& gis = options.gis;
    if (gis.geoTiff) {
        written.push_back(ReplaceExtension(job.gridFile, ".tif"));
        WriteGeoTiff(written.back(), grid, gis.projection);
    }
    if (gis.kmz || gis.geoPackage) {
        const GisSurvey survey = ReadGisSurvey(job.dataFile, points);
        if (gis.kmz) {
            written.push_back(ReplaceExtension(job.gridFile, ".kmz"));
            WriteKmz(written.back(), grid, survey, options.presentation);
        }
        if (gis.geoPackage) {
            written.push_back(ReplaceExtension(job.gridFile, ".gpkg"));
            WriteGeoPackage(written.back(), grid, survey);
        }
    }
    return written;
}

}  // namespace

std::vector<QString> ExportGis(const QString& scriptPath, const GridRunOptions& options) {
    const GridJob job = ReadGriddingScript(scriptPath);
    return WriteGisOutputs(job, ReadGridFile(job.gridFile), ReadPointFile(job.dataFile), options);
}

GridRunResult RunGridHost(const QString& scriptPath, const GridRunOptions& options,
                          const std::function<void(int, int)>& progress) {
    const GridJob job = ReadGriddingScript(scriptPath);
    const std::vector<DataPoint> points = ReadPointFile(job.dataFile);
    if (static_cast<long long>(job.cols) * job.rows > kMaxGridNodes)
        throw GridHostError("a grid of " + std::to_string(job.cols) + " by " + std::to_string(job.rows) +
                            " nodes is more than this host makes (" + std::to_string(kMaxGridNodes) + ")");
    const Grid grid = KrigeGrid(points, job.cols, job.rows, {}, [&](int rows) {
        if (progress) progress(rows, job.rows);
    });
    GridRunResult result;
    result.gridFile = job.gridFile;
    WriteGridFile(job.gridFile, grid);
    result.pictureFile = ReplaceExtension(job.gridFile, ".png");
    result.picture = DrawContourMap(grid, points, options.presentation);
    QSaveFile out(result.pictureFile);
    if (!out.open(QIODevice::WriteOnly) || !result.picture.save(&out, "PNG") || !out.commit())
        throw FileError("cannot write " + result.pictureFile.toLocal8Bit().toStdString());

    result.gisFiles = WriteGisOutputs(job, grid, points, options);
    return result;
}

}  // namespace qgrad
