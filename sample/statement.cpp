#include "sample/statement.h"

#include <sqlite3.h>

#include "db/error.h"

namespace tallyvet::sample {

namespace {

[[noreturn]] void Fail(sqlite3* db, const std::string& sql) {
  throw db::Error(sqlite3_errmsg(db), sql);
}

struct Finalizer {
  sqlite3_stmt* stmt;
  ~Finalizer() { sqlite3_finalize(stmt); }
};

sqlite3_stmt* Prepare(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &stmt, nullptr) !=
      SQLITE_OK) {
    sqlite3_finalize(stmt);
    Fail(db, sql);
  }
  if (stmt == nullptr) throw db::Error("empty statement", sql);
  return stmt;
}

db::Value ColumnValue(sqlite3_stmt* stmt, int i) {
  switch (sqlite3_column_type(stmt, i)) {
    case SQLITE_INTEGER:
      return db::Value(static_cast<std::int64_t>(sqlite3_column_int64(stmt, i)));
    case SQLITE_FLOAT:
      return db::Value(sqlite3_column_double(stmt, i));
    case SQLITE_NULL:
      return db::Value();
    default: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt, i));
      return db::Value(
          std::string(text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt, i))));
    }
  }
}

}  // namespace

Statement::Statement(sqlite3* db, std::string sql) : db_(db), sql_(std::move(sql)) {
  stmt_ = Prepare(db_, sql_);
}

Statement::~Statement() {
  sqlite3_finalize(stmt_);
}

Statement& Statement::Bind(int index, std::int64_t value) {
  if (sqlite3_bind_int64(stmt_, index, value) != SQLITE_OK) Fail(db_, sql_);
  return *this;
}

Statement& Statement::Bind(int index, double value) {
  if (sqlite3_bind_double(stmt_, index, value) != SQLITE_OK) Fail(db_, sql_);
  return *this;
}

Statement& Statement::Bind(int index, std::string_view value) {
  if (sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()),
                        SQLITE_TRANSIENT) != SQLITE_OK) {
    Fail(db_, sql_);
  }
  return *this;
}

Statement& Statement::BindNull(int index) {
  if (sqlite3_bind_null(stmt_, index) != SQLITE_OK) Fail(db_, sql_);
  return *this;
}

void Statement::Run() {
  const int rc = sqlite3_step(stmt_);
  sqlite3_reset(stmt_);
  if (rc != SQLITE_DONE && rc != SQLITE_ROW) Fail(db_, sql_);
}

void Exec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string message = err ? err : sqlite3_errmsg(db);
    sqlite3_free(err);
    throw db::Error(message, sql);
  }
}

std::vector<Row> Query(sqlite3* db, const std::string& sql) {
  Finalizer stmt{Prepare(db, sql)};
  std::vector<Row> rows;
  const int n = sqlite3_column_count(stmt.stmt);
  int rc;
  while ((rc = sqlite3_step(stmt.stmt)) == SQLITE_ROW) {
    Row row;
    row.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) row.push_back(ColumnValue(stmt.stmt, i));
    rows.push_back(std::move(row));
  }
  if (rc != SQLITE_DONE) Fail(db, sql);
  return rows;
}

db::Value QueryValue(sqlite3* db, const std::string& sql) {
  auto rows = Query(db, sql);
  if (rows.empty() || rows.front().empty()) throw db::Error("query returned no row", sql);
  return rows.front().front();
}

std::vector<std::string> QueryColumns(sqlite3* db, const std::string& sql) {
  Finalizer stmt{Prepare(db, sql)};
  std::vector<std::string> names;
  const int n = sqlite3_column_count(stmt.stmt);
  for (int i = 0; i < n; ++i) {
    const char* name = sqlite3_column_name(stmt.stmt, i);
    names.emplace_back(name ? name : "");
  }
  return names;
}

}  // namespace tallyvet::sample
