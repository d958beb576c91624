#include "processing/processing.h"

#include "common/numtext.h"

namespace qgrad {
namespace {

std::string Number(double v, int decimals) { return FormatFixed(v, decimals, 15); }

// Channels as the operator counts them, from 1.
std::string Channel(int k) { return "channel " + std::to_string(k + 1); }

std::string Line(std::size_t dataRow) { return std::to_string(FileLineOfRow(dataRow + kFirstDataRow)); }

void LagText(const LagReport& lag, std::string& out) {
    out += "lag: ";
    if (!lag.applied) {
        out += "not applied: the times do not advance, or the arrangement stopped early or made no point\n";
        return;
    }
    if (!lag.estimate) {
        out += Number(lag.seconds, 2) + " s, as set\n";
        return;
    }
    const LagEstimate& e = *lag.estimate;
    const std::string pairs = std::to_string(e.pairs) + (e.pairs == 1 ? " pair" : " pairs") + " of opposite sensor lines";
    if (e.pairs == 0)
        out += "no reliable estimate (no pairs of opposite sensor lines to compare), 0 s used\n";
    else if (!e.reliable)
        out += "no reliable estimate (best correlation " + Number(e.correlation, 2) + " at " + Number(e.best, 2) +
               " s, prominence " + Number(e.prominence, 2) + ", over " + pairs + "), 0 s used\n";
    else
        out += Number(lag.seconds, 2) + " s, estimated (correlation " + Number(e.correlation, 2) + ", prominence " +
               Number(e.prominence, 2) + ", over " + pairs + ")\n";
}

void DespikeText(const DespikeReport& d, std::string& out) {
    out += "despike: " + std::to_string(d.spikes.size()) + (d.spikes.size() == 1 ? " spike" : " spikes") + " (K " +
           Number(d.settings.k, 2) + ", half-width " + std::to_string(d.settings.halfWidth) + ")\n";
    for (const Spike& s : d.spikes)
        out += "  " + Channel(s.channel) + (s.table == PointTable::Absolute ? " field" : " gradient") + ", line " +
               Line(s.row) + ": " + Number(s.reading, 1) + " -> " + Number(s.replacement, 1) + "\n";
}

void DestripeText(const DestripeReport& d, std::string& out) {
    const DestripeSettings& s = d.settings;
    out += std::string("destripe: ") + (s.level == LevelEstimate::Mean ? "mean" : "median") +
           " of the readings between the " + Number(s.lowPercentile, 0) + "th and " + Number(s.highPercentile, 0) +
           "th percentiles, " + (s.grouping == LevelGrouping::Traverse ? "per traverse" : "per walking direction") +
           "; turns over " + Number(s.turns.degrees, 0) + " degrees in " + Number(s.turns.smoothingMetres, 1) +
           " to " + Number(s.turns.longestMetres, 1) + " m; " + std::to_string(d.levels.size()) + " traverses\n";
    for (const TraverseLevel& t : d.levels)
        out += "  " + Channel(t.channel) + " traverse " + std::to_string(t.traverse) + ", lines " + Line(t.firstRow) +
               "-" + Line(t.lastRow) + ", bearing " + Number(t.bearing, 0) + " degrees, " +
               std::to_string(t.readings) + " readings: field " + Number(t.field, 2) + " nT, gradient " +
               Number(t.gradient, 2) + " nT/m taken off\n";
}

std::string Lines(const RowStretch& s) { return "lines " + Line(s.firstRow) + "-" + Line(s.lastRow); }

std::string Count(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

void ChannelText(const ChannelQuality& c, std::string& out) {
    out += "  " + Channel(c.channel) + ": " + Count(c.readings, "reading", "readings") + ", noise " +
           Number(c.noise, 3) + " nT/m, " + Count(c.spikeRows.size(), "spike", "spikes");
    // A spike spans a few readings: neighbouring lines are written as one
    // range, which keeps a long survey's list readable.
    for (std::size_t i = 0; i < c.spikeRows.size();) {
        std::size_t last = i;
        while (last + 1 < c.spikeRows.size() && c.spikeRows[last + 1] == c.spikeRows[last] + 1) ++last;
        out += (i == 0 ? " at lines " : ", ") + Line(c.spikeRows[i]);
        if (last > i) out += "-" + Line(c.spikeRows[last]);
        i = last + 1;
    }
    out += "\n";
    for (const FlatStretch& f : c.flat)
        out += "    " + Lines(f.rows) + ": " + (f.empty ? std::string("nothing") : "flat at " + Number(f.value, 2) + " nT/m") +
               " for " + Number(f.rows.seconds, 1) + " s\n";
}

void QualityText(const QualityReport& q, std::string& out) {
    const QualitySettings& s = q.settings;
    out += "channels: dead or flat where one value or nothing lasts over " + Number(s.flatSeconds, 1) +
           " s; noise as the median absolute deviation of successive gradient differences; spikes " +
           (q.despiked ? std::string("as despiked") : "by the despike rule (K " + Number(q.spikeRule.k, 2) +
                                                            ", half-width " + std::to_string(q.spikeRule.halfWidth) +
                                                            "), readings left as they were") +
           "\n";
    for (const ChannelQuality& c : q.channels) ChannelText(c, out);
    out += "too fast for " + Number(s.cellMetres, 2) + " m cells (readings further apart along the track): " +
           Count(q.tooFast.size(), "stretch", "stretches") + "\n";
    for (const FastStretch& f : q.tooFast)
        out += "  " + Lines(f.rows) + ": readings up to " + Number(f.spacing, 2) + " m apart over " +
               Number(f.rows.seconds, 1) + " s\n";
    out += "GPS gaps over " + Number(s.gpsGapSeconds, 1) + " s without a new fix: " + Count(q.gpsGaps.size(), "gap", "gaps") +
           "\n";
    for (const RowStretch& g : q.gpsGaps) out += "  " + Lines(g) + ": " + Number(g.seconds, 1) + " s\n";
}

}  // namespace

std::string ProcessingReportText(const ProcessingReport& report, const std::string& title) {
    std::string out = "Processing of " + title + "\n";
    if (report.trueOffsets)
        out += *report.trueOffsets ? "sensors placed at their true offsets\n"
                                   : "true offsets not applied: the arrangement stopped early or made no point, or a position is out of range\n";
    if (report.lag) LagText(*report.lag, out);
    if (report.despike) DespikeText(*report.despike, out);
    if (report.destripe) DestripeText(*report.destripe, out);
    if (!report.trueOffsets && !report.lag && !report.despike && !report.destripe) out += "no stage on\n";
    if (report.quality) QualityText(*report.quality, out);
    return out;
}

std::string ProcessingReportHeadings(std::string_view report) {
    std::string out;
    while (!report.empty()) {
        const std::size_t end = report.find('\n');
        const std::string_view line = report.substr(0, end == std::string_view::npos ? report.size() : end + 1);
        if (line.front() != ' ') out += line;
        report.remove_prefix(line.size());
    }
    return out;
}

}  // namespace qgrad
