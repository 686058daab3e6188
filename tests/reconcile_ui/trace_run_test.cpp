// The statement trace of whole runs, on the embedded file and on the PostgreSQL server: a
// reconciliation of every item two at a time with causes, a registration, a rebuild and a receipt
// cost adjustment leave one line for every statement their connections ran (counted under the
// tracer), with the purposes of their phases; the program's own trace file is its owner's alone
// and holds no password; an owner that is not a plain name stops a job before any statement.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <climits>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "db/odbc_connection.h"
#include "db/statement_trace.h"
#include "db/text.h"
#include "ledger_engine/causes.h"
#include "ledger_engine/check_items.h"
#include "ledger_engine/derivation.h"
#include "ledger_engine/report_file.h"
#include "ledger_engine/reregistration.h"
#include "receipt_audit/check_activity_screen.h"
#include "reconcile_ui/account_set.h"
#include "reconcile_ui/launcher.h"
#include "reconcile_ui/report_screen.h"
#include "sample/sample.h"
#include "support/postgres_source.h"
#include "support/program.h"

namespace tallyvet {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const std::string kOwner = "tracer";

// Counts every statement a connection is asked to run, the transaction calls included.
class CountingConnection final : public db::Connection {
 public:
  CountingConnection(std::shared_ptr<db::Connection> inner, std::atomic<int>& count)
      : inner_(std::move(inner)), count_(count) {}
  std::unique_ptr<db::Recordset> OpenResultset(const std::string& sql, int c, int l) override {
    ++count_;
    return inner_->OpenResultset(sql, c, l);
  }
  std::unique_ptr<db::RowSource> OpenRowSource(const std::string& sql) override {
    ++count_;
    return inner_->OpenRowSource(sql);
  }
  std::size_t SpillThreshold() const override { return inner_->SpillThreshold(); }
  void Execute(const std::string& sql) override {
    ++count_;
    inner_->Execute(sql);
  }
  std::int64_t RowsAffected() const override { return inner_->RowsAffected(); }
  bool StillExecuting() const override { return inner_->StillExecuting(); }
  void BeginTransaction() override {
    ++count_;
    inner_->BeginTransaction();
  }
  void CommitTransaction() override {
    ++count_;
    inner_->CommitTransaction();
  }
  void RollbackTransaction() override {
    ++count_;
    inner_->RollbackTransaction();
  }
  bool InTransaction() const override { return inner_->InTransaction(); }
  std::string SentForm(const std::string& sql, db::SentAs as) const override {
    return inner_->SentForm(sql, as);
  }
  db::Connection* Inner() override { return inner_.get(); }

 private:
  std::shared_ptr<db::Connection> inner_;
  std::atomic<int>& count_;
};

class CountingSource final : public db::ConnectionSource {
 public:
  CountingSource(std::unique_ptr<db::ConnectionSource> inner, std::atomic<int>& count)
      : inner_(std::move(inner)), count_(count) {}
  std::unique_ptr<db::Connection> Open() override {
    ++opened;
    return std::make_unique<CountingConnection>(inner_->Open(), count_);
  }
  bool BeginCommonView(const std::vector<db::Connection*>& readers) override {
    return inner_->BeginCommonView(readers);
  }
  void EndView(db::Connection& reader) noexcept override { inner_->EndView(reader); }
  int opened = 0;

 private:
  std::unique_ptr<db::ConnectionSource> inner_;
  std::atomic<int>& count_;
};

class QuietScreen final : public ProgressScreen {
 public:
  void SetNotes(const std::string&) override {}
  double ProgressValue() const override { return display_.Value(); }
  void ShowProgress(double percent) override { display_.ShowProgress(percent); }
  std::vector<std::string>* List1() override { return &list; }
  std::vector<std::string> list;

 private:
  ProgressDisplay display_;
};

std::vector<json> TraceLines(const fs::path& file) {
  std::vector<json> lines;
  std::istringstream in(testing::FileText(file));
  for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
  return lines;
}

// A line for a statement the connection was asked to run (not an opening, not a view's).
bool IsStatementLine(const json& line) {
  if (line.contains("open")) return false;
  const std::string kind = line.value("transaction", "");
  return kind != "view_begin" && kind != "view_end";
}

enum class Backend { kEmbedded, kPostgres };

class TracedRun : public ::testing::TestWithParam<Backend> {
 protected:
  static void SetUpTestSuite() {
    dir_ = std::make_unique<testing::TempDir>();
    sample::CreateSample({.path = *dir_ / "pristine.db",
                          .owner = kOwner,
                          .scale = 400,
                          .seed = 23,
                          .faults = sample::FaultSet::kAll});
  }
  static void TearDownTestSuite() { dir_.reset(); }

  void SetUp() override {
    db_ = *dir_ / "run.db";
    fs::remove(db_);
    fs::copy_file(*dir_ / "pristine.db", db_);
    if (GetParam() == Backend::kPostgres) {
      if (testing::PostgresOdbcString() == nullptr)
        GTEST_SKIP() << "no PostgreSQL server: TALLYVET_TEST_PG_ODBC is not set";
      testing::LoadIntoPostgres(db_, kOwner);
    }
  }

  bool Postgres() const { return GetParam() == Backend::kPostgres; }
  std::shared_ptr<db::Connection> Backend() const {
    if (Postgres()) return db::OdbcConnection::Open(testing::PostgresOdbcString(), kOwner);
    return db::SqliteConnection::Open(db_, kOwner);
  }
  std::unique_ptr<db::ConnectionSource> Source() const {
    if (Postgres())
      return std::make_unique<db::OdbcConnectionSource>(testing::PostgresOdbcString(), kOwner);
    return std::make_unique<db::SqliteConnectionSource>(db_, kOwner);
  }
  // The job's database options for the program.
  std::string Database(const std::string& extra = "") const {
    if (Postgres()) return "--odbc " + testing::Quoted(testing::PostgresOdbcString() + extra);
    return "--db " + testing::Quoted(db_);
  }

  static std::unique_ptr<testing::TempDir> dir_;
  fs::path db_;
};

std::unique_ptr<testing::TempDir> TracedRun::dir_;

// The four jobs that write or read the most, in process, each statement counted under the tracer.
TEST_P(TracedRun, EveryStatementOfReconcileRegisterRebuildAndAdjustIsInTheTrace) {
  const fs::path file = *dir_ / "run.jsonl";
  std::atomic<int> counted{0};
  int opened = 0;
  {
    auto trace = std::make_shared<db::StatementTrace>(file, "test");
    HostContext ctx;
    ctx.connection = std::make_shared<db::TracingConnection>(
        std::make_shared<CountingConnection>(Backend(), counted), trace, "the test's database");
    ctx.user = kOwner;
    QuietScreen screen;
    testing::ScriptedMessageBox messages;
    messages.answers = {true, true, true, true};
    const fs::path reports = *dir_ / (Postgres() ? "reports-pg" : "reports");
    fs::create_directories(reports);

    // Reconcile every item, two at a time, with causes.
    const AccountAndPeriods account = LoadAccountAndPeriods(ctx, LocalToday());
    const DateRange range =
        PeriodRangeToDates(ctx, "期间", "期初", account.periods.back(), LocalToday());
    ReportScreen report(
        ctx, messages, reports,
        LauncherTexts{account.userCaption, account.accountCaption, "期初", account.periods.back()},
        INT_MAX);
    ReportScreenSink toReport(report);
    ExplainingSink explaining(ctx, range.startDate, range.endDate, {&toReport});
    auto counting = std::make_unique<CountingSource>(Source(), counted);
    CountingSource& further = *counting;
    db::TracingConnectionSource source(std::move(counting), trace, "the test's database");
    std::vector<ItemRunError> errors;
    RunItems(ctx, screen, ReportFile(reports), {true, true, true, true, true, true}, range,
             {&explaining}, {}, &errors, ItemJobs{2, &source, [](const std::string& why) {
                                                    FAIL() << "ran serially: " << why;
                                                  }});
    EXPECT_TRUE(errors.empty());
    opened = further.opened;
    EXPECT_GE(opened, 2);

    // Every write stands or falls whole, as a host runs it.
    db::Transaction writes(ctx.conn());
    // Register every markable difference.
    report.SelectAll();
    const RegistrationSummary registered = report.RegisterCorrections();
    EXPECT_TRUE(registered.confirmed);
    EXPECT_GT(registered.registered, 0);

    // Rebuild the stock ledger.
    InitCheckItems(ctx);
    DeriveGoodsLedgerSql(ctx, screen);
    RebuildOptions rebuild;
    rebuild.journalFolder = reports;
    const RebuildOutcome rebuilt = RebuildLedger(ctx, screen, 2, " ", "9999-12-31", rebuild);
    EXPECT_TRUE(rebuilt.rebuilt) << rebuilt.error;

    // The receipt checks and the cost adjustment, with the stock ledger's re-registration.
    {
      receipt_audit::CheckActivityScreen checks(ctx, messages);
      checks.Form_Load();
      checks.cmdRpt_Click(0);
      ASSERT_FALSE(checks.Findings().empty());
      checks.SetJournalFolder(reports);
      checks.cmdRpt_Click(0);
      ASSERT_TRUE(checks.LastAdjustment().has_value());
      checks.cmdRpt_Click(1);
    }
    writes.Commit();

    // A statement the database refuses.
    EXPECT_THROW(ctx.conn().OpenResultset("SELECT lngNothing FROM NoSuchTable"), db::Error);
    ctx.dictionary.Release();
  }

  const std::vector<json> lines = TraceLines(file);
  int statements = 0;
  std::set<int> connections;
  std::set<std::string> purposes, transactions;
  std::set<int> recomputedItems;
  std::set<int> viewed;
  bool translated = false;
  for (const json& line : lines) {
    ASSERT_TRUE(line.contains("connection") && line.contains("ts")) << line.dump();
    EXPECT_EQ(line["job"], "test");
    connections.insert(line["connection"].get<int>());
    if (line.value("transaction", "") == "view_begin") viewed.insert(line["connection"].get<int>());
    if (!IsStatementLine(line)) continue;
    ++statements;
    purposes.insert(line["purpose"].get<std::string>());
    if (line.contains("transaction")) transactions.insert(line["transaction"].get<std::string>());
    if (line["purpose"] == "recompute") recomputedItems.insert(line.value("item", 0));
    if (line.contains("sent_sql") && line["sent_sql"] != line["host_sql"]) translated = true;
    ASSERT_TRUE(line.contains("ms"));
  }
  EXPECT_EQ(statements, counted.load());
  EXPECT_EQ(connections.size(), 1u + static_cast<std::size_t>(opened))
      << "the job's, and those of the items run side by side";
  EXPECT_GE(viewed.size(), 2u) << "both further connections read one committed state";
  EXPECT_TRUE(translated);
  EXPECT_EQ(recomputedItems, (std::set<int>{1, 2, 3, 4, 5, 6}));
  for (const char* purpose : {"derive", "probe", "recompute", "stored", "count", "causes",
                              "register", "rebuild", "adjust", "journal", "other"}) {
    EXPECT_TRUE(purposes.contains(purpose)) << purpose;
  }
  for (const char* kind : {"begin", "commit", "savepoint", "release"})
    EXPECT_TRUE(transactions.contains(kind)) << kind;

  const json& failed = lines.back();
  EXPECT_EQ(failed["host_sql"], "SELECT lngNothing FROM NoSuchTable");
  // SQLite: "no such table: NoSuchTable"; PostgreSQL: relation "nosuchtable" does not exist.
  EXPECT_NE(db::UpperAscii(failed.value("error", "")).find("NOSUCHTABLE"), std::string::npos)
      << failed.dump();
  EXPECT_FALSE(failed.contains("rows") && failed["rows"] != 0);
}

// The program's own trace: the file is created for its owner alone whatever the umask, a password
// in the connection string never reaches it, and every item is there with its purpose.
TEST_P(TracedRun, TheProgramsTraceIsItsOwnersAloneAndHoldsNoPassword) {
  const fs::path file = *dir_ / "program.jsonl";
  fs::remove(file);
  const std::string password = "tv-secret-23";
  const testing::ProgramResult run = testing::RunProgram(
      "umask 000;" + std::string(TALLYVET_PROGRAM),
      "reconcile " + Database(";PWD=" + password) + " --user " + kOwner +
          " --from 期初 --jobs 2 --explain --json --report-dir " + testing::Quoted(dir_->path()) +
          " --trace-sql " + testing::Quoted(file),
      dir_->path());
  ASSERT_EQ(run.status, 1) << run.err;

  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  const std::string text = testing::FileText(file);
  EXPECT_EQ(text.find(password), std::string::npos);
  const std::vector<json> lines = TraceLines(file);
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front()["job"], "reconcile");
  if (Postgres()) {
    EXPECT_NE(lines.front()["open"].get<std::string>().find("PWD=***"), std::string::npos);
  }
  // Every item recomputes its ledger (on a server, in the one statement that also reads the
  // stored ledger).
  std::set<int> items;
  for (const json& line : lines) {
    if (line.value("purpose", "") == "recompute") items.insert(line.value("item", 0));
  }
  EXPECT_EQ(items, (std::set<int>{1, 2, 3, 4, 5, 6}));

  // A trace file that others may read is not written into.
  ::chmod(file.c_str(), 0644);
  const testing::ProgramResult refused = testing::RunProgram(
      TALLYVET_PROGRAM,
      "rebuild " + Database() + " --user " + kOwner + " --kind 库存 --from ' ' --to 9999-12-31 " +
          "--dry-run --trace-sql " + testing::Quoted(file),
      dir_->path(), "refused");
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("others may read it"), std::string::npos) << refused.err;
  EXPECT_EQ(testing::FileText(file), text);
}

// An owner is spliced into statements as a qualifier: one that is not a plain name is refused
// with one line before anything reaches the database, on every job.
TEST_P(TracedRun, AnOwnerThatIsNoPlainNameStopsTheJobBeforeAnyStatement) {
  const fs::path file = *dir_ / "owner.jsonl";
  for (const std::string job :
       {"reconcile --from 期初", "rebuild --kind 库存 --from ' ' --to 9999-12-31",
        "check-receipts"}) {
    fs::remove(file);
    const testing::ProgramResult run = testing::RunProgram(
        TALLYVET_PROGRAM,
        job + " " + Database() + " --user \"" + kOwner + "' OR '1'='1\" --report-dir " +
            testing::Quoted(dir_->path()) + " --trace-sql " + testing::Quoted(file),
        dir_->path(), "owner");
    EXPECT_EQ(run.status, 2) << job;
    EXPECT_EQ(run.err,
              "tallyvet: the account-set owner '" + kOwner +
                  "' OR '1'='1' is not a plain name: a letter, then letters, digits, _, $ or #, at "
                  "most 128 bytes\n")
        << job;
    EXPECT_EQ(testing::FileText(file), "") << job;
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, TracedRun,
                         ::testing::Values(Backend::kEmbedded, Backend::kPostgres),
                         [](const auto& info) {
                           return info.param == Backend::kEmbedded ? "Embedded" : "Postgres";
                         });

}  // namespace
}  // namespace tallyvet
