// The gridded result read back and drawn over the satellite map.
#include "gridhost/gridfile.h"
#include "gridhost/gridjob.h"
#include "gridhost/gridoverlay.h"
#include "gridhost/gridsystem.h"
#include "mapview/mapframe.h"

#include "testapp.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cmath>
#include <vector>

using namespace qgrad;

namespace {

// Nodes numbered from the south-west, west to east, but for one blank.
Grid Numbered(int cols, int rows, double xLL, double yLL, double xSize, double ySize, int blank) {
    Grid g;
    g.cols = cols;
    g.rows = rows;
    g.xLL = xLL;
    g.yLL = yLL;
    g.xSize = xSize;
    g.ySize = ySize;
    for (int i = 0; i < g.cols * g.rows; ++i) g.z.push_back(i);
    g.z[blank] = std::nan("");
    return g;
}

Grid Ramp() { return Numbered(5, 4, 37.6, 55.75, 0.0001, 0.00005, 7); }

TEST(GridFileReading, ReadsBackWhatWasWritten) {
    QTemporaryDir dir;
    const Grid g = Ramp();
    WriteGridFile(dir.filePath("g.grd"), g);
    const Grid back = ReadGridFile(dir.filePath("g.grd"));
    EXPECT_EQ(back.cols, g.cols);
    EXPECT_EQ(back.rows, g.rows);
    EXPECT_EQ(back.xLL, g.xLL);
    EXPECT_EQ(back.ySize, g.ySize);
    for (std::size_t i = 0; i < g.z.size(); ++i)
        EXPECT_TRUE(back.z[i] == g.z[i] || (std::isnan(back.z[i]) && std::isnan(g.z[i]))) << i;
}

TEST(GridFileReading, RefusesWhatIsNotAGrid) {
    QTemporaryDir dir;
    const std::string whole = GridFileBytes(Ramp());
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"empty", ""},
        {"text", "not a grid at all, just words of a file that lies there"},
        {"cut in the data", QByteArray::fromStdString(whole.substr(0, whole.size() - 9))},
        {"cut in the header", QByteArray::fromStdString(whole.substr(0, 30))},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(qgrad::testing::WriteFile(dir.filePath("x.grd"), c.bytes));
        EXPECT_THROW(ReadGridFile(dir.filePath("x.grd")), GridHostError) << c.name;
    }
    EXPECT_THROW(ReadGridFile(dir.filePath("missing.grd")), GridHostError);
}

TEST(GridOverlay, MapPixelsTakeTheirNodesColourAndStayClearElsewhere) {
    qgrad::testing::EnsureApplication<QGuiApplication>();
    const Grid g = Ramp();
    MapFrame frame;
    frame.centreLon = g.xLL + 2 * g.xSize;
    frame.centreLat = g.yLL + 1.5 * g.ySize;
    frame.zoom = 18;
    Presentation grey;
    grey.clip = ClipRange::Between(0, 19);
    grey.bands = 19;
    const QImage overlay = DrawGridOverlay(g, frame, grey);
    ASSERT_EQ(overlay.size(), QSize(kMapWidth, kMapHeight));
    // The pixel of the south-west node (value 0, lowest: white in greyscale)
    // and of the north-east one (value 19, highest: black).
    const QPoint sw = GeoToMapPixel(frame, static_cast<float>(g.xLL), static_cast<float>(g.yLL));
    const QPoint ne = GeoToMapPixel(frame, static_cast<float>(g.xLL + 4 * g.xSize), static_cast<float>(g.yLL + 3 * g.ySize));
    EXPECT_EQ(overlay.pixelColor(sw), PaletteColour(Palette::Greyscale, 0.5 / 19));
    EXPECT_EQ(overlay.pixelColor(ne), PaletteColour(Palette::Greyscale, 18.5 / 19));
    // The blank node and the map beyond the grid stay clear.
    const QPoint blank = GeoToMapPixel(frame, static_cast<float>(g.xLL + 2 * g.xSize), static_cast<float>(g.yLL + g.ySize));
    EXPECT_EQ(qAlpha(overlay.pixel(blank)), 0);
    EXPECT_EQ(qAlpha(overlay.pixel(2, 2)), 0);
    // The inverse projection undoes the projection, to a pixel.
    const double pixel = 360.0 / 256 / std::ldexp(1.0, frame.zoom);
    const GeoPosition p = MapPixelToGeo(frame, sw.x(), sw.y());
    EXPECT_NEAR(p.lon, g.xLL, pixel);
    EXPECT_NEAR(p.lat, g.yLL, pixel);
}

// A grid in metres of UTM zone 37N, 118 m east by 4 m north at Moscow's
// longitude, where the zone's north is turned about 1.2 degrees from true
// north: its east end lies some 2.4 m off the line due east of its west end,
// more than two rows. Each node has its own value, so its own grey.
TEST(GridOverlay, MetricGridNodesLandOnTheirPixels) {
    qgrad::testing::EnsureApplication<QGuiApplication>();
    const int blank = 2 * 60 + 30;
    Grid g = Numbered(60, 5, 413000, 6178000, 2, 1, blank);
    g.epsg = 32637;
    std::vector<double> x = {g.xLL + g.xSize * (g.cols - 1) / 2}, y = {g.yLL + g.ySize * (g.rows - 1) / 2};
    ToLonLat(g.epsg, x, y);
    MapFrame frame;
    frame.centreLon = x[0];
    frame.centreLat = y[0];
    frame.zoom = kMaxZoom;
    Presentation grey;
    grey.clip = ClipRange::Between(0, g.cols * g.rows - 1);
    grey.bands = g.cols * g.rows - 1;
    const QImage overlay = DrawGridOverlay(g, frame, grey);
    const BandLevels levels = ChooseLevels(g, grey.clip, grey.bands);
    const struct {
        const char* name;
        int col, row;
    } nodes[] = {
        {"south-west", 0, 0},
        {"south-east, turned north of the west end's row", g.cols - 1, 0},
        {"north-east", g.cols - 1, g.rows - 1},
        {"north-west", 0, g.rows - 1},
        {"middle", 29, 2},
    };
    for (const auto& n : nodes) {
        std::vector<double> lon = {g.xLL + n.col * g.xSize}, lat = {g.yLL + n.row * g.ySize};
        ToLonLat(g.epsg, lon, lat);
        const QPoint at = GeoToMapPixel(frame, static_cast<float>(lon[0]), static_cast<float>(lat[0]));
        const int i = n.row * g.cols + n.col;
        EXPECT_EQ(overlay.pixelColor(at), PaletteColour(Palette::Greyscale, (levels.BandOf(i) + 0.5) / levels.bands))
            << n.name;
    }
    std::vector<double> lon = {g.xLL + 30 * g.xSize}, lat = {g.yLL + 2 * g.ySize};
    ToLonLat(g.epsg, lon, lat);
    EXPECT_EQ(qAlpha(overlay.pixel(GeoToMapPixel(frame, static_cast<float>(lon[0]), static_cast<float>(lat[0])))), 0)
        << "the blank node";
    EXPECT_EQ(qAlpha(overlay.pixel(2, 2)), 0) << "beyond the grid";
}

}  // namespace
