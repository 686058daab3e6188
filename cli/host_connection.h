// How every job reaches the host database: --db FILE, an account set in an embedded SQLite file,
// or --odbc STRING, a data source through the ODBC driver manager; exactly one of them, and the
// account-set owner --user.
//
// A write job over ODBC runs as one transaction, as a host would run it: autocommit is off from
// the start, the job commits once at its end, and a job that fails, or stops on an exception,
// is rolled back, so the database is left as it was. The component itself never starts or ends a
// transaction. Writes to a --db file stand statement by statement, as before.
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
  enum class Job { kRead, kWrite };

  // Opens the database and checks that it holds an account set. Throws std::runtime_error whose
  // one line says what failed (unknown data source, missing driver, login refused, server out
  // of reach, no account-set tables, a trace file that cannot be made) with the driver's own
  // message. With --trace-sql the connection is a db::TracingConnection from the start, so the
  // checks are in the trace too.
  HostConnection(const HostOptions& options, Job job);
  // Rolls back a write transaction that Finish did not end; errors there are swallowed.
  ~HostConnection();
  HostConnection(const HostConnection&) = delete;
  HostConnection& operator=(const HostConnection&) = delete;

  const std::shared_ptr<db::Connection>& connection() const { return connection_; }
  // The job's statement trace, shared with the further connections of the job; null without one.
  const std::shared_ptr<db::StatementTrace>& trace() const { return trace_.file; }

  // Ends the job. A write transaction is committed when `succeeded`, else rolled back (said on
  // standard error). Throws std::runtime_error (one line) when the link to the database was lost
  // during the job, or when the commit fails; nothing is then written.
  void Finish(bool succeeded);

 private:
  // Says on standard error, once the job is over, when the trace could not be written whole.
  struct TraceFile {
    std::shared_ptr<db::StatementTrace> file;
    ~TraceFile();
  };
  TraceFile trace_;
  std::shared_ptr<db::Connection> connection_;
  db::OdbcConnection* odbc_ = nullptr;
  bool transaction_ = false;
};

}  // namespace tallyvet::cli
