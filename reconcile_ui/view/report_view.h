// frmReport in Qt ("对账报告"): the detail grid grdDiff and the summary grid grdTotal over the
// ReportScreen's grids (one shown at a time), the two options of Frame1, the button group cmdRpt
// (0 "重新登记汇总数", 1 "查看单据明细", 2 "退出", 3 "全选", 4 "查看图表报告"), lblUser and
// lblDate. Clicks on the grid's cells, the options, the buttons and the close box go to the screen;
// the screen's refresh hook brings the widgets up to date; a detail list opens through the modal
// display. Object names: "frmReport", "grdDiff", "grdTotal", "Frame1", "Option1(0)", "cmdRpt(2)",
// "lblUser", "lblDate".
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <memory>

#include "reconcile_ui/report_screen.h"
#include "shell/qt/grid_model.h"
#include "shell/qt/screen_widgets.h"

class QDialog;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QTableView;
class QWidget;

namespace tallyvet {

class ReportView {
 public:
  // Builds the dialog over `screen` and takes over its hooks. Requires a QApplication; `screen`
  // and `messages` outlive the view. `show` displays the detail list modally; `owner` may be
  // null; `openPage` shows the report page file (unset: the page is written, not shown).
  ReportView(ReportScreen& screen, MessageBox& messages, qt::ModalDisplay show,
             QWidget* owner = nullptr,
             std::function<void(const std::filesystem::path&)> openPage = {});
  // Gives the screen's hooks back (empty) and deletes the dialog.
  ~ReportView();
  ReportView(const ReportView&) = delete;
  ReportView& operator=(const ReportView&) = delete;

  QDialog& Dialog() { return *dialog_; }
  QTableView& grdDiff() { return diff_->View(); }
  QTableView& grdTotal() { return total_->View(); }
  QRadioButton& Option1(int index) { return *option1_.at(static_cast<std::size_t>(index)); }
  QPushButton& cmdRpt(int index) { return *cmdRpt_.at(static_cast<std::size_t>(index)); }
  QLabel& lblUser() { return *lblUser_; }
  QLabel& lblDate() { return *lblDate_; }
  QLabel& lblCause() { return *lblCause_; }

  // Shows the screen's state: grids, selection, buttons, options, labels.
  void Sync();

 private:
  ReportScreen& screen_;
  MessageBox& messages_;
  qt::ModalDisplay show_;
  std::unique_ptr<QDialog> dialog_;
  std::unique_ptr<qt::GridTable> diff_;
  std::unique_ptr<qt::GridTable> total_;
  QGroupBox* frame1_ = nullptr;
  std::array<QRadioButton*, 2> option1_{};
  std::array<QPushButton*, 5> cmdRpt_{};
  QLabel* lblUser_ = nullptr;
  QLabel* lblDate_ = nullptr;
  QLabel* lblCause_ = nullptr;
  int shownRow_ = 0;
  int shownTopRow_ = 0;
  bool closing_ = false;
  qt::RepaintPump pump_;
};

}  // namespace tallyvet
