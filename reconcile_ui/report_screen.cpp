#include "reconcile_ui/report_screen.h"

#include <exception>
#include <set>
#include <stdexcept>

#include "db/value.h"
#include "ledger_engine/causes.h"
#include "ledger_engine/check_items.h"
#include "ledger_engine/compare_rows.h"
#include "ledger_engine/document_lines.h"
#include "shell/progress_screen.h"

namespace tallyvet {

namespace {

constexpr std::array<std::string_view, 5> kButtonCaptions = {"重新登记汇总数", "查看单据明细",
                                                             "退出", "全选", "查看图表报告"};

constexpr const char* kRowSavepoint = "tallyvet_register_row";
constexpr const char* kLockSavepoint = "tallyvet_register_lock";
constexpr const char* kRegistrationSavepoint = "tallyvet_registration";

double NumberIn(const std::string& text) {
  return db::Value(text).AsDouble();
}

std::string_view DetailSelectPrefix(int item) {
  switch (item) {
    case 4:
      return "SELECT strDate,lngVoucherTypeID,Lpad(intVoucherNO,4,'0'),";
    case 6:
      return "SELECT ItemActivity.strDate,lngReceiptTypeID,ltrim(strReceiptNO) || "
             "Lpad(lngReceiptNO,4,'0'),";
    default:
      return "SELECT strDate,lngReceiptTypeID,ltrim(strReceiptNO) || Lpad(lngReceiptNO,4,'0'),";
  }
}

}  // namespace

std::string DocumentDetailSql(std::string_view selectSql, int item, std::string_view condition) {
  return DocumentLinesStatement(selectSql, item, condition, DetailSelectPrefix(item));
}

ReportScreen::ReportScreen(HostContext& ctx, MessageBox& messages,
                           std::filesystem::path reportFolder, const LauncherTexts& launcher,
                           int maxDetailRows)
    : ctx_(ctx),
      messages_(messages),
      reportFolder_(std::move(reportFolder)),
      maxDetailRows_(maxDetailRows) {
  for (Grid* grid : {&grdDiff_, &grdTotal_}) {
    for (int col = 0; col <= 3; ++col) grid->SetColWidth(col, 0);
    grid->SetRows(1);
  }
  grdDiff_.Visible = true;
  grdTotal_.Visible = false;
  lblUser_ = launcher.userLine + " " + launcher.accountLine;
  lblDate_ = "期间:" + launcher.startPeriod + "—" + launcher.endPeriod;
}

void ReportScreen::Refresh() {
  if (hooks_.refresh) hooks_.refresh();
}

void ReportScreen::WriteReport(const std::string& strKeyDesc, const std::string& strFieldDesc,
                               double dblTotalAmount, double dblListAmount, int tbl, int rows,
                               int col, const std::string& condition,
                               const std::string& strFieldName) {
  const bool summary = tbl <= 0;
  Grid& grid = summary ? grdTotal_ : grdDiff_;
  std::int32_t& counter = summary ? summaryRowCounter_ : detailRowCounter_;
  lastDetailRow_ = 0;
  if (!summary && grdDiff_.Rows() >= maxDetailRows_) return;
  if (grid.Rows() - 1 < counter) grid.SetRows(grid.Rows() + 1);
  const int row = counter;
  grid.SetText(row, 0, std::to_string(tbl));
  grid.SetText(row, 1, std::to_string(col));
  grid.SetText(row, 2, condition);
  grid.SetText(row, 3, strFieldName);
  grid.SetText(row, 4, strKeyDesc);
  grid.SetText(row, 5, strFieldDesc);
  grid.SetText(row, 6, db::RoundedText(dblTotalAmount));
  grid.SetText(row, 7, db::RoundedText(dblListAmount));
  grid.SetText(row, 8, db::RoundedText(dblTotalAmount - dblListAmount));
  grid.SetRowHeight(row, grid.RowHeight(0) * rows);
  ++counter;
  if (!summary) {
    lastDetailRow_ = row;
    // A row written again belongs to a new run.
    causes_.erase(row);
    keys_.erase(row);
    compared_[row] = ComparedValue{dblTotalAmount, std::nullopt};
  }
}

void ReportScreen::WriteComparedRow(const DifferenceRecord& record) {
  if (lastDetailRow_ <= 0) return;
  if (record.cause) causes_[lastDetailRow_] = record.cause;
  keys_[lastDetailRow_] = record.keys;
  compared_[lastDetailRow_].rowHeld = record.side != RowSide::kRecomputedOnly;
}

const std::vector<KeyValue>& ReportScreen::RowKeys(int row) const {
  static const std::vector<KeyValue> none;
  const auto found = keys_.find(row);
  return found == keys_.end() ? none : found->second;
}

CorrectionStatements ReportScreen::CorrectionOfRow(int row, int item) const {
  const auto found = compared_.find(row);
  // A row the comparison did not write (a host's own WriteReport call) is guarded by the stored
  // figure it shows.
  const ComparedValue compared = found != compared_.end()
                                     ? found->second
                                     : ComparedValue{NumberIn(grdDiff_.Text(row, 6)), std::nullopt};
  return BuildCorrection(ctx_.CheckItems, item, grdDiff_.Text(row, 2), grdDiff_.Text(row, 3),
                         grdDiff_.Text(row, 8), compared);
}

const DifferenceCause* ReportScreen::SelectedCause() const {
  if (grdDiff_.Row < 1 || grdDiff_.Row >= grdDiff_.Rows()) return nullptr;
  const auto found = causes_.find(grdDiff_.Row);
  return found == causes_.end() ? nullptr : found->second.get();
}

std::string ReportScreen::lblCause() const {
  const DifferenceCause* cause = SelectedCause();
  if (cause == nullptr) return {};
  return std::string("原因：") + CauseKindCaption(cause->kind) + "。" + cause->text;
}

void ReportScreen::Option1Click(int index) {
  option_ = index;
  const bool summary = index == 0;
  grdDiff_.Visible = !summary;
  grdTotal_.Visible = summary;
  enabled_ = {!summary, !summary, true, !summary, true};
  Refresh();
}

std::string ReportScreen::CmdRptCaption(int index) const {
  return std::string(kButtonCaptions.at(static_cast<std::size_t>(index)));
}

bool ReportScreen::CmdRptEnabled(int index) const {
  return enabled_.at(static_cast<std::size_t>(index)) && (index != 4 || page_.has_value());
}

void ReportScreen::SetPage(ReportPageData page) {
  page_ = std::move(page);
  Refresh();
}

std::filesystem::path ReportScreen::ShowReportPage() {
  if (!page_) throw std::logic_error("the report screen has no page yet");
  const std::filesystem::path file = reportFolder_ / "Compare.html";
  WriteReportPage(file, BuildReportPage(*page_));
  if (hooks_.openPage) hooks_.openPage(file);
  return file;
}

void ReportScreen::CmdRptClick(int index) {
  if (!CmdRptEnabled(index)) return;
  try {
    switch (index) {
      case 0:
        RegisterCorrections();
        break;
      case 1:
        ShowDocumentDetail();
        break;
      case 2:
        detail_.reset();
        if (hooks_.unload) hooks_.unload();
        break;
      case 3:
        SelectAll();
        break;
      case 4:
        ShowReportPage();
        break;
      default:
        break;
    }
  } catch (const std::exception& e) {
    // An event handler is the last place an error can be told to the user; the grid keeps what
    // the operation did before it stopped.
    messages_.Show(e.what(), std::string(kCaption), MessageIcon::Error);
  }
}

bool ReportScreen::CanMark(int row) const {
  if (row < 1 || row >= grdDiff_.Rows()) return false;
  const double item = NumberIn(grdDiff_.Text(row, 0));
  return item > 0 && item != 6;
}

void ReportScreen::ToggleMark(int row) {
  grdDiff_.SetText(row, 9, grdDiff_.Text(row, 9).empty() ? std::string(kMark) : std::string());
}

void ReportScreen::SelectAll() {
  for (int row = 1; row < grdDiff_.Rows(); ++row) {
    if (CanMark(row)) ToggleMark(row);
  }
  Refresh();
}

void ReportScreen::GrdDiffClick(int row, int col) {
  if (row < 1 || row >= grdDiff_.Rows()) return;
  grdDiff_.Row = row;
  if (col == 9 && CanMark(row)) ToggleMark(row);
  Refresh();
}

std::vector<std::pair<int, CorrectionStatements>> ReportScreen::PlannedCorrections() const {
  std::vector<std::pair<int, CorrectionStatements>> planned;
  for (int row = 1; row < grdDiff_.Rows(); ++row) {
    if (grdDiff_.Text(row, 9) != kMark) continue;
    const auto item = static_cast<std::int16_t>(db::Value(grdDiff_.Text(row, 0)).AsInteger());
    if (item <= 0 || item > 6) continue;
    planned.emplace_back(row, CorrectionOfRow(row, item));
  }
  return planned;
}

RegistrationSummary ReportScreen::RegisterCorrections() {
  RegistrationSummary summary;
  const std::string caption(kCaption);
  if (!messages_.AskYesNo(std::string(kConfirmation), caption)) {
    lastRegistration_ = summary;
    return summary;
  }
  summary.confirmed = true;
  CorrectionJournal journal(reportFolder_, ctx_.user);
  db::Connection& conn = ctx_.conn();
  // The grid as it was, for the rows whose registration does not stand after all.
  const Grid before = grdDiff_;
  std::optional<db::WriteUnit> transaction;
  // One short transaction for all rows (or a savepoint in the caller's), opened only now that the
  // question is answered and closed before the closing message: nothing is held on the account
  // set while a person reads.
  const auto rollBack = [&](const std::string& why) {
    summary.rolledBack = why;
    if (transaction) {
      try {
        transaction->Rollback();
      } catch (const db::Error&) {
        // Rolling back a transaction the database has already ended or lost is all that failed.
      }
    }
  };
  try {
    transaction.emplace(conn, kRegistrationSavepoint);
  } catch (const db::Error& e) {
    summary.rolledBack = e.message();
  }
  // Each ledger is locked at its first row, so that the host's own re-registration of a date
  // waits for the registration rather than inserting the rows it inserts as well. A ledger that
  // stays locked by another session fails its own rows only.
  std::map<std::string, std::string> lockRefused;  // ledger table -> why
  std::set<std::string> locked;
  const auto lock = [&](const std::string& table) -> std::string {
    if (locked.count(table) != 0) return {};
    if (const auto refused = lockRefused.find(table); refused != lockRefused.end()) {
      return refused->second;
    }
    db::WriteUnit attempt(conn, kLockSavepoint);
    try {
      conn.Execute(LockTableSql(table));
      attempt.Commit();
      locked.insert(table);
      return {};
    } catch (const db::Error& e) {
      attempt.Rollback();
      return lockRefused[table] = e.message();
    }
  };
  for (int row = 1; row < grdDiff_.Rows() && summary.rolledBack.empty(); ++row) {
    if (grdDiff_.Text(row, 9) != kMark) continue;
    const auto item = static_cast<std::int16_t>(db::Value(grdDiff_.Text(row, 0)).AsInteger());
    grdDiff_.SetText(row, 9, std::string(kError));
    if (item > 0) {
      ++summary.statements;
      RegistrationSummary::Row outcome{row, RegistrationStatus::kFailed, {}};
      // Each row stands alone: a statement the database refuses takes back only its own row.
      std::optional<db::WriteUnit> rowUnit;
      try {
        const CorrectionStatements c = CorrectionOfRow(row, item);
        if (const std::string refused = lock(c.table); !refused.empty()) throw db::Error(refused);
        rowUnit.emplace(conn, kRowSavepoint);
        outcome.status = journal.Register(conn, row, c);
        rowUnit->Commit();
      } catch (const db::Error& e) {
        // One refused statement must not hide the rest: the row keeps "错误", the message is
        // kept for the closing message, and the loop goes on.
        outcome.error = e.message();
        if (rowUnit && transaction->Open()) {
          try {
            rowUnit->Rollback();
          } catch (const db::Error& undo) {
            rollBack(e.message() + "; " + undo.message());
          }
        }
        // The database ended the transaction itself (a full disk, a lost link): nothing stands.
        if (!transaction->Open() && summary.rolledBack.empty()) rollBack(e.message());
      } catch (const std::out_of_range& e) {
        // An item number without a ledger (not one the comparison writes): the row's own fault.
        outcome.error = e.what();
      }
      if (!outcome.error.empty() && summary.firstError.empty()) summary.firstError = outcome.error;
      if (outcome.status == RegistrationStatus::kRegistered) {
        grdDiff_.SetText(row, 6, grdDiff_.Text(row, 7));
        grdDiff_.SetText(row, 8, "0");
        grdDiff_.SetText(row, 9, "");
      } else if (outcome.status == RegistrationStatus::kChanged) {
        grdDiff_.SetText(row, 9, std::string(kChanged));
      }
      summary.rows.push_back(std::move(outcome));
    }
    grdDiff_.Row = row;
    grdDiff_.TopRow = row;
    grdDiff_.WholeRowSelected = true;
    Refresh();
  }
  if (summary.rolledBack.empty()) {
    try {
      // The undo script is on disk before the changes it undoes are committed.
      journal.WriteUndoScript();
      transaction->Commit();
    } catch (const db::Error& e) {
      summary.rolledBack = "the changes could not be committed: " + e.message();
    }
  }
  if (!summary.rolledBack.empty()) {
    rollBack(summary.rolledBack);
    // Nothing stands: every row the loop reached keeps its figures and is marked "错误".
    for (RegistrationSummary::Row& r : summary.rows) {
      for (int col = 6; col <= 8; ++col) grdDiff_.SetText(r.row, col, before.Text(r.row, col));
      grdDiff_.SetText(r.row, 9, std::string(kError));
      r.status = RegistrationStatus::kFailed;
    }
    if (journal.Started()) journal.Discard("rolled back: " + summary.rolledBack);
    Refresh();
  } else {
    journal.Finish();
  }
  for (const RegistrationSummary::Row& r : summary.rows) {
    if (r.status == RegistrationStatus::kRegistered) ++summary.registered;
    if (r.status == RegistrationStatus::kChanged) ++summary.changed;
    if (r.status == RegistrationStatus::kFailed) ++summary.failed;
  }
  if (journal.Started()) {
    summary.journal = journal.JournalPath();
    if (summary.rolledBack.empty()) summary.undoScript = journal.UndoPath();
  }
  lastRegistration_ = summary;
  if (!summary.rolledBack.empty()) {
    messages_.Show(std::string(kNothingRegistered) + summary.rolledBack, caption,
                   MessageIcon::Error);
  } else if (summary.statements == 0) {
    messages_.Show(std::string(kNothingMarked), caption, MessageIcon::Error);
  } else if (summary.failed == 0 && summary.changed == 0) {
    messages_.Show(std::string(kRegistered), caption, MessageIcon::Information);
  } else {
    std::string text(kRegistered);
    if (summary.changed > 0) {
      text += "\r\n" + std::to_string(summary.changed) + "条记录在对账后已变动，未登记，标为\"" +
              std::string(kChanged) + "\"，请重新对账";
    }
    if (summary.failed > 0) {
      text += "\r\n" + std::to_string(summary.failed) + "条记录未能登记，仍标为\"错误\"";
      if (!summary.firstError.empty()) text += "：" + summary.firstError;
    }
    messages_.Show(text, caption, MessageIcon::Warning);
  }
  return summary;
}

void ReportScreen::ShowDocumentDetail() {
  const int row = grdDiff_.Row;
  if (row < 1 || row >= grdDiff_.Rows() || NumberIn(grdDiff_.Text(row, 0)) <= 0) return;
  const auto item = static_cast<int>(db::Value(grdDiff_.Text(row, 0)).AsInteger());
  const std::string sql = DocumentDetailSql(ctx_.CheckItems.SelectSql[CheckItemTable::Index(item)],
                                            item, grdDiff_.Text(row, 2));
  const int col = static_cast<int>(db::Value(grdDiff_.Text(row, 1)).AsInteger()) + 3;
  detail_ = std::make_unique<DetailListScreen>(ctx_);
  detail_->LoadData(sql, col);
  if (const DifferenceCause* cause = SelectedCause(); cause && !cause->documents.empty()) {
    std::vector<std::string> numbers;
    std::vector<std::int64_t> withdrawn;
    for (const NamedDocument& d : cause->documents) {
      numbers.push_back(d.no);
      if (cause->kind == CauseKind::kWithdrawn && !d.voucher) withdrawn.push_back(d.id);
    }
    if (!withdrawn.empty()) {
      detail_->AppendData(NamedDocumentLinesStatement(ctx_.CheckItems, item, grdDiff_.Text(row, 2),
                                                      withdrawn, DetailSelectPrefix(item)),
                          col);
    }
    detail_->MarkDocuments(numbers);
  }
  if (hooks_.showDetailList) hooks_.showDetailList(*detail_);
}

void ReportScreenSink::RecordDifference(const DifferenceRecord& record, bool /*firstInRow*/) {
  screen_.WriteReport(record.keyDescription, record.columnCaption, record.storedValue,
                      record.recomputedValue, record.item, record.keyCount, record.columnIndex,
                      record.condition, record.columnName);
  screen_.WriteComparedRow(record);
  Sum& sum = sums_[record.item][record.columnIndex];
  sum.name = record.columnName;
  sum.caption = record.columnCaption;
  sum.stored += record.storedValue;
  sum.recomputed += record.recomputedValue;
}

void ReportScreenSink::EndItem(int item) {
  const auto found = sums_.find(item);
  if (found == sums_.end()) return;
  for (const auto& [column, sum] : found->second) {
    screen_.WriteReport(ItemCheckBoxCaption(item - 1), sum.caption, sum.stored, sum.recomputed,
                        -item, 1, column, "", sum.name);
  }
  sums_.erase(found);
}

}  // namespace tallyvet
