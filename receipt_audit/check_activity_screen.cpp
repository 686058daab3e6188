#include "receipt_audit/check_activity_screen.h"

#include <exception>
#include <utility>

#include "db/error.h"
#include "db/text.h"
#include "db/value.h"
#include "ledger_engine/check_items.h"
#include "ledger_engine/derivation.h"
#include "ledger_engine/key_conditions.h"
#include "ledger_engine/reregistration.h"

namespace tallyvet::receipt_audit {

namespace {

constexpr const char* kErrorTitle = "错误";
constexpr const char* kAdjustingNotes = "正在调整数据....";
constexpr const char* kAverageCostNotes = "正在更新平均成本....";
constexpr const char* kReRegisterNotes = "正在登记库存账表....";
constexpr const char* kStockKind = "库存";
constexpr const char* kOpenEnd = "9999-12-31";
constexpr const char* kCrLf = "\r\n";

// Header texts as the design pads them; the padding only sizes the columns.
constexpr std::array<const char*, kGridColumns> kHeaderTexts = {
    "", "", "项目", "成本金额", "平均成本", "差额", "调整"};
constexpr std::array<int, kGridColumns> kHeaderPadding = {0, 0, 36, 6, 5, 12, 0};

// Twips a display cell takes in the grid's 9 pt font: a blank or a Latin letter fills one, a
// Chinese character two.
constexpr int kCellWidth = 90;
constexpr int kCellMargins = 120;

constexpr const char* kAdjustmentSavepoint = "tallyvet_adjustment";
constexpr const char* kStockLedger = "PositionDaily";
// Followed by why and where the account set stands.
constexpr const char* kNothingAdjusted = "调整未完成，已全部撤回：";
// The cost columns an adjustment writes, in the order its journal keeps them.
constexpr const char* kLineColumns[] = {"dblAmount", "dblCostAmount", "dblAvgCostAmount"};

// A line's cost columns as they stand (none when the line is gone).
std::vector<db::Value> LineValues(db::Connection& conn, const std::string& lineId) {
  auto rs = conn.OpenResultset(
      "SELECT dblAmount,dblCostAmount,dblAvgCostAmount FROM ItemActivityDetail WHERE "
      "lngActivityDetailID=" +
          lineId,
      3);
  std::vector<db::Value> values;
  if (!rs->Eof()) {
    for (std::size_t i = 0; i < std::size(kLineColumns); ++i) {
      values.push_back(rs->Fields()[i].Value());
    }
  }
  rs->Close();
  return values;
}

// The database's own message where there is one.
std::string MessageOf(const std::exception& e) {
  if (const auto* dbError = dynamic_cast<const db::Error*>(&e)) return dbError->message();
  return e.what();
}

}  // namespace

void CheckGrid::SetRows(int rows) {
  const auto n = static_cast<std::size_t>(rows < 0 ? 0 : rows);
  const int height = rowHeights.empty() ? kHeaderRowHeight : rowHeights.front();
  cells.resize(n);
  rowHeights.resize(n, height);
}

int DesignedColumnWidth(int column) {
  const std::string text = kHeaderTexts.at(static_cast<std::size_t>(column));
  const auto cells = kHeaderPadding.at(static_cast<std::size_t>(column)) + db::DisplayWidth(text);
  return kCellMargins + static_cast<int>(cells) * kCellWidth;
}

CheckActivityScreen::CheckActivityScreen(HostContext& ctx, MessageBox& messages)
    : ctx_(ctx), messages_(messages) {
  grid_.rowHeights = {kHeaderRowHeight};
  grid_.cells.resize(1);
  grid_.SetRows(2);
  for (int c = 0; c < kGridColumns; ++c) {
    grid_.cells[0][static_cast<std::size_t>(c)] = kHeaderTexts[static_cast<std::size_t>(c)];
    grid_.colWidths[static_cast<std::size_t>(c)] = DesignedColumnWidth(c);
  }
  buttons_ = {CommandButton{kCaptionStartCheck, true}, CommandButton{"退出", true},
              CommandButton{"全选", true}};
  progress_.SetNotes("准备数据...");
}

CheckActivityScreen::~CheckActivityScreen() = default;

void CheckActivityScreen::Form_Load() {
  InitCheckItems(ctx_);
  ShowAccountInfo();
}

void CheckActivityScreen::ShowAccountInfo() {
  lblUser_ = "用户名:" + ctx_.user;
  try {
    auto rs = ctx_.conn().OpenResultset("SELECT strUserName,strver FROM Business", 3);
    if (!rs->Eof()) {
      lblUser_ += "    账套名:" + rs->Fields()["strUserName"].Value().AsText();
      const std::string version = rs->Fields()["strVer"].Value().AsText();
      accountSetVersion_ = version.substr(0, db::Utf8Advance(version, 0, 4));
    }
    rs->Close();
  } catch (const std::exception&) {
    // The screen opens all the same: the labels keep what they got, and an unread version counts
    // as one other than "8.10".
  }
  Repaint(Part::Labels);
}

void CheckActivityScreen::cmdRpt_Click(int index) {
  if (closed_) return;
  switch (index) {
    case 0: {
      buttons_[0].enabled = false;
      Repaint(Part::Buttons);
      if (buttons_[0].caption == kCaptionStartCheck) {
        hourglass_ = true;
        Repaint(Part::Pointer);
        if (yield_) yield_();
        const bool ok = RunChecks();
        buttons_[0].caption = ok ? kCaptionStartAdjust : kCaptionStartCheck;
        hourglass_ = false;
        buttons_[0].enabled = true;
        Repaint(Part::Pointer);
        Repaint(Part::Buttons);
      } else if (buttons_[0].caption == kCaptionStartAdjust) {
        hourglass_ = true;
        Repaint(Part::Pointer);
        lastAdjustment_ = RunCostAdjustment();
        // One screen adjusts at most once: the button stays disabled.
        buttons_[0].caption = kCaptionAdjustDone;
        hourglass_ = false;
        Repaint(Part::Pointer);
        Repaint(Part::Buttons);
      }
      break;
    }
    case 1:
      Form_Unload();
      break;
    case 2:
      ToggleMarks();
      break;
    default:
      break;
  }
}

void CheckActivityScreen::Form_Unload() {
  if (closed_) return;
  // The check item table stays as it is; only the dictionary belongs to this screen's run.
  ctx_.dictionary.Release();
  closed_ = true;
  if (close_) close_();
}

void CheckActivityScreen::ToggleMarks() {
  for (int r = 1; r < grid_.Rows(); ++r) {
    auto& row = grid_.cells[static_cast<std::size_t>(r)];
    if (row[0].empty()) continue;
    row[6] = row[6].empty() ? kMark : "";
  }
  Repaint(Part::Grid);
}

void CheckActivityScreen::SetNotes(const std::string& caption) {
  progress_.SetNotes(caption);
  Repaint(Part::Notes);
}

void CheckActivityScreen::ShowProgress(double percent) {
  // Progress is a side show: a failing repaint must never stop the work that reports it.
  try {
    if (progress_.ShowProgress(percent)) Repaint(Part::Notes);
    Repaint(Part::Progress);
  } catch (...) {
  }
}

void CheckActivityScreen::SetHeight(int height) {
  height_ = height;
  Repaint(Part::Layout);
}

bool CheckActivityScreen::RunChecks() {
  lastError_.clear();
  findings_.clear();
  grid_.SetRows(2);
  // Row 1 is emptied too: left over from an earlier run it would be adjusted although no check
  // flagged it this time.
  grid_.cells[1] = {};
  grid_.rowHeights[1] = grid_.rowHeights[0];
  earliestDate_ = kNoEarliestDate;
  int nextRow = 1;
  grid_.colWidths[0] = 0;
  grid_.colWidths[1] = 800;
  grid_.colWidths[2] = DesignedColumnWidth(2) - 800;
  SetHeight(kHeightWorking);
  notesVisible_ = true;
  progress_.SetValue(0);
  progressVisible_ = true;
  Repaint(Part::Progress);
  Repaint(Part::Grid);

  bool ok = true;
  try {
    ProgressStepper stepper(*this);  // the noted time carries over from one check to the next
    for (const ReceiptCheck& check : ReceiptChecks(accountSetVersion_)) {
      if (!check.notesCaption.empty()) SetNotes(std::string(check.notesCaption));
      RunOneCheck(check, stepper, nextRow);
    }
  } catch (const std::exception& e) {
    // The screen reports a stopped run only through its caption going back to "开始检查"; the
    // message is kept for callers that can show it.
    lastError_ = e.what();
    ok = false;
  }
  SetHeight(kHeightResting);
  return ok;
}

void CheckActivityScreen::RunOneCheck(const ReceiptCheck& check, ProgressStepper& stepper,
                                      int& nextRow) {
  db::Connection& conn = ctx_.conn();
  auto rs = conn.OpenResultset(check.sql, 3, 3);
  // First pass: only moves the bar, so that a long fetch shows life before the grid fills.
  if (StepThrough(*rs, stepper) > 0) {
    rs->MoveFirst();
    const db::FieldList& fields = rs->Fields();
    const db::Field idField = fields["lngActivityDetailID"];
    const db::Field dateField = fields["strDate"];
    const db::Field receiptTypeField = fields["lngReceiptTypeID"];
    const db::Field receiptNoField = fields["ReceiptNo"];
    const db::Field itemField = fields["lngItemID"];
    const db::Field positionField = fields["lngPositionID"];
    const db::Field costField = fields["dblCostAmount"];
    const db::Field secondField = fields[check.secondAmount];
    while (!rs->Eof()) {
      StepProgress();
      CheckFinding finding;
      finding.kind = std::string(check.kind);
      finding.costColumns = check.costColumns;
      finding.secondColumns = check.secondColumns;
      finding.strDate = dateField.Value().AsText();
      if (finding.strDate < earliestDate_) earliestDate_ = finding.strDate;

      // Each lookup starts from an empty field name, so the field's own name picks the table.
      std::string name;
      finding.receiptType = ctx_.dictionary.GetFieldText(conn, receiptTypeField, name).AsText();
      finding.receiptNo = receiptNoField.Value().AsText();
      name.clear();
      finding.itemCode = ctx_.dictionary.GetFieldText(conn, itemField, name).AsText();
      name.clear();
      finding.positionCode = ctx_.dictionary.GetFieldText(conn, positionField, name).AsText();
      finding.lngReceiptTypeID = receiptTypeField.Value().AsText();
      finding.lngItemID = itemField.Value().AsText();
      finding.lngPositionID = positionField.Value().AsText();
      std::string description;
      description.reserve(128);
      description.append("日期=").append(finding.strDate).append(kCrLf);
      description.append("业务类型=").append(finding.receiptType).append(kCrLf);
      description.append("单据号=").append(finding.receiptNo).append(kCrLf);
      description.append("物品=").append(finding.itemCode).append(kCrLf);
      description.append("货位=").append(finding.positionCode).append(kCrLf);

      if (grid_.Rows() < nextRow + 1) grid_.SetRows(nextRow + 1);
      const auto r = static_cast<std::size_t>(nextRow);
      grid_.rowHeights[r] = 5 * grid_.rowHeights[0];

      const db::Value cost = costField.Value();
      const db::Value second = secondField.Value();
      finding.lngActivityDetailID = idField.Value().AsText();
      finding.costAmount = cost.AsDouble();
      finding.secondAmount = second.AsDouble();
      finding.difference = db::RoundHalfEven(finding.costAmount - finding.secondAmount, 4);
      finding.gridRow = nextRow;

      CheckGrid::Row& row = grid_.cells[r];
      row[0] = "lngActivityDetailID=" + finding.lngActivityDetailID;
      row[1] = finding.kind;
      row[2] = std::move(description);
      row[3] = cost.AsText();
      row[4] = second.AsText();
      row[5] = NumberText(finding.difference);
      row[6] = kMark;
      findings_.push_back(std::move(finding));
      Repaint(Part::Grid);
      ++nextRow;
      rs->MoveNext();
    }
  }
  rs->Close();
}

const CheckFinding* CheckActivityScreen::FindingOfRow(int gridRow) const {
  for (const CheckFinding& f : findings_) {
    if (f.gridRow == gridRow) return &f;
  }
  return nullptr;
}

AdjustmentOutcome CheckActivityScreen::RunCostAdjustment(const AdjustmentOptions& options) {
  const db::StatementScope adjusting(db::Purpose::kAdjust);
  AdjustmentOutcome outcome;
  SetHeight(kHeightWorking);
  notesVisible_ = true;
  progress_.SetValue(0);
  progressVisible_ = true;
  Repaint(Part::Progress);
  SetNotes(kAdjustingNotes);
  linesBefore_.clear();

  db::Connection& conn = ctx_.conn();
  const CheckGrid gridBefore = grid_;
  const std::string earliestBefore = earliestDate_;
  std::optional<ChangeJournal> journal;
  std::optional<db::WriteUnit> transaction;
  std::string ledgerBefore;
  // The write-backs, the average-cost updates and the stock ledger's rebuild stand or fall
  // together: the documents and the ledger that summarises them never part.
  const auto stop = [&](const std::string& cause) {
    std::string undoFailure;
    if (transaction) {
      try {
        transaction->Rollback();
      } catch (const db::Error& e) {
        undoFailure = e.message();
      }
    }
    // Read again what the adjustment wrote, to say where the account set stands.
    std::optional<bool> asBefore;
    try {
      bool same = true;
      for (const auto& [lineId, values] : linesBefore_) {
        same = same && LineValues(conn, lineId) == values;
      }
      if (!ledgerBefore.empty()) {
        same = same && TableFingerprint(conn, kStockLedger, "1=1") == ledgerBefore;
      }
      asBefore = same;
    } catch (const std::exception& e) {
      undoFailure += (undoFailure.empty() ? "" : "; ") + std::string(e.what());
    }
    std::string state;
    if (asBefore == true) {
      state = "nothing of the adjustment stands (checked: the " +
              std::to_string(linesBefore_.size()) +
              " document line(s) it wrote and the stock ledger are as before)";
    } else {
      state = (asBefore == false ? std::string("the document lines or the stock ledger are NOT "
                                               "as before")
                                 : "whether the document lines and the stock ledger are as "
                                   "before could not be checked (" +
                                       undoFailure + ")") +
              (journal ? "; the undo script " + journal->UndoPath().string() + " puts them back"
                       : std::string());
    }
    outcome.rolledBack = cause + "; " + state;
    if (journal && journal->Started()) {
      try {
        if (asBefore == true) {
          journal->Discard("rolled back: " + *outcome.rolledBack);
        } else {
          journal->Write("-- failed: " + *outcome.rolledBack + "\n");
          journal->Finish();
        }
      } catch (const std::exception&) {
        // The adjustment's own failure is the one to report.
      }
    }
    // The grid shows the lines as they stand: as before, the row that failed marked "错误".
    const std::optional<int> failedRow =
        !outcome.writeBacks.empty() && !outcome.writeBacks.back().ok &&
                !outcome.writeBacks.back().changed && outcome.writeBackError
            ? std::optional<int>(outcome.writeBacks.back().gridRow)
            : std::nullopt;
    grid_ = gridBefore;
    if (failedRow) grid_.cells[static_cast<std::size_t>(*failedRow)][6] = kFailedMark;
    earliestDate_ = earliestBefore;
    Repaint(Part::Grid);
    messages_.Show(std::string(kNothingAdjusted) + *outcome.rolledBack, kErrorTitle,
                   MessageIcon::Error);
  };

  try {
    // Inside the caller's transaction (a preview that rolls it all back): a savepoint.
    transaction.emplace(conn, kAdjustmentSavepoint);
    if (!journalFolder_.empty()) {
      journal.emplace(journalFolder_, "Adjustment", "cost adjustment journal", ctx_.user);
      journal->Start();
      outcome.journal = journal->JournalPath();
      outcome.undoScript = journal->UndoPath();
    }
    if (options.reregister) ledgerBefore = TableFingerprint(conn, kStockLedger, "1=1");
  } catch (const std::exception& e) {
    stop(MessageOf(e));
    SetHeight(kHeightResting);
    return outcome;
  }
  ChangeJournal* log = journal ? &*journal : nullptr;
  bool ok = WriteBackMarkedRows(outcome, log) && UpdateAverageCosts(outcome, log);
  outcome.earliestDate = earliestDate_;
  if (ok && options.reregister) ok = ReRegisterStockLedger(outcome, log);
  if (!ok) {
    stop(outcome.writeBackError        ? *outcome.writeBackError
         : outcome.averageCostError    ? *outcome.averageCostError
         : outcome.reregistrationError ? *outcome.reregistrationError
                                       : std::string("the adjustment failed"));
  } else {
    try {
      // The undo script is on disk before the changes it undoes are committed.
      if (journal) journal->WriteUndoScript();
      transaction->Commit();
      if (journal) journal->Finish();
    } catch (const std::exception& e) {
      stop("the adjustment could not be committed: " + MessageOf(e));
    }
  }
  if (outcome.rolledBack) {
    outcome.reregistered = outcome.reregistrationRan ? std::optional<bool>(false) : std::nullopt;
    outcome.journal = journal && std::filesystem::exists(journal->JournalPath())
                          ? journal->JournalPath()
                          : std::filesystem::path();
    outcome.undoScript = journal && std::filesystem::exists(journal->UndoPath())
                             ? journal->UndoPath()
                             : std::filesystem::path();
  }
  SetHeight(kHeightResting);
  return outcome;
}

void CheckActivityScreen::JournalLine(ChangeJournal* journal, const std::string& lineId,
                                      const std::string& what) {
  std::vector<db::Value> before = LineValues(ctx_.conn(), lineId);
  if (journal != nullptr) {
    std::string text = "\n-- " + what + ", line " + lineId + ", before:";
    for (std::size_t i = 0; i < before.size(); ++i) {
      text += std::string(" ") + kLineColumns[i] + "=" + SqlLiteral(before[i]);
    }
    journal->Write(text + "\n");
    if (!before.empty()) {
      std::string restore = "UPDATE ItemActivityDetail SET ";
      for (std::size_t i = 0; i < before.size(); ++i) {
        restore += std::string(i ? "," : "") + kLineColumns[i] + "=" + SqlLiteral(before[i]);
      }
      journal->AddUndo({restore + " WHERE lngActivityDetailID=" + lineId});
    }
  }
  linesBefore_.emplace_back(lineId, std::move(before));
}

bool CheckActivityScreen::WriteBackMarkedRows(AdjustmentOutcome& outcome, ChangeJournal* journal) {
  db::Connection& conn = ctx_.conn();
  for (int r = 1; r < grid_.Rows(); ++r) {
    CheckGrid::Row& row = grid_.cells[static_cast<std::size_t>(r)];
    if (row[6] != kMark) continue;
    StepProgress();
    std::optional<std::string> sql = WriteBackSql(row[1], row[0], row[3]);
    AdjustmentOutcome::WriteBack written{r, sql.value_or(std::string{}), false, false};
    if (!sql) {
      // A kind no check produces: the row's own fault, as the screen has always shown it.
      row[6] = kFailedMark;
      outcome.writeBacks.push_back(std::move(written));
      Repaint(Part::Grid);
      continue;
    }
    // The line is written only while it still holds what the checks read.
    if (const CheckFinding* f = FindingOfRow(r)) {
      written.statement +=
          LineStillHolds(f->costColumns, f->costAmount, f->secondColumns, f->secondAmount);
    }
    try {
      const std::string lineId = row[0].substr(row[0].find('=') + 1);
      JournalLine(journal, lineId, "write-back of row " + std::to_string(r));
      const std::int64_t touched = ExecuteJournalled(conn, journal, written.statement);
      written.ok = touched != 0;
      written.changed = touched == 0;
    } catch (const std::exception& e) {
      outcome.writeBackError = "write-back of row " + std::to_string(r) + ": " + MessageOf(e);
      outcome.writeBacks.push_back(std::move(written));
      return false;
    }
    if (written.ok) {
      row[4] = row[3];
      row[5].clear();
      row[6].clear();
    } else {
      if (journal != nullptr) {
        journal->Write("-- changed since the check read it: left as it is\n");
      }
      row[6] = kChangedMark;
    }
    outcome.writeBacks.push_back(std::move(written));
    Repaint(Part::Grid);
  }
  return true;
}

bool CheckActivityScreen::UpdateAverageCosts(AdjustmentOutcome& outcome, ChangeJournal* journal) {
  SetNotes(kAverageCostNotes);
  const bool old = IsOldVersion(accountSetVersion_);
  try {
    db::Connection& conn = ctx_.conn();
    auto groups = conn.OpenResultset(AverageCostGroupSql(accountSetVersion_), 3, 3);
    ProgressStepper stepper(*this, /*rounded=*/false);
    if (StepThrough(*groups, stepper) > 0) {
      groups->MoveFirst();
      const db::FieldList& fields = groups->Fields();
      const db::Field yearField = fields["intYear"];
      const db::Field periodField = fields["bytPeriod"];
      const db::Field itemField = fields["lngItemID"];
      const std::optional<db::Field> groupField =
          old ? std::nullopt : std::optional<db::Field>(fields["lngPositionGroupID"]);
      const db::Field sumCostField = fields["dblSumCost"];
      const db::Field sumAvgField = fields["dblSumAvgCost"];
      while (!groups->Eof()) {
        StepProgress();
        CostGroup group{yearField.Value(), periodField.Value(), itemField.Value(),
                        groupField ? groupField->Value() : db::Value{}};
        AdjustmentOutcome::AverageCostUpdate update;
        update.intYear = group.intYear.AsText();
        update.bytPeriod = group.bytPeriod.AsText();
        update.lngItemID = group.lngItemID.AsText();
        update.lngPositionGroupID = group.lngPositionGroupID.AsText();

        auto line = conn.OpenResultset(AbsorbingLineSql(accountSetVersion_, group), 3, 3);
        if (!line->Eof()) {
          update.strDate = line->Fields()["strDate"].Value().AsText();
          update.lngActivityDetailID = line->Fields()["lngActivityDetailID"].Value().AsText();
        }
        const bool found = !line->Eof();
        line->Close();
        if (found) {
          if (update.strDate < earliestDate_) earliestDate_ = update.strDate;
          update.difference = db::RoundHalfEven(
              sumCostField.Value().AsDouble() - sumAvgField.Value().AsDouble(), 2);
          JournalLine(journal, update.lngActivityDetailID, "average cost");
          // The amount was computed from the line's average cost as it stands now: added only
          // while it still does.
          const std::vector<db::Value>& seen = linesBefore_.back().second;
          update.statement = AverageCostUpdateSql(update.difference, update.lngActivityDetailID);
          if (seen.size() == std::size(kLineColumns)) {
            update.statement += " AND " + StillHoldsCondition("dblAvgCostAmount",
                                                              seen[2].AsDouble(), kLineTolerance);
          }
          const std::int64_t touched = ExecuteJournalled(conn, journal, update.statement);
          update.ok = touched != 0;
          update.changed = touched == 0;
        }
        outcome.averageCostUpdates.push_back(std::move(update));
        groups->MoveNext();
      }
    }
    groups->Close();
  } catch (const std::exception& e) {
    outcome.averageCostError = "average-cost update: " + MessageOf(e);
    return false;
  }
  return true;
}

bool CheckActivityScreen::ReRegisterStockLedger(AdjustmentOutcome& outcome,
                                                ChangeJournal* journal) {
  SetNotes(kReRegisterNotes);
  outcome.reregistrationRan = true;
  try {
    InitCheckItems(ctx_);
    DeriveGoodsLedgerSql(ctx_, *this);
    ctx_.dictionary.ResetCodeTextCache();
    RebuildOptions options;
    options.journal = journal;
    const RebuildOutcome rebuilt =
        RebuildLedger(ctx_, *this, *LedgerKindItem(kStockKind), earliestDate_, kOpenEnd, options);
    outcome.reregistered = rebuilt.rebuilt;
    if (!rebuilt.rebuilt) {
      outcome.reregistrationError =
          "stock ledger: " +
          (rebuilt.error.empty() ? std::string("库存账表登记失败") : rebuilt.error);
    }
  } catch (const std::exception& e) {
    outcome.reregistered = false;
    outcome.reregistrationError = "stock ledger: " + MessageOf(e);
  }
  ctx_.dictionary.ReleaseCodeTextCache();
  return !outcome.reregistrationError;
}

}  // namespace tallyvet::receipt_audit
