// The document fault set: what it plants differs exactly as the manifest says, and every row that
// differs carries exactly one expected cause of a kind the planting can vouch for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <string>

#include "sample/sample.h"
#include "sample/sample_fixture.h"

namespace tallyvet::sample {
namespace {

using nlohmann::json;
using testing::AllDifferences;
using testing::Describe;
using testing::Finding;
using testing::KeyText;
using testing::Sample;

const std::vector<std::string>& KeyOrder(int item) {
  static const std::map<int, std::vector<std::string>> orders = {
      {1, {"STRDATE", "LNGITEMID", "LNGPOSITIONGROUPID"}},
      {2, {"STRDATE", "LNGITEMID", "LNGPOSITIONID"}},
      {3, {"STRDATE", "LNGITEMID", "LNGCUSTOMERID"}},
      {6, {"STRDATE", "LNGVOUCHERSOURCEID", "INTVOUCHERNO"}}};
  return orders.at(item);
}

std::string RowText(int item, const json& keys) {
  return std::to_string(item) + " " + KeyText(KeyOrder(item), keys);
}

std::string FindingText(int item, const std::string& keys, const std::string& column, double stored,
                        double recomputed) {
  return std::to_string(item) + " " + keys + " " + column + " " +
         std::to_string(testing::Cents2(stored)) + " " +
         std::to_string(testing::Cents2(recomputed));
}

class DocumentFaults : public ::testing::TestWithParam<std::string> {};

TEST_P(DocumentFaults, EveryDifferingRowHasExactlyOneCauseAndTheManifestListsEveryDifference) {
  Sample s(GetParam(), FaultSet::kDocuments);
  const json& m = s.manifest;
  EXPECT_TRUE(m.at("ledger_faults").empty());
  EXPECT_TRUE(m.at("receipt_faults").empty());
  ASSERT_FALSE(m.at("document_faults").empty());

  // The findings are exactly the differences, figure for figure.
  std::multiset<std::string> expected, found;
  std::set<std::string> listedRows;
  for (const json& fault : m.at("document_faults")) {
    for (const json& f : fault.at("findings")) {
      const int item = f.at("item");
      expected.insert(FindingText(item, KeyText(KeyOrder(item), f.at("keys")), f.at("column"),
                                  f.at("stored"), f.at("recomputed")));
      listedRows.insert(RowText(item, f.at("keys")));
    }
  }
  const std::vector<Finding> differences = AllDifferences(*s.conn);
  std::set<std::string> differingRows;
  for (const Finding& f : differences) {
    found.insert(FindingText(f.item, f.keys, f.column, f.stored, f.recomputed));
    differingRows.insert(std::to_string(f.item) + " " + f.keys);
  }
  EXPECT_EQ(found, expected) << Describe(differences);

  // One cause per differing row, none for a row that agrees.
  std::map<std::string, int> causesPerRow;
  std::map<std::string, std::map<int, int>> kinds;  // kind -> item -> causes
  std::map<std::string, json> causeOf;
  for (const json& fault : m.at("document_faults")) {
    for (const json& c : fault.at("causes")) {
      const int item = c.at("item");
      const std::string row = RowText(item, c.at("keys"));
      ++causesPerRow[row];
      causeOf[row] = c;
      ++kinds[c.at("kind")][item];
      EXPECT_TRUE(differingRows.count(row)) << "a cause for a row that agrees: " << row;
    }
  }
  for (const std::string& row : differingRows) {
    EXPECT_EQ(causesPerRow[row], 1) << row;
  }
  EXPECT_EQ(listedRows, differingRows);

  // Every kind at least twice in the goods ledgers, and item 6 reached at least once.
  int voucherCauses = 0;
  for (const char* kind : {"moved", "unposted", "withdrawn", "rounding", "unexplained"}) {
    int goods = 0;
    for (const auto& [item, count] : kinds[kind]) {
      if (item <= 3) goods += count;
      if (item == 6) voucherCauses += count;
    }
    EXPECT_GE(goods, 2) << kind;
  }
  EXPECT_GE(voucherCauses, 1);

  // A moved row names its partner, which is moved back by the same document and differs from it
  // in one key column, with the opposite difference on every column.
  std::map<std::string, double> differenceOf;  // "row|column" -> recomputed - stored
  for (const Finding& f : differences) {
    differenceOf[std::to_string(f.item) + " " + f.keys + "|" + f.column] = f.recomputed - f.stored;
  }
  for (const auto& [row, c] : causeOf) {
    const std::string kind = c.at("kind");
    if (kind == "unexplained") {
      EXPECT_TRUE(c.at("documents").empty()) << row;
    } else {
      EXPECT_EQ(c.at("documents").size(), 1u) << row;
    }
    if (kind != "moved") {
      EXPECT_FALSE(c.contains("other_keys")) << row;
      continue;
    }
    const int item = c.at("item");
    const std::string other = RowText(item, c.at("other_keys"));
    ASSERT_TRUE(causeOf.count(other)) << row << " names " << other;
    EXPECT_EQ(causeOf[other].at("kind"), "moved");
    EXPECT_EQ(causeOf[other].at("documents"), c.at("documents"));
    EXPECT_EQ(causeOf[other].at("other_keys"), c.at("keys"));
    int differentKeys = 0;
    for (const auto& [column, value] : c.at("keys").items()) {
      differentKeys += c.at("other_keys").at(column) != value;
    }
    EXPECT_EQ(differentKeys, 1) << row;
    for (const auto& [key, difference] : differenceOf) {
      if (key.rfind(row + "|", 0) != 0) continue;
      const std::string column = key.substr(row.size() + 1);
      EXPECT_NEAR(differenceOf[other + "|" + column], -difference, 0.005) << key;
    }
  }

  // A rounding row differs by no more than half a cent for each valid line under its key; every
  // other row by more. A withdrawn row names a voided or unconfirmed document, the others a
  // valid one.
  const auto value = [&](const std::string& sql) {
    auto rs = s.conn->OpenResultset(sql, 3, 3);
    return rs->Fields()[0].Value().AsInteger();
  };
  const auto validLines = [&](int item, const json& keys) {
    const std::string third = item == 1
                                  ? "p.lngPositionGroupID=" + keys.at("LNGPOSITIONGROUPID").dump()
                              : item == 2 ? "d.lngPositionID=" + keys.at("LNGPOSITIONID").dump()
                                          : "a.lngCustomerID=" + keys.at("LNGCUSTOMERID").dump();
    return value(
        "SELECT COUNT(*) FROM ItemActivity a JOIN ItemActivityDetail d ON "
        "d.lngActivityID=a.lngActivityID JOIN Position p ON p.lngPositionID=d.lngPositionID "
        "WHERE a.blnIsVoid=0 AND a.bytStatus=2 AND a.strDate='" +
        keys.at("STRDATE").get<std::string>() + "' AND d.lngItemID=" + keys.at("LNGITEMID").dump() +
        " AND " + third);
  };
  std::map<std::string, double> largest;  // row -> its largest difference
  for (const Finding& f : differences) {
    if (f.item > 3) continue;
    double& off = largest[std::to_string(f.item) + " " + f.keys];
    off = std::max(off, std::abs(f.recomputed - f.stored));
  }
  for (const auto& [row, off] : largest) {
    const json& c = causeOf[row];
    const double tolerance = 0.005 * static_cast<double>(validLines(c.at("item"), c.at("keys")));
    if (c.at("kind") == "rounding") {
      EXPECT_LE(off, tolerance + 1e-9) << row;
    } else {
      EXPECT_GT(off, tolerance) << row;
    }
  }
  for (const auto& [row, c] : causeOf) {
    if (c.at("documents").empty()) continue;
    const std::string valid =
        "SELECT COUNT(*) FROM ItemActivity WHERE blnIsVoid=0 AND bytStatus=2 AND lngActivityID=" +
        c.at("documents")[0].dump();
    EXPECT_EQ(value(valid), c.at("kind") == "withdrawn" ? 0 : 1) << row;
  }

  // Documents were edited, not their costs: the receipt checks and the average-cost groups still
  // find nothing.
  EXPECT_TRUE(testing::RunReceiptChecks(*s.conn, GetParam()).empty());
  auto groups = s.conn->OpenResultset(testing::CostGroupStatement(GetParam()), 3, 3);
  EXPECT_TRUE(groups->Eof());
}

INSTANTIATE_TEST_SUITE_P(Versions, DocumentFaults, ::testing::Values("8.10", "9.00"));

// The same seed plants the same faults; another seed picks other documents.
TEST(DocumentFaultsSeed, SameSeedPlantsTheSameFaults) {
  Sample a("9.00", FaultSet::kDocuments, 3, 2000), b("9.00", FaultSet::kDocuments, 3, 2000),
      c("9.00", FaultSet::kDocuments, 4, 2000);
  EXPECT_EQ(a.manifest.at("document_faults"), b.manifest.at("document_faults"));
  EXPECT_NE(a.manifest.at("document_faults"), c.manifest.at("document_faults"));
}

}  // namespace
}  // namespace tallyvet::sample
