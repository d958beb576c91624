// The program's look: Fusion with a slate-grey palette, defined here once.
#pragma once

#include <QColor>

class QApplication;

namespace qgrad {

struct StyleColors {
    QColor border;      // frames; the bottom of the chart panel
    QColor listBox;     // list and edit backgrounds; the top of the chart panel
    QColor labelFont;   // text of labels, the chart's axis labels and titles
};

// Selects the style for the whole application.
void ApplySlateGrayStyle(QApplication& app);
const StyleColors& SlateGrayColors();

}  // namespace qgrad
