// Writes the known-truth field of the processing tests, with every defect,
// as SAVE TO MAP writes a survey: once as arranged and once processed with
// every stage, for gridding and looking at side by side.
#include "arrange/arrange.h"
#include "export/export.h"
#include "processing/processing.h"
#include "syntheticsurvey.h"

#include <QDir>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: qgrad-knowntruth FOLDER\n");
        return 2;
    }
    using namespace qgrad;
    synthetic::SurveyShape shape = synthetic::Field();
    shape.fixLag = 0.3;
    shape.behind = 1;
    synthetic::Defects defects;
    const std::size_t rows = synthetic::MakeSurvey(shape).anomaly.size();
    synthetic::SyntheticSurvey survey = synthetic::MakeSurvey(shape, defects.Add(shape.sensors, rows));
    ArrangedPoints points;
    if (!ArrangeToGps(survey.table, survey.geometry, true, points)) return 1;
    const QString folder = QDir(QString::fromLocal8Bit(argv[1])).absolutePath() + "/";
    WriteExport(MakeExportPaths(folder, "knowntruth-arranged.csv"), points);
    ProcessingSettings all;
    all.trueOffsets = true;
    all.lag.mode = LagMode::Auto;
    all.despike.on = true;
    all.destripe.level = LevelEstimate::Median;
    const ProcessingReport report = ProcessSurvey(survey.table, survey.geometry, points, all);
    const std::string text = ProcessingReportText(report, "the known-truth field");
    WriteExport(MakeExportPaths(folder, "knowntruth-processed.csv"), points, text);
    std::printf("%s", text.substr(0, text.find("  channel")).c_str());
    return 0;
}
