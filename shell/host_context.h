// The state shared by everything the component does on behalf of one host call: the connection,
// the account-set owner, the account set's start date, the field dictionary and the check items.
#pragma once

#include <array>
#include <memory>
#include <string>

#include "db/connection.h"
#include "dictionary/field_dictionary.h"

namespace tallyvet {

// The six reconciliation items, as five parallel arrays addressed by item number 1 to 6.
struct CheckItemTable {
  std::array<std::string, 6> LedgerTable;
  std::array<std::string, 6> FunctionHeader;
  std::array<std::string, 6> KeyColumns;
  std::array<std::string, 6> SelectSql;
  std::array<std::string, 6> InsertColumns;
  // Why the derived SQL of an item must not run (named unit, function and what is missing), or
  // empty. Set by the derivations; an item with a refusal is neither compared nor rebuilt.
  std::array<std::string, 6> Refusal;

  // Position of an item number in the arrays; throws std::out_of_range outside 1 to 6.
  static std::size_t Index(int item);
};

// Where a reconciliation item's two sides are merged: by the host's kind (kHostDefault: on a
// database server the server compares, on a SQLite file this process), or as asked.
enum class ComparePlace { kHostDefault, kClient, kServer };

struct HostContext {
  std::shared_ptr<db::Connection> connection;
  std::string user;              // the account-set owner, as passed by the host
  std::string AccountStartDate;  // Business.strStartDate, set by the launcher at load
  FieldDictionary dictionary;
  CheckItemTable CheckItems;
  ComparePlace comparePlace = ComparePlace::kHostDefault;

  db::Connection& conn() const;  // throws std::logic_error when no connection is set
};

// The process-wide context the component's entry points work on.
HostContext& CurrentHostContext();

// Runs one statement on the context's connection: true when it ran, false on any error, which is
// absorbed here on purpose (callers mark the row or list the correction instead).
bool ExecuteSql(HostContext& ctx, const std::string& strSql);

}  // namespace tallyvet
