#include "db/odbc_connection.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <system_error>
#include <utility>
#include <vector>

#include "db/sql_translate.h"
#include "db/text.h"

namespace tallyvet::db {

// The handles of one connection. Statements and open recordsets hold it too, so it is
// disconnected only after the last statement on it has been freed.
struct OdbcConnection::Link {
  SQLHENV env = SQL_NULL_HENV;
  SQLHDBC dbc = SQL_NULL_HDBC;
  bool connected = false;
  std::string lost;  // the failure that showed the link gone; empty while it is up

  Link() = default;
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;
  ~Link() {
    if (connected) {
      // A transaction left open is not the host's intent to keep: it goes, and the driver
      // would refuse to disconnect with it open.
      SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
      SQLDisconnect(dbc);
    }
    if (dbc != SQL_NULL_HDBC) SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    if (env != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, env);
  }
};

namespace {

using Link = OdbcConnection::Link;

struct Diagnosis {
  std::string state;
  std::string message;
};

// Every diagnostic record of a handle on one line: the first error's SQLSTATE (a warning's only
// when there is nothing else) and all messages joined by "; ".
Diagnosis Diagnose(SQLSMALLINT type, SQLHANDLE handle) {
  Diagnosis d;
  bool have_error = false;
  for (SQLSMALLINT i = 1;; ++i) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR text[2048] = {};
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(SQLGetDiagRec(type, handle, i, state, &native, text, sizeof text, &length)))
      break;
    const std::string s(reinterpret_cast<const char*>(state));
    if (!have_error && (d.state.empty() || s.rfind("01", 0) != 0)) {
      d.state = s;
      have_error = s.rfind("01", 0) != 0;
    }
    std::string m(reinterpret_cast<const char*>(text));
    std::replace_if(
        m.begin(), m.end(), [](char c) { return c == '\n' || c == '\r' || c == '\t'; }, ' ');
    while (!m.empty() && m.back() == ' ') m.pop_back();
    if (!d.message.empty()) d.message += "; ";
    d.message += m;
  }
  if (d.state.empty()) d.state = "HY000";
  if (d.message.empty()) d.message = "the driver reported a failure without saying why";
  return d;
}

[[noreturn]] void Fail(SQLSMALLINT type, SQLHANDLE handle, Link* link, std::string statement) {
  Diagnosis d = Diagnose(type, handle);
  // A wait for another session's lock that ran out reads as such: the server's own words
  // ("canceling statement due to lock timeout") do not say that nothing was changed for it.
  if (ClassifySqlState(d.state, false) == OdbcFailure::kLocked) {
    d.message = "the account set is locked by another session: " + d.message;
  }
  OdbcError error(std::move(d.state), d.message, std::move(statement));
  if (link != nullptr && ClassifySqlState(error.sqlstate(), false) == OdbcFailure::kLinkLost &&
      link->lost.empty()) {
    link->lost = error.message();
  }
  throw error;
}

// A statement handle on a link, freed with it.
class Statement {
 public:
  Statement(std::shared_ptr<Link> link, std::chrono::seconds timeout, const std::string& sql)
      : link_(std::move(link)) {
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, link_->dbc, &handle_))) {
      handle_ = SQL_NULL_HSTMT;
      db::Fail(SQL_HANDLE_DBC, link_->dbc, link_.get(), sql);
    }
    if (timeout.count() <= 0) return;
    const SQLRETURN rc =
        SQLSetStmtAttr(handle_, SQL_ATTR_QUERY_TIMEOUT,
                       reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(timeout.count())), 0);
    // A driver without a query timeout says so with HYC00; the statement then simply waits.
    if (!SQL_SUCCEEDED(rc) && Diagnose(SQL_HANDLE_STMT, handle_).state != "HYC00") {
      const Diagnosis d = Diagnose(SQL_HANDLE_STMT, handle_);
      SQLFreeHandle(SQL_HANDLE_STMT, handle_);  // no destructor runs for a throwing constructor
      throw OdbcError(d.state, d.message, sql);
    }
  }
  ~Statement() { SQLFreeHandle(SQL_HANDLE_STMT, handle_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  SQLHSTMT get() const { return handle_; }
  [[noreturn]] void Fail(const std::string& sql) const {
    db::Fail(SQL_HANDLE_STMT, handle_, link_.get(), sql);
  }
  void Check(SQLRETURN rc, const std::string& sql) const {
    if (!SQL_SUCCEEDED(rc)) Fail(sql);
  }
  // Runs `text` (the translated `sql`); false when it touched no row (SQL_NO_DATA).
  bool ExecDirect(const std::string& text, const std::string& sql) const {
    auto* p = reinterpret_cast<SQLCHAR*>(const_cast<char*>(text.data()));
    const SQLRETURN rc = SQLExecDirect(handle_, p, static_cast<SQLINTEGER>(text.size()));
    if (rc == SQL_NO_DATA) return false;
    Check(rc, sql);
    return true;
  }

 private:
  std::shared_ptr<Link> link_;  // first: it outlives the handle
  SQLHSTMT handle_ = SQL_NULL_HSTMT;
};

int AdoTypeOf(SQLSMALLINT sql_type) {
  switch (sql_type) {
    case SQL_CHAR:
    case SQL_WCHAR:
      return adChar;
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_TINYINT:
    case SQL_BIGINT:
    case SQL_BIT:
      return adInteger;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE:
      return adDouble;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
      return adNumeric;
    default:  // character data of any length, dates and anything else, read as text
      return adVarChar;
  }
}

// How a column's values travel from the driver into the row store.
enum class Binding {
  kInteger,     // SQL_C_SBIGINT
  kDouble,      // SQL_C_DOUBLE
  kText,        // SQL_C_CHAR, kept as text
  kNumberText,  // SQL_C_CHAR, read back as an integer or a double, else kept as text
};

// SQLite types each value on its own, whatever the column says, and the SQLite driver holds every
// value as text: a column it reports as integer (judging by the first row) may hold 12.5 further
// down, which an integer binding would cut to 12. Its numbers are therefore read from their text,
// as the embedded database reads them.
Binding BindingOf(OdbcDialect dialect, SQLSMALLINT sql_type, SQLULEN size, SQLSMALLINT digits) {
  const int ado = AdoTypeOf(sql_type);
  if (ado != adInteger && ado != adDouble && ado != adNumeric) return Binding::kText;
  if (dialect == OdbcDialect::kSqlite) return Binding::kNumberText;
  if (ado == adInteger) return Binding::kInteger;
  if (ado == adNumeric && digits == 0 && size > 0 && size <= 18) return Binding::kInteger;
  return Binding::kDouble;
}

// Drivers copy a text into its bound buffer padded to the buffer's full width (the SQLite driver
// with strncpy), so buffers are kept to what their texts need. A column whose size the driver
// states as a real limit gets that many bytes, up to kMaxText; any other gets kShortText (or
// kNumberText for SQLite's numbers), and a longer value is then read whole with SQLGetData.
constexpr SQLULEN kMaxText = 64 * 1024;
constexpr SQLLEN kShortText = 512;
constexpr SQLLEN kNumberText = 40;
// Bound buffers of one block, at most; rows per block follow from a row's width.
constexpr std::size_t kBlockBytes = 4u << 20;
constexpr SQLULEN kMinBlockRows = 16;
constexpr SQLULEN kMaxBlockRows = 1024;

struct BoundColumn {
  Binding binding = Binding::kText;
  SQLLEN width = 0;     // bytes per row
  bool bounded = true;  // no value can be longer than the width
  std::unique_ptr<char[]> data;
  std::unique_ptr<SQLLEN[]> length;
};

void WriteNumberText(RowWriter& row, std::string_view v) {
  const char* end = v.data() + v.size();
  std::int64_t i = 0;
  if (auto [p, ec] = std::from_chars(v.data(), end, i); ec == std::errc() && p == end) {
    row.Integer(i);
    return;
  }
  double d = 0;
  if (auto [p, ec] = std::from_chars(v.data(), end, d); ec == std::errc() && p == end) {
    row.Double(d);
    return;
  }
  row.Text(v);
}

// The rows of an executed statement, fetched a block at a time into bound buffers.
class OdbcRows final : public RowSource {
 public:
  // `getdata_bound`: the driver reads a bound column again with SQLGetData (SQL_GD_BOUND).
  // `long_names`: labels the translation gave columns whose names the database cannot hold,
  // with those names, which the columns are reported by.
  OdbcRows(std::unique_ptr<Statement> stmt, OdbcDialect dialect, bool getdata_bound,
           std::string sql, const sql::LongNames& long_names = {})
      : stmt_(std::move(stmt)), sql_(std::move(sql)) {
    SQLHSTMT h = stmt_->get();
    SQLSMALLINT count = 0;
    stmt_->Check(SQLNumResultCols(h, &count), sql_);
    if (count == 0) {  // not a query: no rows to fetch
      done_ = true;
      return;
    }
    std::size_t row_width = 0;
    bool all_bounded = true;
    for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(count); ++c) {
      SQLSMALLINT sql_type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      stmt_->Check(SQLDescribeCol(h, c, nullptr, 0, nullptr, &sql_type, &size, &digits, &nullable),
                   sql_);
      std::string name = UpperAscii(Label(c));
      for (const auto& [label, whole] : long_names) {
        if (name == label) name = whole;
      }
      columns_.push_back(ColumnInfo{std::move(name), AdoTypeOfColumn(c, sql_type, dialect)});
      BoundColumn b;
      b.binding = BindingOf(dialect, sql_type, size, digits);
      if (b.binding == Binding::kInteger || b.binding == Binding::kDouble) {
        b.width = 8;
      } else if (dialect != OdbcDialect::kSqlite && size > 0 && size <= kMaxText / 4) {
        // A character column's size counts characters; UTF-8 takes up to four bytes for one.
        b.width = static_cast<SQLLEN>(size) * 4 + 1;
      } else {
        // SQLite holds no column to its declared size, and some types have none.
        b.bounded = false;
        b.width = (b.binding == Binding::kNumberText ? kNumberText : kShortText) + 1;
        if (!getdata_bound) b.width = static_cast<SQLLEN>(kMaxText) + 1;
      }
      all_bounded = all_bounded && b.bounded;
      row_width += static_cast<std::size_t>(b.width) + sizeof(SQLLEN);
      bound_.push_back(std::move(b));
    }
    // SQLGetData reads a row of a block only after positioning on it, which drivers do not all
    // do right: a statement with a value that may not fit is fetched a row at a time.
    read_long_ = !all_bounded && getdata_bound;
    block_rows_ =
        read_long_ ? 1 : std::clamp<SQLULEN>(kBlockBytes / row_width, kMinBlockRows, kMaxBlockRows);
    Attribute(SQL_ATTR_ROW_BIND_TYPE, SQL_BIND_BY_COLUMN);
    Attribute(SQL_ATTR_ROW_ARRAY_SIZE, block_rows_);
    status_ = std::make_unique<SQLUSMALLINT[]>(block_rows_);
    stmt_->Check(SQLSetStmtAttr(h, SQL_ATTR_ROW_STATUS_PTR, status_.get(), 0), sql_);
    stmt_->Check(SQLSetStmtAttr(h, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_, 0), sql_);
    for (std::size_t i = 0; i < bound_.size(); ++i) {
      BoundColumn& b = bound_[i];
      b.data =
          std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(b.width) * block_rows_);
      b.length = std::make_unique_for_overwrite<SQLLEN[]>(block_rows_);
      const SQLSMALLINT c_type = b.binding == Binding::kInteger  ? SQL_C_SBIGINT
                                 : b.binding == Binding::kDouble ? SQL_C_DOUBLE
                                                                 : SQL_C_CHAR;
      stmt_->Check(SQLBindCol(h, static_cast<SQLUSMALLINT>(i + 1), c_type, b.data.get(), b.width,
                              b.length.get()),
                   sql_);
    }
  }

  const std::vector<ColumnInfo>& Columns() const override { return columns_; }

  bool Next(RowWriter& row) override {
    if (next_ == fetched_ && !FetchBlock()) return false;
    const SQLULEN r = next_++;
    if (status_[r] == SQL_ROW_ERROR) stmt_->Fail(sql_);
    for (std::size_t i = 0; i < bound_.size(); ++i) {
      const BoundColumn& b = bound_[i];
      const SQLLEN n = b.length[r];
      const char* p = b.data.get() + static_cast<std::size_t>(b.width) * r;
      if (n == SQL_NULL_DATA) {
        row.Null();
        continue;
      }
      switch (b.binding) {
        case Binding::kInteger:
          row.Integer(row_format::Get<std::int64_t>(p));
          break;
        case Binding::kDouble:
          row.Double(row_format::Get<double>(p));
          break;
        case Binding::kText:
        case Binding::kNumberText: {
          std::string whole;
          std::string_view v(p, static_cast<std::size_t>(n));
          if (n == SQL_NO_TOTAL || n >= b.width) {
            if (!read_long_) TooLong(i);
            whole = ReadWhole(i, n);
            v = whole;
          }
          if (b.binding == Binding::kText) {
            row.Text(v);
          } else {
            WriteNumberText(row, v);
          }
        }
      }
    }
    return true;
  }

 private:
  // The column's name as the statement gives it (its alias, else its text). The SQLite driver
  // reports only this as the embedded database does: as a name it gives "lngItemID,0)" for
  // NVL(Item.lngItemID,0).
  std::string Label(SQLUSMALLINT column) const {
    std::vector<char> label(256);
    for (;;) {
      SQLSMALLINT length = 0;
      stmt_->Check(SQLColAttribute(stmt_->get(), column, SQL_DESC_LABEL, label.data(),
                                   static_cast<SQLSMALLINT>(label.size()), &length, nullptr),
                   sql_);
      if (static_cast<std::size_t>(length) < label.size()) {
        return std::string(label.data(), static_cast<std::size_t>(length));
      }
      label.resize(static_cast<std::size_t>(length) + 1);
    }
  }

  // The SQLite driver maps declared types its own way (CHAR(10) to SQL_VARCHAR, NUMERIC to
  // SQL_DOUBLE), and judges an expression, which has none, by its first row (without one, as
  // text); the host sees them as the embedded database reports them: an expression untyped (0),
  // for the recordset to take its type from its own first row.
  int AdoTypeOfColumn(SQLUSMALLINT column, SQLSMALLINT sql_type, OdbcDialect dialect) const {
    if (dialect == OdbcDialect::kSqlite) {
      SQLCHAR table[256] = {};
      SQLSMALLINT length = 0;
      stmt_->Check(SQLColAttribute(stmt_->get(), column, SQL_DESC_BASE_TABLE_NAME, table,
                                   sizeof table, &length, nullptr),
                   sql_);
      if (table[0] == '\0') return 0;
      SQLCHAR declared[128] = {};
      stmt_->Check(SQLColAttribute(stmt_->get(), column, SQL_DESC_TYPE_NAME, declared,
                                   sizeof declared, &length, nullptr),
                   sql_);
      if (const int ado = AdoTypeOfDeclaration(reinterpret_cast<const char*>(declared)); ado != 0)
        return ado;
    }
    return AdoTypeOf(sql_type);
  }

  void Attribute(SQLINTEGER attribute, SQLULEN value) {
    stmt_->Check(SQLSetStmtAttr(stmt_->get(), attribute, reinterpret_cast<SQLPOINTER>(value), 0),
                 sql_);
  }

  bool FetchBlock() {
    if (done_) return false;
    next_ = fetched_ = 0;
    const SQLRETURN rc = SQLFetch(stmt_->get());
    if (rc == SQL_NO_DATA) {
      done_ = true;
      return false;
    }
    stmt_->Check(rc, sql_);
    return fetched_ > 0;
  }

  // The whole value of a column of the current row, `length` bytes long (or SQL_NO_TOTAL),
  // read again from its start.
  std::string ReadWhole(std::size_t column, SQLLEN length) const {
    std::string value;
    std::vector<char> chunk(length == SQL_NO_TOTAL ? static_cast<std::size_t>(kMaxText)
                                                   : static_cast<std::size_t>(length) + 1);
    for (;;) {
      SQLLEN got = 0;
      const SQLRETURN rc =
          SQLGetData(stmt_->get(), static_cast<SQLUSMALLINT>(column + 1), SQL_C_CHAR, chunk.data(),
                     static_cast<SQLLEN>(chunk.size()), &got);
      if (rc == SQL_NO_DATA) break;
      stmt_->Check(rc, sql_);
      if (got == SQL_NULL_DATA) break;
      const bool partial = got == SQL_NO_TOTAL || got >= static_cast<SQLLEN>(chunk.size());
      value.append(chunk.data(), partial ? chunk.size() - 1 : static_cast<std::size_t>(got));
      if (!partial) break;
    }
    return value;
  }

  [[noreturn]] void TooLong(std::size_t column) const {
    throw Error("a text in column " + columns_[column].name + " is longer than " +
                    std::to_string(bound_[column].width - 1) + " bytes, more than a fetch holds",
                sql_);
  }

  std::unique_ptr<Statement> stmt_;
  std::string sql_;
  std::vector<ColumnInfo> columns_;
  std::vector<BoundColumn> bound_;
  SQLULEN block_rows_ = 1;
  bool read_long_ = false;  // a row at a time; values longer than their buffer read whole
  std::unique_ptr<SQLUSMALLINT[]> status_;
  SQLULEN fetched_ = 0;
  SQLULEN next_ = 0;
  bool done_ = false;
};

}  // namespace

OdbcDialect DialectOf(std::string_view dbms_name) {
  if (EqualsIgnoringAsciiCase(dbms_name, "Oracle")) return OdbcDialect::kOracle;
  if (EqualsIgnoringAsciiCase(dbms_name, "SQLite")) return OdbcDialect::kSqlite;
  if (EqualsIgnoringAsciiCase(dbms_name, "PostgreSQL")) return OdbcDialect::kPostgres;
  throw Error("the data source is a " + std::string(dbms_name) +
              " database, which tallyvet does not speak (it speaks Oracle, SQLite and "
              "PostgreSQL)");
}

OdbcFailure ClassifySqlState(std::string_view sqlstate, bool connecting) {
  if (sqlstate == "IM002") return OdbcFailure::kUnknownDataSource;
  if (sqlstate == "IM003" || (connecting && sqlstate == "01000"))
    return OdbcFailure::kMissingDriver;
  if (sqlstate.substr(0, 2) == "28") return OdbcFailure::kLoginRefused;
  if (sqlstate.substr(0, 2) == "08") {
    return connecting ? OdbcFailure::kConnectFailed : OdbcFailure::kLinkLost;
  }
  // PostgreSQL's operator intervention: the session was terminated, or the server shuts down.
  if (sqlstate == "57P01" || sqlstate == "57P02" || sqlstate == "57P03") {
    return connecting ? OdbcFailure::kConnectFailed : OdbcFailure::kLinkLost;
  }
  // PostgreSQL's lock_not_available (lock_timeout ran out); a driver's own query timeout.
  if (sqlstate == "55P03" || sqlstate == "HYT00") return OdbcFailure::kLocked;
  if (sqlstate == "42S02" || sqlstate == "42P01") return OdbcFailure::kNoSuchTable;
  return OdbcFailure::kOther;
}

OdbcError::OdbcError(std::string sqlstate, const std::string& message, std::string statement)
    : Error(message + " (SQLSTATE " + sqlstate + ")", std::move(statement)),
      sqlstate_(std::move(sqlstate)) {}

OdbcConnection::OdbcConnection(std::string connection_string, std::string owner,
                               OpenOptions options)
    : connection_string_(std::move(connection_string)),
      owner_(std::move(owner)),
      options_(options) {}

OdbcConnection::~OdbcConnection() = default;

std::unique_ptr<OdbcConnection> OdbcConnection::Open(const std::string& connection_string,
                                                     const std::string& owner,
                                                     OpenOptions options) {
  RequireOwnerName(owner);
  std::unique_ptr<OdbcConnection> conn(new OdbcConnection(connection_string, owner, options));
  conn->Connect();
  return conn;
}

namespace {

// An environment and a connection handle, not yet connected.
std::shared_ptr<Link> NewLink() {
  auto link = std::make_shared<Link>();
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &link->env))) {
    link->env = SQL_NULL_HENV;
    throw Error("the ODBC driver manager cannot allocate an environment");
  }
  if (!SQL_SUCCEEDED(SQLSetEnvAttr(link->env, SQL_ATTR_ODBC_VERSION,
                                   reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0))) {
    Fail(SQL_HANDLE_ENV, link->env, nullptr, {});
  }
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, link->env, &link->dbc))) {
    link->dbc = SQL_NULL_HDBC;
    Fail(SQL_HANDLE_ENV, link->env, nullptr, {});
  }
  return link;
}

}  // namespace

void OdbcConnection::Connect() {
  std::shared_ptr<Link> link = NewLink();
  // The statement of a failed connect is left empty: the string may hold a password.
  auto* text = reinterpret_cast<SQLCHAR*>(const_cast<char*>(connection_string_.c_str()));
  if (!SQL_SUCCEEDED(SQLDriverConnect(link->dbc, nullptr, text, SQL_NTS, nullptr, 0, nullptr,
                                      SQL_DRIVER_NOPROMPT))) {
    Fail(SQL_HANDLE_DBC, link->dbc, nullptr, {});
  }
  link->connected = true;
  in_transaction_ = false;  // a new link starts in autocommit
  autocommit_ = true;
  read_view_ = false;
  if (options_.read_only) {
    // A hint: drivers that cannot keep a connection read-only answer HYC00 and that is all.
    const SQLRETURN rc = SQLSetConnectAttr(link->dbc, SQL_ATTR_ACCESS_MODE,
                                           reinterpret_cast<SQLPOINTER>(SQL_MODE_READ_ONLY), 0);
    if (!SQL_SUCCEEDED(rc) && Diagnose(SQL_HANDLE_DBC, link->dbc).state != "HYC00")
      Fail(SQL_HANDLE_DBC, link->dbc, link.get(), {});
  }
  SQLCHAR name[256] = {};
  SQLSMALLINT length = 0;
  if (!SQL_SUCCEEDED(SQLGetInfo(link->dbc, SQL_DBMS_NAME, name, sizeof name, &length))) {
    Fail(SQL_HANDLE_DBC, link->dbc, link.get(), {});
  }
  const std::string dbms(reinterpret_cast<const char*>(name));
  SQLUINTEGER getdata = 0;
  if (!SQL_SUCCEEDED(
          SQLGetInfo(link->dbc, SQL_GETDATA_EXTENSIONS, &getdata, sizeof getdata, nullptr))) {
    Fail(SQL_HANDLE_DBC, link->dbc, link.get(), {});
  }
  const OdbcDialect dialect = DialectOf(dbms);

  // A failed Reopen leaves the connection as it was.
  std::shared_ptr<Link> previous = std::exchange(link_, std::move(link));
  const OdbcDialect previous_dialect = std::exchange(dialect_, dialect);
  std::string previous_name = std::exchange(dbms_name_, dbms);
  const bool previous_getdata = std::exchange(getdata_bound_, (getdata & SQL_GD_BOUND) != 0);
  try {
    PrepareSession();
  } catch (...) {
    link_ = std::move(previous);
    dialect_ = previous_dialect;
    dbms_name_ = std::move(previous_name);
    getdata_bound_ = previous_getdata;
    throw;
  }
}

// What the dialect needs of the data source, checked once here: without it nearly every
// statement of the host would fail, each with a message of its own.
void OdbcConnection::PrepareSession() {
  switch (dialect_) {
    case OdbcDialect::kOracle:
      return;
    case OdbcDialect::kSqlite:
      try {
        OpenResultset("SELECT NVL(NULL, 1), DECODE(1, 1, 2), LPAD('a', 2), RPAD('a', 2)")->Close();
      } catch (const OdbcError& e) {
        throw Error(
            "the SQLite data source has no Oracle functions: add LoadExt=<the tallyvet folder>/"
            "libtallyvet_oracle.so to its connection string or DSN (" +
            e.message() + ")");
      }
      return;
    case OdbcDialect::kPostgres:
      // The host names its tables unqualified, so the owner's schema comes first in the search
      // path; orafce keeps its Oracle functions in the schema "oracle" (and some in public).
      if (!IsPlainIdentifier(owner_)) {
        throw Error("the owner '" + owner_ + "' cannot name a PostgreSQL schema");
      }
      Execute("SET search_path TO " + owner_ + ", public, oracle");
      // The busy timeout, as the embedded database keeps it: how long a statement waits for
      // another session's lock before it gives up (0: without limit, as the server's default).
      Execute("SET lock_timeout = " + std::to_string(options_.busy_timeout.count()));
      try {
        OpenResultset("SELECT LPAD(1, 2, '0'), INSTR('ab', 'b')")->Close();
      } catch (const OdbcError& e) {
        throw Error(
            "the PostgreSQL database has no orafce extension (LPAD and INSTR as Oracle has "
            "them): CREATE EXTENSION orafce (" +
            e.message() + ")");
      }
      return;
  }
}

std::string OdbcConnection::Translate(const std::string& sql) const {
  switch (dialect_) {
    case OdbcDialect::kOracle:
      return sql;
    case OdbcDialect::kSqlite:
      return sql::Translate(sql::Dialect::kSqlite, sql, owner_);
    case OdbcDialect::kPostgres:
      return sql::Translate(sql::Dialect::kPostgres, sql, owner_);
  }
  return sql;
}

std::string OdbcConnection::SentForm(const std::string& sql, SentAs as) const {
  if (as == SentAs::kQuery && dialect_ == OdbcDialect::kPostgres) {
    sql::LongNames long_names;
    return sql::TranslateForPostgres(sql, &long_names);
  }
  if (as == SentAs::kStatement && dialect_ == OdbcDialect::kOracle && sql::IsSavepointRelease(sql))
    return {};
  if (as == SentAs::kStatement && dialect_ == OdbcDialect::kSqlite && sql::IsTableLock(sql))
    return {};
  return Translate(sql);
}

std::unique_ptr<Recordset> OdbcConnection::OpenResultset(const std::string& sql, int, int) {
  auto stmt = std::make_unique<Statement>(link_, query_timeout_, sql);
  sql::LongNames long_names;
  stmt->ExecDirect(dialect_ == OdbcDialect::kPostgres ? sql::TranslateForPostgres(sql, &long_names)
                                                      : Translate(sql),
                   sql);
  auto rows =
      std::make_unique<OdbcRows>(std::move(stmt), dialect_, getdata_bound_, sql, long_names);
  return std::make_unique<Recordset>(std::move(rows), options_.spill_threshold, sql);
}

void OdbcConnection::Execute(const std::string& sql) {
  // Re-registration releases its savepoint once the ledger is rebuilt; Oracle knows no RELEASE
  // and would fail the finished rebuild for it (its savepoints end with the transaction).
  if (dialect_ == OdbcDialect::kOracle && sql::IsSavepointRelease(sql)) {
    rows_affected_ = 0;
    return;
  }
  // SQLite locks the whole file when the transaction first writes; it has no table locks.
  if (dialect_ == OdbcDialect::kSqlite && sql::IsTableLock(sql)) {
    rows_affected_ = 0;
    return;
  }
  const Statement stmt(link_, query_timeout_, sql);
  if (!stmt.ExecDirect(Translate(sql), sql)) {
    rows_affected_ = 0;
    return;
  }
  SQLLEN rows = 0;
  stmt.Check(SQLRowCount(stmt.get(), &rows), sql);
  rows_affected_ = rows < 0 ? 0 : rows;
}

void OdbcConnection::ExecuteNative(const std::string& sql) {
  const Statement stmt(link_, query_timeout_, sql);
  stmt.ExecDirect(sql, sql);
  rows_affected_ = 0;
}

void OdbcConnection::SetAutocommit(bool on) {
  const SQLULEN value = on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF;
  if (!SQL_SUCCEEDED(SQLSetConnectAttr(link_->dbc, SQL_ATTR_AUTOCOMMIT,
                                       reinterpret_cast<SQLPOINTER>(value), SQL_IS_UINTEGER))) {
    Fail(SQL_HANDLE_DBC, link_->dbc, link_.get(), on ? "autocommit on" : "autocommit off");
  }
  autocommit_ = on;
}

void OdbcConnection::BeginReadView() {
  if (!autocommit_) return;
  SetAutocommit(false);
  read_view_ = true;
  // Said as the transaction's first statement rather than set on the connection: a setting
  // changed there reaches the server with the next transaction's first statement, and the
  // PostgreSQL driver then takes a savepoint of its own before the caller's first one, which a
  // failed statement's rollback takes away with it.
  try {
    if (dialect_ == OdbcDialect::kPostgres) {
      ExecuteNative("SET TRANSACTION ISOLATION LEVEL REPEATABLE READ READ ONLY");
    } else if (dialect_ == OdbcDialect::kOracle) {
      ExecuteNative("SET TRANSACTION READ ONLY");
    }
  } catch (...) {
    EndReadView();
    throw;
  }
}

void OdbcConnection::EndReadView() noexcept {
  if (!read_view_) return;
  read_view_ = false;
  try {
    Rollback();
    SetAutocommit(true);
  } catch (const Error&) {
    // A link that is gone took the read with it; the next statement says so.
  }
}

void OdbcConnection::SetRepeatableRead(bool on) {
  const SQLULEN value = on ? SQL_TXN_REPEATABLE_READ : SQL_TXN_READ_COMMITTED;
  if (!SQL_SUCCEEDED(SQLSetConnectAttr(link_->dbc, SQL_ATTR_TXN_ISOLATION,
                                       reinterpret_cast<SQLPOINTER>(value), SQL_IS_UINTEGER))) {
    Fail(SQL_HANDLE_DBC, link_->dbc, link_.get(),
         on ? "isolation repeatable read" : "isolation read committed");
  }
}

void OdbcConnection::Commit() {
  if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, link_->dbc, SQL_COMMIT)))
    Fail(SQL_HANDLE_DBC, link_->dbc, link_.get(), "COMMIT");
}

void OdbcConnection::Rollback() {
  if (!SQL_SUCCEEDED(SQLEndTran(SQL_HANDLE_DBC, link_->dbc, SQL_ROLLBACK)))
    Fail(SQL_HANDLE_DBC, link_->dbc, link_.get(), "ROLLBACK");
}

void OdbcConnection::BeginTransaction() {
  if (in_transaction_) throw Error("a transaction is already open", "BEGIN");
  SetAutocommit(false);
  in_transaction_ = true;
  // The PostgreSQL driver opens the server's transaction with the first statement it sends, and
  // takes that statement to be the first of it: when that is a caller's SAVEPOINT, a failed
  // statement after it is rolled back with the whole transaction, savepoint and all (seen after
  // an earlier transaction of the connection). A plain first statement keeps savepoints whole.
  if (dialect_ == OdbcDialect::kPostgres) {
    try {
      ExecuteNative("SELECT 1");
    } catch (...) {
      in_transaction_ = false;
      SetAutocommit(true);
      throw;
    }
  }
}

void OdbcConnection::CommitTransaction() {
  if (!in_transaction_) throw Error("no transaction is open", "COMMIT");
  // Whatever the commit does, the transaction is over: a failed commit rolls back.
  in_transaction_ = false;
  try {
    Commit();
  } catch (const Error&) {
    try {
      Rollback();
      SetAutocommit(true);
    } catch (const Error&) {
      // The commit's failure is the one to report; a link gone took the transaction with it.
    }
    throw;
  }
  SetAutocommit(true);
}

void OdbcConnection::RollbackTransaction() {
  if (!in_transaction_) return;
  in_transaction_ = false;
  Rollback();
  SetAutocommit(true);
}

bool OdbcConnection::LinkLost() const {
  return !link_->lost.empty();
}

const std::string& OdbcConnection::LinkLostError() const {
  return link_->lost;
}

void OdbcConnection::Close() {
  // The link itself goes when the last recordset on it does (the SQLite driver refuses to
  // disconnect under an unfinished statement); this connection no longer reaches it.
  link_ = NewLink();
}

void OdbcConnection::Reopen() {
  Connect();
}

OdbcConnectionSource::OdbcConnectionSource(std::string connection_string, std::string owner,
                                           OpenOptions options)
    : connection_string_(std::move(connection_string)),
      owner_(std::move(owner)),
      options_(options) {}

std::unique_ptr<Connection> OdbcConnectionSource::Open() {
  return OdbcConnection::Open(connection_string_, owner_, options_);
}

bool OdbcConnectionSource::BeginCommonView(const std::vector<Connection*>& readers) {
  std::vector<OdbcConnection*> odbc;
  for (Connection* reader : readers) {
    auto* r = dynamic_cast<OdbcConnection*>(&Backend(*reader));
    if (r == nullptr) throw Error("a common read view needs ODBC connections");
    if (r->dialect() != OdbcDialect::kPostgres) return false;
    odbc.push_back(r);
  }
  // The exporting transaction must stay open until every reader has taken its snapshot. The
  // isolation is set on the connection, so that the export and the import are each the first
  // statement of their transaction: the driver may wrap every later one in a savepoint of its
  // own, and a snapshot is neither exported from nor imported into one.
  const auto exporter = OdbcConnection::Open(connection_string_, owner_, options_);
  exporter->SetRepeatableRead(true);
  exporter->SetAutocommit(false);
  std::size_t begun = 0;
  try {
    std::string snapshot;
    {
      auto rs = exporter->OpenResultset("SELECT pg_export_snapshot()");
      snapshot = rs->Fields()[0].Value().Text();
    }
    for (; begun < odbc.size(); ++begun) {
      odbc[begun]->SetRepeatableRead(true);
      odbc[begun]->SetAutocommit(false);
      odbc[begun]->ExecuteNative("SET TRANSACTION SNAPSHOT '" + snapshot + "'");
    }
    exporter->Rollback();
  } catch (...) {
    // The reader that failed may be inside its transaction already.
    for (std::size_t i = 0; i <= begun && i < odbc.size(); ++i) EndView(*odbc[i]);
    throw;
  }
  return true;
}

void OdbcConnectionSource::EndView(Connection& reader) noexcept {
  auto* odbc = dynamic_cast<OdbcConnection*>(&Backend(reader));
  if (odbc == nullptr) return;
  try {
    odbc->Rollback();
    odbc->SetAutocommit(true);
    odbc->SetRepeatableRead(false);
  } catch (const Error&) {
    // A reader whose link is gone has no transaction left to end.
  }
}

}  // namespace tallyvet::db
