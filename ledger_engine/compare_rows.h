// The row comparison at the heart of a reconciliation: a merge of two result sets ordered the same
// way, the ledger as the source documents say it should be (recomputed) and the ledger as stored.
//
// Both results hold the key columns first (N of them) and the value columns after; the i-th
// column of one side corresponds to the i-th of the other, whatever their names. Rows are matched
// on their keys, compared as typed values (numbers by value, texts by byte code, a null equal to
// anything). A row found on one side only is marked "A" (recomputed only) or "B" (stored only).
// Every value column of a row is compared after rounding the difference (ExactDifference) to two
// decimals, halves to the even neighbour (RoundHalfEven); a null never counts. Item 3 ignores
// columns whose stored name contains "ENTRUSTIN", item 4 those containing "UNVOUCHER".
//
// For every difference the comparison fills a DifferenceRecord and, when the run writes a report,
// hands it to every sink of the run (RecordDifference). When asked, and only for items 1, 2 and 4,
// it also writes the correction into the ledger at once; a correction the database does not take
// is listed in the screen's summary list (AddDifferenceLine).
//
// The comparison keeps only the current row of each side; the condition and key description of a
// row are built once, at its first difference.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/recordset.h"
#include "db/value.h"
#include "ledger_engine/difference.h"
#include "shell/host_context.h"
#include "shell/progress_screen.h"

namespace tallyvet {

// After a value column's caption in the summary list: its correction changed nothing because the
// ledger row moved on since the comparison read it (another program wrote it).
inline constexpr std::string_view kChangedSinceCompared = "（对账后已变动）";

// Differences are rounded as every amount is (db/value.h).
using db::RoundHalfEven;

// minuend - subtrahend, computed on the decimal values the two doubles stand for (their shortest
// decimal texts), so that 2.035 - 2 is 0.035 and not 0.034999999999999920; the result is the
// double nearest to that decimal difference. Falls back to plain subtraction when the operands'
// scales lie more than 20 decimal places apart or either is not finite.
double ExactDifference(double minuend, double subtrahend);

// Whether a value column counts in item `item`'s comparison: item 3 leaves out the stored columns
// whose name holds "ENTRUSTIN", item 4 those holding "UNVOUCHER".
bool IsComparedColumn(int item, std::string_view storedNameUpper);

// A key description (caption=text CR LF per key column) on one line: its pieces joined by one
// blank, without the trailing line end.
std::string OneLineKeyDescription(std::string_view keyDescription);

// RecordDifference: hands the filled record to every sink, in order. `firstInRow` is true for the
// first difference recorded in the current row. Null sinks are skipped. A sink's exception
// reaches the caller.
void RecordDifference(const std::vector<DifferenceSink*>& sinks, const DifferenceRecord& record,
                      bool firstInRow);

// AddDifferenceLine: keeps a summary list of amounts by text in screen.List1().
//  - amount 0: adds "    " + text (the closing count line has this form);
//  - otherwise: the latest entry "    " + text + TAB + "差额：" + amount (text compared trimmed)
//  gets
//    the amount added to it; when there is none, such an entry is added.
// Then the list is refreshed. Never throws: a screen without a list, or any other failure, ends
// the call without a trace (the summary list is a convenience, never a reason to stop a run).
void AddDifferenceLine(ProgressScreen& screen, std::string_view text, double amount);

// CompareRows: merges the two results from their current rows to their ends.
// Requires: both sides ordered ascending on their first `keyCount` columns as described above;
// ctx.dictionary built (captions and display texts); a connection in ctx (ids in the key
// description are looked up, corrections are written through it); record.item and record.spare
// set by the caller (CompareLedger).
// Guarantees: returns true when no difference was counted, false otherwise; both results are left
// open at their ends; `storedRowCount` (the progress denominator) is set to 100 when 0 and grows
// by 100 whenever the row steps pass it; ShowProgress gets the percentage after every row step.
// After at least one difference, AddDifferenceLine(screen, "检查并更新<n>笔差异!", 0) is called.
// When `writeReport`, every difference fills `record` and goes to the sinks; when `correct` and
// item is 1, 2 or 4, every difference is also written into the item's LedgerTable (UPDATE for a
// matched or "B" row, INSERT for an "A" row) through ExecuteSql, each guarded by what the
// comparison read (StillHoldsCondition, InsertWhereAbsentSql), and a statement that fails or
// touches no row is listed with AddDifferenceLine: under the column's caption, or, when a row
// under the keys holds another value by then, under the caption and kChangedSinceCompared.
// Corrections already written stay.
// Throws: whatever reading the results, the dictionary (a column without a caption, a key that is
// no id column) or a sink throws; the caller (CompareLedger) turns it into a failed comparison.
bool CompareRows(HostContext& ctx, ProgressScreen& screen, db::Recordset& recomputed,
                 db::Recordset& stored, int keyCount, int item, std::int32_t& storedRowCount,
                 bool writeReport, bool correct, DifferenceRecord& record,
                 const std::vector<DifferenceSink*>& sinks);

}  // namespace tallyvet
