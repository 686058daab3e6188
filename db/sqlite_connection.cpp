#include "db/sqlite_connection.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <optional>
#include <system_error>

#include "db/oracle_functions.h"
#include "db/sql_translate.h"
#include "db/text.h"

namespace tallyvet::db {

namespace {

struct StmtDeleter {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using StmtPtr = std::unique_ptr<sqlite3_stmt, StmtDeleter>;

// The database's message for a failed call, with the cause spelt out where the user can act on
// it: another program's lock (after waiting), a file that cannot be written, a full disk.
std::string FailureMessage(sqlite3* db, const std::filesystem::path& path,
                           std::chrono::milliseconds waited) {
  const std::string message = sqlite3_errmsg(db);
  switch (sqlite3_errcode(db) & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED: {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%g", static_cast<double>(waited.count()) / 1000);
      return "the account-set database " + path.string() +
             " is locked by another program (waited " + seconds + " s): " + message;
    }
    case SQLITE_READONLY:
      return "the account-set database " + path.string() +
             " cannot be written (read-only): " + message;
    case SQLITE_CANTOPEN:
    case SQLITE_IOERR:
      return "the account-set database " + path.string() + " cannot be read or written: " + message;
    case SQLITE_FULL:
      return "the disk holding " + path.string() + " is full: " + message;
    default:
      return message;
  }
}

class StatementRows final : public RowSource {
 public:
  StatementRows(sqlite3* db, StmtPtr stmt, std::string sql, std::filesystem::path path,
                std::chrono::milliseconds busyTimeout)
      : db_(db),
        stmt_(std::move(stmt)),
        sql_(std::move(sql)),
        path_(std::move(path)),
        busy_timeout_(busyTimeout) {
    const int n = sqlite3_column_count(stmt_.get());
    columns_.reserve(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
      const char* name = sqlite3_column_name(stmt_.get(), i);
      columns_.push_back(ColumnInfo{UpperAscii(name ? name : ""),
                                    AdoTypeOfDeclaration(sqlite3_column_decltype(stmt_.get(), i))});
    }
  }

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }

  bool Next(RowWriter& row) override {
    sqlite3_stmt* s = stmt_.get();
    const int rc = sqlite3_step(s);
    if (rc == SQLITE_DONE) return false;
    if (rc != SQLITE_ROW) throw Error(FailureMessage(db_, path_, busy_timeout_), sql_);
    const int n = static_cast<int>(columns_.size());
    for (int i = 0; i < n; ++i) {
      // One column lookup per value: the sqlite3_value accessors skip the per-call API checks.
      sqlite3_value* v = sqlite3_column_value(s, i);
      switch (sqlite3_value_type(v)) {
        case SQLITE_INTEGER:
          row.Integer(sqlite3_value_int64(v));
          break;
        case SQLITE_FLOAT:
          row.Double(sqlite3_value_double(v));
          break;
        case SQLITE_NULL:
          row.Null();
          break;
        default: {
          const auto* text = reinterpret_cast<const char*>(sqlite3_value_text(v));
          row.Text(
              std::string_view(text ? text : "", static_cast<std::size_t>(sqlite3_value_bytes(v))));
        }
      }
    }
    return true;
  }

 private:
  sqlite3* db_;
  StmtPtr stmt_;
  std::string sql_;
  std::filesystem::path path_;
  std::chrono::milliseconds busy_timeout_;
  std::vector<ColumnInfo> columns_;
};

// SQLite counts every allocation of the process under one global mutex unless told not to; with
// several connections reading on threads of their own (items side by side) that mutex, not the
// reading, would set the pace. Settable only before SQLite starts: the first open does it, and a
// SQLite already started by someone else (an ODBC driver) keeps its setting.
void ConfigureSqliteOnce() {
  static const bool configured = [] {
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    return true;
  }();
  (void)configured;
}

sqlite3* OpenHandle(const std::filesystem::path& path, int flags) {
  ConfigureSqliteOnce();
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = db ? sqlite3_errmsg(db) : sqlite3_errstr(rc);
    sqlite3_close(db);
    throw Error("cannot open account-set database " + path.string() + ": " + msg);
  }
  // Before the first read, which meets a writer's lock like any other.
  sqlite3_busy_timeout(db, 5000);
  return db;
}

void ExecOrThrow(sqlite3* db, const char* sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : sqlite3_errmsg(db);
    sqlite3_free(err);
    throw Error(msg, sql);
  }
}

// A deferred transaction takes its read lock, or its WAL snapshot, at its first read, not at
// BEGIN: the read is what fixes the state the connection sees.
void BeginRead(sqlite3* db) {
  ExecOrThrow(db, "BEGIN");
  ExecOrThrow(db, "SELECT count(*) FROM sqlite_master");
}

void EndTransaction(sqlite3* db) noexcept {
  if (sqlite3_get_autocommit(db) == 0) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool InWalMode(sqlite3* db) {
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, "PRAGMA journal_mode", -1, &raw, nullptr) != SQLITE_OK) {
    throw Error(sqlite3_errmsg(db), "PRAGMA journal_mode");
  }
  StmtPtr stmt(raw);
  if (sqlite3_step(stmt.get()) != SQLITE_ROW) return false;
  const auto* mode = reinterpret_cast<const char*>(sqlite3_column_text(stmt.get(), 0));
  return mode != nullptr && UpperAscii(mode) == "WAL";
}

// Binds a shape's literals to its parameters, in order: text as text, numbers as SQLite would
// read them written out.
void BindLiterals(sqlite3_stmt* stmt, const std::vector<sql::StatementShape::Literal>& literals) {
  int index = 0;
  for (const sql::StatementShape::Literal& literal : literals) {
    ++index;
    if (literal.text) {
      sqlite3_bind_text(stmt, index, literal.value.data(), static_cast<int>(literal.value.size()),
                        SQLITE_TRANSIENT);
      continue;
    }
    const char* first = literal.value.data();
    const char* last = first + literal.value.size();
    std::int64_t integer = 0;
    if (literal.value.find_first_of(".eE") == std::string::npos &&
        std::from_chars(first, last, integer).ec == std::errc()) {
      sqlite3_bind_int64(stmt, index, integer);
    } else {
      // Read as SQLite reads a literal too large for an integer, or one with a point.
      double real = 0;
      std::from_chars(first, last, real);
      sqlite3_bind_double(stmt, index, real);
    }
  }
}

}  // namespace

int AdoTypeOfDeclaration(const char* decl) {
  if (decl == nullptr) return 0;
  const std::string d = UpperAscii(decl);
  if (d.find("VARCHAR") != std::string::npos || d.find("TEXT") != std::string::npos ||
      d.find("CLOB") != std::string::npos) {
    return adVarChar;
  }
  if (d.find("CHAR") != std::string::npos) return adChar;
  if (d.find("INT") != std::string::npos) return adInteger;
  if (d.find("REAL") != std::string::npos || d.find("DOUB") != std::string::npos ||
      d.find("FLOA") != std::string::npos) {
    return adDouble;
  }
  if (d.find("NUM") != std::string::npos || d.find("DEC") != std::string::npos) return adNumeric;
  return 0;
}

std::unique_ptr<SqliteConnection> SqliteConnection::Open(const std::filesystem::path& path,
                                                         const std::string& owner,
                                                         OpenOptions options) {
  RequireOwnerName(owner);
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    throw Error("account-set database not found: " + path.string());
  }
  sqlite3* db = OpenHandle(path, options.read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE);
  // The first read already waits for a lock like every statement after it.
  sqlite3_busy_timeout(db, static_cast<int>(options.busy_timeout.count()));
  sqlite3_extended_result_codes(db, 1);
  // SQLite reads the header lazily: a file that is not a database fails on the first read.
  char* err = nullptr;
  if (sqlite3_exec(db, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, &err) != SQLITE_OK) {
    const int code = sqlite3_errcode(db) & 0xff;
    std::string msg = err ? err : "unreadable";
    sqlite3_free(err);
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED || code == SQLITE_IOERR ||
        code == SQLITE_CANTOPEN) {
      // A database all the same, only one that cannot be read now.
      msg = FailureMessage(db, path, options.busy_timeout);
      sqlite3_close(db);
      throw Error(msg);
    }
    sqlite3_close(db);
    throw Error(path.string() + " is not an account-set database: " + msg);
  }
  return std::unique_ptr<SqliteConnection>(new SqliteConnection(db, path, owner, options));
}

std::unique_ptr<SqliteConnection> SqliteConnection::Create(const std::filesystem::path& path,
                                                           const std::string& owner) {
  RequireOwnerName(owner);
  std::error_code ec;
  if (std::filesystem::exists(path, ec)) {
    throw Error("refusing to overwrite existing file " + path.string());
  }
  sqlite3* db = OpenHandle(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
  return std::unique_ptr<SqliteConnection>(new SqliteConnection(db, path, owner, OpenOptions{}));
}

SqliteConnection::SqliteConnection(sqlite3* db, std::filesystem::path path, std::string owner,
                                   OpenOptions options)
    : db_(db), path_(std::move(path)), owner_(std::move(owner)), options_(options) {
  sqlite3_busy_timeout(db_, static_cast<int>(options_.busy_timeout.count()));
  sqlite3_extended_result_codes(db_, 1);
  RegisterOracleFunctions(db_);
}

struct SqliteConnection::Shaped {
  std::string shape;
  StmtPtr stmt;
};

SqliteConnection::~SqliteConnection() {
  shaped_.clear();  // the statements go before their connection
  sqlite3_close_v2(db_);
}

std::string SqliteConnection::Translate(const std::string& sql) const {
  return sql::TranslateOracle(sql, owner_);
}

std::unique_ptr<RowSource> SqliteConnection::OpenRowSource(const std::string& sql) {
  const std::string text = Translate(sql);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db_, text.c_str(), static_cast<int>(text.size()), &raw, nullptr) !=
      SQLITE_OK) {
    throw Error(FailureMessage(db_, path_, options_.busy_timeout), sql);
  }
  if (raw == nullptr) throw Error("empty statement", sql);
  return std::make_unique<StatementRows>(db_, StmtPtr(raw), sql, path_, options_.busy_timeout);
}

std::unique_ptr<Recordset> SqliteConnection::OpenResultset(const std::string& sql, int, int) {
  return std::make_unique<Recordset>(OpenRowSource(sql), options_.spill_threshold, sql);
}

std::string SqliteConnection::SentForm(const std::string& sql, SentAs as) const {
  if (as == SentAs::kStatement && sql::IsTableLock(sql)) return {};
  return Translate(sql);
}

void SqliteConnection::Execute(const std::string& sql) {
  // A table lock the host's SQL takes on a server: the file's write lock, taken when the
  // transaction began, already keeps every other writer out.
  if (sql::IsTableLock(sql)) {
    rows_affected_ = 0;
    return;
  }
  const std::string text = Translate(sql);
  if (const std::optional<sql::StatementShape> shaped = sql::LiteralsAsParameters(text)) {
    if (sqlite3_stmt* stmt = ShapedStatement(shaped->shape)) {
      BindLiterals(stmt, shaped->literals);
      try {
        Run(stmt, sql);
      } catch (...) {
        sqlite3_reset(stmt);
        throw;
      }
      sqlite3_reset(stmt);
      return;
    }
  }
  sqlite3_stmt* raw = nullptr;
  const char* tail = nullptr;
  if (sqlite3_prepare_v2(db_, text.c_str(), static_cast<int>(text.size()), &raw, &tail) !=
      SQLITE_OK) {
    throw Error(FailureMessage(db_, path_, options_.busy_timeout), sql);
  }
  StmtPtr stmt(raw);
  if (!stmt) throw Error("empty statement", sql);
  Run(stmt.get(), sql);
}

sqlite3_stmt* SqliteConnection::ShapedStatement(const std::string& shape) {
  constexpr std::size_t kKept = 16;
  auto found = std::find_if(shaped_.begin(), shaped_.end(),
                            [&](const auto& s) { return s->shape == shape; });
  if (found != shaped_.end()) {
    std::rotate(shaped_.begin(), found, found + 1);
  } else {
    sqlite3_stmt* raw = nullptr;
    // A shape SQLite will not take (a literal where no parameter may stand) is prepared as
    // written by the caller instead, and fails or runs there with the statement's own message.
    if (sqlite3_prepare_v2(db_, shape.c_str(), static_cast<int>(shape.size()), &raw, nullptr) !=
            SQLITE_OK ||
        raw == nullptr) {
      sqlite3_finalize(raw);
      return nullptr;
    }
    if (shaped_.size() >= kKept) shaped_.pop_back();
    shaped_.insert(shaped_.begin(), std::make_unique<Shaped>(Shaped{shape, StmtPtr(raw)}));
  }
  sqlite3_stmt* stmt = shaped_.front()->stmt.get();
  sqlite3_reset(stmt);
  return stmt;
}

void SqliteConnection::Run(sqlite3_stmt* stmt, const std::string& sql) {
  const auto before = sqlite3_total_changes64(db_);
  int rc;
  while ((rc = sqlite3_step(stmt)) == SQLITE_ROW) {
  }
  if (rc != SQLITE_DONE) throw Error(FailureMessage(db_, path_, options_.busy_timeout), sql);
  rows_affected_ = sqlite3_total_changes64(db_) - before;
}

void SqliteConnection::ExecuteScript(const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : sqlite3_errmsg(db_);
    sqlite3_free(err);
    throw Error(msg, sql.size() > 200 ? sql.substr(0, 200) + "..." : sql);
  }
}

void SqliteConnection::BeginTransaction() {
  if (InTransaction()) throw Error("a transaction is already open", "BEGIN IMMEDIATE");
  Execute("BEGIN IMMEDIATE");
}

void SqliteConnection::CommitTransaction() {
  if (!InTransaction()) throw Error("no transaction is open (the database ended it)", "COMMIT");
  Execute("COMMIT");
}

void SqliteConnection::RollbackTransaction() {
  if (!InTransaction()) return;  // the database already rolled back on its own
  Execute("ROLLBACK");
}

bool SqliteConnection::InTransaction() const {
  return sqlite3_get_autocommit(db_) == 0;
}

void SqliteConnection::BeginReadView() {
  if (InTransaction()) return;
  ExecOrThrow(db_, "BEGIN");
  read_view_ = true;
}

void SqliteConnection::EndReadView() noexcept {
  if (!read_view_) return;
  read_view_ = false;
  EndTransaction(db_);
}

SqliteConnectionSource::SqliteConnectionSource(std::filesystem::path path, std::string owner,
                                               OpenOptions options)
    : path_(std::move(path)), owner_(std::move(owner)), options_(options) {}

std::unique_ptr<Connection> SqliteConnectionSource::Open() {
  return SqliteConnection::Open(path_, owner_, options_);
}

bool SqliteConnectionSource::BeginCommonView(const std::vector<Connection*>& readers) {
  std::vector<sqlite3*> handles;
  for (Connection* reader : readers) {
    const auto* sqlite = dynamic_cast<const SqliteConnection*>(&Backend(*reader));
    if (sqlite == nullptr) throw Error("a common read view needs embedded connections");
    handles.push_back(sqlite->handle());
  }
  const auto coordinator = SqliteConnection::Open(path_, owner_, options_);
  sqlite3* c = coordinator->handle();
  // A read-only connection accepts BEGIN IMMEDIATE without taking the write lock.
  if (sqlite3_db_readonly(c, "main") != 0 ||
      sqlite3_exec(c, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK) {
    EndTransaction(c);
    if (InWalMode(c)) return false;
    BeginRead(c);
  }
  std::size_t begun = 0;
  try {
    for (; begun < handles.size(); ++begun) BeginRead(handles[begun]);
  } catch (...) {
    // The reader that failed may be inside its BEGIN already.
    for (std::size_t i = 0; i <= begun && i < handles.size(); ++i) EndTransaction(handles[i]);
    EndTransaction(c);
    throw;
  }
  EndTransaction(c);
  return true;
}

void SqliteConnectionSource::EndView(Connection& reader) noexcept {
  if (auto* sqlite = dynamic_cast<SqliteConnection*>(&Backend(reader)))
    EndTransaction(sqlite->handle());
}

}  // namespace tallyvet::db
