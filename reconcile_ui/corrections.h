// Registering a difference of the report screen into its ledger, and the journal that every
// registration leaves beside the report.
//
// A correction adds the row's 差额, negated, to the ledger column under the row's ledger-side key
// condition (UPDATE); when no ledger row matches, it inserts one with the key columns and that
// column (INSERT). The journal records each statement, the ledger values it found before the
// statement and the number of rows it touched; the undo script beside it restores the ledger as
// it was before the registration, statement by statement in reverse order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"
#include "db/value.h"
#include "ledger_engine/journal.h"
#include "ledger_engine/key_conditions.h"
#include "shell/host_context.h"

namespace tallyvet {

// The statements that register one report row.
struct CorrectionStatements {
  int item = 0;
  std::string table;       // the item's LedgerTable, as stored
  std::string field;       // the ledger column (report column 3)
  std::string amount;      // the negated 差额 as plain number text
  std::string condition;   // ledger-side condition (SplitCondition; item 5 completed)
  std::string keyColumns;  // for the INSERT; item 5's second LNGORGANIZATIONID renamed
  std::string keyValues;
  std::string zeroKeyTerms;  // item 5: the "NVL(K,0)=0" terms that completed the condition
  std::string update;        // "UPDATE T SET F=F+(a) WHERE cond"
  std::string insert;        // "INSERT INTO T(keys,F) VALUES (values,a)"
};

// The statements for a report row of `item` (1 to 5), with its source-side `condition`, ledger
// column `field` and 差额 text `difference` (read as a number from its leading numeric part).
// For item 5 the ledger-side condition gets "NVL(K,0)=0" for each key column K of the item
// (KeyColumns) that the source-side condition leaves out (the comparison omits numeric keys of
// item 5 that are 0), so that the UPDATE cannot reach rows that differ in such a key.
// Throws std::out_of_range for an item outside 1 to 6.
CorrectionStatements BuildCorrection(const CheckItemTable& items, int item,
                                     std::string_view condition, const std::string& field,
                                     std::string_view difference);

// "UPDATE " T " SET " F "=" F "+(" a ") WHERE " cond.
std::string CorrectionUpdateSql(std::string_view table, std::string_view field,
                                std::string_view amount, std::string_view condition);
// "INSERT INTO " T "(" keys "," F ") VALUES (" values "," a ")".
std::string CorrectionInsertSql(std::string_view table, std::string_view keyColumns,
                                std::string_view field, std::string_view keyValues,
                                std::string_view amount);

// The undo script and the journal of one registration. The files are created by the first Record
// call, named Correction.<yyyymmdd-hhmmss>[-n].journal.sql and .undo.sql in `folder`, in UTF-8 so
// that any SQL client runs the undo script as it stands.
class CorrectionJournal {
 public:
  // `stamp` names the files (default: the current local time); `owner` heads the journal.
  CorrectionJournal(std::filesystem::path folder, std::string owner, std::string stamp = {});

  // Registers `c` (report row `row`) on `conn`, journalling as it goes: the ledger values under
  // the condition before the UPDATE, the UPDATE and its row count, and when that is 0 the INSERT
  // and its row count. Returns true when the row counts as registered (the UPDATE touched a row,
  // or the INSERT exactly one).
  // Throws: db::Error from the database (journalled first; what ran before it stays, with its
  // undo); std::system_error when the journal cannot be written, before any statement runs.
  bool Register(db::Connection& conn, int row, const CorrectionStatements& c);

  // Writes the undo script (reverse order of the statements that ran). Idempotent.
  // Throws std::system_error when the file cannot be written.
  void Finish() { journal_.Finish(); }

  bool Started() const { return journal_.Started(); }
  const std::filesystem::path& JournalPath() const { return journal_.JournalPath(); }
  const std::filesystem::path& UndoPath() const { return journal_.UndoPath(); }

 private:
  ChangeJournal journal_;
};

}  // namespace tallyvet
