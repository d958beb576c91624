// Despiking: a Hampel filter along each channel's readings in time.
#pragma once

#include "arrange/arrangedpoints.h"
#include "common/robuststats.h"
#include "processing/channelpoints.h"
#include "processing/settings.h"

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace qgrad {

// The spread below which readings are not told apart: values are kept to one
// decimal, so a flat stretch has no spread at all, and one tenth off it must
// not count as a spike.
inline constexpr double kReadingResolution = 0.1;

struct Replacement {
    std::size_t index = 0;
    double median = 0;
};

// The readings of `values` further than k robust standard deviations from
// the median of their window: the reading and up to `halfWidth` on each side,
// fewer at the ends. The robust standard deviation is kMadToSigma times the
// window's median absolute deviation, and at least kReadingResolution and the
// series' own noise (kMadToSigma times the median step from one reading to
// the next, over the square root of 2; of a long series, the steps of at
// most 65,536 readings spread evenly along it). Each reading is judged among the
// readings as given, and its replacement is that median. Where that median
// is itself further than k robust standard deviations from the median of
// the reading's wider surroundings (three windows' reach on each side), the
// reading is judged against the surroundings instead: replaced by their
// median when it stands out of them, else kept. In index order.
std::vector<Replacement> HampelOutliers(const std::vector<double>& values, double k, int halfWidth);

// The value of the despike option, "K" or "K,HALFWIDTH": on, with K above 0
// and a half-width of at least one reading. Throws DespikeValueError.
DespikeSettings ParseDespikeValue(std::string_view text);

class DespikeValueError : public std::invalid_argument {
public:
    explicit DespikeValueError(std::string_view text);
    std::string text;  // what was given
};

struct Spike {
    int channel = 0;
    PointTable table = PointTable::Gradient;
    std::size_t row = 0;  // data row, 0 for the first
    double reading = 0;
    double replacement = 0;
};

struct DespikeReport {
    DespikeSettings settings;
    // By channel, then field before gradient, then row.
    std::vector<Spike> spikes;
};

// Replaces the spikes in one table's readings, gathered by channel, each
// channel along its own row order, and adds them to the report.
void DespikeReadings(PerChannel& readings, PointTable table, const ChannelPoints& index,
                     DespikeReport& report);

// Puts the report's spikes in its order once every table is despiked.
void OrderSpikes(DespikeReport& report);

}  // namespace qgrad
