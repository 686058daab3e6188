// A preview of the cost adjustment: the write-back statements and the average-cost updates it
// would make, with nothing left changed in the database.
//
// The average-cost groups depend on what the write-back has just written (an outbound line's
// average cost becomes its cost amount), so reading the groups from the untouched lines would list
// updates the adjustment would not make. The preview therefore runs both phases for real inside a
// transaction of its own and rolls it back; the stock ledger is not rebuilt.
#pragma once

#include <string>

#include "db/connection.h"
#include "receipt_audit/check_activity_screen.h"

namespace tallyvet::receipt_audit {

// Runs RunCostAdjustment on `screen` without the re-registration and undoes its writes.
// Requires: the screen's checks have run (its grid holds the rows to write back); no transaction
// open on `conn`.
// Guarantees: the database holds what it held before; the screen's grid shows the outcome as the
// adjustment would leave it. Throws db::Error when the transaction cannot begin or roll back.
AdjustmentOutcome PreviewCostAdjustment(CheckActivityScreen& screen, db::Connection& conn);

}  // namespace tallyvet::receipt_audit
