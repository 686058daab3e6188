// What only a server brings, on the test's PostgreSQL server: another session holding a lock on a
// ledger, the job's own session killed by the server while it writes, a role that may only read.
// Each time the job stops with exit status 2 and one line naming the cause, and every ledger is
// exactly as it was.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "db/odbc_connection.h"
#include "sample/sample.h"
#include "support/postgres_source.h"
#include "support/program.h"
#include "support/temp_dir.h"

namespace tallyvet {
namespace {

using namespace std::chrono_literals;

constexpr const char* kOwner = "srv";
constexpr const char* kLedgers[] = {"ItemDaily2", "PositionDaily", "ItemDaily1", "AccountDaily"};

class ServerFaults : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (testing::PostgresOdbcString() == nullptr) return;
    sample::CreateSample({.path = dir_.path() / "server.db",
                          .owner = kOwner,
                          .scale = 400,
                          .seed = 5,
                          .faults = sample::FaultSet::kLedgers});
  }
  void SetUp() override {
    if (testing::PostgresOdbcString() == nullptr)
      GTEST_SKIP() << "no PostgreSQL server: TALLYVET_TEST_PG_ODBC is not set";
    testing::LoadIntoPostgres(dir_.path() / "server.db", kOwner);
    admin_ = db::OdbcConnection::Open(testing::PostgresOdbcString(), kOwner);
    before_ = Fingerprints();
  }

  // Every ledger's rows, as one digest each.
  std::map<std::string, std::string> Fingerprints() const {
    std::map<std::string, std::string> digests;
    for (const char* table : kLedgers) {
      auto rs = admin_->OpenResultset(
          std::string(
              "SELECT MD5(STRING_AGG(CAST(T AS TEXT), '|' ORDER BY CAST(T AS TEXT))) FROM ") +
          table + " T");
      digests[table] = rs->Fields()[0].Value().Text();
    }
    return digests;
  }

  static std::string Job(const std::string& verb, const std::string& connection,
                         const std::string& rest) {
    return verb + " --odbc " + testing::Quoted(connection) + " --user " + kOwner +
           " --report-dir " + testing::Quoted(dir_.path() / "reports") + " " + rest;
  }
  static std::string Rebuild(const std::string& connection = testing::PostgresOdbcString()) {
    return Job("rebuild", connection, "--kind 库存 --from ' ' --to 9999-12-31");
  }
  static std::string Register(const std::string& connection = testing::PostgresOdbcString()) {
    return Job("reconcile", connection, "--from 期初 --to 2025.12 --register --yes");
  }
  static testing::ProgramResult Run(const std::string& args, const std::string& tag = "run") {
    return testing::RunProgram(TALLYVET_PROGRAM, args, dir_.path(), tag);
  }

  // A second session that takes `lock` and keeps it until it is destroyed.
  std::unique_ptr<db::OdbcConnection> Holding(const std::string& lock) const {
    auto holder = db::OdbcConnection::Open(testing::PostgresOdbcString(), kOwner);
    holder->SetAutocommit(false);
    holder->ExecuteNative(lock);
    return holder;
  }

  // Waits until a session of the job waits for a lock, then has the server terminate it.
  void KillTheWaitingJob() const {
    for (int tries = 0; tries < 200; ++tries) {
      auto rs = admin_->OpenResultset(
          "SELECT COUNT(*) FROM pg_stat_activity WHERE wait_event_type = 'Lock' AND "
          "datname = current_database()");
      if (rs->Fields()[0].Value().AsInteger() > 0) {
        admin_->OpenResultset(
            "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE wait_event_type = "
            "'Lock' AND datname = current_database()");
        return;
      }
      std::this_thread::sleep_for(50ms);
    }
    ADD_FAILURE() << "no session of the job came to wait for the lock";
  }

  static inline testing::TempDir dir_;
  std::unique_ptr<db::OdbcConnection> admin_;
  std::map<std::string, std::string> before_;
};

// The job waits its busy timeout for another session's row lock, then stops saying so.
TEST_F(ServerFaults, ALockHeldByAnotherSessionIsWaitedForThenNamed) {
  {
    const auto holder = Holding(
        "SELECT * FROM srv.PositionDaily WHERE strDate = (SELECT MIN(strDate) FROM "
        "srv.PositionDaily) FOR UPDATE");
    const auto started = std::chrono::steady_clock::now();
    const testing::ProgramResult rebuilt = Run(Rebuild() + " --busy-timeout 1");
    const auto waited = std::chrono::steady_clock::now() - started;
    EXPECT_EQ(rebuilt.status, 2) << rebuilt.err;
    EXPECT_NE(rebuilt.err.find("locked by another session"), std::string::npos) << rebuilt.err;
    EXPECT_GE(waited, 1s);
    EXPECT_EQ(Fingerprints(), before_);
  }

  // Registration writes row by row, each row standing alone; the rows of item 3's ledger are
  // held, so item 3's rows fail after waiting for its ledger, and every other row stands.
  const auto rowsHeld = Holding("SELECT * FROM srv.ItemDaily1 FOR UPDATE");
  const testing::ProgramResult registered = Run(Register() + " --busy-timeout 1 --json");
  EXPECT_EQ(registered.status, 2) << registered.err;
  EXPECT_NE(registered.err.find("locked by another session"), std::string::npos) << registered.err;
  std::map<std::string, int> outcomes;  // "item status" -> rows
  std::istringstream lines(registered.out);
  for (std::string line; std::getline(lines, line);) {
    const nlohmann::json j = nlohmann::json::parse(line);
    if (j.contains("status")) ++outcomes[j["item"].dump() + " " + j["status"].get<std::string>()];
  }
  EXPECT_GT(outcomes["3 failed"], 0) << registered.out;
  for (const auto& [outcome, rows] : outcomes) {
    if (outcome.find("failed") != std::string::npos) {
      EXPECT_EQ(outcome, "3 failed");
    }
  }
  EXPECT_GT(outcomes["2 registered"], 0) << registered.out;
  EXPECT_NE(Fingerprints().at("PositionDaily"), before_.at("PositionDaily"));
}

// The server terminates the job's session in the middle of its work: of the DELETE of a rebuild,
// and of a registration whose first ledgers are already written in its transaction.
TEST_F(ServerFaults, ASessionKilledMidJobLeavesEveryLedgerAsItWas) {
  for (const auto& [what, job, lock] :
       std::vector<std::tuple<std::string, std::string, std::string>>{
           {"rebuild", Rebuild(), "LOCK TABLE srv.PositionDaily IN SHARE MODE"},
           {"register", Register(), "LOCK TABLE srv.ItemDaily1 IN SHARE MODE"}}) {
    testing::ProgramResult result;
    {
      const auto holder = Holding(lock);
      std::thread run([&, job = job, what = what] { result = Run(job, what); });
      KillTheWaitingJob();
      run.join();
    }
    EXPECT_EQ(result.status, 2) << what << ": " << result.err;
    EXPECT_NE(result.err.find("terminat"), std::string::npos) << what << ": " << result.err;
    EXPECT_EQ(Fingerprints(), before_) << what;
  }
}

// A role that may read the account set but not write it: a clear refusal, nothing written.
TEST_F(ServerFaults, AReadOnlyRoleIsRefusedAndWritesNothing) {
  admin_->ExecuteNative(
      "DO $$ BEGIN CREATE ROLE tallyvet_reader LOGIN; EXCEPTION WHEN duplicate_object THEN "
      "NULL; END $$");
  admin_->ExecuteNative("GRANT USAGE ON SCHEMA srv TO tallyvet_reader");
  admin_->ExecuteNative("GRANT SELECT ON ALL TABLES IN SCHEMA srv TO tallyvet_reader");
  std::string reader = testing::PostgresOdbcString();
  const std::size_t user = reader.find("Username=");
  ASSERT_NE(user, std::string::npos) << reader;
  reader = reader.substr(0, user) + "Username=tallyvet_reader" +
           reader.substr(std::min(reader.size(), reader.find(';', user)));

  // Before the grant on the tables: refused, and not taken for a database without an account set.
  admin_->ExecuteNative("REVOKE SELECT ON ALL TABLES IN SCHEMA srv FROM tallyvet_reader");
  const testing::ProgramResult barred = Run(Job("reconcile", reader, "--from 期初 --to 2025.12"));
  EXPECT_EQ(barred.status, 2) << barred.err;
  EXPECT_NE(barred.err.find("permission denied"), std::string::npos) << barred.err;
  EXPECT_EQ(barred.err.find("no account set"), std::string::npos) << barred.err;
  admin_->ExecuteNative("GRANT SELECT ON ALL TABLES IN SCHEMA srv TO tallyvet_reader");

  const testing::ProgramResult read = Run(Job("reconcile", reader, "--from 期初 --to 2025.12"));
  EXPECT_EQ(read.status, 1) << read.err;  // reading is allowed, and finds the planted faults
  for (const std::string& job : {Rebuild(reader), Register(reader)}) {
    const testing::ProgramResult refused = Run(job);
    EXPECT_EQ(refused.status, 2) << job << ": " << refused.err;
    EXPECT_NE(refused.err.find("permission denied"), std::string::npos) << refused.err;
    EXPECT_EQ(Fingerprints(), before_) << job;
  }
}

}  // namespace
}  // namespace tallyvet
