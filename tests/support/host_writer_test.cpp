// The host stand-in that writes, on a clean sample account set: alone it leaves the goods ledgers
// (items 1 to 3) agreeing with the documents and stays inside its date range; two at once both
// make progress, one waiting for the other's lock; a writer killed inside its transaction leaves
// nothing of it behind. Each case on the embedded file and on the test's PostgreSQL server.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "db/odbc_connection.h"
#include "db/sqlite_connection.h"
#include "sample/sample.h"
#include "support/host_writer.h"
#include "support/postgres_source.h"
#include "support/program.h"
#include "support/temp_dir.h"

namespace tallyvet {
namespace {

using namespace std::chrono_literals;

// A schema of its own on the shared server: other test programs run at the same time.
constexpr const char* kOwner = "hostw";
constexpr const char* kGoodsLedgers[] = {"ItemDaily2", "PositionDaily", "ItemDaily1"};

enum class Backend { kEmbedded, kPostgres };

class HostWriterTest : public ::testing::TestWithParam<Backend> {
 protected:
  static void SetUpTestSuite() {
    sample::CreateSample({.path = Pristine(), .owner = kOwner, .scale = 400, .seed = 9});
  }
  static std::filesystem::path Pristine() {
    static const testing::TempDir dir;
    return dir / "pristine.db";
  }

  void SetUp() override {
    if (Postgres() && testing::PostgresOdbcString() == nullptr)
      GTEST_SKIP() << "no PostgreSQL server: TALLYVET_TEST_PG_ODBC is not set";
    Restore();
  }

  static bool Postgres() { return GetParam() == Backend::kPostgres; }

  // Each case, and each run within one, starts from the clean account set.
  void Restore() {
    conn_.reset();
    if (Postgres()) {
      testing::LoadIntoPostgres(Pristine(), kOwner);
    } else {
      std::filesystem::copy_file(Pristine(), db(),
                                 std::filesystem::copy_options::overwrite_existing);
    }
  }

  std::filesystem::path db() const { return scratch_ / "accounts.db"; }

  testing::HostWriterOptions Writer(std::uint64_t seed) const {
    testing::HostWriterOptions o;
    if (Postgres()) {
      o.odbc = testing::PostgresOdbcString();
    } else {
      o.db = db();
    }
    o.user = kOwner;
    o.seed = seed;
    return o;
  }

  std::shared_ptr<db::Connection> Connect() const {
    if (Postgres()) return db::OdbcConnection::Open(testing::PostgresOdbcString(), kOwner);
    return db::SqliteConnection::Open(db(), kOwner);
  }

  // reconcile of items 1 to 3 over every period: exit status 0 is clean.
  testing::ProgramResult ReconcileGoods() const {
    const std::string source = Postgres()
                                   ? "--odbc " + testing::Quoted(testing::PostgresOdbcString())
                                   : "--db " + testing::Quoted(db());
    return testing::RunProgram(TALLYVET_PROGRAM,
                               "reconcile " + source + " --user " + kOwner +
                                   " --items 1-3 --from 期初 --to 2025.12 --busy-timeout 2 "
                                   "--report-dir " +
                                   testing::Quoted(scratch_.path()),
                               scratch_.path(), "reconcile");
  }

  // The rows of a query, each as one line of its values.
  std::vector<std::string> Rows(const std::string& sql) {
    if (!conn_) conn_ = Connect();
    auto rs = conn_->OpenResultset(sql, 3);
    std::vector<std::string> rows;
    for (; !rs->Eof(); rs->MoveNext()) {
      std::string row;
      for (std::size_t i = 0; i < rs->Fields().Count(); ++i)
        row += rs->Fields()[i].Value().AsText() + "|";
      rows.push_back(row);
    }
    rs->Close();  // nothing held while a writer runs
    return rows;
  }

  // The goods ledgers' rows outside [from, to], in a fixed order.
  std::vector<std::string> LedgerRowsOutside(const std::string& from, const std::string& to) {
    std::vector<std::string> rows;
    for (const char* table : kGoodsLedgers) {
      for (std::string& row : Rows(std::string("SELECT * FROM ") + table + " WHERE strDate<'" +
                                   from + "' OR strDate>'" + to + "' ORDER BY 1,2,3")) {
        rows.push_back(table + ("|" + row));
      }
    }
    return rows;
  }

  testing::TempDir scratch_;
  std::shared_ptr<db::Connection> conn_;  // the test's own reads, between the writers' runs
};

// A writer alone, with several seeds, the second kept to two months: every kind of operation
// committed, nothing failed, the goods ledgers agree with the documents afterwards, no ledger row
// outside the range changed, and the summary tells the truth about the documents.
TEST_P(HostWriterTest, AloneKeepsTheGoodsLedgersRightAndStaysInItsRange) {
  struct Case {
    std::uint64_t seed;
    std::string from, to;
  };
  const std::vector<Case> cases = {{1, "", ""}, {2, "2025-03-01", "2025-04-30"}};
  for (const Case& c : cases) {
    SCOPED_TRACE("seed " + std::to_string(c.seed));
    if (&c != &cases.front()) Restore();
    const std::string from = c.from.empty() ? "2025-01-01" : c.from;
    const std::string to = c.to.empty() ? "2025-12-31" : c.to;
    const std::vector<std::string> outside = LedgerRowsOutside(from, to);

    // A count of commits, not a time: alone on a fixed account set, the seed decides every round,
    // so the kinds drawn do not depend on the machine's speed.
    testing::HostWriterOptions o = Writer(c.seed);
    o.rounds = 24;
    o.datesFrom = c.from;
    o.datesTo = c.to;
    testing::HostWriter writer(o, scratch_.path());
    ASSERT_EQ(writer.Wait(60s), 0) << writer.Errors();
    const testing::HostWriterSummary summary = writer.Summary();

    EXPECT_EQ(summary.stopped, "limit");
    EXPECT_TRUE(summary.rolledBack.empty()) << summary.rolledBack.front().message;
    EXPECT_EQ(summary.commits, 24);
    EXPECT_EQ(summary.rounds, 24);
    for (const char* kind : {"post", "void", "redate"}) {
      EXPECT_FALSE(summary.operations.at(kind).empty()) << "no " << kind << " committed";
    }
    for (const auto& [date, when] : summary.dates) {
      EXPECT_TRUE(date >= from && date <= to) << date;
    }

    const testing::ProgramResult reconcile = ReconcileGoods();
    EXPECT_EQ(reconcile.status, 0) << reconcile.out << reconcile.err;
    EXPECT_EQ(LedgerRowsOutside(from, to), outside);

    // Posted documents are there, posted, dated on a date the writer re-registered; voided ones
    // are void; every document it touched stands on a date it re-registered.
    std::set<std::int64_t> voided;
    for (const auto& op : summary.operations.at("void"))
      voided.insert(op.documents.begin(), op.documents.end());
    for (const auto& [kind, ops] : summary.operations) {
      for (const auto& op : ops) {
        for (std::int64_t id : op.documents) {
          const std::vector<std::string> doc =
              Rows("SELECT strDate,blnIsVoid,bytStatus FROM ItemActivity WHERE lngActivityID=" +
                   std::to_string(id));
          ASSERT_EQ(doc.size(), 1u) << kind << " document " << id;
          const std::string date = doc[0].substr(0, 10);
          EXPECT_TRUE(summary.dates.count(date)) << kind << " document " << id << " on " << date;
          EXPECT_EQ(doc[0].substr(10), voided.count(id) ? "|1|2|" : "|0|2|")
              << kind << " document " << id;
        }
      }
    }
    // A new document copies its original's lines, the amounts changed by a tenth at most.
    for (const auto& op : summary.operations.at("post")) {
      ASSERT_EQ(op.copiedFrom.size(), op.documents.size());
      for (std::size_t i = 0; i < op.documents.size(); ++i) {
        const std::string lines =
            "SELECT lngRowID,lngItemID,lngPositionID,dblQuantity,ABS(dblAmount)+ABS(dblCostAmount)"
            "+ABS(dblAvgCostAmount) FROM ItemActivityDetail WHERE lngActivityID=";
        const std::vector<std::string> copy = Rows(lines + std::to_string(op.documents[i]) +
                                                   " ORDER BY lngRowID,lngActivityDetailID");
        const std::vector<std::string> original = Rows(lines + std::to_string(op.copiedFrom[i]) +
                                                       " ORDER BY lngRowID,lngActivityDetailID");
        ASSERT_EQ(copy.size(), original.size()) << "document " << op.documents[i];
        for (std::size_t l = 0; l < copy.size(); ++l) {
          const std::size_t cut = copy[l].rfind('|', copy[l].size() - 2) + 1;
          EXPECT_EQ(copy[l].substr(0, cut), original[l].substr(0, cut));
          const double was = std::stod(original[l].substr(cut)),
                       now = std::stod(copy[l].substr(cut));
          EXPECT_NEAR(now, was, was * 0.1 + 0.03) << "document " << op.documents[i];
        }
      }
    }
  }
}

// Two writers on one account set, each keeping its transaction open a while: both commit, one
// waited for the other's lock rather than failing, their new documents never share an id, and
// the goods ledgers agree with the documents afterwards.
TEST_P(HostWriterTest, TwoWritersAtOnceBothMakeProgress) {
  std::vector<std::unique_ptr<testing::HostWriter>> writers;
  for (std::uint64_t seed : {3, 4}) {
    // Commits, not a time: a writer kept waiting still has to make its progress.
    testing::HostWriterOptions o = Writer(seed);
    o.rounds = 8;
    o.holdMs = 40;
    o.pauseMs = 20;
    writers.push_back(
        std::make_unique<testing::HostWriter>(o, scratch_.path(), "writer" + std::to_string(seed)));
  }
  std::set<std::int64_t> newDocuments;
  double longestWait = 0;
  for (auto& writer : writers) {
    ASSERT_EQ(writer->Wait(60s), 0) << writer->Errors();
    const testing::HostWriterSummary summary = writer->Summary();
    EXPECT_EQ(summary.commits, 8);
    longestWait = std::max(longestWait, summary.longestLockWaitMs);
    for (const auto& op : summary.operations.at("post")) {
      for (std::int64_t id : op.documents) {
        EXPECT_TRUE(newDocuments.insert(id).second) << "document " << id << " posted twice";
      }
    }
  }
  EXPECT_GE(longestWait, 20.0) << "neither writer waited for the other";
  const testing::ProgramResult reconcile = ReconcileGoods();
  EXPECT_EQ(reconcile.status, 0) << reconcile.out << reconcile.err;
}

// A round that meets another writer's lock past its busy timeout is rolled back and counted with
// the database's message, and the writer goes on: it commits once the lock is gone.
TEST_P(HostWriterTest, ARoundLockedOutPastItsTimeoutIsCountedAndTheWriterGoesOn) {
  testing::HostWriterOptions holding = Writer(7);
  holding.rounds = 1;
  holding.holdMs = 1500;
  testing::HostWriter first(holding, scratch_.path(), "holding");
  ASSERT_TRUE(first.WaitForOutput("in transaction", 30s)) << first.Output() << first.Errors();

  testing::HostWriterOptions o = Writer(8);
  o.rounds = 2;
  o.busyTimeout = 0.2;
  testing::HostWriter second(o, scratch_.path(), "locked-out");
  ASSERT_EQ(first.Wait(30s), 0) << first.Errors();
  ASSERT_EQ(second.Wait(30s), 0) << second.Errors();
  const testing::HostWriterSummary held = first.Summary(), locked = second.Summary();
  EXPECT_EQ(held.commits, 1);
  EXPECT_EQ(locked.commits, 2);
  ASSERT_FALSE(locked.rolledBack.empty());
  EXPECT_EQ(locked.rounds, locked.commits + static_cast<std::int64_t>(locked.rolledBack.size()));
  for (const testing::WriterRollback& r : locked.rolledBack) {
    EXPECT_NE(r.message.find(Postgres() ? "lock" : "locked"), std::string::npos) << r.message;
  }
  std::chrono::system_clock::time_point heldCommit, firstLockedCommit = {};
  for (const auto& [kind, ops] : held.operations) {
    for (const auto& op : ops) heldCommit = op.committedAt;
  }
  for (const auto& [kind, ops] : locked.operations) {
    for (const auto& op : ops) {
      if (firstLockedCommit == decltype(firstLockedCommit){} || op.committedAt < firstLockedCommit)
        firstLockedCommit = op.committedAt;
    }
  }
  EXPECT_GE(firstLockedCommit, heldCommit);
  const testing::ProgramResult reconcile = ReconcileGoods();
  EXPECT_EQ(reconcile.status, 0) << reconcile.out << reconcile.err;
}

// A writer killed while its round's transaction is open (what the header does for a test that
// fails before waiting) leaves no lock and no change behind: the next comparison runs at once and
// is clean, the documents are as before, and a new writer commits at once.
TEST_P(HostWriterTest, KilledWriterLeavesNoTransactionBehind) {
  const std::string documents =
      "SELECT lngActivityID,strDate,blnIsVoid FROM ItemActivity ORDER BY lngActivityID";
  const std::vector<std::string> before = Rows(documents);
  {
    testing::HostWriterOptions o = Writer(5);
    o.rounds = 1;
    o.holdMs = 60000;
    testing::HostWriter writer(o, scratch_.path());
    ASSERT_TRUE(writer.WaitForOutput("in transaction", 30s)) << writer.Output() << writer.Errors();
  }  // killed here
  const testing::ProgramResult reconcile = ReconcileGoods();
  EXPECT_EQ(reconcile.status, 0) << reconcile.out << reconcile.err;
  EXPECT_EQ(Rows(documents), before);

  // A lock left behind would fail the next writer's first round after a second.
  testing::HostWriterOptions o = Writer(6);
  o.seconds = 60;
  o.busyTimeout = 1;
  testing::HostWriter next(o, scratch_.path(), "next");
  ASSERT_TRUE(next.WaitForOutput("committed", 30s)) << next.Output() << next.Errors();
  ASSERT_EQ(next.Stop(30s), 0) << next.Errors();
  const testing::HostWriterSummary summary = next.Summary();
  EXPECT_EQ(summary.stopped, "asked");
  EXPECT_GE(summary.commits, 1);
  EXPECT_TRUE(summary.rolledBack.empty()) << summary.rolledBack.front().message;
}

INSTANTIATE_TEST_SUITE_P(Backends, HostWriterTest,
                         ::testing::Values(Backend::kEmbedded, Backend::kPostgres),
                         [](const auto& info) {
                           return info.param == Backend::kEmbedded ? "Embedded" : "Postgres";
                         });

}  // namespace
}  // namespace tallyvet
