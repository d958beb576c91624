// The profiles of a survey: each channel's gradient against the distance
// along the course, and what a chart of a given width draws of them.
//
// A million-row survey has twelve million profile points, and a chart a
// couple of thousand pixel columns. The points are kept compactly (one
// distance a row for all channels, one value a point) and the chart is given,
// for the span on show, only the points that shape each pixel column: its
// first, lowest, highest and last. The drawn line is the same, and every
// point drawn is a real point that can be traced back to its row.
#pragma once

#include "survey/columns.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qgrad {

// The points of one channel, in row order. The gradients the arrangement
// writes have one decimal, so they are kept as whole tenths, in half the
// room, while every value is one; a channel with any other value keeps them
// all as they are.
class ProfileSeries {
public:
    std::size_t size() const { return exact_.empty() ? tenths_.size() : exact_.size(); }
    double Gradient(std::size_t point) const {
        return exact_.empty() ? static_cast<double>(tenths_[point]) / 10.0 : exact_[point];
    }
    std::size_t RowOf(std::size_t point) const { return gapped_ ? rows_[point] : point; }

    void Reserve(std::size_t points) { tenths_.reserve(points); }
    // Adds a point on a data row after the last point's.
    void Append(std::size_t row, double gradient);
    // Gives back the room reserved beyond the points.
    void Fit();

private:
    // Whether a value is kept exactly as whole tenths, and which.
    static bool AsTenths(double v, std::int32_t& tenths);
    void KeepExactly();

    std::vector<std::int32_t> tenths_;
    std::vector<double> exact_;
    // The data row of each point, once a row without one has come; till
    // then point i lies on row i.
    bool gapped_ = false;
    std::vector<std::uint32_t> rows_;
};

struct ValueSpan {
    double lower = 0;
    double upper = 0;
    bool empty = true;

    void Take(double v) {
        if (empty || v < lower) lower = v;
        if (empty || v > upper) upper = v;
        empty = false;
    }
};

struct SurveyProfiles {
    std::vector<double> distance;  // of every data row
    std::array<ProfileSeries, kChannels> channel;
    // Shown when the channel's gradient cell of the first data row is not empty.
    std::array<bool, kChannels> shown{};
    // The span of each channel's distances and of its gradients.
    std::array<ValueSpan, kChannels> distanceSpan{};
    std::array<ValueSpan, kChannels> gradientSpan{};
    // Each channel's distances never fall back along its points.
    std::array<bool, kChannels> ascending{};

    double DistanceOf(int k, std::size_t point) const { return distance[channel[k].RowOf(point)]; }
    void clear();
    // Completes the spans of channel k, or of all, once the points are in.
    void MeasureSpans(int k);
    void MeasureSpans();
};

struct DrawnPoint {
    double distance;
    double gradient;
    std::size_t point;  // its index among the channel's points
};

// The points of channel k that draw its line over [lower, upper] split into
// `columns` equal pixel columns: per column its first, lowest, highest and
// last point (each once), and the nearest point beyond either end, so the
// line runs on to the edge. Ordered by distance, ties in point order.
void DrawnPoints(const SurveyProfiles& profiles, int k, double lower, double upper, int columns,
                 std::vector<DrawnPoint>& out);

}  // namespace qgrad
