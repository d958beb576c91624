#include "batch/folderrun.h"
#include "common/errors.h"
#include "export/export.h"
#include "pipeline/opensurvey.h"
#include "processing/processing.h"

#include "gdaltools.h"
#include "testapp.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <map>
#include <utility>
#include <vector>

namespace {

const QString kSample = QString(QGRAD_SAMPLES) + "/field-2026-05-14/run002.csv";

struct Result {
    int code;
    QByteArray out;
    QByteArray err;
};

// qgrad under an interface language: Russian unless told otherwise; with
// `more` set in its environment besides.
Result Qgrad(const QStringList& args, const QString& language = "ru",
             const std::vector<std::pair<QString, QString>>& more = {}) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LANGUAGE", language);
    for (const auto& [name, value] : more) env.insert(name, value);
    p.setProcessEnvironment(env);
    p.start(QGRAD_CLI, args);
    EXPECT_TRUE(p.waitForFinished(120000));
    return {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
}

class QgradTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { qgrad::testing::EnsureApplication<QCoreApplication>(); }
    QString Write(const QByteArray& bytes, const QString& name) {
        const QString path = dir_.filePath(name);
        EXPECT_TRUE(qgrad::testing::WriteFile(path, bytes));
        return path;
    }
    QTemporaryDir dir_;
};

TEST_F(QgradTest, TablePrintsTheArrangedSurvey) {
    const Result r = Qgrad({"table", kSample});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QList<QByteArray> lines = r.out.split('\n');
    ASSERT_EQ(lines.size(), 2403 + 1);  // the last LF leaves an empty tail
    EXPECT_TRUE(lines[2].startsWith("Time;Latitude,N;Longitude,E;Dist;S1 H,nT;"));
    EXPECT_EQ(lines[3].split(';').size(), 28);
    EXPECT_EQ(lines[3].split(';')[3], "0");             // the distance column
    EXPECT_EQ(lines[4].split(';')[0], "101940.100");    // spread time
    EXPECT_TRUE(lines[4].split(';')[1].startsWith("55.751"));

    const Result batch = Qgrad({"table", kSample, "--batch"});
    ASSERT_EQ(batch.code, 0);
    EXPECT_NE(batch.out, r.out);  // 64-bit degrees differ in the last decimals
    EXPECT_EQ(batch.out.count('\n'), r.out.count('\n'));
}

TEST_F(QgradTest, RefusedSurveysExitWithTwoAndTheFixedText) {
    const Result empty = Qgrad({"table", Write("a\nb\n", "e.csv")});
    EXPECT_EQ(empty.code, 2);
    EXPECT_EQ(QString::fromUtf8(empty.err).trimmed(), QString::fromUtf8(qgrad::kEmptyFileText));
    EXPECT_TRUE(empty.out.isEmpty());

    const Result bad = Qgrad({"table", Write("a\nb\nc\nd\n", "b.csv")});
    EXPECT_EQ(bad.code, 2);
    EXPECT_TRUE(QString::fromUtf8(bad.err).startsWith(QString::fromUtf8(qgrad::kBadFormatText)));
    EXPECT_TRUE(bad.err.contains("no data line"));

    EXPECT_EQ(Qgrad({"table", dir_.filePath("missing.csv")}).code, 2);

    // Outside a Russian interface the same, in English.
    const Result english = Qgrad({"table", dir_.filePath("e.csv")}, "en");
    EXPECT_EQ(english.code, 2);
    EXPECT_EQ(QString::fromUtf8(english.err).trimmed(), "Empty file!");
    EXPECT_TRUE(Qgrad({"table", dir_.filePath("b.csv")}, "en").err.startsWith("Wrong file format!\nb.csv: "));
    EXPECT_EQ(Qgrad({"nonsense"}).code, 1);
    EXPECT_EQ(Qgrad({}).code, 1);
}

TEST_F(QgradTest, ArrangeWritesBesideTheSurveyAndPrintsThePaths) {
    QFile::copy(kSample, dir_.filePath("line 2.csv"));
    const Result r = Qgrad({"arrange", dir_.filePath("line 2.csv")});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QStringList paths = QString::fromLocal8Bit(r.out).trimmed().split('\n');
    ASSERT_EQ(paths.size(), 3);
    EXPECT_EQ(paths[0], dir_.filePath("GPS_ABS_line 2.txt"));
    EXPECT_EQ(paths[1], dir_.filePath("GPS_DIFF_line 2.txt"));
    EXPECT_EQ(paths[2], dir_.filePath("GPS_DIFF_line 2.bas"));
    for (const QString& p : paths) EXPECT_TRUE(QFile::exists(p)) << p.toStdString();
}

// The same survey or folder through the library, processed as the flags say.
class ProcessingFlagsTest : public QgradTest {
protected:
    static QByteArray Read(const QString& path) { return qgrad::testing::ReadAll(path); }
    // The point files and the report of `survey` written by the library into `folder`.
    QStringList Direct(const QString& survey, const qgrad::ProcessingSettings& settings, const QString& folder) {
        qgrad::OpeningOptions options;
        options.processing = settings;
        options.keepProfiles = false;
        qgrad::OpenedSurvey s;
        qgrad::OpenSurvey(survey, options, s);
        const qgrad::ExportPaths paths = qgrad::MakeExportPaths(folder, s.fileName);
        qgrad::WriteExport(paths, s.points, qgrad::ProcessingReportText(s.processing, s.fileName.toStdString()));
        return {paths.absoluteFile, paths.gradientFile, qgrad::ProcessingReportPath(paths)};
    }
};

TEST_F(ProcessingFlagsTest, FlagsWriteWhatTheLibraryWrites) {
    qgrad::ProcessingSettings despike;
    despike.despike.on = true;
    qgrad::ProcessingSettings strict = despike;
    strict.despike.k = 3.5;
    strict.destripe.level = qgrad::LevelEstimate::Mean;
    qgrad::ProcessingSettings lag;
    lag.lag.mode = qgrad::LagMode::Fixed;
    lag.lag.seconds = -0.3;
    qgrad::ProcessingSettings narrow = despike;
    narrow.despike.k = 4;
    narrow.despike.halfWidth = 2;
    qgrad::ProcessingSettings offsets;
    offsets.trueOffsets = true;
    qgrad::ProcessingSettings all = despike;
    all.destripe.level = qgrad::LevelEstimate::Median;
    all.lag.mode = qgrad::LagMode::Auto;
    const struct {
        const char* name;
        QStringList flags;
        qgrad::ProcessingSettings settings;
    } cases[] = {
        {"despike", {"--despike"}, despike},
        {"despike with K, destripe by the mean", {"--despike=3.5", "--destripe=mean"}, strict},
        {"a lag as set", {"--lag=-0.3"}, lag},
        {"despike with K and a half-width", {"--despike=4,2"}, narrow},
        {"sensors at their true offsets", {"--true-offsets"}, offsets},
        {"every stage", {"--lag=auto", "--destripe", "--despike"}, all},
    };
    // The sample with a spike in the first sensor's gradient.
    QByteArray sample = Read(kSample);
    QList<QByteArray> lines = sample.split('\n');
    QList<QByteArray> cells = lines[1000].split(';');
    cells[5] = "900";
    lines[1000] = cells.join(';');
    Write(lines.join('\n'), "run.csv");
    const Result plain = Qgrad({"arrange", dir_.filePath("run.csv")});
    ASSERT_EQ(plain.code, 0) << plain.err.toStdString();
    EXPECT_FALSE(QFile::exists(dir_.filePath("GPS_DIFF_run_processing.txt")));
    const QByteArray unprocessed = Read(dir_.filePath("GPS_ABS_run.txt")) + Read(dir_.filePath("GPS_DIFF_run.txt"));
    for (const auto& c : cases) {
        const Result r = Qgrad(QStringList{"arrange", dir_.filePath("run.csv")} + c.flags);
        ASSERT_EQ(r.code, 0) << c.name << ": " << r.err.toStdString();
        const QStringList printed = QString::fromLocal8Bit(r.out).trimmed().split('\n');
        ASSERT_EQ(printed.size(), 4) << c.name;
        EXPECT_EQ(printed[3], dir_.filePath("GPS_DIFF_run_processing.txt")) << c.name;
        QTemporaryDir direct;
        const QStringList expected = Direct(dir_.filePath("run.csv"), c.settings, direct.path() + "/");
        EXPECT_EQ(Read(printed[0]), Read(expected[0])) << c.name;
        EXPECT_EQ(Read(printed[1]), Read(expected[1])) << c.name;
        EXPECT_EQ(Read(printed[3]), Read(expected[2])) << c.name;
        EXPECT_NE(Read(printed[0]) + Read(printed[1]), unprocessed) << c.name;
        // Its headings on standard error, with LF line ends.
        const QByteArray report = Read(expected[2]).replace("\r\n", "\n");
        EXPECT_EQ(r.err.toStdString(), qgrad::ProcessingReportHeadings(report.toStdString())) << c.name;
        EXPECT_TRUE(r.err.startsWith("Processing of run.csv\n")) << c.name;
        // Each spike and traverse stays in the file only.
        EXPECT_FALSE(r.err.contains("\n  ")) << c.name;
    }
}

// The coverage asked of the grid asks the arranging side for each survey's
// checks, in its processing report; without it no report is written.
TEST_F(ProcessingFlagsTest, CoverageAddsTheChecksToTheProcessingReport) {
    // The sample with a spike in the first sensor's gradient, on file line 1001.
    QList<QByteArray> lines = Read(kSample).split('\n');
    QList<QByteArray> cells = lines[1000].split(';');
    cells[5] = "900";
    lines[1000] = cells.join(';');
    Write(lines.join('\n'), "run.csv");
    const QStringList arrange = {"arrange", dir_.filePath("run.csv"), "--grid", "--no-view"};
    const Result plain = Qgrad(arrange);
    ASSERT_EQ(plain.code, 0) << plain.err.toStdString();
    EXPECT_FALSE(QFile::exists(dir_.filePath("GPS_DIFF_run_processing.txt")));
    const struct {
        const char* name;
        QStringList flags;
        std::vector<const char*> says;
    } cases[] = {
        {"the default cell",
         {"--coverage"},
         {"\nno stage on\nchannels: ", "\n  channel 1: 2400 readings, noise ", " 1 spike at lines 1001\n",
          "\n  channel 12: ", "\ntoo fast for 0.25 m cells"}},
        {"the grid's cell", {"--coverage", "--cell", "0.5"}, {"\ntoo fast for 0.50 m cells"}},
        {"after a despike",
         {"--coverage", "--despike"},
         {"\ndespike: 1 spike ", "spikes as despiked\n", " 1 spike at lines 1001\n"}},
    };
    for (const auto& c : cases) {
        const Result r = Qgrad(arrange + c.flags);
        ASSERT_EQ(r.code, 0) << c.name << ": " << r.err.toStdString();
        const QByteArray report = Read(dir_.filePath("GPS_DIFF_run_processing.txt")).replace("\r\n", "\n");
        for (const char* text : c.says) EXPECT_TRUE(report.contains(text)) << c.name << ": " << text << "\n" << report.toStdString();
        QFile::remove(dir_.filePath("GPS_DIFF_run_processing.txt"));
    }
    // A folder's report holds each survey's checks.
    const QString samples = QString(QGRAD_SAMPLES) + "/field-2026-05-14";
    QDir().mkpath(dir_.filePath("folder"));
    for (const QString& name : QDir(samples).entryList({"*.csv"}))
        QFile::copy(samples + "/" + name, dir_.filePath("folder/" + name));
    const Result folder = Qgrad({"arrange-folder", dir_.filePath("folder"), "all", "--grid", "--no-view", "--coverage"});
    ASSERT_EQ(folder.code, 0) << folder.err.toStdString();
    EXPECT_EQ(QString::fromLatin1(Read(dir_.filePath("folder/GPS_DIFF_all_processing.txt"))).count("\nchannels: "), 3);
}

TEST_F(ProcessingFlagsTest, FolderFlagsWriteWhatTheLibraryWrites) {
    const QString samples = QString(QGRAD_SAMPLES) + "/field-2026-05-14";
    QDir().mkpath(dir_.filePath("cli"));
    QDir().mkpath(dir_.filePath("lib"));
    for (const QString& name : QDir(samples).entryList({"*.csv"})) {
        QFile::copy(samples + "/" + name, dir_.filePath("cli/" + name));
        QFile::copy(samples + "/" + name, dir_.filePath("lib/" + name));
    }
    const Result r = Qgrad({"arrange-folder", dir_.filePath("cli"), "all", "--lag=auto", "--despike", "--destripe"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();

    struct NoSteps : qgrad::FolderRunSteps {
        void BeforeFile(int, int, const QString&) override {}
        void Show(qgrad::OpenedSurvey&) override {}
        void AfterFile() override {}
    } steps;
    qgrad::OpeningOptions options;
    options.processing.lag.mode = qgrad::LagMode::Auto;
    options.processing.despike.on = true;
    options.processing.destripe.level = qgrad::LevelEstimate::Median;
    const qgrad::FolderRunResult run = qgrad::RunFolder(dir_.filePath("lib") + "/", "all.txt", options, steps);
    ASSERT_EQ(run.end, qgrad::FolderRunEnd::Completed);
    // The folder's lag is one estimate over all its surveys.
    EXPECT_EQ(QString::fromStdString(run.processingReport).count("lag: "), 3);
    for (const char* name : {"GPS_ABS_all.txt", "GPS_DIFF_all.txt", "GPS_DIFF_all.bas"}) {
        QByteArray cli = Read(dir_.filePath(QString("cli/") + name));
        QByteArray lib = Read(dir_.filePath(QString("lib/") + name));
        // The script names its own folder.
        lib.replace(dir_.filePath("lib").toLocal8Bit(), dir_.filePath("cli").toLocal8Bit());
        EXPECT_EQ(cli, lib) << name;
    }
    EXPECT_EQ(Read(dir_.filePath("cli/GPS_DIFF_all_processing.txt")).replace("\r\n", "\n"),
              QByteArray::fromStdString(run.processingReport));
}

TEST_F(ProcessingFlagsTest, FlagsItCannotReadEndInUsage) {
    QFile::copy(kSample, dir_.filePath("run.csv"));
    const QString survey = dir_.filePath("run.csv");
    for (const QStringList& flags : {QStringList{"--despike=x"}, QStringList{"--despike=0"}, QStringList{"--lag"},
                                     QStringList{"--lag=soon"}, QStringList{"--destripe=mode"}, QStringList{"--smooth"}}) {
        const Result r = Qgrad(QStringList{"arrange", survey} + flags);
        EXPECT_EQ(r.code, 1) << flags.join(' ').toStdString();
        EXPECT_FALSE(QFile::exists(dir_.filePath("GPS_DIFF_run.txt"))) << flags.join(' ').toStdString();
    }
    EXPECT_EQ(Qgrad({"arrange-folder", dir_.path(), "all", "--destripe=max"}).code, 1);
}

// Values no surveyor can mean are refused with what is wrong and no file.
TEST_F(ProcessingFlagsTest, AbsurdValuesAreRefusedWithNoFiles) {
    QFile::copy(kSample, dir_.filePath("run.csv"));
    const QString survey = dir_.filePath("run.csv");
    struct Row {
        const char* flag;
        int code;
        const char* says;
    };
    const Row rows[] = {
        {"--lag=1e300", 1, "A lag of 1e+300 s is beyond the 10 s"},
        {"--lag=60", 1, "A lag of 60 s is beyond the 10 s"},
        {"--lag=-10.5", 1, "A lag of -10.5 s is beyond the 10 s"},
        {"--lag=-10", 0, ""},
        {"--despike=1e-300", 1, "A despike K of 1e-300 is below 1"},
        {"--despike=0.5", 1, "A despike K of 0.5 is below 1"},
        {"--despike=1", 0, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.flag);
        QFile::remove(dir_.filePath("GPS_DIFF_run.txt"));
        const Result r = Qgrad({"arrange", survey, row.flag}, "en");
        EXPECT_EQ(r.code, row.code) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(row.says)) << r.err.toStdString();
        EXPECT_EQ(QFile::exists(dir_.filePath("GPS_DIFF_run.txt")), row.code == 0);
    }
}

// What qgrad says points the right way: the missing file by name, a survey
// cut off at its end, and no name drives the terminal.
TEST_F(QgradTest, MessagesSayWhatHappened) {
    const Result missing = Qgrad({"table", dir_.filePath("gone.csv")}, "en");
    EXPECT_EQ(missing.code, 2);
    EXPECT_TRUE(missing.err.startsWith("File not found\ngone.csv: cannot open ")) << missing.err.toStdString();
    EXPECT_TRUE(Qgrad({"table", dir_.filePath("gone.csv")}).err.startsWith("Файл не найден\n"));

    const Result taken = Qgrad({"table", Write(qgrad::testing::CutInItsLastLine(kSample), "cut\x1B[2J.csv")}, "en");
    EXPECT_EQ(taken.code, 0) << taken.err.toStdString();
    EXPECT_TRUE(taken.err.startsWith("cut\\x1B[2J.csv: The survey is cut off at its end; its last line was left out "
                                     "(line 2404 has "))
        << taken.err.toStdString();
    EXPECT_FALSE(taken.err.contains('\x1B'));
}

// A save without processing leaves no report of an earlier one beside its
// files: the report would describe points that are gone.
TEST_F(ProcessingFlagsTest, ASaveWithoutProcessingRemovesTheEarlierReport) {
    QFile::copy(kSample, dir_.filePath("run.csv"));
    const QString survey = dir_.filePath("run.csv");
    ASSERT_EQ(Qgrad({"arrange", survey, "--lag=5"}).code, 0);
    ASSERT_TRUE(QFile::exists(dir_.filePath("GPS_DIFF_run_processing.txt")));
    ASSERT_EQ(Qgrad({"arrange", survey}).code, 0);
    EXPECT_FALSE(QFile::exists(dir_.filePath("GPS_DIFF_run_processing.txt")));
    ASSERT_EQ(Qgrad({"arrange-folder", dir_.path(), "all", "--lag=5"}).code, 0);
    ASSERT_TRUE(QFile::exists(dir_.filePath("GPS_DIFF_all_processing.txt")));
    ASSERT_EQ(Qgrad({"arrange-folder", dir_.path(), "all"}).code, 0);
    EXPECT_FALSE(QFile::exists(dir_.filePath("GPS_DIFF_all_processing.txt")));
}

// A refused survey stops the folder run with exit 2 and no combined file;
// with --skip-refused the run goes on, names each refused survey on standard
// error and prints the report's path after the combined files'.
TEST_F(QgradTest, ArrangeFolderStopsAtARefusedSurveyOrSkipsIt) {
    QFile::copy(kSample, dir_.filePath("a.csv"));
    Write("a\nb\nc\nd\n", "b.csv");
    const Result stopped = Qgrad({"arrange-folder", dir_.path(), "comb"});
    EXPECT_EQ(stopped.code, 2);
    EXPECT_TRUE(stopped.err.contains("b.csv: the file has 4 lines")) << stopped.err.toStdString();
    EXPECT_FALSE(QFile::exists(dir_.filePath("GPS_ABS_comb.txt")));

    const Result skipped = Qgrad({"arrange-folder", dir_.path(), "comb", "--skip-refused"});
    ASSERT_EQ(skipped.code, 0) << skipped.err.toStdString();
    EXPECT_EQ(QString::fromUtf8(skipped.err),
              "b.csv: " + QString::fromUtf8(qgrad::kBadFormatText) +
                  "\nb.csv: the file has 4 lines and no data line (data begin on line 5)\n");
    const QStringList paths = QString::fromLocal8Bit(skipped.out).trimmed().split('\n');
    ASSERT_EQ(paths.size(), 4);
    EXPECT_EQ(paths[3], dir_.filePath("GPS_REFUSED_comb.txt"));
    for (const QString& p : paths) EXPECT_TRUE(QFile::exists(p)) << p.toStdString();
}

}  // namespace

#include "../mapview/tlsserver.h"

#include <QBuffer>
#include <QImage>
#include <QRegularExpression>

namespace {

TEST_F(QgradTest, MapWritesThePictureWithTheServiceImage) {
    qgrad::testing::TlsServer server;
    server.SetAnswer(200, "image/jpeg", qgrad::testing::JpegOf(QColor(20, 160, 60)));

    const QString out = dir_.filePath("map.png");
    const Result r = Qgrad({"map", kSample, out, "--endpoint", QString::fromStdString(server.url()), "--cacert",
                            QString::fromStdString(server.certificateFile())});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QImage picture(out);
    ASSERT_EQ(picture.size(), QSize(650, 450));
    EXPECT_NEAR(picture.pixelColor(600, 400).green(), 160, 8);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].rfind("GET /1.x/?ll=37.6", 0), 0u) << server.requests()[0];

    // No service at all: the plain fill, and still a picture.
    const Result offline = Qgrad({"map", kSample, out, "--endpoint", "https://127.0.0.1:1"});
    ASSERT_EQ(offline.code, 0) << offline.err.toStdString();
    EXPECT_TRUE(offline.err.contains("warning: the map request failed: ")) << offline.err.toStdString();
    EXPECT_EQ(offline.err.count("warning"), 1);
    EXPECT_NE(QImage(out).pixelColor(600, 400), QColor(20, 160, 60));
}

TEST_F(QgradTest, MapOfATrackOffTheGlobeIsRefusedWithoutAPicture) {
    QFile sample(kSample);
    ASSERT_TRUE(sample.open(QIODevice::ReadOnly));
    QByteArray head;
    for (int i = 0; i < 4; ++i) head += sample.readLine();
    // A longitude of 4,000,000 in degrees and minutes, once a pixel beyond
    // 32 bits, is no position at all.
    const QString survey = Write(head + "101500;5545.1;3730.5;;48000;1\r\n101501;5545.2;4000000;;48000;1\r\n", "far.csv");
    const QString out = dir_.filePath("far.png");
    const Result r = Qgrad({"map", survey, out, "--endpoint", "https://127.0.0.1:1"});
    EXPECT_EQ(r.code, 2) << r.err.toStdString();
    EXPECT_TRUE(QString::fromUtf8(r.err).contains(QString::fromUtf8(qgrad::kBadFormatText) + "\nfar.csv: line 6, column 3"))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("is beyond 180 degrees of longitude")) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(out));
}

}  // namespace

namespace {

TEST_F(QgradTest, GridHostMakesTheGridAndThePicture) {
    for (const char* name : {"run001.csv", "run002.csv"})
        QFile::copy(QString(QGRAD_SAMPLES) + "/field-2026-05-14/" + name, dir_.filePath(name));
    ASSERT_EQ(Qgrad({"arrange-folder", dir_.path(), "field"}).code, 0);
    const Result r = Qgrad({"grid", dir_.filePath("GPS_DIFF_field.bas"), "--no-view"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(QString::fromLocal8Bit(r.out).trimmed().split('\n'),
              QStringList({dir_.filePath("GPS_DIFF_field.grd"), dir_.filePath("GPS_DIFF_field.png")}));
    QFile grid(dir_.filePath("GPS_DIFF_field.grd"));
    ASSERT_TRUE(grid.open(QIODevice::ReadOnly));
    EXPECT_TRUE(grid.read(4) == "DSRB");
    EXPECT_FALSE(QImage(dir_.filePath("GPS_DIFF_field.png")).isNull());

    QFile script(dir_.filePath("GPS_DIFF_field.bas"));
    ASSERT_TRUE(script.open(QIODevice::ReadOnly));
    QByteArray text = script.readAll();
    script.close();
    text.replace("NumRows:=100", "NumRows:=many");
    const Result bad = Qgrad({"grid", Write(text, "bad.bas"), "--no-view"});
    EXPECT_EQ(bad.code, 1);
    EXPECT_TRUE(bad.err.contains("line 11")) << bad.err.toStdString();
}

// Points in a strip narrower than a cell of the script's grid.
TEST_F(QgradTest, GridWithNothingToDrawExitsWithOneAndSaysWhy) {
    const qgrad::ExportPaths paths = qgrad::MakeExportPaths(dir_.path() + "/", "swath.csv");
    ASSERT_TRUE(QFile::copy(QString(QGRAD_TEST_DATA) + "/thin-swath.txt", paths.gradientFile));
    ASSERT_TRUE(qgrad::testing::WriteFile(paths.scriptFile,
                                          QByteArray::fromStdString(qgrad::GriddingScript(paths, {100, 100}))));
    const Result r = Qgrad({"grid", paths.scriptFile, "--no-view", "--gis"}, "en");
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("Nothing to draw: no cell of the 100 by 100 grid")) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
    EXPECT_FALSE(QImage(dir_.filePath("GPS_DIFF_swath.png")).isNull());
}

}  // namespace

namespace {

using qgrad::testing::Tool;
using qgrad::testing::ValueRange;

class GridGisTest : public QgradTest {
protected:
    void SetUp() override {
        for (const char* name : {"run001.csv", "run002.csv"})
            QFile::copy(QString(QGRAD_SAMPLES) + "/field-2026-05-14/" + name, dir_.filePath(name));
        ASSERT_EQ(Qgrad({"arrange-folder", dir_.path(), "field"}).code, 0);
        script_ = dir_.filePath("GPS_DIFF_field.bas");
    }
    QString Beside(const char* ext) const { return dir_.filePath(QString("GPS_DIFF_field") + ext); }
    QString script_;
};

TEST_F(GridGisTest, AllThreeBesideTheGridWithItsName) {
    const Result r = Qgrad({"grid", script_, "--no-view", "--gis", "--palette", "diverging", "--clip", "2"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(QString::fromLocal8Bit(r.out).trimmed().split('\n'),
              QStringList({Beside(".grd"), Beside(".png"), Beside(".tif"), Beside(".kmz"), Beside(".gpkg")}));

    const std::string gridRange = ValueRange(Tool("gdalinfo", {"-stats", Beside(".grd")}));
    ASSERT_FALSE(gridRange.empty());
    const QString tiff = Tool("gdalinfo", {"-stats", Beside(".tif")});
    EXPECT_TRUE(tiff.contains("ID[\"EPSG\",4326]")) << tiff.toStdString();
    EXPECT_EQ(ValueRange(tiff), gridRange);
    EXPECT_EQ(ValueRange(Tool("gdalinfo", {"-stats", Beside(".gpkg")})), gridRange);

    // Every point of the point file with what the files hold: the field from
    // the absolute file, but no survey file, channel or track.
    QFile points(dir_.filePath("GPS_DIFF_field.txt"));
    ASSERT_TRUE(points.open(QIODevice::ReadOnly));
    const qsizetype count = points.readAll().count('\n') - 1;
    const QString layers = Tool("ogrinfo", {"-al", "-so", Beside(".gpkg")});
    EXPECT_TRUE(layers.contains(QString("Feature Count: %1").arg(count))) << layers.toStdString();
    const QString known = Tool("ogrinfo", {"-q", Beside(".gpkg"), "-sql",
                                           "SELECT COUNT(field) AS fields, COUNT(survey_file) AS files, "
                                           "COUNT(channel) AS channels FROM points"});
    EXPECT_TRUE(known.contains(QString("fields (Integer) = %1").arg(count))) << known.toStdString();
    EXPECT_TRUE(known.contains("files (Integer) = 0")) << known.toStdString();
    EXPECT_TRUE(known.contains("channels (Integer) = 0")) << known.toStdString();
}

// Arranged and gridded in one run, the GIS outputs take what the session
// knows of each point, whatever the processing did to the points.
TEST_F(QgradTest, ArrangedWithGisEveryPointKeepsItsChannelAndSurvey) {
    const QString samples = QString(QGRAD_SAMPLES) + "/field-2026-05-14";
    for (const QString& name : QDir(samples).entryList({"*.csv"})) QFile::copy(samples + "/" + name, dir_.filePath(name));
    const QString gis[] = {"--grid", "--gis", "--no-view"};
    const struct {
        const char* name;
        QStringList args;
        QString output;  // the combined name
        int runs;
    } cases[] = {
        {"the folder with every stage",
         QStringList{"arrange-folder", dir_.path(), "all", "--despike", "--destripe", "--lag=auto"}, "all", 3},
        {"the folder with a lag as set", QStringList{"arrange-folder", dir_.path(), "lag", "--lag=0.5"}, "lag", 3},
        {"one run with a lag as set", QStringList{"arrange", dir_.filePath("run002.csv"), "--lag=0.5"}, "run002", 1},
    };
    for (const auto& c : cases) {
        const Result r = Qgrad(c.args + QStringList(std::begin(gis), std::end(gis)));
        ASSERT_EQ(r.code, 0) << c.name << ": " << r.err.toStdString();
        const QString gpkg = dir_.filePath("GPS_DIFF_" + c.output + ".gpkg");
        EXPECT_TRUE(QString::fromLocal8Bit(r.out).contains(gpkg)) << c.name;
        QFile pointFile(dir_.filePath("GPS_DIFF_" + c.output + ".txt"));
        ASSERT_TRUE(pointFile.open(QIODevice::ReadOnly));
        const qsizetype count = pointFile.readAll().count('\n') - 1;
        const QString points = Tool("ogrinfo", {"-q", gpkg, "-sql",
                                                "SELECT COUNT(*) AS n, COUNT(channel) AS channels, "
                                                "COUNT(survey_file) AS files FROM points"});
        EXPECT_TRUE(points.contains(QString("n (Integer) = %1").arg(count))) << c.name << points.toStdString();
        EXPECT_TRUE(points.contains(QString("channels (Integer) = %1").arg(count))) << c.name << points.toStdString();
        EXPECT_TRUE(points.contains(QString("files (Integer) = %1").arg(count))) << c.name << points.toStdString();
        const QString tracks = Tool("ogrinfo", {"-q", gpkg, "-sql", "SELECT COUNT(DISTINCT survey_file) AS n FROM tracks"});
        EXPECT_TRUE(tracks.contains(QString("n (Integer) = %1").arg(c.runs))) << c.name << tracks.toStdString();
        const QString kml = Tool("ogrinfo", {"--config", "GDAL_SKIP", "KML", "-al", "-so",
                                             dir_.filePath("GPS_DIFF_" + c.output + ".kmz")});
        EXPECT_TRUE(kml.contains("Layer name: run002.csv")) << c.name << kml.toStdString();
    }
}

TEST_F(GridGisTest, GridOverTheNodeLimitIsMadeCoarserAndSaysSo) {
    const Result r = Qgrad({"grid", script_, "--no-view", "--max-nodes", "2000"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QString err = QString::fromLocal8Bit(r.err);
    const QRegularExpressionMatch said =
        QRegularExpression("more than this host makes \\(2000\\): gridded at (\\d+) by (\\d+) nodes").match(err);
    ASSERT_TRUE(said.hasMatch()) << err.toStdString();
    const QString info = Tool("gdalinfo", {Beside(".grd")});
    EXPECT_TRUE(info.contains(QString("Size is %1, %2").arg(said.captured(1), said.captured(2)))) << info.toStdString();
    EXPECT_LE(said.captured(1).toLongLong() * said.captured(2).toLongLong(), 2000);

    // Within the limit nothing is said.
    const Result plain = Qgrad({"grid", script_, "--no-view"});
    ASSERT_EQ(plain.code, 0) << plain.err.toStdString();
    EXPECT_FALSE(plain.err.contains("gridded at")) << plain.err.toStdString();
}

TEST_F(GridGisTest, GdalIsLoadedOnlyWhenAGisOutputIsAskedFor) {
    const struct {
        const char* name;
        QStringList args;
        bool loaded;
    } cases[] = {
        {"the grid and its picture", {}, false},
        {"a GeoTIFF", {"--geotiff"}, true},
        {"a KMZ", {"--kmz"}, true},
    };
    for (const auto& c : cases) {
        // The dynamic loader names each library it loads on standard error.
        const Result r = Qgrad(QStringList({"grid", script_, "--no-view"}) + c.args, "ru", {{"LD_DEBUG", "files"}});
        ASSERT_EQ(r.code, 0) << c.name << "\n" << r.err.toStdString();
        ASSERT_TRUE(r.err.contains("file=libQt6Core.so")) << c.name << ": the loader said nothing";
        EXPECT_EQ(r.err.contains("file=libgdal.so"), c.loaded) << c.name;
    }
}

// A SIGTERM once the kriging is done, at each file put in place: the run
// stops before the next file, says so and fails; what it wrote is whole.
TEST_F(GridGisTest, ALateSigtermEndsTheRunLeavingOnlyWholeFiles) {
    const QStringList args = {"grid", script_, "--no-view", "--geotiff", "--kmz"};
    const std::vector<const char*> outputs = {".grd", ".png", ".tif", ".kmz"};
    ASSERT_EQ(Qgrad(args).code, 0);
    std::map<QString, QByteArray> whole;
    for (const char* ext : outputs) whole[ext] = qgrad::testing::ReadAll(Beside(ext));
    const struct {
        const char* name;
        int step;  // the rename that the signal comes with
        std::vector<const char*> left;
    } cases[] = {
        {"with the grid file", 0, {".grd"}},
        {"with the picture", 1, {".grd", ".png"}},
        {"with the GeoTIFF", 2, {".grd", ".png", ".tif", ".kmz"}},
        {"with the last file", 3, {".grd", ".png", ".tif", ".kmz"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* ext : outputs) QFile::remove(Beside(ext));
        const Result r = Qgrad(args, "en",
                               {{"LD_PRELOAD", QGRAD_TERM_AT_RENAME},
                                {"QGRAD_TERM_AT_RENAME", QString::number(c.step)},
                                {"ASAN_OPTIONS", "verify_asan_link_order=0"}});
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(r.err.contains("gridding cancelled: only GPS_DIFF_field.grd")) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
        std::map<QString, QByteArray> left;
        for (const char* ext : outputs)
            if (QFile::exists(Beside(ext))) left[ext] = qgrad::testing::ReadAll(Beside(ext));
        std::map<QString, QByteArray> expected;
        for (const char* ext : c.left) expected[ext] = whole[ext];
        EXPECT_EQ(left, expected);
        // Nor a temporary of a file half made.
        EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Hidden | QDir::Files).filter(QRegularExpression("^\\.")),
                  QStringList());
    }
}

// The dig list, the coverage report and the page are made only when asked,
// beside the grid with its name, and what they found is said.
TEST_F(GridGisTest, HandoverFilesBesideTheGridWhenAsked) {
    const Result plain = Qgrad({"grid", script_, "--no-view"});
    ASSERT_EQ(plain.code, 0) << plain.err.toStdString();
    for (const char* ext : {"_targets.csv", "_coverage.txt", ".pdf"}) EXPECT_FALSE(QFile::exists(Beside(ext))) << ext;

    const Result r = Qgrad({"grid", script_, "--no-view", "--targets=2", "--coverage=1.5", "--pdf=A3"}, "en");
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(QString::fromLocal8Bit(r.out).trimmed().split('\n'),
              QStringList({Beside(".grd"), Beside(".png"), Beside("_targets.csv"), Beside("_coverage.txt"),
                           Beside(".pdf")}));
    const QList<QByteArray> targets = qgrad::testing::ReadAll(Beside("_targets.csv")).split('\n');
    ASSERT_GT(targets.size(), 2);
    EXPECT_TRUE(targets[0].startsWith("number,longitude,latitude,peak_nT_m")) << targets[0].toStdString();
    EXPECT_TRUE(targets[1].startsWith("1,37.61")) << targets[1].toStdString();
    EXPECT_TRUE(r.err.contains(QByteArray::number(targets.size() - 2) + " targets beyond 2.00 nT/m")) << r.err.toStdString();
    const QByteArray coverage = qgrad::testing::ReadAll(Beside("_coverage.txt"));
    EXPECT_TRUE(coverage.startsWith("coverage: ground farther than 1.50 m from every point")) << coverage.toStdString();
    EXPECT_TRUE(r.err.contains("of the block farther than 1.50 m from the points")) << r.err.toStdString();
    EXPECT_TRUE(Tool("pdfinfo", {Beside(".pdf")}).contains("1191 x 842 pts (A3)"));
}

// Asked to be printable, the picture is the page: the paper's size,
// landscape; A3 when the page is printed on A3.
TEST_F(GridGisTest, PrintablePictureTakesThePagesPaper) {
    struct Case {
        const char* name;
        QStringList words;
        QSize size;
    } cases[] = {{"A4", {"--printable"}, {1754, 1240}}, {"A3", {"--printable", "--pdf=A3"}, {2481, 1754}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Result r = Qgrad(QStringList({"grid", script_, "--no-view"}) + c.words);
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_EQ(QImage(Beside(".png")).size(), c.size);
    }
}

TEST_F(GridGisTest, CellGridsOnSquareMetresOfTheUtmZone) {
    const Result r = Qgrad({"grid", script_, "--no-view", "--geotiff", "--cell", "0.5"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QString info = Tool("gdalinfo", {Beside(".tif")});
    EXPECT_TRUE(info.contains("UTM zone")) << info.toStdString();
    EXPECT_TRUE(info.contains("Pixel Size = (0.500000000000000,-0.500000000000000)")) << info.toStdString();
    // The grid file holds the same nodes, in the same metres.
    const QString grd = Tool("gdalinfo", {Beside(".grd")});
    const auto size = [](const QString& text) { return QRegularExpression("Size is \\d+, \\d+").match(text).captured(0); };
    EXPECT_EQ(size(info), size(grd));
}

// The point file's points go into the GeoPackage up to --gis-points.
TEST_F(GridGisTest, PointsUpToTheLimitGoIntoTheGeoPackage) {
    const struct {
        const char* name;
        QStringList args;
        bool points;
    } cases[] = {{"the default limit", {}, true}, {"a limit the survey passes", {"--gis-points", "10"}, false},
                 {"every point", {"--gis-points=all"}, true}};
    for (const auto& c : cases) {
        const Result r = Qgrad(QStringList{"grid", script_, "--gpkg", "--no-view"} + c.args);
        ASSERT_EQ(r.code, 0) << c.name << r.err.toStdString();
        EXPECT_EQ(Tool("ogrinfo", {"-so", "-q", Beside(".gpkg")}).contains("points (Point)"), c.points) << c.name;
    }
}

TEST_F(GridGisTest, OneEachAndWordsItDoesNotTake) {
    const Result r = Qgrad({"grid", script_, "--gpkg", "--no-view"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(QFile::exists(Beside(".gpkg")));
    EXPECT_FALSE(QFile::exists(Beside(".tif")));
    EXPECT_FALSE(QFile::exists(Beside(".kmz")));

    const struct {
        QStringList args;
        const char* message;
    } bad[] = {
        {{"--clip", "0"}, "not a clip range: \"0\""},
        {{"--palette", "viridis"}, "not a palette: \"viridis\""},
        {{"--max-nodes", "3"}, "not a node limit: \"3\""},
        {{"--max-nodes"}, "usage:"},
        {{"--palette"}, "usage:"},
        {{"--tiff"}, "usage:"},
        {{"--targets=x"}, "not a target threshold: \"x\""},
        {{"--targets=0sd"}, "not a target threshold: \"0sd\""},
        {{"--coverage=0"}, "not a gap distance: \"0\""},
        {{"--pdf=A5"}, "not a paper size: \"A5\""},
        {{"--cell", "0"}, "not a cell size: \"0\""},
        {{"--cell", "0.5m"}, "not a cell size: \"0.5m\""},
        {{"--cell"}, "usage:"},
        {{"--gis-points", "many"}, "not a point limit: \"many\""},
        {{"--gis-points", "-1"}, "not a point limit: \"-1\""},
        {{"--gis-points"}, "usage:"},
    };
    for (const auto& b : bad) {
        const Result e = Qgrad(QStringList({"grid", script_, "--no-view"}) + b.args);
        EXPECT_EQ(e.code, 1) << b.args.join(' ').toStdString();
        EXPECT_TRUE(e.err.contains(b.message)) << e.err.toStdString();
    }
}

}  // namespace

namespace {

TEST_F(QgradTest, HelpAndVersionGoToStandardOutput) {
    const struct {
        const char* name;
        QStringList args;
        const char* says;
    } cases[] = {
        {"the program's help", {"--help"}, "arrange-folder"},
        {"its short form", {"-h"}, "usage: qgrad"},
        {"a verb's help", {"arrange", "--help"}, "usage: qgrad arrange"},
        {"a verb's short help", {"grid", "-h"}, "--max-nodes"},
        {"the folder verb lists the processing flags as typed", {"arrange-folder", "--help"}, "--despike[=5]"},
        {"the version", {"--version"}, "."},
    };
    for (const auto& c : cases) {
        const Result r = Qgrad(c.args);
        EXPECT_EQ(r.code, 0) << c.name;
        EXPECT_TRUE(r.out.contains(c.says)) << c.name << ": " << r.out.toStdString();
        EXPECT_TRUE(r.err.isEmpty()) << c.name << ": " << r.err.toStdString();
    }
}

TEST_F(QgradTest, AMistypedVerbNamesTheNearestOne) {
    const struct {
        const char* typed;
        const char* meant;
    } cases[] = {{"arange", "arrange"}, {"gird", "grid"}, {"arrange-foldr", "arrange-folder"}, {"tabel", "table"}};
    for (const auto& c : cases) {
        const Result r = Qgrad({c.typed, kSample});
        EXPECT_EQ(r.code, 1) << c.typed;
        EXPECT_TRUE(r.err.contains(QString("unknown command '%1'; did you mean '%2'?").arg(c.typed, c.meant).toUtf8()))
            << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << c.typed;
    }
}

// A folder with one survey; a usage error or a refusal there leaves it as it was.
TEST_F(QgradTest, FolderRunsThatCannotBeginWriteNothing) {
    QDir().mkpath(dir_.filePath("surveys"));
    QDir().mkpath(dir_.filePath("empty"));
    QFile::copy(kSample, dir_.filePath("surveys/run.csv"));
    Write("not a survey", "empty/notes.txt");
    const struct {
        const char* name;
        QStringList args;
        const char* says;
    } cases[] = {
        {"no combined name", {"arrange-folder", dir_.filePath("surveys")}, "NAME is required"},
        {"a folder with no survey", {"arrange-folder", dir_.filePath("empty"), "all"}, "no survey (.csv)"},
        {"a grid option without --grid", {"arrange-folder", dir_.filePath("surveys"), "all", "--gis"}, "--grid"},
    };
    for (const auto& c : cases) {
        const Result r = Qgrad(c.args, "en");
        EXPECT_EQ(r.code, 1) << c.name;
        EXPECT_TRUE(r.err.contains(c.says)) << c.name << ": " << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty()) << c.name;
        EXPECT_EQ(QDir(dir_.filePath("surveys")).entryList(QDir::Files), QStringList{"run.csv"}) << c.name;
        EXPECT_EQ(QDir(dir_.filePath("empty")).entryList(QDir::Files), QStringList{"notes.txt"}) << c.name;
    }
}

// Without a runtime folder of the session's, drawing still says nothing of
// it, and leaves no folder of its own behind.
TEST_F(QgradTest, DrawingWithoutARuntimeFolderSaysNothingOfIt) {
    QDir().mkpath(dir_.filePath("tmp"));
    const QString out = dir_.filePath("map.png");
    const Result r = Qgrad({"map", kSample, out, "--endpoint", "https://127.0.0.1:1"}, "en",
                           {{"XDG_RUNTIME_DIR", ""}, {"TMPDIR", dir_.filePath("tmp")}});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_FALSE(r.err.contains("XDG_RUNTIME_DIR")) << r.err.toStdString();
    EXPECT_FALSE(QImage(out).isNull());
    EXPECT_TRUE(QDir(dir_.filePath("tmp")).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

// On a terminal the progress bar's line ends before the paths are printed.
TEST_F(QgradTest, TheProgressBarEndsItsLineBeforeThePaths) {
    for (const char* name : {"run001.csv", "run002.csv"})
        QFile::copy(QString(QGRAD_SAMPLES) + "/field-2026-05-14/" + name, dir_.filePath(name));
    // `script` gives the command a terminal and copies what it shows.
    QProcess p;
    p.start("script", {"-qec", QString("'%1' arrange-folder '%2' all").arg(QGRAD_CLI, dir_.path()), "/dev/null"});
    ASSERT_TRUE(p.waitForFinished(120000));
    ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    const QByteArray shown = p.readAllStandardOutput();
    ASSERT_TRUE(shown.contains("2/2")) << shown.toStdString();
    const qsizetype path = shown.indexOf(dir_.filePath("GPS_ABS_all.txt").toLocal8Bit());
    ASSERT_GT(path, 0) << shown.toStdString();
    EXPECT_TRUE(shown.at(path - 1) == '\n') << shown.toStdString();
    EXPECT_GT(path, shown.lastIndexOf("2/2"));
}

}  // namespace
