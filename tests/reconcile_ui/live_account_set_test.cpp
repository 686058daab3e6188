// Repairs on an account set that another program writes meanwhile, as the host application does
// while a person reads a screen or a question: the program run as a user runs it, on a faulted
// sample kept in the embedded file and on the test's PostgreSQL server.
//  - A registration confirmed after the host re-registered some of its rows leaves those rows as
//    the host left them and says so; the host was not held up while the question waited.
//  - An adjustment confirmed after another program changed a flagged line leaves that line alone.
//  - An adjustment is undone exactly by its undo script; one that fails part way (a refused
//    statement, a full disk) leaves documents and stock ledger exactly as they were.
//  - A rebuild whose stored statement is out of step with its INSERT list stops before it would
//    empty ledger columns.
#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <sstream>

#include <nlohmann/json.hpp>

#include "db/odbc_connection.h"
#include "db/sqlite_connection.h"
#include "ledger_engine/check_items.h"
#include "ledger_engine/comparison.h"
#include "ledger_engine/derivation.h"
#include "ledger_engine/reregistration.h"
#include "reconcile_ui/account_set.h"
#include "reconcile_ui/report_screen.h"
#include "sample/sample.h"
#include "support/json_lines.h"
#include "support/postgres_source.h"
#include "support/program.h"
#include "support/small_disk.h"
#include "support/temp_dir.h"

namespace tallyvet {
namespace {

using nlohmann::json;
using testing::Quoted;

enum class Backend { kEmbedded, kPostgres };
constexpr const char* kOwner = "live";

class LiveAccountSet : public ::testing::TestWithParam<Backend> {
 protected:
  static void SetUpTestSuite() {
    manifest_ = sample::CreateSample({.path = dir_.path() / "pristine.db",
                                      .owner = kOwner,
                                      .scale = 400,
                                      .seed = 21,
                                      .faults = sample::FaultSet::kAll});
  }

  void SetUp() override {
    reports_ = dir_.path() / ("reports-" + std::to_string(++run_));
    if (Postgres()) {
      if (testing::PostgresOdbcString() == nullptr)
        GTEST_SKIP() << "no PostgreSQL server: TALLYVET_TEST_PG_ODBC is not set";
      testing::LoadIntoPostgres(dir_.path() / "pristine.db", kOwner);
    } else {
      db_ = dir_.path() / ("live-" + std::to_string(run_) + ".db");
      std::filesystem::copy_file(dir_.path() / "pristine.db", db_);
    }
  }

  static bool Postgres() { return GetParam() == Backend::kPostgres; }
  std::string Source() const {
    return Postgres() ? "--odbc " + Quoted(testing::PostgresOdbcString()) : "--db " + Quoted(db_);
  }
  std::shared_ptr<db::Connection> Connect() const {
    if (Postgres()) return db::OdbcConnection::Open(testing::PostgresOdbcString(), kOwner);
    return db::SqliteConnection::Open(db_, kOwner);
  }
  testing::ProgramResult Run(const std::string& args) const {
    return testing::RunProgram(TALLYVET_PROGRAM, args, dir_.path(), "run-" + std::to_string(run_));
  }
  std::string Job(const std::string& verb, const std::string& rest) const {
    return verb + " " + Source() + " --user " + kOwner + " --report-dir " + Quoted(reports_) + " " +
           rest;
  }
  std::string Reconcile(const std::string& rest) const {
    return Job("reconcile", "--from 期初 --to 2025.12 " + rest);
  }

  // Every row of a query as "|"-joined text, sorted: a table's content, whatever its order.
  static std::vector<std::string> Rows(db::Connection& conn, const std::string& sql) {
    std::vector<std::string> rows;
    for (auto rs = conn.OpenResultset(sql, 3); !rs->Eof(); rs->MoveNext()) {
      std::string row;
      for (std::size_t i = 0; i < rs->Fields().Count(); ++i)
        row += (i ? "|" : "") + rs->Fields()[i].Value().AsText();
      rows.push_back(row);
    }
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  // The document lines' cost figures and the stock ledger, value for value.
  std::vector<std::string> LinesAndStockLedger() const {
    auto conn = Connect();
    std::vector<std::string> rows =
        Rows(*conn,
             "SELECT lngActivityDetailID,dblAmount,dblCostAmount,dblAvgCostAmount FROM "
             "ItemActivityDetail");
    for (std::string& row : Rows(*conn, "SELECT * FROM PositionDaily")) rows.push_back("P" + row);
    return rows;
  }
  // Runs an undo script the program wrote, as its reader would.
  void ApplyScript(const std::filesystem::path& path) const {
    if (Postgres()) {
      testing::RunScript(*Connect(), testing::FileText(path));
    } else {
      // In one transaction: a thousand statements each waiting for the disk take seconds.
      db::SqliteConnection::Open(db_, kOwner)
          ->ExecuteScript("BEGIN;\n" + testing::FileText(path) + "COMMIT;\n");
    }
  }
  static std::string PathAfter(const std::string& text, const std::string& label) {
    const auto at = text.find(label);
    if (at == std::string::npos) return {};
    const auto from = at + label.size();
    return text.substr(from, text.find('\n', from) - from);
  }

  static inline testing::TempDir dir_;
  static inline json manifest_;
  static inline int run_ = 0;
  std::filesystem::path db_;
  std::filesystem::path reports_;
};

// Item 2's differences on the date that has the most of them, and how many there are in all.
struct DateOfDifferences {
  std::string date;
  int rows = 0;  // differing values on that date
  int all = 0;
};

DateOfDifferences MostDifferingDate(const std::vector<json>& differences) {
  std::map<std::string, int> byDate;
  for (const json& d : differences) ++byDate[d["keys"]["STRDATE"].get<std::string>()];
  DateOfDifferences most;
  for (const auto& [date, rows] : byDate) {
    if (rows > most.rows) most = {date, rows, 0};
  }
  most.all = static_cast<int>(differences.size());
  return most;
}

// The host re-registers one date of the stock ledger while the registration's question waits:
// it is not held up, the rows of that date are left as it wrote them ("changed since compared"),
// the others are registered, and the next comparison is clean.
TEST_P(LiveAccountSet, ARegistrationConfirmedAfterTheHostReRegisteredLeavesItsRowsAlone) {
  const std::vector<json> before = testing::JsonLines(Run(Reconcile("--items 2 --json")).out);
  const DateOfDifferences d = MostDifferingDate(before);
  ASSERT_GT(d.rows, 0);
  ASSERT_LT(d.rows, d.all) << "some differences lie on other dates";

  testing::InteractiveRun asked(TALLYVET_PROGRAM, Reconcile("--items 2 --register"), dir_.path(),
                                "asked-" + std::to_string(run_));
  ASSERT_TRUE(asked.WaitFor("已结账期间数据调整")) << asked.Finish().err;
  const testing::ProgramResult host =
      Run(Job("rebuild", "--kind 库存 --from " + d.date + " --to " + d.date + " --busy-timeout 2"));
  EXPECT_EQ(host.status, 0) << "the waiting question held the account set: " << host.err;
  const testing::ProgramResult registered = asked.Answer("y");
  EXPECT_EQ(registered.status, 1) << registered.err;
  EXPECT_NE(
      registered.err.find("registered " + std::to_string(d.all - d.rows) +
                          ", changed since compared " + std::to_string(d.rows) + ", failed 0"),
      std::string::npos)
      << registered.err;
  EXPECT_NE(registered.out.find("已变动"), std::string::npos) << registered.out;
  const std::string journal = testing::FileText(PathAfter(registered.err, "journal: "));
  EXPECT_NE(journal.find("-- changed since compared"), std::string::npos) << journal;

  const testing::ProgramResult after = Run(Reconcile("--items 2"));
  EXPECT_EQ(after.status, 0) << after.out << after.err;
}

// The same through the report screen's behaviour: the screen stays open over the run's rows while
// the host re-registers a date; registering then marks that date's rows "已变动".
TEST_P(LiveAccountSet, TheReportScreenMarksRowsTheHostReRegisteredWhileItWasOpen) {
  HostContext ctx;
  ctx.connection = Connect();
  ctx.user = kOwner;
  SilentScreen progress;
  testing::ScriptedMessageBox messages;
  InitCheckItems(ctx);
  DeriveGoodsLedgerSql(ctx, progress);
  ReportScreen screen(ctx, messages, dir_.path(),
                      LauncherTexts{"用户名：live", "账套名：", "期初", "2025.12"});
  ReportScreenSink sink(screen);
  const ReportFile report(dir_.path());
  std::string error;
  ASSERT_FALSE(
      RunComparison(ctx, progress, report, 2, " ", "9999-12-31", true, false, {&sink}, &error))
      << error;
  const int rows = screen.grdDiff().Rows() - 1;
  std::map<std::string, int> byDate;
  for (int row = 1; row <= rows; ++row) {
    for (const KeyValue& key : screen.RowKeys(row)) {
      if (key.column == "STRDATE") ++byDate[key.value.AsText()];
    }
  }
  const auto most =
      std::max_element(byDate.begin(), byDate.end(),
                       [](const auto& a, const auto& b) { return a.second < b.second; });
  ASSERT_NE(most, byDate.end());

  // The host, on a connection of its own, while the screen is open.
  HostContext host;
  host.connection = Connect();
  host.user = kOwner;
  InitCheckItems(host);
  DeriveGoodsLedgerSql(host, progress);
  const RebuildOutcome rebuilt = RebuildLedger(host, progress, 2, most->first, most->first);
  ASSERT_TRUE(rebuilt.rebuilt) << rebuilt.error;

  screen.SelectAll();
  messages.answers = {true};
  const RegistrationSummary s = screen.RegisterCorrections();
  EXPECT_EQ(s.changed, most->second);
  EXPECT_EQ(s.registered, rows - most->second);
  EXPECT_EQ(s.failed, 0);
  for (int row = 1; row <= rows; ++row) {
    bool onThatDate = false;
    for (const KeyValue& key : screen.RowKeys(row)) {
      onThatDate = onThatDate || (key.column == "STRDATE" && key.value.AsText() == most->first);
    }
    EXPECT_EQ(screen.grdDiff().Text(row, 9), onThatDate ? "已变动" : "") << row;
  }
  EXPECT_FALSE(ctx.conn().InTransaction()) << "nothing is held after the registration";
  EXPECT_TRUE(CompareLedger(ctx, progress, report, 2, " ", "9999-12-31", false, false, {}, &error))
      << error;
}

// Another program sets a flagged line's costs while the adjustment's question waits: the line
// keeps what that program wrote, the other lines are adjusted, and the run is not clean.
TEST_P(LiveAccountSet, AnAdjustmentConfirmedAfterALineChangedLeavesThatLineAlone) {
  const json& flagged = manifest_["receipt_faults"].at(0);
  const std::string line = flagged["lngActivityDetailID"].dump();
  testing::InteractiveRun asked(TALLYVET_PROGRAM, Job("check-receipts", "--adjust"), dir_.path(),
                                "asked-" + std::to_string(run_));
  ASSERT_TRUE(asked.WaitFor("[y/N]")) << asked.Finish().err;
  Connect()->Execute(
      "UPDATE ItemActivityDetail SET dblCostAmount=1300,dblAmount=1300,dblAvgCostAmount=1300 "
      "WHERE lngActivityDetailID=" +
      line);
  const testing::ProgramResult adjusted = asked.Answer("y");
  EXPECT_EQ(adjusted.status, 1) << adjusted.err;
  EXPECT_NE(adjusted.out.find("write-back " + line + " "), std::string::npos) << adjusted.out;
  EXPECT_NE(adjusted.out.find(": changed"), std::string::npos) << adjusted.out;
  EXPECT_EQ(Rows(*Connect(),
                 "SELECT dblAmount,dblCostAmount,dblAvgCostAmount FROM "
                 "ItemActivityDetail WHERE lngActivityDetailID=" +
                     line),
            std::vector<std::string>{"1300|1300|1300"});
}

// An adjustment's one undo script puts back the document lines and the stock ledger as they
// were, value for value.
TEST_P(LiveAccountSet, AnAdjustmentIsUndoneExactlyByItsUndoScript) {
  const std::vector<std::string> before = LinesAndStockLedger();
  const testing::ProgramResult adjusted = Run(Job("check-receipts", "--adjust --yes"));
  ASSERT_EQ(adjusted.status, 1) << adjusted.err;  // lines flagged, all written
  const std::string undo = PathAfter(adjusted.err, "undo script: ");
  ASSERT_FALSE(undo.empty()) << adjusted.err;
  EXPECT_NE(LinesAndStockLedger(), before);
  ApplyScript(undo);
  EXPECT_EQ(LinesAndStockLedger(), before);
}

// An adjustment that fails part way, at the stock ledger's rebuild after its write-backs, leaves
// nothing of itself: the database refuses the ledger's rows, or the disk holding the ledger is
// full. The message says so once, checked, and keeps no undo script for changes that never stood.
TEST_P(LiveAccountSet, AnAdjustmentThatFailsPartWayLeavesLinesAndLedgerAsTheyWere) {
  {
    auto conn = Connect();
    if (Postgres()) {
      conn->Execute(
          "CREATE FUNCTION live.refuse() RETURNS trigger AS $$ BEGIN RAISE EXCEPTION "
          "'the stock ledger is closed'; END $$ LANGUAGE plpgsql");
      conn->Execute(
          "CREATE TRIGGER refuse BEFORE INSERT ON live.PositionDaily FOR EACH ROW EXECUTE "
          "FUNCTION live.refuse()");
    } else {
      dynamic_cast<db::SqliteConnection&>(*conn).ExecuteScript(
          "CREATE TRIGGER refuse BEFORE INSERT ON PositionDaily BEGIN SELECT RAISE(ABORT, 'the "
          "stock ledger is closed'); END;");
    }
  }
  const std::vector<std::string> before = LinesAndStockLedger();
  const testing::ProgramResult refused = Run(Job("check-receipts", "--adjust --yes"));
  EXPECT_EQ(refused.status, 2) << refused.err;
  EXPECT_NE(refused.out.find("adjustment rolled back: stock ledger: "), std::string::npos)
      << refused.out;
  EXPECT_NE(refused.out.find("the stock ledger is closed"), std::string::npos) << refused.out;
  EXPECT_NE(refused.out.find("nothing of the adjustment stands (checked: the "), std::string::npos)
      << refused.out;
  EXPECT_EQ(PathAfter(refused.err, "undo script: "), "");
  EXPECT_EQ(LinesAndStockLedger(), before);
}

TEST_P(LiveAccountSet, OnAFullDiskAnAdjustmentAndARebuildLeaveEverythingAsItWas) {
  testing::SmallDisk disk(8);
  if (!disk.Mounted()) GTEST_SKIP() << disk.Why();
  std::string source;
  if (Postgres()) {
    // The stock ledger moves to a tablespace on the small filesystem, owned by the server's user.
    if (const passwd* pg = getpwnam("postgres"); pg != nullptr && getuid() == 0) {
      ASSERT_EQ(chown(disk.path().c_str(), pg->pw_uid, pg->pw_gid), 0);
    }
    auto admin = Connect();
    admin->Execute("CREATE TABLESPACE tv_small LOCATION '" + disk.path().string() + "'");
    admin->Execute("ALTER TABLE live.PositionDaily SET TABLESPACE tv_small");
  } else {
    std::filesystem::copy_file(db_, disk.path() / "live.db");
    db_ = disk.path() / "live.db";
  }
  struct Finally {
    std::function<void()> run;
    ~Finally() { run(); }
  } tablespace{[this] {
    if (!Postgres()) return;
    try {
      auto admin = Connect();
      admin->Execute("ALTER TABLE live.PositionDaily SET TABLESPACE pg_default");
      admin->Execute("DROP TABLESPACE tv_small");
    } catch (const db::Error&) {
      // The schema is replaced by the next test's copy; the tablespace is left to the server.
    }
  }};
  const std::vector<std::string> before = LinesAndStockLedger();
  disk.FillLeaving(Postgres() ? 0 : 32 * 1024);

  const testing::ProgramResult adjusted = Run(Job("check-receipts", "--adjust --yes"));
  EXPECT_EQ(adjusted.status, 2) << adjusted.out << adjusted.err;
  EXPECT_NE(adjusted.out.find("adjustment rolled back: "), std::string::npos) << adjusted.out;
  EXPECT_NE(adjusted.out.find("nothing of the adjustment stands (checked: the "), std::string::npos)
      << adjusted.out;
  EXPECT_EQ(LinesAndStockLedger(), before);

  const testing::ProgramResult rebuilt =
      Run(Job("rebuild", "--kind 库存 --from ' ' --to 9999-12-31"));
  EXPECT_EQ(rebuilt.status, 2) << rebuilt.err;
  EXPECT_NE(rebuilt.err.find("; the ledger is unchanged (checked: its "), std::string::npos)
      << rebuilt.err;
  EXPECT_EQ(rebuilt.err.find("savepoint"), std::string::npos) << rebuilt.err;
  EXPECT_EQ(LinesAndStockLedger(), before);
}

// The stored function's INSERT list loses one column: the rebuild would have emptied every column
// from there on in all the ledger's rows. It stops before its DELETE, naming the columns and the
// source line; the dry run shows the totals it would empty; the comparison keeps its notice.
TEST_P(LiveAccountSet, ARebuildThatWouldEmptyColumnsStopsAndItsDryRunShowsThem) {
  Connect()->Execute(
      "UPDATE ALL_SOURCE SET TEXT=REPLACE(TEXT,'dblSaleQuantity,dblSaleCost,','dblSaleQuantity,') "
      "WHERE NAME='MDLITEM' AND TEXT LIKE '%dblAdjInQuantity,dblAdjInAmount,dblSaleQuantity,%'");
  const std::vector<std::string> before = LinesAndStockLedger();
  const testing::ProgramResult stopped =
      Run(Job("rebuild", "--kind 库存 --from ' ' --to 9999-12-31"));
  EXPECT_EQ(stopped.status, 2) << stopped.err;
  EXPECT_NE(stopped.err.find("would empty the ledger's column(s) DBLSALECOST, "), std::string::npos)
      << stopped.err;
  EXPECT_NE(stopped.err.find("out of step from MDLITEM line 127: "), std::string::npos)
      << stopped.err;
  EXPECT_NE(stopped.err.find("the ledger is unchanged: nothing was written"), std::string::npos);
  EXPECT_EQ(LinesAndStockLedger(), before);

  const testing::ProgramResult dry =
      Run(Job("rebuild", "--kind 库存 --from ' ' --to 9999-12-31 --dry-run --json"));
  EXPECT_EQ(dry.status, 2) << dry.err;
  const json out = json::parse(dry.out);
  EXPECT_EQ(out["blank_columns"].at(0), "DBLSALECOST");
  bool shown = false;
  for (const json& c : out["columns"]) {
    if (c["column"] == "DBLSALECOST") {
      shown = true;
      EXPECT_GT(c["now"].get<double>(), 0);
      EXPECT_EQ(c["rebuilt"].get<double>(), 0);
    }
  }
  EXPECT_TRUE(shown) << dry.out;

  const testing::ProgramResult compared = Run(Reconcile("--items 2"));
  EXPECT_EQ(compared.status, 1) << compared.err;
  EXPECT_NE(compared.out.find("the ledger has no column for DBLSALECOST"), std::string::npos)
      << compared.out;
}

INSTANTIATE_TEST_SUITE_P(Backends, LiveAccountSet,
                         ::testing::Values(Backend::kEmbedded, Backend::kPostgres),
                         [](const ::testing::TestParamInfo<Backend>& info) {
                           return info.param == Backend::kPostgres ? "Postgres" : "Embedded";
                         });

}  // namespace
}  // namespace tallyvet
