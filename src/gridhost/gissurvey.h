// What the GIS outputs know of the gridded points beyond the gradient point
// file: the total field from the absolute point file beside it ("GPS_ABS_"
// for "GPS_DIFF_"), and the channel, the survey file and the antenna's track
// from the survey files the points were arranged from, when those still lie
// in the point file's folder and arrange to the very same points. Whatever
// cannot be matched stays unknown.
#pragma once

#include "gridhost/gisoutput.h"
#include "gridhost/gridjob.h"

#include <QString>

#include <vector>

namespace qgrad {

// `gradient` is the gradient point file's content. Throws GridHostError when
// the absolute point file exists but cannot be read.
GisSurvey ReadGisSurvey(const QString& gradientFile, const std::vector<DataPoint>& gradient);

}  // namespace qgrad
