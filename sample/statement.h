// Direct SQLite access for building an account set: prepared statements for bulk inserts and
// small typed queries for reading back figures. The SQL here is the builder's own (SQLite
// dialect, no translation); the host's Oracle SQL goes through db::SqliteConnection instead.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/value.h"

struct sqlite3;
struct sqlite3_stmt;

namespace tallyvet::sample {

// One prepared statement, finalized on destruction. Bind positions count from 1.
// Every failing call throws db::Error with SQLite's message and the statement text.
class Statement {
 public:
  Statement(sqlite3* db, std::string sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int index, std::int64_t value);
  Statement& Bind(int index, int value) { return Bind(index, static_cast<std::int64_t>(value)); }
  Statement& Bind(int index, double value);
  Statement& Bind(int index, std::string_view value);
  Statement& Bind(int index, const char* value) { return Bind(index, std::string_view(value)); }
  Statement& Bind(int index, const std::string& value) {
    return Bind(index, std::string_view(value));
  }
  Statement& BindNull(int index);

  // Runs a statement that returns no rows, then resets it for the next set of bindings.
  void Run();

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
  std::string sql_;
};

using Row = std::vector<db::Value>;

// Runs one or more statements that return no rows.
void Exec(sqlite3* db, const std::string& sql);
// All rows of a query, values typed as SQLite stored them.
std::vector<Row> Query(sqlite3* db, const std::string& sql);
// The first column of the first row; throws db::Error when the query returns no row.
db::Value QueryValue(sqlite3* db, const std::string& sql);
// Column names of a query's result, as SQLite reports them.
std::vector<std::string> QueryColumns(sqlite3* db, const std::string& sql);

}  // namespace tallyvet::sample
