#include "processing/despike.h"

#include "processing/robust.h"
#include "common/sidebyside.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <stdexcept>

namespace qgrad {

namespace {

// The median of five readings by a fixed network of compare-exchanges:
// no branches to mispredict on noisy readings.
double MedianOfFive(const double* v) {
    double a = v[0], b = v[1], c = v[2], d = v[3], e = v[4];
    auto order = [](double& x, double& y) {
        const double low = std::min(x, y);
        y = std::max(x, y);
        x = low;
    };
    order(a, b);
    order(d, e);
    order(c, e);
    order(c, d);
    order(a, d);
    order(b, e);
    order(b, d);
    order(b, c);
    return c;
}

}  // namespace

std::vector<Replacement> HampelOutliers(const std::vector<double>& values, double k, int halfWidth) {
    if (halfWidth < 1) throw std::invalid_argument("the despike window needs at least one reading on each side");
    const std::size_t n = values.size();
    const std::size_t h = static_cast<std::size_t>(halfWidth);
    // The spread of the series' noise from reading to reading: a window of a
    // few readings now and then has almost none by chance, and noise alone
    // must not count as spikes there.
    // Steps spread evenly along a long series tell its noise as well as all
    // of them do.
    constexpr std::size_t kNoiseSteps = std::size_t{1} << 16;
    const std::size_t stride = std::max<std::size_t>(1, n / kNoiseSteps);
    std::vector<double> steps;
    steps.reserve(n / stride + 1);
    for (std::size_t i = 1; i < n; i += stride) steps.push_back(std::abs(values[i] - values[i - 1]));
    const double noise = steps.empty() ? 0 : kMadToSigma * MedianOf(steps) / std::numbers::sqrt2;
    const double least = std::max(noise, kReadingResolution);
    const double floor = k * least;
    std::vector<Replacement> found;
    std::vector<double> window;
    window.reserve(2 * h + 1);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t begin = i >= h ? i - h : 0;
        const std::size_t end = std::min(n, i + h + 1);
        const bool five = h == 2 && end - begin == 5;
        auto fill = [&] {
            window.assign(values.begin() + static_cast<std::ptrdiff_t>(begin),
                          values.begin() + static_cast<std::ptrdiff_t>(end));
        };
        double median = 0;
        if (five) {
            median = MedianOfFive(values.data() + begin);
        } else {
            fill();
            median = MedianOf(window);
        }
        // Most readings lie close to their median: no need for the spread.
        const double deviation = std::abs(values[i] - median);
        if (deviation <= floor) continue;
        if (five) fill();
        for (double& w : window) w = std::abs(w - median);
        const double sigma = kMadToSigma * MedianOf(window);
        if (deviation > k * std::max(sigma, least)) found.push_back({i, median});
    }
    return found;
}

DespikeReport Despike(ArrangedPoints& points, const ChannelPoints& index, const DespikeSettings& settings) {
    DespikeReport report;
    report.settings = settings;
    // One series per channel, table by table; the two cores take half the
    // channels each.
    std::array<std::vector<Spike>, 2 * kChannels> found;
    PerChannel series;
    for (int t = 0; t < 2; ++t) {
        const PointTable table = kPointTables[t];
        GatherByChannel(index, [&](std::size_t p) { return points.value(table, p); }, series);
        auto filter = [&](int from, int to) {
            for (int k = from; k < to; ++k)
                for (const Replacement& r : HampelOutliers(series[k], settings.k, settings.halfWidth))
                    found[2 * k + t].push_back({k, table, index.row[k][r.index], series[k][r.index], r.median});
        };
        RunSideBySide([&] { filter(kChannels / 2, kChannels); }, [&] { filter(0, kChannels / 2); });
    }
    for (const auto& spikes : found)
        for (const Spike& s : spikes) {
            const std::vector<std::uint32_t>& rows = index.row[s.channel];
            const auto at = std::lower_bound(rows.begin(), rows.end(), static_cast<std::uint32_t>(s.row));
            points.setValue(s.table, index.point[s.channel][static_cast<std::size_t>(at - rows.begin())],
                            s.replacement);
            report.spikes.push_back(s);
        }
    return report;
}

}  // namespace qgrad
