// The key of a difference as data: the ledger's key column names with the row's values, read
// back from the key condition the comparison wrote. The command line prints them as JSON.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "db/value.h"
#include "ledger_engine/difference.h"
#include "shell/host_context.h"

namespace tallyvet {

// One "column=value" term of a key condition, as written.
struct KeyTerm {
  std::string column;
  std::string literal;
};

// The terms of a condition joined by " AND "; the split ignores " AND " and "=" inside quoted
// literals and parentheses, so expression columns and text values with blanks stay whole.
std::vector<KeyTerm> ConditionTerms(std::string_view condition);

// A literal as a value: a quoted text without its quotes (doubled quotes single), a whole number
// as an integer, another number as a double, anything else as its text.
db::Value LiteralValue(std::string_view literal);

// The difference's key: the first keyCount names of the item's InsertColumns (the ledger's own
// names, upper-cased) paired with the condition's values. When the condition holds fewer terms
// (item 5 leaves out numeric keys that are 0), the terms are matched by their ledger-side names
// and the missing keys are 0. Without InsertColumns the condition's own ledger-side names serve.
std::vector<std::pair<std::string, db::Value>> DifferenceKeys(const CheckItemTable& items,
                                                              const DifferenceRecord& record);

}  // namespace tallyvet
