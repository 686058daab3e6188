#include "ledger_engine/check_items.h"

#include <array>

namespace tallyvet {

namespace {

struct ItemDefinition {
  const char* ledgerTable;  // null: item 6's voucher subquery
  const char* functionHeader;
};

// The ledger each item reconciles and the header line of the host function that maintains it, as
// the host writes them; the headers are matched upper-cased against the stored source.
constexpr std::array<ItemDefinition, 6> kItems = {{
    {"ItemDaily2", "Function ChangeItemDaily2_New"},
    {"PositionDaily", "Function ChangePositionDaily_New"},
    {"ItemDaily1", "Function ChangeItemDaily1_New"},
    {"AccountDaily", "FUNCTION ChangeAllAccount_From_Voucher"},
    {"AccountDaily", "FUNCTION ChangeAllAccount_From_Invoice"},
    {nullptr, "FUNCTION Voucher_ItemActivity"},
}};

}  // namespace

std::string_view FunctionName(int item) {
  const std::string_view header = kItems.at(CheckItemTable::Index(item)).functionHeader;
  return header.substr(header.find(' ') + 1);
}

const std::string& VoucherSubqueryLedgerTable() {
  // The fragments keep their trailing blank so the words stay apart when joined; the Chinese
  // account-name filters and the quoted '0' pass the upper-casing unchanged.
  static const std::string table = UpperAscii(
      std::string("(") +
      "SELECT Voucher.lngVoucherID,voucher.strDate,lngVoucherSourceID,Voucher.strDate || "
      "strVoucherTypeName || Lpad(intVoucherNO,4,'0') As intVoucherNo ,sum(dblAmount) dblAmount " +
      "FROM voucher, voucherdetail, VoucherType,account " +
      "WHERE voucher.lngvoucherid = voucherdetail.lngvoucherid " +
      "AND voucherdetail.lngaccountid=account.lngaccountid " +
      "AND Voucher.lngVoucherTypeID=VoucherType.lngVoucherTypeID " + "AND lngaccountnatureid=5 " +
      "AND instr(straccountname,'委托')=0 AND instr(straccountname,'分期')=0 AND "
      "instr(straccountname,'代销')=0 " +
      "GROUP BY Voucher.lngVoucherID,voucher.strDate,lngVoucherSourceID,Voucher.strDate || "
      "STRVOUCHERTYPENAME || LPAD(INTVOUCHERNO,4,'0')) QVoucher");
  return table;
}

void InitCheckItems(HostContext& ctx) {
  ctx.dictionary.BuildFieldDictionary();
  CheckItemTable& items = ctx.CheckItems;
  for (int item = 1; item <= 6; ++item) {
    const std::size_t i = CheckItemTable::Index(item);
    const ItemDefinition& def = kItems[i];
    items.LedgerTable[i] = def.ledgerTable ? def.ledgerTable : VoucherSubqueryLedgerTable();
    items.FunctionHeader[i] = UpperAscii(def.functionHeader);
  }
  for (int item = 1; item <= 6; ++item) {
    const std::size_t i = CheckItemTable::Index(item);
    items.KeyColumns[i].clear();
    items.SelectSql[i].clear();
    items.InsertColumns[i].clear();
    items.Refusal[i].clear();
  }
}

}  // namespace tallyvet
