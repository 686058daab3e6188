// A query on a thread of its own: the waiting thread sees it running until the database answers,
// then takes every row on the first one; the database's error comes out of Take; an object given
// up before its query ended waits for it. Built also under ThreadSanitizer.
#include "db/query_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "db/error.h"

namespace tallyvet::db {
namespace {

using namespace std::chrono_literals;

// A database that answers when the test lets it: rows of one number each, or an error.
class GatedConnection final : public Connection {
 public:
  std::unique_ptr<Recordset> OpenResultset(const std::string& sql, int, int) override {
    std::unique_lock lock(mutex_);
    asked_ = sql;
    open_.wait(lock, [this] { return released_; });
    if (fail_) throw Error("canceling statement due to lock timeout", sql);
    std::vector<std::vector<Value>> rows;
    for (int i = 0; i < 3000; ++i) rows.push_back({Value(i)});
    return Recordset::FromRows({{"N", adInteger}}, std::move(rows));
  }
  void Execute(const std::string&) override {}
  std::int64_t RowsAffected() const override { return 0; }
  bool StillExecuting() const override { return false; }

  void Release(bool fail) {
    {
      const std::lock_guard lock(mutex_);
      released_ = true;
      fail_ = fail;
    }
    open_.notify_all();
  }
  std::string Asked() {
    const std::lock_guard lock(mutex_);
    return asked_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable open_;
  bool released_ = false;
  bool fail_ = false;
  std::string asked_;
};

TEST(QueryThread, RunsUntilTheDatabaseAnswersThenHandsOverEveryRowFromTheFirst) {
  GatedConnection conn;
  QueryThread query(conn, "SELECT N FROM T");
  EXPECT_FALSE(query.WaitFor(20ms));
  EXPECT_FALSE(query.WaitFor(20ms));
  conn.Release(false);
  while (!query.WaitFor(10ms)) {
  }
  EXPECT_EQ(conn.Asked(), "SELECT N FROM T");
  const auto rs = query.Take();
  int n = 0;
  for (; !rs->Eof(); rs->MoveNext(), ++n) ASSERT_EQ(rs->Fields()[0].Value().AsInteger(), n);
  EXPECT_EQ(n, 3000);
}

TEST(QueryThread, TheDatabasesErrorComesOutOfTake) {
  GatedConnection conn;
  QueryThread query(conn, "SELECT N FROM T");
  conn.Release(true);
  try {
    query.Take();
    FAIL() << "expected the database's error";
  } catch (const Error& e) {
    EXPECT_EQ(e.message(), "canceling statement due to lock timeout");
    EXPECT_EQ(e.statement(), "SELECT N FROM T");
  }
}

TEST(QueryThread, GivenUpBeforeTheAnswerItWaitsForTheQuery) {
  GatedConnection conn;
  std::atomic<bool> gone = false;
  std::thread releaser([&] {
    std::this_thread::sleep_for(30ms);
    EXPECT_FALSE(gone.load());
    conn.Release(false);
  });
  { QueryThread query(conn, "SELECT N FROM T"); }
  gone = true;
  releaser.join();
}

}  // namespace
}  // namespace tallyvet::db
