#include "common/geodesy.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "gridhost/contourmap.h"
#include "gridhost/gisoutput.h"
#include "gridhost/gridfile.h"
#include "gridhost/gridrun.h"
#include "gridhost/presentation.h"

#include "gdaltools.h"
#include "testapp.h"

#include <gtest/gtest.h>

#include <cpl_vsi.h>

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cmath>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

using namespace qgrad;

namespace {


using qgrad::testing::Tool;
using qgrad::testing::ValueRange;

// A grid of `cols` by `rows` nodes over about w by h metres from its
// south-west node (37.6 E, 55.75 N unless given), each node col + 10 * row,
// blanks where `blank` says.
template <typename Blank>
Grid MakeGrid(int cols, int rows, double widthM, double heightM, Blank blank, double lon = 37.6, double lat = 55.75) {
    Grid g;
    g.cols = cols;
    g.rows = rows;
    g.xLL = lon;
    g.yLL = lat;
    g.xSize = widthM / (cols - 1) / MetresPerDegreeLongitude(lat);
    g.ySize = heightM / (rows - 1) / kMetresPerDegree;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) g.z.push_back(blank(c, r) ? std::nan("") : c + 10.0 * r);
    return g;
}

GisSurvey TwoRuns(const Grid& g) {
    GisSurvey s;
    for (int i = 0; i < 2; ++i) {
        SurveyRun run;
        run.file = i ? "line 2 & <b>.csv" : "line1.csv";
        for (int k = 0; k < 20; ++k) {
            run.lon.push_back(g.xLL + g.xSize * k / 2);
            run.lat.push_back(g.yLL + g.ySize * (i + 1));
        }
        s.runs.push_back(run);
        for (int k = 0; k < 30; ++k)
            s.points.push_back({run.lon[k % 20], run.lat[k % 20], 0.1 * k, 48000.5 + k, k % 12 + 1, i});
    }
    s.points.push_back({g.xLL, g.yLL, -3.5, std::nan(""), -1, -1});  // nothing known beyond the point file
    return s;
}

class GisOutputTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { qgrad::testing::EnsureApplication<QGuiApplication>(); }
    QString Path(const QString& name) const { return dir_.filePath(name); }
    // Files in the folder besides `kept`: a staged file left behind shows here.
    QStringList Others(const QStringList& kept) const {
        QStringList all = QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden);
        for (const QString& k : kept) all.removeAll(k);
        return all;
    }
    QTemporaryDir dir_;
};

TEST_F(GisOutputTest, GeoTiffHoldsTheGridsValuesBlanksAndNodes) {
    Grid g = MakeGrid(4, 3, 0, 0, [](int c, int r) { return c == 0 && r == 2; });
    g.xSize = 0.001;
    g.ySize = 0.0005;
    g.xLL = 37.5;
    WriteGridFile(Path("g.grd"), g);
    WriteGeoTiff(Path("g.tif"), g);
    EXPECT_EQ(Others({"g.tif", "g.grd"}), QStringList());
    const QString info = Tool("gdalinfo", {"-stats", Path("g.tif")});
    EXPECT_TRUE(info.contains("Driver: GTiff")) << info.toStdString();
    EXPECT_TRUE(info.contains("Size is 4, 3"));
    EXPECT_TRUE(info.contains("Type=Float32"));
    EXPECT_TRUE(info.contains("COMPRESSION=DEFLATE"));
    EXPECT_TRUE(info.contains("ID[\"EPSG\",4326]"));
    // The same node-registered corners as the grid file.
    EXPECT_TRUE(info.contains("Lower Left  (  37.4995000,  55.7497500)")) << info.toStdString();
    EXPECT_TRUE(info.contains("NoData Value=1.70141"));
    EXPECT_TRUE(info.contains("Description = vertical gradient"));
    EXPECT_TRUE(info.contains("Unit Type: nT/m"));
    EXPECT_EQ(ValueRange(info), "Minimum=0.000, Maximum=23.000");
    EXPECT_EQ(ValueRange(info), ValueRange(Tool("gdalinfo", {"-stats", Path("g.grd")})));
    // North row first: the blank north-west node, the south-west node's 0.
    EXPECT_TRUE(Tool("gdallocationinfo", {"-valonly", Path("g.tif"), "0", "0"}).startsWith("1.70141"));
    EXPECT_EQ(Tool("gdallocationinfo", {"-valonly", Path("g.tif"), "0", "2"}).trimmed(), "0");
    EXPECT_EQ(Tool("gdallocationinfo", {"-valonly", Path("g.tif"), "3", "1"}).trimmed(), "13");
}

TEST_F(GisOutputTest, UtmGeoTiffIsWarpedIntoTheCentresZone) {
    const Grid g = MakeGrid(41, 31, 200, 150, [](int c, int r) { return c + r < 5; });
    WriteGeoTiff(Path("u.tif"), g, GeoTiffProjection::LocalUtm);
    EXPECT_EQ(Others({"u.tif"}), QStringList());
    const QString info = Tool("gdalinfo", {"-stats", Path("u.tif")});
    EXPECT_TRUE(info.contains("UTM zone 37N")) << info.toStdString();
    EXPECT_TRUE(info.contains("ID[\"EPSG\",32637]"));
    EXPECT_TRUE(info.contains("NoData Value=1.70141"));
    // The warper keeps what the band holds.
    EXPECT_TRUE(info.contains("Description = vertical gradient"));
    EXPECT_TRUE(info.contains("Unit Type: nT/m"));
    // Square pixels of the 5 m node spacing.
    const auto pixel = QRegularExpression("Pixel Size = \\(([0-9.]+),-([0-9.]+)\\)").match(info);
    ASSERT_TRUE(pixel.hasMatch()) << info.toStdString();
    EXPECT_NEAR(pixel.captured(1).toDouble(), 5, 0.01);
    EXPECT_EQ(pixel.captured(1), pixel.captured(2));
    // Bilinear resampling stays within the grid's values and reaches near both ends.
    const auto m = QRegularExpression("Minimum=([-0-9.]+), Maximum=([-0-9.]+)").match(info);
    ASSERT_TRUE(m.hasMatch());
    EXPECT_GE(m.captured(1).toDouble(), 5 - 1e-3);
    EXPECT_LT(m.captured(1).toDouble(), 20);
    EXPECT_LE(m.captured(2).toDouble(), 340 + 1e-3);
    EXPECT_GT(m.captured(2).toDouble(), 320);
}

// Zone edges, both hemispheres, and the zones widened over Norway and
// Svalbard, whose neighbours keep the plain rule.
const struct UtmCase {
    const char* name;
    double lon, lat;
    int epsg;
} kUtmCases[] = {
    {"Moscow", 37.6, 55.75, 32637},
    {"west of Greenwich", -0.1, 51.5, 32630},
    {"on Greenwich", 0.0, 51.5, 32631},
    {"Sydney", 151.2, -33.9, 32756},
    {"antimeridian west", -180.0, 10, 32601},
    {"antimeridian east", 180.0, 10, 32660},
    {"Bergen, zone 32 reaching west", 5.32, 60.38, 32632},
    {"Norway's 32V starts at 3 E", 3.0, 60.0, 32632},
    {"west of 32V", 2.9, 60.0, 32631},
    {"south of 32V", 5.32, 55.9, 32631},
    {"north of 32V", 5.32, 64.1, 32631},
    {"Svalbard 31X", 8.9, 78.0, 32631},
    {"Svalbard 33X, Longyearbyen", 15.6, 78.2, 32633},
    {"Svalbard 35X", 25.0, 79.0, 32635},
    {"Svalbard 37X", 35.0, 80.0, 32637},
    {"south of band X", 8.9, 71.9, 32632},
    {"east of Svalbard's zones", 42.5, 78.0, 32638},
    {"Tierra del Fuego", -68.3, -54.8, 32719},
};

TEST(UtmZone, StandardRuleWithTheNorwayAndSvalbardExceptions) {
    for (const UtmCase& c : kUtmCases) EXPECT_EQ(UtmEpsgCode(c.lon, c.lat), c.epsg) << c.name;
}

TEST_F(GisOutputTest, UtmGeoTiffTakesTheZoneOfItsPlace) {
    for (const UtmCase& c : kUtmCases) {
        // Rows on a zone's edge: the centre of a grid may fall either side
        // by a rounding.
        if (c.lon == std::round(c.lon)) continue;
        // A 200 m grid centred on the place.
        const double lon = c.lon - 100 / MetresPerDegreeLongitude(c.lat), lat = c.lat - 100 / kMetresPerDegree;
        const Grid g = MakeGrid(21, 21, 200, 200, [](int, int) { return false; }, lon, lat);
        WriteGeoTiff(Path("z.tif"), g, GeoTiffProjection::LocalUtm);
        const QString info = Tool("gdalinfo", {Path("z.tif")});
        EXPECT_TRUE(info.contains(QString("ID[\"EPSG\",%1]").arg(c.epsg))) << c.name << "\n" << info.toStdString();
    }
}

// An entry of the KMZ archive.
QByteArray ZipEntry(const QString& zip, const char* entry) {
    const std::string name = "/vsizip/" + zip.toStdString() + "/" + entry;
    vsi_l_offset size = 0;
    GByte* bytes = VSIGetMemFileBuffer(name.c_str(), &size, FALSE);
    if (bytes) return QByteArray(reinterpret_cast<const char*>(bytes), static_cast<qsizetype>(size));
    VSILFILE* f = VSIFOpenL(name.c_str(), "rb");
    if (!f) return {};
    QByteArray out;
    char buffer[65536];
    for (std::size_t n; (n = VSIFReadL(buffer, 1, sizeof buffer, f)) > 0;) out.append(buffer, static_cast<qsizetype>(n));
    VSIFCloseL(f);
    return out;
}

TEST_F(GisOutputTest, KmzOpensInBothKmlReadersWithOverlayLegendAndTracks) {
    const Grid g = MakeGrid(41, 21, 200, 100, [](int c, int) { return c > 35; });
    Presentation diverging;
    diverging.palette = Palette::Diverging;
    diverging.clip = ClipRange::Between(0, 240);
    WriteKmz(Path("m.kmz"), g, TwoRuns(g), diverging);
    EXPECT_EQ(Others({"m.kmz"}), QStringList());

    // Each reader alone, the other skipped; the plain KML reader takes the
    // document inside the archive.
    const struct {
        const char *driver, *other;
        QString source;
    } readers[] = {{"LIBKML", "KML", Path("m.kmz")}, {"KML", "LIBKML", "/vsizip/" + Path("m.kmz") + "/doc.kml"}};
    for (const auto& r : readers) {
        const QString info = Tool("ogrinfo", {"--config", "GDAL_SKIP", r.other, "-al", "-so", r.source});
        EXPECT_TRUE(info.contains(QString("using driver `%1' successful").arg(r.driver))) << info.toStdString();
        EXPECT_TRUE(info.contains("Layer name: line1.csv")) << info.toStdString();
        EXPECT_TRUE(info.contains("Layer name: line 2 & <b>.csv"));
        EXPECT_EQ(info.count("Feature Count: 3"), 2) << info.toStdString();
    }

    const QByteArray kml = ZipEntry(Path("m.kmz"), "doc.kml");
    ASSERT_FALSE(kml.isEmpty());
    ASSERT_TRUE(qgrad::testing::WriteFile(Path("doc.kml"), kml));
    Tool("xmllint", {"--noout", Path("doc.kml")});
    EXPECT_TRUE(kml.contains("<kml xmlns=\"http://www.opengis.net/kml/2.2\">"));
    // Children in the schema's order: feature elements, then the overlay's, then its own.
    const char* inOrder[] = {"<Document>", "<name>m</name>", "<open>", "<Style id=\"track\">", "<GroundOverlay>",
                             "<name>gradHz", "<Icon><href>files/gradient.png", "<LatLonBox><north>55.75089",
                             "<south>55.75000000</south><east>37.60319", "<west>37.60000000</west>",
                             "<ScreenOverlay>", "<Icon><href>files/legend.png", "<overlayXY", "<screenXY", "<size",
                             "<Folder>", "<name>line1.csv</name>", "<styleUrl>#track", "<LineString><tessellate>",
                             "<styleUrl>#start", "<Point>", "<styleUrl>#end", "line 2 &amp; &lt;b&gt;.csv"};
    qsizetype at = 0;
    for (const char* item : inOrder) {
        const qsizetype next = kml.indexOf(item, at);
        EXPECT_GE(next, at) << item;
        if (next >= 0) at = next;
    }

    // The overlay: west end blue, east end red, blank east columns clear.
    const QImage picture = QImage::fromData(ZipEntry(Path("m.kmz"), "files/gradient.png"));
    ASSERT_EQ(picture.size(), PlotSize(g, 512));
    const QColor west = picture.pixelColor(1, picture.height() - 2), east = picture.pixelColor(430, 2);
    EXPECT_GT(west.blue(), 2 * west.red());
    EXPECT_GT(east.red(), 2 * east.blue());
    EXPECT_EQ(picture.pixelColor(picture.width() - 2, 10).alpha(), 0);
    EXPECT_FALSE(QImage::fromData(ZipEntry(Path("m.kmz"), "files/legend.png")).isNull());
}

// Names as a surveyor's disk may hold them: two names that are not UTF-8
// stay two files, and a survey name with characters XML cannot carry still
// gives a KML every reader takes.
TEST_F(GisOutputTest, NamesTheFileSystemAndXmlTake) {
    const Grid g = MakeGrid(11, 6, 50, 25, [](int, int) { return false; });
    for (const char* name : {"r\xFF.tif", "r\xFE.tif"})
        WriteGeoTiff(FromLocalBytes(dir_.path().toStdString() + "/" + name), g, GeoTiffProjection::Geographic);
    for (const char* name : {"r\xFF.tif", "r\xFE.tif"}) {
        const std::string path = dir_.path().toStdString() + "/" + name;
        EXPECT_TRUE(std::filesystem::is_regular_file(path)) << name;
        std::filesystem::remove(path);  // the temporary folder's removal goes by decoded names
    }

    GisSurvey survey = TwoRuns(g);
    survey.runs[0].file = "a\xEF\xBF\xBF\x01\xC0" "b.csv";  // U+FFFF, a control byte, a byte that is not UTF-8
    WriteKmz(Path("m.kmz"), g, survey, {});
    const QByteArray kml = ZipEntry(Path("m.kmz"), "doc.kml");
    ASSERT_TRUE(qgrad::testing::WriteFile(Path("doc.kml"), kml));
    Tool("xmllint", {"--noout", Path("doc.kml")});
    EXPECT_TRUE(kml.contains("<name>a\\xEF\\xBF\\xBF\\x01\\xC0b.csv</name>")) << kml.toStdString();
}

TEST_F(GisOutputTest, GeoPackageHoldsPointsTracksAndTheGrid) {
    const Grid g = MakeGrid(41, 21, 200, 100, [](int c, int r) { return c + r < 3; });
    const GisSurvey survey = TwoRuns(g);
    WriteGridFile(Path("p.grd"), g);
    WriteGeoPackage(Path("p.gpkg"), g, survey);
    EXPECT_EQ(Others({"p.gpkg", "p.grd"}), QStringList());

    const QString layers = Tool("ogrinfo", {"-al", "-so", Path("p.gpkg")});
    const int points = layers.indexOf("Layer name: points"), tracks = layers.indexOf("Layer name: tracks");
    ASSERT_GE(points, 0) << layers.toStdString();
    ASSERT_GE(tracks, 0);
    EXPECT_TRUE(layers.indexOf(QString("Feature Count: %1").arg(survey.points.size()), points) > points);
    EXPECT_TRUE(layers.indexOf("Feature Count: 2", tracks) > tracks);
    for (const char* field : {"longitude: Real", "latitude: Real", "gradient: Real", "field: Real",
                              "channel: Integer", "survey_file: String"})
        EXPECT_TRUE(layers.contains(field)) << field;
    EXPECT_TRUE(layers.contains("Geometry: Point"));
    EXPECT_TRUE(layers.contains("Geometry: Line String"));

    // The last point knows nothing but its place and value.
    const QString last = Tool("ogrinfo", {"-q", Path("p.gpkg"), "-sql", "SELECT * FROM points WHERE gradient < -3"});
    EXPECT_TRUE(last.contains("field (Real) = (null)")) << last.toStdString();
    EXPECT_TRUE(last.contains("channel (Integer) = (null)"));
    const QString second = Tool("ogrinfo", {"-q", Path("p.gpkg"), "-sql", "SELECT * FROM points WHERE channel = 3"});
    EXPECT_TRUE(second.contains("survey_file (String) = line 2 & <b>.csv")) << second.toStdString();
    EXPECT_TRUE(second.contains("field (Real) = 48002.5"));

    // Both layers with their R-tree, complete.
    const QString indexed = Tool("ogrinfo", {"-q", Path("p.gpkg"), "-sql",
                                             "SELECT table_name FROM gpkg_extensions WHERE extension_name = "
                                             "'gpkg_rtree_index'"});
    for (const char* table : {"points", "tracks"})
        EXPECT_TRUE(indexed.contains(QString("table_name (String) = %1\n").arg(table))) << indexed.toStdString();
    const QString rtree = Tool("ogrinfo", {"-q", Path("p.gpkg"), "-sql", "SELECT COUNT(*) AS n FROM rtree_points_geom"});
    EXPECT_TRUE(rtree.contains(QString("n (Integer) = %1").arg(survey.points.size()))) << rtree.toStdString();

    const QString raster = Tool("gdalinfo", {"-stats", Path("p.gpkg")});
    EXPECT_TRUE(raster.contains("Size is 41, 21")) << raster.toStdString();
    EXPECT_TRUE(raster.contains("NoData Value="));
    EXPECT_TRUE(raster.contains("Description = vertical gradient"));
    EXPECT_TRUE(raster.contains("Unit Type: nT/m"));
    EXPECT_EQ(ValueRange(raster), ValueRange(Tool("gdalinfo", {"-stats", Path("p.grd")})));
}

// The points' spatial index is written packed as the points come: whatever
// the number of points, it is a whole R-tree that finds each point, and the
// triggers that keep it are back once the file is done.
TEST_F(GisOutputTest, PointsIndexFindsEveryPointAtEveryTreeSize) {
    constexpr int kCells = 51;  // cells of a node, as SQLite sizes them on GDAL's 4096-byte pages
    const Grid g = MakeGrid(3, 3, 9, 9, [](int, int) { return false; });
    const struct {
        const char* name;
        int points;
    } cases[] = {{"no points", 0},
                 {"one full leaf, the root", kCells},
                 {"two leaves under a root", kCells + 1},
                 {"three levels, the last leaf part full", kCells * kCells + 7}};
    for (const auto& c : cases) {
        // Serpentine lines of 12 channels, given survey by survey as the folder run does.
        GisSurvey survey;
        survey.runs = {{"a.csv", {}, {}}, {"b.csv", {}, {}}};
        for (int i = 0; i < c.points; ++i) {
            const int row = i / 12, along = row % 40, line = row / 40;
            survey.points.push_back({37.6 + 1e-4 * (line % 2 ? 39 - along : along), 55.75 + 1e-4 * (12 * line + i % 12),
                                     0.01 * i, 48000, i % 12 + 1, i < c.points / 2 ? 0 : 1});
        }
        const QString path = Path("i.gpkg");
        {
            GeoPackageWriter writer(path);
            const auto half = survey.points.begin() + c.points / 2;
            writer.AddPoints(std::vector<GisPoint>(survey.points.begin(), half), survey.runs);
            writer.AddPoints(std::vector<GisPoint>(half, survey.points.end()), survey.runs);
            writer.Finish(g, survey.runs);
        }
        auto query = [&](const QString& sql) { return Tool("ogrinfo", {"-q", path, "-sql", sql}); };
        const QString counts = query("SELECT (SELECT COUNT(*) FROM points) AS points, "
                                     "(SELECT COUNT(*) FROM rtree_points_geom) AS indexed, "
                                     "rtreecheck('rtree_points_geom') AS checked");
        EXPECT_TRUE(counts.contains(QString("points (Integer) = %1\n").arg(c.points))) << c.name << counts.toStdString();
        EXPECT_TRUE(counts.contains(QString("indexed (Integer) = %1\n").arg(c.points))) << c.name;
        EXPECT_TRUE(counts.contains("checked (String) = ok\n")) << c.name;
        // A window, its edges half-way between points (far beyond the boxes'
        // rounding), searched in the tree and through GDAL's spatial filter
        // finds what the positions say lies in it.
        const QString inside = query("SELECT COUNT(*) AS n FROM points WHERE longitude BETWEEN 37.60035 AND 37.60175 "
                                     "AND latitude BETWEEN 55.75045 AND 55.75185");
        const auto expected = QRegularExpression("n \\(Integer\\) = (\\d+)").match(inside);
        ASSERT_TRUE(expected.hasMatch()) << c.name << inside.toStdString();
        const QString searched = query("SELECT COUNT(*) AS n FROM rtree_points_geom WHERE maxx >= 37.60035 AND "
                                       "minx <= 37.60175 AND maxy >= 55.75045 AND miny <= 55.75185");
        EXPECT_EQ(searched.toStdString(), inside.toStdString()) << c.name;
        const QString filtered = Tool("ogrinfo", {"-so", "-spat", "37.60035", "55.75045", "37.60175", "55.75185", path,
                                                  "points"});
        EXPECT_TRUE(filtered.contains("Feature Count: " + expected.captured(1) + "\n")) << c.name << filtered.toStdString();
        // A deleted point leaves the index by the trigger put back.
        if (c.points > 0) {
            query("DELETE FROM points WHERE fid = 1");
            EXPECT_TRUE(query("SELECT COUNT(*) AS n FROM rtree_points_geom")
                            .contains(QString("n (Integer) = %1\n").arg(c.points - 1)))
                << c.name;
        }
        QFile::remove(path);
    }
}

// Past the point limit the GeoPackage has no points layer, and the pages the
// points took are given back; the other layers are as without a limit.
TEST_F(GisOutputTest, PointsPastTheLimitAreLeftOut) {
    const Grid g = MakeGrid(41, 21, 200, 100, [](int, int) { return false; });
    const GisSurvey survey = TwoRuns(g);
    const std::uint64_t all = survey.points.size();
    const struct {
        const char* name;
        std::optional<std::uint64_t> limit;
        bool points;
    } cases[] = {{"every point", std::nullopt, true}, {"as many as the limit", all, true}, {"one past the limit", all - 1, false}};
    qint64 withPoints = 0, without = 0;
    for (const auto& c : cases) {
        const QString path = Path(QString(c.name).replace(' ', '_') + ".gpkg");
        GeoPackageWriter writer(path, c.limit);
        // Given survey by survey: the second passes the limit.
        const auto half = survey.points.begin() + static_cast<std::ptrdiff_t>(all / 2);
        writer.AddPoints(std::vector<GisPoint>(survey.points.begin(), half), survey.runs);
        writer.AddPoints(std::vector<GisPoint>(half, survey.points.end()), survey.runs);
        writer.Finish(g, survey.runs);
        EXPECT_EQ(writer.PointsLeftOut(), !c.points) << c.name;
        const QString layers = Tool("ogrinfo", {"-so", "-q", path});
        EXPECT_EQ(layers.contains("points (Point)"), c.points) << c.name << layers.toStdString();
        EXPECT_TRUE(layers.contains("tracks (Line String)")) << c.name;
        EXPECT_TRUE(Tool("gdalinfo", {path}).contains("Size is 41, 21")) << c.name;
        if (c.points)
            EXPECT_TRUE(Tool("ogrinfo", {"-q", path, "-sql", "SELECT COUNT(*) AS n FROM rtree_points_geom"})
                            .contains(QString("n (Integer) = %1").arg(all)))
                << c.name;
        (c.points ? withPoints : without) = QFileInfo(path).size();
    }
    EXPECT_LT(without, withPoints);
}

TEST_F(GisOutputTest, AFailureLeavesTheOldFileAndNoStagedOne) {
    const GisSurvey none;
    const struct {
        const char* extension;
        std::function<void(const QString&, const Grid&)> write;
    } writers[] = {
        {".tif", [](const QString& p, const Grid& g) { WriteGeoTiff(p, g); }},
        {".kmz", [&](const QString& p, const Grid& g) { WriteKmz(p, g, none, {}); }},
        {".gpkg", [&](const QString& p, const Grid& g) { WriteGeoPackage(p, g, none); }},
    };
    const Grid good = MakeGrid(3, 3, 9, 9, [](int, int) { return false; });
    for (const auto& w : writers) {
        // A grid without nodes: the old file stays as it was.
        const QString old = QString("old") + w.extension;
        ASSERT_TRUE(qgrad::testing::WriteFile(Path(old), "old"));
        try {
            w.write(Path(old), Grid{});
            ADD_FAILURE() << w.extension;
        } catch (const FileError& e) {
            EXPECT_NE(std::string(e.what()).find(old.toStdString()), std::string::npos) << e.what();
        }
        QFile f(Path(old));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), "old") << w.extension;
        EXPECT_EQ(Others({old}), QStringList()) << w.extension;
        QFile::remove(Path(old));

        // Written whole, then the target cannot be replaced: the staged file goes.
        const QString blocked = QString("blocked") + w.extension;
        ASSERT_TRUE(QDir(dir_.path()).mkpath(blocked + "/inside"));
        EXPECT_THROW(w.write(Path(blocked), good), FileError) << w.extension;
        EXPECT_EQ(Others({}), QStringList()) << w.extension;

        EXPECT_THROW(w.write(Path("missing/a" + QString(w.extension)), good), FileError);
    }
}

}  // namespace

namespace {

// Two targets at nodes of `g`, the second a negative lobe too narrow for a depth.
TargetPicking TwoTargets(const Grid& g) {
    TargetPicking p;
    p.threshold = 1.5;
    p.targets.push_back({.number = 1, .lon = g.xLL + 10 * g.xSize, .lat = g.yLL + 5 * g.ySize, .peak = 12.5,
                         .positiveLobe = 12.5, .negativeLobe = -3.25, .halfPeakArea = 0.75, .depth = 0.8,
                         .nearest = {"run 7, west.csv", 1234}});
    p.targets.push_back({.number = 2, .lon = g.xLL + 30 * g.xSize, .lat = g.yLL + 15 * g.ySize, .peak = -2,
                         .positiveLobe = 0, .negativeLobe = -2, .halfPeakArea = 0.05, .depth = std::nullopt, .nearest = {}});
    return p;
}

constexpr int kGapCols = 10, kGapRows = 6;

// 1 m cells from the grid's south-west node, rows south first: a gap of 3
// by 2 cells, and a gap of two cells touching only at a corner, which the
// gaps' 8-connection makes one.
Coverage TwoGaps(const Grid& g) {
    Coverage c;
    c.cols = kGapCols, c.rows = kGapRows, c.cell = 1;
    c.xLL = g.xLL, c.yLL = g.yLL;
    c.xSize = 1 / MetresPerDegreeLongitude(g.yLL), c.ySize = 1 / kMetresPerDegree;
    c.uncovered.assign(kGapCols * kGapRows, 0);
    for (int r = 1; r <= 2; ++r)
        for (int col = 1; col <= 3; ++col) c.uncovered[r * kGapCols + col] = 1;
    c.uncovered[4 * kGapCols + 7] = c.uncovered[5 * kGapCols + 8] = 1;
    c.blockArea = kGapCols * kGapRows, c.uncoveredArea = 8, c.coveredArea = c.blockArea - 8;
    c.gaps = {{.area = 6, .cells = 6}, {.area = 2, .cells = 2}};
    return c;
}

TEST_F(GisOutputTest, TargetsAndGapsAreLayersAndPlacemarks) {
    const Grid g = MakeGrid(41, 21, 200, 100, [](int, int) { return false; });
    const TargetPicking targets = TwoTargets(g);
    const Coverage coverage = TwoGaps(g);
    const GisFindings findings{&targets, &coverage};
    WriteGeoPackage(Path("f.gpkg"), g, TwoRuns(g), findings);
    WriteKmz(Path("f.kmz"), g, TwoRuns(g), {}, findings);
    EXPECT_EQ(Others({"f.gpkg", "f.kmz"}), QStringList());

    const QString layers = Tool("ogrinfo", {"-al", "-so", Path("f.gpkg")});
    const struct {
        const char* name;
        const char* geometry;
        int count;
    } expected[] = {{"targets", "Point", 2}, {"coverage_gaps", "Polygon", 2}};
    for (const auto& e : expected) {
        const QString one = Tool("ogrinfo", {"-so", Path("f.gpkg"), e.name});
        EXPECT_TRUE(one.contains(QString("Geometry: %1\n").arg(e.geometry))) << one.toStdString();
        EXPECT_TRUE(one.contains(QString("Feature Count: %1\n").arg(e.count))) << one.toStdString();
        EXPECT_TRUE(one.contains("ID[\"EPSG\",4326]")) << one.toStdString();
    }
    for (const char* field : {"number: Integer", "peak: Real", "positive_lobe: Real", "negative_lobe: Real",
                              "half_peak_area: Real", "depth: Real", "survey_file: String", "line: Integer",
                              "gap: Integer", "area_m2: Real"})
        EXPECT_TRUE(layers.contains(field)) << field;
    const QString unresolved = Tool("ogrinfo", {"-q", Path("f.gpkg"), "-sql", "SELECT * FROM targets WHERE number = 2"});
    for (const char* item : {"depth (Real) = (null)", "negative_lobe (Real) = -2", "survey_file (String) = (null)",
                             "line (Integer) = (null)"})
        EXPECT_TRUE(unresolved.contains(item)) << item << unresolved.toStdString();
    const QString placed = Tool("ogrinfo", {"-q", Path("f.gpkg"), "-sql", "SELECT * FROM targets WHERE number = 1"});
    for (const char* item : {"survey_file (String) = run 7, west.csv\n", "line (Integer) = 1234\n"})
        EXPECT_TRUE(placed.contains(item)) << item << placed.toStdString();

    // Each gap traced along its cells' edges: the larger first, the corner pair one polygon.
    const QString gaps = Tool("ogrinfo", {"-q", Path("f.gpkg"), "-sql",
                                          "SELECT gap, area_m2, ROUND((ST_MaxX(geom) - ST_MinX(geom)) / " +
                                              QString::number(coverage.xSize, 'g', 17) +
                                              ") AS across, ROUND((ST_MaxY(geom) - ST_MinY(geom)) / " +
                                              QString::number(coverage.ySize, 'g', 17) +
                                              ") AS along FROM coverage_gaps ORDER BY gap"});
    const QStringList rows = gaps.split("OGRFeature(SELECT):").mid(1);
    ASSERT_EQ(rows.size(), 2) << gaps.toStdString();
    const struct {
        const char *area, *across, *along;
    } shapes[] = {{"area_m2 (Real) = 6\n", "across (Real) = 3\n", "along (Real) = 2\n"},
                  {"area_m2 (Real) = 2\n", "across (Real) = 2\n", "along (Real) = 2\n"}};
    for (int i = 0; i < 2; ++i)
        for (const char* item : {shapes[i].area, shapes[i].across, shapes[i].along})
            EXPECT_TRUE(rows[i].contains(item)) << item << rows[i].toStdString();

    const QString kmz = Tool("ogrinfo", {"--config", "GDAL_SKIP", "KML", "-al", "-so", Path("f.kmz")});
    for (const char* layer : {"Layer name: Targets\n", "Layer name: Coverage gaps\n"}) {
        const qsizetype at = kmz.indexOf(layer);
        ASSERT_GE(at, 0) << layer << kmz.toStdString();
        EXPECT_EQ(kmz.indexOf("Feature Count: 2\n", at), kmz.indexOf("Feature Count:", at)) << layer;
    }
    const QByteArray kml = ZipEntry(Path("f.kmz"), "doc.kml");
    ASSERT_TRUE(qgrad::testing::WriteFile(Path("doc.kml"), kml));
    Tool("xmllint", {"--noout", Path("doc.kml")});
    EXPECT_TRUE(kml.contains("<name>1</name>\n<description>peak +12.50 nT/m; lobes +12.50 and -3.25 nT/m; "
                             "half-peak area 0.75 m²; depth 0.80 m; nearest point run 7, west.csv, line "
                             "1234</description>"))
        << kml.toStdString();
    EXPECT_TRUE(kml.contains("<description>2.00 m² uncovered</description>"));
    EXPECT_TRUE(kml.contains("half-peak area 0.05 m²; depth not resolved</description>")) << kml.toStdString();

    // Without findings the document is as it was.
    WriteKmz(Path("plain.kmz"), g, TwoRuns(g), {});
    const QByteArray plain = ZipEntry(Path("plain.kmz"), "doc.kml");
    EXPECT_FALSE(plain.contains("#target") || plain.contains("#gap") || plain.contains("Targets"));
}

}  // namespace
