// Rebuilding a ledger's rows for a date range from the source documents.
#pragma once

#include <optional>
#include <string>

#include "shell/host_context.h"
#include "shell/progress_screen.h"

namespace tallyvet {

// "库存" rebuilds item 2 (PositionDaily): true when rebuilt, false when that failed; any other kind
// does nothing and gives no result. `error`, when given, receives the database's message.
std::optional<bool> ReRegisterLedgers(HostContext& ctx, ProgressScreen& screen,
                                      const std::string& kind, const std::string& beginDate,
                                      const std::string& endDate, std::string* error = nullptr);

// Deletes the item's ledger rows in [beginDate, endDate] and inserts what its SelectSql computes
// for the range. The DELETE and the INSERT form one unit inside a savepoint: on any failure the
// savepoint is rolled back to, the ledger keeps its rows, and the result is false.
bool ReRegisterLedger(HostContext& ctx, ProgressScreen& screen, int item,
                      const std::string& beginDate, const std::string& endDate,
                      std::string* error = nullptr);

}  // namespace tallyvet
