#include "common/geodesy.h"
#include "gridhost/gisoutput.h"
#include "gridhost/gridrun.h"
#include "gridhost/gridsystem.h"
#include "gridhost/kriging.h"

#include "gdaltools.h"
#include "testapp.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

using namespace qgrad;

namespace {

using qgrad::testing::Tool;

// A smooth field, in metres east and north of the survey's corner.
double Field(double east, double north) { return std::sin(east / 7) + std::cos(north / 5); }

// Lines 0.5 m apart running east over `width` by `height` metres from
// (lon, lat), a reading every 0.1 m, in longitude and latitude.
std::vector<DataPoint> Survey(double lon, double lat, double width, double height) {
    std::vector<DataPoint> points;
    for (double north = 0; north <= height; north += 0.5)
        for (double east = 0; east <= width; east += 0.1) {
            const DegreeStep d = DegreesOfMetres(east, north, lat);
            points.push_back({lon + d.lon, lat + d.lat, Field(east, north)});
        }
    return points;
}

Grid MetricGrid(const std::vector<DataPoint>& lonLat, double cell) {
    const int epsg = MetricGridEpsg(lonLat);
    const std::vector<DataPoint> projected = InGridSystem(lonLat, epsg);
    return KrigeMetricGrid(projected, MetricGridNodes(projected, epsg, cell, kMaxGridNodes));
}

double Captured(const QString& text, const QString& pattern, int group) {
    const auto m = QRegularExpression(pattern).match(text);
    EXPECT_TRUE(m.hasMatch()) << pattern.toStdString();
    return m.captured(group).toDouble();
}

class MetricGridTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { qgrad::testing::EnsureApplication<QGuiApplication>(); }
    QTemporaryDir dir_;
};

TEST_F(MetricGridTest, NodesLieOnSquareCellsOfTheCentresUtmZone) {
    const struct {
        const char* name;
        double lon, lat, cell;
        int epsg;
    } cases[] = {
        {"northern zone 37", 37.6, 55.75, 0.25, 32637},
        {"southern hemisphere", -43.2, -22.9, 0.5, 32723},
        {"south-west Norway's widened zone 32", 5.3, 60.4, 0.125, 32632},
        {"straddling zones 30 and 31 takes the centre's", -0.0002, 51.5, 1, 32631},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<DataPoint> survey = Survey(c.lon, c.lat, 30, 12);
        const Grid grid = MetricGrid(survey, c.cell);
        EXPECT_EQ(grid.epsg, c.epsg);
        const QString tif = dir_.filePath(QString("%1.tif").arg(c.epsg));
        WriteGeoTiff(tif, grid, GeoTiffProjection::Geographic);
        const QString info = Tool("gdalinfo", {tif});
        EXPECT_TRUE(info.contains(QString("ID[\"EPSG\",%1]]").arg(c.epsg))) << info.toStdString();
        // Pixels are square cells, and each node (a pixel's centre) a whole
        // number of cells from the system's origin.
        const QString number = "(-?[0-9.]+)";
        EXPECT_EQ(Captured(info, "Pixel Size = \\(" + number + "," + number + "\\)", 1), c.cell);
        EXPECT_EQ(Captured(info, "Pixel Size = \\(" + number + "," + number + "\\)", 2), -c.cell);
        const double west = Captured(info, "Origin = \\(" + number + "," + number + "\\)", 1) + c.cell / 2;
        const double north = Captured(info, "Origin = \\(" + number + "," + number + "\\)", 2) - c.cell / 2;
        EXPECT_EQ(std::fmod(west, c.cell), 0.0);
        EXPECT_EQ(std::fmod(north, c.cell), 0.0);
        EXPECT_EQ(QString("Size is %1, %2").arg(grid.cols).arg(grid.rows), QRegularExpression("Size is \\d+, \\d+").match(info).captured(0));
        // The nodes cover the readings with less than a cell to spare at each side.
        double minE = INFINITY, maxE = -INFINITY, minN = INFINITY, maxN = -INFINITY;
        for (const DataPoint& p : InGridSystem(survey, c.epsg)) {
            minE = std::min(minE, p.lon), maxE = std::max(maxE, p.lon);
            minN = std::min(minN, p.lat), maxN = std::max(maxN, p.lat);
        }
        const double east = grid.xLL + (grid.cols - 1) * c.cell, top = grid.yLL + (grid.rows - 1) * c.cell;
        EXPECT_TRUE(grid.xLL <= minE && minE < grid.xLL + c.cell && east >= maxE && maxE > east - c.cell);
        EXPECT_TRUE(grid.yLL <= minN && minN < grid.yLL + c.cell && top >= maxN && maxN > top - c.cell);
    }
}

// Where a node of the metric grid and one of the grid in degrees stand on
// the same spot, both estimate the field from the same readings. They differ
// only as the two planes the kriging measures lags in differ: UTM's
// ellipsoid against the local sphere stretches east against north by a few
// tenths of a percent, and UTM's north is turned about a degree from the
// meridian here, which can move a reading from one search quadrant to the
// next. A smooth field between lines 0.5 m apart keeps that to thousandths
// of its range of 4.
TEST_F(MetricGridTest, AgreesWithTheGridInDegreesWhereNodesCoincide) {
    const double lon = 37.6, lat = 55.75;
    const std::vector<DataPoint> points = Survey(lon, lat, 40, 30);
    const Grid metric = MetricGrid(points, 0.25);
    // About 0.1 m spacing in degrees: many of its nodes fall within 2 cm of a metric node.
    const Grid degrees = KrigeGrid(points, 401, 301);
    std::vector<double> x, y;
    for (int r = 0; r < metric.rows; ++r)
        for (int c = 0; c < metric.cols; ++c) {
            x.push_back(metric.xLL + c * metric.xSize);
            y.push_back(metric.yLL + r * metric.ySize);
        }
    ToLonLat(metric.epsg, x, y);
    int compared = 0;
    double worst = 0;
    for (std::size_t i = 0; i < x.size(); ++i) {
        const double m = metric.z[i];
        const long c = std::lround((x[i] - degrees.xLL) / degrees.xSize), r = std::lround((y[i] - degrees.yLL) / degrees.ySize);
        if (Grid::Blank(m) || c < 0 || r < 0 || c >= degrees.cols || r >= degrees.rows) continue;
        const double d = degrees.at(static_cast<int>(c), static_cast<int>(r));
        const double apart = std::hypot((x[i] - degrees.xLL - c * degrees.xSize) * degrees.MetresAcross(),
                                        (y[i] - degrees.yLL - r * degrees.ySize) * degrees.MetresUp());
        if (Grid::Blank(d) || apart > 0.02) continue;
        ++compared;
        worst = std::max(worst, std::fabs(m - d));
    }
    EXPECT_GT(compared, 100);
    EXPECT_LT(worst, 0.01) << compared << " nodes compared";
}

TEST(CellSize, ReadsMetresWithinItsRange) {
    const struct {
        const char* name;
        std::string text;
        double cell;  // 0: refused
    } cases[] = {
        {"quarter metre", "0.25", 0.25},
        {"whole metres", "2", 2},
        {"finest", "0.01", 0.01},
        {"coarsest", "1000", 1000},
        {"too fine", "0.001", 0},
        {"too coarse", "1001", 0},
        {"zero", "0", 0},
        {"negative", "-0.5", 0},
        {"not a number", "fine", 0},
        {"unit written", "0.5m", 0},
        {"empty", "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.cell > 0) EXPECT_EQ(ParseCellSize(c.text), c.cell);
        else EXPECT_THROW(ParseCellSize(c.text), std::invalid_argument);
    }
}

TEST(MetricGridNodes, RefusesMoreNodesThanTheLimit) {
    const std::vector<DataPoint> projected = {{500000, 6000000, 0}, {500100, 6000100, 1}, {500000, 6000100, 2}};
    EXPECT_NO_THROW(MetricGridNodes(projected, 32637, 1, 101 * 101));
    EXPECT_THROW(MetricGridNodes(projected, 32637, 1, 101 * 101 - 1), GridHostError);
    EXPECT_THROW(MetricGridNodes(projected, 32637, 0, kMaxGridNodes), GridHostError);
}

}  // namespace
