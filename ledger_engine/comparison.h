// One comparison run: one reconciliation item over one inclusive date range. The run recomputes
// the item's ledger from the source documents with its derived SQL, reads the stored ledger rows
// of the range with the same columns in the same order, and merges the two (CompareRows). Around
// that it writes the item's part of the text report and keeps the screen's notes and progress
// moving.
//
// The text report of a run, when it is written, reads: the banner; the section heading
// "==========差额明细（<check box caption>)=========="; one line per difference (see
// TextReportSink); the summary lines the comparison added to the screen's list; an error line
// when the run stopped on an error; the closing lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ledger_engine/difference.h"
#include "ledger_engine/report_file.h"
#include "shell/host_context.h"
#include "shell/progress_screen.h"

namespace tallyvet {

// The text report's sink: writes every difference of one item's section through
// AppendReportText, one line each:
//   "    " key description on one line, caption, "汇总数：" stored, "明细数：" recomputed,
//   "差额：" stored - recomputed (values rounded to two decimals, halves to even), two blanks
//   between the parts, CR LF at the end;
// and, at EndItem, the summary list entries that the item added to or changed in screen.List1()
// since the sink was made, each followed by CR LF.
// CompareLedger makes one itself when it writes a report; callers do not add one to their sinks.
class TextReportSink final : public DifferenceSink {
 public:
  // Keeps references to both: they must outlive the sink.
  TextReportSink(const ReportFile& report, ProgressScreen& screen);
  void RecordDifference(const DifferenceRecord& record, bool firstInRow) override;
  void EndItem(int item) override;

  // The line RecordDifference writes for `record`, CR LF included.
  static std::string DifferenceLine(const DifferenceRecord& record);

 private:
  const ReportFile& report_;
  ProgressScreen& screen_;
  std::vector<std::string> listBefore_;
};

// The pieces of a comparison's statements, each a plain function of its inputs.
//
// IsValidDate: a date the run can use as a range start: "yyyy-mm-dd" (also with "/" and one-digit
// month or day), an existing calendar day; " " and "" are not.
bool IsValidDate(std::string_view text);
// N from a position list: the value of its last two characters when both are digits, otherwise of
// its last character ("1,2,3" -> 3, "1,...,10" -> 10); 0 for an empty list.
int KeyCountFromPositions(std::string_view positions);
// The date condition that goes before every GROUP BY, " GROUP BY" included; item 6 tests
// NVL(ItemActivity.strDate,' '), the others strDate. Dates are written as SQL text literals.
std::string DateConditionBeforeGroupBy(int item, const std::string& startDate,
                                       const std::string& endDate);
// The recomputed statement: selectSql, + " ORDER BY " + positions unless it holds "ORDER BY",
// upper-cased, with the date condition before every "GROUP BY".
std::string RecomputeStatement(std::string_view selectSql, std::string_view positions, int item,
                               const std::string& startDate, const std::string& endDate);
// The recompute statement without an ORDER BY of its own: selectSql upper-cased, with the date
// condition before every "GROUP BY" (a subquery of the comparison on the server).
std::string RecomputeBody(std::string_view selectSql, int item, const std::string& startDate,
                          const std::string& endDate);
// The stored statement without its ORDER BY: "SELECT " + insertColumns + " FROM " + ledgerTable
// + " WHERE strDate>='" + startDate + "' AND strDate<='" + endDate + "'".
std::string StoredBody(std::string_view insertColumns, std::string_view ledgerTable,
                       const std::string& startDate, const std::string& endDate);
// "SELECT " + insertColumns + " FROM " + ledgerTable + " WHERE strDate>='" + startDate +
// "' AND strDate<='" + endDate + "' ORDER BY " + positions.
std::string StoredStatement(std::string_view insertColumns, std::string_view ledgerTable,
                            const std::string& startDate, const std::string& endDate,
                            std::string_view positions);
// "SELECT COUNT(*) FROM " + ledgerTable + " WHERE strDate>='" + startDate + "' AND strDate<='" +
// endDate + "'".
std::string CountStatement(std::string_view ledgerTable, const std::string& startDate,
                           const std::string& endDate);
// "==========差额明细（" + caption + ")==========" (full-width opening, half-width closing).
std::string SectionHeading(std::string_view caption);

// CountLedgerRows: the number of rows of the item's LedgerTable (as stored) with strDate in
// [startDate, endDate]; 0 when the count query returns no row. Throws db::Error.
std::int32_t CountLedgerRows(HostContext& ctx, int item, const std::string& startDate,
                             const std::string& endDate);

// CompareLedger: the comparison of one item, step by step:
//  - lblNotes "正在准备数据.....";
//  - for item 4 a startDate that is not a valid date is replaced by ctx.AccountStartDate;
//  - key columns and positions from GetKeyColumns; N is the last number of the position list;
//  - the recomputed statement: the item's SelectSql, with " ORDER BY " + positions appended unless
//    it holds its own "ORDER BY", upper-cased, and the date condition put before every
//    "GROUP BY" (on NVL(ItemActivity.strDate,' ') for item 6, on strDate otherwise);
//  - a preparation pass over it (progress at most every 0.1 s), its columns matched into the
//    item's InsertColumns (MatchInsertColumns);
//  - the stored statement "SELECT " + InsertColumns + " FROM " + upper-cased LedgerTable +
//    " WHERE strDate>='" + startDate + "' AND strDate<='" + endDate + "' ORDER BY " + positions,
//    with the same preparation pass; both results back on their first row;
//  - when `writeReport`, the section heading; lblNotes "检查明细数据差异.....";
//  - CountLedgerRows, then CompareRows with `sinks` (and, when `writeReport`, a TextReportSink
//    before them); every sink gets EndItem(item) at the end, also after an error.
// Returns true when the item's ledger agrees with its documents. Returns false when it found a
// difference, and also when the run stopped on an error: then the error's message is put in
// `*error` (when given) and, when `writeReport`, written into the item's section of the report
// (after the section heading, which is written first when the error came before it). `*error` is
// left empty when the run did not stop on an error. Corrections already written stay.
// Requires: ctx with a connection, a built dictionary and derived SQL for the item; item 1..6.
// Never throws for database, dictionary or report failures inside the run; those are the error
// above.
//
// With `storedSide`, a second connection reading the same committed state as ctx's, the two
// statements run at once: the recomputed one on ctx's connection, the stored one on
// `storedSide`, each on a thread of its own whose rows reach the item's two results in blocks
// (db::RowPipe) as they come; the comparison then goes on as above. Nothing else changes: the
// same statements, results, progress steps and outcome.
//
// When the comparisons of ctx run on the server (ComparesOnServer, server_comparison.h), the two
// results are instead the rows of one statement on ctx's connection, only those that may differ,
// read while the screen shows the server's time (ShowServerStatement); CompareRows merges them as
// above, to the same outcome, its progress counted on the stored rows read. When the server
// cannot compare the item, every sink is told why (ClientMerge) and the item runs as above.
bool CompareLedger(HostContext& ctx, ProgressScreen& screen, const ReportFile& report, int item,
                   std::string startDate, const std::string& endDate, bool writeReport,
                   bool correct, const std::vector<DifferenceSink*>& sinks = {},
                   std::string* error = nullptr, db::Connection* storedSide = nullptr);

// RunComparison: with `writeReport`, WriteReportHeader, CompareLedger, then WriteReportFooter
// (written whatever CompareLedger returned); without, CompareLedger alone. Returns what
// CompareLedger returned; `error` as there.
// Throws: the errors of WriteReportHeader and WriteReportFooter (a report that cannot be written,
// a failing Business query), which stop the whole run.
bool RunComparison(HostContext& ctx, ProgressScreen& screen, const ReportFile& report, int item,
                   const std::string& startDate, const std::string& endDate, bool writeReport,
                   bool correct, const std::vector<DifferenceSink*>& sinks = {},
                   std::string* error = nullptr);

}  // namespace tallyvet
