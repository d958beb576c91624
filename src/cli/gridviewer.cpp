#include "gridviewer.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

namespace qgrad {

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
