#include "app/mainform.h"

#include "app/backgroundjob.h"
#include "app/mapwidgets.h"
#include "app/profilechart.h"
#include "app/slategray.h"
#include "app/surveygrid.h"
#include "app/tablemodels.h"
#include "app/windowplace.h"
#include "cli/gridviewer.h"
#include "batch/folderrun.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "common/language.h"
#include "common/numtext.h"
#include "export/export.h"
#include "gridhost/contourmap.h"
#include "gridhost/gridfile.h"
#include "gridhost/gridjob.h"
#include "gridhost/gridoverlay.h"
#include "gridhost/gridrun.h"
#include "gridhost/printmap.h"
#include "mapview/overlay.h"
#include "mapview/markers.h"
#include "session/session.h"

#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenu>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QLocale>
#include <QSpinBox>
#include <QStyle>
#include <QScreen>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QWidgetAction>
#include <QMimeData>
#include <QPainter>
#include <QSlider>
#include <QSettings>
#include <QShortcut>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTableView>
#include <qcustomplot.h>

#include <algorithm>
#include <array>

// The marker pictures live in this static library; Q_INIT_RESOURCE must stand
// outside any namespace.
static void InitMarkerResources() { Q_INIT_RESOURCE(markers); }

namespace qgrad {
namespace {

constexpr int kStatusHeight = 20;
constexpr int kRecentFiles = 8;
constexpr int kLeastViewerWidth = 320;  // narrower beside the window, the viewer goes over the map

// Settings kept between runs.
const char* const kGeometryKey = "window/geometry";
const char* const kOpenFolderKey = "folders/open";
const char* const kRecentKey = "recentFiles";
const char* const kAverageHeadingKey = "options/averageHeading";
const char* const kLevelSignalsKey = "options/arrangeSignalLevels";
const char* const kPaletteKey = "result/palette";  // as qgrad grid --palette takes it
const char* const kClipKey = "result/clip";        // as qgrad grid --clip takes it
const char* const kDespikeKey = "processing/despike";
const char* const kDespikeKKey = "processing/despikeK";
const char* const kDespikeHalfWidthKey = "processing/despikeHalfWidth";
const char* const kTrueOffsetsKey = "processing/trueOffsets";
const char* const kDestripeKey = "processing/destripe";  // 0 off, 1 median, 2 mean
const char* const kLagKey = "processing/lag";            // 0 off, 1 seconds, 2 auto
const char* const kLagSecondsKey = "processing/lagSeconds";
const char* const kSkipRefusedKey = "folder/skipRefused";
const char* const kCellOnKey = "gridding/cell";
const char* const kCellMetresKey = "gridding/cellMetres";
const char* const kTargetsOnKey = "gridding/targets";
const char* const kTargetThresholdKey = "gridding/targetThreshold";  // as qgrad grid --targets takes it
const char* const kCoverageOnKey = "gridding/coverage";
const char* const kCoverageGapKey = "gridding/coverageGap";
constexpr double kDefaultCellMetres = 0.25;
const char* const kDefaultTargetThreshold = "6sd";
constexpr double kDefaultCoverageGap = 1.0;
constexpr int kTargetRowHeight = 20;
constexpr int kProcessingHeight = 28;

QPushButton* MakeButton(QWidget* parent, const QString& caption, int x, int y, int w, int h) {
    auto* b = new QPushButton(caption, parent);
    b->setGeometry(x, y, w, h);
    return b;
}

// Tells a point table's model whether its view is on show.
class PointGridShown : public QObject {
public:
    PointGridShown(QTableView* view, PointTableModel* model) : QObject(view), model_(model) {
        view->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Show) model_->SetOnShow(true);
        if (event->type() == QEvent::Hide) model_->SetOnShow(false);
        return false;
    }

private:
    PointTableModel* model_;
};

// The values the PROCESSING panel sets.
bool SameProcessing(const ProcessingSettings& a, const ProcessingSettings& b) {
    return a.trueOffsets == b.trueOffsets && a.despike.on == b.despike.on && a.despike.k == b.despike.k &&
           a.despike.halfWidth == b.despike.halfWidth && a.destripe.level == b.destripe.level && a.lag.mode == b.lag.mode &&
           a.lag.seconds == b.lag.seconds;
}

QTableView* MakePointGrid(QWidget* parent, PointTableModel* model, const QColor& background, QRect geometry) {
    auto* v = new QTableView(parent);
    v->setModel(model);
    new PointGridShown(v, model);
    v->setGeometry(geometry);
    v->horizontalHeader()->hide();
    v->verticalHeader()->hide();
    v->horizontalHeader()->setDefaultSectionSize(70);
    v->verticalHeader()->setDefaultSectionSize(20);
    v->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    v->setSelectionBehavior(QAbstractItemView::SelectRows);
    v->setEditTriggers(QAbstractItemView::NoEditTriggers);
    QPalette p = v->palette();
    p.setColor(QPalette::Base, background);
    p.setColor(QPalette::Text, Qt::black);
    v->setPalette(p);
    v->hide();
    return v;
}

}  // namespace

TMainForm::TMainForm(std::unique_ptr<UserInteraction> ui, std::unique_ptr<HostLauncher> host,
                     std::unique_ptr<MapFetcher> maps, std::unique_ptr<QSettings> settings)
    : ui_(ui ? std::move(ui) : std::make_unique<WidgetInteraction>(this)),
      host_(host ? std::move(host) : std::make_unique<SystemHostLauncher>()),
      maps_(std::move(maps)),
      settings_(settings ? std::move(settings) : std::make_unique<QSettings>("Quenor", "Quenor GRAD")),
      job_(std::make_unique<BackgroundJob>()) {
    if (!maps_) maps_ = std::make_unique<CurlMapFetcher>(MapServiceSettings(*settings_));
    InitMarkerResources();
    setWindowTitle("Quenor GRADIOMETER");
    resize(892, 508 + kStatusHeight);
    setAcceptDrops(true);
    CreateControls();
    CreateShortcuts();
    FormCreate();
    RestoreSettings();
}

TMainForm::~TMainForm() {
    maps_->Cancel();  // a map request that hangs does not hold the closing window
    job_->Stop();     // the work uses the window's members: it ends first
    settings_->setValue(kGeometryKey, saveGeometry());
}

QCPGraph* TMainForm::Series(int number) const { return Chart1->graph(number - 1); }

void TMainForm::CreateControls() {
    SurveyMap = new MapPicture(this);
    connect(SurveyMap, &MapPicture::retryRequested, this, [this] { Guarded([this] { RetryMap(); }); });
    CreateChart();

    TopPanel = new QWidget(this);
    ButtonPanel = new QWidget(TopPanel);
    BtnOpen = MakeButton(ButtonPanel, "OPEN FILE", 8, 8, 73, 25);
    BtnSave = MakeButton(ButtonPanel, "SAVE TO MAP", 87, 8, 90, 25);
    BtnArrangeAll = MakeButton(ButtonPanel, "ARRANGE ALL IN FOLDER", 183, 8, 154, 25);
    BtnArrange = MakeButton(ButtonPanel, "ARRANGE TO GPS", 142, 10, 114, 25);
    BtnArrange->setEnabled(false);
    BtnArrange->hide();
    AvgHeadingCheckBox = new QCheckBox("AVERAGE THE HEADING", ButtonPanel);
    AvgHeadingCheckBox->move(504, 3);
    ArrSignalsCheckBox = new QCheckBox("ARRANGE SIGNAL LEVELS", ButtonPanel);
    ArrSignalsCheckBox->move(504, 22);
    BtnRecent = new QToolButton(ButtonPanel);
    BtnRecent->setText(tr("Recent"));
    BtnRecent->setToolTip(tr("Surveys opened recently"));
    BtnRecent->setPopupMode(QToolButton::InstantPopup);
    BtnRecent->setMenu(new QMenu(BtnRecent));
    BtnRecent->setGeometry(439, 8, std::max(60, BtnRecent->sizeHint().width()), 25);
    // The three captions above are the program's own in every language; this one follows the interface's.
    BtnGisExport = MakeButton(ButtonPanel, tr("GIS EXPORT"), 343, 8, 90, 25);
    BtnGisExport->resize(std::max(90, BtnGisExport->sizeHint().width()), 25);
    BtnGisExport->setToolTip(tr("GeoTIFF, KMZ and GeoPackage of the gridded map"));
    connect(BtnRecent->menu(), &QMenu::aboutToShow, this, [this] {
        QMenu* menu = BtnRecent->menu();
        menu->clear();
        for (const QString& path : RecentFiles())
            menu->addAction(QDir::toNativeSeparators(path), this, [this, path] { OpenSurveyFile(path); });
        if (menu->isEmpty()) menu->addAction(tr("No surveys yet"))->setEnabled(false);
    });
    ArrangeAllProgress = new QProgressBar(this);
    ArrangeAllProgress->setFormat("%v of %m");
    ArrangeAllProgress->hide();
    for (QCheckBox* box : {AvgHeadingCheckBox, ArrSignalsCheckBox}) {
        box->setChecked(true);
        box->hide();
    }

    CreateProcessingPanel();
    CreateGriddingControls();
    // By the profiles: the processing the points on show carry, which SAVE TO MAP writes.
    ProcessingShown = new QLabel(Chart1);
    ProcessingShown->setContentsMargins(4, 1, 4, 1);
    ProcessingShown->setAutoFillBackground(true);
    // Over the empty map until a survey is on show: the three ways to begin.
    StartHint = new QLabel(tr("Open a survey with OPEN FILE, drop a survey file or a folder on the window, or pick one under Recent."),
                           this);
    StartHint->setObjectName("StartHint");
    StartHint->setWordWrap(true);
    StartHint->setAlignment(Qt::AlignCenter);
    StartHint->setMargin(10);
    StartHint->setAutoFillBackground(true);
    StartHint->setFrameShape(QFrame::StyledPanel);
    DataStringGrid = new SurveyGrid(state_.survey.table, TopPanel);
    connect(DataStringGrid, &SurveyGrid::sampleRowChosen, this,
            [this](int row) { Guarded([=, this] { DataStringGridRowClick(row); }); });

    // Over the map's lower left corner: the gridded result over the picture.
    ResultOverlay = new QWidget(this);
    ResultOverlay->setAutoFillBackground(true);
    ResultOverlayCheckBox = new QCheckBox(tr("Result over map"), ResultOverlay);
    ResultOverlayCheckBox->setChecked(true);
    ResultOpacity = new QSlider(Qt::Horizontal, ResultOverlay);
    ResultOpacity->setRange(0, 100);
    ResultOpacity->setValue(70);
    ResultOpacity->setToolTip(tr("Opacity of the result"));
    UncoveredCheckBox = new QCheckBox(tr("Uncovered"), ResultOverlay);
    UncoveredCheckBox->setToolTip(tr("Hatch the ground farther than the coverage check's distance from every point"));
    UncoveredCheckBox->setChecked(true);
    UncoveredCheckBox->hide();
    auto* overlayRow = new QHBoxLayout(ResultOverlay);
    overlayRow->setContentsMargins(4, 2, 4, 2);
    overlayRow->addWidget(ResultOverlayCheckBox);
    overlayRow->addWidget(ResultOpacity);
    overlayRow->addWidget(UncoveredCheckBox);
    ResultOverlay->resize(ResultOverlay->sizeHint().expandedTo(QSize(220, 0)));
    ResultOverlay->hide();
    connect(ResultOverlayCheckBox, &QCheckBox::toggled, this, [this] { ShowMapPicture(); });
    connect(UncoveredCheckBox, &QCheckBox::toggled, this, [this] { ShowMapPicture(); });
    connect(ResultOpacity, &QSlider::valueChanged, this, [this] { ShowMapPicture(); });

    // Beside the survey table: the targets the gridding found.
    FindingsHeader = new QLabel(TopPanel);
    FindingsHeader->setContentsMargins(8, 0, 8, 0);
    FindingsHeader->hide();
    targetModel_ = new TargetTableModel(this);
    TargetList = new QTableView(TopPanel);
    TargetList->setModel(targetModel_);
    TargetList->verticalHeader()->hide();
    TargetList->verticalHeader()->setDefaultSectionSize(kTargetRowHeight);
    TargetList->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    TargetList->horizontalHeader()->setSectionResizeMode(TargetTableModel::SurveyFile, QHeaderView::Stretch);
    TargetList->setSelectionBehavior(QAbstractItemView::SelectRows);
    TargetList->setSelectionMode(QAbstractItemView::SingleSelection);
    TargetList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    TargetList->hide();
    connect(TargetList->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) Guarded([=, this] { ChooseTarget(current.row()); });
            });

    GriddingStatus = new QLabel(this);
    GriddingStatus->setContentsMargins(6, 0, 6, 0);
    GriddingStatus->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    StatusBar = new QLabel(this);
    StatusBar->setContentsMargins(6, 0, 6, 0);
    StatusBar->setAutoFillBackground(true);

    diffModel_ = new PointTableModel(state_.survey.points, PointTable::Gradient, this);
    absModel_ = new PointTableModel(state_.survey.points, PointTable::Absolute, this);
    DiffGpsStringGrid = MakePointGrid(TopPanel, diffModel_, QColor(0xA6, 0xCA, 0xF0), QRect(361, 47, 217, 172));
    DiffGpsStringGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    DiffGpsStringGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    AbsGpsStringGrid = MakePointGrid(TopPanel, absModel_, QColor(0xC0, 0xDC, 0xC0), QRect(602, 45, 217, 172));
    AbsGpsStringGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    CouplePointTables();

    // Over the map: the cursor ring, its label and the two markers.
    Shape1 = new CursorRing(this);
    Shape1->hide();
    Edit1 = new QLineEdit("Longitude, Latitude", this);
    Edit1->setReadOnly(true);
    Edit1->setFrame(false);
    Edit1->setAlignment(Qt::AlignCenter);
    Edit1->resize(185, 19);
    // Bold, 13 pixels high where the widest coordinates fit the 185 pixels;
    // smaller where the platform's font runs wider.
    QFont labelFont("MS Sans Serif");
    labelFont.setBold(true);
    for (int px = 13; px >= 9; --px) {
        labelFont.setPixelSize(px);
        if (QFontMetrics(labelFont).horizontalAdvance("-180.00000000, -90.00000000") <= 181) break;
    }
    Edit1->setFont(labelFont);
    Edit1->setStyleSheet("QLineEdit { background: black; color: white; border: none; }");
    Edit1->hide();
    ImgStart = new QLabel(this);
    ImgStart->setPixmap(QPixmap(":/markers/start.png"));
    ImgStart->resize(25, 25);
    ImgEnd = new QLabel(this);
    ImgEnd->setPixmap(QPixmap(":/markers/end.png"));
    ImgEnd->resize(42, 24);
    for (QLabel* img : {ImgStart, ImgEnd}) {
        img->setAttribute(Qt::WA_TranslucentBackground);
        img->hide();
    }

    connect(BtnOpen, &QPushButton::clicked, this, [this] { Guarded([this] { BtnOpenClick(); }); });
    connect(BtnSave, &QPushButton::clicked, this, [this] { Guarded([this] { BtnSaveClick(); }); });
    connect(BtnArrangeAll, &QPushButton::clicked, this, [this] { Guarded([this] { BtnArrangeAllClick(); }); });
    connect(BtnGisExport, &QPushButton::clicked, this, [this] { Guarded([this] { BtnGisExportClick(); }); });
    const auto followPanel = [this] { ShowProcessingLabel(); };
    for (QCheckBox* box : {DespikeCheckBox, TrueOffsetsCheckBox}) connect(box, &QCheckBox::toggled, this, followPanel);
    for (QComboBox* combo : {DestripeCombo, LagCombo}) connect(combo, &QComboBox::currentIndexChanged, this, followPanel);
    for (QDoubleSpinBox* spin : {DespikeK, LagSeconds}) connect(spin, &QDoubleSpinBox::valueChanged, this, followPanel);
    connect(DespikeHalfWidth, &QSpinBox::valueChanged, this, followPanel);
    connect(BtnApplyProcessing, &QPushButton::clicked, this, [this] { Guarded([this] { ApplyProcessing(); }); });
    connect(Shape1, &CursorRing::released, this, [this] { Guarded([this] { Shape1MouseUp(); }); });
    connect(Chart1, &QCustomPlot::plottableClick, this, [this](QCPAbstractPlottable* p, int index, QMouseEvent*) {
        // The chart holds only the points that shape each pixel column; the
        // click names the profile point itself.
        for (int k = 0; k < kChannels; ++k)
            if (Series(k + 1) == p) index = Profiles->PointIndexOf(k, index);
        Guarded([=, this] { Chart1ClickSeries(p, index); });
    });
}

void TMainForm::CreateChart() {
    Chart1 = new QCustomPlot(this);
    Chart1->setNoAntialiasingOnDrag(true);
    Chart1->legend->setVisible(false);
    Chart1->axisRect()->setAutoMargins(QCP::msLeft | QCP::msBottom);
    Chart1->axisRect()->setMargins(QMargins(1, 8, 2, 0));
    QFont verdana("Verdana");
    verdana.setPixelSize(11);
    for (QCPAxis* axis : {Chart1->xAxis, Chart1->yAxis}) {
        axis->setBasePen(QPen(QColor(0x40, 0x40, 0x40)));
        axis->setTickPen(QPen(QColor(0xA9, 0xA9, 0xA9)));
        axis->setSubTickPen(QPen(QColor(0xA9, 0xA9, 0xA9)));
        axis->grid()->setPen(QPen(QColor(0xA9, 0xA9, 0xA9), 1, Qt::DotLine));
        axis->setTickLabelFont(verdana);
        axis->setLabelFont(verdana);
    }
    Chart1->xAxis->setRange(0, 1000);

    // The back wall: #EAEAEA at the bottom to white at the top.
    QLinearGradient wall(0, 1, 0, 0);
    wall.setCoordinateMode(QGradient::ObjectBoundingMode);
    wall.setColorAt(0, QColor(0xEA, 0xEA, 0xEA));
    wall.setColorAt(1, Qt::white);
    Chart1->axisRect()->setBackground(QBrush(wall));

    for (int i = 0; i < kChannels; ++i) {
        QCPGraph* g = Chart1->addGraph();
        g->setAdaptiveSampling(true);
        g->setSelectable(QCP::stNone);
    }
    Profiles = new ProfileChart(Chart1, kChannels);
    // What lies under the mouse, in place of the last message while it is there.
    connect(Profiles, &ProfileChart::hovered, this,
            [this](const QString& text) { ShowElided(StatusBar, text.isEmpty() ? lastMessage_ : text); });
    // The readout of the point under the mouse goes with the mouse.
    Chart1->installEventFilter(this);
}

void TMainForm::CreateProcessingPanel() {
    // The controls are placed by FormResize, in as many rows as the panel's
    // width asks, in the order they are made here.
    ProcessingPanel = new QWidget(TopPanel);
    new QLabel(tr("PROCESSING:"), ProcessingPanel);
    TrueOffsetsCheckBox = new QCheckBox(tr("true offsets"), ProcessingPanel);
    TrueOffsetsCheckBox->setToolTip(tr("Place each sensor at its offsets in metres from the antenna"));
    DespikeCheckBox = new QCheckBox(tr("despike, K"), ProcessingPanel);
    DespikeK = new QDoubleSpinBox(ProcessingPanel);
    // Wider than the limits a surveyor can mean, so that a value beyond them
    // is refused with the reason, as qgrad refuses it, not cut silently.
    DespikeK->setRange(0.1, 50);
    DespikeK->setDecimals(1);
    DespikeK->setValue(5);
    DespikeCheckBox->setToolTip(tr("Replace readings further than K robust deviations from their neighbours' median"));
    DespikeHalfWidth = new QSpinBox(ProcessingPanel);
    DespikeHalfWidth->setRange(1, 20);
    DespikeHalfWidth->setValue(DespikeSettings{}.halfWidth);
    DespikeHalfWidth->setPrefix(tr("window ±"));
    DespikeHalfWidth->setToolTip(tr("Readings on each side of the one judged; a spike as long as this is still found"));
    DestripeCombo = new QComboBox(ProcessingPanel);
    DestripeCombo->addItems({tr("no destripe"), tr("destripe: median"), tr("destripe: mean")});
    DestripeCombo->setToolTip(tr("Take each sensor's level off each traverse"));
    LagCombo = new QComboBox(ProcessingPanel);
    LagCombo->addItems({tr("no lag"), tr("lag, s:"), tr("lag: auto")});
    LagCombo->setToolTip(tr("Place each reading at the position this many seconds after it"));
    LagSeconds = new QDoubleSpinBox(ProcessingPanel);
    LagSeconds->setRange(-99.99, 99.99);
    LagSeconds->setDecimals(2);
    LagSeconds->setSingleStep(0.01);
    // Numbers are written with a point whatever the region, as in the files the program writes.
    for (QDoubleSpinBox* spin : {DespikeK, LagSeconds}) spin->setLocale(QLocale::c());
    BtnApplyProcessing = new QPushButton(tr("Apply to the survey on show"), ProcessingPanel);
    BtnApplyProcessing->setToolTip(tr("Run the processing again on the points on show, without reading the file"));
    BtnApplyProcessing->hide();
    SkipRefusedCheckBox = new QCheckBox(tr("skip refused surveys"), ProcessingPanel);
    SkipRefusedCheckBox->setToolTip(tr("ARRANGE ALL IN FOLDER goes on past a survey it cannot take and lists it"));
    // The settings take effect at the next opening.
    connect(LagCombo, &QComboBox::currentIndexChanged, this,
            [this](int mode) { LagSeconds->setEnabled(mode == 1); });
    LagSeconds->setEnabled(false);
}

void TMainForm::CreateGriddingControls() {
    // One button in the PROCESSING panel's rows saying what is asked, the
    // controls in its drop-down: the panel keeps its rows on a small window.
    // They take effect at the next SAVE TO MAP or folder run.
    GriddingButton = new QToolButton(ProcessingPanel);
    GriddingButton->setPopupMode(QToolButton::InstantPopup);
    GriddingButton->setToolTip(tr("What the gridding of the next SAVE TO MAP or folder run makes besides the map"));
    auto* menu = new QMenu(GriddingButton);
    auto* controls = new QWidget(menu);
    auto* rows = new QGridLayout(controls);
    rows->setContentsMargins(8, 6, 8, 6);
    CellCheckBox = new QCheckBox(tr("cell, m"), controls);
    CellCheckBox->setToolTip(tr("Square cells of this size in the survey's UTM zone; off: the script's grid"));
    CellMetres = new QDoubleSpinBox(controls);
    TargetsCheckBox = new QCheckBox(tr("targets beyond"), controls);
    TargetsCheckBox->setToolTip(tr("Pick anomalies beyond this from the grid's median: Ksd (robust standard deviations) or nT/m"));
    TargetThreshold = new QComboBox(controls);
    TargetThreshold->setEditable(true);
    TargetThreshold->addItems({"3sd", "6sd", "10sd"});
    TargetThreshold->setToolTip(TargetsCheckBox->toolTip());
    CoverageCheckBox = new QCheckBox(tr("coverage, gap m"), controls);
    CoverageCheckBox->setToolTip(tr("Find the ground of the block farther than this from every point"));
    CoverageGap = new QDoubleSpinBox(controls);
    const std::pair<QCheckBox*, QWidget*> pairs[] = {
        {CellCheckBox, CellMetres}, {TargetsCheckBox, TargetThreshold}, {CoverageCheckBox, CoverageGap}};
    for (int r = 0; r < 3; ++r) {
        rows->addWidget(pairs[r].first, r, 0);
        rows->addWidget(pairs[r].second, r, 1);
    }
    auto* action = new QWidgetAction(menu);
    action->setDefaultWidget(controls);
    menu->addAction(action);
    GriddingButton->setMenu(menu);
    // As the processing's numbers: wider than qgrad's limits, so that a
    // value beyond them is refused with qgrad's reason, not cut silently.
    CellMetres->setRange(0.001, 10000);
    CellMetres->setDecimals(3);
    CellMetres->setSingleStep(0.05);
    CoverageGap->setRange(0, 1000);
    CoverageGap->setDecimals(2);
    CoverageGap->setSingleStep(0.25);
    for (QDoubleSpinBox* spin : {CellMetres, CoverageGap}) spin->setLocale(QLocale::c());
    const auto follow = [](QCheckBox* box, QWidget* value) {
        value->setEnabled(box->isChecked());
        connect(box, &QCheckBox::toggled, value, &QWidget::setEnabled);
    };
    // The button's text follows, and its row in the panel with it.
    const auto said = [this] {
        ShowGriddingChoices();
        FormResize();
    };
    for (const auto& [box, value] : pairs) {
        follow(box, value);
        connect(box, &QCheckBox::toggled, this, said);
    }
    for (QDoubleSpinBox* spin : {CellMetres, CoverageGap}) connect(spin, &QDoubleSpinBox::valueChanged, this, said);
    connect(TargetThreshold, &QComboBox::currentTextChanged, this, said);
    ShowGriddingChoices();
}

void TMainForm::ShowGriddingChoices() {
    const GriddingChoices c = CurrentGriddingWords();
    QStringList asked;
    if (c.cellMetres) asked << PageText("%1 m").arg(QString::fromStdString(*c.cellMetres));  // a length as the page writes it
    if (c.targetThreshold) asked << tr("targets %1").arg(QString::fromStdString(*c.targetThreshold));
    if (c.coverageGap) asked << tr("coverage %1 m").arg(QString::fromStdString(*c.coverageGap));
    GriddingButton->setText(tr("GRIDDING: %1").arg(asked.isEmpty() ? tr("as the script") : asked.join(", ")));
}

GriddingChoices TMainForm::CurrentGriddingWords() const {
    GriddingChoices c;
    if (CellCheckBox->isChecked()) c.cellMetres = FormatGeneral(CellMetres->value());
    if (TargetsCheckBox->isChecked()) c.targetThreshold = TargetThreshold->currentText().trimmed().toStdString();
    if (CoverageCheckBox->isChecked()) c.coverageGap = FormatGeneral(CoverageGap->value());
    return c;
}

std::optional<GriddingChoices> TMainForm::CurrentGridding() {
    const GriddingChoices c = CurrentGriddingWords();
    try {
        GridOptionsOf(c);
    } catch (const std::invalid_argument& refused) {
        ui_->ShowMessage(QString::fromStdString(refused.what()));
        return std::nullopt;
    }
    return c;
}

int TMainForm::PlaceProcessingControls(int width) {
    // Left to right in the order they are read, a control that would not fit
    // whole starting the next row: every one stays on show at any width.
    constexpr int kMargin = 8, kSpacing = 4, kBottom = 2;
    const QList<QWidget*> controls = ProcessingPanel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    int x = kMargin, y = 0, rowHeight = 0;
    for (QWidget* w : controls) {
        if (!w->isVisibleTo(ProcessingPanel)) continue;
        const QSize size = w->sizeHint();
        if (x > kMargin && x + size.width() > width - kMargin) {
            x = kMargin;
            y += rowHeight + kSpacing;
            rowHeight = 0;
        }
        w->setGeometry(x, y, size.width(), size.height());
        x += size.width() + kSpacing;
        rowHeight = std::max(rowHeight, size.height());
    }
    return std::max(kProcessingHeight, y + rowHeight + kBottom);
}

ProcessingSettings TMainForm::CurrentProcessing() const {
    ProcessingSettings p;
    p.despike.on = DespikeCheckBox->isChecked();
    p.despike.k = DespikeK->value();
    p.despike.halfWidth = DespikeHalfWidth->value();
    p.trueOffsets = TrueOffsetsCheckBox->isChecked();
    p.destripe.level = std::array{LevelEstimate::Off, LevelEstimate::Median, LevelEstimate::Mean}[DestripeCombo->currentIndex()];
    p.lag.mode = std::array{LagMode::Off, LagMode::Fixed, LagMode::Auto}[LagCombo->currentIndex()];
    p.lag.seconds = LagSeconds->value();
    return p;
}

void TMainForm::CreateShortcuts() {
    const std::pair<QKeySequence, QPushButton*> keys[] = {
        {QKeySequence::Open, BtnOpen},
        {QKeySequence::Save, BtnSave},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_A), BtnArrangeAll},
    };
    for (const auto& [key, button] : keys) {
        auto* shortcut = new QShortcut(key, this);
        connect(shortcut, &QShortcut::activated, button, [button] {
            if (button->isEnabled()) button->click();
        });
        button->setToolTip(key.toString(QKeySequence::NativeText));
    }
}

void TMainForm::ShowAsLastTime() {
    // Maximised the first time; as the user left it after that.
    if (!RestoreGeometry())
        showMaximized();
    else
        show();
}

bool TMainForm::RestoreGeometry() {
    if (!restoreGeometry(settings_->value(kGeometryKey).toByteArray())) return false;
    // A settings file written on a larger screen, or edited by hand, may ask
    // for a window whose pixels alone take gigabytes: keep it, title bar and
    // status line, on this screen.
    setGeometry(KeepOnScreen(geometry(), WindowFrame(), screen()->availableGeometry()));
    return true;
}

void TMainForm::RestoreSettings() {
    RestoreGeometry();
    AvgHeadingCheckBox->setChecked(settings_->value(kAverageHeadingKey, true).toBool());
    ArrSignalsCheckBox->setChecked(settings_->value(kLevelSignalsKey, true).toBool());
    connect(AvgHeadingCheckBox, &QCheckBox::toggled, this, [this](bool on) { settings_->setValue(kAverageHeadingKey, on); });
    DespikeCheckBox->setChecked(settings_->value(kDespikeKey, false).toBool());
    DespikeK->setValue(settings_->value(kDespikeKKey, 5.0).toDouble());
    DespikeHalfWidth->setValue(settings_->value(kDespikeHalfWidthKey, DespikeSettings{}.halfWidth).toInt());
    TrueOffsetsCheckBox->setChecked(settings_->value(kTrueOffsetsKey, false).toBool());
    DestripeCombo->setCurrentIndex(std::clamp(settings_->value(kDestripeKey, 0).toInt(), 0, 2));
    LagCombo->setCurrentIndex(std::clamp(settings_->value(kLagKey, 0).toInt(), 0, 2));
    LagSeconds->setValue(settings_->value(kLagSecondsKey, 0.0).toDouble());
    connect(DespikeCheckBox, &QCheckBox::toggled, this, [this](bool on) { settings_->setValue(kDespikeKey, on); });
    SkipRefusedCheckBox->setChecked(settings_->value(kSkipRefusedKey, false).toBool());
    connect(SkipRefusedCheckBox, &QCheckBox::toggled, this, [this](bool on) { settings_->setValue(kSkipRefusedKey, on); });
    connect(DespikeK, &QDoubleSpinBox::valueChanged, this, [this](double k) { settings_->setValue(kDespikeKKey, k); });
    connect(DespikeHalfWidth, &QSpinBox::valueChanged, this,
            [this](int h) { settings_->setValue(kDespikeHalfWidthKey, h); });
    connect(TrueOffsetsCheckBox, &QCheckBox::toggled, this, [this](bool on) { settings_->setValue(kTrueOffsetsKey, on); });
    connect(DestripeCombo, &QComboBox::currentIndexChanged, this, [this](int i) { settings_->setValue(kDestripeKey, i); });
    connect(LagCombo, &QComboBox::currentIndexChanged, this, [this](int i) { settings_->setValue(kLagKey, i); });
    connect(LagSeconds, &QDoubleSpinBox::valueChanged, this, [this](double s) { settings_->setValue(kLagSecondsKey, s); });
    connect(ArrSignalsCheckBox, &QCheckBox::toggled, this, [this](bool on) { settings_->setValue(kLevelSignalsKey, on); });
    const std::pair<QCheckBox*, const char*> switches[] = {
        {CellCheckBox, kCellOnKey}, {TargetsCheckBox, kTargetsOnKey}, {CoverageCheckBox, kCoverageOnKey}};
    for (const auto& [box, key] : switches) {
        box->setChecked(settings_->value(key, false).toBool());
        connect(box, &QCheckBox::toggled, this, [this, key](bool on) { settings_->setValue(key, on); });
    }
    const std::tuple<QDoubleSpinBox*, const char*, double> numbers[] = {
        {CellMetres, kCellMetresKey, kDefaultCellMetres}, {CoverageGap, kCoverageGapKey, kDefaultCoverageGap}};
    for (const auto& [spin, key, fallback] : numbers) {
        spin->setValue(settings_->value(key, fallback).toDouble());
        connect(spin, &QDoubleSpinBox::valueChanged, this, [this, key](double v) { settings_->setValue(key, v); });
    }
    TargetThreshold->setCurrentText(settings_->value(kTargetThresholdKey, kDefaultTargetThreshold).toString());
    connect(TargetThreshold, &QComboBox::currentTextChanged, this,
            [this](const QString& text) { settings_->setValue(kTargetThresholdKey, text); });
}

QStringList TMainForm::RecentFiles() const { return settings_->value(kRecentKey).toStringList(); }

void TMainForm::RememberRecent(const QString& path) {
    QStringList recent = RecentFiles();
    const QString absolute = QFileInfo(path).absoluteFilePath();
    recent.removeAll(absolute);
    recent.prepend(absolute);
    while (recent.size() > kRecentFiles) recent.removeLast();
    settings_->setValue(kRecentKey, recent);
    settings_->setValue(kOpenFolderKey, QFileInfo(absolute).absolutePath());
}

void TMainForm::ShowStatus(const QString& text) {
    lastMessage_ = text;
    ShowElided(StatusBar, text);
}

void TMainForm::ShowGridding(const QString& text, const QString& detail) {
    griddingMessage_ = text;
    ShowElided(GriddingStatus, text, detail);
}

void TMainForm::ShowElided(QLabel* label, const QString& text, const QString& detail) {
    // Each half of the status line keeps to its own width, ending in an
    // ellipsis where it is too short; the whole text is a tooltip away.
    const QMargins margins = label->contentsMargins();
    const int width = std::max(0, label->width() - margins.left() - margins.right());
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideRight, width));
    label->setToolTip(detail.isEmpty() ? text : detail);
}

bool TMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Chart1 && event->type() == QEvent::Leave) ShowElided(StatusBar, lastMessage_);
    return QWidget::eventFilter(watched, event);
}

void TMainForm::ShowWritten(const QStringList& files) {
    QStringList names;
    for (const QString& f : files) names << QFileInfo(f).fileName();
    ShowStatus(tr("Wrote %1 in %2").arg(names.join(", "), QDir::toNativeSeparators(QFileInfo(files.first()).absolutePath())));
}

QString TMainForm::ProcessingSummary() const {
    return QString::fromStdString(state_.processingReport).section('\n', 1, 3, QString::SectionSkipEmpty).replace('\n', "; ");
}

void TMainForm::ShowProcessingLabel() {
    QString text = state_.processingReport.empty() ? tr("Processing: none") : tr("Processing: %1").arg(ProcessingSummary());
    QString detail = state_.processingReport.empty() ? tr("No processing ran on the points on show")
                                                     : QString::fromStdString(state_.processingReport);
    // The panel's values reach the points at the next opening, not before.
    const bool changed = state_.survey.reached >= OpeningStage::Processed && !SameProcessing(CurrentProcessing(), state_.processingRan);
    if (changed) {
        text += " " + tr("(PROCESSING changed)");
        detail += "\n\n" + tr("SAVE TO MAP writes the points on show, with the processing above, until the change is applied.");
    }
    const bool offerApply = changed && state_.reprocessable;
    if (offerApply != BtnApplyProcessing->isVisibleTo(ProcessingPanel)) {
        BtnApplyProcessing->setVisible(offerApply);
        FormResize();  // the panel's rows follow the controls on show
    }
    // The lower right corner, clear of the legend above and of the axis title
    // in the middle: cut in its middle, so that the note of a change stays.
    const QMargins margins = ProcessingShown->contentsMargins();
    const int room = std::max(120, Chart1->width() / 2 - 90) - margins.left() - margins.right();
    ProcessingShown->setText(ProcessingShown->fontMetrics().elidedText(text, Qt::ElideMiddle, room));
    ProcessingShown->setToolTip(detail);
    ProcessingShown->adjustSize();
    ProcessingShown->move(std::max(0, Chart1->width() - ProcessingShown->width() - 2),
                          std::max(0, Chart1->height() - ProcessingShown->height() - 2));
    ProcessingShown->raise();
}

void TMainForm::CouplePointTables() {
    // Either point table scrolls and selects the other in step.
    auto couple = [](QTableView* from, QTableView* to) {
        connect(from->verticalScrollBar(), &QScrollBar::valueChanged, to->verticalScrollBar(), &QScrollBar::setValue);
        connect(from->selectionModel(), &QItemSelectionModel::currentRowChanged, to,
                [to](const QModelIndex& current) {
                    if (to->currentIndex().row() != current.row()) to->selectRow(current.row());
                });
    };
    couple(DiffGpsStringGrid, AbsGpsStringGrid);
    couple(AbsGpsStringGrid, DiffGpsStringGrid);
}

void TMainForm::FormCreate() {
    state_.baseMapBitmap = QImage(kMapWidth, kMapHeight, QImage::Format_RGB32);
    state_.trackMapBitmap = QImage(kMapWidth, kMapHeight, QImage::Format_RGB32);
    state_.baseMapBitmap.fill(Qt::white);
    state_.trackMapBitmap.fill(Qt::white);
    state_.survey.track = {{0.0f}, {0.0f}};
    state_.cursorLon = state_.cursorLat = 0;
    state_.survey.frame.centreLon = state_.survey.frame.centreLat = 0;

    // The chart takes its panel and label colours from the style.
    const StyleColors& style = SlateGrayColors();
    QLinearGradient panel(0, 1, 0, 0);
    panel.setCoordinateMode(QGradient::ObjectBoundingMode);
    panel.setColorAt(0, style.border);
    panel.setColorAt(1, style.listBox);
    Chart1->setBackground(QBrush(panel));
    for (QCPAxis* axis : {Chart1->xAxis, Chart1->yAxis}) {
        axis->setTickLabelColor(style.labelFont);
        axis->setLabelColor(style.labelFont);
    }
    FormResize();
    UpdateCommands();
    ShowProcessingLabel();
}

void TMainForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
}

void TMainForm::FormResize() {
    // The client area lies above the status line.
    const int clientWidth = width();
    const int clientHeight = std::max(0, height() - kStatusHeight);
    // The status line: messages, then what the gridding host does, then the progress of the work.
    const int progressWidth = std::min(200, clientWidth / 4);
    const int griddingWidth = std::min(260, clientWidth / 4);
    StatusBar->setGeometry(0, clientHeight, clientWidth - progressWidth - griddingWidth, kStatusHeight);
    GriddingStatus->setGeometry(StatusBar->width(), clientHeight, griddingWidth, kStatusHeight);
    ShowElided(StatusBar, lastMessage_);
    ShowElided(GriddingStatus, griddingMessage_, GriddingStatus->toolTip());
    ArrangeAllProgress->setGeometry(clientWidth - progressWidth, clientHeight, progressWidth, kStatusHeight);
    const int chartHeight = clientHeight * 2 / 5;
    const int mapHeight = clientHeight - chartHeight;
    const int mapWidth = mapHeight * kMapWidth / kMapHeight;
    Chart1->setGeometry(0, mapHeight, clientWidth, chartHeight);
    SurveyMap->setGeometry(0, 0, mapWidth, mapHeight);
    TopPanel->setGeometry(mapWidth, 0, std::max(0, clientWidth - mapWidth), mapHeight);
    // The buttons take a second row where the panel is too narrow for one.
    const int panelWidth = TopPanel->width();
    const bool oneRow = panelWidth >= 183 + BtnArrangeAll->width() + 6 + BtnGisExport->width() + 6 + BtnRecent->width() + 8;
    const int rowHeight = oneRow ? 41 : 70;
    BtnArrangeAll->move(oneRow ? QPoint(183, 8) : QPoint(8, 37));
    BtnGisExport->move(BtnArrangeAll->geometry().right() + 7, BtnArrangeAll->y());
    // Narrow: the recent surveys beside SAVE TO MAP, the rest on the second row.
    BtnRecent->move(oneRow ? QPoint(BtnGisExport->geometry().right() + 7, 8) : QPoint(BtnSave->geometry().right() + 7, 8));
    ButtonPanel->setGeometry(0, 0, panelWidth, rowHeight);
    const int processingHeight = PlaceProcessingControls(panelWidth);
    ProcessingPanel->setGeometry(0, rowHeight, panelWidth, processingHeight);
    int gridTop = rowHeight + processingHeight;
    // The findings take what they need of the room above the survey table, at most a third.
    if (FindingsHeader->isVisibleTo(TopPanel)) {
        const int headerHeight = FindingsHeader->sizeHint().height();
        FindingsHeader->setGeometry(0, gridTop, panelWidth, headerHeight);
        ShowElided(FindingsHeader, findingsMessage_);
        gridTop += headerHeight;
    }
    if (TargetList->isVisibleTo(TopPanel)) {
        const int wanted = TargetList->horizontalHeader()->sizeHint().height() + targetModel_->rowCount() * kTargetRowHeight + 4;
        const int listHeight = std::min(wanted, std::max(0, mapHeight - gridTop) / 3);
        TargetList->setGeometry(0, gridTop, panelWidth, listHeight);
        gridTop += listHeight;
    }
    DataStringGrid->setGeometry(0, gridTop, panelWidth, std::max(0, mapHeight - gridTop));
    ResultOverlay->move(4, mapHeight - ResultOverlay->height() - 4);
    const int hintWidth = std::min(mapWidth - 16, 360);
    StartHint->setFixedWidth(std::max(0, hintWidth));
    StartHint->setFixedHeight(StartHint->heightForWidth(StartHint->width()));
    StartHint->move((mapWidth - StartHint->width()) / 2, std::max(0, (mapHeight - StartHint->height()) / 2));
    ShowProcessingLabel();
    PlaceMapMarkers();
}

void TMainForm::PlaceMapMarkers() {
    // Markers whose positions leave the pixel range keep their places.
    try {
        PlaceCursorMarker();
        PlaceStartEndMarkers();
    } catch (const std::range_error&) {
    }
}

void TMainForm::Guarded(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const SurveyFormatError& e) {
        ui_->SetBusyCursor(false);
        ui_->ShowMessage(RefusalText(e.kind()), FailureDetail(e));
    } catch (const std::exception& e) {
        ui_->SetBusyCursor(false);
        ui_->ShowMessage(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ui_->SetBusyCursor(false);
        ui_->ShowMessage(tr("Unexpected failure"));
    }
}

QString TMainForm::FailureDetail(const std::exception& failure) {
    const auto* format = dynamic_cast<const SurveyFormatError*>(&failure);
    return QString::fromLocal8Bit(format ? format->detail() : failure.what());
}

// An opened survey made ready for the window on the worker: its map
// picture.
struct ShownSurvey {
    OpenedSurvey survey;
    std::optional<ComposedMap> map;  // once the opening came as far as the map frame
    std::optional<std::string> mapFailure;
};

class TMainForm::TableUpdate {
public:
    explicit TableUpdate(TMainForm* form) : f_(form) {
        f_->DataStringGrid->BeginUpdate();
        f_->diffModel_->BeginUpdate();
        f_->absModel_->BeginUpdate();
        f_->state_.survey.table.clear();
        f_->state_.survey.points.clear();
    }
    ~TableUpdate() {
        f_->DataStringGrid->EndUpdate();
        f_->diffModel_->EndUpdate();
        f_->absModel_->EndUpdate();
    }

private:
    TMainForm* f_;
};

bool TMainForm::IsWorking() const { return job_->running(); }

std::optional<OpeningOptions> TMainForm::CurrentOpeningOptions() {
    try {
        ValidateProcessing(CurrentProcessing());
    } catch (const std::invalid_argument& refused) {
        ui_->ShowMessage(QString::fromStdString(refused.what()));
        return std::nullopt;
    }
    const std::optional<GriddingChoices> gridding = CurrentGridding();
    if (!gridding) return std::nullopt;
    OpeningOptions options;
    options.levelSignals = ArrSignalsCheckBox->isChecked();
    options.previousFrame = state_.survey.frame;
    options.keepArranged = true;
    options.processing = CurrentProcessing();
    AskQualityForCoverage(GridOptionsOf(*gridding), options.processing);
    return options;
}

EnabledCommands EnabledFor(const ModuleState& state) {
    EnabledCommands on;
    if (state.job != WindowJob::None) return on;
    on.open = true;
    on.processing = true;
    // The arranged tables are whole, whether or not the rest of the opening came through.
    on.save = state.survey.arranged;
    on.arrangeAll = state.surveyOpen;
    on.gisExport = state.result.has_value();
    return on;
}

void TMainForm::UpdateCommands() {
    const EnabledCommands on = EnabledFor(state_);
    BtnOpen->setEnabled(on.open);
    BtnRecent->setEnabled(on.open);
    BtnSave->setEnabled(on.save);
    BtnArrangeAll->setEnabled(on.arrangeAll);
    BtnGisExport->setEnabled(on.gisExport);
    ProcessingPanel->setEnabled(on.processing);
    ShowStartHint();
}

void TMainForm::ShowStartHint() {
    // A refused opening may still leave its table or its map on show.
    const bool nothingShown = state_.survey.table.rowCount() == 0 && state_.survey.points.size() == 0 &&
                              state_.survey.reached < OpeningStage::Framed;
    StartHint->setVisible(state_.job == WindowJob::None && nothingShown);
    StartHint->raise();
}

void TMainForm::RunJob(WindowJob kind, const QString& progressFormat, std::function<void()> work,
                       std::function<void(const std::exception_ptr&)> finished) {
    state_.job = kind;
    UpdateCommands();
    ArrangeAllProgress->setFormat(progressFormat);
    // Steps, not a busy indicator: its animation would take a core from the work.
    ArrangeAllProgress->setRange(0, 4);
    ArrangeAllProgress->setValue(0);
    ArrangeAllProgress->show();
    job_->Start(std::move(work), [this, finished = std::move(finished)](const std::exception_ptr& failure) {
        state_.job = WindowJob::None;
        ArrangeAllProgress->hide();
        ui_->SetBusyCursor(false);
        Guarded([&] { finished(failure); });
        UpdateCommands();
        ShowProcessingLabel();
    });
}

void TMainForm::BtnOpenClick() {
    const std::optional<QString> path = ui_->ChooseFileToOpen(settings_->value(kOpenFolderKey).toString());
    if (path) OpenSurveyFile(*path);
}

void TMainForm::OpenSurveyFile(const QString& path) {
    if (IsWorking()) return;
    const std::optional<OpeningOptions> valid = CurrentOpeningOptions();
    if (!valid) return;
    OpeningOptions options = *valid;
    state_.processingRan = options.processing;
    ui_->SetBusyCursor(true);
    Edit1->hide();
    Shape1->hide();
    ShowStatus(tr("Opening %1 ...").arg(QDir::toNativeSeparators(path)));
    // The opening begins by clearing the tables; the previous survey's views
    // go with them, so that two surveys never take the memory at once.
    ClearSurvey();

    struct Outcome {
        std::shared_ptr<ShownSurvey> shown;
        std::optional<SurveyFormatError> refusal;
    };
    auto outcome = std::make_shared<Outcome>();
    // The progress bar names the step under way.
    options.stageReached = [this, name = QFileInfo(path).fileName()](OpeningStage reached) {
        // Each stage reached begins the next step, of four.
        const auto [done, step] = reached == OpeningStage::FileOpened ? std::pair(1, tr("reading"))
                                  : reached == OpeningStage::Read     ? std::pair(2, tr("cleaning"))
                                  : reached == OpeningStage::Cleaned  ? std::pair(3, tr("arranging"))
                                                                      : std::pair(4, tr("drawing"));
        job_->Post([this, done, text = name + ": " + step] {
            ArrangeAllProgress->setFormat(text);
            ArrangeAllProgress->setValue(done);
        });
    };
    RunJob(
        WindowJob::Opening, QFileInfo(path).fileName(),
        [this, outcome, options, path] {
            OpenedSurvey survey;
            try {
                OpenSurvey(path, options, survey);
            } catch (const SurveyFormatError& e) {
                outcome->refusal = e;
            }
            outcome->shown = PrepareToShow(std::move(survey));
            if (!outcome->refusal && outcome->shown->mapFailure)
                outcome->refusal.emplace(*outcome->shown->mapFailure);
        },
        [this, outcome](const std::exception_ptr& failure) {
            if (failure) std::rethrow_exception(failure);
            FinishOpening(outcome->shown, outcome->refusal);
        });
}

void TMainForm::DataStringGridRowClick(int sampleRow) { ShowCursorAtRow(sampleRow); }

void TMainForm::ShowCursorAtRow(int row) {
    const Positions& at = state_.survey.positions;
    const std::size_t rows = std::min(at.lon.size(), at.lat.size());
    if (row < 0 || static_cast<std::size_t>(row) >= rows) return;
    state_.cursorLon = static_cast<float>(at.lon[row]);
    state_.cursorLat = static_cast<float>(at.lat[row]);
    PlaceCursorMarker();
    Shape1->show();
    Edit1->show();
    // The ring and its label lie over the start and end markers.
    Shape1->raise();
    Edit1->raise();
}

std::shared_ptr<ShownSurvey> TMainForm::PrepareToShow(OpenedSurvey&& survey) {
    auto shown = std::make_shared<ShownSurvey>();
    shown->survey = std::move(survey);
    OpenedSurvey& s = shown->survey;
    if (s.reached >= OpeningStage::Framed) {
        SurveyMapPicture composed = ComposeMap(s, *maps_);
        shown->map = std::move(composed.map);
        if (!composed.trackFailure.empty()) shown->mapFailure = composed.trackFailure;  // the picture as far as it was drawn
    }
    return shown;
}

void TMainForm::FinishOpening(const std::shared_ptr<ShownSurvey>& shown, const std::optional<SurveyFormatError>& refusal) {
    ShowSurvey(*shown);
    const OpenedSurvey& s = state_.survey;
    if (refusal) {
        // A file that could not be opened leaves the survey's name empty.
        ShowStatus(tr("%1 was not opened").arg(QString::fromLocal8Bit(EscapeControls(refusal->file))));
        if (refusal->kind() == SurveyFormatError::Kind::Empty)
            ui_->ShowMessage(RefusalText(refusal->kind()));
        else
            ui_->ShowMessage(RefusalText(refusal->kind()), QString::fromLocal8Bit(refusal->detail()));
        return;
    }
    state_.surveyOpen = true;
    state_.reprocessable = true;
    RememberRecent(s.folder + s.fileName);
    QString summary = tr("%1: %2 samples, %3 points").arg(s.fileName).arg(s.table.dataRowCount()).arg(s.points.size());
    if (!state_.processingReport.empty()) summary += " - " + ProcessingSummary();
    if (s.cutLastLine) summary += " - " + CutLastLineNote(s.cutLastLine, s.fileName);
    ShowStatus(summary);
}

void TMainForm::ShowSurvey(ShownSurvey& shown) {
    OpenedSurvey& s = shown.survey;
    if (s.reached >= OpeningStage::FileOpened) setWindowTitle(s.fileName);
    ClearSurveyViews();
    // What the opening did not reach stays as it was: the name of a file
    // that could not be opened, the frame of a track that was not read.
    if (s.reached < OpeningStage::FileOpened) {
        s.fileName = state_.survey.fileName;
        s.folder = state_.survey.folder;
    }
    if (!shown.map) {
        s.frame = state_.survey.frame;
        s.track = {{0.0f}, {0.0f}};
    }
    {
        TableUpdate update(this);
        state_.survey = std::move(s);
    }
    // What ran on this survey, whatever the panel says by now.
    state_.processingReport =
        state_.survey.reached >= OpeningStage::Processed ? ProcessingReportOf(state_.survey) : std::string();
    if (shown.map) {
        state_.cursorLon = static_cast<float>(state_.survey.frame.centreLon);
        state_.cursorLat = static_cast<float>(state_.survey.frame.centreLat);
        ShowComposedMap(*shown.map);
    }
    if (state_.survey.reached >= OpeningStage::Profiled) ShowProfiles();
    if (state_.survey.reached >= OpeningStage::Done) {
        PlaceStartEndMarkers();
        ImgStart->show();
        ImgEnd->show();
    }
}

void TMainForm::ClearSurvey() {
    {
        TableUpdate update(this);
        state_.survey.arranged = false;
    }
    state_.surveyOpen = false;
    state_.reprocessable = false;
    ShowGridding(QString());  // the last survey's map is not this one's
    ClearSurveyViews();
}

void TMainForm::ClearSurveyViews() {
    // Nothing of the previous survey stays on show, also where the new one
    // was refused before its views were filled.
    ++state_.surveysShown;
    state_.result.reset();
    ResultOverlay->hide();
    ShowFindings();
    state_.survey.track = {{0.0f}, {0.0f}};
    state_.baseMapBitmap.fill(Qt::white);
    state_.trackMapBitmap.fill(Qt::white);
    SurveyMap->setPicture(QImage());
    state_.mapFailure = MapFailureKind::None;
    state_.mapFailureReason.clear();
    SurveyMap->setFailure(MapFailureKind::None, {});
    Profiles->Clear();
    state_.survey.profiles.clear();
    state_.survey.positions = {};
    ImgStart->hide();
    ImgEnd->hide();
}

void TMainForm::ShowProfiles() {
    const SurveyTable& table = state_.survey.table;
    std::array<QString, kChannels> names;
    for (int k = 0; k < kChannels; ++k) {
        const std::string_view heading = table.rowCount() > kHeadingRow ? table.cell(GradientColumn(k), kHeadingRow) : "";
        names[k] = QString("%1 %2").arg(k + 1).arg(QString::fromLocal8Bit(heading.data(), static_cast<qsizetype>(heading.size())));
    }
    Profiles->ShowProfiles(&state_.survey.profiles, names);
}

void TMainForm::BtnSaveClick() {
    const std::optional<GriddingChoices> gridding = CurrentGridding();
    if (!gridding) return;
    ui_->SetBusyCursor(true);
    auto saved = std::make_shared<SavedMap>();
    // The commands wait until the save has ended, so the survey stays as it is meanwhile.
    RunJob(
        WindowJob::SaveToMap, tr("SAVE TO MAP"),
        [this, saved] {
            *saved = SaveToMap(state_.survey.folder, state_.survey.fileName, state_.survey.points, state_.processingReport);
        },
        [this, saved, gridding = *gridding](const std::exception_ptr& failure) {
            if (failure) std::rethrow_exception(failure);
            ShowWritten(QStringList(saved->written.begin(), saved->written.end()));
            StartGridding(saved->paths, GriddedPoints::ShownSurvey, gridding);
        });
}

void TMainForm::StartGridding(const ExportPaths& paths, GriddedPoints points, const GriddingChoices& gridding) {
    // What the host is asked for is what its results are read back as, whatever the panel says by then.
    const GridRunOptions options = GridOptionsOf(gridding);
    const QString picture = ReplaceExtension(paths.gridFile, ".png");
    const QDateTime started = QDateTime::currentDateTime();
    const int survey = state_.surveysShown;  // the result belongs to the survey on show now
    // The host writes its picture last and whole: once it is there the map is
    // complete, while the host's own window may stay open long after.
    auto made = [picture, started] {
        const QFileInfo f(picture);
        return f.exists() && f.lastModified() >= started.addSecs(-1);
    };
    auto* watch = new QTimer(this);
    auto over = std::make_shared<bool>(false);
    auto host = std::make_shared<HostStarted>(HostStarted::No);
    auto arrived = [=, this] {
        if (*over) return;
        *over = true;
        watch->deleteLater();
        // A map of a survey no longer on show is said, by its name, not shown.
        ShowGridding(tr("Map ready: %1").arg(QFileInfo(picture).fileName()), QDir::toNativeSeparators(picture));
        if (*host == HostStarted::LeavesTheMapToUs) ShowInViewer(picture);
        if (survey == state_.surveysShown) ShowResult(paths, points, options);
    };
    connect(watch, &QTimer::timeout, this, [=] {
        if (made()) arrived();
    });
    watch->start(500);
    *host = host_->StartGriddingHost(paths.scriptFile, GridHostWords(gridding), [=, this] {
        if (made()) return arrived();
        if (*over) return;
        *over = true;
        watch->deleteLater();
        ShowGridding(tr("Gridding ended without a map"));
    });
    if (*host == HostStarted::No) {
        *over = true;
        watch->deleteLater();
        return;
    }
    ShowGridding(tr("Gridding %1 ...").arg(QFileInfo(paths.scriptFile).fileName()));
}

void TMainForm::ShowInViewer(const QString& pictureFile) {
    const QImage picture(pictureFile);
    if (picture.isNull()) return;  // the status line has said where it is
    const QString title = QFileInfo(pictureFile).fileName();
    // One viewer for every result, so that older pictures do not pile up over the window.
    if (!ResultViewer)
        ResultViewer = new GridViewer(picture, title, this);
    else
        ResultViewer->SetPicture(picture, title);
    const QRect map(SurveyMap->mapToGlobal(QPoint(0, 0)), SurveyMap->size());
    ResultViewer->setGeometry(PlaceBeside(frameGeometry(), screen()->availableGeometry(), map, WindowFrame(), kLeastViewerWidth));
    ResultViewer->show();
    ResultViewer->raise();
}

QMargins TMainForm::WindowFrame() const {
    const QRect outer = frameGeometry(), inner = geometry();
    if (outer != inner)
        return {inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(), outer.bottom() - inner.bottom()};
    // Not yet framed by the window manager: a title bar and thin borders, as most draw them.
    const int border = style()->pixelMetric(QStyle::PM_MdiSubWindowFrameWidth);
    return {border, border + style()->pixelMetric(QStyle::PM_TitleBarHeight), border, border};
}

void TMainForm::BtnArrangeAllClick() {
    // The folder to arrange first, starting at the survey on show; then the combined name.
    const std::optional<QString> folder = ui_->ChooseFolder(state_.survey.folder);
    if (folder) ArrangeFolder(*folder);
}

void TMainForm::ArrangeFolder(const QString& path) {
    if (IsWorking()) return;
    const QString folder = QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath() + "/");
    const std::optional<QString> answer = ui_->ChooseSaveFile(folder, QDir(folder).dirName() + ".txt");
    if (!answer) return;
    FolderRequest request;
    const std::optional<OpeningOptions> options = CurrentOpeningOptions();
    if (!options) return;
    const GriddingChoices gridding = CurrentGriddingWords();  // checked with the opening options
    request.options = *options;
    request.options.keepArranged = false;  // a folder's surveys are not processed again
    state_.processingRan = options->processing;
    ui_->SetBusyCursor(true);
    ClearSurvey();

    // Each survey is shown as it is opened; the run waits until the window
    // has taken it.
    class WindowProgress : public SessionProgress {
    public:
        explicit WindowProgress(TMainForm* f) : f_(f) {}
        void Step(int done, int count, const QString&) override {
            f_->job_->ThrowIfCancelled();
            f_->job_->Post([f = f_, done, count] {
                f->ArrangeAllProgress->setRange(0, count);
                f->ArrangeAllProgress->setValue(done);
            });
        }
        void Opened(OpenedSurvey& survey) override {
            const std::shared_ptr<ShownSurvey> shown = f_->PrepareToShow(std::move(survey));
            f_->job_->ApplyAndWait([f = f_, shown] { f->ShowSurvey(*shown); });
        }

    private:
        TMainForm* f_;
    };

    auto run = std::make_shared<FolderRunResult>();
    request.folder = folder;
    request.combinedName = CombinedName(*answer);
    // The combined files go where the dialog was answered (a bare name: beside the surveys).
    const QFileInfo chosen(*answer);
    request.outputFolder = chosen.isRelative() ? folder : QDir::toNativeSeparators(chosen.absolutePath() + "/");
    request.refused = SkipRefusedCheckBox->isChecked() ? RefusedSurveys::Skip : RefusedSurveys::Stop;
    RunJob(
        WindowJob::FolderRun, "%v of %m",
        [this, run, request] {
            WindowProgress progress(this);
            *run = qgrad::ArrangeFolder(request, progress);
        },
        [this, run, request, gridding](const std::exception_ptr& failure) {
            // The saves take the combined name from here on, however the run ended.
            state_.survey.fileName = request.combinedName;
            state_.survey.folder = request.folder;
            if (failure) std::rethrow_exception(failure);
            FinishFolderRun(*run, gridding);
        });
}

void TMainForm::FinishFolderRun(FolderRunResult& run, const GriddingChoices& gridding) {
    switch (run.end) {
        case FolderRunEnd::Completed:
            // The last survey's points stay where the window shows them.
            ReplacePoints(std::move(run.lastPoints));
            state_.surveyOpen = true;
            {
                const std::vector<QString> written = WrittenFiles(run);
                state_.processingReport = run.processingReport;
                ShowWritten(QStringList(written.begin(), written.end()));
            }
            if (!run.refused.empty()) {
                // Each skipped survey with its message and detail; the report beside the files keeps them too.
                QStringList skipped;
                for (const RefusedSurvey& r : run.refused)
                    skipped << r.file + ": " + RefusalText(r.kind) + " " + QString::fromLocal8Bit(r.detail);
                ShowStatus(tr("%n survey(s) refused and skipped: ", nullptr, static_cast<int>(run.refused.size())) +
                           skipped.join("; "));
            }
            StartGridding(run.paths, GriddedPoints::Folder, gridding);
            break;
        case FolderRunEnd::EmptyFile:
            ShowStatus(tr("The folder run stopped at %1").arg(run.file));
            ui_->ShowMessage(RefusalText(SurveyFormatError::Kind::Empty));
            break;
        case FolderRunEnd::BadFile:
            ShowStatus(tr("The folder run stopped at %1").arg(run.file));
            ui_->ShowMessage(RefusalText(run.kind), QString::fromLocal8Bit(run.detail));
            break;
    }
}

void TMainForm::ReplacePoints(ArrangedPoints&& points) {
    diffModel_->BeginUpdate();
    absModel_->BeginUpdate();
    state_.survey.points = std::move(points);
    diffModel_->EndUpdate();
    absModel_->EndUpdate();
}

void TMainForm::ApplyProcessing() {
    const std::optional<OpeningOptions> options = CurrentOpeningOptions();
    if (!options || !state_.reprocessable) return;
    ui_->SetBusyCursor(true);
    auto again = std::make_shared<Reprocessed>();
    // The views keep drawing the points on show while the new ones are made beside them.
    RunJob(
        WindowJob::Processing, tr("processing"),
        [this, again, settings = options->processing] { *again = ProcessAgain(state_.survey, settings); },
        [this, again, settings = options->processing](const std::exception_ptr& failure) {
            if (failure) std::rethrow_exception(failure);
            Profiles->Clear();
            ReplacePoints(std::move(again->points));
            state_.survey.asArranged = std::move(again->asArranged);
            state_.survey.processing = std::move(again->processing);
            state_.survey.profiles = std::move(again->profiles);
            state_.processingRan = settings;
            state_.processingReport = ProcessingReportOf(state_.survey);
            ShowProfiles();
        });
}

// The point's index within its profile picks the row of the look-ups.
void TMainForm::Chart1ClickSeries(QCPAbstractPlottable* /*series*/, int valueIndex) { ShowCursorAtRow(valueIndex); }

void TMainForm::Shape1MouseUp() {
    Edit1->hide();
    Shape1->hide();
}

void TMainForm::ShowResult(const ExportPaths& paths, GriddedPoints points, const GridRunOptions& options) {
    try {
        GriddedResult result;
        // The shown survey's own points were gridded: its targets name its file and lines.
        GriddedFindings read =
            ReadGriddedFindings(paths, options, points == GriddedPoints::ShownSurvey ? &state_.survey : nullptr);
        result.grid = std::move(read.grid);
        if (const QString blank = BlankMapNote(result.grid); !blank.isEmpty()) throw GridHostError(blank.toStdString());
        result.findings = std::move(read.findings);
        result.scriptFile = paths.scriptFile;
        result.points = points;
        state_.result = std::move(result);
    } catch (const std::exception& e) {
        // Called from the host's watch, outside any command: said, never thrown.
        ShowStatus(QString::fromLocal8Bit(e.what()));
        return;
    }
    DrawResultOverlays();
    UncoveredCheckBox->setVisible(state_.result->findings.coverage.has_value());
    ResultOverlay->resize(ResultOverlay->sizeHint().expandedTo(QSize(220, 0)));
    ResultOverlay->show();
    ResultOverlay->raise();
    ShowFindings();
    UpdateCommands();
    ShowMapPicture();
}

void TMainForm::DrawResultOverlays() {
    if (!state_.result) return;
    GriddedResult& r = *state_.result;
    r.overlay = DrawGridOverlay(r.grid, state_.survey.frame, ResultPresentation());
    r.uncovered = r.findings.coverage ? DrawCoverageOverlay(*r.findings.coverage, state_.survey.frame) : QImage();
}

void TMainForm::ShowFindings() {
    const HandoverFindings* f = state_.result ? &state_.result->findings : nullptr;
    targetModel_->SetTargets(f && f->targets ? f->targets->targets : std::vector<Target>());
    QStringList header;
    if (f && f->targets)
        header << tr("%n target(s) beyond %1 nT/m", nullptr, static_cast<int>(f->targets->targets.size()))
                      .arg(QString::number(f->targets->threshold, 'f', 2));
    if (f && f->coverage) {
        const Coverage& c = *f->coverage;
        header << tr("covered %1 m², uncovered %2 m²")
                      .arg(QString::number(c.coveredArea, 'f', 0), QString::number(c.uncoveredArea, 'f', 0));
    }
    findingsMessage_ = header.join("; ");
    FindingsHeader->setVisible(!header.isEmpty());
    TargetList->setVisible(f && f->targets && !f->targets->targets.empty());
    TargetList->resizeColumnsToContents();
    FormResize();
}

void TMainForm::ChooseTarget(int index) {
    const std::vector<Target>& targets = targetModel_->targets();
    if (index < 0 || static_cast<std::size_t>(index) >= targets.size()) return;
    const Target& t = targets[static_cast<std::size_t>(index)];
    if (const std::optional<int> row = SampleRowOf(state_.survey, t.nearest)) {
        QTableView* rows = DataStringGrid->sampleView();
        rows->selectRow(*row);
        rows->scrollTo(rows->model()->index(*row, 0), QAbstractItemView::PositionAtCenter);
    }
    if (IsWorking()) return;
    state_.survey.frame.centreLon = t.lon;
    state_.survey.frame.centreLat = t.lat;
    FetchMapPicture(WindowJob::MapCentring);
}

Presentation TMainForm::ResultPresentation() const {
    Presentation p;
    try {
        p.palette = ParsePalette(settings_->value(kPaletteKey, "grey").toString().toStdString());
        p.clip = ParseClip(settings_->value(kClipKey, "3sd").toString().toStdString());
    } catch (const std::invalid_argument&) {
        // A setting edited by hand that means nothing: the defaults.
    }
    return p;
}

void TMainForm::ShowComposedMap(const ComposedMap& map) {
    state_.baseMapBitmap = map.base;
    state_.trackMapBitmap = map.track;
    state_.mapFailure = map.failure;
    state_.mapFailureReason = map.failureReason;
    SurveyMap->setFailure(map.failure, QString::fromStdString(map.failureReason));
    ShowMapPicture();
}

void TMainForm::RetryMap() {
    if (IsWorking() || state_.mapFailure == MapFailureKind::None) return;
    FetchMapPicture(WindowJob::MapRetry);
}

void TMainForm::FetchMapPicture(WindowJob kind) {
    // The commands wait while the job runs, so the survey stays as it is.
    auto composed = std::make_shared<SurveyMapPicture>();
    RunJob(
        kind, tr("Satellite picture"), [this, composed] { *composed = ComposeMap(state_.survey, *maps_); },
        [this, composed](const std::exception_ptr& failure) {
            if (failure) std::rethrow_exception(failure);
            DrawResultOverlays();
            ShowComposedMap(composed->map);
            PlaceMapMarkers();
        });
}

void TMainForm::ShowMapPicture() {
    if (!state_.result) {
        SurveyMap->setPicture(state_.trackMapBitmap);
        return;
    }
    QImage picture = state_.trackMapBitmap;
    if (ResultOverlayCheckBox->isChecked()) {
        // The result lies over the satellite picture, under the scale bar and the track.
        picture = state_.baseMapBitmap.convertToFormat(QImage::Format_RGB32);
        {
            QPainter p(&picture);
            p.setOpacity(ResultOpacity->value() / 100.0);
            p.drawImage(0, 0, state_.result->overlay);
        }
        DrawScaleBar(picture, state_.survey.frame, 20, 20);
        try {
            DrawTrackOnMap(picture, state_.survey.frame, state_.survey.track.lon, state_.survey.track.lat);
        } catch (const std::range_error&) {
            // Drawn as far as it goes, as on the picture without the result.
        }
    }
    // What the gridding found lies over everything, whether the result is shown or not.
    const HandoverFindings& found = state_.result->findings;
    if (UncoveredCheckBox->isChecked() && !state_.result->uncovered.isNull()) {
        QPainter p(&picture);
        p.drawImage(0, 0, state_.result->uncovered);
    }
    if (found.targets) DrawTargetMarkers(picture, state_.survey.frame, found.targets->targets);
    SurveyMap->setPicture(picture);
}

void TMainForm::BtnGisExportClick() {
    if (!state_.result || IsWorking()) return;
    ui_->SetBusyCursor(true);
    GridRunOptions options;
    options.presentation = ResultPresentation();
    options.gis = {true, true, true, GeoTiffProjection::Geographic};
    auto written = std::make_shared<std::vector<QString>>();
    // The shown survey's points are those gridded: the outputs take what the
    // window knows of them. A folder's are no longer all here: its files
    // give what they hold. The commands wait until the export has ended, so
    // the survey stays as it is meanwhile.
    const bool shownSurvey = state_.result->points == GriddedPoints::ShownSurvey;
    RunJob(
        WindowJob::GisExport, tr("GIS export"),
        [this, script = state_.result->scriptFile, options, written, shownSurvey] {
            if (!shownSurvey) {
                *written = ExportGis(script, options);
                return;
            }
            const OpenedSurvey& s = state_.survey;
            ArrangedGis gis = StartGis(MakeExportPaths(s.folder, s.fileName), options);
            AddToGis(s.table, s.points, s.fileName, !state_.processingReport.empty(), gis);
            *written = ExportGis(script, options, &gis);
        },
        [this, written](const std::exception_ptr& failure) {
            if (failure) std::rethrow_exception(failure);
            ShowWritten(QStringList(written->begin(), written->end()));
        });
}

void TMainForm::dragEnterEvent(QDragEnterEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (!IsWorking() && urls.size() == 1 && urls.first().isLocalFile()) event->acceptProposedAction();
}

void TMainForm::dropEvent(QDropEvent* event) {
    const QString path = event->mimeData()->urls().first().toLocalFile();
    event->acceptProposedAction();
    // After the drop has ended: the commands may ask questions.
    QMetaObject::invokeMethod(this, [this, path] {
        Guarded([&] {
            if (QFileInfo(path).isDir())
                ArrangeFolder(path);
            else
                OpenSurveyFile(path);
        });
    }, Qt::QueuedConnection);
}

void TMainForm::PlaceStartEndMarkers() {
    const int w = SurveyMap->width();
    const RunEnds& ends = state_.survey.ends;
    ImgStart->move(PlaceMarker(state_.survey.frame, w, ends.startLon, ends.startLat, ImgStart->size()));
    ImgEnd->move(PlaceMarker(state_.survey.frame, w, ends.endLon, ends.endLat, ImgEnd->size()));
}

void TMainForm::PlaceCursorMarker() {
    const CursorPlacement c =
        PlaceCursor(state_.survey.frame, SurveyMap->width(), state_.cursorLon, state_.cursorLat, Shape1->size(), Edit1->height());
    Shape1->move(c.ring);
    Edit1->setText(c.text);
    Edit1->move(c.label);
}

}  // namespace qgrad
