#include "db/sqlite_connection.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <fstream>

#include "db/sql_translate.h"
#include "support/temp_dir.h"

namespace tallyvet::db {
namespace {

using tallyvet::testing::TempDir;

class SqliteConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    conn_ = SqliteConnection::Create(dir_ / "set.db", "acme");
    conn_->ExecuteScript(R"(
      CREATE TABLE Item (lngItemID INTEGER PRIMARY KEY, strItemCode CHAR(10), strName TEXT,
                         dblAmount REAL NOT NULL DEFAULT 0);
      INSERT INTO Item VALUES (3, 'C03', 'gamma', 1.5), (1, 'C01', 'alpha', 2.25),
                              (2, 'C02', NULL, 4);
      CREATE TABLE Business (strUserName TEXT, strVer TEXT);
      INSERT INTO Business VALUES ('Acme Trading', '9.00');
    )");
  }
  TempDir dir_;
  std::unique_ptr<SqliteConnection> conn_;
};

TEST_F(SqliteConnectionTest, NamesComeBackUpperCasedAsTheHostReportsThem) {
  auto rs = conn_->OpenResultset(
      "SELECT lngItemID, SUM(dblAmount), strItemCode || strName AS codeName FROM Item "
      "GROUP BY lngItemID ORDER BY lngItemID",
      3, 3);
  EXPECT_EQ(rs->Fields()[0].Name(), "LNGITEMID");
  EXPECT_EQ(rs->Fields()[1].Name(), "SUM(DBLAMOUNT)");
  EXPECT_EQ(rs->Fields()[2].Name(), "CODENAME");
}

TEST_F(SqliteConnectionTest, TypesFollowDeclarationsOrTheValues) {
  auto rs = conn_->OpenResultset(
      "SELECT lngItemID, strItemCode, strName, dblAmount, strItemCode || 'x', SUM(dblAmount) "
      "FROM Item WHERE lngItemID=1 GROUP BY lngItemID",
      3);
  EXPECT_EQ(rs->Fields()[0].Type(), adInteger);
  EXPECT_EQ(rs->Fields()[1].Type(), adChar);
  EXPECT_EQ(rs->Fields()[2].Type(), adVarChar);
  EXPECT_EQ(rs->Fields()[3].Type(), adDouble);
  EXPECT_EQ(rs->Fields()[4].Type(), adVarChar);  // a concatenation is text
  EXPECT_EQ(rs->Fields()[5].Type(), adDouble);
}

TEST_F(SqliteConnectionTest, RowsComeInTheStatementsOrderWithNullsLastAsOracleSorts) {
  auto rs = conn_->OpenResultset("SELECT strName FROM Item ORDER BY strName", 3);
  std::vector<std::string> names;
  for (; !rs->Eof(); rs->MoveNext()) {
    names.push_back(rs->Fields()[0].Value().IsNull() ? "<null>" : rs->Fields()[0].Value().Text());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"alpha", "gamma", "<null>"}));
}

TEST_F(SqliteConnectionTest, RowsAffectedCountsTheLastExecuteOnly) {
  conn_->Execute("UPDATE Item SET dblAmount=dblAmount+1 WHERE lngItemID<3");
  EXPECT_EQ(conn_->RowsAffected(), 2);
  EXPECT_FALSE(conn_->StillExecuting());
  conn_->Execute("UPDATE Item SET dblAmount=0 WHERE lngItemID=99");
  EXPECT_EQ(conn_->RowsAffected(), 0);
  conn_->Execute("INSERT INTO Item (lngItemID) VALUES (9)");
  EXPECT_EQ(conn_->RowsAffected(), 1);
  conn_->Execute("SAVEPOINT s");
  EXPECT_EQ(conn_->RowsAffected(), 0);
  conn_->Execute("RELEASE s");
}

TEST_F(SqliteConnectionTest, ErrorsCarryTheDatabaseMessageAndTheStatement) {
  const std::string sql = "UPDATE NoSuchLedger SET dblAmount=1";
  try {
    conn_->Execute(sql);
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_NE(e.message().find("no such table"), std::string::npos) << e.message();
    EXPECT_EQ(e.statement(), sql);
    EXPECT_NE(std::string(e.what()).find(sql), std::string::npos);
  }
  EXPECT_THROW(conn_->OpenResultset("SELECT nosuchcolumn FROM Item", 3), Error);
}

TEST_F(SqliteConnectionTest, EachStatementStandsByItself) {
  conn_->Execute("UPDATE Item SET strName='changed' WHERE lngItemID=2");
  auto other = SqliteConnection::Open(dir_ / "set.db", "acme");
  auto rs = other->OpenResultset("SELECT strName FROM Item WHERE lngItemID=2", 3);
  EXPECT_EQ(rs->Fields()[0].Value().Text(), "changed");
}

TEST_F(SqliteConnectionTest, HostSqlRunsThroughTheTranslation) {
  auto rs = conn_->OpenResultset("SELECT strUserName,strVer FROM ACME.Business", 3);
  EXPECT_EQ(rs->Fields()["strUserName"].Value().Text(), "Acme Trading");
  conn_->Execute("DELETE FROM ITEM NOLOGGING WHERE lngItemID>=3");
  EXPECT_EQ(conn_->RowsAffected(), 1);
  rs = conn_->OpenResultset(
      "SELECT NVL(strName,'none'), LPAD(lngItemID,3,'0') FROM Item "
      "WHERE lngItemID=2",
      3);
  EXPECT_EQ(rs->Fields()[0].Value().Text(), "none");
  EXPECT_EQ(rs->Fields()[1].Value().Text(), "002");
}

// Data-changing statements that differ only in their literals share one prepared statement with
// the literals bound: the results must be those of the statements as written, for text keys
// compared with numbers, quotes inside texts, signs, exponents and big integers; a statement the
// shape does not fit is prepared as written.
TEST_F(SqliteConnectionTest, StatementsKeptByTheirShapeDoWhatTheirTextSays) {
  conn_->ExecuteScript(
      "CREATE TABLE L (k TEXT, n INTEGER, v REAL NOT NULL DEFAULT 0);"
      "INSERT INTO L VALUES ('O''Neil', 1, 10), ('2005', 2, 20), ('x', 9007199254740993, 30);");
  auto copy = SqliteConnection::Create(dir_ / "copy.db", "acme");
  copy->ExecuteScript(
      "CREATE TABLE L (k TEXT, n INTEGER, v REAL NOT NULL DEFAULT 0);"
      "INSERT INTO L VALUES ('O''Neil', 1, 10), ('2005', 2, 20), ('x', 9007199254740993, 30);");
  const std::vector<std::string> statements = {
      "UPDATE L SET v=v+(-12.5) WHERE k='O''Neil' AND ABS(NVL(v,0)-(10))<0.005",
      "UPDATE L SET v=v+(0.1) WHERE k=2005",  // a text key against a number
      "UPDATE L SET v=v+(1e-05) WHERE n=9007199254740993",
      "UPDATE L SET v=v+(2.5E+2) WHERE k='O''Neil' AND ABS(NVL(v,0)-(-2.5))<0.005",
      "UPDATE L SET v=v+(3) WHERE k='nobody'",
      "DELETE FROM L WHERE k='x' AND n<>1 -- a comment's 7 stays",
      "UPDATE L SET k='it''s' || 'ok' WHERE n=1"};
  for (const std::string& sql : statements) {
    conn_->Execute(sql);
    copy->ExecuteScript(sql);  // as written
    EXPECT_EQ(conn_->RowsAffected(), copy->handle() ? sqlite3_changes(copy->handle()) : -1) << sql;
  }
  const auto rows = [](SqliteConnection& c) {
    std::vector<std::string> out;
    for (auto rs = c.OpenResultset("SELECT k, n, v FROM L ORDER BY n", 3); !rs->Eof();
         rs->MoveNext()) {
      out.push_back(rs->Fields()[0].Value().AsText() + "|" + rs->Fields()[1].Value().AsText() +
                    "|" + rs->Fields()[2].Value().AsText());
    }
    return out;
  };
  EXPECT_EQ(rows(*conn_), rows(*copy));
  EXPECT_EQ(rows(*conn_), (std::vector<std::string>{"it'sok|1|247.5", "2005|2|20.1"}));

  const auto shape = sql::LiteralsAsParameters(statements[0]);
  ASSERT_TRUE(shape.has_value());
  EXPECT_EQ(shape->shape, "UPDATE L SET v=v+(-?) WHERE k=? AND ABS(NVL(v,?)-(?))<?");
  ASSERT_EQ(shape->literals.size(), 5u);
  EXPECT_TRUE(shape->literals[1].text);
  EXPECT_EQ(shape->literals[1].value, "O'Neil");
  EXPECT_EQ(shape->literals[4].value, "0.005");
  for (const std::string sql :
       {"SELECT 1 FROM L", "INSERT INTO L VALUES ('a',1,1)", "UPDATE L SET v=1 WHERE n=?",
        "UPDATE L SET k=X'41'", "UPDATE L SET v=(SELECT 1) WHERE n=2", "UPDATE L SET k='open"}) {
    EXPECT_FALSE(sql::LiteralsAsParameters(sql).has_value()) << sql;
  }
}

TEST(SqliteConnectionOpen, RefusesMissingFilesAndNonDatabasesNamingThePath) {
  TempDir dir;
  const auto missing = dir / "missing.db";
  try {
    SqliteConnection::Open(missing, "acme");
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_NE(e.message().find(missing.string()), std::string::npos);
  }
  EXPECT_FALSE(std::filesystem::exists(missing));  // an audit never creates the file

  const auto text = dir / "notes.txt";
  std::ofstream(text) << "this is not a database, just some text long enough to fill a header\n";
  try {
    SqliteConnection::Open(text, "acme");
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_NE(e.message().find(text.string()), std::string::npos);
  }
  EXPECT_THROW(SqliteConnection::Create(text, "acme"), Error);
}

// What the user can act on is said in words: a database another program holds (after the wait,
// also when opening), and one that cannot be written.
TEST_F(SqliteConnectionTest, LockedAndReadOnlyDatabasesAreSaidSo) {
  conn_->ExecuteScript("BEGIN EXCLUSIVE; UPDATE Item SET dblAmount = 0;");
  const std::string locked = "the account-set database " + (dir_ / "set.db").string() +
                             " is locked by another program (waited 0.05 s)";
  OpenOptions brief;
  brief.busy_timeout = std::chrono::milliseconds(50);
  try {
    SqliteConnection::Open(dir_ / "set.db", "acme", brief);
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_EQ(e.message().rfind(locked, 0), 0u) << e.message();
  }
  conn_->ExecuteScript("COMMIT");
  auto reader = SqliteConnection::Open(dir_ / "set.db", "acme", brief);
  conn_->ExecuteScript("BEGIN EXCLUSIVE; UPDATE Item SET dblAmount = 1;");
  try {
    for (auto rs = reader->OpenResultset("SELECT * FROM Item"); !rs->Eof();) rs->MoveNext();
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_EQ(e.message().rfind(locked, 0), 0u) << e.message();
    EXPECT_EQ(e.statement(), "SELECT * FROM Item");
  }
  conn_->ExecuteScript("COMMIT");

  OpenOptions readOnly;
  readOnly.read_only = true;
  auto audit = SqliteConnection::Open(dir_ / "set.db", "acme", readOnly);
  try {
    audit->Execute("DELETE FROM Item");
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_EQ(e.message().rfind("the account-set database " + (dir_ / "set.db").string() +
                                    " cannot be written (read-only)",
                                0),
              0u)
        << e.message();
  }
}

}  // namespace
}  // namespace tallyvet::db
