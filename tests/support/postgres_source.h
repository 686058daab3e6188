// The throwaway PostgreSQL server the test command starts (scripts/pg-server.sh), reached through
// ODBC: its connection string comes in TALLYVET_TEST_PG_ODBC. Tests on it skip, saying why, when
// the variable is not set (a run outside scripts/test.sh).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

#include "db/odbc_connection.h"
#include "sample/copy.h"

namespace tallyvet::testing {

inline const char* PostgresOdbcString() {
  return std::getenv("TALLYVET_TEST_PG_ODBC");
}

// Puts the account set of `file` into the schema `owner` (replacing it), as one transaction.
inline void LoadIntoPostgres(const std::filesystem::path& file, const std::string& owner) {
  auto conn = db::OdbcConnection::Open(PostgresOdbcString(), owner);
  sample::CopyOptions copy;
  copy.schema = owner;
  copy.replace = true;
  sample::CopyAccountSetToServer(file, *conn, copy);
}

// Runs a script of the program's own (a journal's undo script: one statement a line, comments
// after --) statement by statement, translated as the host's SQL is.
inline void RunScript(db::Connection& conn, const std::string& script) {
  std::size_t start = 0;
  while (start < script.size()) {
    std::size_t end = script.find('\n', start);
    if (end == std::string::npos) end = script.size();
    std::string line = script.substr(start, end - start);
    start = end + 1;
    if (line.empty() || line.rfind("--", 0) == 0) continue;
    if (line.back() == ';') line.pop_back();
    conn.Execute(line);
  }
}

}  // namespace tallyvet::testing
