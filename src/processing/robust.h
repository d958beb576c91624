// Order statistics the stages share.
#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

namespace qgrad {

// The median of `v` (the mean of the two middle readings for an even count),
// which it reorders. `v` must not be empty.
inline double MedianOf(std::vector<double>& v) {
    const auto mid = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
    std::nth_element(v.begin(), mid, v.end());
    if (v.size() % 2 == 1) return *mid;
    return (*std::max_element(v.begin(), mid) + *mid) / 2;
}

}  // namespace qgrad
