#include "gridviewer.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QPainter>
#include <QProgressDialog>
#include <QScreen>

#include <exception>
#include <thread>

namespace qgrad {

void RunWithProgressWindow(const QString& title, std::atomic<bool>& cancel,
                           const std::function<void(const std::function<void(int, int)>& progress)>& work) {
    QProgressDialog window(title, "Cancel", 0, 0);
    window.setWindowTitle(title);
    window.setAutoClose(false);
    window.setAutoReset(false);
    window.setMinimumDuration(0);
    QObject::connect(&window, &QProgressDialog::canceled, [&cancel] { cancel = true; });
    QEventLoop loop;
    std::exception_ptr failure;
    std::thread worker([&] {
        try {
            // Posted to the window's thread; posts still pending die with the window.
            work([&window](int done, int steps) {
                QMetaObject::invokeMethod(
                    &window,
                    [&window, done, steps] {
                        window.setMaximum(steps);
                        window.setValue(done);
                    },
                    Qt::QueuedConnection);
            });
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    window.show();
    loop.exec();
    worker.join();
    if (failure) std::rethrow_exception(failure);
}

GridViewer::GridViewer(const QImage& picture, const QString& title) : picture_(picture) {
    setWindowTitle(title);
    QSize size = picture.size();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableSize() * 9 / 10);
    resize(size);
}

void GridViewer::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QSize fitted = picture_.size().scaled(size(), Qt::KeepAspectRatio);
    const QRect target(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
    p.drawImage(target, picture_);
}

}  // namespace qgrad
