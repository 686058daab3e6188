// The field dictionary's fixed vocabulary and the code lookup behind every id shown to a user.
#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "db/error.h"
#include "db/recordset.h"
#include "db/sqlite_connection.h"
#include "dictionary/field_dictionary.h"

namespace tallyvet {
namespace {

using db::Recordset;
using db::Value;

// Passes everything to a real connection and remembers the lookups it was asked to run.
class CountingConnection final : public db::Connection {
 public:
  explicit CountingConnection(db::Connection& inner) : inner_(inner) {}

  std::unique_ptr<Recordset> OpenResultset(const std::string& sql, int cursor, int lock) override {
    queries.push_back(sql);
    cursors.push_back(cursor);
    return inner_.OpenResultset(sql, cursor, lock);
  }
  void Execute(const std::string& sql) override { inner_.Execute(sql); }
  std::int64_t RowsAffected() const override { return inner_.RowsAffected(); }
  bool StillExecuting() const override { return inner_.StillExecuting(); }

  std::size_t Count() const { return queries.size(); }

  std::vector<std::string> queries;
  std::vector<int> cursors;

 private:
  db::Connection& inner_;
};

// An account set on a temporary file with a few master tables; Custom3 is deliberately absent.
class AccountSet {
 public:
  AccountSet() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::filesystem::temp_directory_path() /
            ("tallyvet_dictionary_" + std::to_string(::getpid()) + "_" + info->name() + ".db");
    std::filesystem::remove(path_);
    conn_ = db::SqliteConnection::Create(path_, "TALLY");
    conn_->ExecuteScript(R"(
      CREATE TABLE Item (lngItemID INTEGER PRIMARY KEY, strItemCode VARCHAR(30));
      CREATE TABLE Position (lngPositionID INTEGER PRIMARY KEY, strPositionCode VARCHAR(30));
      CREATE TABLE ReceiptType (lngReceiptTypeID INTEGER PRIMARY KEY,
                                strReceiptTypeName VARCHAR(30));
      CREATE TABLE ItemActivityDetail (lngActivityDetailID INTEGER PRIMARY KEY,
                                       lngItemID INTEGER, lngPositionID INTEGER);
    )");
    counting_ = std::make_unique<CountingConnection>(*conn_);
  }
  ~AccountSet() {
    counting_.reset();
    conn_.reset();
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }

  void AddItem(int id, const std::string& code) {
    conn_->Execute("INSERT INTO Item VALUES (" + std::to_string(id) + ", '" + code + "')");
  }
  void AddPosition(int id, const std::string& code) {
    conn_->Execute("INSERT INTO Position VALUES (" + std::to_string(id) + ", '" + code + "')");
  }
  void AddReceiptType(int id, const std::string& name) {
    conn_->Execute("INSERT INTO ReceiptType VALUES (" + std::to_string(id) + ", '" + name + "')");
  }
  void AddLine(int id, int item, int position) {
    conn_->Execute("INSERT INTO ItemActivityDetail VALUES (" + std::to_string(id) + ", " +
                   std::to_string(item) + ", " + std::to_string(position) + ")");
  }

  db::SqliteConnection& raw() { return *conn_; }
  CountingConnection& conn() { return *counting_; }

 private:
  std::filesystem::path path_;
  std::unique_ptr<db::SqliteConnection> conn_;
  std::unique_ptr<CountingConnection> counting_;
};

// One field of a one-row in-memory result: the shape GetFieldText receives from a list.
class OneField {
 public:
  OneField(std::string name, int type, Value value)
      : rs_(Recordset::FromRows({{std::move(name), type}}, {{std::move(value)}})) {}
  db::Field field() const { return rs_->Fields()[0]; }

 private:
  std::unique_ptr<Recordset> rs_;
};

OneField IdField(const std::string& name, Value value) {
  return OneField(name, db::adInteger, std::move(value));
}

class GetFieldTextTest : public ::testing::Test {
 protected:
  void SetUp() override { dict.BuildFieldDictionary(); }

  // The text for an id with an empty name argument, as the lists call it.
  Value TextOf(const std::string& column, Value id) {
    OneField f = IdField(column, std::move(id));
    std::string name;
    return dict.GetFieldText(set.conn(), f.field(), name);
  }

  AccountSet set;
  FieldDictionary dict;
};

TEST(FieldDictionaryTest, RegistersTheFixedVocabularyInOrder) {
  FieldDictionary dict;
  dict.BuildFieldDictionary();
  ASSERT_TRUE(dict.IsBuilt());
  EXPECT_EQ(dict.FieldTableMap->Count(), 22u);
  EXPECT_EQ(dict.TableCodeFieldMap->Count(), 20u);
  EXPECT_EQ(dict.FieldCaptionMap->Count(), 151u);
  EXPECT_TRUE(dict.CodeTextCache.has_value());
  EXPECT_TRUE(dict.CodeTextCache->empty());

  // Master tables keep their mixed case; their code columns are keyed by the upper-cased name.
  EXPECT_EQ(dict.FieldTableMap->At("lngSourceOrganizationID"), "Organization");
  EXPECT_EQ(dict.FieldTableMap->At("lngVoucherSourceID"), "Enum");
  EXPECT_EQ(dict.FieldTableMap->At("lngCurrencyID"), "Currencys");
  EXPECT_EQ(dict.TableCodeFieldMap->At("CURRENCYS"), "strCurrencyCode");
  EXPECT_EQ(dict.TableCodeFieldMap->At("VOUCHERTYPE"), "strVoucherTypeName");
  EXPECT_EQ(dict.TableCodeFieldMap->Find("ENUM"), nullptr);
  const auto& tables = dict.TableCodeFieldMap->Keys();
  EXPECT_EQ(tables.front(), "ITEM");
  EXPECT_EQ(tables[9], "ORGANIZATION");
  EXPECT_EQ(tables[10], "CUSTOMER");
  EXPECT_EQ(tables.back(), "RECEIPTTYPE");

  const auto& columns = dict.FieldCaptionMap->Keys();
  EXPECT_EQ(columns.front(), "LNGITEMID");
  EXPECT_EQ(columns[1], "LNGCUSTOMID0");
  EXPECT_EQ(columns[14], "STRDATE");
  EXPECT_EQ(columns[16], "LNGJOBID");
  EXPECT_EQ(columns.back(), "LNGVOUCHERSOURCEID");

  // Full-width and half-width parentheses, the trailing blank and the shared captions are exact.
  EXPECT_EQ(dict.Caption("dblBorrowQuantityAux"), "受托入库数量（辅）");
  EXPECT_EQ(dict.Caption("dblAdjInQuantityAux"), "调入数量（辅）");
  EXPECT_EQ(dict.Caption("dblAdjOutQuantityAux"), "调出数量（辅） ");
  EXPECT_EQ(dict.Caption("dblDirectPurchaseQuantityAux"), "直运采购数量(辅)");
  EXPECT_EQ(dict.Caption("dblInAmount"), "内部入库金额(手工)");
  EXPECT_EQ(dict.Caption("DBLLENDSALEAMOUNT"), "委托代销结算金额");
  EXPECT_EQ(dict.Caption("dblLendSaleQuantityAux"), "委托结算数量");
  EXPECT_EQ(dict.Caption("dblSaleCtrlAmount"), "销售金额");
  EXPECT_EQ(dict.Caption("dblPurchaseSaleTaxCredit"), "采购/受托入库待实现销项税贷方");
  EXPECT_EQ(dict.Caption("lngPositionID"), "货位ID");
  EXPECT_EQ(dict.Caption("lngVoucherSourceID"), "凭证来源");
  EXPECT_THROW(dict.Caption("lngVoucherTypeID"), DictionaryError);
}

TEST(KeyedCollectionTest, KeysAreCaseInsensitiveAndMustBeUniqueAndPresent) {
  KeyedCollection c("FieldCaptionMap");
  c.Add("dblAmount", "金额");
  c.Add("lngItemID", "商品");
  EXPECT_EQ(c.At("DBLAMOUNT"), "金额");
  EXPECT_EQ(c.At("dblamount"), "金额");
  ASSERT_NE(c.Find("LngItemId"), nullptr);
  EXPECT_EQ(*c.Find("LngItemId"), "商品");
  EXPECT_EQ(c.Find("lngJobID"), nullptr);
  EXPECT_EQ(c.Keys(), (std::vector<std::string>{"DBLAMOUNT", "LNGITEMID"}));

  try {
    c.Add("DBLamount", "other");
    FAIL() << "duplicate key accepted";
  } catch (const DictionaryError& e) {
    EXPECT_NE(std::string(e.what()).find("FieldCaptionMap"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("DBLAMOUNT"), std::string::npos) << e.what();
  }
  EXPECT_EQ(c.At("dblAmount"), "金额");  // the rejected Add changed nothing
  EXPECT_EQ(c.Count(), 2u);

  try {
    c.At("lngJobID");
    FAIL() << "missing key read";
  } catch (const DictionaryError& e) {
    EXPECT_NE(std::string(e.what()).find("FieldCaptionMap"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("LNGJOBID"), std::string::npos) << e.what();
  }
}

TEST(FieldDictionaryTest, ReleasedDictionaryRefusesLookupsUntilRebuilt) {
  AccountSet set;
  FieldDictionary dict;
  dict.BuildFieldDictionary();
  dict.BuildFieldDictionary();  // a second build starts over instead of finding duplicates
  EXPECT_EQ(dict.FieldCaptionMap->Count(), 151u);

  dict.Release();
  EXPECT_FALSE(dict.IsBuilt());
  EXPECT_FALSE(dict.CodeTextCache.has_value());
  EXPECT_THROW(dict.Caption("lngItemID"), DictionaryError);
  OneField f = IdField("lngItemID", 15);
  std::string name;
  EXPECT_THROW(dict.GetFieldText(set.conn(), f.field(), name), DictionaryError);

  dict.BuildFieldDictionary();
  EXPECT_EQ(dict.Caption("lngItemID"), "商品");
}

TEST_F(GetFieldTextTest, LooksUpEachDistinctIdOncePerBuild) {
  set.AddItem(15, "A-015");
  set.AddItem(16, "A-016");

  EXPECT_EQ(TextOf("lngItemID", 15), Value("A-015"));
  ASSERT_EQ(set.conn().Count(), 1u);
  EXPECT_EQ(set.conn().queries[0], "SELECT strItemCode FROM ITEM WHERE lngItemID=15");
  EXPECT_EQ(set.conn().cursors[0], 3);
  EXPECT_EQ(dict.CodeTextCache->at("strItemCode15"), "A-015");

  EXPECT_EQ(TextOf("lngItemID", 15), Value("A-015"));
  EXPECT_EQ(TextOf("LNGITEMID", 15.0), Value("A-015"));  // same key: "15", not "15.0"
  EXPECT_EQ(set.conn().Count(), 1u);
  EXPECT_EQ(TextOf("lngItemID", 16), Value("A-016"));
  EXPECT_EQ(set.conn().Count(), 2u);

  // Every build starts the run's cache over, so codes changed since are seen.
  set.raw().Execute("UPDATE Item SET strItemCode='B-015' WHERE lngItemID=15");
  EXPECT_EQ(TextOf("lngItemID", 15), Value("A-015"));
  dict.BuildFieldDictionary();
  EXPECT_EQ(TextOf("lngItemID", 15), Value("B-015"));
  EXPECT_EQ(set.conn().Count(), 3u);
}

TEST_F(GetFieldTextTest, ResetAndReleasedCacheStillAnswer) {
  set.AddItem(15, "A-015");
  EXPECT_EQ(TextOf("lngItemID", 15), Value("A-015"));
  dict.ResetCodeTextCache();
  ASSERT_TRUE(dict.CodeTextCache.has_value());
  EXPECT_TRUE(dict.CodeTextCache->empty());
  EXPECT_EQ(TextOf("lngItemID", 15), Value("A-015"));
  EXPECT_EQ(set.conn().Count(), 2u);

  // Without a cache every lookup goes to the database, and still finds the code.
  dict.ReleaseCodeTextCache();
  EXPECT_EQ(TextOf("lngItemID", 15), Value("A-015"));
  EXPECT_EQ(TextOf("lngItemID", 15), Value("A-015"));
  EXPECT_EQ(set.conn().Count(), 4u);
  EXPECT_FALSE(dict.CodeTextCache.has_value());
}

TEST_F(GetFieldTextTest, NonPositiveAndNullIdsAreEmptyWithoutQuery) {
  EXPECT_EQ(TextOf("lngItemID", 0), Value(""));
  EXPECT_EQ(TextOf("lngPositionID", -3), Value(""));
  EXPECT_EQ(TextOf("lngItemID", Value()), Value(""));
  EXPECT_EQ(set.conn().Count(), 0u);
  EXPECT_TRUE(dict.CodeTextCache->empty());
}

TEST_F(GetFieldTextTest, MissingMasterRowShowsTheIdAndIsNotQueriedAgain) {
  EXPECT_EQ(TextOf("lngItemID", 99), Value(99));
  EXPECT_EQ(dict.CodeTextCache->at("strItemCode99"), "99");
  EXPECT_EQ(TextOf("lngItemID", 99), Value("99"));
  EXPECT_EQ(set.conn().Count(), 1u);
}

TEST_F(GetFieldTextTest, EmptyCodeIsCachedLikeAnyOther) {
  // Regression: an empty code must not send a query for every line that shows the item.
  set.raw().Execute("INSERT INTO Item VALUES (7, NULL)");
  set.AddItem(8, "");
  EXPECT_EQ(TextOf("lngItemID", 7), Value(""));
  EXPECT_EQ(TextOf("lngItemID", 7), Value(""));
  EXPECT_EQ(TextOf("lngItemID", 8), Value(""));
  EXPECT_EQ(TextOf("lngItemID", 8), Value(""));
  EXPECT_EQ(set.conn().Count(), 2u);
}

TEST_F(GetFieldTextTest, FailedLookupIsSkippedAndRetried) {
  // Custom3 does not exist in this account set: the id is shown, nothing is raised or cached.
  EXPECT_EQ(TextOf("lngCustomID3", 4), Value(4));
  EXPECT_FALSE(dict.CodeTextCache->contains("strCustomCode4"));
  EXPECT_EQ(set.conn().queries.back(), "SELECT strCustomCode FROM CUSTOM3 WHERE lngCustomID3=4");

  set.raw().ExecuteScript(
      "CREATE TABLE Custom3 (lngCustomID3 INTEGER, strCustomCode VARCHAR(30));"
      "INSERT INTO Custom3 VALUES (4, 'C3-4');");
  EXPECT_EQ(TextOf("lngCustomID3", 4), Value("C3-4"));
  EXPECT_EQ(set.conn().Count(), 2u);
}

TEST_F(GetFieldTextTest, TextInANumericFieldNeverBecomesSql) {
  // Regression: the id goes into the statement unquoted, so only a number may be spliced in.
  set.AddItem(15, "A-015");
  EXPECT_EQ(TextOf("lngItemID", "15 OR 1=1"), Value("15 OR 1=1"));
  EXPECT_EQ(set.conn().Count(), 0u);
  EXPECT_EQ(TextOf("lngItemID", "15"), Value("A-015"));
  EXPECT_EQ(set.conn().Count(), 1u);
}

TEST_F(GetFieldTextTest, CharacterFieldIsReturnedUnchanged) {
  for (int type : {db::adVarChar, db::adChar}) {
    OneField f("lngItemID", type, Value("0015"));
    std::string name;
    EXPECT_EQ(dict.GetFieldText(set.conn(), f.field(), name), Value("0015"));
    EXPECT_EQ(name, "");  // returned before the name is filled in
  }
  // Even a column the dictionary does not know.
  OneField text("strNotes", db::adVarChar, Value("abc"));
  std::string name = "strNotes";
  EXPECT_EQ(dict.GetFieldText(set.conn(), text.field(), name), Value("abc"));
  EXPECT_EQ(set.conn().Count(), 0u);
}

TEST_F(GetFieldTextTest, FieldNameSelectsTheMasterTable) {
  set.AddPosition(3, "P03");
  set.AddReceiptType(2, "采购入库");

  // An empty name is filled with the field's own name for the caller.
  OneField receipt = IdField("lngReceiptTypeID", 2);
  std::string name;
  EXPECT_EQ(dict.GetFieldText(set.conn(), receipt.field(), name), Value("采购入库"));
  EXPECT_EQ(name, "lngReceiptTypeID");

  // A given name wins over the field's name (a recomputed column named differently).
  OneField expr = IdField("EXPR1", 3);
  name = "lngPositionID";
  EXPECT_EQ(dict.GetFieldText(set.conn(), expr.field(), name), Value("P03"));
  EXPECT_EQ(name, "lngPositionID");
  EXPECT_EQ(set.conn().queries.back(),
            "SELECT strPositionCode FROM POSITION WHERE lngPositionID=3");
}

TEST_F(GetFieldTextTest, ColumnOutsideTheDictionaryReachesTheCaller) {
  OneField amount("dblAmount", db::adDouble, Value(12.5));
  std::string name;
  try {
    dict.GetFieldText(set.conn(), amount.field(), name);
    FAIL() << "a non-id column was looked up";
  } catch (const DictionaryError& e) {
    EXPECT_NE(std::string(e.what()).find("FieldTableMap"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("DBLAMOUNT"), std::string::npos) << e.what();
  }
  EXPECT_EQ(name, "dblAmount");
  EXPECT_EQ(set.conn().Count(), 0u);
}

TEST_F(GetFieldTextTest, VoucherSourceIsNamedWithoutQuery) {
  EXPECT_EQ(TextOf("lngVoucherSourceID", 9), Value("采购"));
  EXPECT_EQ(TextOf("lngVoucherSourceID", 10), Value("销售"));
  EXPECT_EQ(TextOf("lngVoucherSourceID", 11), Value("库存"));
  EXPECT_EQ(TextOf("lngVoucherSourceID", 12), Value("成本"));
  EXPECT_EQ(TextOf("lngVoucherSourceID", 13), Value("手工"));
  EXPECT_EQ(TextOf("lngVoucherSourceID", 0), Value("手工"));
  // Regression: a value beyond 16 bits must not wrap round onto a known source (65545 -> 9).
  EXPECT_EQ(TextOf("lngVoucherSourceID", 65545), Value("手工"));
  EXPECT_EQ(set.conn().Count(), 0u);
  EXPECT_EQ(VoucherSourceName(-1), "手工");
}

TEST_F(GetFieldTextTest, DocumentListQueriesOncePerDistinctItemAndPosition) {
  set.AddItem(1, "I1");
  set.AddItem(2, "I2");
  set.AddPosition(5, "P5");
  const int items[] = {1, 2, 1, 1, 2, 0};
  for (int i = 0; i < 6; ++i) set.AddLine(i + 1, items[i], 5);

  auto rs = set.raw().OpenResultset(
      "SELECT lngItemID, lngPositionID FROM ItemActivityDetail ORDER BY lngActivityDetailID", 3);
  std::vector<std::string> shown;
  for (; !rs->Eof(); rs->MoveNext()) {
    std::string item_name;
    std::string position_name;
    shown.push_back(dict.GetFieldText(set.conn(), rs->Fields()[0], item_name).AsText() + "/" +
                    dict.GetFieldText(set.conn(), rs->Fields()[1], position_name).AsText());
  }
  rs->Close();
  EXPECT_EQ(shown, (std::vector<std::string>{"I1/P5", "I2/P5", "I1/P5", "I1/P5", "I2/P5", "/P5"}));
  EXPECT_EQ(set.conn().Count(), 3u);
}

}  // namespace
}  // namespace tallyvet
