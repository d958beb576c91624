#include "app/mainform.h"
#include "app/slategray.h"
#include "common/language.h"
#include "common/memoryreuse.h"
#include "common/vectorunit.h"

#include <QApplication>
#include <QTimer>

// quenor-grad [SURVEY]: the window, opening SURVEY when one is named (as a
// file manager does).
int main(int argc, char** argv) {
    qgrad::KeepFreedMemoryForReuse();
    QApplication app(argc, argv);
    qgrad::ClearUpperVectorState();
    qgrad::ApplySlateGrayStyle(app);
    qgrad::InstallInterfaceLanguage();
    QApplication::setApplicationName("Quenor GRAD");
    qgrad::TMainForm form;
    form.ShowAsLastTime();
    const QStringList args = QApplication::arguments();
    if (args.size() > 1) {
        const QString survey = args[1];
        QTimer::singleShot(0, &form, [&form, survey] { form.OpenSurveyFile(survey); });
    }
    return app.exec();
}
