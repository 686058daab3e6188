// The Oracle functions against the results Oracle documents for them.
#include "db/oracle_functions.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <memory>
#include <optional>
#include <string>

namespace tallyvet::db {
namespace {

class OracleFunctionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
    RegisterOracleFunctions(db_);
  }
  void TearDown() override { sqlite3_close(db_); }

  // The single value of a one-column query: its text, or nullopt for null.
  std::optional<std::string> Eval(const std::string& expr) {
    sqlite3_stmt* s = nullptr;
    const std::string sql = "SELECT " + expr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &s, nullptr), SQLITE_OK)
        << sqlite3_errmsg(db_);
    std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> guard(s, sqlite3_finalize);
    EXPECT_EQ(sqlite3_step(s), SQLITE_ROW) << sqlite3_errmsg(db_);
    if (sqlite3_column_type(s, 0) == SQLITE_NULL) return std::nullopt;
    return std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
  }

  sqlite3* db_ = nullptr;
};

TEST_F(OracleFunctionsTest, Nvl) {
  EXPECT_EQ(Eval("NVL(NULL, 5)"), "5");
  EXPECT_EQ(Eval("NVL(3, 5)"), "3");
  EXPECT_EQ(Eval("NVL('', 'x')"), "x");  // Oracle's empty text is null
  EXPECT_EQ(Eval("NVL(NULL, NULL)"), std::nullopt);
}

TEST_F(OracleFunctionsTest, DecodeMatchesInOrderWithDefaultAndNullSearch) {
  EXPECT_EQ(Eval("DECODE(2, 1, 'one', 2, 'two', 'other')"), "two");
  EXPECT_EQ(Eval("DECODE(3, 1, 'one', 2, 'two', 'other')"), "other");
  EXPECT_EQ(Eval("DECODE(3, 1, 'one', 2, 'two')"), std::nullopt);
  EXPECT_EQ(Eval("DECODE(NULL, 1, 'one', NULL, 'null', 'other')"), "null");
  EXPECT_EQ(Eval("DECODE(1, NULL, 'null', 'other')"), "other");
  EXPECT_EQ(Eval("DECODE(1.0, 1, 'one')"), "one");          // numbers by value
  EXPECT_EQ(Eval("DECODE('1', 1, 'one', 'text')"), "one");  // text converted to a number
  // The voucher source rule of the voucher comparison, many arguments deep.
  EXPECT_EQ(Eval("DECODE(16,1,9,2,9,3,9,7,9,11,12,13,12,15,12,16,12,11)"), "12");
  EXPECT_EQ(Eval("DECODE(5,1,9,2,9,3,9,7,9,11,12,13,12,15,12,16,12,11)"), "11");
  sqlite3_stmt* s = nullptr;
  EXPECT_EQ(sqlite3_prepare_v2(db_, "SELECT DECODE(1, 2)", -1, &s, nullptr), SQLITE_OK);
  EXPECT_EQ(sqlite3_step(s), SQLITE_ERROR);
  sqlite3_finalize(s);
}

TEST_F(OracleFunctionsTest, PaddingPadsOrCutsToCharacters) {
  EXPECT_EQ(Eval("LPAD('Page 1', 15, '*.')"), "*.*.*.*.*Page 1");
  EXPECT_EQ(Eval("RPAD('Mourgos', 12, 'ab')"), "Mourgosababa");
  EXPECT_EQ(Eval("LPAD(7, 4, '0')"), "0007");
  EXPECT_EQ(Eval("LPAD(3.0, 2, '0')"), "03");  // a whole number prints without decimals
  EXPECT_EQ(Eval("LPAD('abcdef', 3)"), "abc");
  EXPECT_EQ(Eval("RPAD('abcdef', 3)"), "abc");
  EXPECT_EQ(Eval("LPAD('x', 3)"), "  x");
  EXPECT_EQ(Eval("LPAD('账套', 4, '0')"), "00账套");
  EXPECT_EQ(Eval("LPAD('账套名', 2)"), "账套");
  EXPECT_EQ(Eval("LPAD('x', 0)"), std::nullopt);
  EXPECT_EQ(Eval("LPAD(NULL, 4, '0')"), std::nullopt);
  EXPECT_EQ(Eval("LPAD('x', 4, '')"), std::nullopt);
  // A zero-length blob as pad once made the padding loop spin for ever.
  EXPECT_EQ(Eval("LPAD('ab', 5, X'')"), std::nullopt);
}

TEST_F(OracleFunctionsTest, SqliteInstrAndLtrimAgreeWithOracle) {
  EXPECT_EQ(Eval("INSTR('CORPORATE FLOOR', 'OR')"), "2");
  EXPECT_EQ(Eval("INSTR('应付账款', '委托')"), "0");
  EXPECT_EQ(Eval("INSTR('委托加工物资', '委托')"), "1");
  EXPECT_EQ(Eval("LTRIM('   RK001 ')"), "RK001 ");
  EXPECT_EQ(Eval("LTRIM('RK001') || LPAD(12, 4, '0')"), "RK0010012");
}

}  // namespace
}  // namespace tallyvet::db
