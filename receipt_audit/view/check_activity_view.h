// frmCheckActivity in Qt: the receipt cost check screen's widgets over CheckActivityScreen. The
// view shows the screen's state as it stands and forwards clicks and the close box to it; every
// caption, mark, height and message comes from the screen.
//
// Controls (twips as designed, 15 to a pixel): cmdRpt(0..2) one button group whose handler gets
// the index, MSFlexGrid1 a table over the screen's grid, lblUser and lblNotes growing with their
// text, ProgressBar1 0 to 100. The dialog is 10155 twips wide; its height follows the screen's
// (6540 at rest, 7110 while work runs, which brings the notes and the bar into view).
// Widgets carry their control names as object names ("frmCheckActivity", "cmdRpt(0)",
// "MSFlexGrid1", "lblUser", "lblNotes", "ProgressBar1"), so that scripts can find them.
#pragma once

#include <filesystem>

#include <array>
#include <memory>

#include "receipt_audit/check_activity_screen.h"
#include "shell/qt/grid_model.h"
#include "shell/qt/screen_widgets.h"

class QDialog;
class QLabel;
class QProgressBar;
class QPushButton;
class QTableView;

namespace tallyvet::receipt_audit {

class CheckActivityView {
 public:
  // Builds the dialog over `screen` and takes over its repaint, yield and close hooks.
  // Requires a QApplication; `screen` and `messages` outlive the view.
  CheckActivityView(CheckActivityScreen& screen, MessageBox& messages);
  // Gives the screen's hooks back (empty) and deletes the dialog.
  ~CheckActivityView();
  CheckActivityView(const CheckActivityView&) = delete;
  CheckActivityView& operator=(const CheckActivityView&) = delete;

  QDialog& Dialog() { return *dialog_; }
  QPushButton& cmdRpt(int index) { return *cmdRpt_.at(static_cast<std::size_t>(index)); }
  QTableView& MSFlexGrid1() { return grid_->View(); }
  QLabel& lblUser() { return *lblUser_; }
  QLabel& lblNotes() { return *lblNotes_; }
  QProgressBar& ProgressBar1() { return *progressBar_; }

  // Shows the screen's whole state.
  void SyncAll();

 private:
  void Sync(CheckActivityScreen::Part part);

  CheckActivityScreen& screen_;
  MessageBox& messages_;
  std::unique_ptr<QDialog> dialog_;
  std::array<QPushButton*, 3> cmdRpt_{};
  std::unique_ptr<qt::GridTable> grid_;
  QLabel* lblUser_ = nullptr;
  QLabel* lblNotes_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  qt::RepaintPump pump_;
};

// NewCheckReceipt's RUN after the connection and user are in `ctx`: a fresh screen, loaded,
// shown through `show` until it closes, then dropped. The stock ledger's rebuild leaves its journal
// in `journalFolder` (none when empty). Throws what the screen's load throws.
void RunCheckActivity(HostContext& ctx, MessageBox& messages, const qt::ModalDisplay& show,
                      const std::filesystem::path& journalFolder = {});

}  // namespace tallyvet::receipt_audit
