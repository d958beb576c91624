#include "gridviewer.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressDialog>
#include <QScreen>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <exception>
#include <thread>

namespace qgrad {

namespace {

QString FailureText(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return "an unknown failure";
    }
}

}  // namespace

void ShowFailureWindow(const QString& text) {
    QMessageBox box(QMessageBox::Critical, "Quenor GRAD", "The gridding host made no map.", QMessageBox::Ok);
    box.setInformativeText(text);
    box.exec();
}

void RunWithProgressWindow(const QString& title, std::atomic<bool>& cancel,
                           const std::function<void(const std::function<void(int, int)>& progress)>& work,
                           const FailureNotice& notice) {
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
    // What went wrong is told with the progress window gone.
    window.hide();
    if (!failure) return;
    if (notice && !cancel) notice(FailureText(failure));
    std::rethrow_exception(failure);
}

namespace {

// Zoomed in, one pixel of the picture spans at most this many of the screen.
constexpr double kMostScreenPixelsPerPixel = 16;
// One notch of a mouse wheel (120 eighths of a degree) zooms by 2^(1/4).
constexpr double kWheelNotch = 120;
constexpr double kNotchesPerDoubling = 4;
constexpr double kKeyZoom = 1.25;

}  // namespace

GridViewer::GridViewer(const QImage& picture, const QString& title, QWidget* parent)
    : QWidget(parent, Qt::Window), picture_(picture), centre_(picture.width() / 2.0, picture.height() / 2.0) {
    setWindowTitle(title);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::OpenHandCursor);
    QSize size = picture.size();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableSize() * 9 / 10);
    resize(size);
}

double GridViewer::FitScale() const {
    if (picture_.isNull()) return 1;
    return std::min(width() / static_cast<double>(picture_.width()), height() / static_cast<double>(picture_.height()));
}

QTransform GridViewer::PictureToWindow() const {
    const double s = Scale();
    return QTransform(s, 0, 0, s, width() / 2.0 - s * centre_.x(), height() / 2.0 - s * centre_.y());
}

double GridViewer::MostZoom() const { return std::max(1.0, kMostScreenPixelsPerPixel / FitScale()); }

void GridViewer::KeepInView() {
    if (FitScale() <= 0) return;
    zoom_ = std::clamp(zoom_, 1.0, MostZoom());
    const double s = Scale();
    const auto axis = [s](double centre, int window, int picture) {
        const double half = window / 2.0 / s;
        return picture * s <= window ? picture / 2.0 : std::clamp(centre, half, picture - half);
    };
    centre_ = QPointF(axis(centre_.x(), width(), picture_.width()), axis(centre_.y(), height(), picture_.height()));
}

void GridViewer::ZoomAbout(double factor, QPointF fixed) {
    const QPointF underFixed = PictureToWindow().inverted().map(fixed);
    if (FitScale() <= 0) return;
    zoom_ = std::clamp(zoom_ * factor, 1.0, MostZoom());
    const QPointF middle(width() / 2.0, height() / 2.0);
    centre_ = underFixed - (fixed - middle) / Scale();
    KeepInView();
    update();
}

void GridViewer::SetPicture(const QImage& picture, const QString& title) {
    picture_ = picture;
    setWindowTitle(title);
    drag_.reset();
    ShowWhole();
}

void GridViewer::ShowWhole() {
    zoom_ = 1;
    centre_ = QPointF(picture_.width() / 2.0, picture_.height() / 2.0);
    update();
}

void GridViewer::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    // Smoothing only where pixels merge: zoomed in, each band's pixel stays sharp.
    p.setRenderHint(QPainter::SmoothPixmapTransform, Scale() < 1);
    p.setTransform(PictureToWindow());
    p.drawImage(QPointF(0, 0), picture_);
}

void GridViewer::resizeEvent(QResizeEvent*) { KeepInView(); }

void GridViewer::wheelEvent(QWheelEvent* event) {
    const double notches = event->angleDelta().y() / kWheelNotch;
    ZoomAbout(std::pow(2.0, notches / kNotchesPerDoubling), event->position());
}

void GridViewer::keyPressEvent(QKeyEvent* event) {
    const QPointF middle(width() / 2.0, height() / 2.0);
    switch (event->key()) {
    case Qt::Key_Plus:
    case Qt::Key_Equal:  // + without Shift on many keyboards
        ZoomAbout(kKeyZoom, middle);
        break;
    case Qt::Key_Minus:
        ZoomAbout(1 / kKeyZoom, middle);
        break;
    default:
        QWidget::keyPressEvent(event);
    }
}

void GridViewer::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    drag_ = Drag{event->position().toPoint(), centre_};
    setCursor(Qt::ClosedHandCursor);
}

void GridViewer::mouseMoveEvent(QMouseEvent* event) {
    if (!drag_) return QWidget::mouseMoveEvent(event);
    centre_ = drag_->centre - QPointF(event->position().toPoint() - drag_->from) / Scale();
    KeepInView();
    update();
}

void GridViewer::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
    drag_.reset();
    setCursor(Qt::OpenHandCursor);
}

void GridViewer::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mouseDoubleClickEvent(event);
    drag_.reset();
    ShowWhole();
}

}  // namespace qgrad
