#include "ledger_engine/server_comparison.h"

#include <algorithm>
#include <chrono>
#include <set>

#include "db/error.h"
#include "db/query_thread.h"
#include "db/text.h"
#include "ledger_engine/compare_rows.h"
#include "ledger_engine/comparison.h"
#include "ledger_engine/derivation.h"

namespace tallyvet {

namespace {

enum class Kind { kText, kNumber, kEither };

Kind KindOf(int type) {
  if (type == db::adVarChar || type == db::adChar) return Kind::kText;
  if (type == 0) return Kind::kEither;
  return Kind::kNumber;
}

std::string Numbered(const char* prefix, std::size_t i) {
  return prefix + std::to_string(i + 1);
}

std::string ColumnList(const char* prefix, std::size_t count) {
  std::string list;
  for (std::size_t i = 0; i < count; ++i) list += (i ? "," : "") + Numbered(prefix, i);
  return list;
}

// "(a OR b OR ...)", or a condition that holds for no row when there is nothing to test.
std::string AnyOf(const std::vector<std::string>& terms) {
  if (terms.empty()) return "1=0";
  std::string text = "(";
  for (std::size_t i = 0; i < terms.size(); ++i) text += (i ? " OR " : "") + terms[i];
  return text + ")";
}

// The least difference the merge could count, less a margin: the merge rounds the difference of
// the two values' decimal texts, which stand as much as half a unit of their last binary place away
// from the values the server subtracts; 0.001 and 1E-15 of the magnitudes cover that with room.
constexpr const char* kLeastCounted = "0.004";

// A compared value of a row found on one side only: counted when it rounds to a cent.
std::string CountsAlone(const std::string& column) {
  return "ABS(" + column + ")>=" + kLeastCounted;
}

// A compared value of a matched row: counted when the difference rounds to a cent. Equal values
// are told first, cheaply: most columns of a ledger row are equal (most of them 0).
std::string CountsAgainst(const std::string& r, const std::string& s) {
  return "(" + r + "<>" + s + " AND ABS(" + r + "-" + s + ")>=" + kLeastCounted + "-(ABS(" + r +
         ")+ABS(" + s + "))*1E-15)";
}

// The order of key j as the merge reads it: numbers by value, texts (and keys of no stated type)
// by their bytes.
std::string KeyOrder(const std::string& key, const SideColumns& recomputed,
                     const SideColumns& stored, std::size_t j) {
  const bool number =
      KindOf(recomputed[j].type) == Kind::kNumber && KindOf(stored[j].type) == Kind::kNumber;
  return number ? key : "NLSSORT(" + key + ",'NLS_SORT=BINARY')";
}

// A side as the statement gives it: its statement with the columns numbered, how often each row's
// key occurs on the side (1 when `unique`: the side's statement cannot repeat a key), and with
// `firstRows` the row's place in key order.
std::string Side(const char* cte, const char* prefix, std::size_t keys, bool unique, bool firstRows,
                 const SideColumns& recomputed, const SideColumns& stored) {
  std::string side =
      "(SELECT " + std::string(cte) + ".*," +
      (unique ? "1" : "COUNT(*) OVER (PARTITION BY " + ColumnList(prefix, keys) + ")") + " AS TV_N";
  if (firstRows) {
    side += ",ROW_NUMBER() OVER (ORDER BY ";
    for (std::size_t j = 0; j < keys; ++j) {
      side += (j ? "," : "") + KeyOrder(Numbered(prefix, j), recomputed, stored, j);
    }
    side += ") AS TV_I";
  }
  return side + " FROM " + cte + ")";
}

// Reads one side out of the statement's rows: those in which the side is present (its count
// column not null), its columns. The statement's cursor is this source's while it reads.
class JoinedSide final : public db::RowSource {
 public:
  JoinedSide(db::Recordset& joined, SideColumns columns, std::size_t count)
      : joined_(joined), columns_(std::move(columns)), count_(count) {}
  const std::vector<db::ColumnInfo>& Columns() const override { return columns_; }
  bool Next(db::RowWriter& row) override {
    const db::FieldList& fields = joined_.Fields();
    for (; !joined_.Eof(); joined_.MoveNext()) {
      if (fields[count_].Value().IsNull()) continue;
      for (std::size_t i = 0; i < columns_.size(); ++i) row.Add(fields[count_ + 1 + i].Value());
      joined_.MoveNext();
      return true;
    }
    return false;
  }

 private:
  db::Recordset& joined_;
  SideColumns columns_;
  std::size_t count_;  // the side's count column; its own columns follow it
};

std::unique_ptr<db::Recordset> ReadSide(db::Recordset& joined, const SideColumns& columns,
                                        std::size_t count, std::size_t spillThreshold,
                                        std::size_t& rows) {
  joined.MoveFirst();
  auto side = std::make_unique<db::Recordset>(std::make_unique<JoinedSide>(joined, columns, count),
                                              spillThreshold);
  for (rows = 0; !side->Eof(); side->MoveNext()) ++rows;
  side->MoveFirst();
  return side;
}

// Why the rows of one side keep the merge from being the join's, or empty.
std::string KeyRefusal(const db::FieldList& fields, std::size_t count, int keyCount,
                       const char* side) {
  const db::Value occurs = fields[count].Value();
  if (occurs.IsNull()) return {};
  if (occurs.AsInteger() > 1) return std::string("a key repeats among the ") + side + " rows";
  for (std::size_t j = 0; j < static_cast<std::size_t>(keyCount); ++j) {
    if (fields[count + 1 + j].Value().IsNull()) {
      return std::string("a key column of the ") + side + " rows is null";
    }
  }
  return {};
}

// The columns a statement gives, its rows not read where the connection can leave them. A type
// the database does not state (SQLite's expressions) stays 0.
SideColumns ColumnsOf(db::Connection& conn, const std::string& sql) {
  return conn.OpenRowSource(sql)->Columns();
}

// Whether a column of the side has no stated type: the recordset of the whole side takes it from
// the side's first row (text when there is none), and so must the split side, from the same row.
bool Unstated(const SideColumns& columns) {
  return std::any_of(columns.begin(), columns.end(),
                     [](const db::ColumnInfo& c) { return c.type == 0; });
}

// Where a statement's parts start at its top level (outside parentheses, quotes and comments).
struct TopLevel {
  std::vector<std::size_t> selects, froms, groupBys;
  std::vector<std::size_t> ends;  // HAVING, ORDER BY and the set operators
  bool comments = false;
};

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c == '#' || c == '.' || static_cast<unsigned char>(c) >= 0x80;
}

bool WordAt(std::string_view sql, std::size_t at, std::string_view word) {
  if (sql.compare(at, word.size(), word) != 0) return false;
  const std::size_t end = at + word.size();
  return (at == 0 || !IsNameChar(sql[at - 1])) && (end == sql.size() || !IsNameChar(sql[end]));
}

TopLevel ScanTopLevel(std::string_view sql) {
  TopLevel top;
  int depth = 0;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    const char c = sql[i];
    if (c == '\'' || c == '"') {
      const std::size_t close = sql.find(c, i + 1);
      if (close == std::string_view::npos) break;
      i = close;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      --depth;
    } else if (sql.compare(i, 2, "--") == 0 || sql.compare(i, 2, "/*") == 0) {
      top.comments = true;
    } else if (depth == 0) {
      if (WordAt(sql, i, "SELECT")) top.selects.push_back(i);
      if (WordAt(sql, i, "FROM")) top.froms.push_back(i);
      if (WordAt(sql, i, "GROUP BY")) top.groupBys.push_back(i);
      for (std::string_view end : {"HAVING", "ORDER BY", "UNION", "INTERSECT", "MINUS", "EXCEPT"}) {
        if (WordAt(sql, i, end)) top.ends.push_back(i);
      }
    }
  }
  return top;
}

// A list split at its top-level commas.
std::vector<std::string> TopLevelItems(std::string_view list) {
  std::vector<std::string> items(1);
  int depth = 0;
  char quote = 0;
  for (const char c : list) {
    if (quote != 0) {
      if (c == quote) quote = 0;
    } else if (c == '\'' || c == '"') {
      quote = c;
    } else if (c == '(') {
      ++depth;
    } else if (c == ')') {
      --depth;
    } else if (c == ',' && depth == 0) {
      items.emplace_back();
      continue;
    }
    items.back() += c;
  }
  return items;
}

// A select-list item or a GROUP BY term as an expression: without its alias ("X AS Y", "SUM(X) Y")
// and without blanks.
std::string Expression(std::string item) {
  constexpr const char* kBlanks = " \t\r\n";
  item = db::Trim(item, kBlanks);
  if (const std::size_t blank = item.find_last_of(kBlanks); blank != std::string::npos) {
    const std::string last = item.substr(blank + 1);
    const std::string before = db::Trim(item.substr(0, blank), kBlanks);
    const bool name = std::all_of(last.begin(), last.end(), IsNameChar) &&
                      last.find('.') == std::string::npos && last != "END" && last != "NULL";
    if (name && before.ends_with(" AS")) {
      item = before.substr(0, before.size() - 3);
    } else if (name && !before.empty() &&
               (IsNameChar(before.back()) || before.back() == ')' || before.back() == '\'')) {
      item = before;
    }
  }
  std::string compact;
  for (const char c : item) {
    if (std::string_view(kBlanks).find(c) == std::string_view::npos) compact += c;
  }
  return compact;
}

}  // namespace

bool KeysAreGroups(std::string_view selectSql, int keyCount) {
  const std::string sql = db::UpperAscii(selectSql);
  const TopLevel top = ScanTopLevel(sql);
  if (keyCount < 1 || top.comments || top.selects.size() != 1 ||
      top.selects[0] != sql.find_first_not_of(" \t\r\n") || top.froms.empty() ||
      top.groupBys.size() != 1) {
    return false;
  }
  std::size_t groupEnd = sql.size();
  for (const std::size_t end : top.ends) {
    // A set operator anywhere, or a HAVING or ORDER BY before the GROUP BY: no proof.
    if (end < top.groupBys[0] || (!WordAt(sql, end, "HAVING") && !WordAt(sql, end, "ORDER BY"))) {
      return false;
    }
    groupEnd = std::min(groupEnd, end);
  }
  const std::size_t listStart = top.selects[0] + 6;
  const std::vector<std::string> selected =
      TopLevelItems(std::string_view(sql).substr(listStart, top.froms[0] - listStart));
  const std::size_t groupStart = top.groupBys[0] + 8;
  const std::vector<std::string> groups =
      TopLevelItems(std::string_view(sql).substr(groupStart, groupEnd - groupStart));
  if (selected.size() < static_cast<std::size_t>(keyCount)) return false;
  std::set<std::string> keys;
  for (std::size_t j = 0; j < static_cast<std::size_t>(keyCount); ++j) {
    keys.insert(Expression(selected[j]));
  }
  // The rows of a group share every grouped expression: keys that give them all tell groups apart.
  for (const std::string& group : groups) {
    const std::string expression = Expression(group);
    if (expression.empty() || !keys.count(expression)) return false;
  }
  return true;
}

bool ComparesOnServer(const HostContext& ctx) {
  switch (ctx.comparePlace) {
    case ComparePlace::kClient:
      return false;
    case ComparePlace::kServer:
      return true;
    case ComparePlace::kHostDefault:
      break;
  }
  return ctx.conn().ServerHost();
}

std::string RecomputeProbe(std::string_view recomputeBody) {
  return db::ReplaceAll(std::string(recomputeBody), "GROUP BY", " AND 1=0 GROUP BY");
}

std::string StoredProbe(std::string_view insertColumns, std::string_view ledgerTable) {
  return "SELECT " + std::string(insertColumns) + " FROM " + std::string(ledgerTable) +
         " WHERE 1=0";
}

std::string StatementRefusal(std::string_view selectSql, int keyCount) {
  if (selectSql.find("ORDER BY") != std::string_view::npos) {
    return "its recompute statement orders its rows itself";
  }
  if (db::UpperAscii(selectSql).find("GROUP BY") == std::string::npos) {
    return "its recompute statement has no GROUP BY";
  }
  if (keyCount < 1) return "it has no key columns";
  return {};
}

std::string ShapeRefusal(int item, int keyCount, const SideColumns& recomputed,
                         const SideColumns& stored) {
  const auto keys = static_cast<std::size_t>(std::max(keyCount, 0));
  if (recomputed.size() < keys || stored.size() < keys) return "a side has fewer columns than keys";
  for (std::size_t j = 0; j < keys; ++j) {
    const Kind r = KindOf(recomputed[j].type), s = KindOf(stored[j].type);
    if (r != Kind::kEither && s != Kind::kEither && r != s) {
      return "key column " + stored[j].name + " is text on one side and a number on the other";
    }
  }
  const std::size_t compared = std::min(recomputed.size(), stored.size());
  for (std::size_t i = keys; i < compared; ++i) {
    if (!IsComparedColumn(item, db::UpperAscii(stored[i].name))) continue;
    if (KindOf(recomputed[i].type) == Kind::kText || KindOf(stored[i].type) == Kind::kText) {
      return "value column " + stored[i].name + " is text";
    }
  }
  return {};
}

std::string JoinedComparisonStatement(std::string_view recomputeBody, std::string_view storedBody,
                                      int item, int keyCount, const SideColumns& recomputed,
                                      const SideColumns& stored, bool recomputedUnique,
                                      bool firstRows) {
  const auto keys = static_cast<std::size_t>(keyCount);
  const std::size_t compared = std::min(recomputed.size(), stored.size());
  std::vector<std::string> on, recomputedOnly, storedOnly, matched, order;
  for (std::size_t j = 0; j < keys; ++j) {
    const std::string r = "R." + Numbered("R", j), s = "S." + Numbered("S", j);
    on.push_back(r + "=" + s);
    recomputedOnly.push_back(r + " IS NULL");
    storedOnly.push_back(s + " IS NULL");
    order.push_back(
        KeyOrder("NVL(" + Numbered("R", j) + "," + Numbered("S", j) + ")", recomputed, stored, j));
  }
  for (std::size_t i = keys; i < compared; ++i) {
    if (!IsComparedColumn(item, db::UpperAscii(stored[i].name))) continue;
    const std::string r = "R." + Numbered("R", i), s = "S." + Numbered("S", i);
    recomputedOnly.push_back(CountsAlone(r));
    storedOnly.push_back(CountsAlone(s));
    matched.push_back(CountsAgainst(r, s));
  }
  std::string columns = "R.TV_N AS TV_RN";
  for (std::size_t i = 0; i < recomputed.size(); ++i) columns += ",R." + Numbered("R", i);
  columns += ",S.TV_N AS TV_SN";
  for (std::size_t i = 0; i < stored.size(); ++i) columns += ",S." + Numbered("S", i);
  std::string joinOn, orderBy;
  for (std::size_t j = 0; j < keys; ++j) {
    joinOn += (j ? " AND " : "") + on[j];
    orderBy += (j ? "," : "") + order[j];
  }
  // Keys repeated among the stored rows, told by one row of its own (a stored count above 1, all
  // else null): counted apart from the join, whose inner side a window would make the server copy.
  // The keys are read in their order first: the ledger's key index then gives them sorted and the
  // server counts them as they stream by, where left to itself it often hashes the whole range
  // (three times as long, on the stock ledger).
  std::string repeated = "SELECT NULL AS TV_RN";
  for (std::size_t i = 0; i < recomputed.size(); ++i) repeated += ",NULL";
  repeated += ",COUNT(*)+1 AS TV_SN";
  for (std::size_t i = 0; i < stored.size(); ++i) repeated += ",NULL";
  const std::string storedKeys = ColumnList("S", keys);
  repeated += " FROM (SELECT 1 AS TV_X FROM (SELECT " + storedKeys +
              " FROM TV_STORED_KEYS ORDER BY " + storedKeys + ") TV_KEYS GROUP BY " + storedKeys +
              " HAVING COUNT(*)>1) TV_REPEATED HAVING COUNT(*)>0";
  return "WITH TV_RECOMPUTED (" + ColumnList("R", recomputed.size()) + ") AS (" +
         std::string(recomputeBody) + "),\nTV_STORED (" + ColumnList("S", stored.size()) +
         ") AS (" + std::string(storedBody) + "),\nTV_STORED_KEYS (" +
         ColumnList("S", stored.size()) + ") AS (" + std::string(storedBody) +
         ")\nSELECT * FROM (SELECT " + columns + "\nFROM " +
         Side("TV_RECOMPUTED", "R", keys, recomputedUnique, firstRows, recomputed, stored) +
         " R\nFULL OUTER JOIN " +
         Side("TV_STORED", "S", keys, !firstRows, firstRows, recomputed, stored) + " S ON " +
         joinOn +
         // The server cannot tell how few rows pass: written bare, an OR of many differences reads
         // as keeping most of them, and it plans (and compiles) for a large result; a CASE it does
         // not see into reads as rare.
         "\nWHERE CASE WHEN R.TV_N>1 OR S.TV_N>1" + (firstRows ? " OR R.TV_I=1 OR S.TV_I=1" : "") +
         "\n OR (S.TV_N IS NULL AND " + AnyOf(recomputedOnly) + ")\n OR (R.TV_N IS NULL AND " +
         AnyOf(storedOnly) + ")\n OR " + AnyOf(matched) + "\n THEN 1 ELSE 0 END=1\nUNION ALL\n" +
         repeated + ") TV_ROWS\nORDER BY " + orderBy;
}

JoinedSides SplitJoinedRows(db::Recordset& joined, int keyCount, const SideColumns& recomputed,
                            const SideColumns& stored, std::size_t spillThreshold) {
  JoinedSides sides;
  const std::size_t storedCount = 1 + recomputed.size();
  const db::FieldList& fields = joined.Fields();
  joined.MoveFirst();
  for (; !joined.Eof(); joined.MoveNext()) {
    sides.refusal = KeyRefusal(fields, 0, keyCount, "recomputed");
    if (sides.refusal.empty()) sides.refusal = KeyRefusal(fields, storedCount, keyCount, "stored");
    if (!sides.refusal.empty()) return sides;
  }
  std::size_t recomputedRows = 0;
  sides.recomputed = ReadSide(joined, recomputed, 0, spillThreshold, recomputedRows);
  sides.stored = ReadSide(joined, stored, storedCount, spillThreshold, sides.storedRows);
  return sides;
}

ServerSides ReadSidesOnServer(HostContext& ctx, ProgressScreen& screen, ProgressStepper& stepper,
                              int item, int keyCount, const std::string& startDate,
                              const std::string& endDate) {
  using Clock = std::chrono::steady_clock;
  ServerSides out;
  CheckItemTable& items = ctx.CheckItems;
  const std::size_t index = CheckItemTable::Index(item);
  out.reason = StatementRefusal(items.SelectSql[index], keyCount);
  if (!out.reason.empty()) return out;
  db::Connection& conn = ctx.conn();
  if (conn.TypesColumnsByFirstRow()) {
    out.reason =
        "the database's driver types each column by the first row of a statement, and "
        "the one statement's first rows are not the sides' own";
    return out;
  }
  try {
    const std::string recomputeBody =
        RecomputeBody(items.SelectSql[index], item, startDate, endDate);
    const SideColumns recomputed = ColumnsOf(conn, RecomputeProbe(recomputeBody));
    std::string unused;
    const auto shape = db::Recordset::FromRows(recomputed, {});
    items.InsertColumns[index] = MatchInsertColumns(*shape, items, item, unused);
    const std::string ledgerTable = db::UpperAscii(items.LedgerTable[index]);
    const SideColumns stored =
        ColumnsOf(conn, StoredProbe(items.InsertColumns[index], ledgerTable));
    out.reason = ShapeRefusal(item, keyCount, recomputed, stored);
    if (!out.reason.empty()) return out;

    const std::string sql = JoinedComparisonStatement(
        recomputeBody, StoredBody(items.InsertColumns[index], ledgerTable, startDate, endDate),
        item, keyCount, recomputed, stored, KeysAreGroups(items.SelectSql[index], keyCount),
        Unstated(recomputed) || Unstated(stored));
    const Clock::time_point start = Clock::now();
    const auto seconds = [&] {
      return std::chrono::duration<double>(Clock::now() - start).count();
    };
    std::unique_ptr<db::Recordset> joined;
    {
      db::QueryThread query(conn, sql);
      screen.ShowServerStatement(0);
      while (!query.WaitFor(std::chrono::milliseconds(100))) {
        stepper.Step();
        screen.ShowServerStatement(seconds());
      }
      joined = query.Take();
    }
    JoinedSides sides =
        SplitJoinedRows(*joined, keyCount, recomputed, stored, conn.SpillThreshold());
    joined->Close();
    if (!sides.refusal.empty()) {
      out.reason = sides.refusal;
      return out;
    }
    out.recomputed = std::move(sides.recomputed);
    out.stored = std::move(sides.stored);
    out.storedRows = sides.storedRows;
    out.recomputedShape = recomputed;
  } catch (const db::Error& e) {
    // Not the item's failure: merged on the client, its own statements meet any error that
    // stands, in their own words.
    out.recomputed.reset();
    out.stored.reset();
    out.reason = "the server did not run the comparison: " + e.message();
  }
  return out;
}

}  // namespace tallyvet
