// The map control and the cursor ring that lies over it.
#pragma once

#include "mapview/staticmap.h"

#include <QImage>
#include <QWidget>

class QLabel;
class QPushButton;
class QSettings;

namespace qgrad {

// The window's map service: the address and CA file stored under
// kMapEndpointKey and kMapCaFileKey where they are set, else those the
// environment names, else the public service and the system's bundle.
inline constexpr const char* kMapEndpointKey = "mapEndpoint";
inline constexpr const char* kMapCaFileKey = "mapCaFile";
HttpsSettings MapServiceSettings(const QSettings& settings);

// Why there is no satellite picture, in words the surveyor can act on, in
// the interface language.
QString MapFailureText(MapFailureKind kind);

// Shows its picture stretched over the whole control and, in its upper
// right corner, a notice of why the satellite picture is missing with a
// button to fetch it again.
class MapPicture : public QWidget {
    Q_OBJECT
public:
    explicit MapPicture(QWidget* parent = nullptr);
    void setPicture(const QImage& image);
    const QImage& picture() const { return picture_; }
    // None hides the notice; `reason` is the request's own account, for
    // those who look closer.
    void setFailure(MapFailureKind kind, const QString& reason);

    QWidget* FailureNotice = nullptr;
    QLabel* FailureText = nullptr;
    QPushButton* RetryButton = nullptr;

signals:
    void retryRequested();

protected:
    void paintEvent(QPaintEvent*) override;
    void resizeEvent(QResizeEvent*) override;

private:
    void PlaceNotice();

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
