// frmDetailList in Qt ("单据明细"): the document lines behind one difference, in grdList, and
// "关闭". The view shows the DetailListScreen's grid as LoadData left it. Object names:
// "frmDetailList", "grdList", "cmdClose".
#pragma once

#include <memory>

#include "reconcile_ui/detail_list_screen.h"
#include "shell/qt/grid_model.h"

class QDialog;
class QPushButton;
class QTableView;
class QWidget;

namespace tallyvet {

class DetailListView {
 public:
  // Requires a QApplication; `screen` outlives the view. `owner` may be null.
  explicit DetailListView(const DetailListScreen& screen, QWidget* owner = nullptr);
  ~DetailListView();
  DetailListView(const DetailListView&) = delete;
  DetailListView& operator=(const DetailListView&) = delete;

  QDialog& Dialog() { return *dialog_; }
  QTableView& grdList() { return grid_->View(); }
  QPushButton& cmdClose() { return *cmdClose_; }

 private:
  std::unique_ptr<QDialog> dialog_;
  std::unique_ptr<qt::GridTable> grid_;
  QPushButton* cmdClose_ = nullptr;
};

// Pixel width of a grid column given in display cells by a format string (a Chinese character
// takes two cells, as wide as two blanks of the screen font at 9 points).
int FormatColumnPixels(int cells);

// Read access for a view to one of the reconciliation screens' grids.
qt::GridSource GridSourceOf(const Grid& grid);

}  // namespace tallyvet
