// The main window: its controls, the module state of the program's run, and
// the command handlers, each a short sequence of calls into the logic.
#pragma once

#include "app/userinteraction.h"
#include "arrange/arrangedpoints.h"
#include "batch/folderrun.h"
#include "common/errors.h"
#include "export/export.h"
#include "export/hostlauncher.h"
#include "gridhost/handover.h"
#include "gridhost/kriging.h"
#include "gridhost/presentation.h"
#include "mapview/mapframe.h"
#include "mapview/staticmap.h"
#include "pipeline/opensurvey.h"
#include "survey/reader.h"
#include "survey/surveytable.h"

#include <QImage>
#include <QSettings>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QDragEnterEvent;
class QDropEvent;
class QComboBox;
class QDoubleSpinBox;
class QSpinBox;
class QSlider;
class QToolButton;
class QCPAbstractPlottable;
class QCPGraph;
class QCustomPlot;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace qgrad {

class BackgroundJob;
class GridViewer;
class CursorRing;
class MapPicture;
class ProfileChart;
struct ShownSurvey;
class PointTableModel;
class SurveyGrid;
class TargetTableModel;
struct GriddingChoices;
struct GridRunOptions;

// Whose points a gridding took.
enum class GriddedPoints { ShownSurvey, Folder };

// A gridded map read back, and its picture over the satellite map.
struct GriddedResult {
    Grid grid;
    QString scriptFile;
    GriddedPoints points = GriddedPoints::ShownSurvey;
    QImage overlay;  // 650 x 450, transparent where the grid has no value
    // The targets and the coverage asked of the gridding, found as the host found them.
    HandoverFindings findings;
    QImage uncovered;  // 650 x 450, hatched over the ground left uncovered; null without a coverage check
};

// The long job under way on the worker, if any.
enum class WindowJob { None, Opening, Processing, SaveToMap, FolderRun, GisExport, MapRetry, MapCentring };

// State of the program's run, shared by the commands.
struct ModuleState {
    // The survey on show, as far as its opening came. After a folder run it
    // is the run's last survey under the combined name, which the saves take.
    OpenedSurvey survey;
    // The last opening or folder run completed: ARRANGE ALL IN FOLDER may run.
    bool surveyOpen = false;
    // The survey on show was opened (not arranged in a folder run): its
    // processing can run again.
    bool reprocessable = false;
    WindowJob job = WindowJob::None;
    float cursorLon = 0, cursorLat = 0;
    QImage baseMapBitmap;
    QImage trackMapBitmap;
    // Why the map shows the plain fill instead of the satellite picture.
    MapFailureKind mapFailure = MapFailureKind::None;
    std::string mapFailureReason;
    // The map the gridding host made of the last save, once it has made it.
    std::optional<GriddedResult> result;
    // What the processing did to the shown survey (or the folder), for the
    // report beside the outputs; empty with every stage off.
    std::string processingReport;
    // The PROCESSING panel's values when the survey on show was opened.
    ProcessingSettings processingRan;
    int surveysShown = 0;  // counts the surveys shown, so a late result finds its own
};

// Which commands the window offers in a state.
struct EnabledCommands {
    bool open = false;  // OPEN FILE and the recent surveys
    bool save = false;
    bool arrangeAll = false;
    bool gisExport = false;
    bool processing = false;  // the PROCESSING panel
    bool operator==(const EnabledCommands&) const = default;
};
EnabledCommands EnabledFor(const ModuleState& state);

class TMainForm : public QWidget {
    Q_OBJECT
public:
    // Without arguments the window talks to the person and the desktop;
    // tests pass their own.
    // Settings are kept between runs in `settings` (the user's own place
    // when none is given).
    explicit TMainForm(std::unique_ptr<UserInteraction> ui = nullptr, std::unique_ptr<HostLauncher> host = nullptr,
                       std::unique_ptr<MapFetcher> maps = nullptr, std::unique_ptr<QSettings> settings = nullptr);
    ~TMainForm() override;

    // Command handlers.
    void BtnOpenClick();
    void BtnSaveClick();
    void BtnArrangeAllClick();
    // GeoTIFF, KMZ and GeoPackage of the gridded result beside its grid file.
    void BtnGisExportClick();
    void Chart1ClickSeries(QCPAbstractPlottable* series, int valueIndex);
    void Shape1MouseUp();
    // A click on a sample row of the table: its position on the map, as a
    // click on a profile point shows it.
    void DataStringGridRowClick(int sampleRow);
    // A target chosen in the list: the map centred on it, fetched anew, and
    // its nearest sample row selected where that row is the survey on show's.
    void ChooseTarget(int index);

    // OPEN FILE without its dialog: a survey named on the command line,
    // dropped on the window or picked from the recent files.
    void OpenSurveyFile(const QString& path);
    // ARRANGE ALL IN FOLDER on `folder` (chosen, or dropped on the window):
    // asks for the combined name, the folder's own offered.
    void ArrangeFolder(const QString& folder);
    QStringList RecentFiles() const;
    // Shows the window where and as large as it was at the end of the last run.
    void ShowAsLastTime();

    const ModuleState& state() const { return state_; }
    // An opening or a folder run is under way on the worker; the commands
    // are disabled until its result is shown.
    bool IsWorking() const;

    // Controls, named as the program's documentation names them.
    MapPicture* SurveyMap = nullptr;
    QCustomPlot* Chart1 = nullptr;
    QWidget* TopPanel = nullptr;
    QWidget* ButtonPanel = nullptr;
    QPushButton* BtnOpen = nullptr;
    QPushButton* BtnSave = nullptr;
    QPushButton* BtnArrangeAll = nullptr;
    QPushButton* BtnArrange = nullptr;
    QCheckBox* AvgHeadingCheckBox = nullptr;
    QCheckBox* ArrSignalsCheckBox = nullptr;
    SurveyGrid* DataStringGrid = nullptr;
    QTableView* DiffGpsStringGrid = nullptr;
    QTableView* AbsGpsStringGrid = nullptr;
    CursorRing* Shape1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QLabel* ImgStart = nullptr;
    QLabel* ImgEnd = nullptr;
    QProgressBar* ArrangeAllProgress = nullptr;  // shown while an opening or ARRANGE ALL IN FOLDER runs
    QToolButton* BtnRecent = nullptr;            // the recent surveys
    QPushButton* BtnGisExport = nullptr;
    QWidget* ResultOverlay = nullptr;            // over the map: the gridded result's toggle and opacity
    QCheckBox* ResultOverlayCheckBox = nullptr;
    QSlider* ResultOpacity = nullptr;
    // PROCESSING: the stages the next opening runs.
    QWidget* ProcessingPanel = nullptr;
    QCheckBox* DespikeCheckBox = nullptr;
    QDoubleSpinBox* DespikeK = nullptr;
    QSpinBox* DespikeHalfWidth = nullptr;
    QCheckBox* TrueOffsetsCheckBox = nullptr;
    QComboBox* DestripeCombo = nullptr;
    QComboBox* LagCombo = nullptr;
    QDoubleSpinBox* LagSeconds = nullptr;
    QPushButton* BtnApplyProcessing = nullptr;  // shown while the panel differs from what the points on show carry
    QCheckBox* SkipRefusedCheckBox = nullptr;  // ARRANGE ALL IN FOLDER goes on past a refused survey
    // Beside PROCESSING: what the gridding of the next save or folder run is
    // asked for, in the drop-down of a button that says it.
    QToolButton* GriddingButton = nullptr;
    QCheckBox* CellCheckBox = nullptr;  // off: the script's grid
    QDoubleSpinBox* CellMetres = nullptr;
    QCheckBox* TargetsCheckBox = nullptr;
    QComboBox* TargetThreshold = nullptr;  // editable: Ksd or nT/m, as qgrad grid --targets takes it
    QCheckBox* CoverageCheckBox = nullptr;
    QDoubleSpinBox* CoverageGap = nullptr;
    QCheckBox* UncoveredCheckBox = nullptr;  // with the result's controls: the hatched uncovered ground
    QLabel* FindingsHeader = nullptr;        // over the target list: the targets found, the ground covered
    QTableView* TargetList = nullptr;
    QLabel* StatusBar = nullptr;                 // what was written, what is under the mouse
    QLabel* GriddingStatus = nullptr;            // what the gridding host does
    QLabel* ProcessingShown = nullptr;           // by the profiles: the processing of the points on show
    QLabel* StartHint = nullptr;                 // over the empty map: how to begin
    GridViewer* ResultViewer = nullptr;          // the last map our own gridding host made, once there is one
    ProfileChart* Profiles = nullptr;
    // Series1 .. Series12 are Chart1's graphs 0 .. 11, one per channel.
    QCPGraph* Series(int number) const;

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void FormCreate();
    void FormResize();
    void CreateControls();
    void CreateChart();
    void CouplePointTables();
    void CreateShortcuts();
    void CreateProcessingPanel();
    // Places the PROCESSING controls in rows `width` wide; returns the height they take.
    int PlaceProcessingControls(int width);
    ProcessingSettings CurrentProcessing() const;
    void CreateGriddingControls();
    GriddingChoices CurrentGriddingWords() const;
    void ShowGriddingChoices();
    // The gridding asked for; nothing, once the person has been told why,
    // where a value is beyond what qgrad's flags take.
    std::optional<GriddingChoices> CurrentGridding();
    void RestoreSettings();
    // The window's place and size as kept, within this screen; false when none
    // was kept.
    bool RestoreGeometry();
    void RememberRecent(const QString& path);
    void ShowStatus(const QString& text);
    // What the gridding host does, with a detail for its tooltip.
    void ShowGridding(const QString& text, const QString& detail = {});
    // `text` on `label`, cut to its width at an ellipsis; whole as its tooltip (or `detail`).
    static void ShowElided(QLabel* label, const QString& text, const QString& detail = {});
    void ShowWritten(const QStringList& files);
    // The processing report's first lines, in one line.
    QString ProcessingSummary() const;
    // The label by the profiles follows the survey on show and the panel.
    void ShowProcessingLabel();
    void StartGridding(const ExportPaths& paths, GriddedPoints points, const GriddingChoices& gridding);
    // The host's picture in the one viewer, beside the window or over its map.
    void ShowInViewer(const QString& pictureFile);
    // The window manager's frame around this window, or a likely one before it is framed.
    QMargins WindowFrame() const;
    void ShowResult(const ExportPaths& paths, GriddedPoints points, const GridRunOptions& options);
    // The result's pictures over the map follow the map's frame.
    void DrawResultOverlays();
    // The target list and its header follow the result.
    void ShowFindings();
    // The satellite picture of the survey's frame fetched on the worker as
    // the window's job `kind`, the result's pictures and the markers following.
    void FetchMapPicture(WindowJob kind);
    // The satellite picture with the track, and the result over it when shown.
    void ShowMapPicture();
    // The composed map becomes the one on show, with the notice of its failure.
    void ShowComposedMap(const ComposedMap& map);
    // The satellite picture of the survey on show asked for again, on the worker.
    void RetryMap();
    Presentation ResultPresentation() const;

    // Runs on the worker: the map and the chart's data of an opened survey.
    std::shared_ptr<ShownSurvey> PrepareToShow(OpenedSurvey&& survey);
    // On the window's thread: the views follow the survey, as far as it was opened.
    void ShowSurvey(ShownSurvey& shown);
    void ShowProfiles();
    void ClearSurveyViews();
    // The survey and point tables and every view of the survey emptied.
    void ClearSurvey();
    void FinishOpening(const std::shared_ptr<ShownSurvey>& shown, const std::optional<SurveyFormatError>& refusal);
    void FinishFolderRun(FolderRunResult& run, const GriddingChoices& gridding);
    // The point tables take `points`, their views following.
    void ReplacePoints(ArrangedPoints&& points);
    // The panel's processing run again on the survey on show, without reading its file.
    void ApplyProcessing();
    // Runs `work` on the worker as the window's one long job: the commands
    // wait meanwhile, and `finished` runs on the window's thread once it has
    // ended (with its failure, if any), before the commands follow the state.
    void RunJob(WindowJob kind, const QString& progressFormat, std::function<void()> work,
                std::function<void(const std::exception_ptr&)> finished);
    // The commands follow the state.
    void UpdateCommands();
    // The hint over the empty views, while nothing is on show and nothing is being opened.
    void ShowStartHint();
    // The options of the next opening; nothing, once the person has been
    // told why, where the processing's values are beyond what can be meant.
    std::optional<OpeningOptions> CurrentOpeningOptions();
    // Clears the survey and point tables with their views following.
    class TableUpdate;
    void PlaceStartEndMarkers();
    void PlaceCursorMarker();
    // The cursor ring and the start and end markers at their positions on the map as framed now.
    void PlaceMapMarkers();
    // The cursor ring at a data row's position.
    void ShowCursorAtRow(int row);

    // Runs a handler so that no exception crosses the event loop: what the
    // command does not catch is shown in the message box.
    void Guarded(const std::function<void()>& handler);
    static QString FailureDetail(const std::exception& failure);

    ModuleState state_;
    std::unique_ptr<UserInteraction> ui_;
    std::unique_ptr<HostLauncher> host_;
    std::unique_ptr<MapFetcher> maps_;
    PointTableModel* diffModel_ = nullptr;
    PointTableModel* absModel_ = nullptr;
    TargetTableModel* targetModel_ = nullptr;
    std::unique_ptr<QSettings> settings_;
    QString lastMessage_;  // the status line's message, back when the mouse leaves the profiles
    QString griddingMessage_;
    QString findingsMessage_;  // over the target list, cut to its width
    std::unique_ptr<BackgroundJob> job_;
};

}  // namespace qgrad
