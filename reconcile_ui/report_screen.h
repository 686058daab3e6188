// The reconciliation report screen (frmReport): the differences of a run, one row per differing
// ledger value in the detail grid and one per item and column in the summary grid. From the
// detail grid the user marks rows and registers them into the ledgers, or opens the documents
// behind a row. Rows arrive only through WriteReport; a run feeds it through ReportScreenSink.
//
// Effects, by event:
//  - construction (the screen's load): both grids with their header row, columns 0 to 3 hidden,
//    the detail grid shown; both row counters 1; lblUser and lblDate from the launcher's texts;
//  - Option1Click: the detail view (all four buttons) or the summary view (only "退出");
//  - GrdDiffClick on column 9 of a markable row, or "全选": toggles marks ("√" <-> empty; "错误"
//    clears);
//  - "重新登记汇总数" (RegisterCorrections): after a Yes to the confirmation, every row marked "√"
//    is written into its ledger (UPDATE, else INSERT), guarded by the value the comparison read,
//    journalled beside the report, all in one short transaction that commits before the closing
//    message; a row that cannot be registered keeps "错误" and the loop goes on; a row whose
//    ledger value changed since it was compared is marked "已变动" and left as it is; a closing
//    message says how it went. Nothing is held on the account set while the screen waits;
//  - "查看单据明细" (ShowDocumentDetail): the documents behind the selected row in a detail list;
//  - "退出": the unload hook;
//  - "查看图表报告" (ShowReportPage): the run's report page written as Compare.html beside the
//    report and handed to the openPage hook; enabled in both views once the run has set the page.
// Nothing here touches Qt; the view reads the grids, labels and button states and forwards events.
#pragma once

#include <array>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ledger_engine/difference.h"
#include "reconcile_ui/corrections.h"
#include "reconcile_ui/detail_list_screen.h"
#include "reconcile_ui/grid.h"
#include "reconcile_ui/report_page.h"
#include "shell/host_context.h"
#include "shell/message_box.h"

namespace tallyvet {

// What the report screen shows of the launcher that created it.
struct LauncherTexts {
  std::string userLine;     // launcher lblUser(0)
  std::string accountLine;  // launcher lblUser(1)
  std::string startPeriod;  // text of the start period list
  std::string endPeriod;    // text of the end period list
};

// The outcome of one RegisterCorrections.
struct RegistrationSummary {
  struct Row {
    int row = 0;  // the detail grid's row
    RegistrationStatus status = RegistrationStatus::kFailed;
    std::string error;  // the database's message, for a failed row
  };
  bool confirmed = false;  // the question was answered Yes
  int statements = 0;      // marked rows for which statements were built
  int registered = 0;      // rows written into their ledger
  int changed = 0;         // rows left alone: their ledger value changed since the comparison
  int failed = 0;          // rows that kept "错误"
  std::string firstError;  // the first database message, if any
  // Set when nothing of the registration stands (its transaction did not commit, or the
  // database rolled it back on its own): why; every row then counts as failed.
  std::string rolledBack;
  std::vector<Row> rows;  // every row a statement was built for, in grid order
  std::filesystem::path journal;
  std::filesystem::path undoScript;  // empty when nothing stands
};

// The statement behind "查看单据明细": the item's SelectSql up to its first "GROUP BY", every
// "SUM(" turned into "(", " AND " and the row's source-side condition (an empty text value ''
// written as ' ', as the ledger stores it), every "SELECT" given the document date, type and
// number in front of its list. A SelectSql without "GROUP BY" is taken whole, the condition
// joined to its WHERE (or starting one) and put before its ORDER BY, if any.
std::string DocumentDetailSql(std::string_view selectSql, int item, std::string_view condition);

class ReportScreen {
 public:
  static constexpr std::string_view kCaption = "对账报告";
  static constexpr std::string_view kGridFormat =
      "||||明细项目                           |数据项目               |汇总数           |明细数"
      "           |差额            |调整  ";
  // Header row included: at most 34999 detail rows.
  static constexpr int kMaxDetailRows = 35000;
  static constexpr std::string_view kMark = "√";
  static constexpr std::string_view kError = "错误";
  // The row's ledger value is no longer the one compared: another program wrote it since.
  static constexpr std::string_view kChanged = "已变动";
  static constexpr std::string_view kConfirmation =
      "已结账期间数据调整，建议在指定期间输入调整单据进行调整！\r\n"
      "未结账期间可通过本程序自动调整差额。";
  static constexpr std::string_view kRegistered = "登记完毕!";
  static constexpr std::string_view kNothingMarked = "请选择登账条目!";
  // Followed by why: the registration's transaction did not stand, so no row was registered.
  static constexpr std::string_view kNothingRegistered = "登记未完成，账表未做任何修改：";

  // The view's side: repaint after a change, show a detail list modally, close the screen.
  struct Hooks {
    std::function<void()> refresh;
    std::function<void(DetailListScreen&)> showDetailList;
    std::function<void()> unload;
    std::function<void(const std::filesystem::path&)> openPage;  // show the page, no wait
  };

  // Loads the screen. `reportFolder` is where registrations leave their journal (the folder of
  // Compare.txt). `maxDetailRows` is the detail grid's limit, header included.
  ReportScreen(HostContext& ctx, MessageBox& messages, std::filesystem::path reportFolder,
               const LauncherTexts& launcher, int maxDetailRows = kMaxDetailRows);

  void SetHooks(Hooks hooks) { hooks_ = std::move(hooks); }

  // WriteReport: one row into grdTotal (tbl <= 0) or grdDiff (tbl > 0; dropped when the grid has
  // maxDetailRows rows already): columns 0 to 8 as tbl, col, condition, strFieldName, strKeyDesc,
  // strFieldDesc, the two amounts and their difference (stored - recomputed), each rounded to two
  // decimals, halves to even; the row's height `rows` times the header's.
  void WriteReport(const std::string& strKeyDesc, const std::string& strFieldDesc,
                   double dblTotalAmount, double dblListAmount, int tbl, int rows, int col,
                   const std::string& condition, const std::string& strFieldName);

  // What the comparison knew of the detail row the last WriteReport wrote (nothing when it wrote
  // no detail row): whether the ledger held the row, its keys, its cause. Registration guards
  // its statements with it; without it, the row is guarded by the stored value alone.
  void WriteComparedRow(const DifferenceRecord& record);
  // The cause of the selected detail row, or null.
  const DifferenceCause* SelectedCause() const;
  // lblCause: "原因：" + the selected row's cause kind and sentence; empty without one.
  std::string lblCause() const;

  // The run's report page, for "查看图表报告".
  void SetPage(ReportPageData page);
  // ShowReportPage (button 4): writes the page to Compare.html in the report folder and hands the
  // file to the openPage hook; returns it. Requires SetPage. Throws std::system_error when the
  // file cannot be written.
  std::filesystem::path ShowReportPage();

  // Option1(index) clicked: 0 "显示汇总数", 1 "显示明细数".
  void Option1Click(int index);
  int SelectedOption() const { return option_; }
  // cmdRpt(index) clicked (0 to 4). A disabled button does nothing. Errors of the database or the
  // journal are shown in a message box (the screen's caption, error icon), never thrown.
  void CmdRptClick(int index);
  // A click on cell (row, col) of grdDiff: selects a data row; on column 9 of a markable row,
  // toggles its mark.
  void GrdDiffClick(int row, int col);

  // A row whose column 0 read as a number is greater than 0 and not 6.
  bool CanMark(int row) const;
  // "√" when empty, empty otherwise ("错误" included).
  void ToggleMark(int row);
  // "全选": toggles every markable row.
  void SelectAll();

  // RegisterCorrections (button 0). Throws std::system_error when the journal cannot be written
  // (before any statement of the row runs); database errors are kept per row, never thrown.
  RegistrationSummary RegisterCorrections();
  // The statements registering would run for every row marked "√", in row order, with the row
  // number; nothing is run.
  std::vector<std::pair<int, CorrectionStatements>> PlannedCorrections() const;
  // The keys of a detail row as its comparison gave them (empty when not given).
  const std::vector<KeyValue>& RowKeys(int row) const;
  // ShowDocumentDetail (button 1). Throws db::Error / DictionaryError from LoadData. When the row
  // has a cause naming documents, they are marked in the list; a withdrawn document, which the
  // ledger's statement no longer selects, is listed after the others.
  void ShowDocumentDetail();

  Grid& grdDiff() { return grdDiff_; }
  const Grid& grdDiff() const { return grdDiff_; }
  Grid& grdTotal() { return grdTotal_; }
  const Grid& grdTotal() const { return grdTotal_; }
  const std::string& lblUser() const { return lblUser_; }
  const std::string& lblDate() const { return lblDate_; }
  std::string CmdRptCaption(int index) const;
  bool CmdRptEnabled(int index) const;
  std::int32_t DetailRowCounter() const { return detailRowCounter_; }
  std::int32_t SummaryRowCounter() const { return summaryRowCounter_; }
  // The detail list of the last "查看单据明细", or null.
  DetailListScreen* DetailList() { return detail_.get(); }
  const RegistrationSummary& LastRegistration() const { return lastRegistration_; }

 private:
  void Refresh();
  HostContext& ctx_;
  MessageBox& messages_;
  std::filesystem::path reportFolder_;
  int maxDetailRows_;
  Hooks hooks_;
  Grid grdDiff_{kGridFormat};
  Grid grdTotal_{kGridFormat};
  std::string lblUser_;
  std::string lblDate_;
  int option_ = 1;
  std::array<bool, 5> enabled_{true, true, true, true, true};
  std::optional<ReportPageData> page_;
  std::int32_t detailRowCounter_ = 1;
  std::int32_t summaryRowCounter_ = 1;
  std::unique_ptr<DetailListScreen> detail_;
  RegistrationSummary lastRegistration_;
  int lastDetailRow_ = 0;
  std::map<int, std::shared_ptr<const DifferenceCause>> causes_;  // by detail row
  std::map<int, ComparedValue> compared_;                         // by detail row
  std::map<int, std::vector<KeyValue>> keys_;                     // by detail row
  CorrectionStatements CorrectionOfRow(int row, int item) const;
};

// The hand-over from a comparison run to the report screen: every difference becomes a detail
// row; when an item's comparison ends, one summary row per differing column of the item (the
// summed stored and recomputed values, the item's check-box caption as description) goes to
// WriteReport with the item negated, so it lands in the summary grid and can never be marked.
class ReportScreenSink final : public DifferenceSink {
 public:
  // Keeps a reference: the screen must outlive the sink.
  explicit ReportScreenSink(ReportScreen& screen) : screen_(screen) {}
  void RecordDifference(const DifferenceRecord& record, bool firstInRow) override;
  void EndItem(int item) override;

 private:
  struct Sum {
    std::string name;
    std::string caption;
    double stored = 0;
    double recomputed = 0;
  };
  ReportScreen& screen_;
  std::map<int, std::map<int, Sum>> sums_;  // item -> column index -> sums
};

}  // namespace tallyvet
