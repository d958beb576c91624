#include "arrange/geodistance.h"
#include "batch/folderrun.h"
#include "export/export.h"
#include "gridhost/gissurvey.h"
#include "pipeline/opensurvey.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <set>

using namespace qgrad;

namespace {

const QString kSamples = QString(QGRAD_SAMPLES) + "/field-2026-05-14/";

// A folder run that shows nothing.
class Unseen : public FolderRunSteps {
public:
    void BeforeFile(int, int, const QString&) override {}
    void Show(OpenedSurvey&) override {}
    void AfterFile() override {}
};

class GisSurveyTest : public ::testing::Test {
protected:
    QString Folder() const { return dir_.path() + "/"; }
    void Copy(const char* sample) { ASSERT_TRUE(QFile::copy(kSamples + sample, Folder() + sample)); }
    // OPEN FILE and SAVE TO MAP of one survey in the folder.
    ExportPaths Save(const char* sample) {
        OpenedSurvey opened;
        OpenSurvey(Folder() + sample, {}, opened);
        EXPECT_TRUE(opened.arranged);
        const ExportPaths paths = MakeExportPaths(Folder(), sample);
        WriteExport(paths, opened.points);
        return paths;
    }
    GisSurvey Read(const QString& gradientFile) { return ReadGisSurvey(gradientFile, ReadPointFile(gradientFile)); }
    QTemporaryDir dir_;
};

TEST_F(GisSurveyTest, OneSurveyGivesFieldChannelFileAndTrack) {
    Copy("run001.csv");
    Copy("run002.csv");  // another survey in the folder: not this one's
    const ExportPaths paths = Save("run002.csv");
    const GisSurvey s = Read(paths.gradientFile);
    const std::vector<DataPoint> absolute = ReadPointFile(paths.absoluteFile);
    ASSERT_EQ(s.points.size(), absolute.size());
    ASSERT_EQ(s.runs.size(), 1u);
    EXPECT_EQ(s.runs[0].file, "run002.csv");
    // The antenna's positions, each once: at most the 2400 sample rows.
    const SurveyRun& track = s.runs[0];
    EXPECT_GT(track.lon.size(), 500u);
    EXPECT_LE(track.lon.size(), 2400u);
    for (std::size_t i = 1; i < track.lon.size(); ++i)
        EXPECT_TRUE(track.lon[i] != track.lon[i - 1] || track.lat[i] != track.lat[i - 1]) << i;
    std::set<int> channels;
    for (std::size_t i = 0; i < s.points.size(); ++i) {
        EXPECT_EQ(s.points[i].run, 0);
        EXPECT_EQ(s.points[i].field, absolute[i].z);
        channels.insert(s.points[i].channel);
    }
    EXPECT_EQ(channels, std::set<int>({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    // The channels are the sensors, evenly spaced across the course from
    // channel 1 at one end to channel 12 at the other: each sits its share of
    // the way along the line between the two ends.
    int checked = 0;
    for (std::size_t i = 0; i + 11 < s.points.size() && checked < 50; ++i) {
        if (s.points[i].channel != 1 || s.points[i + 11].channel != 12) continue;
        const GisPoint &a = s.points[i], &b = s.points[i + 11], &c = s.points[i + 4];
        const double ends = GeoDistance(a.lat, a.lon, b.lat, b.lon);
        EXPECT_GT(ends, 5.0) << i;
        EXPECT_NEAR(GeoDistance(a.lat, a.lon, c.lat, c.lon), ends * (c.channel - 1) / 11, 0.02) << i;
        ++checked;
    }
    EXPECT_EQ(checked, 50);
}

TEST_F(GisSurveyTest, AFolderRunGivesEachSurveyItsPoints) {
    for (const char* sample : {"run003.csv", "run001.csv", "run002.csv"}) Copy(sample);
    Unseen steps;
    const FolderRunResult run = RunFolder(Folder(), "all.txt", {}, steps);
    ASSERT_EQ(run.surveys, 3);
    const GisSurvey s = Read(run.paths.gradientFile);
    ASSERT_EQ(s.runs.size(), 3u);
    const char* names[] = {"run001.csv", "run002.csv", "run003.csv"};
    std::size_t perRun[3] = {};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(s.runs[i].file, names[i]);
    for (const GisPoint& p : s.points) {
        ASSERT_GE(p.run, 0);
        ++perRun[p.run];
        EXPECT_GE(p.channel, 1);
        EXPECT_FALSE(std::isnan(p.field));
    }
    EXPECT_TRUE(std::is_sorted(s.points.begin(), s.points.end(),
                               [](const GisPoint& a, const GisPoint& b) { return a.run < b.run; }));
    for (std::size_t n : perRun) EXPECT_GT(n, 20000u);
}

TEST_F(GisSurveyTest, WhatCannotBeMatchedStaysUnknown) {
    Copy("run001.csv");
    const ExportPaths paths = Save("run001.csv");
    // The survey changed since it was saved: its points are no longer these.
    QFile survey(Folder() + "run001.csv");
    ASSERT_TRUE(survey.open(QIODevice::ReadOnly));
    QByteArray bytes = survey.readAll();
    survey.close();
    bytes.replace("5545.", "5546.");  // every fix a minute of latitude north
    ASSERT_TRUE(survey.open(QIODevice::WriteOnly | QIODevice::Truncate));
    survey.write(bytes);
    survey.close();
    GisSurvey s = Read(paths.gradientFile);
    EXPECT_TRUE(s.runs.empty());
    for (const GisPoint& p : s.points) {
        EXPECT_EQ(p.channel, -1);
        EXPECT_EQ(p.run, -1);
        EXPECT_FALSE(std::isnan(p.field));  // the absolute point file still matches
    }

    // A point file not named by the program: nothing beside it is looked for.
    ASSERT_TRUE(QFile::copy(paths.gradientFile, Folder() + "points.txt"));
    s = Read(Folder() + "points.txt");
    ASSERT_FALSE(s.points.empty());
    EXPECT_TRUE(std::isnan(s.points[0].field));
    EXPECT_EQ(s.points[0].channel, -1);
}

}  // namespace
