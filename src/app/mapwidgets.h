// The map control and the cursor ring that lies over it.
#pragma once

#include <QImage>
#include <QWidget>

namespace qgrad {

// Shows its picture stretched over the whole control.
class MapPicture : public QWidget {
    Q_OBJECT
public:
    using QWidget::QWidget;
    void setPicture(const QImage& image);
    const QImage& picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QImage picture_;
};

// A circle with a white outline 2 pixels wide, transparent inside.
class CursorRing : public QWidget {
    Q_OBJECT
public:
    explicit CursorRing(QWidget* parent = nullptr);

signals:
    void released();

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
};

}  // namespace qgrad
