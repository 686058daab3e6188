#include "ledger_engine/key_conditions.h"

#include <stdexcept>

#include "db/text.h"
#include "db/value.h"
#include "ledger_engine/check_items.h"

namespace tallyvet {

namespace {

// Reads a condition as a run of tokens separated by "=" or a blank. A value that opens with a
// quote is read as one SQL string literal ('' inside is a quote of the value), whatever blanks or
// "=" it holds, and the token goes on to the next separator after its closing quote.
class ConditionTokens {
 public:
  explicit ConditionTokens(std::string_view text) : text_(text) {}

  // The next token and its separator (0 for the last token, which has none); false once the last
  // token has been given. The text always yields at least one token, possibly empty.
  bool Next(bool valueExpected, std::string& token, char& separator) {
    if (done_) return false;
    token.clear();
    if (valueExpected && pos_ < text_.size() && text_[pos_] == '\'') {
      const std::size_t q = db::SkipSqlLiteral(text_, pos_);
      token.assign(text_.substr(pos_, q - pos_));
      pos_ = q;
    }
    const auto end = text_.find_first_of("= ", pos_);
    if (end == std::string_view::npos) {
      token.append(text_.substr(pos_));
      separator = 0;
      pos_ = text_.size();
      done_ = true;
    } else {
      token.append(text_.substr(pos_, end - pos_));
      separator = text_[end];
      pos_ = end + 1;
    }
    return true;
  }

 private:
  std::string_view text_;
  std::size_t pos_ = 0;
  bool done_ = false;
};

// A qualified or NVL-wrapped column of the recompute SQL reduced to the ledger's column name:
// ITEMACTIVITY.LNGITEMID -> LNGITEMID, NVL(POSITION.LNGPOSITIONGROUPID,0) -> LNGPOSITIONGROUPID.
std::string LedgerColumnName(const std::string& token) {
  const auto dot = token.find('.');
  std::string name = token.substr(dot + 1);
  if (const auto paren = token.find('('); paren != std::string::npos) {
    name = token.substr(0, paren + 1) + name;
  }
  name = ReplaceAll(name, "NVL(", "");
  return ReplaceAll(name, ",0)", "");
}

}  // namespace

std::string QuoteSqlText(std::string_view text) {
  std::string quoted;
  quoted.reserve(text.size() + 2);
  quoted += '\'';
  for (const char c : text) {
    quoted += c;
    if (c == '\'') quoted += '\'';
  }
  quoted += '\'';
  return quoted;
}

std::string StillHoldsCondition(std::string_view column, double seen, std::string_view tolerance) {
  std::string sql = "ABS(NVL(";
  sql.append(column).append(",0)-(").append(db::FormatDouble(seen)).append("))<");
  return sql.append(tolerance);
}

std::string InsertWhereAbsentSql(std::string_view table, std::string_view columns,
                                 std::string_view values, std::string_view condition) {
  std::string sql = "INSERT INTO ";
  sql.append(table).append("(").append(columns).append(") SELECT ").append(values);
  sql.append(" FROM DUAL WHERE NOT EXISTS (SELECT 1 FROM ").append(table).append(" WHERE ");
  return sql.append(condition).append(")");
}

std::string LockTableSql(std::string_view table) {
  return "LOCK TABLE " + std::string(table) + " IN EXCLUSIVE MODE";
}

std::string DateRangeCondition(std::string_view column, std::string_view begin,
                               std::string_view end) {
  std::string condition(column);
  condition += ">=" + QuoteSqlText(begin) + " AND ";
  condition += column;
  condition += "<=" + QuoteSqlText(end);
  return condition;
}

std::string QualifyKeyColumn(const CheckItemTable& items, std::string_view columnName, int item) {
  const std::string& sql = items.SelectSql[CheckItemTable::Index(item)];
  const auto pos = sql.find(UpperAscii(columnName));
  if (pos == std::string::npos || pos == 0 || sql[pos - 1] != '.') return std::string(columnName);
  // The qualifier is the run before the dot of characters that sort after "0": letters, "_" and
  // the digits 1 to 9 (so an alias ending in "0" gives no qualifier).
  const std::size_t dot = pos - 1;
  std::size_t start = dot;
  while (start > 0 &&
         static_cast<unsigned char>(sql[start - 1]) > static_cast<unsigned char>('0')) {
    --start;
  }
  if (start == dot) return std::string(columnName);
  return sql.substr(start, dot - start) + "." + std::string(columnName);
}

std::string SplitCondition(std::string_view condition, std::string& keyColumns,
                           std::string& keyValues) {
  keyColumns.clear();
  keyValues.clear();
  std::string result;
  bool columnExpected = true;
  ConditionTokens tokens(condition);
  std::string token;
  char separator = 0;
  while (tokens.Next(!columnExpected, token, separator)) {
    if (!token.empty() && columnExpected && token.find('.') != std::string::npos) {
      token = LedgerColumnName(token);
    }
    const bool isAnd = UpperAscii(token) == "AND";
    if (!isAnd) {
      if (columnExpected) {
        keyColumns = keyColumns.empty() ? token : keyColumns + "," + token;
      } else if (keyValues.empty()) {
        keyValues = token;
      } else if (token == "' '") {
        // A single-blank value keeps the separator behind it in the list, as value lists
        // written by earlier versions did; it is insignificant in a VALUES list.
        keyValues += "," + token;
        if (separator != 0) keyValues += separator;
      } else {
        keyValues += "," + token;
      }
    }
    if (separator == '=') columnExpected = false;
    if (isAnd) columnExpected = true;
    result += token;
    if (separator != 0) result += separator;
  }
  return result;
}

std::string ReplaceRepeatedName(std::string_view list, std::string_view name,
                                std::string_view replacement) {
  if (name.empty()) return std::string(list);
  const auto first = list.find(name);
  if (first == std::string_view::npos || list.find(name, first + 1) == std::string_view::npos) {
    return std::string(list);
  }
  const std::size_t rest = first + name.size();
  return std::string(list.substr(0, rest)) + ReplaceAll(list.substr(rest), name, replacement);
}

std::string FieldBaseName(std::string_view columnName) {
  const auto paren = columnName.find('(');
  if (paren == std::string_view::npos) return std::string(columnName);
  if (paren + 1 == columnName.size()) {
    throw std::invalid_argument("column name '" + std::string(columnName) +
                                "' ends with its opening parenthesis");
  }
  return std::string(columnName.substr(paren + 1, columnName.size() - paren - 2));
}

std::vector<std::string> SplitSqlList(std::string_view list) {
  std::vector<std::string> items;
  if (list.empty()) return items;
  std::string current;
  bool quoted = false;
  for (const char c : list) {
    if (c == '\'') quoted = !quoted;  // a doubled quote flips twice and stays inside
    if (c == ',' && !quoted) {
      items.push_back(db::Trim(current, " \t\r\n"));
      current.clear();
    } else {
      current += c;
    }
  }
  items.push_back(db::Trim(current, " \t\r\n"));
  return items;
}

}  // namespace tallyvet
