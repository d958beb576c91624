#include "arrange/arrange.h"
#include "pipeline/opensurvey.h"
#include "batch/folderrun.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "common/language.h"
#include "survey/reader.h"

#include "testfiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

using namespace qgrad;

namespace {

const QString kSamples = QString(QGRAD_SAMPLES) + "/field-2026-05-14/";

TEST(FolderNames, CombinedNameFromTheAnswer) {
    const std::pair<const char*, const char*> cases[] = {
        {"comb", "comb.txt"},         {"comb.csv", "comb.txt"},     {"comb.TXT", "comb.txt"},
        {"comb.txt", "comb.txt"},     {"/other/dir/comb", "comb.txt"}, {"a.b.c", "a.b.txt"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(CombinedName(in), out) << in;
}

// Records what the run shows: the names before each file and the surveys.
class Recorder : public FolderRunSteps {
public:
    void BeforeFile(int, int count, const QString& name) override {
        seen << name;
        total = count;
        if (beforeFile) beforeFile(name);
    }
    std::function<void(const QString&)> beforeFile;
    void Show(OpenedSurvey& survey) override { shown.push_back(survey.reached); }
    void AfterFile() override { ++after; }

    QStringList seen;
    std::vector<OpeningStage> shown;
    int total = 0;
    int after = 0;
};

class FolderRunTest : public ::testing::Test {
protected:
    QString Folder() const { return dir_.path() + "/"; }
    void CopySample(const char* from, const QString& to) { ASSERT_TRUE(QFile::copy(kSamples + from, Folder() + to)); }
    void Write(const QString& name, const QByteArray& bytes) {
        QFile f(Folder() + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray Read(const QString& name) { return qgrad::testing::ReadAll(Folder() + name); }
    // The point lines one survey alone gives.
    QByteArray PointsOf(const char* sample, PointTable t) {
        SurveyTable table;
        SurveyGeometry g;
        ArrangedPoints p;
        ReadSurveyFile(kSamples + sample, ReaderVariant::Batch, table, g);
        ArrangeToGps(table, g, true, p);
        std::string lines;
        for (std::size_t i = 0; i < p.size(); ++i) p.AppendFileLine(lines, t, i);
        return QByteArray::fromStdString(lines);
    }
    FolderRunResult Run(const QString& name = "comb.txt", RefusedSurveys refused = RefusedSurveys::Stop,
                        std::function<void(const QString&)> beforeFile = {}) {
        steps_ = std::make_unique<Recorder>();
        steps_->beforeFile = std::move(beforeFile);
        return RunFolder(Folder(), name, {}, *steps_, refused);
    }
    QStringList AllFiles() const {
        return QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    }

    QTemporaryDir dir_;
    std::unique_ptr<Recorder> steps_;
};

TEST_F(FolderRunTest, SurveysInNameOrderIntoOnePairAndOneScript) {
    CopySample("run002.csv", "B.csv");
    CopySample("run001.csv", "a.csv");
    CopySample("run003.csv", ".hidden.CSV");
    Write("notes.txt", "not a survey");
    Write("run.csv.bak", "not a survey");
    // The target list an earlier gridding of the folder left beside its grid.
    Write("GPS_DIFF_comb_targets.csv", "number,longitude,latitude,peak_nT_m\n1,37.6,55.7,8.1\n");
    ASSERT_TRUE(QDir(dir_.path()).mkdir("x.csv"));
    const FolderRunResult r = Run();
    EXPECT_EQ(r.end, FolderRunEnd::Completed);
    EXPECT_EQ(r.surveys, 3);
    EXPECT_EQ(steps_->seen, QStringList({".hidden.CSV", "a.csv", "B.csv"}));
    EXPECT_EQ(steps_->total, 3);
    EXPECT_EQ(steps_->shown, std::vector<OpeningStage>(3, OpeningStage::Done));
    EXPECT_EQ(steps_->after, 3);
    EXPECT_EQ(r.lastPoints.size(), 12u * 2400u);
    EXPECT_EQ(Read("GPS_ABS_comb.txt"), "Lon;Lat;H,nT\r\n" + PointsOf("run003.csv", PointTable::Absolute) +
                                            PointsOf("run001.csv", PointTable::Absolute) +
                                            PointsOf("run002.csv", PointTable::Absolute));
    EXPECT_EQ(Read("GPS_DIFF_comb.txt"), "Lon;Lat;grad(H),nT/m\r\n" + PointsOf("run003.csv", PointTable::Gradient) +
                                             PointsOf("run001.csv", PointTable::Gradient) +
                                             PointsOf("run002.csv", PointTable::Gradient));
    // The three traverses, 6 m apart: one extent across all of them.
    const QByteArray script = Read("GPS_DIFF_comb.bas");
    EXPECT_TRUE(script.contains("NumRows:=100")) << script.toStdString();
    EXPECT_FALSE(script.contains("NumCols:=100,")) << script.toStdString();
    EXPECT_TRUE(script.contains(("DataFile:=\"" + Folder() + "GPS_DIFF_comb.txt\"").toLocal8Bit()));
}

TEST_F(FolderRunTest, EmptyFolderGivesHeadingsAnd100By100) {
    const FolderRunResult r = Run();
    EXPECT_EQ(r.end, FolderRunEnd::Completed);
    EXPECT_EQ(Read("GPS_ABS_comb.txt"), "Lon;Lat;H,nT\r\n");
    EXPECT_EQ(Read("GPS_DIFF_comb.txt"), "Lon;Lat;grad(H),nT/m\r\n");
    EXPECT_TRUE(Read("GPS_DIFF_comb.bas").contains("NumCols:=100, NumRows:=100, _"));
}

TEST_F(FolderRunTest, EmptySecondFileStopsAndLeavesNoPartialFiles) {
    CopySample("run001.csv", "a.csv");
    Write("b.csv", "one line\r\n");
    CopySample("run002.csv", "c.csv");
    const FolderRunResult r = Run();
    EXPECT_EQ(r.end, FolderRunEnd::EmptyFile);
    EXPECT_EQ(r.file, "b.csv");
    EXPECT_EQ(r.kind, SurveyFormatError::Kind::Empty);
    EXPECT_EQ(steps_->seen, QStringList({"a.csv", "b.csv"}));
    EXPECT_EQ(steps_->shown, std::vector<OpeningStage>({OpeningStage::Done, OpeningStage::FileOpened}));
    EXPECT_EQ(AllFiles(), QStringList({"a.csv", "b.csv", "c.csv"}));
}

TEST_F(FolderRunTest, MalformedFileStopsWithItsNameAndLine) {
    CopySample("run001.csv", "a.csv");
    Write("b.csv", "a\r\nb\r\nc\r\nd\r\n");
    const FolderRunResult r = Run();
    EXPECT_EQ(r.end, FolderRunEnd::BadFile);
    EXPECT_EQ(r.kind, SurveyFormatError::Kind::BadFormat);
    EXPECT_NE(r.detail.find("b.csv: the file has 4 lines"), std::string::npos) << r.detail;
    EXPECT_EQ(AllFiles(), QStringList({"a.csv", "b.csv"}));
}

// A run that stops early never replaces the combined set of an earlier
// complete run: not when a refused survey is added, nor when a survey goes
// away while the run lasts.
TEST_F(FolderRunTest, EarlyStopKeepsTheEarlierCompleteSet) {
    CopySample("run001.csv", "a.csv");
    CopySample("run002.csv", "c.csv");
    ASSERT_EQ(Run().end, FolderRunEnd::Completed);
    const QStringList outputs = {"GPS_ABS_comb.txt", "GPS_DIFF_comb.txt", "GPS_DIFF_comb.bas"};
    std::vector<QByteArray> before;
    for (const QString& f : outputs) before.push_back(Read(f));

    const std::pair<const char*, std::function<FolderRunResult()>> stops[] = {
        {"a refused survey added", [&] {
             Write("b.csv", "a\r\nb\r\nc\r\nd\r\n");
             const FolderRunResult r = Run();
             QFile::remove(Folder() + "b.csv");
             return r;
         }},
        {"a survey removed while the run lasts", [&] {
             return Run("comb.txt", RefusedSurveys::Stop, [&](const QString& name) {
                 if (name == "a.csv") QFile::remove(Folder() + "c.csv");
             });
         }},
    };
    for (const auto& [what, run] : stops) {
        SCOPED_TRACE(what);
        const FolderRunResult r = run();
        EXPECT_EQ(r.end, FolderRunEnd::BadFile);
        EXPECT_FALSE(r.file.isEmpty());
        EXPECT_EQ(r.detail.rfind(r.file.toStdString() + ": ", 0), 0u) << r.detail;
        for (int i = 0; i < outputs.size(); ++i) EXPECT_EQ(Read(outputs[i]), before[i]) << outputs[i].toStdString();
        for (const QString& f : AllFiles())  // no partial file, no lock
            EXPECT_TRUE(f.endsWith(".csv") || outputs.contains(f)) << f.toStdString();
    }
}

// Skipping refused surveys: the run goes on, and each one is listed in the
// result and in the report beside the combined files.
TEST_F(FolderRunTest, SkippedSurveysAreListedBesideTheOutputs) {
    CopySample("run001.csv", "a.csv");
    Write("b.csv", "a\r\nb\r\nc\r\nd\r\n");
    Write("c.csv", "");
    CopySample("run002.csv", "d.csv");
    const FolderRunResult r = Run("comb.txt", RefusedSurveys::Skip);
    EXPECT_EQ(r.end, FolderRunEnd::Completed);
    EXPECT_EQ(r.surveys, 2);
    ASSERT_EQ(r.refused.size(), 2u);
    EXPECT_EQ(r.refused[0].file, "b.csv");
    EXPECT_EQ(r.refused[0].kind, SurveyFormatError::Kind::BadFormat);
    EXPECT_EQ(r.refused[0].detail, "b.csv: the file has 4 lines and no data line (data begin on line 5)");
    EXPECT_EQ(r.refused[1].file, "c.csv");
    EXPECT_EQ(r.refused[1].kind, SurveyFormatError::Kind::Empty);
    EXPECT_EQ(steps_->after, 4);
    EXPECT_EQ(Read("GPS_DIFF_comb.txt"), "Lon;Lat;grad(H),nT/m\r\n" + PointsOf("run001.csv", PointTable::Gradient) +
                                             PointsOf("run002.csv", PointTable::Gradient));
    EXPECT_TRUE(QFile::exists(Folder() + "GPS_DIFF_comb.bas"));
    EXPECT_EQ(r.reportFile, Folder() + "GPS_REFUSED_comb.txt");
    EXPECT_EQ(Read("GPS_REFUSED_comb.txt"),
              "File\tMessage\tDetail\r\nb.csv\t" + RefusalText(SurveyFormatError::Kind::BadFormat).toUtf8() +
                  "\tb.csv: the file has 4 lines and no data line (data begin on line 5)\r\nc.csv\t" +
                  RefusalText(SurveyFormatError::Kind::Empty).toUtf8() + "\tc.csv\r\n");
}

// The report beside the combined files lists a survey taken without its
// cut last line too, and no name can forge a line of it.
TEST_F(FolderRunTest, CutSurveysAndForgingNamesInTheReport) {
    Write("a.csv", qgrad::testing::CutInItsLastLine(kSamples + "run001.csv"));
    Write("b\r\nforged.csv\tx\x1B[31m.csv", "a\r\nb\r\nc\r\nd\r\n");
    const FolderRunResult r = Run("comb.txt", RefusedSurveys::Skip);
    EXPECT_EQ(r.end, FolderRunEnd::Completed);
    EXPECT_EQ(r.surveys, 1);
    ASSERT_EQ(r.cut.size(), 1u);
    EXPECT_EQ(r.cut[0].file, "a.csv");
    const QList<QByteArray> lines = Read("GPS_REFUSED_comb.txt").split('\n');
    ASSERT_EQ(lines.size(), 4) << Read("GPS_REFUSED_comb.txt").toStdString();
    EXPECT_EQ(lines[1], "b\\x0D\\x0Aforged.csv\\x09x\\x1B[31m.csv\t" +
                            RefusalText(SurveyFormatError::Kind::BadFormat).toUtf8() +
                            "\tb\\x0D\\x0Aforged.csv\\x09x\\x1B[31m.csv: the file has 4 lines and no data line (data "
                            "begin on line 5)\r");
    EXPECT_EQ(lines[2], "a.csv\t" + CutLastLineText().toUtf8() + "\t" +
                            QByteArray::fromStdString(CutLastLineDetail(r.cut[0].cut)) + "\r");
    EXPECT_EQ(lines[3], "");
}

// The list of refused surveys beside the combined files is the last run's
// only: a run that lists none leaves no earlier list behind.
TEST_F(FolderRunTest, TheRefusedListIsTheLastRunsOnly) {
    const QByteArray heading = "File\tMessage\tDetail\r\n";
    const struct {
        const char* name;
        bool refusedStays;  // b.csv, refused, is still in the folder
        RefusedSurveys mode;
        std::optional<QByteArray> list;  // the report after the run; none when removed
    } cases[] = {
        {"a run that stops at none", false, RefusedSurveys::Stop, std::nullopt},
        {"a run that skips none", false, RefusedSurveys::Skip, heading},
        {"a run that skips it again", true, RefusedSurveys::Skip,
         heading + "b.csv\t" + RefusalText(SurveyFormatError::Kind::BadFormat).toUtf8() +
             "\tb.csv: the file has 4 lines and no data line (data begin on line 5)\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const QString& f : AllFiles()) QFile::remove(Folder() + f);
        CopySample("run001.csv", "a.csv");
        Write("b.csv", "a\r\nb\r\nc\r\nd\r\n");
        ASSERT_EQ(Run("comb.txt", RefusedSurveys::Skip).refused.size(), 1u);
        if (!c.refusedStays) QFile::remove(Folder() + "b.csv");
        ASSERT_EQ(Run("comb.txt", c.mode).end, FolderRunEnd::Completed);
        if (c.list) EXPECT_EQ(Read("GPS_REFUSED_comb.txt"), *c.list);
        else EXPECT_FALSE(QFile::exists(Folder() + "GPS_REFUSED_comb.txt"));
        // Nothing of the save left but its files.
        for (const QString& f : AllFiles()) EXPECT_FALSE(f.startsWith('.')) << f.toStdString();
    }
}

// The folder's lag, read one survey at a time, is the estimate over all its
// surveys held at once: the same lines, the same pairs, the same sums.
TEST_F(FolderRunTest, FolderLagIsTheEstimateOverAllSurveysAtOnce) {
    CopySample("run001.csv", "run001.csv");
    CopySample("run002.csv", "run002.csv");
    CopySample("run003.csv", "run003.csv");
    // The start of a run: a few metres of one line, which pairs with nothing.
    const QByteArray whole = Read("run001.csv");
    qsizetype end = 0;
    for (int line = 0; line < 60; ++line) end = whole.indexOf('\n', end) + 1;
    Write("short.csv", whole.left(end));
    OpeningOptions options;
    options.mode = OpeningMode::Folder;
    options.processing.lag.mode = LagMode::Auto;
    auto allAtOnce = [&](const QStringList& names) {
        std::vector<LagSurvey> surveys;
        std::optional<LocalFrame> frame;
        OpeningOptions opening = options;
        opening.processing = {};
        opening.processing.despike = options.processing.despike;
        for (const QString& name : names) {
            OpenedSurvey survey;
            OpenSurvey(Folder() + name, opening, survey);
            opening.previousFrame = survey.frame;
            if (!frame) frame.emplace(survey.points.lon(0), survey.points.lat(0));
            surveys.push_back(MakeLagSurvey(ReadRowFixes(survey.table), survey.geometry, survey.points,
                                            IndexChannelPoints(survey.table, survey.points.size()), *frame,
                                            OffsetConversion::OneCourse));
        }
        return EstimateLag(surveys, options.processing.lag, options.processing.destripe.turns);
    };
    const struct {
        const char* name;
        QStringList names;
        bool pairs;
        bool despike = false;
    } cases[] = {
        // A run walks one line: it pairs only with the next run's, walked back.
        {"one survey", {"run002.csv"}, false},
        {"two surveys", {"run001.csv", "run002.csv"}, true},
        {"several", {"run001.csv", "run002.csv", "run003.csv"}, true},
        {"several, despiked", {"run001.csv", "run002.csv", "run003.csv"}, true, true},
        {"a survey with no pairs first", {"short.csv", "run001.csv", "run002.csv", "run003.csv"}, true},
    };
    for (const auto& c : cases) {
        options.processing.despike.on = c.despike;
        const LagEstimate folder = EstimateFolderLag(Folder(), c.names, options, RefusedSurveys::Stop);
        const LagEstimate held = allAtOnce(c.names);
        EXPECT_EQ(folder.pairs > 0, c.pairs) << c.name;
        EXPECT_EQ(folder.pairs, held.pairs) << c.name;
        EXPECT_EQ(folder.reliable, held.reliable) << c.name;
        EXPECT_EQ(folder.seconds, held.seconds) << c.name;
        EXPECT_EQ(folder.best, held.best) << c.name;
        EXPECT_EQ(folder.correlation, held.correlation) << c.name;
        EXPECT_EQ(folder.prominence, held.prominence) << c.name;
    }
}

// FIFOs, sockets and links to devices are skipped like folders, never
// waited on; a name that is not UTF-8 is read under its own bytes.
TEST_F(FolderRunTest, OnlyRegularFilesUnderTheirOwnNames) {
    const std::string folder = Folder().toStdString();
    ASSERT_EQ(mkfifo((folder + "fifo.csv").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/zero", (folder + "zero.csv").c_str()), 0);
    std::filesystem::copy_file(kSamples.toStdString() + "run001.csv", folder + "\xFF\xFEline.csv");
    for (const RefusedSurveys mode : {RefusedSurveys::Stop, RefusedSurveys::Skip}) {
        const FolderRunResult r = Run("comb.txt", mode);
        EXPECT_EQ(r.end, FolderRunEnd::Completed);
        EXPECT_EQ(r.surveys, 1);
        EXPECT_TRUE(r.refused.empty());
        ASSERT_EQ(steps_->seen.size(), 1);
        EXPECT_EQ(LocalBytes(steps_->seen[0]), "\xFF\xFEline.csv");
        EXPECT_EQ(Read("GPS_DIFF_comb.txt"), "Lon;Lat;grad(H),nT/m\r\n" + PointsOf("run001.csv", PointTable::Gradient));
    }
    // The temporary folder's removal goes by decoded names.
    std::filesystem::remove(folder + "\xFF\xFEline.csv");
}

// A folder that is not there is named with the system's reason, not as a
// lock that could not be taken.
TEST_F(FolderRunTest, MissingFolderSaysSo) {
    Recorder steps;
    try {
        RunFolder(Folder() + "gone/", "comb.txt", {}, steps);
        ADD_FAILURE() << "ran";
    } catch (const FileError& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot read the folder " + Folder().toStdString() + "gone/: " + std::strerror(ENOENT));
    }
}

TEST_F(FolderRunTest, FailingCombinedFileKeepsTheEarlierPair) {
    CopySample("run001.csv", "a.csv");
    Run();
    const QByteArray earlier = Read("GPS_DIFF_comb.txt");
    // The absolute file's name is now a folder: the run cannot put it in place.
    QFile::remove(Folder() + "GPS_ABS_comb.txt");
    ASSERT_TRUE(QDir(dir_.path()).mkdir("GPS_ABS_comb.txt"));
    EXPECT_THROW(Run(), FileError);
    EXPECT_EQ(Read("GPS_DIFF_comb.txt"), earlier);
}

}  // namespace
