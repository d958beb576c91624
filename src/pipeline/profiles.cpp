#include "pipeline/profiles.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qgrad {

bool ProfileSeries::AsTenths(double v, std::int32_t& tenths) {
    const double scaled = v * 10;
    if (!(std::fabs(scaled) < 2147483647.0)) return false;
    // The nearest whole number, whichever way a half goes: the check below
    // decides whether it is the value's.
    tenths = static_cast<std::int32_t>(scaled + (scaled < 0 ? -0.5 : 0.5));
    return static_cast<double>(tenths) / 10.0 == v;
}

void ProfileSeries::KeepExactly() {
    exact_.reserve(std::max(tenths_.capacity(), tenths_.size() + 1));
    for (const std::int32_t t : tenths_) exact_.push_back(static_cast<double>(t) / 10.0);
    tenths_ = {};
}

void ProfileSeries::Append(std::size_t row, double gradient) {
    if (!gapped_ && row != size()) {
        // The first row without a point: from here on each point says its row.
        gapped_ = true;
        rows_.resize(size());
        for (std::size_t i = 0; i < rows_.size(); ++i) rows_[i] = static_cast<std::uint32_t>(i);
    }
    if (gapped_) rows_.push_back(static_cast<std::uint32_t>(row));
    std::int32_t tenths = 0;
    if (exact_.empty() && AsTenths(gradient, tenths)) {
        tenths_.push_back(tenths);
        return;
    }
    if (exact_.empty()) KeepExactly();
    exact_.push_back(gradient);
}

void ProfileSeries::Fit() {
    tenths_.shrink_to_fit();
    exact_.shrink_to_fit();
    rows_.shrink_to_fit();
}

void SurveyProfiles::clear() { *this = {}; }

void SurveyProfiles::MeasureSpans(int k) {
    const ProfileSeries& series = channel[k];
    ValueSpan distances;
    ValueSpan gradients;
    bool rising = true;
    double previous = -std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < series.size(); ++i) {
        const double x = DistanceOf(k, i);
        rising = rising && x >= previous;
        previous = x;
        distances.Take(x);
        gradients.Take(series.Gradient(i));
    }
    distanceSpan[k] = distances;
    gradientSpan[k] = gradients;
    ascending[k] = rising;
}

void SurveyProfiles::MeasureSpans() {
    for (int k = 0; k < kChannels; ++k) MeasureSpans(k);
}

namespace {

constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();

struct ColumnPoints {
    std::size_t first = kNone, last = kNone, lowest = kNone, highest = kNone;
};

}  // namespace

void DrawnPoints(const SurveyProfiles& profiles, int k, double lower, double upper, int columns,
                 std::vector<DrawnPoint>& out) {
    out.clear();
    const ProfileSeries& series = profiles.channel[k];
    if (series.size() == 0) return;
    columns = std::max(columns, 1);
    const double scale = upper > lower ? columns / (upper - lower) : 0;
    auto x = [&](std::size_t i) { return profiles.DistanceOf(k, i); };

    // Points outside [lower, upper] matter only as the nearest on each side;
    // along rising distances they are found by halving.
    std::size_t from = 0;
    std::size_t to = series.size();
    if (profiles.ascending[k]) {
        std::size_t lo = 0, hi = series.size();
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            (x(mid) < lower ? lo = mid + 1 : hi = mid);
        }
        from = lo;
        hi = series.size();
        while (lo < hi) {
            const std::size_t mid = lo + (hi - lo) / 2;
            (x(mid) <= upper ? lo = mid + 1 : hi = mid);
        }
        to = lo;
    }
    std::size_t before = from > 0 && profiles.ascending[k] ? from - 1 : kNone;
    std::size_t after = to < series.size() && profiles.ascending[k] ? to : kNone;

    std::vector<ColumnPoints> cells(static_cast<std::size_t>(columns));
    for (std::size_t i = from; i < to; ++i) {
        const double xi = x(i);
        if (xi < lower) {
            if (before == kNone || xi >= x(before)) before = i;
            continue;
        }
        if (xi > upper) {
            if (after == kNone || xi < x(after)) after = i;
            continue;
        }
        const auto c = std::min(static_cast<std::size_t>((xi - lower) * scale), cells.size() - 1);
        ColumnPoints& cell = cells[c];
        const double y = series.Gradient(i);
        if (cell.first == kNone) {
            cell.first = cell.lowest = cell.highest = i;
        } else {
            if (y < series.Gradient(cell.lowest)) cell.lowest = i;
            if (y > series.Gradient(cell.highest)) cell.highest = i;
        }
        cell.last = i;
    }

    auto add = [&](std::size_t i) { out.push_back({x(i), series.Gradient(i), i}); };
    if (before != kNone) add(before);
    for (const ColumnPoints& cell : cells) {
        if (cell.first == kNone) continue;
        std::size_t shaping[] = {cell.first, cell.lowest, cell.highest, cell.last};
        std::sort(std::begin(shaping), std::end(shaping));
        for (std::size_t j = 0; j < std::size(shaping); ++j)
            if (j == 0 || shaping[j] != shaping[j - 1]) add(shaping[j]);
    }
    if (after != kNone) add(after);
    if (!profiles.ascending[k])
        std::stable_sort(out.begin(), out.end(),
                         [](const DrawnPoint& a, const DrawnPoint& b) { return a.distance < b.distance; });
}

}  // namespace qgrad
