// Key conditions: "COLUMN=value" terms joined by " AND ", text values in single quotes.
//
// A difference is located by the values of its row's key columns. The comparison writes that
// location as a source-side condition (column names qualified as in the item's recompute SQL, so
// it can be added to that SQL to find the documents behind it) and turns it into the ledger-side
// condition and the column and value lists of a correction. All comparisons here are exact and
// case-sensitive unless a call says it upper-cases.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "shell/host_context.h"

namespace tallyvet {

// A text value as a SQL literal: in single quotes, embedded quotes doubled (O'Brien ->
// 'O''Brien'). Every text value that goes into a condition or a value list goes through here.
std::string QuoteSqlText(std::string_view text);

// "<column>>='<begin>' AND <column><='<end>'": an inclusive range of the text dates in `column`,
// as every statement of a comparison run or a re-registration restricts its rows.
std::string DateRangeCondition(std::string_view column, std::string_view begin,
                               std::string_view end);

// The guard of a write computed from an earlier read: "ABS(NVL(<column>,0)-(<seen>))<<tolerance>",
// true while the column still holds what was read, to the tolerance (half a cent for ledger
// values, which comparisons judge to the cent). Joined with AND to the write's own condition, it
// makes the write change nothing once another program has moved the value on.
std::string StillHoldsCondition(std::string_view column, double seen,
                                std::string_view tolerance = "0.005");

// "INSERT INTO <table>(<columns>) SELECT <values> FROM DUAL WHERE NOT EXISTS (SELECT 1 FROM
// <table> WHERE <condition>)": an insert of a row that was missing when it was read, which inserts
// nothing once a row under `condition` exists.
std::string InsertWhereAbsentSql(std::string_view table, std::string_view columns,
                                 std::string_view values, std::string_view condition);

// "LOCK TABLE <table> IN EXCLUSIVE MODE": held by a write to a ledger until its transaction ends,
// so that another program's write to the same ledger waits for it instead of interleaving (others
// still read). SQLite connections leave it out: their transactions lock the whole file.
std::string LockTableSql(std::string_view table);

// Splits a SQL list at the commas that stand outside single-quoted literals; each item trimmed of
// blanks, tabs and line breaks (a key list cut from the host's source may keep a line break).
// "15,'a,b' ,'x'" gives 15 | 'a,b' | 'x'. An empty text gives no item.
std::vector<std::string> SplitSqlList(std::string_view list);

// The column name with the table qualifier it carries in the item's SelectSql (LNGITEMID ->
// ITEMACTIVITYDETAIL.LNGITEMID), or the name unchanged when the SQL does not hold the upper-cased
// name right after a "." or the qualifier would be empty (an alias ending in "0", as T0, gives
// none). Requires item 1 to 6 (std::out_of_range otherwise).
std::string QualifyKeyColumn(const CheckItemTable& items, std::string_view columnName, int item);

// The ledger-side form of a source-side condition: qualifiers and NVL(...,0) wrappers dropped
// from the column names, everything else kept as written. Fills the key column and key value
// lists, items joined by "," (both emptied first). A quoted value stays whole in the list,
// blanks, "=" and doubled quotes included; a single-blank value ' ' after the first keeps the
// separator behind it (15,' ' ,'2003-01-05'). An empty condition gives empty results.
std::string SplitCondition(std::string_view condition, std::string& keyColumns,
                           std::string& keyValues);

// When `name` occurs twice or more in `list`: the list with every occurrence after the first
// replaced by `replacement`; otherwise the list unchanged.
std::string ReplaceRepeatedName(std::string_view list, std::string_view name,
                                std::string_view replacement);

// SUM(DBLAMOUNT) -> DBLAMOUNT (the text after the first "(" less the name's last character); a
// name without "(" unchanged. Throws std::invalid_argument when "(" is the name's last character.
std::string FieldBaseName(std::string_view columnName);

}  // namespace tallyvet
