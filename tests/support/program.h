// Runs the tallyvet program as a user would, from a shell, and keeps what it said.
#pragma once

#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "support/file_text.h"

namespace tallyvet::testing {

struct ProgramResult {
  int status;  // the exit status, -1 when the program did not exit by itself
  std::string out, err;
};

inline std::string Quoted(const std::filesystem::path& arg) {
  return "'" + arg.string() + "'";
}

// Runs `program args` with no input; its output goes through files in `scratch`, named after
// `tag` so that runs at the same time keep theirs apart. `env`: variable assignments put in
// front, e.g. "ODBCINI=/tmp/odbc.ini".
inline ProgramResult RunProgram(const std::string& program, const std::string& args,
                                const std::filesystem::path& scratch,
                                const std::string& tag = "run", const std::string& env = "") {
  const std::filesystem::path out = scratch / (tag + ".out"), err = scratch / (tag + ".err");
  const int status = std::system(
      (env + " " + program + " " + args + " >" + Quoted(out) + " 2>" + Quoted(err) + " </dev/null")
          .c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, FileText(out), FileText(err)};
}

// The program started with its standard input on a pipe, as a user at a terminal who answers its
// question later: the test waits for the question, does what another program would meanwhile,
// then answers. The destructor closes the pipe (the end of input, "no") and reaps the program.
class InteractiveRun {
 public:
  InteractiveRun(const std::string& program, const std::string& args,
                 const std::filesystem::path& scratch, const std::string& tag = "asked")
      : out_(scratch / (tag + ".out")), err_(scratch / (tag + ".err")) {
    // What an earlier run left under the same names must not read as this run's question.
    std::filesystem::remove(out_);
    std::filesystem::remove(err_);
    pipe_ = popen((program + " " + args + " >" + Quoted(out_) + " 2>" + Quoted(err_)).c_str(), "w");
  }
  ~InteractiveRun() { Finish(); }
  InteractiveRun(const InteractiveRun&) = delete;
  InteractiveRun& operator=(const InteractiveRun&) = delete;

  // Waits until standard error holds `text` (the question); false when the program ended or
  // `timeout` passed first.
  bool WaitFor(const std::string& text, std::chrono::seconds timeout = std::chrono::seconds(60)) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < until) {
      if (FileText(err_).find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  // Answers with one line, ends the input, and waits for the program to end.
  ProgramResult Answer(const std::string& line) {
    if (pipe_ != nullptr) {
      std::fputs((line + "\n").c_str(), pipe_);
      std::fflush(pipe_);
    }
    return Finish();
  }
  ProgramResult Finish() {
    if (pipe_ != nullptr) {
      const int status = pclose(pipe_);
      pipe_ = nullptr;
      result_ = {WIFEXITED(status) ? WEXITSTATUS(status) : -1, FileText(out_), FileText(err_)};
    }
    return result_;
  }

 private:
  std::filesystem::path out_, err_;
  FILE* pipe_ = nullptr;
  ProgramResult result_{-1, {}, {}};
};

}  // namespace tallyvet::testing
