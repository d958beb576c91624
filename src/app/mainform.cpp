#include "app/mainform.h"

#include "app/mapwidgets.h"
#include "app/slategray.h"
#include "app/surveygrid.h"
#include "app/tablemodels.h"
#include "arrange/arrange.h"
#include "batch/folderrun.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "export/export.h"
#include "mapview/markers.h"
#include "survey/opening.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTableView>
#include <qcustomplot.h>

// The marker pictures live in this static library; Q_INIT_RESOURCE must stand
// outside any namespace.
static void InitMarkerResources() { Q_INIT_RESOURCE(markers); }

namespace qgrad {
namespace {

const QColor kSeriesColors[] = {QColor(0x2B, 0x40, 0x6B), QColor(0x3B, 0x54, 0x8C), QColor(0x44, 0x66, 0xA3),
                                QColor(0x4E, 0x97, 0xA8), QColor(0x5D, 0xB7, 0x9E), QColor(0x41, 0xA0, 0x8A),
                                QColor(0x2B, 0x92, 0x7D), QColor(0x1D, 0x7B, 0x63)};

QColor SeriesColor(int index) {
    if (index >= 12) return kSeriesColors[3];  // the position look-ups
    return kSeriesColors[index % 8];
}

QPushButton* MakeButton(QWidget* parent, const char* caption, int x, int y, int w, int h) {
    auto* b = new QPushButton(caption, parent);
    b->setGeometry(x, y, w, h);
    return b;
}

QTableView* MakePointGrid(QWidget* parent, QAbstractItemModel* model, const QColor& background, QRect geometry) {
    auto* v = new QTableView(parent);
    v->setModel(model);
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
                     std::unique_ptr<MapFetcher> maps)
    : ui_(ui ? std::move(ui) : std::make_unique<WidgetInteraction>(this)),
      host_(host ? std::move(host) : std::make_unique<SystemHostLauncher>()),
      maps_(maps ? std::move(maps) : std::make_unique<CurlMapFetcher>()) {
    InitMarkerResources();
    setWindowTitle("Quenor GRADIOMETER");
    resize(892, 508);
    CreateControls();
    FormCreate();
}

TMainForm::~TMainForm() = default;

QCPGraph* TMainForm::Series(int number) const { return Chart1->graph(number - 1); }

void TMainForm::CreateControls() {
    SurveyMap = new MapPicture(this);
    CreateChart();

    TopPanel = new QWidget(this);
    ButtonPanel = new QWidget(TopPanel);
    BtnOpen = MakeButton(ButtonPanel, "OPEN FILE", 8, 8, 73, 25);
    BtnSave = MakeButton(ButtonPanel, "SAVE TO MAP", 87, 8, 90, 25);
    BtnArrangeAll = MakeButton(ButtonPanel, "ARRANGE ALL IN FOLDER", 183, 8, 154, 25);
    BtnArrange = MakeButton(ButtonPanel, "ARRANGE TO GPS", 142, 10, 114, 25);
    BtnSave->setEnabled(false);
    BtnArrangeAll->setEnabled(false);
    BtnArrange->setEnabled(false);
    BtnArrange->hide();
    AvgHeadingCheckBox = new QCheckBox("AVERAGE THE HEADING", ButtonPanel);
    AvgHeadingCheckBox->move(504, 3);
    ArrSignalsCheckBox = new QCheckBox("ARRANGE SIGNAL LEVELS", ButtonPanel);
    ArrSignalsCheckBox->move(504, 22);
    ArrangeAllProgress = new QProgressBar(ButtonPanel);
    ArrangeAllProgress->setGeometry(345, 10, 150, 21);
    ArrangeAllProgress->setFormat("%v of %m");
    ArrangeAllProgress->hide();
    for (QCheckBox* box : {AvgHeadingCheckBox, ArrSignalsCheckBox}) {
        box->setChecked(true);
        box->hide();
    }

    DataStringGrid = new SurveyGrid(state_.survey, TopPanel);

    diffModel_ = new PointTableModel(state_.points, PointTable::Gradient, this);
    absModel_ = new PointTableModel(state_.points, PointTable::Absolute, this);
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
    connect(BtnArrange, &QPushButton::clicked, this, [this] { Guarded([this] { BtnArrangeClick(); }); });
    connect(Shape1, &CursorRing::released, this, [this] { Guarded([this] { Shape1MouseUp(); }); });
    connect(Chart1, &QCustomPlot::plottableClick, this, [this](QCPAbstractPlottable* p, int index, QMouseEvent*) {
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
    Chart1->xAxis->setLabel("Distance, m");
    Chart1->yAxis->setLabel("gradHz, nT");
    Chart1->xAxis->setRange(0, 1000);

    // The back wall: #EAEAEA at the bottom to white at the top.
    QLinearGradient wall(0, 1, 0, 0);
    wall.setCoordinateMode(QGradient::ObjectBoundingMode);
    wall.setColorAt(0, QColor(0xEA, 0xEA, 0xEA));
    wall.setColorAt(1, Qt::white);
    Chart1->axisRect()->setBackground(QBrush(wall));

    for (int i = 0; i < 14; ++i) {
        QCPGraph* g = Chart1->addGraph();
        QPen pen(SeriesColor(i), 1);
        pen.setCapStyle(Qt::RoundCap);
        g->setPen(pen);
        g->setAdaptiveSampling(true);
        g->setSelectable(QCP::stNone);
    }
    for (int number : {13, 14}) Series(number)->setVisible(false);
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
    state_.trackLongitudes = {0.0f};
    state_.trackLatitudes = {0.0f};
    state_.cursorLon = state_.cursorLat = 0;
    state_.frame.centreLon = state_.frame.centreLat = 0;

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
}

void TMainForm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
}

void TMainForm::FormResize() {
    const int clientWidth = width();
    const int clientHeight = height();
    const int chartHeight = clientHeight * 2 / 5;
    const int mapHeight = clientHeight - chartHeight;
    const int mapWidth = mapHeight * kMapWidth / kMapHeight;
    Chart1->setGeometry(0, mapHeight, clientWidth, chartHeight);
    SurveyMap->setGeometry(0, 0, mapWidth, mapHeight);
    TopPanel->setGeometry(mapWidth, 0, std::max(0, clientWidth - mapWidth), mapHeight);
    ButtonPanel->setGeometry(0, 0, TopPanel->width(), 41);
    DataStringGrid->setGeometry(0, 41, TopPanel->width(), std::max(0, mapHeight - 41));
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
        ui_->ShowMessage(kBadFormatText, FailureDetail(e));
    } catch (const std::exception& e) {
        ui_->SetBusyCursor(false);
        ui_->ShowMessage(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        ui_->SetBusyCursor(false);
        ui_->ShowMessage("Unexpected failure");
    }
}

QString TMainForm::FailureDetail(const std::exception& failure) {
    const auto* format = dynamic_cast<const SurveyFormatError*>(&failure);
    return QString::fromLocal8Bit(format ? format->detail() : failure.what());
}

class TMainForm::TableUpdate {
public:
    explicit TableUpdate(TMainForm* form) : f_(form) {
        f_->DataStringGrid->BeginUpdate();
        f_->diffModel_->BeginUpdate();
        f_->absModel_->BeginUpdate();
        f_->state_.survey.clear();
        f_->state_.points.clear();
    }
    ~TableUpdate() {
        f_->DataStringGrid->EndUpdate();
        f_->diffModel_->EndUpdate();
        f_->absModel_->EndUpdate();
    }

private:
    TMainForm* f_;
};

void TMainForm::BtnOpenClick() {
    const std::optional<QString> path = ui_->ChooseFileToOpen();
    if (!path) return;

    ui_->SetBusyCursor(true);
    Edit1->hide();
    Shape1->hide();
    BtnSave->setEnabled(false);
    BtnArrangeAll->setEnabled(false);

    // The views follow the table once the opening has ended, before any message.
    enum class Outcome { Opened, Empty, Refused };
    QString detail;
    const Outcome outcome = [&] {
        TableUpdate update(this);
        try {
            std::unique_ptr<QFile> file = OpenSurveyFile(*path);
            const QFileInfo info(*path);
            state_.surveyFileName = info.fileName();
            state_.surveyFolder = QDir::toNativeSeparators(info.absolutePath() + "/");
            setWindowTitle(state_.surveyFileName);

            const ReadResult read = ReadSurveyLines(*file, state_.survey);
            ui_->SetBusyCursor(false);
            if (read == ReadResult::Empty) return Outcome::Empty;
            CleanArrangeAndShow(ReaderVariant::Interactive, ZoomPrecision::Single);
            return Outcome::Opened;
        } catch (const std::exception& e) {
            // Whatever stops the opening is reported as a file the program cannot take.
            detail = FailureDetail(e);
            return Outcome::Refused;
        }
    }();
    ui_->SetBusyCursor(false);
    switch (outcome) {
        case Outcome::Empty:
            ui_->ShowMessage(kEmptyFileText);
            return;
        case Outcome::Refused:
            ui_->ShowMessage(kBadFormatText, detail);
            return;
        case Outcome::Opened:
            BtnSave->setEnabled(true);
            BtnArrangeAll->setEnabled(true);
            return;
    }
}

void TMainForm::CleanArrangeAndShow(ReaderVariant variant, ZoomPrecision zoomPrecision) {
    CleanSurveyTable(state_.survey, variant, state_.geometry);
    BtnArrangeClick();

    Track track = ReadTrack(state_.survey);
    state_.trackLongitudes = std::move(track.lon);
    state_.trackLatitudes = std::move(track.lat);
    FitMapToTrack(zoomPrecision);
    ShowProfiles();

    const RunEnds ends = ReadRunEnds(state_.survey);
    state_.startLon = ends.startLon;
    state_.startLat = ends.startLat;
    state_.endLon = ends.endLon;
    state_.endLat = ends.endLat;
    PlaceStartEndMarkers();
    ImgStart->show();
    ImgEnd->show();
}

void TMainForm::BtnArrangeClick() {
    if (ArrangeToGps(state_.survey, state_.geometry, ArrSignalsCheckBox->isChecked(), state_.points))
        BtnSave->setEnabled(true);
}

void TMainForm::ShowProfiles() {
    const SurveyTable& table = state_.survey;
    const std::vector<double> distances = ReadDistances(table);
    for (int k = 0; k < kChannels; ++k) {
        QCPGraph* series = Series(k + 1);
        series->data()->clear();
        series->setVisible(ProfileShown(table, k));
        QVector<QCPGraphData> points;
        points.reserve(static_cast<qsizetype>(table.dataRowCount()));
        bool sorted = true;
        ForEachProfilePoint(table, distances, k, [&](double x, double y) {
            sorted = sorted && (points.isEmpty() || points.back().key <= x);
            points.push_back({x, y});
        });
        series->data()->set(points, sorted);
    }
    Chart1->xAxis->rescale();
    Chart1->yAxis->rescale();

    QVector<QCPGraphData> lon;
    QVector<QCPGraphData> lat;
    lon.reserve(static_cast<qsizetype>(table.dataRowCount()));
    lat.reserve(static_cast<qsizetype>(table.dataRowCount()));
    ForEachPosition(table, distances, [&](double x, double longitude, double latitude) {
        lon.push_back({x, longitude});
        lat.push_back({x, latitude});
    });
    // Look-up lists by index: kept in row order.
    Series(13)->data()->set(lon, true);
    Series(14)->data()->set(lat, true);
    Series(13)->setVisible(false);
    Series(14)->setVisible(false);
    Chart1->replot(QCustomPlot::rpQueuedReplot);
}

void TMainForm::BtnSaveClick() {
    ui_->SetBusyCursor(true);
    const ExportPaths paths = MakeExportPaths(state_.surveyFolder, state_.surveyFileName);
    PointExtent extent;
    WritePointFiles(paths, state_.points, extent);
    WriteGriddingScript(paths, extent);
    host_->StartGriddingHost(paths.scriptFile);
    ui_->SetBusyCursor(false);
}

void TMainForm::BtnArrangeAllClick() {
    const std::optional<QString> answer = ui_->ChooseSaveFile(DefaultCombinedName(state_.surveyFileName));
    if (!answer) return;
    ui_->SetBusyCursor(true);
    state_.surveyFileName = CombinedName(*answer);

    // A second command inside the run is not taken; the run shows its progress.
    struct RunScope {
        TMainForm* f;
        std::optional<TableUpdate> update;
        RunScope(TMainForm* form) : f(form) {
            f->BtnOpen->setEnabled(false);
            f->ArrangeAllProgress->setValue(0);
            f->ArrangeAllProgress->show();
        }
        ~RunScope() {
            update.reset();
            f->BtnOpen->setEnabled(true);
            f->ArrangeAllProgress->hide();
        }
    } scope(this);

    class WindowSteps : public FolderRunSteps {
    public:
        WindowSteps(TMainForm* f, RunScope& scope) : f_(f), scope_(scope) {}
        void BeforeFile(int index, int count, const QString&) override {
            f_->ArrangeAllProgress->setRange(0, count);
            f_->ArrangeAllProgress->setValue(index);
            f_->BtnSave->setEnabled(false);
            f_->BtnArrangeAll->setEnabled(false);
            scope_.update.emplace(f_);  // the views follow the new survey
        }
        void FileOpened(const QString& name) override { f_->setWindowTitle(name); }
        void ArrangeAndShow() override { f_->CleanArrangeAndShow(ReaderVariant::Batch, ZoomPrecision::Double); }
        void AfterFile() override {
            f_->BtnArrangeAll->setEnabled(true);
            scope_.update.reset();
            f_->ArrangeAllProgress->setValue(f_->ArrangeAllProgress->value() + 1);
            f_->ui_->ProcessPendingEvents();
        }

    private:
        TMainForm* f_;
        RunScope& scope_;
    } steps(this, scope);

    const FolderRunResult run = RunFolder(state_.surveyFolder, state_.surveyFileName, state_.survey, state_.points, steps);
    scope.update.reset();
    ui_->SetBusyCursor(false);
    switch (run.end) {
        case FolderRunEnd::Completed:
            host_->StartGriddingHost(run.paths.scriptFile);
            break;
        case FolderRunEnd::EmptyFile:
            ui_->ShowMessage(kEmptyFileText);
            break;
        case FolderRunEnd::BadFile:
            ui_->ShowMessage(kBadFormatText, QString::fromLocal8Bit(run.detail));
            break;
    }
}

void TMainForm::Chart1ClickSeries(QCPAbstractPlottable* /*series*/, int valueIndex) {
    const auto lon = Series(13)->data();
    const auto lat = Series(14)->data();
    if (valueIndex < 0 || valueIndex >= lon->size() || valueIndex >= lat->size()) return;
    state_.cursorLon = static_cast<float>((lon->constBegin() + valueIndex)->value);
    state_.cursorLat = static_cast<float>((lat->constBegin() + valueIndex)->value);
    PlaceCursorMarker();
    Shape1->show();
    Edit1->show();
    // The ring and its label lie over the start and end markers.
    Shape1->raise();
    Edit1->raise();
}

void TMainForm::Shape1MouseUp() {
    Edit1->hide();
    Shape1->hide();
}

void TMainForm::FitMapToTrack(ZoomPrecision precision) {
    FitFrameToTrack(state_.trackLongitudes, state_.trackLatitudes, precision, state_.frame);
    state_.cursorLon = static_cast<float>(state_.frame.centreLon);
    state_.cursorLat = static_cast<float>(state_.frame.centreLat);
    LoadSurveyMap();
}

void TMainForm::LoadSurveyMap() {
    const std::optional<QByteArray> jpeg = maps_->FetchMap(state_.frame);
    ComposedMap map;
    auto show = [&] {
        state_.baseMapBitmap = map.base;
        state_.trackMapBitmap = map.track;
        SurveyMap->setPicture(map.track);
    };
    try {
        ComposeSurveyMap(jpeg, state_.frame, state_.trackLongitudes, state_.trackLatitudes, map);
    } catch (...) {
        show();  // the picture as far as it was drawn
        throw;
    }
    show();
}

void TMainForm::PlaceStartEndMarkers() {
    const int w = SurveyMap->width();
    ImgStart->move(PlaceMarker(state_.frame, w, state_.startLon, state_.startLat, ImgStart->size()));
    ImgEnd->move(PlaceMarker(state_.frame, w, state_.endLon, state_.endLat, ImgEnd->size()));
}

void TMainForm::PlaceCursorMarker() {
    const CursorPlacement c =
        PlaceCursor(state_.frame, SurveyMap->width(), state_.cursorLon, state_.cursorLat, Shape1->size(), Edit1->height());
    Shape1->move(c.ring);
    Edit1->setText(c.text);
    Edit1->move(c.label);
}

}  // namespace qgrad
