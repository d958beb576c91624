// The map control and the cursor ring that lies over it.
#pragma once

#include "mapview/staticmap.h"

#include <QImage>
#include <QWidget>

class QSettings;

namespace qgrad {

// The window's map service: the address and CA file stored under
// kMapEndpointKey and kMapCaFileKey where they are set, else those the
// environment names, else the public service and the system's bundle.
inline constexpr const char* kMapEndpointKey = "mapEndpoint";
inline constexpr const char* kMapCaFileKey = "mapCaFile";
HttpsSettings MapServiceSettings(const QSettings& settings);

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
