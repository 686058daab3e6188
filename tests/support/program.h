// Runs the tallyvet program as a user would, from a shell, and keeps what it said.
#pragma once

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

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

}  // namespace tallyvet::testing
