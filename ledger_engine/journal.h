// The journal and undo script that every change to a ledger leaves beside the report: the
// corrections the report screen registers and the rebuilds of a ledger.
//
// A journal is a SQL file of comments and statements: what ran, the ledger values found before
// it, how many rows it touched; it ends with a "-- finished" line once the change is complete.
// The undo script beside it restores the ledger as it was before the change, last statement
// first. Both are UTF-8, so that any SQL client runs the undo script as it stands. The undo script
// is written under a temporary name and renamed when whole: a file with its name is complete.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "db/connection.h"
#include "db/value.h"

namespace tallyvet {

// `value` as a SQL literal: NULL, a number in the text that reads back to it exactly, or text in
// single quotes with embedded quotes doubled.
std::string SqlLiteral(const db::Value& value);

// The rows of `table` under `condition` as they stand, each as an INSERT that puts it back.
// Throws db::Error.
std::vector<std::string> RowsAsInserts(db::Connection& conn, const std::string& table,
                                       const std::string& condition);

// The row count of `table` under `condition` and the total of each of its numeric columns, as one
// text: two readings are equal when the rows are, but for changes that cancel out exactly. Cheap
// next to reading the rows, for telling after a rollback that a table is as it was. Throws
// db::Error.
std::string TableFingerprint(db::Connection& conn, const std::string& table,
                             const std::string& condition);

class ChangeJournal {
 public:
  // The files are created by Start, named <prefix>.<stamp>[-n].journal.sql and .undo.sql in
  // `folder` (the first n that names neither). `stamp` defaults to the local time
  // (yyyymmdd-hhmmss); `owner` and `title` head the journal.
  ChangeJournal(std::filesystem::path folder, std::string prefix, std::string title,
                std::string owner, std::string stamp = {});
  // Writes the undo script when Finish was not called; never throws.
  ~ChangeJournal();
  ChangeJournal(const ChangeJournal&) = delete;
  ChangeJournal& operator=(const ChangeJournal&) = delete;

  // Creates the journal with its heading; does nothing when it exists. Throws std::system_error
  // naming the file when it cannot be created or written (a read-only folder, a full disk).
  void Start();
  // Appends to the journal (Start first), on disk when the call returns. Throws std::system_error.
  void Write(const std::string& text);
  // One undo entry: statements run in their own order, entries last first.
  void AddUndo(std::vector<std::string> statements);
  // Writes the undo script from the entries so far (temporary name, then rename). May be called
  // again after more entries. Throws std::system_error; a failed write leaves no script behind.
  void WriteUndoScript();
  // WriteUndoScript and the journal's "-- finished" line. Idempotent. Throws std::system_error.
  void Finish();
  // Ends the journal of changes that did not stand (their transaction was rolled back): it says
  // so, with `why`, and no undo script is left behind, so that nobody undoes what never happened.
  // Whichever of Finish and Discard comes first ends the journal. Throws std::system_error.
  void Discard(const std::string& why);

  bool Started() const { return journal_.is_open(); }
  const std::filesystem::path& JournalPath() const { return journalPath_; }
  const std::filesystem::path& UndoPath() const { return undoPath_; }

 private:
  std::filesystem::path folder_;
  std::string prefix_;
  std::string title_;
  std::string owner_;
  std::string stamp_;
  std::filesystem::path journalPath_;
  std::filesystem::path undoPath_;
  std::ofstream journal_;
  std::vector<std::vector<std::string>> undo_;
  bool finished_ = false;
};

// Runs `statement` on `conn` with its record in `journal` (none when null): the statement, then
// the rows it touched, or the database's message when it failed. Returns the rows touched.
// Throws db::Error (journalled first) and std::system_error from the journal.
std::int64_t ExecuteJournalled(db::Connection& conn, ChangeJournal* journal,
                               const std::string& statement);

}  // namespace tallyvet
