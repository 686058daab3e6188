// Rebuilding a ledger's rows for a date range from the source documents.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "shell/host_context.h"
#include "shell/progress_screen.h"

namespace tallyvet {

// How a rebuild runs.
struct RebuildOptions {
  // Count only: how many ledger rows the range holds and how many the statement would insert;
  // nothing is written, no journal is made.
  bool dryRun = false;
  // Where the journal and its undo script go (the report's folder); empty: no journal.
  std::filesystem::path journalFolder;
};

// What a rebuild did.
struct RebuildOutcome {
  bool rebuilt = false;              // the range was replaced (false for a dry run)
  std::string error;                 // why it was not, when it was not (and not a dry run)
  std::vector<std::string> notices;  // columns left out of the rebuild, and the like
  std::int64_t rowsHeld = -1;        // ledger rows of the range before, once counted
  std::int64_t rowsInserted = -1;    // rows inserted (a dry run: rows the statement gives)
  std::filesystem::path journal;     // set when a journal was written
  std::filesystem::path undoScript;
};

// RebuildLedger: checks the item's derived statement (a refused one stops it before anything
// runs), matches its columns to the ledger with a probe that returns no row, counts the range's
// rows, then, unless a dry run, writes the journal with an undo script that puts the range's rows
// back, and replaces the rows of [beginDate, endDate] with what SelectSql computes for the range.
// The DELETE and the INSERT form one unit inside a savepoint: on any failure the savepoint is
// rolled back to and the ledger keeps its rows. Never throws; failures are in the outcome.
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
