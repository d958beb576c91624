#include "gridhost/contourmap.h"
#include "gridhost/presentation.h"

#include "testapp.h"

#include <gtest/gtest.h>

#include <QGuiApplication>

#include <cmath>
#include <stdexcept>

using namespace qgrad;

namespace {

constexpr double kMetresPerDegree = 111319.49079327358;

// Nodes 1 m apart east and north at the equator, each `value(c, r)`.
template <typename Value>
Grid MetreGrid(int cols, int rows, Value value) {
    Grid g;
    g.cols = cols;
    g.rows = rows;
    g.xSize = g.ySize = 1 / kMetresPerDegree;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) g.z.push_back(value(c, r));
    return g;
}

// Quiet ground within ±1 nT/m and a strong dipole over 2.4% of the nodes.
Grid GroundWithDipole() {
    return MetreGrid(100, 100, [](int c, int r) {
        if (c >= 10 && c < 22 && r >= 10 && r < 20) return 150.0;
        if (c >= 10 && c < 22 && r >= 20 && r < 30) return -60.0;
        return std::sin(c * 0.7) * std::cos(r * 1.3);
    });
}

TEST(ClipRanges, LevelsFromEachRule) {
    const Grid flat = MetreGrid(5, 5, [](int, int) { return 4.0; });
    const Grid ramp = MetreGrid(101, 1, [](int c, int) { return c - 50.0; });  // -50 .. 50, MAD 25
    const Grid blank = MetreGrid(3, 3, [](int, int) { return std::nan(""); });
    const struct {
        const char* name;
        const Grid& grid;
        ClipRange clip;
        double low, high;
    } cases[] = {
        {"symmetric", ramp, ClipRange::Symmetric(2), -2, 2},
        {"symmetric of a negative", ramp, ClipRange::Symmetric(-3), -3, 3},
        {"between", ramp, ClipRange::Between(-1, 5), -1, 5},
        {"between reversed", ramp, ClipRange::Between(5, -1), -1, 5},
        {"robust spread", ramp, ClipRange::RobustSpread(2), -2 * 1.4826 * 25, 2 * 1.4826 * 25},
        {"percentiles", ramp, ClipRange::Percentiles(0.1, 0.9), -40, 40},
        {"flat grid widened", flat, ClipRange::RobustSpread(3), 3.5, 4.5},
        {"explicit range on blanks", blank, ClipRange::Symmetric(2), -2, 2},
        {"nothing to measure", blank, ClipRange::RobustSpread(3), 0, 1},
    };
    for (const auto& c : cases) {
        const BandLevels levels = ChooseLevels(c.grid, c.clip, 20);
        EXPECT_NEAR(levels.low, c.low, 1e-9) << c.name;
        EXPECT_NEAR(levels.high, c.high, 1e-9) << c.name;
        EXPECT_EQ(levels.bands, 20) << c.name;
    }
}

TEST(ClipRanges, TheDefaultIsNotTakenByADipole) {
    const Grid g = GroundWithDipole();
    const BandLevels robust = ChooseLevels(g, Presentation().clip, 32);
    // The quiet ground spans most of the scale...
    EXPECT_GT(robust.low, -3);
    EXPECT_LT(robust.high, 3);
    EXPECT_GT(robust.high - robust.low, 1.5);
    // ...where the first pictures' stretch gave it a sliver of one end.
    const BandLevels first = ChooseLevels(g);
    EXPECT_GT(first.high - first.low, 100);
}

TEST(ClipRanges, CommandLineWords) {
    EXPECT_EQ(ParsePalette("grey"), Palette::Greyscale);
    EXPECT_EQ(ParsePalette("diverging"), Palette::Diverging);
    EXPECT_EQ(ParsePalette("rainbow"), Palette::Rainbow);
    EXPECT_THROW(ParsePalette("viridis"), std::invalid_argument);
    const struct {
        const char* text;
        ClipMethod method;
        double a, b;
    } good[] = {{"2", ClipMethod::Symmetric, 2, 0},
                {"0.5", ClipMethod::Symmetric, 0.5, 0},
                {"-3:4.5", ClipMethod::Between, -3, 4.5},
                {"2.5sd", ClipMethod::RobustSpread, 2.5, 0}};
    for (const auto& c : good) {
        const ClipRange clip = ParseClip(c.text);
        EXPECT_EQ(clip.method, c.method) << c.text;
        EXPECT_EQ(clip.a, c.a) << c.text;
        EXPECT_EQ(clip.b, c.b) << c.text;
    }
    for (const char* bad : {"", "0", "-2", "x", "3:1", "1:", "sd", "0sd", "nan", "inf"})
        EXPECT_THROW(ParseClip(bad), std::invalid_argument) << bad;
}

TEST(Palettes, EndsAndMiddle) {
    const struct {
        Palette palette;
        double t;
        QColor colour;
    } cases[] = {
        {Palette::Greyscale, 0, QColor(255, 255, 255)}, {Palette::Greyscale, 1, QColor(0, 0, 0)},
        {Palette::Greyscale, 0.5, QColor(128, 128, 128)}, {Palette::Greyscale, -5, QColor(255, 255, 255)},
        {Palette::Diverging, 0, QColor(33, 102, 172)},  {Palette::Diverging, 0.5, QColor(255, 255, 255)},
        {Palette::Diverging, 1, QColor(178, 24, 43)},   {Palette::Rainbow, 0.3, TurboColour(0.3)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PaletteColour(c.palette, c.t).name().toStdString(), c.colour.name().toStdString())
            << static_cast<int>(c.palette) << " " << c.t;
}

class PictureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { qgrad::testing::EnsureApplication<QGuiApplication>(); }
};

TEST_F(PictureTest, PaletteAndClipColourKnownPlaces) {
    // West half -5, east half +5, the north-east corner blank.
    const Grid g = MetreGrid(21, 11, [](int c, int r) { return c >= 17 && r >= 8 ? std::nan("") : c < 10 ? -5.0 : 5.0; });
    const QSize size(200, 100);
    // Expected: the colour of the band that holds -5 and +5, at the middle of
    // the band (32 bands).
    const struct {
        const char* name;
        Palette palette;
        ClipRange clip;
        double west, east;
    } cases[] = {
        {"grey ±2: clipped to the end bands", Palette::Greyscale, ClipRange::Symmetric(2), 0.5 / 32, 31.5 / 32},
        {"grey ±10: a quarter in from each end", Palette::Greyscale, ClipRange::Symmetric(10), 8.5 / 32, 24.5 / 32},
        {"diverging ±2", Palette::Diverging, ClipRange::Symmetric(2), 0.5 / 32, 31.5 / 32},
        {"diverging 0 to 10: west below the range", Palette::Diverging, ClipRange::Between(0, 10), 0.5 / 32, 16.5 / 32},
    };
    for (const auto& c : cases) {
        Presentation p;
        p.palette = c.palette;
        p.clip = c.clip;
        const QImage picture = DrawGridPicture(g, p, size);
        ASSERT_EQ(picture.size(), size);
        const QColor west = picture.pixelColor(20, 90), east = picture.pixelColor(150, 90);
        EXPECT_EQ(west.name().toStdString(), PaletteColour(c.palette, c.west).name().toStdString()) << c.name;
        EXPECT_EQ(east.name().toStdString(), PaletteColour(c.palette, c.east).name().toStdString()) << c.name;
        EXPECT_EQ(west.alpha(), 255) << c.name;
        EXPECT_EQ(picture.pixelColor(195, 5).alpha(), 0) << c.name;  // blank: clear
    }
}

TEST_F(PictureTest, MetresAreEqualAcrossAndUp) {
    const struct {
        const char* name;
        int cols, rows;  // metres + 1
        QSize plot;
    } cases[] = {
        {"wide", 201, 51, QSize(900, 225)},
        {"tall", 31, 121, QSize(225, 900)},
        {"long thin strip", 1001, 6, QSize(900, 5)},
    };
    for (const auto& c : cases) {
        const Grid g = MetreGrid(c.cols, c.rows, [](int col, int) { return col % 7 - 3.0; });
        EXPECT_EQ(PlotSize(g, 900), c.plot) << c.name;
        // The map's frame is the plot: its black sides lie that far apart on
        // a row a third of the way down (clear of the ticks and labels), with a palette
        // that has no black of its own.
        Presentation diverging;
        diverging.palette = Palette::Diverging;
        const QImage map = DrawContourMap(g, {}, diverging);
        const int y = 40 + (std::max(c.plot.height(), 240) - c.plot.height()) / 2 + c.plot.height() / 3;
        int left = -1, right = -1;
        for (int x = 84; x < map.width() && right < 0; ++x)
            if (map.pixelColor(x, y) == Qt::black) {
                if (left < 0) left = x;
                else if (x > left + 1) right = x;
            }
        EXPECT_EQ(left, 90) << c.name;
        EXPECT_EQ(right - left, c.plot.width()) << c.name;
    }
}

TEST_F(PictureTest, PostedPointsOffSparseOrEvery) {
    const Grid g = MetreGrid(101, 101, [](int, int) { return 0.0; });  // one colour everywhere
    // A cart's traverses 1 m apart, a reading every 5 cm: denser than the pixels.
    std::vector<DataPoint> points;
    for (int line = 0; line <= 100; ++line)
        for (int i = 0; i <= 2000; ++i) points.push_back({i * 0.05 / kMetresPerDegree, line / kMetresPerDegree, 0});
    auto marked = [&](PointPosting posting) {
        Presentation p;
        p.posting = posting;
        const QImage map = DrawContourMap(g, points, p);
        const QRgb ground = map.pixel(90 + 450, 40 + 450 + 4);  // between two lines of points
        int n = 0;
        for (int y = 41; y < 40 + 899; ++y)
            for (int x = 91; x < 90 + 899; ++x) n += map.pixel(x, y) != ground;
        return n;
    };
    EXPECT_EQ(marked(PointPosting::Off), 0);
    const int sparse = marked(PointPosting::Sparse), every = marked(PointPosting::Every);
    EXPECT_GT(sparse, 100 * 100);     // each line shows as a dotted line...
    EXPECT_LT(sparse * 4, every);     // ...where posting every point draws it solid
    EXPECT_LT(sparse, 900 * 900 / 20);
}

}  // namespace
