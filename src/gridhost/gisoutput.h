// The gridding run's results for GIS: the grid as a GeoTIFF, the picture as a
// KMZ overlay, and points, tracks and grid in a GeoPackage. Each file is
// written under a temporary name beside its target and renamed into place
// only when complete; a failure throws FileError and leaves no file behind.
#pragma once

#include "gridhost/coverage.h"
#include "gridhost/kriging.h"
#include "gridhost/presentation.h"
#include "gridhost/targets.h"

#include <QString>

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qgrad {

// One arranged point with what is known of it. Unknown: the numbers NaN,
// the counts -1.
struct GisPoint {
    double lon = 0, lat = 0;
    double gradient = 0;  // as written: processed where processing ran
    double field = std::numeric_limits<double>::quiet_NaN();
    int channel = -1;  // the instrument's channel number, 1 to 12
    int run = -1;      // index into GisSurvey::runs
    double arrangedGradient = std::numeric_limits<double>::quiet_NaN();  // before the processing, where it ran
    double time = std::numeric_limits<double>::quiet_NaN();  // seconds of the day of its sample
    int line = -1;  // the line of the survey file its sample came from
};

// A survey run: its file name and the antenna's track, a position repeated
// while the fix stood still given once.
struct SurveyRun {
    std::string file;
    std::vector<double> lon, lat;
};

struct GisSurvey {
    std::vector<GisPoint> points;
    std::vector<SurveyRun> runs;
};

// What the handover found on the grid and its points, added to the KMZ and
// the GeoPackage where it was asked for: a targets layer and placemarks, the
// coverage's gaps as polygons.
struct GisFindings {
    const TargetPicking* targets = nullptr;
    const Coverage* coverage = nullptr;
};

enum class GeoTiffProjection {
    Geographic,  // EPSG:4326 on the grid's own nodes
    LocalUtm,    // the UTM zone of the grid's centre, resampled by GDAL's warper
};

void WriteGeoTiff(const QString& path, const Grid& grid, GeoTiffProjection projection = GeoTiffProjection::Geographic);
void WriteKmz(const QString& path, const Grid& grid, const GisSurvey& survey, const Presentation& presentation,
              const GisFindings& findings = {});
// The points a GeoPackage holds by default: a GIS pans this many with their
// spatial index at ease, and the file stays under a gigabyte. A run of more
// points leaves them out (the grid, tracks and findings still go in): every
// point of a campaign of tens of millions takes minutes and over ten
// gigabytes (README, GIS outputs).
inline constexpr std::uint64_t kGeoPackagePointLimit = 5'000'000;

// `pointLimit`: the points go in when there are at most that many; none
// for every point.
void WriteGeoPackage(const QString& path, const Grid& grid, const GisSurvey& survey, const GisFindings& findings = {},
                     std::optional<std::uint64_t> pointLimit = std::nullopt);

// The GeoTIFF of a grid written tile by tile as the tiles are kriged, so
// that no whole copy of the grid is made for it: tiled, DEFLATE, and with
// overviews averaged down to about 128 pixels, built once the last tile is
// in. Abandoned before Finish, it leaves no file behind. Throws FileError.
class GeoTiffTileWriter {
public:
    // `nodes`: the grid's size, place and system; its values are not read.
    GeoTiffTileWriter(const QString& path, const Grid& nodes);
    ~GeoTiffTileWriter();
    GeoTiffTileWriter(const GeoTiffTileWriter&) = delete;
    GeoTiffTileWriter& operator=(const GeoTiffTileWriter&) = delete;
    void Add(const GridTile& tile);
    // The overviews built and the file put in place.
    void Finish();

private:
    struct State;
    std::unique_ptr<State> s_;
};

// The GeoPackage written as its points come, run by run, and completed with
// the grid once there is one: memory holds no more than the points given at once.
// Abandoned before Finish, it leaves no file behind. Throws FileError.
class GeoPackageWriter {
public:
    // `pointLimit`: once the points given pass it, the points layer is
    // left out of the file; none for every point.
    explicit GeoPackageWriter(const QString& path, std::optional<std::uint64_t> pointLimit = std::nullopt);
    ~GeoPackageWriter();
    GeoPackageWriter(const GeoPackageWriter&) = delete;
    GeoPackageWriter& operator=(const GeoPackageWriter&) = delete;
    // Each point names its run by its index in `runs`.
    void AddPoints(const std::vector<GisPoint>& points, const std::vector<SurveyRun>& runs);
    // The runs' tracks, the findings and the grid, and the file put in place.
    void Finish(const Grid& grid, const std::vector<SurveyRun>& runs, const GisFindings& findings = {});
    // The points passed the limit: the file has no points layer.
    bool PointsLeftOut() const;

private:
    struct State;
    std::unique_ptr<State> s_;
};

}  // namespace qgrad
