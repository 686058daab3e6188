// Rebuilding the stock ledger for a date range from the documents, on a small account set whose
// stored source the derivation reads first.
#include "ledger_engine/reregistration.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ledger_engine/check_items.h"
#include "ledger_engine/derivation.h"
#include "ledger_engine/recording_screen.h"
#include "ledger_engine/temp_account_set.h"

namespace tallyvet {
namespace {

using testing::RecordingScreen;
using testing::TempAccountSet;

constexpr const char* kLedgerRows =
    "SELECT strDate,lngItemID,lngPositionID,dblInQuantity,dblInAmount,dblOutQuantity "
    "FROM PositionDaily ORDER BY 1,2,3";

// Documents in February and March, and a stock ledger that is wrong in both months: February's
// row must survive a rebuild from March on, March's rows must come out as the documents say.
class StockLedger : public ::testing::Test {
 protected:
  void SetUp() override {
    set.Script(R"sql(
      CREATE TABLE ItemActivity (lngActivityID INTEGER PRIMARY KEY, strDate TEXT NOT NULL,
                                 intDirection INTEGER NOT NULL);
      CREATE TABLE ItemActivityDetail (lngActivityDetailID INTEGER PRIMARY KEY,
                                       lngActivityID INTEGER NOT NULL, lngItemID INTEGER NOT NULL,
                                       lngPositionID INTEGER NOT NULL, dblQuantity REAL NOT NULL,
                                       dblAmount REAL NOT NULL);
      CREATE TABLE PositionDaily (strDate TEXT NOT NULL, lngItemID INTEGER NOT NULL,
                                  lngPositionID INTEGER NOT NULL,
                                  dblInQuantity REAL NOT NULL DEFAULT 0 CHECK (dblInQuantity >= 0),
                                  dblInAmount REAL NOT NULL DEFAULT 0,
                                  dblOutQuantity REAL NOT NULL DEFAULT 0,
                                  PRIMARY KEY (strDate, lngItemID, lngPositionID));
      INSERT INTO ItemActivity VALUES (1, '2005-02-10', 1), (2, '2005-03-05', 1),
                                      (3, '2005-03-05', -1), (4, '2005-03-20', 1);
      INSERT INTO ItemActivityDetail VALUES (1, 1, 15, 1, 10, 100), (2, 2, 15, 1, 4, 44),
                                            (3, 2, 16, 2, 1, 7.5), (4, 3, 15, 1, 3, 30),
                                            (5, 4, 15, 1, 2, 22);
      INSERT INTO PositionDaily VALUES ('2005-02-10', 15, 1, 999, 999, 0),
                                       ('2005-03-05', 15, 1, 1, 1, 1),
                                       ('2005-03-31', 17, 3, 5, 5, 5);
    )sql");
    // The stored function selects one summed column more than the ledger has.
    set.StoreSource(
        "TALLY", "MDLITEM",
        {
            "Function ChangePositionDaily_New",
            "  (p_BeginDate IN VARCHAR2, p_EndDate IN VARCHAR2) RETURN NUMBER IS",
            "BEGIN",
            "  INSERT INTO PositionDaily (",
            "    strDate,lngItemID,lngPositionID,",
            "    dblInQuantity,dblInAmount,dblOutQuantity)",
            "  SELECT ItemActivity.strDate,ItemActivityDetail.lngItemID,"
            "ItemActivityDetail.lngPositionID,",
            "    SUM(DECODE(ItemActivity.intDirection,1,dblQuantity,0)) dblInQuantity,",
            "    SUM(DECODE(ItemActivity.intDirection,1,dblAmount,0)) dblInAmount,",
            "    SUM(DECODE(ItemActivity.intDirection,-1,dblQuantity,0)) dblOutQuantity,",
            "    SUM(DECODE(ItemActivity.intDirection,-1,dblAmount,0)) dblOutPlanned",
            "  FROM ItemActivity,ItemActivityDetail",
            "  WHERE ItemActivity.lngActivityID=ItemActivityDetail.lngActivityID",
            "    AND ItemActivity.strDate>=p_BeginDate AND ItemActivity.strDate<=p_EndDate",
            "  GROUP BY ItemActivity.strDate,ItemActivityDetail.lngItemID,"
            "ItemActivityDetail.lngPositionID;",
            "  RETURN 1;",
            "END;",
        });
    InitCheckItems(set.ctx);
    DeriveGoodsLedgerSql(set.ctx, screen);
    set.conn().executed.clear();
    set.conn().queries.clear();
    screen.notes.clear();
  }

  TempAccountSet set;
  RecordingScreen screen;
};

TEST_F(StockLedger, RebuildsTheRangeFromTheDocumentsAndLeavesEarlierRows) {
  std::string error;
  const std::optional<bool> rebuilt =
      ReRegisterLedgers(set.ctx, screen, "库存", "2005-03-01", "9999-12-31", &error);

  ASSERT_TRUE(rebuilt.has_value());
  EXPECT_TRUE(*rebuilt) << error;
  EXPECT_EQ(set.Rows(kLedgerRows), (std::vector<std::string>{
                                       "2005-02-10|15|1|999|999|0",
                                       "2005-03-05|15|1|4|44|3",
                                       "2005-03-05|16|2|1|7.5|0",
                                       "2005-03-20|15|1|2|22|0",
                                   }));
  EXPECT_EQ(screen.notes, (std::vector<std::string>{"正在准备数据...", "正在登记账表..."}));
  EXPECT_EQ(set.ctx.CheckItems.InsertColumns[1],
            "STRDATE,LNGITEMID,LNGPOSITIONID,DBLINQUANTITY,DBLINAMOUNT,DBLOUTQUANTITY");

  const std::vector<std::string>& executed = set.conn().executed;
  ASSERT_EQ(executed.size(), 4u);
  EXPECT_EQ(executed[0], "SAVEPOINT tallyvet_reregister");
  EXPECT_EQ(executed[1],
            "DELETE FROM POSITIONDAILY NOLOGGING WHERE strDate>='2005-03-01' AND "
            "strDate<='9999-12-31'");
  const std::string& sql = set.ctx.CheckItems.SelectSql[1];
  const std::string rangedSql =
      ReplaceAll(sql, "GROUP BY", " AND strDate>='2005-03-01' AND strDate<='9999-12-31' GROUP BY");
  // The summed column the ledger lacks is cut from the SELECT before it is inserted.
  const std::string insertedSql = ReplaceAll(
      rangedSql, ",\n    SUM(DECODE(ITEMACTIVITY.INTDIRECTION,-1,DBLAMOUNT,0)) DBLOUTPLANNED\n  ",
      " ");
  EXPECT_EQ(executed[2],
            "INSERT INTO /*+ APPEND */ POSITIONDAILY NOLOGGING (STRDATE,LNGITEMID,LNGPOSITIONID,"
            "DBLINQUANTITY,DBLINAMOUNT,DBLOUTQUANTITY) " +
                insertedSql);
  EXPECT_EQ(executed[3], "RELEASE tallyvet_reregister");
  // The shape comes from a probe that cannot return a row.
  ASSERT_EQ(set.conn().queries.size(), 1u);
  EXPECT_NE(set.conn().queries[0].find(" AND strDate>'9999-12-31' GROUP BY"), std::string::npos);
}

TEST_F(StockLedger, RangeGoesInFrontOfEveryGroupBy) {
  set.ctx.CheckItems.SelectSql[1] =
      "SELECT D.STRDATE,D.LNGITEMID,D.LNGPOSITIONID,SUM(D.Q) DBLINQUANTITY,SUM(D.A) DBLINAMOUNT,"
      "SUM(D.O) DBLOUTQUANTITY FROM (SELECT ITEMACTIVITY.STRDATE,ITEMACTIVITYDETAIL.LNGITEMID,"
      "ITEMACTIVITYDETAIL.LNGPOSITIONID,SUM(DECODE(INTDIRECTION,1,DBLQUANTITY,0)) Q,"
      "SUM(DECODE(INTDIRECTION,1,DBLAMOUNT,0)) A,SUM(DECODE(INTDIRECTION,-1,DBLQUANTITY,0)) O "
      "FROM ITEMACTIVITY,ITEMACTIVITYDETAIL "
      "WHERE ITEMACTIVITY.LNGACTIVITYID=ITEMACTIVITYDETAIL.LNGACTIVITYID "
      "GROUP BY ITEMACTIVITY.STRDATE,ITEMACTIVITYDETAIL.LNGITEMID,ITEMACTIVITYDETAIL.LNGPOSITIONID"
      ") D WHERE 1=1 GROUP BY D.STRDATE,D.LNGITEMID,D.LNGPOSITIONID";
  set.ctx.CheckItems.InsertColumns[1] =
      "STRDATE,LNGITEMID,LNGPOSITIONID,DBLINQUANTITY,DBLINAMOUNT,DBLOUTQUANTITY";

  EXPECT_TRUE(ReRegisterLedger(set.ctx, screen, 2, "2005-03-01", "2005-03-10"));
  EXPECT_EQ(set.Rows(kLedgerRows), (std::vector<std::string>{
                                       "2005-02-10|15|1|999|999|0",
                                       "2005-03-05|15|1|4|44|3",
                                       "2005-03-05|16|2|1|7.5|0",
                                       "2005-03-31|17|3|5|5|5",
                                   }));
  const std::string& insert = set.conn().executed.at(2);
  const std::string range = " AND strDate>='2005-03-01' AND strDate<='2005-03-10' GROUP BY";
  const auto first = insert.find(range);
  ASSERT_NE(first, std::string::npos);
  EXPECT_NE(insert.find(range, first + 1), std::string::npos);
}

// Regression: a failed INSERT used to leave the range deleted and not rebuilt.
TEST_F(StockLedger, FailedInsertRollsBackTheDeleteAndReportsFalse) {
  set.Script("INSERT INTO ItemActivityDetail VALUES (6, 4, 18, 1, -5, -50)");
  const std::vector<std::string> before = set.Rows(kLedgerRows);
  std::string error;

  EXPECT_FALSE(ReRegisterLedger(set.ctx, screen, 2, "2005-03-01", "9999-12-31", &error));

  EXPECT_EQ(set.Rows(kLedgerRows), before);
  EXPECT_NE(error.find("CHECK constraint failed"), std::string::npos) << error;
  const std::vector<std::string>& executed = set.conn().executed;
  ASSERT_EQ(executed.size(), 5u);
  EXPECT_EQ(executed[2].rfind("INSERT INTO /*+ APPEND */ POSITIONDAILY NOLOGGING (", 0), 0u);
  EXPECT_EQ(executed[3], "ROLLBACK TO tallyvet_reregister");
  EXPECT_EQ(executed[4], "RELEASE tallyvet_reregister");
  // Nothing is left open: the connection takes its next statement outside any savepoint.
  EXPECT_NO_THROW(set.conn().inner().ExecuteScript("BEGIN; COMMIT;"));
}

TEST_F(StockLedger, ItemWithoutDerivedSqlFailsAfterItsDeleteAndKeepsTheRows) {
  set.ctx.CheckItems.SelectSql[1].clear();
  const std::vector<std::string> before = set.Rows(kLedgerRows);
  std::string error;
  EXPECT_FALSE(ReRegisterLedger(set.ctx, screen, 2, "2005-03-01", "9999-12-31", &error));
  EXPECT_EQ(set.Rows(kLedgerRows), before);
  EXPECT_FALSE(error.empty());
}

TEST_F(StockLedger, HostTransactionIsNeitherCommittedNorEnded) {
  const std::vector<std::string> before = set.Rows(kLedgerRows);
  set.conn().inner().ExecuteScript("BEGIN");
  EXPECT_TRUE(ReRegisterLedger(set.ctx, screen, 2, "2005-03-01", "9999-12-31"));
  EXPECT_NE(set.Rows(kLedgerRows), before);
  set.conn().inner().ExecuteScript("ROLLBACK");
  EXPECT_EQ(set.Rows(kLedgerRows), before);
}

TEST_F(StockLedger, OtherKindsGiveNoResultAndTouchNothing) {
  const std::vector<std::string> before = set.Rows(kLedgerRows);
  EXPECT_FALSE(ReRegisterLedgers(set.ctx, screen, "存货", "2005-03-01", "9999-12-31").has_value());
  EXPECT_FALSE(ReRegisterLedgers(set.ctx, screen, "", " ", "9999-12-31").has_value());
  EXPECT_TRUE(set.conn().executed.empty());
  EXPECT_TRUE(set.conn().queries.empty());
  EXPECT_TRUE(screen.notes.empty());
  EXPECT_EQ(set.Rows(kLedgerRows), before);
}

TEST(ReRegisterLedger, WithoutAConnectionFailsQuietly) {
  HostContext ctx;
  InitCheckItems(ctx);
  RecordingScreen screen;
  std::string error;
  EXPECT_FALSE(ReRegisterLedger(ctx, screen, 2, "2005-03-01", "9999-12-31", &error));
  EXPECT_FALSE(error.empty());
}

}  // namespace
}  // namespace tallyvet
