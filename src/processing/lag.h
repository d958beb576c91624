// The lag between the readings and the positions: estimated from traverses
// walked in opposite directions next to each other, where a lag shifts the
// same feature forward on one and backward on the other.
#pragma once

#include "arrange/arrange.h"
#include "arrange/arrangedpoints.h"
#include "processing/channelpoints.h"
#include "processing/settings.h"
#include "processing/traverses.h"
#include "survey/reader.h"
#include "survey/surveytable.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace qgrad {

// One survey as the estimate sees it, in metres of a frame that all surveys
// of one estimate share.
struct LagSurvey {
    // Per data row: its time in seconds (rising) and its own fix.
    std::vector<double> seconds;
    TrackXY fixes;
    // Per channel: the sensor's offset from the fix, fixed east and north
    // (offsetX, offsetY) and turning with the course (right of it and
    // behind), and its gradient readings with their data rows, in row order.
    std::array<double, kChannels> offsetX{};
    std::array<double, kChannels> offsetY{};
    std::array<double, kChannels> right{};
    std::array<double, kChannels> behind{};
    // Per data row: the course, a unit vector east and north; empty when no
    // offset turns.
    std::vector<double> courseX, courseY;
    std::array<std::vector<std::uint32_t>, kChannels> rows;
    std::array<std::vector<double>, kChannels> values;
};

// A survey arranged without a lag, its sensors placed by `conversion`;
// `fixes` are its table's.
LagSurvey MakeLagSurvey(const RowFixes& fixes, const SurveyGeometry& geometry, const ArrangedPoints& points,
                        const ChannelPoints& index, const LocalFrame& frame, OffsetConversion conversion);

struct LagEstimate {
    bool reliable = false;
    double seconds = 0;      // the lag to use: the best one when reliable, else 0
    double best = 0;         // the lag of the highest correlation
    double correlation = 0;  // that correlation; 0 with no pair to compare
    // How far the peak stands above the highest other peak of the curve, as
    // a share of its height over the curve's lowest point: 1 for a curve with
    // one peak, near 0 for noise, whose peaks are all alike.
    double prominence = 0;
    std::size_t pairs = 0;   // pairs of neighbouring opposite sensor lines compared
};

// Tries each lag of the settings' steps within ±searchSeconds: each reading
// of time t moved to where its sensor was at t + lag, pairs of opposite
// sensor lines that pass over the same ground resampled on common points
// along their direction, and the normalised cross-correlation of each pair,
// averaged over the pairs by their points. Each sensor's line on a straight traverse is paired with the
// nearest line walked the other way alongside; of each two traverses, only
// the pairs within half the sensor spacing of their nearest pair take part,
// since lines further apart see different ground. The best lag is used when
// it lies inside the search, its correlation is above 0 and its prominence
// reaches minProminence.
//
// The surveys are met one at a time, each twice: all of them for their
// sensor lines (AddLines), then all of them again in the same order for the
// readings of the lines compared (AddReadings). Between the two, only the
// lines' ends are held, and after, only the pairs that may still take part,
// so a folder of any size is estimated with one survey's readings at hand.
class LagEstimator {
public:
    LagEstimator(const LagSettings& settings, const TurnSettings& turns);
    ~LagEstimator();
    LagEstimator(const LagEstimator&) = delete;
    LagEstimator& operator=(const LagEstimator&) = delete;

    void AddLines(const LagSurvey& survey);
    void AddReadings(const LagSurvey& survey);
    // Throws std::logic_error unless each survey of the first round came
    // again in the second.
    LagEstimate Finish();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The estimate over surveys all held at once.
LagEstimate EstimateLag(const std::vector<LagSurvey>& surveys, const LagSettings& settings, const TurnSettings& turns);

// EstimateLag over one survey arranged without a lag, from its gradient
// readings gathered by channel. The rows of `index` and the readings are lent
// to the estimate rather than copied, and are given back as they were.
LagEstimate EstimateSurveyLag(const RowFixes& fixes, const SurveyGeometry& geometry, const ArrangedPoints& points,
                              ChannelPoints& index, PerChannel& gradients, OffsetConversion conversion,
                              const LagSettings& settings, const TurnSettings& turns);

}  // namespace qgrad
