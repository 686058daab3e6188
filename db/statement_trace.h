// The statement trace: one JSON object a line for every statement a run sends, written as the
// statement ends, so that an administrator can read what the tool ran on the account set and a
// support engineer which statement took the time.
//
// One StatementTrace (the file) is shared by the run's connections; each TracingConnection wraps
// one connection and writes the lines of the statements that pass through it. Nothing of the trace
// is shared while a statement runs: a line is built by the thread that ends the statement and the
// file's mutex is held only while the finished line is written.
//
// What the callers are doing is said by StatementScope, set around the engine's phases on the
// thread that runs them; a statement takes the purpose and item in force when it starts.
//
// A line holds: ts (when the statement started, UTC), connection, job, item (where there is one),
// purpose, host_sql (the statement as the program wrote it), sent_sql (as the connection's dialect
// sent it; absent when the same), ms (time spent in the database: the statement's start and every
// fetch of its rows, not the program's work between fetches), rows (read) or rows_affected
// (written), error (the database's message, when it failed) and, on transaction lines,
// transaction (begin, commit, rollback, savepoint, rollback_to, release, view_begin, view_end).
// A connection's first line is its opening: open (what it reaches, a password masked).
#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "db/connection.h"
#include "db/connection_source.h"

namespace tallyvet::db {

class SqliteConnection;

// "DSN=x;UID=u;PWD=***": the connection string with the values of its PWD and Password
// attributes (any case, braced or not) replaced by ***.
std::string MaskConnectionString(std::string_view connection_string);

// The trace file of one run.
class StatementTrace {
 public:
  // Creates `path` with mode 0600 (the file may hold the account set's values) or empties an
  // existing one that only its owner may read. Throws std::runtime_error (one line, naming the
  // file) when it cannot be opened, or when an existing file may be read by others.
  StatementTrace(const std::filesystem::path& path, std::string job);
  ~StatementTrace();
  StatementTrace(const StatementTrace&) = delete;
  StatementTrace& operator=(const StatementTrace&) = delete;

  // A number for a new connection of the run (1, 2, ...), its opening line written: `target` is
  // what it reaches, masked here (MaskConnectionString).
  int OpenConnection(std::string_view target);
  // Writes one finished line (a JSON object without its line break) and hands it to the system
  // at once. Never throws: a trace that cannot be written stops, and Failure() says why.
  void WriteLine(const std::string& json) noexcept;

  const std::string& job() const { return job_; }
  const std::filesystem::path& path() const { return path_; }
  // Empty while every line was written; else the first write's failure.
  std::string Failure() const;

 private:
  std::filesystem::path path_;
  std::string job_;
  int fd_ = -1;
  std::atomic<int> connections_{0};
  mutable std::mutex mutex_;
  std::string failure_;
};

// Writes the JSON line of one statement; what TracingConnection and the row sources it hands
// out use, and what a caller that runs statements of its own (a sample's build) can use too.
struct TraceLine {
  std::string ts;  // when the statement started
  int connection = 0;
  int item = 0;
  Purpose purpose = Purpose::kOther;
  std::string_view host_sql;
  std::string_view sent_sql;  // empty: the same as host_sql, or none sent (see sent_differs)
  bool sent_differs = false;
  double ms = 0;
  std::int64_t rows = -1;           // -1: not a read
  std::int64_t rows_affected = -1;  // -1: not a write
  std::string_view error;
  std::string_view transaction;  // empty: not a transaction line
};
std::string TraceLineJson(const StatementTrace& trace, const TraceLine& line);
// The current time as a line's ts: 2025-06-30T08:15:02.345Z.
std::string TraceTimestamp();

// The kind of transaction line a statement run through Execute is ("savepoint", "rollback_to",
// "release"), or empty for any other statement.
std::string_view SavepointKind(std::string_view sql);

// A connection that passes every call on to the one it wraps and writes a trace line for each
// statement as it ends: a query once its last row is read (or it is closed or dropped before),
// a statement once it has run, a transaction's begin, commit and rollback. The wrapped connection
// gives the form it sends (Connection::SentForm). Exceptions pass through unchanged, after their
// line is written.
class TracingConnection final : public Connection {
 public:
  // `target`: what the connection reaches (a file, a connection string), for the opening line.
  TracingConnection(std::shared_ptr<Connection> inner, std::shared_ptr<StatementTrace> trace,
                    std::string_view target);

  std::unique_ptr<Recordset> OpenResultset(const std::string& sql, int cursor = 3,
                                           int lock = 0) override;
  std::unique_ptr<RowSource> OpenRowSource(const std::string& sql) override;
  std::size_t SpillThreshold() const override { return inner_->SpillThreshold(); }
  void Execute(const std::string& sql) override;
  std::int64_t RowsAffected() const override { return inner_->RowsAffected(); }
  bool StillExecuting() const override { return inner_->StillExecuting(); }
  void BeginTransaction() override;
  void CommitTransaction() override;
  void RollbackTransaction() override;
  bool InTransaction() const override { return inner_->InTransaction(); }
  void BeginReadView() override;
  void EndReadView() noexcept override;
  bool ServerHost() const override { return inner_->ServerHost(); }
  bool TypesColumnsByFirstRow() const override { return inner_->TypesColumnsByFirstRow(); }
  std::string SentForm(const std::string& sql, SentAs as) const override {
    return inner_->SentForm(sql, as);
  }
  Connection* Inner() override { return inner_.get(); }

  int number() const { return number_; }
  const std::shared_ptr<StatementTrace>& trace() const { return trace_; }
  // A line of this connection's own that is no statement of it (a common view begun on it).
  void WriteTransactionLine(std::string_view kind, double ms, std::string_view error = {});

 private:
  template <class Call>
  void Transaction(std::string_view kind, std::string_view sql, Call&& call);
  std::shared_ptr<Connection> inner_;
  std::shared_ptr<StatementTrace> trace_;
  int number_;
};

// Further connections from `inner`, each wrapped in a TracingConnection on the same trace; the
// common view is the inner source's (it reaches the wrapped connections through Backend), with a
// view_begin and a view_end line on every traced reader.
class TracingConnectionSource final : public ConnectionSource {
 public:
  TracingConnectionSource(std::unique_ptr<ConnectionSource> inner,
                          std::shared_ptr<StatementTrace> trace, std::string target);

  std::unique_ptr<Connection> Open() override;
  bool BeginCommonView(const std::vector<Connection*>& readers) override;
  void EndView(Connection& reader) noexcept override;

 private:
  std::unique_ptr<ConnectionSource> inner_;
  std::shared_ptr<StatementTrace> trace_;
  std::string target_;
};

// A line for a statement of the program's own that runs outside a Connection's calls (a sample's
// copy onto a server, in the server's own SQL): `run` is called and timed, an Error it throws
// written with the line and thrown on.
void TraceOwnStatement(StatementTrace& trace, int connection, std::string_view sql,
                       const std::function<void()>& run, std::string_view transaction = {});

// Lines for every statement the embedded database `conn` runs from now on, also those that pass
// no Connection call (a sample's build with its own prepared statements): each as SQLite holds it,
// bound values as ?, with its time and the rows a write changed. The object must outlive `conn`
// (the lines go on until the connection closes).
class SqliteHandleTrace {
 public:
  SqliteHandleTrace(SqliteConnection& conn, std::shared_ptr<StatementTrace> trace);
  SqliteHandleTrace(const SqliteHandleTrace&) = delete;
  SqliteHandleTrace& operator=(const SqliteHandleTrace&) = delete;

  int number() const { return number_; }

 private:
  static int OnStatement(unsigned type, void* self, void* statement, void* nanoseconds);
  std::shared_ptr<StatementTrace> trace_;
  int number_;
};

// The job's trace, or none: `path` when given, else the file TALLYVET_TRACE_SQL names when
// `from_environment`, else nullptr (no trace, and nothing wrapped). Throws as StatementTrace.
std::shared_ptr<StatementTrace> OpenStatementTrace(const std::string& path, std::string job,
                                                   bool from_environment = false);

}  // namespace tallyvet::db
