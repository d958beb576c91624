// What the surveyor checks before leaving the site: per channel, where it
// read one value or nothing for too long, how noisy it is and how many
// spikes it has; where the cart went too fast for the readings to fill the
// grid's cells; where the GPS fix stopped coming. Found on the arranged
// readings before any stage changes them, and named by data row.
#pragma once

#include "arrange/arrangedpoints.h"
#include "processing/channelpoints.h"
#include "processing/despike.h"
#include "survey/surveytable.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qgrad {

// Data rows [firstRow, lastRow], 0 for the first sample row, and how long
// they lasted.
struct RowStretch {
    std::size_t firstRow = 0, lastRow = 0;
    double seconds = 0;
};

struct FlatStretch {
    RowStretch rows;
    bool empty = false;  // nothing read, rather than one value
    double value = 0;
};

struct ChannelQuality {
    int channel = 0;
    std::size_t readings = 0;
    // The median absolute deviation of the differences between successive
    // gradient readings, nT/m: the noise of a reading, sampled where the
    // ground changes little between readings, untouched by a few spikes.
    // Flat stretches take no part.
    double noise = 0;
    std::vector<FlatStretch> flat;
    // Data rows of the gradient spikes: those the despike replaced, or when
    // it did not run, those its rule with the default settings finds.
    std::vector<std::size_t> spikeRows;
};

struct FastStretch {
    RowStretch rows;
    double spacing = 0;  // the widest along-track spacing of readings in it, m
};

struct QualityReport {
    QualitySettings settings;
    DespikeSettings spikeRule;  // the rule the spikes were found by
    bool despiked = false;      // the spikes are the despike's
    // The channels with at least one reading, in order.
    std::vector<ChannelQuality> channels;
    std::vector<FastStretch> tooFast;
    // From the row of a fix to the row before the next different fix.
    std::vector<RowStretch> gpsGaps;
};

// The data rows where a new fix arrives, rows without a fix (zeros) left
// out. Found before the arrangement, which spreads each fix over the rows up
// to the next.
std::vector<std::uint32_t> FixArrivals(const SurveyTable& table);

// The figures of one arranged survey, whose fixes arrived at `fixArrivals`;
// `gradients` are its gradient readings as GatherByChannel gives them.
// Spikes are counted by the despike's rule unless `despikeRuns`, in which
// case TakeDespikedSpikes fills them in.
QualityReport CheckQuality(const SurveyTable& arranged, const ChannelPoints& index, const PerChannel& gradients,
                           const std::vector<std::uint32_t>& fixArrivals, const QualitySettings& settings,
                           bool despikeRuns);

// The gradient spikes of a despike that ran, by channel.
void TakeDespikedSpikes(const DespikeReport& despike, QualityReport& quality);

}  // namespace qgrad
