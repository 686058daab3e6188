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

// Text values quoted, so that a number read as text shows.
std::string Keys(const CheckItemTable& items, int item, int keyCount, std::string condition) {
  DifferenceRecord r;
  r.item = item;
  r.keyCount = keyCount;
  r.condition = std::move(condition);
  std::string out;
  for (const auto& [name, v] : DifferenceKeys(items, r))
    out += name + "=" + (v.IsText() ? "'" + v.AsText() + "'" : v.AsText()) + ";";
  return out;
}

TEST(ConditionTerms, SplitsOnlyOutsideLiteralsAndParentheses) {
  EXPECT_EQ(Terms("A.X=15 AND B.Y='2005-03-04'"), "[A.X|15][B.Y|'2005-03-04']");
  EXPECT_EQ(Terms("X='a AND b=c' AND Y='it''s'"), "[X|'a AND b=c'][Y|'it''s']");
  EXPECT_EQ(Terms("NVL(A || LPAD(B,4,'0'),' ')='x' AND DECODE(C,1,9,0)=9"),
            "[NVL(A || LPAD(B,4,'0'),' ')|'x'][DECODE(C,1,9,0)|9]");
  EXPECT_EQ(Terms(""), "");
}

TEST(DifferenceKeys, LedgerNamesPairedWithTheConditionsValues) {
  CheckItemTable items;
  items.InsertColumns[0] = "STRDATE,LNGITEMID,LNGPOSITIONGROUPID,DBLSALEAMOUNT";
  EXPECT_EQ(Keys(items, 1, 3,
                 "ITEMACTIVITY.STRDATE='it''s' AND ITEMACTIVITYDETAIL.LNGITEMID=15 AND "
                 "NVL(POSITION.LNGPOSITIONGROUPID,0)=2"),
            "STRDATE='it's';LNGITEMID=15;LNGPOSITIONGROUPID=2;");
  // Item 5 leaves numeric keys that are 0 out of its condition: they come back as 0.
  items.InsertColumns[4] = "STRDATE,LNGACCOUNTID,LNGDEPARTMENTID,LNGEMPLOYEEID,DBLUNVOUCHERDEBIT";
  const std::string five =
      "STRDATE='2005-03-04' AND QARAPDETAIL1.LNGACCOUNTID=101 AND LNGEMPLOYEEID=7";
  EXPECT_EQ(Keys(items, 5, 4, five),
            "STRDATE='2005-03-04';LNGACCOUNTID=101;LNGDEPARTMENTID=0;LNGEMPLOYEEID=7;");
  // Without the item's column list the condition's own names serve.
  items.InsertColumns[4].clear();
  EXPECT_EQ(Keys(items, 5, 4, five), "STRDATE='2005-03-04';LNGACCOUNTID=101;LNGEMPLOYEEID=7;");
}

}  // namespace
}  // namespace tallyvet
