// ARRANGE ALL IN FOLDER: every ".csv" survey of a folder arranged in turn, its
// points appended to one pair of combined point files, and one gridding
// script at the end.
#pragma once

#include "arrange/arrangedpoints.h"
#include "export/export.h"
#include "pipeline/opensurvey.h"

#include <QString>
#include <QStringList>

#include <string>

namespace qgrad {

// The name offered in the save dialog: the first 13 characters of the
// survey's file name, then ".txt".
QString DefaultCombinedName(const QString& surveyFileName);
// The combined name from the dialog's answer: its file name part, forced to
// end in ".txt" (letter case significant).
QString CombinedName(const QString& dialogPath);
// The folder's ".csv" files (any letter case, hidden ones included, folders
// skipped), sorted by name with letter case ignored.
QStringList FindSurveyFiles(const QString& folder);

// What a run asks of its host for each file: the window shows each survey,
// the command-line tool shows its progress. Called on the run's thread.
class FolderRunSteps {
public:
    virtual ~FolderRunSteps() = default;
    // Before the file is opened.
    virtual void BeforeFile(int index, int count, const QString& name) = 0;
    // The survey as far as it was opened: whole, or up to where it was
    // refused. The host may take its contents. The points of a survey that
    // opened have been taken for writing by then (see FolderRunResult).
    virtual void Show(OpenedSurvey& survey) = 0;
    // After the file's points are appended.
    virtual void AfterFile() = 0;
};

enum class FolderRunEnd { Completed, EmptyFile, BadFile };

struct FolderRunResult {
    FolderRunEnd end = FolderRunEnd::Completed;
    QString file;        // the survey that stopped the run
    std::string detail;  // why, for a bad file
    ExportPaths paths;
    int surveys = 0;     // surveys appended
    // The last survey's points, after a complete run.
    ArrangedPoints lastPoints;
    // The map frame of the last survey, which the next opening starts from.
    MapFrame frame;
    // What the processing did, survey by survey; empty with every stage off.
    std::string processingReport;
};

// Opens every survey of the folder in the folder mode, starting from
// `options` (its frame carried from survey to survey), into the combined
// files named from `combinedName`. An estimated lag is estimated once over
// all the folder's surveys, whose opposite traverses may lie in different
// files, and used for each. A run that stops early still puts both
// combined files in place, holding the surveys before the stop, and writes
// no script. A failure to write the combined files throws FileError and
// leaves any earlier pair intact.
FolderRunResult RunFolder(const QString& folder, const QString& combinedName, const OpeningOptions& options,
                          FolderRunSteps& steps);

}  // namespace qgrad
