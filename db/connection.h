// The host connection: the one object through which the component reaches the host database.
// Every statement is the host's SQL text. Reads run without a transaction of the component's own,
// so that nothing is held while a person reads a screen or a prompt; a write that must stand or
// fall whole (a registration, an adjustment) runs inside one transaction, briefly.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "db/error.h"
#include "db/recordset.h"
#include "db/statement_scope.h"

namespace tallyvet::db {

// How a statement reaches the database: as a query (OpenResultset, OpenRowSource) or as a
// statement (Execute). A dialect may send the two differently (column labels on queries).
enum class SentAs { kQuery, kStatement };

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

  // A consistent read: every query from BeginReadView to EndReadView reads one committed state of
  // the account set, so that two queries compared with each other (a ledger recomputed from its
  // documents, and the ledger as stored) never straddle another program's commit. Takes no write
  // lock (on a SQLite file in rollback-journal mode a writer's commit waits for it, as it waits
  // for any query). Does nothing when a transaction or view is open already. Ends with
  // EndReadView, which never throws; meant for a few queries, never across a person's reading.
  // BeginReadView throws Error. The defaults do nothing: a connection of a test's own.
  virtual void BeginReadView() {}
  virtual void EndReadView() noexcept {}

  // The statement as this connection sends it to its database, after its dialect; empty when it
  // sends nothing for it. The default: the statement as written. Never throws but bad_alloc.
  virtual std::string SentForm(const std::string& sql, SentAs /*as*/) const { return sql; }
  // The connection this one passes its calls on to, for a wrapper; nullptr for a backend's own.
  virtual Connection* Inner() { return nullptr; }
};

// Refuses an account-set owner that is not a plain name before it reaches any statement (it is
// spliced into them as a qualifier and a filter): a letter, then letters, digits, _, $ or #, at
// most 128 bytes, as a database takes an unquoted name. Throws Error, one line naming the owner
// and what is allowed. Every backend's Open calls it.
void RequireOwnerName(std::string_view owner);

// The backend's own connection under every wrapper of `conn` (Connection::Inner), for the calls
// that need the backend's own terms (a common read view).
Connection& Backend(Connection& conn);

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

// Connection::BeginReadView for the life of the object.
class ReadView {
 public:
  explicit ReadView(Connection& conn) : conn_(conn) { conn_.BeginReadView(); }
  ~ReadView() { conn_.EndReadView(); }
  ReadView(const ReadView&) = delete;
  ReadView& operator=(const ReadView&) = delete;

 private:
  Connection& conn_;
};

// One unit of writes that stands or falls whole: a transaction of its own when the connection has
// none open, else a savepoint inside the open one, whose owner commits or rolls back the rest (a
// preview that undoes everything, a caller that groups several writes). The destructor rolls
// back when neither Commit nor Rollback ran, swallowing errors.
class WriteUnit {
 public:
  // `savepoint` names the savepoint when one is needed. Throws Error when neither can begin.
  WriteUnit(Connection& conn, std::string savepoint);
  ~WriteUnit();
  WriteUnit(const WriteUnit&) = delete;
  WriteUnit& operator=(const WriteUnit&) = delete;

  // Commits the transaction, or releases the savepoint. Throws Error.
  void Commit();
  // Rolls back the transaction, or to the savepoint while the enclosing transaction still stands.
  // Throws Error.
  void Rollback();
  // False once committed or rolled back, or once the database has ended the transaction the unit
  // is part of on its own (everything in it is gone then, the enclosing owner's writes too).
  bool Open() const;
  // Whether the unit is a savepoint in a transaction it does not own.
  bool Nested() const { return !transaction_.has_value(); }

 private:
  Connection& conn_;
  std::string savepoint_;
  std::optional<Transaction> transaction_;
  bool open_ = true;
};

}  // namespace tallyvet::db
