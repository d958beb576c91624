#include "common/errors.h"
#include "export/export.h"
#include "gridhost/contourmap.h"
#include "gridhost/gridfile.h"
#include "gridhost/gridjob.h"
#include "gridhost/kriging.h"

#include "testapp.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>
#include <random>

using namespace qgrad;

namespace {

constexpr double kMetresPerDegree = 111319.49079327358;

TEST(GriddingScriptReading, TakesWhatTheProgramWrites) {
    const ExportPaths paths = MakeExportPaths("/data/Поле 1/", "line07.csv");
    const std::string script = GriddingScript(paths, {230, 100});
    const GridJob job = ParseGriddingScript(script);
    EXPECT_EQ(job.dataFile, "/data/Поле 1/GPS_DIFF_line07.txt");
    EXPECT_EQ(job.gridFile, "/data/Поле 1/GPS_DIFF_line07.grd");
    EXPECT_EQ(job.cols, 230);
    EXPECT_EQ(job.rows, 100);

    // LF line ends and blanks around lines are fine.
    std::string lf = script;
    for (std::size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.replace(at, 2, "  \n");
    EXPECT_EQ(ParseGriddingScript(lf).cols, 230);
}

TEST(GriddingScriptReading, AnythingElseNamesTheLine) {
    const std::string script = GriddingScript(MakeExportPaths("/d/", "a.csv"), {100, 100});
    const struct {
        const char* from;
        const char* to;
        const char* message;
    } cases[] = {
        {"NumCols:=100", "NumCols:=x", "line 11"},
        {"NumRows:=100", "NumRows:=1", "line 11"},
        {"OutGrid:=\"", "OutGrid:=", "line 12"},
        {"Rainbow6", "Rainbow7", "line 21"},
        {"Sub Main", "Function Main", "line 1"},
        {"End Sub\r\n", "", "32 lines"},
    };
    for (const auto& c : cases) {
        std::string bad = script;
        bad.replace(bad.find(c.from), std::strlen(c.from), c.to);
        try {
            ParseGriddingScript(bad);
            ADD_FAILURE() << c.from;
        } catch (const GridHostError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
}

TEST(PointFileReading, LinesAndErrors) {
    QTemporaryDir dir;
    const QString path = dir.filePath("p.txt");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("Lon;Lat;grad(H),nT/m\r\n37.5;55.75;1.5;\r\n-37.25;55.5;-2.0;\r\n");
    f.close();
    const auto points = ReadPointFile(path);
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[1].lon, -37.25);
    EXPECT_EQ(points[1].z, -2.0);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("37.5;oops;1;\r\n");
    f.close();
    try {
        ReadPointFile(path);
        ADD_FAILURE();
    } catch (const GridHostError& e) {
        EXPECT_NE(std::string(e.what()).find("line 4: \"oops\""), std::string::npos) << e.what();
    }
}

// A smooth regional field with a dipole, in metres about a corner.
double Field(double x, double y) {
    const double dx = x - 30, dy = y - 12;
    return 0.05 * x - 0.03 * y + 3 * std::sin(x / 9) + 40 * std::exp(-(dx * dx + dy * dy) / 18) * (1 - dy / 6);
}

// Parallel traverses 1 m apart, a reading every 0.25 m, like a cart's run.
std::vector<DataPoint> Traverses(double lat0, double lon0) {
    const double kx = std::cos(lat0 * M_PI / 180) * kMetresPerDegree;
    std::vector<DataPoint> points;
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> jitter(-0.05, 0.05);
    for (int line = 0; line <= 24; ++line)
        for (int i = 0; i <= 240; ++i) {
            const double x = i * 0.25, y = line * 1.0 + jitter(rng);
            points.push_back({lon0 + x / kx, lat0 + y / kMetresPerDegree, Field(x, y)});
        }
    return points;
}

struct Errors {
    double rms = 0;
    int compared = 0;
};

// Nodes of the grid against the field, between the outermost traverses.
Errors Compare(const Grid& g, double lat0, double lon0) {
    const double kx = std::cos(lat0 * M_PI / 180) * kMetresPerDegree;
    Errors e;
    double sum = 0;
    for (int r = 0; r < g.rows; ++r)
        for (int c = 0; c < g.cols; ++c) {
            const double x = (g.xLL + c * g.xSize - lon0) * kx, y = (g.yLL + r * g.ySize - lat0) * kMetresPerDegree;
            if (Grid::Blank(g.at(c, r)) || y < 0.5 || y > 23.5 || x < 0.5 || x > 59.5) continue;
            const double d = g.at(c, r) - Field(x, y);
            sum += d * d;
            ++e.compared;
        }
    e.rms = std::sqrt(sum / e.compared);
    return e;
}

TEST(Kriging, ReproducesAFieldBetweenTraversesBetterThanNearestPoints) {
    const double lat0 = 55.75, lon0 = 37.6;
    const auto points = Traverses(lat0, lon0);
    const Grid g = KrigeGrid(points, 121, 97);
    const Errors kriged = Compare(g, lat0, lon0);
    ASSERT_GT(kriged.compared, 5000);
    EXPECT_LT(kriged.rms, 0.6);  // field spans about -25 .. +45

    // Each node's nearest reading alone: what a grid by nearest neighbour gives.
    Grid nearest = g;
    const double kx = std::cos(lat0 * M_PI / 180) * kMetresPerDegree;
    for (int r = 0; r < g.rows; ++r)
        for (int c = 0; c < g.cols; ++c) {
            if (Grid::Blank(g.at(c, r))) continue;
            const double lon = g.xLL + c * g.xSize, lat = g.yLL + r * g.ySize;
            double best = 1e300;
            for (const auto& p : points) {
                const double d = std::hypot((p.lon - lon) * kx, (p.lat - lat) * kMetresPerDegree);
                if (d < best) {
                    best = d;
                    nearest.at(c, r) = p.z;
                }
            }
        }
    EXPECT_LT(kriged.rms, 0.5 * Compare(nearest, lat0, lon0).rms);
}

TEST(Kriging, NodesOutsideTheHullAreBlank) {
    // A triangle of points: the grid's corners beyond its sloping side are blank.
    std::vector<DataPoint> points;
    for (int i = 0; i <= 30; ++i)
        for (int j = 0; j <= i; ++j) points.push_back({10 + i * 1e-4, 50 + j * 1e-4, double(i + j)});
    const Grid g = KrigeGrid(points, 31, 31);
    EXPECT_TRUE(Grid::Blank(g.at(0, 30)));      // north-west corner: outside
    EXPECT_FALSE(Grid::Blank(g.at(30, 30)));    // north-east corner: a data point
    EXPECT_FALSE(Grid::Blank(g.at(0, 0)));
    EXPECT_NEAR(g.at(30, 0), 30.0, 1e-6);       // on a data point kriging is exact
    EXPECT_NEAR(g.at(20, 10), 30.0, 1e-6);
    int blank = 0;
    for (double v : g.z) blank += Grid::Blank(v);
    EXPECT_EQ(blank, 31 * 30 / 2);  // the nodes strictly above the diagonal
}

TEST(Kriging, StandingCartDoesNotMakeTheSystemSingular) {
    std::vector<DataPoint> points = {{0, 0, 1}, {1e-4, 0, 2}, {0, 1e-4, 3}, {1e-4, 1e-4, 4}};
    points.push_back({0, 0, 3});  // the cart stood: a second reading on the same spot
    const auto merged = MergeDuplicates(points);
    ASSERT_EQ(merged.size(), 4u);
    EXPECT_EQ(merged[0].z, 2.0);
    const Grid g = KrigeGrid(points, 3, 3);
    for (double v : g.z) EXPECT_TRUE(std::isfinite(v));
    EXPECT_NEAR(g.at(0, 0), 2.0, 1e-9);
}

TEST(Kriging, LocalSearchFarFromDataIsBlank) {
    KrigingOptions local;
    local.globalLimit = 0;
    std::vector<DataPoint> few = {{0, 0, 1}, {1e-4, 0, 2}, {0, 1e-4, 3}, {1e-4, 1e-4, 4}, {5e-5, 5e-5, 9}};
    const Grid g = KrigeGrid(few, 5, 5, local);
    for (double v : g.z) EXPECT_TRUE(Grid::Blank(v));  // fewer than 8 points near any node
}

class GridFileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { qgrad::testing::EnsureApplication<QGuiApplication>(); }
};

TEST_F(GridFileTest, GdalReadsSizeExtentStatisticsAndBlanks) {
    Grid g;
    g.cols = 4;
    g.rows = 3;
    g.xLL = 37.5;
    g.yLL = 55.75;
    g.xSize = 0.001;
    g.ySize = 0.0005;
    g.z = {1, 2, 3, 4, 5, 6, 7, 8, std::nan(""), 10, 11, 12};
    QTemporaryDir dir;
    const QString path = dir.filePath("g.grd");
    WriteGridFile(path, g);
    const std::string bytes = GridFileBytes(g);
    ASSERT_EQ(bytes.size(), 12 + 8 + 72 + 8 + 12 * 8u);
    EXPECT_EQ(bytes.substr(0, 4), "DSRB");
    EXPECT_EQ(bytes.substr(12, 4), "GRID");
    EXPECT_EQ(bytes.substr(92, 4), "DATA");

    const QString gdalinfo = QStandardPaths::findExecutable("gdalinfo");
    ASSERT_FALSE(gdalinfo.isEmpty()) << "the test command installs gdal-bin";
    QProcess info;
    info.start(gdalinfo, {"-stats", path});
    ASSERT_TRUE(info.waitForFinished(60000));
    const QString text = info.readAllStandardOutput();
    EXPECT_TRUE(text.contains("Driver: GS7BG")) << text.toStdString();
    EXPECT_TRUE(text.contains("Size is 4, 3")) << text.toStdString();
    // Node-registered: GDAL's pixel corners lie half a spacing outside the nodes.
    EXPECT_TRUE(text.contains("Lower Left  (  37.4995000,  55.7497500)")) << text.toStdString();
    EXPECT_TRUE(text.contains("Minimum=1.000, Maximum=12.000")) << text.toStdString();
    EXPECT_TRUE(text.contains("NoData Value=1.70141")) << text.toStdString();

    // Row 0 of GDAL's picture is the north row; the south-west node is (0, 2).
    QProcess at;
    at.start(QStandardPaths::findExecutable("gdallocationinfo"), {"-valonly", path, "0", "2"});
    ASSERT_TRUE(at.waitForFinished(60000));
    EXPECT_EQ(QString(at.readAllStandardOutput()).trimmed(), "1");
    at.start(QStandardPaths::findExecutable("gdallocationinfo"), {"-valonly", path, "0", "0"});
    ASSERT_TRUE(at.waitForFinished(60000));
    EXPECT_TRUE(QString(at.readAllStandardOutput()).trimmed().startsWith("1.70141"));
}

TEST_F(GridFileTest, AllBlankGridKeepsTheBlankAsItsRange) {
    Grid g;
    g.cols = g.rows = 2;
    g.xSize = g.ySize = 1;
    g.z.assign(4, std::nan(""));
    const std::string bytes = GridFileBytes(g);
    double zMin = 0, zMax = 0;
    std::memcpy(&zMin, bytes.data() + 20 + 8 + 32, 8);
    std::memcpy(&zMax, bytes.data() + 20 + 8 + 40, 8);
    EXPECT_EQ(zMin, kGridBlank);
    EXPECT_EQ(zMax, kGridBlank);
}

TEST_F(GridFileTest, PictureBandsAndBlanks) {
    const auto points = Traverses(55.75, 37.6);
    const Grid g = KrigeGrid(points, 121, 97);
    const QImage picture = DrawContourMap(g, points, Presentation::FirstPictures());
    ASSERT_FALSE(picture.isNull());
    // The dipole's peak takes the top band's colour, and the scale runs violet to red.
    const QColor low = TurboColour(0.1), high = TurboColour(0.95);
    EXPECT_GT(low.blue(), low.red());
    EXPECT_GT(low.blue(), low.green());
    EXPECT_GT(high.red(), 3 * high.blue());
    const BandLevels levels = ChooseLevels(g);
    EXPECT_LT(levels.low, levels.high);
    EXPECT_EQ(levels.BandOf(1e9), levels.bands - 1);
    EXPECT_EQ(levels.BandOf(-1e9), 0);
    int top = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width() - 200; ++x)
            top += picture.pixel(x, y) == TurboColour((levels.bands - 0.5) / levels.bands).rgb();
    EXPECT_GT(top, 50);
}

}  // namespace
