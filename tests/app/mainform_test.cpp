#include "app/mainform.h"
#include "app/windowplace.h"
#include "cli/gridviewer.h"
#include "survey/reader.h"
#include "app/mapwidgets.h"
#include "app/surveygrid.h"
#include "app/tablemodels.h"
#include "common/errors.h"
#include "app/profilechart.h"
#include "common/language.h"
#include "common/geodesy.h"
#include "gridhost/gridfile.h"
#include "gridhost/gridoverlay.h"
#include "mapview/markers.h"
#include "mapview/overlay.h"
#include "processing/settings.h"
#include "survey/columns.h"
#include "fakeinteraction.h"
#include "gdaltools.h"

#include "testapp.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QSlider>
#include <QThread>
#include <QTimer>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QMimeData>
#include <QPushButton>
#include <QToolButton>
#include <QScreen>
#include <QTest>
#include <QUrl>
#include <QSettings>
#include <QTableView>
#include <QTemporaryDir>
#include <qcustomplot.h>

#include <array>
#include <atomic>
#include <cmath>
#include <functional>
#include <future>

namespace qgrad {
// Named in a failed comparison.
std::ostream& operator<<(std::ostream& out, const EnabledCommands& on) {
    return out << "{open " << on.open << ", save " << on.save << ", arrange all " << on.arrangeAll << ", GIS "
               << on.gisExport << ", processing " << on.processing << "}";
}
}  // namespace qgrad

using namespace qgrad;
using qgrad::testing::FakeHost;
using qgrad::testing::FakeInteraction;
using qgrad::testing::FakeMaps;

namespace {

const QString kSample = QString(QGRAD_SAMPLES) + "/field-2026-05-14/run001.csv";

class MainFormTest : public ::testing::Test {
protected:
    // The window speaks as its users know it: Russian messages.
    static void SetUpTestSuite() {
        qgrad::testing::EnsureApplication<QApplication>();
        InstallInterfaceLanguage("ru");
    }
    static void TearDownTestSuite() { InstallInterfaceLanguage("en"); }
    void SetUp() override { MakeForm(std::make_unique<FakeMaps>()); }
    void MakeForm(std::unique_ptr<MapFetcher> maps) {
        form_.reset();
        auto ui = std::make_unique<FakeInteraction>();
        auto host = std::make_unique<FakeHost>();
        ui_ = ui.get();
        host_ = host.get();
        maps_ = dynamic_cast<FakeMaps*>(maps.get());
        form_ = std::make_unique<TMainForm>(std::move(ui), std::move(host), std::move(maps), Settings());
    }
    // The window's settings, in the test's own file.
    std::unique_ptr<QSettings> Settings() const {
        return std::make_unique<QSettings>(dir_.filePath("settings.ini"), QSettings::IniFormat);
    }
    // Copies a file into the test's own folder.
    QString Copy(const QString& from, const QString& name) {
        const QString to = dir_.filePath(name);
        QFile::remove(to);
        EXPECT_TRUE(QFile::copy(from, to));
        return to;
    }
    QString Write(const QByteArray& bytes, const QString& name) {
        const QString path = dir_.filePath(name);
        EXPECT_TRUE(qgrad::testing::WriteFile(path, bytes));
        return path;
    }
    // Lets the window's thread run until the work on the worker has been shown.
    void Settle() {
        QDeadlineTimer deadline(120000);
        // Sleeps between looks, leaving the cores to the work.
        while (form_->IsWorking() && !deadline.hasExpired()) {
            QCoreApplication::processEvents();
            QThread::msleep(5);
        }
        ASSERT_FALSE(form_->IsWorking());
    }
    void Open(const QString& path) {
        ui_->openAnswers.push_back(path);
        form_->BtnOpen->click();
        Settle();
    }
    // SAVE TO MAP, to its end.
    void Save() {
        form_->BtnSave->click();
        Settle();
    }
    static QByteArray ReadAll(const QString& path) { return qgrad::testing::ReadAll(path); }

    QTemporaryDir dir_;
    FakeInteraction* ui_ = nullptr;
    FakeHost* host_ = nullptr;
    FakeMaps* maps_ = nullptr;
    std::unique_ptr<TMainForm> form_;
};

TEST_F(MainFormTest, StartsWithOnlyOpenFileEnabled) {
    EXPECT_EQ(form_->windowTitle(), "Quenor GRADIOMETER");
    EXPECT_TRUE(form_->BtnOpen->isEnabled());
    EXPECT_FALSE(form_->BtnSave->isEnabled());
    EXPECT_FALSE(form_->BtnArrangeAll->isEnabled());
    EXPECT_TRUE(form_->BtnArrange->isHidden());
    EXPECT_TRUE(form_->ArrSignalsCheckBox->isChecked());
    EXPECT_TRUE(form_->ArrSignalsCheckBox->isHidden());
    EXPECT_TRUE(form_->DiffGpsStringGrid->isHidden());
    EXPECT_TRUE(form_->AbsGpsStringGrid->isHidden());
    for (QWidget* w : {static_cast<QWidget*>(form_->Shape1), static_cast<QWidget*>(form_->Edit1),
                       static_cast<QWidget*>(form_->ImgStart), static_cast<QWidget*>(form_->ImgEnd)})
        EXPECT_TRUE(w->isHidden());
    EXPECT_EQ(form_->Chart1->graphCount(), 12);
    EXPECT_EQ(form_->Chart1->xAxis->range().upper, 1000);
    EXPECT_EQ(form_->Chart1->xAxis->label(), QString::fromUtf8("Расстояние, м"));
    EXPECT_EQ(form_->Chart1->yAxis->label(), QString::fromUtf8("gradHz, нТл"));
    for (int k = 0; k < 12; ++k) EXPECT_EQ(form_->Series(k + 1)->pen().color(), ChannelColour(k)) << k;
    EXPECT_NE(ChannelColour(0), ChannelColour(8));
    // The fresh grid: three heading rows and one empty sample row.
    EXPECT_EQ(form_->DataStringGrid->headingModel()->rowCount(), 3);
    EXPECT_EQ(form_->DataStringGrid->sampleModel()->rowCount(), 1);
    EXPECT_EQ(form_->DataStringGrid->sampleModel()->columnCount(), 28);
}

// What the window offers follows its state alone.
TEST(EnabledForTest, CommandsFollowTheState) {
    auto state = [](bool arranged, bool open, bool result, WindowJob job) {
        auto s = std::make_unique<ModuleState>();
        s->survey.arranged = arranged;
        s->surveyOpen = open;
        if (result) s->result.emplace();
        s->job = job;
        return s;
    };
    const EnabledCommands idle{.open = true, .processing = true};
    const struct {
        const char* name;
        std::unique_ptr<ModuleState> state;
        EnabledCommands expected;
    } rows[] = {
        {"no survey yet", state(false, false, false, WindowJob::None), idle},
        {"survey open", state(true, true, false, WindowJob::None),
         {.open = true, .save = true, .arrangeAll = true, .processing = true}},
        {"gridded result on show", state(true, true, true, WindowJob::None),
         {.open = true, .save = true, .arrangeAll = true, .gisExport = true, .processing = true}},
        {"refused after its arrangement", state(true, false, false, WindowJob::None),
         {.open = true, .save = true, .processing = true}},
        {"refused before its arrangement", state(false, false, false, WindowJob::None), idle},
        {"opening under way", state(false, false, false, WindowJob::Opening), {}},
        {"save under way", state(true, true, true, WindowJob::SaveToMap), {}},
        {"folder run under way", state(true, true, false, WindowJob::FolderRun), {}},
        {"GIS export under way", state(true, true, true, WindowJob::GisExport), {}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(EnabledFor(*row.state), row.expected) << row.name;
    }
}

// The window's controls after each action, successful or failed.
TEST_F(MainFormTest, CommandsAfterEachActionAndFailure) {
    auto offered = [this] {
        EnabledCommands on;
        on.open = form_->BtnOpen->isEnabled();
        on.save = form_->BtnSave->isEnabled();
        on.arrangeAll = form_->BtnArrangeAll->isEnabled();
        on.gisExport = form_->BtnGisExport->isEnabled();
        on.processing = form_->ProcessingPanel->isEnabled();
        EXPECT_EQ(form_->BtnRecent->isEnabled(), on.open);
        return on;
    };
    QByteArray bad = ReadAll(kSample);
    bad.replace("101500;5545", "101500;55x45");
    const EnabledCommands idle{.open = true, .processing = true};
    const EnabledCommands open{.open = true, .save = true, .arrangeAll = true, .processing = true};
    const struct {
        const char* name;
        std::function<void()> act;
        EnabledCommands expected;
    } rows[] = {
        {"start", [] {}, idle},
        {"opened", [&] { Open(Copy(kSample, "run001.csv")); }, open},
        {"while opening",
         [&] {
             ui_->openAnswers.push_back(Copy(kSample, "run001.csv"));
             form_->BtnOpen->click();
         },
         {}},
        {"while saving",
         [&] {
             Open(Copy(kSample, "run001.csv"));
             form_->BtnSave->click();
         },
         {}},
        {"refused opening", [&] { Open(Write(bad, "bad.csv")); }, idle},
        {"good then refused opening",
         [&] {
             Open(Copy(kSample, "run001.csv"));
             Open(Write(bad, "bad.csv"));
         },
         idle},
        {"failed save",
         [&] {
             Open(Copy(kSample, "run001.csv"));
             ASSERT_TRUE(QDir(dir_.path()).mkdir("GPS_DIFF_run001.bas"));
             Save();
         },
         open},
        {"failed folder run",
         [&] {
             Open(Copy(kSample, "run001.csv"));
             Write(bad, "run002.csv");
             ui_->folderAnswers.push_back(dir_.path());
             ui_->saveAnswers.push_back("comb.txt");
             form_->BtnArrangeAll->click();
             Settle();
         },
         idle},
    };
    for (const auto& row : rows) {
        MakeForm(std::make_unique<FakeMaps>());
        for (const char* name : {"bad.csv", "run002.csv", "GPS_DIFF_run001.bas"}) {
            QFile::remove(dir_.filePath(name));
            QDir(dir_.filePath(name)).removeRecursively();
        }
        row.act();
        EXPECT_EQ(offered(), row.expected) << row.name;
        Settle();
    }
}

// The client area is the window above the status line.
TEST_F(MainFormTest, ResizeRule) {
    form_->show();
    const int status = form_->StatusBar->height();
    form_->resize(892, 508 + status);
    EXPECT_EQ(form_->Chart1->height(), 203);
    EXPECT_EQ(form_->SurveyMap->height(), 305);
    EXPECT_EQ(form_->SurveyMap->width(), 440);
    EXPECT_EQ(form_->Chart1->width(), 892);
    EXPECT_EQ(form_->TopPanel->x(), 440);
    EXPECT_EQ(form_->StatusBar->y(), 508);
    form_->resize(1300, 901 + status);
    EXPECT_EQ(form_->Chart1->height(), 360);
    EXPECT_EQ(form_->SurveyMap->width(), 541 * 650 / 450);
}

// At 700 x 450 every button is whole and readable; the buttons take a second row.
TEST_F(MainFormTest, NarrowWindowKeepsEveryButtonWhole) {
    form_->show();
    for (const QSize size : {QSize(700, 450), QSize(892, 528), QSize(1366, 768)}) {
        form_->resize(size);
        QApplication::processEvents();
        const QRect panel = form_->ButtonPanel->rect();
        std::vector<QRect> taken;
        for (QWidget* b : std::initializer_list<QWidget*>{form_->BtnOpen, form_->BtnSave, form_->BtnArrangeAll,
                                                                form_->BtnGisExport, form_->BtnRecent}) {
            EXPECT_TRUE(panel.contains(b->geometry())) << size.width() << ": " << b->objectName().toStdString();
            for (const QRect& other : taken) EXPECT_FALSE(other.intersects(b->geometry())) << size.width();
            taken.push_back(b->geometry());
            if (auto* button = qobject_cast<QPushButton*>(b)) {
                EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()), button->width()) << size.width();
            }
        }
        EXPECT_LE(form_->ButtonPanel->geometry().bottom(), form_->DataStringGrid->geometry().top()) << size.width();
        // The PROCESSING controls on show keep their size (they wrap onto more rows instead).
        for (QWidget* w : form_->ProcessingPanel->findChildren<QWidget*>())
            if (w->isVisibleTo(form_->ProcessingPanel)) EXPECT_GE(w->width(), w->minimumSizeHint().width()) << size.width() << ": " << w->metaObject()->className();
    }
}

TEST_F(MainFormTest, OpensASampleIntoTableChartAndPointTables) {
    const QString path = Copy(kSample, "run001.csv");
    Open(path);
    ASSERT_TRUE(ui_->messages.empty()) << ui_->messages[0].detail.toStdString();
    EXPECT_FALSE(ui_->busy);
    EXPECT_EQ(form_->windowTitle(), "run001.csv");
    EXPECT_EQ(form_->state().survey.fileName, "run001.csv");
    EXPECT_EQ(form_->state().survey.folder, QDir::toNativeSeparators(dir_.path() + "/"));
    EXPECT_TRUE(form_->BtnSave->isEnabled());
    EXPECT_TRUE(form_->BtnArrangeAll->isEnabled());

    const SurveyTable& t = form_->state().survey.table;
    ASSERT_EQ(t.rowCount(), 2403u);
    auto* samples = form_->DataStringGrid->sampleModel();
    EXPECT_EQ(samples->rowCount(), 2400);
    EXPECT_EQ(samples->data(samples->index(0, 3), Qt::DisplayRole).toString(), "0");
    EXPECT_EQ(samples->data(samples->index(1, 0), Qt::DisplayRole).toString(), "101500.100");
    EXPECT_EQ(form_->DataStringGrid->headingModel()->data(form_->DataStringGrid->headingModel()->index(2, 1),
                                                           Qt::DisplayRole),
              "Latitude,N");

    // Profiles: each shown channel has one point per row with a gradient,
    // and the chart draws them at most four to a pixel column.
    for (int k = 0; k < 12; ++k) {
        QCPGraph* s = form_->Series(k + 1);
        EXPECT_TRUE(s->visible()) << k;
        EXPECT_EQ(form_->state().survey.profiles.channel[k].size(), 2400u) << k;
        EXPECT_GT(s->data()->size(), 0) << k;
        EXPECT_LE(s->data()->size(), 4 * form_->Chart1->axisRect()->width() + 2) << k;
    }
    EXPECT_EQ(form_->state().survey.profiles.DistanceOf(0, 1), 0.05);
    EXPECT_EQ(form_->state().survey.positions.lon.size(), 2400u);
    EXPECT_EQ(form_->state().survey.positions.lat.size(), 2400u);
    EXPECT_EQ(form_->state().survey.positions.lat[0], t.cell(1, 3) == "55.75119781" ? 55.75119781 : -1);
    EXPECT_GT(form_->Chart1->xAxis->range().upper, 200);  // automatic now
    EXPECT_LT(form_->Chart1->xAxis->range().upper, 300);

    EXPECT_EQ(form_->state().survey.points.size(), 12u * 2400u);
    EXPECT_EQ(form_->state().survey.track.lon.size(), 2400u);
    EXPECT_FALSE(form_->ImgStart->isHidden());
    EXPECT_FALSE(form_->ImgEnd->isHidden());
}

// The point tables' grids are hidden; they take their rows only when shown,
// and scroll in step then.
TEST_F(MainFormTest, PointGridsHoldRowsOnlyWhileShown) {
    form_->show();
    Open(Copy(kSample, "run001.csv"));
    QTableView* diff = form_->DiffGpsStringGrid;
    QTableView* abs = form_->AbsGpsStringGrid;
    EXPECT_EQ(diff->model()->rowCount(), 0);
    EXPECT_EQ(abs->model()->rowCount(), 0);
    diff->show();
    abs->show();
    const int rows = static_cast<int>(form_->state().survey.points.rowCount());
    ASSERT_EQ(diff->model()->rowCount(), rows);
    EXPECT_EQ(abs->model()->rowCount(), rows);
    EXPECT_EQ(diff->model()->data(diff->model()->index(1, 2)).toString().toStdString(),
              form_->state().survey.points.CellText(PointTable::Gradient, 2, 1));
    diff->selectRow(40);
    EXPECT_EQ(abs->currentIndex().row(), 40);
    diff->hide();
    EXPECT_EQ(diff->model()->rowCount(), 0);
}

TEST_F(MainFormTest, HiddenProfileWhenTheFirstRowHasNoGradient) {
    const QByteArray head = ReadAll(kSample).left(ReadAll(kSample).indexOf("\r\n101500"));
    QByteArray data = head + "\r\n";
    data += "101500;5545.0;3737.0;;49000;;49001;2\r\n";
    data += "101501;5545.1;3737.1;;49000;5;49001;3\r\n";
    Open(Write(data, "gap.csv"));
    ASSERT_TRUE(ui_->messages.empty());
    EXPECT_FALSE(form_->Series(1)->visible());
    EXPECT_EQ(form_->Series(1)->data()->size(), 1);  // it still holds the later point
    EXPECT_TRUE(form_->Series(2)->visible());
    EXPECT_FALSE(form_->Series(3)->visible());
    EXPECT_EQ(form_->Series(3)->data()->size(), 0);
}

TEST_F(MainFormTest, CancelChangesNothing) {
    Open(Copy(kSample, "run001.csv"));
    const auto points = form_->Series(1)->data()->size();
    ui_->openAnswers.push_back(std::nullopt);
    form_->BtnOpen->click();
    EXPECT_EQ(form_->windowTitle(), "run001.csv");
    EXPECT_TRUE(form_->BtnSave->isEnabled());
    EXPECT_EQ(form_->Series(1)->data()->size(), points);
    EXPECT_TRUE(ui_->messages.empty());
}

TEST_F(MainFormTest, EmptyAndMalformedFilesAreRefusedAndTheWindowGoesOn) {
    Open(Copy(kSample, "run001.csv"));
    Open(Write("only\r\ntwo lines\r\n", "empty.csv"));
    ASSERT_EQ(ui_->messages.size(), 1u);
    EXPECT_EQ(ui_->messages[0].text, QString::fromUtf8(kEmptyFileText));
    EXPECT_EQ(form_->windowTitle(), "empty.csv");
    EXPECT_FALSE(form_->BtnSave->isEnabled());
    EXPECT_FALSE(form_->BtnArrangeAll->isEnabled());
    EXPECT_EQ(form_->DataStringGrid->headingModel()->data(form_->DataStringGrid->headingModel()->index(1, 0),
                                                           Qt::DisplayRole),
              "two lines");
    EXPECT_FALSE(ui_->busy);

    QByteArray bad = ReadAll(kSample);
    bad.replace("101500;5545", "101500;55x45");
    Open(Write(bad, "bad.csv"));
    ASSERT_EQ(ui_->messages.size(), 2u);
    EXPECT_EQ(ui_->messages[1].text, QString::fromUtf8(kBadFormatText));
    EXPECT_TRUE(ui_->messages[1].detail.contains("55x45")) << ui_->messages[1].detail.toStdString();
    EXPECT_TRUE(ui_->messages[1].detail.contains("line ")) << ui_->messages[1].detail.toStdString();
    EXPECT_FALSE(form_->BtnSave->isEnabled());
    EXPECT_FALSE(ui_->busy);

    // A file that cannot be opened keeps the caption; the message and the
    // status line say which file is not there.
    Open(dir_.filePath("missing.csv"));
    ASSERT_EQ(ui_->messages.size(), 3u);
    EXPECT_EQ(ui_->messages[2].text, "Файл не найден");
    EXPECT_TRUE(ui_->messages[2].detail.startsWith("missing.csv: cannot open ")) << ui_->messages[2].detail.toStdString();
    EXPECT_EQ(form_->StatusBar->toolTip(), "missing.csv не открыт");
    EXPECT_EQ(form_->windowTitle(), "bad.csv");

    Open(Copy(kSample, "run001.csv"));
    EXPECT_EQ(ui_->messages.size(), 3u);
    EXPECT_TRUE(form_->BtnSave->isEnabled());
}

TEST_F(MainFormTest, RefusedOpeningClearsThePreviousSurveysViews) {
    Open(Copy(kSample, "run001.csv"));
    QByteArray bad = ReadAll(kSample);
    bad.replace("101500;5545", "101500;55x45");
    Open(Write(bad, "bad.csv"));
    ASSERT_EQ(ui_->messages.size(), 1u);
    for (int k = 1; k <= 12; ++k) {
        EXPECT_EQ(form_->Series(k)->data()->size(), 0) << k;
        EXPECT_FALSE(form_->Series(k)->visible()) << k;
    }
    EXPECT_TRUE(form_->SurveyMap->picture().isNull());
    EXPECT_TRUE(form_->ImgStart->isHidden());
    EXPECT_TRUE(form_->ImgEnd->isHidden());
    EXPECT_TRUE(form_->state().survey.positions.lon.empty());
    // The table shows what was read: the rows up to the refused one, since
    // nothing after it could change the refusal.
    EXPECT_EQ(form_->state().survey.table.dataRowCount(), 7u);
    EXPECT_NE(ui_->messages[0].detail.indexOf("line 11"), -1) << ui_->messages[0].detail.toStdString();
}

TEST_F(MainFormTest, SecondOpeningScalesTheAxesToItsOwnProfiles) {
    Open(Copy(kSample, "run001.csv"));
    const QCPRange x = form_->Chart1->xAxis->range();
    const QCPRange y = form_->Chart1->yAxis->range();
    Open(Copy(kSample, "run001.csv"));
    EXPECT_EQ(form_->Chart1->xAxis->range(), x);
    EXPECT_EQ(form_->Chart1->yAxis->range(), y);
    // The span of the shown gradients, not the positions'.
    double low = 1e300, high = -1e300;
    for (int k = 1; k <= 12; ++k)
        for (auto it = form_->Series(k)->data()->constBegin(); it != form_->Series(k)->data()->constEnd(); ++it) {
            low = std::min(low, it->value);
            high = std::max(high, it->value);
        }
    // With a little room above and below, no more.
    EXPECT_LT(y.lower, low);
    EXPECT_GT(y.upper, high);
    EXPECT_LT(y.size(), 1.1 * (high - low));
}

TEST_F(MainFormTest, SaveToMapWritesThreeFilesAndStartsTheHost) {
    Open(Copy(kSample, "run001.csv"));
    Save();
    ASSERT_TRUE(ui_->messages.empty());
    const QString folder = dir_.path() + "/";
    ASSERT_EQ(host_->started.size(), 1);
    EXPECT_EQ(host_->started[0], QDir::toNativeSeparators(folder + "GPS_DIFF_run001.bas"));
    const QByteArray abs = ReadAll(folder + "GPS_ABS_run001.txt");
    const QByteArray diff = ReadAll(folder + "GPS_DIFF_run001.txt");
    EXPECT_TRUE(abs.startsWith("Lon;Lat;H,nT\r\n"));
    EXPECT_TRUE(diff.startsWith("Lon;Lat;grad(H),nT/m\r\n"));
    EXPECT_EQ(diff.count("\r\n"), 1 + 12 * 2400);
    EXPECT_TRUE(ReadAll(folder + "GPS_DIFF_run001.bas").contains(("OutGrid:=\"" + folder + "GPS_DIFF_run001.grd\")").toLocal8Bit()));
    EXPECT_FALSE(ui_->busy);

    // The command-line tool writes the same bytes.
    QTemporaryDir other;
    const QString copy = other.filePath("run001.csv");
    ASSERT_TRUE(QFile::copy(kSample, copy));
    QProcess qgrad;
    qgrad.start(QGRAD_CLI, {"arrange", copy});
    ASSERT_TRUE(qgrad.waitForFinished(60000));
    EXPECT_EQ(qgrad.exitCode(), 0) << qgrad.readAllStandardError().toStdString();
    EXPECT_EQ(ReadAll(other.filePath("GPS_ABS_run001.txt")), abs);
    EXPECT_EQ(ReadAll(other.filePath("GPS_DIFF_run001.txt")), diff);
    QByteArray script = ReadAll(folder + "GPS_DIFF_run001.bas");
    script.replace(folder.toLocal8Bit(), (other.path() + "/").toLocal8Bit());
    EXPECT_EQ(ReadAll(other.filePath("GPS_DIFF_run001.bas")), script);
}

TEST_F(MainFormTest, ProcessingGroupWritesWhatQgradsFlagsWrite) {
    form_->DespikeCheckBox->setChecked(true);
    form_->DespikeK->setValue(4);
    form_->DestripeCombo->setCurrentIndex(1);  // median
    Open(Copy(kSample, "run001.csv"));
    ASSERT_TRUE(ui_->messages.empty());
    Save();
    EXPECT_TRUE(form_->StatusBar->toolTip().contains("GPS_DIFF_run001_processing.txt")) << form_->StatusBar->toolTip().toStdString();

    QTemporaryDir other;
    ASSERT_TRUE(QFile::copy(kSample, other.filePath("run001.csv")));
    QProcess qgrad;
    qgrad.start(QGRAD_CLI, {"arrange", other.filePath("run001.csv"), "--despike=4", "--destripe=median"});
    ASSERT_TRUE(qgrad.waitForFinished(60000));
    ASSERT_EQ(qgrad.exitCode(), 0) << qgrad.readAllStandardError().toStdString();
    for (const char* name : {"GPS_ABS_run001.txt", "GPS_DIFF_run001.txt", "GPS_DIFF_run001_processing.txt"})
        EXPECT_EQ(ReadAll(other.filePath(name)), ReadAll(dir_.filePath(name))) << name;
    // Processed points differ from the plain ones.
    form_->DespikeCheckBox->setChecked(false);
    form_->DestripeCombo->setCurrentIndex(0);
    QTemporaryDir plain;
    ASSERT_TRUE(QFile::copy(kSample, plain.filePath("run001.csv")));
    qgrad.start(QGRAD_CLI, {"arrange", plain.filePath("run001.csv")});
    ASSERT_TRUE(qgrad.waitForFinished(60000));
    EXPECT_NE(ReadAll(plain.filePath("GPS_DIFF_run001.txt")), ReadAll(dir_.filePath("GPS_DIFF_run001.txt")));
    // The group is kept between runs.
    form_->DestripeCombo->setCurrentIndex(2);
    MakeForm(std::make_unique<FakeMaps>());
    EXPECT_EQ(form_->DestripeCombo->currentIndex(), 2);
    EXPECT_FALSE(form_->DespikeCheckBox->isChecked());
}

// Values beyond what a surveyor can mean are refused as qgrad refuses them,
// before anything is read or written.
TEST_F(MainFormTest, ProcessingBeyondItsLimitsIsRefusedWithTheCoresMessage) {
    const struct {
        const char* name;
        std::function<void(TMainForm&)> set;
        ProcessingSettings same;  // the same values as qgrad takes them
    } rows[] = {
        {"lag beyond ten seconds",
         [](TMainForm& f) {
             f.LagCombo->setCurrentIndex(1);
             f.LagSeconds->setValue(30);
         },
         [] {
             ProcessingSettings p;
             p.lag.mode = LagMode::Fixed;
             p.lag.seconds = 30;
             return p;
         }()},
        {"lag beyond ten seconds backwards",
         [](TMainForm& f) {
             f.LagCombo->setCurrentIndex(1);
             f.LagSeconds->setValue(-10.5);
         },
         [] {
             ProcessingSettings p;
             p.lag.mode = LagMode::Fixed;
             p.lag.seconds = -10.5;
             return p;
         }()},
        {"despike K below one",
         [](TMainForm& f) {
             f.DespikeCheckBox->setChecked(true);
             f.DespikeK->setValue(0.5);
         },
         [] {
             ProcessingSettings p;
             p.despike.on = true;
             p.despike.k = 0.5;
             return p;
         }()},
    };
    for (const auto& row : rows) {
        for (const bool folder : {false, true}) {
            SCOPED_TRACE(std::string(row.name) + (folder ? ", folder run" : ", opening"));
            form_.reset();
            QFile::remove(dir_.filePath("settings.ini"));  // the values kept by the row before
            MakeForm(std::make_unique<FakeMaps>());
            Open(Copy(kSample, "run001.csv"));
            QFile::remove(dir_.filePath("GPS_DIFF_comb.txt"));
            row.set(*form_);
            std::string expected;
            try {
                ValidateProcessing(row.same);
            } catch (const std::invalid_argument& e) {
                expected = e.what();
            }
            ASSERT_FALSE(expected.empty());
            if (folder) {
                ui_->folderAnswers.push_back(dir_.path());
                ui_->saveAnswers.push_back("comb.txt");
                form_->BtnArrangeAll->click();
            } else {
                ui_->openAnswers.push_back(Copy(kSample, "other.csv"));
                form_->BtnOpen->click();
            }
            EXPECT_FALSE(form_->IsWorking());
            ASSERT_EQ(ui_->messages.size(), 1u);
            EXPECT_EQ(ui_->messages[0].text.toStdString(), expected);
            // The survey on show stays, and nothing was written.
            EXPECT_EQ(form_->windowTitle(), "run001.csv");
            EXPECT_TRUE(form_->BtnSave->isEnabled());
            EXPECT_FALSE(QFile::exists(dir_.filePath("GPS_DIFF_comb.txt")));
            EXPECT_FALSE(ui_->busy);
        }
    }
}

// The label by the profiles says what the points on show carry, and its
// full report is the one SAVE TO MAP writes beside them, whatever the panel
// says after the opening.
// Under Russian the panel's own words are Russian, and its numbers keep the
// point the program writes whatever the region says.
TEST_F(MainFormTest, ProcessingPanelSpeaksTheInterfaceLanguageWithNumbersAsWritten) {
    const QLocale region = QLocale();
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    MakeForm(std::make_unique<FakeMaps>());
    QLocale::setDefault(region);
    const struct {
        const char* name;
        QString shown;
        QString expected;
    } rows[] = {
        {"true offsets", form_->TrueOffsetsCheckBox->text(), QString::fromUtf8("истинные смещения")},
        {"despike window", form_->DespikeHalfWidth->prefix(), QString::fromUtf8("окно ±")},
        {"apply", form_->BtnApplyProcessing->text(), QString::fromUtf8("Применить к показанной съёмке")},
        {"label at start", form_->ProcessingShown->text(), QString::fromUtf8("Обработка: нет")},
        {"despike K", form_->DespikeK->text(), "5.0"},
        {"lag", form_->LagSeconds->text(), "0.00"},
    };
    for (const auto& row : rows) EXPECT_EQ(row.shown.toStdString(), row.expected.toStdString()) << row.name;
}

TEST_F(MainFormTest, ChartTitlesSpeakTheInterfaceLanguageAndTicksWriteAPoint) {
    const QLocale region = QLocale();
    const struct {
        const char* name;
        const char* language;
        QLocale region;
        const char* distance;
        const char* gradient;
    } rows[] = {
        {"Russian, Russian region", "ru", QLocale(QLocale::Russian, QLocale::Russia), "Расстояние, м", "gradHz, нТл"},
        {"English, Russian region", "en", QLocale(QLocale::Russian, QLocale::Russia), "Distance, m", "gradHz, nT"},
        {"English, German region", "en", QLocale(QLocale::German, QLocale::Germany), "Distance, m", "gradHz, nT"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        InstallInterfaceLanguage(row.language);
        QLocale::setDefault(row.region);
        MakeForm(std::make_unique<FakeMaps>());
        Open(Copy(kSample, "run001.csv"));
        form_->Chart1->replot();
        EXPECT_EQ(form_->Chart1->xAxis->label().toStdString(), row.distance);
        EXPECT_EQ(form_->Chart1->yAxis->label().toStdString(), row.gradient);
        // Each tick's label reads back as its value in the files' number
        // text: "-2,5" or "1 000" would not.
        int fractional = 0;
        for (QCPAxis* axis : {form_->Chart1->xAxis, form_->Chart1->yAxis}) {
            const QVector<double> ticks = axis->tickVector();
            const QVector<QString> labels = axis->tickVectorLabels();
            ASSERT_EQ(ticks.size(), labels.size());
            for (qsizetype i = 0; i < ticks.size(); ++i) {
                bool ok = false;
                EXPECT_DOUBLE_EQ(labels[i].toDouble(&ok), ticks[i]) << labels[i].toStdString();
                EXPECT_TRUE(ok) << labels[i].toStdString();
                fractional += ticks[i] != std::floor(ticks[i]);
            }
        }
        // The sample's anomaly of about -12.5 nT gives ticks between whole numbers.
        EXPECT_GT(fractional, 0);
    }
    QLocale::setDefault(region);
    InstallInterfaceLanguage("ru");
}

TEST_F(MainFormTest, ProcessingLabelSaysWhatTheShownPointsCarry) {
    const QString report = dir_.filePath("GPS_DIFF_run001_processing.txt");
    const struct {
        const char* name;
        bool despikeAtOpening;
        bool changeAfter;  // the panel is changed after the opening
    } rows[] = {
        {"plain", false, false},
        {"despiked", true, false},
        {"despiked, then despike unticked", true, true},
        {"plain, then despike ticked", false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        form_.reset();
        QFile::remove(dir_.filePath("settings.ini"));
        QFile::remove(report);
        MakeForm(std::make_unique<FakeMaps>());
        const QString atStart = form_->ProcessingShown->text();
        form_->DespikeCheckBox->setChecked(row.despikeAtOpening);
        Open(Copy(kSample, "run001.csv"));
        const QString opened = form_->ProcessingShown->text();
        const QString openedReport = form_->ProcessingShown->toolTip();
        EXPECT_EQ(opened == atStart, !row.despikeAtOpening) << opened.toStdString();
        if (row.changeAfter) form_->DespikeCheckBox->setChecked(!row.despikeAtOpening);
        const QString shown = form_->ProcessingShown->text();
        // A change of the panel is noted; the report of what the points carry stays.
        EXPECT_EQ(shown != opened, row.changeAfter) << shown.toStdString();
        EXPECT_TRUE(form_->ProcessingShown->toolTip().startsWith(openedReport)) << shown.toStdString();
        // Beside the axis title, not over it.
        EXPECT_LE(form_->ProcessingShown->width(), form_->Chart1->width() / 2);
        Save();
        ASSERT_TRUE(ui_->messages.empty());
        EXPECT_EQ(QFile::exists(report), row.despikeAtOpening);
        if (row.despikeAtOpening) {
            const QString written = QString::fromUtf8(ReadAll(report)).replace("\r\n", "\n").trimmed();
            EXPECT_TRUE(form_->ProcessingShown->toolTip().startsWith(written)) << form_->ProcessingShown->toolTip().toStdString();
        }
        // The label lies whole within the chart.
        EXPECT_TRUE(form_->Chart1->rect().contains(form_->ProcessingShown->geometry()));
    }
}

// A change of PROCESSING after an opening is offered to the survey on show;
// applied, SAVE TO MAP writes what qgrad writes with the new values, and the
// file is not read again (it is gone by then).
TEST_F(MainFormTest, ChangedProcessingAppliedToTheShownSurveyIsWhatIsSaved) {
    const struct {
        const char* name;
        bool despikeAtOpening;
        QStringList flagsAfter;  // qgrad's flags for the panel after the change
    } rows[] = {
        {"plain, then despiked and destriped", false, {"--despike=4", "--destripe=median"}},
        {"despiked, then plain", true, {}},
        {"despiked, then destriped", true, {"--destripe=median"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        form_.reset();
        QTemporaryDir here;
        QFile::remove(dir_.filePath("settings.ini"));
        MakeForm(std::make_unique<FakeMaps>());
        form_->DespikeCheckBox->setChecked(row.despikeAtOpening);
        form_->DespikeK->setValue(4);
        const QString survey = here.filePath("run001.csv");
        ASSERT_TRUE(QFile::copy(kSample, survey));
        Open(survey);
        EXPECT_TRUE(form_->BtnApplyProcessing->isHidden());
        form_->DespikeCheckBox->setChecked(row.flagsAfter.contains("--despike=4"));
        form_->DestripeCombo->setCurrentIndex(row.flagsAfter.contains("--destripe=median") ? 1 : 0);
        ASSERT_FALSE(form_->BtnApplyProcessing->isHidden());
        ASSERT_TRUE(QFile::remove(survey));
        form_->BtnApplyProcessing->click();
        Settle();
        ASSERT_TRUE(ui_->messages.empty()) << ui_->messages[0].text.toStdString();
        EXPECT_TRUE(form_->BtnApplyProcessing->isHidden());
        for (int k = 0; k < 12; ++k) EXPECT_EQ(form_->Series(k + 1)->data()->isEmpty(), !form_->state().survey.profiles.shown[k]);
        Save();
        ASSERT_TRUE(ui_->messages.empty());

        QTemporaryDir other;
        ASSERT_TRUE(QFile::copy(kSample, other.filePath("run001.csv")));
        QProcess qgrad;
        qgrad.start(QGRAD_CLI, QStringList{"arrange", other.filePath("run001.csv")} + row.flagsAfter);
        ASSERT_TRUE(qgrad.waitForFinished(60000));
        ASSERT_EQ(qgrad.exitCode(), 0) << qgrad.readAllStandardError().toStdString();
        for (const char* name : {"GPS_ABS_run001.txt", "GPS_DIFF_run001.txt", "GPS_DIFF_run001_processing.txt"})
            EXPECT_EQ(ReadAll(other.filePath(name)), ReadAll(here.filePath(name))) << name;
        EXPECT_EQ(QFile::exists(here.filePath("GPS_DIFF_run001_processing.txt")), !row.flagsAfter.isEmpty());
    }
}

TEST_F(MainFormTest, OutputFailureIsShownAndTheWindowGoesOn) {
    Open(Copy(kSample, "run001.csv"));
    ASSERT_TRUE(QDir(dir_.path()).mkdir("GPS_DIFF_run001.bas"));  // the script's name is taken by a folder
    Save();
    ASSERT_EQ(ui_->messages.size(), 1u);
    EXPECT_TRUE(ui_->messages[0].text.contains("GPS_DIFF_run001.bas")) << ui_->messages[0].text.toStdString();
    EXPECT_TRUE(host_->started.isEmpty());
    EXPECT_FALSE(ui_->busy);
    EXPECT_TRUE(form_->BtnSave->isEnabled());
}

TEST_F(MainFormTest, MapShowsTheTrackAndMarkersFollowTheRun) {
    form_->show();
    form_->resize(1300, 800);
    Open(Copy(kSample, "run001.csv"));
    ASSERT_EQ(maps_->asked.size(), 1u);
    const MapFrame frame = form_->state().survey.frame;
    EXPECT_EQ(maps_->asked[0].zoom, frame.zoom);
    EXPECT_EQ(frame.zoom, 17);
    EXPECT_NEAR(frame.centreLat, 55.7513, 1e-3);
    EXPECT_EQ(form_->state().cursorLon, static_cast<float>(frame.centreLon));

    // No image came: the plain fill with the bar and the lime track.
    const QImage& picture = form_->SurveyMap->picture();
    ASSERT_EQ(picture.size(), QSize(650, 450));
    const QPoint start = GeoToMapPixel(frame, form_->state().survey.ends.startLon, form_->state().survey.ends.startLat);
    EXPECT_EQ(picture.pixel(start), qRgb(0, 255, 0));
    EXPECT_EQ(picture.pixel(640, 440), form_->state().baseMapBitmap.pixel(640, 440));

    const int w = form_->SurveyMap->width();
    const int client = 800 - form_->StatusBar->height();
    EXPECT_EQ(w, (client - client * 2 / 5) * 650 / 450);
    EXPECT_EQ(form_->ImgStart->pos(),
              PlaceMarker(frame, w, form_->state().survey.ends.startLon, form_->state().survey.ends.startLat, QSize(25, 25)));
    EXPECT_EQ(form_->ImgEnd->pos(), PlaceMarker(frame, w, form_->state().survey.ends.endLon, form_->state().survey.ends.endLat, QSize(42, 24)));
    EXPECT_EQ(form_->ImgStart->size(), QSize(25, 25));
    EXPECT_EQ(form_->ImgEnd->size(), QSize(42, 24));
}

// The chart holds a few points a pixel column; a click on one of them still
// names its own profile point, and so its row.
TEST_F(MainFormTest, ClickOnADrawnPointFindsItsProfilePoint) {
    form_->show();
    form_->resize(700, 600);
    Open(Copy(kSample, "run001.csv"));
    QCPGraph* g = form_->Series(5);
    ASSERT_LT(g->data()->size(), 2400);  // fewer points drawn than the profile has
    const int drawn = g->data()->size() * 2 / 3;
    const QCPGraphData point = *g->data()->at(drawn);
    QMouseEvent click(QEvent::MouseButtonRelease, QPointF(), QPointF(), Qt::LeftButton, Qt::LeftButton, {});
    emit form_->Chart1->plottableClick(g, drawn, &click);
    const int index = form_->Profiles->PointIndexOf(4, drawn);
    EXPECT_GT(index, drawn);
    EXPECT_EQ(form_->state().survey.profiles.DistanceOf(4, static_cast<std::size_t>(index)), point.key);
    EXPECT_EQ(form_->state().survey.profiles.channel[4].Gradient(static_cast<std::size_t>(index)), point.value);
    EXPECT_EQ(form_->state().cursorLat, static_cast<float>(form_->state().survey.positions.lat[static_cast<std::size_t>(index)]));
    EXPECT_EQ(form_->state().cursorLon, static_cast<float>(form_->state().survey.positions.lon[static_cast<std::size_t>(index)]));

    // Zoomed in far enough, the chart holds every point of the span.
    form_->Chart1->xAxis->setRange(10, 11);
    form_->Chart1->replot();
    const SurveyProfiles& p = form_->state().survey.profiles;
    int inSpan = 0;
    for (std::size_t i = 0; i < p.channel[4].size(); ++i) inSpan += p.DistanceOf(4, i) >= 10 && p.DistanceOf(4, i) <= 11;
    ASSERT_GT(inSpan, 0);
    EXPECT_EQ(g->data()->size(), inSpan + 2);  // and the neighbour beyond each end
}

TEST_F(MainFormTest, ClickedProfilePointShowsItsPositionOnTheMap) {
    form_->show();
    form_->resize(1300, 800);
    Open(Copy(kSample, "run001.csv"));
    // The click's index within the profile picks the row of the look-ups.
    form_->Chart1ClickSeries(form_->Series(3), 100);
    const float lon = static_cast<float>(form_->state().survey.positions.lon[100]);
    const float lat = static_cast<float>(form_->state().survey.positions.lat[100]);
    EXPECT_EQ(form_->state().cursorLon, lon);
    EXPECT_EQ(form_->state().cursorLat, lat);
    EXPECT_FALSE(form_->Shape1->isHidden());
    EXPECT_FALSE(form_->Edit1->isHidden());
    const CursorPlacement c =
        PlaceCursor(form_->state().survey.frame, form_->SurveyMap->width(), lon, lat, QSize(13, 13), form_->Edit1->height());
    EXPECT_EQ(form_->Shape1->pos(), c.ring);
    EXPECT_EQ(form_->Edit1->pos(), c.label);
    EXPECT_EQ(form_->Edit1->text(), c.text);
    EXPECT_TRUE(form_->Edit1->text().contains(", 37.6"));  // longitude second

    // Releasing over the ring hides ring and label; a resize still moves them.
    form_->Shape1MouseUp();
    EXPECT_TRUE(form_->Shape1->isHidden());
    EXPECT_TRUE(form_->Edit1->isHidden());
    form_->resize(900, 500);
    const int w = form_->SurveyMap->width();
    EXPECT_EQ(form_->Shape1->pos(),
              PlaceCursor(form_->state().survey.frame, w, lon, lat, QSize(13, 13), form_->Edit1->height()).ring);
    EXPECT_EQ(form_->ImgStart->pos(),
              PlaceMarker(form_->state().survey.frame, w, form_->state().survey.ends.startLon, form_->state().survey.ends.startLat, QSize(25, 25)));
    // Opening again hides the ring.
    form_->Chart1ClickSeries(form_->Series(1), 5);
    Open(Copy(kSample, "run001.csv"));
    EXPECT_TRUE(form_->Shape1->isHidden());
}

TEST_F(MainFormTest, ImageFromTheServiceIsShown) {
    maps_->answer = {qgrad::testing::JpegOf(QColor(220, 20, 20))};
    Open(Copy(kSample, "run001.csv"));
    EXPECT_NEAR(form_->SurveyMap->picture().pixelColor(600, 300).red(), 220, 8);
    EXPECT_TRUE(ui_->messages.empty());
}

// Pixels of the track's colour in a picture: the track is drawn.
int TrackPixels(const QImage& picture) {
    int n = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x) n += picture.pixel(x, y) == qRgb(0, 255, 0);
    return n;
}

TEST_F(MainFormTest, MissingSatellitePictureSaysWhyOverThePlainFill) {
    const struct {
        const char* name;
        const char* language;
        MapAnswer answer;
        MapFailureKind kind;
        const char* words;
    } cases[] = {
        {"no network", "ru", {std::nullopt, MapFailureKind::NoNetwork, "the map request failed: no route"},
         MapFailureKind::NoNetwork, "Нет сети: спутникового снимка нет"},
        {"refused", "ru", {std::nullopt, MapFailureKind::Refused, "the map request failed: 403"},
         MapFailureKind::Refused, "Картографический сервис отказал: спутникового снимка нет"},
        {"timed out", "ru", {std::nullopt, MapFailureKind::TimedOut, "the map request failed: timeout"},
         MapFailureKind::TimedOut, "Время ожидания истекло: спутникового снимка нет"},
        {"an answer that is no picture", "ru", {QByteArray("<html>captcha</html>")}, MapFailureKind::BadAnswer,
         "Картографический сервис не прислал снимка местности"},
        {"no network, English", "en", {std::nullopt, MapFailureKind::NoNetwork, "the map request failed: no route"},
         MapFailureKind::NoNetwork, "No network: no satellite picture"},
        {"refused, English", "en", {std::nullopt, MapFailureKind::Refused, "the map request failed: 403"},
         MapFailureKind::Refused, "Refused by the map service: no satellite picture"},
        {"timed out, English", "en", {std::nullopt, MapFailureKind::TimedOut, "the map request failed: timeout"},
         MapFailureKind::TimedOut, "Timed out: no satellite picture"},
    };
    for (const auto& c : cases) {
        InstallInterfaceLanguage(c.language);
        MakeForm(std::make_unique<FakeMaps>());
        maps_->answer = c.answer;
        form_->show();
        Open(Copy(kSample, "run001.csv"));
        EXPECT_EQ(form_->state().mapFailure, c.kind) << c.name;
        EXPECT_TRUE(form_->SurveyMap->FailureNotice->isVisible()) << c.name;
        EXPECT_EQ(form_->SurveyMap->FailureText->text().toStdString(), c.words) << c.name;
        EXPECT_TRUE(form_->SurveyMap->RetryButton->isVisible()) << c.name;
        EXPECT_TRUE(form_->SurveyMap->RetryButton->isEnabled()) << c.name;
        // The request's own account is there for a closer look.
        EXPECT_FALSE(form_->SurveyMap->FailureText->toolTip().isEmpty()) << c.name;
        EXPECT_EQ(form_->SurveyMap->FailureText->toolTip().toStdString(), form_->state().mapFailureReason) << c.name;
        // The plain fill, with the track and the scale bar drawn over it.
        const QImage& picture = form_->SurveyMap->picture();
        EXPECT_EQ(picture.pixelColor(600, 400), PlainMapFill()) << c.name;
        EXPECT_GT(TrackPixels(picture), 50) << c.name;
        EXPECT_EQ(picture.pixel(50, 20), qRgb(0, 0, 0)) << c.name;
        // Not a refusal of the survey: no message, and the commands follow.
        EXPECT_TRUE(ui_->messages.empty()) << c.name;
        EXPECT_TRUE(form_->BtnSave->isEnabled()) << c.name;
    }
    InstallInterfaceLanguage("ru");
}

TEST_F(MainFormTest, FailureNoticeKeepsClearOfTheScaleBarAndShowsAllItsWords) {
    const struct {
        const char* name;
        int width;
        bool wrapped;
    } rows[] = {
        {"the map at its own size", 650, false},
        {"the map of a 700 px window", 370, true},
        {"a narrower map still", 240, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        MapPicture map;
        map.resize(row.width, row.width * 450 / 650);
        map.show();
        map.setFailure(MapFailureKind::Refused, "the map request failed: 403");
        QCoreApplication::processEvents();
        const QRect notice = map.FailureNotice->geometry();
        EXPECT_GE(notice.left(), row.width / 5);  // the scale bar's corner stays free
        EXPECT_LE(notice.right(), row.width - 1);
        const QLabel* text = map.FailureText;
        EXPECT_EQ(text->wordWrap(), row.wrapped);
        // Every word shown: on one line as wide as it wants, or wrapped to
        // as many lines as its width needs.
        if (row.wrapped)
            EXPECT_GE(text->height(), text->heightForWidth(text->width()));
        else
            EXPECT_GE(text->width(), text->sizeHint().width());
        EXPECT_TRUE(map.RetryButton->isVisible());
        EXPECT_GE(map.RetryButton->width(), map.RetryButton->sizeHint().width());
    }
}

TEST_F(MainFormTest, RetryFetchesThePictureAgainOnTheWorker) {
    form_->show();
    Open(Copy(kSample, "run001.csv"));
    ASSERT_EQ(maps_->asked.size(), 1u);
    ASSERT_TRUE(form_->SurveyMap->FailureNotice->isVisible());

    // Still no network: the notice stays, the fill with it.
    form_->SurveyMap->RetryButton->click();
    Settle();
    ASSERT_EQ(maps_->asked.size(), 2u);
    EXPECT_EQ(form_->state().mapFailure, MapFailureKind::NoNetwork);
    EXPECT_TRUE(form_->SurveyMap->FailureNotice->isVisible());

    // Another failure: the notice says the new reason.
    maps_->answer = {std::nullopt, MapFailureKind::TimedOut, "the map request failed: timeout"};
    form_->SurveyMap->RetryButton->click();
    Settle();
    EXPECT_EQ(form_->state().mapFailure, MapFailureKind::TimedOut);
    EXPECT_EQ(form_->SurveyMap->FailureText->text(), QString::fromUtf8("Время ожидания истекло: спутникового снимка нет"));

    // The service answers now: the picture replaces the fill, the notice goes.
    maps_->answer = {qgrad::testing::JpegOf(QColor(220, 20, 20))};
    form_->SurveyMap->RetryButton->click();
    EXPECT_TRUE(form_->IsWorking());  // on the worker, the commands waiting
    EXPECT_FALSE(form_->BtnOpen->isEnabled());
    Settle();
    ASSERT_EQ(maps_->asked.size(), 4u);
    EXPECT_EQ(maps_->asked[3].centreLon, maps_->asked[0].centreLon);
    EXPECT_EQ(maps_->asked[3].centreLat, maps_->asked[0].centreLat);
    EXPECT_EQ(maps_->asked[3].zoom, maps_->asked[0].zoom);
    EXPECT_EQ(form_->state().mapFailure, MapFailureKind::None);
    EXPECT_EQ(form_->state().mapFailureReason, "");
    EXPECT_FALSE(form_->SurveyMap->FailureNotice->isVisible());
    const QImage& picture = form_->SurveyMap->picture();
    EXPECT_NEAR(picture.pixelColor(600, 400).red(), 220, 8);
    EXPECT_GT(TrackPixels(picture), 50);
    EXPECT_NEAR(form_->state().baseMapBitmap.pixelColor(600, 400).red(), 220, 8);
    EXPECT_TRUE(form_->BtnOpen->isEnabled());
    EXPECT_TRUE(ui_->messages.empty());

    // A new opening that fails shows the notice afresh.
    maps_->answer = {std::nullopt, MapFailureKind::Refused, "the map request failed: 403"};
    Open(Copy(kSample, "run001.csv"));
    EXPECT_EQ(form_->state().mapFailure, MapFailureKind::Refused);
    EXPECT_TRUE(form_->SurveyMap->FailureNotice->isVisible());
}

TEST_F(MainFormTest, StatusLineSaysWhatWasWrittenAndThatGriddingRuns) {
    Open(Copy(kSample, "run001.csv"));
    EXPECT_TRUE(form_->StatusBar->toolTip().startsWith(QString::fromUtf8("run001.csv: отсчётов 2400, точек 28800")))
        << form_->StatusBar->toolTip().toStdString();
    Save();
    const QString text = form_->StatusBar->toolTip();
    for (const char* name : {"GPS_ABS_run001.txt", "GPS_DIFF_run001.txt", "GPS_DIFF_run001.bas"})
        EXPECT_TRUE(text.contains(name)) << text.toStdString();
    EXPECT_TRUE(text.contains(QDir::toNativeSeparators(dir_.path()))) << text.toStdString();
    EXPECT_TRUE(form_->GriddingStatus->toolTip().contains("GPS_DIFF_run001.bas")) << form_->GriddingStatus->toolTip().toStdString();
    // The host ends without making its picture: the status line says so,
    // and the mouse over the profiles does not take it away.
    ASSERT_EQ(host_->running.size(), 1u);
    host_->running[0]();
    EXPECT_TRUE(form_->GriddingStatus->toolTip().contains(QString::fromUtf8("без карты"))) << form_->GriddingStatus->toolTip().toStdString();
    emit form_->Profiles->hovered("Channel 1: 2.00 m, 0.50 nT/m");
    EXPECT_EQ(form_->StatusBar->text(), "Channel 1: 2.00 m, 0.50 nT/m");
    emit form_->Profiles->hovered({});
    EXPECT_TRUE(form_->StatusBar->toolTip().contains("GPS_DIFF_run001.bas"));
}

// The status line's two halves each keep to their width, whole words or an
// ellipsis, the whole text a tooltip away.
TEST_F(MainFormTest, StatusLineHalvesStayApartAndCutAtAnEllipsis) {
    form_->show();
    Open(Copy(kSample, "a survey with a rather long name from the second field day.csv"));
    Save();
    for (const QSize size : {QSize(700, 450), QSize(1366, 768)}) {
        SCOPED_TRACE(size.width());
        form_->resize(size);
        QApplication::processEvents();
        EXPECT_FALSE(form_->StatusBar->geometry().intersects(form_->GriddingStatus->geometry()));
        EXPECT_FALSE(form_->GriddingStatus->geometry().intersects(form_->ArrangeAllProgress->geometry()));
        for (QLabel* half : {form_->StatusBar, form_->GriddingStatus}) {
            const QString text = half->text();
            EXPECT_LE(half->fontMetrics().horizontalAdvance(text), half->contentsRect().width()) << text.toStdString();
            // Cut text ends in the ellipsis and is the start of the whole.
            if (text != half->toolTip()) EXPECT_TRUE(text.endsWith(QChar(0x2026))) << text.toStdString();
        }
    }
    EXPECT_TRUE(form_->StatusBar->toolTip().contains("GPS_DIFF_a survey with a rather long name from the second field day.bas"))
        << form_->StatusBar->toolTip().toStdString();
}

TEST_F(MainFormTest, StatusLineFollowsTheOpeningAndTheMouse) {
    const struct {
        const char* name;
        std::function<void()> act;
        std::function<void()> check;
    } rows[] = {
        {"a new opening clears the last survey's gridding",
         [&] {
             Open(Copy(kSample, "run001.csv"));
             Save();
             Open(Copy(kSample, "run002.csv"));
         },
         [&] {
             EXPECT_TRUE(form_->GriddingStatus->text().isEmpty()) << form_->GriddingStatus->text().toStdString();
             EXPECT_TRUE(form_->StatusBar->toolTip().startsWith("run002.csv")) << form_->StatusBar->toolTip().toStdString();
         }},
        {"the readout goes when the mouse leaves the profiles",
         [&] {
             Open(Copy(kSample, "run001.csv"));
             emit form_->Profiles->hovered("Channel 1: 2.00 m, 0.50 nT/m");
             QEvent leave(QEvent::Leave);
             QApplication::sendEvent(form_->Chart1, &leave);
         },
         [&] {
             EXPECT_TRUE(form_->StatusBar->toolTip().startsWith("run001.csv"));
             EXPECT_FALSE(form_->StatusBar->text().contains("Channel")) << form_->StatusBar->text().toStdString();
         }},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        MakeForm(std::make_unique<FakeMaps>());
        row.act();
        row.check();
    }
}

TEST_F(MainFormTest, ProfilesHaveALegendThatHidesAChannelAndTellWhatIsUnderTheMouse) {
    form_->show();
    form_->resize(1300, 800);
    Open(Copy(kSample, "run001.csv"));
    EXPECT_TRUE(form_->Chart1->legend->visible());
    EXPECT_EQ(form_->Chart1->legend->itemCount(), 12);
    form_->Profiles->ToggleChannel(2);
    EXPECT_FALSE(form_->Series(3)->visible());
    form_->Profiles->ToggleChannel(2);
    EXPECT_TRUE(form_->Series(3)->visible());
    form_->Profiles->ToggleChannel(2);
    Open(Copy(kSample, "run001.csv"));  // a new survey shows every channel again
    EXPECT_TRUE(form_->Series(3)->visible());

    form_->Chart1->replot();
    const QCPGraphData point = *form_->Series(5)->data()->at(1000);
    const QPoint pixel(qRound(form_->Chart1->xAxis->coordToPixel(point.key)),
                       qRound(form_->Chart1->yAxis->coordToPixel(point.value)));
    const std::optional<PointUnderMouse> under = form_->Profiles->PointAt(pixel);
    ASSERT_TRUE(under.has_value());
    EXPECT_NEAR(under->distance, point.key, 1.0);  // a neighbour may lie under the same pixel
}

TEST_F(MainFormTest, ClickedTableRowShowsItsPositionOnTheMap) {
    form_->show();
    Open(Copy(kSample, "run001.csv"));
    QTableView* rows = form_->DataStringGrid->sampleView();
    const QRect cell = rows->visualRect(rows->model()->index(7, 1));
    QTest::mouseClick(rows->viewport(), Qt::LeftButton, {}, cell.center());
    EXPECT_FALSE(form_->Shape1->isHidden());
    EXPECT_EQ(form_->state().cursorLat, static_cast<float>(form_->state().survey.positions.lat[7]));
    EXPECT_EQ(form_->state().cursorLon, static_cast<float>(form_->state().survey.positions.lon[7]));
    // A cell's whole text is its tooltip.
    auto* samples = form_->DataStringGrid->sampleModel();
    EXPECT_EQ(samples->data(samples->index(7, 1), Qt::ToolTipRole), samples->data(samples->index(7, 1), Qt::DisplayRole));
    // Double-clicking a column's edge fits its widest text.
    form_->DataStringGrid->FitColumn(1);
    EXPECT_GT(rows->columnWidth(1), 70);
    EXPECT_EQ(form_->DataStringGrid->headingView()->columnWidth(1), rows->columnWidth(1));
}

TEST_F(MainFormTest, DroppedSurveyOpensAndDroppedFolderRunsTheFolder) {
    const QString survey = Copy(kSample, "run001.csv");
    auto drop = [&](const QString& path) {
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(path)});
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form_.get(), &enter);
        EXPECT_TRUE(enter.isAccepted());
        QDropEvent event(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(form_.get(), &event);
        QApplication::processEvents();
        Settle();
    };
    drop(survey);
    EXPECT_EQ(form_->windowTitle(), "run001.csv");
    EXPECT_TRUE(ui_->openFolders.isEmpty());  // no dialog
    ui_->saveAnswers.push_back(dir_.filePath("dropped.txt"));
    drop(dir_.path());
    EXPECT_TRUE(ui_->messages.empty());
    EXPECT_TRUE(QFile::exists(dir_.filePath("GPS_DIFF_dropped.bas")));
}

TEST_F(MainFormTest, ShortcutsRunTheCommands) {
    form_->show();
    QApplication::setActiveWindow(form_.get());
    ui_->openAnswers.push_back(Copy(kSample, "run001.csv"));
    QTest::keyClick(form_.get(), Qt::Key_O, Qt::ControlModifier);
    Settle();
    EXPECT_EQ(form_->windowTitle(), "run001.csv");
    QTest::keyClick(form_.get(), Qt::Key_S, Qt::ControlModifier);
    Settle();
    EXPECT_EQ(host_->started.size(), 1);
}

TEST_F(MainFormTest, SettingsAreKeptBetweenRuns) {
    form_->ArrSignalsCheckBox->setChecked(false);
    form_->resize(700, 500);  // within the test screen, as a kept window is
    Open(Copy(kSample, "run001.csv"));
    Open(Copy(kSample, "second.csv"));
    MakeForm(std::make_unique<FakeMaps>());  // the program's next run
    EXPECT_FALSE(form_->ArrSignalsCheckBox->isChecked());
    EXPECT_EQ(form_->size(), QSize(700, 500));
    EXPECT_EQ(form_->RecentFiles(), QStringList({dir_.filePath("second.csv"), dir_.filePath("run001.csv")}));
    ui_->openAnswers.push_back(std::nullopt);
    form_->BtnOpen->click();
    ASSERT_EQ(ui_->openFolders.size(), 1);
    EXPECT_EQ(QDir(ui_->openFolders[0]), QDir(dir_.path()));
}

// A kept window larger than the screen (another screen's, or a settings
// file edited by hand) comes back on this screen, not as gigabytes of pixels.
TEST_F(MainFormTest, KeptWindowIsKeptOnTheScreen) {
    form_->setGeometry(-50000, 30000, 20000, 20000);
    MakeForm(std::make_unique<FakeMaps>());
    const QRect screen = form_->screen()->availableGeometry();
    EXPECT_TRUE(screen.contains(form_->geometry())) << form_->geometry().width() << " x " << form_->geometry().height();
}

// A survey cut off at its end opens without its last line, and the status
// line says so.
TEST_F(MainFormTest, CutSurveyOpensAndSaysSo) {
    Open(Write(qgrad::testing::CutInItsLastLine(kSample), "cut.csv"));
    EXPECT_TRUE(ui_->messages.empty());
    EXPECT_TRUE(form_->BtnSave->isEnabled());
    EXPECT_TRUE(form_->StatusBar->toolTip().contains("cut.csv: " + CutLastLineText())) << form_->StatusBar->toolTip().toStdString();
}

TEST_F(MainFormTest, EnglishInterfaceSpeaksEnglish) {
    InstallInterfaceLanguage("en");
    Open(Write("only\r\ntwo lines\r\n", "empty.csv"));
    InstallInterfaceLanguage("ru");
    ASSERT_EQ(ui_->messages.size(), 1u);
    EXPECT_EQ(ui_->messages[0].text, "Empty file!");
}

TEST_F(MainFormTest, GriddedResultLiesOverTheMapAndGoesToGis) {
    form_->show();
    form_->DestripeCombo->setCurrentIndex(1);  // processed points are still the survey's
    Open(Copy(kSample, "run001.csv"));
    Save();
    EXPECT_FALSE(form_->BtnGisExport->isEnabled());
    // The host makes its grid: one value all over the survey's map.
    const MapFrame frame = form_->state().survey.frame;
    const GeoPosition sw = MapPixelToGeo(frame, 0, kMapHeight), ne = MapPixelToGeo(frame, kMapWidth, 0);
    Grid grid;
    grid.cols = grid.rows = 50;
    grid.xLL = sw.lon;
    grid.yLL = sw.lat;
    grid.xSize = (ne.lon - sw.lon) / 49;
    grid.ySize = (ne.lat - sw.lat) / 49;
    grid.z.assign(2500, 1.0);
    grid.z[0] = -1.0;
    WriteGridFile(dir_.filePath("GPS_DIFF_run001.grd"), grid);
    ASSERT_TRUE(qgrad::testing::WriteFile(dir_.filePath("GPS_DIFF_run001.png"), "picture"));
    // The result is shown once its picture is there, while the host's window
    // may still be open.
    QDeadlineTimer wait(5000);
    while (form_->ResultOverlay->isHidden() && !wait.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);

    ASSERT_FALSE(form_->ResultOverlay->isHidden());
    EXPECT_TRUE(form_->BtnGisExport->isEnabled());
    const QImage& shown = form_->SurveyMap->picture();
    const QImage& plain = form_->state().trackMapBitmap;
    const QPoint inside(500, 300);
    EXPECT_NE(shown.pixel(inside), plain.pixel(inside));
    const QPoint start = GeoToMapPixel(frame, form_->state().survey.ends.startLon, form_->state().survey.ends.startLat);
    EXPECT_EQ(shown.pixel(start), qRgb(0, 255, 0));  // the track on top
    EXPECT_EQ(shown.pixel(40, 20), qRgb(0, 0, 0));  // and the scale bar
    form_->ResultOpacity->setValue(0);
    EXPECT_EQ(form_->SurveyMap->picture().pixel(inside), plain.pixel(inside));
    form_->ResultOpacity->setValue(70);
    form_->ResultOverlayCheckBox->setChecked(false);
    EXPECT_EQ(form_->SurveyMap->picture(), plain);

    form_->BtnGisExport->click();
    Settle();
    ASSERT_TRUE(ui_->messages.empty()) << ui_->messages[0].text.toStdString();
    for (const char* ext : {".tif", ".kmz", ".gpkg"}) {
        const QFileInfo out(dir_.filePath(QString("GPS_DIFF_run001") + ext));
        EXPECT_TRUE(out.exists() && out.size() > 0) << ext;
        EXPECT_TRUE(form_->StatusBar->toolTip().contains(out.fileName())) << ext;
    }
    // The points are those the window holds, each with its channel and survey file.
    const QString labelled = qgrad::testing::Tool(
        "ogrinfo", {"-q", dir_.filePath("GPS_DIFF_run001.gpkg"), "-sql",
                    "SELECT COUNT(*) AS n, SUM(survey_file = 'run001.csv' AND channel BETWEEN 1 AND 12) AS known FROM points"});
    EXPECT_TRUE(labelled.contains(QString("n (Integer) = %1").arg(form_->state().survey.points.size()))) << labelled.toStdString();
    EXPECT_TRUE(labelled.contains(QString("known (Integer) = %1").arg(form_->state().survey.points.size()))) << labelled.toStdString();
    // A new survey takes the result away with the rest of the old one.
    Open(Copy(kSample, "run001.csv"));
    EXPECT_TRUE(form_->ResultOverlay->isHidden());
    EXPECT_FALSE(form_->BtnGisExport->isEnabled());
}

// The picture of the host's map, written as the host writes it, with its grid.
void WriteHostMap(const QString& folder, const QString& name, QColor colour) {
    Grid grid;
    grid.cols = grid.rows = 2;
    grid.xLL = 37.6;
    grid.yLL = 55.75;
    grid.xSize = grid.ySize = 0.01;
    grid.z.assign(4, 1.0);
    WriteGridFile(QDir(folder).filePath(name + ".grd"), grid);
    QImage picture(40, 30, QImage::Format_RGB32);
    picture.fill(colour);
    ASSERT_TRUE(picture.save(QDir(folder).filePath(name + ".png")));
}

TEST_F(MainFormTest, ResultOfAnEarlierSurveyStaysOffALaterOne) {
    Open(Copy(kSample, "run001.csv"));
    Save();
    Open(Copy(kSample, "later.csv"));
    WriteHostMap(dir_.path(), "GPS_DIFF_run001", Qt::red);
    host_->running.at(0)();
    EXPECT_TRUE(form_->ResultOverlay->isHidden());
    EXPECT_FALSE(form_->BtnGisExport->isEnabled());
    EXPECT_TRUE(form_->GriddingStatus->toolTip().contains("GPS_DIFF_run001.png"));  // it is said, not shown
}

TEST_F(MainFormTest, AResultWithNothingToDrawIsSaidNotShown) {
    Open(Copy(kSample, "run001.csv"));
    Save();
    // The host's grid for points in a strip narrower than a cell.
    Grid grid;
    grid.cols = grid.rows = 2;
    grid.xLL = 37.6;
    grid.yLL = 55.75;
    grid.xSize = grid.ySize = 0.01;
    grid.z = {1.0, std::nan(""), 1.0, 1.0};
    WriteGridFile(dir_.filePath("GPS_DIFF_run001.grd"), grid);
    ASSERT_TRUE(qgrad::testing::WriteFile(dir_.filePath("GPS_DIFF_run001.png"), "picture"));
    host_->running.at(0)();
    EXPECT_TRUE(form_->ResultOverlay->isHidden());
    EXPECT_FALSE(form_->BtnGisExport->isEnabled());
    EXPECT_TRUE(form_->StatusBar->toolTip().startsWith("Nothing to draw")) << form_->StatusBar->toolTip().toStdString();
}

// The map service when it never answers until the test lets it.
class HangingMaps : public MapFetcher {
public:
    MapAnswer FetchMap(const MapFrame&) override {
        entered = true;
        release.get_future().wait();
        return {std::nullopt, MapFailureKind::TimedOut, "the map request failed: timed out"};
    }
    std::promise<void> release;
    std::atomic<bool> entered{false};
};

// Counts the paints a widget gets.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint) ++paints;
        return false;
    }
};

// A run of `rows` samples with the sample's headings.
QByteArray LongRun(int rows) {
    QFile f(kSample);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray all = f.readAll();
    QByteArray run = all.left(all.indexOf("\r\n101500") + 2);
    run.reserve(run.size() + rows * 120);
    for (int i = 0; i < rows; ++i)
        run += QByteArray::number(100000 + i / 10) + ";5545." + QByteArray::number(1000 + i % 9000) +
               ";3730.5;;48000;1.5;48001;2;48002;-3;48003;4;48004;0.5;48005;6\r\n";
    return run;
}

TEST_F(MainFormTest, WindowPaintsWhileALongRunOpens) {
    form_->show();
    const QString path = Write(LongRun(300'000), "long.csv");
    PaintCounter counter;
    form_->installEventFilter(&counter);
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, form_.get(), [this] { form_->update(); });
    ticker.start(5);

    ui_->openAnswers.push_back(path);
    form_->BtnOpen->click();
    ASSERT_TRUE(form_->IsWorking());
    EXPECT_FALSE(form_->BtnOpen->isEnabled());
    EXPECT_FALSE(form_->BtnSave->isEnabled());
    EXPECT_FALSE(form_->BtnArrangeAll->isEnabled());
    EXPECT_FALSE(form_->ArrangeAllProgress->isHidden());
    int paintsWhileWorking = 0;
    QDeadlineTimer deadline(120000);
    while (form_->IsWorking() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (form_->IsWorking()) paintsWhileWorking = counter.paints;
    }
    EXPECT_GT(paintsWhileWorking, 0);
    ASSERT_FALSE(form_->IsWorking());
    ASSERT_TRUE(ui_->messages.empty()) << ui_->messages[0].detail.toStdString();
    EXPECT_EQ(form_->state().survey.table.dataRowCount(), 300'000u);
    EXPECT_TRUE(form_->BtnOpen->isEnabled());
    EXPECT_TRUE(form_->BtnSave->isEnabled());
    EXPECT_TRUE(form_->BtnArrangeAll->isEnabled());
    EXPECT_TRUE(form_->ArrangeAllProgress->isHidden());
    EXPECT_FALSE(ui_->busy);
}

TEST_F(MainFormTest, MapRequestThatNeverAnswersDoesNotBlockTheWindow) {
    auto maps = std::make_unique<HangingMaps>();
    HangingMaps* hanging = maps.get();
    MakeForm(std::move(maps));
    ui_->openAnswers.push_back(Copy(kSample, "run001.csv"));
    form_->BtnOpen->click();
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(1);
    QDeadlineTimer wait(300);
    while (!wait.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    EXPECT_TRUE(hanging->entered);
    EXPECT_GT(ticks, 10);  // the window's thread went on
    EXPECT_TRUE(form_->IsWorking());
    EXPECT_FALSE(form_->BtnOpen->isEnabled());
    hanging->release.set_value();
    Settle();
    EXPECT_TRUE(ui_->messages.empty());
    EXPECT_TRUE(form_->BtnSave->isEnabled());
    EXPECT_EQ(form_->windowTitle(), "run001.csv");
}

TEST_F(MainFormTest, ClosingDuringAnOpeningEndsCleanly) {
    ui_->openAnswers.push_back(Write(LongRun(100'000), "long.csv"));
    form_->BtnOpen->click();
    ASSERT_TRUE(form_->IsWorking());
    form_.reset();
    QCoreApplication::processEvents();  // nothing is left to reach the closed window
}

}  // namespace

namespace {

// Before anything is on show the map says how to begin; the hint goes with
// the first survey shown and stays while a refused opening shows nothing.
TEST_F(MainFormTest, StartHintShowsUntilASurveyIsOnShow) {
    const struct {
        const char* name;
        QString file;  // opened first; none: nothing opened
        bool hintShown;
    } rows[] = {
        {"nothing opened yet", {}, true},
        {"a survey opened", kSample, false},
        {"a missing file refused", dir_.filePath("missing.csv"), true},
        {"an empty file refused", Write("", "empty.csv"), true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        MakeForm(std::make_unique<FakeMaps>());
        form_->show();
        if (!row.file.isEmpty()) Open(row.file == kSample ? Copy(kSample, "run001.csv") : row.file);
        EXPECT_EQ(form_->StartHint->isVisible(), row.hintShown);
        EXPECT_TRUE(form_->SurveyMap->geometry().contains(form_->StartHint->geometry()));
        EXPECT_FALSE(form_->StartHint->text().isEmpty());
    }
}

// Before any data the chart is laid out as it is with data: its plot as
// wide as the chart allows, its axes' labels apart.
TEST_F(MainFormTest, ChartIsLaidOutInFullBeforeAnyData) {
    form_->show();
    form_->resize(1366, 768);
    QApplication::processEvents();
    const QRect empty = form_->Chart1->axisRect()->rect();
    Open(Copy(kSample, "run001.csv"));
    QApplication::processEvents();
    const QRect withData = form_->Chart1->axisRect()->rect();
    EXPECT_GT(empty.width(), form_->Chart1->width() * 9 / 10);
    EXPECT_NEAR(empty.width(), withData.width(), 40);
    EXPECT_GT(empty.height(), form_->Chart1->height() / 2);
}

// The picture windows the window has made.
std::vector<GridViewer*> ViewersOf(const QWidget& window) {
    std::vector<GridViewer*> viewers;
    for (QWidget* w : window.findChildren<QWidget*>())
        if (auto* viewer = dynamic_cast<GridViewer*>(w)) viewers.push_back(viewer);
    return viewers;
}

// Every new result goes into the one viewer, placed beside the window where
// the screen has room and over the map where not: never over a command.
TEST_F(MainFormTest, EachResultReusesOneViewerClearOfTheCommands) {
    const QRect screen = form_->screen()->availableGeometry();
    const struct {
        const char* name;
        QRect window;
        bool beside;
    } rows[] = {
        {"window filling the screen", screen, false},
        {"narrow window at the left", QRect(screen.topLeft() + QPoint(0, 30), QSize(430, 450)), true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        MakeForm(std::make_unique<FakeMaps>());
        form_->setGeometry(row.window);
        form_->show();
        Open(Copy(kSample, "run001.csv"));
        for (const QColor colour : {QColor(Qt::red), QColor(Qt::blue)}) {
            Save();
            WriteHostMap(dir_.path(), "GPS_DIFF_run001", colour);
            host_->running.back()();
        }
        const std::vector<GridViewer*> viewers = ViewersOf(*form_);
        ASSERT_EQ(viewers.size(), 1u);
        GridViewer* viewer = viewers[0];
        EXPECT_TRUE(viewer->isVisible());
        EXPECT_EQ(viewer->picture().pixelColor(5, 5), QColor(Qt::blue));
        EXPECT_EQ(viewer->windowTitle(), "GPS_DIFF_run001.png");
        const QRect shown = viewer->frameGeometry();
        for (QWidget* commands : std::initializer_list<QWidget*>{form_->ButtonPanel, form_->ProcessingPanel, form_->DataStringGrid}) {
            const QRect held(commands->mapToGlobal(QPoint(0, 0)), commands->size());
            EXPECT_FALSE(shown.intersects(held)) << commands->metaObject()->className();
        }
        EXPECT_EQ(shown.left() >= form_->frameGeometry().right(), row.beside);
    }
}

// The viewer is the window's own: a host that shows its own map is left to it.
TEST_F(MainFormTest, AHostShowingItsOwnMapGetsNoViewerOfOurs) {
    host_->answer = HostStarted::ShowsItsMap;
    Open(Copy(kSample, "run001.csv"));
    Save();
    WriteHostMap(dir_.path(), "GPS_DIFF_run001", Qt::red);
    host_->running.back()();
    EXPECT_TRUE(ViewersOf(*form_).empty());
    EXPECT_FALSE(form_->ResultOverlay->isHidden());  // the result still lies over the map
}

// Every PROCESSING control is whole and on show at the smallest window, in
// either language, with the apply button too.
TEST_F(MainFormTest, EveryProcessingControlIsOnShowAtTheSmallestWindow) {
    const struct {
        const char* name;
        const char* language;
        QSize size;
    } rows[] = {
        {"Russian at 700 x 450", "ru", QSize(700, 450)},
        {"English at 700 x 450", "en", QSize(700, 450)},
        {"Russian at 1366 x 768", "ru", QSize(1366, 768)},
        {"English at 1920 x 1080", "en", QSize(1920, 1080)},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        InstallInterfaceLanguage(row.language);
        MakeForm(std::make_unique<FakeMaps>());
        form_->show();
        form_->resize(row.size);
        Open(Copy(kSample, "run001.csv"));
        form_->DespikeCheckBox->toggle();  // the apply button comes
        ASSERT_TRUE(form_->BtnApplyProcessing->isVisible());
        QApplication::processEvents();
        const QRect client(0, 0, form_->width(), form_->StatusBar->y());
        const QList<QWidget*> controls = form_->ProcessingPanel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
        EXPECT_GE(controls.size(), 10);
        for (QWidget* w : controls) {
            const QRect at(w->mapTo(form_.get(), QPoint(0, 0)), w->size());
            const QString name = w->property("text").toString() + w->metaObject()->className();
            EXPECT_TRUE(w->isVisible()) << name.toStdString();
            EXPECT_TRUE(client.contains(at)) << name.toStdString();
            EXPECT_GE(w->width(), w->sizeHint().width()) << name.toStdString();
            EXPECT_FALSE(at.intersects(QRect(form_->DataStringGrid->mapTo(form_.get(), QPoint(0, 0)),
                                             form_->DataStringGrid->size()))) << name.toStdString();
        }
    }
    InstallInterfaceLanguage("ru");
}

// The three kept captions stay in every language; the buttons added
// beside them speak the interface's.
TEST_F(MainFormTest, MainButtonsFollowTheInterfaceLanguageBesideTheKeptCaptions) {
    const struct {
        const char* name;
        const char* language;
        std::array<const char*, 5> captions;  // OPEN FILE, SAVE TO MAP, ARRANGE ALL IN FOLDER, GIS EXPORT, Recent
    } rows[] = {
        {"Russian", "ru", {"OPEN FILE", "SAVE TO MAP", "ARRANGE ALL IN FOLDER", "ЭКСПОРТ В ГИС", "Недавние"}},
        {"English", "en", {"OPEN FILE", "SAVE TO MAP", "ARRANGE ALL IN FOLDER", "GIS EXPORT", "Recent"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        InstallInterfaceLanguage(row.language);
        MakeForm(std::make_unique<FakeMaps>());
        const std::array<QAbstractButton*, 5> buttons = {form_->BtnOpen, form_->BtnSave, form_->BtnArrangeAll,
                                                         form_->BtnGisExport, form_->BtnRecent};
        for (std::size_t i = 0; i < buttons.size(); ++i) {
            EXPECT_EQ(buttons[i]->text().toStdString(), row.captions[i]);
            EXPECT_LE(buttons[i]->fontMetrics().horizontalAdvance(buttons[i]->text()), buttons[i]->width()) << row.captions[i];
        }
    }
    InstallInterfaceLanguage("ru");
}

// A window's rectangle given, and where it is to go.
struct PlacedRow {
    const char* name;
    QRect given;
    QRect expected;
};
// The window manager's frame in the rows below: a title bar and thin borders.
const QMargins kFrame(2, 24, 2, 2);

// A window kept on a larger screen comes back with its title bar and its
// status line on this one.
// The gridding asked for beside PROCESSING: within qgrad's limits, kept
// between runs, and given to the host as qgrad grid's flags.
TEST_F(MainFormTest, GriddingChoicesAreCheckedKeptAndGivenToTheHost) {
    const struct {
        const char* name;
        std::optional<double> cell;
        std::optional<QString> threshold;
        std::optional<double> gap;
        QStringList words;        // given to the host before the script
        const char* refusedWord;  // else named in the message, nothing written
    } rows[] = {
        {"all off: the script's grid", {}, {}, {}, {}, nullptr},
        {"metric cells", 0.25, {}, {}, {"--cell", "0.25"}, nullptr},
        {"targets in robust deviations", {}, "6sd", {}, {"--targets=6sd"}, nullptr},
        {"targets in nT/m", {}, "2.5", {}, {"--targets=2.5"}, nullptr},
        {"coverage check", {}, {}, 0.5, {"--coverage=0.5"}, nullptr},
        {"all three", 1, "10sd", 2, {"--cell", "1", "--targets=10sd", "--coverage=2"}, nullptr},
        {"cell finer than a centimetre", 0.001, {}, {}, {}, "0.001"},
        {"cell over a kilometre", 1500, {}, {}, {}, "1500"},
        {"threshold that is no number", {}, "six", {}, {}, "six"},
        {"threshold of nothing", {}, "0sd", {}, {}, "0sd"},
        {"gap of nothing", {}, {}, 0, {}, "0"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        form_.reset();  // its settings are written as it closes
        QFile::remove(dir_.filePath("settings.ini"));  // nothing kept from the row before
        MakeForm(std::make_unique<FakeMaps>());
        Open(Copy(kSample, "run001.csv"));
        QFile::remove(dir_.filePath("GPS_DIFF_run001.bas"));
        form_->CellCheckBox->setChecked(row.cell.has_value());
        if (row.cell) form_->CellMetres->setValue(*row.cell);
        form_->TargetsCheckBox->setChecked(row.threshold.has_value());
        if (row.threshold) form_->TargetThreshold->setCurrentText(*row.threshold);
        form_->CoverageCheckBox->setChecked(row.gap.has_value());
        if (row.gap) form_->CoverageGap->setValue(*row.gap);
        Save();
        if (row.refusedWord) {
            ASSERT_EQ(ui_->messages.size(), 1u);
            EXPECT_TRUE(ui_->messages[0].text.contains("\"" + QString::fromUtf8(row.refusedWord) + "\""))
                << ui_->messages[0].text.toStdString();
            EXPECT_TRUE(host_->started.isEmpty());
            EXPECT_FALSE(QFile::exists(dir_.filePath("GPS_DIFF_run001.bas")));
            continue;
        }
        ASSERT_TRUE(ui_->messages.empty()) << ui_->messages[0].text.toStdString();
        ASSERT_EQ(host_->options.size(), 1u);
        EXPECT_EQ(host_->options[0], row.words);
        // The program's next run offers the same.
        MakeForm(std::make_unique<FakeMaps>());
        EXPECT_EQ(form_->CellCheckBox->isChecked(), row.cell.has_value());
        if (row.cell) {
            EXPECT_EQ(form_->CellMetres->value(), *row.cell);
        }
        EXPECT_EQ(form_->TargetsCheckBox->isChecked(), row.threshold.has_value());
        if (row.threshold) {
            EXPECT_EQ(form_->TargetThreshold->currentText(), *row.threshold);
        }
        EXPECT_EQ(form_->CoverageCheckBox->isChecked(), row.gap.has_value());
        if (row.gap) {
            EXPECT_EQ(form_->CoverageGap->value(), *row.gap);
        }
    }
}

// The window refuses a cell size with the words qgrad refuses it with.
TEST_F(MainFormTest, RefusedCellSizeIsSaidAsQgradSaysIt) {
    Open(Copy(kSample, "run001.csv"));
    form_->CellCheckBox->setChecked(true);
    form_->CellMetres->setValue(0.005);
    Save();
    ASSERT_EQ(ui_->messages.size(), 1u);
    QProcess qgrad;
    qgrad.start(QGRAD_CLI, {"grid", "--no-view", "--cell", "0.005", dir_.filePath("none.bas")});
    ASSERT_TRUE(qgrad.waitForFinished(60000));
    EXPECT_NE(qgrad.exitCode(), 0);
    const QString said = QString::fromLocal8Bit(qgrad.readAllStandardError());
    EXPECT_TRUE(said.contains(ui_->messages[0].text)) << said.toStdString() << " / " << ui_->messages[0].text.toStdString();
}

// A coverage check asks the opening for the readings' own figures, as qgrad's --coverage does.
TEST_F(MainFormTest, CoverageCheckAsksTheOpeningForTheReadingsFigures) {
    Open(Copy(kSample, "run001.csv"));
    EXPECT_TRUE(form_->state().processingReport.empty());
    form_->CoverageCheckBox->setChecked(true);
    Open(Copy(kSample, "run001.csv"));
    EXPECT_FALSE(form_->state().processingReport.empty());
}

// The sample row of the table an arranged point comes from, counted as the
// arrangement takes them: the sample rows in turn, in each the channels
// with both readings.
int SampleRowOfPoint(const SurveyTable& table, std::size_t point) {
    std::size_t seen = 0;
    for (std::size_t row = kFirstDataRow; row < table.rowCount(); ++row)
        for (int k = 0; k < kChannels; ++k) {
            if (table.cell(FieldColumn(k), row).empty() || table.cell(GradientColumn(k), row).empty()) continue;
            if (seen++ == point) return static_cast<int>(row - kFirstDataRow);
        }
    return -1;
}

// A grid, 61 nodes of half a metre a side, centred on a place, with one
// round anomaly of `peak` nT/m there on a level ground of nothing.
Grid AnomalyAt(double lon, double lat, double peak) {
    constexpr int kNodes = 61;
    constexpr double kSpacing = 0.5, kWidth = 1.2;
    Grid grid;
    grid.cols = grid.rows = kNodes;
    grid.xSize = kSpacing / MetresPerDegreeLongitude(lat);
    grid.ySize = kSpacing / kMetresPerDegree;
    grid.xLL = lon - kNodes / 2 * grid.xSize;
    grid.yLL = lat - kNodes / 2 * grid.ySize;
    grid.z.resize(kNodes * kNodes);
    for (int r = 0; r < kNodes; ++r)
        for (int c = 0; c < kNodes; ++c) {
            const double dx = (c - kNodes / 2) * kSpacing, dy = (r - kNodes / 2) * kSpacing;
            grid.z[static_cast<std::size_t>(r) * kNodes + c] = peak * std::exp(-(dx * dx + dy * dy) / (2 * kWidth * kWidth));
        }
    return grid;
}

// The targets found in the host's grid: numbered on the map where they lie,
// listed beside it; choosing one centres the map on it and selects its
// nearest sample row.
TEST_F(MainFormTest, ChosenTargetCentresTheMapAndSelectsItsRow) {
    form_->show();
    Open(Copy(kSample, "run001.csv"));
    form_->TargetsCheckBox->setChecked(true);
    form_->TargetThreshold->setCurrentText("5");
    Save();
    ASSERT_EQ(host_->options.size(), 1u);
    // The host's grid: an anomaly on a point in the middle of the survey.
    const ArrangedPoints& points = form_->state().survey.points;
    const std::size_t chosen = points.size() / 2 + 5;
    const double lon = points.lon(chosen), lat = points.lat(chosen);
    WriteGridFile(dir_.filePath("GPS_DIFF_run001.grd"), AnomalyAt(lon, lat, 40));
    ASSERT_TRUE(qgrad::testing::WriteFile(dir_.filePath("GPS_DIFF_run001.png"), "picture"));
    host_->running.at(0)();

    ASSERT_TRUE(form_->TargetList->isVisible());
    ASSERT_EQ(form_->TargetList->model()->rowCount(), 1);
    EXPECT_TRUE(form_->FindingsHeader->toolTip().startsWith("1 ")) << form_->FindingsHeader->toolTip().toStdString();
    const QAbstractItemModel* list = form_->TargetList->model();
    EXPECT_EQ(list->data(list->index(0, 3)).toString(), "run001.csv");
    const int row = SampleRowOfPoint(form_->state().survey.table, chosen);
    ASSERT_GE(row, 0);
    EXPECT_EQ(list->data(list->index(0, 4)).toULongLong(), FileLineOfRow(kFirstDataRow + row));
    // The marker is numbered on the map at the target's pixel.
    const auto markerAt = [&](QPoint centre) {
        const QImage& shown = form_->SurveyMap->picture();
        return shown.pixel(centre + QPoint(-6, 0)) == kTargetMarkerFill && shown.pixel(centre + QPoint(6, 0)) == kTargetMarkerFill &&
               shown.pixel(centre + QPoint(0, -7)) == kTargetMarkerFill;
    };
    const MapFrame before = form_->state().survey.frame;
    EXPECT_TRUE(markerAt(GeoToMapPixel(before, static_cast<float>(lon), static_cast<float>(lat))));

    const std::size_t asked = maps_->asked.size();
    form_->TargetList->selectRow(0);
    Settle();
    ASSERT_TRUE(ui_->messages.empty()) << ui_->messages[0].text.toStdString();
    // Its map fetched anew around it, at the same zoom, the marker in the middle.
    ASSERT_EQ(maps_->asked.size(), asked + 1);
    const MapFrame around = maps_->asked.back();
    EXPECT_NEAR(around.centreLon, lon, 1e-6);
    EXPECT_NEAR(around.centreLat, lat, 1e-6);
    EXPECT_EQ(around.zoom, before.zoom);
    EXPECT_TRUE(markerAt(QPoint(kMapWidth / 2, kMapHeight / 2)));
    // Its nearest row is the one chosen in the survey table.
    const QModelIndexList selected = form_->DataStringGrid->sampleView()->selectionModel()->selectedRows();
    ASSERT_EQ(selected.size(), 1);
    EXPECT_EQ(selected[0].row(), row);
    EXPECT_TRUE(form_->BtnSave->isEnabled());
}

// The coverage check's gaps hatched over the map, switched with the result's
// controls, the areas over the list.
TEST_F(MainFormTest, UncoveredGroundIsHatchedOverTheMap) {
    form_->show();
    Open(Copy(kSample, "run001.csv"));
    form_->CoverageCheckBox->setChecked(true);
    form_->CoverageGap->setValue(0.2);  // finer than the sensors' spacing: the ground between them is left out
    Save();
    const MapFrame frame = form_->state().survey.frame;
    const ArrangedPoints& points = form_->state().survey.points;
    WriteGridFile(dir_.filePath("GPS_DIFF_run001.grd"), AnomalyAt(points.lon(0), points.lat(0), 40));
    ASSERT_TRUE(qgrad::testing::WriteFile(dir_.filePath("GPS_DIFF_run001.png"), "picture"));
    host_->running.at(0)();

    ASSERT_TRUE(form_->UncoveredCheckBox->isVisible());
    EXPECT_FALSE(form_->TargetList->isVisible());
    ASSERT_TRUE(form_->state().result && form_->state().result->findings.coverage);
    const Coverage& found = *form_->state().result->findings.coverage;
    EXPECT_GT(found.uncoveredArea, 0);
    for (double area : {found.coveredArea, found.uncoveredArea})
        EXPECT_TRUE(form_->FindingsHeader->toolTip().contains(QString::number(area, 'f', 0))) << form_->FindingsHeader->toolTip().toStdString();
    const auto hatched = [&] {
        const QImage& shown = form_->SurveyMap->picture();
        int n = 0;
        for (int y = 0; y < shown.height(); ++y)
            for (int x = 0; x < shown.width(); ++x) n += shown.pixel(x, y) == kUncoveredHatch;
        return n;
    };
    EXPECT_GT(hatched(), 0);
    form_->UncoveredCheckBox->setChecked(false);
    EXPECT_EQ(hatched(), 0);
    EXPECT_EQ(form_->state().survey.frame.centreLon, frame.centreLon);
}

// The hatching lies on the pixels of the uncovered cells and nowhere else.
TEST(CoverageOverlay, HatchesTheGapsPixelsOnly) {
    MapFrame frame;
    frame.centreLon = 37.6;
    frame.centreLat = 55.75;
    frame.zoom = 18;
    Coverage coverage;
    coverage.cols = coverage.rows = 40;
    coverage.cell = 1;
    coverage.xSize = 1 / MetresPerDegreeLongitude(frame.centreLat);
    coverage.ySize = 1 / kMetresPerDegree;
    coverage.xLL = frame.centreLon - 20 * coverage.xSize;
    coverage.yLL = frame.centreLat - 20 * coverage.ySize;
    coverage.uncovered.assign(40 * 40, 0);
    // The gap: columns 5 to 14, rows 25 to 34 (metres east and north of the raster's corner).
    for (int r = 25; r < 35; ++r)
        for (int c = 5; c < 15; ++c) coverage.uncovered[static_cast<std::size_t>(r) * 40 + c] = 1;
    const QImage overlay = DrawCoverageOverlay(coverage, frame);
    ASSERT_EQ(overlay.size(), QSize(kMapWidth, kMapHeight));
    const QPoint sw = GeoToMapPixel(frame, static_cast<float>(coverage.xLL + 5 * coverage.xSize),
                                    static_cast<float>(coverage.yLL + 25 * coverage.ySize));
    const QPoint ne = GeoToMapPixel(frame, static_cast<float>(coverage.xLL + 15 * coverage.xSize),
                                    static_cast<float>(coverage.yLL + 35 * coverage.ySize));
    const QRect gap = QRect(QPoint(sw.x(), ne.y()), QPoint(ne.x(), sw.y()));
    ASSERT_GT(gap.width(), 20);
    int lines = 0, outside = 0, bare = 0;
    for (int y = 0; y < kMapHeight; ++y)
        for (int x = 0; x < kMapWidth; ++x) {
            const QRgb p = overlay.pixel(x, y);
            if (gap.adjusted(1, 1, -1, -1).contains(x, y)) {
                bare += qAlpha(p) == 0;
                lines += p == kUncoveredHatch;
            } else if (!gap.adjusted(-1, -1, 1, 1).contains(x, y)) {
                outside += qAlpha(p) != 0;
            }
        }
    EXPECT_EQ(bare, 0);
    EXPECT_EQ(outside, 0);
    // A line in every few pixels across the gap: a third of them.
    EXPECT_NEAR(lines, gap.adjusted(2, 2, -2, -2).width() * gap.adjusted(2, 2, -2, -2).height() / 3.0,
                gap.width() * 2.0);
}

TEST(KeepOnScreen, TheFrameIsCountedAsWell) {
    const QRect small(0, 0, 700, 450);
    const PlacedRow rows[] = {
        {"kept at 1366 x 768", QRect(0, 0, 1366, 740), QRect(2, 24, 696, 424)},
        {"title bar above the screen", QRect(100, 0, 300, 200), QRect(100, 24, 300, 200)},
        {"status line below the screen", QRect(100, 300, 300, 200), QRect(100, 248, 300, 200)},
        {"off to the right", QRect(650, 100, 300, 200), QRect(398, 100, 300, 200)},
        {"on the screen already", QRect(10, 40, 300, 200), QRect(10, 40, 300, 200)},
    };
    for (const PlacedRow& row : rows) EXPECT_EQ(KeepOnScreen(row.given, kFrame, small), row.expected) << row.name;
}

// The viewer goes beside the window, or over its map.
TEST(PlaceBeside, TheSideWithRoomOrElseWhatHoldsNoCommands) {
    const QRect screen(0, 0, 1920, 1080);
    const QRect map(10, 30, 500, 300);
    const PlacedRow rows[] = {
        {"room on the right", QRect(0, 0, 1000, 700), QRect(1002, 24, 916, 674)},
        {"room on the left", QRect(1000, 100, 920, 700), QRect(78, 124, 920, 674)},
        {"window wider than the room beside it", QRect(0, 0, 1700, 1080), QRect(12, 54, 496, 274)},
        {"too little room either side", QRect(300, 0, 1400, 1080), map.marginsRemoved(kFrame)},
    };
    for (const PlacedRow& row : rows) EXPECT_EQ(PlaceBeside(row.given, screen, map, kFrame, 320), row.expected) << row.name;
}

// The window restored from a larger screen's settings keeps its status line on this one.
TEST_F(MainFormTest, KeptLargerWindowKeepsItsStatusLineOnTheScreen) {
    const QRect screen = form_->screen()->availableGeometry();
    form_->setGeometry(QRect(screen.topLeft(), screen.size() + QSize(666, 318)));
    MakeForm(std::make_unique<FakeMaps>());
    form_->show();
    const QRect status(form_->StatusBar->mapToGlobal(QPoint(0, 0)), form_->StatusBar->size());
    EXPECT_TRUE(screen.contains(status)) << status.y() << " + " << status.height();
    EXPECT_GT(form_->geometry().top(), screen.top());  // room for the title bar
}


class ArrangeAllTest : public MainFormTest {
protected:
    void SetUp() override {
        MainFormTest::SetUp();
        for (const char* name : {"run001.csv", "run002.csv", "run003.csv"})
            Copy(QString(QGRAD_SAMPLES) + "/field-2026-05-14/" + name, name);
        Open(dir_.filePath("run002.csv"));
        ASSERT_TRUE(ui_->messages.empty());
    }
    // ARRANGE ALL IN FOLDER on the survey's own folder, the combined name answered.
    void ArrangeAll(const QString& answer) {
        ui_->folderAnswers.push_back(dir_.path());
        ui_->saveAnswers.push_back(answer);
        form_->BtnArrangeAll->click();
        Settle();
    }
};

TEST_F(ArrangeAllTest, WholeFolderIntoOneMapAndTheCombinedNameStays) {
    ArrangeAll(dir_.filePath("comb"));
    EXPECT_EQ(ui_->suggestedNames, QStringList({QDir(dir_.path()).dirName() + ".txt"}));
    ASSERT_TRUE(ui_->messages.empty()) << ui_->messages[0].detail.toStdString();
    const QString folder = QDir::toNativeSeparators(dir_.path() + "/");
    EXPECT_EQ(host_->started, QStringList({folder + "GPS_DIFF_comb.bas"}));
    EXPECT_EQ(form_->state().survey.fileName, "comb.txt");
    EXPECT_EQ(form_->windowTitle(), "run003.csv");  // the last survey stays on show
    EXPECT_TRUE(form_->BtnOpen->isEnabled());
    EXPECT_TRUE(form_->BtnSave->isEnabled());
    EXPECT_TRUE(form_->BtnArrangeAll->isEnabled());
    EXPECT_TRUE(form_->ArrangeAllProgress->isHidden());
    EXPECT_FALSE(ui_->busy);
    EXPECT_EQ(maps_->asked.size(), 1u + 3u);
    const QByteArray combined = ReadAll(folder + "GPS_DIFF_comb.txt");
    EXPECT_EQ(combined.count("\r\n"), 1 + 3 * 12 * 2400);

    // The command-line tool writes the same bytes.
    QProcess qgrad;
    QTemporaryDir other;
    for (const char* name : {"run001.csv", "run002.csv", "run003.csv"})
        QFile::copy(dir_.filePath(name), other.filePath(name));
    qgrad.start(QGRAD_CLI, {"arrange-folder", other.path(), "comb"});
    ASSERT_TRUE(qgrad.waitForFinished(120000));
    ASSERT_EQ(qgrad.exitCode(), 0) << qgrad.readAllStandardError().toStdString();
    EXPECT_EQ(ReadAll(other.filePath("GPS_DIFF_comb.txt")), combined);
    EXPECT_EQ(ReadAll(other.filePath("GPS_ABS_comb.txt")), ReadAll(folder + "GPS_ABS_comb.txt"));

    // SAVE TO MAP now writes the last survey under the combined names; a
    // further run starts at the run's folder and offers its name again.
    Save();
    EXPECT_EQ(ReadAll(folder + "GPS_DIFF_comb.txt").count("\r\n"), 1 + 12 * 2400);
    ui_->folderAnswers.push_back(dir_.path());
    ui_->saveAnswers.push_back(std::nullopt);
    form_->BtnArrangeAll->click();
    EXPECT_EQ(ui_->folderStarts.back(), folder);
    EXPECT_EQ(ui_->suggestedNames.back(), QDir(dir_.path()).dirName() + ".txt");
}

TEST_F(ArrangeAllTest, CommandsWaitForTheRunAndClosingDuringItLeavesNoFile) {
    ui_->folderAnswers.push_back(dir_.path());
    ui_->saveAnswers.push_back("comb.txt");
    form_->BtnArrangeAll->click();
    ASSERT_TRUE(form_->IsWorking());
    for (QPushButton* b : {form_->BtnOpen, form_->BtnSave, form_->BtnArrangeAll}) EXPECT_FALSE(b->isEnabled());
    form_.reset();
    EXPECT_FALSE(QFile::exists(dir_.filePath("GPS_DIFF_comb.txt")));
    EXPECT_FALSE(QFile::exists(dir_.filePath("GPS_ABS_comb.txt")));
    EXPECT_FALSE(QFile::exists(dir_.filePath("GPS_DIFF_comb.bas")));
    // No combined file, not even a temporary one.
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden).filter("comb"), QStringList());
}

TEST_F(ArrangeAllTest, CombinedFilesGoToTheFolderChosenInTheDialog) {
    QTemporaryDir elsewhere;
    ArrangeAll(elsewhere.filePath("comb"));
    ASSERT_TRUE(ui_->messages.empty());
    EXPECT_EQ(ui_->saveFolders.back(), form_->state().survey.folder);  // the dialog opens at the surveys
    for (const char* name : {"GPS_ABS_comb.txt", "GPS_DIFF_comb.txt", "GPS_DIFF_comb.bas"}) {
        EXPECT_TRUE(QFile::exists(elsewhere.filePath(name))) << name;
        EXPECT_FALSE(QFile::exists(dir_.filePath(name))) << name;
    }
    EXPECT_EQ(host_->started, QStringList({QDir::toNativeSeparators(elsewhere.filePath("GPS_DIFF_comb.bas"))}));
}

TEST_F(ArrangeAllTest, SkippedSurveysAreListedAndTheRunGoesOn) {
    Write("only one line\r\n", "run002.csv");
    form_->SkipRefusedCheckBox->setChecked(true);
    ArrangeAll("comb.txt");
    EXPECT_TRUE(ui_->messages.empty());
    EXPECT_EQ(ReadAll(dir_.filePath("GPS_DIFF_comb.txt")).count("\r\n"), 1 + 2 * 12 * 2400);
    EXPECT_TRUE(form_->StatusBar->toolTip().contains("run002.csv")) << form_->StatusBar->toolTip().toStdString();
    EXPECT_TRUE(form_->StatusBar->toolTip().contains(QString::fromUtf8(kEmptyFileText)));
    EXPECT_TRUE(QFile::exists(dir_.filePath("GPS_REFUSED_comb.txt")));
    EXPECT_EQ(host_->started.size(), 1);
}

TEST_F(ArrangeAllTest, CancelChangesNothing) {
    const struct {
        const char* name;
        std::optional<QString> folder;
        std::optional<QString> combinedName;
    } rows[] = {
        {"folder chooser cancelled", std::nullopt, "comb.txt"},
        {"name dialog cancelled", dir_.path(), std::nullopt},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ui_->folderAnswers = {row.folder};
        ui_->saveAnswers = {row.combinedName};
        form_->BtnArrangeAll->click();
        EXPECT_FALSE(form_->IsWorking());
        EXPECT_EQ(form_->state().survey.fileName, "run002.csv");
        EXPECT_TRUE(form_->BtnSave->isEnabled());
        EXPECT_TRUE(host_->started.isEmpty());
        EXPECT_TRUE(QDir(dir_.path()).entryList({"GPS_*"}).isEmpty());
    }
}

// The folder arranged is the one chosen, not the shown survey's; its name
// is offered, and the combined files go into it.
TEST_F(ArrangeAllTest, ChosenFolderIsArrangedUnderItsOwnName) {
    const QString chosen = dir_.filePath("second day");
    ASSERT_TRUE(QDir(dir_.path()).mkdir("second day"));
    for (const char* name : {"run001.csv", "run003.csv"})
        ASSERT_TRUE(QFile::copy(dir_.filePath(name), chosen + "/" + name));
    ui_->folderAnswers.push_back(chosen);
    ui_->saveAnswers.push_back(chosen + "/second day.txt");
    form_->BtnArrangeAll->click();
    Settle();
    ASSERT_TRUE(ui_->messages.empty()) << ui_->messages[0].detail.toStdString();
    EXPECT_EQ(ui_->folderStarts, QStringList({QDir::toNativeSeparators(dir_.path() + "/")}));
    EXPECT_EQ(ui_->saveFolders, QStringList({QDir::toNativeSeparators(chosen + "/")}));
    EXPECT_EQ(ui_->suggestedNames, QStringList({"second day.txt"}));
    EXPECT_EQ(ReadAll(chosen + "/GPS_DIFF_second day.txt").count("\r\n"), 1 + 2 * 12 * 2400);
    EXPECT_TRUE(QDir(dir_.path()).entryList({"GPS_*"}).isEmpty());
    EXPECT_EQ(form_->state().survey.folder, QDir::toNativeSeparators(chosen + "/"));
}

TEST_F(ArrangeAllTest, EmptySecondFileStopsTheRun) {
    Write("only one line\r\n", "run002.csv");
    ArrangeAll("comb.txt");
    ASSERT_EQ(ui_->messages.size(), 1u);
    EXPECT_EQ(ui_->messages[0].text, QString::fromUtf8(kEmptyFileText));
    EXPECT_TRUE(host_->started.isEmpty());
    EXPECT_FALSE(QFile::exists(dir_.filePath("GPS_DIFF_comb.bas")));
    // No partial combined file is put in place.
    EXPECT_FALSE(QFile::exists(dir_.filePath("GPS_DIFF_comb.txt")));
    EXPECT_FALSE(QFile::exists(dir_.filePath("GPS_ABS_comb.txt")));
    EXPECT_FALSE(form_->BtnSave->isEnabled());
    EXPECT_FALSE(form_->BtnArrangeAll->isEnabled());
    EXPECT_TRUE(form_->BtnOpen->isEnabled());
    EXPECT_FALSE(ui_->busy);
}

TEST_F(ArrangeAllTest, MalformedFileStopsTheRunWithItsDetail) {
    QByteArray bad = ReadAll(dir_.filePath("run003.csv"));
    bad.replace(";0;0;;", ";north;0;;");
    Write(bad, "run003.csv");
    ArrangeAll("comb.txt");
    ASSERT_EQ(ui_->messages.size(), 1u);
    EXPECT_EQ(ui_->messages[0].text, QString::fromUtf8(kBadFormatText));
    EXPECT_TRUE(ui_->messages[0].detail.startsWith("run003.csv: line 5")) << ui_->messages[0].detail.toStdString();
    EXPECT_TRUE(host_->started.isEmpty());
    EXPECT_FALSE(form_->BtnArrangeAll->isEnabled());
    EXPECT_TRUE(form_->BtnOpen->isEnabled());
}

}  // namespace

TEST_F(ArrangeAllTest, GriddingChoicesGoWithTheFolderRun) {
    form_->TargetsCheckBox->setChecked(true);
    form_->CellCheckBox->setChecked(true);
    form_->CellMetres->setValue(0.5);
    ArrangeAll(dir_.filePath("comb"));
    ASSERT_TRUE(ui_->messages.empty()) << ui_->messages[0].text.toStdString();
    ASSERT_EQ(host_->options.size(), 1u);
    EXPECT_EQ(host_->options[0], QStringList({"--cell", "0.5", "--targets=6sd"}));
}
