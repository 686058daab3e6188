// The receipt audit on whole sample account sets with receipt faults planted: the checks flag
// exactly the lines the manifest lists, and after the adjustment the lines agree and the stock
// ledger reconciles clean over every period.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <map>
#include <set>

#include "db/sqlite_connection.h"
#include "ledger_engine/check_items.h"
#include "ledger_engine/comparison.h"
#include "ledger_engine/derivation.h"
#include "receipt_audit/account_set_fixture.h"
#include "receipt_audit/check_activity_screen.h"
#include "sample/sample.h"

namespace tallyvet::receipt_audit {
namespace {

namespace fs = std::filesystem;

class TempFolder {
 public:
  TempFolder() {
    static std::atomic<int> n{0};
    path_ = fs::temp_directory_path() /
            ("tallyvet_receipt_e2e_" + std::to_string(getpid()) + "_" + std::to_string(++n));
    fs::create_directories(path_);
  }
  ~TempFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

class QuietScreen final : public ProgressScreen {
 public:
  void SetNotes(const std::string&) override {}
  double ProgressValue() const override { return display_.Value(); }
  void ShowProgress(double percent) override { display_.ShowProgress(percent); }
  std::vector<std::string>* List1() override { return &list_; }

 private:
  ProgressDisplay display_;
  std::vector<std::string> list_;
};

class CountingSink final : public DifferenceSink {
 public:
  void RecordDifference(const DifferenceRecord& record, bool) override {
    descriptions.push_back(record.keyDescription + " " + record.columnName);
  }
  std::vector<std::string> descriptions;
};

class EndToEnd : public ::testing::TestWithParam<std::string> {};

TEST_P(EndToEnd, FlagsExactlyTheManifestLinesAndAdjustsThemClean) {
  TempFolder folder;
  sample::SampleOptions options;
  options.path = folder.path() / "receipts.db";
  options.version = GetParam();
  options.scale = 3000;
  options.seed = 11;
  options.faults = sample::FaultSet::kReceipts;
  const nlohmann::json manifest = sample::CreateSample(options);
  ASSERT_FALSE(manifest["receipt_faults"].empty());

  std::shared_ptr<db::SqliteConnection> conn =
      db::SqliteConnection::Open(options.path, options.owner);
  HostContext ctx;
  ctx.connection = conn;
  ctx.user = options.owner;
  fixture::RecordingMessageBox box;
  CheckActivityScreen screen(ctx, box);
  screen.Form_Load();
  ASSERT_EQ(screen.AccountSetVersion(), GetParam().substr(0, 4));
  screen.cmdRpt_Click(0);
  ASSERT_EQ(screen.cmdRpt(0).caption, "开始调整") << screen.LastError();

  // Flagged exactly as planted, kind, amounts and difference included.
  std::map<std::string, const CheckFinding*> found;
  for (const CheckFinding& f : screen.Findings()) {
    EXPECT_TRUE(found.emplace(f.lngActivityDetailID, &f).second)
        << "listed twice: " << f.lngActivityDetailID;
  }
  std::set<std::string> planted;
  for (const auto& fault : manifest["receipt_faults"]) {
    const std::string id = std::to_string(fault["lngActivityDetailID"].get<std::int64_t>());
    planted.insert(id);
    SCOPED_TRACE("planted line " + id);
    const auto it = found.find(id);
    ASSERT_NE(it, found.end());
    EXPECT_EQ(it->second->kind, fault["kind"].get<std::string>());
    EXPECT_NEAR(it->second->costAmount, fault["costAmount"].get<double>(), 1e-9);
    EXPECT_NEAR(it->second->secondAmount, fault["secondAmount"].get<double>(), 1e-9);
    EXPECT_NEAR(it->second->difference, fault["difference"].get<double>(), 5e-5);
  }
  for (const auto& [id, f] : found) EXPECT_TRUE(planted.count(id)) << "not planted: " << id;

  screen.cmdRpt_Click(0);
  ASSERT_EQ(screen.cmdRpt(0).caption, "开整完毕");
  const AdjustmentOutcome& outcome = *screen.LastAdjustment();
  EXPECT_TRUE(box.shown.empty()) << box.shown.front().text;
  EXPECT_EQ(outcome.writeBacks.size(), planted.size());
  for (const auto& w : outcome.writeBacks) EXPECT_TRUE(w.ok) << w.statement;
  EXPECT_TRUE(outcome.reregistered.value_or(false)) << outcome.reregistrationError.value_or("");
  // The average-cost update finds the planted groups, and only those.
  ASSERT_EQ(outcome.averageCostUpdates.size(), manifest["cost_groups"].size());
  for (const auto& group : manifest["cost_groups"]) {
    const auto same = [&](const AdjustmentOutcome::AverageCostUpdate& u) {
      return u.intYear == std::to_string(group["intYear"].get<int>()) &&
             u.bytPeriod == std::to_string(group["bytPeriod"].get<int>()) &&
             u.lngItemID == std::to_string(group["lngItemID"].get<std::int64_t>());
    };
    const auto it =
        std::find_if(outcome.averageCostUpdates.begin(), outcome.averageCostUpdates.end(), same);
    ASSERT_NE(it, outcome.averageCostUpdates.end()) << group.dump();
    EXPECT_DOUBLE_EQ(it->difference, group["difference"].get<double>());
    EXPECT_TRUE(it->ok) << it->statement;
  }
  screen.cmdRpt_Click(1);

  // The written-back lines agree: a second check finds nothing but the transfer lines that were
  // flagged only for being entered by hand (the write-back sets their figures, not that flag).
  CheckActivityScreen again(ctx, box);
  again.Form_Load();
  again.cmdRpt_Click(0);
  for (const CheckFinding& f : again.Findings()) {
    SCOPED_TRACE("still flagged: line " + f.lngActivityDetailID);
    EXPECT_TRUE(planted.count(f.lngActivityDetailID));
    const std::string where =
        " FROM ItemActivityDetail WHERE lngActivityDetailID=" + f.lngActivityDetailID;
    EXPECT_EQ(conn->OpenResultset("SELECT blnIsManual" + where)->Fields()[0].Value().AsInteger(),
              1);
    EXPECT_EQ(conn->OpenResultset("SELECT dblAmount" + where)->Fields()[0].Value().AsDouble(), 0);
    EXPECT_EQ(conn->OpenResultset("SELECT dblCostAmount" + where)->Fields()[0].Value().AsDouble(),
              0);
  }
  again.cmdRpt_Click(1);

  // And the stock ledger agrees with the lines over every period.
  InitCheckItems(ctx);
  QuietScreen quiet;
  DeriveGoodsLedgerSql(ctx, quiet);
  CountingSink sink;
  std::string error;
  const bool clean = CompareLedger(ctx, quiet, ReportFile(folder.path()), 2, " ", "9999-12-31",
                                   /*writeReport=*/false, /*correct=*/false, {&sink}, &error);
  EXPECT_TRUE(error.empty()) << error;
  EXPECT_TRUE(clean);
  EXPECT_TRUE(sink.descriptions.empty()) << sink.descriptions.front();
  ctx.dictionary.Release();
}

INSTANTIATE_TEST_SUITE_P(Versions, EndToEnd, ::testing::Values("9.00", "8.10"));

}  // namespace
}  // namespace tallyvet::receipt_audit
