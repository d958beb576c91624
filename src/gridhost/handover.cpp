#include "gridhost/handover.h"

#include "common/fileio.h"
#include "common/geodesy.h"
#include "common/numtext.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <cmath>
#include <stdexcept>

namespace qgrad {
namespace {

// A positive finite number, or nothing.
std::optional<double> PositiveNumber(std::string_view text) {
    double v = 0;
    if (!TryParseNumber(text, v) || !std::isfinite(v) || !(v > 0)) return std::nullopt;
    return v;
}

std::string Fixed(double v, int decimals) { return FormatFixed(v, decimals, 17); }

std::string Percent(double part, double whole) { return whole > 0 ? Fixed(100 * part / whole, 1) : "0.0"; }

// The page's title: the grid file's name without the host's prefix.
QString TitleOf(const GridJob& job) {
    QString name = QFileInfo(job.gridFile).completeBaseName();
    if (name.startsWith("GPS_DIFF_")) name = name.mid(9);
    return name;
}

QString GriddingLine(const Grid& grid, const Presentation& presentation) {
    const double dx = grid.xSize * grid.MetresAcross(), dy = grid.ySize * grid.MetresUp();
    QString clip;
    switch (presentation.clip.method) {
        case ClipMethod::RobustSpread:
            clip = PageText("median ± %1 sd").arg(QString::fromStdString(FormatGeneral(presentation.clip.a)));
            break;
        case ClipMethod::Symmetric:
            clip = PageText("± %1 nT/m").arg(QString::fromStdString(FormatGeneral(presentation.clip.a)));
            break;
        case ClipMethod::Between:
            clip = PageText("%1 to %2 nT/m")
                       .arg(QString::fromStdString(FormatGeneral(presentation.clip.a)),
                            QString::fromStdString(FormatGeneral(presentation.clip.b)));
            break;
        case ClipMethod::Percentiles: clip = PageText("percentiles"); break;
    }
    return PageText("%1 × %2 nodes, cells %3 × %4 m, kriged; clip %5")
        .arg(grid.cols)
        .arg(grid.rows)
        .arg(QString::fromStdString(Fixed(dx, 2)), QString::fromStdString(Fixed(dy, 2)), clip);
}

// The processing report beside the point file, as one line for the page.
QString ProcessingLine(const GridJob& job) {
    const QString report = ReplaceExtension(job.dataFile, "_processing.txt");
    return QFileInfo::exists(report) ? PageText("as in %1").arg(QFileInfo(report).fileName()) : QString();
}

void NameNearestPoints(TargetPicking& picking, const std::vector<DataPoint>& points, const QString& pointFile,
                       const PointOrigins* origins) {
    if (points.empty() || picking.targets.empty()) return;
    const std::vector<std::size_t> nearest = NearestPoints(points, picking.targets);
    if (origins && origins->PointCount() == points.size()) {
        for (std::size_t i = 0; i < nearest.size(); ++i) picking.targets[i].nearest = origins->Of(nearest[i]);
        return;
    }
    // Read again for the few lines asked: keeping a line a point while the
    // points are read would cost every run what only this one needs.
    const QByteArray bytes = OpenRegularFile(pointFile)->readAll();
    const std::vector<std::size_t> lines =
        PointFileLines(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), nearest);
    const std::string name = LocalBytes(QFileInfo(pointFile).fileName());
    for (std::size_t i = 0; i < nearest.size(); ++i) picking.targets[i].nearest = {name, lines[i]};
}

}  // namespace

TargetOptions ParseTargetThreshold(const std::string& text) {
    TargetOptions o;
    const std::string_view t = text;
    if (t.ends_with("sd")) {
        if (const auto k = PositiveNumber(t.substr(0, t.size() - 2))) {
            o.robustMultiple = *k;
            return o;
        }
    } else if (const auto n = PositiveNumber(t)) {
        o.threshold = *n;
        return o;
    }
    throw std::invalid_argument("not a target threshold: \"" + text + "\" (nT/m, or Ksd)");
}

CoverageOptions ParseCoverageGap(const std::string& text) {
    if (const auto metres = PositiveNumber(text)) return CoverageOptions{.gapMetres = *metres};
    throw std::invalid_argument("not a gap distance: \"" + text + "\" (metres above 0)");
}

Paper ParsePaper(const std::string& text) {
    if (text == "A4" || text == "a4") return Paper::A4;
    if (text == "A3" || text == "a3") return Paper::A3;
    throw std::invalid_argument("not a paper size: \"" + text + "\" (A4 or A3)");
}

std::vector<QString> HandoverPaths(const QString& gridFile, const HandoverOptions& options) {
    std::vector<QString> paths;
    if (options.targets) paths.push_back(ReplaceExtension(gridFile, kTargetListEnding));
    if (options.coverage) paths.push_back(ReplaceExtension(gridFile, "_coverage.txt"));
    if (options.pdf) paths.push_back(ReplaceExtension(gridFile, ".pdf"));
    return paths;
}

std::string CoverageReportText(const Coverage& c, double gapMetres) {
    std::string out = "coverage: ground farther than " + Fixed(gapMetres, 2) + " m from every point, on " +
                      Fixed(c.cell, 3) + " m cells\n";
    out += "block (the points' hull): " + Fixed(c.blockArea, 1) + " m²\n";
    out += "covered: " + Fixed(c.coveredArea, 1) + " m² (" + Percent(c.coveredArea, c.blockArea) + " %)\n";
    out += "uncovered: " + Fixed(c.uncoveredArea, 1) + " m² (" + Percent(c.uncoveredArea, c.blockArea) + " %) in " +
           std::to_string(c.gaps.size()) + " gaps\n";
    if (!c.gaps.empty()) out += "gap\tarea_m2\tlongitude\tlatitude\n";
    for (std::size_t i = 0; i < c.gaps.size(); ++i)
        out += std::to_string(i + 1) + "\t" + Fixed(c.gaps[i].area, 2) + "\t" + Fixed(c.gaps[i].lon, 8) + "\t" +
               Fixed(c.gaps[i].lat, 8) + "\n";
    return out;
}

HandoverFindings FindHandover(const Grid& grid, const std::vector<DataPoint>& points, const HandoverOptions& options,
                              const QString& pointFile, const PointOrigins* origins) {
    HandoverFindings f;
    if (options.targets) {
        f.targets = PickTargets(grid, *options.targets);
        NameNearestPoints(*f.targets, points, pointFile, origins);
    }
    if (options.coverage) f.coverage = FindCoverage(points, *options.coverage);
    return f;
}

PrintSheet PrintSheetFor(const GridJob& job, const Grid& grid, const Presentation& presentation,
                         const std::vector<std::string>& surveys, Paper paper, PageAxes axes) {
    PrintSheet sheet;
    sheet.paper = paper;
    sheet.axes = axes;
    sheet.title = TitleOf(job);
    // The instrument writes each run's file on the day it is walked; a
    // file's date is the nearest thing to the survey's date the files hold.
    // Surveys named without their folder are looked for beside the points.
    const QDir beside = QFileInfo(job.dataFile).dir();
    QDateTime earliest;
    for (const std::string& s : surveys) {
        const QFileInfo file(beside, FromLocalBytes(s));
        sheet.files.push_back(file.fileName());
        if (file.exists() && (!earliest.isValid() || file.lastModified() < earliest)) earliest = file.lastModified();
    }
    if (sheet.files.empty()) sheet.files.push_back(QFileInfo(job.dataFile).fileName());
    if (earliest.isValid()) sheet.date = earliest.toString("yyyy-MM-dd");
    sheet.processing = ProcessingLine(job);
    sheet.gridding = GriddingLine(grid, presentation);
    return sheet;
}

Handover WriteHandover(const GridJob& job, const Grid& grid, const HandoverFindings& findings,
                       const Presentation& presentation, const std::vector<std::string>& surveys,
                       const HandoverOptions& options) {
    Handover h;
    h.files = HandoverPaths(job.gridFile, options);
    auto path = h.files.begin();
    const std::optional<TargetPicking>& picking = findings.targets;
    if (options.targets) {
        OutputFile out(*path++);
        out.Write(TargetsCsv(*picking));
        out.Commit();
        h.summary += std::to_string(picking->targets.size()) + " targets beyond " + Fixed(picking->threshold, 2) +
                     " nT/m from the median " + Fixed(picking->median, 2) + " nT/m\n";
    }
    if (options.coverage) {
        const Coverage& coverage = *findings.coverage;
        OutputFile out(*path++);
        out.Write(CoverageReportText(coverage, options.coverage->gapMetres));
        out.Commit();
        h.summary += Fixed(coverage.uncoveredArea, 1) + " m² (" + Percent(coverage.uncoveredArea, coverage.blockArea) +
                     " %) of the block farther than " + Fixed(options.coverage->gapMetres, 2) + " m from the points, in " +
                     std::to_string(coverage.gaps.size()) + " gaps\n";
    }
    if (options.pdf)
        WritePrintableMap(*path++, grid, presentation, PrintSheetFor(job, grid, presentation, surveys, *options.pdf, options.axes),
                          picking ? &*picking : nullptr);
    return h;
}

}  // namespace qgrad
