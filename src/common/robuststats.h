// Order statistics that resist outliers, shared by the processing and the
// picture's colour range.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace qgrad {

// Robust standard deviations per median absolute deviation, for normally
// distributed readings.
inline constexpr double kMadToSigma = 1.4826;

// The median of `v` (the mean of the two middle readings for an even count),
// which it reorders. `v` must not be empty.
inline double MedianOf(std::vector<double>& v) {
    const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    if (v.size() % 2 == 1) return *mid;
    return (*std::max_element(v.begin(), mid) + *mid) / 2;
}

// The median absolute deviation of `v` from `median`, which replaces the
// readings by their deviations. `v` must not be empty.
inline double MedianAbsoluteDeviation(std::vector<double>& v, double median) {
    for (double& x : v) x = x >= median ? x - median : median - x;
    return MedianOf(v);
}

}  // namespace qgrad
