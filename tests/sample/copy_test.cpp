// Copying an account set to a server: the statements a server receives, checked by replaying
// them into a second embedded database (a server's DDL is close enough to SQLite's for that) and
// comparing every table with the source.
#include "sample/copy.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "db/error.h"
#include "sample/sample.h"
#include "sample/statement.h"
#include "tests/support/temp_dir.h"

namespace tallyvet::sample {
namespace {

TEST(CopyAccountSet, LiteralsReadBackAsTheValuesTheyWrite) {
  EXPECT_EQ(SqlLiteral(db::Value()), "NULL");
  EXPECT_EQ(SqlLiteral(db::Value(std::int64_t{-42})), "-42");
  EXPECT_EQ(SqlLiteral(db::Value(std::string_view("O'Brien's 委托"))), "'O''Brien''s 委托'");
  EXPECT_EQ(SqlLiteral(db::Value(std::string_view(""))), "''");
  for (const double d : {0.1, -1234.5678, 1e-300, 2.0 / 3.0, std::numeric_limits<double>::max()}) {
    EXPECT_EQ(std::stod(SqlLiteral(db::Value(d))), d) << SqlLiteral(db::Value(d));
  }
  EXPECT_EQ(ServerColumnType("integer"), "BIGINT");
  EXPECT_EQ(ServerColumnType("REAL"), "DOUBLE PRECISION");
  EXPECT_EQ(ServerColumnType("TEXT"), "VARCHAR(4000)");
}

// Replays what the copy sends into an attached SQLite database named after the schema.
class Replay {
 public:
  explicit Replay(sqlite3* db) : db_(db) {}
  void operator()(const std::string& sql) {
    statements.push_back(sql);
    if (sql.rfind("CREATE SCHEMA ", 0) == 0 || sql.rfind("DROP SCHEMA", 0) == 0 ||
        sql.rfind("ANALYZE ", 0) == 0) {
      return;  // the attached database stands for the schema
    }
    if (sql.rfind("CREATE INDEX ", 0) == 0) {
      // SQLite names the schema on the index, a server on the table.
      const std::size_t on = sql.find(" ON ZT001.");
      Exec(db_, "CREATE INDEX ZT001." + sql.substr(13, on - 13) + " ON " + sql.substr(on + 10));
      return;
    }
    Exec(db_, sql);
  }
  std::vector<std::string> statements;

 private:
  sqlite3* db_;
};

TEST(CopyAccountSet, EveryTableArrivesWholeWithKeysAndIndexes) {
  testing::TempDir dir;
  SampleOptions o;
  o.path = dir / "source.db";
  o.owner = "ZT001";
  o.scale = 300;
  o.faults = FaultSet::kAll;
  CreateSample(o);

  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open((dir / "source.db").c_str(), &db), SQLITE_OK);
  Exec(db, "ATTACH '" + (dir / "copy.db").string() + "' AS ZT001");
  Replay target(db);
  std::vector<std::string> tables;
  CopyOptions copy;
  copy.schema = "ZT001";
  copy.rowsPerStatement = 7;  // several statements per table, and a short last one
  copy.copied = [&](const std::string& table, std::int64_t rows) {
    tables.push_back(table);
    EXPECT_EQ(QueryValue(db, "SELECT COUNT(*) FROM main." + table).AsInteger(), rows) << table;
  };
  CopyAccountSet(dir / "source.db", std::ref(target), copy);

  EXPECT_EQ(target.statements.front(), "CREATE SCHEMA ZT001");
  ASSERT_GE(tables.size(), 30u);
  for (const std::string& t : tables) {
    const std::string differing =
        "SELECT COUNT(*) FROM (SELECT * FROM main." + t + " EXCEPT SELECT * FROM ZT001." + t + ")";
    EXPECT_EQ(QueryValue(db, differing).AsInteger(), 0) << t;
  }
  EXPECT_EQ(QueryValue(db, "SELECT COUNT(*) FROM ZT001.ALL_SOURCE").AsInteger(),
            QueryValue(db, "SELECT COUNT(*) FROM main.ALL_SOURCE").AsInteger());
  // Keys and the date indexes the ledger statements need came along.
  EXPECT_EQ(QueryValue(db,
                       "SELECT COUNT(*) FROM ZT001.sqlite_master WHERE type='index' AND "
                       "name='ItemActivity_Date'")
                .AsInteger(),
            1);
  EXPECT_THROW(Exec(db, "INSERT INTO ZT001.AccountPeriod SELECT * FROM main.AccountPeriod"),
               db::Error);  // the primary key holds
  sqlite3_close(db);
}

TEST(CopyAccountSet, RefusesAnOwnerThatIsNoPlainName) {
  Replay target(nullptr);
  for (const std::string owner : {"", "zt;DROP", "a b", "1abc"}) {
    CopyOptions copy;
    copy.schema = owner;
    EXPECT_THROW(CopyAccountSet("/nonexistent", std::ref(target), copy), std::runtime_error)
        << owner;
  }
  EXPECT_TRUE(target.statements.empty());
}

}  // namespace
}  // namespace tallyvet::sample
