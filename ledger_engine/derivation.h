// Derivation of the ledger SQL from the host's stored function source (ALL_SOURCE): for each item
// the SELECT that recomputes its ledger and the column list of the ledger INSERT, patched to run
// over any date range; the key columns; and the matching of the INSERT list to an opened result.
//
// The source is cut as text, line by line: a line is trimmed of blanks, upper-cased (ASCII only)
// and loses its last character (the line break every stored line ends with) before it is compared.
// Every derived text is upper-cased and keeps the source's own line breaks and indentation.
#pragma once

#include <string>
#include <string_view>

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

// Items 1 to 3 from the package MDLITEM of the owner (ctx.user upper-cased): fills only empty
// SelectSql and InsertColumns slots, then makes item 1's position group null-safe and opens the
// three SELECTs to every date (p_BeginDate -> ' ', p_EndDate -> '9999-12-31', ORDER BY cut).
// Requires InitCheckItems and a connection. No source for the owner leaves the slots empty.
// Database errors are thrown to the caller (db::Error).
void DeriveGoodsLedgerSql(HostContext& ctx, ProgressScreen& screen);
// Item 4 from ChangeAllAccount_From_Voucher (the last SELECT of the function decides), then all
// three slots of item 5 (receivables and payables, keyed like item 4) and of item 6 (vouchers
// against inventory activity). Same requirements and errors as DeriveGoodsLedgerSql.
void DeriveAccountLedgerSql(HostContext& ctx, ProgressScreen& screen);

// The item's key columns and their positions ("1,2,3"): KeyColumns when set (items 5 and 6, with
// their fixed positions), otherwise the GROUP BY list of SelectSql without qualifiers (both empty
// when the SELECT has no GROUP BY). Throws std::out_of_range for an item outside 1 to 6.
void GetKeyColumns(const CheckItemTable& items, int item, std::string& columns,
                   std::string& positions);

// The ledger's column list in the order of the result's fields; may shorten `sql` by its last
// summed columns when the result has fields the ledger lacks (one per field from the first
// unknown one on). Items 5 and 6 give their InsertColumns unchanged.
std::string MatchInsertColumns(const db::Recordset& rs, const CheckItemTable& items, int item,
                               std::string& sql);

}  // namespace tallyvet
