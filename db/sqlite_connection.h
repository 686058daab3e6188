// The embedded host database: one account set in a SQLite file, spoken to in the host's Oracle SQL.
//
// Each statement is translated before it is prepared (see sql_translate.h) and runs with the
// Oracle functions the host's SQL uses (NVL, DECODE, LPAD, RPAD; see oracle_functions.h).
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "db/connection.h"
#include "db/connection_source.h"

struct sqlite3;
struct sqlite3_stmt;

namespace tallyvet::db {

struct OpenOptions {
  // Memory a recordset keeps before its rows go to a temporary file.
  std::size_t spill_threshold = Recordset::kDefaultSpillThreshold;
  bool read_only = false;
  // How long a statement waits for another program's lock on the database before it fails
  // (the host writes in short bursts). Zero fails at once.
  std::chrono::milliseconds busy_timeout{10000};
};

// The ADO type the host reports for a column SQLite declares as `decl` (VARCHAR, TEXT, CHAR(10),
// INTEGER, REAL, NUMERIC...); 0 = none declared, take it from the values.
int AdoTypeOfDeclaration(const char* decl);

class SqliteConnection final : public Connection {
 public:
  // Opens an existing account-set file for `owner` (the account-set owner: table names qualified
  // with it resolve to this file). Never creates a file. Throws Error naming the path when it
  // does not exist, is not a SQLite database, or stays locked by another program for longer than
  // options.busy_timeout.
  //
  // Every failure of a statement later on throws Error with the statement; a database locked
  // past the timeout, a read-only file and a full disk are said in those words, with the path.
  static std::unique_ptr<SqliteConnection> Open(const std::filesystem::path& path,
                                                const std::string& owner, OpenOptions options = {});
  // Creates a new, empty database file (refuses an existing one), for building account sets.
  static std::unique_ptr<SqliteConnection> Create(const std::filesystem::path& path,
                                                  const std::string& owner);
  ~SqliteConnection() override;

  std::unique_ptr<Recordset> OpenResultset(const std::string& sql, int cursor = 3,
                                           int lock = 0) override;
  // The statement prepared on this connection; its rows are stepped as the source is read.
  std::unique_ptr<RowSource> OpenRowSource(const std::string& sql) override;
  std::size_t SpillThreshold() const override { return options_.spill_threshold; }
  void Execute(const std::string& sql) override;
  std::int64_t RowsAffected() const override { return rows_affected_; }
  bool StillExecuting() const override { return false; }
  // BEGIN IMMEDIATE: the write lock from the start, so the transaction never meets another
  // writer half-way (waiting up to the busy timeout for it first).
  void BeginTransaction() override;
  void CommitTransaction() override;
  void RollbackTransaction() override;
  bool InTransaction() const override;
  // A deferred transaction that only reads: its first query fixes the state it sees.
  void BeginReadView() override;
  void EndReadView() noexcept override;

  // Runs a script of several statements as SQLite reads it (no translation): schema files.
  void ExecuteScript(const std::string& sql);
  // The statement as it is handed to SQLite after translation.
  std::string Translate(const std::string& sql) const;
  // A table lock is not sent (see Execute): its sent form is empty.
  std::string SentForm(const std::string& sql, SentAs as) const override;

  const std::string& owner() const { return owner_; }
  const std::filesystem::path& path() const { return path_; }
  sqlite3* handle() const { return db_; }

 private:
  SqliteConnection(sqlite3* db, std::filesystem::path path, std::string owner, OpenOptions options);
  // Runs a prepared statement to its end and notes the rows it touched. Throws Error.
  void Run(sqlite3_stmt* stmt, const std::string& sql);
  // The statement kept for `shape`, prepared now when it is new (the oldest of those kept makes
  // room), reset and first among them; null when SQLite will not prepare the shape.
  sqlite3_stmt* ShapedStatement(const std::string& shape);
  sqlite3* db_;
  std::filesystem::path path_;
  std::string owner_;
  OpenOptions options_;
  std::int64_t rows_affected_ = 0;
  bool read_view_ = false;  // BeginReadView opened the transaction that is open
  // Data-changing statements prepared by their shape (literals as parameters), the latest first:
  // a registration's thousands of UPDATEs differ only in their literals.
  struct Shaped;
  std::vector<std::unique_ptr<Shaped>> shaped_;
};

// Further connections to one account-set file, and one committed state for several of them.
//
// The library has no snapshot hand-over, so the common view is made by keeping writers out while
// the readers start: a coordinator connection takes the write lock (BEGIN IMMEDIATE; readers
// still start meanwhile), every reader begins its transaction and reads once (a transaction takes
// its snapshot, or its read lock, at its first read), then the coordinator lets go. Where the
// write lock cannot be had (a read-only file, a writer that holds it past the busy timeout), a
// rollback-journal file is held still by a read lock instead, since a commit must wait for every
// reader; a WAL file has no such way, and BeginCommonView returns false.
class SqliteConnectionSource final : public ConnectionSource {
 public:
  SqliteConnectionSource(std::filesystem::path path, std::string owner, OpenOptions options = {});

  std::unique_ptr<Connection> Open() override;
  // Requires: every reader a SqliteConnection on this source's file (or a wrapper of one, see
  // Backend), none in a transaction.
  // Throws Error also for a reader of another kind.
  bool BeginCommonView(const std::vector<Connection*>& readers) override;
  void EndView(Connection& reader) noexcept override;

 private:
  std::filesystem::path path_;
  std::string owner_;
  OpenOptions options_;
};

}  // namespace tallyvet::db
