// tallyvet reconcile: the ledger reconciliation without a screen. It loads the account set and its
// periods as the launcher does, runs the chosen items over the chosen range, writes Compare.txt,
// prints every difference (a table, or JSON lines) and, with --register, writes the markable
// differences into the ledgers exactly as the report screen does, journalled beside the report.
//
// tallyvet rebuild: re-registers a ledger (kind 库存: the stock ledger) for a date range.
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "cli/host_connection.h"
#include "cli/terminal_message_box.h"
#include "cli/terminal_progress.h"
#include "db/odbc_connection.h"
#include "db/text.h"
#include "db/value.h"
#include "ledger_engine/causes.h"
#include "ledger_engine/check_items.h"
#include "ledger_engine/compare_rows.h"
#include "ledger_engine/comparison.h"
#include "ledger_engine/derivation.h"
#include "ledger_engine/report_file.h"
#include "ledger_engine/reregistration.h"
#include "reconcile_ui/launcher.h"
#include "reconcile_ui/report_page.h"
#include "reconcile_ui/report_screen.h"
#include "shell/host_context.h"

namespace tallyvet::cli {

namespace {

// One item at a time per core: an item is one thread's work, its statements one core each.
int DefaultJobs() {
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : static_cast<int>(std::min(cores, 6u));
}

struct ReconcileOptions {
  HostOptions host;
  std::string from;
  std::string to;
  std::string range = std::string(kRangeKinds[0]);
  std::string items = "1-6";
  std::string reportDir = ".";
  std::string html;
  bool json = false;
  bool explain = false;
  bool registerCorrections = false;
  bool yes = false;
  bool dryRun = false;
  int jobs = DefaultJobs();
  std::string compareOn;  // empty: by the host
};

struct RebuildCommandOptions {
  HostOptions host;
  std::string kind;
  std::string from;
  std::string to;
  std::string reportDir;
  bool dryRun = false;
  bool json = false;
};

// A message of the job's own on standard error, and the exit status to go with it.
void Fail(const std::string& message) {
  std::cerr << message << "\n";
  ExitStatus() = kError;
}

// "1-6", "1,3,5", "2-3,6": the items to tick. Throws CLI::ValidationError.
std::array<bool, 6> ParseItems(const std::string& list) {
  std::array<bool, 6> ticked{};
  std::size_t start = 0;
  while (start < list.size()) {
    auto comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    const std::string piece = list.substr(start, comma - start);
    start = comma + 1;
    if (piece.empty()) continue;
    const auto dash = piece.find('-');
    int first = 0;
    int last = 0;
    try {
      std::size_t used = 0;
      first = std::stoi(piece.substr(0, dash), &used);
      if (used != (dash == std::string::npos ? piece.size() : dash))
        throw std::invalid_argument("");
      last = first;
      if (dash != std::string::npos) {
        last = std::stoi(piece.substr(dash + 1), &used);
        if (used != piece.size() - dash - 1) throw std::invalid_argument("");
      }
    } catch (const std::logic_error&) {
      throw CLI::ValidationError("--items", "'" + piece + "' is not an item number or range");
    }
    if (first < 1 || last > 6 || first > last) {
      throw CLI::ValidationError("--items", "'" + piece + "': items are 1 to 6");
    }
    for (int item = first; item <= last; ++item) ticked[static_cast<std::size_t>(item - 1)] = true;
  }
  return ticked;
}

int PeriodPosition(const std::vector<std::string>& periods, const std::string& text,
                   const char* option) {
  for (std::size_t i = 0; i < periods.size(); ++i) {
    if (periods[i] == text) return static_cast<int>(i);
  }
  std::string known = periods.front();
  if (periods.size() > 1) known += ", " + periods[1];
  if (periods.size() > 2) known += " .. " + periods.back();
  throw CLI::ValidationError(option, "no period '" + text + "' in the account set (" + known + ")");
}

// A table on standard output: columns as wide as their widest cell, the columns in `amounts`
// right-aligned, the others left-aligned, two blanks between them.
void PrintAlignedTable(const std::vector<std::string>& header,
                       const std::vector<std::vector<std::string>>& rows,
                       const std::set<std::size_t>& amounts) {
  std::vector<std::size_t> widths;
  for (const std::string& h : header) widths.push_back(db::DisplayWidth(h));
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
      widths[i] = std::max(widths[i], db::DisplayWidth(row[i]));
    }
  }
  auto print = [&](const std::vector<std::string>& row) {
    std::string line;
    for (std::size_t i = 0; i < row.size() && i < widths.size(); ++i) {
      const std::string pad(widths[i] - db::DisplayWidth(row[i]), ' ');
      line += amounts.count(i) ? pad + row[i] : row[i] + pad;
      if (i + 1 < row.size()) line += "  ";
    }
    std::cout << line.substr(0, line.find_last_not_of(' ') + 1) << "\n";
  };
  print(header);
  for (const auto& row : rows) print(row);
}

nlohmann::ordered_json KeysJson(const std::vector<KeyValue>& keys) {
  nlohmann::ordered_json out = nlohmann::ordered_json::object();
  for (const auto& [name, value] : keys) {
    if (value.IsText()) {
      out[name] = value.Text();
    } else if (value.IsInteger()) {
      out[name] = value.AsInteger();
    } else if (value.IsNull()) {
      out[name] = nullptr;
    } else {
      out[name] = value.AsDouble();
    }
  }
  return out;
}

nlohmann::ordered_json CauseJson(const DifferenceCause& cause) {
  nlohmann::ordered_json documents = nlohmann::ordered_json::array();
  for (const NamedDocument& d : cause.documents) {
    nlohmann::ordered_json document = {{"id", d.id}, {"no", d.no}, {"date", d.date}};
    if (d.voucher) document["voucher"] = true;
    if (d.line != 0) document["line"] = d.line;
    documents.push_back(std::move(document));
  }
  nlohmann::ordered_json out = {{"kind", CauseKindName(cause.kind)}, {"documents", documents}};
  if (cause.kind == CauseKind::kMoved) out["other_keys"] = KeysJson(cause.otherKeys);
  out["text"] = cause.text;
  return out;
}

// The cause column of the table: the kind, and the documents it names.
std::string CauseCell(const DifferenceCause& cause) {
  std::string cell = CauseKindCaption(cause.kind);
  for (std::size_t i = 0; i < cause.documents.size(); ++i) {
    cell += (i == 0 ? " " : "、") + db::TrimBlanks(cause.documents[i].no);
  }
  return cell;
}

// Prints the run's differences: each as a JSON line at once (with causes, once its item is
// explained), or as a table at the end.
class DifferencePrinter final : public DifferenceSink {
 public:
  DifferencePrinter(bool json, bool marking, bool explain)
      : json_(json), marking_(marking), explain_(explain) {}

  void RecordDifference(const DifferenceRecord& r, bool firstInRow) override {
    ++count_;
    if (firstInRow && r.cause) ++causes_[r.cause->kind];
    const bool marked = marking_ && r.item > 0 && r.item != 6;
    if (!json_) {
      rows_.push_back({std::to_string(r.item), OneLineKeyDescription(r.keyDescription),
                       r.columnCaption, db::RoundedText(r.storedValue),
                       db::RoundedText(r.recomputedValue),
                       db::RoundedText(r.storedValue - r.recomputedValue), marked ? "√" : ""});
      if (explain_) rows_.back().push_back(r.cause ? CauseCell(*r.cause) : "");
      return;
    }
    nlohmann::ordered_json line = {
        {"item", r.item},
        {"keys", KeysJson(r.keys)},
        {"side", RowSideName(r.side)},
        {"column", UpperAscii(r.columnName)},
        {"caption", r.columnCaption},
        {"stored", r.storedValue},
        {"recomputed", r.recomputedValue},
        {"difference", RoundHalfEven(ExactDifference(r.storedValue, r.recomputedValue), 2)},
        {"mark", marked ? "√" : ""}};
    if (r.cause) line["cause"] = CauseJson(*r.cause);
    std::cout << line.dump() << "\n";
  }

  void PrintTable() const {
    if (rows_.empty()) return;
    std::vector<std::string> header = {"项目",   "明细项目", "数据项目", "汇总数",
                                       "明细数", "差额",     "调整"};
    if (explain_) header.push_back("原因");
    PrintAlignedTable(header, rows_, {3, 4, 5});
  }

  // The table's closing summary list carries notices; JSON lines leave them to standard error.
  void Notice(int /*item*/, const std::string& text) override {
    if (json_) std::cerr << text << "\n";
  }

  // Said on standard error once the run is over (PrintClientMerges).
  void ClientMerge(int item, const std::string& reason) override {
    clientMerges_.push_back(ItemCheckBoxCaption(item - 1) + " (item " + std::to_string(item) +
                            "): compared on the client: " + reason);
  }
  void PrintClientMerges() const {
    for (const std::string& line : clientMerges_) std::cerr << line << "\n";
  }

  long Count() const { return count_; }

  // "原因：单据移动 4行，…": the differing rows by cause, in the order causes are tested.
  std::string CauseCounts() const {
    std::string text;
    for (const auto& [kind, rows] : causes_) {
      text += (text.empty() ? "原因：" : "，") + std::string(CauseKindCaption(kind)) + " " +
              std::to_string(rows) + "行";
    }
    return text;
  }

 private:
  bool json_;
  bool marking_;
  bool explain_;
  long count_ = 0;
  std::map<CauseKind, long> causes_;
  std::vector<std::vector<std::string>> rows_;
  std::vector<std::string> clientMerges_;
};

void PrintPlanned(const ReportScreen& report, bool json) {
  for (const auto& [row, c] : report.PlannedCorrections()) {
    if (json) {
      std::cout << nlohmann::ordered_json{{"row", row},         {"item", c.item},
                                          {"table", c.table},   {"column", c.field},
                                          {"update", c.update}, {"insert", c.insert}}
                       .dump()
                << "\n";
      continue;
    }
    std::cout << "-- row " << row << ": item " << c.item << ", " << c.table << "." << c.field
              << "\n"
              << c.update << ";\n"
              << "-- when the UPDATE touches no row:\n"
              << c.insert << ";\n";
  }
}

// How each registered row came out: a JSON object per row ("status": registered, changed or
// failed), or a table of the rows that were not registered, marked as the report screen marks
// them.
void PrintRegistration(const ReportScreen& report, const RegistrationSummary& s, bool json) {
  const Grid& grid = report.grdDiff();
  if (json) {
    for (const RegistrationSummary::Row& r : s.rows) {
      nlohmann::ordered_json line = {{"row", r.row},
                                     {"item", db::Value(grid.Text(r.row, 0)).AsInteger()},
                                     {"keys", KeysJson(report.RowKeys(r.row))},
                                     {"column", UpperAscii(grid.Text(r.row, 3))},
                                     {"status", RegistrationStatusName(r.status)}};
      if (!r.error.empty()) line["error"] = r.error;
      std::cout << line.dump() << "\n";
    }
    return;
  }
  std::vector<std::vector<std::string>> rows;
  for (const RegistrationSummary::Row& r : s.rows) {
    if (r.status == RegistrationStatus::kRegistered) continue;
    rows.push_back({grid.Text(r.row, 0), OneLineKeyDescription(grid.Text(r.row, 4)),
                    grid.Text(r.row, 5), grid.Text(r.row, 8), grid.Text(r.row, 9)});
  }
  if (rows.empty()) return;
  std::cout << "\n未登记的差异：\n";
  PrintAlignedTable({"项目", "明细项目", "数据项目", "差额", "调整"}, rows, {3});
}

void RunReconcile(const ReconcileOptions& o) {
  // Before anything else: a run that cannot leave its report must not start.
  EnsureWritableFolder(o.reportDir);
  const ReportFile reportFile(o.reportDir);
  if (!o.html.empty()) {
    const std::filesystem::path page = std::filesystem::absolute(o.html);
    EnsureWritableFolder(page.parent_path());
    if (std::filesystem::exists(page) && ::access(page.c_str(), W_OK) != 0) {
      throw std::runtime_error("the report page " + o.html + " cannot be written");
    }
  }

  HostConnection host(o.host);
  HostContext ctx;
  ctx.connection = host.connection();
  ctx.user = o.host.user;
  if (!o.compareOn.empty()) {
    ctx.comparePlace = o.compareOn == "server" ? ComparePlace::kServer : ComparePlace::kClient;
  }
  const std::array<bool, 6> ticked = ParseItems(o.items);

  TerminalProgress progress;
  const CivilDate today = LocalToday();
  const AccountAndPeriods account = LoadAccountAndPeriods(ctx, today);
  const std::string from = o.from.empty() ? account.periods[account.selected] : o.from;
  const std::string to = o.to.empty() ? account.periods[account.selected] : o.to;
  const int start = PeriodPosition(account.periods, from, "--from");
  const int end = PeriodPosition(account.periods, to, "--to");
  bool anyTicked = false;
  for (const bool t : ticked) anyTicked = anyTicked || t;
  if (const std::string invalid = ValidateRun(start, end, anyTicked); !invalid.empty()) {
    Fail(invalid);
    return;
  }

  const DateRange range = PeriodRangeToDates(ctx, o.range, from, to, today);

  TerminalMessageBox messages(progress, o.yes);
  // Every markable difference is registered from the command line, so its grid has no limit.
  ReportScreen report(ctx, messages, reportFile.Folder(),
                      LauncherTexts{account.userCaption, account.accountCaption, from, to},
                      INT_MAX);
  ReportScreenSink toReport(report);
  DifferencePrinter printer(o.json, o.registerCorrections, o.explain);
  ReportPageSink toPage(ticked);
  // With --explain the differences reach the screen's grids, the table and the page only once
  // their item has been explained, cause attached.
  ExplainingSink explaining(ctx, range.startDate, range.endDate, {&toReport, &printer, &toPage});
  const std::vector<DifferenceSink*> sinks =
      o.explain ? std::vector<DifferenceSink*>{&explaining}
                : std::vector<DifferenceSink*>{&toReport, &printer, &toPage};
  std::vector<ItemRunError> errors;
  // Registration writes through the run's one connection; such a run reads through it alone too.
  const int jobCount = o.registerCorrections ? 1 : o.jobs;
  // Further connections with one common view: on an embedded file, and on a PostgreSQL server;
  // other ODBC data sources give none, and their items run one after another.
  db::OpenOptions options = JobOpenOptions(o.host.busyTimeoutSeconds);
  options.spill_threshold = SpillThresholdForJobs(jobCount);
  std::unique_ptr<db::ConnectionSource> source;
  if (!o.host.db.empty()) {
    source = std::make_unique<db::SqliteConnectionSource>(o.host.db, o.host.user, options);
  } else {
    source = std::make_unique<db::OdbcConnectionSource>(o.host.odbc, o.host.user, options);
  }
  if (host.trace()) {
    source = std::make_unique<db::TracingConnectionSource>(
        std::move(source), host.trace(), o.host.db.empty() ? o.host.odbc : o.host.db);
  }
  ItemJobs jobs{jobCount, source.get(), [&](const std::string& reason) {
                  progress.Finish();
                  std::cerr << "--jobs " << o.jobs << ": items run one after another (" << reason
                            << ")\n";
                }};
  RunItems(ctx, progress, reportFile, ticked, range, sinks, {}, &errors, jobs);
  progress.Finish();
  printer.PrintClientMerges();
  if (!o.html.empty()) {
    ReportPageData page;
    page.startPeriod = from;
    page.endPeriod = to;
    page.rangeKind = o.range;
    page.range = range;
    page.generated = CurrentDateTimeText();
    LoadPageAccount(ctx, range, page);
    toPage.SetErrors(errors);
    page.items = std::move(toPage.Items());
    WriteReportPage(o.html, BuildReportPage(page));
  }

  std::ostream& ending = o.json ? std::cerr : std::cout;
  if (!o.json) {
    printer.PrintTable();
    for (const std::string& line : progress.SummaryList()) std::cout << line << "\n";
  }
  for (const ItemRunError& e : errors) {
    std::cerr << ItemCheckBoxCaption(e.item - 1) << " (item " << e.item << "): " << e.message
              << "\n";
  }
  std::cerr << "report: " << reportFile.Path().string() << "\n";
  if (!o.html.empty()) std::cerr << "page: " << o.html << "\n";
  if (printer.Count() == 0 && errors.empty()) {
    ending << kDataCorrect << "\n";
    ExitStatus() = kClean;
    ctx.dictionary.Release();
    host.Finish();
    return;
  }
  if (printer.Count() > 0) {
    ending << "共" << printer.Count() << "笔差异!";
    if (o.explain) ending << " " << printer.CauseCounts();
    ending << "\n";
  }
  ExitStatus() = errors.empty() ? kFindings : kError;

  if (o.registerCorrections && printer.Count() > 0) {
    report.SelectAll();
    if (o.dryRun) {
      PrintPlanned(report, o.json);
      std::cerr << "dry run: nothing registered\n";
    } else {
      const RegistrationSummary s = report.RegisterCorrections();
      if (!s.confirmed) {
        Fail("registration not confirmed: nothing changed");
      } else {
        PrintRegistration(report, s, o.json);
        if (!s.rolledBack.empty()) {
          std::cerr << "registration rolled back, nothing was registered: " << s.rolledBack << "\n";
        }
        std::cerr << "registered " << s.registered << ", changed since compared " << s.changed
                  << ", failed " << s.failed << "\n";
        if (!s.journal.empty()) std::cerr << "journal: " << s.journal.string() << "\n";
        if (!s.undoScript.empty()) std::cerr << "undo script: " << s.undoScript.string() << "\n";
        // A row changed since the comparison is no failure: the run is not clean (1), and the
        // next comparison shows where that row stands now.
        if (s.failed > 0) ExitStatus() = kError;
      }
    }
  }
  ctx.dictionary.Release();
  host.Finish();
}

void RunRebuild(const RebuildCommandOptions& o) {
  if (o.from != " " && !ParseDate(o.from)) {
    Fail("--from: '" + o.from + "' is not a date yyyy-mm-dd");
    return;
  }
  if (!ParseDate(o.to)) {
    Fail("--to: '" + o.to + "' is not a date yyyy-mm-dd");
    return;
  }
  const std::optional<int> item = LedgerKindItem(o.kind);
  if (!item) {
    Fail("unknown ledger kind '" + o.kind + "' (known: 库存)");
    return;
  }
  const std::filesystem::path journalFolder = ReportFolder(o.reportDir);
  HostConnection host(o.host);
  HostContext ctx;
  ctx.connection = host.connection();
  ctx.user = o.host.user;
  TerminalProgress progress;
  InitCheckItems(ctx);
  DeriveGoodsLedgerSql(ctx, progress);
  RebuildOptions options;
  options.dryRun = o.dryRun;
  options.journalFolder = journalFolder;
  const RebuildOutcome outcome = RebuildLedger(ctx, progress, *item, o.from, o.to, options);
  progress.Finish();
  ctx.dictionary.Release();
  for (const std::string& notice : outcome.notices) std::cerr << notice << "\n";
  host.Finish();
  if (o.json) {
    nlohmann::ordered_json out = {{"kind", o.kind},
                                  {"from", o.from},
                                  {"to", o.to},
                                  {"dry_run", o.dryRun},
                                  {"rebuilt", outcome.rebuilt},
                                  {"rows_held", outcome.rowsHeld},
                                  {"rows_inserted", outcome.rowsInserted}};
    if (o.dryRun) {
      nlohmann::ordered_json columns = nlohmann::ordered_json::array();
      for (const ColumnTotal& t : outcome.totals) {
        columns.push_back({{"column", t.column},
                           {"now", t.now},
                           {"rebuilt", t.rebuilt},
                           {"difference", RoundHalfEven(ExactDifference(t.rebuilt, t.now), 2)}});
      }
      out["columns"] = columns;
    }
    if (!outcome.blankColumns.empty()) out["blank_columns"] = outcome.blankColumns;
    if (!outcome.error.empty()) {
      out["error"] = outcome.error;
      out["ledger_state"] = outcome.ledgerState;
    }
    if (!outcome.journal.empty()) {
      out["journal"] = outcome.journal.string();
      out["undo_script"] = outcome.undoScript.string();
    }
    std::cout << out.dump() << "\n";
  } else if (o.dryRun) {
    std::cout << o.kind << ": " << outcome.rowsHeld << " ledger row(s) from " << o.from << " to "
              << o.to << "; the rebuild would insert " << outcome.rowsInserted << "\n";
    // Per column, so that a column the rebuild would empty or multiply shows before anything
    // changes.
    std::vector<std::vector<std::string>> rows;
    for (const ColumnTotal& t : outcome.totals) {
      rows.push_back({t.column, db::RoundedText(t.now), db::RoundedText(t.rebuilt),
                      db::RoundedText(ExactDifference(t.rebuilt, t.now))});
    }
    PrintAlignedTable({"column", "now", "as rebuilt", "difference"}, rows, {1, 2, 3});
  } else if (outcome.rebuilt) {
    std::cout << o.kind << ": " << outcome.rowsHeld << " ledger row(s) from " << o.from << " to "
              << o.to << " replaced by " << outcome.rowsInserted << "\n";
  }
  if (!outcome.error.empty()) {
    Fail(o.kind + (o.dryRun ? ": the rebuild would stop: " : ": not rebuilt: ") + outcome.error +
         "; " + outcome.ledgerState);
    return;
  }
  if (o.dryRun) {
    std::cerr << "dry run: nothing changed\n";
  } else if (!outcome.journal.empty()) {
    std::cerr << "journal: " << outcome.journal.string() << "\n"
              << "undo script: " << outcome.undoScript.string() << "\n";
  }
  ExitStatus() = kClean;
}

}  // namespace

void AddReconcileCommand(CLI::App& app) {
  auto o = std::make_shared<ReconcileOptions>();
  CLI::App* cmd = app.add_subcommand(
      "reconcile",
      "Recompute the ledgers from the documents and compare them with the stored ledgers; exit 0 "
      "when they agree, 1 with differences, 2 on an error");
  AddHostOptions(*cmd, o->host);
  cmd->add_option("--from", o->from,
                  "start period as listed (2005.03, or 期初); default: the "
                  "current month's period, else the latest");
  cmd->add_option("--to", o->to, "end period, as --from");
  cmd->add_option("--range", o->range,
                  "range kind: 期间 (the periods), 本日 (today), 本周 (this "
                  "week, Monday to Friday)")
      ->check(CLI::IsMember({"期间", "本日", "本周"}));
  cmd->add_option("--items", o->items,
                  "items to reconcile, e.g. 1-6 or 1,2,5 (1 存货账, 2 库存账, 3 单位商品账, "
                  "4 总账, 5 应收应付, 6 总账与存货账)");
  cmd->add_option("--report-dir", o->reportDir,
                  "folder of Compare.txt and correction journals, created when missing (default: "
                  "the current folder)");
  cmd->add_option("--html", o->html,
                  "also write the report as one self-contained HTML page to this file: a chart of "
                  "the differences per period and their tables, amounts rounded to the cent");
  cmd->add_flag("--json", o->json,
                "one JSON object per difference on standard output (the closing line goes to "
                "standard error)");
  cmd->add_flag("--explain", o->explain,
                "name the cause of every differing row (moved, unposted or withdrawn document, "
                "rounding, unexplained) from the documents under its keys: a cause column in the "
                "table, a \"cause\" object in JSON, a count by cause at the end");
  cmd->add_option("--jobs", o->jobs,
                  "items compared at once, each on a connection of its own (default: the number of "
                  "cores, at most the ticked items); 1 runs them one after another. A run with "
                  "--register always does")
      ->check(CLI::Range(1, 64));
  cmd->add_option("--compare-on", o->compareOn,
                  "where each item's two sides are merged: server (one statement per item on the "
                  "database server, which sends only the rows that may differ) or client (every "
                  "row to this program). Default: server on PostgreSQL and Oracle, client on "
                  "SQLite (--db, or a SQLite file through ODBC), where the merge here is faster. "
                  "The result is the same; an item the server cannot compare is merged here, said "
                  "on standard error")
      ->check(CLI::IsMember({"server", "client"}));
  CLI::Option* reg = cmd->add_flag(
      "--register", o->registerCorrections,
      "register every markable difference into its ledger (UPDATE, else INSERT), journalled");
  CLI::Option* yes = cmd->add_flag("--yes", o->yes, "answer the confirmation with Yes");
  CLI::Option* dry =
      cmd->add_flag("--dry-run", o->dryRun,
                    "print the registration statements (JSON objects with --json), change nothing");
  yes->needs(reg);
  dry->needs(reg);
  yes->excludes(dry);
  cmd->callback([o] { RunReconcile(*o); });

  auto r = std::make_shared<RebuildCommandOptions>();
  CLI::App* rebuild = app.add_subcommand(
      "rebuild", "Delete a ledger's rows in a date range and insert them anew from the documents");
  AddHostOptions(*rebuild, r->host);
  rebuild->add_option("--kind", r->kind, "ledger kind: 库存 (the stock ledger PositionDaily)")
      ->required();
  rebuild->add_option("--from", r->from, "first date yyyy-mm-dd (\" \" for the beginning)")
      ->required();
  rebuild->add_option("--to", r->to, "last date yyyy-mm-dd (9999-12-31 for the end)")->required();
  rebuild->add_option("--report-dir", r->reportDir,
                      "folder of the rebuild's journal and undo script, created when missing "
                      "(default: the current folder)");
  rebuild->add_flag("--dry-run", r->dryRun,
                    "print how many ledger rows the range holds and how many the rebuild would "
                    "insert, and every value column's total now and as rebuilt; change nothing");
  rebuild->add_flag("--json", r->json, "print the outcome as one JSON object");
  rebuild->callback([r] { RunRebuild(*r); });
}

}  // namespace tallyvet::cli
