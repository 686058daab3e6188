// Items run side by side: the program writes the same bytes as the serial run, a writer that
// commits throughout never shows through as a mix of states, and no thread outlives a run, also
// when a connection or the report fails on the way. Built also under ThreadSanitizer.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <atomic>
#include <regex>
#include <thread>

#include "ledger_engine/comparison.h"
#include "reconcile_ui/account_set.h"
#include "reconcile_ui/launcher.h"
#include "sample/sample.h"
#include "support/postgres_source.h"

namespace tallyvet {
namespace {

namespace fs = std::filesystem;
using testing::FileText;

const std::string kOwner = "demo";

class QuietScreen final : public ProgressScreen {
 public:
  void SetNotes(const std::string&) override {}
  double ProgressValue() const override { return display_.Value(); }
  void ShowProgress(double percent) override { display_.ShowProgress(percent); }
  std::vector<std::string>* List1() override { return &list; }
  void ShowRunningItems(const std::vector<RunningItem>& items) override {
    for (const RunningItem& item : items) EXPECT_TRUE(item.index >= 0 && item.index < 6);
  }
  std::vector<std::string> list;

 private:
  ProgressDisplay display_;
};

// Every call a sink gets, as text, in order.
class CallLog final : public DifferenceSink {
 public:
  void RecordDifference(const DifferenceRecord& r, bool firstInRow) override {
    calls.push_back(std::to_string(r.item) + (firstInRow ? " first " : " ") + r.condition + " " +
                    TextReportSink::DifferenceLine(r));
  }
  void EndItem(int item) override { calls.push_back("end " + std::to_string(item)); }
  std::vector<std::string> calls;
};

// Opens connections that fail from their n-th query on (n = 0: refuses to open them), and hands
// the view to SQLite's own.
class FailingSource final : public db::ConnectionSource {
 public:
  FailingSource(const fs::path& path, int failFrom)
      : path_(path), inner_(path, kOwner), failFrom_(failFrom) {}
  std::unique_ptr<db::Connection> Open() override {
    if (failFrom_ == 0) throw db::Error("connection refused");
    return std::make_unique<Failing>(db::SqliteConnection::Open(path_, kOwner), failFrom_);
  }
  bool BeginCommonView(const std::vector<db::Connection*>& readers) override {
    std::vector<db::Connection*> inner;
    for (db::Connection* r : readers) inner.push_back(Unwrapped(r));
    return inner_.BeginCommonView(inner);
  }
  void EndView(db::Connection& reader) noexcept override { inner_.EndView(*Unwrapped(&reader)); }

 private:
  class Failing final : public db::Connection {
   public:
    Failing(std::unique_ptr<db::SqliteConnection> inner, int failFrom)
        : inner(std::move(inner)), left_(failFrom) {}
    std::unique_ptr<db::Recordset> OpenResultset(const std::string& sql, int c, int l) override {
      if (--left_ <= 0) throw db::Error("connection lost", sql);
      return inner->OpenResultset(sql, c, l);
    }
    void Execute(const std::string& sql) override { inner->Execute(sql); }
    std::int64_t RowsAffected() const override { return inner->RowsAffected(); }
    bool StillExecuting() const override { return false; }
    std::unique_ptr<db::SqliteConnection> inner;

   private:
    int left_;
  };
  static db::Connection* Unwrapped(db::Connection* c) {
    auto* f = dynamic_cast<Failing*>(c);
    return f != nullptr ? f->inner.get() : c;
  }
  fs::path path_;
  db::SqliteConnectionSource inner_;
  int failFrom_;
};

std::size_t ThreadCount() {
  std::size_t n = 0;
  for ([[maybe_unused]] const auto& task : fs::directory_iterator("/proc/self/task")) ++n;
  return n;
}

// What a run handed out: sink calls, summary list, errors, whether it flagged, serial notices.
struct Outcome {
  std::vector<std::string> calls, list, errors, notices;
  bool flagged = false;
  bool operator==(const Outcome&) const = default;
};

// All six items of the account set `first` reads, with further connections from `source`, merged
// where `place` says.
Outcome RunAllOn(std::shared_ptr<db::Connection> first, const std::string& owner,
                 const fs::path& reports, int jobs, db::ConnectionSource& source,
                 ComparePlace place = ComparePlace::kHostDefault) {
  HostContext ctx;
  ctx.connection = std::move(first);
  ctx.user = owner;
  ctx.comparePlace = place;
  const CivilDate today{std::chrono::year{2025}, std::chrono::month{12}, std::chrono::day{31}};
  LoadAccountAndPeriods(ctx, today);
  const DateRange range = PeriodRangeToDates(ctx, "期间", "期初", "2025.12", today);
  QuietScreen screen;
  CallLog log;
  Outcome out;
  std::vector<ItemRunError> errors;
  out.flagged = RunItems(
      ctx, screen, ReportFile(reports), {true, true, true, true, true, true}, range, {&log}, {},
      &errors, {jobs, &source, [&](const std::string& why) { out.notices.push_back(why); }});
  out.calls = log.calls;
  out.list = screen.list;
  for (const ItemRunError& e : errors) out.errors.push_back(std::to_string(e.item) + e.message);
  return out;
}

Outcome RunAll(const fs::path& db, const fs::path& reports, int jobs,
               db::ConnectionSource* source = nullptr,
               ComparePlace place = ComparePlace::kHostDefault) {
  db::SqliteConnectionSource own(db, kOwner);
  return RunAllOn(db::SqliteConnection::Open(db, kOwner), kOwner, reports, jobs,
                  source ? *source : own, place);
}

class SideBySide : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    sample::CreateSample({.path = Faulted(),
                          .owner = kOwner,
                          .scale = 600,
                          .seed = 5,
                          .faults = sample::FaultSet::kLedgers});
    fs::copy_file(Faulted(), Erring());
    // Item 1's stored ledger gone: that item stops on an error, the others run on.
    db::SqliteConnection::Open(Erring(), kOwner)->ExecuteScript("DROP TABLE ItemDaily2");
  }
  static fs::path Faulted() { return dir_.path() / "faulted.db"; }
  static fs::path Erring() { return dir_.path() / "erring.db"; }
  static inline testing::TempDir dir_;
};

struct Written {
  int status;
  std::string out, err;
  std::map<std::string, std::string> reports;  // file name -> content, time stamps blanked
};

// `source`: the database options of the job ("--db FILE --user demo" by default).
Written RunProgram(const fs::path& dir, const fs::path& db, const std::string& extra,
                   std::string source = {}) {
  fs::remove_all(dir);
  fs::create_directories(dir / "reports");
  if (source.empty()) source = "--db '" + db.string() + "' --user demo";
  const std::string command = std::string(TALLYVET_PROGRAM) + " reconcile " + source +
                              " --from 期初 --to 2025.12 --report-dir '" +
                              (dir / "reports").string() + "' " + extra + " >'" +
                              (dir / "out").string() + "' 2>'" + (dir / "err").string() + "'";
  const int status = std::system(command.c_str());
  Written w{WIFEXITED(status) ? WEXITSTATUS(status) : -1,
            FileText(dir / "out"),
            std::regex_replace(FileText(dir / "err"), std::regex(dir.string()), "DIR"),
            {}};
  const std::regex stamp("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d");
  for (const auto& f : fs::directory_iterator(dir / "reports")) {
    w.reports[f.path().filename().string()] = std::regex_replace(FileText(f.path()), stamp, "TIME");
  }
  return w;
}

TEST_F(SideBySide, ProgramWritesTheSameBytesAsTheSerialRun) {
  for (const auto& [db, extra, status] :
       std::vector<std::tuple<fs::path, std::string, int>>{{Faulted(), "", 1},
                                                           {Faulted(), "--json --items 1-3,5", 1},
                                                           {Erring(), "", 2},
                                                           {Erring(), "--json", 2}}) {
    SCOPED_TRACE(db.filename().string() + " " + extra);
    const Written serial = RunProgram(dir_.path() / "serial", db, extra + " --jobs 1");
    const Written twoJobs = RunProgram(dir_.path() / "two", db, extra + " --jobs 2");
    const Written more = RunProgram(dir_.path() / "more", db, extra + " --jobs 6");
    EXPECT_EQ(serial.status, status) << serial.err;
    EXPECT_FALSE(serial.out.empty());
    EXPECT_GE(serial.reports.size(), 3u);
    for (const Written* w : {&twoJobs, &more}) {
      EXPECT_EQ(w->status, serial.status);
      EXPECT_EQ(w->out, serial.out);
      EXPECT_EQ(w->err, serial.err);
      EXPECT_EQ(w->reports, serial.reports);
    }
  }
}

TEST_F(SideBySide, ErrorsAndFailuresStayInTheirItemAndNoThreadOutlivesTheRun) {
  const fs::path reports = dir_.path() / "in-process";
  fs::create_directories(reports);
  const Outcome serial = RunAll(Erring(), reports, 1);
  ASSERT_EQ(serial.errors.size(), 1u);
  EXPECT_EQ(serial.errors.front().rfind("1no such table", 0), 0u) << serial.errors.front();

  EXPECT_EQ(RunAll(Erring(), reports, 3), serial);
  // Counted after a first run: a sanitizer starts a thread of its own with the first thread.
  const std::size_t threads = ThreadCount();
  EXPECT_EQ(RunAll(Erring(), reports, 3), serial);
  EXPECT_EQ(ThreadCount(), threads);

  // Connections that fail part-way (from their 4th query: the first item each runs reads its
  // rows, and every later one stops): those items stop on the error in their place.
  FailingSource failing(Faulted(), 4);
  const Outcome clean = RunAll(Faulted(), reports, 1);
  const Outcome broken = RunAll(Faulted(), reports, 2, &failing);
  EXPECT_EQ(ThreadCount(), threads);
  EXPECT_TRUE(broken.notices.empty());
  EXPECT_GE(broken.errors.size(), 2u);
  for (const std::string& e : broken.errors)
    EXPECT_NE(e.find("connection lost"), std::string::npos);
  EXPECT_TRUE(broken.flagged);
  // Every item still ends in its place.
  std::vector<std::string> ends;
  for (const std::string& c : broken.calls) {
    if (c.rfind("end ", 0) == 0) ends.push_back(c);
  }
  EXPECT_EQ(ends, (std::vector<std::string>{"end 1", "end 2", "end 3", "end 4", "end 5", "end 6"}));
  EXPECT_NE(broken.calls, clean.calls);

  // A report that cannot be written stops the run while items are running: still all joined.
  EXPECT_ANY_THROW(RunAll(Faulted(), reports / "missing" / "folder", 2));
  EXPECT_EQ(ThreadCount(), threads);
}

// Items compared on the server, one statement each on a connection of its own (its thread waiting
// on another), give what the serial merge here gives; so does an item whose statements fail.
TEST_F(SideBySide, ItemsComparedOnTheServerSideBySideGiveTheSerialMergesResult) {
  const fs::path reports = dir_.path() / "on-server";
  fs::create_directories(reports);
  for (const fs::path& db : {Faulted(), Erring()}) {
    SCOPED_TRACE(db.filename().string());
    const Outcome merged = RunAll(db, reports, 1, nullptr, ComparePlace::kClient);
    for (const int jobs : {1, 2, 3}) {
      EXPECT_EQ(RunAll(db, reports, jobs, nullptr, ComparePlace::kServer), merged) << jobs;
    }
  }
}

TEST_F(SideBySide, WithoutConnectionsOrACommonViewTheItemsRunSeriallyAndSaySoOnce) {
  const fs::path reports = dir_.path() / "fallback";
  fs::create_directories(reports);
  const fs::path wal = dir_.path() / "wal.db";
  fs::copy_file(Faulted(), wal);
  db::SqliteConnection::Open(wal, kOwner)->ExecuteScript("PRAGMA journal_mode=WAL");
  FailingSource refusing(Faulted(), 0);
  // A read-only file has no write lock to give: a read lock holds a rollback-journal file still,
  // nothing holds a WAL file.
  db::SqliteConnectionSource readOnly(Faulted(), kOwner, {.read_only = true});
  db::SqliteConnectionSource readOnlyWal(wal, kOwner, {.read_only = true});
  for (const auto& [db, source, notice] :
       std::vector<std::tuple<fs::path, db::ConnectionSource*, std::string>>{
           {Faulted(), &refusing, "connection refused"},
           {Faulted(), &readOnly, ""},
           {wal, &readOnlyWal, "one common view"}}) {
    SCOPED_TRACE(notice);
    Outcome expected = RunAll(db, reports, 1);
    const Outcome run = RunAll(db, reports, 2, source);
    if (notice.empty()) {
      EXPECT_TRUE(run.notices.empty());
    } else {
      ASSERT_EQ(run.notices.size(), 1u);
      EXPECT_NE(run.notices.front().find(notice), std::string::npos) << run.notices.front();
    }
    expected.notices = run.notices;
    EXPECT_EQ(run, expected);
  }
}

// Adds `delta` to one row of item 1's and one of item 2's stored ledger in one transaction.
void Shift(db::SqliteConnection& c, int delta) {
  const std::string d = std::to_string(delta);
  c.ExecuteScript(
      "BEGIN IMMEDIATE;"
      "UPDATE ItemDaily2 SET dblPurchaseAmount=dblPurchaseAmount+" +
      d +
      " WHERE rowid=(SELECT min(rowid) FROM ItemDaily2);"
      "UPDATE PositionDaily SET dblPurchaseAmount=dblPurchaseAmount+" +
      d +
      " WHERE rowid=(SELECT min(rowid) FROM PositionDaily);"
      "COMMIT;");
}

TEST_F(SideBySide, AWriterCommittingThroughoutNeverShowsThroughAsAMix) {
  for (const std::string mode : {"DELETE", "WAL"}) {
    SCOPED_TRACE(mode);
    const fs::path db = dir_.path() / ("written-" + mode + ".db");
    fs::copy_file(Faulted(), db, fs::copy_options::overwrite_existing);
    auto writer = db::SqliteConnection::Open(db, kOwner);
    writer->ExecuteScript("PRAGMA journal_mode=" + mode);
    const fs::path reports = dir_.path() / ("written-" + mode);
    fs::create_directories(reports);
    const Outcome before = RunAll(db, reports, 1);
    Shift(*writer, 1);
    const Outcome after = RunAll(db, reports, 1);
    Shift(*writer, -1);
    ASSERT_NE(before, after) << "the writes must show in both items";

    std::atomic<int> commits = 0;
    std::jthread writing([&](const std::stop_token& stop) {
      for (int delta = 1; !stop.stop_requested(); delta = -delta) {
        // A pause between commits, as any writer of flesh makes: in rollback-journal mode a writer
        // that never lets go of its pending lock starves every new reader, serial or not.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        try {
          Shift(*writer, delta);
          ++commits;
        } catch (const db::Error&) {
          // Kept out by the run's readers: try again with the same change.
          try {
            writer->ExecuteScript("ROLLBACK");
          } catch (const db::Error&) {
            // The transaction never began.
          }
          delta = -delta;
        }
      }
    });
    for (int run = 0; run < 6; ++run) {
      const Outcome during = RunAll(db, reports, 2);
      EXPECT_TRUE(during == before || during == after) << "run " << run;
    }
    writing.request_stop();
    writing.join();
    EXPECT_GT(commits.load(), 0);
  }
}

// On the test's PostgreSQL server the items share one snapshot, exported by one transaction and
// taken by every connection of the run: the same bytes as the serial run, and a writer committing
// throughout never shows through as a mix.
TEST_F(SideBySide, OnAServerEveryConnectionReadsOneExportedSnapshot) {
  const char* server = testing::PostgresOdbcString();
  if (server == nullptr) GTEST_SKIP() << "no PostgreSQL server: TALLYVET_TEST_PG_ODBC is not set";
  const std::string owner = "sbs";
  const fs::path file = dir_.path() / "server.db";
  sample::CreateSample({.path = file,
                        .owner = owner,
                        .scale = 600,
                        .seed = 5,
                        .faults = sample::FaultSet::kLedgers});
  testing::LoadIntoPostgres(file, owner);

  const std::string source = "--odbc '" + std::string(server) + "' --user " + owner;
  const Written serial = RunProgram(dir_.path() / "pg-serial", {}, "--jobs 1", source);
  const Written twoJobs = RunProgram(dir_.path() / "pg-two", {}, "--jobs 2", source);
  EXPECT_EQ(serial.status, 1) << serial.err;
  EXPECT_EQ(serial.err.find("one after another"), std::string::npos);
  EXPECT_EQ(twoJobs.err.find("one after another"), std::string::npos) << twoJobs.err;
  EXPECT_EQ(twoJobs.status, serial.status);
  EXPECT_EQ(twoJobs.out, serial.out);
  EXPECT_EQ(twoJobs.reports, serial.reports);

  auto writer = db::OdbcConnection::Open(server, owner);
  writer->SetAutocommit(false);
  const auto shift = [&](int delta) {
    const std::string d = std::to_string(delta);
    for (const std::string table : {"ItemDaily2", "PositionDaily"}) {
      writer->ExecuteNative(
          "UPDATE " + owner + "." + table + " SET dblPurchaseAmount = " + "dblPurchaseAmount + " +
          d + " WHERE strDate = (SELECT MIN(strDate) FROM " + owner + "." + table + ")");
    }
    writer->Commit();
  };
  db::OdbcConnectionSource connections(server, owner);
  const fs::path reports = dir_.path() / "pg-written";
  fs::create_directories(reports);
  const auto run = [&](int jobs) {
    return RunAllOn(db::OdbcConnection::Open(server, owner), owner, reports, jobs, connections);
  };
  const Outcome before = run(1);
  shift(1);
  const Outcome after = run(1);
  shift(-1);
  ASSERT_NE(before, after) << "the writes must show in both items";
  std::atomic<int> commits = 0;
  std::jthread writing([&](const std::stop_token& stop) {
    for (int delta = 1; !stop.stop_requested(); delta = -delta) {
      shift(delta);
      ++commits;
    }
  });
  for (int attempt = 0; attempt < 4; ++attempt) {
    const Outcome during = run(2);
    EXPECT_TRUE(during.notices.empty()) << during.notices.front();
    EXPECT_TRUE(during == before || during == after) << "run " << attempt;
  }
  writing.request_stop();
  writing.join();
  EXPECT_GT(commits.load(), 0);
}

}  // namespace
}  // namespace tallyvet
