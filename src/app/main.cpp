#include "app/mainform.h"
#include "app/slategray.h"
#include "common/vectorunit.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    qgrad::ClearUpperVectorState();
    qgrad::ApplySlateGrayStyle(app);
    QApplication::setApplicationName("Quenor GRAD");
    qgrad::TMainForm form;
    form.showMaximized();
    return app.exec();
}
