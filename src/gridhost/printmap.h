// The map as it goes into a report: one landscape page with the gridded
// gradient at a true scale, axes in metres, a scale bar, a north arrow, the
// colour scale with its unit, a title block saying what was surveyed and
// how it was processed and gridded, and the targets when they were picked.
#pragma once

#include "gridhost/kriging.h"
#include "gridhost/presentation.h"
#include "gridhost/targets.h"

#include <QImage>
#include <QString>

#include <string>
#include <vector>

namespace qgrad {

enum class Paper { A4, A3 };

// What the map's sides are measured in: metres (eastings and northings on a
// metric grid, else from the south-west corner), or degrees of longitude and
// latitude.
enum class PageAxes { Metres, Degrees };

struct PrintSheet {
    Paper paper = Paper::A4;
    PageAxes axes = PageAxes::Metres;
    QString title;       // the site or the combined name
    QString date;        // of the survey, as the files give it
    std::vector<QString> files;
    QString processing;  // what the processing did, one line
    QString gridding;    // the grid's cell and clip, one line
};

// The page's bytes (PDF). `targets` may be null.
std::string PrintableMapPdf(const Grid& grid, const Presentation& presentation, const PrintSheet& sheet,
                            const TargetPicking* targets);

// The same page as a picture of the paper's size at 150 dots an inch,
// landscape, on white: what the map picture becomes when asked to be
// printable.
QImage PrintableMapPicture(const Grid& grid, const Presentation& presentation, const PrintSheet& sheet,
                           const TargetPicking* targets);

// Written whole or not at all. Throws FileError.
void WritePrintableMap(const QString& path, const Grid& grid, const Presentation& presentation,
                       const PrintSheet& sheet, const TargetPicking* targets);

// A text of the printed page in the interface language.
QString PageText(const char* english);

// A length for a scale bar or an axis step: 1, 2 or 5 times a power of ten,
// the largest not over `most`.
double NiceLength(double most);

}  // namespace qgrad
