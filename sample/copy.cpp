#include "sample/copy.h"

#include <sqlite3.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "db/error.h"
#include "db/text.h"
#include "sample/statement.h"

namespace tallyvet::sample {

namespace {

struct Closer {
  void operator()(sqlite3* db) const { sqlite3_close(db); }
};
struct Finalizer {
  void operator()(sqlite3_stmt* stmt) const { sqlite3_finalize(stmt); }
};

struct Column {
  std::string name, type, defaultValue;
  bool notNull = false;
  int primaryKey = 0;  // position in the primary key, 0 when not part of it
};

std::vector<Column> Columns(sqlite3* db, const std::string& table) {
  std::vector<Column> columns;
  for (const Row& row : Query(db, "PRAGMA table_info(" + table + ")")) {
    Column c;
    c.name = row[1].Text();
    c.type = row[2].IsNull() ? "" : row[2].Text();
    c.notNull = row[3].AsInteger() != 0;
    c.defaultValue = row[4].IsNull() ? "" : row[4].Text();
    c.primaryKey = static_cast<int>(row[5].AsInteger());
    columns.push_back(std::move(c));
  }
  return columns;
}

std::string CreateTable(const std::string& qualified, const std::vector<Column>& columns) {
  std::string sql = "CREATE TABLE " + qualified + " (";
  std::vector<std::string> key;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const Column& c = columns[i];
    sql += (i ? ", " : "") + c.name + " " + ServerColumnType(c.type);
    if (!c.defaultValue.empty()) sql += " DEFAULT " + c.defaultValue;
    if (c.notNull) sql += " NOT NULL";
    if (c.primaryKey > 0) {
      key.resize(std::max(key.size(), static_cast<std::size_t>(c.primaryKey)));
      key[static_cast<std::size_t>(c.primaryKey - 1)] = c.name;
    }
  }
  if (!key.empty()) {
    sql += ", PRIMARY KEY (";
    for (std::size_t i = 0; i < key.size(); ++i) sql += (i ? "," : "") + key[i];
    sql += ")";
  }
  return sql + ")";
}

// Streams the table's rows into INSERT statements of `batch` rows each; returns the row count.
std::int64_t CopyRows(sqlite3* db, const std::string& table, const std::string& qualified,
                      const std::vector<Column>& columns, const ExecuteStatement& execute,
                      std::size_t batch) {
  std::string list;
  for (std::size_t i = 0; i < columns.size(); ++i) list += (i ? "," : "") + columns[i].name;
  const std::string select = "SELECT " + list + " FROM " + table;
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, select.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    sqlite3_finalize(raw);
    throw db::Error(sqlite3_errmsg(db), select);
  }
  const std::unique_ptr<sqlite3_stmt, Finalizer> stmt(raw);
  const std::string head = "INSERT INTO " + qualified + " (" + list + ") VALUES ";
  std::string sql = head;
  std::size_t pending = 0;
  std::int64_t rows = 0;
  const int count = static_cast<int>(columns.size());
  for (;;) {
    const int rc = sqlite3_step(stmt.get());
    if (rc == SQLITE_DONE) break;
    if (rc != SQLITE_ROW) throw db::Error(sqlite3_errmsg(db), select);
    sql += pending ? ",(" : "(";
    for (int i = 0; i < count; ++i) {
      if (i) sql += ',';
      switch (sqlite3_column_type(stmt.get(), i)) {
        case SQLITE_NULL:
          sql += "NULL";
          break;
        case SQLITE_INTEGER:
          sql += std::to_string(sqlite3_column_int64(stmt.get(), i));
          break;
        case SQLITE_FLOAT:
          sql += SqlLiteral(db::Value(sqlite3_column_double(stmt.get(), i)));
          break;
        default: {
          const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), i));
          sql += SqlLiteral(db::Value(std::string_view(
              text ? text : "", static_cast<std::size_t>(sqlite3_column_bytes(stmt.get(), i)))));
        }
      }
    }
    sql += ')';
    ++rows;
    if (++pending == batch) {
      execute(sql);
      sql = head;
      pending = 0;
    }
  }
  if (pending) execute(sql);
  return rows;
}

}  // namespace

std::string ServerColumnType(const std::string& embeddedType) {
  const std::string t = db::UpperAscii(embeddedType);
  if (t == "INTEGER") return "BIGINT";
  if (t == "REAL") return "DOUBLE PRECISION";
  return "VARCHAR(4000)";
}

std::string SqlLiteral(const db::Value& value) {
  if (value.IsNull()) return "NULL";
  if (value.IsInteger()) return std::to_string(value.AsInteger());
  if (!value.IsText()) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value.AsDouble());
    return text;
  }
  std::string quoted = "'";
  for (const char c : value.Text()) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  return quoted + "'";
}

void CopyAccountSet(const std::filesystem::path& source, const ExecuteStatement& execute,
                    const CopyOptions& options) {
  if (!db::IsPlainIdentifier(options.schema)) {
    throw std::runtime_error("the owner '" + options.schema +
                             "' cannot name a schema: letters, digits and _ only");
  }
  sqlite3* raw = nullptr;
  if (sqlite3_open_v2(source.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    const std::string message = raw ? sqlite3_errmsg(raw) : "out of memory";
    sqlite3_close(raw);
    throw db::Error(message + ": " + source.string());
  }
  const std::unique_ptr<sqlite3, Closer> db(raw);

  const std::string& schema = options.schema;
  if (options.replace) execute("DROP SCHEMA IF EXISTS " + schema + " CASCADE");
  execute("CREATE SCHEMA " + schema);
  // Tables in the order they were created, which is the order of the schema file.
  const std::vector<Row> tables = Query(
      db.get(),
      "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE 'sqlite%' ORDER BY "
      "rowid");
  for (const Row& table : tables) {
    const std::string name = table[0].Text();
    const std::string qualified = schema + "." + name;
    const std::vector<Column> columns = Columns(db.get(), name);
    execute(CreateTable(qualified, columns));
    const std::int64_t rows =
        CopyRows(db.get(), name, qualified, columns, execute, options.rowsPerStatement);
    if (options.copied) options.copied(name, rows);
  }
  // Indexes after the rows: one sort per index instead of one update per row.
  for (const Row& index :
       Query(db.get(),
             "SELECT name, tbl_name, sql FROM sqlite_master WHERE type='index' AND "
             "sql IS NOT NULL ORDER BY rowid")) {
    const std::string sql = index[2].Text();
    const std::size_t columns = sql.find('(');
    if (columns == std::string::npos) continue;
    execute("CREATE INDEX " + index[0].Text() + " ON " + schema + "." + index[1].Text() + " " +
            sql.substr(columns));
  }
  // The planner's figures, as the embedded file has them after its build.
  for (const Row& table : tables) execute("ANALYZE " + schema + "." + table[0].Text());
}

void CopyAccountSetToServer(const std::filesystem::path& source, db::OdbcConnection& server,
                            const CopyOptions& options) {
  // Each statement through the trace when there is one, as it is sent: the copy's SQL is the
  // server's own.
  const auto run = [&](std::string_view sql, std::string_view transaction,
                       const std::function<void()>& call) {
    if (options.trace == nullptr) return call();
    db::TraceOwnStatement(*options.trace, options.traceConnection, sql, call, transaction);
  };
  run("BEGIN", "begin", [&] { server.SetAutocommit(false); });
  try {
    CopyAccountSet(
        source, [&](const std::string& sql) { run(sql, {}, [&] { server.ExecuteNative(sql); }); },
        options);
    run("COMMIT", "commit", [&] { server.Commit(); });
  } catch (...) {
    try {
      run("ROLLBACK", "rollback", [&] { server.Rollback(); });
    } catch (const db::Error&) {
      // The link is gone; the server has rolled the transaction back itself.
    }
    throw;
  }
}

}  // namespace tallyvet::sample
