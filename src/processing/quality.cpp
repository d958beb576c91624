#include "processing/quality.h"

#include "arrange/arrange.h"
#include "common/robuststats.h"
#include "survey/reader.h"

#include <algorithm>
#include <cmath>

namespace qgrad {
namespace {

struct Fix {
    std::size_t row;
    double x, y;
};

// Each arriving fix in metres, where the arranged table keeps it.
std::vector<Fix> ArrivedFixes(const RowFixes& fixes, const std::vector<std::uint32_t>& arrivals) {
    std::vector<Fix> out;
    if (arrivals.empty()) return out;
    const LocalFrame frame(fixes.lon[arrivals.front()], fixes.lat[arrivals.front()]);
    for (const std::uint32_t r : arrivals) out.push_back({r, frame.East(fixes.lon[r]), frame.North(fixes.lat[r])});
    return out;
}

void AddFast(std::vector<FastStretch>& out, const Fix& a, const Fix& b, double spacing,
             const std::vector<double>& seconds) {
    if (!out.empty() && out.back().rows.lastRow == a.row) {
        out.back().rows.lastRow = b.row;
        out.back().spacing = std::max(out.back().spacing, spacing);
    } else {
        out.push_back({{a.row, b.row, 0}, spacing});
    }
    RowStretch& rows = out.back().rows;
    rows.seconds = seconds[rows.lastRow] - seconds[rows.firstRow];
}

void CheckTrack(const RowFixes& fixes, const std::vector<std::uint32_t>& arrivals, QualityReport& report) {
    const std::vector<double>& seconds = fixes.seconds;
    const std::vector<Fix> track = ArrivedFixes(fixes, arrivals);
    for (std::size_t i = 1; i < track.size(); ++i) {
        const Fix &a = track[i - 1], &b = track[i];
        // The readings between two fixes lie evenly along the way between them.
        const double spacing = std::hypot(b.x - a.x, b.y - a.y) / static_cast<double>(b.row - a.row);
        if (spacing > report.settings.cellMetres) AddFast(report.tooFast, a, b, spacing, seconds);
        const double held = seconds[b.row] - seconds[a.row];
        if (held > report.settings.gpsGapSeconds) report.gpsGaps.push_back({a.row, b.row - 1, held});
    }
}

ChannelQuality CheckChannel(int k, const std::vector<std::uint32_t>& rows, const std::vector<double>& values,
                            const std::vector<double>& seconds, const QualityReport& report, bool countSpikes) {
    ChannelQuality c;
    c.channel = k;
    c.readings = values.size();
    const double limit = report.settings.flatSeconds;
    const std::size_t last = seconds.size() - 1;
    // Runs of rows without a reading.
    std::size_t from = 0;
    for (std::size_t i = 0; i <= rows.size(); ++i) {
        const std::size_t to = i < rows.size() ? rows[i] : last + 1;
        if (to > from) {
            const double lasted = seconds[std::min(to, last)] - seconds[from];
            if (lasted > limit) c.flat.push_back({{from, to - 1, lasted}, true, 0});
        }
        from = to + 1;
    }
    // Runs of one value, through any rows without a reading between.
    std::vector<bool> inFlat(values.size(), false);
    for (std::size_t i = 0; i < values.size();) {
        std::size_t j = i + 1;
        while (j < values.size() && values[j] == values[i]) ++j;
        const std::size_t end = j < values.size() ? rows[j] : last;
        const double lasted = seconds[end] - seconds[rows[i]];
        if (j - i > 1 && lasted > limit) {
            c.flat.push_back({{rows[i], j < values.size() ? end - 1 : end, lasted}, false, values[i]});
            std::fill(inFlat.begin() + static_cast<std::ptrdiff_t>(i), inFlat.begin() + static_cast<std::ptrdiff_t>(j), true);
        }
        i = j;
    }
    std::sort(c.flat.begin(), c.flat.end(),
              [](const FlatStretch& a, const FlatStretch& b) { return a.rows.firstRow < b.rows.firstRow; });
    std::vector<double> steps;
    steps.reserve(values.size());
    for (std::size_t i = 1; i < values.size(); ++i)
        if (!inFlat[i - 1] || !inFlat[i]) steps.push_back(values[i] - values[i - 1]);
    if (!steps.empty()) c.noise = MedianAbsoluteDeviation(steps, MedianOf(steps));
    if (countSpikes)
        for (const Replacement& r : HampelOutliers(values, report.spikeRule.k, report.spikeRule.halfWidth))
            c.spikeRows.push_back(rows[r.index]);
    return c;
}

}  // namespace

std::vector<std::uint32_t> FixArrivals(const SurveyTable& table) {
    std::vector<std::uint32_t> out;
    std::string_view lat, lon;
    for (std::size_t row = kFirstDataRow; row < table.rowCount(); ++row) {
        const std::string_view la = table.cell(kLatitude, row), lo = table.cell(kLongitude, row);
        if (la == lat && lo == lon) continue;
        lat = la;
        lon = lo;
        // The instrument writes zeros until the GPS has a fix.
        if (CellNumber(table, kLatitude, row) != 0 || CellNumber(table, kLongitude, row) != 0)
            out.push_back(static_cast<std::uint32_t>(row - kFirstDataRow));
    }
    return out;
}

QualityReport CheckQuality(const SurveyTable& arranged, const ChannelPoints& index, const PerChannel& gradients,
                           const std::vector<std::uint32_t>& fixArrivals, const QualitySettings& settings,
                           bool despikeRuns) {
    QualityReport report;
    report.settings = settings;
    report.despiked = despikeRuns;
    const RowFixes fixes = ReadRowFixes(arranged);
    if (fixes.seconds.empty()) return report;
    const std::vector<double>& seconds = fixes.seconds;
    for (int k = 0; k < kChannels; ++k)
        if (!index.row[k].empty())
            report.channels.push_back(CheckChannel(k, index.row[k], gradients[k], seconds, report, !despikeRuns));
    CheckTrack(fixes, fixArrivals, report);
    return report;
}

void TakeDespikedSpikes(const DespikeReport& despike, QualityReport& quality) {
    for (ChannelQuality& c : quality.channels)
        for (const Spike& s : despike.spikes)
            if (s.channel == c.channel && s.table == PointTable::Gradient) c.spikeRows.push_back(s.row);
}

}  // namespace qgrad
