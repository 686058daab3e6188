// The fixed contents of the six check items.
#include "ledger_engine/check_items.h"

#include <gtest/gtest.h>

#include "ledger_engine/temp_account_set.h"

namespace tallyvet {
namespace {

TEST(InitCheckItems, FillsTheFixedContentsAndEmptiesTheSlots) {
  HostContext ctx;
  for (int i = 0; i < 6; ++i) {
    ctx.CheckItems.KeyColumns[i] = "K";
    ctx.CheckItems.SelectSql[i] = "S";
    ctx.CheckItems.InsertColumns[i] = "I";
  }
  InitCheckItems(ctx);
  const CheckItemTable& items = ctx.CheckItems;
  EXPECT_EQ(items.LedgerTable[0], "ItemDaily2");
  EXPECT_EQ(items.LedgerTable[1], "PositionDaily");
  EXPECT_EQ(items.LedgerTable[2], "ItemDaily1");
  EXPECT_EQ(items.LedgerTable[3], "AccountDaily");
  EXPECT_EQ(items.LedgerTable[4], "AccountDaily");
  EXPECT_EQ(items.FunctionHeader[0], "FUNCTION CHANGEITEMDAILY2_NEW");
  EXPECT_EQ(items.FunctionHeader[3], "FUNCTION CHANGEALLACCOUNT_FROM_VOUCHER");
  EXPECT_EQ(items.FunctionHeader[5], "FUNCTION VOUCHER_ITEMACTIVITY");
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(items.KeyColumns[i], "");
    EXPECT_EQ(items.SelectSql[i], "");
    EXPECT_EQ(items.InsertColumns[i], "");
  }
  EXPECT_EQ(ctx.dictionary.Caption("lngItemID"), "商品");
}

TEST(InitCheckItems, VoucherSubqueryIsUpperCasedAndRunsAsATable) {
  HostContext probe;
  InitCheckItems(probe);
  const std::string& table = probe.CheckItems.LedgerTable[5];
  EXPECT_EQ(table.front(), '(');
  EXPECT_EQ(table.substr(table.size() - 10), ") QVOUCHER");
  EXPECT_NE(table.find("INSTR(STRACCOUNTNAME,'委托')=0 AND INSTR(STRACCOUNTNAME,'分期')=0 AND "
                       "INSTR(STRACCOUNTNAME,'代销')=0 GROUP BY"),
            std::string::npos);
  EXPECT_NE(table.find("LPAD(INTVOUCHERNO,4,'0') AS INTVOUCHERNO ,SUM(DBLAMOUNT) DBLAMOUNT FROM"),
            std::string::npos);

  // Two vouchers on a nature-5 account, one line on an account the filter leaves out.
  testing::TempAccountSet set;
  set.Script(R"sql(
    CREATE TABLE Voucher (lngVoucherID INTEGER, strDate TEXT, lngVoucherSourceID INTEGER,
                          lngVoucherTypeID INTEGER, intVoucherNO INTEGER);
    CREATE TABLE VoucherDetail (lngVoucherID INTEGER, lngAccountID INTEGER, dblAmount REAL);
    CREATE TABLE VoucherType (lngVoucherTypeID INTEGER, strVoucherTypeName TEXT);
    CREATE TABLE Account (lngAccountID INTEGER, lngAccountNatureID INTEGER, strAccountName TEXT);
    INSERT INTO VoucherType VALUES (1, '记');
    INSERT INTO Account VALUES (10, 5, '库存商品'), (11, 5, '委托代销商品'), (12, 1, '现金');
    INSERT INTO Voucher VALUES (100, '2005-03-01', 11, 1, 7), (101, '2005-03-02', 9, 1, 12);
    INSERT INTO VoucherDetail VALUES (100, 10, 5.5), (100, 10, 4.5), (100, 11, 99), (100, 12, 1),
                                     (101, 10, 2);
  )sql");
  EXPECT_EQ(set.Rows("SELECT STRDATE,LNGVOUCHERSOURCEID,INTVOUCHERNO,DBLAMOUNT FROM " + table +
                     " ORDER BY 1"),
            (std::vector<std::string>{"2005-03-01|11|2005-03-01记0007|10",
                                      "2005-03-02|9|2005-03-02记0012|2"}));
}

TEST(TextOperations, WorkOnAsciiOnlyAndExactly) {
  EXPECT_EQ(UpperAscii("p_BeginDate '委托' ä"), "P_BEGINDATE '委托' ä");
  EXPECT_EQ(TrimBlanks("  \tA B \n  "), "\tA B \n");
  EXPECT_EQ(TrimBlanks("   "), "");
  EXPECT_EQ(ReplaceAll("GROUP BY a GROUP BY", "GROUP BY", "X GROUP BY"), "X GROUP BY a X GROUP BY");
  EXPECT_EQ(ReplaceAll("aaa", "aa", "b"), "ba");
  EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
}

}  // namespace
}  // namespace tallyvet
