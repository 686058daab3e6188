// Rows through a pipe: every row, in order, whatever the block size; the reading thread never
// runs more than its blocks ahead; a source's failure comes out where it happened; a pipe given
// up early stops and joins its thread. Built also under ThreadSanitizer.
#include "db/row_pipe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "db/error.h"

namespace tallyvet::db {
namespace {

// Numbered rows (an integer, a double, a text, a null), counting what has been fetched; fails at
// row `failAt` when it is not negative.
class CountingRows final : public RowSource {
 public:
  CountingRows(int rows, std::atomic<int>& fetched, int failAt = -1)
      : rows_(rows), fetched_(fetched), failAt_(failAt) {}
  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  bool Next(RowWriter& row) override {
    const int i = fetched_.load();
    if (i == failAt_) throw Error("disk I/O error", "SELECT numbered rows");
    if (i == rows_) return false;
    row.Integer(i);
    row.Double(i * 0.25);
    row.Text(std::string(static_cast<std::size_t>(i % 7), 'x') + std::to_string(i));
    row.Null();
    ++fetched_;
    return true;
  }

 private:
  std::vector<ColumnInfo> columns_ = {
      {"LNGID", adInteger}, {"DBLAMOUNT", adDouble}, {"STRNAME", adVarChar}, {"NOTE", 0}};
  int rows_;
  std::atomic<int>& fetched_;
  int failAt_;
};

TEST(RowPipe, EveryRowInOrderWhateverTheBlockSize) {
  for (const auto& [rows, perBlock, blocks] :
       std::vector<std::tuple<int, std::size_t, std::size_t>>{
           {0, 4, 1}, {1, 4, 1}, {10'000, 1, 1}, {10'000, 256, 4}, {1'000, 1'000, 2}}) {
    SCOPED_TRACE(std::to_string(rows) + " rows, " + std::to_string(perBlock) + " a block");
    std::atomic<int> fetched = 0;
    RowPipe pipe(std::make_unique<CountingRows>(rows, fetched), {}, perBlock, blocks);
    EXPECT_EQ(pipe.Columns().size(), 4u);
    Recordset rs(pipe.Reader(), 1 << 12);  // small threshold: the pipe also feeds a spill
    int i = 0;
    for (; !rs.Eof(); rs.MoveNext(), ++i) {
      ASSERT_EQ(rs.Fields()[0].Value().AsInteger(), i);
      ASSERT_EQ(rs.Fields()[1].Value().AsDouble(), i * 0.25);
      ASSERT_EQ(rs.Fields()[2].Value().Text(),
                std::string(static_cast<std::size_t>(i % 7), 'x') + std::to_string(i));
      ASSERT_TRUE(rs.Fields()[3].Value().IsNull());
    }
    EXPECT_EQ(i, rows);
    EXPECT_TRUE(pipe.Ready());
  }
}

TEST(RowPipe, TheReadingThreadRunsAheadByItsBlocksAtMost) {
  std::atomic<int> fetched = 0;
  RowPipe pipe(std::make_unique<CountingRows>(100'000, fetched), {}, 10, 3);
  auto reader = pipe.Reader();
  ByteBuffer buffer;
  for (int taken = 0; taken < 50; ++taken) {
    buffer.Truncate(0);
    buffer.Extend(row_format::kSlot * 4);
    RowWriter row(buffer, 0, 4);
    ASSERT_TRUE(reader->Next(row));
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // Taken rows, the blocks waiting, and the block being filled.
  EXPECT_LE(fetched.load(), 50 + 10 * (3 + 2));
  EXPECT_TRUE(pipe.Ready());
}

TEST(RowPipe, AFailureComesOutAfterTheRowsBeforeIt) {
  std::atomic<int> fetched = 0;
  RowPipe pipe(std::make_unique<CountingRows>(1'000, fetched, 600), {}, 100, 2);
  Recordset rs(pipe.Reader());
  int rows = 0;
  try {
    for (; !rs.Eof(); rs.MoveNext()) ++rows;
    ADD_FAILURE() << "the failure was lost";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("disk I/O error"), std::string::npos);
  }
  EXPECT_EQ(rows, 600);
}

TEST(RowPipe, GivenUpEarlyItStopsItsThreadAndTheSignalCountsItsBlocks) {
  auto signal = std::make_shared<PipeSignal>();
  std::atomic<int> fetched = 0;
  {
    RowPipe pipe(std::make_unique<CountingRows>(1'000'000, fetched), signal, 16, 2);
    signal->WaitPast(0);
    EXPECT_TRUE(pipe.Ready());
  }  // joined here, with the reading thread waiting for room
  const int stopped = fetched.load();
  EXPECT_LT(stopped, 1'000'000);
  EXPECT_GE(signal->Events(), 1u);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(fetched.load(), stopped);
}

}  // namespace
}  // namespace tallyvet::db
