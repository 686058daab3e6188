#include "ledger_engine/causes.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <exception>
#include <map>
#include <unordered_map>

#include "db/error.h"
#include "db/text.h"
#include "ledger_engine/compare_rows.h"
#include "ledger_engine/comparison.h"
#include "ledger_engine/document_lines.h"
#include "ledger_engine/key_conditions.h"

namespace tallyvet {

const char* CauseKindName(CauseKind kind) {
  switch (kind) {
    case CauseKind::kMoved:
      return "moved";
    case CauseKind::kUnposted:
      return "unposted";
    case CauseKind::kWithdrawn:
      return "withdrawn";
    case CauseKind::kRounding:
      return "rounding";
    case CauseKind::kUnexplained:
      break;
  }
  return "unexplained";
}

const char* CauseKindCaption(CauseKind kind) {
  switch (kind) {
    case CauseKind::kMoved:
      return "单据移动";
    case CauseKind::kUnposted:
      return "单据未记账";
    case CauseKind::kWithdrawn:
      return "单据作废或取消审核";
    case CauseKind::kRounding:
      return "舍入误差";
    case CauseKind::kUnexplained:
      break;
  }
  return "原因不明";
}

namespace {

// ---------------------------------------------------------------------------------------------
// Causes from contributions

// A document's lines under one key, added up.
struct DocumentSum {
  NamedDocument named;
  bool valid = true;
  std::vector<double> values;
};

std::vector<DocumentSum> Documents(const RowToExplain& row) {
  std::vector<DocumentSum> documents;
  std::unordered_map<std::int64_t, std::size_t> at;
  for (const ContributionLine& l : row.lines) {
    // Vouchers and documents share no id space; a voucher id is kept apart by its sign.
    const std::int64_t key = l.voucher ? -l.document - 1 : l.document;
    auto [it, added] = at.emplace(key, documents.size());
    if (added) {
      documents.push_back({{l.document, l.no, l.date, l.voucher, 0, l.isVoid, l.approved},
                           l.Valid(),
                           std::vector<double>(l.values.size(), 0.0)});
    }
    DocumentSum& d = documents[it->second];
    for (std::size_t c = 0; c < l.values.size() && c < d.values.size(); ++c) {
      d.values[c] += l.values[c];
    }
  }
  return documents;
}

// Whether `values` is `sign` times the row's difference: within half a cent on a column that
// differs, and within a cent on one that does not (its own difference, unknown here, is below
// half a cent).
bool Fits(const std::vector<double>& values, const RowToExplain& row, double sign) {
  bool any = false;
  for (std::size_t c = 0; c < row.delta.size(); ++c) {
    const double value = c < values.size() ? values[c] : 0.0;
    if (row.differs[c]) {
      any = true;
      if (std::fabs(value - sign * row.delta[c]) > kCauseTolerance) return false;
    } else if (std::fabs(value) > 2 * kCauseTolerance) {
      return false;
    }
  }
  return any;
}

// Valid documents under the row that account for `sign` times its difference; failing those,
// single valid lines that do.
std::vector<NamedDocument> Candidates(const RowToExplain& row, double sign) {
  std::vector<NamedDocument> found;
  for (const DocumentSum& d : Documents(row)) {
    if (d.valid && Fits(d.values, row, sign)) found.push_back(d.named);
  }
  if (!found.empty()) return found;
  for (const ContributionLine& l : row.lines) {
    if (l.Valid() && Fits(l.values, row, sign)) {
      found.push_back({l.document, l.no, l.date, false, l.line, l.isVoid, l.approved});
    }
  }
  return found;
}

bool Opposite(const RowToExplain& a, const RowToExplain& b) {
  if (a.delta.size() != b.delta.size() || a.differs != b.differs) return false;
  bool any = false;
  for (std::size_t c = 0; c < a.delta.size(); ++c) {
    if (!a.differs[c]) continue;
    any = true;
    if (std::fabs(a.delta[c] + b.delta[c]) > kCauseTolerance) return false;
  }
  return any;
}

std::string ValueKey(const db::Value& v) {
  if (v.IsNull()) return "N";
  if (v.IsText()) return "T" + v.Text();
  return "D" + db::FormatDouble(v.AsDouble());
}

std::string KeyText(const std::vector<KeyValue>& keys,
                    const std::function<std::string(const std::string&)>& caption) {
  std::string text;
  for (const KeyValue& k : keys) {
    if (!text.empty()) text += "，";
    text += caption(k.column) + "=" + (k.value.IsNull() ? std::string() : k.value.AsText());
  }
  return text;
}

std::string DocumentText(const NamedDocument& d) {
  std::string text = (d.voucher ? "凭证" : "单据") + db::TrimBlanks(d.no);
  if (!d.date.empty() && !d.voucher) text += "（" + d.date + "）";
  if (d.line != 0) text += "中明细行" + std::to_string(d.line);
  return text;
}

std::string DocumentsText(const std::vector<NamedDocument>& documents) {
  std::string text;
  for (const NamedDocument& d : documents) {
    if (!text.empty()) text += "、";
    text += DocumentText(d);
  }
  if (documents.size() > 1) {
    text += "（" + std::to_string(documents.size()) + "个候选同样相符，无法确定是哪一个）";
  }
  return text;
}

std::string CauseText(const DifferenceCause& c, bool documentHere, const std::string& other) {
  const std::string documents = DocumentsText(c.documents);
  switch (c.kind) {
    case CauseKind::kMoved:
      return documentHere ? documents + "现在本行，账中仍记在" + other + "，移动后账未随之调整。"
                          : documents + "已从本行移到" + other + "，账中仍记在本行。";
    case CauseKind::kUnposted:
      return documents + "未登入账中（记账后录入或修改）。";
    case CauseKind::kWithdrawn:
      if (!c.documents.empty() && c.documents.front().voucher) {
        return documents + "没有对应的单据，账中仍含其金额。";
      }
      return documents + (c.documents.front().isVoid ? "已作废" : "已取消审核") +
             "，账中仍含其金额。";
    case CauseKind::kRounding:
      return "差额在本行" + std::to_string(c.lines) + "笔明细舍入到分的范围内。";
    case CauseKind::kUnexplained:
      break;
  }
  return "没有单据能说明这一差额（可能是账中数据被手工修改），请查看单据明细。";
}

}  // namespace

std::vector<DifferenceCause> AssignCauses(
    const std::vector<RowToExplain>& rows,
    const std::function<std::string(const std::string&)>& caption) {
  std::vector<DifferenceCause> causes(rows.size());
  std::vector<bool> assigned(rows.size(), false);

  // Moved: partners are rows whose keys agree in all columns but one; bucketed by the keys
  // without that column, so a run with many differing rows does not compare every pair.
  for (std::size_t k = 0; k < (rows.empty() ? 0 : rows.front().keys.size()); ++k) {
    std::map<std::string, std::vector<std::size_t>> buckets;
    for (std::size_t r = 0; r < rows.size(); ++r) {
      if (rows[r].keys.size() != rows.front().keys.size()) continue;
      std::string signature;
      for (std::size_t j = 0; j < rows[r].keys.size(); ++j) {
        if (j != k) signature += ValueKey(rows[r].keys[j].value) + '\x1f';
      }
      buckets[signature].push_back(r);
    }
    for (const auto& [signature, members] : buckets) {
      for (std::size_t i = 0; i < members.size(); ++i) {
        for (std::size_t j = i + 1; j < members.size(); ++j) {
          const std::size_t a = members[i], b = members[j];
          if (assigned[a] || assigned[b] || !Opposite(rows[a], rows[b])) continue;
          if (ValueKey(rows[a].keys[k].value) == ValueKey(rows[b].keys[k].value)) continue;
          std::vector<NamedDocument> atA = Candidates(rows[a], 1);
          std::vector<NamedDocument> atB = Candidates(rows[b], 1);
          if (atA.empty() && atB.empty()) continue;
          std::vector<NamedDocument> documents = atA;
          documents.insert(documents.end(), atB.begin(), atB.end());
          for (const auto& [self, other, here] :
               {std::tuple{a, b, !atA.empty()}, std::tuple{b, a, !atB.empty()}}) {
            DifferenceCause& c = causes[self];
            c.kind = CauseKind::kMoved;
            c.documents = documents;
            c.otherKeys = rows[other].keys;
            c.text = CauseText(c, here,
                               rows[other].description.empty() ? KeyText(c.otherKeys, caption)
                                                               : rows[other].description);
            assigned[self] = true;
          }
        }
      }
    }
  }

  for (std::size_t r = 0; r < rows.size(); ++r) {
    if (assigned[r]) continue;
    const RowToExplain& row = rows[r];
    DifferenceCause& c = causes[r];
    if (std::vector<NamedDocument> found = Candidates(row, 1); !found.empty()) {
      c.kind = CauseKind::kUnposted;
      c.documents = std::move(found);
    } else {
      for (const DocumentSum& d : Documents(row)) {
        if (!d.valid && Fits(d.values, row, -1)) c.documents.push_back(d.named);
      }
      if (!c.documents.empty()) {
        c.kind = CauseKind::kWithdrawn;
      } else {
        int lines = 0;
        for (const ContributionLine& l : row.lines) lines += l.Valid() ? 1 : 0;
        bool within = lines > 0;
        for (std::size_t col = 0; within && col < row.delta.size(); ++col) {
          if (row.differs[col] && std::fabs(row.delta[col]) > lines * kCauseTolerance) {
            within = false;
          }
        }
        c.kind = within ? CauseKind::kRounding : CauseKind::kUnexplained;
        c.lines = lines;
      }
    }
    c.text = CauseText(c, true, {});
  }
  return causes;
}

// ---------------------------------------------------------------------------------------------
// Statements

namespace {

struct DocumentColumns {
  const char* id;
  const char* line;
  const char* date;
  const char* no;
};

// How each item's documents are named: inventory documents for the stock ledgers and item 6,
// vouchers for the general ledger, receivable/payable lines for item 5.
DocumentColumns DocumentColumnsOf(int item) {
  switch (item) {
    case 4:
      return {"VOUCHER.LNGVOUCHERID", "VOUCHERDETAIL.LNGVOUCHERDETAILID", "VOUCHER.STRDATE",
              "LPAD(VOUCHER.INTVOUCHERNO,4,'0')"};
    case 5:
      return {"QARAPDETAIL1.LNGARAPDETAILID", "QARAPDETAIL1.LNGARAPDETAILID",
              "QARAPDETAIL1.STRDATE",
              "LTRIM(QARAPDETAIL1.STRRECEIPTNO) || LPAD(QARAPDETAIL1.LNGRECEIPTNO,4,'0')"};
    default:
      return {"ITEMACTIVITY.LNGACTIVITYID", "ITEMACTIVITYDETAIL.LNGACTIVITYDETAILID",
              "ITEMACTIVITY.STRDATE",
              "LTRIM(ITEMACTIVITY.STRRECEIPTNO) || LPAD(ITEMACTIVITY.LNGRECEIPTNO,4,'0')"};
  }
}

bool IsNameChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '$' ||
         c == '#';
}

// Lifts every "<qualifier.>column = <digits>" test in `sql` (upper-cased) to 1=1, outside
// literals; gives the qualified column of the first and the digits it asked for.
void LiftTest(std::string& sql, std::string_view column, std::string& expression,
              std::string& wanted) {
  std::size_t i = 0;
  while (i < sql.size()) {
    if (sql[i] == '\'') {
      i = db::SkipSqlLiteral(sql, i);
      continue;
    }
    if (sql.compare(i, column.size(), column) != 0 ||
        (i + column.size() < sql.size() && IsNameChar(sql[i + column.size()]))) {
      ++i;
      continue;
    }
    std::size_t start = i;
    while (start > 0 && IsNameChar(sql[start - 1])) --start;
    std::size_t at = i + column.size();
    while (at < sql.size() && sql[at] == ' ') ++at;
    if (at >= sql.size() || sql[at] != '=') {
      i += column.size();
      continue;
    }
    ++at;
    while (at < sql.size() && sql[at] == ' ') ++at;
    std::size_t end = at;
    while (end < sql.size() && sql[end] >= '0' && sql[end] <= '9') ++end;
    if (end == at) {
      i += column.size();
      continue;
    }
    if (expression.empty()) {
      expression = sql.substr(start, i + column.size() - start);
      wanted = sql.substr(at, end - at);
    }
    sql.replace(start, end - start, "1=1");
    i = start + 3;
  }
}

constexpr std::size_t kLineColumns = 6;

// The row's condition splits at its top-level " AND "s, outside literals and parentheses.
std::vector<std::string_view> ConditionTerms(std::string_view condition) {
  std::vector<std::string_view> terms;
  std::size_t start = 0;
  int depth = 0;
  for (std::size_t i = 0; i < condition.size();) {
    if (condition[i] == '\'') {
      i = db::SkipSqlLiteral(condition, i);
      continue;
    }
    if (condition[i] == '(') ++depth;
    if (condition[i] == ')') --depth;
    if (depth == 0 && condition.substr(i, 5) == " AND ") {
      terms.push_back(condition.substr(start, i - start));
      i += 5;
      start = i;
      continue;
    }
    ++i;
  }
  terms.push_back(condition.substr(start));
  return terms;
}

// "NVL(T.C,d)=v" with v other than d holds exactly when T.C=v does, which an index on T.C can
// serve (item 6 keys on its voucher's date so wrapped): such terms are repeated bare.
std::string IndexableTerms(std::string_view condition) {
  std::string extra;
  for (const std::string_view term : ConditionTerms(condition)) {
    if (term.substr(0, 4) != "NVL(") continue;
    const std::size_t comma = term.find(',');
    if (comma == std::string_view::npos) continue;
    const std::string_view column = term.substr(4, comma - 4);
    const std::size_t close = term.find(")=", comma);
    const std::size_t dot = column.find('.');
    const bool plain = dot == std::string_view::npos
                           ? db::IsPlainIdentifier(column)
                           : db::IsPlainIdentifier(column.substr(0, dot)) &&
                                 db::IsPlainIdentifier(column.substr(dot + 1));
    if (close == std::string_view::npos || !plain) continue;
    const std::string_view fallback = term.substr(comma + 1, close - comma - 1);
    const std::string_view value = term.substr(close + 2);
    if (value.empty() || value == fallback) continue;
    if (value.front() == '\'' && db::SkipSqlLiteral(value, 0) != value.size()) continue;
    extra += " AND " + std::string(column) + "=" + std::string(value);
  }
  return extra;
}

}  // namespace

ContributionSql ContributionStatement(const CheckItemTable& items, int item,
                                      const std::vector<std::string>& conditions,
                                      const std::string& startDate, const std::string& endDate) {
  ContributionSql out;
  std::string select = db::UpperAscii(items.SelectSql[CheckItemTable::Index(item)]);
  std::string voidColumn, statusColumn;
  LiftTest(select, "BLNISVOID", voidColumn, out.validVoid);
  LiftTest(select, "BYTSTATUS", statusColumn, out.validStatus);
  if (voidColumn.empty()) out.validVoid = "0";
  if (statusColumn.empty()) out.validStatus = "2";
  const DocumentColumns d = DocumentColumnsOf(item);
  const std::string prefix = std::string("SELECT ") + d.id + " TV_DOC," + d.line + " TV_LINE," +
                             d.date + " TV_DATE," + d.no + " TV_NO," +
                             (voidColumn.empty() ? "0" : voidColumn) + " TV_VOID," +
                             (statusColumn.empty() ? "2" : statusColumn) + " TV_STATUS,";
  // The run's date range as the recompute has it, then the row's keys.
  const std::string range = DateRangeCondition(
      item == 6 ? "NVL(ITEMACTIVITY.STRDATE,' ')" : "STRDATE", startDate, endDate);
  std::string any;
  for (const std::string& condition : conditions) {
    const std::string term = condition + IndexableTerms(EmptyLiteralsAsBlank(condition));
    if (conditions.size() == 1) {
      any = term;
    } else {
      // A blank after each "(" keeps every term's column after a blank, as the item 5 rewrite
      // of its aliased column looks for it.
      any += (any.empty() ? "(( " : " OR ( ") + term + ")";
    }
  }
  if (conditions.size() > 1) any += ")";
  out.sql = DocumentLinesStatement(select, item, range + " AND " + any, prefix);
  return out;
}

std::string NamedDocumentLinesStatement(const CheckItemTable& items, int item,
                                        std::string_view condition,
                                        const std::vector<std::int64_t>& ids,
                                        std::string_view selectPrefix) {
  std::string select = db::UpperAscii(items.SelectSql[CheckItemTable::Index(item)]);
  std::string column, wanted;
  LiftTest(select, "BLNISVOID", column, wanted);
  LiftTest(select, "BYTSTATUS", column, wanted);
  std::string in;
  for (const std::int64_t id : ids) in += (in.empty() ? "" : ",") + std::to_string(id);
  return DocumentLinesStatement(
      select, item,
      std::string(condition) + " AND " + DocumentColumnsOf(item).id + " IN (" + in + ")",
      selectPrefix);
}

// ---------------------------------------------------------------------------------------------
// The sink

ExplainingSink::ExplainingSink(HostContext& ctx, std::string startDate, std::string endDate,
                               std::vector<DifferenceSink*> next)
    : ctx_(ctx),
      startDate_(std::move(startDate)),
      endDate_(std::move(endDate)),
      next_(std::move(next)) {}

void ExplainingSink::RecordDifference(const DifferenceRecord& record, bool firstInRow) {
  pending_.emplace_back(record, firstInRow);
}

void ExplainingSink::Notice(int item, const std::string& text) {
  for (DifferenceSink* sink : next_) {
    if (sink != nullptr) sink->Notice(item, text);
  }
}

void ExplainingSink::ClientMerge(int item, const std::string& reason) {
  for (DifferenceSink* sink : next_) {
    if (sink != nullptr) sink->ClientMerge(item, reason);
  }
}

namespace {

// The rows of one item's buffered records: where each row starts, in order.
std::vector<std::size_t> RowStarts(const std::vector<std::pair<DifferenceRecord, bool>>& records) {
  std::vector<std::size_t> starts;
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (records[i].second || i == 0) starts.push_back(i);
  }
  return starts;
}

// A key value as a line and a row both give it, whatever type each side's driver handed over: a
// number by value (also when it came as text), a text as text, the empty text as the one blank
// the ledger stores for it.
std::string NormalKey(const db::Value& v) {
  if (v.IsNull()) return "N";
  if (v.IsNumber()) return "D" + db::FormatDouble(v.AsDouble());
  const std::string& text = v.Text();
  double number = 0;
  const char* end = text.data() + text.size();
  if (!text.empty()) {
    if (auto r = std::from_chars(text.data(), end, number); r.ec == std::errc() && r.ptr == end) {
      return "D" + db::FormatDouble(number);
    }
  }
  return "T" + (text.empty() ? std::string(" ") : text);
}

std::string NormalKeys(const std::vector<KeyValue>& keys) {
  std::string text;
  for (const KeyValue& k : keys) text += NormalKey(k.value) + '\x1f';
  return text;
}

// The lines under `rows` (a few at a time: one statement serves them all, which matters where a
// key cannot use an index), each given to the row whose keys its own key columns hold.
void ReadLines(db::Connection& conn, const CheckItemTable& items, int item,
               const std::vector<std::string>& conditions, std::vector<RowToExplain*>& rows,
               const std::string& startDate, const std::string& endDate,
               const std::vector<std::size_t>& columns) {
  const ContributionSql statement =
      ContributionStatement(items, item, conditions, startDate, endDate);
  std::unordered_map<std::string, RowToExplain*> byKeys;
  for (RowToExplain* row : rows) byKeys.emplace(NormalKeys(row->keys), row);
  const std::size_t keyCount = rows.front()->keys.size();
  auto rs = conn.OpenResultset(statement.sql, 3, 3);
  const auto& f = rs->Fields();
  for (; !rs->Eof(); rs->MoveNext()) {
    std::string keys;
    for (std::size_t k = 0; k < keyCount && kLineColumns + k < f.Count(); ++k) {
      keys += NormalKey(f[kLineColumns + k].Value()) + '\x1f';
    }
    const auto owner = byKeys.find(keys);
    if (owner == byKeys.end()) continue;  // under another key that a row's condition leaves open
    ContributionLine l;
    l.document = f[0].Value().AsInteger();
    l.line = f[1].Value().AsInteger();
    l.date = f[2].Value().IsNull() ? std::string() : f[2].Value().AsText();
    l.no = f[3].Value().IsNull() ? std::string() : f[3].Value().AsText();
    l.isVoid = f[4].Value().AsText() != statement.validVoid;
    l.approved = f[5].Value().AsText() == statement.validStatus;
    for (const std::size_t c : columns) {
      const std::size_t at = kLineColumns + c;
      l.values.push_back(at < f.Count() && !f[at].Value().IsNull() ? f[at].Value().AsDouble()
                                                                   : 0.0);
    }
    owner->second->lines.push_back(std::move(l));
  }
  rs->Close();
}

// Item 6's stored side is the vouchers themselves: a row found there alone is named by its
// voucher, its amount the voucher's contribution.
std::vector<ContributionLine> ReadVouchers(db::Connection& conn, const CheckItemTable& items,
                                           const std::vector<KeyValue>& keys, std::size_t columns) {
  std::string where;
  for (const KeyValue& k : keys) {
    if (!where.empty()) where += " AND ";
    where += k.column + "=" + (k.value.IsText() ? QuoteSqlText(k.value.Text()) : k.value.AsText());
  }
  std::vector<ContributionLine> lines;
  auto rs = conn.OpenResultset("SELECT LNGVOUCHERID,STRDATE,INTVOUCHERNO,DBLAMOUNT FROM " +
                                   items.LedgerTable[CheckItemTable::Index(6)] + " WHERE " + where,
                               3, 3);
  const auto& f = rs->Fields();
  for (; !rs->Eof(); rs->MoveNext()) {
    ContributionLine l;
    l.voucher = true;
    l.document = f[0].Value().AsInteger();
    l.date = f[1].Value().AsText();
    l.no = f[2].Value().AsText();
    l.values.assign(columns, 0.0);
    if (columns > 0) l.values[0] = f[3].Value().AsDouble();
    lines.push_back(std::move(l));
  }
  rs->Close();
  return lines;
}

}  // namespace

void ExplainingSink::EndItem(int item) {
  const db::StatementScope explaining(db::Purpose::kCauses, item);
  std::vector<std::pair<DifferenceRecord, bool>> records;
  records.swap(pending_);
  if (!records.empty()) {
    const std::vector<std::size_t> starts = RowStarts(records);
    const CheckItemTable& items = ctx_.CheckItems;
    std::vector<std::string> names = SplitSqlList(items.InsertColumns[CheckItemTable::Index(item)]);
    for (std::string& name : names) name = db::UpperAscii(name);
    const std::size_t keyCount = static_cast<std::size_t>(records.front().first.keyCount);
    // The value columns the comparison counts, by their position in both statements.
    std::vector<std::size_t> columns;
    for (std::size_t c = keyCount; c < names.size(); ++c) {
      if (IsComparedColumn(item, names[c])) columns.push_back(c);
    }
    std::string startDate = startDate_;
    if (item == 4 && !IsValidDate(startDate)) startDate = ctx_.AccountStartDate;

    std::vector<RowToExplain> rows(starts.size());
    std::string failure;
    for (std::size_t r = 0; r < starts.size(); ++r) {
      const std::size_t end = r + 1 < starts.size() ? starts[r + 1] : records.size();
      const DifferenceRecord& first = records[starts[r]].first;
      RowToExplain& row = rows[r];
      row.keys = first.keys;
      row.description = OneLineKeyDescription(first.keyDescription);
      row.side = first.side;
      row.delta.assign(columns.size(), 0.0);
      row.differs.assign(columns.size(), false);
      for (std::size_t i = starts[r]; i < end; ++i) {
        const DifferenceRecord& d = records[i].first;
        for (std::size_t c = 0; c < columns.size(); ++c) {
          if (columns[c] != static_cast<std::size_t>(d.columnIndex)) continue;
          row.delta[c] = ExactDifference(d.recomputedValue, d.storedValue);
          row.differs[c] = true;
        }
      }
    }
    // A row a statement while statements stay quick: an index serves the row's keys, and a
    // planner facing many rows' keys at once may prefer to scan. Once one is slow (its keys made
    // the database scan, as a document without a voucher does), the item's remaining rows share
    // statements, up to 32 a statement, so that one scan serves many rows.
    constexpr std::size_t kRowsPerStatement = 32;
    try {
      bool share = false;
      for (std::size_t from = 0; from < rows.size();) {
        const std::size_t count = share ? kRowsPerStatement : 1;
        std::vector<std::string> conditions;
        std::vector<RowToExplain*> chunk;
        for (std::size_t r = from; r < rows.size() && r < from + count; ++r) {
          conditions.push_back(records[starts[r]].first.condition);
          chunk.push_back(&rows[r]);
        }
        const auto began = std::chrono::steady_clock::now();
        ReadLines(ctx_.conn(), items, item, conditions, chunk, startDate, endDate_, columns);
        share = share || std::chrono::steady_clock::now() - began > quick_;
        from += chunk.size();
      }
      for (RowToExplain& row : rows) {
        if (item != 6 || row.side != RowSide::kStoredOnly) continue;
        for (ContributionLine& v : ReadVouchers(ctx_.conn(), items, row.keys, columns.size())) {
          row.lines.push_back(std::move(v));
        }
      }
    } catch (const std::exception& e) {
      // The differences stand without causes; the user still has the document list.
      failure = e.what();
    }

    std::vector<DifferenceCause> causes;
    if (failure.empty()) {
      causes = AssignCauses(rows, [this](const std::string& column) {
        try {
          return ctx_.dictionary.Caption(column);
        } catch (const std::exception&) {
          return column;  // a key the dictionary has no caption for is shown by its name
        }
      });
    } else {
      const std::string text = "无法读取单据，原因未查明：" + failure;
      causes.assign(rows.size(), DifferenceCause{CauseKind::kUnexplained, {}, {}, 0, text});
      Notice(item, "Causes of item " + std::to_string(item) + " not found: " + failure);
    }
    for (std::size_t r = 0; r < starts.size(); ++r) {
      const auto cause = std::make_shared<const DifferenceCause>(std::move(causes[r]));
      const std::size_t end = r + 1 < starts.size() ? starts[r + 1] : records.size();
      for (std::size_t i = starts[r]; i < end; ++i) records[i].first.cause = cause;
    }
    for (const auto& [record, firstInRow] : records) {
      tallyvet::RecordDifference(next_, record, firstInRow);
    }
  }
  for (DifferenceSink* sink : next_) {
    if (sink != nullptr) sink->EndItem(item);
  }
}

}  // namespace tallyvet
