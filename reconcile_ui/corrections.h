// Registering a difference of the report screen into its ledger, and the journal that every
// registration leaves beside the report.
//
// A correction adds the row's 差额, negated, to the ledger column under the row's ledger-side key
// condition (UPDATE); when no ledger row matches, it inserts one with the key columns and that
// column (INSERT). The account set is live: the host may have re-registered the row since the
// comparison read it. So both statements carry what the comparison saw as their guard: the UPDATE
// changes only a row whose value is still the one compared, and the INSERT happens only while no
// row under the keys exists. A guarded statement that touches nothing leaves the row "changed
// since compared": neither a correction nor a failure, and the next comparison shows the truth.
//
// The journal records each statement, the ledger values it found before the statement and the
// number of rows it touched; the undo script beside it restores the ledger as it was before the
// registration, statement by statement in reverse order.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"
#include "db/value.h"
#include "ledger_engine/journal.h"
#include "ledger_engine/key_conditions.h"
#include "shell/host_context.h"

namespace tallyvet {

// What the comparison saw of a report row's ledger value, for the guard of its correction.
struct ComparedValue {
  double stored = 0;  // the stored value as read (0 for a row the ledger did not hold)
  // Whether the ledger held the row when it was compared: then it is never inserted again (an
  // UPDATE that finds it gone means it changed); unknown for a row written without its side.
  std::optional<bool> rowHeld;
};

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
  std::string update;        // "UPDATE T SET F=F+(a) WHERE cond" (and the guard, when given)
  std::string insert;        // "INSERT INTO T(keys,F) VALUES (values,a)", guarded: see below;
                             // empty when the row may not be inserted
  bool guarded = false;
};

// The statements for a report row of `item` (1 to 5), with its source-side `condition`, ledger
// column `field` and 差额 text `difference` (read as a number from its leading numeric part).
// For item 5 the ledger-side condition gets "NVL(K,0)=0" for each key column K of the item
// (KeyColumns) that the source-side condition leaves out (the comparison omits numeric keys of
// item 5 that are 0), so that the UPDATE cannot reach rows that differ in such a key.
// With `compared`, the statements are guarded: the UPDATE's condition gets
// StillHoldsCondition(F, compared->stored), and the INSERT becomes InsertWhereAbsentSql of the
// same row (nothing when a row under the condition exists), or is left out when the ledger held
// the row at the comparison. Without it they are the plain forms above.
// Throws std::out_of_range for an item outside 1 to 6.
CorrectionStatements BuildCorrection(const CheckItemTable& items, int item,
                                     std::string_view condition, const std::string& field,
                                     std::string_view difference,
                                     const std::optional<ComparedValue>& compared = std::nullopt);

// How the registration of one row came out.
enum class RegistrationStatus {
  kRegistered,  // the UPDATE touched a row, or the INSERT exactly one
  kChanged,     // guarded statements touched nothing: the row changed since it was compared
  kFailed,      // the database refused a statement, or the INSERT did not give one row
};
// "registered", "changed", "failed".
const char* RegistrationStatusName(RegistrationStatus status);

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
  // (when `c` has one) and its row count. A guarded row whose statements touched nothing is
  // journalled as changed since compared, with nothing to undo.
  // Throws: db::Error from the database (journalled first; what ran before it stays, with its
  // undo); std::system_error when the journal cannot be written, before any statement runs.
  RegistrationStatus Register(db::Connection& conn, int row, const CorrectionStatements& c);

  // Writes the undo script as it stands (reverse order of the statements that ran), so that it
  // is on disk before the registration's transaction commits. Throws std::system_error.
  void WriteUndoScript() { journal_.WriteUndoScript(); }
  // Writes the undo script (reverse order of the statements that ran). Idempotent.
  // Throws std::system_error when the file cannot be written.
  void Finish() { journal_.Finish(); }
  // The registration's transaction did not commit: the journal says so and keeps no undo script.
  void Discard(const std::string& why) { journal_.Discard(why); }

  bool Started() const { return journal_.Started(); }
  const std::filesystem::path& JournalPath() const { return journal_.JournalPath(); }
  const std::filesystem::path& UndoPath() const { return journal_.UndoPath(); }

 private:
  ChangeJournal journal_;
};

}  // namespace tallyvet
