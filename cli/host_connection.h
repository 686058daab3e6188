// How every job reaches the host database: --db FILE, an account set in an embedded SQLite file,
// or --odbc STRING, a data source through the ODBC driver manager; exactly one of them, and the
// account-set owner --user.
//
// A job reads without a transaction of its own, so that the host is never held up while a person
// reads the job's output or answers its question; each write (a registration, an adjustment, a
// rebuild) opens its own transaction once it has been confirmed and ends it before it reports.
#pragma once

#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "db/connection.h"
#include "db/statement_trace.h"

namespace tallyvet::db {
class OdbcConnection;
}

namespace tallyvet::cli {

struct HostOptions {
  std::string db;
  std::string odbc;
  std::string user;
  double busyTimeoutSeconds = 10;  // how long a statement waits for another program's lock
  std::string traceSql;            // the statement trace's file; empty: no trace
  std::string job;                 // the job's name in the trace: the subcommand's
};

// Adds --db, --odbc, --user, --busy-timeout and --trace-sql to `cmd`: --db and --odbc exclude
// each other, one is required.
void AddHostOptions(CLI::App& cmd, HostOptions& options);

class HostConnection {
 public:
  // Opens the database and checks that it holds an account set. Throws std::runtime_error whose
  // one line says what failed (unknown data source, missing driver, login refused, server out
  // of reach, no account-set tables, a trace file that cannot be made) with the driver's own
  // message. With --trace-sql the connection is a db::TracingConnection from the start, so the
  // checks are in the trace too.
  explicit HostConnection(const HostOptions& options);
  HostConnection(const HostConnection&) = delete;
  HostConnection& operator=(const HostConnection&) = delete;

  const std::shared_ptr<db::Connection>& connection() const { return connection_; }
  // The job's statement trace, shared with the further connections of the job; null without one.
  const std::shared_ptr<db::StatementTrace>& trace() const { return trace_.file; }

  // Ends the job. Throws std::runtime_error (one line) when the link to the database was lost
  // during the job: what its writes did is then said by them (a write's transaction that the
  // link took with it did not commit).
  void Finish();

 private:
  // Says on standard error, once the job is over, when the trace could not be written whole.
  struct TraceFile {
    std::shared_ptr<db::StatementTrace> file;
    ~TraceFile();
  };
  TraceFile trace_;
  std::shared_ptr<db::Connection> connection_;
  db::OdbcConnection* odbc_ = nullptr;
};

}  // namespace tallyvet::cli
