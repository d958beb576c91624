#include "processing/processing.h"

#include "arrange/arrange.h"

namespace qgrad {

ProcessingReport ProcessSurvey(const SurveyTable& arranged, const SurveyGeometry& geometry, ArrangedPoints& points,
                               const ProcessingSettings& settings, const LagEstimate* estimate) {
    ProcessingReport report;
    if (!settings.AnyOn()) return report;
    ChannelPoints index = IndexChannelPoints(arranged, points.size());
    if (settings.lag.mode != LagMode::Off) {
        LagReport lag;
        lag.settings = settings.lag;
        lag.applied = index.complete && points.size() > 0;
        if (lag.applied) {
            const RowFixes fixes = ReadRowFixes(arranged);
            if (settings.lag.mode == LagMode::Fixed) {
                lag.seconds = settings.lag.seconds;
            } else {
                const LocalFrame frame(points.lon(0), points.lat(0));
                lag.estimate = estimate ? *estimate
                                        : EstimateLag({MakeLagSurvey(fixes, geometry, points, index, frame)},
                                                      settings.lag, settings.destripe.turns);
                lag.seconds = lag.estimate->seconds;
            }
            lag.applied = ShiftPlacementInTime(arranged, geometry, fixes, lag.seconds, points);
        }
        if (!lag.applied) lag.seconds = 0;
        report.lag = lag;
    }
    if (settings.despike.on) report.despike = Despike(points, index, settings.despike);
    if (settings.destripe.level != LevelEstimate::Off) report.destripe = Destripe(points, index, settings.destripe);
    return report;
}

}  // namespace qgrad
