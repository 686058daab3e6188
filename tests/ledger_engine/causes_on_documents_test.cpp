// Causes on a clean sample account set whose documents are then edited the way they are after
// posting: one re-dated, one voided, one entered twice, sub-cent amounts on two lines, and ledger
// values changed by hand, one of them on a row a moved document also touches.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "db/sqlite_connection.h"
#include "fixtures.h"
#include "ledger_engine/causes.h"
#include "ledger_engine/check_items.h"
#include "ledger_engine/comparison.h"
#include "ledger_engine/derivation.h"
#include "sample/sample.h"
#include "support/temp_dir.h"

namespace tallyvet {
namespace {

std::string KeyText(const std::vector<KeyValue>& keys) {
  std::string text;
  for (const KeyValue& k : keys) text += (text.empty() ? "" : "|") + k.value.AsText();
  return text;
}

class CausesOnDocuments : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    path_ = dir_ / "causes.db";
    sample::CreateSample({.path = path_, .owner = "demo", .scale = 1500, .seed = 3});
    conn_ = db::SqliteConnection::Open(path_, "demo");
  }
  static void TearDownTestSuite() { conn_.reset(); }

  db::Value One(const std::string& sql) {
    auto rs = conn_->OpenResultset(sql, 3, 3);
    return rs->Eof() ? db::Value() : rs->Fields()[0].Value();
  }
  void Exec(const std::string& sql) { conn_->Execute(sql); }

  // The differing rows of `item` with their causes, by key text; with `shared`, every row after
  // the first read in statements shared by many rows.
  std::map<std::string, DifferenceCause> Causes(int item, bool shared = false) {
    HostContext ctx;
    ctx.connection = conn_;
    ctx.user = "demo";
    ctx.AccountStartDate = "2025-01-01";
    testing::RecordingScreen screen;
    InitCheckItems(ctx);
    DeriveGoodsLedgerSql(ctx, screen);
    DeriveAccountLedgerSql(ctx, screen);
    testing::CollectingSink collected;
    ExplainingSink explaining(ctx, " ", "9999-12-31", {&collected});
    if (shared) explaining.ShareStatementsAfter(std::chrono::milliseconds(-1));
    std::string error;
    CompareLedger(ctx, screen, ReportFile(dir_.path()), item, " ", "9999-12-31", true, false,
                  {&explaining}, &error);
    EXPECT_EQ(error, "");
    std::map<std::string, DifferenceCause> causes;
    for (const DifferenceRecord& r : collected.records) {
      EXPECT_NE(r.cause, nullptr);
      if (r.cause) causes[KeyText(r.keys)] = *r.cause;
    }
    return causes;
  }

  // A purchase (type 1) of one line on a date no other document of its item has, not yet used.
  std::int64_t LoneDocument(const std::string& avoid) {
    return One("SELECT x.id FROM (SELECT a.lngActivityID id,a.strDate dt,MAX(d.lngItemID) "
               "item FROM ItemActivity a JOIN ItemActivityDetail d ON "
               "d.lngActivityID=a.lngActivityID WHERE a.lngActivityTypeID=1 AND a.blnIsVoid=0 "
               "AND a.bytStatus=2 AND a.strDate<'2025-12-01' AND a.lngActivityID NOT IN (" +
               avoid +
               ") GROUP BY a.lngActivityID HAVING COUNT(*)=1) x WHERE NOT EXISTS (SELECT 1 FROM "
               "ItemActivity b JOIN ItemActivityDetail e ON e.lngActivityID=b.lngActivityID "
               "WHERE b.strDate=x.dt AND e.lngItemID=x.item AND b.lngActivityID<>x.id) "
               "ORDER BY x.id LIMIT 1")
        .AsInteger();
  }
  std::string Key1(std::int64_t document) {  // item 1: date|item|position group
    return One("SELECT a.strDate || '|' || d.lngItemID || '|' || p.lngPositionGroupID FROM "
               "ItemActivity a JOIN ItemActivityDetail d ON d.lngActivityID=a.lngActivityID "
               "JOIN Position p ON p.lngPositionID=d.lngPositionID WHERE a.lngActivityID=" +
               std::to_string(document))
        .AsText();
  }
  std::string Key2(std::int64_t document) {  // item 2: date|item|position
    return One("SELECT a.strDate || '|' || d.lngItemID || '|' || d.lngPositionID FROM "
               "ItemActivity a JOIN ItemActivityDetail d ON d.lngActivityID=a.lngActivityID "
               "WHERE a.lngActivityID=" +
               std::to_string(document))
        .AsText();
  }

  static inline testing::TempDir dir_;
  static inline std::filesystem::path path_;
  static inline std::shared_ptr<db::SqliteConnection> conn_;
};

std::set<std::int64_t> Ids(const DifferenceCause& c) {
  std::set<std::int64_t> ids;
  for (const NamedDocument& d : c.documents) ids.insert(d.id);
  return ids;
}

TEST_F(CausesOnDocuments, EachEditIsNamedForWhatItIs) {
  ASSERT_TRUE(Causes(1).empty());  // the sample starts clean

  const std::int64_t moved = LoneDocument("0");
  const std::string movedFrom1 = Key1(moved), movedFrom2 = Key2(moved);
  Exec("UPDATE ItemActivity SET strDate='2025-12-31',bytPeriod=12 WHERE lngActivityID=" +
       std::to_string(moved));
  const std::string movedTo1 = Key1(moved), movedTo2 = Key2(moved);

  const std::int64_t voided = LoneDocument(std::to_string(moved));
  Exec("UPDATE ItemActivity SET blnIsVoid=1 WHERE lngActivityID=" + std::to_string(voided));

  // Entered twice: the copy and the original fit alike.
  const std::int64_t twin = LoneDocument(std::to_string(moved) + "," + std::to_string(voided));
  const std::int64_t copy = One("SELECT MAX(lngActivityID)+1 FROM ItemActivity").AsInteger();
  const std::string t = std::to_string(twin), c = std::to_string(copy);
  Exec("INSERT INTO ItemActivity SELECT " + c +
       ",strDate,intYear,bytPeriod,lngActivityTypeID,lngReceiptTypeID,strReceiptNo,lngReceiptNo+"
       "9000,blnSameGroup,lngOrderActivityID,blnIsVoid,bytStatus,lngCustomerID,lngDepartmentID,"
       "lngEmployeeID,lngOrganizationID,lngVoucherID1,strRemark FROM ItemActivity WHERE "
       "lngActivityID=" +
       t);
  Exec(
      "INSERT INTO ItemActivityDetail (lngActivityID,lngRowID,lngItemID,lngPositionID,"
      "dblQuantity,dblPrice,dblAmount,dblCostAmount,dblAvgCostAmount) SELECT " +
      c +
      ",lngRowID,lngItemID,lngPositionID,dblQuantity,dblPrice,dblAmount,dblCostAmount,"
      "dblAvgCostAmount FROM ItemActivityDetail WHERE lngActivityID=" +
      t);

  // Sub-cent costs on two purchase lines under one key of the item ledger.
  const db::Value pair =
      One("SELECT a.strDate || '|' || d.lngItemID || '|' || p.lngPositionGroupID FROM ItemActivity "
          "a JOIN ItemActivityDetail d ON d.lngActivityID=a.lngActivityID JOIN Position p ON "
          "p.lngPositionID=d.lngPositionID WHERE a.lngActivityTypeID=1 AND a.blnIsVoid=0 AND "
          "a.strDate<'2025-12-01' AND a.lngActivityID NOT IN (" +
          std::to_string(moved) + "," + std::to_string(voided) + "," + t +
          ") GROUP BY 1 HAVING COUNT(*)>=2 ORDER BY 1 LIMIT 1");
  ASSERT_FALSE(pair.IsNull());
  const std::string rounded = pair.AsText();
  Exec(
      "UPDATE ItemActivityDetail SET dblCostAmount=dblCostAmount+0.004 WHERE "
      "lngActivityDetailID IN (SELECT d.lngActivityDetailID FROM ItemActivity a JOIN "
      "ItemActivityDetail d ON d.lngActivityID=a.lngActivityID JOIN Position p ON "
      "p.lngPositionID=d.lngPositionID WHERE a.lngActivityTypeID=1 AND a.strDate || '|' || "
      "d.lngItemID || '|' || p.lngPositionGroupID='" +
      rounded + "' LIMIT 2)");

  // By hand: a value in a row nothing else touches, and the stock ledger's row the moved
  // document left.
  const std::string edited = One("SELECT strDate || '|' || lngItemID || '|' || "
                                 "lngPositionGroupID FROM ItemDaily2 WHERE dblSaleCost<>0 AND "
                                 "strDate<'2025-12-01' ORDER BY strDate DESC LIMIT 1")
                                 .AsText();
  Exec(
      "UPDATE ItemDaily2 SET dblSaleCost=dblSaleCost+12.34 WHERE strDate || '|' || lngItemID "
      "|| '|' || lngPositionGroupID='" +
      edited + "'");
  Exec(
      "UPDATE PositionDaily SET dblPurchaseAmount=dblPurchaseAmount+5 WHERE strDate || '|' || "
      "lngItemID || '|' || lngPositionID='" +
      movedFrom2 + "'");

  const auto one = Causes(1);
  // Rows read many a statement, each line given to its row by its keys: the same causes.
  const auto shared = Causes(1, true);
  ASSERT_EQ(shared.size(), one.size());
  for (const auto& [key, cause] : one) {
    EXPECT_EQ(shared.at(key).kind, cause.kind) << key;
    EXPECT_EQ(shared.at(key).text, cause.text) << key;
  }
  std::map<std::string, CauseKind> expected = {
      {movedFrom1, CauseKind::kMoved},       {movedTo1, CauseKind::kMoved},
      {Key1(voided), CauseKind::kWithdrawn}, {Key1(twin), CauseKind::kUnposted},
      {rounded, CauseKind::kRounding},       {edited, CauseKind::kUnexplained}};
  ASSERT_EQ(one.size(), expected.size());
  for (const auto& [key, kind] : expected) {
    ASSERT_TRUE(one.count(key)) << key;
    EXPECT_EQ(one.at(key).kind, kind) << key << ": " << one.at(key).text;
  }
  EXPECT_EQ(Ids(one.at(movedFrom1)), std::set<std::int64_t>{moved});
  EXPECT_EQ(KeyText(one.at(movedFrom1).otherKeys), movedTo1);
  EXPECT_EQ(Ids(one.at(Key1(voided))), std::set<std::int64_t>{voided});
  EXPECT_TRUE(one.at(Key1(voided)).documents.at(0).isVoid);
  EXPECT_EQ(Ids(one.at(Key1(twin))), (std::set<std::int64_t>{twin, copy}));
  EXPECT_GE(one.at(rounded).lines, 2);

  // The stock ledger: the row the moved document left was also edited, so it is unexplained;
  // its other end is still the document the ledger did not take in there.
  const auto two = Causes(2);
  ASSERT_TRUE(two.count(movedFrom2) && two.count(movedTo2));
  EXPECT_EQ(two.at(movedFrom2).kind, CauseKind::kUnexplained) << two.at(movedFrom2).text;
  EXPECT_EQ(two.at(movedTo2).kind, CauseKind::kUnposted) << two.at(movedTo2).text;
  EXPECT_EQ(Ids(two.at(movedTo2)), std::set<std::int64_t>{moved});
  const auto twoShared = Causes(2, true);
  ASSERT_EQ(twoShared.size(), two.size());
  for (const auto& [key, cause] : two) EXPECT_EQ(twoShared.at(key).text, cause.text) << key;
}

}  // namespace
}  // namespace tallyvet
