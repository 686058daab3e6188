// The ledger SQL cut out of the host's stored source (the derivations on a temporary account set,
// the key columns, the matching of the INSERT column list), the key condition helpers with text
// values that must reach the database whole, and the rebuild of the stock ledger from documents.
#include "ledger_engine/derivation.h"
#include "ledger_engine/reregistration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "fixtures.h"
#include "support/file_text.h"

namespace tallyvet {
namespace {

using testing::AccountSet;
using testing::RecordingScreen;

TEST(DeriveGoodsLedgerSql, CutsItemsOneToThreeOutOfThePackage) {
  AccountSet set;
  RecordingScreen screen;
  CheckItemTable& items = set.ctx.CheckItems;
  for (int i = 0; i < 6; ++i)
    items.KeyColumns[i] = items.SelectSql[i] = items.InsertColumns[i] = "S";
  InitCheckItems(set.ctx);                // empties every slot, and only empty slots are filled
  DeriveGoodsLedgerSql(set.ctx, screen);  // no package for the owner: every slot stays empty
  for (int i = 0; i < 6; ++i)
    EXPECT_EQ(items.KeyColumns[i] + items.SelectSql[i] + items.InsertColumns[i], "");

  set.StoreSource(
      "MDLITEM",
      {
          "Function ChangeItemDaily2_New   ",  // blanks before the line break: no header
          "  INSERT INTO ItemDaily2 (",
          "    lngWrong)",
          "Function ChangeItemDaily2_New",
          "  SELECT COUNT(*),",  // two SUM lines: not the ledger's SELECT
          "    SUM(dblQuantity),",
          "    SUM(dblAmount) INTO n, q, a FROM ItemActivityDetail;",
          "  INSERT INTO ItemDaily2 (",
          "    lngItemID,lngPositionGroupID,strDate,",
          "    dblInQuantity,dblInAmount,dblOutQuantity)",
          "  SELECT D.lngItemID,Position.lngPositionGroupID,A.strDate,",
          "    SUM(DECODE(intDirection,1,dblQuantity,0)) dblInQuantity,",
          "    SUM(DECODE(intDirection,1,dblAmount,0)) dblInAmount,",
          "    SUM(DECODE(intDirection,-1,dblQuantity,0)) dblOutQuantity FROM A,D,Position",
          "  WHERE A.strDate>=p_BeginDate AND A.strDate<=p_EndDate",
          "  GROUP BY D.lngItemID,Position.lngPositionGroupID,A.strDate",
          "  ORDER BY A.strDate;",
          "Function ChangePositionDaily_New",
          "  INSERT INTO PositionDaily (strDate,lngItemID,",  // a list here is never started
          "    lngPositionID,dblInQuantity)",
          "  SELECT",  // alone on its line: dropped with it
          "    strDate,lngItemID,",
          "    SUM(1) a,",
          "    SUM(2) b,",
          "    SUM(3) c FROM ItemActivity GROUP BY strDate,lngItemID;",
          "  INSERT INTO PositionDaily",
          "  (strDate,lngItemID,",
          "   dblInQuantity,dblInAmount)",
          "Function ChangeItemDaily1_New",
          "  select lngItemID,strDate,",
          "    SUM(1) dblInQuantity,",
          "    SUM(2) b,",
          "    SUM(3) c FROM ItemActivity GROUP BY lngItemID,strDate;",
          "  INSERT INTO ItemDaily1 (",
          "    lngItemID,strDate)",
      });
  DeriveGoodsLedgerSql(set.ctx, screen);

  // Position group made null-safe, lower-case date parameters opened, ORDER BY cut.
  EXPECT_EQ(items.SelectSql[0],
            "SELECT D.LNGITEMID,NVL(POSITION.LNGPOSITIONGROUPID,0),A.STRDATE,\n"
            "    SUM(DECODE(INTDIRECTION,1,DBLQUANTITY,0)) DBLINQUANTITY,\n"
            "    SUM(DECODE(INTDIRECTION,1,DBLAMOUNT,0)) DBLINAMOUNT,\n"
            "    SUM(DECODE(INTDIRECTION,-1,DBLQUANTITY,0)) DBLOUTQUANTITY FROM A,D,POSITION\n"
            "  WHERE A.STRDATE>=' ' AND A.STRDATE<='9999-12-31'\n"
            "  GROUP BY D.LNGITEMID,NVL(POSITION.LNGPOSITIONGROUPID,0),A.STRDATE\n  ");
  EXPECT_EQ(items.InsertColumns[0],
            "    LNGITEMID,LNGPOSITIONGROUPID,STRDATE,\n"
            "    DBLINQUANTITY,DBLINAMOUNT,DBLOUTQUANTITY\n");
  EXPECT_EQ(items.SelectSql[1],
            "    STRDATE,LNGITEMID,\n    SUM(1) A,\n    SUM(2) B,\n"
            "    SUM(3) C FROM ITEMACTIVITY GROUP BY STRDATE,LNGITEMID\n");
  EXPECT_EQ(items.InsertColumns[1], "  STRDATE,LNGITEMID,\n   DBLINQUANTITY,DBLINAMOUNT\n");
  EXPECT_EQ(items.SelectSql[2],
            "SELECT LNGITEMID,STRDATE,\n    SUM(1) DBLINQUANTITY,\n    SUM(2) B,\n"
            "    SUM(3) C FROM ITEMACTIVITY GROUP BY LNGITEMID,STRDATE\n");
  EXPECT_EQ(items.InsertColumns[2], "    LNGITEMID,STRDATE\n");
  EXPECT_EQ(set.log->queries.back(),
            "SELECT Text FROM ALL_SOURCE WHERE OWNER='ACME' AND NAME='MDLITEM' ORDER BY LINE");
  // The bar moves by one from its own value (unless the walk fell in the first tenth of a
  // second after midnight).
  EXPECT_EQ(screen.progress.at(0), 1);
}

// A second SELECT of an item whose slot is taken is left unread, but its line stays pending and
// stands in for the line the next collection starts on: that INSERT's own "(" is never seen.
TEST(DeriveGoodsLedgerSql, AnUnreadSelectLineTakesThePlaceOfTheNextInsertLine) {
  AccountSet set;
  RecordingScreen screen;
  InitCheckItems(set.ctx);
  set.StoreSource("MDLITEM", {
                                 "Function ChangeItemDaily2_New",
                                 "  SELECT lngItemID,",
                                 "    SUM(1) a,",
                                 "    SUM(2) b,",
                                 "    SUM(3) c FROM T GROUP BY lngItemID;",
                                 "  SELECT lngItemID FROM T2;",
                                 "Function ChangePositionDaily_New",
                                 "  INSERT INTO PositionDaily (",
                                 "    lngLost)",
                                 "  INSERT INTO PositionDaily (",
                                 "    lngItemID,dblInQuantity)",
                             });
  DeriveGoodsLedgerSql(set.ctx, screen);
  const CheckItemTable& items = set.ctx.CheckItems;
  EXPECT_EQ(items.SelectSql[0],
            "SELECT LNGITEMID,\n    SUM(1) A,\n    SUM(2) B,\n"
            "    SUM(3) C FROM T GROUP BY LNGITEMID\n");
  EXPECT_EQ(items.InsertColumns[1], "    LNGITEMID,DBLINQUANTITY\n");
}

// ChangeAllAccount_From_Voucher with one ledger SELECT and what follows it.
void StoreVoucherFunction(AccountSet& set, std::vector<std::string> after) {
  std::vector<std::string> lines = {
      "FUNCTION ChangeAllAccount_From_Voucher",
      "  INSERT INTO AccountDaily (",
      "    strDate,lngAccountID,lngDepartmentID,lngSourceOrganizationID)",
      "  SELECT V.strDate,D.lngAccountID,D.lngDepartmentID,D.lngSourceOrganizationID,",
      "    SUM(dblDebit) dblPostedDebit,",
      "    SUM(dblCredit) dblPostedCredit,",
      "    SUM(dblDebit) dblUnPostedDebit FROM V,D WHERE strDate>=p_BeginDate",
      "  GROUP BY V.strDate,D.lngAccountID,D.lngDepartmentID,D.lngSourceOrganizationID",
      "  ORDER BY 1;"};
  lines.insert(lines.end(), after.begin(), after.end());
  set.StoreSource("CHANGEALLACCOUNT_FROM_VOUCHER", lines);
}

TEST(DeriveAccountLedgerSql, DerivesItemFourAndBuildsItemFiveFromItsKeys) {
  AccountSet set;
  StoreVoucherFunction(set, {"END;"});
  RecordingScreen screen;
  DeriveAccountLedgerSql(set.ctx, screen);
  CheckItemTable& items = set.ctx.CheckItems;
  EXPECT_EQ(items.SelectSql[3].substr(items.SelectSql[3].find(" WHERE")),
            " WHERE STRDATE>=' '\n  GROUP BY V.STRDATE,D.LNGACCOUNTID,D.LNGDEPARTMENTID,"
            "D.LNGSOURCEORGANIZATIONID\n  ");
  // Item 4's keys as GetKeyColumns gives them: what stood before the cut ORDER BY stays.
  const std::string keys = "STRDATE,LNGACCOUNTID,LNGDEPARTMENTID,LNGSOURCEORGANIZATIONID\n  ";
  EXPECT_EQ(items.KeyColumns[4], keys);
  const std::string& receivables = items.SelectSql[4];
  EXPECT_EQ(receivables.substr(0, receivables.find(",SUM(")),
            "SELECT STRDATE,QARAPDETAIL1.LNGACCOUNTID AS LNGACCOUNTID,DECODE(BLNISDEPARTMENT,1,"
            "LNGDEPARTMENTID,0) AS LNGDEPARTMENTID,LNGORGANIZATIONID LNGSOURCEORGANIZATIONID\n  ");
  EXPECT_EQ(receivables.substr(receivables.find(" FROM ")),
            " FROM QARAPDETAIL1,ACCOUNT WHERE QARAPDETAIL1.LNGACCOUNTID=ACCOUNT.LNGACCOUNTID GROUP "
            "BY STRDATE,QARAPDETAIL1.LNGACCOUNTID,DECODE(BLNISDEPARTMENT,1,LNGDEPARTMENTID,0),"
            "LNGORGANIZATIONID\n  ");
  EXPECT_EQ(items.InsertColumns[4], keys +
                                        ",DBLUNVOUCHERDEBIT,DBLUNVOUCHERCREDIT,"
                                        "DBLCURRENCYUNVOUCHERDEBIT,DBLCURRENCYUNVOUCHERCREDIT");

  // The last SELECT of the function decides: one with two SUM lines empties item 4 again.
  set.Script("DELETE FROM ALL_SOURCE");
  InitCheckItems(set.ctx);
  StoreVoucherFunction(set, {"  SELECT COUNT(*),", "    SUM(dblDebit),", "    SUM(dblCredit)",
                             "    INTO n, d, c FROM VoucherDetail;"});
  DeriveAccountLedgerSql(set.ctx, screen);
  EXPECT_EQ(items.SelectSql[3], "");
  EXPECT_NE(items.InsertColumns[3], "");
  EXPECT_EQ(items.KeyColumns[4], "");  // items 5 and 6 are built all the same
  EXPECT_EQ(items.KeyColumns[5], "STRDATE,LNGVOUCHERSOURCEID,INTVOUCHERNO");
}

// Item 6 on a few documents: the outer joins to Voucher and on to VoucherType keep documents
// without a voucher (under the source their activity type gives) and vouchers without a type,
// and the voucher number survives a missing type name as Oracle's concatenation lets it.
TEST(DeriveAccountLedgerSql, ItemSixGroupsInventoryDocumentsByTheirVouchers) {
  AccountSet set;
  StoreVoucherFunction(set, {"END;"});
  RecordingScreen screen;
  DeriveAccountLedgerSql(set.ctx, screen);
  set.Script(R"(ALTER TABLE Item ADD COLUMN lngItemNatureID INTEGER;
    UPDATE Item SET lngItemNatureID = CASE lngItemID WHEN 15 THEN 1 ELSE 2 END;
    CREATE TABLE ItemNature (lngItemNatureID INTEGER, strItemCategory VARCHAR(10));
    INSERT INTO ItemNature VALUES (1, '1'), (2, '2');
    CREATE TABLE VoucherType (lngVoucherTypeID INTEGER, strVoucherTypeName VARCHAR(10));
    INSERT INTO VoucherType VALUES (1, '转');
    CREATE TABLE Voucher (lngVoucherID INTEGER, strDate VARCHAR(10), lngVoucherTypeID INTEGER,
                          intVoucherNo INTEGER, lngVoucherSourceID INTEGER);
    INSERT INTO Voucher VALUES (7, '2005-01-05', 1, 14, 12), (8, '2005-01-06', NULL, 3, 12);
    CREATE TABLE ItemActivity (lngActivityID INTEGER, lngActivityTypeID INTEGER,
                               lngVoucherID1 INTEGER);
    INSERT INTO ItemActivity VALUES (1, 11, 7), (2, 1, 0), (3, 3, NULL), (4, 7, 0), (5, 15, 8);
    CREATE TABLE ItemActivityDetail (lngActivityID INTEGER, lngItemID INTEGER,
                                     lngReceiptTypeID INTEGER, dblCostAmount REAL,
                                     dblExpenseAmount REAL);
    INSERT INTO ItemActivityDetail VALUES
      (1, 15, 30, 10, 1), (1, 15, 1, 5, 0), (1, 16, 1, 100, 0),  -- type 30 twice; 16 not stock
      (2, 15, 1, 2, 0), (3, 15, 31, 3, 0),                        -- no voucher: source 9
      (4, 15, 1, 50, 0),                                          -- activity type 7: left out
      (5, 15, 1, 4, 0);)");
  std::vector<std::string> rows;
  auto rs = set.ctx.conn().OpenResultset(set.ctx.CheckItems.SelectSql[5], 3, 3);
  for (; !rs->Eof(); rs->MoveNext()) {
    rows.emplace_back();
    for (std::size_t i = 0; i < rs->Fields().Count(); ++i)
      rows.back() += (i > 0 ? "|" : "") + rs->Fields()[i].Value().AsText();
  }
  std::sort(rows.begin(), rows.end());
  EXPECT_EQ(rows, (std::vector<std::string>{" |9| |8", "2005-01-05|12|2005-01-05转0014|27",
                                            "2005-01-06|12|2005-01-060003|4"}));
}

// GetKeyColumns as "columns|positions" for the item's SELECT or its fixed key columns.
std::string Keys(int item, const std::string& selectSql, const std::string& keyColumns = "") {
  CheckItemTable items;
  items.SelectSql[item - 1] = selectSql;
  items.KeyColumns[item - 1] = keyColumns;
  std::string columns = "stale", positions = "stale";
  GetKeyColumns(items, item, columns, positions);
  return columns + "|" + positions;
}

TEST(GetKeyColumns, GroupByColumnsWithoutQualifiersOrTheFixedKeysOfItemsFiveAndSix) {
  EXPECT_EQ(Keys(2, "SELECT A.K,SUM(Q) FROM A,B GROUP BY A.LNGITEMID,B.LNGPOSITIONID"),
            "LNGITEMID,LNGPOSITIONID|1,2");
  // Blanks and line breaks inside a piece stay; an ORDER BY ends the list.
  EXPECT_EQ(Keys(1, "SELECT X FROM A GROUP BY T.STRDATE,\n  D.LNGITEMID,LNGJOBID\n  ORDER BY 1"),
            "STRDATE,LNGITEMID,LNGJOBID\n  |1,2,3");
  // Empty pieces are skipped; a list that ends in "," keeps its separator.
  EXPECT_EQ(Keys(3, "SELECT X FROM A GROUP BY A.X,,B.Y,"), "X,Y,|1,2,");
  EXPECT_EQ(Keys(5, "SELECT X FROM A GROUP BY STRDATE,A.LNGITEMID"), "STRDATE,LNGITEMID|1,2");
  EXPECT_EQ(Keys(4, "SELECT X FROM A"), "|");
  EXPECT_EQ(Keys(6, "", "STRDATE,LNGVOUCHERSOURCEID"), "STRDATE,LNGVOUCHERSOURCEID|1,2,3");
  EXPECT_EQ(Keys(5, "", "STRDATE,LNGORGANIZATIONID"),
            "STRDATE,LNGORGANIZATIONID|1,2,3,4,5,6,7,8,9,10");
  EXPECT_EQ(Keys(5, "", "STRDATE,LNGDEPARTMENTID"), "STRDATE,LNGDEPARTMENTID|1,2,3,4,5,6,7,8");
}

// MatchInsertColumns against a probe result with these fields and no rows.
std::string Match(int item, const std::string& insertColumns, std::vector<std::string> fields,
                  std::string& sql) {
  CheckItemTable items;
  items.InsertColumns[item - 1] = insertColumns;
  std::vector<db::ColumnInfo> columns;
  for (const std::string& name : fields) columns.push_back({name, db::adDouble});
  return MatchInsertColumns(*db::Recordset::FromRows(std::move(columns), {}), items, item, sql);
}

TEST(MatchInsertColumns, NamesTheLedgerColumnsAndShortensTheSelectByWhatTheLedgerLacks) {
  std::string sql = "SELECT A, SUM(B) FROM T";
  EXPECT_EQ(Match(1, "    LNGITEMID,LNGPOSITIONGROUPID,STRDATE,\n    DBLBORROWPURCHASEAMOUNT\n",
                  {"LNGITEMID", "NVL(POSITION.LNGPOSITIONGROUPID,0)", "STRDATE",
                   "DBLBORROWPURCHASEDAMOUNT"},
                  sql),
            "LNGITEMID,LNGPOSITIONGROUPID,STRDATE,DBLBORROWPURCHASEAMOUNT");
  EXPECT_EQ(Match(6, "STRDATE,DBLAMOUNT", {"OTHER", "SUM(X)"}, sql), "STRDATE,DBLAMOUNT");
  EXPECT_EQ(sql, "SELECT A, SUM(B) FROM T");
  // Two fields the ledger lacks: the SELECT loses its two last summed columns.
  sql = "SELECT A.X,\n  SUM(A.Q) DBLQ,\n  SUM(A.R) DBLR,\n  SUM(A.S) DBLS\nFROM A GROUP BY A.X\n";
  EXPECT_EQ(Match(2, "X,DBLQ", {"X", "DBLQ", "DBLR", "DBLS"}, sql), "X,DBLQ");
  EXPECT_EQ(sql, "SELECT A.X,\n  SUM(A.Q) DBLQ FROM A GROUP BY A.X\n");
}

TEST(QualifyKeyColumn, TakesTheQualifierTheSelectGivesTheColumn) {
  CheckItemTable items;
  items.SelectSql[0] =
      "SELECT ITEMACTIVITYDETAIL.LNGITEMID,NVL(POSITION.LNGPOSITIONGROUPID,0),T1.STRDATE,"
      "T0.LNGPOSITIONID,SUM(X) FROM A GROUP BY ITEMACTIVITYDETAIL.LNGITEMID";
  EXPECT_EQ(QualifyKeyColumn(items, "LNGITEMID", 1), "ITEMACTIVITYDETAIL.LNGITEMID");
  // Found upper-cased, kept as given.
  EXPECT_EQ(QualifyKeyColumn(items, "lngItemID", 1), "ITEMACTIVITYDETAIL.lngItemID");
  EXPECT_EQ(QualifyKeyColumn(items, "STRDATE", 1), "T1.STRDATE");
  EXPECT_EQ(QualifyKeyColumn(items, "LNGPOSITIONID", 1), "LNGPOSITIONID");  // "0" ends the walk
  EXPECT_EQ(QualifyKeyColumn(items, "NVL(POSITION.LNGPOSITIONGROUPID,0)", 1),
            "NVL(POSITION.LNGPOSITIONGROUPID,0)");  // no dot before it
  EXPECT_EQ(QualifyKeyColumn(items, "LNGJOBID", 1), "LNGJOBID");
  items.SelectSql[1] = "A.X,SUM(Y)";  // the walk back stops at the start of the text
  EXPECT_EQ(QualifyKeyColumn(items, "X", 2), "A.X");
}

TEST(SplitCondition, ReducesASourceSideConditionToTheLedgerSideAndItsLists) {
  // condition -> ledger-side condition | key columns | key values
  const std::pair<std::string, std::string> cases[] = {
      {"ITEMACTIVITY.LNGITEMID=15 AND ITEMACTIVITY.STRDATE='2003-01-05'",
       "LNGITEMID=15 AND STRDATE='2003-01-05'|LNGITEMID,STRDATE|15,'2003-01-05'"},
      {"NVL(POSITION.LNGPOSITIONGROUPID,0)=3 AND LNGITEMID=15",
       "LNGPOSITIONGROUPID=3 AND LNGITEMID=15|LNGPOSITIONGROUPID,LNGITEMID|3,15"},
      {"LNGITEMID=15 AND STRDATE='2003-01-05'",
       "LNGITEMID=15 AND STRDATE='2003-01-05'|LNGITEMID,STRDATE|15,'2003-01-05'"},
      // Only qualified names are reduced.
      {"NVL(LNGPOSITIONGROUPID,0)=3", "NVL(LNGPOSITIONGROUPID,0)=3|NVL(LNGPOSITIONGROUPID,0)|3"},
      {"", "||"},
      // A single-blank value after the first keeps the separator behind it, as before.
      {"LNGITEMID=15 AND STRPRODUCENUM=' ' AND STRDATE='2003-01-05'",
       "LNGITEMID=15 AND STRPRODUCENUM=' ' AND STRDATE='2003-01-05'|"
       "LNGITEMID,STRPRODUCENUM,STRDATE|15,' ' ,'2003-01-05'"},
      // Regression: quoted values were split at their blanks and "=" (and a first value of ' '
      // broke the list), so corrections of such rows went to the wrong columns or failed.
      {"T.STRPRODUCENUM=' ' AND T.LNGITEMID=15",
       "STRPRODUCENUM=' ' AND LNGITEMID=15|STRPRODUCENUM,LNGITEMID|' ',15"},
      {"T.STRPRODUCENUM='O''Brien '' = x' AND T.LNGITEMID=15",
       "STRPRODUCENUM='O''Brien '' = x' AND LNGITEMID=15|STRPRODUCENUM,LNGITEMID|"
       "'O''Brien '' = x',15"},
  };
  for (const auto& [condition, expected] : cases) {
    std::string columns = "stale", values = "stale";
    const std::string ledgerSide = SplitCondition(condition, columns, values);
    EXPECT_EQ(ledgerSide + "|" + columns + "|" + values, expected);
  }
}

TEST(SplitCondition, ListsCarryAwkwardTextValuesIntoTheLedgerUnchanged) {
  const std::vector<std::string> batches = {" ",       "A  B",         "x=y",
                                            "O'Brien", "' AND 1=1 --", "批号 1"};
  AccountSet set;
  set.Script("CREATE TABLE Ledger (LNGITEMID INTEGER, STRPRODUCENUM TEXT, STRDATE TEXT)");
  int id = 0;
  for (const std::string& batch : batches) {
    const std::string condition = "T.LNGITEMID=" + std::to_string(++id) +
                                  " AND T.STRPRODUCENUM=" + QuoteSqlText(batch) +
                                  " AND T.STRDATE='2005-03-01'";
    std::string columns, values;
    const std::string ledgerSide = SplitCondition(condition, columns, values);
    set.Script("INSERT INTO Ledger(" + columns + ") VALUES (" + values + ")");
    EXPECT_EQ(set.Rows("SELECT LNGITEMID FROM Ledger WHERE " + ledgerSide),
              std::vector<std::string>{std::to_string(id)})
        << condition;
  }
  EXPECT_EQ(set.Rows("SELECT STRPRODUCENUM FROM Ledger ORDER BY LNGITEMID"), batches);
}

TEST(KeyConditionText, RepeatedNamesAndBaseNames) {
  EXPECT_EQ(ReplaceRepeatedName("STRDATE,LNGORGANIZATIONID,LNGACCOUNTID,LNGORGANIZATIONID",
                                "LNGORGANIZATIONID", "LNGSOURCEORGANIZATIONID"),
            "STRDATE,LNGORGANIZATIONID,LNGACCOUNTID,LNGSOURCEORGANIZATIONID");
  EXPECT_EQ(ReplaceRepeatedName("STRDATE,LNGORGANIZATIONID", "LNGORGANIZATIONID", "X"),
            "STRDATE,LNGORGANIZATIONID");
  EXPECT_EQ(FieldBaseName("SUM(DBLAMOUNT)"), "DBLAMOUNT");
  EXPECT_EQ(FieldBaseName("dblAmount"), "dblAmount");
  EXPECT_THROW(FieldBaseName("SUM("), std::invalid_argument);
}

// --- Re-registration: rebuilding the stock ledger for a date range from the documents ----------

constexpr const char* kLedgerRows =
    "SELECT strDate,lngItemID,lngPositionID,dblInQuantity,dblInAmount,dblOutQuantity "
    "FROM PositionDaily ORDER BY 1,2,3";

// Documents in February and March, and a stock ledger that is wrong in both months: February's
// row must survive a rebuild from March on, March's rows must come out as the documents say.
class StockLedger : public ::testing::Test {
 protected:
  void SetUp() override {
    set.Script(R"sql(DROP TABLE PositionDaily;
      CREATE TABLE PositionDaily (strDate TEXT, lngItemID INTEGER, lngPositionID INTEGER,
                                  dblInQuantity REAL CHECK (dblInQuantity >= 0), dblInAmount REAL,
                                  dblOutQuantity REAL);
      INSERT INTO PositionDaily VALUES ('2005-02-10', 15, 1, 999, 999, 0),
          ('2005-03-05', 15, 1, 1, 1, 1), ('2005-03-31', 17, 3, 5, 5, 5);
      CREATE TABLE ItemActivity (strDate TEXT, intDirection INTEGER, lngItemID INTEGER,
                                 lngPositionID INTEGER, dblQuantity REAL, dblAmount REAL);
      INSERT INTO ItemActivity VALUES ('2005-02-10', 1, 15, 1, 10, 100),
          ('2005-03-05', 1, 15, 1, 4, 44), ('2005-03-05', 1, 16, 2, 1, 7.5),
          ('2005-03-05', -1, 15, 1, 3, 30), ('2005-03-20', 1, 15, 1, 2, 22);)sql");
    // The stored function selects one summed column more than the ledger has, from a subquery.
    set.StoreSource(
        "MDLITEM", {"Function ChangePositionDaily_New", "  INSERT INTO PositionDaily (",
                    "    strDate,lngItemID,lngPositionID,dblInQuantity,dblInAmount,dblOutQuantity)",
                    "  SELECT strDate,lngItemID,lngPositionID,",
                    "    SUM(DECODE(intDirection,1,dblQuantity,0)) dblInQuantity,",
                    "    SUM(DECODE(intDirection,1,dblAmount,0)) dblInAmount,",
                    "    SUM(DECODE(intDirection,-1,dblQuantity,0)) dblOutQuantity,",
                    "    SUM(DECODE(intDirection,-1,dblAmount,0)) dblOutPlanned",
                    "  FROM (SELECT * FROM ItemActivity WHERE 1=1 GROUP BY ROWID)",
                    "  WHERE strDate>=p_BeginDate AND strDate<=p_EndDate",
                    "  GROUP BY strDate,lngItemID,lngPositionID;"});
    DeriveGoodsLedgerSql(set.ctx, screen);
    set.log->statements = set.log->queries = screen.notes = {};
  }

  AccountSet set;
  RecordingScreen screen;
};

TEST_F(StockLedger, RebuildsTheRangeInsideTheHostsTransactionAndLeavesEarlierRows) {
  const std::vector<std::string> before = set.Rows(kLedgerRows);
  set.Script("BEGIN");
  std::string error;
  EXPECT_EQ(ReRegisterLedgers(set.ctx, screen, "库存", "2005-03-01", "9999-12-31", &error),
            std::optional<bool>(true))
      << error;
  EXPECT_EQ(set.Rows(kLedgerRows),
            (std::vector<std::string>{"2005-02-10|15|1|999|999|0", "2005-03-05|15|1|4|44|3",
                                      "2005-03-05|16|2|1|7.5|0", "2005-03-20|15|1|2|22|0"}));
  EXPECT_EQ(screen.notes, (std::vector<std::string>{"正在准备数据...", "正在登记账表..."}));
  const std::string columns =
      "STRDATE,LNGITEMID,LNGPOSITIONID,DBLINQUANTITY,DBLINAMOUNT,DBLOUTQUANTITY";
  EXPECT_EQ(set.ctx.CheckItems.InsertColumns[1], columns);
  std::vector<std::string> statements = set.log->statements;
  ASSERT_EQ(statements.size(), 5u);
  // The range goes in front of every GROUP BY, the subquery's too.
  const std::string range = " AND strDate>='2005-03-01' AND strDate<='9999-12-31' GROUP BY";
  EXPECT_NE(statements[3].find(range), statements[3].rfind(range));
  statements[3].resize(statements[3].find(") SELECT ") + 1);
  // The ledger is locked against another program's rebuild of the same dates (on a server;
  // SQLite connections leave the statement out).
  EXPECT_EQ(statements,
            (std::vector<std::string>{
                "SAVEPOINT tallyvet_reregister", "LOCK TABLE POSITIONDAILY IN EXCLUSIVE MODE",
                "DELETE FROM POSITIONDAILY NOLOGGING WHERE strDate>='2005-03-01' AND "
                "strDate<='9999-12-31'",
                "INSERT INTO /*+ APPEND */ POSITIONDAILY NOLOGGING (" + columns + ")",
                "RELEASE tallyvet_reregister"}));
  // The ledger's own columns and the statement's shape come from queries that cannot return a
  // row, before the range's rows are counted and summed.
  ASSERT_EQ(set.log->queries.size(), 3u);
  EXPECT_EQ(set.log->queries[0], "SELECT * FROM POSITIONDAILY WHERE 1=0");
  EXPECT_NE(set.log->queries[1].find(" AND strDate>'9999-12-31' GROUP BY"), std::string::npos);
  EXPECT_EQ(set.log->queries[2].rfind("SELECT COUNT(*),SUM(DBLINQUANTITY),SUM(DBLINAMOUNT),"
                                      "SUM(DBLOUTQUANTITY) FROM POSITIONDAILY WHERE",
                                      0),
            0u);
  // The host's transaction was neither committed nor ended.
  set.Script("ROLLBACK");
  EXPECT_EQ(set.Rows(kLedgerRows), before);
}

// Regression: a failed INSERT used to leave the range deleted and not rebuilt. Outside a
// transaction of the caller's the rebuild runs in one of its own, and says, checked, that the
// ledger is as it was.
TEST_F(StockLedger, FailedInsertRollsBackTheDeleteAndReportsFalse) {
  set.Script("INSERT INTO ItemActivity VALUES ('2005-03-20', 1, 18, 1, -5, -50)");
  const std::vector<std::string> before = set.Rows(kLedgerRows);
  std::string error;
  EXPECT_FALSE(ReRegisterLedger(set.ctx, screen, 2, "2005-03-01", "9999-12-31", &error));
  EXPECT_EQ(set.Rows(kLedgerRows), before);
  EXPECT_NE(error.find("CHECK constraint failed"), std::string::npos) << error;
  std::vector<std::string> statements = set.log->statements;
  ASSERT_EQ(statements.size(), 5u);
  for (std::string& sql : statements) sql = sql.substr(0, sql.find(' '));  // the first word
  EXPECT_EQ(statements,
            (std::vector<std::string>{"BEGIN", "LOCK", "DELETE", "INSERT", "ROLLBACK"}));
  // Nothing is left open: the connection takes its next statement outside any transaction.
  EXPECT_NO_THROW(set.Script("BEGIN; COMMIT;"));

  // Inside the caller's transaction the rebuild rolls back to its savepoint only.
  set.Script("BEGIN");
  const RebuildOutcome inside = RebuildLedger(set.ctx, screen, 2, "2005-03-01", "9999-12-31");
  EXPECT_FALSE(inside.rebuilt);
  EXPECT_EQ(inside.unchanged, std::optional<bool>(true));
  EXPECT_EQ(inside.ledgerState,
            "the ledger is unchanged (checked: its 2 row(s) from '2005-03-01' to '9999-12-31' are "
            "as before)");
  EXPECT_FALSE(inside.transactionLost);
  EXPECT_EQ(set.log->statements.back(), "RELEASE tallyvet_reregister");
  EXPECT_TRUE(set.log->inner->InTransaction());
  set.Script("COMMIT");
  EXPECT_EQ(set.Rows(kLedgerRows), before);
}

TEST_F(StockLedger, OtherKindsAndMissingPiecesLeaveTheLedgerAsItWas) {
  const std::vector<std::string> before = set.Rows(kLedgerRows);
  EXPECT_FALSE(ReRegisterLedgers(set.ctx, screen, "存货", "2005-03-01", "9999-12-31").has_value());
  EXPECT_TRUE(set.log->statements.empty() && screen.notes.empty());
  std::string error;
  set.ctx.CheckItems.SelectSql[1].clear();  // fails after its DELETE
  EXPECT_FALSE(ReRegisterLedger(set.ctx, screen, 2, "2005-03-01", "9999-12-31", &error));
  EXPECT_NE(error, "");
  EXPECT_EQ(set.Rows(kLedgerRows), before);
  HostContext bare;  // no connection: a failed rebuild with a message, not a crash
  EXPECT_FALSE(ReRegisterLedger(bare, screen, 2, "2005-03-01", "9999-12-31", &(error = "")));
  EXPECT_NE(error, "");
}

// The stock ledger's GROUP BY line deleted from the stored source: the rebuild stops before its
// DELETE, names the cause, and the ledger stays as it was.
TEST_F(StockLedger, ADamagedSourceIsRefusedBeforeAnyStatementRuns) {
  set.Script("DELETE FROM ALL_SOURCE WHERE TEXT LIKE '%GROUP BY strDate,lngItemID,lngPositionID%'");
  InitCheckItems(set.ctx);
  DeriveGoodsLedgerSql(set.ctx, screen);
  set.log->statements = set.log->queries = {};
  const std::vector<std::string> before = set.Rows(kLedgerRows);
  const RebuildOutcome outcome =
      RebuildLedger(set.ctx, screen, 2, " ", "9999-12-31", {false, set.dir.path()});
  EXPECT_FALSE(outcome.rebuilt);
  // The subquery's own GROUP BY remains, but it groups by none of the ledger's keys.
  EXPECT_EQ(outcome.error,
            "MDLITEM.ChangePositionDaily_New: the GROUP BY does not name the key column(s) "
            "LNGITEMID, LNGPOSITIONID");
  EXPECT_TRUE(set.log->statements.empty() && set.log->queries.empty());
  EXPECT_TRUE(outcome.journal.empty());
  EXPECT_EQ(set.Rows(kLedgerRows), before);
}

TEST_F(StockLedger, DryRunCountsBothSidesAndChangesNothing) {
  const std::vector<std::string> before = set.Rows(kLedgerRows);
  const RebuildOutcome outcome =
      RebuildLedger(set.ctx, screen, 2, "2005-03-01", "9999-12-31", {true, set.dir.path()});
  EXPECT_EQ(outcome.error, "");
  EXPECT_FALSE(outcome.rebuilt);
  EXPECT_EQ(outcome.rowsHeld, 2);      // 03-05 and 03-31
  EXPECT_EQ(outcome.rowsInserted, 3);  // 03-05 twice, 03-20
  EXPECT_TRUE(set.log->statements.empty());
  EXPECT_TRUE(outcome.journal.empty());
  EXPECT_EQ(set.Rows(kLedgerRows), before);
  // The SELECT gives one summed column the ledger lacks: said, since it is not rebuilt.
  EXPECT_EQ(outcome.notices,
            (std::vector<std::string>{"MDLITEM.ChangePositionDaily_New: the ledger has no column "
                                      "for DBLOUTPLANNED; left out of the rebuild"}));
}

TEST_F(StockLedger, ARebuildLeavesAJournalWhoseUndoScriptPutsTheRowsBack) {
  const std::vector<std::string> before = set.Rows("SELECT * FROM PositionDaily ORDER BY 1,2,3");
  const RebuildOutcome outcome =
      RebuildLedger(set.ctx, screen, 2, "2005-03-01", "9999-12-31", {false, set.dir.path()});
  ASSERT_TRUE(outcome.rebuilt) << outcome.error;
  EXPECT_EQ(outcome.rowsHeld, 2);
  EXPECT_EQ(outcome.rowsInserted, 3);
  ASSERT_TRUE(std::filesystem::exists(outcome.journal));
  const std::string text = testing::FileText(outcome.journal);
  EXPECT_NE(text.find("-- rows inserted: 3\n-- finished: "), std::string::npos) << text;
  EXPECT_FALSE(std::filesystem::exists(outcome.undoScript.string() + ".part"));
  set.Script(testing::FileText(outcome.undoScript));
  EXPECT_EQ(set.Rows("SELECT * FROM PositionDaily ORDER BY 1,2,3"), before);
}

// The stored function's SELECT and its INSERT list out of step (a line with one summed column
// more, or an INSERT list without one column): matching by position would leave the ledger's
// later columns empty in every row of the range. The rebuild stops before its DELETE, naming the
// columns and the source line where the lists part; the dry run shows the totals it would
// empty. A column the ledger truly lacks (DBLOUTPLANNED) is still only left out, with a notice.
TEST_F(StockLedger, AStatementOutOfStepWithItsInsertListStopsBeforeEmptyingColumns) {
  struct Case {
    const char* what;
    std::vector<std::string> source;
    std::string where;
    std::vector<std::string> notices;
  };
  const std::vector<Case> cases = {
      {"an extra summed line",
       {"Function ChangePositionDaily_New", "  INSERT INTO PositionDaily (",
        "    strDate,lngItemID,lngPositionID,dblInQuantity,dblInAmount,dblOutQuantity)",
        "  SELECT strDate,lngItemID,lngPositionID,",
        "    SUM(DECODE(intDirection,1,dblQuantity,0)) dblInQuantity,",
        "    SUM(DECODE(intDirection,1,dblQuantity,0)*2) dblInDouble,",
        "    SUM(DECODE(intDirection,1,dblAmount,0)) dblInAmount,",
        "    SUM(DECODE(intDirection,-1,dblQuantity,0)) dblOutQuantity",
        "  FROM ItemActivity WHERE strDate>=p_BeginDate AND strDate<=p_EndDate",
        "  GROUP BY strDate,lngItemID,lngPositionID;"},
       "MDLITEM line 6: SUM(DECODE(intDirection,1,dblQuantity,0)*2) dblInDouble,",
       {"MDLITEM.ChangePositionDaily_New: the ledger has no column for DBLINDOUBLE; left out of "
        "the rebuild"}},
      {"an INSERT list short of one column",
       {"Function ChangePositionDaily_New", "  INSERT INTO PositionDaily (",
        "    strDate,lngItemID,lngPositionID,dblInQuantity,dblOutQuantity)",
        "  SELECT strDate,lngItemID,lngPositionID,",
        "    SUM(DECODE(intDirection,1,dblQuantity,0)) dblInQuantity,",
        "    SUM(DECODE(intDirection,1,dblAmount,0)) dblInAmount,",
        "    SUM(DECODE(intDirection,-1,dblQuantity,0)) dblOutQuantity",
        "  FROM ItemActivity WHERE strDate>=p_BeginDate AND strDate<=p_EndDate",
        "  GROUP BY strDate,lngItemID,lngPositionID;"},
       "MDLITEM line 6: SUM(DECODE(intDirection,1,dblAmount,0)) dblInAmount,",
       {}},
  };
  const std::vector<std::string> before = set.Rows(kLedgerRows);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    set.Script("DELETE FROM ALL_SOURCE");
    set.StoreSource("MDLITEM", c.source);
    InitCheckItems(set.ctx);
    DeriveGoodsLedgerSql(set.ctx, screen);
    set.log->statements = {};
    const RebuildOutcome stopped =
        RebuildLedger(set.ctx, screen, 2, "2005-03-01", "9999-12-31", {false, set.dir.path()});
    EXPECT_FALSE(stopped.rebuilt);
    EXPECT_EQ(stopped.blankColumns, (std::vector<std::string>{"DBLINAMOUNT", "DBLOUTQUANTITY"}));
    EXPECT_EQ(stopped.error,
              "MDLITEM.ChangePositionDaily_New: the rebuild would empty the ledger's column(s) "
              "DBLINAMOUNT, DBLOUTQUANTITY: the stored function's SELECT and its INSERT column "
              "list are out of step from " +
                  c.where);
    EXPECT_EQ(stopped.ledgerState, "the ledger is unchanged: nothing was written");
    EXPECT_TRUE(set.log->statements.empty()) << set.log->statements.front();
    EXPECT_TRUE(stopped.journal.empty());
    EXPECT_EQ(stopped.notices, c.notices);
    EXPECT_EQ(set.Rows(kLedgerRows), before);

    const RebuildOutcome dry =
        RebuildLedger(set.ctx, screen, 2, "2005-03-01", "9999-12-31", {true, {}});
    EXPECT_EQ(dry.error, stopped.error);
    std::vector<std::string> totals;
    for (const ColumnTotal& t : dry.totals) {
      totals.push_back(t.column + " " + db::FormatDouble(t.now) + " " +
                       db::FormatDouble(t.rebuilt));
    }
    EXPECT_EQ(totals, (std::vector<std::string>{"DBLINQUANTITY 6 7", "DBLINAMOUNT 6 0",
                                                "DBLOUTQUANTITY 6 0"}));
  }
}

// A journal that cannot be written stops the rebuild before the ledger is touched.
TEST_F(StockLedger, AJournalThatCannotBeWrittenStopsTheRebuild) {
  const std::vector<std::string> before = set.Rows(kLedgerRows);
  std::ofstream(set.dir / "not-a-folder") << "x";
  const RebuildOutcome outcome = RebuildLedger(set.ctx, screen, 2, "2005-03-01", "9999-12-31",
                                               {false, set.dir / "not-a-folder"});
  EXPECT_FALSE(outcome.rebuilt);
  EXPECT_NE(outcome.error.find("cannot create the journal " + (set.dir / "not-a-folder").string()),
            std::string::npos)
      << outcome.error;
  EXPECT_EQ(set.Rows(kLedgerRows), before);
  for (const std::string& sql : set.log->statements)
    EXPECT_EQ(sql.find("DELETE"), std::string::npos);
}

}  // namespace
}  // namespace tallyvet
