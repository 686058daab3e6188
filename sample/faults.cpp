// Planted inconsistencies and the findings they must produce. Every figure in the manifest is
// read back from the file by SQL after planting (and, for a value that was overwritten, before),
// so the manifest says what the data holds, not what the planting meant to do.
#include <cmath>
#include <map>
#include <set>
#include <stdexcept>
#include <string>

#include "ledger_engine/check_items.h"
#include "sample/build.h"
#include "sample/sql_text.h"
#include "sample/statement.h"

namespace tallyvet::sample {

using namespace std::string_literals;

namespace {

using nlohmann::json;

double Round(double value, int decimals) {
  const double scale = std::pow(10.0, decimals);
  return std::round(value * scale) / scale;
}

}  // namespace

nlohmann::json ToJson(const db::Value& v) {
  if (v.IsInteger()) return v.AsInteger();
  if (v.IsDouble()) return v.AsDouble();
  if (v.IsText()) return v.Text();
  return nullptr;
}

std::int64_t PickId(BuildState& s, const std::string& query, const std::string& id,
                    std::int64_t maxId, std::set<std::int64_t>& used) {
  if (maxId < 1) return 0;
  const std::int64_t start =
      1 + static_cast<std::int64_t>(s.rng.Next() % static_cast<std::uint64_t>(maxId));
  const std::string limit = " LIMIT "s + std::to_string(used.size() + 1);
  for (const std::string& range :
       {" AND " + id + ">="s + std::to_string(start) + " ORDER BY " + id + limit,
        " AND " + id + "<"s + std::to_string(start) + " ORDER BY " + id + " DESC" + limit}) {
    for (const Row& row : Query(s.db, query + range)) {
      const std::int64_t found = row.at(0).AsInteger();
      if (used.insert(found).second) return found;
    }
  }
  return 0;
}

std::int64_t MaxId(BuildState& s, const std::string& table, const std::string& id) {
  return QueryValue(s.db, "SELECT IFNULL(MAX(" + id + "),0) FROM " + table).AsInteger();
}

namespace {

// ---------------------------------------------------------------------------------------------
// Receipt cost faults

// Lines of documents, with their header `a` and line `d`.
constexpr const char* kLines =
    "SELECT d.lngActivityDetailID FROM ItemActivityDetail d JOIN ItemActivity a"
    " ON a.lngActivityID=d.lngActivityID WHERE ";

// Transfer receiving lines `d` (header `a`) with their issuing line `o` (header `h`).
constexpr const char* kReceivingLines =
    "SELECT d.lngActivityDetailID FROM ItemActivityDetail d"
    " JOIN ItemActivity a ON a.lngActivityID=d.lngActivityID"
    " JOIN ItemActivity h ON h.lngOrderActivityID=a.lngActivityID"
    " JOIN ItemActivityDetail o ON o.lngActivityID=h.lngActivityID AND o.lngRowID=d.lngRowID"
    " WHERE a.lngActivityTypeID=27 AND h.lngActivityTypeID=28 AND ";

class ReceiptPlanter {
 public:
  explicit ReceiptPlanter(BuildState& s) : s_(s) {}

  // A line whose document no earlier fault touched (both headers of a transfer count).
  std::int64_t Pick(const std::string& query) {
    for (;;) {
      const std::int64_t id = PickId(s_, query, "d.lngActivityDetailID", s_.lines, usedLines_);
      if (id == 0) return 0;
      const std::string activity = std::to_string(id);
      const auto headers = Query(
          s_.db,
          "SELECT a.lngActivityID, a.lngOrderActivityID FROM ItemActivityDetail d JOIN "
          "ItemActivity a ON a.lngActivityID=d.lngActivityID WHERE d.lngActivityDetailID=" +
              activity +
              " UNION SELECT h.lngActivityID, 0 FROM ItemActivityDetail d JOIN ItemActivity h ON "
              "h.lngOrderActivityID=d.lngActivityID WHERE d.lngActivityDetailID=" +
              activity);
      bool clash = false;
      for (const Row& r : headers) {
        for (const db::Value& v : r) clash = clash || usedDocuments_.count(v.AsInteger());
      }
      if (clash) continue;
      for (const Row& r : headers) {
        for (const db::Value& v : r) {
          if (v.AsInteger() != 0) usedDocuments_.insert(v.AsInteger());
        }
      }
      return id;
    }
  }

  void Update(const std::string& assignments, std::int64_t line) {
    Exec(s_.db, "UPDATE ItemActivityDetail SET " + assignments + " WHERE lngActivityDetailID="s +
                    std::to_string(line));
  }
  void UpdateHeader(const std::string& assignments, std::int64_t line) {
    Exec(s_.db, "UPDATE ItemActivity SET " + assignments +
                    " WHERE lngActivityID=(SELECT lngActivityID FROM ItemActivityDetail"
                    " WHERE lngActivityDetailID="s +
                    std::to_string(line) + ")");
  }

  // The row the check of `kind` lists for the line: its two amounts, read back from the file.
  void Finding(const char* kind, const char* check, std::int64_t line, const std::string& figures,
               const std::string& from) {
    const Row row = Query(s_.db, "SELECT " + figures + ", a.strDate " + from +
                                     " WHERE d.lngActivityDetailID="s + std::to_string(line))
                        .at(0);
    const double cost = row[0].AsDouble();
    const double second = row[1].AsDouble();
    result.findings.push_back({{"kind", kind},
                               {"check", check},
                               {"lngActivityDetailID", line},
                               {"strDate", row[2].Text()},
                               {"costAmount", cost},
                               {"secondAmount", second},
                               {"difference", Round(cost - second, 4)}});
  }

  void Silent(const char* description, std::int64_t line) {
    result.silent.push_back(
        {{"kind", "receipt"}, {"description", description}, {"lngActivityDetailID", line}});
  }

  double Delta() { return Cents(5 + 95 * s_.rng.Unit()); }

  ReceiptFaults result;

 private:
  BuildState& s_;
  std::set<std::int64_t> usedLines_;
  std::set<std::int64_t> usedDocuments_;
};

constexpr const char* kLineFrom =
    "FROM ItemActivityDetail d JOIN ItemActivity a ON a.lngActivityID=d.lngActivityID";
constexpr const char* kReceivingFrom =
    "FROM ItemActivityDetail d JOIN ItemActivity a ON a.lngActivityID=d.lngActivityID"
    " JOIN ItemActivity h ON h.lngOrderActivityID=a.lngActivityID"
    " JOIN ItemActivityDetail o ON o.lngActivityID=h.lngActivityID AND o.lngRowID=d.lngRowID";

constexpr const char* kOutboundTypes = "(15,19,22,21,31,33)";
constexpr const char* kGroupTypes = "(11,13,16,15,19,22,21,31,33)";

// The average-cost group of a line, as the version's group statement forms it, with its sums.
json CostGroup(BuildState& s, std::int64_t line) {
  const bool old = s.oldVersion;
  const std::string from =
      " FROM ItemActivity a, ItemActivityDetail d, Position p WHERE "
      "a.lngActivityID=d.lngActivityID AND d.lngPositionID=p.lngPositionID";
  const Row key = Query(s.db, "SELECT a.intYear,a.bytPeriod,d.lngItemID,p.lngPositionGroupID" +
                                  from + " AND d.lngActivityDetailID="s + std::to_string(line))
                      .at(0);
  const std::string year = key[0].AsText(), period = key[1].AsText();
  std::string members =
      old ? "a.blnIsVoid=0 AND d.dblPlanPrice=0 AND a.lngActivityTypeID IN " +
                std::string(kGroupTypes)
          : "a.blnIsVoid=0 AND a.bytStatus=2 AND d.dblPlanPrice=0 AND (a.lngActivityTypeID IN " +
                std::string(kGroupTypes) + " OR a.lngActivityTypeID=28 AND a.blnSameGroup=0)";
  members += " AND a.intYear=" + year + " AND a.bytPeriod=" + period +
             " AND d.lngItemID=" + key[2].AsText();
  if (!old) members += " AND p.lngPositionGroupID=" + key[3].AsText();
  // The period's dates narrow the search to its documents.
  members += " AND a.strDate>=(SELECT strStartDate FROM AccountPeriod WHERE intYear=" + year +
             " AND bytPeriod=" + period + ") AND a.strDate<=(SELECT strEndDate FROM " +
             "AccountPeriod WHERE intYear=" + year + " AND bytPeriod=" + period + ")";
  const Row sums =
      Query(s.db, "SELECT SUM(d.dblCostAmount),SUM(d.dblAvgCostAmount)" + from + " AND " + members)
          .at(0);
  json group = {{"intYear", key[0].AsInteger()},
                {"bytPeriod", key[1].AsInteger()},
                {"lngItemID", key[2].AsInteger()}};
  if (!old) group["lngPositionGroupID"] = key[3].AsInteger();
  const double cost = sums[0].AsDouble();
  const double avg = sums[1].AsDouble();
  group["sumCost"] = cost;
  group["sumAvgCost"] = avg;
  group["difference"] = Round(cost - avg, 2);
  group["lngActivityDetailID"] = line;
  return group;
}

}  // namespace

ReceiptFaults PlantReceiptFaults(BuildState& s) {
  ReceiptPlanter p(s);
  const bool old = s.oldVersion;
  const std::string unplanned = " AND d.dblPlanPrice=0";
  std::int64_t line;

  if (s.pairCheckRuns) {
    // A receiving line of a same-group transfer whose average cost left its issuing line's.
    if ((line = p.Pick(std::string(kReceivingLines) + "a.blnSameGroup=1"))) {
      p.Update("dblAvgCostAmount=ROUND(dblAvgCostAmount+"s + std::to_string(p.Delta()) + ",2)",
               line);
      p.Finding("转仓单", "transfer_pair", line, "o.dblAvgCostAmount, d.dblAmount+d.dblCostAmount",
                kReceivingFrom);
    }
    // One whose figures agree but which was entered by hand.
    if ((line = p.Pick(std::string(kReceivingLines) + "a.blnSameGroup=1"))) {
      p.Update("blnIsManual=1", line);
      p.Finding("转仓单", "transfer_pair", line, "o.dblAvgCostAmount, d.dblAmount+d.dblCostAmount",
                kReceivingFrom);
    }
  }
  // An issuing transfer line that carries its cost as amounts where it must not: any issue in
  // 8.10, an issue within one cost group later.
  if ((line = p.Pick(std::string(kLines) + "a.lngActivityTypeID=28" +
                     (old ? "" : " AND a.blnSameGroup=1")))) {
    p.Update("dblCostAmount=dblAvgCostAmount", line);
    p.Finding("转仓单", "transfer_out", line, "d.dblAvgCostAmount, d.dblAmount+d.dblCostAmount",
              kLineFrom);
  }
  // An inbound line whose cost amount was changed by hand.
  if ((line = p.Pick(std::string(kLines) + "a.lngActivityTypeID=1" + unplanned))) {
    p.Update("dblCostAmount=ROUND(dblCostAmount+"s + std::to_string(p.Delta()) + ",2)", line);
    p.Finding("入库单", "inbound", line, "d.dblCostAmount, (d.dblAvgCostAmount+d.dblAmount)/2",
              kLineFrom);
  }
  // An outbound line whose amount left its cost amount.
  if ((line = p.Pick(std::string(kLines) + "a.lngActivityTypeID=15" + unplanned))) {
    p.Update("dblAmount=ROUND(dblAmount-"s + std::to_string(p.Delta()) + ",2)", line);
    p.Finding("出库单", "outbound", line, "d.dblCostAmount, d.dblAmount", kLineFrom);
  }
  if (!old) {
    // The same two faults on the sides of a transfer across cost groups.
    if ((line = p.Pick(std::string(kLines) + "a.lngActivityTypeID=27 AND a.blnSameGroup=0" +
                       unplanned))) {
      p.Update("dblCostAmount=ROUND(dblCostAmount+"s + std::to_string(p.Delta()) + ",2)", line);
      p.Finding("入库单", "inbound", line, "d.dblCostAmount, (d.dblAvgCostAmount+d.dblAmount)/2",
                kLineFrom);
    }
    if ((line = p.Pick(std::string(kLines) + "a.lngActivityTypeID=28 AND a.blnSameGroup=0" +
                       unplanned))) {
      p.Update("dblAmount=ROUND(dblAmount+"s + std::to_string(p.Delta()) + ",2)", line);
      p.Finding("出库单", "outbound", line, "d.dblCostAmount, d.dblAmount", kLineFrom);
    }
  }
  // A line valued at planned price whose average cost left its cost amount.
  if ((line = p.Pick(std::string(kLines) + "a.lngActivityTypeID IN " + kOutboundTypes +
                     " AND d.dblPlanPrice>0"))) {
    p.Update("dblAvgCostAmount=ROUND(dblAvgCostAmount+"s + std::to_string(p.Delta()) + ",2)", line);
    p.Finding("计划价", "planned_price", line, "d.dblCostAmount, d.dblAvgCostAmount", kLineFrom);
  }
  // An issue whose average cost no longer sums to its cost amount: no check lists it, the
  // average-cost update must find its group.
  if ((line = p.Pick(std::string(kLines) +
                     "a.lngActivityTypeID=19 AND a.blnIsVoid=0 AND a.bytStatus=2" + unplanned))) {
    p.Update("dblAvgCostAmount=ROUND(dblAvgCostAmount+"s + std::to_string(p.Delta()) + ",2)", line);
    p.result.costGroups.push_back(CostGroup(s, line));
  }

  // Near misses: each would be a finding but for one condition.
  if ((line =
           p.Pick(std::string(kLines) + "a.lngActivityTypeID IN " + kOutboundTypes + unplanned))) {
    p.UpdateHeader("blnIsVoid=1", line);
    p.Update("dblAvgCostAmount=ROUND(dblAvgCostAmount+"s + std::to_string(p.Delta()) + ",2)", line);
    p.Silent("average cost off on a voided outbound document: no average-cost group", line);
  }
  if (!old) {
    if ((line = p.Pick(std::string(kLines) + "a.lngActivityTypeID IN " + kOutboundTypes +
                       " AND a.blnIsVoid=0" + unplanned))) {
      p.UpdateHeader("bytStatus=1", line);
      p.Update("dblAvgCostAmount=ROUND(dblAvgCostAmount+"s + std::to_string(p.Delta()) + ",2)",
               line);
      p.Silent("average cost off on an unconfirmed outbound document: no average-cost group", line);
    }
  }
  if ((line = p.Pick(std::string(kLines) +
                     "a.lngActivityTypeID IN (1,3,5,32,9,8,30,41) AND d.dblPlanPrice>0"))) {
    p.Update("dblAmount=ROUND(dblCostAmount+"s + std::to_string(p.Delta()) + ",2)", line);
    p.Silent("inbound line at planned price whose amount differs from its cost amount", line);
  }
  if (!s.pairCheckRuns) {
    // Within one cost group: the receiving side is tested only by the pair check, and, in
    // 8.10, the issuing side not for being entered by hand.
    if ((line = p.Pick(std::string(kReceivingLines) + "a.blnSameGroup=1"))) {
      p.Update("dblAvgCostAmount=ROUND(dblAvgCostAmount+"s + std::to_string(p.Delta()) + ",2)",
               line);
      p.Silent("transfer receiving line off its issuing line where the pair check does not run",
               line);
    }
  }
  if (old) {
    if ((line = p.Pick(std::string(kLines) + "a.lngActivityTypeID=28"))) {
      p.Update("blnIsManual=1", line);
      p.Silent("issuing transfer line entered by hand in 8.10, which does not test it", line);
    }
  } else {
    if ((line = p.Pick(std::string(kReceivingLines) + "a.blnSameGroup=0" + unplanned))) {
      const std::string delta = std::to_string(p.Delta());
      p.Update("dblAmount=ROUND(dblAmount+" + delta + ",2),dblCostAmount=ROUND(dblCostAmount+" +
                   delta + ",2),dblAvgCostAmount=ROUND(dblAvgCostAmount+" + delta + ",2)",
               line);
      p.Silent("receiving line of a transfer across cost groups off its issuing line", line);
    }
  }
  return p.result;
}

// ---------------------------------------------------------------------------------------------
// Voucher fault

json PlantVoucherFault(BuildState& s) {
  std::set<std::int64_t> used;
  const std::int64_t line =
      PickId(s,
             "SELECT vd.lngVoucherDetailID FROM VoucherDetail vd, Account c WHERE "
             "c.lngAccountID=vd.lngAccountID AND c.lngAccountNatureID=5 AND vd.strSummary='存货' "
             "AND instr(c.strAccountName,'委托')=0 AND instr(c.strAccountName,'分期')=0 "
             "AND instr(c.strAccountName,'代销')=0",
             "vd.lngVoucherDetailID", MaxId(s, "VoucherDetail", "lngVoucherDetailID"), used);
  if (line == 0) return nullptr;
  const std::string voucher = QueryValue(s.db,
                                         "SELECT lngVoucherID FROM VoucherDetail WHERE "
                                         "lngVoucherDetailID="s +
                                             std::to_string(line))
                                  .AsText();
  const std::string stored = "SELECT STRDATE,LNGVOUCHERSOURCEID,INTVOUCHERNO,DBLAMOUNT FROM "s +
                             VoucherSubqueryLedgerTable() + " WHERE LNGVOUCHERID=" + voucher;
  const Row before = Query(s.db, stored).at(0);
  const double delta = Cents(100 + 400 * s.rng.Unit());
  Exec(s.db, "UPDATE VoucherDetail SET dblAmount=dblAmount+"s + std::to_string(delta) +
                 ",dblCurrAmount=dblCurrAmount+"s + std::to_string(delta) +
                 " WHERE lngVoucherDetailID="s + std::to_string(line));
  const Row after = Query(s.db, stored).at(0);
  return {{"description", "voucher amount on an inventory account changed after booking"},
          {"item", 6},
          {"table", "Voucher"},
          {"lngVoucherDetailID", line},
          {"findings", json::array({{{"keys",
                                      {{"STRDATE", ToJson(after[0])},
                                       {"LNGVOUCHERSOURCEID", ToJson(after[1])},
                                       {"INTVOUCHERNO", ToJson(after[2])}}},
                                     {"column", "DBLAMOUNT"},
                                     {"stored", after[3].AsDouble()},
                                     {"recomputed", before[3].AsDouble()}}})}};
}

// ---------------------------------------------------------------------------------------------
// Ledger faults

Ledger LedgerOf(const HostContext& ctx, int item) {
  Ledger l;
  l.item = item;
  const std::size_t i = CheckItemTable::Index(item);
  l.table = UpperAscii(ctx.CheckItems.LedgerTable[i]);
  const std::vector<std::string> columns = SplitColumns(ctx.CheckItems.InsertColumns[i]);
  const std::size_t keys = item <= 3 ? 3 : 10;
  if (columns.size() <= keys) {
    throw std::logic_error("the column list of item "s + std::to_string(item) + " is too short");
  }
  l.keys.assign(columns.begin(), columns.begin() + static_cast<std::ptrdiff_t>(keys));
  l.values.assign(columns.begin() + static_cast<std::ptrdiff_t>(keys), columns.end());
  return l;
}

namespace {

// One key of a row to insert: the column and its value as SQL text.
struct KeyValue {
  std::string column;
  std::string text;
};

class LedgerPlanter {
 public:
  LedgerPlanter(BuildState& s, const HostContext& ctx) : s_(s), ctx_(ctx) {}

  Ledger Of(int item) { return LedgerOf(ctx_, item); }

  std::int64_t PickRow(const Ledger& l, const std::string& condition) {
    return PickId(s_, "SELECT rowid FROM " + l.table + " WHERE " + condition, "rowid",
                  MaxId(s_, l.table, "rowid"), used_[l.table]);
  }

  json Keys(const Ledger& l, std::int64_t row) {
    const Row values = Query(s_.db, "SELECT "s + Join(l.keys, ",") + " FROM " + l.table +
                                        " WHERE rowid="s + std::to_string(row))
                           .at(0);
    json keys = json::object();
    for (std::size_t k = 0; k < l.keys.size(); ++k) keys[l.keys[k]] = ToJson(values[k]);
    return keys;
  }

  double Value(const Ledger& l, std::int64_t row, const std::string& column) {
    return QueryValue(s_.db, "SELECT " + column + " FROM " + l.table + " WHERE rowid="s +
                                 std::to_string(row))
        .AsDouble();
  }

  // A matched row whose value changed: stored and recomputed differ in that column.
  void Changed(const Ledger& l, const std::string& column, double delta) {
    const std::int64_t row = PickRow(l, column + "<>0");
    if (row == 0) return;
    const double before = Value(l, row, column);
    Exec(s_.db, "UPDATE " + l.table + " SET " + column + "=" + column + "+"s +
                    std::to_string(delta) + " WHERE rowid="s + std::to_string(row));
    const double after = Value(l, row, column);
    Add(l, "ledger value changed", {Finding(Keys(l, row), column, after, before)});
  }

  // A ledger row deleted: every counted non-zero column of it is recomputed but not stored.
  // `alsoZero` names columns that must be 0 in the row (those another item compares).
  void Missing(const Ledger& l, const std::vector<std::string>& alsoZero) {
    std::vector<std::string> nonZero;
    for (const std::string& c : l.Counted()) nonZero.push_back("ROUND(" + c + ",2)<>0");
    std::string condition = "("s + Join(nonZero, " OR ") + ")";
    for (const std::string& c : alsoZero) condition += " AND " + c + "=0";
    const std::int64_t row = PickRow(l, condition);
    if (row == 0) return;
    const json keys = Keys(l, row);
    json findings = json::array();
    for (const std::string& c : l.Counted()) {
      const double value = Value(l, row, c);
      if (Round(value, 2) != 0) findings.push_back(Finding(keys, c, 0, value));
    }
    Exec(s_.db, "DELETE FROM " + l.table + " WHERE rowid="s + std::to_string(row));
    Add(l, "ledger row missing", std::move(findings));
  }

  // A row stored for keys no document produces.
  void Extra(const Ledger& l, const std::vector<KeyValue>& keys, const std::string& column,
             double value) {
    std::vector<std::string> names, values;
    for (const KeyValue& k : keys) {
      names.push_back(k.column);
      values.push_back(k.text);
    }
    Exec(s_.db, "INSERT INTO " + l.table + " ("s + Join(names, ",") + "," + column + ") VALUES ("s +
                    Join(values, ",") + ","s + std::to_string(value) + ")");
    const std::int64_t row = QueryValue(s_.db, "SELECT MAX(rowid) FROM " + l.table).AsInteger();
    used_[l.table].insert(row);
    Add(l, "ledger row without documents",
        {Finding(Keys(l, row), column, Value(l, row, column), 0)});
  }

  // A change that the comparison of `l` must not report.
  void Silent(const Ledger& l, const std::string& column, double delta, const char* why) {
    const std::int64_t row = PickRow(l, "1=1");
    if (row == 0) return;
    Exec(s_.db, "UPDATE " + l.table + " SET " + column + "=" + column + "+"s +
                    std::to_string(delta) + " WHERE rowid="s + std::to_string(row));
    result.silent.push_back({{"kind", "ledger"},
                             {"description", why},
                             {"item", l.item},
                             {"table", l.table},
                             {"keys", Keys(l, row)},
                             {"column", column},
                             {"change", delta}});
  }

  double Delta() { return Cents(10 + 90 * s_.rng.Unit()); }

  LedgerFaults result;

 private:
  static json Finding(json keys, const std::string& column, double stored, double recomputed) {
    return {{"keys", std::move(keys)},
            {"column", column},
            {"stored", stored},
            {"recomputed", recomputed}};
  }
  void Add(const Ledger& l, const char* description, json findings) {
    if (findings.empty()) return;
    result.faults.push_back({{"description", description},
                             {"item", l.item},
                             {"table", l.table},
                             {"findings", std::move(findings)}});
  }

  BuildState& s_;
  const HostContext& ctx_;
  std::map<std::string, std::set<std::int64_t>> used_;
};

KeyValue Key(const char* column, const std::string& sqlText) {
  return {column, sqlText};
}

std::vector<KeyValue> GeneralLedgerKeys(const std::string& date, int account, int department,
                                        int organization) {
  return {Key("STRDATE", "'" + date + "'"),
          Key("LNGACCOUNTID", std::to_string(account)),
          Key("LNGCURRENCYID", "1"),
          Key("LNGDEPARTMENTID", std::to_string(department)),
          Key("LNGEMPLOYEEID", "0"),
          Key("LNGCLASSID1", "0"),
          Key("LNGCLASSID2", "0"),
          Key("LNGCUSTOMERID", "0"),
          Key("LNGORGANIZATIONID", std::to_string(organization)),
          Key("LNGSOURCEORGANIZATIONID", std::to_string(organization))};
}

}  // namespace

LedgerFaults PlantLedgerFaults(BuildState& s, const HostContext& ctx) {
  LedgerPlanter p(s, ctx);
  const Ledger itemLedger = p.Of(1), stockLedger = p.Of(2), goodsLedger = p.Of(3),
               generalLedger = p.Of(4), receivables = p.Of(5);
  const std::string dormant = std::to_string(s.masters.dormantItem);

  p.Changed(itemLedger, "DBLSALECOST", p.Delta());
  p.Changed(stockLedger, "DBLSALEQUANTITY", 7);
  p.Changed(goodsLedger, "DBLSALEAMOUNT", -p.Delta());
  p.Changed(generalLedger, "DBLPOSTEDDEBIT", p.Delta());
  p.Changed(receivables, "DBLUNVOUCHERDEBIT", p.Delta());

  p.Missing(itemLedger, {});
  p.Missing(stockLedger, {});
  p.Missing(goodsLedger, {});
  // One general-ledger row serves two items: the row removed for one must hold nothing the
  // other compares.
  std::vector<std::string> receivableColumns = receivables.values;
  p.Missing(generalLedger, receivableColumns);
  p.Missing(receivables, generalLedger.Counted());

  p.Extra(
      itemLedger,
      {Key("STRDATE", "'2025-06-15'"), Key("LNGITEMID", dormant), Key("LNGPOSITIONGROUPID", "1")},
      "DBLPURCHASEAMOUNT", p.Delta());
  p.Extra(stockLedger,
          {Key("STRDATE", "'2025-07-15'"), Key("LNGITEMID", dormant), Key("LNGPOSITIONID", "1")},
          "DBLPURCHASEQUANTITY", 3);
  p.Extra(goodsLedger,
          {Key("STRDATE", "'2025-08-15'"), Key("LNGITEMID", dormant), Key("LNGCUSTOMERID", "1")},
          "DBLSALEQUANTITY", 4);
  p.Extra(generalLedger, GeneralLedgerKeys("2025-09-15", account::kBadDebt, 0, 1),
          "DBLPOSTEDCREDIT", p.Delta());
  p.Extra(receivables, GeneralLedgerKeys("2025-10-15", account::kBadDebt, 2, 2),
          "DBLUNVOUCHERCREDIT", p.Delta());

  p.Silent(stockLedger, "DBLSALECOST", 0.004, "change below 0.005, lost in rounding");
  p.Silent(goodsLedger, "DBLENTRUSTINAMOUNT", p.Delta(),
           "processing-inbound column, not compared for the goods ledger");
  p.Silent(generalLedger, "DBLQUANTITYUNVOUCHERDEBIT", p.Delta(),
           "receivable/payable column, not compared for the general ledger");
  return p.result;
}

}  // namespace tallyvet::sample
