// The tallyvet program on a faulted sample account set: reconcile reports exactly the planted
// ledger faults, registration repairs items 1 to 5, and the journal's undo script puts the
// faults back.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "db/sqlite_connection.h"
#include "ledger_engine/compare_rows.h"
#include "reconcile_ui/launcher.h"
#include "reconcile_ui/report_screen.h"
#include "sample/sample.h"
#include "support/temp_dir.h"

namespace tallyvet {
namespace {

using nlohmann::json;

struct CliResult {
  int status = -1;
  std::string out;
  std::string err;
};

std::string FileText(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Quoted(const std::string& arg) {
  return "'" + arg + "'";
}

class FaultedSample : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new testing::TempDir();
    sample::SampleOptions options;
    options.path = dir_->path() / "faulted.db";
    options.owner = "demo";
    options.scale = 400;
    options.seed = 11;
    options.faults = sample::FaultSet::kLedgers;
    manifest_ = new json(sample::CreateSample(options));
    // The whole account set: from the opening balances to its last period.
    HostContext ctx;
    ctx.connection = db::SqliteConnection::Open(options.path, options.owner);
    ctx.user = options.owner;
    lastPeriod_ = LoadAccountAndPeriods(ctx, LocalToday()).periods.back();
  }
  static void TearDownTestSuite() {
    delete manifest_;
    delete dir_;
  }

  static std::filesystem::path Db() { return dir_->path() / "faulted.db"; }
  static std::filesystem::path Reports() { return dir_->path() / "reports"; }

  static CliResult Run(const std::string& args) {
    const std::filesystem::path err = dir_->path() / "stderr.txt";
    const std::string command =
        std::string(TALLYVET_PROGRAM) + " " + args + " 2>" + Quoted(err.string()) + " </dev/null";
    CliResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.out.append(buffer, n);
    const int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.err = FileText(err);
    return result;
  }

  static std::string Reconcile(const std::string& extra) {
    return "reconcile --db " + Quoted(Db().string()) + " --user demo --from 期初 --to " +
           lastPeriod_ + " --report-dir " + Quoted(Reports().string()) + " " + extra;
  }

  // A finding as one comparable line: item, keys, column and both figures at two decimals.
  static std::string FindingKey(int item, const json& keys, const std::string& column,
                                double stored, double recomputed) {
    json k = json::object();
    for (const auto& [name, value] : keys.items()) {
      k[name] = value.is_number() ? json(value.get<double>()) : value;
    }
    return std::to_string(item) + " " + k.dump() + " " + column + " " +
           db::FormatDouble(RoundHalfEven(stored, 2)) + " " +
           db::FormatDouble(RoundHalfEven(recomputed, 2));
  }

  static std::vector<std::string> Reported(const std::string& jsonLines) {
    std::vector<std::string> found;
    std::istringstream lines(jsonLines);
    for (std::string line; std::getline(lines, line);) {
      const json j = json::parse(line);
      found.push_back(FindingKey(j["item"], j["keys"], j["column"], j["stored"], j["recomputed"]));
    }
    std::sort(found.begin(), found.end());
    return found;
  }

  static std::vector<std::string> Expected() {
    std::vector<std::string> expected;
    for (const json& fault : (*manifest_)["ledger_faults"]) {
      for (const json& f : fault["findings"]) {
        expected.push_back(
            FindingKey(fault["item"], f["keys"], f["column"], f["stored"], f["recomputed"]));
      }
    }
    std::sort(expected.begin(), expected.end());
    return expected;
  }

  static testing::TempDir* dir_;
  static json* manifest_;
  static std::string lastPeriod_;
};

testing::TempDir* FaultedSample::dir_ = nullptr;
json* FaultedSample::manifest_ = nullptr;
std::string FaultedSample::lastPeriod_;

// One test, in order, because each step works on what the one before left in the account set.
TEST_F(FaultedSample, ReportRegisterAndUndo) {
  ASSERT_FALSE(Expected().empty());

  // 1. Exactly the planted ledger faults, no more.
  const CliResult first = Run(Reconcile("--json"));
  ASSERT_EQ(first.status, 1) << first.err;
  const std::vector<std::string> reported = Reported(first.out);
  EXPECT_EQ(reported, Expected()) << first.out;
  EXPECT_NE(first.err.find("共" + std::to_string(reported.size()) + "笔差异!"), std::string::npos);
  EXPECT_TRUE(std::filesystem::exists(Reports() / "Compare.txt"));

  // 2. A dry run shows the statements and changes nothing.
  const CliResult dry = Run(Reconcile("--items 1-5 --register --dry-run"));
  EXPECT_EQ(dry.status, 1) << dry.err;
  EXPECT_NE(dry.out.find("UPDATE "), std::string::npos);
  EXPECT_EQ(Reported(Run(Reconcile("--json")).out), reported);

  // 3. Without --yes and without an answer, nothing is registered.
  const CliResult refused = Run(Reconcile("--items 1-5 --register"));
  EXPECT_EQ(refused.status, 2);
  EXPECT_NE(refused.err.find("已结账期间数据调整"), std::string::npos);
  EXPECT_EQ(Reported(Run(Reconcile("--json")).out), reported);

  // 4. Registered: items 1 to 5 come out clean; item 6 (vouchers) is never registered.
  const CliResult registered = Run(Reconcile("--register --yes"));
  EXPECT_EQ(registered.status, 1) << registered.err;
  EXPECT_NE(registered.err.find(" 0 failed"), std::string::npos) << registered.err;
  EXPECT_NE(registered.err.find("登记完毕!"), std::string::npos);
  const CliResult clean = Run(Reconcile("--items 1-5"));
  EXPECT_EQ(clean.status, 0) << clean.out << clean.err;
  EXPECT_NE(clean.out.find("账套内数据正确!"), std::string::npos);
  const CliResult voucher = Run(Reconcile("--items 6 --json"));
  EXPECT_EQ(voucher.status, 1);

  // 5. The undo script puts every planted fault back.
  std::filesystem::path undo;
  for (const auto& entry : std::filesystem::directory_iterator(Reports())) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("Correction.", 0) == 0 && name.ends_with(".undo.sql")) undo = entry.path();
  }
  ASSERT_FALSE(undo.empty());
  db::SqliteConnection::Open(Db(), "demo")->ExecuteScript(FileText(undo));
  const CliResult again = Run(Reconcile("--json"));
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(Reported(again.out), reported);

  // 6. Rebuilding the stock ledger from the documents repairs item 2 alone.
  const CliResult rebuilt = Run("rebuild --db " + Quoted(Db().string()) +
                                " --user demo --kind 库存 --from ' ' --to 9999-12-31");
  EXPECT_EQ(rebuilt.status, 0) << rebuilt.err;
  EXPECT_EQ(Run(Reconcile("--items 2")).status, 0);
  EXPECT_EQ(Run(Reconcile("--items 1")).status, 1);
}

TEST_F(FaultedSample, ValidationMessagesAndExitStatus) {
  const CliResult backwards = Run("reconcile --db " + Quoted(Db().string()) +
                                  " --user demo --from " + lastPeriod_ + " --to 期初 --items ''");
  EXPECT_EQ(backwards.status, 2);
  EXPECT_EQ(backwards.err, "开始对账期间不能大于截止对账期间!\n");
  const CliResult noItems = Run(Reconcile("--items ''"));
  EXPECT_EQ(noItems.status, 2);
  EXPECT_EQ(noItems.err, "请选择对账项目!\n");
  const CliResult badPeriod =
      Run("reconcile --db " + Quoted(Db().string()) + " --user demo --from 1999.01 --items 1");
  EXPECT_EQ(badPeriod.status, 2);
  EXPECT_NE(badPeriod.err.find("1999.01"), std::string::npos);
  const CliResult unknownKind = Run("rebuild --db " + Quoted(Db().string()) +
                                    " --user demo --kind 存货 --from 2005-01-01 --to 9999-12-31");
  EXPECT_EQ(unknownKind.status, 2);
}

}  // namespace
}  // namespace tallyvet

namespace tallyvet {
namespace {

class NullMessages final : public MessageBox {
 public:
  void Show(const std::string& text, const std::string&, MessageIcon) override {
    shown.push_back(text);
  }
  bool AskYesNo(const std::string&, const std::string&) override { return false; }
  std::vector<std::string> shown;
};

class QuietScreen final : public ProgressScreen {
 public:
  void SetNotes(const std::string&) override {}
  double ProgressValue() const override { return 0; }
  void ShowProgress(double) override {}
};

// "查看单据明细" on every difference of items 1 to 5: the statement runs on the host's schema and
// the documents it lists add up to the recomputed figure.
TEST(FaultedSampleDetail, DocumentsBehindEveryDifferenceAddUpToTheRecomputedValue) {
  testing::TempDir dir;
  sample::SampleOptions options;
  options.path = dir.path() / "faulted.db";
  options.owner = "demo";
  options.scale = 300;
  options.seed = 5;
  options.faults = sample::FaultSet::kLedgers;
  sample::CreateSample(options);
  HostContext ctx;
  ctx.connection = db::SqliteConnection::Open(options.path, options.owner);
  ctx.user = options.owner;
  const AccountAndPeriods account = LoadAccountAndPeriods(ctx, LocalToday());
  const DateRange range =
      PeriodRangeToDates(ctx, "期间", "期初", account.periods.back(), LocalToday());
  NullMessages messages;
  ReportScreen report(
      ctx, messages, dir.path(),
      {account.userCaption, account.accountCaption, "期初", account.periods.back()});
  ReportScreenSink sink(report);
  QuietScreen screen;
  ASSERT_TRUE(RunItems(ctx, screen, ReportFile(dir.path()), {true, true, true, true, true, false},
                       range, {&sink}));
  int checked = 0;
  for (int row = 1; row < report.grdDiff().Rows(); ++row) {
    report.GrdDiffClick(row, 4);
    report.CmdRptClick(1);
    ASSERT_TRUE(messages.shown.empty()) << messages.shown.front();
    ASSERT_NE(report.DetailList(), nullptr);
    const Grid& list = report.DetailList()->grdList();
    double sum = 0;
    for (int line = 1; line < list.Rows(); ++line) sum += db::Value(list.Text(line, 3)).AsDouble();
    EXPECT_NEAR(sum, db::Value(report.grdDiff().Text(row, 7)).AsDouble(), 0.005)
        << "row " << row << " item " << report.grdDiff().Text(row, 0) << " "
        << report.grdDiff().Text(row, 3);
    ++checked;
  }
  EXPECT_GT(checked, 5);
}

}  // namespace
}  // namespace tallyvet
