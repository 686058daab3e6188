// The host connection: the one object through which the component reaches the host database.
// Every statement is the host's SQL text; the component opens no transaction and commits nothing,
// so each statement stands as the connection leaves it.
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
  // Memory a recordset of this connection keeps before its rows go to a temporary file.
  virtual std::size_t SpillThreshold() const { return Recordset::kDefaultSpillThreshold; }
  // Runs one UPDATE, INSERT or DELETE (or a SAVEPOINT / RELEASE / ROLLBACK TO). Throws Error.
  virtual void Execute(const std::string& sql) = 0;
  // Rows touched by the last Execute.
  virtual std::int64_t RowsAffected() const = 0;
  // True while the last Execute still runs; false once Execute has returned.
  virtual bool StillExecuting() const = 0;
};

}  // namespace tallyvet::db
