// Derivation of the ledger SQL from the host's stored function source (ALL_SOURCE): for each item
// the SELECT that recomputes its ledger and the column list of the ledger INSERT, patched to run
// over any date range; the key columns; and the matching of the INSERT list to an opened result.
//
// The source is cut as text, line by line: a line is trimmed of blanks, upper-cased (ASCII only)
// and loses its last character (the line break every stored line ends with) before it is compared.
// Every derived text is upper-cased and keeps the source's own line breaks and indentation.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "db/recordset.h"
#include "shell/host_context.h"
#include "shell/progress_screen.h"

namespace tallyvet {

// Advances to the next SELECT or INSERT line that follows a known function header.
// `item`, `keyword` and `pending` are the scanner state kept by the caller across calls (0, empty,
// empty at the start of a pass). A line equal to an item's FunctionHeader makes that the current
// item, until another header line; after a header the cursor stops on the first line beginning
// with "SELECT" (keyword "SELECT", `pending` = that line trimmed and upper-cased) or "INSERT"
// (keyword "INSERT", `pending` untouched). At the end of the rows the keyword is empty.
// Requires `rs` to have a "Text" column. Throws db::Error from the recordset.
void NextSourceStatement(db::Recordset& rs, const CheckItemTable& items, int& item,
                         std::string& keyword, std::string& pending);

// Gathers one statement ("SELECT" .. ";") or one parenthesised list ("(" .. ")"), starting on the
// current row, or on `pending` in its place when that is not empty (it is emptied). A line that
// ends with the start marker is dropped whole; "(" and the end marker are removed from the lines
// that carry them. A SELECT with fewer than three lines beginning with "SUM" gives the empty text.
// Leaves the cursor on the line that ended the statement (or at the end of the rows).
std::string CollectSourceStatement(db::Recordset& rs, std::string_view startMarker,
                                   std::string_view endMarker, std::string& pending);

// The stored units the derivations read.
inline constexpr std::string_view kGoodsUnit = "MDLITEM";
inline constexpr std::string_view kAccountUnit = "CHANGEALLACCOUNT_FROM_VOUCHER";

// Items 1 to 3 from the package MDLITEM of the owner (ctx.user upper-cased): fills only empty
// SelectSql and InsertColumns slots, then makes item 1's position group null-safe and opens the
// three SELECTs to every date (p_BeginDate -> ' ', p_EndDate -> '9999-12-31', ORDER BY cut).
// Then judges what it cut: an item whose source is missing, whose function the unit lacks, or
// whose statement fails CheckDerivedStatement gets a Refusal naming unit, function and cause.
// Returns false when the owner has no stored source of the unit at all (the slots stay empty).
// Requires InitCheckItems and a connection. Database errors are thrown to the caller (db::Error).
bool DeriveGoodsLedgerSql(HostContext& ctx, ProgressScreen& screen);
// Item 4 from ChangeAllAccount_From_Voucher (the last SELECT of the function decides), judged as
// above, then all three slots of item 5 (receivables and payables, keyed like item 4; refused
// when item 4 is) and of item 6 (vouchers against inventory activity). Same result, requirements
// and errors as DeriveGoodsLedgerSql.
bool DeriveAccountLedgerSql(HostContext& ctx, ProgressScreen& screen);

// "MDLITEM.ChangePositionDaily_New": where the statement of item 1 to 4 comes from.
std::string StatementOrigin(int item);

// What keeps the derived statement of item 1 to 4 from standing for its ledger, or empty when it
// can run. The SELECT must begin with SELECT, have a FROM, group (a ledger is a summary by its
// keys), give at least as many columns as the INSERT names, and its GROUP BY must name each key
// column of the INSERT (the columns the SELECT gives before its first SUM). Pure text; items 5
// and 6, built here from fixed text, are not judged.
std::string CheckDerivedStatement(const CheckItemTable& items, int item);

// "no stored source for owner X (looked for A, B in ALL_SOURCE)", followed by the owners that do
// have those units, when any. Reads ALL_SOURCE; a failing look-up only leaves that part out.
std::string NoStoredSourceMessage(HostContext& ctx, const std::vector<std::string_view>& units);

// The refusal of an item's derived SQL, thrown before anything runs it.
class DerivationRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// Throws DerivationRefused with the item's Refusal when it has one.
void RequireRunnableStatement(const CheckItemTable& items, int item);

// The fields of `rs` from the first one that `matched` (MatchInsertColumns' result for it) does
// not cover: the columns the statement gives that the ledger has no column for.
std::vector<std::string> ColumnsLeftOut(const db::Recordset& rs, std::string_view matched);
// "<origin>: the ledger has no column for A, B; left out of the <what>".
std::string ColumnsLeftOutNotice(int item, const std::vector<std::string>& columns,
                                 std::string_view what);
// "<origin>: the rebuild would empty the ledger's column(s) A, B: the stored function's SELECT
// and its INSERT column list are out of step from <where>" (no " from" part when `where` is empty).
std::string ColumnsBlankedMessage(int item, const std::vector<std::string>& columns,
                                  std::string_view where);

// Where the owner's stored source of item 1 to 4 first names `name` (upper-cased, as a word of
// its own) after the item's function header: "MDLITEM line 127: SUM(...) DBLSALECOST", the line
// trimmed. Empty when no line does. Throws db::Error from the database.
std::string SourceLineNaming(HostContext& ctx, int item, std::string_view name);

// The item's key columns and their positions ("1,2,3"): KeyColumns when set (items 5 and 6, with
// their fixed positions), otherwise the GROUP BY list of SelectSql without qualifiers (both empty
// when the SELECT has no GROUP BY). Throws std::out_of_range for an item outside 1 to 6.
void GetKeyColumns(const CheckItemTable& items, int item, std::string& columns,
                   std::string& positions);

// The ledger's column for a field of the derived SELECT: the field's own name, except for the two
// the host's functions select under another (NVL(POSITION.LNGPOSITIONGROUPID,0), a misspelt
// DBLBORROWPURCHASEDAMOUNT).
std::string LedgerColumnOf(const std::string& field);

// The ledger's column list in the order of the result's fields; may shorten `sql` by its last
// summed columns when the result has fields the ledger lacks (one per field from the first
// unknown one on). Items 5 and 6 give their InsertColumns unchanged.
std::string MatchInsertColumns(const db::Recordset& rs, const CheckItemTable& items, int item,
                               std::string& sql);

}  // namespace tallyvet
