#include "receipt_audit/adjustment_preview.h"

#include <utility>

namespace tallyvet::receipt_audit {

SavepointRollback::SavepointRollback(db::Connection& conn, std::string name)
    : conn_(conn), name_(std::move(name)) {
  const db::StatementScope adjusting(db::Purpose::kAdjust);
  conn_.Execute("SAVEPOINT " + name_);
}

SavepointRollback::~SavepointRollback() {
  if (!open_) return;
  try {
    RollBack();
  } catch (...) {
    // Nothing more can be done from a destructor; the connection reports the state it is in.
  }
}

void SavepointRollback::RollBack() {
  const db::StatementScope adjusting(db::Purpose::kAdjust);
  if (!open_) return;
  open_ = false;
  conn_.Execute("ROLLBACK TO " + name_);
  conn_.Execute("RELEASE " + name_);
}

AdjustmentOutcome PreviewCostAdjustment(CheckActivityScreen& screen, db::Connection& conn) {
  SavepointRollback savepoint(conn, "tallyvet_adjustment_preview");
  AdjustmentOutcome outcome = screen.RunCostAdjustment(AdjustmentOptions{.reregister = false});
  savepoint.RollBack();
  return outcome;
}

}  // namespace tallyvet::receipt_audit
