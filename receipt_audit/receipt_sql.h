// The SQL text of the receipt cost audit: the five checks that list document lines whose cost
// figures disagree, the write-back of a flagged line, and the average-cost update per period and
// item. Every statement is fixed fragments joined in order, chosen by the account set's version;
// nothing here touches a database, so each builder is tested by comparing strings.
//
// The version is the first four characters of Business.strVer. "8.10" is the older layout:
// compared exactly, it drops the same-group transfer conditions and the position group. The
// transfer pair check runs only for versions greater than "8.10" compared as text, character by
// character ("8.2" and "9.00" are greater; "10.0" and the empty version are not).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/value.h"

namespace tallyvet::receipt_audit {

// The kind labels of the checks, shown in column 1 of a flagged row and choosing its write-back.
inline constexpr std::string_view kTransferKind = "转仓单";
inline constexpr std::string_view kInboundKind = "入库单";
inline constexpr std::string_view kOutboundKind = "出库单";
inline constexpr std::string_view kPlannedPriceKind = "计划价";

// The one version with the older statements.
inline constexpr std::string_view kOldVersion = "8.10";

// True when `version` is exactly "8.10".
bool IsOldVersion(std::string_view version);
// True when `version` is greater than "8.10" as text (byte by byte; a longer text with "8.10" as
// its prefix is greater).
bool RunsTransferPairCheck(std::string_view version);

// One of the five checks, as RunChecks runs it.
struct ReceiptCheck {
  std::string_view kind;          // kind label for column 1
  std::string sql;                // the statement
  std::string_view secondAmount;  // name of the second amount column: dblAvgCostAmount or dblAmount
  std::string_view notesCaption;  // caption shown before the check runs, or empty
  // The flagged line's own columns that the check's two amounts were read from, as expressions
  // on ItemActivityDetail (empty when the amount is another line's): the write-back's guard.
  std::string_view costColumns;
  std::string_view secondColumns;
};

// How close a line's amount must still be to what the check read for its write-back to run: the
// check shows its difference to four decimals.
inline constexpr std::string_view kLineTolerance = "0.00005";

// " AND ABS((<columns>)-(<seen>))<0.00005" for each amount read from the line's own columns
// (empty `columns` add nothing): what a write-back computed from a check's read must still find.
std::string LineStillHolds(std::string_view costColumns, double cost,
                           std::string_view secondColumns, double second);

// The five statements, each for the given version.
std::string TransferPairCheckSql(std::string_view version);
std::string TransferOutCheckSql(std::string_view version);
std::string InboundCheckSql(std::string_view version);
std::string OutboundCheckSql(std::string_view version);
std::string PlannedPriceCheckSql(std::string_view version);

// The checks that run for `version`, in their order: transfer pair (only above "8.10"),
// transfer-out, inbound, outbound, planned price. The transfer stage's caption is carried by the
// first transfer check that runs, so it also shows when the pair check is skipped.
std::vector<ReceiptCheck> ReceiptChecks(std::string_view version);

// The UPDATE that writes back one flagged line, chosen by its kind label.
// `condition` is the row's key ("lngActivityDetailID=" and the id), `costAmountText` the row's
// column 3 (used only by the transfer kind). Returns nothing for a kind no check produces.
std::optional<std::string> WriteBackSql(std::string_view kind, std::string_view condition,
                                        std::string_view costAmountText);

// The statement that lists, per period and item (and outside "8.10" per position group), the
// outbound lines whose summed cost amount and summed average cost differ.
std::string AverageCostGroupSql(std::string_view version);

// One group of AverageCostGroupSql, as its row reads.
struct CostGroup {
  db::Value intYear;
  db::Value bytPeriod;
  db::Value lngItemID;
  db::Value lngPositionGroupID;  // ignored for "8.10"
};

// The line that absorbs a group's difference: the group's lines, latest strDate first; the
// caller takes the first row. A key that is null is matched with IS NULL, since "=" with an empty
// value would not be a statement at all.
std::string AbsorbingLineSql(std::string_view version, const CostGroup& group);

// "UPDATE ItemActivityDetail SET dblAvgCostAmount=dblAvgCostAmount+<difference> WHERE
// lngActivityDetailID=<id>"; a negative difference keeps its sign right after the "+".
std::string AverageCostUpdateSql(double difference, std::string_view lineId);

// The former name of db::RoundHalfEven, kept for its callers.
inline double RoundDecimal(double value, int places) {
  return db::RoundHalfEven(value, places);
}

// A number as statements and grids show it: the shortest text that reads back exactly, "." as
// decimal point, no grouping, negative zero as "0".
std::string NumberText(double value);

}  // namespace tallyvet::receipt_audit
