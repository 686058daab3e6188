// Causes from contributions (hand-made lines under hand-made rows), and the statement that reads
// the lines, cut from an item's own recompute statement.
#include "ledger_engine/causes.h"

#include <gtest/gtest.h>

namespace tallyvet {
namespace {

// Rows of a ledger keyed by date and item, with two value columns: quantity and amount.
std::vector<KeyValue> Keys(const char* date, std::int64_t item) {
  return {{"STRDATE", db::Value(date)}, {"LNGITEMID", db::Value(item)}};
}

// A row whose `delta` (recomputed - stored) is given per column; 0 means no difference there.
RowToExplain Row(std::vector<KeyValue> keys, std::vector<double> delta,
                 RowSide side = RowSide::kBoth) {
  RowToExplain row;
  row.keys = std::move(keys);
  row.side = side;
  for (const double d : delta) {
    row.delta.push_back(d);
    row.differs.push_back(d != 0);
  }
  return row;
}

ContributionLine Line(std::int64_t document, std::int64_t line, std::vector<double> values,
                      bool isVoid = false, bool approved = true) {
  ContributionLine l;
  l.document = document;
  l.line = line;
  l.no = "RK" + std::to_string(document);
  l.date = "2025-03-04";
  l.values = std::move(values);
  l.isVoid = isVoid;
  l.approved = approved;
  return l;
}

std::vector<DifferenceCause> Assign(const std::vector<RowToExplain>& rows) {
  return AssignCauses(rows, [](const std::string& column) { return column; });
}

std::vector<std::int64_t> Ids(const DifferenceCause& c) {
  std::vector<std::int64_t> ids;
  for (const NamedDocument& d : c.documents) ids.push_back(d.line != 0 ? -d.line : d.id);
  return ids;
}

TEST(AssignCauses, AMovedDocumentExplainsBothEndsAndNamesTheOtherKey) {
  // Document 7 re-dated from 03-04 to 03-09: the old row keeps it in the ledger, the new one
  // has it in the documents only. Document 8 stays under the old date and plays no part.
  RowToExplain before = Row(Keys("2025-03-04", 15), {-2, -30});
  before.lines = {Line(8, 81, {1, 10})};
  RowToExplain after = Row(Keys("2025-03-09", 15), {2, 30}, RowSide::kRecomputedOnly);
  after.lines = {Line(7, 71, {1, 10}), Line(7, 72, {1, 20})};
  // A row of another item with the same opposite figures is no partner: two keys differ.
  RowToExplain stranger = Row(Keys("2025-03-05", 16), {2, 30});
  const auto causes = Assign({before, after, stranger});
  for (int i : {0, 1}) {
    EXPECT_EQ(causes[i].kind, CauseKind::kMoved) << i;
    EXPECT_EQ(Ids(causes[i]), std::vector<std::int64_t>{7}) << i;
  }
  EXPECT_EQ(causes[0].otherKeys[0].value.Text(), "2025-03-09");
  EXPECT_EQ(causes[1].otherKeys[0].value.Text(), "2025-03-04");
  EXPECT_NE(causes[0].text.find("已从本行移到STRDATE=2025-03-09"), std::string::npos)
      << causes[0].text;
  EXPECT_NE(causes[1].text.find("现在本行，账中仍记在STRDATE=2025-03-04，LNGITEMID=15"),
            std::string::npos)
      << causes[1].text;
  EXPECT_EQ(causes[2].kind, CauseKind::kUnexplained);
  // The other row as users read it, when its description is known.
  after.description = "日期=2025-03-09 商品=SP015";
  EXPECT_NE(Assign({before, after})[0].text.find("移到日期=2025-03-09 商品=SP015，"),
            std::string::npos);

  // A line moved within a document that has other lines under the new key: the line is named.
  RowToExplain from = Row(Keys("2025-03-04", 15), {0, -5});
  RowToExplain to = Row(Keys("2025-03-04", 17), {0, 5});
  to.lines = {Line(9, 91, {1, 40}), Line(9, 92, {0, 5})};
  EXPECT_EQ(Ids(Assign({from, to})[0]), std::vector<std::int64_t>{-92});
}

TEST(AssignCauses, AHandEditOnTopOfAMoveLeavesTheRowUnexplained) {
  RowToExplain before = Row(Keys("2025-03-04", 15), {-2, -30 + 12.5});  // moved and edited
  RowToExplain after = Row(Keys("2025-03-09", 15), {2, 30});
  after.lines = {Line(7, 71, {2, 30})};
  const auto causes = Assign({before, after});
  EXPECT_EQ(causes[0].kind, CauseKind::kUnexplained);
  EXPECT_NE(causes[0].text.find("手工"), std::string::npos);
  // The other end is still one document the ledger did not take in at its key.
  EXPECT_EQ(causes[1].kind, CauseKind::kUnposted);
  // Opposite within half a cent still pairs; a cent apart does not.
  before.delta = {-2, -30.004};
  EXPECT_EQ(Assign({before, after})[0].kind, CauseKind::kMoved);
  before.delta = {-2, -30.01};
  EXPECT_EQ(Assign({before, after})[0].kind, CauseKind::kUnexplained);
}

TEST(AssignCauses, UnpostedNamesTheDocumentElseOneLineAndEveryCandidateThatFits) {
  RowToExplain row = Row(Keys("2025-03-04", 15), {1, 10});
  row.lines = {Line(1, 11, {3, 40}), Line(2, 21, {1, 10}), Line(3, 31, {1, 10}, true)};
  auto c = Assign({row})[0];
  EXPECT_EQ(c.kind, CauseKind::kUnposted);
  EXPECT_EQ(Ids(c), std::vector<std::int64_t>{2});  // the voided twin does not count
  EXPECT_EQ(c.text.find("候选"), std::string::npos);

  // Two documents alike: both named, and the text says it cannot tell which.
  row.lines.push_back(Line(4, 41, {1, 10}));
  c = Assign({row})[0];
  EXPECT_EQ(Ids(c), (std::vector<std::int64_t>{2, 4}));
  EXPECT_NE(c.text.find("2个候选同样相符"), std::string::npos) << c.text;

  // No whole document fits; one line of one does.
  row.lines = {Line(1, 11, {3, 40}), Line(1, 12, {1, 10})};
  EXPECT_EQ(Ids(Assign({row})[0]), std::vector<std::int64_t>{-12});

  // A document that fits the differing column but moves one that does not differ is no cause.
  RowToExplain amountOnly = Row(Keys("2025-03-04", 15), {0, 10});
  amountOnly.lines = {Line(5, 51, {1, 10})};
  EXPECT_EQ(Assign({amountOnly})[0].kind, CauseKind::kUnexplained);
}

TEST(AssignCauses, WithdrawnDocumentsAreTheDifferenceTheOtherWayRound) {
  RowToExplain row = Row(Keys("2025-03-04", 15), {-1, -10});
  row.lines = {Line(1, 11, {3, 40}), Line(2, 21, {1, 10}, false, false)};
  auto c = Assign({row})[0];
  EXPECT_EQ(c.kind, CauseKind::kWithdrawn);
  EXPECT_EQ(Ids(c), std::vector<std::int64_t>{2});
  EXPECT_NE(c.text.find("已取消审核"), std::string::npos) << c.text;
  row.lines[1].isVoid = true;
  EXPECT_NE(Assign({row})[0].text.find("已作废"), std::string::npos);
  // A valid document the other way round is no withdrawal.
  row.lines[1] = Line(2, 21, {1, 10});
  EXPECT_EQ(Assign({row})[0].kind, CauseKind::kUnexplained);

  // Item 6: a voucher with no document behind it.
  RowToExplain voucher = Row({{"STRDATE", db::Value("2025-08-30")},
                              {"LNGVOUCHERSOURCEID", db::Value(std::int64_t{12})},
                              {"INTVOUCHERNO", db::Value("2025-08-30转0046")}},
                             {-252.78}, RowSide::kStoredOnly);
  ContributionLine v = Line(46, 0, {252.78});
  v.voucher = true;
  v.no = "2025-08-30转0046";
  voucher.lines = {v};
  c = Assign({voucher})[0];
  EXPECT_EQ(c.kind, CauseKind::kWithdrawn);
  EXPECT_TRUE(c.documents.at(0).voucher);
  EXPECT_NE(c.text.find("凭证2025-08-30转0046没有对应的单据"), std::string::npos) << c.text;
}

TEST(AssignCauses, RoundingIsHalfACentPerValidLineAtMost) {
  RowToExplain row = Row(Keys("2025-03-04", 15), {0, 0.012});
  row.lines = {Line(1, 11, {1, 3.334}), Line(1, 12, {1, 3.334}), Line(2, 21, {1, 3.334})};
  auto c = Assign({row})[0];
  EXPECT_EQ(c.kind, CauseKind::kRounding);
  EXPECT_EQ(c.lines, 3);
  row.delta[1] = 0.016;
  EXPECT_EQ(Assign({row})[0].kind, CauseKind::kUnexplained);
  // A voided line cannot round.
  row.delta[1] = 0.012;
  row.lines[2].isVoid = true;
  EXPECT_EQ(Assign({row})[0].kind, CauseKind::kUnexplained);
  // A row without lines (stored only) never rounds.
  EXPECT_EQ(Assign({Row(Keys("2025-03-04", 15), {0, 0.01}, RowSide::kStoredOnly)})[0].kind,
            CauseKind::kUnexplained);
}

// The statement of the lines under one row, from an item's SelectSql.
TEST(ContributionStatement, LiftsTheValidityTestsAndKeepsTheLedgersOwnExpressions) {
  CheckItemTable items;
  items.SelectSql[0] =
      "SELECT ItemActivity.strDate,ItemActivityDetail.lngItemID,"
      "SUM(DECODE(ItemActivity.lngActivityTypeID,1,dblQuantity,0)) dblPurchaseQuantity "
      "FROM ItemActivity,ItemActivityDetail WHERE ItemActivity.lngActivityID="
      "ItemActivityDetail.lngActivityID AND ItemActivity.blnIsVoid = 0 AND "
      "ItemActivity.bytStatus=2 AND strRemark<>'BLNISVOID=1' "
      "GROUP BY ItemActivity.strDate,ItemActivityDetail.lngItemID";
  const ContributionSql s = ContributionStatement(
      items, 1, {"ITEMACTIVITY.STRDATE='2025-03-04' AND ITEMACTIVITYDETAIL.LNGITEMID=15"}, " ",
      "2025-12-31");
  EXPECT_EQ(s.validVoid, "0");
  EXPECT_EQ(s.validStatus, "2");
  EXPECT_EQ(s.sql,
            "SELECT ITEMACTIVITY.LNGACTIVITYID TV_DOC,ITEMACTIVITYDETAIL.LNGACTIVITYDETAILID "
            "TV_LINE,ITEMACTIVITY.STRDATE TV_DATE,LTRIM(ITEMACTIVITY.STRRECEIPTNO) || "
            "LPAD(ITEMACTIVITY.LNGRECEIPTNO,4,'0') TV_NO,ITEMACTIVITY.BLNISVOID TV_VOID,"
            "ITEMACTIVITY.BYTSTATUS TV_STATUS, ITEMACTIVITY.STRDATE,ITEMACTIVITYDETAIL.LNGITEMID,"
            "(DECODE(ITEMACTIVITY.LNGACTIVITYTYPEID,1,DBLQUANTITY,0)) DBLPURCHASEQUANTITY FROM "
            "ITEMACTIVITY,ITEMACTIVITYDETAIL WHERE ITEMACTIVITY.LNGACTIVITYID="
            "ITEMACTIVITYDETAIL.LNGACTIVITYID AND 1=1 AND 1=1 AND STRREMARK<>'BLNISVOID=1'  AND "
            "STRDATE>=' ' AND STRDATE<='2025-12-31' AND ITEMACTIVITY.STRDATE='2025-03-04' AND "
            "ITEMACTIVITYDETAIL.LNGITEMID=15");
  // Without validity tests every line is valid; item 6 ranges over the documents' dates.
  items.SelectSql[5] =
      "SELECT NVL(VOUCHER.STRDATE,' '),SUM(DBLCOSTAMOUNT) FROM ITEMACTIVITY "
      "GROUP BY VOUCHER.STRDATE";
  const ContributionSql six =
      ContributionStatement(items, 6, {"NVL(VOUCHER.STRDATE,' ')=''"}, "2025-01-01", "2025-12-31");
  EXPECT_NE(six.sql.find(",0 TV_VOID,2 TV_STATUS,"), std::string::npos) << six.sql;
  EXPECT_NE(six.sql.find("NVL(ITEMACTIVITY.STRDATE,' ')>='2025-01-01'"), std::string::npos);
  EXPECT_NE(six.sql.find("NVL(VOUCHER.STRDATE,' ')=' '"), std::string::npos);  // as stored
  EXPECT_EQ(six.sql.find("VOUCHER.STRDATE=' '"), std::string::npos);  // no voucher: no date
  // A voucher's date, wrapped in NVL, is repeated bare so that the voucher's date index serves.
  const ContributionSql dated = ContributionStatement(
      items, 6, {"NVL(VOUCHER.STRDATE,' ')='2025-08-30' AND DECODE(X,0,1,2)=2"}, " ", "9999-12-31");
  EXPECT_NE(dated.sql.find("DECODE(X,0,1,2)=2 AND VOUCHER.STRDATE='2025-08-30'"), std::string::npos)
      << dated.sql;
  // Several rows in one statement: any of their conditions, each with its own indexable terms.
  const ContributionSql both = ContributionStatement(
      items, 6, {"NVL(VOUCHER.STRDATE,' ')='2025-08-30'", "NVL(VOUCHER.STRDATE,' ')=''"}, " ",
      "9999-12-31");
  EXPECT_NE(both.sql.find("<='9999-12-31' AND (( NVL(VOUCHER.STRDATE,' ')='2025-08-30' AND "
                          "VOUCHER.STRDATE='2025-08-30') OR ( NVL(VOUCHER.STRDATE,' ')=' '))"),
            std::string::npos)
      << both.sql;
}

}  // namespace
}  // namespace tallyvet
