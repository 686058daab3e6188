#include "receipt_audit/adjustment_preview.h"

namespace tallyvet::receipt_audit {

AdjustmentOutcome PreviewCostAdjustment(CheckActivityScreen& screen, db::Connection& conn) {
  db::Transaction preview(conn);
  AdjustmentOutcome outcome = screen.RunCostAdjustment(AdjustmentOptions{.reregister = false});
  preview.Rollback();
  return outcome;
}

}  // namespace tallyvet::receipt_audit
