// qgrad-bench-window: the window's commands on one survey, timed inside the
// window process (offscreen): OPEN FILE with the table, chart and map filled,
// the first paint, scrolling repaints of the table and the chart, and SAVE TO
// MAP. Prints tab-separated "stage, median seconds, peak MB" lines; the peak
// is the process's after the stage's first run.
//   qgrad-bench-window SURVEY [--repeat N] [--processing]
// --processing opens with every processing stage on (despike, destripe by
// median, lag estimated).
#include "app/mainform.h"
#include "app/slategray.h"
#include "app/surveygrid.h"
#include "../tests/app/fakeinteraction.h"

#include "benchutil.h"
#include "common/memoryreuse.h"
#include "common/vectorunit.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QScrollBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QTableView>
#include <qcustomplot.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

using qgrad::bench::PeakMegabytes;
using qgrad::bench::Seconds;

int main(int argc, char** argv) {
    qgrad::KeepFreedMemoryForReuse();
    QApplication app(argc, argv);
    if (!qEnvironmentVariableIsSet("QGRAD_BENCH_DIRTY_VECTORS")) qgrad::ClearUpperVectorState();
    qgrad::ApplySlateGrayStyle(app);
    if (argc < 2) return 2;
    const QString path = QString::fromLocal8Bit(argv[1]);
    const int repeat = qgrad::bench::Option(argc, argv, "--repeat", 3);
    const bool processing = std::any_of(argv + 2, argv + argc, [](const char* a) { return std::strcmp(a, "--processing") == 0; });

    auto ui = std::make_unique<qgrad::testing::FakeInteraction>();
    auto* fake = ui.get();
    // Settings of its own, so no run of the bench leaves its options to the next.
    QTemporaryDir settingsDir;
    qgrad::TMainForm form(std::move(ui), std::make_unique<qgrad::testing::FakeHost>(),
                          std::make_unique<qgrad::testing::FakeMaps>(),
                          std::make_unique<QSettings>(settingsDir.filePath("bench.ini"), QSettings::IniFormat));
    form.resize(1600, 900);
    form.show();
    if (processing) {
        form.DespikeCheckBox->setChecked(true);
        form.DestripeCombo->setCurrentIndex(1);
        form.LagCombo->setCurrentIndex(2);
    }
    QApplication::processEvents();

    std::map<std::string, std::vector<double>> times;
    std::map<std::string, double> peaks;
    std::vector<std::string> order;
    auto run = [&](const std::string& name, const std::function<void()>& f) {
        if (!times.count(name)) order.push_back(name);
        times[name].push_back(Seconds(f));
        if (!peaks.count(name)) peaks[name] = PeakMegabytes();
    };
    for (int i = 0; i < repeat; ++i) {
        fake->openAnswers.push_back(path);
        run("open (table, chart, map)", [&] {
            form.BtnOpenClick();
            // Blocks until the worker's next event: a busy loop would take a core from the work.
            while (form.IsWorking()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
        });
        if (!fake->messages.empty()) {
            std::fprintf(stderr, "refused: %s\n", qPrintable(fake->messages.back().detail));
            return 1;
        }
        run("first paint", [&] { form.repaint(); });
        QTableView* table = form.DataStringGrid->sampleView();
        QScrollBar* bar = table->verticalScrollBar();
        run("table scroll repaint", [&] {
            bar->setValue(bar->maximum() / 2 + i * 17);
            table->viewport()->repaint();
        });
        run("chart scroll repaint", [&] {
            const QCPRange r = form.Chart1->xAxis->range();
            form.Chart1->xAxis->setRange(r.lower + r.size() / 7, r.upper + r.size() / 7);
            form.Chart1->replot(QCustomPlot::rpImmediateRefresh);
        });
        run("save to map", [&] { form.BtnSaveClick(); });
    }
    for (const auto& name : order) {
        auto& t = times[name];
        std::sort(t.begin(), t.end());
        std::printf("%s\t%.3f\t%.0f\n", name.c_str(), t[t.size() / 2], peaks[name]);
    }
    return 0;
}
