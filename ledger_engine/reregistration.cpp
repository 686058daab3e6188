#include "ledger_engine/reregistration.h"

#include <exception>
#include <string>

#include "db/error.h"
#include "ledger_engine/check_items.h"
#include "ledger_engine/derivation.h"
#include "ledger_engine/key_conditions.h"

namespace tallyvet {

namespace {

constexpr const char* kSavepoint = "tallyvet_reregister";

void WaitForStatement(db::Connection& conn, ProgressStepper& stepper) {
  while (conn.StillExecuting()) stepper.Step();
}

}  // namespace

std::optional<bool> ReRegisterLedgers(HostContext& ctx, ProgressScreen& screen,
                                      const std::string& kind, const std::string& beginDate,
                                      const std::string& endDate, std::string* error) {
  if (kind == "库存") return ReRegisterLedger(ctx, screen, 2, beginDate, endDate, error);
  return std::nullopt;
}

bool ReRegisterLedger(HostContext& ctx, ProgressScreen& screen, int item,
                      const std::string& beginDate, const std::string& endDate,
                      std::string* error) {
  db::Connection* conn = nullptr;
  bool inSavepoint = false;
  // Re-registration fails quietly by design: the result says false and the caller decides what
  // to show; the message goes to `error` for callers that print it. The ledger rows go back to
  // what they were before the DELETE.
  const auto fail = [&](const std::string& message) {
    if (error) *error = message;
    if (!inSavepoint) return false;
    try {
      conn->Execute(std::string("ROLLBACK TO ") + kSavepoint);
      conn->Execute(std::string("RELEASE ") + kSavepoint);
    } catch (const db::Error& undo) {
      // Nothing more can be done here; the caller hears of both failures.
      if (error) *error += "; restoring the ledger failed too: " + undo.message();
    }
    return false;
  };
  try {
    conn = &ctx.conn();
    CheckItemTable& items = ctx.CheckItems;
    const std::size_t i = CheckItemTable::Index(item);
    const std::string table = UpperAscii(items.LedgerTable[i]);
    ProgressStepper stepper(screen);

    screen.SetNotes("正在准备数据...");
    // The DELETE and the INSERT stand or fall together: a savepoint neither commits nor ends the
    // host's own transaction, and rolling back to it brings back the rows the DELETE removed.
    conn->Execute(std::string("SAVEPOINT ") + kSavepoint);
    inSavepoint = true;
    const std::string range = DateRangeCondition("strDate", beginDate, endDate);
    conn->Execute("DELETE FROM " + table + " NOLOGGING WHERE " + range);
    WaitForStatement(*conn, stepper);

    screen.SetNotes("正在登记账表...");
    // The range is joined with AND to the condition in front of each GROUP BY, subqueries too.
    std::string sql =
        ReplaceAll(UpperAscii(items.SelectSql[i]), "GROUP BY", " AND " + range + " GROUP BY");
    // The same query restricted to no row: it gives the result's shape without reading data.
    const std::string probe =
        ReplaceAll(UpperAscii(sql), "GROUP BY", " AND strDate>'9999-12-31' GROUP BY");
    {
      auto rs = conn->OpenResultset(probe, 3, 3);
      items.InsertColumns[i] = MatchInsertColumns(*rs, items, item, sql);
      rs->Close();
    }
    conn->Execute("INSERT INTO /*+ APPEND */ " + table + " NOLOGGING (" + items.InsertColumns[i] +
                  ") " + sql);
    WaitForStatement(*conn, stepper);

    conn->Execute(std::string("RELEASE ") + kSavepoint);
    inSavepoint = false;
    return true;
  } catch (const db::Error& e) {
    return fail(e.message());
  } catch (const std::exception& e) {
    // No connection, an item outside 1 to 6: also a failed rebuild, not a crash of the caller.
    return fail(e.what());
  }
}

}  // namespace tallyvet
