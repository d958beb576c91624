// ARRANGE ALL IN FOLDER: every ".csv" survey of a folder arranged in turn, its
// points appended to one pair of combined point files, and one gridding
// script at the end.
#pragma once

#include "arrange/arrangedpoints.h"
#include "common/errors.h"
#include "export/export.h"
#include "pipeline/opensurvey.h"

#include <QString>
#include <QStringList>

#include <stdexcept>
#include <string>
#include <vector>

namespace qgrad {

// The combined name from the dialog's answer: its file name part, forced to
// end in ".txt" (letter case significant).
QString CombinedName(const QString& dialogPath);
// The folder's ".csv" files (any letter case, hidden ones included, folders
// skipped), sorted by name with letter case ignored. Throws FileError, with
// the system's reason, for a folder that cannot be read.
QStringList FindSurveyFiles(const QString& folder);

// What a run asks of its host for each file: the window shows each survey,
// the command-line tool shows its progress. Called on the run's thread.
class FolderRunSteps {
public:
    virtual ~FolderRunSteps() = default;
    // Before the file is opened.
    virtual void BeforeFile(int index, int count, const QString& name) = 0;
    // A survey that opened, whole, before its points are taken for writing.
    virtual void Arranged(const OpenedSurvey&) {}
    // The survey as far as it was opened: whole, or up to where it was
    // refused. The host may take its contents. The points of a survey that
    // opened have been taken for writing by then (see FolderRunResult).
    virtual void Show(OpenedSurvey& survey) = 0;
    // After the file's points are appended.
    virtual void AfterFile() = 0;
};

enum class FolderRunEnd { Completed, EmptyFile, BadFile };

// What becomes of a survey the program does not take.
enum class RefusedSurveys {
    Stop,  // the run ends there
    Skip,  // the run goes on without it; it is listed
};

// A survey the program did not take: its name, the kind of refusal (whose
// fixed message RefusalText gives) and the detail.
struct RefusedSurvey {
    QString file;
    SurveyFormatError::Kind kind = SurveyFormatError::Kind::BadFormat;
    std::string detail;
};

// A survey taken without its last line, which was cut off.
struct CutSurvey {
    QString file;
    CutLastLine cut;
};

struct FolderRunResult {
    FolderRunEnd end = FolderRunEnd::Completed;
    QString file;         // the survey that stopped the run
    SurveyFormatError::Kind kind = SurveyFormatError::Kind::BadFormat;  // its refusal
    std::string detail;   // why, for a bad file
    ExportPaths paths;
    // The list of refused surveys beside the combined files, in a run that
    // skips them.
    QString reportFile;
    int surveys = 0;      // surveys appended
    // Surveys skipped, in the order met.
    std::vector<RefusedSurvey> refused;
    // Surveys taken without their cut last line, in the order met; listed
    // in the report of refused surveys too.
    std::vector<CutSurvey> cut;
    // The last survey's points, after a complete run.
    ArrangedPoints lastPoints;
    // The map frame of the last survey, which the next opening starts from.
    MapFrame frame;
    // What the processing did, survey by survey; empty with every stage off.
    std::string processingReport;
    // The processing's report beside the combined files, when a stage is on.
    QString processingReportFile;
};

// A folder with no survey (".csv") in it, for a caller that has nothing to
// arrange there (RunFolder itself writes the empty combined files).
class NoSurveyError : public std::runtime_error {
public:
    explicit NoSurveyError(const QString& folder);
    const QString& folder() const { return folder_; }

private:
    QString folder_;
};

// The list of refused surveys written beside the combined files.
QString RefusedReportPath(const QString& folder, const QString& combinedName);

// The lag over the opposite traverses of the named surveys of the folder
// (with its trailing separator), each opened as the run opens it but without
// its processing; a survey that cannot be opened adds nothing, and with
// RefusedSurveys::Stop ends the estimate there, as it ends the run. The
// surveys are read twice so that one survey's readings are held at a time.
LagEstimate EstimateFolderLag(const QString& folder, const QStringList& names, OpeningOptions options,
                              RefusedSurveys refused);

// Opens every survey of the folder in the folder mode, starting from
// `options` (its frame carried from survey to survey), into the combined
// files named from `combinedName`. An estimated lag is estimated once over
// all the folder's surveys, whose opposite traverses may lie in different
// files, and used for each. The combined files, the script and the reports
// (of the processing, when on, and of the refused surveys) are put in place
// together when the run completes, and the reports it did not write of an
// earlier run are removed with them; a run that stops early leaves any
// earlier set as it was and no partial file. With RefusedSurveys::Skip a
// refused survey is shown, listed in the result and in its report, and the
// run goes on. A failure to write the combined files throws FileError,
// leaving any earlier set intact.
// The combined files go into `outputFolder` (with its trailing separator),
// the survey folder itself when it is empty.
FolderRunResult RunFolder(const QString& folder, const QString& combinedName, const OpeningOptions& options,
                          FolderRunSteps& steps, RefusedSurveys refused = RefusedSurveys::Stop,
                          const QString& outputFolder = {});

}  // namespace qgrad
