// The tallyvet program against what a user meets in the field: stored source edited by hand, a
// mistyped owner, an account set another program is writing. Each gets one line that names the
// cause, and no ledger pays for it.
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "reconcile_ui/account_set.h"
#include "sample/sample.h"

namespace tallyvet {
namespace {

struct CliResult {
  int status;
  std::string out, err;
};

class HostileInput : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sample::CreateSample({.path = dir_.path() / "pristine.db", .owner = "demo", .scale = 300});
  }
  void SetUp() override {
    std::filesystem::copy_file(dir_.path() / "pristine.db", Db(),
                               std::filesystem::copy_options::overwrite_existing);
  }

  static std::filesystem::path Db() { return dir_.path() / "set.db"; }
  static std::string Quoted(const std::filesystem::path& arg) { return "'" + arg.string() + "'"; }

  static CliResult Run(const std::string& args) {
    const std::filesystem::path out = dir_.path() / "out.txt", err = dir_.path() / "err.txt";
    const int status = std::system((std::string(TALLYVET_PROGRAM) + " " + args + " >" +
                                    Quoted(out) + " 2>" + Quoted(err) + " </dev/null")
                                       .c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, testing::FileText(out),
            testing::FileText(err)};
  }
  static std::string Common(const std::string& user = "demo") {
    return "--db " + Quoted(Db()) + " --user " + user + " --report-dir " +
           Quoted(dir_.path() / "reports");
  }
  static std::string Reconcile(const std::string& user = "demo") {
    return "reconcile " + Common(user) + " --from 期初 --to 2025.12";
  }

  // The first value of a statement's first row, run on a connection of its own.
  static std::string Scalar(const std::string& sql) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(Db().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_stmt* stmt = nullptr;
    std::string value = "(error)";
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK &&
        sqlite3_step(stmt) == SQLITE_ROW) {
      value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return value;
  }

  static inline testing::TempDir dir_;
};

// The stock ledger's GROUP BY line deleted from ALL_SOURCE used to replace the whole ledger by
// one row and report success.
TEST_F(HostileInput, DamagedSourceIsRefusedByNameAndTheLedgerKept) {
  const std::string ledger =
      "SELECT count(*) || '/' || total(dblPurchaseAmount) FROM PositionDaily";
  const std::string before = Scalar(ledger);
  ASSERT_EQ(
      Scalar("SELECT count(*) FROM ALL_SOURCE WHERE TEXT LIKE '%GROUP BY ItemActivity.strDate,"
             "ItemActivityDetail.lngItemID,ItemActivityDetail.lngPositionID%'"),
      "1");
  Scalar(
      "DELETE FROM ALL_SOURCE WHERE TEXT LIKE '%GROUP BY ItemActivity.strDate,ItemActivityDetail."
      "lngItemID,ItemActivityDetail.lngPositionID%' RETURNING 'deleted'");
  const std::string message = "MDLITEM.ChangePositionDaily_New: the statement has no GROUP BY";
  for (const char* mode : {"", " --dry-run"}) {
    const CliResult r =
        Run("rebuild " + Common() + " --kind 库存 --from ' ' --to 9999-12-31" + mode);
    EXPECT_EQ(r.status, 2) << mode;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(Scalar(ledger), before);
  }
  EXPECT_EQ(Scalar("PRAGMA integrity_check"), "ok");
  // The reconciliation stops item 2 with the same words and runs the others.
  const CliResult r = Run(Reconcile());
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("检查库存账 (item 2): " + message), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("(item 1)"), std::string::npos) << r.err;
}

TEST_F(HostileInput, AnOwnerWithoutStoredSourceIsNamedOnce) {
  const CliResult r = Run(Reconcile("demo2"));
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.err,
            "tallyvet: no stored source for owner DEMO2 (looked for MDLITEM, "
            "CHANGEALLACCOUNT_FROM_VOUCHER in ALL_SOURCE); the source is there for owner DEMO\n");
  const CliResult rebuild =
      Run("rebuild " + Common("demo2") + " --kind 库存 --from ' ' --to 9999-12-31");
  EXPECT_EQ(rebuild.status, 2);
  EXPECT_NE(rebuild.err.find("no stored source for owner DEMO2 (looked for MDLITEM in ALL_SOURCE)"),
            std::string::npos)
      << rebuild.err;
}

// Another program holds the account set for 2 s: the job waits, then audits; with a shorter wait
// it says the database is locked, not that it is no account set.
TEST_F(HostileInput, ALockedDatabaseIsWaitedForThenAudited) {
  const auto holdFor = [](std::chrono::milliseconds hold) {
    sqlite3* db = nullptr;
    sqlite3_open_v2(Db().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    EXPECT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
    return std::thread([db, hold] {
      std::this_thread::sleep_for(hold);
      sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
      sqlite3_close(db);
    });
  };
  std::thread holder = holdFor(std::chrono::milliseconds(2000));
  const auto start = std::chrono::steady_clock::now();
  const CliResult waited = Run(Reconcile());
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  holder.join();
  EXPECT_EQ(waited.status, 0) << waited.err;
  EXPECT_NE(waited.out.find("账套内数据正确!"), std::string::npos) << waited.out;
  EXPECT_GE(seconds, 1.5);

  holder = holdFor(std::chrono::milliseconds(1500));
  const CliResult refused = Run(Reconcile() + " --busy-timeout 0.2");
  holder.join();
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("is locked by another program (waited 0.2 s)"), std::string::npos)
      << refused.err;
  EXPECT_EQ(refused.err.find("is not an account-set database"), std::string::npos);
  EXPECT_EQ(refused.err.find("no account set"), std::string::npos) << refused.err;
}

}  // namespace
}  // namespace tallyvet
