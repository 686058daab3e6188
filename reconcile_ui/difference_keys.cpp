#include "reconcile_ui/difference_keys.h"

#include <charconv>

#include "ledger_engine/check_items.h"
#include "ledger_engine/key_conditions.h"
#include "reconcile_ui/corrections.h"

namespace tallyvet {

namespace {

// The ledger's name for a condition's column: qualifier and NVL wrapper dropped.
std::string LedgerName(const std::string& column) {
  std::string columns;
  std::string values;
  SplitCondition(column + "=0", columns, values);
  return UpperAscii(columns);
}

}  // namespace

std::vector<KeyTerm> ConditionTerms(std::string_view condition) {
  std::vector<KeyTerm> terms;
  if (condition.empty()) return terms;
  constexpr std::string_view kAnd = " AND ";
  std::size_t start = 0;
  std::size_t equals = std::string_view::npos;
  int depth = 0;
  auto close = [&](std::size_t end) {
    const std::string_view term = condition.substr(start, end - start);
    if (equals == std::string_view::npos) {
      terms.push_back({std::string(term), ""});
    } else {
      terms.push_back({std::string(term.substr(0, equals - start)),
                       std::string(term.substr(equals - start + 1))});
    }
  };
  std::size_t i = 0;
  while (i < condition.size()) {
    const char c = condition[i];
    if (c == '\'') {
      i = db::SkipSqlLiteral(condition, i);
      continue;
    }
    if (c == '(') ++depth;
    if (c == ')') --depth;
    if (depth == 0 && c == '=' && equals == std::string_view::npos) equals = i;
    if (depth == 0 && condition.substr(i, kAnd.size()) == kAnd) {
      close(i);
      i += kAnd.size();
      start = i;
      equals = std::string_view::npos;
      continue;
    }
    ++i;
  }
  close(condition.size());
  return terms;
}

db::Value LiteralValue(std::string_view literal) {
  if (literal.size() >= 2 && literal.front() == '\'' && literal.back() == '\'') {
    return db::Value(ReplaceAll(literal.substr(1, literal.size() - 2), "''", "'"));
  }
  std::int64_t whole = 0;
  const char* end = literal.data() + literal.size();
  if (auto r = std::from_chars(literal.data(), end, whole); r.ec == std::errc() && r.ptr == end) {
    return db::Value(whole);
  }
  double number = 0;
  if (auto r = std::from_chars(literal.data(), end, number); r.ec == std::errc() && r.ptr == end) {
    return db::Value(number);
  }
  return db::Value(literal);
}

std::vector<std::pair<std::string, db::Value>> DifferenceKeys(const CheckItemTable& items,
                                                              const DifferenceRecord& record) {
  const std::vector<KeyTerm> terms = ConditionTerms(record.condition);
  std::vector<std::string> names;
  if (record.item >= 1 && record.item <= 6) {
    names = SplitSqlList(UpperAscii(items.InsertColumns[CheckItemTable::Index(record.item)]));
  }
  if (names.size() > static_cast<std::size_t>(record.keyCount)) {
    names.resize(static_cast<std::size_t>(record.keyCount));
  }
  std::vector<std::pair<std::string, db::Value>> keys;
  if (names.size() != static_cast<std::size_t>(record.keyCount) || names.empty()) {
    for (const KeyTerm& t : terms) keys.emplace_back(LedgerName(t.column), LiteralValue(t.literal));
    return keys;
  }
  if (terms.size() == names.size()) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      keys.emplace_back(names[i], LiteralValue(terms[i].literal));
    }
    return keys;
  }
  for (const std::string& name : names) {
    db::Value value(std::int64_t{0});
    for (const KeyTerm& t : terms) {
      if (LedgerName(t.column) == name) {
        value = LiteralValue(t.literal);
        break;
      }
    }
    keys.emplace_back(name, value);
  }
  return keys;
}

}  // namespace tallyvet
