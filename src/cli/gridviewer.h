// The gridding host's windows: the progress of the work, a failure, and the
// map picture, to scale, zoomed and panned.
#pragma once

#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QTransform>
#include <QWidget>

#include <atomic>
#include <functional>
#include <optional>

namespace qgrad {

// Tells the person at the display why the host made no map.
using FailureNotice = std::function<void(const QString& text)>;

// The host's own notice: a message window, waited on.
void ShowFailureWindow(const QString& text);

// Runs `work` on a worker thread while a progress window counts its steps
// (`work` reports the steps done and the steps in all, from any thread).
// Closing the window or its Cancel button sets `cancel`, which the work
// watches. Returns when the work has ended; a failure of the work is thrown
// here, after `notice` has told of it, unless the work was cancelled (the
// person knows why it stopped).
void RunWithProgressWindow(const QString& title, std::atomic<bool>& cancel,
                           const std::function<void(const std::function<void(int, int)>& progress)>& work,
                           const FailureNotice& notice = {});

// The picture scaled alike across and up, so its metres stay square: at
// first whole in the window and growing with it; the wheel and the keys +
// and - zoom, a drag pans, a double-click shows it whole again.
class GridViewer : public QWidget {
public:
    // With a `parent` it is a window of the parent's, kept above it.
    GridViewer(const QImage& picture, const QString& title, QWidget* parent = nullptr);

    // Another picture in the same window, shown whole.
    void SetPicture(const QImage& picture, const QString& title);
    const QImage& picture() const { return picture_; }

    // Where a pixel of the picture stands in the window.
    QTransform PictureToWindow() const;

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;
    void wheelEvent(QWheelEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent*) override;

private:
    struct Drag {
        QPoint from;
        QPointF centre;
    };

    double FitScale() const;
    double Scale() const { return FitScale() * zoom_; }
    double MostZoom() const;
    // Zooms by `factor` keeping the picture point under `fixed` in place.
    void ZoomAbout(double factor, QPointF fixed);
    void ShowWhole();
    // No blank beyond an edge the picture could cover; a side smaller than
    // the window stays in its middle.
    void KeepInView();

    QImage picture_;
    double zoom_ = 1;  // times the scale that shows the picture whole
    QPointF centre_;   // the picture point at the window's middle
    std::optional<Drag> drag_;
};

}  // namespace qgrad
