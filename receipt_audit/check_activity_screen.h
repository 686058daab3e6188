// The receipt cost check screen ("单据成本与平均成本检查") as plain state, without widgets: the
// grid of flagged document lines, the captions and enabled flags of its three buttons, the user and
// notes labels, the progress bar, the screen height and the fields AccountSetVersion and
// EarliestDate. A Qt view shows this state as it is and forwards its events here; the command line
// and the tests drive it directly.
//
// One button carries the workflow: cmdRpt(0) runs RunChecks (caption "开始检查" -> "开始调整", or
// back to "开始检查" when the checks failed), then RunCostAdjustment ("开始调整" -> "开整完毕",
// after which the button stays disabled). cmdRpt(1) closes the screen; cmdRpt(2) inverts the marks.
//
// Effects on the host database: RunChecks only reads, without a transaction, so that nothing is
// held while the user reads the grid. RunCostAdjustment writes the marked lines back, adds the
// rounded average-cost difference of every differing group to one line, and re-registers the
// stock ledger (PositionDaily) from EarliestDate on: all in one transaction, so that after any
// failure nothing of it stands. Each write carries what the checks read as its guard: a line that
// another program changed since is left alone and marked "已变动". Every line written and the
// ledger's range go into one journal whose undo script puts them back.
//
// Not thread-safe: everything runs on the thread that owns the screen.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ledger_engine/journal.h"
#include "receipt_audit/receipt_sql.h"
#include "shell/host_context.h"
#include "shell/message_box.h"
#include "shell/progress_screen.h"

namespace tallyvet::receipt_audit {

inline constexpr int kGridColumns = 7;
inline constexpr int kHeightWorking = 7110;  // brings lblNotes and ProgressBar1 into view
inline constexpr int kHeightResting = 6540;  // the designed height; the progress lies below it
inline constexpr int kHeaderRowHeight = 240;
inline constexpr const char* kMark = "√";
inline constexpr const char* kFailedMark = "错误";
// The line no longer holds what the checks read: another program wrote it since.
inline constexpr const char* kChangedMark = "已变动";
inline constexpr const char* kNoEarliestDate = "9999-12-31";

// Captions of button 0 through the workflow.
inline constexpr const char* kCaptionStartCheck = "开始检查";
inline constexpr const char* kCaptionStartAdjust = "开始调整";
inline constexpr const char* kCaptionAdjustDone = "开整完毕";

// MSFlexGrid1: row 0 is the header; every later row is a CheckRow once a check has filled it.
//   column 0 (hidden)  "lngActivityDetailID=<id>", the row's key
//   column 1           kind: "转仓单", "入库单", "出库单" or "计划价"
//   column 2 "项目"     five lines "日期=", "业务类型=", "单据号=", "物品=", "货位=", each ended by
//   CR LF column 3 "成本金额"  first amount, column 4 "平均成本" second amount, as plain number
//   text column 5 "差额"     column 3 minus column 4, rounded to 4 decimals column 6 "调整" "√",
//   empty, or "错误" after a failed write-back
struct CheckGrid {
  using Row = std::array<std::string, kGridColumns>;
  std::vector<Row> cells;
  std::vector<int> rowHeights;  // twips, one per row
  std::array<int, kGridColumns> colWidths{};

  int Rows() const { return static_cast<int>(cells.size()); }
  // Grows or cuts the grid to `rows` rows; new rows are empty and as high as the header row.
  void SetRows(int rows);
};

// The width a column is designed with, from its header text padded with blanks (twips).
int DesignedColumnWidth(int column);

struct CommandButton {
  std::string caption;
  bool enabled = true;
};

// One flagged line as the checks read it; the grid shows the same line in row `gridRow`.
struct CheckFinding {
  int gridRow = 0;
  std::string kind;
  std::string lngActivityDetailID;  // as text
  std::string strDate;
  std::string lngReceiptTypeID, lngItemID, lngPositionID;  // the ids, as text
  std::string receiptType;                                 // the receipt type's name (GetFieldText)
  std::string receiptNo;
  std::string itemCode;      // GetFieldText of lngItemID
  std::string positionCode;  // GetFieldText of lngPositionID
  double costAmount = 0;
  double secondAmount = 0;
  double difference = 0;  // rounded to 4 decimals
  // The line's columns the two amounts were read from (ReceiptCheck), for the write-back's guard.
  std::string_view costColumns, secondColumns;
};

// What RunCostAdjustment did, for callers that report it (the screen itself shows the grid).
struct AdjustmentOutcome {
  struct WriteBack {
    int gridRow = 0;
    std::string statement;  // empty when the row's kind has no write-back
    bool ok = false;        // the line was written
    bool changed = false;   // the line changed since the checks read it: left alone
  };
  struct AverageCostUpdate {
    std::string intYear, bytPeriod, lngItemID, lngPositionGroupID;
    std::string lngActivityDetailID;  // the absorbing line; empty when the group had none
    std::string strDate;
    double difference = 0;  // rounded to 2 decimals
    std::string statement;  // empty when the group had no line
    bool ok = false;
    bool changed = false;  // the line's average cost moved on between its read and the UPDATE
  };
  std::vector<WriteBack> writeBacks;
  std::vector<AverageCostUpdate> averageCostUpdates;
  std::optional<std::string> writeBackError;    // the database's message when a write-back failed
  std::optional<std::string> averageCostError;  // the database's message when phase 2 stopped
  bool reregistrationRan = false;
  std::optional<bool> reregistered;  // ReRegisterLedgers' result when it ran
  std::optional<std::string> reregistrationError;
  // Set when nothing of the adjustment stands (it failed and was rolled back, or its commit
  // failed): the cause, and where the document lines and the stock ledger stand, checked.
  std::optional<std::string> rolledBack;
  std::filesystem::path journal;  // the adjustment's journal and undo script, when written
  std::filesystem::path undoScript;
  std::string earliestDate;  // EarliestDate after phase 2, the re-registration's begin date
};

struct AdjustmentOptions {
  // False leaves the stock ledger alone (a preview whose writes are rolled back afterwards).
  bool reregister = true;
};

class CheckActivityScreen final : public ProgressScreen {
 public:
  // What a view redraws when the hook fires.
  enum class Part { Notes, Progress, Grid, Buttons, Labels, Layout, Pointer };

  // The screen in its designed state. Requires: `ctx` (with its connection and user set) and
  // `messages` outlive the screen. Touches no database until Form_Load.
  CheckActivityScreen(HostContext& ctx, MessageBox& messages);
  ~CheckActivityScreen() override;
  CheckActivityScreen(const CheckActivityScreen&) = delete;
  CheckActivityScreen& operator=(const CheckActivityScreen&) = delete;

  // Called whenever a part of the screen is repainted explicitly. Hooks must not throw (one that
  // does from a progress repaint is ignored; elsewhere it ends the operation under way).
  void SetRepaintHook(std::function<void(Part)> hook) { repaint_ = std::move(hook); }
  // Lets pending window messages run once (the single yield before the checks start).
  void SetYieldHook(std::function<void()> hook) { yield_ = std::move(hook); }
  // Called once when the screen unloads (button 1 or the window's close box).
  void SetCloseHook(std::function<void()> hook) { close_ = std::move(hook); }

  // Load: InitCheckItems (which builds the field dictionary) and ShowAccountInfo.
  // Throws what InitCheckItems throws; a failing account query is absorbed (see ShowAccountInfo).
  void Form_Load();
  // Button click by index: 0 the workflow step, 1 close, 2 invert the marks. Other indexes, and
  // every click after the screen has unloaded, do nothing. The operations behind button 0 absorb
  // their database failures (see RunChecks and RunCostAdjustment).
  void cmdRpt_Click(int index);
  // Unload: releases the field dictionary and reports the close; later calls do nothing.
  void Form_Unload();

  // Runs the five checks into the grid. True when all of them ran to their end; false when a
  // failure (a rejected statement, a failing read or code lookup) stopped the run, with the rows
  // found so far left in the grid and LastError() holding the message. Writes nothing.
  bool RunChecks();
  // Writes back the marked rows, updates average costs, re-registers the stock ledger from
  // EarliestDate on, as one transaction of its own (or, inside the connection's open transaction,
  // one savepoint). A row whose line changed since the checks is marked "已变动" and left alone.
  // Any failure (a refused write-back, a failing query of the average-cost update, a failed
  // re-registration, a journal that cannot be written) rolls all of it back: the grid shows the
  // rows as before (the failing one "错误"), and a message box titled "错误" says why and, checked,
  // that the lines and the ledger are as before. Requires: Form_Load has run.
  AdjustmentOutcome RunCostAdjustment(const AdjustmentOptions& options = {});

  // ProgressScreen: lblNotes, ProgressBar1 and ShowProgress, as the ledger engine reaches them.
  void SetNotes(const std::string& caption) override;
  double ProgressValue() const override { return progress_.Value(); }
  void ShowProgress(double percent) override;

  const CheckGrid& MSFlexGrid1() const { return grid_; }
  const CommandButton& cmdRpt(int index) const { return buttons_.at(static_cast<size_t>(index)); }
  const std::string& lblUser() const { return lblUser_; }
  const std::string& lblNotes() const { return progress_.Notes(); }
  bool NotesVisible() const { return notesVisible_; }
  bool ProgressVisible() const { return progressVisible_; }
  int Height() const { return height_; }
  bool Hourglass() const { return hourglass_; }
  const std::string& Caption() const { return caption_; }

  const std::string& AccountSetVersion() const { return accountSetVersion_; }
  const std::string& EarliestDate() const { return earliestDate_; }
  // The lines the last RunChecks flagged, in grid order.
  const std::vector<CheckFinding>& Findings() const { return findings_; }
  // The message of the failure that stopped the last RunChecks (empty when it ran through).
  const std::string& LastError() const { return lastError_; }
  // What the adjustment behind button 0 did (empty before it ran).
  const std::optional<AdjustmentOutcome>& LastAdjustment() const { return lastAdjustment_; }

  // Where the rebuild of the stock ledger leaves its journal and undo script (the report's
  // folder); empty, the default, leaves none.
  void SetJournalFolder(std::filesystem::path folder) { journalFolder_ = std::move(folder); }

 private:
  void ShowAccountInfo();
  void ToggleMarks();
  void RunOneCheck(const ReceiptCheck& check, ProgressStepper& stepper, int& nextRow);
  // Each returns false when the adjustment must be rolled back (the cause is in `outcome`).
  bool WriteBackMarkedRows(AdjustmentOutcome& outcome, ChangeJournal* journal);
  bool UpdateAverageCosts(AdjustmentOutcome& outcome, ChangeJournal* journal);
  bool ReRegisterStockLedger(AdjustmentOutcome& outcome, ChangeJournal* journal);
  // The line's cost columns before it is written, journalled with the undo that restores them.
  void JournalLine(ChangeJournal* journal, const std::string& lineId, const std::string& what);
  const CheckFinding* FindingOfRow(int gridRow) const;
  void StepProgress() { ShowProgress(ProgressValue() + 1); }
  void SetHeight(int height);
  void Repaint(Part part) {
    if (repaint_) repaint_(part);
  }

  HostContext& ctx_;
  MessageBox& messages_;
  std::function<void(Part)> repaint_;
  std::function<void()> yield_;
  std::function<void()> close_;

  std::string caption_ = "单据成本与平均成本检查";
  CheckGrid grid_;
  std::array<CommandButton, 3> buttons_;
  std::string lblUser_;
  ProgressDisplay progress_;
  bool notesVisible_ = true;
  bool progressVisible_ = true;
  int height_ = kHeightResting;
  bool hourglass_ = false;
  bool closed_ = false;

  std::string accountSetVersion_;
  std::string earliestDate_;
  std::filesystem::path journalFolder_;
  std::vector<CheckFinding> findings_;
  // Each line journalled, with the cost columns it held before the adjustment wrote it.
  std::vector<std::pair<std::string, std::vector<db::Value>>> linesBefore_;
  std::string lastError_;
  std::optional<AdjustmentOutcome> lastAdjustment_;
};

}  // namespace tallyvet::receipt_audit
