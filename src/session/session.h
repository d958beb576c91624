// What the person does, once for both front ends: each action a plain
// function from the opened survey or surveys and the settings to what it
// wrote and what there is to show. The window and qgrad only ask and show.
#pragma once

#include "batch/folderrun.h"
#include "export/export.h"
#include "gridhost/gridrun.h"
#include "mapview/staticmap.h"
#include "pipeline/opensurvey.h"

#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>
#include <string>
#include <vector>

namespace qgrad {

// How a long action tells how far it came, and learns that it is to stop.
class SessionProgress {
public:
    virtual ~SessionProgress() = default;
    // `done` of `count` steps of the work named `what`. May throw to stop a
    // folder run between surveys.
    virtual void Step(int done, int count, const QString& what) = 0;
    // A folder run's survey as far as it was opened, for the view that shows
    // it; its points have gone to the files by then.
    virtual void Opened(OpenedSurvey&) {}
    // Set from any thread: the gridding stops with GridCancelled.
    std::atomic<bool> cancel{false};
};

// The map of a survey opened as far as its frame: the service's picture (or
// the plain fill) with the scale bar and the track.
struct SurveyMapPicture {
    ComposedMap map;
    std::string trackFailure;  // why the track cannot be drawn on it; drawn as far as it goes
};
SurveyMapPicture ComposeMap(const OpenedSurvey& survey, MapFetcher& fetcher);

// The report of the processing that ran on the survey; empty when none did.
std::string ProcessingReportOf(const OpenedSurvey& survey);

// What SAVE TO MAP wrote.
struct SavedMap {
    ExportPaths paths;
    std::vector<QString> written;  // point files, script, then the processing's report
    std::string processingReport;  // empty when no stage ran
};

// SAVE TO MAP: the point files and the script beside the survey, and the
// report of the processing that ran. Throws FileError.
SavedMap SaveToMap(const QString& folder, const QString& fileName, const ArrangedPoints& points,
                   const std::string& processingReport);
SavedMap SaveToMap(const OpenedSurvey& survey);

// ARRANGE ALL IN FOLDER, as asked.
struct FolderRequest {
    QString folder;        // with the trailing separator
    QString combinedName;  // ends in ".txt"
    QString outputFolder;  // with the trailing separator; empty: the folder itself
    OpeningOptions options;
    RefusedSurveys refused = RefusedSurveys::Stop;
    // A folder with no survey throws NoSurveyError and writes nothing.
    bool refuseEmpty = false;
};

// RunFolder, telling `progress` of each survey. With `gis` each survey's
// points and track go to it as the survey is arranged (see StartGis).
FolderRunResult ArrangeFolder(const FolderRequest& request, SessionProgress& progress, ArrangedGis* gis = nullptr);
// The files a folder run wrote: point files, script, the processing's report
// and the list of refused surveys where there are those.
std::vector<QString> WrittenFiles(const FolderRunResult& run);

// What the GIS outputs and the targets of the export at `paths` are to know
// of the points the session arranges: the GeoPackage is begun when one is
// asked for, and the points' origins kept when targets are.
ArrangedGis StartGis(const ExportPaths& paths, const GridRunOptions& options);
// One arranged survey's points (channel, survey file, line, time, field,
// gradient as written and, where processing ran, as arranged), its track
// from the rows' own positions and its points' origins, added to `gis`
// after those before it.
void AddToGis(const SurveyTable& table, const ArrangedPoints& points, const QString& fileName, bool processed,
              ArrangedGis& gis);
void AddToGis(const OpenedSurvey& survey, ArrangedGis& gis);

// The gridding host on the script, with what the session knows of its
// points when it arranged them itself.
GridRunResult Grid(const QString& script, const GridRunOptions& options, SessionProgress& progress,
                   ArrangedGis* arranged = nullptr);

// What a window asks of the gridding beyond its script, in the words of
// qgrad's flags; unset where not asked: --cell METRES, --targets=THRESHOLD,
// --coverage=METRES.
struct GriddingChoices {
    std::optional<std::string> cellMetres;
    std::optional<std::string> targetThreshold;
    std::optional<std::string> coverageGap;
    bool operator==(const GriddingChoices&) const = default;
};
// The choices read as qgrad reads its flags, within the same limits: throws
// std::invalid_argument naming the word that is beyond them.
GridRunOptions GridOptionsOf(const GriddingChoices& choices);
// The words the gridding host is started with before the script: none with
// nothing chosen, so that it grids as it always has.
QStringList GridHostWords(const GriddingChoices& choices);
// A coverage check asks the processing for the figures of the readings
// themselves (dead channels, speed, GPS gaps), at the grid's cell size.
void AskQualityForCoverage(const GridRunOptions& grid, ProcessingSettings& processing);

// The host's grid read back for the window, with what it found as it found
// it: the grid in its own system, the targets and the coverage where
// `options` asks for them.
struct GriddedFindings {
    struct Grid grid;  // the type, not the session's Grid below
    HandoverFindings findings;
};
// `gridded`, where the survey on show is the one gridded, names each
// target's survey file and data line; else the point file and its line.
// Throws GridHostError for a grid or point file that cannot be read.
GriddedFindings ReadGriddedFindings(const ExportPaths& paths, const GridRunOptions& options,
                                    const OpenedSurvey* gridded = nullptr);
// The sample row (0 = the first data row) of `survey` that a point came
// from; nothing when it came from another file.
std::optional<int> SampleRowOf(const OpenedSurvey& survey, const PointOrigin& origin);

}  // namespace qgrad
