#include "ledger_engine/derivation.h"

#include <array>
#include <vector>

#include "ledger_engine/check_items.h"
#include "ledger_engine/key_conditions.h"

namespace tallyvet {

namespace {

// The row's source line exactly as stored: case, blanks and its line break kept.
std::string SourceText(const db::Recordset& rs) {
  return rs.Fields()["Text"].Value().AsText();
}

// Without its last character (the line break the stored source ends every line with).
std::string DropLastChar(std::string text) {
  if (!text.empty()) text.pop_back();
  return text;
}

std::string SourceQuery(const HostContext& ctx, std::string_view objectName) {
  return "SELECT Text FROM ALL_SOURCE WHERE OWNER=" + QuoteSqlText(UpperAscii(ctx.user)) +
         " AND NAME='" + std::string(objectName) + "' ORDER BY LINE";
}

// Called for every return of NextSourceStatement that found a statement.
using StatementHandler = void (*)(db::Recordset& rs, CheckItemTable& items, int item,
                                  const std::string& keyword, std::string& pending);

// The item whose FunctionHeader the trimmed, upper-cased line without its break is, or 0.
int HeaderItem(const CheckItemTable& items, const std::string& line) {
  int found = 0;
  for (int candidate = 1; candidate <= 6; ++candidate) {
    const std::string& header = items.FunctionHeader[CheckItemTable::Index(candidate)];
    if (!header.empty() && line == header) found = candidate;
  }
  return found;
}

// What the walk over one stored object saw.
struct SourceScan {
  std::size_t rows = 0;
  std::array<bool, 7> headerSeen{};  // by item number
};

// Reads one stored object: a walk to the end to move the progress bar while the rows arrive (and
// to note which function headers the unit holds), then one scan from the first row that hands
// every statement after a known header to `onStatement`.
SourceScan ScanSource(HostContext& ctx, ProgressScreen& screen, std::string_view objectName,
                      StatementHandler onStatement) {
  auto rs = ctx.conn().OpenResultset(SourceQuery(ctx, objectName), 3, 3);
  ProgressStepper stepper(screen);
  SourceScan scan;
  for (; !rs->Eof(); rs->MoveNext()) {
    stepper.Step();
    ++scan.rows;
    scan.headerSeen[static_cast<std::size_t>(
        HeaderItem(ctx.CheckItems, DropLastChar(UpperAscii(TrimBlanks(SourceText(*rs))))))] = true;
  }
  if (scan.rows > 0) {
    rs->MoveFirst();
    int item = 0;
    std::string keyword;
    std::string pending;
    while (!rs->Eof()) {
      stepper.Step();
      NextSourceStatement(*rs, ctx.CheckItems, item, keyword, pending);
      if (!keyword.empty()) onStatement(*rs, ctx.CheckItems, item, keyword, pending);
      if (!rs->Eof()) rs->MoveNext();
    }
  }
  rs->Close();
  return scan;
}

// Sets the item's Refusal when its source, its function or its cut statement will not do.
void JudgeDerivedItem(HostContext& ctx, const SourceScan& scan, int item, std::string_view unit) {
  std::string& refusal = ctx.CheckItems.Refusal[CheckItemTable::Index(item)];
  if (scan.rows == 0) {
    refusal = NoStoredSourceMessage(ctx, {unit});
  } else if (!scan.headerSeen[static_cast<std::size_t>(item)]) {
    refusal = std::string(unit) + " of owner " + UpperAscii(ctx.user) + " has no function " +
              std::string(FunctionName(item)) + " (no line reads \"" +
              ctx.CheckItems.FunctionHeader[CheckItemTable::Index(item)] + "\")";
  } else if (const std::string problem = CheckDerivedStatement(ctx.CheckItems, item);
             !problem.empty()) {
    refusal = StatementOrigin(item) + ": " + problem;
  }
}

// The derived SELECT is cut from a function that works on one date range; opening the range to
// every date (and dropping the function's own ordering) lets the callers narrow it as they need.
std::string OpenDateRange(std::string sql) {
  sql = ReplaceAll(sql, "P_BEGINDATE", "' '");
  sql = ReplaceAll(sql, "P_ENDDATE", "'9999-12-31'");
  if (const auto cut = sql.find("ORDER BY"); cut != std::string::npos) sql.erase(cut);
  return sql;
}

void OnGoodsStatement(db::Recordset& rs, CheckItemTable& items, int item,
                      const std::string& keyword, std::string& pending) {
  if (item < 1 || item > 3) return;
  const std::size_t i = CheckItemTable::Index(item);
  // Only the first accepted statement of each kind counts; a later one is left unread, and its
  // pending SELECT line carries over to whichever collection runs next.
  if (keyword == "SELECT" && items.SelectSql[i].empty()) {
    items.SelectSql[i] = UpperAscii(CollectSourceStatement(rs, "SELECT", ";", pending));
  } else if (keyword == "INSERT" && items.InsertColumns[i].empty()) {
    items.InsertColumns[i] = UpperAscii(CollectSourceStatement(rs, "(", ")", pending));
  }
}

void OnAccountStatement(db::Recordset& rs, CheckItemTable& items, int item,
                        const std::string& keyword, std::string& pending) {
  if (item < 4 || item > 6) return;
  const std::size_t i = CheckItemTable::Index(item);
  // The last SELECT of the function decides, even when it empties the slot again.
  if (keyword == "SELECT") {
    items.SelectSql[i] = UpperAscii(CollectSourceStatement(rs, "SELECT", ";", pending));
  } else if (keyword == "INSERT" && items.InsertColumns[i].empty()) {
    items.InsertColumns[i] = UpperAscii(CollectSourceStatement(rs, "(", ")", pending));
  }
}

// Item 5's select and group lists: the item 4 keys with the receivable/payable detail's own
// expressions for the flagged analysis columns, the account and the source organisation.
struct KeyReplacement {
  const char* column;
  const char* selectAs;
  const char* groupBy;
};

constexpr KeyReplacement kReceivableKeys[] = {
    {"LNGDEPARTMENTID", "DECODE(blnisDepartment,1,lngDepartmentID,0) As lngDepartmentID",
     "DECODE(blnisDepartment,1,lngDepartmentID,0)"},
    {"LNGEMPLOYEEID", "DECODE(blnisEmployee,1,lngEmployeeID,0) As lngEmployeeID",
     "DECODE(blnisEmployee,1,lngEmployeeID,0)"},
    {"LNGCLASSID1", "DECODE(blnisClass1,1,lngClassID1,0) As lngClassID1",
     "DECODE(blnisClass1,1,lngClassID1,0)"},
    {"LNGCLASSID2", "DECODE(blnisClass2,1,lngClassID2,0) As lngClassID2",
     "DECODE(blnisClass2,1,lngClassID2,0)"},
    {"LNGACCOUNTID", "QARAPDETAIL1.LNGACCOUNTID AS LNGACCOUNTID", "QARAPDETAIL1.LNGACCOUNTID"},
    {"LNGSOURCEORGANIZATIONID", "LNGORGANIZATIONID LNGSOURCEORGANIZATIONID", "LNGORGANIZATIONID"},
};

void BuildReceivableItem(CheckItemTable& items, const std::string& keys) {
  std::string selectList = keys;
  std::string groupList = keys;
  for (const KeyReplacement& r : kReceivableKeys) {
    selectList = ReplaceAll(selectList, r.column, r.selectAs);
    groupList = ReplaceAll(groupList, r.column, r.groupBy);
  }
  selectList +=
      ",SUM(DECODE(QARAPDetail1.intDirection,1,1,0)*dblAmount*QARAPDetail1.intDirection) "
      "dblUnVoucherDebit"
      ",SUM(DECODE(QARAPDetail1.intDirection,1,0,1)*dblAmount*QARAPDetail1.intDirection) "
      "dblUnVoucherCredit"
      ",SUM(DECODE(QARAPDetail1.intDirection,1,1,0)*dblCurrAmount*QARAPDetail1.intDirection) "
      "dblCurrencyUnVoucherDebit"
      ",SUM(DECODE(QARAPDetail1.intDirection,1,0,1)*dblCurrAmount*QARAPDetail1.intDirection) "
      "dblCurrencyUnVoucherCredit";
  const std::size_t i = CheckItemTable::Index(5);
  items.KeyColumns[i] = keys;
  items.SelectSql[i] =
      UpperAscii("SELECT " + selectList + " " + "FROM QARAPDetail1,Account " +
                 "WHERE QARAPDetail1.lngAccountID=Account.lngAccountID " + "GROUP BY " + groupList);
  items.InsertColumns[i] = UpperAscii(keys + ",dblUnVoucherDebit" + ",dblUnVoucherCredit" +
                                      ",dblCurrencyUnVoucherDebit" + ",dblCurrencyUnVoucherCredit");
}

void BuildVoucherItem(CheckItemTable& items) {
  const std::size_t i = CheckItemTable::Index(6);
  items.InsertColumns[i] = UpperAscii("strDate,lngVoucherSourceID,intVoucherNo,dblAmount");
  items.KeyColumns[i] = UpperAscii("strDate,lngVoucherSourceID,intVoucherNo");
  // Documents without a voucher get the voucher source their activity type would have produced;
  // receipt types 30 and 31 count twice.
  items.SelectSql[i] = UpperAscii(
      std::string("SELECT nvl(Voucher.strDate,' '),DECODE(nvl(Voucher.lngVoucherID,0),0,"
                  "DECODE(lngActivityTypeID,1,9,2,9,3,9,7,9,11,12,13,12,15,12,16,12,11),"
                  "lngVoucherSourceID),nvl(Voucher.strDate || strVoucherTypeName || "
                  "Lpad(intVoucherNO,4,'0'),' '),Sum((dblCostAmount+dblexpenseamount)*"
                  "DECODE(lngReceiptTypeID,30,2,31,2,1)) dblAmount ") +
      "FROM itemactivity, itemActivityDetail,Voucher,VoucherType,Item,ItemNature " +
      "Where itemactivity.lngActivityid = itemActivityDetail.lngActivityid " +
      "AND itemActivity.lngVoucherID1=Voucher.lngVoucherID(+) " +
      "AND ItemActivityDetail.lngItemID=Item.lngItemID " +
      "AND Item.lngItemNatureID=ItemNature.lngItemNatureID " + "AND strItemCategory='1' " +
      "AND Voucher.lngVoucherTypeId=VoucherType.lngVoucherTypeID(+) " +
      "AND lngactivitytypeid NOT IN (7,18,4) " +
      "GROUP BY Voucher.strDate,DECODE(nvl(Voucher.lngVoucherID,0),0,DECODE(lngActivityTypeID,"
      "1,9,2,9,3,9,7,9,11,12,13,12,15,12,16,12,11),lngVoucherSourceID),Voucher.strDate || "
      "strVoucherTypeName || Lpad(intVoucherNO,4,'0')");
}

// Removes the last summed column of the SELECT list and the separator before it.
void DropLastSummedColumn(std::string& sql) {
  const auto sum = sql.rfind("SUM(");
  const auto from = sql.find("FROM");
  if (sum == std::string::npos || from == std::string::npos) return;
  // Everything before the character that precedes "SUM(", then without the ",<line break>"
  // that closed the previous column.
  std::string head = TrimBlanks(std::string_view(sql).substr(0, sum >= 1 ? sum - 1 : 0));
  head.resize(head.size() >= 2 ? head.size() - 2 : 0);
  sql = head + " " + sql.substr(from);
}

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '$' || c == '#' || static_cast<unsigned char>(c) >= 0x80;
}

// True when `word` stands at `at` in `text` as a word of its own.
bool WordAt(std::string_view text, std::size_t at, std::string_view word) {
  if (text.substr(at, word.size()) != word) return false;
  const bool before = at == 0 || !IsNameChar(text[at - 1]);
  const std::size_t end = at + word.size();
  return before && (end == text.size() || !IsNameChar(text[end]));
}

// The select list of an upper-cased SELECT, split into its columns at the commas outside
// parentheses, quotes and comments, and whether a FROM closes the list. Empty when the text does
// not begin with SELECT.
struct SelectList {
  std::vector<std::string> columns;
  bool hasFrom = false;
};

SelectList ReadSelectList(std::string_view sql) {
  SelectList out;
  const std::size_t start = sql.find_first_not_of(" \t\r\n");
  if (start == std::string_view::npos || !WordAt(sql, start, "SELECT")) return out;
  std::string current;
  int depth = 0;
  std::size_t i = start + 6;
  while (i < sql.size()) {
    const char c = sql[i];
    if (c == '\'') {
      // A literal, doubled quotes included, is copied whole.
      const std::size_t end = db::SkipSqlLiteral(sql, i);
      current.append(sql.substr(i, end - i));
      i = end;
      continue;
    }
    if (sql.substr(i, 2) == "--") {
      const std::size_t end = sql.find('\n', i);
      i = end == std::string_view::npos ? sql.size() : end;
      continue;
    }
    if (sql.substr(i, 2) == "/*") {
      const std::size_t end = sql.find("*/", i + 2);
      i = end == std::string_view::npos ? sql.size() : end + 2;
      continue;
    }
    if (c == '(') ++depth;
    if (c == ')') --depth;
    if (depth == 0 && WordAt(sql, i, "FROM")) {
      out.hasFrom = true;
      break;
    }
    if (depth == 0 && c == ',') {
      out.columns.push_back(db::Trim(current, " \t\r\n"));
      current.clear();
    } else {
      current += c;
    }
    ++i;
  }
  out.columns.push_back(db::Trim(current, " \t\r\n"));
  return out;
}

// The names of a comma-separated column list, trimmed, empty pieces skipped.
std::vector<std::string> ListNames(std::string_view list) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string_view::npos) comma = list.size();
    std::string name = db::Trim(list.substr(start, comma - start), " \t\r\n");
    if (!name.empty()) names.push_back(std::move(name));
    start = comma + 1;
  }
  return names;
}

bool ContainsWord(std::string_view text, std::string_view word) {
  for (auto at = text.find(word); at != std::string_view::npos; at = text.find(word, at + 1)) {
    if (WordAt(text, at, word)) return true;
  }
  return false;
}

// A select column without its alias ("DECODE(A,1,B,0) AS LNGX" -> "DECODE(A,1,B,0)"): the text
// before the last blank when what follows it is a plain name and what precedes it is not a
// bare operator.
std::string WithoutAlias(const std::string& column) {
  const auto blank = column.find_last_of(" \t\r\n");
  if (blank == std::string::npos) return column;
  const std::string alias = column.substr(blank + 1);
  for (const char c : alias) {
    if (!IsNameChar(c)) return column;
  }
  std::string expression = db::Trim(std::string_view(column).substr(0, blank), " \t\r\n");
  if (expression.ends_with(" AS"))
    expression = db::Trim(expression.substr(0, expression.size() - 3), " \t\r\n");
  return expression.empty() ? column : expression;
}

std::string JoinNames(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& name : names) out += (out.empty() ? "" : ", ") + name;
  return out;
}

}  // namespace

void NextSourceStatement(db::Recordset& rs, const CheckItemTable& items, int& item,
                         std::string& keyword, std::string& pending) {
  keyword.clear();
  while (!rs.Eof()) {
    const std::string raw = UpperAscii(TrimBlanks(SourceText(rs)));
    const std::string line = DropLastChar(raw);
    if (const int header = HeaderItem(items, line); header > 0) item = header;
    // Every statement after a header belongs to that header's item until the next header.
    if (item > 0) {
      if (line.starts_with("SELECT")) {
        keyword = "SELECT";
        pending = raw;
        return;
      }
      if (line.starts_with("INSERT")) {
        keyword = "INSERT";
        return;
      }
    }
    rs.MoveNext();
  }
}

std::string CollectSourceStatement(db::Recordset& rs, std::string_view startMarker,
                                   std::string_view endMarker, std::string& pending) {
  std::string result;
  bool started = false;
  bool ended = false;
  int sumLines = 0;
  while (!rs.Eof()) {
    std::string raw;
    if (!pending.empty()) {
      raw = std::move(pending);
      pending.clear();
    } else {
      raw = SourceText(rs);
    }
    std::string line = TrimBlanks(DropLastChar(UpperAscii(TrimBlanks(raw))));

    if (line.starts_with(startMarker) || line.ends_with(startMarker)) {
      // A line that ends with the opening marker ("SELECT" alone, "INSERT INTO T (") carries
      // nothing of the statement itself.
      if (line.ends_with(startMarker)) {
        line.clear();
        raw.clear();
      }
      if (startMarker == "(") {
        line = ReplaceAll(line, "(", "");
        raw = ReplaceAll(raw, "(", "");
      }
      started = true;
    }
    if (line.starts_with("SUM")) ++sumLines;
    if (!line.empty() && line.ends_with(endMarker)) {
      line = ReplaceAll(line, endMarker, "");
      raw = ReplaceAll(raw, endMarker, "");
      ended = true;
    }
    if (!line.empty() && started) result += raw;
    if (ended) break;
    rs.MoveNext();
  }
  // A ledger SELECT sums at least three columns; anything less is some other query of the function.
  if (startMarker == "SELECT" && sumLines < 3) return {};
  return result;
}

bool DeriveGoodsLedgerSql(HostContext& ctx, ProgressScreen& screen) {
  const db::StatementScope deriving(db::Purpose::kDerive);
  const SourceScan scan = ScanSource(ctx, screen, kGoodsUnit, OnGoodsStatement);
  CheckItemTable& items = ctx.CheckItems;
  // A ledger row without a position group is kept under group 0.
  std::string& itemLedger = items.SelectSql[CheckItemTable::Index(1)];
  itemLedger = ReplaceAll(itemLedger, ",POSITION.LNGPOSITIONGROUPID,",
                          ",NVL(POSITION.LNGPOSITIONGROUPID,0),");
  for (int item = 1; item <= 3; ++item) {
    std::string& sql = items.SelectSql[CheckItemTable::Index(item)];
    sql = OpenDateRange(sql);
    JudgeDerivedItem(ctx, scan, item, kGoodsUnit);
  }
  return scan.rows > 0;
}

bool DeriveAccountLedgerSql(HostContext& ctx, ProgressScreen& screen) {
  const db::StatementScope deriving(db::Purpose::kDerive);
  const SourceScan scan = ScanSource(ctx, screen, kAccountUnit, OnAccountStatement);
  CheckItemTable& items = ctx.CheckItems;
  std::string& generalLedger = items.SelectSql[CheckItemTable::Index(4)];
  generalLedger = OpenDateRange(generalLedger);
  JudgeDerivedItem(ctx, scan, 4, kAccountUnit);

  std::string keys;
  std::string positions;
  GetKeyColumns(items, 4, keys, positions);
  keys = UpperAscii(keys);
  BuildReceivableItem(items, keys);
  // Item 5 is keyed by item 4's GROUP BY: without a sound item 4 its statement means nothing.
  if (const std::string& general = items.Refusal[CheckItemTable::Index(4)]; !general.empty()) {
    items.Refusal[CheckItemTable::Index(5)] =
        "item 5 takes its key columns from item 4: " + general;
  }
  BuildVoucherItem(items);
  return scan.rows > 0;
}

std::string SourceLineNaming(HostContext& ctx, int item, std::string_view name) {
  const std::string_view unit = item <= 3 ? kGoodsUnit : kAccountUnit;
  auto rs = ctx.conn().OpenResultset(
      "SELECT LINE,Text FROM ALL_SOURCE WHERE OWNER=" + QuoteSqlText(UpperAscii(ctx.user)) +
          " AND NAME='" + std::string(unit) + "' ORDER BY LINE",
      3);
  const std::string& header = ctx.CheckItems.FunctionHeader[CheckItemTable::Index(item)];
  bool inFunction = false;
  std::string found;
  for (; !rs->Eof() && found.empty(); rs->MoveNext()) {
    const std::string line = DropLastChar(UpperAscii(TrimBlanks(SourceText(*rs))));
    if (!inFunction) {
      inFunction = line == header;
      continue;
    }
    if (ContainsWord(line, name)) {
      found = std::string(unit) + " line " + rs->Fields()["LINE"].Value().AsText() + ": " +
              db::Trim(DropLastChar(SourceText(*rs)), " \t\r\n");
    }
  }
  rs->Close();
  return found;
}

void GetKeyColumns(const CheckItemTable& items, int item, std::string& columns,
                   std::string& positions) {
  columns.clear();
  positions.clear();
  const std::size_t i = CheckItemTable::Index(item);
  if (!items.KeyColumns[i].empty()) {
    columns = items.KeyColumns[i];
    if (item == 6) {
      positions = "1,2,3";
    } else if (item == 5) {
      // Item 5 has one key column more for each organisation column of the general ledger.
      positions = columns.find("LNGORGANIZATIONID") != std::string::npos ? "1,2,3,4,5,6,7,8,9,10"
                                                                         : "1,2,3,4,5,6,7,8";
    }
    return;
  }

  const std::string& sql = items.SelectSql[i];
  const auto groupBy = sql.find("GROUP BY");
  // Without a GROUP BY the SELECT names no keys.
  if (groupBy == std::string::npos) return;
  // The list starts after "GROUP BY" and the one character that follows it.
  std::string list = groupBy + 9 <= sql.size() ? sql.substr(groupBy + 9) : std::string();
  if (const auto orderBy = list.find("ORDER BY"); orderBy != std::string::npos) {
    list.erase(orderBy);
  }

  std::vector<std::string> pieces;
  std::size_t start = 0;
  for (auto comma = list.find(','); comma != std::string::npos; comma = list.find(',', start)) {
    pieces.push_back(list.substr(start, comma - start));
    start = comma + 1;
  }
  pieces.push_back(list.substr(start));

  int position = 0;
  for (std::size_t p = 0; p < pieces.size(); ++p) {
    const std::string& piece = pieces[p];
    if (piece.empty()) continue;
    const auto dot = piece.find('.');
    columns += dot == std::string::npos ? piece : piece.substr(dot + 1);
    positions += std::to_string(++position);
    if (p + 1 < pieces.size()) {
      columns += ',';
      positions += ',';
    }
  }
}

std::string LedgerColumnOf(const std::string& field) {
  if (field == "NVL(POSITION.LNGPOSITIONGROUPID,0)") return "LNGPOSITIONGROUPID";
  // The host's function selects this column under a misspelt alias.
  if (field == "DBLBORROWPURCHASEDAMOUNT") return "DBLBORROWPURCHASEAMOUNT";
  return field;
}

std::string MatchInsertColumns(const db::Recordset& rs, const CheckItemTable& items, int item,
                               std::string& sql) {
  const std::size_t i = CheckItemTable::Index(item);
  // Items 5 and 6 are built here with their lists already in the SELECT's order.
  if (item == 5 || item == 6) return items.InsertColumns[i];

  const std::string& insertColumns = items.InsertColumns[i];
  const std::size_t count = rs.Fields().Count();
  std::string result;
  bool first = true;
  for (std::size_t f = 0; f < count; ++f) {
    const std::string& name = rs.Fields()[f].Name();
    std::string column;
    if (insertColumns.find(name) != std::string::npos) {
      column = name;
    } else if (const std::string renamed = LedgerColumnOf(name); renamed != name) {
      column = renamed;
    } else {
      // The ledger has no column for this field or any after it: the SELECT loses as many
      // trailing summed columns, so that the INSERT's columns and values still line up.
      for (std::size_t k = count - f; k > 0; --k) DropLastSummedColumn(sql);
      return result;
    }
    if (!first) result += ',';
    result += column;
    first = false;
  }
  return result;
}

std::string StatementOrigin(int item) {
  return std::string(item <= 3 ? kGoodsUnit : kAccountUnit) + "." + std::string(FunctionName(item));
}

std::string CheckDerivedStatement(const CheckItemTable& items, int item) {
  const std::size_t i = CheckItemTable::Index(item);
  const std::string& sql = items.SelectSql[i];
  if (db::Trim(sql, " \t\r\n").empty()) {
    return "no ledger SELECT (one with at least three SUM lines) follows the function header";
  }
  if (ListNames(items.InsertColumns[i]).empty()) {
    return "no INSERT column list follows the function header";
  }
  const SelectList select = ReadSelectList(sql);
  if (select.columns.empty()) return "the statement does not begin with SELECT";
  if (!select.hasFrom) return "the statement has no FROM";
  const auto groupBy = sql.find("GROUP BY");
  if (groupBy == std::string::npos) return "the statement has no GROUP BY";

  const std::vector<std::string> insert = ListNames(items.InsertColumns[i]);
  if (select.columns.size() < insert.size()) {
    return "the SELECT gives " + std::to_string(select.columns.size()) +
           " columns, the INSERT names " + std::to_string(insert.size());
  }
  // The key columns are those the SELECT gives before its first sum; each must be grouped by,
  // or one ledger row would stand for several keys.
  std::size_t keys = 0;
  while (keys < select.columns.size() && keys < insert.size() &&
         select.columns[keys].find("SUM(") == std::string::npos) {
    ++keys;
  }
  if (keys == 0) return "the SELECT gives no key column before its first SUM";
  const std::string_view grouped = std::string_view(sql).substr(groupBy + 8);
  std::vector<std::string> missing;
  for (std::size_t k = 0; k < keys; ++k) {
    // Grouped by the ledger's name for it, or by the expression the SELECT gives under it.
    const std::string expression = WithoutAlias(select.columns[k]);
    if (!ContainsWord(grouped, insert[k]) && !ContainsWord(grouped, expression)) {
      missing.push_back(insert[k]);
    }
  }
  if (!missing.empty()) return "the GROUP BY does not name the key column(s) " + JoinNames(missing);
  return {};
}

std::string NoStoredSourceMessage(HostContext& ctx, const std::vector<std::string_view>& units) {
  std::string names;
  std::string quoted;
  for (const std::string_view unit : units) {
    names += (names.empty() ? "" : ", ") + std::string(unit);
    quoted += (quoted.empty() ? "" : ",") + QuoteSqlText(unit);
  }
  std::string message = "no stored source for owner " + UpperAscii(ctx.user) + " (looked for " +
                        names + " in ALL_SOURCE)";
  try {
    std::vector<std::string> owners;
    auto rs = ctx.conn().OpenResultset(
        "SELECT DISTINCT OWNER FROM ALL_SOURCE WHERE NAME IN (" + quoted + ") ORDER BY OWNER", 3);
    for (; !rs->Eof(); rs->MoveNext()) owners.push_back(rs->Fields()[0].Value().AsText());
    rs->Close();
    if (!owners.empty()) message += "; the source is there for owner " + JoinNames(owners);
  } catch (const db::Error&) {
    // The hint about other owners is a courtesy; the message stands without it.
  }
  return message;
}

void RequireRunnableStatement(const CheckItemTable& items, int item) {
  const std::string& refusal = items.Refusal[CheckItemTable::Index(item)];
  if (!refusal.empty()) throw DerivationRefused(refusal);
}

std::vector<std::string> ColumnsLeftOut(const db::Recordset& rs, std::string_view matched) {
  std::vector<std::string> left;
  const std::size_t kept = ListNames(matched).size();
  for (std::size_t f = kept; f < rs.Fields().Count(); ++f) left.push_back(rs.Fields()[f].Name());
  return left;
}

std::string ColumnsLeftOutNotice(int item, const std::vector<std::string>& columns,
                                 std::string_view what) {
  return StatementOrigin(item) + ": the ledger has no column for " + JoinNames(columns) +
         "; left out of the " + std::string(what);
}

std::string ColumnsBlankedMessage(int item, const std::vector<std::string>& columns,
                                  std::string_view where) {
  return StatementOrigin(item) + ": the rebuild would empty the ledger's column(s) " +
         JoinNames(columns) +
         ": the stored function's SELECT and its INSERT column list are out of step" +
         (where.empty() ? std::string() : " from " + std::string(where));
}

}  // namespace tallyvet
