// tallyvet_host_writer: a stand-in for the host application while it posts, voids and re-dates
// inventory documents, so that tests can run the tool's repairs on an account set that another
// program writes at the same time.
//
// Every round is one transaction (db::Transaction: BEGIN IMMEDIATE on the embedded file,
// autocommit off over ODBC): one host operation on the documents, chosen by the seed, then the
// ledgers of items 1 to 3 re-registered for every date the operation touched (old and new), as
// the host's stored functions do, through the system's own re-registration; then the commit.
// A round that fails (a lock held past the busy timeout, a statement the database refuses) is
// rolled back, counted with its message, and the next round starts. No transaction stays open
// between rounds.
//
// Exit status: 0 when it stopped at its limit (--seconds, --rounds) or on SIGTERM after the round
// it was in, 1 when it gave up after kGiveUpAfter rounds in a row failed, 2 when it could not
// start. The summary (--summary) is written in every case once the options are read.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "db/connection.h"
#include "db/odbc_connection.h"
#include "db/sqlite_connection.h"
#include "ledger_engine/check_items.h"
#include "ledger_engine/derivation.h"
#include "ledger_engine/key_conditions.h"
#include "ledger_engine/reregistration.h"
#include "shell/host_context.h"
#include "shell/progress_screen.h"

namespace tallyvet::host_writer {
namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;

// A writer whose every round fails this many times in a row (no account set, a lock that never
// ends) stops instead of spinning until its time is up.
constexpr int kGiveUpAfter = 50;

// SIGTERM asks the writer to stop after the round it is in (a hold or a pause ends early), so
// that a test can end it at a moment of its choosing and still read its summary.
volatile std::sig_atomic_t stopAsked = 0;
extern "C" void AskToStop(int) {
  stopAsked = 1;
}

void SleepUnlessAsked(int ms) {
  const auto until = Clock::now() + std::chrono::milliseconds(ms);
  while (!stopAsked && Clock::now() < until) {
    std::this_thread::sleep_for(
        std::min<Clock::duration>(until - Clock::now(), std::chrono::milliseconds(5)));
  }
}

struct Options {
  std::string db;
  std::string odbc;
  std::string user;
  std::uint64_t seed = 1;
  double seconds = 0;
  std::int64_t rounds = 0;
  // A writer that never pauses keeps every other program out of the embedded file: SQLite's busy
  // wait sleeps between its tries and the writer takes the lock again in between.
  int pauseMs = 20;
  int holdMs = 0;
  double busyTimeoutSeconds = 10;
  std::string summary;
  std::string datesFrom;
  std::string datesTo;
};

// Reproducible choices: the same seed on the same account set makes the same first round.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // 0 to n - 1; requires n > 0.
  std::int64_t Below(std::int64_t n) {
    return static_cast<std::int64_t>(Next() % static_cast<std::uint64_t>(n));
  }
  double Unit() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }

 private:
  std::uint64_t state_;
};

double Cents(double amount) {
  return std::round(amount * 100.0) / 100.0;
}

std::int64_t EpochMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// The columns of a document header and of a line as the sample schema holds them. The prefix
// says how a value is written back: str text, dbl a double, any other an integer.
const std::vector<std::string> kHeaderColumns = {
    "lngActivityID",     "strDate",       "intYear",       "bytPeriod",       "lngActivityTypeID",
    "lngReceiptTypeID",  "strReceiptNo",  "lngReceiptNo",  "blnSameGroup",    "lngOrderActivityID",
    "blnIsVoid",         "bytStatus",     "lngCustomerID", "lngDepartmentID", "lngEmployeeID",
    "lngOrganizationID", "lngVoucherID1", "strRemark"};
const std::vector<std::string> kLineColumns = {
    "lngActivityDetailID", "lngActivityID",   "lngRowID",         "lngItemID",
    "lngPositionID",       "strProduceNum",   "dblQuantity",      "dblPrice",
    "dblAmount",           "dblCostAmount",   "dblAvgCostAmount", "dblPlanPrice",
    "dblExpenseAmount",    "dblIncomeAmount", "dblTaxAmount",     "blnIsManual"};
// The amounts of a line a new document changes a little.
const std::set<std::string> kScaledAmounts = {"dblAmount",        "dblCostAmount",
                                              "dblAvgCostAmount", "dblExpenseAmount",
                                              "dblIncomeAmount",  "dblTaxAmount"};

std::string Join(const std::vector<std::string>& items) {
  std::string out;
  for (const std::string& item : items) out += (out.empty() ? "" : ",") + item;
  return out;
}

std::string IdList(const std::vector<std::int64_t>& ids) {
  std::vector<std::string> texts;
  for (std::int64_t id : ids) texts.push_back(std::to_string(id));
  return Join(texts);
}

// A value as a literal of the column's kind; a null stays NULL.
std::string Literal(const std::string& column, const db::Value& value) {
  if (value.IsNull()) return "NULL";
  if (column.rfind("str", 0) == 0) return QuoteSqlText(value.AsText());
  if (column.rfind("dbl", 0) == 0) return db::FormatDouble(value.AsDouble());
  return std::to_string(value.AsInteger());
}

using Row = std::map<std::string, db::Value>;

std::vector<Row> ReadRows(db::Connection& conn, const std::vector<std::string>& columns,
                          const std::string& rest) {
  auto rs = conn.OpenResultset("SELECT " + Join(columns) + " " + rest, 3);
  std::vector<Row> rows;
  for (; !rs->Eof(); rs->MoveNext()) {
    Row row;
    for (std::size_t i = 0; i < columns.size(); ++i) row[columns[i]] = rs->Fields()[i].Value();
    rows.push_back(std::move(row));
  }
  rs->Close();
  return rows;
}

// The first column of a one-row query; null when the query gives none.
db::Value ReadValue(db::Connection& conn, const std::string& sql) {
  auto rs = conn.OpenResultset(sql, 3);
  db::Value v = rs->Eof() ? db::Value() : rs->Fields()[0].Value();
  rs->Close();
  return v;
}

void InsertRow(db::Connection& conn, const std::string& table,
               const std::vector<std::string>& columns, const Row& row) {
  std::vector<std::string> values;
  for (const std::string& c : columns) values.push_back(Literal(c, row.at(c)));
  conn.Execute("INSERT INTO " + table + " (" + Join(columns) + ") VALUES (" + Join(values) + ")");
}

struct Period {
  std::string start, end;
  std::int64_t year = 0, period = 0;
};

// What one round did, once committed.
struct RoundWork {
  std::string kind;  // "post", "void", "redate"
  std::vector<std::int64_t> documents;
  std::set<std::string> dates;        // every date whose ledger rows the round re-registered
  std::vector<std::int64_t> sources;  // post: the documents copied, in the order of `documents`
};

// The host's operations on one connection, inside the caller's transaction.
class HostOperations {
 public:
  HostOperations(HostContext& ctx, std::vector<std::string> dates, std::vector<Period> periods,
                 std::string from, std::string to)
      : ctx_(ctx),
        dates_(std::move(dates)),
        periods_(std::move(periods)),
        from_(std::move(from)),
        to_(std::move(to)) {}

  // Runs the operation of `kind` and re-registers the ledgers of the dates it touched. Returns
  // nothing when there was nothing to work on. Throws db::Error or std::runtime_error.
  std::optional<RoundWork> Run(const std::string& kind, Random& random) {
    std::optional<RoundWork> work;
    if (kind == "post") {
      work = Post(random);
    } else if (kind == "void") {
      work = Void(random);
    } else {
      work = Redate(random);
    }
    if (work) ReRegister(work->dates);
    return work;
  }

 private:
  // A posted document of the range (a transfer's receiving header, never its issuing one), with
  // the issuing headers of a transfer that are posted and within the range too: a transfer
  // moves as one.
  std::vector<Row> PickDocument(Random& random) {
    const std::string candidate =
        "bytStatus=2 AND blnIsVoid=0 AND " + DateRangeCondition("strDate", from_, to_);
    const std::string pick = "FROM ItemActivity WHERE " + candidate + " AND lngActivityTypeID<>28";
    auto rs = ctx_.conn().OpenResultset("SELECT MIN(lngActivityID),MAX(lngActivityID) " + pick, 3);
    const db::Value low = rs->Fields()[0].Value(), high = rs->Fields()[1].Value();
    rs->Close();
    if (low.IsNull()) return {};
    const std::int64_t from = low.AsInteger(), span = high.AsInteger() - from + 1;
    const std::int64_t start = from + random.Below(span);
    const std::int64_t id =
        ReadValue(ctx_.conn(), "SELECT MIN(lngActivityID) " + pick +
                                   " AND lngActivityID>=" + std::to_string(start))
            .AsInteger();
    std::vector<Row> group = ReadRows(
        ctx_.conn(), kHeaderColumns, "FROM ItemActivity WHERE lngActivityID=" + std::to_string(id));
    if (group.empty()) return {};
    if (group[0]["lngActivityTypeID"].AsInteger() == 27) {
      for (Row& issuing :
           ReadRows(ctx_.conn(), kHeaderColumns,
                    "FROM ItemActivity WHERE lngActivityTypeID=28 AND lngOrderActivityID=" +
                        std::to_string(id) + " AND " + candidate + " ORDER BY lngActivityID")) {
        group.push_back(std::move(issuing));
      }
    }
    return group;
  }

  const std::string& PickDate(Random& random) {
    return dates_[static_cast<std::size_t>(random.Below(static_cast<std::int64_t>(dates_.size())))];
  }

  const Period& PeriodOf(const std::string& date) const {
    for (const Period& p : periods_) {
      if (p.start <= date && date <= p.end) return p;
    }
    throw std::runtime_error("no accounting period holds " + date);
  }

  static std::vector<std::int64_t> Ids(const std::vector<Row>& group) {
    std::vector<std::int64_t> ids;
    for (const Row& h : group) ids.push_back(h.at("lngActivityID").AsInteger());
    return ids;
  }

  // A copy of a posted document under new ids and the next receipt numbers, dated in the range,
  // its amounts changed a little: one factor for the whole document, and equal amounts stay
  // equal (a line's cost and average cost, a transfer's two sides), so a valid document stays
  // valid under the receipt checks.
  std::optional<RoundWork> Post(Random& random) {
    db::Connection& conn = ctx_.conn();
    const std::vector<Row> source = PickDocument(random);
    if (source.empty()) return std::nullopt;
    const std::string date = PickDate(random);
    const Period& period = PeriodOf(date);
    const double factor = 0.9 + 0.2 * random.Unit();
    std::map<double, double> scaled;
    const auto scale = [&](double amount) {
      auto [it, added] = scaled.try_emplace(amount, 0.0);
      if (added) it->second = Cents(amount * factor);
      return it->second;
    };

    std::int64_t activityId =
        ReadValue(conn, "SELECT NVL(MAX(lngActivityID),0) FROM ItemActivity").AsInteger();
    std::int64_t detailId =
        ReadValue(conn, "SELECT NVL(MAX(lngActivityDetailID),0) FROM ItemActivityDetail")
            .AsInteger();
    RoundWork work{"post", {}, {date}, {}};
    std::int64_t receivingId = 0;
    for (const Row& original : source) {
      Row header = original;
      const std::int64_t type = header["lngActivityTypeID"].AsInteger();
      header["lngActivityID"] = ++activityId;
      header["strDate"] = date;
      header["intYear"] = period.year;
      header["bytPeriod"] = period.period;
      header["lngReceiptNo"] =
          ReadValue(conn,
                    "SELECT NVL(MAX(lngReceiptNo),0)+1 FROM ItemActivity WHERE "
                    "lngActivityTypeID=" +
                        std::to_string(type))
              .AsInteger();
      header["blnIsVoid"] = 0;
      header["bytStatus"] = 2;
      header["lngVoucherID1"] = db::Value();  // not booked yet
      if (type == 27) receivingId = activityId;
      if (type == 28) header["lngOrderActivityID"] = receivingId;
      InsertRow(conn, "ItemActivity", kHeaderColumns, header);
      for (Row& line : ReadRows(conn, kLineColumns,
                                "FROM ItemActivityDetail WHERE lngActivityID=" +
                                    std::to_string(original.at("lngActivityID").AsInteger()) +
                                    " ORDER BY lngRowID,lngActivityDetailID")) {
        line["lngActivityDetailID"] = ++detailId;
        line["lngActivityID"] = activityId;
        for (const std::string& column : kScaledAmounts) {
          line[column] = scale(line[column].AsDouble());
        }
        const double quantity = line["dblQuantity"].AsDouble();
        if (quantity != 0) line["dblPrice"] = Cents(line["dblAmount"].AsDouble() / quantity);
        InsertRow(conn, "ItemActivityDetail", kLineColumns, line);
      }
      work.documents.push_back(activityId);
      work.sources.push_back(original.at("lngActivityID").AsInteger());
    }
    return work;
  }

  std::optional<RoundWork> Void(Random& random) {
    const std::vector<Row> group = PickDocument(random);
    if (group.empty()) return std::nullopt;
    RoundWork work{"void", Ids(group), {}, {}};
    for (const Row& h : group) work.dates.insert(h.at("strDate").AsText());
    ctx_.conn().Execute("UPDATE ItemActivity SET blnIsVoid=1 WHERE lngActivityID IN (" +
                        IdList(work.documents) + ")");
    return work;
  }

  // A new date for a posted document, anywhere in the range (another period as often as not);
  // the header keeps its period beside its date.
  std::optional<RoundWork> Redate(Random& random) {
    const std::vector<Row> group = PickDocument(random);
    if (group.empty()) return std::nullopt;
    RoundWork work{"redate", Ids(group), {}, {}};
    for (const Row& h : group) work.dates.insert(h.at("strDate").AsText());
    std::string date;
    for (int attempt = 0; attempt < 8 && (date.empty() || work.dates.count(date)); ++attempt) {
      date = PickDate(random);
    }
    if (work.dates.count(date)) return std::nullopt;  // a range of one day
    const Period& period = PeriodOf(date);
    ctx_.conn().Execute("UPDATE ItemActivity SET strDate=" + QuoteSqlText(date) +
                        ",intYear=" + std::to_string(period.year) +
                        ",bytPeriod=" + std::to_string(period.period) +
                        " WHERE lngActivityID IN (" + IdList(work.documents) + ")");
    work.dates.insert(date);
    return work;
  }

  // The host's stored functions, one date at a time: ItemDaily2, PositionDaily, ItemDaily1.
  void ReRegister(const std::set<std::string>& dates) {
    tallyvet::SilentScreen screen;
    for (const std::string& date : dates) {
      for (int item = 1; item <= 3; ++item) {
        std::string error;
        if (!ReRegisterLedger(ctx_, screen, item, date, date, &error)) {
          throw std::runtime_error("re-registering " + ctx_.CheckItems.LedgerTable[item - 1] +
                                   " for " + date + " failed: " + error);
        }
      }
    }
  }

  HostContext& ctx_;
  std::vector<std::string> dates_;
  std::vector<Period> periods_;
  std::string from_, to_;
};

std::optional<std::chrono::sys_days> ParseDay(const std::string& text) {
  int y = 0;
  unsigned m = 0, d = 0;
  char dash1 = 0, dash2 = 0;
  std::istringstream in(text);
  if (!(in >> y >> dash1 >> m >> dash2 >> d) || dash1 != '-' || dash2 != '-') return std::nullopt;
  const std::chrono::year_month_day ymd{std::chrono::year(y), std::chrono::month(m),
                                        std::chrono::day(d)};
  if (!ymd.ok()) return std::nullopt;
  return std::chrono::sys_days(ymd);
}

std::string DayText(std::chrono::sys_days day) {
  const std::chrono::year_month_day ymd(day);
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02u-%02u", static_cast<int>(ymd.year()),
                static_cast<unsigned>(ymd.month()), static_cast<unsigned>(ymd.day()));
  return text;
}

std::shared_ptr<db::Connection> Connect(const Options& o) {
  db::OpenOptions open;
  open.busy_timeout =
      std::chrono::milliseconds(static_cast<long long>(o.busyTimeoutSeconds * 1000));
  if (!o.db.empty()) return db::SqliteConnection::Open(o.db, o.user, open);
  return db::OdbcConnection::Open(o.odbc, o.user, open);
}

class Run {
 public:
  explicit Run(const Options& o) : o_(o), random_(o.seed) {}

  int Main() {
    summary_ = {{"seed", o_.seed},
                {"started_at_ms", EpochMilliseconds()},
                {"rounds", 0},
                {"commits", 0},
                {"rolled_back", json::array()},
                {"operations",
                 {{"post", json::array()}, {"void", json::array()}, {"redate", json::array()}}},
                {"dates", json::object()},
                {"longest_lock_wait_ms", 0.0}};
    int status = 2;
    try {
      Start();
      status = Loop();
    } catch (const std::exception& e) {
      std::cerr << "tallyvet_host_writer: " << e.what() << "\n";
      summary_["error"] = e.what();
      summary_["stopped"] = "error";
    }
    summary_["ended_at_ms"] = EpochMilliseconds();
    WriteSummary();
    return status;
  }

 private:
  void Start() {
    ctx_.connection = Connect(o_);
    ctx_.user = o_.user;
    tallyvet::SilentScreen screen;
    InitCheckItems(ctx_);
    if (!DeriveGoodsLedgerSql(ctx_, screen)) {
      throw std::runtime_error(NoStoredSourceMessage(ctx_, {kGoodsUnit}));
    }
    for (int item = 1; item <= 3; ++item) {
      if (const std::string& refusal = ctx_.CheckItems.Refusal[item - 1]; !refusal.empty())
        throw std::runtime_error(refusal);
    }

    std::vector<Period> periods;
    auto rs = ctx_.conn().OpenResultset(
        "SELECT strStartDate,strEndDate,intYear,bytPeriod FROM AccountPeriod ORDER BY "
        "strStartDate",
        3);
    for (; !rs->Eof(); rs->MoveNext()) {
      periods.push_back({rs->Fields()[0].Value().AsText(), rs->Fields()[1].Value().AsText(),
                         rs->Fields()[2].Value().AsInteger(), rs->Fields()[3].Value().AsInteger()});
    }
    rs->Close();
    if (periods.empty()) throw std::runtime_error("the account set has no accounting periods");
    std::string from = std::max(periods.front().start, o_.datesFrom);
    std::string to =
        o_.datesTo.empty() ? periods.back().end : std::min(periods.back().end, o_.datesTo);
    const auto first = ParseDay(from), last = ParseDay(to);
    if (!first || !last) throw std::runtime_error("the periods' dates are not yyyy-mm-dd");
    std::vector<std::string> dates;
    for (auto day = *first; day <= *last; day += std::chrono::days(1))
      dates.push_back(DayText(day));
    if (dates.empty())
      throw std::runtime_error("no date of the accounting periods is in the range");
    operations_.emplace(ctx_, std::move(dates), std::move(periods), from, to);
  }

  int Loop() {
    const auto deadline = Clock::now() + std::chrono::duration<double>(o_.seconds);
    std::int64_t rounds = 0, commits = 0;
    int failuresInARow = 0;
    summary_["stopped"] = "limit";
    while (!stopAsked && (o_.seconds <= 0 || Clock::now() < deadline) &&
           (o_.rounds <= 0 || commits < o_.rounds)) {
      ++rounds;
      if (Round(rounds)) {
        ++commits;
        failuresInARow = 0;
      } else if (++failuresInARow >= kGiveUpAfter) {
        summary_["stopped"] = "failing";
      }
      summary_["rounds"] = rounds;
      summary_["commits"] = commits;
      if (failuresInARow >= kGiveUpAfter) return 1;
      SleepUnlessAsked(o_.pauseMs);
    }
    if (stopAsked) summary_["stopped"] = "asked";
    return 0;
  }

  // One transaction; true when it committed.
  bool Round(std::int64_t round) {
    const double pick = random_.Unit();
    const std::string kind = pick < 0.4 ? "post" : pick < 0.65 ? "void" : "redate";
    const std::string tag = "round " + std::to_string(round) + " " + kind;
    db::Connection& conn = ctx_.conn();
    try {
      const auto asked = Clock::now();
      db::Transaction transaction(conn);
      // Writers queue on the account set's row, as they do on the embedded file's write lock:
      // on a server two rounds would otherwise pick the same new ids and rebuild the same dates
      // at once, each deleting only what it saw.
      conn.Execute("UPDATE Business SET strVer=strVer");
      const double waited = std::chrono::duration<double, std::milli>(Clock::now() - asked).count();
      if (waited > summary_["longest_lock_wait_ms"].get<double>())
        summary_["longest_lock_wait_ms"] = waited;

      const std::optional<RoundWork> work = operations_->Run(kind, random_);
      if (!work) throw std::runtime_error("no posted document to " + kind + " in the range");
      std::cout << tag << ": in transaction" << std::endl;
      SleepUnlessAsked(o_.holdMs);
      transaction.Commit();
      Record(round, *work);
      std::cout << tag << ": committed" << std::endl;
      return true;
    } catch (const std::exception& e) {
      // A failed round is the writer's ordinary business (a lock held past the busy timeout):
      // the transaction's guard has rolled it back; it is counted and the next round starts.
      summary_["rolled_back"].push_back(
          {{"round", round}, {"operation", kind}, {"message", e.what()}});
      std::cout << tag << ": rolled back: " << e.what() << std::endl;
      return false;
    }
  }

  void Record(std::int64_t round, const RoundWork& work) {
    const std::int64_t at = EpochMilliseconds();
    json dates = json::array();
    for (const std::string& date : work.dates) {
      dates.push_back(date);
      summary_["dates"][date] = {{"round", round}, {"committed_at_ms", at}};
    }
    json op = {
        {"round", round}, {"documents", work.documents}, {"dates", dates}, {"committed_at_ms", at}};
    if (!work.sources.empty()) op["copied_from"] = work.sources;
    summary_["operations"][work.kind].push_back(std::move(op));
  }

  void WriteSummary() const {
    if (o_.summary.empty()) return;
    std::ofstream out(o_.summary, std::ios::trunc);
    out << summary_.dump(2) << "\n";
    if (!out) std::cerr << "tallyvet_host_writer: cannot write " << o_.summary << "\n";
  }

  const Options& o_;
  Random random_;
  HostContext ctx_;
  std::optional<HostOperations> operations_;
  json summary_;
};

}  // namespace
}  // namespace tallyvet::host_writer

int main(int argc, char** argv) {
  using namespace tallyvet::host_writer;
  Options o;
  CLI::App app{
      "tallyvet_host_writer: posts, voids and re-dates documents as the host does, for tests"};
  CLI::Option_group* database =
      app.add_option_group("database", "the account set's database, one of:");
  database->add_option("--db", o.db, "account-set database file")->check(CLI::ExistingFile);
  database->add_option("--odbc", o.odbc, "ODBC connection string");
  database->require_option(1);
  app.add_option("--user", o.user, "account-set owner")->required();
  app.add_option("--seed", o.seed, "seed of the rounds' choices (default 1)");
  app.add_option("--seconds", o.seconds, "stop after this many seconds")
      ->check(CLI::PositiveNumber);
  app.add_option("--rounds", o.rounds, "stop after this many commits")->check(CLI::PositiveNumber);
  app.add_option("--pause-ms", o.pauseMs, "milliseconds between rounds (default 20)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--hold-ms", o.holdMs,
                 "milliseconds each round keeps its transaction open before it commits, as a "
                 "slow host would (default 0)")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--busy-timeout", o.busyTimeoutSeconds,
                 "seconds a round waits for another program's lock (default 10)")
      ->check(CLI::Range(0.0, 86400.0));
  app.add_option("--summary", o.summary, "JSON file written at the end");
  app.add_option("--dates-from", o.datesFrom, "earliest date a round touches, yyyy-mm-dd");
  app.add_option("--dates-to", o.datesTo, "latest date a round touches, yyyy-mm-dd");
  try {
    app.parse(argc, argv);
    if (o.seconds <= 0 && o.rounds <= 0)
      throw CLI::ValidationError("--seconds or --rounds is required");
    for (const std::string* date : {&o.datesFrom, &o.datesTo}) {
      if (!date->empty() && !ParseDay(*date))
        throw CLI::ValidationError("'" + *date + "' is not a date yyyy-mm-dd");
    }
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? 0 : 2;
  }
  std::signal(SIGTERM, AskToStop);
  return Run(o).Main();
}
