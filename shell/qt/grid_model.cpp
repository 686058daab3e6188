#include "shell/qt/grid_model.h"

#include <QColor>
#include <QFontMetrics>
#include <QHeaderView>
#include <QTableView>

#include <algorithm>

#include "shell/qt/screen_widgets.h"
#include "shell/qt/twips.h"

namespace tallyvet::qt {

int GridModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int GridModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : cols_;
}

QVariant GridModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows_ || index.column() >= cols_) return {};
  if (role == Qt::DisplayRole) {
    // A cell's lines each end in CR LF; the last one opens no line of its own in the grid.
    QString text = ToQt(source_.text(index.row() + 1, index.column()));
    if (text.endsWith(QLatin1Char('\n'))) text.chop(1);
    return text;
  }
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
  }
  if (role == Qt::BackgroundRole && source_.marked && source_.marked(index.row() + 1)) {
    return QColor(255, 236, 179);
  }
  return {};
}

QVariant GridModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || section < 0 || section >= cols_) return {};
  if (role == Qt::DisplayRole) return ToQt(source_.text(0, section));
  if (role == Qt::TextAlignmentRole) {
    return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
  }
  return {};
}

bool GridModel::Sync() {
  const int cols = source_.cols();
  const int rows = std::max(0, source_.rows() - 1);
  if (cols != cols_) {
    // Only a new grid changes its columns: start over.
    beginResetModel();
    cols_ = cols;
    rows_ = rows;
    endResetModel();
    return true;
  }
  if (rows > rows_) {
    beginInsertRows(QModelIndex(), rows_, rows - 1);
    rows_ = rows;
    endInsertRows();
  } else if (rows < rows_) {
    beginRemoveRows(QModelIndex(), rows, rows_ - 1);
    rows_ = rows;
    endRemoveRows();
  }
  if (rows_ > 0 && cols_ > 0) emit dataChanged(index(0, 0), index(rows_ - 1, cols_ - 1));
  if (cols_ > 0) emit headerDataChanged(Qt::Horizontal, 0, cols_ - 1);
  return false;
}

int GridRowPixels(int twips, int headerTwips) {
  static const int lineSpacing = QFontMetrics(ScreenFont()).lineSpacing();
  const int lines = std::max(1, (twips + headerTwips / 2) / headerTwips);
  // The item view keeps a few pixels of margin around a cell's text block.
  constexpr int kCellMargins = 6;
  return std::max(Px(twips), lines * lineSpacing + kCellMargins);
}

GridTable::GridTable(QWidget& parent, GridSource source)
    : model_(std::make_unique<GridModel>(std::move(source))), view_(new QTableView(&parent)) {
  view_->setModel(model_.get());
  view_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  view_->setSelectionBehavior(QAbstractItemView::SelectRows);
  view_->setSelectionMode(QAbstractItemView::SingleSelection);
  view_->setTextElideMode(Qt::ElideNone);
  view_->setWordWrap(false);
  view_->verticalHeader()->hide();
  view_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view_->verticalHeader()->setMinimumSectionSize(1);
  view_->verticalHeader()->setDefaultSectionSize(GridRowPixels(240));
  view_->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  view_->horizontalHeader()->setMinimumSectionSize(0);
  view_->horizontalHeader()->setHighlightSections(false);
  view_->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  view_->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  view_->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  Sync();
}

GridTable::~GridTable() {
  // The view may outlive this object for a moment (its parent deletes it): leave it no model.
  view_->setModel(nullptr);
}

void GridTable::Sync() {
  if (model_->Sync()) heights_.clear();
  SyncShape();
  SyncHeights(0);
}

void GridTable::SyncCells() {
  if (model_->Sync()) {
    heights_.clear();
    SyncShape();
  }
  // Rows the view already knows keep their heights; only new ones are measured.
  SyncHeights(static_cast<int>(heights_.size()));
}

void GridTable::SyncShape() {
  const GridSource& source = model_->Source();
  const int cols = model_->columnCount();
  for (int c = 0; c < cols; ++c) {
    const int width = source.colWidthPx(c);
    view_->setColumnHidden(c, width <= 0);
    if (width > 0 && view_->columnWidth(c) != width) view_->setColumnWidth(c, width);
  }
  view_->horizontalHeader()->setFixedHeight(source.rowHeightPx(0));
}

void GridTable::SyncHeights(int from) {
  const GridSource& source = model_->Source();
  const int rows = model_->rowCount();
  heights_.resize(static_cast<std::size_t>(rows), -1);
  for (int r = from; r < rows; ++r) {
    const int height = source.rowHeightPx(r + 1);
    int& known = heights_[static_cast<std::size_t>(r)];
    if (known == height) continue;
    known = height;
    view_->setRowHeight(r, height);
  }
}

}  // namespace tallyvet::qt
