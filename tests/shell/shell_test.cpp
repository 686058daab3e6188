#include <gtest/gtest.h>

#include "db/sqlite_connection.h"
#include "shell/host_context.h"
#include "shell/progress_screen.h"
#include "support/temp_dir.h"

namespace tallyvet {
namespace {

TEST(ExecuteSql, TrueForAnAcceptedStatementEvenWithoutRowsFalseForARejectedOne) {
  testing::TempDir dir;
  HostContext ctx;
  auto conn = db::SqliteConnection::Create(dir / "set.db", "acme");
  conn->ExecuteScript("CREATE TABLE PositionDaily (strDate TEXT, dblAmount REAL);");
  ctx.connection = std::move(conn);
  EXPECT_TRUE(ExecuteSql(ctx, "UPDATE PositionDaily SET dblAmount=1 WHERE strDate='2005-01-01'"));
  EXPECT_EQ(ctx.conn().RowsAffected(), 0);
  EXPECT_FALSE(ExecuteSql(ctx, "UPDATE PositionDaily SET nosuch=1"));
  EXPECT_FALSE(ExecuteSql(ctx, "this is not SQL"));
}

TEST(ExecuteSql, WithoutAConnectionIsFalseNotACrash) {
  HostContext ctx;
  EXPECT_FALSE(ExecuteSql(ctx, "UPDATE x SET y=1"));
  EXPECT_THROW(ctx.conn(), std::logic_error);
}

TEST(ProgressDisplay, WrapsAtTheMaximumAndCountsLapsInTheNotes) {
  ProgressDisplay p;
  p.SetNotes("正在检查入库单数据....");
  EXPECT_FALSE(p.ShowProgress(99));
  EXPECT_DOUBLE_EQ(p.Value(), 99);
  EXPECT_TRUE(p.ShowProgress(100));  // exactly 100 wraps at once
  EXPECT_DOUBLE_EQ(p.Value(), 0);
  EXPECT_EQ(p.Notes(), "正在检查入库单数据....01");
  p.ShowProgress(100);
  p.ShowProgress(250);  // beyond the maximum wraps too
  EXPECT_EQ(p.Notes(), "正在检查入库单数据....010203");
}

TEST(ProgressDisplay, NotesEndingInOneDigitStartCountingAtOne) {
  ProgressDisplay p;
  p.SetNotes("step 7");
  p.ShowProgress(100);
  EXPECT_EQ(p.Notes(), "step 701");
}

TEST(CheckItemTable, ItemNumbersOutsideOneToSixAreRefused) {
  EXPECT_EQ(CheckItemTable::Index(1), 0u);
  EXPECT_EQ(CheckItemTable::Index(6), 5u);
  EXPECT_THROW(CheckItemTable::Index(0), std::out_of_range);
  EXPECT_THROW(CheckItemTable::Index(7), std::out_of_range);
}

}  // namespace
}  // namespace tallyvet
