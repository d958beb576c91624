#include "common/errors.h"
#include "export/export.h"

#include "testfiles.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QDir>
#include <QTemporaryDir>

#include <stdexcept>

using namespace qgrad;

namespace {

using qgrad::testing::ReadAll;

TEST(ExportNames, FromTheSurveyName) {
    const struct {
        const char* name;
        const char* abs;
        const char* diff;
        const char* grid;
        const char* script;
    } cases[] = {
        {"line07.csv", "F/GPS_ABS_line07.txt", "F/GPS_DIFF_line07.txt", "F/GPS_DIFF_line07.grd", "F/GPS_DIFF_line07.bas"},
        {"line07", "F/GPS_ABS_line07.txt", "F/GPS_DIFF_line07.txt", "F/GPS_DIFF_line07.grd", "F/GPS_DIFF_line07.bas"},
        {"a.b.csv", "F/GPS_ABS_a.b.txt", "F/GPS_DIFF_a.b.txt", "F/GPS_DIFF_a.b.grd", "F/GPS_DIFF_a.b.bas"},
    };
    for (const auto& c : cases) {
        const ExportPaths p = MakeExportPaths("F/", c.name);
        EXPECT_EQ(p.absoluteFile, c.abs);
        EXPECT_EQ(p.gradientFile, c.diff);
        EXPECT_EQ(p.gridFile, c.grid);
        EXPECT_EQ(p.scriptFile, c.script);
    }
}

TEST(GridSizeTest, ShorterSideGets100Lines) {
    const struct {
        double w, h;
        int cols, rows;
    } cases[] = {
        {300, 150, 200, 100}, {150, 300, 100, 200}, {1, 1, 100, 100}, {1, 250, 100, 25000},
        {250, 1, 25000, 100}, {100.5, 100, 100, 100}, {101.5, 100, 102, 100}, {100, 100.5, 100, 100},
    };
    for (const auto& c : cases) {
        const GridSize g = GridSizeForMetres(c.w, c.h);
        EXPECT_EQ(g.cols, c.cols) << c.w << " x " << c.h;
        EXPECT_EQ(g.rows, c.rows) << c.w << " x " << c.h;
    }
    EXPECT_THROW(GridSizeForMetres(1, 3e7), std::range_error);
}

TEST(GridSizeTest, FromThePointExtent) {
    constexpr double kMetre = 1 / 111319.49079327358;  // degrees per metre on the equator
    PointExtent e;
    EXPECT_EQ(ComputeGridSize(e).cols, 100);  // no points
    EXPECT_EQ(ComputeGridSize(e).rows, 100);
    e.Add(10, 0);
    e.Add(10 + 300 * kMetre, 150 * kMetre);
    EXPECT_EQ(ComputeGridSize(e).cols, 200);
    EXPECT_EQ(ComputeGridSize(e).rows, 100);

    PointExtent meridian;
    meridian.Add(37.5, 55.0);
    meridian.Add(37.5, 55.0 + 250 * kMetre);
    EXPECT_EQ(ComputeGridSize(meridian).cols, 100);
    EXPECT_EQ(ComputeGridSize(meridian).rows, 25000);

    // A coordinate of exactly 0 is a coordinate: a survey crossing the prime
    // meridian keeps its western part.
    PointExtent greenwich;
    for (double lon : {5.0, 0.0, 3.0}) greenwich.Add(lon, 51.0 + lon);
    EXPECT_EQ(greenwich.minLon(), 0.0);
    EXPECT_EQ(greenwich.maxLon(), 5.0);
    EXPECT_EQ(greenwich.minLat(), 51.0);
}

ArrangedPoints SamplePoints() {
    ArrangedPoints p;
    p.lonHeading = "Longitude,W";
    p.latHeading = "Latitude,N";
    p.append(-37.123456785, 55.5, 48000.25, -3.25);
    p.append(-37.2, 55.60000001, 47999.94, 0.04);
    return p;
}

TEST(PointFiles, ByteForByte) {
    QTemporaryDir dir;
    const ExportPaths paths = MakeExportPaths(dir.path() + "/", "line07.csv");
    const PointExtent extent = WriteExport(paths, SamplePoints());
    EXPECT_EQ(ReadAll(paths.absoluteFile),
              "Lon;Lat;H,nT\r\n-37.12345679;55.50000000;48000.3;\r\n-37.20000000;55.60000001;47999.9;\r\n");
    EXPECT_EQ(ReadAll(paths.gradientFile),
              "Lon;Lat;grad(H),nT/m\r\n-37.12345679;55.50000000;-3.3;\r\n-37.20000000;55.60000001;0.0;\r\n");
    // The extent of the texts as they read back.
    EXPECT_EQ(extent.minLon(), -37.2);
    EXPECT_EQ(extent.maxLon(), -37.12345679);
    EXPECT_EQ(extent.maxLat(), 55.60000001);

    // Saving again replaces; an empty table gives the heading alone.
    const PointExtent none = WriteExport(paths, ArrangedPoints{});
    EXPECT_EQ(ReadAll(paths.absoluteFile), "Lon;Lat;H,nT\r\n");
    EXPECT_EQ(ReadAll(paths.gradientFile), "Lon;Lat;grad(H),nT/m\r\n");
    EXPECT_TRUE(none.empty());
}

// Enough rows for several blocks on both cores, with every sign and size of
// value: each file holds every row once, in row order, its own values.
TEST(PointFiles, ManyRowsInRowOrder) {
    ArrangedPoints points;
    constexpr int kRows = 10'007;
    for (int i = 0; i < kRows; ++i) {
        const double step = (i - kRows / 2) * 1.000001;
        points.append(37.5 + step * 1e-4, -55.75 + step * 1e-5, 48000 + step * 0.37, step * 0.013);
    }
    // Coordinates of long texts among them.
    for (int i = 0; i < kRows; i += 997) points.setPosition(i, -123456.123456789 - i, -98765432.1 * i);
    QTemporaryDir dir;
    const ExportPaths paths = MakeExportPaths(dir.path() + "/", "long.csv");
    WriteExport(paths, points);
    const std::pair<PointTable, QString> files[] = {{PointTable::Absolute, paths.absoluteFile},
                                                    {PointTable::Gradient, paths.gradientFile}};
    for (const auto& [table, path] : files) {
        std::string expected = std::string(table == PointTable::Absolute ? kAbsoluteHeading : kGradientHeading) + "\r\n";
        for (std::size_t i = 0; i < points.size(); ++i) points.AppendFileLine(expected, table, i);
        EXPECT_EQ(ReadAll(path).toStdString(), expected) << path.toStdString();
    }
}

TEST(GriddingScriptTest, ThirtyThreeLines) {
    const ExportPaths paths = MakeExportPaths("/data/Поле 1/", "line07.csv");
    const QString text = QString::fromLocal8Bit(GriddingScript(paths, {200, 100}));
    ASSERT_TRUE(text.endsWith("End Sub\r\n"));
    const QStringList lines = text.chopped(2).split("\r\n");
    ASSERT_EQ(lines.size(), 33);
    EXPECT_EQ(lines[0], "Sub Main");
    for (int empty : {1, 6, 12, 17, 27}) EXPECT_EQ(lines[empty], "") << empty;
    EXPECT_EQ(lines[3], "\tSet SurferApp = CreateObject(\"Surfer.Application\")");
    EXPECT_EQ(lines[9], "\tSurferApp.GridData3(DataFile:=\"/data/Поле 1/GPS_DIFF_line07.txt\", _");
    EXPECT_EQ(lines[10],
              "\t\tAlgorithm:=srfKriging, showReport:=False, BlankOutsideHull:=True, NumCols:=200, NumRows:=100, _");
    EXPECT_EQ(lines[11], "\t\tOutGrid:=\"/data/Поле 1/GPS_DIFF_line07.grd\")");
    EXPECT_EQ(lines[14], "\tSet MapFrame = Plot.Shapes.AddContourMap(GridFileName:=\"/data/Поле 1/GPS_DIFF_line07.grd\")");
    EXPECT_EQ(lines[15],
              "\tSet PostLayer = Plot.Shapes.AddPostLayer(Map:=MapFrame, DataFileName:=\"/data/Поле 1/GPS_DIFF_line07.txt\")");
    EXPECT_EQ(lines[20], "\tColorLayer.FillForegroundColorMap.LoadPreset(\"Rainbow6\")");
    EXPECT_EQ(lines[25], "\tColorLayer.MajorLine.Style = \"Invisible\"");
    EXPECT_EQ(lines[29], "\tColorScale.Title = \"gradHz, nT/m\"");
    EXPECT_EQ(lines[31], "\tColorScale.TitleAngle = 0");
}

TEST(GriddingScriptTest, PathsAreStringLiterals) {
    const struct {
        const char* path;
        const char* literal;
    } cases[] = {
        {"/d/GPS_DIFF_a.txt", "\"/d/GPS_DIFF_a.txt\""},
        {"/d/q\", _ Shell(\"x\")", "\"/d/q\"\", _ Shell(\"\"x\"\")\""},  // stays one literal
        {"\"", "\"\"\"\""},
        {"/d/Поле 1/a.txt", "\"/d/Поле 1/a.txt\""},
    };
    for (const auto& c : cases) EXPECT_EQ(ScriptLiteral(QString::fromUtf8(c.path)), c.literal) << c.path;
}

// The paths are made before any file of an export is written.
TEST(GriddingScriptTest, NamesWithControlCharactersAreRefused) {
    QTemporaryDir dir;
    const struct {
        const char* folder;
        const char* name;
    } cases[] = {
        {"/", "a\r\nShell(\"x\")\r\n.csv"},  // CR LF would add lines of code
        {"/", "a\nb.csv"},
        {"/", "tab\t.csv"},
        {"/", "nul\x01.csv"},
        {"/Поле\x1F/", "a.csv"},  // in the folder as much as in the name
    };
    for (const auto& c : cases) {
        const QString folder = dir.path() + QString::fromUtf8(c.folder);
        try {
            MakeExportPaths(folder, QString::fromUtf8(c.name));
            ADD_FAILURE() << c.name;
        } catch (const FileError& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find("holds a control character"), std::string::npos) << what;
            EXPECT_EQ(what.find_first_of("\r\n\t\x01\x1F"), std::string::npos) << "the message breaks: " << what;
        }
        EXPECT_THROW(ScriptLiteral(folder + QString::fromUtf8(c.name)), FileError) << c.name;
    }
}

TEST(GriddingScriptTest, WrittenBesideThePointFilesOrNotAtAll) {
    QTemporaryDir dir;
    const ExportPaths paths = MakeExportPaths(dir.path() + "/", "run.csv");
    WriteExport(paths, ArrangedPoints{});
    EXPECT_TRUE(ReadAll(paths.scriptFile).contains("NumCols:=100, NumRows:=100, _\r\n"));

    // A grid too large to name: none of the three files is replaced.
    const QByteArray before[] = {ReadAll(paths.absoluteFile), ReadAll(paths.gradientFile), ReadAll(paths.scriptFile)};
    ArrangedPoints tooLong;
    tooLong.append(37.5, 0, 1, 1);
    tooLong.append(37.50000001, 80, 1, 1);  // 8900 km by 1 mm
    EXPECT_THROW(WriteExport(paths, tooLong), std::range_error);
    EXPECT_EQ(ReadAll(paths.absoluteFile), before[0]);
    EXPECT_EQ(ReadAll(paths.gradientFile), before[1]);
    EXPECT_EQ(ReadAll(paths.scriptFile), before[2]);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

}  // namespace
