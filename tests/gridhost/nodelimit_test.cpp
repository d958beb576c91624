#include "common/fileio.h"
#include "export/export.h"
#include "gridhost/contourmap.h"
#include "gridhost/gridfile.h"
#include "gridhost/gridrun.h"

#include "gdaltools.h"
#include "testapp.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <cmath>
#include <stdexcept>
#include <string>

using namespace qgrad;

namespace {

long long Nodes(GridNodes g) { return static_cast<long long>(g.cols) * g.rows; }

TEST(NodeLimit, CoarserGridKeepsTheSpacingRatioAndIsTheLargestThatFits) {
    const struct {
        const char* name;
        GridNodes asked;
        long long limit;
        GridNodes made;
    } cases[] = {
        {"within the limit", {200, 100}, 1'000'000, {200, 100}},
        {"exactly at the limit", {200, 100}, 20'000, {200, 100}},
        {"wider than high", {201, 101}, 5'000, {99, 50}},
        {"higher than wide", {101, 201}, 5'000, {50, 99}},
        {"square", {1001, 1001}, 10'000, {100, 100}},
        // A 250 m north-south line: 100 columns and 25000 rows.
        {"one long line", {100, 25'001}, 50'000, {14, 3'284}},
        {"at the host's own limit", {20'001, 10'001}, kMaxGridNodes, {9'999, 5'000}},
    };
    for (const auto& c : cases) {
        const GridNodes made = FitToNodeLimit(c.asked, c.limit);
        EXPECT_EQ(made, c.made) << c.name << ": " << made.cols << " by " << made.rows;
        EXPECT_LE(Nodes(made), c.limit) << c.name;
    }
}

TEST(NodeLimit, FitHoldsForGridsOfManyShapes) {
    for (const GridNodes asked : {GridNodes{30'000, 20'000}, GridNodes{7, 10'000'003}, GridNodes{65'536, 65'536},
                                  GridNodes{2'147'483'647, 100'000}, GridNodes{123'457, 3'001}}) {
        const std::string name = std::to_string(asked.cols) + " by " + std::to_string(asked.rows);
        const GridNodes made = FitToNodeLimit(asked, kMaxGridNodes);
        EXPECT_LE(Nodes(made), kMaxGridNodes) << name;
        ASSERT_GE(std::min(made.cols, made.rows), 2) << name;
        // The narrow side's intervals scale exactly; the wide side's to the nearest node.
        const bool colsNarrow = asked.cols <= asked.rows;
        const double askedRatio = colsNarrow ? double(asked.rows - 1) / (asked.cols - 1)
                                             : double(asked.cols - 1) / (asked.rows - 1);
        const int narrow = colsNarrow ? made.cols : made.rows, wide = colsNarrow ? made.rows : made.cols;
        EXPECT_LE(std::abs((wide - 1) - askedRatio * (narrow - 1)), 0.5) << name;
        // One more node across the narrow side would pass the limit.
        const long long wider = std::llround(askedRatio * narrow) + 1;
        EXPECT_GT((narrow + 1) * wider, kMaxGridNodes) << name;
    }
}

TEST(NodeLimit, GridsThatNoSpacingBringsWithinAreRefused) {
    const struct {
        GridNodes asked;
        long long limit;
    } cases[] = {{{2, 1'000}, 100}, {{1'000, 2}, 100}, {{2'147'483'647, 2}, kMaxGridNodes}, {{9, 9}, 3}};
    for (const auto& c : cases) {
        try {
            FitToNodeLimit(c.asked, c.limit);
            ADD_FAILURE() << c.asked.cols << " by " << c.asked.rows << ": not refused";
        } catch (const GridHostError& e) {
            EXPECT_NE(std::string(e.what()).find("more than this host makes (" + std::to_string(c.limit) + ")"),
                      std::string::npos)
                << e.what();
        }
    }
}

TEST(NodeLimit, LimitsFromText) {
    EXPECT_EQ(ParseNodeLimit("4"), 4);
    EXPECT_EQ(ParseNodeLimit("5000"), 5'000);
    EXPECT_EQ(ParseNodeLimit("50000000"), kMaxGridNodes);
    for (const char* bad : {"3", "0", "-100", "50000001", "5e3", "5000 ", "", "lots"}) {
        try {
            ParseNodeLimit(bad);
            ADD_FAILURE() << '"' << bad << "\": taken";
        } catch (const std::invalid_argument& e) {
            EXPECT_NE(std::string(e.what()).find(std::string("not a node limit: \"") + bad + "\""), std::string::npos)
                << e.what();
        }
    }
}

// A field 40 m by 20 m walked in east-west traverses, unless a test puts
// other points in its place; each script grids its own copy of the points.
class HostRun : public ::testing::Test {
protected:
    static void SetUpTestSuite() { qgrad::testing::EnsureApplication<QGuiApplication>(); }

    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        constexpr double kLat = 55.75, kLon = 37.6, kMetresPerDegree = 111319.49079327358;
        const double kx = std::cos(kLat * M_PI / 180) * kMetresPerDegree;
        points_ = "Lon;Lat;grad(H),nT/m\r\n";
        for (int line = 0; line <= 20; line += 2)
            for (int i = 0; i <= 80; ++i) {
                const double x = i * 0.5, y = line;
                points_ += std::to_string(kLon + x / kx) + ";" + std::to_string(kLat + y / kMetresPerDegree) + ";" +
                          std::to_string(std::sin(x / 6) * std::cos(y / 5) * 20) + ";\r\n";
            }
    }

    QString Script(const char* name, GridNodes size) const {
        const ExportPaths paths = MakeExportPaths(dir_.path() + "/", name);
        const std::string script = GriddingScript(paths, {size.cols, size.rows});
        EXPECT_TRUE(qgrad::testing::WriteFile(paths.scriptFile, QByteArray::fromStdString(script)));
        EXPECT_TRUE(qgrad::testing::WriteFile(paths.gradientFile, QByteArray::fromStdString(points_)));
        return paths.scriptFile;
    }

    static QByteArray Bytes(const QString& path) { return qgrad::testing::ReadAll(path); }

    // A note in dark text above a map that is `plain` line for line.
    static void ExpectNoteAbove(const QImage& picture, const QImage& plain) {
        const QImage noted = picture.convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(noted.width(), plain.width());
        const int noteHeight = noted.height() - plain.height();
        ASSERT_GT(noteHeight, 10);
        EXPECT_EQ(noted.copy(0, noteHeight, plain.width(), plain.height()), plain.convertToFormat(QImage::Format_RGB32));
        int dark = 0;
        for (int y = 0; y < noteHeight; ++y)
            for (int x = 0; x < noted.width(); ++x) dark += qGray(noted.pixel(x, y)) < 128;
        EXPECT_GT(dark, 100);
    }

    QTemporaryDir dir_;
    std::string points_;
};

TEST_F(HostRun, GridOverTheLimitIsMadeCoarserAndThePictureSaysSo) {
    const GridRunResult asked = RunGridHost(Script("a.csv", {99, 50}));
    EXPECT_EQ(asked.made, (GridNodes{99, 50}));
    EXPECT_TRUE(asked.note.isEmpty());

    GridRunOptions limited;
    limited.maxNodes = 5'000;
    const QString script = Script("b.csv", {201, 101});
    const QByteArray scriptBefore = Bytes(script);
    const GridRunResult coarser = RunGridHost(script, limited);
    EXPECT_EQ(coarser.made, (GridNodes{99, 50}));
    EXPECT_EQ(coarser.note, "The script asks for 201 by 101 nodes, more than this host makes (5000): gridded at "
                            "99 by 50 nodes with the same ratio of node spacings.");
    EXPECT_EQ(Bytes(script), scriptBefore);  // the script stays as written

    // The same grid as a script asking for that size gets.
    const QByteArray grid = Bytes(coarser.gridFile);
    EXPECT_EQ(grid, Bytes(asked.gridFile));
    ASSERT_GT(grid.size(), 28);
    EXPECT_EQ(*reinterpret_cast<const std::int32_t*>(grid.constData() + 20), 50);  // rows
    EXPECT_EQ(*reinterpret_cast<const std::int32_t*>(grid.constData() + 24), 99);  // columns

    // The note stands above the same map as the grid asked for.
    ExpectNoteAbove(QImage(coarser.pictureFile), QImage(asked.pictureFile));
}

// A diagonal strip a metre wide and 300 m long on the script's grid of 100
// by 100 nodes, 2 m apart: no four nodes around a cell lie within it.
TEST_F(HostRun, ASwathWithNoCellToDrawFailsAndThePictureSaysWhy) {
    points_ = Bytes(QString(QGRAD_TEST_DATA) + "/thin-swath.txt").toStdString();
    const QString script = Script("swath.csv", {100, 100});
    GridRunOptions options;
    options.gis = {true, true, true, GeoTiffProjection::Geographic};
    try {
        RunGridHost(script, options);
        ADD_FAILURE() << "a blank map made without a word";
    } catch (const GridHostError& e) {
        EXPECT_NE(std::string(e.what()).find("Nothing to draw: no cell of the 100 by 100 grid"), std::string::npos)
            << e.what();
        EXPECT_NE(std::string(e.what()).find("raise NumCols and NumRows"), std::string::npos) << e.what();
    }
    // The grid and its picture are written, with the reason above the map;
    // no GIS output is, as its overlay would be all clear.
    const QString grid = ReplaceExtension(script, ".grd");
    const Grid g = ReadGridFile(grid);
    EXPECT_EQ(g.cols, 100);
    ExpectNoteAbove(QImage(ReplaceExtension(script, ".png")),
                    DrawContourMap(g, ReadPointFile(ReplaceExtension(script, ".txt"))));
    for (const char* ext : {".tif", ".kmz", ".gpkg"}) EXPECT_FALSE(QFile::exists(ReplaceExtension(grid, ext))) << ext;

    // The same points on a grid fine enough across the strip make a map.
    const GridRunResult fine = RunGridHost(Script("fine.csv", {400, 400}));
    EXPECT_TRUE(fine.note.isEmpty());
}

// 0.25 m cells over the 40 m by 20 m field: about 160 by 80 nodes, against
// a budget of 40 by 40 nodes' values.
TEST_F(HostRun, MetreGridOverItsBudgetIsKrigedInTilesToTheSameValues) {
    using qgrad::testing::Tool;
    GridRunOptions whole;
    whole.cellMetres = 0.25;
    whole.gis.geoTiff = true;
    GridRunOptions tiled = whole;
    tiled.memoryBudget = 40 * 40 * sizeof(double);
    const GridRunResult a = RunGridHost(Script("whole.csv", {100, 100}), whole);
    const GridRunResult b = RunGridHost(Script("tiled.csv", {100, 100}), tiled);
    ASSERT_EQ(b.made, a.made);
    ASSERT_GT(a.made.cols, 128);
    ASSERT_LE(a.made.rows, 128);
    ASSERT_EQ(TileShape(a.made, whole.memoryBudget), (GridNodes{0, 0}));
    ASSERT_EQ(TileShape(a.made, tiled.memoryBudget), (GridNodes{40, 40}));

    const Grid ga = ReadGridFile(a.gridFile), gb = ReadGridFile(b.gridFile);
    ASSERT_EQ(ga.z.size(), gb.z.size());
    int differing = 0, valued = 0;
    for (std::size_t i = 0; i < ga.z.size(); ++i) {
        valued += !std::isnan(ga.z[i]);
        differing += std::isnan(ga.z[i]) ? !std::isnan(gb.z[i]) : !(std::fabs(ga.z[i] - gb.z[i]) <= 1e-9);
    }
    EXPECT_EQ(differing, 0);
    EXPECT_GT(valued, 161 * 81 / 2);

    // The tiled GeoTIFF, read back: tiled, DEFLATE, one overview (the
    // wider side halved once is within 128 pixels), the same pixels as the
    // whole grid's GeoTIFF.
    const QString tifA = a.gisFiles.at(0), tifB = b.gisFiles.at(0);
    const QString info = Tool("gdalinfo", {"-checksum", tifB});
    EXPECT_TRUE(info.contains("Block=256x256")) << info.toStdString();
    EXPECT_TRUE(info.contains("COMPRESSION=DEFLATE")) << info.toStdString();
    const QString overview = QString("Overviews: %1x%2\n").arg((a.made.cols + 1) / 2).arg((a.made.rows + 1) / 2);
    EXPECT_TRUE(info.contains(overview)) << info.toStdString();
    const auto checksum = [](const QString& text) {
        const auto m = QRegularExpression("Band 1 Block=[\\s\\S]*?Checksum=(\\d+)").match(text);
        EXPECT_TRUE(m.hasMatch()) << text.toStdString();
        return m.captured(1);
    };
    EXPECT_EQ(checksum(info), checksum(Tool("gdalinfo", {"-checksum", tifA})));
    EXPECT_EQ(qgrad::testing::ValueRange(Tool("gdalinfo", {"-stats", tifB})),
              qgrad::testing::ValueRange(Tool("gdalinfo", {"-stats", tifA})));
}

}  // namespace
