// The host connection: the one object through which the component reaches the host database.
// Every statement is the host's SQL text. Reads run without a transaction of the component's own,
// so that nothing is held while a person reads a screen or a prompt; a write that must stand or
// fall whole (a registration, an adjustment) runs inside one transaction, briefly.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "db/error.h"
#include "db/recordset.h"

namespace tallyvet::db {

class Connection {
 public:
  virtual ~Connection() = default;

  // Runs a query and returns its result positioned on the first row, rows in the query's order.
  // `cursor` and `lock` are the host's cursor and lock numbers; the component passes 3 and,
  // in some calls, a second 3. Throws Error (database message and statement) on failure.
  virtual std::unique_ptr<Recordset> OpenResultset(const std::string& sql, int cursor = 3,
                                                   int lock = 0) = 0;
  // The query prepared, its columns known, its rows not yet fetched: they are fetched as the
  // source is read, by one thread at a time, the connection serving nothing else until the
  // source has ended (or is gone). The default runs the query through OpenResultset and hands
  // out its rows. Throws Error as OpenResultset.
  virtual std::unique_ptr<RowSource> OpenRowSource(const std::string& sql);
  // Whether the account set lives on a database server (reached over a network, as PostgreSQL
  // and Oracle are) rather than in a file that this process, or its driver, reads (SQLite).
  virtual bool ServerHost() const { return false; }
  // Whether a column's values come back in the type a driver judged from the statement's first
  // row (SQLite through its ODBC driver), so that the same values may come as numbers from one
  // statement and as texts from another that gives them in another order.
  virtual bool TypesColumnsByFirstRow() const { return false; }
  // Memory a recordset of this connection keeps before its rows go to a temporary file.
  virtual std::size_t SpillThreshold() const { return Recordset::kDefaultSpillThreshold; }
  // Runs one UPDATE, INSERT or DELETE (or a SAVEPOINT / RELEASE / ROLLBACK TO). Throws Error.
  virtual void Execute(const std::string& sql) = 0;
  // Rows touched by the last Execute.
  virtual std::int64_t RowsAffected() const = 0;
  // True while the last Execute still runs; false once Execute has returned.
  virtual bool StillExecuting() const = 0;

  // A transaction: every statement from BeginTransaction to CommitTransaction or
  // RollbackTransaction stands or falls with the others (savepoints nest inside it through
  // Execute). BeginTransaction requires none open and takes the database's write lock where the
  // database locks whole files (SQLite), so that what the transaction reads stays as read until it
  // ends; a writer elsewhere waits for it. Commit and rollback leave the connection as before, each
  // statement standing on its own. All three throw Error; after a failed commit nothing stands.
  // The default throws: a connection of a test's own that needs none.
  virtual void BeginTransaction();
  virtual void CommitTransaction();
  virtual void RollbackTransaction();
  // Whether a transaction is open, as the database itself says where it can: a failure after
  // which the database rolled back on its own (SQLite on a full disk) has ended it.
  virtual bool InTransaction() const { return false; }
};

// One transaction for the life of the object (Connection::BeginTransaction). The destructor rolls
// it back when neither Commit nor Rollback ran, swallowing errors (a destructor must not throw;
// the failure that brought it here is the one to report).
class Transaction {
 public:
  // Throws Error when the transaction cannot begin (another program's lock past the timeout).
  explicit Transaction(Connection& conn);
  ~Transaction();
  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // Throws Error; the transaction is over either way.
  void Commit();
  // Rolls back when the database has not already done so itself. Throws Error.
  void Rollback();
  // False once committed or rolled back, by this object or by the database on its own.
  bool Open() const { return open_ && conn_.InTransaction(); }

 private:
  Connection& conn_;
  bool open_ = true;
};

}  // namespace tallyvet::db
