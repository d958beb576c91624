// The gridding host's window: the map picture, zoomed to fit.
#pragma once

#include <QImage>
#include <QWidget>

namespace qgrad {

class GridViewer : public QWidget {
public:
    GridViewer(const QImage& picture, const QString& title);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QImage picture_;
};

}  // namespace qgrad
