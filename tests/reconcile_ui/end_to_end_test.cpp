// The tallyvet program on a faulted sample account set: reconcile reports exactly the planted
// ledger faults, registration repairs items 1 to 5, and the journal's undo script puts the
// faults back. Also the documents behind every difference, through the screens' classes.
// Every case runs three times: on the embedded database file (--db), on a copy of it reached
// through unixODBC and the SQLite3 driver with the Oracle functions loaded (--odbc), and on a copy
// in a schema of the test's PostgreSQL server (--odbc). Every reconcile that writes nothing into
// the account set runs both ways, its items merged here and compared on the server, and must
// give the same bytes either way.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <numeric>
#include <regex>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "db/odbc_connection.h"
#include "ledger_engine/compare_rows.h"
#include "reconcile_ui/account_set.h"
#include "reconcile_ui/compare_screen.h"
#include "sample/sample.h"
#include "support/odbc_source.h"
#include "support/postgres_source.h"

namespace tallyvet {
namespace {

using nlohmann::json;

struct CliResult {
  int status;
  std::string out, err;
};

std::string Quoted(const std::filesystem::path& arg) {
  return "'" + arg.string() + "'";
}

enum class Backend { kEmbedded, kOdbc, kPostgres };

class FaultedSample : public ::testing::TestWithParam<Backend> {
 protected:
  static void SetUpTestSuite() {
    manifest_ = sample::CreateSample({.path = dir_.path() / "faulted.db",
                                      .owner = "demo",
                                      .scale = 400,
                                      .seed = 11,
                                      .faults = sample::FaultSet::kLedgers});
    // Each backend and the document test work on their own copy, whatever the program does to
    // the others.
    std::filesystem::copy_file(dir_.path() / "faulted.db", dir_.path() / "faulted-odbc.db");
    std::filesystem::copy_file(dir_.path() / "faulted.db", dir_.path() / "pristine.db");
    // Documents edited after posting, each differing row's cause known; only ever read.
    documents_ = sample::CreateSample({.path = dir_.path() / "documents.db",
                                       .owner = "docs",
                                       .scale = 600,
                                       .seed = 5,
                                       .faults = sample::FaultSet::kDocuments});
  }

  // Each test on the server starts from the pristine account set.
  void SetUp() override {
    if (!Postgres()) return;
    if (testing::PostgresOdbcString() == nullptr)
      GTEST_SKIP() << "no PostgreSQL server: TALLYVET_TEST_PG_ODBC is not set";
    testing::LoadIntoPostgres(dir_.path() / "pristine.db", "demo");
  }

  // The SQLite file through ODBC.
  static bool Odbc() { return GetParam() == Backend::kOdbc; }
  static bool Postgres() { return GetParam() == Backend::kPostgres; }
  static std::filesystem::path Db() {
    return dir_.path() / (Odbc() ? "faulted-odbc.db" : "faulted.db");
  }
  static std::filesystem::path Reports() {
    return dir_.path() / (Postgres() ? "reports-pg" : Odbc() ? "reports-odbc" : "reports");
  }
  // The database options of a job: the file, or the connection string of the same file.
  static std::string Source() {
    if (Postgres()) return "--odbc " + Quoted(testing::PostgresOdbcString());
    return Odbc() ? "--odbc " + Quoted(testing::SqliteOdbcString(Db())) : "--db " + Quoted(Db());
  }
  // A connection to the account set of `file` (on the server: a fresh copy of it).
  static std::shared_ptr<db::Connection> Connect(const std::filesystem::path& file) {
    if (Postgres()) {
      testing::LoadIntoPostgres(file, "demo");
      return db::OdbcConnection::Open(testing::PostgresOdbcString(), "demo");
    }
    if (Odbc()) return db::OdbcConnection::Open(testing::SqliteOdbcString(file), "demo");
    return db::SqliteConnection::Open(file, "demo");
  }

  // Runs an undo script the program wrote on the account set, as its reader would.
  static void ApplyScript(const std::string& path) {
    if (Postgres()) {
      testing::RunScript(*db::OdbcConnection::Open(testing::PostgresOdbcString(), "demo"),
                         testing::FileText(path));
    } else {
      db::SqliteConnection::Open(Db(), "demo")->ExecuteScript(testing::FileText(path));
    }
  }

  // `env`: variable assignments for the program, e.g. "ODBCINI=/tmp/odbc.ini".
  static CliResult RunOnce(const std::string& args, const std::string& env = "") {
    const std::filesystem::path out = dir_.path() / "out.txt", err = dir_.path() / "err.txt";
    const int status = std::system((env + " " + TALLYVET_PROGRAM + " " + args + " >" + Quoted(out) +
                                    " 2>" + Quoted(err) + " </dev/null")
                                       .c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, testing::FileText(out),
            testing::FileText(err)};
  }

  // The value of a quoted option of `args` ("--report-dir '/tmp/x'"), or empty.
  static std::string QuotedOption(const std::string& args, const std::string& option) {
    const auto at = args.find(option + " '");
    if (at == std::string::npos) return {};
    const auto from = at + option.size() + 2;
    return args.substr(from, args.find('\'', from) - from);
  }
  // What a reconcile leaves in files, but the time it was written: Compare.txt without the banner's
  // time stamp, the page without its time of making.
  static std::string Written(const std::string& args) {
    std::string text;
    if (const std::string folder = QuotedOption(args, "--report-dir"); !folder.empty()) {
      text = std::regex_replace(testing::FileText(std::filesystem::path(folder) / "Compare.txt"),
                                std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d"), "");
    }
    if (const std::string page = QuotedOption(args, "--html"); !page.empty()) {
      text += std::regex_replace(testing::FileText(page),
                                 std::regex("<th>生成时间</th><td>[^<]*</td>"), "");
    }
    return text;
  }

  // How many items a reconcile's options tick ("--items 2,3": two, "--items 1-5": five, none: six).
  static long ItemsOf(const std::string& args) {
    const auto at = args.find("--items ");
    if (at == std::string::npos) return 6;
    std::istringstream list(args.substr(at + 8, args.find(' ', at + 8) - at - 8));
    long count = 0;
    for (std::string piece; std::getline(list, piece, ',');) {
      const auto dash = piece.find('-');
      count +=
          dash == std::string::npos ? 1 : std::stol(piece.substr(dash + 1)) - std::stol(piece) + 1;
    }
    return count;
  }

  // A reconcile that writes nothing into the account set runs both ways; everything it gives is
  // the same bytes (standard error but the lines saying an item was merged here), the server's
  // run is returned. Any other job runs once.
  static CliResult Run(const std::string& args, const std::string& env = "") {
    if (args.rfind("reconcile ", 0) != 0 || args.find("--register") != std::string::npos) {
      return RunOnce(args, env);
    }
    const CliResult client = RunOnce(args + " --compare-on client", env);
    const std::string clientWrote = Written(args);
    const CliResult server = RunOnce(args + " --compare-on server", env);
    EXPECT_EQ(server.status, client.status) << args;
    EXPECT_EQ(server.out, client.out) << args;
    // A sanitizer's closing report (the driver manager's own leaks) names addresses of its run.
    const auto own = [](const std::string& err) { return err.substr(0, err.find("\n=====")); };
    EXPECT_EQ(
        own(std::regex_replace(server.err, std::regex(".*: compared on the client: .*\n"), "")),
        own(client.err))
        << args;
    EXPECT_EQ(Written(args), clientWrote) << args;
    return server;
  }

  static std::string Reconcile(const std::string& extra) {
    return "reconcile " + Source() + " --user demo --from 期初 --to " + lastPeriod_ +
           " --report-dir " + Quoted(Reports()) + " " + extra;
  }

  // Findings as sorted comparable lines: item, keys, column and both figures at two decimals.
  static std::vector<std::string> Findings(const json& findings) {
    std::vector<std::string> lines;
    for (const json& f : findings) {
      json keys = json::object();
      for (const auto& [name, value] : f["keys"].items())
        keys[name] = value.is_number() ? json(value.get<double>()) : value;
      lines.push_back(f["item"].dump() + " " + keys.dump() + " " + f["column"].dump() + " " +
                      db::FormatDouble(RoundHalfEven(f["stored"], 2)) + " " +
                      db::FormatDouble(RoundHalfEven(f["recomputed"], 2)));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
  }
  static std::vector<std::string> Reported(const std::string& jsonLines) {
    json findings = json::array();
    std::istringstream lines(jsonLines);
    for (std::string line; std::getline(lines, line);) findings.push_back(json::parse(line));
    return Findings(findings);
  }
  static std::vector<std::string> Expected() {
    json findings = json::array();
    for (const json& fault : manifest_["ledger_faults"]) {
      for (json f : fault["findings"]) {
        f["item"] = fault["item"];
        findings.push_back(f);
      }
    }
    return Findings(findings);
  }

  // Item and keys, numbers as numbers whatever their JSON type.
  static std::string RowKey(const json& item, const json& keys) {
    json normal = json::object();
    for (const auto& [name, value] : keys.items())
      normal[name] = value.is_number() ? json(value.get<double>()) : value;
    return item.dump() + " " + normal.dump();
  }

  static inline testing::TempDir dir_;
  static inline json manifest_;
  static inline json documents_;
  // The sample's periods are the twelve months of 2025.
  static inline const std::string lastPeriod_ = "2025.12";
};

// One test, in order, because each step works on what the one before left in the account set.
TEST_P(FaultedSample, ReportRegisterAndUndo) {
  ASSERT_FALSE(Expected().empty());

  // 1. Exactly the planted ledger faults, no more.
  const CliResult first = Run(Reconcile("--json"));
  ASSERT_EQ(first.status, 1) << first.err;
  const std::vector<std::string> reported = Reported(first.out);
  EXPECT_EQ(reported, Expected()) << first.out;
  EXPECT_NE(first.err.find("共" + std::to_string(reported.size()) + "笔差异!"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(Reports() / "Compare.txt"));

  // 2. A dry run shows the statements and changes nothing; so does a question left unanswered.
  const CliResult dry = Run(Reconcile("--items 1-5 --register --dry-run"));
  EXPECT_EQ(dry.status, 1) << dry.err;
  EXPECT_NE(dry.out.find("UPDATE "), std::string::npos);
  const CliResult refused = Run(Reconcile("--items 1-5 --register"));
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("已结账期间数据调整"), std::string::npos);
  EXPECT_EQ(Reported(Run(Reconcile("--json")).out), reported);

  // 3. Registered: items 1 to 5 come out clean; item 6 (vouchers) is never registered.
  const CliResult registered = Run(Reconcile("--register --yes"));
  EXPECT_EQ(registered.status, 1) << registered.err;
  EXPECT_NE(registered.err.find(", changed since compared 0, failed 0"), std::string::npos)
      << registered.err;
  EXPECT_NE(registered.err.find("登记完毕!"), std::string::npos);
  const CliResult clean = Run(Reconcile("--items 1-5"));
  EXPECT_EQ(clean.status, 0) << clean.out << clean.err;
  EXPECT_NE(clean.out.find("账套内数据正确!"), std::string::npos);
  EXPECT_EQ(Run(Reconcile("--items 6 --json")).status, 1);

  // 4. The undo script puts every planted fault back.
  const auto undo = registered.err.find("undo script: " + Reports().string() + "/Correction.");
  ASSERT_NE(undo, std::string::npos) << registered.err;
  const std::string path =
      registered.err.substr(undo + 13, registered.err.find('\n', undo) - undo - 13);
  ApplyScript(path);
  const CliResult again = Run(Reconcile("--json"));
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(Reported(again.out), reported);

  // 5. Rebuilding the stock ledger from the documents repairs item 2 alone; its journal's undo
  // script brings the faults back.
  const CliResult rebuilt =
      Run("rebuild " + Source() +
          " --user demo --kind 库存 --from ' ' --to 9999-12-31 --report-dir " + Quoted(Reports()));
  EXPECT_EQ(rebuilt.status, 0) << rebuilt.err;
  EXPECT_EQ(Run(Reconcile("--items 2")).status, 0);
  EXPECT_EQ(Run(Reconcile("--items 1")).status, 1);
  const auto rebuildUndo = rebuilt.err.find("undo script: ");
  ASSERT_NE(rebuildUndo, std::string::npos) << rebuilt.err;
  ApplyScript(
      rebuilt.err.substr(rebuildUndo + 13, rebuilt.err.find('\n', rebuildUndo) - rebuildUndo - 13));
  EXPECT_EQ(Run(Reconcile("--items 2")).status, 1);
}

TEST_P(FaultedSample, ValidationMessagesAndExitStatus) {
  const std::string db = Source() + " --user demo ";
  for (const auto& [args, message] : std::vector<std::pair<std::string, std::string>>{
           {"reconcile " + db + "--from " + lastPeriod_ + " --to 期初 --items ''",
            "开始对账期间不能大于截止对账期间!\n"},
           {Reconcile("--items ''"), "请选择对账项目!\n"},
           {"reconcile " + db + "--from 1999.01 --items 1", "1999.01"},
           {"rebuild " + db + "--kind 存货 --from 2005-01-01 --to 9999-12-31", ""}}) {
    const CliResult run = Run(args);
    EXPECT_EQ(run.status, 2) << args;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  }
}

// "查看单据明细" on every difference of items 1 to 5: the statement runs on the host's schema and
// the documents it lists add up to the recomputed figure.
TEST_P(FaultedSample, DocumentsBehindEveryDifferenceAddUpToTheRecomputedValue) {
  HostContext ctx;
  ctx.connection = Connect(dir_.path() / "pristine.db");
  ctx.user = "demo";
  testing::ScriptedMessageBox messages;
  int checked = 0;
  CompareScreen::Hooks hooks;
  hooks.showReport = [&](ReportScreen& report) {
    report.CmdRptClick(1);  // no row selected: nothing
    EXPECT_EQ(report.DetailList(), nullptr);
    for (int row = 1; row < report.grdDiff().Rows(); ++row) {
      report.GrdDiffClick(row, 4);
      report.CmdRptClick(1);
      ASSERT_TRUE(messages.said.empty()) << messages.said.front();
      ASSERT_NE(report.DetailList(), nullptr);
      const Grid& list = report.DetailList()->grdList();
      double sum = 0;
      for (int line = 1; line < list.Rows(); ++line) {
        sum += db::Value(list.Text(line, 3)).AsDouble();
        EXPECT_NE(list.Text(line, 1).find_first_not_of("0123456789"), std::string::npos)
            << "the document type by its name";
      }
      EXPECT_NEAR(sum, db::Value(report.grdDiff().Text(row, 7)).AsDouble(), 0.005)
          << "row " << row << " of item " << report.grdDiff().Text(row, 0);
      ++checked;
    }
  };
  CompareScreen launcher(ctx, messages, ReportFile(dir_.path()), hooks);
  launcher.SelectPeriod(0, 0);
  launcher.SelectPeriod(1, static_cast<int>(launcher.cboPeriod(1).entries.size()) - 1);
  for (int i = 0; i < 5; ++i) launcher.SetItemValue(i, 1);
  launcher.CmdSelClick(0);
  EXPECT_GT(checked, 5);
}

// Bad data sources stop the job before it starts: exit status 2 and one line that names what was
// wrong, with the driver's own words.
TEST_P(FaultedSample, BadDataSourcesStopWithOneLineNamingTheFailure) {
  if (!Odbc()) GTEST_SKIP() << "ODBC data sources (the SQLite driver's cases)";
  std::filesystem::copy_file(dir_.path() / "pristine.db", dir_.path() / "no-tables.db");
  db::SqliteConnection::Open(dir_.path() / "no-tables.db", "demo")
      ->ExecuteScript("DROP TABLE ItemActivityDetail");
  const std::string plain = "Driver=SQLite3;NoCreat=1;Database=" + Db().string();
  for (const auto& [connection, says] : std::vector<std::pair<std::string, std::string>>{
           {"DSN=tallyvet_no_such_source", "unknown ODBC data source: "},
           {"Driver=/nonexistent/libnodriver.so", "the ODBC driver cannot be loaded: "},
           {"Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=1;Database=x;UID=u;PWD=secret",
            "the database server cannot be reached: "},
           {plain, "the SQLite data source has no Oracle functions: add LoadExt="},
           {testing::SqliteOdbcString(dir_.path() / "no-tables.db"),
            "the database holds no account set (table ItemActivityDetail): "}}) {
    for (const std::string job : {"reconcile --items 1",
                                  "rebuild --kind 库存 --from ' ' --to "
                                  "9999-12-31",
                                  "check-receipts --adjust --yes"}) {
      const std::string verb = job.substr(0, job.find(' '));
      const std::string rest = job.substr(verb.size());
      const CliResult run = Run(verb + " --odbc " + Quoted(connection) + " --user demo" + rest);
      EXPECT_EQ(run.status, 2) << job << ": " << run.err;
      EXPECT_EQ(run.err.rfind("tallyvet: " + says, 0), 0u) << run.err;
      EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
      EXPECT_EQ(run.err.find("secret"), std::string::npos) << "no password in messages";
      EXPECT_TRUE(run.out.empty()) << run.out;
    }
  }
  EXPECT_EQ(
      Run("reconcile --db " + Quoted(Db()) + " --odbc " + Quoted(plain) + " --user demo").status,
      2);
}

// A ledger that refuses every write: its rows of a registration fail and keep their figures
// while every other row stands on its own; a rebuild of it fails part-way, after its DELETE, and
// leaves it exactly as it was, saying so.
TEST_P(FaultedSample, ARefusingLedgerFailsItsOwnRowsAndARebuildOfItChangesNothing) {
  if (!Odbc()) GTEST_SKIP() << "the SQLite driver's case; the server's are in server_test.cpp";
  const std::filesystem::path file = dir_.path() / "refusing.db";
  std::filesystem::copy_file(dir_.path() / "pristine.db", file);
  auto refusing = db::SqliteConnection::Open(file, "demo");
  refusing->ExecuteScript(R"(
    CREATE TRIGGER RefuseInsert BEFORE INSERT ON PositionDaily BEGIN
      SELECT RAISE(ABORT, 'the stock ledger is locked'); END;
    CREATE TRIGGER RefuseUpdate BEFORE UPDATE ON PositionDaily BEGIN
      SELECT RAISE(ABORT, 'the stock ledger is locked'); END;)");
  const std::string reconcile = "reconcile --odbc " + Quoted(testing::SqliteOdbcString(file)) +
                                " --user demo --from 期初 --to " + lastPeriod_ + " --report-dir " +
                                Quoted(dir_.path() / "reports-refusing");
  const CliResult before = Run(reconcile + " --json");
  ASSERT_EQ(Reported(before.out), Expected());
  std::vector<std::string> stockAndVouchers;
  for (const std::string& line : Expected()) {
    if (line.rfind("2 ", 0) == 0 || line.rfind("6 ", 0) == 0) stockAndVouchers.push_back(line);
  }

  const CliResult registered = Run(reconcile + " --register --yes");
  EXPECT_EQ(registered.status, 2) << registered.err;
  EXPECT_NE(registered.err.find("the stock ledger is locked"), std::string::npos) << registered.err;
  EXPECT_NE(registered.out.find("错误"), std::string::npos) << registered.out;
  EXPECT_EQ(Reported(Run(reconcile + " --json").out), stockAndVouchers);

  const CliResult rebuilt =
      Run("rebuild --odbc " + Quoted(testing::SqliteOdbcString(file)) +
          " --user demo --kind 库存 --from ' ' --to 9999-12-31 --report-dir " +
          Quoted(dir_.path() / "reports-refusing"));
  EXPECT_EQ(rebuilt.status, 2) << rebuilt.err;
  EXPECT_NE(rebuilt.err.find("库存: not rebuilt: [SQLite]the stock ledger is locked"),
            std::string::npos)
      << rebuilt.err;
  EXPECT_NE(rebuilt.err.find("; the ledger is unchanged (checked: its "), std::string::npos)
      << rebuilt.err;
  EXPECT_EQ(Reported(Run(reconcile + " --json").out), stockAndVouchers);
}

// The README's way: a DSN in an odbc.ini.
TEST_P(FaultedSample, ADataSourceNameFromAnOdbcIniReachesTheAccountSet) {
  if (!Odbc()) GTEST_SKIP() << "the SQLite driver's DSN";
  const std::filesystem::path ini = dir_.path() / "odbc.ini";
  std::ofstream(ini) << "[tallyvet_sample]\nDriver = SQLite3\nDatabase = "
                     << (dir_.path() / "pristine.db").string()
                     << "\nLoadExt = " TALLYVET_ORACLE_EXTENSION "\nNoCreat = 1\n";
  const CliResult run =
      Run("reconcile --odbc DSN=tallyvet_sample --user demo --from 期初 --to " + lastPeriod_ +
              " --report-dir " + Quoted(dir_.path() / "reports-dsn") + " --json",
          "ODBCINI=" + Quoted(ini));
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(Reported(run.out), Expected());
}

// --explain on documents edited after posting: every planted cause is found, with the documents
// it names and, for a moved row, the other row's keys; the closing line counts them by kind.
TEST_P(FaultedSample, ExplainNamesEveryPlantedCause) {
  const std::filesystem::path db = dir_.path() / "documents.db";
  std::string source = "--db " + Quoted(db);
  if (Odbc()) source = "--odbc " + Quoted(testing::SqliteOdbcString(db));
  if (Postgres()) {
    testing::LoadIntoPostgres(db, "docs");
    source = "--odbc " + Quoted(testing::PostgresOdbcString());
  }
  const std::string reconcile = "reconcile " + source + " --user docs --from 期初 --to " +
                                lastPeriod_ + " --report-dir " + Quoted(Reports() / "docs") + " ";
  const CliResult run = Run(reconcile + "--explain --json");
  ASSERT_EQ(run.status, 1) << run.err;
  std::map<std::string, json> found;  // each differing row's cause
  std::istringstream lines(run.out);
  for (std::string line; std::getline(lines, line);) {
    const json difference = json::parse(line);
    ASSERT_TRUE(difference.contains("cause")) << line;
    EXPECT_TRUE(difference["side"] == "both" || difference["side"] == "recomputed_only" ||
                difference["side"] == "stored_only")
        << line;
    found[RowKey(difference["item"], difference["keys"])] = difference["cause"];
  }
  std::map<std::string, int> planted;
  for (const json& fault : documents_["document_faults"]) {
    for (const json& cause : fault["causes"]) {
      ++planted[cause["kind"].get<std::string>()];
      const std::string key = RowKey(cause["item"], cause["keys"]);
      ASSERT_TRUE(found.count(key)) << key;
      const json& got = found[key];
      EXPECT_EQ(got["kind"], cause["kind"]) << key << " " << got.dump();
      std::set<std::int64_t> named;
      for (const json& d : got["documents"]) named.insert(d["id"].get<std::int64_t>());
      // A rounding row rests on all its lines, and names none.
      if (cause["kind"] == "rounding") continue;
      for (const json& id : cause["documents"])
        EXPECT_TRUE(named.count(id.get<std::int64_t>())) << key << " " << got.dump();
      if (cause["kind"] == "moved") {
        EXPECT_EQ(RowKey(cause["item"], got["other_keys"]),
                  RowKey(cause["item"], cause["other_keys"]))
            << key;
      }
    }
  }
  EXPECT_EQ(found.size(), static_cast<std::size_t>(std::accumulate(
                              planted.begin(), planted.end(), 0,
                              [](int sum, const auto& kind) { return sum + kind.second; })));
  for (const char* kind : {"moved", "unposted", "withdrawn", "rounding", "unexplained"})
    EXPECT_GE(planted[kind], 2) << kind;
  const std::map<std::string, const char*> captions = {{"moved", "单据移动"},
                                                       {"unposted", "单据未记账"},
                                                       {"withdrawn", "单据作废或取消审核"},
                                                       {"rounding", "舍入误差"},
                                                       {"unexplained", "原因不明"}};
  for (const auto& [kind, count] : planted) {
    EXPECT_NE(run.err.find(std::string(captions.at(kind)) + " " + std::to_string(count) + "行"),
              std::string::npos)
        << run.err;
  }

  // Without --explain the rows still say their side, and no cause is looked for.
  const CliResult plain = Run(reconcile + "--json --items 1");
  const json first = json::parse(plain.out.substr(0, plain.out.find('\n')));
  EXPECT_TRUE(first.contains("side") && !first.contains("cause")) << first.dump();
  // The table's cause column and the page's causes.
  const CliResult table =
      Run(reconcile + "--explain --items 2 --html " + Quoted(Reports() / "docs" / "causes.html"));
  EXPECT_NE(table.out.find("原因"), std::string::npos);
  EXPECT_NE(table.out.find("单据移动"), std::string::npos) << table.out;
  const std::string page = testing::FileText(Reports() / "docs" / "causes.html");
  EXPECT_NE(page.find("<h3>差异原因</h3>"), std::string::npos);
  EXPECT_NE(page.find("class=\"cause-moved\""), std::string::npos);
}

// Ledgers where every row differs, where the stored side is empty and where the documents are,
// and a sample with every kind of fault planted: the same bytes both ways (Run compares them),
// and the server compares every item of them itself (through the SQLite driver, which types a
// column by the first row of the statement, none: each item says it is merged here).
TEST_P(FaultedSample, WholeLedgersOffOrMissingAndEveryFaultGiveTheSameBytesBothWays) {
  const auto source = [&](const std::filesystem::path& file, const std::string& owner) {
    if (Postgres()) {
      testing::LoadIntoPostgres(file, owner);
      return "--odbc " + Quoted(testing::PostgresOdbcString());
    }
    return Odbc() ? "--odbc " + Quoted(testing::SqliteOdbcString(file)) : "--db " + Quoted(file);
  };
  const auto reconcile = [&](const std::string& from, const std::string& owner,
                             const std::string& extra) {
    const CliResult run =
        Run("reconcile " + from + " --user " + owner + " --from 期初 --to " + lastPeriod_ +
            " --report-dir " + Quoted(Reports() / "whole") + " " + extra);
    const std::regex merged(".*: compared on the client: .*");
    const auto fallbacks = std::distance(
        std::sregex_iterator(run.err.begin(), run.err.end(), merged), std::sregex_iterator());
    EXPECT_EQ(fallbacks, Odbc() ? static_cast<long>(ItemsOf(extra)) : 0) << run.err;
    return run;
  };

  const std::filesystem::path whole = dir_.path() / "whole.db";
  std::filesystem::remove(whole);
  std::filesystem::copy_file(dir_.path() / "pristine.db", whole);
  db::SqliteConnection::Open(whole, "demo")
      ->ExecuteScript(
          "UPDATE PositionDaily SET dblSaleQuantity = dblSaleQuantity + 1;"
          "DELETE FROM ItemDaily1;");
  std::string from = source(whole, "demo");
  // Item and side of every difference of a run's JSON lines.
  const auto sides = [](const CliResult& run) {
    std::set<std::string> found;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
      const json d = json::parse(line);
      found.insert(d["item"].dump() + " " + d["side"].get<std::string>());
    }
    return found;
  };
  const CliResult off = reconcile(from, "demo", "--json");
  EXPECT_EQ(off.status, 1);
  const std::set<std::string> offSides = sides(off);
  EXPECT_TRUE(offSides.count("2 both") && offSides.count("3 recomputed_only") &&
              !offSides.count("3 both") && !offSides.count("3 stored_only"))
      << off.out;
  reconcile(from, "demo", "--items 2,3");

  db::SqliteConnection::Open(whole, "demo")
      ->ExecuteScript("DELETE FROM ItemActivityDetail; DELETE FROM QARAPDetail1;");
  from = source(whole, "demo");
  // Items 1 to 3 and 5 recompute nothing now: their ledgers' rows stand alone (item 3 has none).
  const std::set<std::string> bare = sides(reconcile(from, "demo", "--json"));
  for (const std::string item : {"1", "2", "3", "5"}) {
    EXPECT_EQ(bare.count(item + " stored_only"), item == "3" ? 0u : 1u) << item;
    EXPECT_FALSE(bare.count(item + " both") || bare.count(item + " recomputed_only")) << item;
  }

  const std::filesystem::path every = dir_.path() / "every.db";
  if (!std::filesystem::exists(every)) {
    sample::CreateSample({.path = every,
                          .owner = "every",
                          .scale = 800,
                          .seed = 3,
                          .faults = sample::FaultSet::kAll});
  }
  std::filesystem::path copy = every;
  if (Odbc()) {
    copy = dir_.path() / "every-odbc.db";
    std::filesystem::remove(copy);
    std::filesystem::copy_file(every, copy);
  }
  from = source(copy, "every");
  EXPECT_EQ(reconcile(from, "every", "--json").status, 1);
  EXPECT_EQ(reconcile(from, "every", "--explain --json").status, 1);
  EXPECT_EQ(reconcile(from, "every", "--explain --html " + Quoted(Reports() / "every.html")).status,
            1);
}

INSTANTIATE_TEST_SUITE_P(Backends, FaultedSample,
                         ::testing::Values(Backend::kEmbedded, Backend::kOdbc, Backend::kPostgres),
                         [](const auto& info) {
                           return info.param == Backend::kPostgres ? "Postgres"
                                  : info.param == Backend::kOdbc   ? "Odbc"
                                                                   : "Embedded";
                         });

}  // namespace
}  // namespace tallyvet
