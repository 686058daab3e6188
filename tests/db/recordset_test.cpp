#include "db/recordset.h"

#include <gtest/gtest.h>

#include <functional>

#include "db/error.h"

namespace tallyvet::db {
namespace {

std::vector<std::vector<Value>> NumberedRows(int n) {
  std::vector<std::vector<Value>> rows;
  for (int i = 0; i < n; ++i) {
    rows.push_back({Value(i), Value(i * 0.5), Value("row " + std::to_string(i)), Value()});
  }
  return rows;
}

std::vector<ColumnInfo> FourColumns() {
  return {{"LNGID", adInteger}, {"DBLAMOUNT", adDouble}, {"STRNAME", adVarChar}, {"NOTE", 0}};
}

// Walks to the end, checking every row against what NumberedRows made.
int WalkAndCheck(Recordset& rs) {
  int i = 0;
  for (; !rs.Eof(); rs.MoveNext(), ++i) {
    EXPECT_EQ(rs.Fields()[0].Value().AsInteger(), i);
    EXPECT_DOUBLE_EQ(rs.Fields()["dblAmount"].Value().AsDouble(), i * 0.5);
    EXPECT_EQ(rs.Fields()["StrName"].Value().Text(), "row " + std::to_string(i));
    EXPECT_TRUE(rs.Fields()[3].Value().IsNull());
  }
  return i;
}

TEST(Recordset, WalkRewindAndWalkAgainGiveTheSameRowsInOrder) {
  auto rs = Recordset::FromRows(FourColumns(), NumberedRows(50));
  EXPECT_FALSE(rs->Bof());
  EXPECT_EQ(WalkAndCheck(*rs), 50);
  rs->MoveFirst();
  EXPECT_EQ(WalkAndCheck(*rs), 50);
  EXPECT_EQ(rs->SpilledRows(), 0u);
}

TEST(Recordset, RewindInTheMiddleReplaysThenContinuesFromTheSource) {
  auto rs = Recordset::FromRows(FourColumns(), NumberedRows(10));
  for (int i = 0; i < 4; ++i) rs->MoveNext();
  EXPECT_EQ(rs->Fields()[0].Value().AsInteger(), 4);
  rs->MoveFirst();
  EXPECT_EQ(WalkAndCheck(*rs), 10);
}

// Generates NumberedRows-shaped rows and counts how often it is asked, to show rows are fetched
// once.
class CountingSource final : public RowSource {
 public:
  CountingSource(int rows, int* fetches)
      : rows_(rows), fetches_(fetches), columns_(FourColumns()) {}
  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  bool Next(RowWriter& row) override {
    ++*fetches_;
    if (next_ >= rows_) return false;
    row.Integer(next_);
    row.Double(next_ * 0.5);
    row.Text("row " + std::to_string(next_));
    row.Null();
    ++next_;
    return true;
  }

 private:
  int rows_;
  int* fetches_;
  std::vector<ColumnInfo> columns_;
  int next_ = 0;
};

TEST(Recordset, RowsBeyondTheThresholdSpillToAFileAndReplayIdentically) {
  constexpr int kRows = 30000;  // ~1 MiB of rows, well past the 64 KiB threshold
  int fetches = 0;
  Recordset rs(std::make_unique<CountingSource>(kRows, &fetches), 64 * 1024);
  EXPECT_EQ(WalkAndCheck(rs), kRows);
  EXPECT_GT(rs.SpilledRows(), static_cast<std::size_t>(kRows / 2));
  for (int pass = 0; pass < 2; ++pass) {
    rs.MoveFirst();
    EXPECT_EQ(WalkAndCheck(rs), kRows);
  }
  EXPECT_EQ(fetches, kRows + 1);  // every row once, plus the call that found the end
}

TEST(Recordset, RewindWhileSpillingBeforeTheEndKeepsEveryRow) {
  int fetches = 0;
  Recordset rs(std::make_unique<CountingSource>(5000, &fetches), 4 * 1024);
  for (int i = 0; i < 3000; ++i) rs.MoveNext();
  rs.MoveFirst();
  for (int i = 0; i < 4000; ++i) rs.MoveNext();
  rs.MoveFirst();
  EXPECT_EQ(WalkAndCheck(rs), 5000);
  EXPECT_EQ(fetches, 5001);
}

// Storage a finished recordset leaves behind serves the next ones: none of them may see rows or
// room of another, whether the earlier one was closed, dropped or is still open beside them.
TEST(Recordset, StorageLeftByOtherRecordsetsCarriesNoneOfTheirRows) {
  constexpr int kRows = 40000;  // a few storage blocks each, and a spill for the small threshold
  int fetches = 0;
  {
    Recordset first(std::make_unique<CountingSource>(kRows, &fetches));
    EXPECT_EQ(WalkAndCheck(first), kRows);
    first.Close();
  }
  auto open = Recordset::FromRows(FourColumns(), NumberedRows(300));
  {
    Recordset dropped(std::make_unique<CountingSource>(kRows, &fetches), 256 * 1024);
    for (int i = 0; i < kRows / 2; ++i) dropped.MoveNext();
  }
  Recordset second(std::make_unique<CountingSource>(kRows / 4, &fetches), 64 * 1024);
  EXPECT_EQ(WalkAndCheck(second), kRows / 4);
  EXPECT_EQ(WalkAndCheck(*open), 300);
  second.MoveFirst();
  open->MoveFirst();
  EXPECT_EQ(WalkAndCheck(second), kRows / 4);
  EXPECT_EQ(WalkAndCheck(*open), 300);
}

// Rows written by a function: row number and writer, false at the end.
class LambdaSource final : public RowSource {
 public:
  LambdaSource(std::vector<ColumnInfo> columns, std::function<bool(int, RowWriter&)> next)
      : columns_(std::move(columns)), next_(std::move(next)) {}
  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  bool Next(RowWriter& row) override { return next_(row_++, row); }

 private:
  std::vector<ColumnInfo> columns_;
  std::function<bool(int, RowWriter&)> next_;
  int row_ = 0;
};

// Texts far longer than a storage block's spare room make the block grow under rows already kept.
TEST(Recordset, LongTextsAndShortRowsReplayIntact) {
  const auto text = [](int i) { return std::string(i % 3 == 0 ? 300000 : 5, char('a' + i % 26)); };
  Recordset rs(std::make_unique<LambdaSource>(std::vector<ColumnInfo>{{"N", 0}, {"T", 0}, {"X", 0}},
                                              [&](int i, RowWriter& w) {
                                                if (i == 40) return false;
                                                w.Integer(i);
                                                w.Text(text(i));
                                                return true;  // X left unwritten: null
                                              }),
               2u << 20);
  for (int pass = 0; pass < 2; ++pass, rs.MoveFirst()) {
    int i = 0;
    for (; !rs.Eof(); rs.MoveNext(), ++i) {
      ASSERT_EQ(rs.Fields()[0].Value().AsInteger(), i);
      ASSERT_EQ(rs.Fields()[1].Value().Text(), text(i));
      ASSERT_TRUE(rs.Fields()[2].Value().IsNull());
    }
    EXPECT_EQ(i, 40);
  }
  EXPECT_GT(rs.SpilledRows(), 0u);
}

TEST(Recordset, ASourceThatFailsOrOverrunsLeavesNoCurrentRow) {
  const auto failing = [](bool overrun) {
    return std::make_unique<LambdaSource>(
        std::vector<ColumnInfo>{{"T", adVarChar}}, [overrun](int i, RowWriter& w) {
          w.Text(std::string(i == 0 ? 3 : 2000000, 'x'));  // the second row grows the block
          if (i == 0) return true;
          if (overrun) w.Integer(1);  // a value beyond the single column
          throw Error("disk I/O error", "SELECT T FROM X");
        });
  };
  for (bool overrun : {false, true}) {
    Recordset rs(failing(overrun));
    EXPECT_EQ(rs.Fields()[0].Value().Text(), "xxx");
    EXPECT_THROW(rs.MoveNext(), Error);
    EXPECT_THROW(rs.Fields()[0].Value(), Error);  // not the row the failed fetch left behind
  }
}

TEST(Recordset, EmptyResultIsAtBothEnds) {
  auto rs = Recordset::FromRows(FourColumns(), {});
  EXPECT_TRUE(rs->Eof());
  EXPECT_TRUE(rs->Bof());
  rs->MoveFirst();  // harmless on an empty result
  EXPECT_TRUE(rs->Eof());
  EXPECT_THROW(rs->MoveNext(), Error);
  EXPECT_THROW(rs->Fields()[0].Value(), Error);
}

TEST(Recordset, FieldsByNameAreCaseInsensitiveAndMissingNamesAreNamedInTheError) {
  auto rs = Recordset::FromRows(FourColumns(), NumberedRows(1));
  EXPECT_EQ(rs->Fields().Count(), 4u);
  EXPECT_EQ(rs->Fields()["lngid"].Name(), "LNGID");
  try {
    rs->Fields()["strMissing"];
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("strMissing"), std::string::npos);
  }
  EXPECT_THROW(rs->Fields()[7], Error);
}

TEST(Recordset, UntypedColumnsTakeTheirTypeFromTheFirstRow) {
  auto rs = Recordset::FromRows({{"A", 0}, {"B", 0}, {"C", 0}, {"D", 0}},
                                {{Value(1), Value(2.5), Value("x"), Value()}});
  EXPECT_EQ(rs->Fields()[0].Type(), adInteger);
  EXPECT_EQ(rs->Fields()[1].Type(), adDouble);
  EXPECT_EQ(rs->Fields()[2].Type(), adVarChar);
  EXPECT_EQ(rs->Fields()[3].Type(), adVarChar);  // nothing to go by: text
  // Without a row the type stays undeclared, for whoever reads the result's shape to know.
  EXPECT_EQ(Recordset::FromRows({{"A", 0}, {"B", adDouble}}, {})->Fields()[0].Type(), 0);
}

TEST(Recordset, ClosedRecordsetRefusesFurtherUse) {
  auto rs = Recordset::FromRows(FourColumns(), NumberedRows(3));
  rs->Close();
  EXPECT_THROW(rs->Eof(), Error);
  EXPECT_THROW(rs->MoveNext(), Error);
  EXPECT_THROW(rs->MoveFirst(), Error);
}

}  // namespace
}  // namespace tallyvet::db
