// Walking a recordset against a plain sqlite3_step loop over the same query on a million rows.
// The recordset keeps every row for MoveFirst, so this measures what the client-side cursor costs.
// The same over ODBC (the SQLite3 driver on the same file): the recordset of OdbcConnection
// against a plain SQLFetch loop over the same statement.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>

#include "bench/db/plain_odbc_fetch.h"
#include "db/odbc_connection.h"
#include "db/sqlite_connection.h"

namespace {

constexpr int kRows = 1000000;
const char* const kQuery = "SELECT lngItemID, strDate, dblAmount, dblQuantity FROM Ledger";

// The million-row table, built once per run in a temporary file.
const std::filesystem::path& LedgerFile() {
  static const std::filesystem::path path = [] {
    auto p = std::filesystem::temp_directory_path() /
             ("tallyvet-bench-" + std::to_string(getpid()) + ".db");
    auto conn = tallyvet::db::SqliteConnection::Create(p, "bench");
    conn->ExecuteScript(
        "CREATE TABLE Ledger (lngItemID INTEGER, strDate TEXT, dblAmount REAL, dblQuantity REAL);"
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM n WHERE i<" +
        std::to_string(kRows - 1) +
        ") INSERT INTO Ledger SELECT i % 5000, printf('2025-%02d-%02d', 1 + i % 12, 1 + i % 28), "
        "i * 0.25, i % 17 FROM n;");
    std::atexit([] { std::filesystem::remove(LedgerFile()); });
    return p;
  }();
  return path;
}

// One pass of each; both read every column of every row and return the number of rows.
std::int64_t PlainStepPass(sqlite3* db) {
  sqlite3_stmt* s = nullptr;
  sqlite3_prepare_v2(db, kQuery, -1, &s, nullptr);
  double sum = 0;
  std::size_t bytes = 0;
  std::int64_t rows = 0;
  while (sqlite3_step(s) == SQLITE_ROW) {
    sum += static_cast<double>(sqlite3_column_int64(s, 0));
    bytes += std::string(reinterpret_cast<const char*>(sqlite3_column_text(s, 1)),
                         static_cast<std::size_t>(sqlite3_column_bytes(s, 1)))
                 .size();
    sum += sqlite3_column_double(s, 2) + sqlite3_column_double(s, 3);
    ++rows;
  }
  sqlite3_finalize(s);
  benchmark::DoNotOptimize(sum);
  benchmark::DoNotOptimize(bytes);
  return rows;
}

std::int64_t RecordsetPass(tallyvet::db::Connection& conn) {
  auto rs = conn.OpenResultset(kQuery, 3, 3);
  const auto& f = rs->Fields();
  double sum = 0;
  std::size_t bytes = 0;
  std::int64_t rows = 0;
  for (; !rs->Eof(); rs->MoveNext()) {
    sum += static_cast<double>(f[0].Value().AsInteger());
    bytes += f[1].Value().Text().size();
    sum += f[2].Value().AsDouble() + f[3].Value().AsDouble();
    ++rows;
  }
  rs->Close();
  benchmark::DoNotOptimize(sum);
  benchmark::DoNotOptimize(bytes);
  return rows;
}

struct Handle {
  Handle() {
    sqlite3_open_v2(LedgerFile().c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
  }
  ~Handle() { sqlite3_close(db); }
  sqlite3* db = nullptr;
};

std::unique_ptr<tallyvet::db::SqliteConnection> OpenLedger() {
  tallyvet::db::OpenOptions options;
  options.read_only = true;
  return tallyvet::db::SqliteConnection::Open(LedgerFile(), "bench", options);
}

void BM_PlainSqliteStep(benchmark::State& state) {
  Handle h;
  for (auto _ : state) state.SetItemsProcessed(state.items_processed() + PlainStepPass(h.db));
}

void BM_RecordsetWalk(benchmark::State& state) {
  auto conn = OpenLedger();
  for (auto _ : state) state.SetItemsProcessed(state.items_processed() + RecordsetPass(*conn));
}

// The target as one figure: each iteration times a plain pass and a recordset pass back to back,
// so a busy machine slows both alike; `ratio` is the fastest recordset pass over the fastest plain
// pass.
void BM_RecordsetOverPlainStep(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  Handle h;
  auto conn = OpenLedger();
  double plain = 1e30, recordset = 1e30;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    PlainStepPass(h.db);
    const auto t1 = Clock::now();
    RecordsetPass(*conn);
    const auto t2 = Clock::now();
    plain = std::min(plain, std::chrono::duration<double>(t1 - t0).count());
    recordset = std::min(recordset, std::chrono::duration<double>(t2 - t1).count());
  }
  state.counters["plain_ms"] = plain * 1e3;
  state.counters["recordset_ms"] = recordset * 1e3;
  state.counters["ratio"] = recordset / plain;
}

// The engine's pattern: walk to the end, MoveFirst, walk again (the second walk reads kept rows).
void BM_RecordsetWalkRewindWalk(benchmark::State& state) {
  auto conn = OpenLedger();
  for (auto _ : state) {
    auto rs = conn->OpenResultset(kQuery, 3, 3);
    double sum = 0;
    for (int pass = 0; pass < 2; ++pass) {
      for (; !rs->Eof(); rs->MoveNext()) sum += rs->Fields()[2].Value().AsDouble();
      rs->MoveFirst();
    }
    benchmark::DoNotOptimize(sum);
    state.counters["spilled_rows"] = static_cast<double>(rs->SpilledRows());
  }
}

std::string OdbcString() {
  return "Driver=SQLite3;NoCreat=1;Database=" + LedgerFile().string() +
         ";LoadExt=" TALLYVET_ORACLE_EXTENSION;
}

// Each iteration times a plain SQLFetch loop over blocks of rows, the same loop a row at a time,
// and a recordset pass over OdbcConnection back to back; `ratio` is the fastest recordset pass
// over the fastest plain pass of either kind.
void BM_OdbcRecordsetOverPlainFetch(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const tallyvet::bench::PlainOdbc plain(OdbcString());
  tallyvet::db::OpenOptions options;
  options.read_only = true;
  auto conn = tallyvet::db::OdbcConnection::Open(OdbcString(), "bench", options);
  double block = 1e30, single = 1e30, recordset = 1e30;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    plain.FetchAll(kQuery, 256);
    const auto t1 = Clock::now();
    plain.FetchAll(kQuery, 1);
    const auto t2 = Clock::now();
    RecordsetPass(*conn);
    const auto t3 = Clock::now();
    block = std::min(block, std::chrono::duration<double>(t1 - t0).count());
    single = std::min(single, std::chrono::duration<double>(t2 - t1).count());
    recordset = std::min(recordset, std::chrono::duration<double>(t3 - t2).count());
  }
  state.counters["plain_block_ms"] = block * 1e3;
  state.counters["plain_row_ms"] = single * 1e3;
  state.counters["recordset_ms"] = recordset * 1e3;
  state.counters["ratio"] = recordset / std::min(block, single);
}

BENCHMARK(BM_PlainSqliteStep)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_RecordsetWalk)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_RecordsetOverPlainStep)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_RecordsetWalkRewindWalk)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_OdbcRecordsetOverPlainFetch)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
