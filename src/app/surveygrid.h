// The survey table's view: 28 columns of 70 by 20 pixel cells on #FFFFCA,
// the three heading rows frozen above the scrolling sample rows, whole-row
// selection. Columns widen by dragging their edge in the thin ruler above
// the headings, or to their widest text by double-clicking it; a cell's
// whole text is its tooltip.
#pragma once

#include "survey/surveytable.h"

#include <QWidget>

class QTableView;

namespace qgrad {

class SurveyTableModel;

class SurveyGrid : public QWidget {
    Q_OBJECT
public:
    SurveyGrid(const SurveyTable& table, QWidget* parent = nullptr);
    // Call around every change of the table.
    void BeginUpdate();
    void EndUpdate();
    QTableView* headingView() const { return headings_; }
    QTableView* sampleView() const { return samples_; }
    SurveyTableModel* headingModel() const { return headingModel_; }
    SurveyTableModel* sampleModel() const { return sampleModel_; }
    // Widens a column to the widest text of the headings and the rows on show.
    void FitColumn(int column);

signals:
    // A sample row (0 = the first data row) was chosen, by the mouse or the keys.
    void sampleRowChosen(int row);

private:
    QTableView* headings_;
    QTableView* samples_;
    SurveyTableModel* headingModel_;
    SurveyTableModel* sampleModel_;
};

}  // namespace qgrad
