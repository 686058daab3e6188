// The whole reconcile of items 1 to 3 (derivation from the stored source, three comparison runs
// with their report) against the bare work it rests on: the same two statements per item, the
// recompute and the stored-ledger read, run through plain sqlite3 with every row fetched.
// Sample account sets of 10^4, 10^5 and 10^6 document lines, with ledger faults planted.
//
// Targets: the engine's time at most 1.3 times the bare statements'; the engine's peak memory at
// 10^6 lines at most twice that at 10^5.
//
// Also items 1 to 6 through the launcher's run with --jobs 2 against --jobs 1, paired in each
// iteration (the counter "ratio" is the time with two jobs over the serial time). Targets: at
// most 0.6 on two cores at 10^6 lines; peak memory at most the serial run's plus 16 MiB per
// extra connection. Peak memory is measured in a fresh process per run (this
// program run again with --reconcile-once or --bare-once, which prints its own peak), so one
// size's pages never count for another.
//
// Over ODBC (the SQLite3 driver on the same sample, with the Oracle functions loaded), the same
// reconcile of items 1 to 3 is timed against the embedded run and against its statements run
// through a plain SQLFetch loop.
//
// The statement trace: items 1 to 6 two at a time with --trace-sql's wrapping on and off, paired
// in each iteration (target: on at most 1.1 times off); and the cost the trace leaves in a run
// without it, the engine's scopes, timed directly and set against the run (target: at most 1.02).
//
// Causes: items 1 to 6 run one after another with every differing row explained (--explain)
// against the same run without, paired in each iteration, on a sample with every kind of fault
// planted (about 100 differing rows at 10^6 lines). Target: at most 1.2 times at 10^6 lines.
// The pairs' median ratio is reported for the wall-clock time and for the CPU time the process
// spent (the latter does not move with time a shared machine's other guests take).
//
//   reconcile_bench [--benchmark_filter=...]     (run from a Release build)
//
// Compared on the server: items 1 to 6 one after another on the PostgreSQL test server
// (TALLYVET_BENCH_PG_ODBC), merged here (--compare-on client, every row of both sides sent) and
// compared on the server (server, only the rows that may differ sent), back to back in pairs, on
// samples with every kind of fault planted; first on loopback, then through a relay of our own
// (bench/link) that limits each direction to 100 Mbit/s and delays it 0.5 ms, and that counts the
// bytes the client received in each. Counters: the median of the pairs' server/client ratios on
// each link (targets: at most 0.5 on loopback, at most 0.2 through the relay at 10^6 lines), both
// runs' times, the bytes received, and where the server run's time goes: its statements on the
// server against everything else; and the ratio with two items at once on loopback (--jobs 2, the
// command line's default on two cores).
//
// TALLYVET_BENCH_SAMPLES=folder keeps the samples there and uses them again in later runs (a
// sample of 10^6 lines takes minutes to build); the server's copies of them are kept as well, in a
// schema per sample, and copied again only when the file they came from has changed.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/db/plain_odbc_fetch.h"
#include "db/odbc_connection.h"
#include "db/oracle_functions.h"
#include "db/sqlite_connection.h"
#include "db/statement_trace.h"
#include "ledger_engine/causes.h"
#include "ledger_engine/check_items.h"
#include "ledger_engine/comparison.h"
#include "ledger_engine/derivation.h"
#include "ledger_engine/difference.h"
#include "reconcile_ui/launcher.h"
#include "sample/copy.h"
#include "sample/sample.h"

namespace {

namespace fs = std::filesystem;
using namespace tallyvet;

const char* const kOwner = "tallyvet";

class QuietScreen final : public ProgressScreen {
 public:
  void SetNotes(const std::string&) override {}
  double ProgressValue() const override { return display_.Value(); }
  void ShowProgress(double percent) override { display_.ShowProgress(percent); }
  std::vector<std::string>* List1() override { return &list_; }

 private:
  ProgressDisplay display_;
  std::vector<std::string> list_;
};

// Keeps the text of the queries the comparison opens with a second 3 (the recompute and the
// stored-ledger statements; the derivation's source read is opened before recording starts).
class StatementRecorder final : public db::Connection {
 public:
  explicit StatementRecorder(std::unique_ptr<db::SqliteConnection> inner)
      : translate_([c = inner.get()](const std::string& sql) { return c->Translate(sql); }),
        inner_(std::move(inner)) {}
  explicit StatementRecorder(std::unique_ptr<db::OdbcConnection> inner)
      : translate_([c = inner.get()](const std::string& sql) { return c->Translate(sql); }),
        inner_(std::move(inner)) {}
  std::unique_ptr<db::Recordset> OpenResultset(const std::string& sql, int cursor,
                                               int lock) override {
    if (recording && lock == 3) statements.push_back(translate_(sql));
    return inner_->OpenResultset(sql, cursor, lock);
  }
  void Execute(const std::string& sql) override { inner_->Execute(sql); }
  std::int64_t RowsAffected() const override { return inner_->RowsAffected(); }
  bool StillExecuting() const override { return inner_->StillExecuting(); }

  bool recording = false;
  std::vector<std::string> statements;  // as SQLite runs them

 private:
  std::function<std::string(const std::string&)> translate_;
  std::unique_ptr<db::Connection> inner_;
};

// A folder of this process's own, removed with everything in it when the program ends.
class WorkDirectory {
 public:
  WorkDirectory()
      : path_(fs::temp_directory_path() /
              ("tallyvet-reconcile-bench-" + std::to_string(getpid()))) {
    fs::create_directories(path_);
  }
  ~WorkDirectory() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

const fs::path& WorkFolder() {
  static const WorkDirectory folder;
  return folder.path();
}

// The sample of `lines` document lines, built once per program run: ledger faults planted, or
// every kind of fault with `allFaults`.
const fs::path& SampleFile(std::int64_t lines, bool allFaults = false) {
  static std::map<std::pair<std::int64_t, bool>, fs::path> files;
  auto& path = files[{lines, allFaults}];
  if (path.empty()) {
    const char* kept = std::getenv("TALLYVET_BENCH_SAMPLES");
    const std::string name =
        std::string(allFaults ? "faulted-" : "sample-") + std::to_string(lines) + ".db";
    if (kept != nullptr && fs::exists(fs::path(kept) / name)) return path = fs::path(kept) / name;
    sample::SampleOptions options;
    options.path = WorkFolder() / name;
    options.owner = kOwner;
    options.scale = lines;
    options.faults = allFaults ? sample::FaultSet::kAll : sample::FaultSet::kLedgers;
    sample::CreateSample(options);
    path = options.path;
    if (kept != nullptr) {
      fs::create_directories(kept);
      fs::copy_file(path, fs::path(kept) / name);
    }
  }
  return path;
}

// The SQLite3 ODBC driver on a sample file, with the Oracle functions loaded.
std::string OdbcString(const fs::path& file) {
  return "Driver=SQLite3;NoCreat=1;Database=" + file.string() +
         ";LoadExt=" TALLYVET_ORACLE_EXTENSION;
}

// The engine's reconcile of items 1 to 3 over every date; returns the recorded statements.
// `odbc`: through the SQLite3 ODBC driver on `file`; `server`: through this connection string
// instead of any file.
std::vector<std::string> ReconcileOnce(const fs::path& file, bool record = false, bool odbc = false,
                                       const std::string& server = {}) {
  db::OpenOptions options;
  options.read_only = true;
  auto recorder =
      !server.empty()
          ? std::make_shared<StatementRecorder>(db::OdbcConnection::Open(server, kOwner, options))
      : odbc
          ? std::make_shared<StatementRecorder>(
                db::OdbcConnection::Open(OdbcString(file), kOwner, options))
          : std::make_shared<StatementRecorder>(db::SqliteConnection::Open(file, kOwner, options));
  HostContext ctx;
  ctx.connection = recorder;
  ctx.user = kOwner;
  QuietScreen screen;
  InitCheckItems(ctx);
  DeriveGoodsLedgerSql(ctx, screen);
  const ReportFile report(WorkFolder());
  recorder->recording = record;
  for (int item = 1; item <= 3; ++item) {
    std::string error;
    RunComparison(ctx, screen, report, item, " ", "9999-12-31", true, false, {}, &error);
    if (!error.empty()) throw std::runtime_error("item " + std::to_string(item) + ": " + error);
  }
  return recorder->statements;
}

// Counts the differing rows of a run, and those with a cause.
struct RowCounter final : DifferenceSink {
  void RecordDifference(const DifferenceRecord& r, bool firstInRow) override {
    if (!firstInRow) return;
    ++rows;
    if (r.cause) ++explained;
  }
  long rows = 0, explained = 0;
};

// Items 1 to 6 over every date through the launcher's run on `jobs` connections (read-only, so
// the common view is the shared read lock), every difference into `counter` when given (through
// an ExplainingSink with `explain`); returns the seconds the run took.
// With `trace`, every connection of the run writes its statements there, as --trace-sql does.
double ReconcileAllItems(const fs::path& file, int jobs, RowCounter* counter = nullptr,
                         bool explain = false, const fs::path& trace = {}) {
  db::OpenOptions options;
  options.read_only = true;
  HostContext ctx;
  ctx.connection = db::SqliteConnection::Open(file, kOwner, options);
  ctx.user = kOwner;
  db::OpenOptions jobOptions = options;
  jobOptions.spill_threshold = SpillThresholdForJobs(jobs);
  std::unique_ptr<db::ConnectionSource> source =
      std::make_unique<db::SqliteConnectionSource>(file, kOwner, jobOptions);
  if (!trace.empty()) {
    auto statements = std::make_shared<db::StatementTrace>(trace, "reconcile");
    ctx.connection =
        std::make_shared<db::TracingConnection>(ctx.connection, statements, file.string());
    source =
        std::make_unique<db::TracingConnectionSource>(std::move(source), statements, file.string());
  }
  LoadAccountAndPeriods(ctx, LocalToday());
  QuietScreen screen;
  const fs::path folder = WorkFolder() / ("jobs-" + std::to_string(jobs));
  fs::create_directories(folder);
  std::vector<ItemRunError> errors;
  const auto start = std::chrono::steady_clock::now();
  ExplainingSink explaining(ctx, " ", "9999-12-31", {counter});
  std::vector<DifferenceSink*> sinks;
  if (counter != nullptr) {
    sinks.push_back(explain ? static_cast<DifferenceSink*>(&explaining) : counter);
  }
  RunItems(ctx, screen, ReportFile(folder), {true, true, true, true, true, true},
           {" ", "9999-12-31"}, sinks, {}, &errors,
           {jobs, source.get(), [](const std::string& why) { throw std::runtime_error(why); }});
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  if (!errors.empty()) throw std::runtime_error(errors.front().message);
  return took.count();
}

// Runs each statement through plain sqlite3, fetching every column of every row.
std::int64_t RunBare(const fs::path& file, const std::vector<std::string>& statements) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
      SQLITE_OK) {
    throw std::runtime_error("cannot open " + file.string());
  }
  db::RegisterOracleFunctions(db);
  std::int64_t rows = 0;
  double sum = 0;
  std::size_t bytes = 0;
  for (const auto& sql : statements) {
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
      const std::string message = sqlite3_errmsg(db);
      sqlite3_close(db);
      throw std::runtime_error(message + " in: " + sql);
    }
    const int columns = sqlite3_column_count(stmt);
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      for (int c = 0; c < columns; ++c) {
        switch (sqlite3_column_type(stmt, c)) {
          case SQLITE_INTEGER:
            sum += static_cast<double>(sqlite3_column_int64(stmt, c));
            break;
          case SQLITE_FLOAT:
            sum += sqlite3_column_double(stmt, c);
            break;
          case SQLITE_TEXT:
            bytes += std::string(reinterpret_cast<const char*>(sqlite3_column_text(stmt, c)),
                                 static_cast<std::size_t>(sqlite3_column_bytes(stmt, c)))
                         .size();
            break;
          default:
            break;
        }
      }
      ++rows;
    }
    sqlite3_finalize(stmt);
  }
  sqlite3_close(db);
  benchmark::DoNotOptimize(sum);
  benchmark::DoNotOptimize(bytes);
  return rows;
}

// The statements of a sample, kept beside it for the bare measuring run ('\0' after each: the
// derived SQL keeps the source's line breaks).
fs::path StatementsFile(const fs::path& file) {
  return fs::path(file.string() + ".statements");
}

void WriteStatements(const fs::path& file, const std::vector<std::string>& statements) {
  std::ofstream out(StatementsFile(file), std::ios::binary);
  for (const auto& s : statements) out << s << '\0';
}

std::vector<std::string> ReadStatements(const fs::path& file) {
  std::ifstream in(StatementsFile(file), std::ios::binary);
  std::vector<std::string> statements;
  for (std::string s; std::getline(in, s, '\0');) statements.push_back(s);
  return statements;
}

// This process's peak resident memory in KiB: VmHWM belongs to the address space, so after an
// exec it counts only the new program (ru_maxrss would also keep the forked copy's pages).
long PeakResidentKiB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
  }
  return -1;
}

// Peak resident memory, in MiB, of this program run afresh to reconcile `file` once.
double PeakMemoryOfOneReconcile(const fs::path& file, const char* mode) {
  const std::string command =
      "'" + fs::read_symlink("/proc/self/exe").string() + "' " + mode + " '" + file.string() + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> child(popen(command.c_str(), "r"), pclose);
  if (!child) throw std::runtime_error("cannot start " + command);
  long kib = -1;
  if (std::fscanf(child.get(), "%ld", &kib) != 1 || kib < 0) {
    throw std::runtime_error("the measuring run failed: " + command);
  }
  return static_cast<double>(kib) / 1024.0;
}

void BM_EngineReconcile(benchmark::State& state) {
  const fs::path& file = SampleFile(state.range(0));
  for (auto _ : state) ReconcileOnce(file);
  state.counters["lines"] = static_cast<double>(state.range(0));
}

void BM_BareStatements(benchmark::State& state) {
  const fs::path& file = SampleFile(state.range(0));
  const std::vector<std::string> statements = ReconcileOnce(file, true);
  if (statements.size() != 6) state.SkipWithError("expected two statements per item");
  std::int64_t rows = 0;
  for (auto _ : state) rows = RunBare(file, statements);
  state.counters["rows"] = static_cast<double>(rows);
}

void BM_EnginePeakMemory(benchmark::State& state) {
  const fs::path& file = SampleFile(state.range(0));
  double peak = 0;
  for (auto _ : state) peak = PeakMemoryOfOneReconcile(file, "--reconcile-once");
  state.counters["peak_MiB"] = peak;
}

void BM_BarePeakMemory(benchmark::State& state) {
  const fs::path& file = SampleFile(state.range(0));
  WriteStatements(file, ReconcileOnce(file, true));
  double peak = 0;
  for (auto _ : state) peak = PeakMemoryOfOneReconcile(file, "--bare-once");
  state.counters["peak_MiB"] = peak;
}

// Items 1 to 3 at 10^5 lines: each iteration runs the bare statements through a plain SQLFetch
// loop, the reconcile over ODBC and the embedded reconcile back to back. `odbc_over_plain` is the
// engine over ODBC against its bare statements (target at most 1.3), `odbc_over_embedded` the
// cost of going through the driver manager and driver rather than linking SQLite.
void BM_OdbcReconcile(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const fs::path& file = SampleFile(state.range(0));
  const std::vector<std::string> statements = ReconcileOnce(file, true, true);
  if (statements.size() != 6) state.SkipWithError("expected two statements per item");
  const bench::PlainOdbc plain(OdbcString(file));
  double bare = 1e30, odbc = 1e30, embedded = 1e30;
  std::int64_t rows = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    rows = 0;
    for (const auto& sql : statements) rows += plain.FetchAll(sql);
    const auto t1 = Clock::now();
    ReconcileOnce(file, false, true);
    const auto t2 = Clock::now();
    ReconcileOnce(file);
    const auto t3 = Clock::now();
    bare = std::min(bare, std::chrono::duration<double>(t1 - t0).count());
    odbc = std::min(odbc, std::chrono::duration<double>(t2 - t1).count());
    embedded = std::min(embedded, std::chrono::duration<double>(t3 - t2).count());
  }
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["plain_fetch_ms"] = bare * 1e3;
  state.counters["odbc_ms"] = odbc * 1e3;
  state.counters["embedded_ms"] = embedded * 1e3;
  state.counters["odbc_over_plain"] = odbc / bare;
  state.counters["odbc_over_embedded"] = odbc / embedded;
}

// A value of an ODBC connection string ("Servername=127.0.0.1;Port=5432;..."), empty if absent.
std::string ConnectionValue(const std::string& connection, const std::string& key) {
  const std::size_t at = connection.find(key + "=");
  if (at == std::string::npos) return {};
  const std::size_t from = at + key.size() + 1;
  return connection.substr(from, connection.find(';', from) - from);
}

// Items 1 to 3 at 10^5 lines on PostgreSQL (TALLYVET_BENCH_PG_ODBC, as scripts/pg-server.sh
// prints it): each iteration runs the same six statements through psql with every row fetched
// (\o /dev/null), the reconcile over ODBC and the embedded reconcile, back to back.
// `server_over_psql` is the target (at most 1.3).
void BM_PostgresReconcile(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const char* server = std::getenv("TALLYVET_BENCH_PG_ODBC");
  if (server == nullptr) {
    state.SkipWithError("TALLYVET_BENCH_PG_ODBC is not set (start scripts/pg-server.sh)");
    for (auto _ : state) {
    }
    return;
  }
  const fs::path& file = SampleFile(state.range(0));
  {
    auto conn = db::OdbcConnection::Open(server, kOwner);
    sample::CopyOptions copy;
    copy.schema = kOwner;
    copy.replace = true;
    sample::CopyAccountSetToServer(file, *conn, copy);
  }
  const std::vector<std::string> statements = ReconcileOnce(file, true, false, server);
  if (statements.size() != 6) state.SkipWithError("expected two statements per item");
  const fs::path script = WorkFolder() / "psql-statements.sql";
  {
    std::ofstream out(script);
    out << "SET search_path TO " << kOwner << ", public, oracle;\n\\o /dev/null\n";
    for (const std::string& sql : statements) out << sql << ";\n";
  }
  const std::string psql =
      "psql -X -q -v ON_ERROR_STOP=1 -h " + ConnectionValue(server, "Servername") + " -p " +
      ConnectionValue(server, "Port") + " -U " + ConnectionValue(server, "Username") + " -d " +
      ConnectionValue(server, "Database") + " -f " + script.string();
  double bare = 1e30, engine = 1e30, embedded = 1e30;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    if (std::system(psql.c_str()) != 0) state.SkipWithError("psql failed");
    const auto t1 = Clock::now();
    ReconcileOnce(file, false, false, server);
    const auto t2 = Clock::now();
    ReconcileOnce(file);
    const auto t3 = Clock::now();
    bare = std::min(bare, std::chrono::duration<double>(t1 - t0).count());
    engine = std::min(engine, std::chrono::duration<double>(t2 - t1).count());
    embedded = std::min(embedded, std::chrono::duration<double>(t3 - t2).count());
  }
  state.counters["psql_ms"] = bare * 1e3;
  state.counters["server_ms"] = engine * 1e3;
  state.counters["embedded_ms"] = embedded * 1e3;
  state.counters["server_over_psql"] = engine / bare;
}

// --jobs 2 against --jobs 1, each pair run back to back so that both meet the same machine.
void BM_JobsTwoAgainstOne(benchmark::State& state) {
  const fs::path& file = SampleFile(state.range(0));
  double serial = 0, twoJobs = 0;
  for (auto _ : state) {
    const double one = ReconcileAllItems(file, 1);
    const double two = ReconcileAllItems(file, 2);
    serial += one;
    twoJobs += two;
    state.SetIterationTime(two);
  }
  state.counters["serial_s"] = serial / static_cast<double>(state.iterations());
  state.counters["jobs2_s"] = twoJobs / static_cast<double>(state.iterations());
  state.counters["ratio"] = twoJobs / serial;
}

// The CPU time this process has spent, user and system, in seconds.
double ProcessCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n == 0 ? 0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// The same serial run with and without causes, back to back.
void BM_ExplainAgainstPlain(benchmark::State& state) {
  const fs::path& file = SampleFile(state.range(0), true);
  std::vector<double> wall, cpu;
  double plain = 0, explained = 0;
  RowCounter rows, causes;
  for (auto _ : state) {
    rows = {};
    causes = {};
    const double cpu0 = ProcessCpuSeconds();
    const double one = ReconcileAllItems(file, 1, &rows, false);
    const double cpu1 = ProcessCpuSeconds();
    const double two = ReconcileAllItems(file, 1, &causes, true);
    const double cpu2 = ProcessCpuSeconds();
    plain += one;
    explained += two;
    wall.push_back(two / one);
    cpu.push_back((cpu2 - cpu1) / (cpu1 - cpu0));
    state.SetIterationTime(two);
  }
  if (causes.explained != causes.rows || causes.rows != rows.rows) {
    state.SkipWithError("not every differing row got a cause");
  }
  state.counters["rows"] = static_cast<double>(rows.rows);
  state.counters["plain_s"] = plain / static_cast<double>(state.iterations());
  state.counters["explain_s"] = explained / static_cast<double>(state.iterations());
  state.counters["ratio"] = Median(wall);
  state.counters["cpu_ratio"] = Median(cpu);
}

// The same run, items 1 to 6 two at a time, with the statement trace on and off, back to back;
// the pairs' median ratio, wall-clock and CPU. Target: on at most 1.1 times off.
void BM_TraceOnAgainstOff(benchmark::State& state) {
  const fs::path& file = SampleFile(state.range(0));
  const fs::path trace = WorkFolder() / "trace.jsonl";
  std::vector<double> wall, cpu;
  double off = 0, on = 0;
  for (auto _ : state) {
    const double cpu0 = ProcessCpuSeconds();
    const double one = ReconcileAllItems(file, 2);
    const double cpu1 = ProcessCpuSeconds();
    const double two = ReconcileAllItems(file, 2, nullptr, false, trace);
    const double cpu2 = ProcessCpuSeconds();
    off += one;
    on += two;
    wall.push_back(two / one);
    cpu.push_back((cpu2 - cpu1) / (cpu1 - cpu0));
    state.SetIterationTime(two);
  }
  std::ifstream lines(trace);
  const auto count =
      std::count(std::istreambuf_iterator<char>(lines), std::istreambuf_iterator<char>(), '\n');
  state.counters["lines"] = static_cast<double>(count);
  state.counters["off_s"] = off / static_cast<double>(state.iterations());
  state.counters["on_s"] = on / static_cast<double>(state.iterations());
  state.counters["ratio"] = Median(wall);
  state.counters["cpu_ratio"] = Median(cpu);
}

// What the trace costs a run without it: nothing is wrapped then, and what is left is the scopes
// the engine sets around its phases (at most one per statement). Times one scope, and reports
// the bound 1 + statements x scope / run of the trace-off run above at the same size
// (off_ratio_bound), the statements counted from a traced run.
void BM_TraceOffScopes(benchmark::State& state) {
  const fs::path& file = SampleFile(state.range(0));
  const fs::path trace = WorkFolder() / "trace-count.jsonl";
  ReconcileAllItems(file, 2, nullptr, false, trace);
  std::ifstream lines(trace);
  const auto statements =
      std::count(std::istreambuf_iterator<char>(lines), std::istreambuf_iterator<char>(), '\n');
  const double run = ReconcileAllItems(file, 2);
  constexpr int kScopes = 1'000'000;
  double scope = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kScopes; ++i) {
      const db::StatementScope s(db::Purpose::kRecompute, i & 7);
      benchmark::DoNotOptimize(db::StatementScope::CurrentItem());
    }
    scope =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / kScopes;
  }
  state.counters["scope_ns"] = scope * 1e9;
  state.counters["statements"] = static_cast<double>(statements);
  state.counters["off_ratio_bound"] = 1 + static_cast<double>(statements) * scope / run;
  state.counters["off_overhead_ppm"] = static_cast<double>(statements) * scope / run * 1e6;
}

void BM_JobsPeakMemory(benchmark::State& state) {
  const fs::path& file = SampleFile(state.range(0));
  double serial = 0, twoJobs = 0;
  for (auto _ : state) {
    serial = PeakMemoryOfOneReconcile(file, "--items-once=1");
    twoJobs = PeakMemoryOfOneReconcile(file, "--items-once=2");
  }
  state.counters["serial_peak_MiB"] = serial;
  state.counters["jobs2_peak_MiB"] = twoJobs;
  // Two jobs read through two connections each (recompute and stored side) beside the run's first.
  state.counters["extra_MiB_per_connection"] = (twoJobs - serial) / 4;
}

// ---------------------------------------------------------------------------------------------
// Compared on the server against merged here

// The relay of bench/link between this process and the server: started on construction, stopped
// (and its byte counts read) by Stop.
class LinkRelay {
 public:
  explicit LinkRelay(const std::string& server) {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("no pipe for the relay");
    const std::string to =
        ConnectionValue(server, "Servername") + ":" + ConnectionValue(server, "Port");
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      close(out[1]);
      execl(TALLYVET_LINK_RELAY, TALLYVET_LINK_RELAY, "--to", to.c_str(), "--rate", "100000000",
            "--delay-us", "500", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    output_ = fdopen(out[0], "r");
    int port = 0;
    if (pid_ < 0 || output_ == nullptr || std::fscanf(output_, "port %d", &port) != 1) {
      throw std::runtime_error("the relay did not start: " TALLYVET_LINK_RELAY);
    }
    port_ = std::to_string(port);
  }
  ~LinkRelay() {
    if (pid_ > 0) Stop();
  }
  LinkRelay(const LinkRelay&) = delete;
  LinkRelay& operator=(const LinkRelay&) = delete;

  // The server's connection string with the relay in the server's place.
  std::string Through(const std::string& server) const {
    const std::size_t at = server.find("Port=") + 5;
    return server.substr(0, at) + port_ + server.substr(server.find(';', at));
  }
  // Stops the relay; returns the bytes it forwarded to the client.
  long long Stop() {
    kill(pid_, SIGTERM);
    long long toServer = 0, toClient = -1;
    if (std::fscanf(output_, " to_server %lld to_client %lld", &toServer, &toClient) != 2) {
      toClient = -1;
    }
    std::fclose(output_);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    return toClient;
  }

 private:
  pid_t pid_ = -1;
  FILE* output_ = nullptr;
  std::string port_;
};

// The time the connection spends in the comparison's statements on the server (the one statement
// per item when compared there; its two statements' execution when merged here).
class StatementClock final : public db::Connection {
 public:
  explicit StatementClock(std::unique_ptr<db::OdbcConnection> inner) : inner_(std::move(inner)) {}
  std::unique_ptr<db::Recordset> OpenResultset(const std::string& sql, int cursor,
                                               int lock) override {
    if (lock != 3) return inner_->OpenResultset(sql, cursor, lock);
    const auto start = std::chrono::steady_clock::now();
    auto rs = inner_->OpenResultset(sql, cursor, lock);
    if (sql.rfind("WITH ", 0) == 0) {
      seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    return rs;
  }
  void Execute(const std::string& sql) override { inner_->Execute(sql); }
  std::int64_t RowsAffected() const override { return inner_->RowsAffected(); }
  bool StillExecuting() const override { return false; }
  bool ServerHost() const override { return inner_->ServerHost(); }
  std::atomic<double> seconds = 0;

 private:
  std::unique_ptr<db::OdbcConnection> inner_;
};

// Every difference of a run, as text, to tell that both ways found the same. At the cent: the
// server sums a column's doubles in parallel, in an order that changes from one statement to the
// next, so that a recomputed sum may differ in its last binary digit between any two runs, merged
// here or not.
struct DifferenceText final : DifferenceSink {
  void RecordDifference(const DifferenceRecord& r, bool) override {
    text += std::to_string(r.item) + r.condition + r.columnName + db::RoundedText(r.storedValue) +
            db::RoundedText(r.recomputedValue) + "\n";
    ++count;
  }
  void ClientMerge(int item, const std::string& reason) override {
    merged += std::to_string(item) + ": " + reason + "\n";
  }
  std::string text, merged;
  long count = 0;
};

// The all-faults sample of `lines` in a schema of the server named after its owner; copied again
// only when the file it came from changed since (a table of the schema records which file).
std::string ServerSample(const std::string& server, std::int64_t lines) {
  const fs::path& file = SampleFile(lines, true);
  struct stat st {};
  stat(file.c_str(), &st);
  const std::string origin = file.string() + " " + std::to_string(st.st_size) + " " +
                             std::to_string(static_cast<long long>(st.st_mtime));
  const std::string owner = "tv_all_" + std::to_string(lines);
  auto conn = db::OdbcConnection::Open(server, owner);
  try {
    auto rs = conn->OpenResultset("SELECT origin FROM TV_BENCH_ORIGIN");
    if (!rs->Eof() && rs->Fields()[0].Value().AsText() == origin) return owner;
  } catch (const db::Error&) {
    // No copy yet, or one from before: copied below.
  }
  sample::CopyOptions copy;
  copy.schema = owner;
  copy.replace = true;
  sample::CopyAccountSetToServer(file, *conn, copy);
  // The stored source stays the sample owner's; the schema's owner reads it as its own.
  conn->ExecuteNative("UPDATE " + owner + ".ALL_SOURCE SET OWNER='" + db::UpperAscii(owner) + "'");
  conn->ExecuteNative("CREATE TABLE " + owner + ".TV_BENCH_ORIGIN (origin VARCHAR(4000))");
  conn->ExecuteNative("INSERT INTO " + owner + ".TV_BENCH_ORIGIN VALUES (" +
                      sample::SqlLiteral(db::Value(origin)) + ")");
  conn->Commit();
  return owner;
}

struct ServerRun {
  double seconds = 0;
  double statementSeconds = 0;
  long long received = -1;  // bytes, through the relay
};

// Items 1 to 6 over every date, merged where `place` says, through `server`: one after another, or
// `jobs` at once (each on connections of its own, as the command line runs them by default).
ServerRun ReconcileOnServer(const std::string& server, const std::string& owner, ComparePlace place,
                            DifferenceText& differences, int jobs = 1) {
  // Serially every statement goes through the run's first connection, which times them; items at
  // once take a connection of the driver's own (a common view needs one) and are not timed.
  std::shared_ptr<StatementClock> clock;
  HostContext ctx;
  if (jobs == 1) {
    clock = std::make_shared<StatementClock>(db::OdbcConnection::Open(server, owner));
    ctx.connection = clock;
  } else {
    ctx.connection = db::OdbcConnection::Open(server, owner);
  }
  ctx.user = owner;
  ctx.comparePlace = place;
  LoadAccountAndPeriods(ctx, LocalToday());
  QuietScreen screen;
  const fs::path folder = WorkFolder() / "server";
  fs::create_directories(folder);
  std::vector<ItemRunError> errors;
  db::OdbcConnectionSource source(server, owner);
  const auto start = std::chrono::steady_clock::now();
  RunItems(ctx, screen, ReportFile(folder), {true, true, true, true, true, true},
           {" ", "9999-12-31"}, {&differences}, {}, &errors,
           {jobs, &source, [](const std::string& why) { throw std::runtime_error(why); }});
  ServerRun run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.statementSeconds = clock ? clock->seconds.load() : 0;
  if (!errors.empty()) throw std::runtime_error(errors.front().message);
  return run;
}

void BM_ServerAgainstClientCompare(benchmark::State& state) {
  const char* server = std::getenv("TALLYVET_BENCH_PG_ODBC");
  if (server == nullptr) {
    state.SkipWithError("TALLYVET_BENCH_PG_ODBC is not set (start scripts/pg-server.sh)");
    for (auto _ : state) {
    }
    return;
  }
  const std::int64_t lines = state.range(0);
  const std::string owner = ServerSample(server, lines);
  const int loopbackPairs = 3;
  const int relayPairs = lines >= 1'000'000 ? 1 : 2;
  const int twoJobPairs = lines >= 1'000'000 ? 1 : 3;
  std::vector<double> loopbackRatio, relayRatio, client, onServer, clientRelay, serverRelay,
      statement, twoJobsRatio;
  long long clientBytes = 0, serverBytes = 0;
  long rows = 0;
  for (auto _ : state) {
    for (int pair = 0; pair < loopbackPairs + relayPairs + twoJobPairs; ++pair) {
      const bool relayed = pair >= loopbackPairs && pair < loopbackPairs + relayPairs;
      const int jobs = pair >= loopbackPairs + relayPairs ? 2 : 1;
      ServerRun runs[2];
      DifferenceText found[2];
      for (int side = 0; side < 2; ++side) {
        std::optional<LinkRelay> relay;
        if (relayed) relay.emplace(server);
        runs[side] = ReconcileOnServer(relayed ? relay->Through(server) : server, owner,
                                       side == 0 ? ComparePlace::kClient : ComparePlace::kServer,
                                       found[side], jobs);
        if (relay) runs[side].received = relay->Stop();
      }
      if (found[0].text != found[1].text || !found[1].merged.empty()) {
        state.SkipWithError(
            ("the server's comparison differs or fell back: " + found[1].merged).c_str());
        break;
      }
      rows = found[0].count;
      const double ratio = runs[1].seconds / runs[0].seconds;
      if (jobs == 2) {
        twoJobsRatio.push_back(ratio);
      } else if (relayed) {
        relayRatio.push_back(ratio);
        clientRelay.push_back(runs[0].seconds);
        serverRelay.push_back(runs[1].seconds);
        clientBytes = runs[0].received;
        serverBytes = runs[1].received;
      } else {
        loopbackRatio.push_back(ratio);
        client.push_back(runs[0].seconds);
        onServer.push_back(runs[1].seconds);
        statement.push_back(runs[1].statementSeconds);
      }
    }
  }
  state.counters["differences"] = static_cast<double>(rows);
  state.counters["loopback_ratio"] = Median(loopbackRatio);
  state.counters["loopback_client_s"] = Median(client);
  state.counters["loopback_server_s"] = Median(onServer);
  state.counters["server_statements_s"] = Median(statement);
  state.counters["loopback_jobs2_ratio"] = Median(twoJobsRatio);
  state.counters["relay_ratio"] = Median(relayRatio);
  state.counters["relay_client_s"] = Median(clientRelay);
  state.counters["relay_server_s"] = Median(serverRelay);
  state.counters["client_received_MB"] = static_cast<double>(clientBytes) / 1e6;
  state.counters["server_received_MB"] = static_cast<double>(serverBytes) / 1e6;
}

BENCHMARK(BM_JobsTwoAgainstOne)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(3);
BENCHMARK(BM_ExplainAgainstPlain)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(5);
BENCHMARK(BM_TraceOnAgainstOff)
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(7);
BENCHMARK(BM_TraceOffScopes)->Arg(100'000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_JobsPeakMemory)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_EngineReconcile)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_BareStatements)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_EnginePeakMemory)
    ->Arg(10'000)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_OdbcReconcile)->Arg(100'000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PostgresReconcile)->Arg(100'000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_ServerAgainstClientCompare)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);
BENCHMARK(BM_BarePeakMemory)
    ->Arg(100'000)
    ->Arg(1'000'000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  // The measuring runs: one reconcile (or its bare statements, written beside the sample by the
  // parent) in a fresh process.
  if (argc == 3 &&
      (std::strcmp(argv[1], "--reconcile-once") == 0 || std::strcmp(argv[1], "--bare-once") == 0)) {
    try {
      if (std::strcmp(argv[1], "--reconcile-once") == 0) {
        ReconcileOnce(argv[2]);
      } else {
        RunBare(argv[2], ReadStatements(argv[2]));
      }
      std::printf("%ld\n", PeakResidentKiB());
      return 0;
    } catch (const std::exception& e) {
      std::cerr << e.what() << "\n";
      return 1;
    }
  }
  if (argc == 3 && std::strncmp(argv[1], "--items-once=", 13) == 0) {
    try {
      ReconcileAllItems(argv[2], std::atoi(argv[1] + 13));
      std::printf("%ld\n", PeakResidentKiB());
      return 0;
    } catch (const std::exception& e) {
      std::cerr << e.what() << "\n";
      return 1;
    }
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
