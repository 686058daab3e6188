// The repairs run while a stand-in for the host posts, voids and re-dates documents and
// re-registers the ledgers of the dates it touched: a registration through the program, one
// through the report screen's behaviour, a rebuild of the stock ledger and a cost adjustment, all
// while the writer commits. Once it stops, nothing is wrong that it left right: every difference a
// fresh comparison finds on a date the writer re-registered was made by a repair (corrupted), and
// every other one is a planted fault a repair missed; both must be none. One more registration
// and the comparison is clean. Several seeds, on the embedded file and on the server.
#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <iostream>
#include <set>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "db/odbc_connection.h"
#include "db/sqlite_connection.h"
#include "ledger_engine/check_items.h"
#include "ledger_engine/comparison.h"
#include "ledger_engine/derivation.h"
#include "reconcile_ui/account_set.h"
#include "reconcile_ui/report_screen.h"
#include "sample/sample.h"
#include "support/host_writer.h"
#include "support/json_lines.h"
#include "support/postgres_source.h"
#include "support/program.h"
#include "support/temp_dir.h"

namespace tallyvet {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::Quoted;

enum class Backend { kEmbedded, kPostgres };
constexpr const char* kOwner = "race";

class WriterRace : public ::testing::TestWithParam<std::tuple<Backend, int>> {
 protected:
  static void SetUpTestSuite() {
    sample::CreateSample({.path = dir_.path() / "pristine.db",
                          .owner = kOwner,
                          .scale = 400,
                          .seed = 33,
                          .faults = sample::FaultSet::kLedgers});
  }
  void SetUp() override {
    tag_ = (Postgres() ? "pg-" : "file-") + std::to_string(Seed());
    if (Postgres()) {
      if (testing::PostgresOdbcString() == nullptr)
        GTEST_SKIP() << "no PostgreSQL server: TALLYVET_TEST_PG_ODBC is not set";
      testing::LoadIntoPostgres(dir_.path() / "pristine.db", kOwner);
    } else {
      db_ = dir_.path() / (tag_ + ".db");
      std::filesystem::copy_file(dir_.path() / "pristine.db", db_,
                                 std::filesystem::copy_options::overwrite_existing);
    }
  }
  static bool Postgres() { return std::get<0>(GetParam()) == Backend::kPostgres; }
  static int Seed() { return std::get<1>(GetParam()); }
  std::string Source() const {
    return Postgres() ? "--odbc " + Quoted(testing::PostgresOdbcString()) : "--db " + Quoted(db_);
  }
  std::shared_ptr<db::Connection> Connect() const {
    if (Postgres()) return db::OdbcConnection::Open(testing::PostgresOdbcString(), kOwner);
    return db::SqliteConnection::Open(db_, kOwner);
  }
  testing::ProgramResult Run(const std::string& verb, const std::string& rest) const {
    return testing::RunProgram(TALLYVET_PROGRAM,
                               verb + " " + Source() + " --user " + kOwner + " --report-dir " +
                                   Quoted(dir_.path() / ("reports-" + tag_)) + " " + rest,
                               dir_.path(), tag_);
  }
  testing::ProgramResult Reconcile(const std::string& rest) const {
    return Run("reconcile", "--items 1-3 --from 期初 --to 2025.12 --json " + rest);
  }

  static inline testing::TempDir dir_;
  std::string tag_;
  std::filesystem::path db_;
};

struct Tally {
  int applied = 0;
  int changed = 0;
  int failed = 0;
};

void Count(const std::vector<json>& lines, Tally& tally) {
  for (const json& line : lines) {
    if (!line.contains("status")) continue;
    const std::string status = line["status"];
    tally.applied += status == "registered" ? 1 : 0;
    tally.changed += status == "changed" ? 1 : 0;
    tally.failed += status == "failed" ? 1 : 0;
  }
}

TEST_P(WriterRace, RepairsWhileTheHostWritesLeaveNothingWrongThatItLeftRight) {
  testing::HostWriterOptions options;
  options.user = kOwner;
  options.seed = static_cast<std::uint64_t>(Seed());
  if (Postgres()) {
    options.odbc = testing::PostgresOdbcString();
  } else {
    options.db = db_;
  }
  options.seconds = 6;
  Tally tally;
  testing::HostWriter writer(options, dir_.path(), "writer-" + tag_);
  ASSERT_TRUE(writer.WaitForOutput("committed", 60s)) << writer.Errors();

  // 1. A registration through the program, its question answered after a second's reading.
  testing::InteractiveRun asked(TALLYVET_PROGRAM,
                                "reconcile " + Source() + " --user " + kOwner + " --report-dir " +
                                    Quoted(dir_.path() / ("reports-" + tag_)) +
                                    " --items 1-3 --from 期初 --to 2025.12 --json --register",
                                dir_.path(), "asked-" + tag_);
  ASSERT_TRUE(asked.WaitFor("[y/N]")) << asked.Finish().err;
  std::this_thread::sleep_for(1s);
  const testing::ProgramResult registered = asked.Answer("y");
  EXPECT_NE(registered.status, 2) << registered.err;
  Count(testing::JsonLines(registered.out), tally);

  // 2. A comparison into the report screen, registered from there.
  {
    HostContext ctx;
    ctx.connection = Connect();
    ctx.user = kOwner;
    SilentScreen progress;
    testing::ScriptedMessageBox messages;
    messages.answers = {true};
    InitCheckItems(ctx);
    DeriveGoodsLedgerSql(ctx, progress);
    ReportScreen screen(ctx, messages, dir_.path(), LauncherTexts{"", "", "期初", "2025.12"},
                        INT_MAX);
    ReportScreenSink sink(screen);
    const ReportFile report(dir_.path() / ("reports-" + tag_));
    for (int item = 1; item <= 3; ++item) {
      std::string error;
      CompareLedger(ctx, progress, report, item, " ", "9999-12-31", true, false, {&sink}, &error);
      EXPECT_EQ(error, "") << item;
    }
    std::this_thread::sleep_for(1s);  // the screen is read before its rows are registered
    screen.SelectAll();
    const RegistrationSummary s = screen.RegisterCorrections();
    EXPECT_EQ(s.rolledBack, "");
    tally.applied += s.registered;
    tally.changed += s.changed;
    tally.failed += s.failed;
  }

  // 3. The stock ledger rebuilt over every date, and 4. a cost adjustment.
  const testing::ProgramResult rebuilt = Run("rebuild", "--kind 库存 --from ' ' --to 9999-12-31");
  EXPECT_EQ(rebuilt.status, 0) << rebuilt.err;
  const testing::ProgramResult adjusted = Run("check-receipts", "--adjust --yes");
  EXPECT_NE(adjusted.status, 2) << adjusted.out << adjusted.err;
  const bool overlapped = writer.Running();  // the writer still wrote after the repairs

  ASSERT_EQ(writer.Wait(60s), 0) << writer.Errors();
  const testing::HostWriterSummary summary = writer.Summary();
  EXPECT_TRUE(summary.rolledBack.empty()) << summary.rolledBack.front().message;

  // Nothing wrong that the writer left right, nothing missed elsewhere.
  int corrupted = 0, missed = 0;
  std::set<std::string> rows;
  for (const json& d : testing::JsonLines(Reconcile("").out)) {
    const std::string date = d["keys"]["STRDATE"];
    const std::string row = d["item"].dump() + " " + d["keys"].dump();
    if (!rows.insert(row).second) continue;
    (summary.dates.count(date) != 0 ? corrupted : missed) += 1;
    ADD_FAILURE() << (summary.dates.count(date) ? "made wrong: " : "missed: ") << d.dump();
  }
  std::cout << "writer race " << tag_ << ": rounds " << summary.rounds << ", writer commits "
            << summary.commits << ", corrections applied " << tally.applied
            << ", skipped as changed " << tally.changed << ", failed " << tally.failed
            << ", rows corrupted " << corrupted << ", missed " << missed
            << (overlapped ? "" : " (the writer ended before the repairs did)") << "\n";
  EXPECT_EQ(tally.failed, 0);

  // One more registration, and everything is clean.
  const testing::ProgramResult again = Reconcile("--register --yes");
  EXPECT_NE(again.status, 2) << again.err;
  const testing::ProgramResult clean = Reconcile("");
  EXPECT_EQ(clean.status, 0) << clean.out << clean.err;
}

INSTANTIATE_TEST_SUITE_P(
    SeedsAndBackends, WriterRace,
    ::testing::Combine(::testing::Values(Backend::kEmbedded, Backend::kPostgres),
                       ::testing::Values(1, 2, 3)),
    [](const ::testing::TestParamInfo<std::tuple<Backend, int>>& info) {
      return std::string(std::get<0>(info.param) == Backend::kPostgres ? "Postgres" : "Embedded") +
             "Seed" + std::to_string(std::get<1>(info.param));
    });

}  // namespace
}  // namespace tallyvet
