// The gridding run's results for GIS: the grid as a GeoTIFF, the picture as a
// KMZ overlay, and points, tracks and grid in a GeoPackage. Each file is
// written under a temporary name beside its target and renamed into place
// only when complete; a failure throws FileError and leaves no file behind.
#pragma once

#include "gridhost/kriging.h"
#include "gridhost/presentation.h"

#include <QString>

#include <string>
#include <vector>

namespace qgrad {

// One arranged point with what is known of it. Unknown: field NaN, channel
// and run -1.
struct GisPoint {
    double lon = 0, lat = 0;
    double gradient = 0;
    double field = 0;
    int channel = -1;  // the instrument's channel number, 1 to 12
    int run = -1;      // index into GisSurvey::runs
};

// A survey run: its file name and the antenna's track.
struct SurveyRun {
    std::string file;
    std::vector<double> lon, lat;
};

struct GisSurvey {
    std::vector<GisPoint> points;
    std::vector<SurveyRun> runs;
};

enum class GeoTiffProjection {
    Geographic,  // EPSG:4326 on the grid's own nodes
    LocalUtm,    // the UTM zone of the grid's centre, resampled by GDAL's warper
};

void WriteGeoTiff(const QString& path, const Grid& grid, GeoTiffProjection projection = GeoTiffProjection::Geographic);
void WriteKmz(const QString& path, const Grid& grid, const GisSurvey& survey, const Presentation& presentation);
void WriteGeoPackage(const QString& path, const Grid& grid, const GisSurvey& survey);

}  // namespace qgrad
