// The receipt checks (RunChecks on the check screen: five statements, two passes over each result,
// a code lookup per distinct id, the grid filled row by row) against the bare work they rest on:
// the same five statements run through plain sqlite3 with every row and column fetched.
// Sample account sets of 10^5 and 10^6 document lines with the receipt faults planted; a second
// set per size has one outbound line in fifty put out of balance, so that the per-row work
// (descriptions, lookups, grid) is measured on tens of thousands of flagged rows, not a handful.
//
// Target: RunChecks at most 1.3 times the bare statements; one lookup query per distinct id.
// Counters: ratio (RunChecks / bare, same iterations, interleaved), flagged rows, lookup queries
// and the distinct ids they stand for.
//
//   receipt_checks_bench [--benchmark_filter=...]     (run from a Release build)
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/sqlite_connection.h"
#include "receipt_audit/check_activity_screen.h"
#include "receipt_audit/receipt_sql.h"
#include "sample/sample.h"

namespace {

namespace fs = std::filesystem;
using namespace tallyvet;
using receipt_audit::CheckActivityScreen;

const char* const kOwner = "tallyvet";

class NoMessages final : public MessageBox {
 public:
  void Show(const std::string&, const std::string&, MessageIcon) override {}
  bool AskYesNo(const std::string&, const std::string&) override { return false; }
};

// Counts the code lookups ("SELECT str...Code/Name FROM <master> WHERE ...") the checks open.
class LookupCounter final : public db::Connection {
 public:
  explicit LookupCounter(db::Connection& inner) : inner_(inner) {}
  std::unique_ptr<db::Recordset> OpenResultset(const std::string& sql, int cursor,
                                               int lock) override {
    if (sql.rfind("SELECT str", 0) == 0) ++lookups;
    return inner_.OpenResultset(sql, cursor, lock);
  }
  void Execute(const std::string& sql) override { inner_.Execute(sql); }
  std::int64_t RowsAffected() const override { return inner_.RowsAffected(); }
  bool StillExecuting() const override { return inner_.StillExecuting(); }
  std::size_t lookups = 0;

 private:
  db::Connection& inner_;
};

fs::path WorkFolder() {
  static const fs::path folder = [] {
    auto p = fs::temp_directory_path() / ("tallyvet-receipt-bench-" + std::to_string(getpid()));
    fs::create_directories(p);
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(
          fs::temp_directory_path() / ("tallyvet-receipt-bench-" + std::to_string(getpid())), ec);
    });
    return p;
  }();
  return folder;
}

// The sample of `lines` document lines (made once per process); `manyFlagged` puts one outbound
// line in fifty out of balance on a copy.
fs::path SamplePath(std::int64_t lines, bool manyFlagged) {
  static std::map<std::pair<std::int64_t, bool>, fs::path> made;
  const auto key = std::make_pair(lines, manyFlagged);
  if (auto it = made.find(key); it != made.end()) return it->second;
  const fs::path base = WorkFolder() / ("receipts-" + std::to_string(lines) + ".db");
  if (!fs::exists(base)) {
    sample::SampleOptions o;
    o.path = base;
    o.owner = kOwner;
    o.scale = lines;
    o.seed = 7;
    o.faults = sample::FaultSet::kReceipts;
    sample::CreateSample(o);
  }
  fs::path path = base;
  if (manyFlagged) {
    path = WorkFolder() / ("receipts-" + std::to_string(lines) + "-many.db");
    fs::copy_file(base, path, fs::copy_options::overwrite_existing);
    auto conn = db::SqliteConnection::Open(path, kOwner);
    conn->Execute(
        "UPDATE ItemActivityDetail SET dblAmount=dblAmount+1 WHERE lngActivityDetailID%50=0 AND "
        "dblPlanPrice=0 AND lngActivityID IN (SELECT lngActivityID FROM ItemActivity WHERE "
        "lngActivityTypeID IN (15,19,22,21,31,33))");
  }
  made[key] = path;
  return path;
}

std::string Version(db::Connection& conn) {
  auto rs = conn.OpenResultset("SELECT strVer FROM Business", 3);
  return rs->Eof() ? std::string() : rs->Fields()[0].Value().AsText().substr(0, 4);
}

struct SqliteHandle {
  sqlite3* db = nullptr;
  ~SqliteHandle() { sqlite3_close_v2(db); }
};

// The five statements as SQLite runs them, every row and column fetched. Returns the row count.
std::int64_t RunBare(sqlite3* db, const std::vector<std::string>& statements) {
  std::int64_t rows = 0;
  for (const std::string& sql : statements) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sqlite3_errmsg(db));
    }
    const int columns = sqlite3_column_count(stmt);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      ++rows;
      for (int c = 0; c < columns; ++c) {
        if (sqlite3_column_type(stmt, c) == SQLITE_TEXT) {
          benchmark::DoNotOptimize(sqlite3_column_text(stmt, c));
        } else {
          benchmark::DoNotOptimize(sqlite3_column_double(stmt, c));
        }
      }
    }
    sqlite3_finalize(stmt);
  }
  return rows;
}

double Seconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

void BM_RunChecks(benchmark::State& state) {
  const std::int64_t lines = state.range(0);
  const bool manyFlagged = state.range(1) != 0;
  const fs::path path = SamplePath(lines, manyFlagged);

  std::shared_ptr<db::SqliteConnection> conn = db::SqliteConnection::Open(path, kOwner);
  const std::string version = Version(*conn);
  std::vector<std::string> bare;
  for (const auto& check : receipt_audit::ReceiptChecks(version)) {
    bare.push_back(conn->Translate(check.sql));
  }
  SqliteHandle raw;
  if (sqlite3_open_v2(path.c_str(), &raw.db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    state.SkipWithError("cannot open the sample with sqlite3");
    return;
  }
  RunBare(raw.db, bare);  // warm the page cache for both sides

  NoMessages messages;
  double oursTotal = 0, bareTotal = 0;
  std::size_t flagged = 0, lookups = 0, distinct = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const auto bareStart = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(RunBare(raw.db, bare));
    bareTotal += Seconds(std::chrono::steady_clock::now() - bareStart);

    auto counter = std::make_shared<LookupCounter>(*conn);
    HostContext ctx;
    ctx.connection = counter;
    ctx.user = kOwner;
    CheckActivityScreen screen(ctx, messages);
    screen.Form_Load();
    counter->lookups = 0;
    state.ResumeTiming();

    const auto start = std::chrono::steady_clock::now();
    const bool ok = screen.RunChecks();
    oursTotal += Seconds(std::chrono::steady_clock::now() - start);

    state.PauseTiming();
    if (!ok) {
      state.SkipWithError(screen.LastError().c_str());
      break;
    }
    flagged = screen.Findings().size();
    lookups = counter->lookups;
    std::set<std::string> ids;
    for (const auto& f : screen.Findings()) {
      ids.insert("strReceiptTypeName" + f.lngReceiptTypeID);
      ids.insert("strItemCode" + f.lngItemID);
      ids.insert("strPositionCode" + f.lngPositionID);
    }
    distinct = ids.size();
    screen.Form_Unload();
    state.ResumeTiming();
  }
  state.counters["ratio"] = bareTotal > 0 ? oursTotal / bareTotal : 0;
  state.counters["bare_s"] = bareTotal / static_cast<double>(state.iterations());
  state.counters["ours_s"] = oursTotal / static_cast<double>(state.iterations());
  state.counters["flagged"] = static_cast<double>(flagged);
  state.counters["lookups"] = static_cast<double>(lookups);
  state.counters["distinct_codes"] = static_cast<double>(distinct);
}

BENCHMARK(BM_RunChecks)
    ->ArgNames({"lines", "many_flagged"})
    ->Args({100000, 0})
    ->Args({100000, 1})
    ->Args({1000000, 0})
    ->Args({1000000, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
