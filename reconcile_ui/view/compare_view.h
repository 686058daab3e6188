// FrmCompare in Qt ("对账"): the reconciliation launcher's widgets over CompareScreen. The view
// owns the screen (whose load needs the view's hooks in place), shows its state on every refresh
// and forwards the lists' changes, the check boxes, the button group cmdSel and the close box.
// The report screen of a run with differences opens as a ReportView through the modal display.
//
// Layout (twips, 15 to a pixel; positions are this view's own, the heights are the screen's:
// 5070 at rest, 5760 while a run shows its notes and progress bar below the buttons).
// Widgets carry their control names as object names ("FrmCompare", "cboPeriod(0)", "chkItem(3)",
// "cmdSel(0)", "lblUser(1)", "Label1(2)", "Frame2(0)", "lblNotes", "ProgressBar1").
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <memory>

#include "ledger_engine/report_file.h"
#include "reconcile_ui/compare_screen.h"
#include "shell/qt/screen_widgets.h"

class QCheckBox;
class QComboBox;
class QDialog;
class QGroupBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace tallyvet {

struct CompareViewOptions {
  // Shows the launcher, the report screen and the detail list modally.
  qt::ModalDisplay show = qt::ExecModal;
  // Opens Compare.txt without waiting ("查看对账报告"); unset, the button does nothing.
  std::function<void(const std::filesystem::path&)> openReport;
  // The current date, for the period selection and the "本日"/"本周" ranges.
  std::function<CivilDate()> today = LocalToday;
  // Where the reports go when it is not the component's folder (ReportFolderNote); shown left of
  // the buttons; empty: nothing shown.
  std::string reportFolderNote;
  // Shows the report page of a run ("查看图表报告" on the report screen), without waiting.
  std::function<void(const std::filesystem::path&)> openPage;
};

class CompareView {
 public:
  // Builds the dialog, then loads the screen into it. Requires a QApplication and a connection
  // in `ctx`; `ctx` and `messages` outlive the view. Throws db::Error when the account set
  // cannot be read (the screen's load).
  CompareView(HostContext& ctx, MessageBox& messages, ReportFile report,
              CompareViewOptions options);
  ~CompareView();
  CompareView(const CompareView&) = delete;
  CompareView& operator=(const CompareView&) = delete;

  CompareScreen& Screen() { return *screen_; }
  QDialog& Dialog() { return *dialog_; }
  QComboBox& cboPeriod(int index) { return *cboPeriod_.at(static_cast<std::size_t>(index)); }
  QCheckBox& chkItem(int index) { return *chkItem_.at(static_cast<std::size_t>(index)); }
  QPushButton& cmdSel(int index) { return *cmdSel_.at(static_cast<std::size_t>(index)); }
  QLabel& lblUser(int index) { return *lblUser_.at(static_cast<std::size_t>(index)); }
  QLabel& Label1(int index) { return *label1_.at(static_cast<std::size_t>(index)); }
  QGroupBox& Frame2(int index) { return *frame2_.at(static_cast<std::size_t>(index)); }
  QLabel& lblNotes() { return *lblNotes_; }
  QProgressBar& ProgressBar1() { return *progressBar_; }
  QLabel& lblReportFolder() { return *lblReportFolder_; }

  // Shows the screen's whole state.
  void Sync();

 private:
  MessageBox& messages_;
  CompareViewOptions options_;
  std::unique_ptr<QDialog> dialog_;
  std::array<QComboBox*, 3> cboPeriod_{};
  std::array<QCheckBox*, 6> chkItem_{};
  std::array<QPushButton*, 3> cmdSel_{};
  std::array<QLabel*, 2> lblUser_{};
  std::array<QLabel*, 6> label1_{};
  std::array<QGroupBox*, 2> frame2_{};
  QLabel* lblNotes_ = nullptr;
  QLabel* lblReportFolder_ = nullptr;
  QProgressBar* progressBar_ = nullptr;
  std::unique_ptr<CompareScreen> screen_;
  bool syncing_ = false;  // widgets being set from the screen: their change signals are ours
  bool closing_ = false;
  qt::RepaintPump pump_;
};

// NewCheckBook's RUN after the connection and user are in `ctx`: a fresh launcher, loaded, shown
// through options.show until it closes, then dropped. Throws what the launcher's load throws.
void RunCompare(HostContext& ctx, MessageBox& messages, ReportFile report,
                const CompareViewOptions& options);

}  // namespace tallyvet
