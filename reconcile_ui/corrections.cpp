#include "reconcile_ui/corrections.h"

#include <algorithm>
#include <cerrno>
#include <memory>
#include <system_error>

#include "ledger_engine/check_items.h"
#include "ledger_engine/key_conditions.h"
#include "ledger_engine/report_file.h"

namespace tallyvet {

namespace {

// The condition that finds the row an INSERT made: its key columns equal to its key values. Falls
// back on the ledger-side condition when the lists do not pair up.
std::string InsertedRowCondition(const CorrectionStatements& c) {
  const std::vector<std::string> columns = SplitSqlList(c.keyColumns);
  const std::vector<std::string> values = SplitSqlList(c.keyValues);
  if (columns.empty() || columns.size() != values.size()) return c.condition;
  std::string condition;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    condition += (i ? " AND " : "") + columns[i] + "=" + values[i];
  }
  // The keys the INSERT left to their default must be 0 too, or the DELETE would reach rows that
  // differ from the inserted one only there.
  if (!c.zeroKeyTerms.empty()) condition += " AND " + c.zeroKeyTerms;
  return condition;
}

}  // namespace

std::string CorrectionUpdateSql(std::string_view table, std::string_view field,
                                std::string_view amount, std::string_view condition) {
  std::string sql = "UPDATE ";
  sql.append(table).append(" SET ").append(field).append("=").append(field).append("+(");
  sql.append(amount).append(") ").append("WHERE ").append(condition);
  return sql;
}

std::string CorrectionInsertSql(std::string_view table, std::string_view keyColumns,
                                std::string_view field, std::string_view keyValues,
                                std::string_view amount) {
  std::string sql = "INSERT INTO ";
  sql.append(table).append("(").append(keyColumns).append(",").append(field);
  sql.append(") VALUES (").append(keyValues).append(",").append(amount).append(")");
  return sql;
}

const char* RegistrationStatusName(RegistrationStatus status) {
  switch (status) {
    case RegistrationStatus::kChanged:
      return "changed";
    case RegistrationStatus::kFailed:
      return "failed";
    case RegistrationStatus::kRegistered:
      break;
  }
  return "registered";
}

CorrectionStatements BuildCorrection(const CheckItemTable& items, int item,
                                     std::string_view condition, const std::string& field,
                                     std::string_view difference,
                                     const std::optional<ComparedValue>& compared) {
  CorrectionStatements c;
  c.item = item;
  c.table = items.LedgerTable[CheckItemTable::Index(item)];
  c.field = field;
  c.condition = SplitCondition(condition, c.keyColumns, c.keyValues);
  if (item == 5) {
    // The comparison leaves item 5's numeric keys out of the condition when they are 0; without
    // them the UPDATE would also change every ledger row that differs from this one only in such
    // a key. They are put back, null-safe, so the correction touches the difference's row alone.
    const std::vector<std::string> present = SplitSqlList(c.keyColumns);
    for (const std::string& key : SplitSqlList(items.KeyColumns[CheckItemTable::Index(5)])) {
      if (key.empty() || std::find(present.begin(), present.end(), key) != present.end()) continue;
      c.zeroKeyTerms += (c.zeroKeyTerms.empty() ? "NVL(" : " AND NVL(") + key + ",0)=0";
    }
    if (!c.zeroKeyTerms.empty()) {
      c.condition += (c.condition.empty() ? "" : " AND ") + c.zeroKeyTerms;
    }
    c.keyColumns = ReplaceRepeatedName(c.keyColumns, UpperAscii("lngOrganizationID"),
                                       UpperAscii("lngSourceOrganizationID"));
  }
  double amount = -db::Value(difference).AsDouble();
  if (amount == 0) amount = 0;  // never "-0"
  c.amount = db::FormatDouble(amount);
  if (!compared) {
    c.update = CorrectionUpdateSql(c.table, c.field, c.amount, c.condition);
    c.insert = CorrectionInsertSql(c.table, c.keyColumns, c.field, c.keyValues, c.amount);
    return c;
  }
  c.guarded = true;
  const std::string guard = StillHoldsCondition(c.field, compared->stored);
  c.update = CorrectionUpdateSql(c.table, c.field, c.amount,
                                 c.condition.empty() ? guard : c.condition + " AND " + guard);
  // A row the ledger held when it was compared and no longer holds was taken away since: putting
  // back just its difference would make a row of a difference alone.
  if (!compared->rowHeld.value_or(false)) {
    c.insert =
        InsertWhereAbsentSql(c.table, c.keyColumns + "," + c.field, c.keyValues + "," + c.amount,
                             c.condition.empty() ? "1=1" : c.condition);
  }
  return c;
}

CorrectionJournal::CorrectionJournal(std::filesystem::path folder, std::string owner,
                                     std::string stamp)
    : journal_(std::move(folder), "Correction", "correction journal", std::move(owner),
               std::move(stamp)) {}

RegistrationStatus CorrectionJournal::Register(db::Connection& conn, int row,
                                               const CorrectionStatements& c) {
  const db::StatementScope registering(db::Purpose::kRegister, c.item);
  journal_.Start();
  const auto Write = [this](const std::string& text) { journal_.Write(text); };
  Write("\n-- row " + std::to_string(row) + ": item " + std::to_string(c.item) + ", " + c.table +
        "." + c.field + ", amount " + c.amount + "\n");
  const std::string before = "SELECT " + c.field + " FROM " + c.table + " WHERE " + c.condition;
  Write("-- before: " + before + "\n");
  std::vector<db::Value> old;
  std::vector<std::string> restore;
  try {
    const db::StatementScope journalling(db::Purpose::kJournal);
    std::unique_ptr<db::Recordset> rs = conn.OpenResultset(before, 3);
    while (!rs->Eof()) {
      old.push_back(rs->Fields()[0].Value());
      rs->MoveNext();
    }
    rs->Close();
    bool same = true;
    for (const db::Value& v : old) same = same && v == old.front();
    if (!old.empty() && same) {
      restore.push_back("UPDATE " + c.table + " SET " + c.field + "=" + SqlLiteral(old.front()) +
                        " WHERE " + c.condition);
    } else if (!old.empty()) {
      // Rows under one condition with different values: only whole rows put them back exactly.
      restore.push_back("DELETE FROM " + c.table + " WHERE " + c.condition);
      for (std::string& insert : RowsAsInserts(conn, c.table, c.condition)) {
        restore.push_back(std::move(insert));
      }
    }
  } catch (const db::Error& e) {
    Write("--   failed: " + e.message() + "\n");
    throw;
  }
  if (old.empty()) Write("--   (no row)\n");
  for (const db::Value& v : old) Write("--   " + SqlLiteral(v) + "\n");

  const auto run = [&](const std::string& sql) { return ExecuteJournalled(conn, &journal_, sql); };
  if (run(c.update) != 0) {
    if (restore.empty()) {
      // Rows appeared between the look and the UPDATE: take the amount back off instead.
      restore.push_back(CorrectionUpdateSql(c.table, c.field, "-(" + c.amount + ")", c.condition));
    }
    journal_.AddUndo(std::move(restore));
    return RegistrationStatus::kRegistered;
  }
  const auto changed = [&] {
    Write(
        "-- changed since compared: the ledger no longer holds what the comparison read; not "
        "registered\n");
    return RegistrationStatus::kChanged;
  };
  // A guarded UPDATE that found the row but not the value compared: somebody wrote it since.
  if (c.guarded && !old.empty()) return changed();
  if (c.insert.empty()) return changed();
  const std::int64_t inserted = run(c.insert);
  if (inserted > 0)
    journal_.AddUndo({"DELETE FROM " + c.table + " WHERE " + InsertedRowCondition(c)});
  if (c.guarded && inserted == 0) return changed();
  return inserted == 1 ? RegistrationStatus::kRegistered : RegistrationStatus::kFailed;
}

}  // namespace tallyvet
