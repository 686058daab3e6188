// The stored ledger source and the ledgers computed from it.
#include <stdexcept>
#include <string>

#include "ledger_engine/check_items.h"
#include "ledger_engine/derivation.h"
#include "ledger_engine/reregistration.h"
#include "sample/build.h"
#include "sample/embedded_text.h"
#include "sample/sql_text.h"
#include "sample/statement.h"

namespace tallyvet::sample {

using namespace std::string_literals;

namespace {

// One stored object, a row per line numbered from 1, each TEXT with its line break.
void StoreObject(Statement& insert, const std::string& owner, const char* name, const char* type,
                 std::string_view text) {
  int line = 0;
  for (const std::string& row : SourceLines(text)) {
    insert.Bind(1, owner).Bind(2, name).Bind(3, type).Bind(4, ++line).Bind(5, row).Run();
  }
}

}  // namespace

void StoreSource(BuildState& s) {
  const std::string owner = UpperAscii(s.options.owner);
  Statement insert(s.db, "INSERT INTO ALL_SOURCE (OWNER,NAME,TYPE,LINE,TEXT) VALUES (?,?,?,?,?)");
  Exec(s.db, "BEGIN");
  StoreObject(insert, owner, "MDLITEM", "PACKAGE BODY", embedded::kMdlItemSource);
  StoreObject(insert, owner, "CHANGEALLACCOUNT_FROM_VOUCHER", "FUNCTION",
              embedded::kVoucherFunctionSource);
  Exec(s.db, "COMMIT");
}

void FillLedgers(BuildState& s, HostContext& ctx) {
  SilentScreen screen;
  InitCheckItems(ctx);
  DeriveGoodsLedgerSql(ctx, screen);
  DeriveAccountLedgerSql(ctx, screen);

  for (int item = 1; item <= 3; ++item) {
    std::string error;
    if (!ReRegisterLedger(ctx, screen, item, " ", "9999-12-31", &error)) {
      throw std::runtime_error("registering the ledger of item "s + std::to_string(item) +
                               " failed: " + error);
    }
  }

  // The general ledger holds two items in one row per key: the voucher columns and the
  // receivable/payable columns.
  CheckItemTable& items = ctx.CheckItems;
  std::string fromVouchers = items.SelectSql[CheckItemTable::Index(4)];
  const std::string& fromDetail = items.SelectSql[CheckItemTable::Index(5)];
  if (fromVouchers.empty() || fromDetail.empty()) {
    throw std::runtime_error("the general ledger's SELECT could not be derived from the source");
  }
  std::string voucherColumns;
  {
    const std::string probe =
        ReplaceAll(fromVouchers, "GROUP BY", " AND strDate>'9999-12-31' GROUP BY");
    auto rs = ctx.conn().OpenResultset(probe, 3, 3);
    voucherColumns = MatchInsertColumns(*rs, items, 4, fromVouchers);
    rs->Close();
  }
  std::string keyList, positions;
  GetKeyColumns(items, 4, keyList, positions);
  const std::string sql =
      GeneralLedgerFillSql(SplitColumns(keyList), SplitColumns(voucherColumns),
                           SplitColumns(items.InsertColumns[CheckItemTable::Index(5)]),
                           s.conn.Translate(fromVouchers), s.conn.Translate(fromDetail));
  Exec(s.db, sql);
}

}  // namespace tallyvet::sample
