#include "arrange/arrange.h"
#include "pipeline/opensurvey.h"
#include "batch/folderrun.h"
#include "common/errors.h"
#include "survey/reader.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <vector>

using namespace qgrad;

namespace {

const QString kSamples = QString(QGRAD_SAMPLES) + "/field-2026-05-14/";

TEST(FolderNames, DefaultAndCombined) {
    EXPECT_EQ(DefaultCombinedName("north_line_01.csv"), "north_line_01.txt");
    EXPECT_EQ(DefaultCombinedName("line7.csv"), "line7.csv.txt");
    EXPECT_EQ(DefaultCombinedName("comb.txt"), "comb.txt.txt");
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
    }
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
    QByteArray Read(const QString& name) {
        QFile f(Folder() + name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
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
    FolderRunResult Run(const QString& name = "comb.txt") {
        steps_ = std::make_unique<Recorder>();
        return RunFolder(Folder(), name, {}, *steps_);
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

TEST_F(FolderRunTest, EmptySecondFileStopsWithTheFirstKept) {
    CopySample("run001.csv", "a.csv");
    Write("b.csv", "one line\r\n");
    CopySample("run002.csv", "c.csv");
    const FolderRunResult r = Run();
    EXPECT_EQ(r.end, FolderRunEnd::EmptyFile);
    EXPECT_EQ(r.file, "b.csv");
    EXPECT_EQ(steps_->seen, QStringList({"a.csv", "b.csv"}));
    EXPECT_EQ(steps_->shown, std::vector<OpeningStage>({OpeningStage::Done, OpeningStage::FileOpened}));
    EXPECT_EQ(Read("GPS_DIFF_comb.txt"), "Lon;Lat;grad(H),nT/m\r\n" + PointsOf("run001.csv", PointTable::Gradient));
    EXPECT_FALSE(QFile::exists(Folder() + "GPS_DIFF_comb.bas"));
}

TEST_F(FolderRunTest, MalformedFileStopsWithItsNameAndLine) {
    CopySample("run001.csv", "a.csv");
    Write("b.csv", "a\r\nb\r\nc\r\nd\r\n");
    const FolderRunResult r = Run();
    EXPECT_EQ(r.end, FolderRunEnd::BadFile);
    EXPECT_NE(r.detail.find("b.csv: the file has 4 lines"), std::string::npos) << r.detail;
    EXPECT_FALSE(QFile::exists(Folder() + "GPS_DIFF_comb.bas"));
    EXPECT_TRUE(Read("GPS_ABS_comb.txt").endsWith("\r\n"));
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
