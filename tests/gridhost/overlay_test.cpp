// The gridded result read back and drawn over the satellite map.
#include "gridhost/gridfile.h"
#include "gridhost/gridjob.h"
#include "gridhost/gridoverlay.h"
#include "mapview/mapframe.h"

#include "testapp.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cmath>

using namespace qgrad;

namespace {

Grid Ramp() {
    Grid g;
    g.cols = 5;
    g.rows = 4;
    g.xLL = 37.6;
    g.yLL = 55.75;
    g.xSize = 0.0001;
    g.ySize = 0.00005;
    for (int i = 0; i < g.cols * g.rows; ++i) g.z.push_back(i);
    g.z[7] = std::nan("");
    return g;
}

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

}  // namespace
