// The gridding host's windows: the progress of the work, and the map
// picture, zoomed to fit.
#pragma once

#include <QImage>
#include <QWidget>

#include <atomic>
#include <functional>

namespace qgrad {

// Runs `work` on a worker thread while a progress window counts its steps
// (`work` reports the steps done and the steps in all, from any thread).
// Closing the window or its Cancel button sets `cancel`, which the work
// watches. Returns when the work has ended; a failure of the work is thrown
// here.
void RunWithProgressWindow(const QString& title, std::atomic<bool>& cancel,
                           const std::function<void(const std::function<void(int, int)>& progress)>& work);

class GridViewer : public QWidget {
public:
    GridViewer(const QImage& picture, const QString& title);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QImage picture_;
};

}  // namespace qgrad
