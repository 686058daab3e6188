// Starts the host stand-in that writes (tallyvet_host_writer) in the background of a test, and
// reads what it did.
//
// The writer posts, voids and re-dates documents and re-registers the ledgers of items 1 to 3
// for the dates it touched, one transaction a round, until its limit. A HostWriter object owns
// the process: its destructor kills a writer still running (a test that failed, or returned,
// before waiting for it) and reaps it, so no test leaves a writer behind. A killed writer leaves
// no transaction behind: the database rolls back what it had not committed.
//
// A test program that includes this header depends on the writer being built:
// add_dependencies(<test> tallyvet_host_writer).
//
//   testing::HostWriter writer({.db = file, .user = "demo", .seed = 3, .seconds = 2},
//                              scratch.path());
//   ... run the repair under test meanwhile ...
//   ASSERT_EQ(writer.Wait(std::chrono::seconds(30)), 0) << writer.Errors();
//   const testing::HostWriterSummary summary = writer.Summary();
//   // summary.dates: every date whose ledger rows the writer re-registered, with the time of
//   // the last commit that did so.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/file_text.h"

extern char** environ;

namespace tallyvet::testing {

struct HostWriterOptions {
  std::filesystem::path db;  // --db: the account set's file, or
  std::string odbc;          // --odbc: a connection string
  std::string user;          // --user: the account-set owner
  std::uint64_t seed = 1;
  double seconds = 0;       // stop after this long; 0: no time limit
  std::int64_t rounds = 0;  // stop after this many commits; 0: no such limit (one limit needed)
  int pauseMs = 20;         // between rounds (0 keeps other programs off an embedded file)
  int holdMs = 0;           // each round's transaction kept open this long before its commit
  double busyTimeout = 10;  // seconds a round waits for another program's lock
  std::string datesFrom;    // the dates a round may touch (empty: the account set's periods)
  std::string datesTo;
  std::filesystem::path program =
#ifdef TALLYVET_HOST_WRITER
      TALLYVET_HOST_WRITER;
#else
      "tallyvet_host_writer";
#endif
};

// One committed operation.
struct WriterOperation {
  std::int64_t round = 0;
  std::vector<std::int64_t> documents;  // the new documents (post) or those changed
  std::vector<std::string> dates;       // the dates it re-registered, old and new
  std::chrono::system_clock::time_point committedAt;
  std::vector<std::int64_t> copiedFrom;  // post: the document each new one copies
};

struct WriterRollback {
  std::int64_t round = 0;
  std::string operation;
  std::string message;
};

struct HostWriterSummary {
  std::int64_t rounds = 0;   // rounds begun
  std::int64_t commits = 0;  // rounds committed
  std::vector<WriterRollback> rolledBack;
  // "post", "void", "redate", each in commit order.
  std::map<std::string, std::vector<WriterOperation>> operations;
  // Every date whose ledger rows of items 1 to 3 the writer re-registered, with its last commit.
  std::map<std::string, std::chrono::system_clock::time_point> dates;
  // The longest a round waited for its transaction and the account set's write lock.
  double longestLockWaitMs = 0;
  std::string stopped;  // "limit", "asked" (Stop), "failing" (gave up) or "error" (no start)
  nlohmann::json json;  // the whole summary as the writer wrote it
};

inline std::chrono::system_clock::time_point FromEpochMilliseconds(std::int64_t ms) {
  return std::chrono::system_clock::time_point(std::chrono::milliseconds(ms));
}

// The summary file the writer wrote. Throws std::runtime_error when it is missing or not JSON.
inline HostWriterSummary ReadHostWriterSummary(const std::filesystem::path& file) {
  HostWriterSummary s;
  try {
    s.json = nlohmann::json::parse(FileText(file));
    s.rounds = s.json.at("rounds");
    s.commits = s.json.at("commits");
    s.longestLockWaitMs = s.json.at("longest_lock_wait_ms");
    s.stopped = s.json.at("stopped");
    for (const auto& r : s.json.at("rolled_back")) {
      s.rolledBack.push_back({r.at("round"), r.at("operation"), r.at("message")});
    }
    for (const auto& [kind, list] : s.json.at("operations").items()) {
      std::vector<WriterOperation>& ops = s.operations[kind];
      for (const auto& op : list) {
        ops.push_back({op.at("round"), op.at("documents"), op.at("dates"),
                       FromEpochMilliseconds(op.at("committed_at_ms")),
                       op.value("copied_from", std::vector<std::int64_t>{})});
      }
    }
    for (const auto& [date, last] : s.json.at("dates").items()) {
      s.dates[date] = FromEpochMilliseconds(last.at("committed_at_ms"));
    }
  } catch (const nlohmann::json::exception& e) {
    throw std::runtime_error("the host writer's summary " + file.string() + ": " + e.what());
  }
  return s;
}

class HostWriter {
 public:
  // Starts the writer. Its standard output, standard error and summary go to files in `scratch`
  // named after `tag`, so that writers at the same time keep theirs apart.
  // Throws std::runtime_error when the program cannot be started.
  HostWriter(const HostWriterOptions& o, const std::filesystem::path& scratch,
             const std::string& tag = "writer")
      : out_(scratch / (tag + ".out")),
        err_(scratch / (tag + ".err")),
        summary_(scratch / (tag + ".json")) {
    std::vector<std::string> args = {o.program.string()};
    if (!o.db.empty()) args.insert(args.end(), {"--db", o.db.string()});
    if (!o.odbc.empty()) args.insert(args.end(), {"--odbc", o.odbc});
    args.insert(args.end(),
                {"--user", o.user, "--seed", std::to_string(o.seed), "--pause-ms",
                 std::to_string(o.pauseMs), "--hold-ms", std::to_string(o.holdMs), "--busy-timeout",
                 std::to_string(o.busyTimeout), "--summary", summary_.string()});
    if (o.seconds > 0) args.insert(args.end(), {"--seconds", std::to_string(o.seconds)});
    if (o.rounds > 0) args.insert(args.end(), {"--rounds", std::to_string(o.rounds)});
    if (!o.datesFrom.empty()) args.insert(args.end(), {"--dates-from", o.datesFrom});
    if (!o.datesTo.empty()) args.insert(args.end(), {"--dates-to", o.datesTo});
    std::filesystem::remove(summary_);

    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&files, STDOUT_FILENO, out_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&files, STDERR_FILENO, err_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int rc = posix_spawnp(&pid_, argv[0], &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (rc != 0) {
      pid_ = -1;
      throw std::runtime_error("cannot start " + args[0] + ": " + std::strerror(rc));
    }
  }

  ~HostWriter() { Kill(); }
  HostWriter(const HostWriter&) = delete;
  HostWriter& operator=(const HostWriter&) = delete;

  // Waits for the writer to end by itself, at most `timeout`, and kills it after that. Returns
  // its exit status; -1 when it did not exit by itself (killed, or past the timeout).
  int Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (Running()) {
      if (std::chrono::steady_clock::now() >= deadline) {
        Kill();
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_;
  }

  // Asks the writer to stop after the round it is in (SIGTERM; a hold or pause ends early) and
  // waits for it as Wait does. Its summary then says "stopped": "asked".
  int Stop(std::chrono::milliseconds timeout) {
    if (pid_ > 0) kill(pid_, SIGTERM);
    return Wait(timeout);
  }

  // Kills a writer still running, as a crash would (SIGKILL: no handler runs), and reaps it.
  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    Reap(0);
  }

  // True while the writer runs; reaps it once it has ended.
  bool Running() {
    if (pid_ <= 0) return false;
    return !Reap(WNOHANG);
  }

  // Waits until the writer's standard output holds `text` (each round says "round N KIND: in
  // transaction" before it commits). False when the writer ends or `timeout` passes first.
  bool WaitForOutput(std::string_view text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      if (Output().find(text) != std::string::npos) return true;
      if (!Running()) return Output().find(text) != std::string::npos;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  std::string Output() const { return FileText(out_); }
  std::string Errors() const { return FileText(err_); }
  const std::filesystem::path& SummaryPath() const { return summary_; }
  // Requires the writer to have ended (Wait). Throws as ReadHostWriterSummary.
  HostWriterSummary Summary() const { return ReadHostWriterSummary(summary_); }

 private:
  // True once the process is reaped.
  bool Reap(int flags) {
    int status = 0;
    pid_t r;
    do {
      r = waitpid(pid_, &status, flags);
    } while (r < 0 && errno == EINTR);
    if (r == 0) return false;
    status_ = r == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
    return true;
  }

  std::filesystem::path out_, err_, summary_;
  pid_t pid_ = -1;
  int status_ = -1;
};

}  // namespace tallyvet::testing
