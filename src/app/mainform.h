// The main window: its controls, the module state of the program's run, and
// the command handlers, each a short sequence of calls into the logic.
#pragma once

#include "app/userinteraction.h"
#include "arrange/arrangedpoints.h"
#include "export/hostlauncher.h"
#include "mapview/mapframe.h"
#include "mapview/staticmap.h"
#include "survey/reader.h"
#include "survey/surveytable.h"

#include <QImage>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QCheckBox;
class QCPAbstractPlottable;
class QCPGraph;
class QCustomPlot;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;

namespace qgrad {

class CursorRing;
class MapPicture;
class PointTableModel;
class SurveyGrid;

// State of the program's run, shared by the commands.
struct ModuleState {
    SurveyTable survey;
    SurveyGeometry geometry;  // SensorOffsetX/Y, LatitudeSign, LongitudeSign
    ArrangedPoints points;    // AbsGpsStringGrid and DiffGpsStringGrid
    QString surveyFileName;
    QString surveyFolder;  // with the trailing separator
    std::vector<float> trackLongitudes{0.0f};
    std::vector<float> trackLatitudes{0.0f};
    float startLon = 0, startLat = 0, endLon = 0, endLat = 0;
    float cursorLon = 0, cursorLat = 0;
    MapFrame frame;  // CentreLon, CentreLat, MapZoom
    QImage baseMapBitmap;
    QImage trackMapBitmap;
};

class TMainForm : public QWidget {
    Q_OBJECT
public:
    // Without arguments the window talks to the person and the desktop;
    // tests pass their own.
    explicit TMainForm(std::unique_ptr<UserInteraction> ui = nullptr, std::unique_ptr<HostLauncher> host = nullptr,
                       std::unique_ptr<MapFetcher> maps = nullptr);
    ~TMainForm() override;

    // Command handlers.
    void BtnOpenClick();
    void BtnSaveClick();
    void BtnArrangeAllClick();
    void BtnArrangeClick();
    void Chart1ClickSeries(QCPAbstractPlottable* series, int valueIndex);
    void Shape1MouseUp();

    const ModuleState& state() const { return state_; }

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
    QProgressBar* ArrangeAllProgress = nullptr;  // shown while ARRANGE ALL IN FOLDER runs
    // Series1 .. Series14 are Chart1's graphs 0 .. 13.
    QCPGraph* Series(int number) const;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void FormCreate();
    void FormResize();
    void CreateControls();
    void CreateChart();
    void CouplePointTables();

    // Steps 6 to 14 of opening a survey; the folder command runs them for
    // every file. Throws SurveyFormatError.
    void CleanArrangeAndShow(ReaderVariant variant, ZoomPrecision zoomPrecision);
    void ShowProfiles();
    // Clears the survey and point tables with their views following.
    class TableUpdate;
    void FitMapToTrack(ZoomPrecision precision);
    void LoadSurveyMap();
    void PlaceStartEndMarkers();
    void PlaceCursorMarker();

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
};

}  // namespace qgrad
