// The key condition helpers: the documented examples, and text values that must reach the
// database whole (quotes, blanks, "=" inside).
#include "ledger_engine/key_conditions.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "ledger_engine/check_items.h"
#include "ledger_engine/temp_account_set.h"

namespace tallyvet {
namespace {

struct Split {
  std::string condition;
  std::string columns;
  std::string values;
};

Split SplitOf(std::string_view condition) {
  Split s;
  s.condition = SplitCondition(condition, s.columns, s.values);
  return s;
}

TEST(QualifyKeyColumn, TakesTheQualifierTheSelectGivesTheColumn) {
  CheckItemTable items;
  items.SelectSql[0] =
      "SELECT ITEMACTIVITYDETAIL.LNGITEMID,NVL(POSITION.LNGPOSITIONGROUPID,0),T1.STRDATE,"
      "T0.LNGPOSITIONID,SUM(X) FROM A GROUP BY ITEMACTIVITYDETAIL.LNGITEMID";
  EXPECT_EQ(QualifyKeyColumn(items, "LNGITEMID", 1), "ITEMACTIVITYDETAIL.LNGITEMID");
  // Found upper-cased; the name itself is kept as given.
  EXPECT_EQ(QualifyKeyColumn(items, "lngItemID", 1), "ITEMACTIVITYDETAIL.lngItemID");
  EXPECT_EQ(QualifyKeyColumn(items, "STRDATE", 1), "T1.STRDATE");
  // "0" ends the walk back at once: an alias ending in 0 gives no qualifier.
  EXPECT_EQ(QualifyKeyColumn(items, "LNGPOSITIONID", 1), "LNGPOSITIONID");
  // Not preceded by a dot.
  EXPECT_EQ(QualifyKeyColumn(items, "NVL(POSITION.LNGPOSITIONGROUPID,0)", 1),
            "NVL(POSITION.LNGPOSITIONGROUPID,0)");
  EXPECT_EQ(QualifyKeyColumn(items, "LNGJOBID", 1), "LNGJOBID");

  items.SelectSql[1] = "A.X,SUM(Y)";  // the walk stops at the start of the text
  EXPECT_EQ(QualifyKeyColumn(items, "X", 2), "A.X");
}

TEST(SplitCondition, ReducesASourceSideConditionToTheLedgerSide) {
  const Split s = SplitOf("ITEMACTIVITY.LNGITEMID=15 AND ITEMACTIVITY.STRDATE='2003-01-05'");
  EXPECT_EQ(s.condition, "LNGITEMID=15 AND STRDATE='2003-01-05'");
  EXPECT_EQ(s.columns, "LNGITEMID,STRDATE");
  EXPECT_EQ(s.values, "15,'2003-01-05'");

  const Split nvl = SplitOf("NVL(POSITION.LNGPOSITIONGROUPID,0)=3 AND LNGITEMID=15");
  EXPECT_EQ(nvl.condition, "LNGPOSITIONGROUPID=3 AND LNGITEMID=15");
  EXPECT_EQ(nvl.columns, "LNGPOSITIONGROUPID,LNGITEMID");
  EXPECT_EQ(nvl.values, "3,15");

  // Already ledger-side: unchanged, lists still filled.
  const Split ledger = SplitOf("LNGITEMID=15 AND STRDATE='2003-01-05'");
  EXPECT_EQ(ledger.condition, "LNGITEMID=15 AND STRDATE='2003-01-05'");
  EXPECT_EQ(ledger.columns, "LNGITEMID,STRDATE");
  EXPECT_EQ(ledger.values, "15,'2003-01-05'");

  // An unqualified wrapper keeps its NVL: only qualified names are reduced.
  EXPECT_EQ(SplitOf("NVL(LNGPOSITIONGROUPID,0)=3").columns, "NVL(LNGPOSITIONGROUPID,0)");

  Split empty;
  empty.columns = "stale";
  empty.values = "stale";
  empty.condition = SplitCondition("", empty.columns, empty.values);
  EXPECT_EQ(empty.condition, "");
  EXPECT_EQ(empty.columns, "");
  EXPECT_EQ(empty.values, "");
}

TEST(SplitCondition, SingleBlankValueAfterTheFirstKeepsItsListAsBefore) {
  const Split s = SplitOf("LNGITEMID=15 AND STRPRODUCENUM=' ' AND STRDATE='2003-01-05'");
  EXPECT_EQ(s.condition, "LNGITEMID=15 AND STRPRODUCENUM=' ' AND STRDATE='2003-01-05'");
  EXPECT_EQ(s.columns, "LNGITEMID,STRPRODUCENUM,STRDATE");
  EXPECT_EQ(s.values, "15,' ' ,'2003-01-05'");
  EXPECT_EQ(SplitOf("T.LNGITEMID=15 AND T.STRPRODUCENUM=' '").values, "15,' '");
}

// Regression: quoted values used to be split at their blanks and "=" (and a first value of ' '
// broke the list), so corrections of such rows went to the wrong columns or failed.
TEST(SplitCondition, QuotedValuesStayWhole) {
  const Split first = SplitOf("T.STRPRODUCENUM=' ' AND T.LNGITEMID=15");
  EXPECT_EQ(first.values, "' ',15");
  EXPECT_EQ(first.columns, "STRPRODUCENUM,LNGITEMID");

  const Split blanks = SplitOf("T.STRPRODUCENUM='A  B AND C' AND T.LNGITEMID=15");
  EXPECT_EQ(blanks.condition, "STRPRODUCENUM='A  B AND C' AND LNGITEMID=15");
  EXPECT_EQ(blanks.columns, "STRPRODUCENUM,LNGITEMID");
  EXPECT_EQ(blanks.values, "'A  B AND C',15");

  const Split equals = SplitOf("T.LNGITEMID=15 AND T.STRPRODUCENUM='x=y'");
  EXPECT_EQ(equals.condition, "LNGITEMID=15 AND STRPRODUCENUM='x=y'");
  EXPECT_EQ(equals.columns, "LNGITEMID,STRPRODUCENUM");
  EXPECT_EQ(equals.values, "15,'x=y'");

  const Split quotes = SplitOf("T.STRPRODUCENUM='O''Brien '' = x' AND T.LNGITEMID=15");
  EXPECT_EQ(quotes.condition, "STRPRODUCENUM='O''Brien '' = x' AND LNGITEMID=15");
  EXPECT_EQ(quotes.values, "'O''Brien '' = x',15");
}

TEST(SplitCondition, ListsCarryAwkwardTextValuesIntoTheLedgerUnchanged) {
  const std::vector<std::string> batches = {" ",       "A  B",         "x=y",
                                            "O'Brien", "' AND 1=1 --", "批号 1"};
  testing::TempAccountSet set;
  set.Script("CREATE TABLE Ledger (LNGITEMID INTEGER, STRPRODUCENUM TEXT, STRDATE TEXT)");
  int id = 0;
  for (const std::string& batch : batches) {
    const std::string condition = "T.LNGITEMID=" + std::to_string(++id) +
                                  " AND T.STRPRODUCENUM=" + QuoteSqlText(batch) +
                                  " AND T.STRDATE=" + QuoteSqlText("2005-03-01");
    const Split s = SplitOf(condition);
    set.conn().inner().Execute("INSERT INTO Ledger(" + s.columns + ") VALUES (" + s.values + ")");
    const auto found = set.Rows("SELECT LNGITEMID FROM Ledger WHERE " + s.condition);
    EXPECT_EQ(found, std::vector<std::string>{std::to_string(id)}) << condition;
  }
  std::vector<std::string> stored = set.Rows("SELECT STRPRODUCENUM FROM Ledger ORDER BY LNGITEMID");
  EXPECT_EQ(stored, batches);
}

TEST(QuoteSqlText, DoublesEmbeddedQuotes) {
  EXPECT_EQ(QuoteSqlText("2003-01-05"), "'2003-01-05'");
  EXPECT_EQ(QuoteSqlText("O'Brien''s"), "'O''Brien''''s'");
  EXPECT_EQ(QuoteSqlText(""), "''");
}

TEST(ReplaceRepeatedName, RenamesOnlyTheOccurrencesAfterTheFirst) {
  EXPECT_EQ(ReplaceRepeatedName("STRDATE,LNGORGANIZATIONID,LNGACCOUNTID,LNGORGANIZATIONID",
                                "LNGORGANIZATIONID", "LNGSOURCEORGANIZATIONID"),
            "STRDATE,LNGORGANIZATIONID,LNGACCOUNTID,LNGSOURCEORGANIZATIONID");
  EXPECT_EQ(ReplaceRepeatedName("STRDATE,LNGORGANIZATIONID", "LNGORGANIZATIONID", "X"),
            "STRDATE,LNGORGANIZATIONID");
  EXPECT_EQ(ReplaceRepeatedName("STRDATE", "LNGORGANIZATIONID", "X"), "STRDATE");
}

TEST(FieldBaseName, StripsTheAggregateWrapper) {
  EXPECT_EQ(FieldBaseName("SUM(DBLAMOUNT)"), "DBLAMOUNT");
  EXPECT_EQ(FieldBaseName("dblAmount"), "dblAmount");
  EXPECT_EQ(FieldBaseName("NVL(POSITION.LNGPOSITIONGROUPID,0)"), "POSITION.LNGPOSITIONGROUPID,0");
  EXPECT_THROW(FieldBaseName("SUM("), std::invalid_argument);
}

}  // namespace
}  // namespace tallyvet
