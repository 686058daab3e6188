#include "cli/host_connection.h"

#include "cli/commands.h"

#include <iostream>
#include <stdexcept>

#include "db/odbc_connection.h"
#include "db/sqlite_connection.h"

namespace tallyvet::cli {

namespace {

// The tables every job reads first; a database without them holds no account set.
constexpr const char* kAccountSetTables[] = {"Business", "AccountPeriod", "ItemActivity",
                                             "ItemActivityDetail"};

std::string ConnectFailure(const db::OdbcError& e) {
  switch (db::ClassifySqlState(e.sqlstate(), /*connecting=*/true)) {
    case db::OdbcFailure::kUnknownDataSource:
      return "unknown ODBC data source: " + e.message();
    case db::OdbcFailure::kMissingDriver:
      return "the ODBC driver cannot be loaded: " + e.message();
    case db::OdbcFailure::kLoginRefused:
      return "login refused (user or password): " + e.message();
    case db::OdbcFailure::kConnectFailed:
      return "the database server cannot be reached: " + e.message();
    default:
      return "cannot connect to the ODBC data source: " + e.message();
  }
}

// `uncommitted`: the job's writes were all in the transaction the lost link took with it.
std::string LinkLostFailure(const std::string& message, bool uncommitted) {
  return "the connection to the database was lost: " + message +
         (uncommitted ? "; nothing was written" : "");
}

// Whether `e` says the table is not there (as opposed to a lock, a permission, a broken file).
bool IsMissingTable(const db::Error& e) {
  if (const auto* odbc = dynamic_cast<const db::OdbcError*>(&e);
      odbc != nullptr &&
      db::ClassifySqlState(odbc->sqlstate(), false) == db::OdbcFailure::kNoSuchTable) {
    return true;
  }
  return e.message().find("no such table") != std::string::npos;  // SQLite, also through ODBC
}

void CheckAccountSet(db::Connection& conn, const db::OdbcConnection* odbc) {
  for (const char* table : kAccountSetTables) {
    try {
      conn.OpenResultset(std::string("SELECT COUNT(*) FROM ") + table + " WHERE 1=0", 3)->Close();
    } catch (const db::Error& e) {
      if (odbc != nullptr && odbc->LinkLost())
        throw std::runtime_error(LinkLostFailure(e.message(), true));
      // Only a missing table makes it no account set: a lock or a refusal says so itself.
      if (!IsMissingTable(e)) throw std::runtime_error(e.message());
      throw std::runtime_error("the database holds no account set (table " + std::string(table) +
                               "): " + e.message());
    }
  }
}

}  // namespace

void AddHostOptions(CLI::App& cmd, HostOptions& options) {
  CLI::Option_group* database =
      cmd.add_option_group("database", "the account set's database, one of:");
  database->add_option("--db", options.db, "account-set database file")->check(CLI::ExistingFile);
  database->add_option(
      "--odbc", options.odbc,
      "ODBC connection string instead of --db, e.g. DSN=accounts;UID=..;PWD=.. (see README)");
  database->require_option(1);
  cmd.add_option("--user", options.user, "account-set owner")->required();
  AddBusyTimeoutOption(cmd, options.busyTimeoutSeconds);
  AddTraceSqlOption(cmd, options.traceSql);
  options.job = cmd.get_name();
}

HostConnection::TraceFile::~TraceFile() {
  if (!file) return;
  if (const std::string failure = file->Failure(); !failure.empty())
    std::cerr << "tallyvet: the statement trace " << file->path().string()
              << " is incomplete: " << failure << "\n";
}

HostConnection::HostConnection(const HostOptions& options) {
  trace_.file = db::OpenStatementTrace(options.traceSql, options.job);
  if (options.odbc.empty()) {
    connection_ = db::SqliteConnection::Open(options.db, options.user,
                                             JobOpenOptions(options.busyTimeoutSeconds));
    if (trace_.file)
      connection_ = std::make_shared<db::TracingConnection>(connection_, trace_.file, options.db);
    CheckAccountSet(*connection_, nullptr);
    return;
  }
  std::shared_ptr<db::OdbcConnection> odbc;
  try {
    odbc = db::OdbcConnection::Open(options.odbc, options.user,
                                    JobOpenOptions(options.busyTimeoutSeconds));
  } catch (const db::OdbcError& e) {
    throw std::runtime_error(ConnectFailure(e));
  }
  odbc_ = odbc.get();
  connection_ = odbc;
  if (trace_.file)
    connection_ = std::make_shared<db::TracingConnection>(connection_, trace_.file, options.odbc);
  CheckAccountSet(*connection_, odbc_);
}

void HostConnection::Finish() {
  if (odbc_ != nullptr && odbc_->LinkLost()) {
    throw std::runtime_error(LinkLostFailure(odbc_->LinkLostError(), false));
  }
}

}  // namespace tallyvet::cli
