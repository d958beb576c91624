#include "app/tablemodels.h"

#include "gridhost/printmap.h"

#include <algorithm>
#include <limits>

namespace qgrad {

SurveyTableModel::SurveyTableModel(const SurveyTable& table, std::size_t firstRow, std::size_t rowLimit, int minRows,
                                   QObject* parent)
    : QAbstractTableModel(parent), table_(table), firstRow_(firstRow), rowLimit_(rowLimit), minRows_(minRows) {}

int SurveyTableModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    const std::size_t have = table_.rowCount() > firstRow_ ? table_.rowCount() - firstRow_ : 0;
    const std::size_t shown = std::min({have, rowLimit_, static_cast<std::size_t>(std::numeric_limits<int>::max())});
    return std::max(static_cast<int>(shown), minRows_);
}

int SurveyTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : SurveyTable::kColumns;
}

QVariant SurveyTableModel::data(const QModelIndex& index, int role) const {
    // A cell too wide for its column shows its whole text as the tooltip.
    if ((role != Qt::DisplayRole && role != Qt::ToolTipRole) || !index.isValid()) return {};
    const std::size_t row = firstRow_ + static_cast<std::size_t>(index.row());
    if (row >= table_.rowCount()) return {};
    const std::string_view cell = table_.cell(index.column(), row);
    return QString::fromLocal8Bit(cell.data(), static_cast<qsizetype>(cell.size()));
}

PointTableModel::PointTableModel(const ArrangedPoints& points, PointTable kind, QObject* parent)
    : QAbstractTableModel(parent), points_(points), kind_(kind) {}

void PointTableModel::SetOnShow(bool onShow) {
    if (onShow == onShow_) return;
    beginResetModel();
    onShow_ = onShow;
    endResetModel();
}

int PointTableModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid() || !onShow_) return 0;
    return static_cast<int>(std::min(points_.rowCount(), static_cast<std::size_t>(std::numeric_limits<int>::max())));
}

int PointTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 3; }

QVariant PointTableModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole || !index.isValid()) return {};
    return QString::fromStdString(points_.CellText(kind_, index.column(), static_cast<std::size_t>(index.row())));
}

int TargetTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(targets_.size());
}

int TargetTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : ColumnCount; }

QVariant TargetTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const Target& t = targets_[static_cast<std::size_t>(index.row())];
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(index.column() == SurveyFile ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignRight | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    // Numbers with a point whatever the region, as the target file writes them.
    switch (index.column()) {
        case Number:
            return t.number;
        case Amplitude:
            return QString::number(t.peak, 'f', 2);
        case Depth:
            return t.depth ? QString::number(*t.depth, 'f', 2) : QString("-");
        case SurveyFile:
            return QString::fromLocal8Bit(t.nearest.file.data(), static_cast<qsizetype>(t.nearest.file.size()));
        case Line:
            return t.nearest.line > 0 ? QVariant(static_cast<qulonglong>(t.nearest.line)) : QVariant(QString("-"));
    }
    return {};
}

QVariant TargetTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    // The columns the printed page's target list has are named as it names them.
    switch (section) {
        case Number:
            return PageText("No.");
        case Amplitude:
            return PageText("nT/m");
        case Depth:
            return PageText("Depth, m");
        case SurveyFile:
            return tr("survey file");
        case Line:
            return tr("line");
    }
    return {};
}

void TargetTableModel::SetTargets(std::vector<Target> targets) {
    beginResetModel();
    targets_ = std::move(targets);
    endResetModel();
}

}  // namespace qgrad
