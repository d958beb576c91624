#include "processing/processing.h"

#include "arrange/arrange.h"

#include <algorithm>

namespace qgrad {
namespace {

// Puts one table's despiked readings back where only the spikes changed.
void WriteSpikes(const std::vector<Spike>& spikes, PointTable table, const ChannelPoints& index,
                 ArrangedPoints& points) {
    for (const Spike& s : spikes) {
        if (s.table != table) continue;
        const std::vector<std::uint32_t>& rows = index.row[s.channel];
        const auto at = std::lower_bound(rows.begin(), rows.end(), static_cast<std::uint32_t>(s.row));
        points.setValue(table, index.point[s.channel][static_cast<std::size_t>(at - rows.begin())], s.replacement);
    }
}

}  // namespace

ProcessingReport ProcessSurvey(const SurveyTable& arranged, const SurveyGeometry& geometry, ArrangedPoints& points,
                               const ProcessingSettings& settings, const LagEstimate* estimate) {
    ProcessingReport report;
    if (!settings.AnyOn()) return report;
    ChannelPoints index = IndexChannelPoints(arranged, points.size());
    // One table's readings by channel at a time, the same memory for both:
    // the gradients first, which the lag estimate reads too.
    PerChannel readings;
    bool haveGradients = false;
    if (settings.lag.mode != LagMode::Off) {
        LagReport lag;
        lag.settings = settings.lag;
        lag.applied = index.complete && points.size() > 0;
        if (lag.applied) {
            const RowFixes fixes = ReadRowFixes(arranged);
            if (settings.lag.mode == LagMode::Fixed) {
                lag.seconds = settings.lag.seconds;
            } else {
                if (!estimate) {
                    GatherByChannel(index, [&](std::size_t p) { return points.value(PointTable::Gradient, p); },
                                    readings);
                    haveGradients = true;
                }
                lag.estimate = estimate ? *estimate
                                        : EstimateSurveyLag(fixes, geometry, points, index, readings, settings.lag,
                                                            settings.destripe.turns);
                lag.seconds = lag.estimate->seconds;
            }
            lag.applied = ShiftPlacementInTime(arranged, geometry, fixes, lag.seconds, points);
        }
        if (!lag.applied) lag.seconds = 0;
        report.lag = lag;
    }
    const bool despike = settings.despike.on;
    const bool destripe = settings.destripe.level != LevelEstimate::Off;
    if (!despike && !destripe) return report;
    if (despike) report.despike = DespikeReport{settings.despike, {}};
    CartTraverses cart;
    if (destripe) {
        cart = FindTraverses(points, index, settings.destripe.turns);
        report.destripe = StartDestripe(index, cart, settings.destripe);
    }
    for (const PointTable table : {PointTable::Gradient, PointTable::Absolute}) {
        if (table != PointTable::Gradient || !haveGradients)
            GatherByChannel(index, [&](std::size_t p) { return points.value(table, p); }, readings);
        if (despike) DespikeReadings(readings, table, index, *report.despike);
        if (destripe) {
            DestripeReadings(readings, table, index, cart, *report.destripe);
            ScatterByChannel(index, readings, table, points);
        } else {
            WriteSpikes(report.despike->spikes, table, index, points);
        }
    }
    if (despike) OrderSpikes(*report.despike);
    return report;
}

}  // namespace qgrad
