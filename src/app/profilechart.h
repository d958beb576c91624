// The profile chart's behaviour beyond showing the profiles: one colour per
// channel that the eye can tell apart, a legend that shows and hides a
// channel, zoom and pan, and what lies under the mouse.
#pragma once

#include <QColor>
#include <QObject>
#include <QPoint>
#include <QString>

#include <array>
#include <optional>

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

    // After new profiles: names the channels, shows in the legend those
    // with points, and keeps the ones the user hid hidden. `shown` says which
    // the survey shows.
    void ProfilesChanged(const std::array<bool, 12>& shown, const std::array<QString, 12>& names);
    // A new survey: no profiles, no legend, the channels all shown again.
    void Clear();
    // Shows or hides a channel as the legend does.
    void ToggleChannel(int channel);
    bool HiddenByUser(int channel) const { return hiddenByUser_[channel]; }
    // Axes over the shown profiles.
    void ResetView();
    // The profile point nearest `pixel`, within a few pixels.
    std::optional<PointUnderMouse> PointAt(QPoint pixel) const;

signals:
    void hovered(const QString& text);

private:
    void ApplyVisibility(int channel);

    QCustomPlot* chart_;
    int channels_;
    std::array<bool, 12> shown_{};
    std::array<bool, 12> hiddenByUser_{};
};

}  // namespace qgrad
