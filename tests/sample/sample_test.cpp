#include "sample/sample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "db/sqlite_connection.h"
#include "ledger_engine/check_items.h"
#include "ledger_engine/comparison.h"
#include "ledger_engine/derivation.h"
#include "ledger_engine/key_conditions.h"
#include "sample/account_set_audit.h"
#include "sample/sample_fixture.h"
#include "support/temp_dir.h"

namespace tallyvet::sample {
namespace {

using nlohmann::json;
using testing::AllDifferences;
using testing::Describe;
using testing::Finding;
using testing::KeyText;
using testing::kLines;
using testing::QuietScreen;
using testing::Sample;

class FreshSample : public ::testing::TestWithParam<std::string> {};

// A sample without faults gives no receipt finding, no average-cost group and no ledger
// difference under the version's own statements.
TEST_P(FreshSample, IsCleanUnderEveryStatementOfItsVersion) {
  Sample s(GetParam(), FaultSet::kNone);
  EXPECT_EQ(s.manifest.at("lines"), kLines);
  EXPECT_EQ(s.manifest.at("version"), GetParam());

  const auto flagged = testing::RunReceiptChecks(*s.conn, GetParam());
  EXPECT_TRUE(flagged.empty()) << flagged.size() << " lines flagged, first "
                               << (flagged.empty() ? 0 : flagged.front().line);
  auto groups = s.conn->OpenResultset(testing::CostGroupStatement(GetParam()), 3, 3);
  EXPECT_TRUE(groups->Eof());

  const auto differences = AllDifferences(*s.conn);
  EXPECT_TRUE(differences.empty()) << Describe(differences);

  // The goods ledgers hold exactly the rows their SELECTs give, no more and no fewer.
  for (const auto& l : testing::AllLedgerSql(*s.conn, "DEMO")) {
    if (l.item > 3) continue;
    const auto recomputed = testing::RowsByKey(*s.conn, l.select, l.keys);
    const auto stored = testing::RowsByKey(
        *s.conn, "SELECT " + testing::JoinColumns(l.keys) + " FROM " + l.table, l.keys);
    EXPECT_EQ(recomputed.size(), stored.size()) << "item " << l.item;
    EXPECT_TRUE(std::equal(recomputed.begin(), recomputed.end(), stored.begin(), stored.end(),
                           [](const auto& a, const auto& b) { return a.first == b.first; }))
        << "item " << l.item;
  }
}

// The sample holds what each statement needs to be more than vacuous: every activity type the
// checks name, both kinds of transfer pair, planned-price, void and unconfirmed documents,
// vouchers on excluded inventory accounts, and general-ledger rows from both sources.
TEST_P(FreshSample, HoldsEveryKindOfDocumentTheStatementsDistinguish) {
  Sample s(GetParam(), FaultSet::kNone);
  const auto count = [&](const std::string& sql) {
    auto rs = s.conn->OpenResultset(sql, 3, 3);
    return rs->Fields()[0].Value().AsInteger();
  };
  for (int type :
       {1, 2, 3, 4, 5, 7, 8, 9, 10, 11, 13, 15, 16, 18, 19, 21, 22, 27, 28, 30, 31, 32, 33, 41}) {
    EXPECT_GT(
        count("SELECT COUNT(*) FROM ItemActivity WHERE lngActivityTypeID=" + std::to_string(type)),
        0)
        << "type " << type;
  }
  EXPECT_GT(count("SELECT COUNT(*) FROM ItemActivity WHERE lngActivityTypeID=28 AND "
                  "blnSameGroup=1"),
            0);
  EXPECT_GT(count("SELECT COUNT(*) FROM ItemActivity WHERE lngActivityTypeID=28 AND "
                  "blnSameGroup=0"),
            0);
  EXPECT_GT(count("SELECT COUNT(*) FROM ItemActivityDetail WHERE dblPlanPrice>0 AND "
                  "dblAmount<>dblCostAmount"),
            0);
  EXPECT_GT(count("SELECT COUNT(*) FROM ItemActivity WHERE blnIsVoid=1 OR bytStatus<>2"), 0);
  EXPECT_GT(count("SELECT COUNT(*) FROM VoucherDetail d, Account a WHERE "
                  "d.lngAccountID=a.lngAccountID AND a.lngAccountNatureID=5 AND "
                  "(instr(a.strAccountName,'委托')>0 OR instr(a.strAccountName,'分期')>0 OR "
                  "instr(a.strAccountName,'代销')>0)"),
            0);
  EXPECT_GT(count("SELECT COUNT(*) FROM AccountDaily WHERE dblUnVoucherDebit+dblUnVoucherCredit"
                  "<>0 AND dblPostedDebit+dblPostedCredit+dblUnPostedDebit+dblUnPostedCredit=0"),
            0);
  EXPECT_GT(count("SELECT COUNT(*) FROM AccountDaily WHERE dblUnVoucherDebit+dblUnVoucherCredit"
                  "=0 AND dblPostedDebit+dblPostedCredit+dblUnPostedDebit+dblUnPostedCredit<>0"),
            0);
  if (GetParam() == "8.10") {
    EXPECT_EQ(count("SELECT COUNT(*) FROM ItemActivityDetail d, ItemActivity a WHERE "
                    "a.lngActivityID=d.lngActivityID AND a.lngActivityTypeID=28 AND "
                    "(d.dblAmount<>0 OR d.dblCostAmount<>0)"),
              0);
  }
}

INSTANTIATE_TEST_SUITE_P(Versions, FreshSample, ::testing::Values("8.10", "9.00"));

class FaultedSample : public ::testing::TestWithParam<std::string> {};

// Every planted fault is found exactly as the manifest says, and nothing else is.
TEST_P(FaultedSample, DiffersExactlyAsItsManifestSays) {
  Sample s(GetParam(), FaultSet::kAll);
  const json& m = s.manifest;

  // Receipt checks: the same lines, kinds and figures.
  std::multiset<std::string> expected, found;
  for (const json& f : m.at("receipt_faults")) {
    expected.insert(f.at("kind").get<std::string>() + "#" +
                    std::to_string(f.at("lngActivityDetailID").get<long long>()) + "#" +
                    std::to_string(testing::Cents2(f.at("costAmount").get<double>())) + "#" +
                    std::to_string(testing::Cents2(f.at("secondAmount").get<double>())));
  }
  for (const auto& r : testing::RunReceiptChecks(*s.conn, GetParam())) {
    found.insert(r.kind + "#" + std::to_string(r.line) + "#" +
                 std::to_string(testing::Cents2(r.costAmount)) + "#" +
                 std::to_string(testing::Cents2(r.secondAmount)));
  }
  EXPECT_EQ(found, expected);
  std::set<std::string> kinds;
  for (const json& f : m.at("receipt_faults")) kinds.insert(f.at("check").get<std::string>());
  const std::set<std::string> allChecks = {"transfer_out", "inbound", "outbound", "planned_price"};
  for (const std::string& check : allChecks) EXPECT_TRUE(kinds.count(check)) << check;
  // The pair check runs only above "8.10" compared as text: not for "10.0".
  EXPECT_EQ(kinds.count("transfer_pair"), GetParam() > "8.10" ? 1u : 0u);

  // Average-cost groups.
  auto groups = s.conn->OpenResultset(testing::CostGroupStatement(GetParam()), 3, 3);
  std::size_t groupCount = 0;
  for (; !groups->Eof(); groups->MoveNext(), ++groupCount) {
    ASSERT_LT(groupCount, m.at("cost_groups").size());
    const json& g = m.at("cost_groups")[groupCount];
    EXPECT_EQ(groups->Fields()["intYear"].Value().AsInteger(), g.at("intYear"));
    EXPECT_EQ(groups->Fields()["bytPeriod"].Value().AsInteger(), g.at("bytPeriod"));
    EXPECT_EQ(groups->Fields()["lngItemID"].Value().AsInteger(), g.at("lngItemID"));
    const double difference = groups->Fields()["dblSumCost"].Value().AsDouble() -
                              groups->Fields()["dblSumAvgCost"].Value().AsDouble();
    EXPECT_NEAR(difference, g.at("difference").get<double>(), 0.005);
  }
  EXPECT_EQ(groupCount, m.at("cost_groups").size());
  EXPECT_EQ(groupCount, 1u);

  // Ledger differences: one finding for each listed, none beyond.
  const auto all = testing::AllLedgerSql(*s.conn, "DEMO");
  std::multiset<std::string> expectedLedger, foundLedger;
  std::set<int> items;
  for (const json& fault : m.at("ledger_faults")) {
    const int item = fault.at("item");
    items.insert(item);
    for (const json& f : fault.at("findings")) {
      expectedLedger.insert(std::to_string(item) + " " + KeyText(all[item - 1].keys, f.at("keys")) +
                            " " + f.at("column").get<std::string>() + " " +
                            std::to_string(testing::Cents2(f.at("stored").get<double>())) + " " +
                            std::to_string(testing::Cents2(f.at("recomputed").get<double>())));
    }
  }
  // The document faults' findings, each on a row of its own, make up the rest.
  for (const json& fault : m.at("document_faults")) {
    for (const json& f : fault.at("findings")) {
      const int item = f.at("item");
      expectedLedger.insert(std::to_string(item) + " " + KeyText(all[item - 1].keys, f.at("keys")) +
                            " " + f.at("column").get<std::string>() + " " +
                            std::to_string(testing::Cents2(f.at("stored").get<double>())) + " " +
                            std::to_string(testing::Cents2(f.at("recomputed").get<double>())));
    }
  }
  EXPECT_FALSE(m.at("document_faults").empty());
  for (const Finding& f : AllDifferences(*s.conn)) {
    foundLedger.insert(std::to_string(f.item) + " " + f.keys + " " + f.column + " " +
                       std::to_string(testing::Cents2(f.stored)) + " " +
                       std::to_string(testing::Cents2(f.recomputed)));
  }
  EXPECT_EQ(foundLedger, expectedLedger);
  EXPECT_EQ(items, (std::set<int>{1, 2, 3, 4, 5, 6}));
  // Three kinds of fault for each ledger item, one for the vouchers.
  EXPECT_EQ(m.at("ledger_faults").size(), 16u);
  EXPECT_GE(m.at("silent_faults").size(), 6u);
}

// Receipt faults leave the ledgers agreeing with the documents; ledger faults leave the
// documents passing every receipt check.
TEST_P(FaultedSample, EachFaultSetStaysOnItsSide) {
  Sample receipts(GetParam(), FaultSet::kReceipts);
  EXPECT_TRUE(AllDifferences(*receipts.conn).empty());
  EXPECT_TRUE(receipts.manifest.at("ledger_faults").empty());
  EXPECT_FALSE(receipts.manifest.at("receipt_faults").empty());

  Sample ledgers(GetParam(), FaultSet::kLedgers);
  EXPECT_TRUE(testing::RunReceiptChecks(*ledgers.conn, GetParam()).empty());
  EXPECT_TRUE(ledgers.manifest.at("receipt_faults").empty());
  EXPECT_TRUE(ledgers.manifest.at("cost_groups").empty());
  EXPECT_FALSE(AllDifferences(*ledgers.conn).empty());
}

INSTANTIATE_TEST_SUITE_P(Versions, FaultedSample, ::testing::Values("8.10", "9.00", "10.0"));

// ---------------------------------------------------------------------------------------------
// Through the ledger engine

struct Collected : DifferenceSink {
  void RecordDifference(const DifferenceRecord& r, bool) override { records.push_back(r); }
  std::vector<DifferenceRecord> records;
};

// The engine's own derivation and comparison agree with the manifest: clean items are clean, and
// each difference it records is one the manifest lists, with the manifest's figures.
TEST(SampleThroughTheEngine, ComparisonRecordsWhatTheManifestLists) {
  for (const FaultSet faults : {FaultSet::kNone, FaultSet::kAll}) {
    Sample s("9.00", faults);
    HostContext ctx;
    ctx.connection = s.conn;
    ctx.user = "demo";
    ctx.AccountStartDate = "2025-01-01";
    QuietScreen screen;
    InitCheckItems(ctx);
    DeriveGoodsLedgerSql(ctx, screen);
    DeriveAccountLedgerSql(ctx, screen);
    ReportFile report(s.dir.path());
    for (int item = 1; item <= 6; ++item) {
      Collected sink;
      std::string error;
      const bool clean =
          CompareLedger(ctx, screen, report, item, " ", "9999-12-31", true, false, {&sink}, &error);
      EXPECT_EQ(error, "") << "item " << item;
      std::multiset<std::string> expected, recorded;
      for (const json& fault : s.manifest.at("ledger_faults")) {
        if (fault.at("item") != item) continue;
        for (const json& f : fault.at("findings")) {
          expected.insert(f.at("column").get<std::string>() + " " +
                          std::to_string(testing::Cents2(f.at("stored").get<double>())) + " " +
                          std::to_string(testing::Cents2(f.at("recomputed").get<double>())));
        }
      }
      for (const json& fault : s.manifest.at("document_faults")) {
        for (const json& f : fault.at("findings")) {
          if (f.at("item") != item) continue;
          expected.insert(f.at("column").get<std::string>() + " " +
                          std::to_string(testing::Cents2(f.at("stored").get<double>())) + " " +
                          std::to_string(testing::Cents2(f.at("recomputed").get<double>())));
        }
      }
      for (const DifferenceRecord& r : sink.records) {
        recorded.insert(r.columnName + " " + std::to_string(testing::Cents2(r.storedValue)) + " " +
                        std::to_string(testing::Cents2(r.recomputedValue)));
      }
      EXPECT_EQ(recorded, expected) << "item " << item;
      EXPECT_EQ(clean, expected.empty()) << "item " << item;
    }
  }
}

// The date range of a comparison is put before each GROUP BY as "strDate" without a table: it
// must resolve in every derived SELECT, over a range of one period as well.
TEST(SampleThroughTheEngine, OnePeriodRangeRunsForEveryItem) {
  Sample s("8.10", FaultSet::kNone);
  HostContext ctx;
  ctx.connection = s.conn;
  ctx.user = "demo";
  ctx.AccountStartDate = "2025-01-01";
  QuietScreen screen;
  InitCheckItems(ctx);
  DeriveGoodsLedgerSql(ctx, screen);
  DeriveAccountLedgerSql(ctx, screen);
  ReportFile report(s.dir.path());
  for (int item = 1; item <= 6; ++item) {
    std::string error;
    EXPECT_TRUE(CompareLedger(ctx, screen, report, item, "2025-03-01", "2025-03-31", false, false,
                              {}, &error))
        << "item " << item << ": " << error;
  }
}

// The document list behind a difference prefixes each item's SQL (cut at GROUP BY) with the
// document's date, type and number, named without a table.
TEST(SampleThroughTheEngine, DocumentDetailStatementsResolve) {
  Sample s("9.00", FaultSet::kNone);
  HostContext ctx;
  ctx.connection = s.conn;
  ctx.user = "demo";
  QuietScreen screen;
  InitCheckItems(ctx);
  DeriveGoodsLedgerSql(ctx, screen);
  DeriveAccountLedgerSql(ctx, screen);
  for (int item = 1; item <= 6; ++item) {
    std::string sql = ctx.CheckItems.SelectSql[CheckItemTable::Index(item)];
    sql = ReplaceAll(sql.substr(0, sql.find("GROUP BY")), "SUM(", "(") + " AND 1=1";
    const std::string prefix =
        item == 4   ? "SELECT strDate,lngVoucherTypeID,Lpad(intVoucherNO,4,'0'),"
        : item == 6 ? "SELECT ItemActivity.strDate,lngReceiptTypeID,ltrim(strReceiptNO) || "
                      "Lpad(lngReceiptNO,4,'0'),"
                    : "SELECT strDate,lngReceiptTypeID,ltrim(strReceiptNO) || "
                      "Lpad(lngReceiptNO,4,'0'),";
    sql = ReplaceAll(sql, "SELECT", prefix);
    EXPECT_NO_THROW(s.conn->OpenResultset(sql, 3, 3)) << "item " << item << ": " << sql;
  }
}

// ---------------------------------------------------------------------------------------------
// The file

std::string Dump(const std::filesystem::path& path) {
  auto conn = db::SqliteConnection::Open(path, "demo");
  std::string dump;
  auto tables = conn->OpenResultset(
      "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite_%' ORDER BY "
      "name",
      3, 3);
  for (; !tables->Eof(); tables->MoveNext()) {
    const std::string table = tables->Fields()[0].Value().AsText();
    dump += "## " + table + "\n";
    auto rows = conn->OpenResultset("SELECT * FROM " + table + " ORDER BY rowid", 3, 3);
    for (; !rows->Eof(); rows->MoveNext()) {
      for (std::size_t c = 0; c < rows->Fields().Count(); ++c) {
        dump += rows->Fields()[c].Value().AsText() + "|";
      }
      dump += "\n";
    }
  }
  return dump;
}

TEST(SampleFile, SameSeedGivesTheSameContentAndAnotherSeedDoesNot) {
  Sample a("9.00", FaultSet::kAll, 11), b("9.00", FaultSet::kAll, 11),
      c("9.00", FaultSet::kAll, 12);
  EXPECT_EQ(a.manifest, b.manifest);
  const std::string dumpA = Dump(a.path);
  EXPECT_EQ(dumpA, Dump(b.path));
  EXPECT_NE(dumpA, Dump(c.path));
}

TEST(SampleFile, RefusesAnExistingFileUnlessAskedToReplaceIt) {
  tallyvet::testing::TempDir dir;
  SampleOptions o;
  o.path = dir / "taken.db";
  o.scale = 50;
  { std::ofstream(o.path) << "keep me"; }
  EXPECT_THROW(CreateSample(o), std::runtime_error);
  EXPECT_EQ(std::filesystem::file_size(o.path), 7u);
  o.overwrite = true;
  const json m = CreateSample(o);
  EXPECT_EQ(m.at("lines"), 50);
  EXPECT_NO_THROW(db::SqliteConnection::Open(o.path, "tallyvet"));
}

TEST(SampleFile, LeavesANormalJournalAndTheSourceUnderTheUpperCasedOwner) {
  Sample s("9.00", FaultSet::kNone);
  auto mode = s.conn->OpenResultset("PRAGMA journal_mode", 3, 3);
  EXPECT_EQ(mode->Fields()[0].Value().AsText(), "delete");
  auto source = s.conn->OpenResultset(
      "SELECT NAME, TYPE, COUNT(*), MIN(LINE), MAX(LINE), SUM(substr(TEXT,-1)<>char(10)) FROM "
      "ALL_SOURCE WHERE OWNER='DEMO' GROUP BY NAME, TYPE ORDER BY NAME",
      3, 3);
  ASSERT_FALSE(source->Eof());
  EXPECT_EQ(source->Fields()[0].Value().AsText(), "CHANGEALLACCOUNT_FROM_VOUCHER");
  EXPECT_EQ(source->Fields()[1].Value().AsText(), "FUNCTION");
  EXPECT_EQ(source->Fields()[3].Value().AsInteger(), 1);
  EXPECT_EQ(source->Fields()[4].Value().AsInteger(), source->Fields()[2].Value().AsInteger());
  EXPECT_EQ(source->Fields()[5].Value().AsInteger(), 0);
  source->MoveNext();
  ASSERT_FALSE(source->Eof());
  EXPECT_EQ(source->Fields()[0].Value().AsText(), "MDLITEM");
  EXPECT_EQ(source->Fields()[1].Value().AsText(), "PACKAGE BODY");
  EXPECT_EQ(source->Fields()[5].Value().AsInteger(), 0);
}

// A comparison stops at a column without a caption, so every ledger column needs one.
TEST(SampleFile, EveryLedgerColumnHasACaption) {
  Sample s("9.00", FaultSet::kNone, 1, 50);
  FieldDictionary dictionary;
  dictionary.BuildFieldDictionary();
  for (const char* table : {"ItemDaily2", "PositionDaily", "ItemDaily1", "AccountDaily"}) {
    auto columns = s.conn->OpenResultset(std::string("PRAGMA table_info(") + table + ")", 3, 3);
    for (; !columns->Eof(); columns->MoveNext()) {
      const std::string column = columns->Fields()["name"].Value().AsText();
      EXPECT_NO_THROW(dictionary.Caption(column)) << table << "." << column;
    }
  }
}

// The stored SELECTs name their summed columns as the INSERT lists them (two spellings the
// derivation maps aside), so the engine's column matching needs no shortening.
TEST(SampleFile, StoredSelectsLineUpWithTheirInsertLists) {
  Sample s("9.00", FaultSet::kNone, 1, 50);
  for (const auto& l : testing::AllLedgerSql(*s.conn, "DEMO")) {
    if (l.item > 4) continue;
    auto rs = s.conn->OpenResultset(l.select, 3, 3);
    std::vector<std::string> names;
    for (std::size_t c = 0; c < rs->Fields().Count(); ++c) names.push_back(rs->Fields()[c].Name());
    std::vector<std::string> listed = l.keys;
    listed.insert(listed.end(), l.values.begin(), l.values.end());
    for (std::string& n : names) {
      if (n == "NVL(POSITION.LNGPOSITIONGROUPID,0)") n = "LNGPOSITIONGROUPID";
      if (n == "DBLBORROWPURCHASEDAMOUNT") n = "DBLBORROWPURCHASEAMOUNT";
    }
    EXPECT_EQ(names, listed) << "item " << l.item;
  }
}

}  // namespace
}  // namespace tallyvet::sample
