// Registering report rows into a ledger as the report screen does (one transaction, a savepoint
// and a journal entry per row), with the statements guarded by the values the comparison read
// and with the plain statements, back to back on the same 10^4 differences.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "db/sqlite_connection.h"
#include "reconcile_ui/corrections.h"

namespace {

using namespace tallyvet;

constexpr int kDifferences = 10000;

struct Ledger {
  Ledger() {
    folder = std::filesystem::temp_directory_path() /
             ("tallyvet-registration-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    conn = db::SqliteConnection::Create(folder / "ledger.db", "bench");
    // Twice as many ledger rows as differences; every other row differs.
    conn->ExecuteScript(
        "CREATE TABLE ItemDaily2 (strDate TEXT, lngItemID INTEGER, lngPositionGroupID INTEGER, "
        "dblSaleQuantity REAL NOT NULL DEFAULT 0, dblSaleAmount REAL NOT NULL DEFAULT 0);"
        "CREATE INDEX ItemDaily2_Key ON ItemDaily2 (strDate, lngItemID, lngPositionGroupID);"
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM n WHERE i<" +
        std::to_string(2 * kDifferences - 1) +
        ") INSERT INTO ItemDaily2 SELECT printf('2025-%02d-%02d', 1 + i % 12, 1 + i % 28), "
        "i, i % 7, i % 13, i * 1.25 FROM n;");
    items.LedgerTable[0] = "ItemDaily2";
    for (int i = 0; i < 2 * kDifferences; i += 2) {
      char date[16];
      std::snprintf(date, sizeof date, "2025-%02d-%02d", 1 + i % 12, 1 + i % 28);
      Row row;
      row.condition = std::string("ITEMACTIVITY.STRDATE='") + date +
                      "' AND ITEMACTIVITYDETAIL.LNGITEMID=" + std::to_string(i) +
                      " AND NVL(POSITION.LNGPOSITIONGROUPID,0)=" + std::to_string(i % 7);
      row.stored = i * 1.25;
      row.difference = db::FormatDouble(-0.5 - i % 9);  // recomputed a little more than stored
      rows.push_back(row);
    }
  }
  ~Ledger() {
    conn.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }

  struct Row {
    std::string condition;
    double stored = 0;
    std::string difference;
  };

  // One registration of every row, rolled back at its end so that each pass finds the ledger as
  // the comparison read it. Returns the rows registered.
  int Register(bool guarded, int pass) {
    CorrectionJournal journal(folder, "bench", std::to_string(pass) + (guarded ? "g" : "u"));
    db::Transaction transaction(*conn);
    int registered = 0;
    int n = 0;
    for (const Row& row : rows) {
      const CorrectionStatements c = BuildCorrection(
          items, 1, row.condition, "DBLSALEAMOUNT", row.difference,
          guarded ? std::optional<ComparedValue>(ComparedValue{row.stored, true}) : std::nullopt);
      conn->Execute("SAVEPOINT tallyvet_register_row");
      registered += journal.Register(*conn, ++n, c) == RegistrationStatus::kRegistered ? 1 : 0;
      conn->Execute("RELEASE tallyvet_register_row");
    }
    journal.WriteUndoScript();
    transaction.Rollback();
    journal.Discard("benchmark pass");
    return registered;
  }

  std::filesystem::path folder;
  std::unique_ptr<db::SqliteConnection> conn;
  CheckItemTable items;
  std::vector<Row> rows;
};

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Each iteration registers the differences guarded and unguarded back to back, in alternating
// order, so that a busy machine slows both alike; `ratio` is the median over the iterations of
// guarded wall-clock time over unguarded, `cpu_ratio` the same of CPU time, which the machine's
// other work moves less.
void BM_GuardedRegistrationOverPlain(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  Ledger ledger;
  std::vector<double> ratios, cpuRatios, guardedMs, plainMs;
  int pass = 0;
  for (auto _ : state) {
    double guarded = 0, plain = 0, guardedCpu = 0, plainCpu = 0;
    const bool guardedFirst = pass % 4 == 0;
    for (int order = 0; order < 2; ++order) {
      const bool guard = order == 0 ? guardedFirst : !guardedFirst;
      const auto t0 = Clock::now();
      const double c0 = CpuSeconds();
      const int registered = ledger.Register(guard, ++pass);
      const double cpu = CpuSeconds() - c0;
      const double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
      if (registered != kDifferences) state.SkipWithError("a row was not registered");
      (guard ? guarded : plain) = seconds;
      (guard ? guardedCpu : plainCpu) = cpu;
    }
    ratios.push_back(guarded / plain);
    cpuRatios.push_back(guardedCpu / plainCpu);
    guardedMs.push_back(guarded * 1e3);
    plainMs.push_back(plain * 1e3);
  }
  const auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  state.counters["guarded_ms"] = median(guardedMs);
  state.counters["plain_ms"] = median(plainMs);
  state.counters["ratio"] = median(ratios);
  state.counters["cpu_ratio"] = median(cpuRatios);
  state.counters["differences"] = kDifferences;
}

BENCHMARK(BM_GuardedRegistrationOverPlain)->Unit(benchmark::kMillisecond)->Iterations(11);

}  // namespace

BENCHMARK_MAIN();
