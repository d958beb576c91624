#include "app/mapwidgets.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
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

QString MapFailureText(MapFailureKind kind) {
    static const struct {
        MapFailureKind kind;
        const char* text;
    } kTexts[] = {
        {MapFailureKind::NoNetwork, QT_TRANSLATE_NOOP("qgrad::MapPicture", "No network: no satellite picture")},
        {MapFailureKind::Refused,
         QT_TRANSLATE_NOOP("qgrad::MapPicture", "Refused by the map service: no satellite picture")},
        {MapFailureKind::TimedOut, QT_TRANSLATE_NOOP("qgrad::MapPicture", "Timed out: no satellite picture")},
        {MapFailureKind::BadAnswer, QT_TRANSLATE_NOOP("qgrad::MapPicture", "The map service sent no picture of the area")},
        {MapFailureKind::Cancelled,
         QT_TRANSLATE_NOOP("qgrad::MapPicture", "Map request cancelled: no satellite picture")},
    };
    for (const auto& t : kTexts)
        if (t.kind == kind) return QCoreApplication::translate("qgrad::MapPicture", t.text);
    return {};
}

MapPicture::MapPicture(QWidget* parent) : QWidget(parent) {
    // Opaque, so that the words stay readable over any picture.
    FailureNotice = new QWidget(this);
    FailureNotice->setAutoFillBackground(true);
    FailureText = new QLabel(FailureNotice);
    RetryButton = new QPushButton(tr("Retry"), FailureNotice);
    RetryButton->setToolTip(tr("Ask the map service for the satellite picture again"));
    auto* row = new QHBoxLayout(FailureNotice);
    row->setContentsMargins(6, 3, 3, 3);
    row->addWidget(FailureText);
    row->addWidget(RetryButton);
    FailureNotice->hide();
    connect(RetryButton, &QPushButton::clicked, this, &MapPicture::retryRequested);
}

void MapPicture::setFailure(MapFailureKind kind, const QString& reason) {
    FailureText->setText(MapFailureText(kind));
    FailureText->setToolTip(reason);
    FailureNotice->setVisible(kind != MapFailureKind::None);
    PlaceNotice();
}

void MapPicture::resizeEvent(QResizeEvent*) { PlaceNotice(); }

void MapPicture::PlaceNotice() {
    // The upper right corner: the scale bar keeps the picture's left fifth,
    // the result's controls the lower left, and a survey's track mostly the
    // middle. A narrow map wraps the words rather than cut them.
    const int room = std::max(0, width() * 4 / 5 - 4);
    FailureText->setWordWrap(false);
    const QSize line = FailureNotice->sizeHint();
    const bool fits = line.width() <= room;
    FailureText->setWordWrap(!fits);
    const int w = std::min(line.width(), room);
    const int h = fits ? line.height() : FailureNotice->heightForWidth(w);
    FailureNotice->setGeometry(width() - 4 - w, 4, w, h);
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
