#include "ledger_engine/reregistration.h"

#include <exception>
#include <string>

#include "db/error.h"
#include "ledger_engine/check_items.h"
#include "ledger_engine/comparison.h"
#include "ledger_engine/derivation.h"
#include "ledger_engine/journal.h"
#include "ledger_engine/key_conditions.h"

namespace tallyvet {

namespace {

constexpr const char* kSavepoint = "tallyvet_reregister";

void WaitForStatement(db::Connection& conn, ProgressStepper& stepper) {
  while (conn.StillExecuting()) stepper.Step();
}

std::int64_t CountRows(db::Connection& conn, const std::string& sql) {
  const db::StatementScope counting(db::Purpose::kCount);
  auto rs = conn.OpenResultset("SELECT COUNT(*) FROM (" + sql + ")", 3);
  const std::int64_t n = rs->Eof() ? 0 : rs->Fields()[0].Value().AsInteger();
  rs->Close();
  return n;
}

}  // namespace

std::optional<int> LedgerKindItem(const std::string& kind) {
  if (kind == "库存") return 2;
  return std::nullopt;
}

std::optional<bool> ReRegisterLedgers(HostContext& ctx, ProgressScreen& screen,
                                      const std::string& kind, const std::string& beginDate,
                                      const std::string& endDate, std::string* error) {
  const std::optional<int> item = LedgerKindItem(kind);
  if (!item) return std::nullopt;
  return ReRegisterLedger(ctx, screen, *item, beginDate, endDate, error);
}

bool ReRegisterLedger(HostContext& ctx, ProgressScreen& screen, int item,
                      const std::string& beginDate, const std::string& endDate,
                      std::string* error) {
  const RebuildOutcome outcome = RebuildLedger(ctx, screen, item, beginDate, endDate);
  if (error) *error = outcome.error;
  return outcome.rebuilt;
}

RebuildOutcome RebuildLedger(HostContext& ctx, ProgressScreen& screen, int item,
                             const std::string& beginDate, const std::string& endDate,
                             const RebuildOptions& options) {
  const db::StatementScope rebuilding(db::Purpose::kRebuild, item);
  RebuildOutcome outcome;
  db::Connection* conn = nullptr;
  bool inSavepoint = false;
  std::optional<ChangeJournal> journal;
  // Re-registration fails quietly by design: the outcome says why and the caller decides what to
  // show. The ledger rows go back to what they were before the DELETE.
  const auto fail = [&](const std::string& message) {
    outcome.error = message;
    if (inSavepoint) {
      try {
        conn->Execute(std::string("ROLLBACK TO ") + kSavepoint);
        conn->Execute(std::string("RELEASE ") + kSavepoint);
      } catch (const db::Error& undo) {
        // Nothing more can be done here; the caller hears of both failures.
        outcome.error += "; restoring the ledger failed too: " + undo.message();
      }
    }
    if (journal && journal->Started()) {
      try {
        journal->Write("-- failed: " + outcome.error +
                       "\n-- nothing changed: the savepoint was "
                       "rolled back to\n");
        journal->Finish();
      } catch (const std::exception&) {
        // The rebuild's own failure is the one to report.
      }
    }
    return outcome;
  };
  try {
    conn = &ctx.conn();
    CheckItemTable& items = ctx.CheckItems;
    const std::size_t i = CheckItemTable::Index(item);
    // A statement the derivation refused never reaches the DELETE.
    RequireRunnableStatement(items, item);
    const std::string table = UpperAscii(items.LedgerTable[i]);
    ProgressStepper stepper(screen);

    screen.SetNotes("正在准备数据...");
    const std::string range = DateRangeCondition("strDate", beginDate, endDate);
    // The range is joined with AND to the condition in front of each GROUP BY, subqueries too.
    std::string sql =
        ReplaceAll(UpperAscii(items.SelectSql[i]), "GROUP BY", " AND " + range + " GROUP BY");
    // The same query restricted to no row: it gives the result's shape without reading data.
    // It runs before the DELETE, so that a statement that cannot run costs no ledger row.
    const std::string probe =
        ReplaceAll(UpperAscii(sql), "GROUP BY", " AND strDate>'9999-12-31' GROUP BY");
    {
      const db::StatementScope probing(db::Purpose::kProbe);
      auto rs = conn->OpenResultset(probe, 3, 3);
      items.InsertColumns[i] = MatchInsertColumns(*rs, items, item, sql);
      if (const auto left = ColumnsLeftOut(*rs, items.InsertColumns[i]); !left.empty()) {
        outcome.notices.push_back(ColumnsLeftOutNotice(item, left, "rebuild"));
      }
      rs->Close();
    }
    const std::string deleteSql = "DELETE FROM " + table + " NOLOGGING WHERE " + range;
    const std::string insertSql =
        "INSERT INTO /*+ APPEND */ " + table + " NOLOGGING (" + items.InsertColumns[i] + ") " + sql;
    outcome.rowsHeld = CountLedgerRows(ctx, item, beginDate, endDate);
    if (options.dryRun) {
      outcome.rowsInserted = CountRows(*conn, sql);
      return outcome;
    }

    if (!options.journalFolder.empty()) {
      // The rows about to be deleted are on disk, with the script that puts them back, before
      // the DELETE runs.
      journal.emplace(options.journalFolder, "Rebuild", "ledger rebuild journal", ctx.user);
      journal->Start();
      journal->Write("-- " + table + ", " + std::to_string(outcome.rowsHeld) + " row(s) from '" +
                     beginDate + "' to '" + endDate +
                     "' replaced; they are kept in the undo script\n" + deleteSql + ";\n" +
                     insertSql + ";\n");
      std::vector<std::string> restore = {"DELETE FROM " + table + " WHERE " + range};
      for (std::string& row : RowsAsInserts(*conn, table, range)) restore.push_back(std::move(row));
      journal->AddUndo(std::move(restore));
      journal->WriteUndoScript();
      outcome.journal = journal->JournalPath();
      outcome.undoScript = journal->UndoPath();
    }

    // The DELETE and the INSERT stand or fall together: a savepoint neither commits nor ends the
    // host's own transaction, and rolling back to it brings back the rows the DELETE removed.
    conn->Execute(std::string("SAVEPOINT ") + kSavepoint);
    inSavepoint = true;
    conn->Execute(deleteSql);
    WaitForStatement(*conn, stepper);

    screen.SetNotes("正在登记账表...");
    conn->Execute(insertSql);
    WaitForStatement(*conn, stepper);
    outcome.rowsInserted = conn->RowsAffected();

    conn->Execute(std::string("RELEASE ") + kSavepoint);
    inSavepoint = false;
    outcome.rebuilt = true;
    if (journal) {
      try {
        journal->Write("-- rows inserted: " + std::to_string(outcome.rowsInserted) + "\n");
        journal->Finish();
      } catch (const std::exception& e) {
        // The ledger is rebuilt and the undo script was whole before it was touched; only the
        // journal's closing lines are missing, and the caller says so.
        outcome.notices.push_back(std::string("the journal could not be finished: ") + e.what());
      }
    }
    return outcome;
  } catch (const db::Error& e) {
    return fail(e.message());
  } catch (const std::exception& e) {
    // No connection, an item outside 1 to 6, a refused statement, a journal that cannot be
    // written: also a failed rebuild, not a crash of the caller.
    return fail(e.what());
  }
}

}  // namespace tallyvet
