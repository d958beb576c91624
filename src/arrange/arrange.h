// Arrange to GPS: spreads repeated time stamps and fixes over the rows that
// share them, levels each channel, accumulates the distance along the track
// and places every channel's sensor at its offset from the antenna.
#pragma once

#include "arrange/arrangedpoints.h"
#include "survey/reader.h"
#include "survey/surveytable.h"

namespace qgrad {

// Rewrites the survey table's time, position, distance and gradient columns
// and fills `points`. Any failure on the way (a cell that is not a number, an
// arithmetic fault) ends the arrangement silently: what was written stays,
// the point tables keep the points made so far, and the result is false.
// `levelSignals` is ARRANGE SIGNAL LEVELS. The table must hold a data row.
bool ArrangeToGps(SurveyTable& table, const SurveyGeometry& geometry, bool levelSignals, ArrangedPoints& points);

}  // namespace qgrad
