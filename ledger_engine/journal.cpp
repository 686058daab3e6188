#include "ledger_engine/journal.h"

#include <cerrno>
#include <memory>
#include <system_error>

#include "ledger_engine/key_conditions.h"
#include "ledger_engine/report_file.h"

namespace tallyvet {

std::string SqlLiteral(const db::Value& value) {
  if (value.IsNull()) return "NULL";
  if (value.IsText()) return QuoteSqlText(value.Text());
  return value.AsText();
}

std::vector<std::string> RowsAsInserts(db::Connection& conn, const std::string& table,
                                       const std::string& condition) {
  const db::StatementScope journalling(db::Purpose::kJournal);
  std::vector<std::string> inserts;
  std::unique_ptr<db::Recordset> rs =
      conn.OpenResultset("SELECT * FROM " + table + " WHERE " + condition, 3);
  const db::FieldList& fields = rs->Fields();
  std::string columns;
  for (std::size_t i = 0; i < fields.Count(); ++i) {
    columns += (i ? "," : "") + fields[i].Name();
  }
  while (!rs->Eof()) {
    std::string values;
    for (std::size_t i = 0; i < fields.Count(); ++i) {
      values += (i ? "," : "") + SqlLiteral(fields[i].Value());
    }
    inserts.push_back("INSERT INTO " + table + "(" + columns + ") VALUES (" + values + ")");
    rs->MoveNext();
  }
  rs->Close();
  return inserts;
}

std::string TableFingerprint(db::Connection& conn, const std::string& table,
                             const std::string& condition) {
  std::string sums;
  {
    auto shape = conn.OpenResultset("SELECT * FROM " + table + " WHERE 1=0", 3);
    for (std::size_t i = 0; i < shape->Fields().Count(); ++i) {
      switch (shape->Fields()[i].Type()) {
        case 2:
        case 3:
        case 4:
        case 5:
        case 6:
        case 14:
        case 20:
        case 131:
        case 139:
          sums += ",SUM(" + shape->Fields()[i].Name() + ")";
          break;
        default:
          break;
      }
    }
    shape->Close();
  }
  auto rs =
      conn.OpenResultset("SELECT COUNT(*)" + sums + " FROM " + table + " WHERE " + condition, 3);
  std::string fingerprint;
  // Totals to four decimals: a server that sums in another order must not make a difference.
  for (std::size_t i = 0; !rs->Eof() && i < rs->Fields().Count(); ++i) {
    const db::Value v = rs->Fields()[i].Value();
    fingerprint += (i ? "|" : "") + (i == 0 ? v.AsText() : db::RoundedText(v.AsDouble(), 4));
  }
  rs->Close();
  return fingerprint;
}

ChangeJournal::ChangeJournal(std::filesystem::path folder, std::string prefix, std::string title,
                             std::string owner, std::string stamp)
    : folder_(std::move(folder)),
      prefix_(std::move(prefix)),
      title_(std::move(title)),
      owner_(std::move(owner)),
      stamp_(stamp.empty() ? CurrentDateTimeText("%Y%m%d-%H%M%S") : std::move(stamp)) {}

ChangeJournal::~ChangeJournal() {
  try {
    Finish();
  } catch (...) {
    // A destructor must not throw; the journal already holds every statement and the values
    // before it, which is enough to undo by hand.
  }
}

void ChangeJournal::Start() {
  if (journal_.is_open()) return;
  for (int n = 0;; ++n) {
    const std::string base = prefix_ + "." + stamp_ + (n ? "-" + std::to_string(n) : "");
    journalPath_ = folder_ / (base + ".journal.sql");
    undoPath_ = folder_ / (base + ".undo.sql");
    if (!std::filesystem::exists(journalPath_) && !std::filesystem::exists(undoPath_)) break;
  }
  journal_.open(journalPath_, std::ios::binary | std::ios::out);
  if (!journal_) {
    throw std::system_error(errno, std::generic_category(),
                            "cannot create the journal " + journalPath_.string());
  }
  Write("-- tallyvet " + title_ + "\n-- owner: " + owner_ + "\n-- started: " +
        CurrentDateTimeText() + "\n-- undo script: " + undoPath_.filename().string() + "\n");
}

void ChangeJournal::Write(const std::string& text) {
  journal_ << text;
  journal_.flush();
  if (!journal_) {
    throw std::system_error(errno, std::generic_category(),
                            "cannot write the journal " + journalPath_.string());
  }
}

void ChangeJournal::AddUndo(std::vector<std::string> statements) {
  undo_.push_back(std::move(statements));
}

void ChangeJournal::WriteUndoScript() {
  if (!journal_.is_open()) return;
  std::string text = "-- Undoes the changes of " + journalPath_.filename().string() +
                     ", last first.\n-- Run it on the same account set before its ledgers change "
                     "again.\n";
  for (auto entry = undo_.rbegin(); entry != undo_.rend(); ++entry) {
    for (const std::string& sql : *entry) text += sql + ";\n";
  }
  WriteFileWhole(undoPath_, text);
}

void ChangeJournal::Discard(const std::string& why) {
  if (finished_ || !journal_.is_open()) return;
  finished_ = true;
  std::error_code ignored;  // a script never written is no script left behind
  std::filesystem::remove(undoPath_, ignored);
  Write("-- " + why + "\n-- nothing of the above stands; no undo script is kept\n-- finished: " +
        CurrentDateTimeText() + "\n");
}

void ChangeJournal::Finish() {
  if (finished_ || !journal_.is_open()) return;
  WriteUndoScript();
  finished_ = true;
  Write("-- finished: " + CurrentDateTimeText() + "\n");
}

std::int64_t ExecuteJournalled(db::Connection& conn, ChangeJournal* journal,
                               const std::string& statement) {
  if (journal != nullptr) journal->Write(statement + ";\n");
  try {
    conn.Execute(statement);
  } catch (const db::Error& e) {
    if (journal != nullptr) journal->Write("-- failed: " + e.message() + "\n");
    throw;
  }
  const std::int64_t touched = conn.RowsAffected();
  if (journal != nullptr) journal->Write("-- rows affected: " + std::to_string(touched) + "\n");
  return touched;
}

}  // namespace tallyvet
