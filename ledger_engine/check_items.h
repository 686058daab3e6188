// The six reconciliation items and their fixed contents, plus the text operations that every part
// of the engine uses to build and patch the host's SQL.
#pragma once

#include <string>
#include <string_view>

#include "db/text.h"
#include "shell/host_context.h"

namespace tallyvet {

// Builds the field dictionary, sets LedgerTable and FunctionHeader (upper-cased) of items 1 to 6
// and empties KeyColumns, SelectSql, InsertColumns and Refusal of all six.
// Requires nothing of the context but its dictionary; touches no connection.
// Throws DictionaryError only if the dictionary's own tables were inconsistent.
void InitCheckItems(HostContext& ctx);

// The name of the item's stored function as the host writes it ("ChangePositionDaily_New"), for
// messages. Throws std::out_of_range for an item outside 1 to 6.
std::string_view FunctionName(int item);

// Item 6's LedgerTable: the voucher subquery "(SELECT ... ) QVOUCHER", upper-cased.
const std::string& VoucherSubqueryLedgerTable();

// The engine builds and patches the host's SQL with the host's text conventions (db/text.h).
using db::ReplaceAll;
using db::TrimBlanks;
using db::UpperAscii;

}  // namespace tallyvet
