#include "receipt_audit/finding_output.h"

#include <gtest/gtest.h>

namespace tallyvet::receipt_audit {
namespace {

CheckFinding Inbound() {
  CheckFinding f;
  f.gridRow = 1;
  f.kind = "入库单";
  f.lngActivityDetailID = "1042";
  f.strDate = "2025-03-05";
  f.receiptType = "采购入库";
  f.receiptNo = "R7";
  f.itemCode = "BOLT-8";
  f.positionCode = "A01";
  f.costAmount = 12.5;
  f.secondAmount = 10;
  f.difference = 2.5;
  return f;
}

TEST(FindingOutput, JsonCarriesTheFieldsAToolMatchesOn) {
  const nlohmann::json j = FindingJson(Inbound());
  EXPECT_EQ(j["kind"], "入库单");
  EXPECT_EQ(j["lngActivityDetailID"], 1042);
  EXPECT_EQ(j["strDate"], "2025-03-05");
  EXPECT_EQ(j["costAmount"], 12.5);
  EXPECT_EQ(j["secondAmount"], 10.0);
  EXPECT_EQ(j["difference"], 2.5);
  CheckFinding odd = Inbound();
  odd.lngActivityDetailID = "12a";
  EXPECT_EQ(FindingJson(odd)["lngActivityDetailID"], "12a");
}

TEST(FindingOutput, TableColumnsLineUpByDisplayWidth) {
  EXPECT_EQ(DisplayWidth("入库单"), 6u);
  EXPECT_EQ(DisplayWidth("R7"), 2u);
  EXPECT_EQ(PadToWidth("采购入库", 10), "采购入库  ");
  EXPECT_EQ(PadToWidth("toolongtext", 4), "toolongtext");
  const std::string header = FindingTableHeader();
  const std::string line = FindingTableLine(Inbound());
  // The amount columns start at the same display column in the header and in a line.
  const auto column = [](const std::string& s, const std::string& what) {
    return DisplayWidth(s.substr(0, s.find(what)));
  };
  EXPECT_EQ(column(header, "成本金额"), column(line, "12.5"));
  EXPECT_EQ(line.back(), '5');  // no trailing blanks
}

}  // namespace
}  // namespace tallyvet::receipt_audit
