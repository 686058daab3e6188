// The receipt audit on whole sample account sets with receipt faults planted: the checks flag
// exactly the manifest's lines, and after the adjustment the lines agree and the stock ledger
// reconciles clean over every period. Each sample is audited three times: as the embedded database
// file, through unixODBC with the SQLite3 driver and the Oracle functions loaded, and copied into a
// schema of the test's PostgreSQL server.
#include <gtest/gtest.h>

#include <set>

#include "db/odbc_connection.h"
#include "ledger_engine/check_items.h"
#include "ledger_engine/comparison.h"
#include "ledger_engine/derivation.h"
#include "receipt_audit/account_set_fixture.h"
#include "receipt_audit/check_activity_screen.h"
#include "receipt_audit/finding_output.h"
#include "sample/sample.h"
#include "support/file_text.h"
#include "support/odbc_source.h"
#include "support/postgres_source.h"

namespace tallyvet::receipt_audit {
namespace {

enum class Backend { kEmbedded, kOdbc, kPostgres };

// The sample's version, and where it is kept.
class EndToEnd : public ::testing::TestWithParam<std::tuple<std::string, Backend>> {};

TEST_P(EndToEnd, FlagsExactlyTheManifestLinesAndAdjustsThemClean) {
  testing::TempDir folder;
  const sample::SampleOptions options{.path = folder / "receipts.db",
                                      .version = std::get<0>(GetParam()),
                                      .scale = 3000,
                                      .faults = sample::FaultSet::kReceipts};
  const nlohmann::json faults = sample::CreateSample(options)["receipt_faults"];
  ASSERT_FALSE(faults.empty());

  HostContext ctx;
  const Backend backend = std::get<1>(GetParam());
  if (backend == Backend::kPostgres) {
    if (testing::PostgresOdbcString() == nullptr)
      GTEST_SKIP() << "no PostgreSQL server: TALLYVET_TEST_PG_ODBC is not set";
    testing::LoadIntoPostgres(options.path, options.owner);
    // In autocommit, as every job hands it over: the adjustment opens its own transaction.
    ctx.connection = db::OdbcConnection::Open(testing::PostgresOdbcString(), options.owner);
  } else if (backend == Backend::kOdbc) {
    ctx.connection =
        db::OdbcConnection::Open(testing::SqliteOdbcString(options.path), options.owner);
  } else {
    ctx.connection = db::SqliteConnection::Open(options.path, options.owner);
  }
  ctx.user = options.owner;
  fixture::RecordingMessageBox box;
  CheckActivityScreen screen(ctx, box);
  screen.Form_Load();
  screen.cmdRpt_Click(0);
  ASSERT_EQ(screen.cmdRpt(0).caption, "开始调整") << screen.LastError();

  // Flagged exactly as planted: each line as the command line's JSON gives it.
  std::set<std::string> flagged, planted, ids;
  for (const CheckFinding& f : screen.Findings()) {
    nlohmann::json j = FindingJson(f);
    for (const char* shownOnly : {"receiptType", "receiptNo", "item", "position"})
      j.erase(shownOnly);
    flagged.insert(j.dump());
    ids.insert(f.lngActivityDetailID);
  }
  for (nlohmann::json fault : faults) {
    fault.erase("check");
    planted.insert(fault.dump());
  }
  EXPECT_EQ(flagged, planted);

  screen.SetJournalFolder(folder.path());
  screen.cmdRpt_Click(0);
  const AdjustmentOutcome& outcome = screen.LastAdjustment().value();
  // The lines' figures and the stock ledger's rows before the adjustment are kept, with the one
  // script that puts them back.
  EXPECT_TRUE(std::filesystem::exists(outcome.journal));
  const std::string undo = testing::FileText(outcome.undoScript);
  EXPECT_NE(undo.find("INSERT INTO POSITIONDAILY("), std::string::npos);
  EXPECT_NE(undo.find("UPDATE ItemActivityDetail SET dblAmount="), std::string::npos);
  EXPECT_EQ(box.shown, std::vector<std::string>{});
  EXPECT_EQ(outcome.writeBacks.size(), faults.size());
  for (const auto& w : outcome.writeBacks) EXPECT_TRUE(w.ok) << w.statement;
  EXPECT_TRUE(outcome.reregistered.value_or(false)) << outcome.reregistrationError.value_or("");

  // The written-back lines agree: a second check finds nothing but the transfer lines that were
  // flagged only for being entered by hand (the write-back sets their figures, not that flag).
  CheckActivityScreen again(ctx, box);
  again.Form_Load();
  again.cmdRpt_Click(0);
  for (const CheckFinding& f : again.Findings()) {
    EXPECT_TRUE(ids.count(f.lngActivityDetailID) && f.kind == "转仓单") << f.lngActivityDetailID;
  }

  // And the stock ledger agrees with the lines over every period.
  DeriveGoodsLedgerSql(ctx, again);
  std::string error;
  EXPECT_TRUE(CompareLedger(ctx, again, ReportFile(folder.path()), 2, " ", "9999-12-31",
                            /*writeReport=*/false, /*correct=*/false, {}, &error))
      << error;
}

INSTANTIATE_TEST_SUITE_P(VersionsAndBackends, EndToEnd,
                         ::testing::Combine(::testing::Values("9.00", "8.10"),
                                            ::testing::Values(Backend::kEmbedded, Backend::kOdbc,
                                                              Backend::kPostgres)),
                         [](const auto& info) {
                           const Backend b = std::get<1>(info.param);
                           return "V" + std::get<0>(info.param).substr(0, 1) +
                                  (b == Backend::kPostgres ? "Postgres"
                                   : b == Backend::kOdbc   ? "Odbc"
                                                           : "Embedded");
                         });

}  // namespace
}  // namespace tallyvet::receipt_audit
