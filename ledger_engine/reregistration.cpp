#include "ledger_engine/reregistration.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <set>
#include <string>

#include "db/error.h"
#include "ledger_engine/check_items.h"
#include "ledger_engine/comparison.h"
#include "ledger_engine/derivation.h"
#include "ledger_engine/key_conditions.h"

namespace tallyvet {

namespace {

constexpr const char* kSavepoint = "tallyvet_reregister";

void WaitForStatement(db::Connection& conn, ProgressStepper& stepper) {
  while (conn.StillExecuting()) stepper.Step();
}

// The ledger table's own columns, upper-cased, from a query that returns no row.
std::set<std::string> LedgerColumns(db::Connection& conn, const std::string& table) {
  std::set<std::string> columns;
  auto rs = conn.OpenResultset("SELECT * FROM " + table + " WHERE 1=0", 3);
  for (std::size_t i = 0; i < rs->Fields().Count(); ++i) {
    columns.insert(UpperAscii(rs->Fields()[i].Name()));
  }
  rs->Close();
  return columns;
}

// The row count and the totals of `sums` (column expressions) of a query's rows.
struct Figures {
  std::int64_t rows = 0;
  std::vector<double> sums;
};

Figures ReadFigures(db::Connection& conn, const std::string& from,
                    const std::vector<std::string>& sums) {
  std::string sql = "SELECT COUNT(*)";
  for (const std::string& column : sums) sql += ",SUM(" + column + ")";
  auto rs = conn.OpenResultset(sql + " FROM " + from, 3);
  Figures figures;
  if (!rs->Eof()) {
    figures.rows = rs->Fields()[0].Value().AsInteger();
    for (std::size_t i = 0; i < sums.size(); ++i) {
      figures.sums.push_back(rs->Fields()[i + 1].Value().AsDouble());
    }
  }
  rs->Close();
  return figures;
}

bool SameFigures(const Figures& a, const Figures& b) {
  if (a.rows != b.rows || a.sums.size() != b.sums.size()) return false;
  for (std::size_t i = 0; i < a.sums.size(); ++i) {
    if (std::fabs(a.sums[i] - b.sums[i]) > 1e-9 * std::max(1.0, std::fabs(a.sums[i]))) {
      return false;
    }
  }
  return true;
}

// What the range holds, to tell after a failure whether it still does: its rows whole (sorted:
// order is no part of a ledger) when they were read for the undo script anyway, else its row
// count and the totals of its value columns.
struct RangeState {
  std::vector<std::string> rows;
  Figures figures;
};

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
  std::optional<db::WriteUnit> unit;
  bool unitBegun = false;  // the DELETE and INSERT's transaction or savepoint was opened
  std::optional<ChangeJournal> ownJournal;
  ChangeJournal* journal = options.journal;
  std::string table, range;
  std::vector<std::string> valueColumns;  // the ledger's value columns the rebuild fills
  RangeState before;
  bool beforeRead = false;

  // Re-registration fails quietly by design: the outcome says why and the caller decides what to
  // show. The DELETE and INSERT are rolled back, and the range is read again so that the outcome
  // says, checked, where the ledger stands.
  const auto fail = [&](const std::string& message) {
    outcome.error = message;
    std::string undoFailure;
    if (unit) {
      // The database rolled back an enclosing transaction on its own: the savepoint went with
      // it, and so did everything the caller wrote before the rebuild.
      outcome.transactionLost = unit->Nested() && !conn->InTransaction();
      try {
        unit->Rollback();
      } catch (const db::Error& undo) {
        undoFailure = undo.message();
      }
    }
    if (!unitBegun) {
      outcome.unchanged = true;
      outcome.ledgerState = "the ledger is unchanged: nothing was written";
    } else {
      try {
        if (!beforeRead) throw std::runtime_error("its rows were not read before");
        const bool same =
            before.rows.empty()
                ? SameFigures(before.figures,
                              ReadFigures(*conn, table + " WHERE " + range, valueColumns))
                : [&] {
                    std::vector<std::string> now = RowsAsInserts(*conn, table, range);
                    std::sort(now.begin(), now.end());
                    return now == before.rows;
                  }();
        outcome.unchanged = same;
      } catch (const std::exception& check) {
        undoFailure += (undoFailure.empty() ? "" : "; ") + std::string(check.what());
      }
      const std::string rows = std::to_string(outcome.rowsHeld) + " row(s) from '" + beginDate +
                               "' to '" + endDate + "'";
      if (outcome.unchanged == true) {
        outcome.ledgerState =
            std::string(outcome.transactionLost ? "the database rolled back the whole "
                                                  "transaction on its own; "
                                                : "") +
            "the ledger is unchanged (checked: its " + rows + " are as before)";
      } else {
        const std::string undo = journal != nullptr ? journal->UndoPath().string() : "";
        outcome.ledgerState =
            (outcome.unchanged == false
                 ? "the ledger is NOT as it was"
                 : "whether the ledger is as it was could not be checked (" + undoFailure + ")") +
            (undo.empty() ? std::string("; rebuild the range again once the cause is removed")
                          : "; the undo script " + undo + " puts its " + rows + " back");
      }
    }
    if (journal != nullptr && journal->Started()) {
      try {
        journal->Write("-- rebuild failed: " + outcome.error + "\n-- " + outcome.ledgerState +
                       "\n");
        // A journal of its own: nothing of the rebuild stands when the ledger is as before, so
        // no undo script is left to be run by mistake.
        if (ownJournal) {
          if (outcome.unchanged == true) {
            ownJournal->Discard("rolled back");
          } else {
            ownJournal->Finish();
          }
        }
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
    table = UpperAscii(items.LedgerTable[i]);
    ProgressStepper stepper(screen);

    screen.SetNotes("正在准备数据...");
    range = DateRangeCondition("strDate", beginDate, endDate);
    // The range is joined with AND to the condition in front of each GROUP BY, subqueries too.
    std::string sql =
        ReplaceAll(UpperAscii(items.SelectSql[i]), "GROUP BY", " AND " + range + " GROUP BY");
    // The same query restricted to no row: it gives the result's shape without reading data.
    // It runs before the DELETE, so that a statement that cannot run costs no ledger row.
    const std::string probe =
        ReplaceAll(UpperAscii(sql), "GROUP BY", " AND strDate>'9999-12-31' GROUP BY");
    std::string keyList, positions;
    GetKeyColumns(items, item, keyList, positions);
    const std::size_t keyCount = static_cast<std::size_t>(KeyCountFromPositions(positions));
    const std::set<std::string> ledger = LedgerColumns(*conn, table);
    std::vector<std::string> selectFields;  // the fields the rebuild's SELECT gives, in order
    std::vector<std::string> insertNames;   // the INSERT's columns, as matched to those fields
    std::vector<std::string> leftOut;       // the fields the INSERT has no column for
    {
      const db::StatementScope probing(db::Purpose::kProbe);
      auto rs = conn->OpenResultset(probe, 3, 3);
      const std::string hostList = items.InsertColumns[i];
      items.InsertColumns[i] = MatchInsertColumns(*rs, items, item, sql);
      for (std::size_t f = 0; f < rs->Fields().Count(); ++f) {
        selectFields.push_back(rs->Fields()[f].Name());
      }
      insertNames = SplitSqlList(items.InsertColumns[i]);
      leftOut = ColumnsLeftOut(*rs, items.InsertColumns[i]);
      // A field or an INSERT column left out that the ledger has would be emptied in every row of
      // the range; only columns the ledger lacks (an older ledger) may be left out. Named in the
      // statement's order, then the INSERT list's.
      std::vector<std::string>& blank = outcome.blankColumns;
      const auto candidate = [&](const std::string& column) {
        const bool matched =
            std::find(insertNames.begin(), insertNames.end(), column) != insertNames.end();
        if (!matched && ledger.count(column) != 0 &&
            std::find(blank.begin(), blank.end(), column) == blank.end()) {
          blank.push_back(column);
        }
      };
      for (const std::string& field : leftOut) candidate(LedgerColumnOf(UpperAscii(field)));
      for (const std::string& name : SplitSqlList(hostList)) candidate(UpperAscii(name));
      std::vector<std::string> lacking;
      for (const std::string& field : leftOut) {
        if (ledger.count(LedgerColumnOf(UpperAscii(field))) == 0) lacking.push_back(field);
      }
      if (!lacking.empty())
        outcome.notices.push_back(ColumnsLeftOutNotice(item, lacking, "rebuild"));
      rs->Close();
    }
    std::vector<std::string> rebuiltSums;
    for (std::size_t f = keyCount; f < insertNames.size(); ++f) {
      valueColumns.push_back(insertNames[f]);
      rebuiltSums.push_back(selectFields[f]);
    }
    const std::string deleteSql = "DELETE FROM " + table + " NOLOGGING WHERE " + range;
    const std::string insertSql =
        "INSERT INTO /*+ APPEND */ " + table + " NOLOGGING (" + items.InsertColumns[i] + ") " + sql;

    before.figures = ReadFigures(*conn, table + " WHERE " + range, valueColumns);
    outcome.rowsHeld = before.figures.rows;
    std::string blankStop;
    if (!outcome.blankColumns.empty()) {
      std::string where;
      for (std::size_t f = 0; f < leftOut.size() && where.empty(); ++f) {
        where = SourceLineNaming(ctx, item, UpperAscii(leftOut[f]));
      }
      blankStop = ColumnsBlankedMessage(item, outcome.blankColumns, where);
    }
    if (options.dryRun) {
      const Figures rebuilt = ReadFigures(*conn, "(" + sql + ") Q", rebuiltSums);
      outcome.rowsInserted = rebuilt.rows;
      for (std::size_t c = 0; c < valueColumns.size(); ++c) {
        outcome.totals.push_back({valueColumns[c], before.figures.sums.at(c), rebuilt.sums.at(c)});
      }
      if (!outcome.blankColumns.empty()) {
        const Figures blank = ReadFigures(*conn, table + " WHERE " + range, outcome.blankColumns);
        for (std::size_t c = 0; c < outcome.blankColumns.size(); ++c) {
          outcome.totals.push_back({outcome.blankColumns[c], blank.sums.at(c), 0});
        }
        outcome.error = blankStop;
        outcome.unchanged = true;
        outcome.ledgerState = "the ledger is unchanged: a dry run writes nothing";
      }
      return outcome;
    }
    if (!blankStop.empty()) return fail(blankStop);

    if (journal == nullptr && !options.journalFolder.empty()) {
      ownJournal.emplace(options.journalFolder, "Rebuild", "ledger rebuild journal", ctx.user);
      ownJournal->Start();
      journal = &*ownJournal;
    }
    if (journal != nullptr) {
      // The rows about to be deleted are on disk, with the script that puts them back, before
      // the DELETE runs.
      journal->Write("-- " + table + ", " + std::to_string(outcome.rowsHeld) + " row(s) from '" +
                     beginDate + "' to '" + endDate +
                     "' replaced; they are kept in the undo script\n" + deleteSql + ";\n" +
                     insertSql + ";\n");
      std::vector<std::string> restore = {"DELETE FROM " + table + " WHERE " + range};
      for (std::string& row : RowsAsInserts(*conn, table, range)) {
        before.rows.push_back(row);
        restore.push_back(std::move(row));
      }
      std::sort(before.rows.begin(), before.rows.end());
      journal->AddUndo(std::move(restore));
      journal->WriteUndoScript();
      if (ownJournal) {
        outcome.journal = journal->JournalPath();
        outcome.undoScript = journal->UndoPath();
      }
    }
    beforeRead = true;

    // The DELETE and the INSERT stand or fall together: in a transaction of their own, or in a
    // savepoint of the transaction the caller has open (which it commits or rolls back itself).
    unitBegun = true;
    unit.emplace(*conn, kSavepoint);
    // A program that re-registers some of the range's dates meanwhile (the host) waits for this
    // rebuild, or this rebuild for it: two DELETE-and-INSERTs of one date at once would each
    // insert the date's rows. (SQLite has the file's write lock already, and leaves this out.)
    conn->Execute(LockTableSql(table));
    conn->Execute(deleteSql);
    WaitForStatement(*conn, stepper);

    screen.SetNotes("正在登记账表...");
    conn->Execute(insertSql);
    WaitForStatement(*conn, stepper);
    outcome.rowsInserted = conn->RowsAffected();

    unit->Commit();
    outcome.rebuilt = true;
    if (journal != nullptr) {
      try {
        journal->Write("-- rows inserted: " + std::to_string(outcome.rowsInserted) + "\n");
        if (ownJournal) ownJournal->Finish();
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
