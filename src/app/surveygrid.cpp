#include "app/surveygrid.h"

#include "app/tablemodels.h"

#include <QHeaderView>

#include <algorithm>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

namespace qgrad {
namespace {

constexpr int kCellWidth = 70;
constexpr int kCellHeight = 20;

QTableView* MakeView(QWidget* parent, QAbstractItemModel* model, const QColor& background) {
    auto* v = new QTableView(parent);
    v->setModel(model);
    v->horizontalHeader()->hide();
    v->verticalHeader()->hide();
    for (QHeaderView* h : {v->horizontalHeader(), v->verticalHeader()}) {
        h->setSectionResizeMode(QHeaderView::Fixed);
        h->setMinimumSectionSize(1);
    }
    v->horizontalHeader()->setDefaultSectionSize(kCellWidth);
    v->verticalHeader()->setDefaultSectionSize(kCellHeight);
    v->setShowGrid(true);
    v->setWordWrap(false);
    v->setEditTriggers(QAbstractItemView::NoEditTriggers);
    v->setSelectionBehavior(QAbstractItemView::SelectRows);
    v->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    QPalette p = v->palette();
    p.setColor(QPalette::Base, background);
    p.setColor(QPalette::Text, Qt::black);
    p.setColor(QPalette::Highlight, QColor(0x33, 0x66, 0x99));
    p.setColor(QPalette::HighlightedText, Qt::white);
    v->setPalette(p);
    return v;
}

}  // namespace

SurveyGrid::SurveyGrid(const SurveyTable& table, QWidget* parent) : QWidget(parent) {
    headingModel_ = new SurveyTableModel(table, 0, SurveyTable::kHeadingRows, SurveyTable::kHeadingRows, this);
    sampleModel_ = new SurveyTableModel(table, SurveyTable::kHeadingRows, static_cast<std::size_t>(-1), 1, this);
    headings_ = MakeView(this, headingModel_, QColor(0xE8, 0xE8, 0xD8));
    samples_ = MakeView(this, sampleModel_, QColor(0xFF, 0xFF, 0xCA));
    headings_->setFocusPolicy(Qt::NoFocus);
    headings_->setSelectionMode(QAbstractItemView::NoSelection);
    headings_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    headings_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // The headings' view carries the ruler that sizes the columns of both.
    QHeaderView* ruler = headings_->horizontalHeader();
    ruler->show();
    ruler->setFixedHeight(6);
    ruler->setSectionResizeMode(QHeaderView::Interactive);
    ruler->setToolTip(tr("Drag a column's edge to widen it; double-click the edge to fit its text"));
    headings_->setFixedHeight(SurveyTable::kHeadingRows * kCellHeight + ruler->height() + 2 * headings_->frameWidth());
    connect(ruler, &QHeaderView::sectionResized, samples_,
            [this](int column, int, int width) { samples_->setColumnWidth(column, width); });
    ruler->disconnect(SIGNAL(sectionHandleDoubleClicked(int)));
    connect(ruler, &QHeaderView::sectionHandleDoubleClicked, this, &SurveyGrid::FitColumn);
    samples_->setSelectionMode(QAbstractItemView::SingleSelection);
    // The frozen rows follow the sample rows sideways.
    connect(samples_->horizontalScrollBar(), &QScrollBar::valueChanged, headings_->horizontalScrollBar(),
            &QScrollBar::setValue);
    connect(samples_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) emit sampleRowChosen(current.row());
            });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(headings_);
    layout->addWidget(samples_, 1);
}

void SurveyGrid::FitColumn(int column) {
    const QAbstractItemView* views[] = {headings_, samples_};
    const int widest = std::max(views[0]->sizeHintForColumn(column), views[1]->sizeHintForColumn(column));
    headings_->horizontalHeader()->resizeSection(column, std::max(widest, kCellWidth));
}

void SurveyGrid::BeginUpdate() {
    headingModel_->BeginUpdate();
    sampleModel_->BeginUpdate();
}

void SurveyGrid::EndUpdate() {
    headingModel_->EndUpdate();
    sampleModel_->EndUpdate();
    samples_->scrollToTop();  // a new survey starts at its first row
}

}  // namespace qgrad
