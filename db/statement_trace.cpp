#include "db/statement_trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "db/sqlite_connection.h"
#include "db/text.h"

#include <sqlite3.h>

namespace tallyvet::db {

namespace {

using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// What a statement carries from its start to its line.
struct Started {
  std::string ts = TraceTimestamp();
  Clock::time_point at = Clock::now();
  Purpose purpose = StatementScope::CurrentPurpose();
  int item = StatementScope::CurrentItem();
};

// Writes the line of one statement; `rows` or `rows_affected` -1 when it has none. Never throws.
void WriteStatement(StatementTrace& trace, int connection, const Started& started,
                    std::string_view host_sql, std::string_view sent_sql, Clock::duration spent,
                    std::int64_t rows, std::int64_t rows_affected, std::string_view error,
                    std::string_view transaction = {}) noexcept {
  try {
    TraceLine line;
    line.ts = started.ts;
    line.connection = connection;
    line.item = started.item;
    line.purpose = started.purpose;
    line.host_sql = host_sql;
    line.sent_sql = sent_sql;
    line.sent_differs = sent_sql != host_sql;
    line.ms = Milliseconds(spent);
    line.rows = rows;
    line.rows_affected = rows_affected;
    line.error = error;
    line.transaction = transaction;
    trace.WriteLine(TraceLineJson(trace, line));
  } catch (...) {
    // Out of memory for a line: the trace misses it, the run goes on.
  }
}

// The rows of a traced query: counted, their fetches timed, the line written at their end.
class TracedRows final : public RowSource {
 public:
  TracedRows(std::unique_ptr<RowSource> inner, std::shared_ptr<StatementTrace> trace,
             int connection, Started started, std::string host_sql, std::string sent_sql,
             Clock::duration spent, std::int64_t rows)
      : inner_(std::move(inner)),
        trace_(std::move(trace)),
        connection_(connection),
        started_(std::move(started)),
        host_sql_(std::move(host_sql)),
        sent_sql_(std::move(sent_sql)),
        spent_(spent),
        rows_(rows) {}
  ~TracedRows() override {
    // Closed or dropped before its end: the line says how far it was read.
    if (!written_) Write({});
  }

  const std::vector<ColumnInfo>& Columns() const override { return inner_->Columns(); }

  bool Next(RowWriter& row) override {
    const Clock::time_point at = Clock::now();
    bool got = false;
    try {
      got = inner_->Next(row);
    } catch (const Error& e) {
      spent_ += Clock::now() - at;
      Write(e.message());
      throw;
    }
    spent_ += Clock::now() - at;
    if (got) {
      ++rows_;
    } else if (!written_) {
      Write({});
    }
    return got;
  }

 private:
  void Write(std::string_view error) noexcept {
    written_ = true;
    WriteStatement(*trace_, connection_, started_, host_sql_, sent_sql_, spent_, rows_, -1, error);
  }

  std::unique_ptr<RowSource> inner_;
  std::shared_ptr<StatementTrace> trace_;
  int connection_;
  Started started_;
  std::string host_sql_;
  std::string sent_sql_;
  Clock::duration spent_;
  std::int64_t rows_;
  bool written_ = false;
};

// Value of a connection-string attribute that ends at `at` (braced values may hold ';').
std::size_t AttributeValueEnd(std::string_view s, std::size_t at) {
  if (at < s.size() && s[at] == '{') {
    for (std::size_t i = at + 1; i < s.size(); ++i) {
      if (s[i] != '}') continue;
      if (i + 1 < s.size() && s[i + 1] == '}') {
        ++i;  // "}}" stands for one brace inside the value
        continue;
      }
      return i + 1;
    }
    return s.size();
  }
  const std::size_t semicolon = s.find(';', at);
  return semicolon == std::string_view::npos ? s.size() : semicolon;
}

}  // namespace

std::string MaskConnectionString(std::string_view s) {
  std::string out;
  std::size_t i = 0;
  while (i < s.size()) {
    const std::size_t equals = s.find('=', i);
    if (equals == std::string_view::npos) {
      out += s.substr(i);
      break;
    }
    const std::string key = UpperAscii(Trim(s.substr(i, equals - i), " "));
    const std::size_t end = AttributeValueEnd(s, equals + 1);
    out += s.substr(i, equals + 1 - i);
    out += key == "PWD" || key == "PASSWORD" ? std::string_view("***")
                                             : s.substr(equals + 1, end - equals - 1);
    i = end;
    if (i < s.size()) {
      // The separator, and what a sloppy string puts between a braced value and it.
      const std::size_t semicolon = s.find(';', i);
      const std::size_t next = semicolon == std::string_view::npos ? s.size() : semicolon + 1;
      out += key == "PWD" || key == "PASSWORD" ? std::string_view(";") : s.substr(i, next - i);
      i = next;
    }
  }
  return out;
}

StatementTrace::StatementTrace(const std::filesystem::path& path, std::string job)
    : path_(path), job_(std::move(job)) {
  // Created 0600 by open itself: there is no moment at which another user may open it. An
  // existing file is emptied only once it is seen to be the owner's alone.
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd_ < 0) {
    throw std::runtime_error("cannot open the statement trace " + path.string() + ": " +
                             std::strerror(errno));
  }
  struct stat st {};
  if (::fstat(fd_, &st) != 0) {
    const int e = errno;
    ::close(fd_);
    throw std::runtime_error("cannot open the statement trace " + path.string() + ": " +
                             std::strerror(e));
  }
  if (S_ISREG(st.st_mode)) {
    if ((st.st_mode & 077) != 0) {
      ::close(fd_);
      char mode[16];
      std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
      throw std::runtime_error("the statement trace " + path.string() +
                               " exists and others may read it (mode " + mode +
                               "): remove it, or chmod 600 it");
    }
    if (::ftruncate(fd_, 0) != 0) {
      const int e = errno;
      ::close(fd_);
      throw std::runtime_error("cannot empty the statement trace " + path.string() + ": " +
                               std::strerror(e));
    }
  }
}

StatementTrace::~StatementTrace() {
  if (fd_ >= 0) ::close(fd_);
}

int StatementTrace::OpenConnection(std::string_view target) {
  const int number = ++connections_;
  nlohmann::ordered_json line = {{"ts", TraceTimestamp()},
                                 {"connection", number},
                                 {"job", job_},
                                 {"open", MaskConnectionString(target)}};
  WriteLine(line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
  return number;
}

void StatementTrace::WriteLine(const std::string& json) noexcept {
  const std::lock_guard<std::mutex> lock(mutex_);
  if (!failure_.empty()) return;
  // One write of the whole line, straight to the file: a run that crashes leaves its lines.
  std::string text;
  try {
    text = json + "\n";
  } catch (...) {
    failure_ = "out of memory";
    return;
  }
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      failure_ = std::strerror(n < 0 ? errno : ENOSPC);
      return;
    }
    done += static_cast<std::size_t>(n);
  }
}

std::string StatementTrace::Failure() const {
  const std::lock_guard<std::mutex> lock(mutex_);
  return failure_;
}

std::string TraceTimestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(
                          now.time_since_epoch() - std::chrono::seconds(seconds))
                          .count();
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis));
  return text;
}

std::string TraceLineJson(const StatementTrace& trace, const TraceLine& line) {
  nlohmann::ordered_json j = {
      {"ts", line.ts}, {"connection", line.connection}, {"job", trace.job()}};
  if (line.item != 0) j["item"] = line.item;
  j["purpose"] = PurposeName(line.purpose);
  if (!line.transaction.empty()) j["transaction"] = line.transaction;
  if (!line.host_sql.empty()) j["host_sql"] = line.host_sql;
  if (line.sent_differs) j["sent_sql"] = line.sent_sql;
  // Microseconds are as fine as a statement's time means anything.
  j["ms"] = static_cast<double>(static_cast<std::int64_t>(line.ms * 1000 + 0.5)) / 1000;
  if (line.rows >= 0) j["rows"] = line.rows;
  if (line.rows_affected >= 0) j["rows_affected"] = line.rows_affected;
  if (!line.error.empty()) j["error"] = line.error;
  // A statement is UTF-8 inside; a stray byte (a database's message in another code page) is
  // replaced rather than dropping the line.
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string_view SavepointKind(std::string_view sql) {
  const std::string head = UpperAscii(sql.substr(0, 16));
  std::size_t i = head.find_first_not_of(" \t\r\n");
  if (i == std::string::npos) return {};
  const std::string_view h = std::string_view(head).substr(i);
  const auto word = [&](std::string_view w) {
    return h.substr(0, w.size()) == w && (h.size() == w.size() || h[w.size()] == ' ');
  };
  if (word("SAVEPOINT")) return "savepoint";
  if (word("RELEASE")) return "release";
  if (h.substr(0, 8) == "ROLLBACK" && h.find("TO", 8) != std::string_view::npos)
    return "rollback_to";
  return {};
}

TracingConnection::TracingConnection(std::shared_ptr<Connection> inner,
                                     std::shared_ptr<StatementTrace> trace, std::string_view target)
    : inner_(std::move(inner)), trace_(std::move(trace)), number_(trace_->OpenConnection(target)) {}

std::unique_ptr<Recordset> TracingConnection::OpenResultset(const std::string& sql, int cursor,
                                                            int lock) {
  // The sent form is the trace's own work: made before the statement's time starts.
  std::string sent = inner_->SentForm(sql, SentAs::kQuery);
  Started started;
  std::unique_ptr<Recordset> rs;
  try {
    rs = inner_->OpenResultset(sql, cursor, lock);
  } catch (const Error& e) {
    WriteStatement(*trace_, number_, started, sql, sent, Clock::now() - started.at, 0, -1,
                   e.message());
    throw;
  }
  const Clock::duration spent = Clock::now() - started.at;
  // The recordset holds its first row already; the rows after it are counted as they come.
  const std::int64_t first = rs->Eof() ? 0 : 1;
  const bool reading = rs->WrapSource([&](std::unique_ptr<RowSource> source) {
    return std::make_unique<TracedRows>(std::move(source), trace_, number_, started, sql, sent,
                                        spent, first);
  });
  if (!reading) WriteStatement(*trace_, number_, started, sql, sent, spent, first, -1, {});
  return rs;
}

std::unique_ptr<RowSource> TracingConnection::OpenRowSource(const std::string& sql) {
  // The sent form is the trace's own work: made before the statement's time starts.
  std::string sent = inner_->SentForm(sql, SentAs::kQuery);
  Started started;
  std::unique_ptr<RowSource> source;
  try {
    source = inner_->OpenRowSource(sql);
  } catch (const Error& e) {
    WriteStatement(*trace_, number_, started, sql, sent, Clock::now() - started.at, 0, -1,
                   e.message());
    throw;
  }
  const Clock::duration spent = Clock::now() - started.at;
  return std::make_unique<TracedRows>(std::move(source), trace_, number_, std::move(started), sql,
                                      std::move(sent), spent, 0);
}

void TracingConnection::Execute(const std::string& sql) {
  const std::string sent = inner_->SentForm(sql, SentAs::kStatement);
  const std::string_view savepoint = SavepointKind(sql);
  Started started;
  try {
    inner_->Execute(sql);
  } catch (const Error& e) {
    WriteStatement(*trace_, number_, started, sql, sent, Clock::now() - started.at, -1, -1,
                   e.message(), savepoint);
    throw;
  }
  const Clock::duration spent = Clock::now() - started.at;
  WriteStatement(*trace_, number_, started, sql, sent, spent, -1,
                 savepoint.empty() ? inner_->RowsAffected() : -1, {}, savepoint);
}

template <class Call>
void TracingConnection::Transaction(std::string_view kind, std::string_view sql, Call&& call) {
  Started started;
  try {
    call();
  } catch (const Error& e) {
    WriteStatement(*trace_, number_, started, sql, sql, Clock::now() - started.at, -1, -1,
                   e.message(), kind);
    throw;
  }
  WriteStatement(*trace_, number_, started, sql, sql, Clock::now() - started.at, -1, -1, {}, kind);
}

void TracingConnection::BeginTransaction() {
  Transaction("begin", "BEGIN", [&] { inner_->BeginTransaction(); });
}

void TracingConnection::CommitTransaction() {
  Transaction("commit", "COMMIT", [&] { inner_->CommitTransaction(); });
}

void TracingConnection::RollbackTransaction() {
  Transaction("rollback", "ROLLBACK", [&] { inner_->RollbackTransaction(); });
}

void TracingConnection::BeginReadView() {
  const Clock::time_point at = Clock::now();
  try {
    inner_->BeginReadView();
  } catch (const Error& e) {
    WriteTransactionLine("view_begin", Milliseconds(Clock::now() - at), e.message());
    throw;
  }
  WriteTransactionLine("view_begin", Milliseconds(Clock::now() - at));
}

void TracingConnection::EndReadView() noexcept {
  const Clock::time_point at = Clock::now();
  inner_->EndReadView();
  try {
    WriteTransactionLine("view_end", Milliseconds(Clock::now() - at));
  } catch (...) {
    // The trace says it is incomplete when the job ends; a view that ended is no failure.
  }
}

void TracingConnection::WriteTransactionLine(std::string_view kind, double ms,
                                             std::string_view error) {
  TraceLine line;
  line.ts = TraceTimestamp();
  line.connection = number_;
  line.item = StatementScope::CurrentItem();
  line.purpose = StatementScope::CurrentPurpose();
  line.ms = ms;
  line.error = error;
  line.transaction = kind;
  trace_->WriteLine(TraceLineJson(*trace_, line));
}

TracingConnectionSource::TracingConnectionSource(std::unique_ptr<ConnectionSource> inner,
                                                 std::shared_ptr<StatementTrace> trace,
                                                 std::string target)
    : inner_(std::move(inner)), trace_(std::move(trace)), target_(std::move(target)) {}

std::unique_ptr<Connection> TracingConnectionSource::Open() {
  return std::make_unique<TracingConnection>(inner_->Open(), trace_, target_);
}

bool TracingConnectionSource::BeginCommonView(const std::vector<Connection*>& readers) {
  const Clock::time_point at = Clock::now();
  bool begun = false;
  try {
    begun = inner_->BeginCommonView(readers);
  } catch (const Error& e) {
    for (Connection* reader : readers) {
      if (auto* traced = dynamic_cast<TracingConnection*>(reader))
        traced->WriteTransactionLine("view_begin", Milliseconds(Clock::now() - at), e.message());
    }
    throw;
  }
  if (!begun) return false;
  const double ms = Milliseconds(Clock::now() - at);
  for (Connection* reader : readers) {
    if (auto* traced = dynamic_cast<TracingConnection*>(reader))
      traced->WriteTransactionLine("view_begin", ms);
  }
  return true;
}

void TracingConnectionSource::EndView(Connection& reader) noexcept {
  const Clock::time_point at = Clock::now();
  inner_->EndView(reader);
  if (auto* traced = dynamic_cast<TracingConnection*>(&reader)) {
    try {
      traced->WriteTransactionLine("view_end", Milliseconds(Clock::now() - at));
    } catch (...) {
      // Out of memory for a line: the trace misses it, the view is ended all the same.
    }
  }
}

void TraceOwnStatement(StatementTrace& trace, int connection, std::string_view sql,
                       const std::function<void()>& run, std::string_view transaction) {
  const Started started;
  try {
    run();
  } catch (const Error& e) {
    WriteStatement(trace, connection, started, sql, sql, Clock::now() - started.at, -1, -1,
                   e.message(), transaction);
    throw;
  }
  WriteStatement(trace, connection, started, sql, sql, Clock::now() - started.at, -1, -1, {},
                 transaction);
}

SqliteHandleTrace::SqliteHandleTrace(SqliteConnection& conn, std::shared_ptr<StatementTrace> trace)
    : trace_(std::move(trace)), number_(trace_->OpenConnection(conn.path().string())) {
  sqlite3_trace_v2(conn.handle(), SQLITE_TRACE_PROFILE, &SqliteHandleTrace::OnStatement, this);
}

int SqliteHandleTrace::OnStatement(unsigned type, void* self, void* statement, void* nanoseconds) {
  if (type != SQLITE_TRACE_PROFILE) return 0;
  auto* me = static_cast<SqliteHandleTrace*>(self);
  auto* stmt = static_cast<sqlite3_stmt*>(statement);
  const char* sql = sqlite3_sql(stmt);
  Started started;
  const auto ns = *static_cast<const sqlite3_int64*>(nanoseconds);
  const std::int64_t changed =
      sqlite3_stmt_readonly(stmt) != 0 ? -1 : sqlite3_changes64(sqlite3_db_handle(stmt));
  const std::string_view text = sql != nullptr ? sql : "";
  WriteStatement(*me->trace_, me->number_, started, text, text,
                 std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(ns)), -1,
                 changed, {});
  return 0;
}

std::shared_ptr<StatementTrace> OpenStatementTrace(const std::string& path, std::string job,
                                                   bool from_environment) {
  std::string file = path;
  if (file.empty() && from_environment) {
    if (const char* named = std::getenv("TALLYVET_TRACE_SQL")) file = named;
  }
  if (file.empty()) return nullptr;
  return std::make_shared<StatementTrace>(file, std::move(job));
}

}  // namespace tallyvet::db
