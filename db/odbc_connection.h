// The host database reached through an ODBC driver manager (unixODBC): a server database, or a
// SQLite file through the SQLite3 ODBC driver.
//
// The data source's product name (SQLGetInfo SQL_DBMS_NAME) picks the dialect the host's Oracle
// SQL is sent in:
//   Oracle  the statements go verbatim, exactly as the host writes them;
//   SQLite  the same translation as the embedded database (sql_translate.h); the driver must load
//           the Oracle functions as an extension (LoadExt=<bin>/libtallyvet_oracle.so), which
//           Open checks.
//   PostgreSQL  the PostgreSQL translation (sql_translate.h), with the owner's schema first in
//           the session's search path and the orafce extension for LPAD and INSTR, which Open
//           checks.
// Any other product is refused with an error naming it.
//
// Results are fetched in blocks of rows into bound column buffers and written from there into the
// recordset's row store, so a recordset keeps the embedded contract: MoveFirst replays, rows past
// the memory bound spill to a file, types 200/129/3/5/131, nulls as nulls. A result with a text
// whose length the driver does not bound (every SQLite text) is fetched a row at a time instead,
// so that a text longer than its buffer can be read whole.
//
// Every failure throws OdbcError: the SQLSTATE, the driver's own message and the statement.
// A failure whose SQLSTATE says the link is gone (class 08) marks the connection lost; Reopen()
// connects again with the same connection string. Recordsets keep the link they were opened on
// alive, so they may outlive a Reopen or the connection itself.
//
// Transactions: BeginTransaction turns autocommit off until CommitTransaction or
// RollbackTransaction turn it on again. The lower calls (SetAutocommit, Commit, Rollback) are for
// what needs the driver's own terms: a common read view, a sample copied in one transaction.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <string_view>

#include "db/connection.h"
#include "db/connection_source.h"
#include "db/sqlite_connection.h"  // OpenOptions

namespace tallyvet::db {

// The SQL a data source is spoken to in. A new dialect is one enumerator here, one name in
// DialectOf and one case in OdbcConnection::Translate.
enum class OdbcDialect { kOracle, kSqlite, kPostgres };

// The dialect of a data source by the product name it reports. Throws Error naming the product
// when there is none for it.
OdbcDialect DialectOf(std::string_view dbms_name);

// What an ODBC failure was, as far as its SQLSTATE tells (the command line names it).
enum class OdbcFailure {
  kOther,
  kUnknownDataSource,  // IM002: no such DSN and no driver named
  kMissingDriver,      // IM003, or a connect refused with only 01000: the driver library cannot
                       // be loaded
  kLoginRefused,       // 28000: wrong user or password
  kLinkLost,           // class 08 after connecting: the server or the network went away
  kConnectFailed,      // class 08 while connecting: the server cannot be reached
  kNoSuchTable,        // 42S02; PostgreSQL's 42P01
  kLocked,             // 55P03, HYT00: another session's lock outlasted the wait
};
// `connecting`: the failure came from connecting, not from a statement.
OdbcFailure ClassifySqlState(std::string_view sqlstate, bool connecting);

class OdbcError : public Error {
 public:
  // `message` is the driver's text; what() and message() carry the SQLSTATE after it.
  OdbcError(std::string sqlstate, const std::string& message, std::string statement = {});
  const std::string& sqlstate() const { return sqlstate_; }

 private:
  std::string sqlstate_;
};

class OdbcConnection final : public Connection {
 public:
  // Connects with `connection_string` ("DSN=accounts;UID=..;PWD=.." or "Driver=...;...") without
  // prompting, and picks the dialect. `owner` is the account-set owner (the SQLite translation
  // drops it as a qualifier). options.read_only asks the driver for a read-only connection.
  // Throws OdbcError when the driver manager or driver refuses, Error for an unknown product or
  // a SQLite data source without the Oracle functions.
  static std::unique_ptr<OdbcConnection> Open(const std::string& connection_string,
                                              const std::string& owner, OpenOptions options = {});
  ~OdbcConnection() override;
  OdbcConnection(const OdbcConnection&) = delete;
  OdbcConnection& operator=(const OdbcConnection&) = delete;

  std::unique_ptr<Recordset> OpenResultset(const std::string& sql, int cursor = 3,
                                           int lock = 0) override;
  void Execute(const std::string& sql) override;
  std::int64_t RowsAffected() const override { return rows_affected_; }
  // Runs a statement of the program's own, written for this data source (no translation): the
  // schema and rows of a sample account set. Throws OdbcError.
  void ExecuteNative(const std::string& sql);
  bool StillExecuting() const override { return false; }
  // Oracle and PostgreSQL; a SQLite file through its driver is no server.
  bool ServerHost() const override { return dialect_ != OdbcDialect::kSqlite; }
  bool TypesColumnsByFirstRow() const override { return dialect_ == OdbcDialect::kSqlite; }

  // Statements that wait longer than this (a lock, a slow query) fail with the driver's timeout
  // error (SQLSTATE HYT00). Zero, the default, waits without limit. Applies to later statements;
  // a driver that has no query timeout ignores it.
  void SetQueryTimeout(std::chrono::seconds timeout) { query_timeout_ = timeout; }

  // Autocommit is on after Open. With it off, the driver opens a transaction that lasts until
  // Commit or Rollback. All three throw OdbcError.
  void SetAutocommit(bool on);
  // Connection's transactions, over autocommit.
  void BeginTransaction() override;
  void CommitTransaction() override;
  void RollbackTransaction() override;
  bool InTransaction() const override { return in_transaction_; }
  // Autocommit off, in a repeatable-read (PostgreSQL) or read-only (Oracle) transaction; nothing
  // when autocommit is off already (a transaction, or a common view of a run).
  void BeginReadView() override;
  void EndReadView() noexcept override;
  // Transactions from now on read one snapshot (REPEATABLE READ) instead of what each statement
  // finds committed (READ COMMITTED, the default). Throws OdbcError.
  void SetRepeatableRead(bool on);
  void Commit();
  void Rollback();

  // True once a call failed because the link to the database is gone; LinkLostError() is that
  // failure's message (empty while the link is up).
  bool LinkLost() const;
  const std::string& LinkLostError() const;
  // Leaves the database, as the server going away would: later calls fail with the driver
  // manager's "connection not open" (SQLSTATE 08003) and mark the link lost, until Reopen.
  // Recordsets opened before keep their rows; the transaction open on the old link is rolled
  // back once the last of them is gone. Throws Error when no handle can be allocated.
  void Close();
  // Drops the current link and connects again with the same string and options (autocommit on).
  // Recordsets opened before keep reading what they had fetched. Throws as Open.
  void Reopen();

  OdbcDialect dialect() const { return dialect_; }
  // The product name the data source reported, e.g. "Oracle" or "SQLite".
  const std::string& dbms_name() const { return dbms_name_; }
  // The statement as it is sent to the data source.
  std::string Translate(const std::string& sql) const;
  // Translate, with a query's column labels on PostgreSQL; empty for a RELEASE on Oracle, which
  // is not sent.
  std::string SentForm(const std::string& sql, SentAs as) const override;

  struct Link;  // the environment and connection handles; shared with open recordsets

 private:
  OdbcConnection(std::string connection_string, std::string owner, OpenOptions options);
  void Connect();
  void PrepareSession();
  std::string connection_string_;
  std::string owner_;
  OpenOptions options_;
  std::shared_ptr<Link> link_;
  OdbcDialect dialect_ = OdbcDialect::kOracle;
  std::string dbms_name_;
  bool getdata_bound_ = false;  // the driver reads a bound column again (SQL_GD_BOUND)
  std::chrono::seconds query_timeout_{0};
  std::int64_t rows_affected_ = 0;
  bool in_transaction_ = false;
  bool autocommit_ = true;
  bool read_view_ = false;
};

// Further connections with the same connection string, and one committed state for all of them:
// on PostgreSQL, a snapshot exported from a REPEATABLE READ transaction (pg_export_snapshot) and
// imported by every reader (SET TRANSACTION SNAPSHOT), as the server's own parallel dump does.
// Other data sources give no common view (BeginCommonView returns false).
class OdbcConnectionSource final : public ConnectionSource {
 public:
  OdbcConnectionSource(std::string connection_string, std::string owner, OpenOptions options = {});

  std::unique_ptr<Connection> Open() override;
  // Requires: every reader an OdbcConnection to this source's database (or a wrapper of one, see
  // Backend), in autocommit.
  // A reader in the view has autocommit off until EndView.
  bool BeginCommonView(const std::vector<Connection*>& readers) override;
  void EndView(Connection& reader) noexcept override;

 private:
  std::string connection_string_;
  std::string owner_;
  OpenOptions options_;
};

}  // namespace tallyvet::db
