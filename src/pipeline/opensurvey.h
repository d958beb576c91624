// The road of one survey from its file to what the program shows and
// writes: read, clean, arrange, and every read the opening makes of the
// arranged table (track, map frame, profiles, positions, ends). The window,
// the command-line tool, the folder run, the tests and the benchmarks all
// open a survey through OpenSurvey.
#pragma once

#include "arrange/arrangedpoints.h"
#include "mapview/mapframe.h"
#include "pipeline/profiles.h"
#include "processing/processing.h"
#include "survey/opening.h"
#include "survey/reader.h"
#include "survey/surveytable.h"

#include <QIODevice>
#include <QString>

#include <array>
#include <functional>
#include <vector>

namespace qgrad {

// The two ways a survey is opened. They differ in the reader's variant and
// the zoom rule's precision, which always go together.
enum class OpeningMode {
    Interactive,  // OPEN FILE
    Folder,       // ARRANGE ALL IN FOLDER
};
ReaderVariant ReaderVariantOf(OpeningMode mode);
ZoomPrecision ZoomPrecisionOf(OpeningMode mode);

// How far the opening came; each stage includes the ones before.
enum class OpeningStage {
    None,       // the file could not be opened
    FileOpened,
    Read,       // the lines are in the table
    Cleaned,
    Arranged,   // the arrangement ran (see `arranged` for whether it completed)
    Processed,  // the processing stages that are on ran
    Framed,     // track and map frame
    Profiled,   // profiles and positions
    Done,       // the ends of the run: the survey is open
};

struct OpeningOptions {
    OpeningMode mode = OpeningMode::Interactive;
    bool levelSignals = true;  // ARRANGE SIGNAL LEVELS
    // The zoom kept when the track gives none.
    MapFrame previousFrame;
    // Keep the profiles' points; callers that show no chart only need them
    // checked.
    bool keepProfiles = true;
    // Told each stage as it is reached, on the opening's thread.
    std::function<void(OpeningStage)> stageReached;
    // The processing of the arranged points; all off by default.
    ProcessingSettings processing;
    // A folder's lag estimate, used in place of the survey's own when the lag
    // is estimated.
    const LagEstimate* folderLag = nullptr;
    // Keep the points as arranged beside the processed ones, for the
    // processing to run again without reading the file (twice the points'
    // memory while any stage is on).
    bool keepArranged = false;
};

struct OpenedSurvey {
    QString fileName;  // without the folder
    QString folder;    // absolute, native separators, with the trailing separator
    SurveyTable table;
    SurveyGeometry geometry;
    // The file's last line when it was cut off and left out.
    CutLastLine cutLastLine;
    ArrangedPoints points;
    bool arranged = false;  // the arrangement completed: the point tables are whole
    // What the processing did to the points (and, through them, to the
    // profiles); the table keeps the arrangement's texts.
    ProcessingReport processing;
    // The points before the processing, when asked for and a stage was on.
    ArrangedPoints asArranged;
    Track track;
    MapFrame frame;
    SurveyProfiles profiles;
    // Longitude and latitude of every data row, as a click on a profile
    // point looks them up by the point's index.
    Positions positions;
    RunEnds ends;
    OpeningStage reached = OpeningStage::None;

    void clear();
};

// The processing run again, with `settings`, over an opened survey's points
// as arranged (kept by `OpeningOptions::keepArranged` where a stage ran):
// the new points, what the processing did, and the profiles drawn from them.
struct Reprocessed {
    ArrangedPoints points;
    ArrangedPoints asArranged;  // kept again while a stage is on
    ProcessingReport processing;
    SurveyProfiles profiles;
};
Reprocessed ProcessAgain(const OpenedSurvey& survey, const ProcessingSettings& settings);

// Opens the survey at `path` into `out`. Throws SurveyFormatError (its file
// field set to the file's name) for an empty file or one the program does
// not take; `out` then holds what the steps so far produced, and
// `out.reached` says how far they came.
void OpenSurvey(const QString& path, const OpeningOptions& options, OpenedSurvey& out);
// The same for a survey already open for reading (closed on every path),
// known by `fileName`; `out.folder` stays empty.
void OpenSurvey(QIODevice& input, const QString& fileName, const OpeningOptions& options, OpenedSurvey& out);

}  // namespace qgrad
