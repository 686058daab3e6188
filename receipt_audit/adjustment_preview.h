// A preview of the cost adjustment: the write-back statements and the average-cost updates it
// would make, with nothing left changed in the database.
//
// The average-cost groups depend on what the write-back has just written (an outbound line's
// average cost becomes its cost amount), so reading the groups from the untouched lines would list
// updates the adjustment would not make. The preview therefore runs both phases for real inside a
// savepoint and rolls back to it; the stock ledger is not rebuilt.
#pragma once

#include <string>

#include "db/connection.h"
#include "receipt_audit/check_activity_screen.h"

namespace tallyvet::receipt_audit {

// Holds a savepoint for its lifetime. The destructor rolls back to it and releases it (errors
// there are swallowed: a destructor must not throw); RollBack() does the same and throws.
class SavepointRollback {
 public:
  // Throws db::Error when the savepoint cannot be set.
  SavepointRollback(db::Connection& conn, std::string name);
  ~SavepointRollback();
  SavepointRollback(const SavepointRollback&) = delete;
  SavepointRollback& operator=(const SavepointRollback&) = delete;

  // Undoes every change since the savepoint and releases it. Throws db::Error.
  void RollBack();

 private:
  db::Connection& conn_;
  std::string name_;
  bool open_ = true;
};

// Runs RunCostAdjustment on `screen` without the re-registration and undoes its writes.
// Requires: the screen's checks have run (its grid holds the rows to write back).
// Guarantees: the database holds what it held before; the screen's grid shows the outcome as the
// adjustment would leave it. Throws db::Error when the savepoint cannot be set or rolled back.
AdjustmentOutcome PreviewCostAdjustment(CheckActivityScreen& screen, db::Connection& conn);

}  // namespace tallyvet::receipt_audit
