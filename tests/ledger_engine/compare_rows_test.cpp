#include "ledger_engine/compare_rows.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <random>
#include <tuple>

#include "comparison_fixtures.h"

namespace tallyvet {
namespace {

using testing::AccountSet;
using testing::CollectingSink;
using testing::RecordingScreen;
using Row = std::vector<db::Value>;

const db::Value kNull;

std::vector<db::ColumnInfo> RecomputedColumns() {
  return {{"LNGITEMID", db::adInteger},
          {"STRDATE", db::adVarChar},
          {"SUM(DBLSALEQUANTITY)", db::adDouble},
          {"SUM(DBLSALEAMOUNT)", db::adDouble},
          {"SUM(DBLENTRUSTINQUANTITY)", db::adDouble},
          {"SUM(DBLUNVOUCHERDEBIT)", db::adDouble}};
}
std::vector<db::ColumnInfo> StoredColumns() {
  return {{"LNGITEMID", db::adInteger},           {"STRDATE", db::adVarChar},
          {"DBLSALEQUANTITY", db::adDouble},      {"DBLSALEAMOUNT", db::adDouble},
          {"DBLENTRUSTINQUANTITY", db::adDouble}, {"DBLUNVOUCHERDEBIT", db::adDouble}};
}
const char* kStoredQuery =
    "SELECT LNGITEMID,STRDATE,DBLSALEQUANTITY,DBLSALEAMOUNT,DBLENTRUSTINQUANTITY,"
    "DBLUNVOUCHERDEBIT FROM ";

Row L(db::Value item, db::Value date, db::Value quantity, db::Value amount,
      db::Value entrustIn = 0.0, db::Value unVoucher = 0.0) {
  return {item, date, quantity, amount, entrustIn, unVoucher};
}

struct Outcome {
  bool agreed = false;
  std::int32_t storedRowCount = 0;
};

class CompareRowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_.Item(15, "A-015");
    set_.Item(16, "A-016");
  }

  Outcome Run(std::unique_ptr<db::Recordset> recomputed, std::unique_ptr<db::Recordset> stored,
              int item, bool writeReport = true, bool correct = false, std::int32_t count = 0) {
    DifferenceRecord record;
    record.item = static_cast<std::int16_t>(item);
    Outcome out;
    out.storedRowCount = count;
    out.agreed = CompareRows(set_.ctx, screen_, *recomputed, *stored, 2, item, out.storedRowCount,
                             writeReport, correct, record, {&sink_});
    return out;
  }
  Outcome Run(std::vector<Row> recomputed, std::vector<Row> stored, int item,
              bool writeReport = true, bool correct = false) {
    return Run(db::Recordset::FromRows(RecomputedColumns(), std::move(recomputed)),
               db::Recordset::FromRows(StoredColumns(), std::move(stored)), item, writeReport,
               correct);
  }

  AccountSet set_;
  RecordingScreen screen_;
  CollectingSink sink_;
};

TEST(RoundHalfEvenTest, DecidesOnTheDecimalValueNotItsBinaryNeighbour) {
  EXPECT_EQ(RoundHalfEven(0.004), 0.0);
  EXPECT_EQ(RoundHalfEven(0.006), 0.01);
  EXPECT_EQ(RoundHalfEven(0.005), 0.0);  // binary 0.005 lies a little above the half
  EXPECT_EQ(RoundHalfEven(0.015), 0.02);
  EXPECT_EQ(RoundHalfEven(0.025), 0.02);
  EXPECT_EQ(RoundHalfEven(2.675), 2.68);  // binary 2.675 lies a little below the half
  EXPECT_EQ(RoundHalfEven(-0.125), -0.12);
  EXPECT_EQ(RoundHalfEven(9.995), 10.0);
  EXPECT_EQ(RoundHalfEven(0.0051), 0.01);
  EXPECT_EQ(RoundHalfEven(-1234567.891), -1234567.89);
  EXPECT_EQ(RoundHalfEven(12.5, 0), 12.0);
  EXPECT_EQ(RoundHalfEven(13.5, 0), 14.0);
  EXPECT_EQ(RoundHalfEven(3.0), 3.0);
}

TEST(ExactDifferenceTest, SubtractsTheDecimalValues) {
  EXPECT_EQ(ExactDifference(2.035, 2), 0.035);
  EXPECT_EQ(RoundHalfEven(ExactDifference(2.035, 2)), 0.04);
  EXPECT_EQ(ExactDifference(1.015, 1.01), 0.005);
  EXPECT_EQ(ExactDifference(0.1 + 0.2, 0.3), 4e-17);  // 0.30000000000000004 - 0.3
  EXPECT_EQ(ExactDifference(-3, 4.5), -7.5);
  EXPECT_EQ(ExactDifference(1e300, 1e-300), 1e300);  // scales too far apart: plain subtraction
}

TEST(OneLineKeyDescriptionTest, JoinsTheLinesWithBlanks) {
  EXPECT_EQ(OneLineKeyDescription("商品=A-015\r\n日期=2005-01-03\r\n"),
            "商品=A-015 日期=2005-01-03");
  EXPECT_EQ(OneLineKeyDescription(""), "");
}

TEST_F(CompareRowsTest, BothSidesEmptyAgreeWithoutARowStep) {
  const Outcome out = Run(std::vector<Row>{}, std::vector<Row>{}, 1);
  EXPECT_TRUE(out.agreed);
  EXPECT_EQ(out.storedRowCount, 100);
  EXPECT_TRUE(screen_.progress.empty());
  EXPECT_TRUE(screen_.list.empty());
  EXPECT_TRUE(sink_.records.empty());
}

TEST_F(CompareRowsTest, RowsOnlyRecomputedAreMarkedAAndDescribedFromThatSide) {
  const Outcome out = Run({L(15, "2005-01-03", 2.0, 0.0), L(16, "2005-01-04", 0.0, 7.5)}, {}, 1);
  EXPECT_FALSE(out.agreed);
  ASSERT_EQ(sink_.records.size(), 2u);
  const DifferenceRecord& first = sink_.records[0];
  EXPECT_EQ(first.condition, "LNGITEMID=15 AND STRDATE='2005-01-03'");
  EXPECT_EQ(first.keyDescription, "商品=A-015\r\n日期=2005-01-03\r\n");
  EXPECT_EQ(first.columnName, "DBLSALEQUANTITY");
  EXPECT_EQ(first.columnCaption, "销售数量");
  EXPECT_EQ(first.columnIndex, 2);
  EXPECT_EQ(first.storedValue, 0);
  EXPECT_EQ(first.recomputedValue, 2.0);
  EXPECT_EQ(first.keyCount, 2);
  EXPECT_EQ(sink_.records[1].condition, "LNGITEMID=16 AND STRDATE='2005-01-04'");
  EXPECT_EQ(sink_.records[1].columnCaption, "销售金额");
  EXPECT_EQ(screen_.list, std::vector<std::string>{"    检查并更新2笔差异!"});
}

TEST_F(CompareRowsTest, DifferencesBelowHalfACentOrExactlyHalfToEvenDoNotCount) {
  // Per row: quantity, amount, entrust-in, unvoucher columns (item 1 compares all four).
  const Outcome out =
      Run({L(15, "2005-01-03", 1.004, 1.006, 1.005, 2.035), L(15, "2005-01-04", 1.015, 0.0051),
           L(15, "2005-01-05", 0.005, 0.015)},
          {L(15, "2005-01-03", 1.0, 1.0, 1.0, 2.0), L(15, "2005-01-04", 1.01, 0.0)}, 1);
  EXPECT_FALSE(out.agreed);
  std::vector<std::pair<std::string, int>> counted;
  for (const auto& r : sink_.records)
    counted.emplace_back(r.condition.substr(26, 10), r.columnIndex);
  // 0.004 and 0.005 do not count, 0.006 does; 2.035 - 2 is 0.035 exactly and counts;
  // 1.015 - 1.01 is exactly half a cent: even, 0; an "A" row's 0.005 is 0, its 0.015 is 0.02.
  EXPECT_EQ(counted,
            (std::vector<std::pair<std::string, int>>{
                {"2005-01-03", 3}, {"2005-01-03", 5}, {"2005-01-04", 3}, {"2005-01-05", 3}}));
}

TEST_F(CompareRowsTest, NullKeysMatchAnythingAndNullValuesNeverCount) {
  const Outcome out = Run({L(15, kNull, kNull, 5.0), L(16, "2005-01-03", 3.0, kNull)},
                          {L(15, "2005-01-09", 9.0, 5.0), L(16, "2005-01-03", kNull, 8.0)}, 1);
  EXPECT_TRUE(out.agreed);
  EXPECT_TRUE(sink_.records.empty());
  EXPECT_TRUE(screen_.list.empty());
}

TEST_F(CompareRowsTest, ThreeDifferingColumnsOfOneRowShareOneConditionBuiltOnce) {
  const Outcome out =
      Run({L(15, "2005-01-03", 2.0, 3.0, 4.0, 0.0)}, {L(15, "2005-01-03", 1.0, 1.0, 1.0, 0.0)}, 1);
  EXPECT_FALSE(out.agreed);
  ASSERT_EQ(sink_.records.size(), 3u);
  EXPECT_EQ(sink_.firstInRow_, (std::vector<bool>{true, false, false}));
  for (const auto& r : sink_.records) {
    EXPECT_EQ(r.condition, "LNGITEMID=15 AND STRDATE='2005-01-03'");
    EXPECT_EQ(r.keyDescription, "商品=A-015\r\n日期=2005-01-03\r\n");
  }
  int lookups = 0;
  for (const auto& q : set_.log().queries) lookups += q.find("strItemCode") != std::string::npos;
  EXPECT_EQ(lookups, 1);
  EXPECT_EQ(screen_.list, std::vector<std::string>{"    检查并更新3笔差异!"});
}

TEST_F(CompareRowsTest, Item5LeavesZeroNumericKeysOutOfTheCondition) {
  Run({L(0, "2005-01-03", 2.0, 0.0)}, {}, 5);
  ASSERT_EQ(sink_.records.size(), 1u);
  EXPECT_EQ(sink_.records[0].condition, "STRDATE='2005-01-03'");
  sink_.records.clear();
  Run({L(0, "2005-01-03", 2.0, 0.0)}, {}, 1);
  EXPECT_EQ(sink_.records[0].condition, "LNGITEMID=0 AND STRDATE='2005-01-03'");
}

TEST_F(CompareRowsTest, ProgressDenominatorGrowsByAHundredWhenTheStepsPassIt) {
  DifferenceRecord record;
  std::int32_t count = 2;
  auto rec = db::Recordset::FromRows(
      RecomputedColumns(), {L(15, "a", 1.0, 1.0), L(15, "b", 1.0, 1.0), L(15, "c", 1.0, 1.0)});
  auto sto = db::Recordset::FromRows(
      StoredColumns(), {L(15, "a", 1.0, 1.0), L(15, "b", 1.0, 1.0), L(15, "c", 1.0, 1.0)});
  EXPECT_TRUE(CompareRows(set_.ctx, screen_, *rec, *sto, 2, 1, count, true, false, record, {}));
  EXPECT_EQ(count, 102);
  ASSERT_EQ(screen_.progress.size(), 3u);
  EXPECT_DOUBLE_EQ(screen_.progress[0], 50);
  EXPECT_DOUBLE_EQ(screen_.progress[1], 100);
  EXPECT_DOUBLE_EQ(screen_.progress[2], 300.0 / 102);
  EXPECT_TRUE(rec->Eof());
  EXPECT_TRUE(sto->Eof());
}

// The merge against a plain reference: both sides as ordered maps, every key looked up directly.
// Values are whole thousandths, so the reference decides half cents on exact integers.
class MergeReferenceTest : public CompareRowsTest, public ::testing::WithParamInterface<int> {};

TEST_P(MergeReferenceTest, FindsExactlyTheDifferencesOfTheReference) {
  using Key = std::tuple<std::int64_t, std::string>;
  using Values = std::array<std::optional<std::int64_t>, 4>;  // thousandths
  std::mt19937 random(static_cast<unsigned>(GetParam()));
  const auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
  const std::int64_t offsets[] = {0, 0, 0, 0, 4, -4, 5, -5, 6, -6, 15, 25, 35, 1250};
  std::map<Key, Values> recomputed, stored;
  for (std::int64_t item : {3, 15, 27}) {
    for (const char* date : {"2005-01-03", "2005-01-10", "2005-02-01"}) {
      Values rec, sto;
      for (std::size_t c = 0; c < 4; ++c) {
        const std::int64_t base = static_cast<std::int64_t>(random() % 2000) * 10 - 10000;
        if (!chance(5)) rec[c] = base;
        if (!chance(5)) sto[c] = base + offsets[random() % std::size(offsets)];
        if (chance(10)) rec[c] = offsets[random() % std::size(offsets)];  // small lone values
      }
      if (chance(75)) recomputed[{item, date}] = rec;
      if (chance(75)) stored[{item, date}] = sto;
    }
  }
  set_.Item(3, "C-3");  // 27 has no master row: its id is its text

  const auto toRows = [](const std::map<Key, Values>& side) {
    std::vector<Row> rows;
    for (const auto& [key, values] : side) {
      Row row{std::get<0>(key), std::get<1>(key)};
      for (const auto& v : values) {
        row.push_back(v ? db::Value(static_cast<double>(*v) / 1000) : db::Value());
      }
      rows.push_back(row);
    }
    return rows;
  };

  for (int item : {1, 3, 4}) {
    sink_.records.clear();
    sink_.firstInRow_.clear();
    screen_.list.clear();
    const Outcome out = Run(toRows(recomputed), toRows(stored), item);

    struct Expected {
      std::string condition;
      int column;
      double stored, recomputed;
      bool first;
    };
    std::vector<Expected> expected;
    std::map<Key, bool> keys;
    for (const auto& [k, v] : recomputed) keys[k] = true;
    for (const auto& [k, v] : stored) keys[k] = true;
    for (const auto& [key, unused] : keys) {
      const auto rec = recomputed.find(key);
      const auto sto = stored.find(key);
      bool first = true;
      for (int c = 0; c < 4; ++c) {
        if ((item == 3 && c == 2) || (item == 4 && c == 3)) continue;
        const auto& rv = rec != recomputed.end() ? rec->second[c] : std::optional<std::int64_t>(0);
        const auto& sv = sto != stored.end() ? sto->second[c] : std::optional<std::int64_t>(0);
        if (!rv || !sv) continue;
        const std::int64_t difference = *rv - *sv;
        if (difference >= -5 && difference <= 5) continue;  // rounds to 0.00, halves to even
        expected.push_back({"LNGITEMID=" + std::to_string(std::get<0>(key)) + " AND STRDATE='" +
                                std::get<1>(key) + "'",
                            c + 2, static_cast<double>(*sv) / 1000, static_cast<double>(*rv) / 1000,
                            first});
        first = false;
      }
    }

    ASSERT_EQ(sink_.records.size(), expected.size()) << "item " << item;
    for (std::size_t k = 0; k < expected.size(); ++k) {
      SCOPED_TRACE("item " + std::to_string(item) + ", difference " + std::to_string(k));
      EXPECT_EQ(sink_.records[k].condition, expected[k].condition);
      EXPECT_EQ(sink_.records[k].columnIndex, expected[k].column);
      EXPECT_EQ(sink_.records[k].storedValue, expected[k].stored);
      EXPECT_EQ(sink_.records[k].recomputedValue, expected[k].recomputed);
      EXPECT_EQ(sink_.firstInRow_[k], expected[k].first);
    }
    EXPECT_EQ(out.agreed, expected.empty());
    if (!expected.empty()) {
      EXPECT_EQ(screen_.list.back(),
                "    检查并更新" + std::to_string(expected.size()) + "笔差异!");
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Seeds, MergeReferenceTest, ::testing::Range(1, 41));

// Corrections on a real ledger: items 1, 2 and 4 write, the others never do.
class CorrectionTest : public CompareRowsTest, public ::testing::WithParamInterface<int> {
 protected:
  std::string Table(int item) {
    return set_.ctx.CheckItems.LedgerTable[CheckItemTable::Index(item)];
  }

  Outcome Correct(int item, std::vector<Row> recomputed) {
    return Run(db::Recordset::FromRows(RecomputedColumns(), std::move(recomputed)),
               set_.Walked(kStoredQuery + Table(item) + " ORDER BY 1,2"), item, true, true);
  }
};

TEST_P(CorrectionTest, ItemsOneTwoAndFourBringTheLedgerInLineAndTheOthersWriteNothing) {
  const int item = GetParam();
  const std::string table = Table(item);
  set_.LedgerRow(table, 15, "2005-01-03", 10, 100);
  set_.LedgerRow(table, 16, "2005-01-03", 5, 50);
  set_.log().statements.clear();

  const Outcome out =
      Correct(item, {L(15, "2005-01-03", 12.0, 100.0), L(15, "2005-01-04", 3.0, 30.0)});
  EXPECT_FALSE(out.agreed);
  EXPECT_EQ(sink_.records.size(), 5u);  // counted and recorded whether or not corrected

  const auto rows = set_.Column("SELECT lngItemID,strDate,dblSaleQuantity,dblSaleAmount FROM " +
                                table + " ORDER BY 1,2,3");
  if (item == 1 || item == 2 || item == 4) {
    EXPECT_EQ(set_.log().statements,
              (std::vector<std::string>{"UPDATE " + table +
                                            " SET DBLSALEQUANTITY=12 WHERE LNGITEMID=15 AND "
                                            "STRDATE='2005-01-03'",
                                        "INSERT INTO " + table +
                                            "(LNGITEMID,STRDATE,DBLSALEQUANTITY) VALUES "
                                            "(15,'2005-01-04',3)",
                                        "INSERT INTO " + table +
                                            "(LNGITEMID,STRDATE,DBLSALEAMOUNT) VALUES "
                                            "(15,'2005-01-04',30)",
                                        "UPDATE " + table +
                                            " SET DBLSALEQUANTITY=0 WHERE LNGITEMID=16 AND "
                                            "STRDATE='2005-01-03'",
                                        "UPDATE " + table +
                                            " SET DBLSALEAMOUNT=0 WHERE LNGITEMID=16 AND "
                                            "STRDATE='2005-01-03'"}));
    EXPECT_EQ(rows, (std::vector<std::string>{"15|2005-01-03|12|100", "15|2005-01-04|3|",
                                              "15|2005-01-04||30", "16|2005-01-03|0|0"}));
    EXPECT_EQ(screen_.list, std::vector<std::string>{"    检查并更新5笔差异!"});
  } else {
    EXPECT_TRUE(set_.log().statements.empty());
    EXPECT_EQ(rows, (std::vector<std::string>{"15|2005-01-03|10|100", "16|2005-01-03|5|50"}));
  }
}

INSTANTIATE_TEST_SUITE_P(Items, CorrectionTest, ::testing::Values(1, 2, 3, 4, 5));

TEST_F(CorrectionTest, LaterColumnsOfARowReuseTheLedgerSideCondition) {
  set_.ctx.CheckItems.SelectSql[0] =
      "SELECT DETAIL.LNGITEMID,DETAIL.STRDATE,SUM(DBLSALEQUANTITY) FROM DETAIL GROUP BY "
      "DETAIL.LNGITEMID,DETAIL.STRDATE";
  set_.LedgerRow("ItemDaily2", 15, "2005-01-03", 1, 1);
  Correct(1, {L(15, "2005-01-03", 2.0, 2.0)});
  ASSERT_EQ(sink_.records.size(), 2u);
  EXPECT_EQ(sink_.records[0].condition, "DETAIL.LNGITEMID=15 AND DETAIL.STRDATE='2005-01-03'");
  EXPECT_EQ(sink_.records[1].condition, "LNGITEMID=15 AND STRDATE='2005-01-03'");
  EXPECT_EQ(set_.Column("SELECT dblSaleQuantity,dblSaleAmount FROM ItemDaily2"),
            std::vector<std::string>{"2|2"});
}

TEST_F(CorrectionTest, ATextKeyWithAQuoteIsWrittenAsOneLiteral) {
  // Regression: a quote inside a text key used to end the literal and break the statement.
  set_.LedgerRow("ItemDaily2", 15, "x", 1, 1);
  set_.Run("UPDATE ItemDaily2 SET strDate='O''Neil 1=1'");
  set_.log().statements.clear();
  Correct(1, {L(15, "O'Neil 1=1", 2.0, 1.0)});
  ASSERT_EQ(set_.log().statements.size(), 1u);
  EXPECT_EQ(set_.log().statements[0],
            "UPDATE ItemDaily2 SET DBLSALEQUANTITY=2 WHERE LNGITEMID=15 AND STRDATE='O''Neil 1=1'");
  EXPECT_EQ(set_.Column("SELECT dblSaleQuantity FROM ItemDaily2"), std::vector<std::string>{"2"});
  EXPECT_EQ(screen_.list, std::vector<std::string>{"    检查并更新1笔差异!"});
}

TEST_F(CorrectionTest, CorrectionsTheLedgerDoesNotTakeAreListedWithTheirAmounts) {
  // The stored rows come from the ledger, which then goes away: every statement fails.
  set_.LedgerRow("ItemDaily2", 15, "2005-01-03", 10, 100);
  set_.LedgerRow("ItemDaily2", 16, "2005-01-03", 0, 0, 4);
  auto stored = set_.Walked(kStoredQuery + std::string("ItemDaily2 ORDER BY 1,2"));
  set_.Run("DROP TABLE ItemDaily2");
  Run(db::Recordset::FromRows(RecomputedColumns(),
                              {L(15, "2005-01-03", 12.5, 100.0), L(15, "2005-01-04", 0.0, 30.0)}),
      std::move(stored), 1, true, true);
  EXPECT_EQ(screen_.list,
            (std::vector<std::string>{"    销售数量\t差额：-2.5", "    销售金额\t差额：-30",
                                      "    加工入库数量\t差额：4", "    检查并更新3笔差异!"}));
}

TEST_F(CorrectionTest, AnUpdateThatTouchesNoRowIsListedAsStoredMinusRecomputed) {
  Run(db::Recordset::FromRows(RecomputedColumns(), {L(99, "2005-01-03", 1.5, 0.0)}),
      db::Recordset::FromRows(StoredColumns(), {L(99, "2005-01-03", 1.0, 0.0)}), 2, false, true);
  EXPECT_TRUE(sink_.records.empty());  // no report: nothing recorded, still counted and corrected
  EXPECT_EQ(screen_.list,
            (std::vector<std::string>{"    销售数量\t差额：-0.5", "    检查并更新1笔差异!"}));
}

TEST(AddDifferenceLineTest, AccumulatesOnTheLatestEntryOfTheSameText) {
  RecordingScreen screen;
  AddDifferenceLine(screen, "销售数量", 1.5);
  AddDifferenceLine(screen, "销售数量", 2);  // the first entry of the list
  EXPECT_EQ(screen.list, std::vector<std::string>{"    销售数量\t差额：3.5"});

  AddDifferenceLine(screen, "销售金额", 0.1);
  AddDifferenceLine(screen, "盘亏数量", -1);
  AddDifferenceLine(screen, "销售金额", 0.2);  // a later entry; sums keep no binary noise
  AddDifferenceLine(screen, "盘亏数量", 1);
  EXPECT_EQ(screen.list,
            (std::vector<std::string>{"    销售数量\t差额：3.5", "    销售金额\t差额：0.3",
                                      "    盘亏数量\t差额：0"}));

  screen.list.push_back("    销售数量  \t差额：10");  // text compared trimmed; latest wins
  AddDifferenceLine(screen, "销售数量", 1);
  EXPECT_EQ(screen.list[0], "    销售数量\t差额：3.5");
  EXPECT_EQ(screen.list[3], "    销售数量\t差额：11");
  EXPECT_EQ(screen.listRefreshes, 7);
}

TEST(AddDifferenceLineTest, AZeroAmountAddsTheBareTextAndAScreenWithoutAListIsLeftAlone) {
  RecordingScreen screen;
  AddDifferenceLine(screen, "检查并更新3笔差异!", 0);
  AddDifferenceLine(screen, "检查并更新3笔差异!", 0);
  EXPECT_EQ(screen.list,
            (std::vector<std::string>{"    检查并更新3笔差异!", "    检查并更新3笔差异!"}));
  screen.hasList = false;
  EXPECT_NO_THROW(AddDifferenceLine(screen, "销售数量", 1));
  EXPECT_EQ(screen.listRefreshes, 2);
}

}  // namespace
}  // namespace tallyvet
