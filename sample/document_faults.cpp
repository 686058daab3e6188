// Document faults: the documents change after the ledgers were posted from them, the way they
// change in practice, and every ledger row that then differs is listed with the one cause that
// explains it. Each fault keeps to ledger rows no other fault touches, in every item it reaches,
// so that a row's cause is never shared. As with the other planters, every figure is read back
// from the file by SQL once the planting is done.
#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "ledger_engine/check_items.h"
#include "ledger_engine/key_conditions.h"
#include "sample/build.h"
#include "sample/sql_text.h"
#include "sample/statement.h"

namespace tallyvet::sample {

using namespace std::string_literals;

namespace {

using nlohmann::json;

// Activity types whose quantity every goods ledger (items 1 and 2) sums into a column of its own
// type. Transfers (27, 28) stay out of every document fault: their pair check joins two
// documents. So do borrowed purchases (3), whose amount item 1's SELECT names under a misspelt
// alias.
constexpr const char* kQuantityTypes = "(1,2,5,8,9,13,15,16,19,21,22,30,31,32,33,41)";
constexpr const char* kSkippedTypes = "(3,27,28)";
// Documents a fault may pick: posted, not a transfer, with at most `kMaxLines` lines so that one
// fault reaches a few ledger rows, not dozens.
constexpr int kMaxLines = 3;

// One line of a document with everything its ledger keys are made of.
struct Line {
  std::int64_t id = 0, activity = 0, item = 0, position = 0, group = 0, customer = 0, type = 0;
  std::string date;
  bool stock = false;
  std::optional<std::int64_t> voucher;
  double quantity = 0;
};

// A ledger row of item 1, 2, 3 or 6: its keys as the ledger names them, and the conditions that
// find it on the stored side and among the documents the item's SELECT sums.
struct RowKey {
  int item = 0;
  json keys;
  std::string stored;  // on the ledger (item 6: the voucher subquery)
  std::string source;  // before the GROUP BY of the item's SELECT
  std::string Text() const { return std::to_string(item) + keys.dump(); }
};

// What one row is expected to show, and why.
struct Cause {
  RowKey row;
  std::string kind;
  std::vector<std::int64_t> documents;
  std::optional<json> otherKeys;  // moved only
};

struct Fault {
  std::string description;
  std::vector<Cause> causes;
};

// Causes by kind of the rows that differ: [items 1 to 3, item 6].
using KindCounts = std::map<std::string, std::array<int, 2>>;

class DocumentPlanter {
 public:
  DocumentPlanter(BuildState& s, const HostContext& ctx, const json& planted) : s_(s), ctx_(ctx) {
    for (int item = 1; item <= 3; ++item) ledgers_[item] = LedgerOf(ctx, item);
    Reserve(planted);
    maxActivity_ = MaxId(s_, "ItemActivity", "lngActivityID");
  }

  // ------------------------------------------------------------------------------------------
  // Keys

  RowKey GoodsKey(int item, const Line& l, const std::string& date) const {
    const Ledger& ledger = ledgers_[item];
    std::int64_t third = item == 1 ? l.group : item == 2 ? l.position : l.customer;
    const char* sourceThird = item == 1   ? "POSITION.LNGPOSITIONGROUPID"
                              : item == 2 ? "ITEMACTIVITYDETAIL.LNGPOSITIONID"
                                          : "ITEMACTIVITY.LNGCUSTOMERID";
    RowKey k;
    k.item = item;
    k.keys = {{ledger.keys[0], date}, {ledger.keys[1], l.item}, {ledger.keys[2], third}};
    k.stored = ledger.keys[0] + "=" + QuoteSqlText(date) + " AND " + ledger.keys[1] + "=" +
               std::to_string(l.item) + " AND " + ledger.keys[2] + "=" + std::to_string(third);
    k.source = "ITEMACTIVITY.STRDATE=" + QuoteSqlText(date) +
               " AND ITEMACTIVITYDETAIL.LNGITEMID=" + std::to_string(l.item) + " AND " +
               sourceThird + "=" + std::to_string(third);
    return k;
  }

  // Item 6's row of a document: its voucher's, or the one of documents without a voucher of its
  // source. None when the item does not count the document's type.
  std::optional<RowKey> VoucherKey(const Line& l) {
    if (l.type == 4 || l.type == 7 || l.type == 18) return std::nullopt;
    RowKey k;
    k.item = 6;
    if (!l.voucher) {
      const int source = VoucherSourceOfType(l.type);
      k.keys = {{"STRDATE", " "}, {"LNGVOUCHERSOURCEID", source}, {"INTVOUCHERNO", " "}};
      k.stored = "1=0";
      k.source =
          "ITEMACTIVITY.LNGVOUCHERID1 IS NULL AND DECODE(ITEMACTIVITY.LNGACTIVITYTYPEID,"
          "1,9,2,9,3,9,7,9,11,12,13,12,15,12,16,12,11)=" +
          std::to_string(source);
      return k;
    }
    const std::string voucher = std::to_string(*l.voucher);
    k.source = "ITEMACTIVITY.LNGVOUCHERID1=" + voucher;
    k.stored = "LNGVOUCHERID=" + voucher;
    const Row head = Query(s_.db,
                           "SELECT v.strDate, v.lngVoucherSourceID, v.strDate || "
                           "t.strVoucherTypeName || Lpad(v.intVoucherNO,4,'0') FROM "
                           "Voucher v, VoucherType t WHERE "
                           "v.lngVoucherTypeID=t.lngVoucherTypeID AND v.lngVoucherID=" +
                               voucher)
                         .at(0);
    k.keys = {{"STRDATE", ToJson(head[0])},
              {"LNGVOUCHERSOURCEID", ToJson(head[1])},
              {"INTVOUCHERNO", ToJson(head[2])}};
    return k;
  }

  // Every row a line reaches, in items 1, 2, 3 (stock items only) and 6, dated `date`.
  std::vector<RowKey> KeysOf(const Line& l, const std::string& date) {
    std::vector<RowKey> keys = {GoodsKey(1, l, date), GoodsKey(2, l, date)};
    if (l.stock) keys.push_back(GoodsKey(3, l, date));
    if (auto v = VoucherKey(l)) keys.push_back(*v);
    return keys;
  }

  std::vector<Line> Lines(const std::string& condition) {
    std::vector<Line> lines;
    for (const Row& r :
         Query(s_.db,
               "SELECT d.lngActivityDetailID, a.lngActivityID, d.lngItemID, d.lngPositionID, "
               "p.lngPositionGroupID, a.lngCustomerID, a.lngActivityTypeID, a.strDate, "
               "n.strItemCategory='1', a.lngVoucherID1, d.dblQuantity FROM ItemActivity a "
               "JOIN ItemActivityDetail d ON d.lngActivityID=a.lngActivityID "
               "JOIN Position p ON p.lngPositionID=d.lngPositionID "
               "JOIN Item i ON i.lngItemID=d.lngItemID "
               "JOIN ItemNature n ON n.lngItemNatureID=i.lngItemNatureID WHERE " +
                   condition + " ORDER BY d.lngActivityDetailID")) {
      Line l;
      l.id = r[0].AsInteger();
      l.activity = r[1].AsInteger();
      l.item = r[2].AsInteger();
      l.position = r[3].AsInteger();
      l.group = r[4].AsInteger();
      l.customer = r[5].AsInteger();
      l.type = r[6].AsInteger();
      l.date = r[7].Text();
      l.stock = r[8].AsInteger() != 0;
      if (!r[9].IsNull()) l.voucher = r[9].AsInteger();
      l.quantity = r[10].AsDouble();
      lines.push_back(l);
    }
    return lines;
  }
  std::vector<Line> DocumentLines(std::int64_t activity) {
    return Lines("a.lngActivityID=" + std::to_string(activity));
  }

  bool Free(const std::vector<RowKey>& keys) const {
    return std::none_of(keys.begin(), keys.end(),
                        [&](const RowKey& k) { return reserved_.count(k.Text()) > 0; });
  }
  void Take(const std::vector<RowKey>& keys) {
    for (const RowKey& k : keys) reserved_.insert(k.Text());
  }

  // ------------------------------------------------------------------------------------------
  // Picking

  // A posted document no fault touched, with lines whose every row is still free (`extra` adds
  // conditions on the header `a`); 0 when none is found within a few tries.
  std::int64_t PickDocument(const std::string& extra, std::vector<Line>& lines) {
    const std::string query =
        "SELECT a.lngActivityID FROM ItemActivity a WHERE a.blnIsVoid=0 AND a.bytStatus=2 "
        "AND a.lngActivityTypeID NOT IN "s +
        kSkippedTypes +
        " AND a.lngVoucherID1 IS NOT NULL AND "
        "(SELECT COUNT(*) FROM ItemActivityDetail x WHERE x.lngActivityID=a.lngActivityID) "
        "BETWEEN 1 AND " +
        std::to_string(kMaxLines) + extra;
    for (int tries = 0; tries < 200; ++tries) {
      const std::int64_t id = PickId(s_, query, "a.lngActivityID", maxActivity_, usedDocuments_);
      if (id == 0) return 0;
      lines = DocumentLines(id);
      std::vector<RowKey> keys;
      for (const Line& l : lines) {
        for (RowKey& k : KeysOf(l, l.date)) keys.push_back(std::move(k));
      }
      if (Free(keys)) return id;
    }
    return 0;
  }

  int RandomDay() { return s_.rng.Below(kDays); }

  // ------------------------------------------------------------------------------------------
  // The faults

  // A document entered after posting, made from a posted one with every quantity and amount
  // doubled (doubling keeps each receipt check's equalities exact, and sets the new document's
  // contribution apart from its original's): on the original's date, where every row it reaches
  // already exists, or on another day where the goods ledgers hold none of them. The first copy
  // of each voucher source goes without a voucher.
  bool Unposted(bool newKeys) {
    std::vector<Line> lines;
    const std::int64_t original = PickDocument("", lines);
    if (original == 0) return false;
    int day = -1;
    std::string date = lines.front().date;
    const int source = VoucherSourceOfType(lines.front().type);
    const bool withoutVoucher = !unvoucheredSources_.count(source);
    std::vector<RowKey> keys;
    for (int tries = 0; tries < (newKeys ? 40 : 1); ++tries) {
      if (newKeys) {
        day = RandomDay();
        date = DateOfDay(day);
        if (date == lines.front().date) continue;
      }
      keys.clear();
      bool absent = true;
      for (Line l : lines) {
        if (withoutVoucher) l.voucher.reset();
        for (RowKey& k : KeysOf(l, date)) {
          if (newKeys && k.item <= 3) {
            absent = absent && QueryValue(s_.db, "SELECT COUNT(*) FROM " + ledgers_[k.item].table +
                                                     " WHERE " + k.stored)
                                       .AsInteger() == 0;
          }
          keys.push_back(std::move(k));
        }
      }
      if (absent && Free(keys)) break;
      keys.clear();
    }
    if (keys.empty()) return false;
    if (withoutVoucher) unvoucheredSources_.insert(source);

    const std::int64_t copy = ++maxActivity_;
    usedDocuments_.insert(copy);
    const std::string dateSql = newKeys ? QuoteSqlText(date) + "," + std::to_string(kYear) + "," +
                                              std::to_string(PeriodOfDay(day))
                                        : "strDate,intYear,bytPeriod";
    Exec(s_.db,
         "INSERT INTO ItemActivity (lngActivityID,strDate,intYear,bytPeriod,lngActivityTypeID,"
         "lngReceiptTypeID,strReceiptNo,lngReceiptNo,blnSameGroup,lngOrderActivityID,blnIsVoid,"
         "bytStatus,lngCustomerID,lngDepartmentID,lngEmployeeID,lngOrganizationID,lngVoucherID1,"
         "strRemark) SELECT " +
             std::to_string(copy) + "," + dateSql +
             ",lngActivityTypeID,lngReceiptTypeID,strReceiptNo,(SELECT MAX(lngReceiptNo)+1 FROM "
             "ItemActivity x WHERE x.lngReceiptTypeID=ItemActivity.lngReceiptTypeID),0,0,0,2,"
             "lngCustomerID,lngDepartmentID,lngEmployeeID,lngOrganizationID," +
             (withoutVoucher ? "NULL"s : "lngVoucherID1"s) +
             ",'entered after posting' FROM ItemActivity WHERE lngActivityID=" +
             std::to_string(original));
    Exec(s_.db,
         "INSERT INTO ItemActivityDetail (lngActivityID,lngRowID,lngItemID,lngPositionID,"
         "strProduceNum,dblQuantity,dblPrice,dblAmount,dblCostAmount,dblAvgCostAmount,"
         "dblPlanPrice,dblExpenseAmount,dblIncomeAmount,dblTaxAmount,blnIsManual) SELECT " +
             std::to_string(copy) +
             ",lngRowID,lngItemID,lngPositionID,strProduceNum,2*dblQuantity,dblPrice,"
             "2*dblAmount,2*dblCostAmount,2*dblAvgCostAmount,dblPlanPrice,2*dblExpenseAmount,"
             "2*dblIncomeAmount,2*dblTaxAmount,blnIsManual FROM ItemActivityDetail WHERE "
             "lngActivityID=" +
             std::to_string(original) + " ORDER BY lngRowID");
    s_.documents += 1;
    s_.lines += static_cast<std::int64_t>(lines.size());
    Take(keys);
    Fault f;
    f.description = newKeys ? "document entered after posting, on rows the ledgers do not hold"
                            : "document entered after posting, on rows the ledgers hold";
    if (withoutVoucher) f.description += ", without a voucher";
    for (const RowKey& k : keys) f.causes.push_back({k, "unposted", {copy}, std::nullopt});
    Finish(std::move(f));
    return true;
  }

  // A posted document voided, or set back to entered and unconfirmed: the ledgers still hold it.
  bool Withdrawn(bool voided) {
    std::vector<Line> lines;
    const std::int64_t id = PickDocument("", lines);
    if (id == 0) return false;
    Exec(s_.db, "UPDATE ItemActivity SET "s + (voided ? "blnIsVoid=1" : "bytStatus=1") +
                    " WHERE lngActivityID=" + std::to_string(id));
    Fault f;
    f.description = voided ? "posted document voided" : "posted document set back to unconfirmed";
    for (const Line& l : lines) {
      // Item 6 counts documents whatever their status: its row is kept for the document, but
      // does not differ.
      for (RowKey& k : KeysOf(l, l.date)) {
        Take({k});
        if (k.item <= 3) f.causes.push_back({std::move(k), "withdrawn", {id}, std::nullopt});
      }
    }
    Finish(std::move(f));
    return true;
  }

  // A posted document re-dated within the year: each row it left and the row it reached form a
  // pair whose keys differ in the date alone. Its voucher, and so item 6, stays.
  bool Redated() {
    std::vector<Line> lines;
    const std::int64_t id = PickDocument("", lines);
    if (id == 0) return false;
    for (int tries = 0; tries < 40; ++tries) {
      const int day = RandomDay();
      const std::string date = DateOfDay(day);
      if (date == lines.front().date) continue;
      std::vector<std::pair<RowKey, RowKey>> pairs;
      std::vector<RowKey> reached;
      for (const Line& l : lines) {
        for (int item = 1; item <= (l.stock ? 3 : 2); ++item) {
          pairs.emplace_back(GoodsKey(item, l, l.date), GoodsKey(item, l, date));
          reached.push_back(pairs.back().second);
        }
      }
      if (!Free(reached)) continue;
      Exec(s_.db, "UPDATE ItemActivity SET strDate=" + QuoteSqlText(date) + ",intYear=" +
                      std::to_string(kYear) + ",bytPeriod=" + std::to_string(PeriodOfDay(day)) +
                      " WHERE lngActivityID=" + std::to_string(id));
      Fault f;
      f.description = "posted document re-dated";
      AddPairs(f, pairs, id);
      for (const Line& l : lines) Take(KeysOf(l, l.date));
      Take(reached);
      Finish(std::move(f));
      return true;
    }
    return false;
  }

  // A line of a posted document moved to another position of the same position group: item 1
  // keys on the group and item 3 on the customer, so only item 2 sees it, as a pair of rows.
  // With `handEdit` the row it left is also changed by hand: that row has no cause the documents
  // explain, and the row it reached shows the line as one entered after posting.
  bool MovedLine(bool handEdit) {
    std::vector<Line> lines;
    const std::int64_t id = PickDocument(
        " AND a.lngActivityTypeID IN "s + kQuantityTypes +
            " AND EXISTS (SELECT 1 FROM ItemActivityDetail q WHERE q.lngActivityID=a.lngActivityID"
            " AND q.dblQuantity<>0)",
        lines);
    if (id == 0) return false;
    const Line* line = nullptr;
    for (const Line& l : lines) {
      if (l.quantity != 0) line = &l;
    }
    if (line == nullptr) return false;
    Line moved = *line;
    std::vector<int> others;
    for (int p = 1; p <= s_.masters.positions; ++p) {
      if (p != line->position && s_.masters.positionGroup[p] == line->group) others.push_back(p);
    }
    if (others.empty()) return false;
    moved.position = others[s_.rng.Below(static_cast<int>(others.size()))];
    const RowKey left = GoodsKey(2, *line, line->date), reached = GoodsKey(2, moved, moved.date);
    if (!Free({reached})) return false;
    // No other line of the document may share either row: the pair is then this line alone.
    for (const Line& l : lines) {
      if (l.id != line->id && (l.position == line->position || l.position == moved.position) &&
          l.item == line->item) {
        return false;
      }
    }
    Exec(s_.db, "UPDATE ItemActivityDetail SET lngPositionID=" + std::to_string(moved.position) +
                    " WHERE lngActivityDetailID=" + std::to_string(line->id));
    for (const Line& l : lines) Take(KeysOf(l, l.date));
    Take({reached});
    Fault f;
    if (!handEdit) {
      f.description = "line moved to another position of its group";
      AddPairs(f, {{left, reached}}, id);
    } else {
      const std::vector<json> found = Findings(left);
      if (found.empty()) return false;
      const std::string column = found.front().at("column");
      const double delta = std::floor(10 + 90 * s_.rng.Unit()) + 0.5;  // no whole quantity
      Exec(s_.db, "UPDATE " + ledgers_[2].table + " SET " + column + "=" + column + "+" +
                      std::to_string(delta) + " WHERE " + left.stored);
      f.description =
          "line moved to another position of its group, and the row it left "
          "changed by hand";
      f.causes.push_back({left, "unexplained", {}, std::nullopt});
      f.causes.push_back({reached, "unposted", {id}, std::nullopt});
    }
    Finish(std::move(f));
    return true;
  }

  // Lines of one document, one item and one position group given quantities with a sub-cent
  // part: every row they share differs by less than half a cent a line.
  bool Rounding() {
    const std::int64_t start =
        1 + static_cast<std::int64_t>(s_.rng.Next() % static_cast<std::uint64_t>(maxActivity_));
    const std::string query =
        "SELECT d.lngActivityID, d.lngItemID, p.lngPositionGroupID FROM ItemActivityDetail d "
        "JOIN ItemActivity a ON a.lngActivityID=d.lngActivityID "
        "JOIN Position p ON p.lngPositionID=d.lngPositionID WHERE a.blnIsVoid=0 AND "
        "a.bytStatus=2 AND a.lngActivityTypeID IN "s +
        kQuantityTypes + " AND d.dblQuantity<>0 AND d.lngActivityID BETWEEN ";
    const std::string group =
        " GROUP BY d.lngActivityID, d.lngItemID, p.lngPositionGroupID HAVING COUNT(*)>=2 ORDER BY "
        "d.lngActivityID";
    // Windows of documents from the drawn one on, round the end: a grouped scan of the whole
    // table would cost seconds on a million lines.
    constexpr std::int64_t kWindow = 2000;
    for (std::int64_t from = start, scanned = 0; scanned <= maxActivity_;
         from = from + kWindow > maxActivity_ ? 1 : from + kWindow, scanned += kWindow) {
      const std::string range =
          std::to_string(from) + " AND " + std::to_string(from + kWindow - 1) + group;
      for (const Row& r : Query(s_.db, query + range)) {
        const std::int64_t id = r[0].AsInteger();
        if (usedDocuments_.count(id)) continue;
        const std::vector<Line> lines = DocumentLines(id);
        std::vector<RowKey> keys;
        for (const Line& l : lines) {
          for (RowKey& k : KeysOf(l, l.date)) keys.push_back(std::move(k));
        }
        if (!Free(keys)) continue;
        usedDocuments_.insert(id);
        std::vector<Line> picked;
        for (const Line& l : lines) {
          if (l.item == r[1].AsInteger() && l.group == r[2].AsInteger() && picked.size() < 3) {
            picked.push_back(l);
          }
        }
        std::string ids;
        for (const Line& l : picked) ids += (ids.empty() ? "" : ",") + std::to_string(l.id);
        Exec(s_.db,
             "UPDATE ItemActivityDetail SET dblQuantity=dblQuantity+0.004 WHERE "
             "lngActivityDetailID IN (" +
                 ids + ")");
        Take(keys);
        Fault f;
        f.description = "lines given quantities with a sub-cent part";
        for (const Line& l : picked) {
          // Item 6 sums no quantity.
          for (RowKey& k : KeysOf(l, l.date)) {
            if (k.item <= 3) f.causes.push_back({std::move(k), "rounding", {id}, std::nullopt});
          }
        }
        Finish(std::move(f));
        return true;
      }
    }
    return false;
  }

  // A goods-ledger value changed by hand.
  bool HandEdit(int item) {
    const Ledger& l = ledgers_[item];
    std::set<std::int64_t>& used = usedRows_[item];
    for (int tries = 0; tries < 200; ++tries) {
      std::vector<std::string> nonZero;
      for (const std::string& c : l.Counted()) {
        if (c.find("BORROW") == std::string::npos) nonZero.push_back("ROUND(" + c + ",2)<>0");
      }
      const std::int64_t row =
          PickId(s_, "SELECT rowid FROM " + l.table + " WHERE (" + Join(nonZero, " OR ") + ")",
                 "rowid", MaxId(s_, l.table, "rowid"), used);
      if (row == 0) return false;
      const Row values =
          Query(s_.db, "SELECT " + Join(l.keys, ",") + "," + Join(l.Counted(), ",") + " FROM " +
                           l.table + " WHERE rowid=" + std::to_string(row))
              .at(0);
      Line line;
      line.date = values[0].Text();
      line.item = values[1].AsInteger();
      line.group = line.position = line.customer = values[2].AsInteger();
      const RowKey key = GoodsKey(item, line, line.date);
      if (!Free({key})) continue;
      std::string column;
      const std::vector<std::string> counted = l.Counted();
      for (std::size_t c = 0; c < counted.size() && column.empty(); ++c) {
        const std::string& name = counted[c];
        if (std::round(values[3 + c].AsDouble() * 100) != 0 &&
            name.find("BORROW") == std::string::npos) {
          column = name;
        }
      }
      Exec(s_.db, "UPDATE " + l.table + " SET " + column + "=" + column + "+" +
                      std::to_string(Cents(10 + 90 * s_.rng.Unit())) +
                      " WHERE rowid=" + std::to_string(row));
      Take({key});
      Finish({"ledger value changed by hand", {{key, "unexplained", {}, std::nullopt}}});
      return true;
    }
    return false;
  }

  // ------------------------------------------------------------------------------------------
  // The manifest

  // Every counted column in which the row's stored and recomputed values differ by a cent or
  // more once rounded, as the comparison counts them; a row absent on one side is 0 there.
  std::vector<json> Findings(const RowKey& k) {
    const std::size_t i = CheckItemTable::Index(k.item);
    std::string select = ctx_.CheckItems.SelectSql[i];
    select = ReplaceAll(select, "GROUP BY", " AND " + k.source + " GROUP BY");
    std::vector<std::string> columns;
    std::string table;
    if (k.item == 6) {
      columns = {"DBLAMOUNT"};
      table = VoucherSubqueryLedgerTable();
    } else {
      columns = ledgers_[k.item].values;
      table = ledgers_[k.item].table;
    }
    std::optional<Row> recomputed;
    // The key columns lead the SELECT in the ledger's order.
    const std::vector<std::string> order =
        k.item == 6 ? std::vector<std::string>{"STRDATE", "LNGVOUCHERSOURCEID", "INTVOUCHERNO"}
                    : ledgers_[k.item].keys;
    for (const Row& r : Query(s_.db, s_.conn.Translate(select))) {
      bool same = true;
      for (std::size_t n = 0; n < order.size(); ++n)
        same = same && ToJson(r[n]) == k.keys[order[n]];
      if (same) recomputed = r;
    }
    const std::vector<Row> stored =
        Query(s_.db, "SELECT " + Join(columns, ",") + " FROM " + table + " WHERE " + k.stored);
    std::vector<json> out;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      if (k.item <= 3 && !ledgers_[k.item].Counts(columns[c])) continue;
      const db::Value r = recomputed ? recomputed->at(3 + c) : db::Value(0.0);
      const db::Value v = stored.empty() ? db::Value(0.0) : stored.front().at(c);
      if (r.IsNull() || v.IsNull()) continue;
      if (std::nearbyint((r.AsDouble() - v.AsDouble()) * 100.0) == 0) continue;
      out.push_back({{"item", k.item},
                     {"keys", k.keys},
                     {"column", columns[c]},
                     {"stored", v.AsDouble()},
                     {"recomputed", r.AsDouble()}});
    }
    return out;
  }

  json Manifest() {
    json list = json::array();
    for (const Fault& f : faults_) {
      json findings = json::array(), causes = json::array();
      for (const Cause& c : f.causes) {
        const std::vector<json> found = Findings(c.row);
        if (found.empty()) continue;
        for (const json& x : found) findings.push_back(x);
        json cause = {{"item", c.row.item},
                      {"keys", c.row.keys},
                      {"kind", c.kind},
                      {"documents", c.documents}};
        if (c.otherKeys) cause["other_keys"] = *c.otherKeys;
        causes.push_back(std::move(cause));
      }
      list.push_back({{"description", f.description}, {"findings", findings}, {"causes", causes}});
    }
    return list;
  }

  const KindCounts& Counts() const { return counts_; }

 private:
  // Counts the rows of a planted fault that differ; later faults keep to other rows, so the
  // count stands (the manifest reads every figure again at the end).
  // A row reached by several lines of the fault is listed once.
  void Finish(Fault f) {
    std::set<std::string> seen;
    std::vector<Cause> causes;
    for (Cause& c : f.causes) {
      if (!seen.insert(c.row.Text()).second) continue;
      if (!Findings(c.row).empty()) ++counts_[c.kind][c.row.item == 6 ? 1 : 0];
      causes.push_back(std::move(c));
    }
    f.causes = std::move(causes);
    faults_.push_back(std::move(f));
  }

  void AddPairs(Fault& f, const std::vector<std::pair<RowKey, RowKey>>& pairs, std::int64_t id) {
    std::set<std::string> seen;
    for (const auto& [from, to] : pairs) {
      if (!seen.insert(from.Text()).second) continue;
      f.causes.push_back({from, "moved", {id}, to.keys});
      f.causes.push_back({to, "moved", {id}, from.keys});
    }
  }

  // Rows the ledger faults changed, removed or added, and documents the receipt faults hold.
  void Reserve(const json& planted) {
    for (const json& fault : planted.value("ledger_faults", json::array())) {
      for (const json& finding : fault.at("findings")) {
        reserved_.insert(std::to_string(fault.at("item").get<int>()) + finding.at("keys").dump());
      }
    }
    std::vector<std::int64_t> lines;
    for (const json& f : planted.value("silent_faults", json::array())) {
      if (f.contains("keys")) {
        reserved_.insert(std::to_string(f.at("item").get<int>()) + f.at("keys").dump());
      }
      if (f.contains("lngActivityDetailID")) lines.push_back(f.at("lngActivityDetailID"));
    }
    for (const char* list : {"receipt_faults", "cost_groups"}) {
      for (const json& f : planted.value(list, json::array())) {
        lines.push_back(f.at("lngActivityDetailID"));
      }
    }
    for (std::int64_t line : lines) {
      usedDocuments_.insert(QueryValue(s_.db,
                                       "SELECT lngActivityID FROM ItemActivityDetail WHERE "
                                       "lngActivityDetailID=" +
                                           std::to_string(line))
                                .AsInteger());
    }
  }

  BuildState& s_;
  const HostContext& ctx_;
  std::array<Ledger, 4> ledgers_;
  std::set<std::string> reserved_;
  std::set<std::int64_t> usedDocuments_;
  std::map<int, std::set<std::int64_t>> usedRows_;
  std::set<int> unvoucheredSources_;
  std::int64_t maxActivity_ = 0;
  std::vector<Fault> faults_;
  KindCounts counts_;
};

}  // namespace

json PlantDocumentFaults(BuildState& s, const HostContext& ctx, const json& planted) {
  DocumentPlanter p(s, ctx, planted);
  // Two of each cause however small the account set; about one per 50000 lines above that, so a
  // million-line sample has some hundred differing rows.
  const int target = static_cast<int>(std::max<std::int64_t>(2, s.options.scale / 50000));
  using Plant = std::function<bool()>;
  const std::map<std::string, std::vector<Plant>> kinds = {
      {"unposted", {[&] { return p.Unposted(false); }, [&] { return p.Unposted(true); }}},
      {"withdrawn", {[&] { return p.Withdrawn(true); }, [&] { return p.Withdrawn(false); }}},
      {"moved", {[&] { return p.Redated(); }, [&] { return p.MovedLine(false); }}},
      {"rounding", {[&] { return p.Rounding(); }}},
      {"unexplained",
       {[&] { return p.HandEdit(1); }, [&] { return p.MovedLine(true); },
        [&] { return p.HandEdit(3); }, [&] { return p.HandEdit(2); }}},
  };
  // Every way of each kind once, then more of the kinds still short of the target.
  std::map<std::string, std::size_t> next;
  for (const auto& [kind, ways] : kinds) {
    for (const Plant& plant : ways) plant();
    next[kind] = 0;
  }
  for (int round = 0; round < 4 * target; ++round) {
    const KindCounts& counts = p.Counts();
    bool missing = false;
    for (const auto& [kind, ways] : kinds) {
      const auto found = counts.find(kind);
      if (found != counts.end() && found->second[0] >= target) continue;
      missing = true;
      ways[next[kind]++ % ways.size()]();
    }
    if (!missing) break;
  }
  return p.Manifest();
}

}  // namespace tallyvet::sample
