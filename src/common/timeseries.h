// Linear interpolation in a series sampled at times that mostly rise: sample
// times may repeat, and now and then fall back (a lost second).
#pragma once

#include <cstddef>
#include <vector>

namespace qgrad {

// Where a time falls in the series: the value there is y[lower] + fraction *
// (y[upper] - y[lower]).
struct TimeBracket {
    std::size_t lower = 0;
    std::size_t upper = 0;
    double fraction = 0;

    double Of(const std::vector<double>& y) const { return y[lower] + fraction * (y[upper] - y[lower]); }
};

// Finds brackets for a run of query times. Each search starts where the last
// one ended, so queries that move steadily cost a step each. Times before
// the first sample or after the last are held at that sample.
class TimeSeriesCursor {
public:
    // `times` must outlive the cursor and hold at least one sample.
    explicit TimeSeriesCursor(const std::vector<double>& times) : t_(times), later_(times.size(), kNone) {
        // Samples that share a time add no step: the next later sample closes
        // the interval. A time that falls back closes none.
        for (std::size_t i = t_.size() - 1; i-- > 0;)
            later_[i] = t_[i + 1] > t_[i] ? i + 1 : t_[i + 1] == t_[i] ? later_[i + 1] : kNone;
    }

    TimeBracket Find(double time) {
        const std::size_t last = t_.size() - 1;
        while (j_ < last && t_[j_ + 1] <= time) ++j_;
        while (j_ > 0 && t_[j_] > time) --j_;
        const std::size_t k = later_[j_];
        if (time <= t_[j_] || k == kNone) return {j_, j_, 0};
        return {j_, k, (time - t_[j_]) / (t_[k] - t_[j_])};
    }

private:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    const std::vector<double>& t_;
    std::vector<std::size_t> later_;
    std::size_t j_ = 0;
};

}  // namespace qgrad
