// The tallyvet program on a faulted sample account set: reconcile reports exactly the planted
// ledger faults, registration repairs items 1 to 5, and the journal's undo script puts the
// faults back. Also the documents behind every difference, through the screens' classes.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>

#include <nlohmann/json.hpp>

#include "ledger_engine/compare_rows.h"
#include "reconcile_ui/account_set.h"
#include "reconcile_ui/compare_screen.h"
#include "sample/sample.h"

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

class FaultedSample : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    manifest_ = sample::CreateSample({.path = Db(),
                                      .owner = "demo",
                                      .scale = 400,
                                      .seed = 11,
                                      .faults = sample::FaultSet::kLedgers});
    // The document test works on its own copy, whatever the program does to this one.
    std::filesystem::copy_file(Db(), dir_.path() / "pristine.db");
  }

  static std::filesystem::path Db() { return dir_.path() / "faulted.db"; }
  static std::filesystem::path Reports() { return dir_.path() / "reports"; }

  static CliResult Run(const std::string& args) {
    const std::filesystem::path out = dir_.path() / "out.txt", err = dir_.path() / "err.txt";
    const int status = std::system((std::string(TALLYVET_PROGRAM) + " " + args + " >" +
                                    Quoted(out) + " 2>" + Quoted(err) + " </dev/null")
                                       .c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, testing::FileText(out),
            testing::FileText(err)};
  }

  static std::string Reconcile(const std::string& extra) {
    return "reconcile --db " + Quoted(Db()) + " --user demo --from 期初 --to " + lastPeriod_ +
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

  static inline testing::TempDir dir_;
  static inline json manifest_;
  // The sample's periods are the twelve months of 2025.
  static inline const std::string lastPeriod_ = "2025.12";
};

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
  EXPECT_NE(registered.err.find(" 0 failed"), std::string::npos) << registered.err;
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
  db::SqliteConnection::Open(Db(), "demo")->ExecuteScript(testing::FileText(path));
  const CliResult again = Run(Reconcile("--json"));
  EXPECT_EQ(again.status, 1);
  EXPECT_EQ(Reported(again.out), reported);

  // 5. Rebuilding the stock ledger from the documents repairs item 2 alone; its journal's undo
  // script brings the faults back.
  const CliResult rebuilt =
      Run("rebuild --db " + Quoted(Db()) +
          " --user demo --kind 库存 --from ' ' --to 9999-12-31 --report-dir " + Quoted(Reports()));
  EXPECT_EQ(rebuilt.status, 0) << rebuilt.err;
  EXPECT_EQ(Run(Reconcile("--items 2")).status, 0);
  EXPECT_EQ(Run(Reconcile("--items 1")).status, 1);
  const auto rebuildUndo = rebuilt.err.find("undo script: ");
  ASSERT_NE(rebuildUndo, std::string::npos) << rebuilt.err;
  db::SqliteConnection::Open(Db(), "demo")
      ->ExecuteScript(testing::FileText(rebuilt.err.substr(
          rebuildUndo + 13, rebuilt.err.find('\n', rebuildUndo) - rebuildUndo - 13)));
  EXPECT_EQ(Run(Reconcile("--items 2")).status, 1);
}

TEST_F(FaultedSample, ValidationMessagesAndExitStatus) {
  const std::string db = "--db " + Quoted(Db()) + " --user demo ";
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
TEST_F(FaultedSample, DocumentsBehindEveryDifferenceAddUpToTheRecomputedValue) {
  HostContext ctx;
  ctx.connection = db::SqliteConnection::Open(dir_.path() / "pristine.db", "demo");
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

}  // namespace
}  // namespace tallyvet
