#include "db/odbc_connection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "support/odbc_source.h"
#include "support/temp_dir.h"

namespace tallyvet::db {
namespace {

using tallyvet::testing::SqliteOdbcString;
using tallyvet::testing::TempDir;

class OdbcConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    embedded_ = SqliteConnection::Create(dir_ / "set.db", "acme");
    embedded_->ExecuteScript(R"(
      CREATE TABLE Item (lngItemID INTEGER PRIMARY KEY, strItemCode CHAR(10), strName TEXT,
                         dblAmount REAL NOT NULL DEFAULT 0, lngClassID INTEGER);
      INSERT INTO Item VALUES (3, 'C03', 'gamma', 1.5, 1), (1, 'C01', 'alpha', 2.25, NULL),
                              (2, 'C02', NULL, 4, 2), (4, 'C04', '三号仓库', 0.1, 1);
      CREATE TABLE Class (lngClassID INTEGER, strName TEXT);
      INSERT INTO Class VALUES (1, 'tools'), (2, 'food');
      CREATE TABLE Business (strUserName TEXT, strVer TEXT);
      INSERT INTO Business VALUES ('Acme Trading', '9.00');
      CREATE TABLE Ledger (lngItemID INTEGER, strDate TEXT, dblAmount REAL);
      WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM n WHERE i<2999)
      INSERT INTO Ledger SELECT i % 7, printf('2025-%02d-%02d', 1 + i % 12, 1 + i % 28),
                                CASE WHEN i % 5 = 0 THEN NULL ELSE i * 0.37 END FROM n;
    )");
    odbc_ = OdbcConnection::Open(SqliteOdbcString(dir_ / "set.db"), "acme");
  }

  std::string Count(const std::string& table) {
    return embedded_->OpenResultset("SELECT COUNT(*) FROM " + table)->Fields()[0].Value().AsText();
  }

  TempDir dir_;
  std::unique_ptr<SqliteConnection> embedded_;
  std::unique_ptr<OdbcConnection> odbc_;
};

// The SQLite driver hands doubles over as text of 15 significant digits.
void ExpectSameValue(const Value& odbc, const Value& embedded, const std::string& where) {
  ASSERT_EQ(odbc.IsNull(), embedded.IsNull()) << where;
  ASSERT_EQ(odbc.IsInteger(), embedded.IsInteger()) << where;
  ASSERT_EQ(odbc.IsDouble(), embedded.IsDouble()) << where;
  if (odbc.IsDouble()) {
    EXPECT_NEAR(odbc.AsDouble(), embedded.AsDouble(),
                1e-14 * std::max(1.0, std::fabs(embedded.AsDouble())))
        << where;
  } else {
    EXPECT_EQ(odbc.AsText(), embedded.AsText()) << where;
  }
}

// Walks both to their end, row by row; returns the number of rows.
int ExpectSameRows(Recordset& odbc, Recordset& embedded, const std::string& sql) {
  int row = 0;
  for (; !embedded.Eof(); embedded.MoveNext(), odbc.MoveNext(), ++row) {
    if (odbc.Eof()) {
      ADD_FAILURE() << "ODBC result ends after " << row << " rows: " << sql;
      return row;
    }
    for (std::size_t c = 0; c < embedded.Fields().Count(); ++c) {
      ExpectSameValue(odbc.Fields()[c].Value(), embedded.Fields()[c].Value(),
                      sql + " row " + std::to_string(row) + " column " + std::to_string(c));
    }
  }
  EXPECT_TRUE(odbc.Eof()) << sql;
  return row;
}

void ExpectSameResult(Recordset& odbc, Recordset& embedded, const std::string& sql) {
  ASSERT_EQ(odbc.Fields().Count(), embedded.Fields().Count()) << sql;
  for (std::size_t c = 0; c < embedded.Fields().Count(); ++c) {
    EXPECT_EQ(odbc.Fields()[c].Name(), embedded.Fields()[c].Name()) << sql;
    EXPECT_EQ(odbc.Fields()[c].Type(), embedded.Fields()[c].Type())
        << sql << " column " << embedded.Fields()[c].Name();
  }
  EXPECT_EQ(odbc.Bof(), embedded.Bof()) << sql;
  const int rows = ExpectSameRows(odbc, embedded, sql);
  odbc.MoveFirst();
  embedded.MoveFirst();
  EXPECT_EQ(ExpectSameRows(odbc, embedded, sql), rows) << "after MoveFirst: " << sql;
}

TEST_F(OdbcConnectionTest, RecordsetsMatchTheEmbeddedDatabaseOnTheSameQueries) {
  EXPECT_EQ(odbc_->dialect(), OdbcDialect::kSqlite);
  EXPECT_EQ(odbc_->dbms_name(), "SQLite");
  for (const std::string sql : {
           // declared types, nulls last as Oracle orders them, a CHAR column, multi-byte text
           "SELECT lngItemID, strItemCode, strName, dblAmount FROM Item ORDER BY strName",
           // an outer join, an owner-qualified table
           "SELECT Item.strName, Class.strName AS cls FROM Item, Class "
           "WHERE Item.lngClassID=Class.lngClassID(+) ORDER BY Item.lngItemID",
           "SELECT strUserName, strVer FROM ACME.Business",
           // the Oracle functions and null-safe concatenation
           "SELECT NVL(strName,'none'), DECODE(lngClassID,1,'one',2,'two','other'), "
           "LPAD(lngItemID,3,'0'), RPAD(strItemCode,5,'*'), strItemCode||strName FROM Item "
           "ORDER BY lngItemID",
           // names of qualified columns and of expressions over them
           "SELECT NVL(Item.strName,'-'), Item.lngItemID, SUM(Item.dblAmount) AS total FROM Item "
           "GROUP BY Item.lngItemID ORDER BY 2",
           // aggregates, a null group
           "SELECT lngClassID, SUM(dblAmount), COUNT(*) FROM Item GROUP BY lngClassID "
           "ORDER BY lngClassID",
           // a column whose first value is a whole number and whose later values are not
           "SELECT DECODE(lngItemID,1,0,dblAmount) AS amount FROM Item ORDER BY lngItemID",
           // no row at all; then an expression has no type to give either
           "SELECT lngItemID, strName FROM Item WHERE 1=0",
           "SELECT SUM(dblAmount), NVL(lngItemID,0), lngItemID FROM Item WHERE 1=0 "
           "GROUP BY lngItemID",
           // several blocks of rows, nulls among them
           "SELECT lngItemID, strDate, dblAmount FROM Ledger ORDER BY strDate, lngItemID",
       }) {
    auto odbc = odbc_->OpenResultset(sql, 3, 3);
    auto embedded = embedded_->OpenResultset(sql, 3, 3);
    ExpectSameResult(*odbc, *embedded, sql);
  }
}

TEST_F(OdbcConnectionTest, RowsPastTheMemoryBoundSpillAndReplayIdentically) {
  OpenOptions options;
  options.spill_threshold = 4096;
  auto small = OdbcConnection::Open(SqliteOdbcString(dir_ / "set.db"), "acme", options);
  const std::string sql = "SELECT strDate, lngItemID, dblAmount FROM Ledger ORDER BY 1, 2, 3";
  auto odbc = small->OpenResultset(sql, 3, 3);
  auto embedded = embedded_->OpenResultset(sql, 3, 3);
  ExpectSameResult(*odbc, *embedded, sql);
  EXPECT_GT(odbc->SpilledRows(), 2000u);
}

TEST_F(OdbcConnectionTest, ExecuteCountsRowsAndTranslatesTheHostsSql) {
  odbc_->Execute("UPDATE Item SET dblAmount=dblAmount+1 WHERE lngItemID<3");
  EXPECT_EQ(odbc_->RowsAffected(), 2);
  odbc_->Execute("UPDATE Item SET dblAmount=0 WHERE lngItemID=99");
  EXPECT_EQ(odbc_->RowsAffected(), 0);
  odbc_->Execute("INSERT INTO /*+ APPEND */ ITEM NOLOGGING (lngItemID, strName) VALUES (9, 'x')");
  EXPECT_EQ(odbc_->RowsAffected(), 1);
  odbc_->Execute("DELETE FROM ITEM NOLOGGING WHERE lngItemID>=4");
  EXPECT_EQ(odbc_->RowsAffected(), 2);
  EXPECT_FALSE(odbc_->StillExecuting());
  EXPECT_EQ(Count("Item"), "3");
  const std::string sql = "SELECT a || b FROM ACME.T WHERE x.y=z.w(+)";
  EXPECT_EQ(odbc_->Translate(sql), embedded_->Translate(sql));
}

TEST_F(OdbcConnectionTest, StatementErrorsCarrySqlstateDriverMessageAndStatement) {
  for (const auto& [sql, text] : std::vector<std::pair<std::string, std::string>>{
           {"UPDATE NoSuchLedger SET dblAmount=1", "no such table"},
           {"SELECT nosuchcolumn FROM Item", "no such column"},
           {"SELEKT 1", "syntax error"}}) {
    try {
      if (sql.starts_with("UPDATE")) {
        odbc_->Execute(sql);
      } else {
        odbc_->OpenResultset(sql, 3);
      }
      ADD_FAILURE() << "expected an error: " << sql;
    } catch (const OdbcError& e) {
      EXPECT_EQ(e.sqlstate().size(), 5u) << e.what();
      EXPECT_NE(e.message().find(text), std::string::npos) << e.message();
      EXPECT_NE(e.message().find("(SQLSTATE " + e.sqlstate() + ")"), std::string::npos);
      EXPECT_EQ(e.statement(), sql);
    }
  }
  EXPECT_FALSE(odbc_->LinkLost());
}

// A writer holding the file: the statement gives up after the wait the data source allows (for
// the SQLite driver its Timeout key; SQL_ATTR_QUERY_TIMEOUT for drivers that keep it) with the
// driver's message, instead of hanging.
TEST_F(OdbcConnectionTest, AStatementWaitingOnALockFailsWithTheDriversMessage) {
  auto waiting = OdbcConnection::Open(SqliteOdbcString(dir_ / "set.db") + ";Timeout=200", "acme");
  waiting->SetQueryTimeout(std::chrono::seconds(1));
  embedded_->ExecuteScript("BEGIN IMMEDIATE; UPDATE Item SET dblAmount=7 WHERE lngItemID=1;");
  try {
    waiting->Execute("UPDATE Item SET dblAmount=8 WHERE lngItemID=1");
    ADD_FAILURE() << "expected an error";
  } catch (const OdbcError& e) {
    EXPECT_NE(e.message().find("locked"), std::string::npos) << e.what();
  }
  embedded_->ExecuteScript("ROLLBACK");
  waiting->Execute("UPDATE Item SET dblAmount=8 WHERE lngItemID=1");
  EXPECT_EQ(waiting->RowsAffected(), 1);
}

TEST_F(OdbcConnectionTest, TransactionsCommitOrRollBackWhatTheHostWrote) {
  odbc_->SetAutocommit(false);
  odbc_->Execute("DELETE FROM Ledger");
  odbc_->Execute("SAVEPOINT inner_step");
  odbc_->Execute("INSERT INTO Class VALUES (3, 'paper')");
  odbc_->Execute("ROLLBACK TO inner_step");
  odbc_->Execute("RELEASE inner_step");
  odbc_->Rollback();
  EXPECT_EQ(Count("Ledger"), "3000");
  EXPECT_EQ(Count("Class"), "2");

  odbc_->Execute("INSERT INTO Class VALUES (3, 'paper')");
  odbc_->Commit();
  EXPECT_EQ(Count("Class"), "3");
  odbc_->SetAutocommit(true);
  odbc_->Execute("DELETE FROM Class WHERE lngClassID=3");
  EXPECT_EQ(Count("Class"), "2");
}

TEST_F(OdbcConnectionTest, ALostLinkIsReportedUntilReopenConnectsAgain) {
  auto before = odbc_->OpenResultset("SELECT lngItemID FROM Item ORDER BY 1", 3);
  odbc_->Close();
  try {
    odbc_->Execute("UPDATE Item SET dblAmount=0");
    FAIL() << "expected an error";
  } catch (const OdbcError& e) {
    EXPECT_EQ(ClassifySqlState(e.sqlstate(), false), OdbcFailure::kLinkLost) << e.what();
  }
  EXPECT_TRUE(odbc_->LinkLost());
  EXPECT_NE(odbc_->LinkLostError().find("SQLSTATE 08"), std::string::npos);
  EXPECT_THROW(odbc_->OpenResultset("SELECT 1", 3), OdbcError);
  odbc_->Reopen();
  EXPECT_FALSE(odbc_->LinkLost());
  auto after = odbc_->OpenResultset("SELECT COUNT(*) FROM Item", 3);
  EXPECT_EQ(after->Fields()[0].Value().AsInteger(), 4);
  int rows = 0;
  for (; !before->Eof(); before->MoveNext()) ++rows;
  EXPECT_EQ(rows, 4);
  odbc_.reset();  // the recordset outlives its connection
  before->MoveFirst();
  EXPECT_EQ(before->Fields()[0].Value().AsInteger(), 1);
}

// Texts longer than their fetch buffer, in text columns and in one the driver takes for numbers.
TEST_F(OdbcConnectionTest, LongTextsAreReadWholeNeverCutShort) {
  embedded_->ExecuteScript(
      "INSERT INTO Class VALUES (9, printf('%.70000c', 'x')), (10, replace(printf('%.600c', '-'), "
      "'-', '账'))");
  for (const std::string sql :
       {"SELECT lngClassID, strName FROM Class ORDER BY lngClassID",
        "SELECT DECODE(lngClassID, 1, 5, strName) AS v FROM Class ORDER BY lngClassID"}) {
    auto odbc = odbc_->OpenResultset(sql, 3, 3);
    auto embedded = embedded_->OpenResultset(sql, 3, 3);
    ExpectSameResult(*odbc, *embedded, sql);
  }
}

TEST(OdbcConnectionOpen, FailuresSayWhatWentWrong) {
  TempDir dir;
  SqliteConnection::Create(dir / "bare.db", "acme");
  const std::string bare = dir.path().string() + "/bare.db";
  struct Case {
    std::string connection;
    std::string sqlstate;  // empty: not a driver failure
    OdbcFailure failure;
    std::string text;
  };
  for (const Case& c : std::vector<Case>{
           {"DSN=tallyvet_no_such_dsn", "IM002", OdbcFailure::kUnknownDataSource,
            "Data source name not found"},
           {"Driver=/nonexistent/libnodriver.so;Database=x", "01000", OdbcFailure::kMissingDriver,
            "libnodriver.so"},
           // Nothing listens on port 1 of this machine: the server cannot be reached.
           {"Driver=PostgreSQL Unicode;Server=127.0.0.1;Port=1;Database=x;UID=u;PWD=p", "08001",
            OdbcFailure::kConnectFailed, "127.0.0.1"},
           {"Driver=SQLite3;Database=" + dir.path().string() + "/missing.db;NoCreat=1", "HY000",
            OdbcFailure::kOther, "connect failed"},
           {"Driver=SQLite3;Database=" + bare + ";NoCreat=1", "", OdbcFailure::kOther, "LoadExt="},
       }) {
    try {
      OdbcConnection::Open(c.connection, "acme");
      ADD_FAILURE() << "expected an error: " << c.connection;
    } catch (const OdbcError& e) {
      EXPECT_EQ(e.sqlstate(), c.sqlstate) << e.what();
      EXPECT_EQ(ClassifySqlState(e.sqlstate(), true), c.failure) << e.what();
      EXPECT_NE(e.message().find(c.text), std::string::npos) << e.message();
      EXPECT_EQ(e.message().find("PWD=p"), std::string::npos) << "no password in messages";
    } catch (const Error& e) {
      EXPECT_TRUE(c.sqlstate.empty()) << e.what();
      EXPECT_NE(e.message().find(c.text), std::string::npos) << e.message();
    }
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "missing.db"));
}

TEST(OdbcDialect, ProductNamesPickTheDialectOrAreNamedInTheRefusal) {
  EXPECT_EQ(DialectOf("Oracle"), OdbcDialect::kOracle);
  EXPECT_EQ(DialectOf("SQLite"), OdbcDialect::kSqlite);
  EXPECT_EQ(DialectOf("PostgreSQL"), OdbcDialect::kPostgres);
  try {
    DialectOf("Microsoft SQL Server");
    FAIL() << "expected an error";
  } catch (const Error& e) {
    EXPECT_NE(e.message().find("Microsoft SQL Server"), std::string::npos);
  }
}

TEST(OdbcDialect, SqlstatesNameTheFailure) {
  for (const auto& [state, connecting, failure] :
       std::vector<std::tuple<std::string, bool, OdbcFailure>>{
           {"IM002", true, OdbcFailure::kUnknownDataSource},
           {"IM003", true, OdbcFailure::kMissingDriver},
           {"01000", true, OdbcFailure::kMissingDriver},
           {"01000", false, OdbcFailure::kOther},
           {"28000", true, OdbcFailure::kLoginRefused},  // Oracle: ORA-01017
           {"28P01", true, OdbcFailure::kLoginRefused},  // PostgreSQL
           {"08001", true, OdbcFailure::kConnectFailed},
           {"08S01", false, OdbcFailure::kLinkLost},  // Oracle: ORA-03113, ORA-03114
           {"08003", false, OdbcFailure::kLinkLost},
           {"42S02", false, OdbcFailure::kNoSuchTable},  // Oracle: ORA-00942
           {"42P01", false, OdbcFailure::kNoSuchTable},  // PostgreSQL: undefined_table
           {"HY000", false, OdbcFailure::kOther},
       }) {
    EXPECT_EQ(ClassifySqlState(state, connecting), failure) << state;
  }
}

}  // namespace
}  // namespace tallyvet::db
