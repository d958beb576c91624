#include "processing/despike.h"

#include "processing/robust.h"
#include "processing/sidebyside.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace qgrad {

std::vector<Replacement> HampelOutliers(const std::vector<double>& values, double k, int halfWidth) {
    if (halfWidth < 1) throw std::invalid_argument("the despike window needs at least one reading on each side");
    const std::size_t n = values.size();
    const std::size_t h = static_cast<std::size_t>(halfWidth);
    const double floor = k * kReadingResolution;
    std::vector<Replacement> found;
    std::vector<double> window;
    window.reserve(2 * h + 1);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t begin = i >= h ? i - h : 0;
        const std::size_t end = std::min(n, i + h + 1);
        const double x = values[i];
        // A reading with no more than half of its neighbours on either side
        // of it is the median of its window: most readings of a smooth
        // stretch, settled without sorting.
        std::size_t below = 0;
        std::size_t above = 0;
        for (std::size_t j = begin; j < end; ++j) {
            below += values[j] < x;
            above += values[j] > x;
        }
        const std::size_t half = (end - begin) / 2;
        if (below <= half && above <= half && (end - begin) % 2 == 1) continue;
        window.assign(values.begin() + static_cast<std::ptrdiff_t>(begin),
                      values.begin() + static_cast<std::ptrdiff_t>(end));
        const double median = MedianOf(window);
        const double deviation = std::abs(x - median);
        if (deviation <= floor) continue;
        for (double& w : window) w = std::abs(w - median);
        const double sigma = kMadToSigma * MedianOf(window);
        if (deviation > k * std::max(sigma, kReadingResolution)) found.push_back({i, median});
    }
    return found;
}

DespikeReport Despike(ArrangedPoints& points, const ChannelPoints& index, const DespikeSettings& settings) {
    DespikeReport report;
    report.settings = settings;
    // One series per channel and table; the two cores take half each.
    constexpr int kSeries = 2 * kChannels;
    std::array<std::vector<Spike>, kSeries> found;
    auto filter = [&](int from, int to) {
        std::vector<double> values;
        for (int s = from; s < to; ++s) {
            const int k = s / 2;
            const PointTable table = s % 2 == 0 ? PointTable::Absolute : PointTable::Gradient;
            const std::vector<std::uint32_t>& ps = index.point[k];
            values.resize(ps.size());
            for (std::size_t i = 0; i < ps.size(); ++i) values[i] = points.value(table, ps[i]);
            for (const Replacement& r : HampelOutliers(values, settings.k, settings.halfWidth)) {
                found[s].push_back({k, table, index.row[k][r.index], values[r.index], r.median});
                points.setValue(table, ps[r.index], r.median);
            }
        }
    };
    RunSideBySide([&] { filter(kSeries / 2, kSeries); }, [&] { filter(0, kSeries / 2); });
    for (const auto& spikes : found) report.spikes.insert(report.spikes.end(), spikes.begin(), spikes.end());
    return report;
}

}  // namespace qgrad
