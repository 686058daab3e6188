// Rebuilding a ledger's rows for a date range from the source documents.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ledger_engine/journal.h"
#include "shell/host_context.h"
#include "shell/progress_screen.h"

namespace tallyvet {

// How a rebuild runs.
struct RebuildOptions {
  // Count only: how many ledger rows the range holds and how many the statement would insert,
  // and every value column's total now and as rebuilt; nothing is written, no journal is made.
  bool dryRun = false;
  // Where the journal and its undo script go (the report's folder); empty: no journal.
  std::filesystem::path journalFolder;
  // The journal of a larger change the rebuild is part of (the cost adjustment), in place of a
  // journal of its own: the rebuild writes its statements and its undo into it, and the caller
  // finishes it. Must be started.
  ChangeJournal* journal = nullptr;
};

// One value column of a rebuilt range: its total in the ledger now and as the rebuild makes it.
struct ColumnTotal {
  std::string column;  // the ledger's name
  double now = 0;
  double rebuilt = 0;  // 0 for a column the rebuild could not fill
};

// What a rebuild did.
struct RebuildOutcome {
  bool rebuilt = false;  // the range was replaced (false for a dry run)
  // Why it was not, when it was not (and not a dry run): the database's or the check's message.
  std::string error;
  // After a failure: where the ledger stands, checked against what it held before, and what to do
  // ("the ledger is unchanged (checked: ...)"). Empty when nothing failed.
  std::string ledgerState;
  // Whether the ledger was found as it was before the failure; none when it could not be told.
  std::optional<bool> unchanged;
  // The database ended the enclosing transaction on its own (a full disk): everything done in it,
  // the caller's own writes included, is gone.
  bool transactionLost = false;
  std::vector<std::string> notices;  // columns left out of the rebuild, and the like
  // Columns the ledger has that the derived statement cannot fill (its SELECT and INSERT list out
  // of step): the rebuild stops before its DELETE when there is one.
  std::vector<std::string> blankColumns;
  std::int64_t rowsHeld = -1;       // ledger rows of the range before, once counted
  std::int64_t rowsInserted = -1;   // rows inserted (a dry run: rows the statement gives)
  std::vector<ColumnTotal> totals;  // a dry run's totals, in the INSERT's column order
  std::filesystem::path journal;    // set when a journal of its own was written
  std::filesystem::path undoScript;
};

// RebuildLedger: checks the item's derived statement (a refused one stops it before anything
// runs), matches its columns to the ledger with a probe that returns no row, and stops before
// anything runs when the ledger has a column the statement cannot fill (blankColumns, the error
// naming the stored source's line where its SELECT and INSERT list part). Counts the range's
// rows, then, unless a dry run, writes the journal with an undo script that puts the range's rows
// back, and replaces the rows of [beginDate, endDate] with what SelectSql computes for the range.
// The DELETE and the INSERT form one unit: a transaction of their own, or a savepoint inside the
// connection's open transaction. On a failure the unit is rolled back and the range is read again
// to say whether it holds what it held before (ledgerState). Never throws; failures are in the
// outcome.
RebuildOutcome RebuildLedger(HostContext& ctx, ProgressScreen& screen, int item,
                             const std::string& beginDate, const std::string& endDate,
                             const RebuildOptions& options = {});

// "库存" names item 2 (PositionDaily); any other kind, no item.
std::optional<int> LedgerKindItem(const std::string& kind);

// "库存" rebuilds item 2 (PositionDaily): true when rebuilt, false when that failed; any other kind
// does nothing and gives no result. `error`, when given, receives the reason.
std::optional<bool> ReRegisterLedgers(HostContext& ctx, ProgressScreen& screen,
                                      const std::string& kind, const std::string& beginDate,
                                      const std::string& endDate, std::string* error = nullptr);

// RebuildLedger without a journal: true on success, false on any failure (reason in `error`).
bool ReRegisterLedger(HostContext& ctx, ProgressScreen& screen, int item,
                      const std::string& beginDate, const std::string& endDate,
                      std::string* error = nullptr);

}  // namespace tallyvet
