#include "ledger_engine/document_lines.h"

#include "db/text.h"

namespace tallyvet {

using db::ReplaceAll;
using db::TrimBlanks;

std::string EmptyLiteralsAsBlank(std::string_view condition) {
  std::string out;
  std::size_t i = 0;
  while (i < condition.size()) {
    if (condition[i] != '\'') {
      out += condition[i++];
      continue;
    }
    std::size_t end = i + 1;  // one past the literal's closing quote
    while (end < condition.size()) {
      if (condition[end] == '\'' && end + 1 < condition.size() && condition[end + 1] == '\'') {
        end += 2;
      } else if (condition[end] == '\'') {
        ++end;
        break;
      } else {
        ++end;
      }
    }
    const std::string_view literal = condition.substr(i, end - i);
    out += literal == "''" ? std::string_view("' '") : literal;
    i = end;
  }
  return out;
}

std::string DocumentLinesStatement(std::string_view selectSql, int item, std::string_view condition,
                                   std::string_view selectPrefix) {
  std::string body;
  std::string joiner = " AND ";
  std::string tail;
  const auto groupBy = selectSql.find("GROUP BY");
  if (groupBy != std::string_view::npos) {
    body = selectSql.substr(0, groupBy);
  } else {
    // No grouping: every document line of the whole statement, narrowed to the row's keys.
    const auto orderBy = selectSql.find("ORDER BY");
    body = selectSql.substr(0, orderBy);
    if (orderBy != std::string_view::npos) {
      tail = " " + std::string(selectSql.substr(orderBy));
      body = TrimBlanks(body);
    }
    if (body.find("WHERE") == std::string::npos) joiner = " WHERE ";
  }
  std::string where = EmptyLiteralsAsBlank(condition);
  if (item == 5) {
    // Item 5's SELECT names its organisation a second time as LNGSOURCEORGANIZATIONID; a WHERE
    // cannot see that alias (Oracle and PostgreSQL refuse it, only SQLite looks it up), so the
    // documents are found by the column behind it.
    where = " " + where;
    where = ReplaceAll(where, " LNGSOURCEORGANIZATIONID=", " LNGORGANIZATIONID=");
    where.erase(0, 1);
  }
  std::string sql = ReplaceAll(body, "SUM(", "(") + joiner + where + tail;
  return ReplaceAll(sql, "SELECT", selectPrefix);
}

}  // namespace tallyvet
