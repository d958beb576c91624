// What a surveyor hands over beside the map, made from a grid run: the
// target list, the coverage report and the printable page, each beside the
// grid file with its name (NAME_targets.csv, NAME_coverage.txt, NAME.pdf).
#pragma once

#include "gridhost/coverage.h"
#include "gridhost/gridjob.h"
#include "gridhost/printmap.h"
#include "gridhost/targets.h"

#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace qgrad {

struct HandoverOptions {
    std::optional<TargetOptions> targets;
    std::optional<CoverageOptions> coverage;
    std::optional<Paper> pdf;
    // The sides of the printed page (NAME.pdf and the printable picture).
    PageAxes axes = PageAxes::Metres;

    bool Any() const { return targets || coverage || pdf; }
};

// The option words: "Ksd" (robust standard deviations) or nT/m for the
// targets' threshold, metres for the coverage's gap, "A4" or "A3" for the
// page. Throw std::invalid_argument naming the text.
TargetOptions ParseTargetThreshold(const std::string& text);
CoverageOptions ParseCoverageGap(const std::string& text);
Paper ParsePaper(const std::string& text);

// The files `options` asks for beside `gridFile`, in the order targets,
// coverage, page.
std::vector<QString> HandoverPaths(const QString& gridFile, const HandoverOptions& options);

// What the grid and its points show, for the handover's files and the GIS
// outputs alike: each only where asked for.
struct HandoverFindings {
    std::optional<TargetPicking> targets;
    std::optional<Coverage> coverage;
};

// Each target names the survey file and data line of its nearest point from
// `origins`, the session's; without them (or when they no longer count the
// points), the point file and its line.
HandoverFindings FindHandover(const Grid& grid, const std::vector<DataPoint>& points, const HandoverOptions& options,
                              const QString& pointFile, const PointOrigins* origins = nullptr);

struct Handover {
    std::vector<QString> files;  // in HandoverPaths' order
    std::string summary;         // a line each for the person: targets found, ground left uncovered
};

// The findings and the page, each written whole or not at all; `surveys`
// names the survey files on the page. Throws FileError.
Handover WriteHandover(const GridJob& job, const Grid& grid, const HandoverFindings& findings,
                       const Presentation& presentation, const std::vector<std::string>& surveys,
                       const HandoverOptions& options);

// What the printed page says of the run: its title (the grid file's name),
// the survey files and the date of the earliest of them, the processing and
// the grid's cell and clip.
PrintSheet PrintSheetFor(const GridJob& job, const Grid& grid, const Presentation& presentation,
                         const std::vector<std::string>& surveys, Paper paper, PageAxes axes);

// The coverage report's text, LF line ends.
std::string CoverageReportText(const Coverage& coverage, double gapMetres);

}  // namespace qgrad
