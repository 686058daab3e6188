// The field dictionary's fixed vocabulary and the code lookup behind every id shown to a user.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "db/recordset.h"
#include "db/sqlite_connection.h"
#include "dictionary/field_dictionary.h"
#include "support/temp_dir.h"

namespace tallyvet {
namespace {

using db::Value;

// Passes everything to a real connection and remembers the lookups it was asked to run.
class CountingConnection final : public db::Connection {
 public:
  explicit CountingConnection(db::Connection& inner) : inner(inner) {}
  std::unique_ptr<db::Recordset> OpenResultset(const std::string& sql, int cursor,
                                               int lock) override {
    queries.push_back(sql);
    return inner.OpenResultset(sql, cursor, lock);
  }
  void Execute(const std::string& sql) override { inner.Execute(sql); }
  std::int64_t RowsAffected() const override { return inner.RowsAffected(); }
  bool StillExecuting() const override { return inner.StillExecuting(); }
  db::Connection& inner;
  std::vector<std::string> queries;
};

// One field of a one-row in-memory result: the shape GetFieldText receives from a list.
struct OneField {
  OneField(std::string name, Value value, int type = db::adInteger)
      : rs(db::Recordset::FromRows({{std::move(name), type}}, {{std::move(value)}})) {}
  db::Field field() const { return rs->Fields()[0]; }
  std::unique_ptr<db::Recordset> rs;
};

// Passes when `action` throws a DictionaryError whose message names `collection` and `key`.
template <typename Action>
::testing::AssertionResult ThrowsNaming(Action action, const std::string& collection,
                                        const std::string& key) {
  try {
    action();
  } catch (const DictionaryError& e) {
    const std::string m = e.what();
    return ::testing::AssertionResult(m.find(collection) != m.npos && m.find(key) != m.npos) << m;
  }
  return ::testing::AssertionFailure() << "no DictionaryError";
}

// An account set on a temporary file with a few master rows; Custom3 is deliberately absent.
class GetFieldTextTest : public ::testing::Test {
 protected:
  void SetUp() override {
    raw->ExecuteScript(R"(
      CREATE TABLE Item (lngItemID INTEGER PRIMARY KEY, strItemCode VARCHAR(30));
      CREATE TABLE Position (lngPositionID INTEGER PRIMARY KEY, strPositionCode VARCHAR(30));
      CREATE TABLE ReceiptType (lngReceiptTypeID INTEGER PRIMARY KEY, strReceiptTypeName TEXT);
      INSERT INTO Item VALUES (7, NULL), (8, ''), (15, 'A-015'), (16, 'A-016');
      INSERT INTO Position VALUES (3, 'P03');
      INSERT INTO ReceiptType VALUES (2, '采购入库');
    )");
    dict.BuildFieldDictionary();
  }

  // The text for an id with an empty name argument, as the lists call it.
  Value TextOf(const std::string& column, Value id) {
    std::string name;
    return dict.GetFieldText(conn, OneField(column, std::move(id)).field(), name);
  }

  testing::TempDir dir;
  std::unique_ptr<db::SqliteConnection> raw = db::SqliteConnection::Create(dir / "a.db", "TALLY");
  CountingConnection conn{*raw};
  FieldDictionary dict;
};

TEST(FieldDictionaryTest, RegistersTheFixedVocabularyInOrder) {
  FieldDictionary dict;
  dict.BuildFieldDictionary();
  dict.BuildFieldDictionary();  // a second build starts over instead of finding duplicates
  EXPECT_EQ(dict.FieldTableMap->Count(), 22u);
  EXPECT_EQ(dict.TableCodeFieldMap->Count(), 20u);
  EXPECT_EQ(dict.FieldCaptionMap->Count(), 151u);
  // Master tables keep their mixed case; their code columns are keyed by the upper-cased name.
  EXPECT_EQ(dict.FieldTableMap->At("lngSourceOrganizationID"), "Organization");
  EXPECT_EQ(dict.TableCodeFieldMap->Find("ENUM"), nullptr);
  const auto& tables = dict.TableCodeFieldMap->Keys();
  EXPECT_EQ(tables[9] + tables[10] + tables.back(), "ORGANIZATIONCUSTOMERRECEIPTTYPE");
  const auto& columns = dict.FieldCaptionMap->Keys();
  EXPECT_EQ(columns[1] + columns[14] + columns[16], "LNGCUSTOMID0STRDATELNGJOBID");
  EXPECT_EQ(columns.back(), "LNGVOUCHERSOURCEID");
  // Full-width and half-width parentheses, the trailing blank and the shared captions are exact.
  const std::vector<std::pair<const char*, const char*>> captions = {
      {"dblBorrowQuantityAux", "受托入库数量（辅）"},
      {"dblAdjOutQuantityAux", "调出数量（辅） "},
      {"dblDirectPurchaseQuantityAux", "直运采购数量(辅)"},
      {"DBLLENDSALEAMOUNT", "委托代销结算金额"},
      {"dblPurchaseSaleTaxCredit", "采购/受托入库待实现销项税贷方"},
      {"lngVoucherSourceID", "凭证来源"}};
  for (const auto& [column, caption] : captions) EXPECT_EQ(dict.Caption(column), caption);
  EXPECT_THROW(dict.Caption("lngVoucherTypeID"), DictionaryError);
}

TEST(KeyedCollectionTest, KeysAreCaseInsensitiveAndMustBeUniqueAndPresent) {
  KeyedCollection c("FieldCaptionMap");
  c.Add("dblAmount", "金额");
  c.Add("lngItemID", "商品");
  EXPECT_EQ(c.Find("LngItemId"), &c.At("lngItemID"));
  EXPECT_EQ(c.Find("lngJobID"), nullptr);
  EXPECT_EQ(c.Keys(), (std::vector<std::string>{"DBLAMOUNT", "LNGITEMID"}));
  EXPECT_TRUE(ThrowsNaming([&] { c.Add("DBLamount", "x"); }, "FieldCaptionMap", "DBLAMOUNT"));
  EXPECT_EQ(c.At("dblamount"), "金额");  // the rejected Add changed nothing
  EXPECT_TRUE(ThrowsNaming([&] { c.At("lngJobID"); }, "FieldCaptionMap", "LNGJOBID"));
}

TEST_F(GetFieldTextTest, LooksUpEachDistinctIdOncePerBuild) {
  EXPECT_EQ(TextOf("lngItemID", 15), Value("A-015"));
  ASSERT_EQ(conn.queries,
            std::vector<std::string>{"SELECT strItemCode FROM ITEM WHERE lngItemID=15"});
  EXPECT_EQ(dict.CodeTextCache->at("strItemCode15"), "A-015");
  EXPECT_EQ(TextOf("LNGITEMID", 15.0), Value("A-015"));  // same key: "15", not "15.0"
  EXPECT_EQ(conn.queries.size(), 1u);
  // Every build starts the run's cache over, so codes changed since are seen.
  raw->Execute("UPDATE Item SET strItemCode='B-015' WHERE lngItemID=15");
  EXPECT_EQ(TextOf("lngItemID", 15), Value("A-015"));
  dict.BuildFieldDictionary();
  EXPECT_EQ(TextOf("lngItemID", 15), Value("B-015"));
  // Reset empties the cache; without one every lookup goes to the database and still answers.
  dict.ResetCodeTextCache();
  EXPECT_TRUE(dict.CodeTextCache->empty());
  dict.ReleaseCodeTextCache();
  EXPECT_EQ(TextOf("lngItemID", 15), Value("B-015"));
  EXPECT_EQ(TextOf("lngItemID", 15), Value("B-015"));
  EXPECT_EQ(conn.queries.size(), 4u);
  // A released dictionary refuses lookups until it is built again.
  dict.Release();
  EXPECT_FALSE(dict.CodeTextCache.has_value());
  EXPECT_THROW(TextOf("lngItemID", 15), DictionaryError);
  EXPECT_THROW(dict.Caption("lngItemID"), DictionaryError);
}

TEST_F(GetFieldTextTest, TextAndQueriesOfTwoLookupsOfOneId) {
  // Column, id, text of both lookups, queries the two made together.
  const std::vector<std::tuple<const char*, Value, const char*, std::size_t>> cases = {
      {"lngItemID", 0, "", 0},
      {"lngPositionID", -3, "", 0},
      {"lngItemID", Value(), "", 0},
      {"lngItemID", "16", "A-016", 1},
      {"lngVoucherSourceID", 9, "采购", 0},
      {"lngVoucherSourceID", 13, "手工", 0},
      {"lngItemID", 99, "99", 1},   // no master row: the id, cached
      {"lngItemID", 7, "", 1},      // regression: a null code is cached, not queried per line
      {"lngItemID", 8, "", 1},      // regression: likewise an empty one
      {"lngCustomID3", 4, "4", 2},  // a refused lookup (no Custom3) shows the id, retried later
      {"lngItemID", "15 OR 1=1", "15 OR 1=1", 0},  // regression: only numbers are spliced into SQL
      {"lngVoucherSourceID", 65545, "手工", 0}};   // regression: no 16-bit wrap onto 9 (采购)
  for (const auto& [column, id, text, queries] : cases) {
    SCOPED_TRACE(std::string(column) + " " + id.AsText());
    conn.queries.clear();
    EXPECT_EQ(TextOf(column, id).AsText(), text);
    EXPECT_EQ(TextOf(column, id).AsText(), text);
    EXPECT_EQ(conn.queries.size(), queries);
  }
  EXPECT_EQ(VoucherSourceName(10) + VoucherSourceName(11) + VoucherSourceName(12), "销售库存成本");
}

TEST_F(GetFieldTextTest, FieldTypeAndNameChooseWhatIsLookedUp) {
  // A character field is returned as it is, before the name is filled in, even named like an id.
  std::string name;
  for (int type : {db::adVarChar, db::adChar}) {
    EXPECT_EQ(dict.GetFieldText(conn, OneField("lngItemID", "0015", type).field(), name),
              Value("0015"));
    EXPECT_EQ(name, "");
  }
  // An empty name is filled with the field's own name for the caller.
  EXPECT_EQ(dict.GetFieldText(conn, OneField("lngReceiptTypeID", 2).field(), name),
            Value("采购入库"));
  EXPECT_EQ(name, "lngReceiptTypeID");
  // A given name wins over the field's name (a recomputed column named differently).
  name = "lngPositionID";
  EXPECT_EQ(dict.GetFieldText(conn, OneField("EXPR1", 3).field(), name), Value("P03"));
  EXPECT_EQ(conn.queries.back(), "SELECT strPositionCode FROM POSITION WHERE lngPositionID=3");
  // A column outside the dictionary is an error for the caller, and nothing is queried.
  name.clear();
  EXPECT_THROW(dict.GetFieldText(conn, OneField("dblAmount", 1.5, db::adDouble).field(), name),
               DictionaryError);
  EXPECT_EQ(conn.queries.size(), 2u);
}

}  // namespace
}  // namespace tallyvet
