#include "processing/despike.h"

#include "common/robuststats.h"
#include "common/numtext.h"
#include "common/sidebyside.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
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

// The surroundings a reading is judged among when spikes crowd its window:
// this many windows' reach on each side.
constexpr std::size_t kSurroundings = 3;

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
    window.reserve(2 * kSurroundings * h + 1);
    // The median of the readings within `reach` of reading i, and their
    // robust spread (at least `least`).
    struct Centre {
        double median, spread;
    };
    auto centre = [&](std::size_t i, std::size_t reach, bool median5) {
        const std::size_t begin = i >= reach ? i - reach : 0;
        const std::size_t end = std::min(n, i + reach + 1);
        window.assign(values.begin() + static_cast<std::ptrdiff_t>(begin),
                      values.begin() + static_cast<std::ptrdiff_t>(end));
        const double median = median5 ? MedianOfFive(values.data() + begin) : MedianOf(window);
        return Centre{median, std::max(kMadToSigma * MedianAbsoluteDeviation(window, median), least)};
    };
    auto judge = [&](std::size_t i) {
        const bool five = h == 2 && i >= h && i + h < n;
        // Most readings lie close to their median: no need for the spread.
        if (five && std::abs(values[i] - MedianOfFive(values.data() + i - h)) <= floor) return;
        const Centre near = centre(i, h, five);
        if (std::abs(values[i] - near.median) <= k * near.spread) return;
        // Where spikes crowd the window its median is a spike itself: the
        // reading is then judged among its wider surroundings, and only
        // ever takes a value that belongs there.
        const Centre wide = centre(i, kSurroundings * h, false);
        if (std::abs(near.median - wide.median) <= k * wide.spread) found.push_back({i, near.median});
        else if (std::abs(values[i] - wide.median) > k * wide.spread) found.push_back({i, wide.median});
    };
    // A window's median lies between its least and its greatest reading, so
    // a reading within `floor` of both is within `floor` of the median: no
    // spike, and no median to find. Blocks of a fixed length let the
    // compiler screen several readings at once.
    constexpr std::size_t kBlock = 64;
    std::size_t i = 0;
    if (n >= kBlock + 2 * h) {
        for (; i < h; ++i) judge(i);
        double low[kBlock], high[kBlock];
        for (; i + kBlock + h <= n; i += kBlock) {
            // Reading i + j and its window, v[j] to v[j + 2h].
            const double* v = values.data() + i - h;
            std::copy(v, v + kBlock, low);
            std::copy(v, v + kBlock, high);
            for (std::size_t d = 1; d <= 2 * h; ++d)
                for (std::size_t j = 0; j < kBlock; ++j) {
                    low[j] = std::min(low[j], v[j + d]);
                    high[j] = std::max(high[j], v[j + d]);
                }
            bool suspect[kBlock];
            bool any = false;
            for (std::size_t j = 0; j < kBlock; ++j) {
                suspect[j] = (v[j + h] - low[j] > floor) | (high[j] - v[j + h] > floor);
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

DespikeValueError::DespikeValueError(std::string_view given)
    : std::invalid_argument("--despike takes K or K,HALFWIDTH (K above 0, HALFWIDTH a whole number from 1), not \"" +
                            std::string(given) + "\""),
      text(given) {}

DespikeSettings ParseDespikeValue(std::string_view text) {
    DespikeSettings settings;
    settings.on = true;
    const std::size_t comma = text.find(',');
    std::int32_t halfWidth = settings.halfWidth;
    if (!TryParseNumber(text.substr(0, comma), settings.k) || !(settings.k > 0) ||
        (comma != std::string_view::npos && !TryParseInt32(text.substr(comma + 1), halfWidth)) || halfWidth < 1)
        throw DespikeValueError(text);
    settings.halfWidth = halfWidth;
    return settings;
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
