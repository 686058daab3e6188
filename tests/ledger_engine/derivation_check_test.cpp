// What the derivation refuses to hand on: statements cut from damaged or missing stored source,
// judged before anything runs them, with messages that name the unit, the function and the cause.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>

#include "fixtures.h"
#include "ledger_engine/comparison.h"
#include "ledger_engine/derivation.h"
#include "shell/gbk.h"
#include "support/file_text.h"

namespace tallyvet {
namespace {

using testing::AccountSet;
using testing::RecordingScreen;

struct CheckCase {
  const char* why;
  std::string select;
  std::string insert;
  std::string problem;  // empty: the statement may run
};

TEST(CheckDerivedStatement, RefusesWhatCannotStandForTheLedger) {
  const std::string sums = ",\n  SUM(Q) DBLQ,\n  SUM(R) DBLR,\n  SUM(S) DBLS\n";
  const std::string keys = "STRDATE,LNGITEMID,DBLQ,DBLR,DBLS";
  const std::vector<CheckCase> cases = {
      {"sound",
       "SELECT A.STRDATE,B.LNGITEMID" + sums + " FROM A,B GROUP BY A.STRDATE,B.LNGITEMID\n", keys,
       ""},
      {"more columns than the ledger: MatchInsertColumns shortens it",
       "SELECT STRDATE,LNGITEMID" + sums + ",SUM(T) DBLT FROM A GROUP BY STRDATE,LNGITEMID", keys,
       ""},
      {"commas, FROM and GROUP BY inside literals, parentheses and comments",
       "SELECT DECODE(K,'a,FROM',1) STRDATE,NVL(B.LNGITEMID,0) -- , FROM\n" + sums +
           " /* , */ FROM A GROUP BY DECODE(K,'a,FROM',1),LNGITEMID",
       keys, ""},
      {"nothing cut", "", keys,
       "no ledger SELECT (one with at least three SUM lines) follows the function header"},
      {"no INSERT list", "SELECT STRDATE" + sums + "FROM A GROUP BY STRDATE", "\n  ",
       "no INSERT column list follows the function header"},
      {"a SELECT alone on its line is cut away",
       "    STRDATE,LNGITEMID" + sums + " FROM A GROUP BY STRDATE,LNGITEMID", keys,
       "the statement does not begin with SELECT"},
      {"FROM line lost",
       "SELECT STRDATE,LNGITEMID" + sums + " WHERE X=1 GROUP BY STRDATE,LNGITEMID", keys,
       "the statement has no FROM"},
      {"FROM only inside a subquery",
       "SELECT STRDATE,LNGITEMID,(SELECT MAX(Q) FROM T) M" + sums + " GROUP BY STRDATE,LNGITEMID",
       keys, "the statement has no FROM"},
      {"GROUP BY line lost", "SELECT STRDATE,LNGITEMID" + sums + " FROM A WHERE X=1\n", keys,
       "the statement has no GROUP BY"},
      {"a SUM line lost",
       "SELECT STRDATE,LNGITEMID,\n  SUM(Q) DBLQ,\n  SUM(R) DBLR FROM A "
       "GROUP BY STRDATE,LNGITEMID",
       keys, "the SELECT gives 4 columns, the INSERT names 5"},
      {"a key missing from the GROUP BY",
       "SELECT A.STRDATE,B.LNGITEMID" + sums + " FROM A,B GROUP BY A.STRDATE,B.LNGITEMIDX", keys,
       "the GROUP BY does not name the key column(s) LNGITEMID"},
  };
  for (const CheckCase& c : cases) {
    CheckItemTable items;
    items.SelectSql[1] = c.select;
    items.InsertColumns[1] = c.insert;
    EXPECT_EQ(CheckDerivedStatement(items, 2), c.problem) << c.why;
  }
}

std::vector<std::string> SampleSourceLines(const std::string& file) {
  const char* root = std::getenv("TALLYVET_SOURCE_DIR");
  std::ifstream in(std::string(root ? root : ".") + "/sample/source/" + file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The sample's own stored source, with one line removed or changed by `damage`.
void StoreSampleSource(AccountSet& set,
                       const std::function<void(std::vector<std::string>&)>& damage = {}) {
  std::vector<std::string> goods = SampleSourceLines("mdlitem.pls");
  ASSERT_GT(goods.size(), 100u) << "sample source not found; TALLYVET_SOURCE_DIR unset?";
  if (damage) damage(goods);
  set.StoreSource("MDLITEM", goods);
  set.StoreSource("CHANGEALLACCOUNT_FROM_VOUCHER",
                  SampleSourceLines("changeallaccount_from_voucher.pls"));
}

void Derive(AccountSet& set) {
  RecordingScreen screen;
  InitCheckItems(set.ctx);
  DeriveGoodsLedgerSql(set.ctx, screen);
  DeriveAccountLedgerSql(set.ctx, screen);
}

void RemoveLineContaining(std::vector<std::string>& lines, const std::string& text) {
  for (auto line = lines.begin(); line != lines.end(); ++line) {
    if (line->find(text) != std::string::npos) {
      lines.erase(line);
      return;
    }
  }
  FAIL() << "no line holds " << text;
}

TEST(DerivationRefusal, TheSampleSourceDerivesWholeAndEachDamageIsNamed) {
  struct DamageCase {
    const char* why;
    std::string removedLine;  // empty: the source as shipped
    int item;
    std::string refusal;
  };
  const std::vector<DamageCase> cases = {
      {"as shipped", "", 0, ""},
      {"the stock ledger's GROUP BY deleted",
       "GROUP BY "
       "ItemActivity.strDate,ItemActivityDetail.lngItemID,ItemActivityDetail.lngPositionID",
       2, "MDLITEM.ChangePositionDaily_New: the statement has no GROUP BY"},
      {"the goods ledger's header deleted", "Function ChangeItemDaily1_New", 3,
       "MDLITEM of owner ACME has no function ChangeItemDaily1_New (no line reads \"FUNCTION "
       "CHANGEITEMDAILY1_NEW\")"},
      {"a summed column of the inventory ledger deleted",
       "SUM(DECODE(ItemActivity.lngActivityTypeID,1,dblExpenseAmount,0)) dblPurchaseExpense", 1,
       "MDLITEM.ChangeItemDaily2_New: the SELECT gives 35 columns, the INSERT names 36"},
      {"the FROM of the inventory ledger deleted", "FROM ItemActivity,ItemActivityDetail,Position",
       1, "MDLITEM.ChangeItemDaily2_New: the statement has no FROM"},
  };
  for (const DamageCase& c : cases) {
    AccountSet set;
    StoreSampleSource(set, [&](std::vector<std::string>& lines) {
      if (!c.removedLine.empty()) RemoveLineContaining(lines, c.removedLine);
    });
    Derive(set);
    for (int item = 1; item <= 6; ++item) {
      EXPECT_EQ(set.ctx.CheckItems.Refusal[item - 1], item == c.item ? c.refusal : "")
          << c.why << ", item " << item;
    }
  }
}

TEST(DerivationRefusal, AnOwnerWithoutSourceIsNamedWithTheOwnersThatHaveIt) {
  AccountSet set;
  StoreSampleSource(set);
  set.ctx.user = "acme2";
  RecordingScreen screen;
  InitCheckItems(set.ctx);
  EXPECT_FALSE(DeriveGoodsLedgerSql(set.ctx, screen));
  EXPECT_FALSE(DeriveAccountLedgerSql(set.ctx, screen));
  const CheckItemTable& items = set.ctx.CheckItems;
  const std::string goods =
      "no stored source for owner ACME2 (looked for MDLITEM in ALL_SOURCE); the source is there "
      "for owner ACME";
  for (int i = 0; i < 3; ++i) EXPECT_EQ(items.Refusal[i], goods);
  EXPECT_EQ(items.Refusal[3],
            "no stored source for owner ACME2 (looked for CHANGEALLACCOUNT_FROM_VOUCHER in "
            "ALL_SOURCE); the source is there for owner ACME");
  EXPECT_EQ(items.Refusal[4], "item 5 takes its key columns from item 4: " + items.Refusal[3]);
  EXPECT_EQ(items.Refusal[5], "");  // item 6 is fixed text
  EXPECT_THROW(RequireRunnableStatement(items, 1), DerivationRefused);
  EXPECT_NO_THROW(RequireRunnableStatement(items, 6));
}

// A recomputed column the ledger lacks is left out of the comparison, and the run says so: in the
// summary list, in the item's section of the report and to every sink.
TEST(DerivationRefusal, AColumnLeftOutOfTheComparisonIsSaid) {
  struct NoticeSink final : DifferenceSink {
    void RecordDifference(const DifferenceRecord&, bool) override {}
    void Notice(int item, const std::string& text) override {
      notices.push_back(std::to_string(item) + ": " + text);
    }
    std::vector<std::string> notices;
  };
  AccountSet set;
  CheckItemTable& items = set.ctx.CheckItems;
  items.SelectSql[1] =
      "SELECT LNGITEMID,STRDATE,SUM(1) DBLSALEQUANTITY,SUM(2) DBLEXTRA FROM (SELECT lngItemID, "
      "'2005-01-05' strDate FROM Item) D WHERE 1=1 GROUP BY LNGITEMID,STRDATE";
  items.InsertColumns[1] = "LNGITEMID,STRDATE,DBLSALEQUANTITY";
  RecordingScreen screen;
  NoticeSink sink;
  const ReportFile report(set.dir.path());
  std::string error;
  RunComparison(set.ctx, screen, report, 2, "2005-01-01", "2005-01-31", true, false, {&sink},
                &error);
  EXPECT_EQ(error, "");
  const std::string notice =
      "MDLITEM.ChangePositionDaily_New: the ledger has no column for DBLEXTRA; left out of the "
      "comparison";
  EXPECT_EQ(sink.notices, std::vector<std::string>{"2: " + notice});
  EXPECT_NE(std::find(screen.list.begin(), screen.list.end(), notice), screen.list.end());
  const std::string text = GbkToUtf8(testing::FileText(report.Path()));
  EXPECT_NE(text.find(notice + "\r\n"), std::string::npos) << text;
}

}  // namespace
}  // namespace tallyvet
