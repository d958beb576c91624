#include "processing/processing.h"

#include "arrange/arrange.h"

#include <algorithm>
#include <optional>

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
                               const ProcessingSettings& settings, const LagEstimate* estimate,
                               const std::vector<std::uint32_t>& fixArrivals) {
    ProcessingReport report;
    const bool quality = settings.quality.on;
    if (!settings.AnyOn() && !quality) return report;
    ChannelPoints index = IndexChannelPoints(arranged, points.size());
    const bool despike = settings.despike.on;
    const bool destripe = settings.destripe.level != LevelEstimate::Off;
    if (despike) report.despike = DespikeReport{settings.despike, {}};
    // One table's readings by channel at a time, the same memory for both:
    // the gradients first, which the lag estimate and the checks read too.
    PerChannel readings;
    if (despike || destripe || quality || (settings.lag.mode == LagMode::Auto && !estimate)) {
        GatherByChannel(index, [&](std::size_t p) { return points.value(PointTable::Gradient, p); }, readings);
        // The checks see the readings as the instrument gave them.
        if (quality) report.quality = CheckQuality(arranged, index, readings, fixArrivals, settings.quality, despike);
        if (despike) DespikeReadings(readings, PointTable::Gradient, index, *report.despike);
    }
    const bool placeable = index.complete && points.size() > 0;
    const OffsetConversion conversion = settings.trueOffsets ? OffsetConversion::Exact : OffsetConversion::OneCourse;
    std::optional<RowFixes> fixes;
    if (placeable && (settings.trueOffsets || settings.lag.mode != LagMode::Off)) fixes = ReadRowFixes(arranged);
    if (settings.trueOffsets)
        report.trueOffsets = placeable && PlaceAgain(arranged, geometry, *fixes, 0, conversion, points);
    if (settings.lag.mode != LagMode::Off) {
        LagReport lag;
        lag.settings = settings.lag;
        lag.applied = placeable;
        if (lag.applied) {
            if (settings.lag.mode == LagMode::Fixed) {
                lag.seconds = settings.lag.seconds;
            } else {
                lag.estimate = estimate ? *estimate
                                        : EstimateSurveyLag(*fixes, geometry, points, index, readings, conversion,
                                                            settings.lag, settings.destripe.turns);
                lag.seconds = lag.estimate->seconds;
            }
            // The true offsets are in place already.
            lag.applied = lag.seconds == 0 || PlaceAgain(arranged, geometry, *fixes, lag.seconds, conversion, points);
        }
        if (!lag.applied) lag.seconds = 0;
        report.lag = lag;
    }
    if (!despike && !destripe) return report;
    CartTraverses cart;
    if (destripe) {
        cart = FindTraverses(points, index, geometry, settings.destripe.turns);
        report.destripe = StartDestripe(index, cart, settings.destripe);
    }
    for (const PointTable table : {PointTable::Gradient, PointTable::Absolute}) {
        if (table != PointTable::Gradient) {
            GatherByChannel(index, [&](std::size_t p) { return points.value(table, p); }, readings);
            if (despike) DespikeReadings(readings, table, index, *report.despike);
        }
        if (destripe) {
            DestripeReadings(readings, table, index, cart, *report.destripe);
            ScatterByChannel(index, readings, table, points);
        } else {
            WriteSpikes(report.despike->spikes, table, index, points);
        }
    }
    if (despike) OrderSpikes(*report.despike);
    if (despike && quality) TakeDespikedSpikes(*report.despike, *report.quality);
    return report;
}

}  // namespace qgrad
