// Table models over the survey table and the arranged point tables: the views
// read the cells on demand, nothing is copied per cell.
#pragma once

#include "arrange/arrangedpoints.h"
#include "gridhost/targets.h"
#include "survey/surveytable.h"

#include <QAbstractTableModel>

#include <vector>

namespace qgrad {

// Rows [firstRow, firstRow + rowLimit) of the survey table, never fewer than
// `minRows` (empty cells pad a short table, as a fresh grid shows).
class SurveyTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    SurveyTableModel(const SurveyTable& table, std::size_t firstRow, std::size_t rowLimit, int minRows,
                     QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    // No heading texts: the table's own heading rows name the columns.
    QVariant headerData(int, Qt::Orientation, int) const override { return {}; }
    // Call around every change of the table.
    void BeginUpdate() { beginResetModel(); }
    void EndUpdate() { endResetModel(); }

private:
    const SurveyTable& table_;
    std::size_t firstRow_;
    std::size_t rowLimit_;
    int minRows_;
};

class PointTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    PointTableModel(const ArrangedPoints& points, PointTable kind, QObject* parent = nullptr);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    void BeginUpdate() { beginResetModel(); }
    void EndUpdate() { endResetModel(); }
    // Rows are given only while a view of them is on show: a view keeps an
    // entry in its header for every row, hundreds of megabytes for the twelve
    // million points of a large survey, even while it is hidden.
    void SetOnShow(bool onShow);

private:
    const ArrangedPoints& points_;
    PointTable kind_;
    bool onShow_ = false;
};

// The target list beside the map: a row a target, strongest first.
class TargetTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Number, Amplitude, Depth, SurveyFile, Line, ColumnCount };
    explicit TargetTableModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void SetTargets(std::vector<Target> targets);
    const std::vector<Target>& targets() const { return targets_; }

private:
    std::vector<Target> targets_;
};

}  // namespace qgrad
