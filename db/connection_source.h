// Where a run that works on several connections at once gets them: further connections to the
// account set its first connection reads, and one committed state for all of them to read.
//
// A backend that cannot put several connections on one committed state says so (BeginCommonView
// returns false); the caller then stays on one connection.
#pragma once

#include <memory>
#include <vector>

#include "db/connection.h"

namespace tallyvet::db {

class ConnectionSource {
 public:
  virtual ~ConnectionSource() = default;

  // A new connection to the same account set, for one thread at a time. Throws Error.
  virtual std::unique_ptr<Connection> Open() = 0;

  // Starts a read transaction on every connection in `readers` (each opened by this source, or
  // the run's first connection to the same account set) so that all of them read one and the
  // same committed state until EndView. Returns false when the backend cannot give such a view
  // now; no reader is then left in a transaction. Throws Error when the database fails; no reader
  // is then left in a transaction either.
  virtual bool BeginCommonView(const std::vector<Connection*>& readers) = 0;

  // Ends the read transaction that BeginCommonView started on `reader`. Never throws.
  virtual void EndView(Connection& reader) noexcept = 0;
};

}  // namespace tallyvet::db
