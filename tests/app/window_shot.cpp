// Opens a survey in the window and saves a picture of it: for looking at
// the window by eye (run under xvfb-run).
//   window_shot SURVEY OUT.png [WIDTH HEIGHT [CLICKED-INDEX]]
#include "app/mainform.h"
#include "app/slategray.h"
#include "fakeinteraction.h"

#include <qcustomplot.h>

#include <QApplication>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    qgrad::ApplySlateGrayStyle(app);
    if (argc < 3) return 2;
    auto ui = std::make_unique<qgrad::testing::FakeInteraction>();
    ui->openAnswers.push_back(QString::fromLocal8Bit(argv[1]));
    auto* fake = ui.get();
    qgrad::TMainForm form(std::move(ui), std::make_unique<qgrad::testing::FakeHost>());
    if (argc >= 5) form.resize(atoi(argv[3]), atoi(argv[4]));
    form.show();
    form.BtnOpenClick();
    while (form.IsWorking()) QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (argc >= 6) form.Chart1ClickSeries(form.Series(1), atoi(argv[5]));  // a profile point, by index
    for (const auto& m : fake->messages) fprintf(stderr, "message: %s | %s\n", qPrintable(m.text), qPrintable(m.detail));
    QTimer::singleShot(300, [&] {
        form.grab().save(QString::fromLocal8Bit(argv[2]));
        app.quit();
    });
    return app.exec();
}
