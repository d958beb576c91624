#include "gridhost/gisoutput.h"

#include "common/geodesy.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "common/numtext.h"
#include "gridhost/contourmap.h"
#include "gridhost/gdallibrary.h"
#include "gridhost/gpkgrtree.h"
#include "gridhost/gridfile.h"

#include <QBuffer>
#include <QFileInfo>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <limits>
#include <numbers>

namespace qgrad {
namespace {

const float kNoData = static_cast<float>(kGridBlank);
// What the raster band holds, as GIS programs show it beside the values.
constexpr const char* kBandDescription = "vertical gradient";
constexpr const char* kBandUnit = "nT/m";
// The larger side of the smallest overview a tiled GeoTIFF gets, in pixels.
constexpr int kSmallestOverview = 128;

struct DatasetCloser {
    void operator()(void* ds) const { Gdal().GDALClose(ds); }
};
using Dataset = std::unique_ptr<void, DatasetCloser>;

// GDAL reports through its error state while this lives, not on stderr.
class QuietGdal {
public:
    QuietGdal() {
        Gdal().CPLPushErrorHandler(Gdal().CPLQuietErrorHandler);
        Gdal().CPLErrorReset();
    }
    ~QuietGdal() { Gdal().CPLPopErrorHandler(); }
    QuietGdal(const QuietGdal&) = delete;
    QuietGdal& operator=(const QuietGdal&) = delete;
};

// The file under a temporary name in the target's folder, with the target's
// extension (some drivers insist on it); removed unless committed.
class StagedFile {
public:
    // The names as the file system's bytes: a name that is not UTF-8 must
    // not collapse into another survey's.
    explicit StagedFile(const QString& target) : target_(LocalBytes(target)) {
        const QFileInfo info(target);
        // The drivers create the file themselves; a random name keeps two
        // writers apart.
        temp_ = LocalBytes(info.absolutePath() + "/." + info.completeBaseName() + "-" +
                           QString::number(QRandomGenerator::global()->generate(), 36) + "." + info.suffix());
    }
    ~StagedFile() {
        if (!committed_) std::filesystem::remove(std::filesystem::path(temp_), ignored_);
    }
    StagedFile(const StagedFile&) = delete;
    StagedFile& operator=(const StagedFile&) = delete;

    const std::string& temp() const { return temp_; }

    void Commit() {
        std::filesystem::rename(temp_, target_, ignored_);
        if (ignored_) Fail(ignored_.message());
        committed_ = true;
    }
    // The reason GDAL gave, or `fallback`.
    [[noreturn]] void FailGdal(const char* fallback) const {
        const std::string reason = Gdal().CPLGetLastErrorType() != CE_None ? Gdal().CPLGetLastErrorMsg() : fallback;
        Fail(reason);
    }
    [[noreturn]] void Fail(const std::string& reason) const {
        throw FileError("cannot write " + target_ + ": " + reason);
    }
    // Fails unless `ok` and GDAL has reported no failure since the start.
    void Check(bool ok, const char* what) const {
        if (!ok || Gdal().CPLGetLastErrorType() == CE_Failure) FailGdal(what);
    }
    // For steps that report only through GDAL's error state, such as closing.
    void CheckGdal(const char* what) const { Check(true, what); }

private:
    std::string target_, temp_;
    bool committed_ = false;
    std::error_code ignored_;
};

// Options as GDAL's NULL-terminated string list.
class Options {
public:
    Options(std::initializer_list<std::string> items) {
        for (const std::string& s : items) list_ = Gdal().CSLAddString(list_, s.c_str());
    }
    ~Options() { Gdal().CSLDestroy(list_); }
    Options(const Options&) = delete;
    Options& operator=(const Options&) = delete;
    char** get() const { return list_; }

private:
    char** list_ = nullptr;
};

Options GeoTiffCreation() { return Options{"COMPRESS=DEFLATE", "PREDICTOR=3", "TILED=YES"}; }

// The place, system and band of a raster of the grid's nodes: north row
// first, each pixel centred on its node.
void DescribeRaster(GDALDatasetH ds, const Grid& grid) {
    double transform[6] = {grid.xLL - grid.xSize / 2, grid.xSize, 0,
                           grid.yLL + grid.ySize * (grid.rows - 1) + grid.ySize / 2, 0, -grid.ySize};
    Gdal().GDALSetGeoTransform(ds, transform);
    Gdal().GDALSetSpatialRef(ds, Epsg(grid.Metric() ? grid.epsg : kWgs84).get());
    GDALRasterBandH band = Gdal().GDALGetRasterBand(ds, 1);
    Gdal().GDALSetRasterNoDataValue(band, kNoData);
    Gdal().GDALSetDescription(band, kBandDescription);
    Gdal().GDALSetRasterUnitType(band, kBandUnit);
}

// `rows` rows of `cols` values, south row first, as raster lines of
// Float32, north line first, blanks as the no-data value.
std::vector<float> RasterLines(const std::vector<double>& z, int cols, int rows) {
    std::vector<float> values(static_cast<std::size_t>(cols) * rows);
    for (int r = 0; r < rows; ++r) {
        float* line = values.data() + static_cast<std::size_t>(rows - 1 - r) * cols;
        const double* row = z.data() + static_cast<std::size_t>(r) * cols;
        for (int c = 0; c < cols; ++c) line[c] = Grid::Blank(row[c]) ? kNoData : static_cast<float>(row[c]);
    }
    return values;
}

// The grid as a one-band Float32 raster in memory.
Dataset GridRaster(const Grid& grid) {
    Dataset ds(Gdal().GDALCreate(Gdal().GDALGetDriverByName("MEM"), "", grid.cols, grid.rows, 1, GDT_Float32, nullptr));
    if (!ds) return ds;
    DescribeRaster(ds.get(), grid);
    GDALRasterBandH band = Gdal().GDALGetRasterBand(ds.get(), 1);
    std::vector<float> values = RasterLines(grid.z, grid.cols, grid.rows);
    if (Gdal().GDALRasterIO(band, GF_Write, 0, 0, grid.cols, grid.rows, values.data(), grid.cols, grid.rows, GDT_Float32, 0,
                     0) != CE_None)
        ds.reset();
    return ds;
}

// The metric grid resampled onto longitude and latitude, as KML places its
// pictures: bilinear, pixels of about the grid's cells.
Grid GeographicGrid(const Grid& grid, const StagedFile& out) {
    Dataset source = GridRaster(grid);
    out.Check(source != nullptr, "cannot hold the grid");
    const std::string noData = FormatGeneral(kNoData);
    const Options warp{"-of", "MEM", "-t_srs", "EPSG:" + std::to_string(kWgs84), "-r", "bilinear",
                       "-srcnodata", noData, "-dstnodata", noData};
    GDALWarpAppOptions* options = Gdal().GDALWarpAppOptionsNew(warp.get(), nullptr);
    out.Check(options != nullptr, "bad warp options");
    GDALDatasetH sources[] = {source.get()};
    int usageError = 0;
    Dataset warped(Gdal().GDALWarp("", nullptr, 1, sources, options, &usageError));
    Gdal().GDALWarpAppOptionsFree(options);
    out.Check(warped != nullptr && !usageError, "cannot put the grid on longitude and latitude");
    Grid g;
    g.cols = Gdal().GDALGetRasterXSize(warped.get());
    g.rows = Gdal().GDALGetRasterYSize(warped.get());
    double t[6] = {};
    Gdal().GDALGetGeoTransform(warped.get(), t);
    g.xSize = t[1];
    g.ySize = -t[5];
    g.xLL = t[0] + t[1] / 2;
    g.yLL = t[3] + t[5] * (g.rows - 0.5);
    std::vector<float> values(static_cast<std::size_t>(g.cols) * g.rows);
    out.Check(Gdal().GDALRasterIO(Gdal().GDALGetRasterBand(warped.get(), 1), GF_Read, 0, 0, g.cols, g.rows,
                                  values.data(), g.cols, g.rows, GDT_Float32, 0, 0) == CE_None,
              "cannot read the resampled grid");
    g.z.resize(values.size());
    for (int r = 0; r < g.rows; ++r) {
        const float* line = values.data() + static_cast<std::size_t>(g.rows - 1 - r) * g.cols;
        for (int c = 0; c < g.cols; ++c)
            g.at(c, r) = line[c] == kNoData ? std::numeric_limits<double>::quiet_NaN() : line[c];
    }
    return g;
}

void CheckGrid(const Grid& grid, const StagedFile& out) {
    if (grid.cols < 1 || grid.rows < 1 || grid.z.size() != static_cast<std::size_t>(grid.cols) * grid.rows)
        out.Fail("the grid has no nodes");
}

struct GeometryDestroyer {
    void operator()(OGRGeometryH g) const { Gdal().OGR_G_DestroyGeometry(g); }
};
using Geometry = std::unique_ptr<std::remove_pointer_t<OGRGeometryH>, GeometryDestroyer>;

struct GapPolygon {
    Geometry shape;  // longitude and latitude
    double area = 0;  // m²
};

// Each gap as one polygon along its cells' edges, largest first. GDAL
// traces the raster with the same 8-connection the gaps were found by, so
// a polygon is a gap; its area, counted in cells, is the gap's.
std::vector<GapPolygon> GapPolygons(const Coverage& coverage, const StagedFile& out) {
    std::vector<GapPolygon> gaps;
    if (coverage.gaps.empty()) return gaps;
    Dataset mask(Gdal().GDALCreate(Gdal().GDALGetDriverByName("MEM"), "", coverage.cols, coverage.rows, 1, GDT_Byte, nullptr));
    out.Check(mask != nullptr, "cannot hold the coverage");
    double transform[6] = {coverage.xLL, coverage.xSize, 0, coverage.yLL + coverage.ySize * coverage.rows, 0, -coverage.ySize};
    Gdal().GDALSetGeoTransform(mask.get(), transform);
    GDALRasterBandH band = Gdal().GDALGetRasterBand(mask.get(), 1);
    std::vector<std::uint8_t> northFirst(coverage.uncovered.size());
    for (int r = 0; r < coverage.rows; ++r)
        std::copy_n(coverage.uncovered.begin() + static_cast<std::ptrdiff_t>(r) * coverage.cols, coverage.cols,
                    northFirst.begin() + static_cast<std::ptrdiff_t>(coverage.rows - 1 - r) * coverage.cols);
    out.Check(Gdal().GDALRasterIO(band, GF_Write, 0, 0, coverage.cols, coverage.rows, northFirst.data(), coverage.cols,
                                  coverage.rows, GDT_Byte, 0, 0) == CE_None,
              "cannot hold the coverage");
    Dataset traced(Gdal().GDALCreate(Gdal().GDALGetDriverByName("Memory"), "", 0, 0, 0, GDT_Unknown, nullptr));
    out.Check(traced != nullptr, "cannot hold the gaps");
    OGRLayerH layer = Gdal().GDALDatasetCreateLayer(traced.get(), "gaps", nullptr, wkbPolygon, nullptr);
    out.Check(layer != nullptr, "cannot hold the gaps");
    const Options eightConnected{"8CONNECTED=8"};
    out.Check(Gdal().GDALPolygonize(band, band, layer, -1, eightConnected.get(), nullptr, nullptr) == CE_None,
              "cannot outline the gaps");
    const double cellDegrees = coverage.xSize * coverage.ySize, cellArea = coverage.cell * coverage.cell;
    Gdal().OGR_L_ResetReading(layer);
    while (OGRFeatureH f = Gdal().OGR_L_GetNextFeature(layer)) {
        Geometry shape(Gdal().OGR_G_Clone(Gdal().OGR_F_GetGeometryRef(f)));
        Gdal().OGR_F_Destroy(f);
        const double area = static_cast<double>(std::llround(Gdal().OGR_G_Area(shape.get()) / cellDegrees)) * cellArea;
        gaps.push_back({std::move(shape), area});
    }
    std::stable_sort(gaps.begin(), gaps.end(), [](const GapPolygon& a, const GapPolygon& b) { return a.area > b.area; });
    return gaps;
}

std::string Signed(double v) { return (v > 0 ? "+" : "") + FormatFixed(v, 2, 17); }

// A target's figures as a placemark's description shows them.
std::string TargetDescription(const Target& t) {
    std::string d = "peak " + Signed(t.peak) + " nT/m; lobes " + Signed(t.positiveLobe) + " and " +
                    Signed(t.negativeLobe) + " nT/m; half-peak area " + FormatFixed(t.halfPeakArea, 2, 17) + " m²";
    d += t.depth ? "; depth " + FormatFixed(*t.depth, 2, 17) + " m" : "; depth not resolved";
    if (t.nearest.line) d += "; nearest point " + t.nearest.file + ", line " + std::to_string(t.nearest.line);
    return d;
}

// Text for the KML: markup characters as entities, and whatever XML 1.0
// cannot carry (control characters, U+FFFE, U+FFFF, bytes that are not
// UTF-8, as a name that is not may hold) as \xNN, as messages show them.
std::string Escaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const std::string_view rest = std::string_view(text).substr(i);
        const std::size_t n = Utf8SequenceLength(rest);
        const bool allowed = n > 1 ? !rest.starts_with("\xEF\xBF\xBE") && !rest.starts_with("\xEF\xBF\xBF")
                                   : n == 1 && (static_cast<unsigned char>(text[i]) >= 0x20 || text[i] == '\t' ||
                                                text[i] == '\n' || text[i] == '\r');
        if (!allowed) {
            out += EscapeBytes(rest.substr(0, std::max<std::size_t>(n, 1)));
            i += std::max<std::size_t>(n, 1);
            continue;
        }
        if (n > 1) {
            out.append(rest.substr(0, n));
            i += n;
            continue;
        }
        switch (text[i]) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += text[i];
        }
        ++i;
    }
    return out;
}

void AppendPosition(std::string& out, double lon, double lat) {
    AppendFixed(out, lon, 8, 12);
    out += ',';
    AppendFixed(out, lat, 8, 12);
}

std::string Coordinate(double v) { return FormatFixed(v, 8, 12); }

QByteArray Png(const QImage& image, const StagedFile& out) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "PNG")) out.Fail("cannot make the overlay's picture");
    return bytes;
}

constexpr const char* kPictureEntry = "files/gradient.png";
constexpr const char* kLegendEntry = "files/legend.png";

// KML 2.2, each element's children in the order of the standard's schema.
std::string KmlDocument(const QString& name, const Grid& grid, const GisSurvey& survey, const TargetPicking* targets,
                        const std::vector<GapPolygon>& gaps) {
    std::string k;
    k += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<kml xmlns=\"http://www.opengis.net/kml/2.2\">\n<Document>\n";
    k += "<name>" + Escaped(LocalBytes(name)) + "</name>\n<open>1</open>\n";
    k += "<Style id=\"track\"><LineStyle><color>ff00ffff</color><width>2</width></LineStyle></Style>\n";
    k += "<Style id=\"start\"><IconStyle><color>ff00c000</color></IconStyle></Style>\n";
    k += "<Style id=\"end\"><IconStyle><color>ff0000e0</color></IconStyle></Style>\n";
    if (targets) k += "<Style id=\"target\"><IconStyle><color>ff0000ff</color></IconStyle></Style>\n";
    if (!gaps.empty())
        k += "<Style id=\"gap\"><LineStyle><color>ff0000ff</color></LineStyle><PolyStyle><color>7f0000ff</color>"
             "</PolyStyle></Style>\n";
    k += "<GroundOverlay>\n<name>gradHz, nT/m</name>\n<Icon><href>" + std::string(kPictureEntry) + "</href></Icon>\n";
    k += "<LatLonBox><north>" + Coordinate(grid.yLL + grid.ySize * (grid.rows - 1)) + "</north><south>" +
         Coordinate(grid.yLL) + "</south><east>" + Coordinate(grid.xLL + grid.xSize * (grid.cols - 1)) +
         "</east><west>" + Coordinate(grid.xLL) + "</west></LatLonBox>\n</GroundOverlay>\n";
    k += "<ScreenOverlay>\n<name>Colour scale</name>\n<Icon><href>" + std::string(kLegendEntry) + "</href></Icon>\n";
    k += "<overlayXY x=\"0\" y=\"1\" xunits=\"fraction\" yunits=\"fraction\"/>\n"
         "<screenXY x=\"10\" y=\"1\" xunits=\"pixels\" yunits=\"fraction\"/>\n"
         "<size x=\"-1\" y=\"-1\" xunits=\"pixels\" yunits=\"pixels\"/>\n</ScreenOverlay>\n";
    for (const SurveyRun& run : survey.runs) {
        if (run.lon.empty()) continue;
        const std::string file = Escaped(run.file);
        k += "<Folder>\n<name>" + file + "</name>\n";
        k += "<Placemark>\n<name>" + file + " track</name>\n<styleUrl>#track</styleUrl>\n"
             "<LineString><tessellate>1</tessellate><coordinates>\n";
        for (std::size_t i = 0; i < run.lon.size(); ++i) {
            AppendPosition(k, run.lon[i], run.lat[i]);
            k += '\n';
        }
        k += "</coordinates></LineString>\n</Placemark>\n";
        const struct {
            const char* what;
            std::size_t at;
        } ends[] = {{"start", 0}, {"end", run.lon.size() - 1}};
        for (const auto& e : ends) {
            k += "<Placemark>\n<name>" + file + " " + e.what + "</name>\n<styleUrl>#" + e.what + "</styleUrl>\n"
                 "<Point><coordinates>";
            AppendPosition(k, run.lon[e.at], run.lat[e.at]);
            k += "</coordinates></Point>\n</Placemark>\n";
        }
        k += "</Folder>\n";
    }
    if (targets) {
        k += "<Folder>\n<name>Targets</name>\n";
        for (const Target& t : targets->targets) {
            k += "<Placemark>\n<name>" + std::to_string(t.number) + "</name>\n<description>" +
                 Escaped(TargetDescription(t)) + "</description>\n<styleUrl>#target</styleUrl>\n<Point><coordinates>";
            AppendPosition(k, t.lon, t.lat);
            k += "</coordinates></Point>\n</Placemark>\n";
        }
        k += "</Folder>\n";
    }
    if (!gaps.empty()) {
        k += "<Folder>\n<name>Coverage gaps</name>\n";
        for (std::size_t i = 0; i < gaps.size(); ++i) {
            char* outline = Gdal().OGR_G_ExportToKML(gaps[i].shape.get(), nullptr);
            k += "<Placemark>\n<name>gap " + std::to_string(i + 1) + "</name>\n<description>" +
                 FormatFixed(gaps[i].area, 2, 17) + " m² uncovered</description>\n<styleUrl>#gap</styleUrl>\n" +
                 (outline ? outline : "") + "\n</Placemark>\n";
            Gdal().VSIFree(outline);
        }
        k += "</Folder>\n";
    }
    k += "</Document>\n</kml>\n";
    return k;
}

// `indexed`: GDAL builds the layer's spatial index once its features are in.
OGRLayerH CreateLayer(GDALDatasetH ds, const char* name, OGRwkbGeometryType type,
                      std::initializer_list<std::pair<const char*, OGRFieldType>> fields, const StagedFile& out,
                      bool indexed = true) {
    const Options options{indexed ? "SPATIAL_INDEX=YES" : "SPATIAL_INDEX=NO"};
    OGRLayerH layer = Gdal().GDALDatasetCreateLayer(ds, name, Epsg(kWgs84).get(), type, options.get());
    out.Check(layer != nullptr, "cannot create a layer");
    for (const auto& [field, fieldType] : fields) {
        OGRFieldDefnH defn = Gdal().OGR_Fld_Create(field, fieldType);
        const OGRErr err = Gdal().OGR_L_CreateField(layer, defn, TRUE);
        Gdal().OGR_Fld_Destroy(defn);
        out.Check(err == OGRERR_NONE, "cannot create a field");
    }
    return layer;
}

void AddFeature(OGRLayerH layer, OGRFeatureH feature, const StagedFile& out) {
    const OGRErr err = Gdal().OGR_L_CreateFeature(layer, feature);
    Gdal().OGR_F_Destroy(feature);
    out.Check(err == OGRERR_NONE, "cannot add a feature");
}

}  // namespace

void WriteGeoTiff(const QString& path, const Grid& grid, GeoTiffProjection projection) {
    QuietGdal quiet;
    StagedFile out(path);
    CheckGrid(grid, out);
    Dataset source = GridRaster(grid);
    out.Check(source != nullptr, "cannot hold the grid");
    const Options creation = GeoTiffCreation();
    // A metric grid is written on its own nodes in its own system.
    if (projection == GeoTiffProjection::Geographic || grid.Metric()) {
        Dataset tiff(Gdal().GDALCreateCopy(Gdal().GDALGetDriverByName("GTiff"), out.temp().c_str(), source.get(), FALSE,
                                    creation.get(), nullptr, nullptr));
        out.Check(tiff != nullptr, "cannot create the GeoTIFF");
        tiff.reset();
        out.CheckGdal("cannot finish the GeoTIFF");
        out.Commit();
        return;
    }
    // Square pixels of the finer node spacing, in metres.
    const double midLat = grid.yLL + grid.ySize * (grid.rows - 1) / 2;
    const double spacing = std::max(1e-3, std::min(grid.ySize, grid.xSize * std::cos(midLat * std::numbers::pi / 180)) * kMetresPerDegree);
    const int epsg = UtmEpsgCode(grid.xLL + grid.xSize * (grid.cols - 1) / 2, midLat);
    const std::string noData = FormatGeneral(kNoData);
    const Options warp{"-of", "GTiff", "-t_srs", "EPSG:" + std::to_string(epsg), "-r", "bilinear", "-tr",
                       FormatGeneral(spacing), FormatGeneral(spacing), "-srcnodata", noData, "-dstnodata", noData,
                       "-co", "COMPRESS=DEFLATE", "-co", "PREDICTOR=3", "-co", "TILED=YES"};
    GDALWarpAppOptions* options = Gdal().GDALWarpAppOptionsNew(warp.get(), nullptr);
    out.Check(options != nullptr, "bad warp options");
    GDALDatasetH sources[] = {source.get()};
    int usageError = 0;
    Dataset warped(Gdal().GDALWarp(out.temp().c_str(), nullptr, 1, sources, options, &usageError));
    Gdal().GDALWarpAppOptionsFree(options);
    out.Check(warped != nullptr && !usageError, "cannot warp the grid");
    warped.reset();
    out.CheckGdal("cannot finish the GeoTIFF");
    out.Commit();
}

void WriteKmz(const QString& path, const Grid& nodes, const GisSurvey& survey, const Presentation& presentation,
              const GisFindings& findings) {
    QuietGdal quiet;
    StagedFile out(path);
    CheckGrid(nodes, out);
    const Grid resampled = nodes.Metric() ? GeographicGrid(nodes, out) : Grid();
    const Grid& grid = nodes.Metric() ? resampled : nodes;
    // About one picture pixel per node, within what viewers handle well.
    const int longest = std::clamp(std::max(grid.cols, grid.rows), 512, 2048);
    const QByteArray picture = Png(DrawGridPicture(grid, presentation, PlotSize(grid, longest)), out);
    const QByteArray legend = Png(DrawColourScale(grid, presentation), out);
    const std::vector<GapPolygon> gaps = findings.coverage ? GapPolygons(*findings.coverage, out) : std::vector<GapPolygon>();
    const std::string kml = KmlDocument(QFileInfo(path).completeBaseName(), grid, survey, findings.targets, gaps);

    void* zip = Gdal().CPLCreateZip(out.temp().c_str(), nullptr);
    out.Check(zip != nullptr, "cannot create the archive");
    bool ok = true;
    auto add = [&](const char* entry, const char* data, std::size_t size) {
        ok = ok && Gdal().CPLCreateFileInZip(zip, entry, nullptr) == CE_None &&
             Gdal().CPLWriteFileInZip(zip, data, static_cast<int>(size)) == CE_None && Gdal().CPLCloseFileInZip(zip) == CE_None;
    };
    // The document first: readers take the archive's first .kml as the root.
    add("doc.kml", kml.data(), kml.size());
    add(kPictureEntry, picture.constData(), static_cast<std::size_t>(picture.size()));
    add(kLegendEntry, legend.constData(), static_cast<std::size_t>(legend.size()));
    ok = Gdal().CPLCloseZip(zip) == CE_None && ok;
    out.Check(ok, "cannot write the archive");
    out.Commit();
}

struct FeatureDestroyer {
    void operator()(OGRFeatureH f) const { Gdal().OGR_F_Destroy(f); }
};
using Feature = std::unique_ptr<std::remove_pointer_t<OGRFeatureH>, FeatureDestroyer>;

struct GeoPackageWriter::State {
    State(const QString& path, std::optional<std::uint64_t> limit) : out(path), pointLimit(limit) {}
    StagedFile out;
    std::optional<std::uint64_t> pointLimit;
    bool pointsLeftOut = false;
    GDALDriverH driver = nullptr;
    Dataset ds;
    OGRLayerH points = nullptr;
    // One feature refilled for every point: creating and destroying one per
    // point costs as much as writing it.
    Feature point;
    std::int64_t written = 0;
    // Declared after the dataset: its statements end before the connection.
    std::unique_ptr<PackedPointRtree> index;
};

namespace {

enum PointField { kLon, kLat, kGradient, kArrangedGradient, kField, kChannel, kFile, kLine, kTime };

void SetRealOrNull(OGRFeatureH f, int field, double v) {
    if (std::isnan(v)) Gdal().OGR_F_SetFieldNull(f, field);
    else Gdal().OGR_F_SetFieldDouble(f, field, v);
}

void SetCountOrNull(OGRFeatureH f, int field, int v) {
    if (v < 0) Gdal().OGR_F_SetFieldNull(f, field);
    else Gdal().OGR_F_SetFieldInteger(f, field, v);
}

// Each layer in its own transaction, as the points are.
void AddFindingLayers(GDALDatasetH ds, const GisFindings& findings, const StagedFile& out) {
    if (findings.targets) {
        OGRLayerH layer = CreateLayer(ds, "targets", wkbPoint,
                                      {{"number", OFTInteger}, {"longitude", OFTReal}, {"latitude", OFTReal},
                                       {"peak", OFTReal}, {"positive_lobe", OFTReal}, {"negative_lobe", OFTReal},
                                       {"half_peak_area", OFTReal}, {"depth", OFTReal}, {"survey_file", OFTString},
                                       {"line", OFTInteger}},
                                      out);
        out.Check(Gdal().GDALDatasetStartTransaction(ds, FALSE) == OGRERR_NONE, "cannot start a transaction");
        OGRFeatureDefnH defn = Gdal().OGR_L_GetLayerDefn(layer);
        for (const Target& t : findings.targets->targets) {
            OGRFeatureH f = Gdal().OGR_F_Create(defn);
            Gdal().OGR_F_SetFieldInteger(f, 0, t.number);
            int field = 1;
            for (double v : {t.lon, t.lat, t.peak, t.positiveLobe, t.negativeLobe, t.halfPeakArea})
                Gdal().OGR_F_SetFieldDouble(f, field++, v);
            SetRealOrNull(f, field++, t.depth ? *t.depth : std::nan(""));
            if (t.nearest.line) Gdal().OGR_F_SetFieldString(f, field, t.nearest.file.c_str());
            else Gdal().OGR_F_SetFieldNull(f, field);
            SetCountOrNull(f, field + 1, t.nearest.line ? static_cast<int>(t.nearest.line) : -1);
            OGRGeometryH g = Gdal().OGR_G_CreateGeometry(wkbPoint);
            Gdal().OGR_G_SetPoint_2D(g, 0, t.lon, t.lat);
            Gdal().OGR_F_SetGeometryDirectly(f, g);
            AddFeature(layer, f, out);
        }
        out.Check(Gdal().GDALDatasetCommitTransaction(ds) == OGRERR_NONE, "cannot commit the targets");
    }
    if (findings.coverage) {
        std::vector<GapPolygon> gaps = GapPolygons(*findings.coverage, out);
        OGRLayerH layer = CreateLayer(ds, "coverage_gaps", wkbPolygon, {{"gap", OFTInteger}, {"area_m2", OFTReal}}, out);
        out.Check(Gdal().GDALDatasetStartTransaction(ds, FALSE) == OGRERR_NONE, "cannot start a transaction");
        OGRFeatureDefnH defn = Gdal().OGR_L_GetLayerDefn(layer);
        for (std::size_t i = 0; i < gaps.size(); ++i) {
            OGRFeatureH f = Gdal().OGR_F_Create(defn);
            Gdal().OGR_F_SetFieldInteger(f, 0, static_cast<int>(i + 1));
            Gdal().OGR_F_SetFieldDouble(f, 1, gaps[i].area);
            Gdal().OGR_F_SetGeometryDirectly(f, gaps[i].shape.release());
            AddFeature(layer, f, out);
        }
        out.Check(Gdal().GDALDatasetCommitTransaction(ds) == OGRERR_NONE, "cannot commit the gaps");
    }
}

}  // namespace

struct GeoTiffTileWriter::State {
    explicit State(const QString& path) : out(path) {}
    StagedFile out;
    Dataset ds;
    int cols = 0, rows = 0;
};

GeoTiffTileWriter::GeoTiffTileWriter(const QString& path, const Grid& nodes) : s_(std::make_unique<State>(path)) {
    QuietGdal quiet;
    StagedFile& out = s_->out;
    if (nodes.cols < 1 || nodes.rows < 1) out.Fail("the grid has no nodes");
    s_->cols = nodes.cols;
    s_->rows = nodes.rows;
    const Options creation = GeoTiffCreation();
    s_->ds.reset(Gdal().GDALCreate(Gdal().GDALGetDriverByName("GTiff"), out.temp().c_str(), nodes.cols, nodes.rows, 1,
                                   GDT_Float32, creation.get()));
    out.Check(s_->ds != nullptr, "cannot create the GeoTIFF");
    DescribeRaster(s_->ds.get(), nodes);
    out.CheckGdal("cannot describe the GeoTIFF");
}

GeoTiffTileWriter::~GeoTiffTileWriter() = default;

void GeoTiffTileWriter::Add(const GridTile& tile) {
    QuietGdal quiet;
    const StagedFile& out = s_->out;
    if (tile.col < 0 || tile.row < 0 || tile.cols < 1 || tile.rows < 1 || tile.col + tile.cols > s_->cols ||
        tile.row + tile.rows > s_->rows || tile.z.size() != static_cast<std::size_t>(tile.cols) * tile.rows)
        out.Fail("a tile lies outside the grid");
    std::vector<float> values = RasterLines(tile.z, tile.cols, tile.rows);
    const int top = s_->rows - (tile.row + tile.rows);
    out.Check(Gdal().GDALRasterIO(Gdal().GDALGetRasterBand(s_->ds.get(), 1), GF_Write, tile.col, top, tile.cols,
                                  tile.rows, values.data(), tile.cols, tile.rows, GDT_Float32, 0, 0) == CE_None,
              "cannot write a tile");
}

void GeoTiffTileWriter::Finish() {
    QuietGdal quiet;
    StagedFile& out = s_->out;
    // Halved until the whole map fits a screen's corner, so that a GIS shows
    // it whole without reading every pixel.
    std::vector<int> levels;
    for (int level = 2; std::max(s_->cols, s_->rows) / (level / 2) > kSmallestOverview; level *= 2)
        levels.push_back(level);
    if (!levels.empty())
        out.Check(Gdal().GDALBuildOverviews(s_->ds.get(), "AVERAGE", static_cast<int>(levels.size()), levels.data(), 0,
                                            nullptr, nullptr, nullptr) == CE_None,
                  "cannot build the overviews");
    s_->ds.reset();
    out.CheckGdal("cannot finish the GeoTIFF");
    out.Commit();
}

GeoPackageWriter::GeoPackageWriter(const QString& path, std::optional<std::uint64_t> pointLimit)
    : s_(std::make_unique<State>(path, pointLimit)) {
    QuietGdal quiet;
    StagedFile& out = s_->out;
    s_->driver = Gdal().GDALGetDriverByName("GPKG");
    s_->ds.reset(Gdal().GDALCreate(s_->driver, out.temp().c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    out.Check(s_->ds != nullptr, "cannot create the GeoPackage");
    GDALDatasetH ds = s_->ds.get();
    // One layer filled at a time: with two open at once GDAL's inserts
    // are much slower. A GIS draws a small window of a survey of millions
    // of points about ten times as fast with the points' spatial index
    // (SQLite's R-tree); GDAL creates it empty, with the triggers that keep
    // it, and the points fill it packed as they come (gpkgrtree.h).
    s_->points = CreateLayer(ds, "points", wkbPoint,
                             {{"longitude", OFTReal}, {"latitude", OFTReal}, {"gradient", OFTReal},
                              {"gradient_arranged", OFTReal}, {"field", OFTReal}, {"channel", OFTInteger},
                              {"survey_file", OFTString}, {"line", OFTInteger}, {"time", OFTReal}},
                             out, false);
    Gdal().GDALDatasetReleaseResultSet(ds, Gdal().GDALDatasetExecuteSQL(ds, "SELECT CreateSpatialIndex('points', 'geom')",
                                                                        nullptr, nullptr));
    out.CheckGdal("cannot index the points");
    auto* db = static_cast<sqlite3*>(Gdal().GDALGetInternalHandle(ds, "SQLITE_HANDLE"));
    out.Check(db != nullptr, "cannot index the points");
    out.Check(Gdal().GDALDatasetStartTransaction(ds, FALSE) == OGRERR_NONE, "cannot start a transaction");
    s_->index = std::make_unique<PackedPointRtree>(db, "points", "geom", [&out](const std::string& reason) { out.Fail(reason); });
    s_->point.reset(Gdal().OGR_F_Create(Gdal().OGR_L_GetLayerDefn(s_->points)));
    Gdal().OGR_F_SetGeometryDirectly(s_->point.get(), Gdal().OGR_G_CreateGeometry(wkbPoint));
}

GeoPackageWriter::~GeoPackageWriter() = default;

void GeoPackageWriter::AddPoints(const std::vector<GisPoint>& points, const std::vector<SurveyRun>& runs) {
    QuietGdal quiet;
    const StagedFile& out = s_->out;
    if (s_->pointLimit && static_cast<std::uint64_t>(s_->written) + points.size() > *s_->pointLimit)
        s_->pointsLeftOut = true;
    if (s_->pointsLeftOut) return;
    OGRFeatureH f = s_->point.get();
    OGRGeometryH place = Gdal().OGR_F_GetGeometryRef(f);
    for (const GisPoint& p : points) {
        Gdal().OGR_F_SetFieldDouble(f, kLon, p.lon);
        Gdal().OGR_F_SetFieldDouble(f, kLat, p.lat);
        Gdal().OGR_F_SetFieldDouble(f, kGradient, p.gradient);
        SetRealOrNull(f, kArrangedGradient, p.arrangedGradient);
        SetRealOrNull(f, kField, p.field);
        SetCountOrNull(f, kChannel, p.channel);
        if (p.run < 0 || p.run >= static_cast<int>(runs.size())) Gdal().OGR_F_SetFieldNull(f, kFile);
        else Gdal().OGR_F_SetFieldString(f, kFile, runs[p.run].file.c_str());
        SetCountOrNull(f, kLine, p.line);
        SetRealOrNull(f, kTime, p.time);
        Gdal().OGR_G_SetPoint_2D(place, 0, p.lon, p.lat);
        // Numbered here, as the R-tree's leaves name them.
        Gdal().OGR_F_SetFID(f, ++s_->written);
        out.Check(Gdal().OGR_L_CreateFeature(s_->points, f) == OGRERR_NONE, "cannot add a feature");
        s_->index->Add(s_->written, p.lon, p.lat);
    }
}

void GeoPackageWriter::Finish(const Grid& grid, const std::vector<SurveyRun>& runs, const GisFindings& findings) {
    QuietGdal quiet;
    StagedFile& out = s_->out;
    CheckGrid(grid, out);
    GDALDatasetH ds = s_->ds.get();
    // Whole, even for points left out: GDAL drops a layer by its index's triggers.
    s_->index->Finish();
    s_->index.reset();
    out.Check(Gdal().GDALDatasetCommitTransaction(ds) == OGRERR_NONE, "cannot commit the points");
    if (s_->pointsLeftOut) {
        // The first layer; the pages its points took are given back.
        out.Check(Gdal().GDALDatasetDeleteLayer(ds, 0) == OGRERR_NONE, "cannot leave out the points");
        Gdal().GDALDatasetReleaseResultSet(ds, Gdal().GDALDatasetExecuteSQL(ds, "VACUUM", nullptr, nullptr));
        out.CheckGdal("cannot leave out the points");
    }
    OGRLayerH tracks = CreateLayer(ds, "tracks", wkbLineString, {{"survey_file", OFTString}}, out);
    out.Check(Gdal().GDALDatasetStartTransaction(ds, FALSE) == OGRERR_NONE, "cannot start a transaction");
    OGRFeatureDefnH trackDefn = Gdal().OGR_L_GetLayerDefn(tracks);
    for (const SurveyRun& run : runs) {
        if (run.lon.size() < 2) continue;
        OGRFeatureH f = Gdal().OGR_F_Create(trackDefn);
        Gdal().OGR_F_SetFieldString(f, 0, run.file.c_str());
        OGRGeometryH g = Gdal().OGR_G_CreateGeometry(wkbLineString);
        Gdal().OGR_G_SetPointCount(g, static_cast<int>(run.lon.size()));
        for (std::size_t i = 0; i < run.lon.size(); ++i) Gdal().OGR_G_SetPoint_2D(g, static_cast<int>(i), run.lon[i], run.lat[i]);
        Gdal().OGR_F_SetGeometryDirectly(f, g);
        AddFeature(tracks, f, out);
    }
    out.Check(Gdal().GDALDatasetCommitTransaction(ds) == OGRERR_NONE, "cannot commit the tracks");
    AddFindingLayers(ds, findings, out);
    s_->ds.reset();
    out.CheckGdal("cannot finish the layers");
    Dataset source = GridRaster(grid);
    out.Check(source != nullptr, "cannot hold the grid");
    const Options raster{"APPEND_SUBDATASET=YES", "RASTER_TABLE=grid", "RASTER_IDENTIFIER=gradHz, nT/m",
                         std::string("FIELD_NAME=") + kBandDescription,
                         std::string("QUANTITY_DEFINITION=") + kBandDescription, std::string("UOM=") + kBandUnit};
    Dataset gpkg(Gdal().GDALCreateCopy(s_->driver, out.temp().c_str(), source.get(), FALSE, raster.get(), nullptr, nullptr));
    out.Check(gpkg != nullptr, "cannot add the grid");
    gpkg.reset();
    out.CheckGdal("cannot finish the GeoPackage");
    out.Commit();
}

bool GeoPackageWriter::PointsLeftOut() const { return s_->pointsLeftOut; }

void WriteGeoPackage(const QString& path, const Grid& grid, const GisSurvey& survey, const GisFindings& findings,
                     std::optional<std::uint64_t> pointLimit) {
    GeoPackageWriter writer(path, pointLimit);
    writer.AddPoints(survey.points, survey.runs);
    writer.Finish(grid, survey.runs, findings);
}

}  // namespace qgrad
