#include "gridhost/gridrun.h"

#include "common/errors.h"
#include "common/fileio.h"
#include "common/geodesy.h"
#include "common/numtext.h"
#include "common/sidebyside.h"
#include "gridhost/contourmap.h"
#include "gridhost/gridfile.h"
#include "gridhost/gridjob.h"
#include "gridhost/gridsystem.h"

#include <QBuffer>
#include <QFileInfo>
#include <QFontDatabase>
#include <QStringList>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace qgrad {
namespace {

long long NodeCount(GridNodes g) { return static_cast<long long>(g.cols) * g.rows; }

std::string SizeText(GridNodes g) { return std::to_string(g.cols) + " by " + std::to_string(g.rows); }

// The GIS outputs asked for, beside the grid file, in the order GeoTIFF,
// KMZ, GeoPackage.
std::vector<QString> GisOutputPaths(const GridJob& job, const GisOutputs& gis) {
    std::vector<QString> paths;
    if (gis.geoTiff) paths.push_back(ReplaceExtension(job.gridFile, ".tif"));
    if (gis.kmz) paths.push_back(ReplaceExtension(job.gridFile, ".kmz"));
    if (gis.geoPackage) paths.push_back(ReplaceExtension(job.gridFile, ".gpkg"));
    return paths;
}

constexpr const char* kGradientPrefix = "GPS_DIFF_";
constexpr const char* kAbsolutePrefix = "GPS_ABS_";

// The points as their files give them: position and gradient, and the total
// field from the absolute point file beside the gradient one, whose row i is
// the same sample and channel. Throws GridHostError when that file exists
// but cannot be read.
GisSurvey PointFileSurvey(const QString& gradientFile, const std::vector<DataPoint>& gradient) {
    GisSurvey survey;
    survey.points.reserve(gradient.size());
    for (const DataPoint& p : gradient) {
        GisPoint& g = survey.points.emplace_back();
        g.lon = p.lon;
        g.lat = p.lat;
        g.gradient = p.z;
    }
    const QFileInfo info(gradientFile);
    if (!info.fileName().startsWith(kGradientPrefix)) return survey;
    const QString absoluteFile =
        info.absolutePath() + "/" + kAbsolutePrefix + info.fileName().mid(static_cast<int>(std::strlen(kGradientPrefix)));
    if (!QFileInfo::exists(absoluteFile)) return survey;
    const std::vector<DataPoint> absolute = ReadPointFile(absoluteFile);
    if (absolute.size() == gradient.size())
        for (std::size_t i = 0; i < absolute.size(); ++i) survey.points[i].field = absolute[i].z;
    return survey;
}

// `tiff`: the GeoTIFF written as the grid's tiles were kriged, to finish.
std::vector<QString> WriteGisOutputs(const GridJob& job, const Grid& grid, const std::vector<DataPoint>& points,
                                     const GridRunOptions& options, ArrangedGis* arranged,
                                     const HandoverFindings& handover = {}, GeoTiffTileWriter* tiff = nullptr) {
    const GisOutputs& gis = options.gis;
    const std::vector<QString> paths = GisOutputPaths(job, gis);
    auto path = paths.begin();
    if (gis.geoTiff) {
        if (tiff)
            tiff->Finish();
        else
            WriteGeoTiff(*path, grid, gis.projection);
        ++path;
    }
    if (!gis.kmz && !gis.geoPackage) return paths;
    // The points go into the GeoPackage only; the KMZ draws the runs.
    GisSurvey survey;
    if (arranged) survey.runs = arranged->runs;
    else if (gis.geoPackage) survey = PointFileSurvey(job.dataFile, points);
    const GisFindings findings{handover.targets ? &*handover.targets : nullptr,
                               handover.coverage ? &*handover.coverage : nullptr};
    if (gis.kmz) WriteKmz(*path++, grid, survey, options.presentation, findings);
    if (!gis.geoPackage) return paths;
    if (arranged && arranged->geoPackage)
        arranged->geoPackage->Finish(grid, arranged->runs, findings);
    else
        WriteGeoPackage(*path, grid, survey, findings, gis.geoPackagePointLimit);
    return paths;
}

// The points for a step that merges or turns them in place: `points`
// themselves, left empty, unless a later step still needs them (`needed`).
std::vector<DataPoint> HandOn(std::vector<DataPoint>& points, bool needed) {
    if (needed) return points;
    return std::move(points);
}

// A SIGTERM or Ctrl+C that came after the last node was kriged still ends
// the run: before its first file, or before the next of them once some are
// written (each whole), which the message then names.
void StopIfCancelled(const std::atomic<bool>* cancel, const std::vector<QString>& written) {
    if (!cancel || !cancel->load()) return;
    if (written.empty()) throw GridCancelled();
    std::string names;
    for (const QString& path : written)
        names += (names.empty() ? "" : ", ") + LocalBytes(QFileInfo(path).fileName());
    throw GridCancelled(names);
}

}  // namespace

void CheckGriddableSpan(const std::vector<DataPoint>& points) {
    if (points.empty()) return;
    const auto [minLon, maxLon, minLat, maxLat] = BoundsOf(points);
    // One survey never spans half the globe: points that seem to lie near
    // +180 and near -180 are neighbours across the 180th meridian, which a
    // grid in longitude and latitude would stretch around the world.
    if (maxLon - minLon > 180)
        throw GridHostError("will not grid points on both sides of the 180th meridian (longitudes " +
                            std::to_string(minLon) + " to " + std::to_string(maxLon) +
                            "): one grid cannot join them");
    const double width = (maxLon - minLon) * MetresPerDegreeLongitude((minLat + maxLat) / 2);
    const double height = (maxLat - minLat) * kMetresPerDegree;
    const double span = std::max(width, height);
    if (span > kMaxGriddedSpanMetres)
        throw GridHostError("will not grid points " + std::to_string(std::lround(span / 1000)) +
                            " km apart: one map of a site spans at most " +
                            std::to_string(std::lround(kMaxGriddedSpanMetres / 1000)) +
                            " km; grid the surveys of each site on their own");
}

GridNodes TileShape(GridNodes grid, std::uint64_t bytes) {
    constexpr std::uint64_t kValueBytes = sizeof(double);
    constexpr std::int32_t kLargestSide = 1024, kBlock = 256;
    if (static_cast<std::uint64_t>(NodeCount(grid)) * kValueBytes <= bytes) return {0, 0};
    auto side = static_cast<std::int32_t>(
        std::min<double>(kLargestSide, std::max(1.0, std::floor(std::sqrt(static_cast<double>(bytes / kValueBytes))))));
    if (side >= kBlock) side -= side % kBlock;
    return {side, side};
}

GridNodes FitToNodeLimit(GridNodes asked, long long limit) {
    if (NodeCount(asked) <= limit) return asked;
    const bool colsNarrow = asked.cols <= asked.rows;
    const std::int32_t narrow = colsNarrow ? asked.cols : asked.rows;
    const std::int32_t wide = colsNarrow ? asked.rows : asked.cols;
    // Over one extent the node spacings keep their ratio when the numbers
    // of intervals between nodes do.
    const double ratio = static_cast<double>(wide - 1) / (narrow - 1);
    const auto gridOf = [&](std::int32_t narrowNodes) {
        const auto wideNodes = static_cast<std::int32_t>(std::llround((narrowNodes - 1) * ratio) + 1);
        return colsNarrow ? GridNodes{narrowNodes, wideNodes} : GridNodes{wideNodes, narrowNodes};
    };
    std::int32_t fits = 2, over = narrow;
    if (NodeCount(gridOf(fits)) > limit)
        throw GridHostError("a grid of " + SizeText(asked) + " nodes is more than this host makes (" +
                            std::to_string(limit) + "), even with its node spacing widened");
    while (over - fits > 1) {
        const std::int32_t middle = fits + (over - fits) / 2;
        if (NodeCount(gridOf(middle)) <= limit)
            fits = middle;
        else
            over = middle;
    }
    return gridOf(fits);
}

long long ParseNodeLimit(const std::string& text) {
    constexpr long long kFewest = 4;
    long long limit = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), limit);
    if (error != std::errc() || end != text.data() + text.size() || limit < kFewest || limit > kMaxGridNodes)
        throw std::invalid_argument("not a node limit: \"" + text + "\" (" + std::to_string(kFewest) + " to " +
                                    std::to_string(kMaxGridNodes) + ")");
    return limit;
}

std::optional<std::uint64_t> ParseGeoPackagePointLimit(const std::string& text) {
    if (text == "all") return std::nullopt;
    std::uint64_t limit = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), limit);
    if (error != std::errc() || end != text.data() + text.size())
        throw std::invalid_argument("not a point limit: \"" + text + "\" (a number of points, or all)");
    return limit;
}

double ParseCellSize(const std::string& text) {
    constexpr double kFinest = 0.01, kCoarsest = 1000;
    double cell = 0;
    if (!TryParseNumber(text, cell) || !(cell >= kFinest && cell <= kCoarsest))
        throw std::invalid_argument("not a cell size: \"" + text + "\" (" + FormatGeneral(kFinest) + " to " +
                                    FormatGeneral(kCoarsest) + " metres)");
    return cell;
}

QString NodeLimitNote(GridNodes asked, GridNodes made, long long limit) {
    return QString::fromStdString("The script asks for " + SizeText(asked) + " nodes, more than this host makes (" +
                                  std::to_string(limit) + "): gridded at " + SizeText(made) +
                                  " nodes with the same ratio of node spacings.");
}

std::vector<QString> ExportGis(const QString& scriptPath, const GridRunOptions& options, ArrangedGis* arranged) {
    const GridJob job = ReadGriddingScript(scriptPath);
    CheckJobOutputs(job, scriptPath, GisOutputPaths(job, options.gis));
    const std::vector<DataPoint> points = ReadPointFile(job.dataFile);
    // The grid file holds no system: a metric one is the points' own zone's.
    Grid grid = ReadGridFile(job.gridFile);
    if (options.cellMetres) grid.epsg = MetricGridEpsg(points);
    return WriteGisOutputs(job, grid, points, options, arranged);
}

GridRunResult RunGridHost(const QString& scriptPath, const GridRunOptions& options,
                          const std::function<void(int, int)>& progress, const std::atomic<bool>* cancel,
                          ArrangedGis* arranged) {
    const GridJob job = ReadGriddingScript(scriptPath);
    std::vector<QString> outputs = GisOutputPaths(job, options.gis);
    for (const QString& p : HandoverPaths(job.gridFile, options.handover)) outputs.push_back(p);
    CheckJobOutputs(job, scriptPath, outputs);
    const GridNodes asked{job.cols, job.rows};
    GridRunResult result;
    if (!options.cellMetres) {
        result.made = FitToNodeLimit(asked, options.maxNodes);
        if (result.made != asked) result.note = NodeLimitNote(asked, result.made, options.maxNodes);
    }
    // The picture's labels need the font database, which takes as long to
    // load as the points take to read: it loads on the other core meanwhile.
    OnTheOtherCore fonts;
    fonts.Start([] { QFontDatabase::families(); });
    std::vector<DataPoint> points = ReadPointFile(job.dataFile);
    CheckGriddableSpan(points);
    // After the kriging the points are drawn on the picture when posted,
    // and the handover and a GeoPackage of the point files take them in
    // longitude and latitude; otherwise they are handed on, never copied.
    const bool posted = options.presentation.posting != PointPosting::Off;
    const bool lonLatLater = (posted && !options.cellMetres) || options.handover.targets || options.handover.coverage ||
                             (options.gis.geoPackage && !arranged);
    const auto rowsDone = [&](int rows) {
        if (progress) progress(rows, result.made.rows);
    };
    // A metric grid's picture posts the points in its own system.
    std::vector<DataPoint> projected;
    Grid grid;
    std::unique_ptr<GeoTiffTileWriter> tiff;
    if (options.cellMetres) {
        const int epsg = MetricGridEpsg(points);
        projected = InGridSystem(HandOn(points, lonLatLater), epsg);
        const long long limit = options.maxNodes < kMaxGridNodes ? options.maxNodes : kMaxTiledGridNodes;
        Grid nodes = MetricGridNodes(projected, epsg, *options.cellMetres, limit);
        result.made = {nodes.cols, nodes.rows};
        const GridNodes tile = TileShape(result.made, options.memoryBudget);
        if (tile.cols == 0 && NodeCount(result.made) > options.maxNodes)
            throw GridHostError("a grid of " + SizeText(result.made) + " nodes is more than this host makes whole (" +
                                std::to_string(options.maxNodes) + "): give it a memory budget it must be tiled in");
        KrigingOptions kriging;
        kriging.tileCols = tile.cols;
        kriging.tileRows = tile.rows;
        if (tile.cols > 0 && options.gis.geoTiff)
            tiff = std::make_unique<GeoTiffTileWriter>(ReplaceExtension(job.gridFile, ".tif"), nodes);
        const TileSink toTiff = [&tiff](const GridTile& t) { tiff->Add(t); };
        grid = KrigeMetricGrid(HandOn(projected, posted), std::move(nodes), kriging, rowsDone, cancel,
                               tiff ? toTiff : TileSink());
    } else {
        grid = KrigeGrid(HandOn(points, lonLatLater), result.made.cols, result.made.rows, {}, rowsDone, cancel);
    }
    result.gridFile = job.gridFile;
    std::vector<QString> written;
    StopIfCancelled(cancel, written);
    WriteGridFile(job.gridFile, grid);
    written.push_back(result.gridFile);
    StopIfCancelled(cancel, written);
    result.pictureFile = MapPicturePath(job);
    // A map with nothing on it fails the run, the picture saying why.
    const QString blank = BlankMapNote(grid);
    QStringList notes = {result.note, blank};
    notes.removeAll(QString());
    std::vector<std::string> surveys;
    if (arranged)
        for (const SurveyRun& run : arranged->runs) surveys.push_back(run.file);
    // Nothing is found on a blank grid: the run fails below.
    const HandoverFindings findings = blank.isEmpty() ? FindHandover(grid, points, options.handover, job.dataFile,
                                                       arranged && arranged->origins ? &*arranged->origins : nullptr)
                                        : HandoverFindings{};
    if (options.printablePicture && blank.isEmpty()) {
        const Paper paper = options.handover.pdf.value_or(Paper::A4);
        PrintSheet sheet = PrintSheetFor(job, grid, options.presentation, surveys, paper, options.handover.axes);
        if (!result.note.isEmpty()) sheet.gridding += "; " + result.note;
        result.picture =
            PrintableMapPicture(grid, options.presentation, sheet, findings.targets ? &*findings.targets : nullptr);
    } else {
        result.picture =
            DrawContourMap(grid, options.cellMetres ? projected : points, options.presentation, notes.join('\n'));
    }
    // Put in place as the grid file is, without waiting for the disk.
    QByteArray png;
    QBuffer buffer(&png);
    if (!buffer.open(QIODevice::WriteOnly) || !result.picture.save(&buffer, "PNG"))
        throw FileError("cannot write " + result.pictureFile.toLocal8Bit().toStdString() + ": cannot make the picture");
    OutputFile out(result.pictureFile);
    out.Write(std::string_view(png.constData(), static_cast<std::size_t>(png.size())));
    out.Commit();
    if (!blank.isEmpty()) throw GridHostError(blank.toStdString());

    written.push_back(result.pictureFile);
    StopIfCancelled(cancel, written);
    result.gisFiles = WriteGisOutputs(job, grid, points, options, arranged, findings, tiff.get());
    written.insert(written.end(), result.gisFiles.begin(), result.gisFiles.end());
    // A signal while the last files were written still fails the run, so
    // that no viewer opens and the exit status says so.
    StopIfCancelled(cancel, written);
    if (options.handover.Any()) {
        result.handover = WriteHandover(job, grid, findings, options.presentation, surveys, options.handover);
        written.insert(written.end(), result.handover.files.begin(), result.handover.files.end());
        StopIfCancelled(cancel, written);
    }
    return result;
}

}  // namespace qgrad
