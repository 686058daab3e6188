// The Oracle translation on any text: it never throws, never changes the text of a string literal
// or a comment (it may only add empty literals of its own), keeps balanced parentheses balanced,
// and leaves its own output as it is.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "db/sql_translate.h"

namespace {

// The literals and comments of a statement in their order, and whether the parentheses outside
// them balance. Identifiers in double quotes are skipped whole (the translation writes the old
// text of a column it changes as such an alias, literals included).
struct Lexed {
  std::vector<std::string> literals;
  std::vector<std::string> comments;
  bool balanced = true;
};

Lexed Lex(const std::string& sql) {
  Lexed out;
  int depth = 0;
  std::size_t i = 0;
  const auto quoted = [&](char quote) {
    std::size_t end = i + 1;
    while (end < sql.size()) {
      if (sql[end] != quote) {
        ++end;
      } else if (end + 1 < sql.size() && sql[end + 1] == quote) {
        end += 2;
      } else {
        ++end;
        break;
      }
    }
    const std::string text = sql.substr(i, end - i);
    i = end;
    return text;
  };
  while (i < sql.size()) {
    const char c = sql[i];
    if (c == '\'') {
      const std::string literal = quoted('\'');
      if (literal != "''") out.literals.push_back(literal);
    } else if (c == '"') {
      quoted('"');
    } else if (sql.compare(i, 2, "--") == 0) {
      const std::size_t end = sql.find('\n', i);
      out.comments.push_back(sql.substr(i, end == std::string::npos ? end : end - i));
      i = end == std::string::npos ? sql.size() : end;
    } else if (sql.compare(i, 2, "/*") == 0) {
      const std::size_t end = sql.find("*/", i + 2);
      const std::size_t stop = end == std::string::npos ? sql.size() : end + 2;
      out.comments.push_back(sql.substr(i, stop - i));
      i = stop;
    } else {
      if (c == '(') ++depth;
      if (c == ')' && --depth < 0) out.balanced = false;
      ++i;
    }
  }
  if (depth != 0) out.balanced = false;
  return out;
}

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string sql(reinterpret_cast<const char*>(data), size);
  const std::string once = tallyvet::db::sql::TranslateOracle(sql, "ACME");
  const Lexed before = Lex(sql);
  const Lexed after = Lex(once);
  // Text inside quotes and comments is the user's data and the optimizer's hints.
  Require(after.literals == before.literals);
  Require(after.comments == before.comments);
  if (before.balanced) Require(after.balanced);
  Require(tallyvet::db::sql::TranslateOracle(once, "ACME") == once);
  return 0;
}
