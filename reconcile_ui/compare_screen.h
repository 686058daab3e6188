// The reconciliation launcher (FrmCompare): the user picks a range of periods (or today, or this
// week) and ticks the ledgers to reconcile; a start runs the comparison of every ticked item and
// ends with "账套内数据正确!" or with the report screen. It is also the screen the engine reports
// its progress through (notes label, progress bar, the items' captions and the summary list).
//
// Effects, by event:
//  - construction (the screen's load): lblUser(0) and (1), the three lists filled and selected,
//    ctx.AccountStartDate set (LoadAccountAndPeriods);
//  - SelectPeriod on list 2: the start and end lists enabled exactly for "期间";
//  - CmdSelClick(0) "开始对账": validation ("警告", error icon; the period test first), the run,
//    then the report screen (through the showReport hook) or "账套内数据正确!"; the field
//    dictionary released afterwards;
//  - CmdSelClick(1) "退出": the report screen dropped, the close hook;
//  - CmdSelClick(2) "查看对账报告": the openReport hook with Compare.txt when it exists.
// Nothing here touches Qt; the refresh hook asks the view to repaint at each point where the
// screen repaints itself.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "ledger_engine/report_file.h"
#include "reconcile_ui/launcher.h"
#include "reconcile_ui/report_screen.h"
#include "shell/host_context.h"
#include "shell/message_box.h"
#include "shell/progress_screen.h"

namespace tallyvet {

// A drop-down list: its entries, the selected position (-1: none) and whether it takes input.
struct ComboList {
  std::vector<std::string> entries;
  int selected = -1;
  bool enabled = true;
  // The selected entry's text, or empty.
  std::string Text() const;
};

// A check box of the item group.
struct ItemCheckBox {
  std::string caption;
  int value = 0;      // 0 unchecked, 1 checked, 2 grayed (counts as ticked)
  int foreColor = 0;  // 0 black, 255 red while its item runs
};

struct CommandButton {
  std::string caption;
  bool enabled = true;
};

// What the launcher says about where its reports go: empty when they are in the component's own
// folder; otherwise "报告保存在：" and the user's folder (the home folder written "~"), with the
// reason.
std::string ReportFolderNote(const ScreenReportFolder& reports, const char* home);

class CompareScreen final : public ProgressScreen {
 public:
  static constexpr std::string_view kCaption = "对账";
  static constexpr int kIdleHeight = 5070;     // twips
  static constexpr int kRunningHeight = 5760;  // twips
  static constexpr std::string_view kWarningTitle = "警告";

  // The view's side of the screen.
  struct Hooks {
    std::function<void()> refresh;                                 // repaint what changed
    std::function<void(ReportScreen&)> showReport;                 // show the report screen modally
    std::function<void(const std::filesystem::path&)> openReport;  // open Compare.txt, no wait
    std::function<void()> close;                                   // unload the screen
  };

  // Loads the screen (LoadAccountAndPeriods). `today` gives the current date (tests fix it).
  // Requires a connection in ctx. Throws db::Error when the account set cannot be read.
  CompareScreen(HostContext& ctx, MessageBox& messages, ReportFile report, Hooks hooks = {},
                std::function<CivilDate()> today = LocalToday);

  // --- Controls ------------------------------------------------------------------------------
  const std::string& lblUser(int index) const {
    return lblUser_.at(static_cast<std::size_t>(index));
  }
  const ComboList& cboPeriod(int index) const { return cbo_.at(static_cast<std::size_t>(index)); }
  const ItemCheckBox& chkItem(int index) const { return chk_.at(static_cast<std::size_t>(index)); }
  const CommandButton& cmdSel(int index) const { return cmd_.at(static_cast<std::size_t>(index)); }
  bool ProgressVisible() const { return progressVisible_; }
  bool NotesVisible() const { return notesVisible_; }
  const std::string& NotesCaption() const { return display_.Notes(); }
  int Height() const { return height_; }
  bool Hourglass() const { return hourglass_; }
  const ReportFile& Report() const { return report_; }
  // The report screen of the current run, or null.
  ReportScreen* ReportScreenInstance() { return reportScreen_.get(); }
  // The comparisons of the last run that stopped on an error.
  const std::vector<ItemRunError>& LastRunErrors() const { return lastErrors_; }

  // --- Events --------------------------------------------------------------------------------
  // The user picks `position` in list `index` (the list's change event follows).
  void SelectPeriod(int index, int position);
  // The change event of list `index`: only list 2 acts (the range-kind rule).
  void CboPeriodChange(int index);
  void SetItemValue(int index, int value);
  // cmdSel(index) clicked. Never throws: an error that stops a run is shown in a message box.
  void CmdSelClick(int index);

  // --- Operations ----------------------------------------------------------------------------
  void LoadAccountAndPeriods();
  DateRange PeriodRangeToDates();
  // The run: the screen in its running state, the report screen obtained (its detail grid back
  // to the header row), the items run, the screen idle again (also when the run throws).
  // Returns true when some item did not come out clean.
  // Throws what RunItems and PeriodRangeToDates throw.
  bool RunSelectedItems();

  // --- ProgressScreen ------------------------------------------------------------------------
  void SetNotes(const std::string& caption) override;
  double ProgressValue() const override { return display_.Value(); }
  void ShowProgress(double percent) override;
  std::string ItemCaption(int index) const override { return chkItem(index).caption; }
  std::vector<std::string>* List1() override { return &list1_; }
  void RefreshList1() override { Refresh(); }
  // The summary list the engine keeps for the launcher.
  const std::vector<std::string>& SummaryList() const { return list1_; }

 private:
  void Refresh();
  ReportScreen& ObtainReportScreen();
  void EndRun();

  HostContext& ctx_;
  MessageBox& messages_;
  ReportFile report_;
  Hooks hooks_;
  std::function<CivilDate()> today_;
  std::array<std::string, 2> lblUser_{"账套号", "用户名"};
  std::array<ComboList, 3> cbo_;
  std::array<ItemCheckBox, 6> chk_;
  std::array<CommandButton, 3> cmd_{{{"开始对账", true}, {"退出", true}, {"查看对账报告", true}}};
  ProgressDisplay display_;
  bool progressVisible_ = false;
  bool notesVisible_ = false;
  int height_ = kIdleHeight;
  bool hourglass_ = false;
  std::vector<std::string> list1_;
  std::unique_ptr<ReportScreen> reportScreen_;
  std::vector<ItemRunError> lastErrors_;
};

}  // namespace tallyvet
