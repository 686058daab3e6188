// A cell grid (row 0 the fixed header row, text cells, column widths, row heights) shown in a
// QTableView. The grid itself belongs to a screen's behaviour class; the model only reads it
// through a GridSource and is told to catch up (Sync) when the screen repaints the grid.
//
// Model row r is grid row r + 1: the header row is the view's horizontal header. A column whose
// width is 0 is hidden, as the screens hide their key columns.
#pragma once

#include <QAbstractTableModel>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QTableView;
class QWidget;

namespace tallyvet::qt {

// Read access to a screen's grid. Every function must be set; rows include the header row.
struct GridSource {
  std::function<int()> rows;
  std::function<int()> cols;
  std::function<const std::string&(int row, int col)> text;
  std::function<int(int col)> colWidthPx;   // 0 hides the column
  std::function<int(int row)> rowHeightPx;  // row 0 is the header row
  std::function<bool(int row)> marked;      // rows to stand out; none when empty
};

class GridModel final : public QAbstractTableModel {
 public:
  explicit GridModel(GridSource source) : source_(std::move(source)) {}

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // Catches up with the grid: inserts or removes rows at the end, then reports every cell and
  // the header changed. Returns true when the model started over (the columns changed).
  bool Sync();
  const GridSource& Source() const { return source_; }

 private:
  GridSource source_;
  int rows_ = 0;  // data rows the view knows of
  int cols_ = 0;
};

// A QTableView over a GridModel, set up like the screens' grids: no editing, no row header, the
// header row as high as the grid's row 0, column widths and row heights from the grid.
class GridTable {
 public:
  GridTable(QWidget& parent, GridSource source);
  ~GridTable();
  GridTable(const GridTable&) = delete;
  GridTable& operator=(const GridTable&) = delete;

  QTableView& View() { return *view_; }
  GridModel& Model() { return *model_; }
  // Model, column widths and hidden columns, header height and the height of every row whose
  // height changed: a walk over all rows, for grids that change shape while shown.
  void Sync();
  // Model and the heights of rows added since the last sync only: for screens whose rows keep
  // their heights once shown (cell texts and selection change, rows are not rewritten).
  void SyncCells();

 private:
  void SyncShape();
  void SyncHeights(int from);
  std::unique_ptr<GridModel> model_;
  QTableView* view_;  // owned by the parent widget
  std::vector<int> heights_;
};

// Pixel height of a grid row designed `twips` high: its share of lines (the header row's height
// is one line) at the screen font's line spacing, and never less than the twips give.
int GridRowPixels(int twips, int headerTwips = 240);

}  // namespace tallyvet::qt
