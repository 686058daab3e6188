// The row merge on hand-made result sets, the corrections it writes into real ledgers, the
// rounding it decides with and the summary list it keeps; one comparison run end to end on a small
// account set, the pieces of its statements, and the text report it leaves.
#include "ledger_engine/comparison.h"
#include "ledger_engine/compare_rows.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <map>
#include <stdexcept>
#include <system_error>
#include <tuple>

#include "fixtures.h"

namespace tallyvet {
namespace {

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
const std::string kStars(69, '*');
const std::string kClosing = kStars + "\r\n  对账完毕！\r\n\r\n";

using Row = std::vector<db::Value>;
const db::Value kNull;

Row L(db::Value item, db::Value date, db::Value quantity, db::Value amount,
      db::Value entrustIn = 0.0, db::Value unVoucher = 0.0) {
  return {item, date, quantity, amount, entrustIn, unVoucher};
}

// Two keys and four values; the recomputed side names its values as the derived SQL does.
std::unique_ptr<db::Recordset> Side(bool recomputed, std::vector<Row> rows) {
  std::vector<db::ColumnInfo> columns = {{"LNGITEMID", db::adInteger}, {"STRDATE", db::adVarChar}};
  for (std::string name :
       {"DBLSALEQUANTITY", "DBLSALEAMOUNT", "DBLENTRUSTINQUANTITY", "DBLUNVOUCHERDEBIT"}) {
    columns.push_back({recomputed ? "SUM(" + name + ")" : name, db::adDouble});
  }
  return db::Recordset::FromRows(std::move(columns), std::move(rows));
}

class CompareRowsTest : public ::testing::Test {
 protected:
  bool Run(std::vector<Row> recomputed, std::unique_ptr<db::Recordset> stored, int item,
           bool writeReport = true, bool correct = false) {
    auto rec = Side(true, std::move(recomputed));
    DifferenceRecord record;
    record.item = static_cast<std::int16_t>(item);
    const bool agreed = CompareRows(set_.ctx, screen_, *rec, *stored, 2, item, count_, writeReport,
                                    correct, record, {&sink_});
    EXPECT_TRUE(rec->Eof() && stored->Eof());
    return agreed;
  }
  // Corrects against the item's ledger as stored, read to its end and back as the comparison's
  // preparation pass leaves it; `dropLedger` then takes the ledger away from the corrections.
  bool Correct(int item, std::vector<Row> recomputed, bool dropLedger = false) {
    const std::string& table = set_.ctx.CheckItems.LedgerTable[item - 1];
    auto stored = set_.ctx.conn().OpenResultset("SELECT * FROM " + table + " ORDER BY 1,2", 3, 3);
    while (!stored->Eof()) stored->MoveNext();
    stored->MoveFirst();
    if (dropLedger) set_.Script("DROP TABLE " + table);
    return Run(std::move(recomputed), std::move(stored), item, true, true);
  }
  void Clear() {
    sink_ = {};
    screen_.list.clear();
    set_.log->statements.clear();
  }

  testing::AccountSet set_;
  testing::RecordingScreen screen_;
  testing::CollectingSink sink_;
  std::int32_t count_ = 0;
};

TEST(Rounding, HalvesGoToTheEvenNeighbourOfTheDecimalValue) {
  // Binary 0.005 lies a little above the half, binary 2.675 a little below it.
  const std::pair<double, double> cents[] = {{0.005, 0},      {0.015, 0.02}, {2.675, 2.68},
                                             {-0.125, -0.12}, {9.995, 10},   {0.0051, 0.01}};
  for (const auto& [value, rounded] : cents) EXPECT_EQ(RoundHalfEven(value), rounded) << value;
  EXPECT_EQ(RoundHalfEven(13.5, 0), 14.0);
  EXPECT_EQ(ExactDifference(2.035, 2), 0.035);
  EXPECT_EQ(ExactDifference(0.1 + 0.2, 0.3), 4e-17);
  EXPECT_EQ(ExactDifference(1e300, 1e-300), 1e300);  // scales too far apart: plain subtraction
}

TEST_F(CompareRowsTest, RowsOnOneSideCountTheirNonZeroValuesAndAreDescribedOncePerRow) {
  EXPECT_TRUE(Run({}, Side(false, {}), 1));  // both sides empty: no row step, no list line
  EXPECT_EQ(count_, 100);
  EXPECT_TRUE(screen_.progress.empty() && screen_.list.empty());
  // Item 15 only recomputed ("A"), three values; item 16 only stored ("B"), one value.
  count_ = 1;  // the progress denominator grows by 100 when the row steps pass it
  EXPECT_FALSE(
      Run({L(15, "2005-01-03", 2.0, 3.0, 4.0)}, Side(false, {L(16, "2005-01-04", 0.0, 7.5)}), 1));
  ASSERT_EQ(sink_.records.size(), 4u);
  const DifferenceRecord& a = sink_.records[0];
  EXPECT_EQ(a.condition, "LNGITEMID=15 AND STRDATE='2005-01-03'");
  EXPECT_EQ(a.columnName + " " + a.columnCaption, "DBLSALEQUANTITY 销售数量");
  EXPECT_EQ(std::tuple(a.columnIndex, a.storedValue, a.recomputedValue, a.keyCount),
            std::tuple(2, 0.0, 2.0, 2));
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(sink_.records[k].keyDescription, "商品=A-015\r\n日期=2005-01-03\r\n");
  }
  const DifferenceRecord& b = sink_.records[3];
  EXPECT_EQ(b.condition, "LNGITEMID=16 AND STRDATE='2005-01-04'");
  EXPECT_EQ(b.keyDescription, "商品=A-016\r\n日期=2005-01-04\r\n");
  EXPECT_EQ(b.columnCaption, "销售金额");
  EXPECT_EQ(std::pair(b.storedValue, b.recomputedValue), std::pair(7.5, 0.0));
  EXPECT_EQ(sink_.firstInRow, (std::vector<bool>{true, false, false, true}));
  // Keys as typed data, named as the ledger names them, from the side that holds the row.
  EXPECT_EQ(a.side, RowSide::kRecomputedOnly);
  EXPECT_EQ(b.side, RowSide::kStoredOnly);
  ASSERT_EQ(b.keys.size(), 2u);
  EXPECT_EQ(b.keys[0].column + " " + b.keys[1].column, "LNGITEMID STRDATE");
  EXPECT_TRUE(b.keys[0].value.IsInteger() && b.keys[1].value.IsText());
  EXPECT_EQ(b.keys[0].value.AsInteger(), 16);
  EXPECT_EQ(b.keys[1].value.Text(), "2005-01-04");
  EXPECT_EQ(screen_.list, std::vector<std::string>{"    检查并更新4笔差异!"});
  EXPECT_EQ(count_, 101);
  EXPECT_EQ(screen_.progress, (std::vector<double>{100, 2.0 / 101 * 100}));
  // Item 5 leaves a zero numeric key out of the condition.
  Clear();
  Run({L(0, "2005-01-03", 2.0, 0.0)}, Side(false, {}), 5);
  EXPECT_EQ(sink_.records.at(0).condition, "STRDATE='2005-01-03'");
  EXPECT_EQ(sink_.records.at(0).keys.size(), 2u);  // the record keeps the key the condition drops
}

// A recomputed column whose alias the dictionary does not know (the host's function misspells
// one) is captioned by the ledger's own name, in the record and in a correction's list line.
TEST_F(CompareRowsTest, AnUnknownAliasIsCaptionedByTheLedgersColumn) {
  auto rec = db::Recordset::FromRows({{"LNGITEMID", db::adInteger},
                                      {"STRDATE", db::adVarChar},
                                      {"SUM(DBLSALEAMUNT)", db::adDouble}},
                                     {{std::int64_t{15}, db::Value("2005-01-03"), 2.0}});
  auto sto = db::Recordset::FromRows(
      {{"LNGITEMID", db::adInteger}, {"STRDATE", db::adVarChar}, {"DBLSALEAMOUNT", db::adDouble}},
      {{std::int64_t{15}, db::Value("2005-01-03"), 3.0}});
  DifferenceRecord record;
  record.item = 2;
  EXPECT_FALSE(
      CompareRows(set_.ctx, screen_, *rec, *sto, 2, 2, count_, true, false, record, {&sink_}));
  ASSERT_EQ(sink_.records.size(), 1u);
  EXPECT_EQ(sink_.records[0].columnCaption, "销售金额");
  EXPECT_EQ(sink_.records[0].side, RowSide::kBoth);
}

TEST_F(CompareRowsTest, HalfCentsHalveToEvenNullsNeverCountAndItemsThreeAndFourSkipColumns) {
  // Keys compare as typed values: 9 < 15 < 100, and a null key matches anything.
  const std::vector<Row> recomputed = {
      L(9, "01", 1.004, 1.006, 1.005, 2.035),
      L(9, "03", 0.005, 0.015),  // only recomputed: 0.005 rounds to 0, 0.015 to 0.02
      L(15, "02", 1.015, 0.0051),
      L(15, "04", 0.0, 0.0, 1.0, 1.0),
      L(100, kNull, kNull, 5.0),
      L(100, "09", 3.0, kNull)};
  const std::vector<Row> stored = {L(9, "01", 1.0, 1.0, 1.0, 2.0), L(15, "02", 1.01, 0.0),
                                   L(15, "04", 0.0, 0.0), L(100, "05", 9.0, 5.0),
                                   L(100, "09", kNull, 8.0)};
  // 2.035 - 2 is 0.035 exactly and counts; 1.015 - 1.01 is exactly half a cent: even, 0.
  const std::map<int, std::vector<std::string>> expected = {
      {1, {"01:3", "01:5", "03:3", "02:3", "04:4", "04:5"}},
      {3, {"01:3", "01:5", "03:3", "02:3", "04:5"}},
      {4, {"01:3", "03:3", "02:3", "04:4"}}};
  for (const auto& [item, differences] : expected) {
    Clear();
    EXPECT_FALSE(Run(recomputed, Side(false, stored), item));
    std::vector<std::string> counted;
    for (const auto& r : sink_.records) {
      counted.push_back(r.condition.substr(r.condition.find('\'') + 1, 2) + ":" +
                        std::to_string(r.columnIndex));
    }
    EXPECT_EQ(counted, differences) << "item " << item;
  }
}

// Items 1, 2 and 4 write their corrections, the others never do; the condition of a row goes
// ledger-side at its first correction and stays so for the row's later columns. Each correction
// is guarded by what the comparison read; a row found only in the documents is inserted once, its
// later columns set on the row just inserted (one INSERT per column used to leave one ledger row
// per column). Regression: a quote inside a text key used to end the literal and break the
// statement.
TEST_F(CompareRowsTest, ItemsOneTwoAndFourBringTheLedgerInLineAndTheOthersWriteNothing) {
  for (int item : {3, 5, 1, 2, 4}) {
    SCOPED_TRACE(item);
    const std::string table = set_.ctx.CheckItems.LedgerTable[item - 1];
    set_.ctx.CheckItems.SelectSql[item - 1] = "SELECT D.LNGITEMID,D.STRDATE FROM D GROUP BY 1,2";
    set_.Script("DELETE FROM " + table);
    set_.Insert(table, "(15,'2005-01-03',10,100,0,0),(16,'O''Neil 1=1',5,50,0,0)");
    Clear();
    EXPECT_FALSE(Correct(item, {L(15, "2005-01-03", 12.0, 100.0), L(15, "2005-01-04", 3.0, 30.0)}));
    ASSERT_EQ(sink_.records.size(), 5u);  // counted and recorded whether or not corrected
    EXPECT_EQ(screen_.list.back(), "    检查并更新5笔差异!");
    EXPECT_EQ(sink_.records[1].condition, "D.LNGITEMID=15 AND D.STRDATE='2005-01-04'");
    const auto rows = set_.Rows("SELECT lngItemID,strDate,dblSaleQuantity,dblSaleAmount FROM " +
                                table + " ORDER BY 1,2,3");
    if (item == 3 || item == 5) {
      EXPECT_EQ(sink_.records[2].condition, sink_.records[1].condition);
      EXPECT_TRUE(set_.log->statements.empty());
      EXPECT_EQ(rows, (std::vector<std::string>{"15|2005-01-03|10|100", "16|O'Neil 1=1|5|50"}));
      continue;
    }
    EXPECT_EQ(sink_.records[2].condition, "LNGITEMID=15 AND STRDATE='2005-01-04'");
    const std::string where = " WHERE LNGITEMID=16 AND STRDATE='O''Neil 1=1' AND ";
    EXPECT_EQ(set_.log->statements,
              (std::vector<std::string>{
                  "UPDATE " + table +
                      " SET DBLSALEQUANTITY=12 WHERE LNGITEMID=15 AND STRDATE='2005-01-03' AND "
                      "ABS(NVL(DBLSALEQUANTITY,0)-(10))<0.005",
                  "INSERT INTO " + table +
                      "(LNGITEMID,STRDATE,DBLSALEQUANTITY) SELECT 15,'2005-01-04',3 FROM DUAL "
                      "WHERE NOT EXISTS (SELECT 1 FROM " +
                      table + " WHERE LNGITEMID=15 AND STRDATE='2005-01-04')",
                  "UPDATE " + table +
                      " SET DBLSALEAMOUNT=30 WHERE LNGITEMID=15 AND STRDATE='2005-01-04' AND "
                      "ABS(NVL(DBLSALEAMOUNT,0)-(0))<0.005",
                  "UPDATE " + table + " SET DBLSALEQUANTITY=0" + where +
                      "ABS(NVL(DBLSALEQUANTITY,0)-(5))<0.005",
                  "UPDATE " + table + " SET DBLSALEAMOUNT=0" + where +
                      "ABS(NVL(DBLSALEAMOUNT,0)-(50))<0.005"}));
    EXPECT_EQ(rows, (std::vector<std::string>{"15|2005-01-03|12|100", "15|2005-01-04|3|30",
                                              "16|O'Neil 1=1|0|0"}));
    EXPECT_EQ(screen_.list.size(), 1u);  // every correction stood
  }
}

TEST_F(CompareRowsTest, CorrectionsTheLedgerDoesNotTakeAreListedWithTheirAmounts) {
  set_.Insert("ItemDaily2", "(15,'2005-01-03',10,100,0,0),(16,'2005-01-03',0,0,4,0)");
  Correct(1, {L(15, "2005-01-03", 12.5, 100.0), L(15, "2005-01-04", 0.0, 30.0)}, true);
  EXPECT_EQ(screen_.list,
            (std::vector<std::string>{"    销售数量\t差额：-2.5", "    销售金额\t差额：-30",
                                      "    加工入库数量\t差额：4", "    检查并更新3笔差异!"}));
  // An UPDATE that touches no row is listed as stored - recomputed; without a report nothing is
  // recorded, but the difference is still counted and corrected.
  Clear();
  Run({L(99, "2005-01-03", 1.5, 0.0)}, Side(false, {L(99, "2005-01-03", 1.0, 0.0)}), 2, false,
      true);
  EXPECT_TRUE(sink_.records.empty());
  EXPECT_EQ(screen_.list,
            (std::vector<std::string>{"    销售数量\t差额：-0.5", "    检查并更新1笔差异!"}));

  // Between the read and the corrections another program changed one row and inserted the
  // other: the guards hold both back, and the list says they moved on rather than that they were
  // not corrected.
  Clear();
  set_.Script(
      "CREATE TABLE ItemDaily2 (LNGITEMID INTEGER, STRDATE VARCHAR(10), DBLSALEQUANTITY REAL, "
      "DBLSALEAMOUNT REAL, DBLENTRUSTINQUANTITY REAL, DBLUNVOUCHERDEBIT REAL)");
  set_.Insert("ItemDaily2", "(21,'2005-01-05',7,0,0,0),(23,'2005-01-05',4,0,0,0)");
  Run({L(21, "2005-01-05", 9.0, 0.0), L(23, "2005-01-05", 4.0, 0.0)},
      Side(false, {L(21, "2005-01-05", 6.0, 0.0)}), 1, false, true);
  EXPECT_EQ(set_.Rows("SELECT lngItemID,dblSaleQuantity FROM ItemDaily2 WHERE lngItemID>20"),
            (std::vector<std::string>{"21|7", "23|4"}));
  EXPECT_EQ(screen_.list, (std::vector<std::string>{"    销售数量（对账后已变动）\t差额：-7",
                                                    "    检查并更新2笔差异!"}));
}

TEST(AddDifferenceLine, AccumulatesOnTheLatestEntryOfTheSameText) {
  testing::RecordingScreen screen;
  // The first entry or a later one; sums keep no binary noise; a zero amount adds the bare text.
  const std::pair<const char*, double> additions[] = {
      {"销售数量", 1.5}, {"销售金额", 0.1}, {"销售数量", 2},           {"盘亏数量", -1},
      {"销售金额", 0.2}, {"盘亏数量", 1},   {"检查并更新3笔差异!", 0}, {"检查并更新3笔差异!", 0}};
  for (const auto& [text, amount] : additions) AddDifferenceLine(screen, text, amount);
  EXPECT_EQ(screen.list,
            (std::vector<std::string>{"    销售数量\t差额：3.5", "    销售金额\t差额：0.3",
                                      "    盘亏数量\t差额：0", "    检查并更新3笔差异!",
                                      "    检查并更新3笔差异!"}));
  screen.list.push_back("    销售数量  \t差额：10");  // text compared trimmed; latest wins
  AddDifferenceLine(screen, "销售数量", 1);
  EXPECT_EQ(screen.list[0], "    销售数量\t差额：3.5");
  EXPECT_EQ(screen.list.back(), "    销售数量\t差额：11");
  EXPECT_EQ(screen.listRefreshes, 9);
  screen.hasList = false;  // a screen without a list is left alone
  EXPECT_NO_THROW(AddDifferenceLine(screen, "销售数量", 1));
  EXPECT_EQ(screen.listRefreshes, 9);
}

// --- The comparison run and its text report -----------------------------------------------------

TEST(ComparisonStatements, AreBuiltFromTheirPieces) {
  EXPECT_EQ(KeyCountFromPositions("1,2,3"), 3);
  EXPECT_EQ(KeyCountFromPositions("1,2,3,4,5,6,7,8,9,10"), 10);
  // The blank before GROUP BY stays, so the inserted condition leaves two blanks behind it.
  EXPECT_EQ(RecomputeStatement("select a.lngItemID,sum(x) from a where 1=1 group by a.lngItemID",
                               "1", 1, "2005-01-01", "2005-01-31"),
            "SELECT A.LNGITEMID,SUM(X) FROM A WHERE 1=1  AND strDate>='2005-01-01' AND "
            "strDate<='2005-01-31' GROUP BY A.LNGITEMID ORDER BY 1");
  // Its own ORDER BY keeps the positions out; a grouped subquery gets the range too.
  EXPECT_EQ(RecomputeStatement("SELECT K FROM (SELECT K FROM T GROUP BY K) GROUP BY K ORDER BY K",
                               "1", 2, "a", "b"),
            "SELECT K FROM (SELECT K FROM T  AND strDate>='a' AND strDate<='b' GROUP BY K)  AND "
            "strDate>='a' AND strDate<='b' GROUP BY K ORDER BY K");
  EXPECT_EQ(RecomputeStatement("SELECT K FROM T WHERE 1=1 GROUP BY K", "1,2,3", 6, "a", "b"),
            "SELECT K FROM T WHERE 1=1  AND NVL(ItemActivity.strDate,' ')>='a' AND "
            "NVL(ItemActivity.strDate,' ')<='b' GROUP BY K ORDER BY 1,2,3");
  // A quote in a date cannot end the literal.
  EXPECT_EQ(CountStatement("T", "x' OR '1'='1", "y"),
            "SELECT COUNT(*) FROM T WHERE strDate>='x'' OR ''1''=''1' AND strDate<='y'");
  for (const char* valid : {"2005-01-31", "2004-02-29", "2005/1/5"})
    EXPECT_TRUE(IsValidDate(valid));
  for (const char* invalid : {"2005-02-29", "2005-13-01", " ", "", "2005-01", "2005-01-01x"})
    EXPECT_FALSE(IsValidDate(invalid)) << invalid;
}

// An account set whose documents are the lines of one table, DETAIL, summed per item and date.
class CompareLedgerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_.Script("CREATE TABLE Detail (lngItemID INTEGER, strDate TEXT, dblQuantity, dblAmount)");
    for (int item : {1, 2, 4}) {
      set_.ctx.CheckItems.SelectSql[item - 1] =
          "SELECT DETAIL.LNGITEMID,DETAIL.STRDATE,SUM(DETAIL.DBLQUANTITY) DBLSALEQUANTITY,"
          "SUM(DETAIL.DBLAMOUNT) DBLSALEAMOUNT FROM DETAIL WHERE 1=1 "
          "GROUP BY DETAIL.LNGITEMID,DETAIL.STRDATE";
      set_.ctx.CheckItems.InsertColumns[item - 1] =
          "LNGITEMID,STRDATE,DBLSALEQUANTITY,DBLSALEAMOUNT";
    }
  }
  std::string Report(const std::string& name = "Compare.txt") { return ReadBytes(set_.dir / name); }
  bool Run(int item, const std::string& start, bool writeReport = true) {
    return RunComparison(set_.ctx, screen_, report_, item, start, "2005-01-31", writeReport, false,
                         {&sink_}, &error_);
  }
  std::string QueryContaining(const std::string& text) {
    for (const auto& q : set_.log->queries)
      if (q.find(text) != std::string::npos) return q;
    return {};
  }

  testing::AccountSet set_;
  ReportFile report_{set_.dir.path()};
  testing::RecordingScreen screen_;
  testing::CollectingSink sink_;
  std::string error_ = "not cleared";
};

TEST_F(CompareLedgerTest, EachItemsSectionHoldsItsDifferencesAndItsOwnSummaryLines) {
  set_.Insert("Detail",
              "(15,'2005-01-03',4,40),(15,'2005-01-03',8,60),(16,'2005-01-04',2.5,0),"
              "(16,'2005-02-03',1,1)");  // the last one outside the range on both sides
  set_.Insert("ItemDaily2", "(15,'2005-01-03',10,100,0,0),(16,'2005-02-03',7,7,0,0)");
  EXPECT_FALSE(Run(1, "2005-01-01"));
  EXPECT_EQ(error_, "");
  EXPECT_EQ(screen_.notes,
            (std::vector<std::string>{"正在准备数据.....", "检查明细数据差异....."}));
  EXPECT_EQ(QueryContaining("FROM ITEMDAILY2 WHERE"),
            "SELECT LNGITEMID,STRDATE,DBLSALEQUANTITY,DBLSALEAMOUNT FROM ITEMDAILY2 WHERE "
            "strDate>='2005-01-01' AND strDate<='2005-01-31' ORDER BY 1,2");
  ASSERT_EQ(sink_.records.size(), 2u);
  EXPECT_EQ(sink_.records[0].item, 1);
  EXPECT_EQ(sink_.records[0].condition, "DETAIL.LNGITEMID=15 AND DETAIL.STRDATE='2005-01-03'");
  EXPECT_EQ(sink_.ended, std::vector<int>{1});
  const std::string report = Report();
  const std::string section = Utf8ToGbk(
      "==========差额明细（检查存货账)==========\r\n"
      "    商品=A-015 日期=2005-01-03  销售数量  汇总数：10  明细数：12  差额：-2\r\n"
      "    商品=A-016 日期=2005-01-04  销售数量  汇总数：0  明细数：2.5  差额：-2.5\r\n"
      "    检查并更新2笔差异!\r\n" +
      kClosing);
  EXPECT_EQ(
      report.rfind(Utf8ToGbk(kStars +
                             "\r\n  Quillon对账程序\r\n\r\n            账套：acme 样例商贸\r\n"
                             "            版本 9.10\r\n\r\n" +
                             std::string(40, ' ')),
                   0),
      0u);
  EXPECT_TRUE(report.ends_with(section));
  // The next item starts a new report; a ledger in line with its documents gives a bare section.
  set_.Insert("PositionDaily", "(15,'2005-01-03',12,100,0,0),(16,'2005-01-04',2.5,0,0,0)");
  EXPECT_TRUE(Run(2, "2005-01-01"));
  EXPECT_EQ(Report("Compare.000"), report);
  const std::string clean = Utf8ToGbk("==========差额明细（检查库存账)==========\r\n" + kClosing);
  EXPECT_TRUE(Report().ends_with(clean));
  EXPECT_EQ(screen_.list.size(), 1u);  // the run's list keeps what the items added
  EXPECT_EQ(CountLedgerRows(set_.ctx, 1, "2005-01-03", "2005-02-03"), 2);  // both ends count
  EXPECT_EQ(CountLedgerRows(set_.ctx, 1, "2005-01-04", "2005-02-02"), 0);
}

TEST_F(CompareLedgerTest, WithoutTheReportFlagNoFileIsWrittenAndNothingRecorded) {
  set_.Insert("Detail", "(15,'2005-01-03',12,100)");
  EXPECT_FALSE(Run(1, " ", false));
  EXPECT_FALSE(std::filesystem::exists(set_.dir / "Compare.txt"));
  EXPECT_TRUE(sink_.records.empty());
  EXPECT_EQ(sink_.ended, std::vector<int>{1});
  EXPECT_NE(QueryContaining("FROM ITEMDAILY2 WHERE").find("strDate>=' '"), std::string::npos);
  // Item 4 starts at the account set's start when its start is no date.
  Run(4, " ", false);
  EXPECT_NE(QueryContaining("FROM ACCOUNTDAILY WHERE").find("strDate>='2005-01-01'"),
            std::string::npos);
}

TEST_F(CompareLedgerTest, AnErrorIsWrittenIntoTheSectionAndHandedBack) {
  // Regression: a comparison that stopped on an error looked exactly like one with differences.
  // In the merge: a ledger column without a caption.
  set_.Script("ALTER TABLE PositionDaily ADD COLUMN dblNoCaption REAL");
  set_.ctx.CheckItems.SelectSql[1] =
      "SELECT DETAIL.LNGITEMID,DETAIL.STRDATE,SUM(DETAIL.DBLQUANTITY) DBLNOCAPTION FROM DETAIL "
      "WHERE 1=1 GROUP BY DETAIL.LNGITEMID,DETAIL.STRDATE";
  set_.ctx.CheckItems.InsertColumns[1] = "LNGITEMID,STRDATE,DBLNOCAPTION";
  set_.Insert("Detail", "(15,'2005-01-03',1,0)");
  EXPECT_FALSE(Run(2, "2005-01-01"));
  EXPECT_NE(error_.find("DBLNOCAPTION"), std::string::npos) << error_;
  EXPECT_EQ(sink_.ended, std::vector<int>{2});
  const std::string section = Utf8ToGbk(
      "==========差额明细（检查库存账)==========\r\n    对账出错：" + error_ + "\r\n" + kClosing);
  EXPECT_TRUE(Report().ends_with(section));
  // Before the heading: a statement the database refuses; the section still gets it.
  set_.ctx.CheckItems.SelectSql[0] = "SELECT X FROM NOSUCHTABLE WHERE 1=1 GROUP BY X";
  EXPECT_FALSE(Run(1, "2005-01-01"));
  EXPECT_NE(error_.find("NOSUCHTABLE"), std::string::npos) << error_;
  EXPECT_NE(Report().find(Utf8ToGbk("差额明细（检查存货账)==========\r\n    对账出错：")),
            std::string::npos);
}

TEST(ReportFile, BannerLeavesOutTheAccountSetLinesWithoutABusinessRow) {
  testing::AccountSet set;
  set.Script("DELETE FROM Business");
  const ReportFile report(set.dir.path());
  report.WriteReportHeader(set.ctx, "2006-12-06 09:30:00");
  EXPECT_EQ(ReadBytes(set.dir / "Compare.txt"),
            Utf8ToGbk(kStars + "\r\n  Quillon对账程序\r\n\r\n\r\n" + std::string(40, ' ') +
                      "2006-12-06 09:30:00\r\n" + kStars + "\r\n\r\n"));
}

TEST(ReportFile, GbkTakesTwoBytesForChineseAndOneQuestionMarkForWhatItLacks) {
  EXPECT_EQ(Utf8ToGbk("商品"), "\xC9\xCC\xC6\xB7");
  EXPECT_EQ(Utf8ToGbk("销售数量\r\n").size(), 4u * 2 + 2);
  EXPECT_EQ(Utf8ToGbk("  对账完毕！").size(), 2u + 5 * 2);  // the full-width "！" too
  EXPECT_EQ(Utf8ToGbk("a😀b=1"), "a?b=1");
  EXPECT_EQ(Utf8ToGbk("商\xFFz\xE5\x95"), "\xC9\xCC?z?");  // a stray byte, a cut-off sequence
}

TEST(ReportFile, AppendsWithoutByteOrderMarkAndRotatesToTheFirstFreeBackup) {
  testing::TempDir dir;
  const ReportFile report(dir.path());
  report.RotateReportFile();  // nothing to move
  report.AppendReportText("商品=");
  report.AppendReportText("A-015\r\n");  // the same line goes on
  const std::string text = "\xC9\xCC\xC6\xB7=A-015\r\n";
  EXPECT_EQ(ReadBytes(dir / "Compare.txt"), text);
  EXPECT_THROW(ReportFile(dir / "no-such-folder").AppendReportText("x"), std::system_error);
  // Compare.000 is free, the others are taken: the gap is filled first.
  for (int n = 1; n <= 999; ++n) std::ofstream(report.BackupPath(n)) << n;
  report.RotateReportFile();
  EXPECT_EQ(ReadBytes(dir / "Compare.000"), text);
  EXPECT_FALSE(std::filesystem::exists(dir / "Compare.txt"));
  // With all thousand backups the old report is deleted and no backup touched.
  std::ofstream(dir / "Compare.txt") << "old";
  report.RotateReportFile();
  EXPECT_FALSE(std::filesystem::exists(dir / "Compare.txt"));
  EXPECT_EQ(ReadBytes(dir / "Compare.000"), text);
  EXPECT_EQ(ReadBytes(dir / "Compare.999"), "999");
}

TEST(ReportFolder, IsCreatedWhenMissingAndRefusedWhenNoFileCanBeMadeInIt) {
  testing::TempDir dir;
  EnsureWritableFolder(dir / "a" / "b");
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a" / "b"));
  EXPECT_TRUE(std::filesystem::is_empty(dir / "a" / "b")) << "the probe file stays behind";
  std::ofstream(dir / "file") << "x";
  // A folder that cannot exist, and one no user may create files in (even root: /proc).
  for (const std::filesystem::path& bad :
       {dir / "file" / "reports", std::filesystem::path("/proc")}) {
    EXPECT_FALSE(CanWriteInto(bad)) << bad;
    try {
      EnsureWritableFolder(bad);
      ADD_FAILURE() << bad << " accepted";
    } catch (const std::runtime_error& e) {
      EXPECT_NE(
          std::string(e.what()).find("the report folder " + bad.string() + " cannot be written: "),
          std::string::npos)
          << e.what();
    }
  }
}

TEST(ReportFolder, ScreensUseTheComponentsFolderElseTheUsersStateFolder) {
  testing::TempDir dir;
  const std::filesystem::path component = dir / "lib";
  const std::string state = (dir / "state").string();
  const std::string home = (dir / "home").string();
  struct Case {
    bool componentWritable;
    const char* xdgStateHome;
    const char* home;
    std::filesystem::path expected;  // empty: refused
  };
  const Case cases[] = {
      {true, state.c_str(), home.c_str(), component},
      {false, state.c_str(), home.c_str(), dir / "state" / "tallyvet"},
      {false, nullptr, home.c_str(), dir / "home" / ".local" / "state" / "tallyvet"},
      // A relative XDG_STATE_HOME is to be ignored.
      {false, "relative/state", home.c_str(), dir / "home" / ".local" / "state" / "tallyvet"},
      {false, "", home.c_str(), dir / "home" / ".local" / "state" / "tallyvet"},
      {false, nullptr, nullptr, {}},
      {false, nullptr, "", {}},
  };
  for (const Case& c : cases) {
    const auto canWrite = [&](const std::filesystem::path& folder) {
      return folder == component ? c.componentWritable : CanWriteInto(folder);
    };
    SCOPED_TRACE(std::string(c.xdgStateHome ? c.xdgStateHome : "(unset)") + " " +
                 (c.home ? c.home : "(unset)"));
    if (c.expected.empty()) {
      EXPECT_THROW(ChooseScreenReportFolder(component, c.xdgStateHome, c.home, canWrite),
                   std::runtime_error);
      continue;
    }
    const ScreenReportFolder chosen =
        ChooseScreenReportFolder(component, c.xdgStateHome, c.home, canWrite);
    EXPECT_EQ(chosen.folder, c.expected);
    EXPECT_EQ(chosen.isComponentFolder, c.componentWritable);
    if (!chosen.isComponentFolder) {
      EXPECT_TRUE(std::filesystem::is_directory(c.expected));
    }
  }
  // The state folder cannot be made: a clear error, not a report lost later.
  std::ofstream(dir / "blocked") << "x";
  const std::string blocked = (dir / "blocked").string();
  EXPECT_THROW(ChooseScreenReportFolder(component, blocked.c_str(), nullptr,
                                        [](const std::filesystem::path&) { return false; }),
               std::runtime_error);
}

}  // namespace
}  // namespace tallyvet
