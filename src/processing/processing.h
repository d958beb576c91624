// The processing of an arranged survey, in its order: lag, despike, destripe.
#pragma once

#include "arrange/arrangedpoints.h"
#include "processing/despike.h"
#include "processing/destripe.h"
#include "processing/lag.h"
#include "processing/quality.h"
#include "processing/settings.h"
#include "survey/reader.h"
#include "survey/surveytable.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qgrad {

struct LagReport {
    LagSettings settings;
    // The lag the points were placed with (0: as arranged).
    double seconds = 0;
    // What LagMode::Auto found.
    std::optional<LagEstimate> estimate;
    // False when the lag could not be applied: the times do not advance, the
    // arrangement stopped early or made no point.
    bool applied = true;
};

// What the stages that ran did; a stage that is off has no entry.
struct ProcessingReport {
    // Whether the sensors were placed by their true offsets: nothing when
    // not asked for, false when a position came out not finite.
    std::optional<bool> trueOffsets;
    std::optional<LagReport> lag;
    std::optional<DespikeReport> despike;
    std::optional<DestripeReport> destripe;
    std::optional<QualityReport> quality;
};

// Runs the stages that are on over one survey that ArrangeToGps has
// arranged: the points change, the table keeps its texts. The lag moves
// positions only and its estimate compares despiked gradients, so the
// gradients are despiked first and placed after. With every stage
// off the points are left as they are. `estimate` stands in for the
// survey's own estimate under LagMode::Auto (a folder's estimate, made over
// all its surveys). The checks take the rows where fixes arrived from
// `fixArrivals` (FixArrivals before the arrangement); without them they find
// no track fault. Throws SurveyFormatError for a cell that is not a number.
ProcessingReport ProcessSurvey(const SurveyTable& arranged, const SurveyGeometry& geometry, ArrangedPoints& points,
                               const ProcessingSettings& settings, const LagEstimate* estimate = nullptr,
                               const std::vector<std::uint32_t>& fixArrivals = {});

// The report as a few lines of plain text, LF line ends; `title` heads it
// (the survey or the folder). Rows are named by their line in the survey file.
std::string ProcessingReportText(const ProcessingReport& report, const std::string& title);

// The report's headings without the lines under them (each spike, traverse
// and check): what a terminal shows, where a long survey's full report would
// run to thousands of lines.
std::string ProcessingReportHeadings(std::string_view report);

}  // namespace qgrad
