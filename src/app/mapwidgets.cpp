#include "app/mapwidgets.h"

#include <QMouseEvent>
#include <QPainter>
#include <QSettings>

namespace qgrad {

HttpsSettings MapServiceSettings(const QSettings& settings) {
    HttpsSettings https = HttpsSettingsFromEnvironment();
    const QString endpoint = settings.value(kMapEndpointKey).toString();
    const QString caFile = settings.value(kMapCaFileKey).toString();
    if (!endpoint.isEmpty()) https.endpoint = endpoint.toStdString();
    if (!caFile.isEmpty()) https.caFile = caFile.toStdString();
    return https;
}

void MapPicture::setPicture(const QImage& image) {
    picture_ = image;
    update();
}

void MapPicture::paintEvent(QPaintEvent*) {
    if (picture_.isNull()) return;
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(rect(), picture_);
}

CursorRing::CursorRing(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    resize(13, 13);
}

void CursorRing::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::white, 2));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(rect()).adjusted(1, 1, -1, -1));
}

void CursorRing::mouseReleaseEvent(QMouseEvent*) { emit released(); }

}  // namespace qgrad
