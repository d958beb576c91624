#include "app/profilechart.h"

#include <QLocale>
#include <qcustomplot.h>

#include <limits>

namespace qgrad {

QColor ChannelColour(int channel) {
    // Twelve hues far enough apart to tell the channels' lines apart.
    static const QColor kColours[12] = {
        QColor(0x1F, 0x77, 0xB4), QColor(0xFF, 0x7F, 0x0E), QColor(0x2C, 0xA0, 0x2C), QColor(0xD6, 0x27, 0x28),
        QColor(0x94, 0x67, 0xBD), QColor(0x8C, 0x56, 0x4B), QColor(0xE3, 0x77, 0xC2), QColor(0x7F, 0x7F, 0x7F),
        QColor(0xBC, 0xBD, 0x22), QColor(0x17, 0xBE, 0xCF), QColor(0x00, 0x00, 0x00), QColor(0xFF, 0xBB, 0x00)};
    return kColours[channel % 12];
}

ProfileChart::ProfileChart(QCustomPlot* chart, int channels) : QObject(chart), chart_(chart), channels_(channels) {
    chart_->setInteractions(QCP::iRangeDrag | QCP::iRangeZoom);
    // The titles speak the interface language; the ticks write numbers as
    // the program's files do, with a point whatever the region.
    chart_->xAxis->setLabel(tr("Distance, m"));
    chart_->yAxis->setLabel(tr("gradHz, nT"));
    chart_->setLocale(QLocale::c());
    chart_->legend->setVisible(true);
    QFont font("Verdana");
    font.setPixelSize(10);
    chart_->legend->setFont(font);
    chart_->legend->setBrush(QColor(255, 255, 255, 200));
    chart_->legend->setRowSpacing(0);
    chart_->legend->setColumnSpacing(4);
    // The legend in a row of its own above the plot: it never hides a profile.
    chart_->axisRect()->insetLayout()->take(chart_->legend);
    chart_->axisRect()->insetLayout()->simplify();
    chart_->plotLayout()->insertRow(0);
    chart_->plotLayout()->setRowStretchFactor(0, 0.001);
    chart_->legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    chart_->legend->setWrap(6);
    chart_->legend->setMargins(QMargins(2, 1, 2, 1));
    for (int k = 0; k < channels_; ++k) {
        QPen pen(ChannelColour(k), 1);
        pen.setCapStyle(Qt::RoundCap);
        chart_->graph(k)->setPen(pen);
        chart_->graph(k)->removeFromLegend();
    }
    PlaceLegend();
    connect(chart_, &QCustomPlot::legendClick, this, [this](QCPLegend*, QCPAbstractLegendItem* item, QMouseEvent*) {
        if (auto* p = qobject_cast<QCPPlottableLegendItem*>(item))
            for (int k = 0; k < channels_; ++k)
                if (chart_->graph(k) == p->plottable()) ToggleChannel(k);
    });
    connect(chart_, &QCustomPlot::mouseDoubleClick, this, [this](QMouseEvent*) { ResetView(); });
    // Zoom, pan and a new width all come to a layout before the chart is drawn.
    connect(chart_, &QCustomPlot::afterLayout, this, [this] {
        const QCPRange x = chart_->xAxis->range();
        if (x.lower != drawnLower_ || x.upper != drawnUpper_ || chart_->axisRect()->width() != drawnWidth_) Redraw();
    });
    connect(chart_, &QCustomPlot::mouseMove, this, [this](QMouseEvent* e) {
        const std::optional<PointUnderMouse> p = PointAt(e->pos());
        emit hovered(p ? tr("Channel %1: %2 m, %3 nT/m")
                             .arg(p->channel + 1)
                             .arg(p->distance, 0, 'f', 2)
                             .arg(p->gradient, 0, 'f', 2)
                       : QString());
    });
}

void ProfileChart::ShowProfiles(const SurveyProfiles* profiles, const std::array<QString, 12>& names) {
    profiles_ = profiles;
    chart_->legend->clearItems();
    for (int k = 0; k < channels_; ++k) {
        QCPGraph* g = chart_->graph(k);
        g->setName(names[k]);
        if (profiles_->channel[k].size() > 0) g->addToLegend();
        ApplyVisibility(k);
    }
    PlaceLegend();
    ResetView();
    Redraw();
}

void ProfileChart::PlaceLegend() {
    // An empty legend would hold the plot under it to the legend's own few
    // pixels' width: it takes its row only while it has channels to show.
    const bool channels = chart_->legend->itemCount() > 0;
    if (channels && !chart_->legend->layout()) chart_->plotLayout()->addElement(0, 0, chart_->legend);
    if (!channels && chart_->legend->layout()) chart_->plotLayout()->take(chart_->legend);
    chart_->legend->setVisible(channels);
}

void ProfileChart::Clear() {
    profiles_ = nullptr;
    hiddenByUser_ = {};
    for (int k = 0; k < channels_; ++k) {
        chart_->graph(k)->data()->clear();
        chart_->graph(k)->setVisible(false);
        drawn_[k] = {};
    }
    chart_->legend->clearItems();
    PlaceLegend();
    chart_->xAxis->setRange(0, 1000);
    chart_->yAxis->setRange(0, 5);
    chart_->replot(QCustomPlot::rpQueuedReplot);
}

void ProfileChart::Redraw() {
    if (!profiles_) return;
    const QCPRange x = chart_->xAxis->range();
    // Before the chart is first laid out its width is not known yet; the
    // widget's own width is near it.
    const int width = chart_->axisRect()->width() > 1 ? chart_->axisRect()->width() : chart_->width();
    std::vector<DrawnPoint> points;
    for (int k = 0; k < channels_; ++k) {
        DrawnPoints(*profiles_, k, x.lower, x.upper, width, points);
        QVector<QCPGraphData> data(static_cast<qsizetype>(points.size()));
        drawn_[k].resize(points.size());
        for (std::size_t i = 0; i < points.size(); ++i) {
            data[static_cast<qsizetype>(i)] = QCPGraphData(points[i].distance, points[i].gradient);
            drawn_[k][i] = points[i].point;
        }
        chart_->graph(k)->data()->set(data, true);
    }
    drawnLower_ = x.lower;
    drawnUpper_ = x.upper;
    drawnWidth_ = chart_->axisRect()->width();
}

int ProfileChart::PointIndexOf(int channel, int dataIndex) const {
    const std::vector<std::size_t>& drawn = drawn_[channel];
    return dataIndex >= 0 && static_cast<std::size_t>(dataIndex) < drawn.size()
               ? static_cast<int>(drawn[static_cast<std::size_t>(dataIndex)])
               : dataIndex;
}

void ProfileChart::ToggleChannel(int channel) {
    hiddenByUser_[channel] = !hiddenByUser_[channel];
    ApplyVisibility(channel);
    chart_->replot(QCustomPlot::rpQueuedReplot);
}

void ProfileChart::ApplyVisibility(int channel) {
    QCPGraph* g = chart_->graph(channel);
    g->setVisible(profiles_ && profiles_->shown[channel] && !hiddenByUser_[channel]);
    if (QCPPlottableLegendItem* item = chart_->legend->itemWithPlottable(g))
        item->setTextColor(g->visible() ? Qt::black : Qt::gray);
}

void ProfileChart::ResetView() {
    if (profiles_) {
        // The spans of the profiles on show, whatever part of them is drawn.
        ValueSpan x;
        ValueSpan y;
        for (int k = 0; k < channels_; ++k) {
            if (!chart_->graph(k)->visible()) continue;
            auto take = [](ValueSpan& into, const ValueSpan& span) {
                if (span.empty) return;
                into.Take(span.lower);
                into.Take(span.upper);
            };
            take(x, profiles_->distanceSpan[k]);
            take(y, profiles_->gradientSpan[k]);
        }
        auto fit = [](QCPAxis* axis, const ValueSpan& span) {
            if (span.empty) return;
            QCPRange range(span.lower, span.upper);
            // A single value keeps the axis's size around it.
            if (!QCPRange::validRange(range)) {
                const double centre = (span.lower + span.upper) / 2;
                range = QCPRange(centre - axis->range().size() / 2, centre + axis->range().size() / 2);
            }
            axis->setRange(range);
        };
        fit(chart_->xAxis, x);
        fit(chart_->yAxis, y);
    }
    // A little room above the highest peak and below the lowest.
    chart_->yAxis->scaleRange(1.05);
    chart_->replot(QCustomPlot::rpQueuedReplot);
}

std::optional<PointUnderMouse> ProfileChart::PointAt(QPoint pixel) const {
    constexpr double kReach = 6;  // pixels
    std::optional<PointUnderMouse> best;
    double bestDistance = kReach;
    for (int k = 0; k < channels_; ++k) {
        QCPGraph* g = chart_->graph(k);
        if (!g->visible() || g->data()->isEmpty()) continue;
        QVariant details;
        const double d = g->selectTest(pixel, false, &details);
        if (d < 0 || d >= bestDistance) continue;
        const QCPDataSelection selection = details.value<QCPDataSelection>();
        if (selection.isEmpty()) continue;
        const auto it = g->data()->at(selection.dataRange().begin());
        bestDistance = d;
        best = PointUnderMouse{k, it->key, it->value};
    }
    return best;
}

}  // namespace qgrad
