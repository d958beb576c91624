#include "session/session.h"

#include "gdaltools.h"
#include "ogrlines.h"
#include "processing/syntheticsurvey.h"
#include "testfiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "testapp.h"

using namespace qgrad;

namespace {

const QString kSamples = QString(QGRAD_SAMPLES) + "/field-2026-05-14/";

class Quiet : public SessionProgress {
public:
    void Step(int, int, const QString&) override {}
};

ProcessingSettings Destriped() {
    ProcessingSettings p;
    p.destripe.level = LevelEstimate::Median;
    return p;
}

class SessionTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { qgrad::testing::EnsureApplication<QGuiApplication>(); }
    QString Folder() const { return dir_.path() + "/"; }
    void Copy(const char* sample) { ASSERT_TRUE(QFile::copy(kSamples + sample, Folder() + sample)); }
    OpenedSurvey Open(const char* sample, const ProcessingSettings& processing) {
        OpeningOptions options;
        options.keepProfiles = false;
        options.processing = processing;
        OpenedSurvey s;
        OpenSurvey(Folder() + sample, options, s);
        return s;
    }
    // One row of an ogrinfo query on the GeoPackage's points: "name (Type) = value" lines.
    QString Query(const QString& gpkg, const QString& sql) {
        return qgrad::testing::Tool("ogrinfo", {"-q", gpkg, "-sql", sql});
    }
    QTemporaryDir dir_;
};

// The report beside the files says what ran on the survey, whatever the
// settings are by the time it is saved.
TEST_F(SessionTest, SaveToMapReportsTheProcessingThatRan) {
    Copy("run002.csv");
    const struct {
        const char* name;
        ProcessingSettings processing;
        bool reported;
    } cases[] = {{"every stage off", {}, false}, {"destriped", Destriped(), true}};
    for (const auto& c : cases) {
        const SavedMap saved = SaveToMap(Open("run002.csv", c.processing));
        EXPECT_EQ(saved.written.size(), c.reported ? 4u : 3u) << c.name;
        EXPECT_EQ(!saved.processingReport.empty(), c.reported) << c.name;
        EXPECT_EQ(QFile::exists(ProcessingReportPath(saved.paths)), c.reported) << c.name;
        for (const QString& p : saved.written) EXPECT_TRUE(QFile::exists(p)) << c.name << " " << p.toStdString();
        if (c.reported) {
            EXPECT_EQ(qgrad::testing::ReadAll(saved.written.back()).replace("\r\n", "\n"),
                      QByteArray::fromStdString(saved.processingReport));
            QFile::remove(saved.written.back());
        }
    }
}

TEST_F(SessionTest, AFolderWithNoSurveyIsRefusedOnlyWhenAsked) {
    ASSERT_TRUE(qgrad::testing::WriteFile(Folder() + "notes.txt", "no survey"));
    FolderRequest request;
    request.folder = Folder();
    request.combinedName = "all.txt";
    request.refuseEmpty = true;
    Quiet quiet;
    EXPECT_THROW(ArrangeFolder(request, quiet), NoSurveyError);
    EXPECT_EQ(QDir(Folder()).entryList(QDir::Files | QDir::Hidden), QStringList{"notes.txt"});
    // The window's folder run writes the empty combined files.
    request.refuseEmpty = false;
    EXPECT_EQ(ArrangeFolder(request, quiet).end, FolderRunEnd::Completed);
    EXPECT_TRUE(QFile::exists(Folder() + "GPS_DIFF_all.txt"));
}

// Each point of the GeoPackage carries its sample: channel, survey file,
// line, time, and the arrangement's gradient where processing changed it.
TEST_F(SessionTest, EachPointCarriesItsSampleIntoTheGeoPackage) {
    Copy("run002.csv");
    const struct {
        const char* name;
        ProcessingSettings processing;
        bool processed;  // every point keeps the arrangement's gradient, some differ
    } cases[] = {{"as arranged", {}, false}, {"destriped", Destriped(), true}};
    for (const auto& c : cases) {
        OpenedSurvey s = Open("run002.csv", c.processing);
        const SavedMap saved = SaveToMap(s);
        GridRunOptions options;
        options.gis.geoPackage = true;
        ArrangedGis gis = StartGis(saved.paths, options);
        AddToGis(s, gis);
        ASSERT_EQ(gis.runs.size(), 1u) << c.name;
        EXPECT_EQ(gis.runs[0].file, "run002.csv");
        // The antenna's own positions, a standing fix once: fewer than the rows.
        EXPECT_GT(gis.runs[0].lon.size(), 500u);
        EXPECT_LE(gis.runs[0].lon.size(), s.table.dataRowCount());
        Quiet quiet;
        const GridRunResult run = Grid(saved.paths.scriptFile, options, quiet, &gis);
        ASSERT_EQ(run.gisFiles.size(), 1u);
        const QString points = Query(run.gisFiles[0],
                                     "SELECT COUNT(*) AS n, COUNT(DISTINCT channel) AS channels, MIN(line) AS first, "
                                     "MAX(line) AS last, MIN(time) AS early, SUM(survey_file = 'run002.csv') AS named, "
                                     "COUNT(gradient_arranged) AS arranged, "
                                     "(SELECT COUNT(*) FROM rtree_points_geom) AS indexed FROM points");
        EXPECT_TRUE(points.contains(QString("n (Integer) = %1").arg(s.points.size()))) << c.name << points.toStdString();
        EXPECT_TRUE(points.contains(QString("indexed (Integer) = %1").arg(s.points.size()))) << c.name;
        EXPECT_TRUE(points.contains(QString("named (Integer) = %1").arg(s.points.size()))) << c.name;
        EXPECT_TRUE(points.contains("channels (Integer) = 12")) << c.name;
        // The sample lines of the file, 5 to 2404, each with its points.
        EXPECT_TRUE(points.contains("first (Integer) = 5")) << c.name << points.toStdString();
        EXPECT_TRUE(points.contains("last (Integer) = 2404")) << c.name;
        EXPECT_TRUE(points.contains("early (Real) = 37180")) << c.name << points.toStdString();  // 10:19:40
        EXPECT_TRUE(points.contains(QString("arranged (Integer) = %1").arg(c.processed ? s.points.size() : 0))) << c.name;
        const QString changed =
            Query(run.gisFiles[0], "SELECT COUNT(*) AS n FROM points WHERE ABS(gradient_arranged - gradient) > 0.001");
        EXPECT_EQ(changed.contains("n (Integer) = 0"), !c.processed) << c.name << changed.toStdString();
        const QString tracks = Query(run.gisFiles[0], "SELECT survey_file, ST_NumPoints(geom) AS n FROM tracks");
        EXPECT_TRUE(tracks.contains("survey_file (String) = run002.csv")) << tracks.toStdString();
        EXPECT_TRUE(tracks.contains(QString("n (Integer) = %1").arg(gis.runs[0].lon.size()))) << tracks.toStdString();
        QFile::remove(run.gisFiles[0]);
    }
}

// Tracks come from the table's own positions in full precision: the KMZ's
// and the GeoPackage's vertices are the fixes to their last decimal (the
// map's 32-bit copy is up to 2e-6 degrees off here).
TEST_F(SessionTest, TracksKeepTheFixesToTheirLastDecimal) {
    Copy("run002.csv");
    OpenedSurvey s = Open("run002.csv", {});
    const SavedMap saved = SaveToMap(s);
    GridRunOptions options;
    options.gis = {false, true, true, GeoTiffProjection::Geographic};
    ArrangedGis gis = StartGis(saved.paths, options);
    AddToGis(s, gis);
    Quiet quiet;
    const GridRunResult run = Grid(saved.paths.scriptFile, options, quiet, &gis);
    ASSERT_EQ(run.gisFiles.size(), 2u);

    // The fixes as the table holds them, one while the cart stood.
    qgrad::testing::Vertices fixes;
    for (std::size_t i = 0; i < s.positions.lon.size(); ++i) {
        const std::pair<double, double> fix(s.positions.lon[i], s.positions.lat[i]);
        if (fixes.empty() || fixes.back() != fix) fixes.push_back(fix);
    }
    ASSERT_GT(fixes.size(), 500u);
    constexpr double kExact = 1e-8;
    const struct {
        const char* name;
        QString source;
    } readers[] = {{"LIBKML", run.gisFiles[0]}, {"GPKG", run.gisFiles[1]}};
    for (const auto& r : readers) {
        const std::vector<qgrad::testing::Vertices> lines = qgrad::testing::LinesRead(r.source, r.name);
        ASSERT_EQ(lines.size(), 1u) << r.name;
        ASSERT_EQ(lines[0].size(), fixes.size()) << r.name;
        int off = 0;
        for (std::size_t i = 0; i < fixes.size(); ++i)
            off += std::abs(lines[0][i].first - fixes[i].first) > kExact ||
                   std::abs(lines[0][i].second - fixes[i].second) > kExact;
        EXPECT_EQ(off, 0) << r.name << ": vertices off the fixes";
    }
}

// A dipole buried right under one sensor's reading: the strongest target
// names that reading's survey file and data line when the session arranged
// the points, and the point file's line of it when the host grids the point
// files alone; the next or previous reading, 0.1 m along, at most.
TEST_F(SessionTest, EachTargetNamesTheFileAndLineOfItsNearestReading) {
    using namespace qgrad::synthetic;
    SurveyShape shape;
    // Under the second sensor of the third traverse, halfway along.
    const SyntheticSurvey bare = MakeSurvey(shape);
    std::size_t row = 0;
    int sensor = 0;
    double best = 1e9;
    for (std::size_t r = 0; r < bare.x.size(); ++r)
        for (int k = 0; k < shape.sensors; ++k) {
            const double d = std::hypot(bare.x[r][k] - 4.5, bare.y[r][k] - 20);
            if (d < best) best = d, row = r, sensor = k;
        }
    shape.dipoleX = bare.x[row][sensor];
    shape.dipoleY = bare.y[row][sensor];
    Uniform noise(7);
    SyntheticSurvey survey = MakeSurvey(shape, [&](int, std::size_t, double) { return 0.1 * (noise() - 0.5); });
    ArrangedPoints points;
    ArrangeToGps(survey.table, survey.geometry, false, points);
    ASSERT_EQ(points.size(), survey.x.size() * shape.sensors);
    const SavedMap saved = SaveToMap(Folder(), "synthetic.csv", points, {});
    GridRunOptions options;
    options.cellMetres = 0.1;
    options.handover.targets = TargetOptions{};

    const auto strongest = [&](ArrangedGis* gis) {
        Quiet quiet;
        const GridRunResult run = Grid(saved.paths.scriptFile, options, quiet, gis);
        std::istringstream csv(qgrad::testing::ReadAll(run.handover.files.at(0)).toStdString());
        std::string heading, first, field;
        std::getline(csv, heading), std::getline(csv, first);
        std::vector<std::string> fields;
        for (std::istringstream cells(first); std::getline(cells, field, ',');) fields.push_back(field);
        return fields;
    };
    const std::size_t surveyLine = FileLineOfRow(kFirstDataRow + row);
    // The point file's heading, then a line a point: the rows' channels in turn.
    const std::size_t pointLine = 2 + row * shape.sensors + sensor;
    ArrangedGis gis = StartGis(saved.paths, options);
    AddToGis(survey.table, points, "synthetic.csv", false, gis);
    const struct {
        const char* name;
        ArrangedGis* gis;
        std::string file;
        std::size_t line, perRow;
    } cases[] = {{"arranged by the session", &gis, "synthetic.csv", surveyLine, 1},
                 {"from the point files alone", nullptr, "GPS_DIFF_synthetic.txt", pointLine,
                  static_cast<std::size_t>(shape.sensors)}};
    for (const auto& c : cases) {
        const std::vector<std::string> fields = strongest(c.gis);
        ASSERT_EQ(fields.size(), 10u) << c.name;
        EXPECT_EQ(fields[8], c.file) << c.name;
        const long long line = std::stoll(fields[9]);
        EXPECT_LE(std::llabs(line - static_cast<long long>(c.line)), static_cast<long long>(c.perRow))
            << c.name << ": line " << line << ", the reading's " << c.line;
    }
    // Without targets the session keeps no origins.
    EXPECT_FALSE(StartGis(saved.paths, GridRunOptions{}).origins.has_value());
}

}  // namespace
