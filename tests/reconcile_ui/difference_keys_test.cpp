// Reading a difference's key back from its condition, for the command line's JSON.
#include <gtest/gtest.h>

#include "reconcile_ui/difference_keys.h"

namespace tallyvet {
namespace {

std::string Terms(std::string_view condition) {
  std::string out;
  for (const KeyTerm& t : ConditionTerms(condition)) out += "[" + t.column + "|" + t.literal + "]";
  return out;
}

TEST(ConditionTerms, SplitsOnlyOutsideLiteralsAndParentheses) {
  EXPECT_EQ(Terms("A.X=15 AND B.Y='2005-03-04'"), "[A.X|15][B.Y|'2005-03-04']");
  EXPECT_EQ(Terms("X='a AND b=c' AND Y='it''s'"), "[X|'a AND b=c'][Y|'it''s']");
  EXPECT_EQ(Terms("NVL(A || LPAD(B,4,'0'),' ')='x' AND DECODE(C,1,9,0)=9"),
            "[NVL(A || LPAD(B,4,'0'),' ')|'x'][DECODE(C,1,9,0)|9]");
  EXPECT_EQ(Terms(""), "");
}

TEST(LiteralValue, TextWholeNumbersAndDecimals) {
  EXPECT_EQ(LiteralValue("'it''s'"), db::Value("it's"));
  EXPECT_EQ(LiteralValue("' '"), db::Value(" "));
  EXPECT_EQ(LiteralValue("15"), db::Value(std::int64_t{15}));
  EXPECT_EQ(LiteralValue("-2.5"), db::Value(-2.5));
  EXPECT_EQ(LiteralValue("abc"), db::Value("abc"));
}

TEST(DifferenceKeys, LedgerNamesPairedWithTheConditionsValues) {
  CheckItemTable items;
  items.InsertColumns[0] = "STRDATE,LNGITEMID,LNGPOSITIONGROUPID,DBLSALEAMOUNT";
  DifferenceRecord r;
  r.item = 1;
  r.keyCount = 3;
  r.condition =
      "ITEMACTIVITY.STRDATE='2005-03-04' AND ITEMACTIVITYDETAIL.LNGITEMID=15 AND "
      "NVL(POSITION.LNGPOSITIONGROUPID,0)=2";
  const auto keys = DifferenceKeys(items, r);
  ASSERT_EQ(keys.size(), 3u);
  EXPECT_EQ(keys[0], (std::pair<std::string, db::Value>{"STRDATE", db::Value("2005-03-04")}));
  EXPECT_EQ(keys[2], (std::pair<std::string, db::Value>{"LNGPOSITIONGROUPID", db::Value(2)}));

  // Item 5 leaves numeric keys that are 0 out of its condition: they come back as 0.
  items.InsertColumns[4] = "STRDATE,LNGACCOUNTID,LNGDEPARTMENTID,LNGEMPLOYEEID,DBLUNVOUCHERDEBIT";
  r.item = 5;
  r.keyCount = 4;
  r.condition = "STRDATE='2005-03-04' AND QARAPDETAIL1.LNGACCOUNTID=101 AND LNGEMPLOYEEID=7";
  const auto five = DifferenceKeys(items, r);
  ASSERT_EQ(five.size(), 4u);
  EXPECT_EQ(five[1], (std::pair<std::string, db::Value>{"LNGACCOUNTID", db::Value(101)}));
  EXPECT_EQ(five[2], (std::pair<std::string, db::Value>{"LNGDEPARTMENTID", db::Value(0)}));
  EXPECT_EQ(five[3], (std::pair<std::string, db::Value>{"LNGEMPLOYEEID", db::Value(7)}));

  // Without the item's column list the condition's own names serve.
  items.InsertColumns[4].clear();
  const auto bare = DifferenceKeys(items, r);
  ASSERT_EQ(bare.size(), 3u);
  EXPECT_EQ(bare[1].first, "LNGACCOUNTID");
}

}  // namespace
}  // namespace tallyvet
