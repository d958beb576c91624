// Destriping: each sensor's readings levelled traverse by traverse (or walking
// direction by walking direction) with a robust level.
#pragma once

#include "arrange/arrangedpoints.h"
#include "processing/channelpoints.h"
#include "processing/settings.h"

#include <cstddef>
#include <vector>

namespace qgrad {

// The level of `values` (which it reorders): the median or the mean of the
// readings between the low and high percentiles (linear between ranks),
// bounds included; all readings when none lies between them (two readings).
// 0 for no readings.
double RobustLevel(std::vector<double>& values, LevelEstimate estimate, double lowPercentile, double highPercentile);

struct TraverseLevel {
    int channel = 0;
    int traverse = 0;         // 1 for the cart's first traverse
    std::size_t firstRow = 0;  // data rows, 0 for the first sample row
    std::size_t lastRow = 0;
    std::size_t readings = 0;
    double bearing = 0;       // degrees clockwise from north
    bool forward = true;      // walked in the main direction
    double field = 0;         // the levels taken off, nT and nT/m
    double gradient = 0;
};

struct DestripeReport {
    DestripeSettings settings;
    // By channel, then traverse.
    std::vector<TraverseLevel> levels;
};

// Splits the cart's track into traverses at its turns (on the track of the
// sensor with the most readings: the cart turns as one, so every sensor's
// readings are split at the same rows) and takes a robust level off the
// field and the gradient readings of each sensor and traverse; by direction,
// one level per sensor and walking direction, over all its traverses walked
// that way (the main direction being that of the longest traverse). Does
// nothing with LevelEstimate::Off.
DestripeReport Destripe(ArrangedPoints& points, const ChannelPoints& index, const DestripeSettings& settings);

}  // namespace qgrad
