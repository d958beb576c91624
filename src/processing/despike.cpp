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
    auto judge = [&](std::size_t i) {
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
        if (deviation <= floor) return;
        if (five) fill();
        for (double& w : window) w = std::abs(w - median);
        const double sigma = kMadToSigma * MedianOf(window);
        if (deviation > k * std::max(sigma, least)) found.push_back({i, median});
    };
    // A window's median lies between its least and its greatest reading, so
    // a reading within `floor` of both is within `floor` of the median: no
    // spike, and no median to find. Blocks of a fixed length let the
    // compiler screen several readings at once.
    constexpr std::size_t kBlock = 64;
    std::size_t i = 0;
    if (h == 2 && n >= kBlock + 2 * h) {
        for (; i < h; ++i) judge(i);
        for (; i + kBlock + h <= n; i += kBlock) {
            // Reading i + j and its window, v[j] to v[j + 4].
            const double* v = values.data() + i - h;
            bool suspect[kBlock];
            bool any = false;
            for (std::size_t j = 0; j < kBlock; ++j) {
                const double low =
                    std::min(std::min(std::min(v[j], v[j + 1]), std::min(v[j + 3], v[j + 4])), v[j + 2]);
                const double high =
                    std::max(std::max(std::max(v[j], v[j + 1]), std::max(v[j + 3], v[j + 4])), v[j + 2]);
                suspect[j] = (v[j + 2] - low > floor) | (high - v[j + 2] > floor);
                any |= suspect[j];
            }
            if (!any) continue;
            for (std::size_t j = 0; j < kBlock; ++j)
                if (suspect[j]) judge(i + j);
        }
    }
    for (; i < n; ++i) judge(i);
    return found;
}

void DespikeReadings(PerChannel& readings, PointTable table, const ChannelPoints& index, DespikeReport& report) {
    // The two cores take half the channels each.
    std::array<std::vector<Spike>, kChannels> found;
    auto filter = [&](int from, int to) {
        for (int k = from; k < to; ++k) {
            std::vector<double>& series = readings[k];
            const std::vector<Replacement> replaced =
                HampelOutliers(series, report.settings.k, report.settings.halfWidth);
            for (const Replacement& r : replaced)
                found[k].push_back({k, table, index.row[k][r.index], series[r.index], r.median});
            // Every reading was judged among the readings as given.
            for (const Replacement& r : replaced) series[r.index] = r.median;
        }
    };
    RunSideBySide([&] { filter(kChannels / 2, kChannels); }, [&] { filter(0, kChannels / 2); });
    for (const auto& spikes : found) report.spikes.insert(report.spikes.end(), spikes.begin(), spikes.end());
}

void OrderSpikes(DespikeReport& report) {
    std::stable_sort(report.spikes.begin(), report.spikes.end(), [](const Spike& a, const Spike& b) {
        return a.channel != b.channel ? a.channel < b.channel
                                      : a.table == PointTable::Absolute && b.table == PointTable::Gradient;
    });
}

}  // namespace qgrad
