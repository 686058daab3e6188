// The comparison on the server against the merge of the whole sides: on random ledgers whose
// differences sit around half a cent, on one side only, in columns an item leaves out, under text
// keys with blanks and bytes beyond ASCII, both give the same section, differences, summary list
// and corrections; keys the join cannot pair as the merge does send the item to the merge, which
// says why. On the embedded database and, when the test's server is there, on PostgreSQL.
#include "ledger_engine/server_comparison.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <set>
#include <thread>

#include "db/odbc_connection.h"
#include "fixtures.h"
#include "ledger_engine/comparison.h"
#include "support/postgres_source.h"

namespace tallyvet {
namespace {

enum class Backend { kEmbedded, kPostgres };

// Every call of a run's sink, as text, in order.
struct CallLog final : DifferenceSink {
  void RecordDifference(const DifferenceRecord& r, bool firstInRow) override {
    std::string keys;
    for (const KeyValue& k : r.keys) {
      keys += k.column + "=" + (k.value.IsText() ? "'" + k.value.Text() + "'" : k.value.AsText()) +
              (k.value.IsInteger() ? "i " : " ");
    }
    calls.push_back(std::to_string(r.item) + (firstInRow ? " first|" : " |") + keys + "|" +
                    r.condition + "|" + r.keyDescription + "|" + r.columnName + "|" +
                    r.columnCaption + "|" + db::FormatDouble(r.storedValue) + "|" +
                    db::FormatDouble(r.recomputedValue) + "|" + std::to_string(r.columnIndex) +
                    "|" + std::to_string(r.keyCount) + "|" + RowSideName(r.side));
  }
  void EndItem(int item) override { calls.push_back("end " + std::to_string(item)); }
  void Notice(int item, const std::string& text) override {
    calls.push_back("notice " + std::to_string(item) + " " + text);
  }
  void ClientMerge(int item, const std::string& reason) override {
    merges.push_back(std::to_string(item) + " " + reason);
  }
  std::vector<std::string> calls, merges;
};

// What one comparison leaves: everything but how it went about it.
struct Outcome {
  bool agreed = false;
  std::string error, section;
  std::vector<std::string> calls, list, ledger;
  bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& o) {
  out << "agreed " << o.agreed << " error " << o.error << "\n" << o.section;
  for (const auto& c : o.calls) out << c << "\n";
  for (const auto& l : o.list) out << l << "\n";
  for (const auto& l : o.ledger) out << l << "\n";
  return out;
}

// A document line (summed into the recomputed ledger) or a stored ledger row, as SQL values.
struct Row {
  std::string item, date, quantity, amount, entrustIn, unVoucher;
  std::string Values() const {
    return "(" + item + "," + date + "," + quantity + "," + amount + "," + entrustIn + "," +
           unVoucher + ")";
  }
};

struct Scenario {
  std::vector<Row> lines, ledger;
  std::string start = " ", end = "9999-12-31";
};

std::string Number(double v) {
  return db::FormatDouble(v);
}

// Ledgers of a few items and days, most rows in line with their documents, the others off by
// amounts about half a cent, by large ones, or present on one side only; some stored values null.
Scenario RandomScenario(unsigned seed) {
  std::mt19937 rng(seed);
  const auto pick = [&](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  const auto chance = [&](double p) { return std::uniform_real_distribution<>(0, 1)(rng) < p; };
  static const std::vector<std::string> dates = {"'2005-01-03'", "'2005-01-03 '", "' '",
                                                 "'2005-01-0B'", "'2005-01-0a'",  "'2005-01-0甲'",
                                                 "'2005-01-10'", "'2005-01-9'"};
  static const std::vector<double> magnitudes = {0, 0.01, 3.7, 12345.67, 98765432.1, 1e11};
  static const std::vector<double> offsets = {0.004,  0.005, -0.005, 0.0051, 0.006, 0.015,
                                              -0.015, 0.025, 1e-10,  0.1,    -7.5,  0.0049};
  Scenario s;
  if (chance(0.25)) {
    s.start = "2005-01-03";
    s.end = "2005-01-0a";
  }
  for (const char* item : {"15", "16", "17", "3"}) {
    for (const std::string& date : dates) {
      if (!chance(0.7)) continue;
      const int kind = static_cast<int>(pick(100));
      std::array<double, 4> sums{};
      const std::size_t lines = kind < 85 ? 1 + pick(3) : 0;  // 85 and up: stored only
      for (std::size_t l = 0; l < lines; ++l) {
        Row line{item, date, "", "", "", ""};
        std::array<std::string*, 4> cells = {&line.quantity, &line.amount, &line.entrustIn,
                                             &line.unVoucher};
        for (std::size_t c = 0; c < 4; ++c) {
          const double v = chance(0.4) ? 0
                                       : std::round(magnitudes[pick(magnitudes.size())] * 100 +
                                                    static_cast<double>(pick(10000)) - 5000) /
                                             100;
          sums[c] += v;
          *cells[c] = Number(v);
        }
        s.lines.push_back(line);
      }
      if (kind >= 73 && kind < 85) continue;  // recomputed only
      Row stored{item, date, "", "", "", ""};
      std::array<std::string*, 4> cells = {&stored.quantity, &stored.amount, &stored.entrustIn,
                                           &stored.unVoucher};
      for (std::size_t c = 0; c < 4; ++c) {
        double v = sums[c];
        if (kind >= 45 && kind < 73 && chance(0.5)) v += offsets[pick(offsets.size())];
        if (kind >= 85 && chance(0.5)) v = offsets[pick(offsets.size())];
        *cells[c] = kind >= 65 && kind < 73 && chance(0.4) ? "NULL" : Number(v);
      }
      s.ledger.push_back(stored);
    }
  }
  return s;
}

class ServerComparison : public ::testing::TestWithParam<Backend> {
 protected:
  void SetUp() override {
    if (GetParam() == Backend::kPostgres && testing::PostgresOdbcString() == nullptr)
      GTEST_SKIP() << "no PostgreSQL server: TALLYVET_TEST_PG_ODBC is not set";
  }

  // An account set holding the scenario, on the backend, its items 1, 3 and 4 recomputed from the
  // lines of DETAIL and stored in their ledgers; with `zeroItems` the item key is the line's item
  // or 0 (a key the GROUP BY does not give as written, whose rows the server counts).
  std::unique_ptr<testing::AccountSet> Load(const Scenario& s, const std::string& schema,
                                            bool zeroItems = false) {
    auto set = std::make_unique<testing::AccountSet>();
    set->Script(
        "CREATE TABLE Detail (lngItemID INTEGER, strDate TEXT, dblQuantity REAL, dblAmount REAL, "
        "dblEntrust REAL, dblUnVoucher REAL)");
    for (const Row& line : s.lines) set->Insert("Detail", line.Values());
    for (const char* ledger : {"ItemDaily2", "ItemDaily1", "AccountDaily"}) {
      for (const Row& row : s.ledger) set->Insert(ledger, row.Values());
    }
    if (GetParam() == Backend::kPostgres) {
      testing::LoadIntoPostgres(set->dir / "set.db", schema);
      set->ctx.connection = db::OdbcConnection::Open(testing::PostgresOdbcString(), schema);
      set->ctx.user = schema;
    }
    InitCheckItems(set->ctx);
    for (int item : {1, 3, 4}) {
      set->ctx.CheckItems.SelectSql[item - 1] =
          std::string("SELECT ") +
          (zeroItems ? "NVL(DETAIL.LNGITEMID,0) LNGITEMID" : "DETAIL.LNGITEMID") +
          ",DETAIL.STRDATE,SUM(DETAIL.DBLQUANTITY) DBLSALEQUANTITY,"
          "SUM(DETAIL.DBLAMOUNT) DBLSALEAMOUNT,SUM(DETAIL.DBLENTRUST) DBLENTRUSTINQUANTITY,"
          "SUM(DETAIL.DBLUNVOUCHER) DBLUNVOUCHERDEBIT FROM DETAIL WHERE 1=1 "
          "GROUP BY DETAIL.LNGITEMID,DETAIL.STRDATE";
      set->ctx.CheckItems.InsertColumns[item - 1] =
          "LNGITEMID,STRDATE,DBLSALEQUANTITY,DBLSALEAMOUNT,DBLENTRUSTINQUANTITY,DBLUNVOUCHERDEBIT";
    }
    return set;
  }

  // Item 3 as the launcher runs it, then items 1 and 4 correcting their ledgers, each merged
  // where `place` says; the merges that fell back are added to `merges`.
  std::vector<Outcome> RunItems(testing::AccountSet& set, const Scenario& s, ComparePlace place,
                                std::vector<std::string>& merges) {
    set.ctx.comparePlace = place;
    std::vector<Outcome> outcomes;
    const std::pair<int, bool> runs[] = {{3, false}, {1, true}, {4, true}};
    for (const auto& [item, correct] : runs) {
      Outcome o;
      testing::RecordingScreen screen;
      CallLog log;
      const ReportFile report = ReportFile::InMemory(o.section);
      o.agreed = CompareLedger(set.ctx, screen, report, item, s.start, s.end, true, correct, {&log},
                               &o.error);
      o.calls = log.calls;
      o.list = screen.list;
      const std::string& table = set.ctx.CheckItems.LedgerTable[item - 1];
      for (auto rs = set.ctx.conn().OpenResultset("SELECT * FROM " + table + " ORDER BY 1,2", 3);
           !rs->Eof(); rs->MoveNext()) {
        std::string row;
        for (std::size_t i = 0; i < rs->Fields().Count(); ++i)
          row += rs->Fields()[i].Value().AsText() + "|";
        o.ledger.push_back(row);
      }
      merges.insert(merges.end(), log.merges.begin(), log.merges.end());
      outcomes.push_back(std::move(o));
    }
    return outcomes;
  }

  // Both ways on copies of one scenario; returns the server's fallbacks.
  std::vector<std::string> ExpectSameBothWays(const Scenario& s, const std::string& what,
                                              bool zeroItems = false) {
    std::vector<std::string> clientMerges, serverMerges;
    auto client = Load(s, "cmp_client", zeroItems);
    const std::vector<Outcome> merged = RunItems(*client, s, ComparePlace::kClient, clientMerges);
    auto server = Load(s, "cmp_server", zeroItems);
    const std::vector<Outcome> joined = RunItems(*server, s, ComparePlace::kServer, serverMerges);
    EXPECT_TRUE(clientMerges.empty());
    for (std::size_t i = 0; i < merged.size(); ++i) {
      EXPECT_EQ(joined[i], merged[i]) << what << ", run " << i;
      EXPECT_EQ(merged[i].error, "") << what;
    }
    return serverMerges;
  }
};

TEST_P(ServerComparison, GivesWhatTheMergeOfTheWholeSidesGives) {
  const int scenarios = GetParam() == Backend::kPostgres ? 6 : 40;
  int differing = 0;
  for (int seed = 1; seed <= scenarios; ++seed) {
    const Scenario s = RandomScenario(static_cast<unsigned>(seed));
    const std::vector<std::string> merges =
        ExpectSameBothWays(s, "seed " + std::to_string(seed), seed % 2 == 0);
    EXPECT_TRUE(merges.empty()) << merges.front();
    differing += static_cast<int>(s.ledger.size());
  }
  EXPECT_GT(differing, scenarios * 10);
}

// Keys that pair otherwise in the merge than in a join: the item is merged on the client, which
// says why, and the result stays the merge's.
TEST_P(ServerComparison, NullAndRepeatedKeysAreMergedOnTheClient) {
  const Row line{"15", "'2005-01-03'", "1", "2", "0", "0"};
  const struct {
    std::vector<Row> ledger;
    const char* reason;
  } cases[] = {
      // A null key matches its neighbour in the merge, whatever the neighbour's key.
      {{{"NULL", "'2005-01-03'", "1", "2", "0", "0"}}, "a key column of the stored rows is null"},
      {{{"NULL", "'2005-01-04'", "0", "0", "0", "0"}, {"15", "'2005-01-03'", "1", "2", "0", "0"}},
       "a key column of the stored rows is null"},
      // Two rows under one key pair in the database's order; equal to the recomputed row or not.
      {{{"15", "'2005-01-03'", "1", "2", "0", "0"}, {"15", "'2005-01-03'", "1", "2", "0", "0"}},
       "a key repeats among the stored rows"},
      {{{"15", "'2005-01-03'", "1", "2", "0", "0"}, {"15", "'2005-01-03'", "5", "6", "0", "0"}},
       "a key repeats among the stored rows"},
  };
  for (const auto& c : cases) {
    Scenario s;
    s.lines = {line, {"16", "'2005-01-04'", "3", "4", "0", "0"}};
    s.ledger = c.ledger;
    s.ledger.push_back({"16", "'2005-01-04'", "3", "4", "0", "0"});
    const std::vector<std::string> merges = ExpectSameBothWays(s, c.reason);
    ASSERT_EQ(merges.size(), 3u) << c.reason;
    for (const std::string& merge : merges) EXPECT_NE(merge.find(c.reason), std::string::npos);
  }
  // A null key on the recomputed side: a document line without its item; a key repeated there:
  // lines without item and of item 0 on one day, both of item 0 in the recomputed key.
  Scenario s;
  s.lines = {line, {"NULL", "'2005-01-04'", "3", "4", "0", "0"}};
  s.ledger = {{"15", "'2005-01-03'", "1", "2", "0", "0"}};
  std::vector<std::string> merges = ExpectSameBothWays(s, "recomputed null key");
  ASSERT_FALSE(merges.empty());
  EXPECT_NE(merges[0].find("a key column of the recomputed rows is null"), std::string::npos);
  s.lines = {line,
             {"NULL", "'2005-01-04'", "3", "4", "0", "0"},
             {"0", "'2005-01-04'", "5", "6", "0", "0"}};
  s.ledger = {{"15", "'2005-01-03'", "1", "2", "0", "0"},
              {"0", "'2005-01-04'", "8", "10", "0", "0"}};
  merges = ExpectSameBothWays(s, "recomputed key repeated", true);
  ASSERT_FALSE(merges.empty());
  EXPECT_NE(merges[0].find("a key repeats among the recomputed rows"), std::string::npos);
}

// Every row differs, none does, or one side is empty: the same either way, and on the server.
TEST_P(ServerComparison, EmptySidesAndRowsThatAllOrNeverDifferGiveTheSame) {
  Scenario all, none, noStored, noLines;
  for (int i = 0; i < 30; ++i) {
    const std::string item = std::to_string(15 + i % 3),
                      date = "'2005-01-" + std::to_string(10 + i) + "'";
    const Row line{item, date, Number(i * 1.25), Number(i * 10.01), "0", "0"};
    all.lines.push_back(line);
    all.ledger.push_back({item, date, Number(i * 1.25 + 0.01), line.amount, "0", "0"});
    none.lines.push_back(line);
    none.ledger.push_back(line);
    noStored.lines.push_back(line);
    noLines.ledger.push_back(line);
  }
  const std::pair<const Scenario*, const char*> cases[] = {{&all, "all differ"},
                                                           {&none, "none differs"},
                                                           {&noStored, "no stored rows"},
                                                           {&noLines, "no documents"}};
  for (const auto& [s, what] : cases) EXPECT_TRUE(ExpectSameBothWays(*s, what).empty()) << what;
}

INSTANTIATE_TEST_SUITE_P(Backends, ServerComparison,
                         ::testing::Values(Backend::kEmbedded, Backend::kPostgres),
                         [](const auto& info) {
                           return info.param == Backend::kPostgres ? "Postgres" : "Embedded";
                         });

// What keeps an item on the client, by its statement and by its sides' columns.
TEST(ServerComparisonRefusal, NamesWhatTheJoinCannotExpress) {
  EXPECT_EQ(StatementRefusal("SELECT A,SUM(B) B FROM T GROUP BY A", 1), "");
  EXPECT_NE(StatementRefusal("SELECT A,SUM(B) B FROM T GROUP BY A ORDER BY 1", 1), "");
  EXPECT_NE(StatementRefusal("SELECT A,B FROM T", 1), "");
  EXPECT_NE(StatementRefusal("SELECT A,SUM(B) B FROM T GROUP BY A", 0), "");

  using db::adDouble, db::adInteger, db::adNumeric, db::adVarChar, db::adChar;
  const SideColumns numbered = {
      {"LNGITEMID", adInteger}, {"STRDATE", adVarChar}, {"SUM(Q)", adDouble}};
  const SideColumns stored = {
      {"LNGITEMID", adNumeric}, {"STRDATE", adChar}, {"DBLSALEQUANTITY", adDouble}};
  EXPECT_EQ(ShapeRefusal(1, 2, numbered, stored), "");
  EXPECT_EQ(ShapeRefusal(1, 2, {{"A", 0}, {"B", 0}, {"C", 0}}, stored), "");  // SQLite's untyped
  EXPECT_NE(ShapeRefusal(1, 3, numbered, {stored[0], stored[1]}), "");
  EXPECT_NE(ShapeRefusal(1, 2, {{"LNGITEMID", adVarChar}, numbered[1], numbered[2]}, stored)
                .find("LNGITEMID"),
            std::string::npos);
  EXPECT_NE(ShapeRefusal(1, 2, numbered, {stored[0], stored[1], {"DBLSALEQUANTITY", adVarChar}})
                .find("DBLSALEQUANTITY"),
            std::string::npos);
  // A text column the item leaves out of its comparison is no obstacle.
  EXPECT_EQ(ShapeRefusal(3, 2, numbered, {stored[0], stored[1], {"DBLENTRUSTINQTY", adVarChar}}),
            "");
}

// Whether a recompute can repeat a key, from its text: only a GROUP BY by nothing but the keys
// proves it cannot; any doubt leaves the server to count them.
TEST(ServerComparisonRefusal, KeysAreUniqueOnlyWhenTheyAreAllTheGroupingGives) {
  const struct {
    const char* sql;
    int keys;
    bool unique;
  } cases[] = {
      {"SELECT A.X,B.Y,SUM(V) V FROM A,B WHERE A.K=B.K AND strDate>=' ' GROUP BY A.X,B.Y", 2, true},
      {"select a.x, nvl(b.y , 0) as y, sum(v) v from a, b group by nvl(b.y,0), a.x", 2, true},
      {"SELECT X,DECODE(F,1,D,0) AS D,Z Z2,SUM(V) V FROM T GROUP BY X,DECODE(F,1,D,0),Z,Z", 3,
       true},
      {"SELECT X,Y,SUM(V) V FROM T GROUP BY X,Y HAVING SUM(V)<>0 ORDER BY 1", 2, true},
      {"SELECT X,CASE WHEN F=1 THEN D ELSE 0 END,SUM(V) FROM T GROUP BY X,CASE WHEN F=1 THEN D "
       "ELSE 0 END",
       2, true},
      // NVL(y,0) and y make two groups of one key when y is null in one and 0 in another.
      {"SELECT X,NVL(P.G,0),SUM(V) FROM T,P GROUP BY X,P.G", 2, false},
      {"SELECT X,Y,SUM(V) FROM T GROUP BY X,Y,Z", 2, false},  // a group finer than the keys
      {"SELECT X,Y,SUM(V) FROM T GROUP BY X,Y", 1, false},
      {"SELECT X,SUM(V) FROM T GROUP BY X UNION ALL SELECT X,SUM(W) FROM U GROUP BY X", 1, false},
      {"SELECT X,SUM(V) FROM (SELECT X,V FROM T GROUP BY X,V) Q", 1, false},
      {"SELECT X,Y FROM T", 2, false},
      {"SELECT X,Y,SUM(V) FROM T -- GROUP BY X\n GROUP BY X,Y", 2, false},
      {"SELECT X,'A,B' Y,SUM(V) FROM T GROUP BY X,'A,B'", 2, true},
  };
  for (const auto& c : cases) EXPECT_EQ(KeysAreGroups(c.sql, c.keys), c.unique) << c.sql;
}

// A connection whose one statement per item is slow (it waits `wait` first) or refused by the
// database.
struct SlowOrRefusing final : db::Connection {
  SlowOrRefusing(std::shared_ptr<db::Connection> inner, bool refuse,
                 std::chrono::milliseconds wait = {})
      : inner(std::move(inner)), refuse(refuse), wait(wait) {}
  std::unique_ptr<db::Recordset> OpenResultset(const std::string& sql, int c, int l) override {
    if (sql.rfind("WITH ", 0) == 0) {
      if (refuse) throw db::Error("out of shared memory", sql);
      std::this_thread::sleep_for(wait);
    }
    return inner->OpenResultset(sql, c, l);
  }
  void Execute(const std::string& sql) override { inner->Execute(sql); }
  std::int64_t RowsAffected() const override { return inner->RowsAffected(); }
  bool StillExecuting() const override { return false; }
  std::shared_ptr<db::Connection> inner;
  bool refuse;
  std::chrono::milliseconds wait;
};

// One item of one difference, its one statement through `conn`.
bool CompareOnServer(testing::AccountSet& set, const std::shared_ptr<db::Connection>& conn,
                     testing::RecordingScreen& screen, CallLog& log, std::string& error) {
  set.Script("CREATE TABLE Detail (lngItemID INTEGER, strDate TEXT, dblQuantity REAL)");
  set.Insert("Detail", "(15,'2005-01-03',4)");
  set.Insert("ItemDaily2", "(15,'2005-01-03',3,0,0,0)");
  set.ctx.CheckItems.SelectSql[0] =
      "SELECT DETAIL.LNGITEMID,DETAIL.STRDATE,SUM(DETAIL.DBLQUANTITY) DBLSALEQUANTITY FROM DETAIL "
      "WHERE 1=1 GROUP BY DETAIL.LNGITEMID,DETAIL.STRDATE";
  set.ctx.CheckItems.InsertColumns[0] = "LNGITEMID,STRDATE,DBLSALEQUANTITY";
  set.ctx.connection = conn;
  set.ctx.comparePlace = ComparePlace::kServer;
  std::string section;
  return CompareLedger(set.ctx, screen, ReportFile::InMemory(section), 1, " ", "9999-12-31", true,
                       false, {&log}, &error);
}

// The database's own refusal of the one statement: merged on the client, to the same result.
TEST(ServerComparisonRefusal, AStatementTheServerRefusesIsMergedOnTheClient) {
  testing::AccountSet set;
  testing::RecordingScreen screen;
  CallLog log;
  std::string error;
  EXPECT_FALSE(CompareOnServer(set, std::make_shared<SlowOrRefusing>(set.ctx.connection, true),
                               screen, log, error));
  EXPECT_EQ(error, "");
  ASSERT_EQ(log.merges.size(), 1u);
  EXPECT_NE(log.merges[0].find("out of shared memory"), std::string::npos) << log.merges[0];
  ASSERT_EQ(log.calls.size(), 2u);  // the one difference, then the item's end
  EXPECT_NE(log.calls[0].find("DBLSALEQUANTITY|销售数量|3|4|"), std::string::npos) << log.calls[0];
}

// The server gives nothing until it is done: the screen says what it waits for, and for how long.
TEST(ServerComparisonProgress, TheNotesSayTheServerComparesWhileItDoes) {
  testing::AccountSet set;
  testing::RecordingScreen screen;
  CallLog log;
  std::string error;
  EXPECT_FALSE(CompareOnServer(
      set,
      std::make_shared<SlowOrRefusing>(set.ctx.connection, false, std::chrono::milliseconds(1300)),
      screen, log, error));
  EXPECT_TRUE(log.merges.empty());
  ASSERT_EQ(log.calls.size(), 2u);
  const auto& notes = screen.notes;
  const auto first = std::find(notes.begin(), notes.end(), ServerComparisonNotes(0));
  ASSERT_NE(first, notes.end());
  EXPECT_NE(std::find(first, notes.end(), ServerComparisonNotes(1)), notes.end());
  EXPECT_GE(std::count_if(first, notes.end(),
                          [](const std::string& n) { return n == ServerComparisonNotes(0); }),
            5);
  EXPECT_EQ(notes.back(), "检查明细数据差异.....");
}

}  // namespace
}  // namespace tallyvet
