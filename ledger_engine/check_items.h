// The six reconciliation items and their fixed contents, plus the few text operations that every
// part of the engine uses to build and patch the host's SQL.
#pragma once

#include <string>
#include <string_view>

#include "shell/host_context.h"

namespace tallyvet {

// Builds the field dictionary, sets LedgerTable and FunctionHeader (upper-cased) of items 1 to 6
// and empties KeyColumns, SelectSql and InsertColumns of all six.
// Requires nothing of the context but its dictionary; touches no connection.
// Throws DictionaryError only if the dictionary's own tables were inconsistent.
void InitCheckItems(HostContext& ctx);

// Item 6's LedgerTable: the voucher subquery "(SELECT ... ) QVOUCHER", upper-cased.
const std::string& VoucherSubqueryLedgerTable();

// --- Text operations shared by the engine -------------------------------------------------------
// The host's names and SQL keywords are ASCII, and the derived SQL is compared and patched as
// exact, case-sensitive text; these never touch a byte outside ASCII, so Chinese text in literals
// and captions survives them byte for byte.

// ASCII letters upper-cased, every other byte unchanged.
std::string UpperAscii(std::string_view text);

// Leading and trailing blanks (" " only, as the host's Trim) removed; tabs and line breaks stay.
std::string TrimBlanks(std::string_view text);

// Every occurrence of `from`, scanning left to right without overlap, replaced by `to`; the
// replacement is never rescanned. An empty `from` leaves the text unchanged.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

}  // namespace tallyvet
