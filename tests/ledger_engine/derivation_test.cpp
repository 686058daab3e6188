// Cutting the ledger SQL out of the host's stored source: the scanner on hand-made source rows,
// the derivations on a temporary account set, the key columns and the INSERT column matching.
#include "ledger_engine/derivation.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ledger_engine/check_items.h"
#include "ledger_engine/recording_screen.h"
#include "ledger_engine/temp_account_set.h"

namespace tallyvet {
namespace {

using testing::RecordingScreen;
using testing::TempAccountSet;

// Source rows as ALL_SOURCE gives them: one TEXT column, every line ending in its line break.
std::unique_ptr<db::Recordset> SourceRows(const std::vector<std::string>& lines) {
  std::vector<std::vector<db::Value>> rows;
  for (const std::string& line : lines) rows.push_back({db::Value(line + "\n")});
  return db::Recordset::FromRows({{"TEXT", db::adVarChar}}, std::move(rows));
}

std::string CurrentText(const db::Recordset& rs) {
  return rs.Fields()[0].Value().AsText();
}

CheckItemTable FreshItems() {
  HostContext ctx;
  InitCheckItems(ctx);
  return ctx.CheckItems;
}

// A recordset with the given field names and no rows: the probe of a derived SELECT.
std::unique_ptr<db::Recordset> ProbeResult(const std::vector<std::string>& names) {
  std::vector<db::ColumnInfo> columns;
  for (const std::string& name : names) columns.push_back({name, db::adDouble});
  return db::Recordset::FromRows(std::move(columns), {});
}

// --- NextSourceStatement --------------------------------------------------------------------

TEST(NextSourceStatement, HeaderWithTrailingBlanksDoesNotOpenItsItem) {
  const CheckItemTable items = FreshItems();
  auto rs = SourceRows(
      {"Function ChangeItemDaily2_New   ", "  insert into ItemDaily2 (", "  select lngItemID,"});
  int item = 0;
  std::string keyword = "stale";
  std::string pending;
  NextSourceStatement(*rs, items, item, keyword, pending);
  EXPECT_EQ(item, 0);
  EXPECT_EQ(keyword, "");
  EXPECT_TRUE(rs->Eof());
}

TEST(NextSourceStatement, StopsOnEachStatementAfterAHeaderAndKeepsTheItemUntilTheNextHeader) {
  const CheckItemTable items = FreshItems();
  auto rs = SourceRows({
      "  select 1 into n from dual;",  // before any header: not a ledger statement
      "   Function ChangePositionDaily_New",
      "  (p_BeginDate varchar2) return number is",
      "  insert into PositionDaily",
      "  select a.strDate,",
      "Function SomeHelper",  // not an item's header: what follows still belongs to item 2
      "  Select b.strDate",
      "FUNCTION ChangeAllAccount_From_Voucher",
      "  Select x",
  });
  int item = 0;
  std::string keyword;
  std::string pending;

  NextSourceStatement(*rs, items, item, keyword, pending);
  EXPECT_EQ(item, 2);
  EXPECT_EQ(keyword, "INSERT");
  EXPECT_EQ(pending, "");
  EXPECT_EQ(CurrentText(*rs), "  insert into PositionDaily\n");  // stops on the line, not after

  rs->MoveNext();
  NextSourceStatement(*rs, items, item, keyword, pending);
  EXPECT_EQ(keyword, "SELECT");
  EXPECT_EQ(pending, "SELECT A.STRDATE,\n");  // trimmed and upper-cased, line break kept

  rs->MoveNext();
  NextSourceStatement(*rs, items, item, keyword, pending);
  EXPECT_EQ(item, 2);
  EXPECT_EQ(pending, "SELECT B.STRDATE\n");

  rs->MoveNext();
  NextSourceStatement(*rs, items, item, keyword, pending);
  EXPECT_EQ(item, 4);
  EXPECT_EQ(keyword, "SELECT");

  rs->MoveNext();
  NextSourceStatement(*rs, items, item, keyword, pending);
  EXPECT_EQ(keyword, "");
  EXPECT_EQ(item, 4);
  EXPECT_TRUE(rs->Eof());
}

// --- CollectSourceStatement -----------------------------------------------------------------

TEST(CollectSourceStatement, SelectAloneOnItsLineIsDroppedAndTheStatementEndsAtItsSemicolon) {
  auto rs = SourceRows({
      "  SELECT",
      "    A.lngItemID,",
      "    SUM(A.x) dblA,",
      "",
      "    SUM(A.y) dblB,",
      "    Sum(A.z) dblC",
      "  FROM A",
      "  GROUP BY A.lngItemID;",
      "  RETURN 1;",
  });
  std::string pending;
  EXPECT_EQ(CollectSourceStatement(*rs, "SELECT", ";", pending),
            "    A.lngItemID,\n    SUM(A.x) dblA,\n    SUM(A.y) dblB,\n    Sum(A.z) dblC\n"
            "  FROM A\n  GROUP BY A.lngItemID\n");
  EXPECT_EQ(CurrentText(*rs), "  GROUP BY A.lngItemID;\n");
}

TEST(CollectSourceStatement, SelectWithTwoSumLinesGivesNothing) {
  auto rs = SourceRows({
      "  SELECT COUNT(*),",
      "         SUM(dblQuantity),",
      "         SUM(dblAmount)",
      "    INTO n, q, a FROM ItemActivityDetail;",
      "  RETURN 1;",
  });
  std::string pending;
  EXPECT_EQ(CollectSourceStatement(*rs, "SELECT", ";", pending), "");
  EXPECT_EQ(CurrentText(*rs), "    INTO n, q, a FROM ItemActivityDetail;\n");
}

TEST(CollectSourceStatement, PendingLineTakesThePlaceOfTheRowTheCollectionStartsOn) {
  auto rs = SourceRows({"  select a.x,", "    sum(a.q) q,", "    sum(a.r) r,", "    sum(a.s) s",
                        "  from a group by a.x;"});
  std::string pending = "SELECT A.X,\n";
  EXPECT_EQ(
      CollectSourceStatement(*rs, "SELECT", ";", pending),
      "SELECT A.X,\n    sum(a.q) q,\n    sum(a.r) r,\n    sum(a.s) s\n  from a group by a.x\n");
  EXPECT_EQ(pending, "");
}

TEST(CollectSourceStatement, ColumnListAfterAnInsertLineEndingInParenthesis) {
  auto rs = SourceRows(
      {"  INSERT INTO ItemDaily2 (", "    lngItemID,strDate,", "    dblInQuantity)", "  SELECT x"});
  std::string pending;
  EXPECT_EQ(CollectSourceStatement(*rs, "(", ")", pending),
            "    lngItemID,strDate,\n    dblInQuantity\n");
  EXPECT_EQ(CurrentText(*rs), "    dblInQuantity)\n");
}

TEST(CollectSourceStatement, ColumnListStartingOnTheInsertLineIsNeverStarted) {
  auto rs = SourceRows(
      {"  INSERT INTO ItemDaily2 (lngItemID,strDate,", "    dblInQuantity)", "  SELECT x"});
  std::string pending;
  EXPECT_EQ(CollectSourceStatement(*rs, "(", ")", pending), "");
  EXPECT_EQ(CurrentText(*rs), "    dblInQuantity)\n");
}

// --- GetKeyColumns --------------------------------------------------------------------------

TEST(GetKeyColumns, TakesTheGroupByColumnsWithoutQualifiers) {
  CheckItemTable items = FreshItems();
  std::string columns;
  std::string positions;

  items.SelectSql[1] =
      "SELECT A.LNGITEMID,B.LNGPOSITIONID,SUM(A.Q) FROM A,B WHERE A.K=B.K "
      "GROUP BY A.LNGITEMID,B.LNGPOSITIONID";
  GetKeyColumns(items, 2, columns, positions);
  EXPECT_EQ(columns, "LNGITEMID,LNGPOSITIONID");
  EXPECT_EQ(positions, "1,2");

  // Blanks and line breaks inside a piece stay; an ORDER BY ends the list.
  items.SelectSql[0] =
      "SELECT X FROM A GROUP BY ITEMACTIVITY.STRDATE,\n  ITEMACTIVITYDETAIL.LNGITEMID,LNGJOBID\n"
      "  ORDER BY 1";
  GetKeyColumns(items, 1, columns, positions);
  EXPECT_EQ(columns, "STRDATE,LNGITEMID,LNGJOBID\n  ");
  EXPECT_EQ(positions, "1,2,3");

  // A list that ends in "," keeps its separator; empty pieces are skipped.
  items.SelectSql[2] = "SELECT X FROM A GROUP BY A.X,,B.Y,";
  GetKeyColumns(items, 3, columns, positions);
  EXPECT_EQ(columns, "X,Y,");
  EXPECT_EQ(positions, "1,2,");

  // The list starts right after "GROUP BY" and its blank, also for an unqualified first key.
  items.SelectSql[4] = "SELECT X FROM A GROUP BY STRDATE,A.LNGITEMID";
  items.KeyColumns[4].clear();
  GetKeyColumns(items, 5, columns, positions);
  EXPECT_EQ(columns, "STRDATE,LNGITEMID");

  items.SelectSql[3] = "";
  GetKeyColumns(items, 4, columns, positions);
  EXPECT_EQ(columns, "");
  EXPECT_EQ(positions, "");
}

TEST(GetKeyColumns, FixedKeysOfItemsFiveAndSixGiveTheirPositions) {
  CheckItemTable items = FreshItems();
  std::string columns;
  std::string positions;

  items.KeyColumns[5] = "STRDATE,LNGVOUCHERSOURCEID,INTVOUCHERNO";
  GetKeyColumns(items, 6, columns, positions);
  EXPECT_EQ(columns, "STRDATE,LNGVOUCHERSOURCEID,INTVOUCHERNO");
  EXPECT_EQ(positions, "1,2,3");

  items.KeyColumns[4] = "STRDATE,LNGACCOUNTID,LNGORGANIZATIONID,LNGSOURCEORGANIZATIONID";
  GetKeyColumns(items, 5, columns, positions);
  EXPECT_EQ(positions, "1,2,3,4,5,6,7,8,9,10");

  items.KeyColumns[4] = "STRDATE,LNGACCOUNTID,LNGDEPARTMENTID";
  GetKeyColumns(items, 5, columns, positions);
  EXPECT_EQ(columns, "STRDATE,LNGACCOUNTID,LNGDEPARTMENTID");
  EXPECT_EQ(positions, "1,2,3,4,5,6,7,8");
}

// --- MatchInsertColumns ---------------------------------------------------------------------

TEST(MatchInsertColumns, NamesTheLedgerColumnsOfEveryField) {
  CheckItemTable items = FreshItems();
  items.InsertColumns[0] =
      "    LNGITEMID,LNGPOSITIONGROUPID,STRDATE,\n    DBLBORROWPURCHASEAMOUNT\n";
  auto rs = ProbeResult(
      {"LNGITEMID", "NVL(POSITION.LNGPOSITIONGROUPID,0)", "STRDATE", "DBLBORROWPURCHASEDAMOUNT"});
  std::string sql = "SELECT UNCHANGED";
  EXPECT_EQ(MatchInsertColumns(*rs, items, 1, sql),
            "LNGITEMID,LNGPOSITIONGROUPID,STRDATE,DBLBORROWPURCHASEAMOUNT");
  EXPECT_EQ(sql, "SELECT UNCHANGED");
}

TEST(MatchInsertColumns, FieldsTheLedgerLacksShortenTheSelectByAsManySummedColumns) {
  CheckItemTable items = FreshItems();
  items.InsertColumns[1] = "X,DBLQ";
  auto rs = ProbeResult({"X", "DBLQ", "DBLR", "DBLS"});
  std::string sql =
      "SELECT A.X,\n  SUM(A.Q) DBLQ,\n  SUM(A.R) DBLR,\n  SUM(A.S) DBLS\nFROM A GROUP BY A.X\n";
  EXPECT_EQ(MatchInsertColumns(*rs, items, 2, sql), "X,DBLQ");
  EXPECT_EQ(sql, "SELECT A.X,\n  SUM(A.Q) DBLQ FROM A GROUP BY A.X\n");

  // The comparison passes no SQL: nothing to shorten.
  std::string none;
  EXPECT_EQ(MatchInsertColumns(*rs, items, 2, none), "X,DBLQ");
  EXPECT_EQ(none, "");
}

TEST(MatchInsertColumns, ItemsFiveAndSixKeepTheirBuiltList) {
  CheckItemTable items = FreshItems();
  items.InsertColumns[4] = "STRDATE,DBLUNVOUCHERDEBIT";
  items.InsertColumns[5] = "STRDATE,LNGVOUCHERSOURCEID,INTVOUCHERNO,DBLAMOUNT";
  auto rs = ProbeResult({"NVL(VOUCHER.STRDATE,' ')", "SOMETHING ELSE", "SUM(X)"});
  std::string sql = "SELECT A, SUM(B) FROM T";
  EXPECT_EQ(MatchInsertColumns(*rs, items, 5, sql), "STRDATE,DBLUNVOUCHERDEBIT");
  EXPECT_EQ(MatchInsertColumns(*rs, items, 6, sql),
            "STRDATE,LNGVOUCHERSOURCEID,INTVOUCHERNO,DBLAMOUNT");
  EXPECT_EQ(sql, "SELECT A, SUM(B) FROM T");
}

// --- DeriveGoodsLedgerSql -------------------------------------------------------------------

TEST(DeriveGoodsLedgerSql, CutsItemOneFromItsFunctionAndOpensItToEveryDate) {
  TempAccountSet set;
  set.StoreSource(
      "TALLY", "MDLITEM",
      {
          "CREATE OR REPLACE PACKAGE BODY MDLITEM IS",
          "Function ChangeItemDaily2_New",
          "  (p_BeginDate IN VARCHAR2, p_EndDate IN VARCHAR2) RETURN NUMBER IS",
          "BEGIN",
          "  SELECT COUNT(*),",
          "         SUM(dblQuantity),",
          "         SUM(dblAmount)",
          "    INTO v_Rows, v_Quantity, v_Amount FROM ItemActivityDetail;",
          "  DELETE FROM ItemDaily2 WHERE strDate>=p_BeginDate;",
          "  INSERT INTO ItemDaily2 (",
          "    lngItemID,lngPositionGroupID,strDate,",
          "    dblInQuantity,dblInAmount,dblOutQuantity)",
          "  SELECT ItemActivityDetail.lngItemID,Position.lngPositionGroupID,"
          "ItemActivity.strDate,",
          "    SUM(DECODE(ItemActivity.intDirection,1,dblQuantity,0)) dblInQuantity,",
          "    SUM(DECODE(ItemActivity.intDirection,1,dblAmount,0)) dblInAmount,",
          "    SUM(DECODE(ItemActivity.intDirection,-1,dblQuantity,0)) dblOutQuantity",
          "  FROM ItemActivity,ItemActivityDetail,Position",
          "  WHERE ItemActivity.lngActivityID=ItemActivityDetail.lngActivityID",
          "    AND ItemActivity.strDate>=p_BeginDate AND ItemActivity.strDate<=p_EndDate",
          "  GROUP BY ItemActivityDetail.lngItemID,Position.lngPositionGroupID,"
          "ItemActivity.strDate",
          "  ORDER BY ItemActivity.strDate;",
          "  RETURN 1;",
          "END;",
          "END MDLITEM;",
      });
  set.StoreSource("SOMEONE", "MDLITEM", {"Function ChangeItemDaily1_New", "  SELECT x;"});
  InitCheckItems(set.ctx);
  RecordingScreen screen;

  DeriveGoodsLedgerSql(set.ctx, screen);

  const CheckItemTable& items = set.ctx.CheckItems;
  // The two-SUM query before the ledger's SELECT is stepped over; the position group is made
  // null-safe; lower-case p_BeginDate/p_EndDate are matched after upper-casing; ORDER BY is cut.
  EXPECT_EQ(items.SelectSql[0],
            "SELECT ITEMACTIVITYDETAIL.LNGITEMID,NVL(POSITION.LNGPOSITIONGROUPID,0),"
            "ITEMACTIVITY.STRDATE,\n"
            "    SUM(DECODE(ITEMACTIVITY.INTDIRECTION,1,DBLQUANTITY,0)) DBLINQUANTITY,\n"
            "    SUM(DECODE(ITEMACTIVITY.INTDIRECTION,1,DBLAMOUNT,0)) DBLINAMOUNT,\n"
            "    SUM(DECODE(ITEMACTIVITY.INTDIRECTION,-1,DBLQUANTITY,0)) DBLOUTQUANTITY\n"
            "  FROM ITEMACTIVITY,ITEMACTIVITYDETAIL,POSITION\n"
            "  WHERE ITEMACTIVITY.LNGACTIVITYID=ITEMACTIVITYDETAIL.LNGACTIVITYID\n"
            "    AND ITEMACTIVITY.STRDATE>=' ' AND ITEMACTIVITY.STRDATE<='9999-12-31'\n"
            "  GROUP BY ITEMACTIVITYDETAIL.LNGITEMID,NVL(POSITION.LNGPOSITIONGROUPID,0),"
            "ITEMACTIVITY.STRDATE\n  ");
  EXPECT_EQ(items.InsertColumns[0],
            "    LNGITEMID,LNGPOSITIONGROUPID,STRDATE,\n"
            "    DBLINQUANTITY,DBLINAMOUNT,DBLOUTQUANTITY\n");
  // Another owner's package is not read.
  EXPECT_EQ(items.SelectSql[2], "");
  EXPECT_EQ(set.conn().queries.at(0),
            "SELECT Text FROM ALL_SOURCE WHERE OWNER='TALLY' AND NAME='MDLITEM' ORDER BY LINE");
  // The bar moves by one from its own value (unless the walk fell in the first tenth of a
  // second after midnight).
  ASSERT_FALSE(screen.shown.empty());
  EXPECT_EQ(screen.shown.front(), 1);
}

TEST(DeriveGoodsLedgerSql, ColumnListOnTheInsertLineLeavesTheSlotForALaterInsert) {
  TempAccountSet set;
  set.StoreSource("TALLY", "MDLITEM",
                  {
                      "Function ChangePositionDaily_New",
                      "BEGIN",
                      "  INSERT INTO PositionDaily (strDate,lngItemID,",
                      "    lngPositionID,dblInQuantity)",
                      "  SELECT",
                      "    ItemActivity.strDate,ItemActivityDetail.lngItemID,",
                      "    SUM(dblQuantity) dblInQuantity,",
                      "    SUM(dblAmount) dblInAmount,",
                      "    SUM(dblCost) dblCost",
                      "  FROM ItemActivity,ItemActivityDetail",
                      "  GROUP BY ItemActivity.strDate,ItemActivityDetail.lngItemID;",
                      "  INSERT INTO PositionDaily",
                      "  (strDate,lngItemID,",
                      "   dblInQuantity,dblInAmount)",
                      "  SELECT ItemActivity.strDate,0,",
                      "    SUM(1) a,",
                      "    SUM(2) b,",
                      "    SUM(3) c FROM ItemActivity;",
                      "END;",
                  });
  InitCheckItems(set.ctx);
  RecordingScreen screen;
  DeriveGoodsLedgerSql(set.ctx, screen);

  const CheckItemTable& items = set.ctx.CheckItems;
  EXPECT_EQ(items.InsertColumns[1], "  STRDATE,LNGITEMID,\n   DBLINQUANTITY,DBLINAMOUNT\n");
  // The SELECT keyword alone on its line goes with its line; the second SELECT is not taken.
  EXPECT_EQ(items.SelectSql[1],
            "    ITEMACTIVITY.STRDATE,ITEMACTIVITYDETAIL.LNGITEMID,\n"
            "    SUM(DBLQUANTITY) DBLINQUANTITY,\n    SUM(DBLAMOUNT) DBLINAMOUNT,\n"
            "    SUM(DBLCOST) DBLCOST\n  FROM ITEMACTIVITY,ITEMACTIVITYDETAIL\n"
            "  GROUP BY ITEMACTIVITY.STRDATE,ITEMACTIVITYDETAIL.LNGITEMID\n");
}

TEST(DeriveGoodsLedgerSql, UnusedPendingSelectLineStandsInForTheNextInsertLine) {
  // Item 2's second SELECT is not collected (its slot is filled); its first line, which ends in
  // ")", then takes the place of item 3's first INSERT line and ends that list at once, so item 3
  // gets the list of its second INSERT.
  TempAccountSet set;
  set.StoreSource("TALLY", "MDLITEM",
                  {
                      "Function ChangePositionDaily_New",
                      "  INSERT INTO PositionDaily (",
                      "    strDate,dblInQuantity)",
                      "  SELECT strDate,",
                      "    SUM(1) a,",
                      "    SUM(2) b,",
                      "    SUM(3) c FROM ItemActivity GROUP BY strDate;",
                      "  SELECT COUNT(*) INTO n FROM PositionDaily WHERE lngPositionID IN (1,2)",
                      "    AND strDate>=p_BeginDate;",
                      "END;",
                      "Function ChangeItemDaily1_New",
                      "  INSERT INTO ItemDaily1 (",
                      "    lngItemID,strDate,dblInQuantity,dblEntrustInQuantity)",
                      "  SELECT lngItemID,strDate,",
                      "    SUM(1) dblInQuantity,",
                      "    SUM(2) dblEntrustInQuantity,",
                      "    SUM(3) c FROM ItemActivity GROUP BY lngItemID,strDate;",
                      "  INSERT INTO ItemDaily1 (",
                      "    lngItemID,strDate)",
                      "END;",
                  });
  InitCheckItems(set.ctx);
  RecordingScreen screen;
  DeriveGoodsLedgerSql(set.ctx, screen);

  const CheckItemTable& items = set.ctx.CheckItems;
  EXPECT_EQ(items.InsertColumns[1], "    STRDATE,DBLINQUANTITY\n");
  EXPECT_EQ(items.InsertColumns[2], "    LNGITEMID,STRDATE\n");
  EXPECT_EQ(
      items.SelectSql[2],
      "SELECT LNGITEMID,STRDATE,\n    SUM(1) DBLINQUANTITY,\n    SUM(2) DBLENTRUSTINQUANTITY,\n"
      "    SUM(3) C FROM ITEMACTIVITY GROUP BY LNGITEMID,STRDATE\n");
}

TEST(DeriveGoodsLedgerSql, NoPackageForTheOwnerLeavesEverySlotEmpty) {
  TempAccountSet set;
  InitCheckItems(set.ctx);
  RecordingScreen screen;
  DeriveGoodsLedgerSql(set.ctx, screen);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(set.ctx.CheckItems.SelectSql[i], "");
    EXPECT_EQ(set.ctx.CheckItems.InsertColumns[i], "");
  }
}

// --- DeriveAccountLedgerSql -----------------------------------------------------------------

std::vector<std::string> VoucherFunction(const std::vector<std::string>& lastSelect) {
  std::vector<std::string> lines = {
      "FUNCTION ChangeAllAccount_From_Voucher",
      "  (p_BeginDate VARCHAR2, p_EndDate VARCHAR2) RETURN NUMBER IS",
      "BEGIN",
      "  INSERT INTO AccountDaily (",
      "    strDate,lngAccountID,lngDepartmentID,lngOrganizationID,lngSourceOrganizationID,",
      "    dblPostedDebit,dblPostedCredit,dblUnPostedDebit)",
      "  SELECT Voucher.strDate,VoucherDetail.lngAccountID,VoucherDetail.lngDepartmentID,"
      "VoucherDetail.lngOrganizationID,VoucherDetail.lngSourceOrganizationID,",
      "    SUM(DECODE(bytStatus,2,dblDebit,0)) dblPostedDebit,",
      "    SUM(DECODE(bytStatus,2,dblCredit,0)) dblPostedCredit,",
      "    SUM(DECODE(bytStatus,2,0,dblDebit)) dblUnPostedDebit",
      "  FROM Voucher,VoucherDetail",
      "  WHERE Voucher.lngVoucherID=VoucherDetail.lngVoucherID",
      "    AND Voucher.strDate>=p_BeginDate AND Voucher.strDate<=P_ENDDATE",
      "  GROUP BY Voucher.strDate,VoucherDetail.lngAccountID,VoucherDetail.lngDepartmentID,"
      "VoucherDetail.lngOrganizationID,VoucherDetail.lngSourceOrganizationID",
      "  ORDER BY 1;",
  };
  lines.insert(lines.end(), lastSelect.begin(), lastSelect.end());
  lines.push_back("END;");
  return lines;
}

TEST(DeriveAccountLedgerSql, DerivesItemFourAndBuildsItemsFiveAndSixFromItsKeys) {
  TempAccountSet set;
  set.StoreSource("TALLY", "CHANGEALLACCOUNT_FROM_VOUCHER", VoucherFunction({}));
  InitCheckItems(set.ctx);
  RecordingScreen screen;
  DeriveAccountLedgerSql(set.ctx, screen);

  const CheckItemTable& items = set.ctx.CheckItems;
  EXPECT_EQ(set.conn().queries.at(0),
            "SELECT Text FROM ALL_SOURCE WHERE OWNER='TALLY' AND "
            "NAME='CHANGEALLACCOUNT_FROM_VOUCHER' ORDER BY LINE");
  EXPECT_EQ(items.SelectSql[3],
            "SELECT VOUCHER.STRDATE,VOUCHERDETAIL.LNGACCOUNTID,VOUCHERDETAIL.LNGDEPARTMENTID,"
            "VOUCHERDETAIL.LNGORGANIZATIONID,VOUCHERDETAIL.LNGSOURCEORGANIZATIONID,\n"
            "    SUM(DECODE(BYTSTATUS,2,DBLDEBIT,0)) DBLPOSTEDDEBIT,\n"
            "    SUM(DECODE(BYTSTATUS,2,DBLCREDIT,0)) DBLPOSTEDCREDIT,\n"
            "    SUM(DECODE(BYTSTATUS,2,0,DBLDEBIT)) DBLUNPOSTEDDEBIT\n"
            "  FROM VOUCHER,VOUCHERDETAIL\n"
            "  WHERE VOUCHER.LNGVOUCHERID=VOUCHERDETAIL.LNGVOUCHERID\n"
            "    AND VOUCHER.STRDATE>=' ' AND VOUCHER.STRDATE<='9999-12-31'\n"
            "  GROUP BY VOUCHER.STRDATE,VOUCHERDETAIL.LNGACCOUNTID,VOUCHERDETAIL.LNGDEPARTMENTID,"
            "VOUCHERDETAIL.LNGORGANIZATIONID,VOUCHERDETAIL.LNGSOURCEORGANIZATIONID\n  ");

  // Item 4's keys, as GetKeyColumns gives them (the line break and blanks before the cut ORDER
  // BY stay with the last key).
  const std::string keys =
      "STRDATE,LNGACCOUNTID,LNGDEPARTMENTID,LNGORGANIZATIONID,LNGSOURCEORGANIZATIONID\n  ";
  EXPECT_EQ(items.KeyColumns[4], keys);
  EXPECT_EQ(
      items.SelectSql[4],
      "SELECT STRDATE,QARAPDETAIL1.LNGACCOUNTID AS LNGACCOUNTID,"
      "DECODE(BLNISDEPARTMENT,1,LNGDEPARTMENTID,0) AS LNGDEPARTMENTID,LNGORGANIZATIONID,"
      "LNGORGANIZATIONID LNGSOURCEORGANIZATIONID\n  "
      ",SUM(DECODE(QARAPDETAIL1.INTDIRECTION,1,1,0)*DBLAMOUNT*QARAPDETAIL1.INTDIRECTION) "
      "DBLUNVOUCHERDEBIT"
      ",SUM(DECODE(QARAPDETAIL1.INTDIRECTION,1,0,1)*DBLAMOUNT*QARAPDETAIL1.INTDIRECTION) "
      "DBLUNVOUCHERCREDIT"
      ",SUM(DECODE(QARAPDETAIL1.INTDIRECTION,1,1,0)*DBLCURRAMOUNT*QARAPDETAIL1.INTDIRECTION) "
      "DBLCURRENCYUNVOUCHERDEBIT"
      ",SUM(DECODE(QARAPDETAIL1.INTDIRECTION,1,0,1)*DBLCURRAMOUNT*QARAPDETAIL1.INTDIRECTION) "
      "DBLCURRENCYUNVOUCHERCREDIT "
      "FROM QARAPDETAIL1,ACCOUNT WHERE QARAPDETAIL1.LNGACCOUNTID=ACCOUNT.LNGACCOUNTID "
      "GROUP BY STRDATE,QARAPDETAIL1.LNGACCOUNTID,DECODE(BLNISDEPARTMENT,1,LNGDEPARTMENTID,0),"
      "LNGORGANIZATIONID,LNGORGANIZATIONID\n  ");
  EXPECT_EQ(items.InsertColumns[4], keys +
                                        ",DBLUNVOUCHERDEBIT,DBLUNVOUCHERCREDIT,"
                                        "DBLCURRENCYUNVOUCHERDEBIT,DBLCURRENCYUNVOUCHERCREDIT");

  EXPECT_EQ(items.KeyColumns[5], "STRDATE,LNGVOUCHERSOURCEID,INTVOUCHERNO");
  EXPECT_EQ(items.InsertColumns[5], "STRDATE,LNGVOUCHERSOURCEID,INTVOUCHERNO,DBLAMOUNT");
  const std::string& vouchers = items.SelectSql[5];
  EXPECT_EQ(
      vouchers.rfind("SELECT NVL(VOUCHER.STRDATE,' '),DECODE(NVL(VOUCHER.LNGVOUCHERID,0),0,", 0),
      0u);
  EXPECT_NE(vouchers.find("LPAD(INTVOUCHERNO,4,'0'),' '),SUM((DBLCOSTAMOUNT+DBLEXPENSEAMOUNT)*"
                          "DECODE(LNGRECEIPTTYPEID,30,2,31,2,1)) DBLAMOUNT FROM ITEMACTIVITY, "),
            std::string::npos);
  EXPECT_NE(vouchers.find("AND STRITEMCATEGORY='1' AND VOUCHER.LNGVOUCHERTYPEID="
                          "VOUCHERTYPE.LNGVOUCHERTYPEID(+) AND LNGACTIVITYTYPEID NOT IN (7,18,4) "
                          "GROUP BY VOUCHER.STRDATE,"),
            std::string::npos);
}

TEST(DeriveAccountLedgerSql, LaterSelectWithTwoSumLinesEmptiesItemFour) {
  TempAccountSet set;
  set.StoreSource("TALLY", "CHANGEALLACCOUNT_FROM_VOUCHER",
                  VoucherFunction({"  SELECT COUNT(*),", "    SUM(dblDebit),", "    SUM(dblCredit)",
                                   "    INTO n, d, c FROM VoucherDetail;"}));
  InitCheckItems(set.ctx);
  RecordingScreen screen;
  DeriveAccountLedgerSql(set.ctx, screen);

  const CheckItemTable& items = set.ctx.CheckItems;
  EXPECT_EQ(items.SelectSql[3], "");
  EXPECT_NE(items.InsertColumns[3], "");
  // Items 5 and 6 are built all the same; item 5 then has no keys.
  EXPECT_EQ(items.KeyColumns[4], "");
  EXPECT_EQ(items.KeyColumns[5], "STRDATE,LNGVOUCHERSOURCEID,INTVOUCHERNO");
}

}  // namespace
}  // namespace tallyvet
