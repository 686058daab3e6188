// The statement trace's parts on an embedded file: what a line says for a query read whole, read
// part way, refused; for a write, a savepoint and a transaction; the purpose and item a statement
// takes when it starts; the file's mode; masked passwords; and the owner names every backend
// refuses before they reach a statement.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

#include "db/sqlite_connection.h"
#include "db/statement_trace.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

namespace tallyvet::db {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

std::vector<json> Lines(const fs::path& file) {
  std::vector<json> lines;
  std::istringstream in(testing::FileText(file));
  for (std::string line; std::getline(in, line);) lines.push_back(json::parse(line));
  return lines;
}

class TracedFile : public ::testing::Test {
 protected:
  void SetUp() override {
    auto conn = SqliteConnection::Create(dir_ / "t.db", "owner");
    conn->ExecuteScript(
        "CREATE TABLE Item (lngItemID INTEGER, strName TEXT);"
        "INSERT INTO Item VALUES (1,'a'),(2,NULL),(3,'c');");
    conn.reset();
    trace_ = std::make_shared<StatementTrace>(dir_ / "trace.jsonl", "test");
    traced_ = std::make_unique<TracingConnection>(SqliteConnection::Open(dir_ / "t.db", "owner"),
                                                  trace_, (dir_ / "t.db").string());
  }
  std::vector<json> Lines() const { return tallyvet::db::Lines(dir_ / "trace.jsonl"); }

  testing::TempDir dir_;
  std::shared_ptr<StatementTrace> trace_;
  std::unique_ptr<TracingConnection> traced_;
};

TEST_F(TracedFile, AQueryIsWrittenOnceItsLastRowIsReadOrItIsClosed) {
  {
    auto rs = traced_->OpenResultset("SELECT lngItemID FROM Item ORDER BY lngItemID", 3);
    EXPECT_EQ(Lines().size(), 1u) << "only the opening line while rows remain";
    while (!rs->Eof()) rs->MoveNext();
    ASSERT_EQ(Lines().size(), 2u);
    // Read again from the first row: the statement does not run again.
    rs->MoveFirst();
    while (!rs->Eof()) rs->MoveNext();
  }
  {
    auto rs = traced_->OpenResultset("SELECT strName FROM Item WHERE lngItemID=1", 3);
    rs->Close();  // one row fetched, the source left before its end
  }
  traced_->OpenResultset("SELECT * FROM Item WHERE 1=0")->Close();
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0]["open"], (dir_ / "t.db").string());
  EXPECT_EQ(lines[1]["rows"], 3);
  EXPECT_EQ(lines[1]["connection"], lines[0]["connection"]);
  EXPECT_EQ(lines[1]["purpose"], "other");
  EXPECT_EQ(lines[2]["rows"], 1);
  EXPECT_EQ(lines[3]["rows"], 0);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    EXPECT_GE(lines[i]["ms"].get<double>(), 0);
    EXPECT_FALSE(lines[i].contains("rows_affected"));
    EXPECT_FALSE(lines[i].contains("error"));
  }
}

TEST_F(TracedFile, TheSentFormIsWrittenWhereTheDialectChangesTheStatement) {
  traced_->OpenResultset("SELECT NVL(strName,'-') FROM OWNER.Item")->Close();
  traced_->OpenResultset("SELECT strName FROM Item")->Close();
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[1]["host_sql"], "SELECT NVL(strName,'-') FROM OWNER.Item");
  EXPECT_EQ(lines[1]["sent_sql"], static_cast<SqliteConnection&>(Backend(*traced_))
                                      .Translate("SELECT NVL(strName,'-') FROM OWNER.Item"));
  EXPECT_NE(lines[1]["sent_sql"], lines[1]["host_sql"]);
  EXPECT_FALSE(lines[2].contains("sent_sql"));
}

TEST_F(TracedFile, AFailingStatementCarriesTheDatabasesMessageAndStillThrows) {
  EXPECT_THROW(traced_->OpenResultset("SELECT x FROM NoSuchTable"), Error);
  EXPECT_THROW(traced_->Execute("UPDATE NoSuchTable SET x=1"), Error);
  EXPECT_THROW(traced_->OpenRowSource("SELECT FROM"), Error);
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_NE(lines[1]["error"].get<std::string>().find("no such table"), std::string::npos);
  EXPECT_NE(lines[2]["error"].get<std::string>().find("no such table"), std::string::npos);
  EXPECT_TRUE(lines[3].contains("error"));
}

TEST_F(TracedFile, WritesSavepointsAndTransactionsAreLinesOfTheirOwn) {
  {
    Transaction tx(*traced_);
    traced_->Execute("SAVEPOINT sp");
    traced_->Execute("UPDATE Item SET strName='z' WHERE lngItemID>=2");
    traced_->Execute("ROLLBACK TO sp");
    traced_->Execute("RELEASE sp");
    traced_->Execute("DELETE FROM Item WHERE lngItemID=3");
    tx.Commit();
  }
  {
    Transaction dropped(*traced_);  // rolled back by its destructor
  }
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 10u);
  const std::vector<std::string> kinds = {"begin", "savepoint", "",      "rollback_to", "release",
                                          "",      "commit",    "begin", "rollback"};
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    EXPECT_EQ(lines[i + 1].value("transaction", ""), kinds[i]) << lines[i + 1].dump();
  }
  EXPECT_EQ(lines[3]["rows_affected"], 2);
  EXPECT_EQ(lines[6]["rows_affected"], 1);
  EXPECT_EQ(lines[2]["host_sql"], "SAVEPOINT sp");
  EXPECT_FALSE(lines[2].contains("rows_affected"));
}

TEST_F(TracedFile, AStatementTakesThePurposeAndItemInForceWhenItStarts) {
  std::unique_ptr<Recordset> rs;
  {
    const StatementScope item(Purpose::kOther, 4);
    {
      const StatementScope recompute(Purpose::kRecompute);
      rs = traced_->OpenResultset("SELECT lngItemID FROM Item", 3);
    }
    traced_->Execute("UPDATE Item SET strName=strName");
  }
  traced_->OpenResultset("SELECT 1")->Close();
  // Read to its end outside every scope: the line keeps what held when the query started.
  while (!rs->Eof()) rs->MoveNext();
  const auto lines = Lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[1]["purpose"], "other");
  EXPECT_EQ(lines[1]["item"], 4);
  EXPECT_EQ(lines[1]["host_sql"], "UPDATE Item SET strName=strName");
  EXPECT_EQ(lines[2]["purpose"], "other");
  EXPECT_FALSE(lines[2].contains("item"));
  EXPECT_EQ(lines[3]["purpose"], "recompute");
  EXPECT_EQ(lines[3]["item"], 4);
  EXPECT_EQ(lines[3]["rows"], 3);
}

TEST_F(TracedFile, ConnectionsOnThreadsWriteWholeLinesEachWithItsNumber) {
  const fs::path db = dir_ / "t.db";
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const StatementScope scope(Purpose::kStored, t + 1);
      TracingConnection conn(SqliteConnection::Open(db, "owner"), trace_, db.string());
      for (int i = 0; i < 50; ++i) conn.OpenResultset("SELECT * FROM Item")->Close();
    });
  }
  for (std::thread& t : threads) t.join();
  std::map<int, int> byConnection;
  std::map<int, int> itemOf;
  for (const json& line : Lines()) {
    if (line.contains("open")) continue;
    ++byConnection[line["connection"].get<int>()];
    if (line.contains("item")) itemOf[line["connection"].get<int>()] = line["item"].get<int>();
  }
  ASSERT_EQ(byConnection.size(), 4u);
  std::set<int> items;
  for (const auto& [connection, count] : byConnection) {
    EXPECT_EQ(count, 50);
    items.insert(itemOf[connection]);
  }
  EXPECT_EQ(items, (std::set<int>{1, 2, 3, 4}));
}

TEST(StatementTraceFile, IsCreatedForItsOwnerAloneAndNeverWritesIntoAFileOthersMayRead) {
  testing::TempDir dir;
  const mode_t before = ::umask(0);
  {
    StatementTrace made(dir / "new.jsonl", "job");
    made.OpenConnection("x");
  }
  struct stat st {};
  ASSERT_EQ(::stat((dir / "new.jsonl").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  // An earlier trace of the owner's is emptied; one others may read is left as it is.
  { StatementTrace again(dir / "new.jsonl", "job"); }
  EXPECT_EQ(testing::FileText(dir / "new.jsonl"), "");
  {
    std::ofstream(dir / "shared.jsonl") << "keep\n";
    ::chmod((dir / "shared.jsonl").c_str(), 0644);
  }
  EXPECT_THROW(StatementTrace(dir / "shared.jsonl", "job"), std::runtime_error);
  EXPECT_EQ(testing::FileText(dir / "shared.jsonl"), "keep\n");
  // A link planted where the trace goes is not followed.
  fs::create_symlink(dir / "shared.jsonl", dir / "link.jsonl");
  EXPECT_THROW(StatementTrace(dir / "link.jsonl", "job"), std::runtime_error);
  ::umask(before);
}

TEST(StatementTraceFile, WithoutAPathOrTheVariableThereIsNoTrace) {
  testing::TempDir dir;
  ::unsetenv("TALLYVET_TRACE_SQL");
  EXPECT_EQ(OpenStatementTrace("", "job", true), nullptr);
  ::setenv("TALLYVET_TRACE_SQL", (dir / "env.jsonl").c_str(), 1);
  EXPECT_EQ(OpenStatementTrace("", "job", false), nullptr);
  const auto fromEnvironment = OpenStatementTrace("", "job", true);
  ASSERT_NE(fromEnvironment, nullptr);
  EXPECT_EQ(fromEnvironment->path(), dir / "env.jsonl");
  EXPECT_EQ(OpenStatementTrace((dir / "named.jsonl").string(), "job", true)->path(),
            dir / "named.jsonl");
  ::unsetenv("TALLYVET_TRACE_SQL");
}

struct Masking {
  std::string given, written;
};

class ConnectionStringMasking : public ::testing::TestWithParam<Masking> {};

TEST_P(ConnectionStringMasking, HidesPasswordValuesAndKeepsTheRest) {
  EXPECT_EQ(MaskConnectionString(GetParam().given), GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(
    Strings, ConnectionStringMasking,
    ::testing::Values(Masking{"DSN=accounts;UID=acct;PWD=secret", "DSN=accounts;UID=acct;PWD=***"},
                      Masking{"pwd=secret;DSN=a", "pwd=***;DSN=a"},
                      Masking{"Driver={PostgreSQL Unicode};Password=s;e;Port=5",
                              "Driver={PostgreSQL Unicode};Password=***;e;Port=5"},
                      Masking{"DSN=a;PWD={se;c}}ret};UID=u", "DSN=a;PWD=***;UID=u"},
                      Masking{"DSN=a; Pwd =x", "DSN=a; Pwd =***"},
                      Masking{"DSN=a;PWD={never closed", "DSN=a;PWD=***"},
                      Masking{"/var/lib/accounts.db", "/var/lib/accounts.db"},
                      Masking{"DSN=a;PWDX=shown", "DSN=a;PWDX=shown"}));

struct Owner {
  std::string name;
  bool plain;
};

class OwnerNames : public ::testing::TestWithParam<Owner> {};

TEST_P(OwnerNames, AreRefusedUnlessPlainBeforeTheDatabaseIsReached) {
  testing::TempDir dir;
  const std::string& name = GetParam().name;
  if (GetParam().plain) {
    EXPECT_NO_THROW(RequireOwnerName(name));
    EXPECT_NO_THROW(SqliteConnection::Create(dir / "ok.db", name));
    return;
  }
  try {
    RequireOwnerName(name);
    FAIL() << "accepted " << name;
  } catch (const Error& e) {
    EXPECT_EQ(e.statement(), "");
    EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos);
    EXPECT_NE(std::string(e.what()).find("is not a plain name"), std::string::npos);
  }
  // Refused before a file is made or opened: neither a new file nor a missing one is touched.
  EXPECT_THROW(SqliteConnection::Create(dir / "new.db", name), Error);
  EXPECT_FALSE(fs::exists(dir / "new.db"));
  EXPECT_THROW(SqliteConnection::Open(dir / "missing.db", name), Error);
}

INSTANTIATE_TEST_SUITE_P(
    Names, OwnerNames,
    ::testing::Values(Owner{"SAMPLE", true}, Owner{"a", true}, Owner{"acct_01$#", true},
                      Owner{std::string(128, 'A'), true}, Owner{std::string(129, 'A'), false},
                      Owner{"", false}, Owner{"SAMPLE' OR '1'='1", false}, Owner{"1abc", false},
                      Owner{"_abc", false}, Owner{"a.b", false}, Owner{"a b", false},
                      Owner{"a\nb", false}, Owner{"名字", false}, Owner{"a;DROP", false}));

}  // namespace
}  // namespace tallyvet::db
