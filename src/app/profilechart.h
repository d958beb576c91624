// The profile chart's behaviour beyond showing the profiles: one colour per
// channel that the eye can tell apart, a legend that shows and hides a
// channel, zoom and pan, and what lies under the mouse.
#pragma once

#include <QColor>
#include <QObject>
#include <QPoint>
#include <QString>

#include "pipeline/profiles.h"

#include <array>
#include <optional>
#include <vector>

class QCustomPlot;
class QCPGraph;

namespace qgrad {

// A qualitative palette of twelve colours, one per channel.
QColor ChannelColour(int channel);

struct PointUnderMouse {
    int channel = 0;  // 0-based
    double distance = 0;
    double gradient = 0;
};

class ProfileChart : public QObject {
    Q_OBJECT
public:
    // Sets up `chart`, whose first `channels` graphs are the profiles.
    ProfileChart(QCustomPlot* chart, int channels);

    // Shows `profiles` (kept by the caller until the next Clear): names the
    // channels, shows in the legend those with points, keeps the ones the
    // user hid hidden and spans the axes over the channels on show.
    void ShowProfiles(const SurveyProfiles* profiles, const std::array<QString, 12>& names);
    // A new survey: no profiles, no legend, the channels all shown again.
    void Clear();
    // Shows or hides a channel as the legend does.
    void ToggleChannel(int channel);
    bool HiddenByUser(int channel) const { return hiddenByUser_[channel]; }
    // Axes over the shown profiles.
    void ResetView();
    // The profile point nearest `pixel`, within a few pixels.
    std::optional<PointUnderMouse> PointAt(QPoint pixel) const;
    // The index among the channel's profile points of the point the chart
    // holds at `dataIndex`.
    int PointIndexOf(int channel, int dataIndex) const;

signals:
    void hovered(const QString& text);

private:
    // The legend's row above the plot, while the legend has channels.
    void PlaceLegend();
    void ApplyVisibility(int channel);
    // Gives the chart the points that draw the profiles over the span on show.
    void Redraw();

    QCustomPlot* chart_;
    int channels_;
    const SurveyProfiles* profiles_ = nullptr;
    std::array<bool, 12> hiddenByUser_{};
    // Per channel, the profile point of each point the chart holds.
    std::array<std::vector<std::size_t>, 12> drawn_;
    // The span and width the chart's points were made for.
    double drawnLower_ = 0, drawnUpper_ = 0;
    int drawnWidth_ = 0;
};

}  // namespace qgrad
