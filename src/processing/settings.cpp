#include "processing/settings.h"

#include <QCoreApplication>
#include <QString>

#include <cmath>
#include <stdexcept>

namespace qgrad {

void ValidateProcessing(const ProcessingSettings& settings) {
    // Written as "not within" so that a NaN is refused too.
    if (settings.lag.mode == LagMode::Fixed && !(std::abs(settings.lag.seconds) <= kMaxLagSeconds))
        throw std::invalid_argument(QCoreApplication::translate("qgrad",
                                                                "A lag of %1 s is beyond the %2 s a sensor can trail "
                                                                "or lead the GPS fix; nothing was written")
                                        .arg(settings.lag.seconds)
                                        .arg(kMaxLagSeconds)
                                        .toStdString());
    if (settings.despike.on && !(settings.despike.k >= kMinDespikeK))
        throw std::invalid_argument(QCoreApplication::translate("qgrad",
                                                                "A despike K of %1 is below %2: most readings would "
                                                                "count as spikes; nothing was written")
                                        .arg(settings.despike.k)
                                        .arg(kMinDespikeK)
                                        .toStdString());
}

}  // namespace qgrad
