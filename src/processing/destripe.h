// Destriping: each sensor's readings levelled traverse by traverse (or walking
// direction by walking direction) with the level of the ground between
// anomalies, so that a broad anomaly is not taken for a stripe.
#pragma once

#include "arrange/arrangedpoints.h"
#include "processing/channelpoints.h"
#include "processing/settings.h"
#include "survey/reader.h"

#include <cstddef>
#include <vector>

namespace qgrad {

// The level of `values` (which it reorders): the median or the mean of the
// readings between the low and high percentiles (linear between ranks),
// bounds included; all readings when none lies between them (two readings).
// 0 for no readings.
double RobustLevel(std::vector<double>& values, LevelEstimate estimate, double lowPercentile, double highPercentile);

// The level of the ground between anomalies under `values` (which it
// reorders): RobustLevel of the readings near the densest half of them.
// The shortest interval holding half the readings lies on the quiet ground
// even where a broad anomaly fills a third of a traverse, and its width
// measures the noise; readings more than kBackgroundWidths half-widths from
// its middle belong to anomalies and do not count.
double BackgroundLevel(std::vector<double>& values, LevelEstimate estimate, double lowPercentile,
                       double highPercentile);
inline constexpr double kBackgroundWidths = 3;

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

// The traverses of the cart, found on the track of the sensor with the most
// readings: the cart turns as one, so every sensor's readings are split at
// the same rows.
struct CartTraverses {
    std::vector<std::size_t> firstRow;  // and one past the last traverse's last row
    std::vector<double> bearing;
    std::vector<bool> forward;  // walked like the longest traverse
};

// The traverses of the track of the sensor nearest the antenna, of those
// with nearly as many points as the channel with the most: turned with the
// cart, an outer sensor swings round a turn on a wide circle and the inner
// one almost on the spot, where the jitter of the fixes hides the turn.
CartTraverses FindTraverses(const ArrangedPoints& points, const ChannelPoints& index, const SurveyGeometry& geometry,
                            const TurnSettings& turns);

// The report's levels, one for each sensor and traverse it has readings on,
// all still 0. Destriping fills them in table by table.
DestripeReport StartDestripe(const ChannelPoints& index, const CartTraverses& cart, const DestripeSettings& settings);

// Takes the background level off one table's readings, gathered by channel, for
// each sensor and traverse; by direction, one level per sensor and walking
// direction, over all its traverses walked that way (the main direction
// being that of the longest traverse). Records the levels in the report.
void DestripeReadings(PerChannel& readings, PointTable table, const ChannelPoints& index, const CartTraverses& cart,
                      DestripeReport& report);

}  // namespace qgrad
