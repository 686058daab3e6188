// Schema, masters and inventory documents of a sample account set.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <string>

#include "sample/build.h"
#include "sample/embedded_text.h"
#include "sample/statement.h"

namespace tallyvet::sample {

using namespace std::string_literals;

std::uint64_t Rng::Next() {
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

int Rng::Below(int n) {
  return static_cast<int>(Next() % static_cast<std::uint64_t>(n));
}

double Rng::Unit() {
  return static_cast<double>(Next() >> 11) * 0x1.0p-53;
}

double Cents(double amount) {
  return std::round(amount * 100.0) / 100.0;
}

namespace {

constexpr std::array<int, 12> kMonthDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

}  // namespace

std::string DateOfDay(int day) {
  int month = 0;
  while (month < 11 && day >= kMonthDays[month]) day -= kMonthDays[month++];
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", kYear, month + 1, day + 1);
  return text;
}

int PeriodOfDay(int day) {
  int month = 0;
  while (month < 11 && day >= kMonthDays[month]) day -= kMonthDays[month++];
  return month + 1;
}

BuildState::BuildState(db::SqliteConnection& c, const SampleOptions& o)
    : conn(c),
      db(c.handle()),
      options(o),
      oldVersion(o.version == "8.10"),
      pairCheckRuns(o.version > "8.10"),
      rng(o.seed) {}

void CreateSchema(BuildState& s) {
  s.conn.ExecuteScript(std::string(embedded::kSchemaSql));
}

// ---------------------------------------------------------------------------------------------
// Masters

namespace {

std::string Code(const char* prefix, int id, int width = 4) {
  char digits[24];
  std::snprintf(digits, sizeof digits, "%0*d", width, id);
  return prefix + std::string(digits);
}

// A master table of id, code and name: "INSERT INTO t (idCol, codeCol, nameCol)".
void FillCodeTable(BuildState& s, const std::string& table, const std::string& idColumn,
                   const std::string& codeColumn, const std::string& nameColumn,
                   const std::vector<std::string>& names, const char* codePrefix) {
  Statement insert(s.db, "INSERT INTO " + table + " (" + idColumn + "," + codeColumn + "," +
                             nameColumn + ") VALUES (?,?,?)");
  for (std::size_t i = 0; i < names.size(); ++i) {
    const int id = static_cast<int>(i) + 1;
    insert.Bind(1, id).Bind(2, Code(codePrefix, id, 2)).Bind(3, names[i]).Run();
  }
}

std::vector<std::string> Numbered(const char* name, int count) {
  std::vector<std::string> names;
  for (int i = 1; i <= count; ++i) names.push_back(Code(name, i));
  return names;
}

struct AccountRow {
  int id;
  const char* code;
  const char* name;
  int nature;
  int department, employee, class1, class2, customer;
};

// Inventory accounts are nature 5; those whose name holds 委托, 分期 or 代销 carry goods that
// are out on consignment or instalment and stay out of the voucher/inventory comparison.
constexpr AccountRow kAccounts[] = {
    {account::kCash, "1001", "库存现金", 1, 0, 0, 0, 0, 0},
    {account::kBank, "1002", "银行存款", 1, 0, 0, 0, 0, 0},
    {account::kReceivable, "1122", "应收账款", 1, 1, 1, 0, 0, 1},
    {account::kPrepaid, "1123", "预付账款", 1, 0, 0, 0, 0, 1},
    {account::kMaterials, "1403", "原材料", 5, 0, 0, 0, 0, 0},
    {account::kGoods, "1405", "库存商品", 5, 0, 0, 0, 0, 0},
    {account::kSemiFinished, "1406", "自制半成品", 5, 0, 0, 0, 0, 0},
    {account::kEntrustedProcessing, "1408", "委托加工物资", 5, 0, 0, 0, 0, 0},
    {account::kConsignedOut, "1409", "委托代销商品", 5, 0, 0, 0, 0, 0},
    {account::kInstalmentOut, "1410", "分期收款发出商品", 5, 0, 0, 0, 0, 0},
    {account::kConsignedIn, "1321", "受托代销商品", 5, 0, 0, 0, 0, 0},
    {account::kPayable, "2202", "应付账款", 2, 1, 0, 1, 0, 1},
    {account::kOtherPayable, "2241", "其他应付款", 2, 0, 0, 0, 0, 1},
    {account::kTaxPayable, "2221", "应交税费", 2, 0, 0, 0, 0, 0},
    {account::kRevenue, "6001", "主营业务收入", 6, 1, 0, 0, 1, 0},
    {account::kCostOfSales, "6401", "主营业务成本", 6, 1, 0, 0, 0, 0},
    {account::kAdministration, "6602", "管理费用", 6, 1, 1, 0, 0, 0},
    {account::kPendingLoss, "1901", "待处理财产损溢", 1, 0, 0, 0, 0, 0},
    {account::kProduction, "5001", "生产成本", 4, 0, 0, 1, 0, 0},
    {account::kBadDebt, "1231", "坏账准备", 1, 0, 0, 0, 0, 0},
};

}  // namespace

void FillMasters(BuildState& s) {
  Masters& m = s.masters;
  Rng& rng = s.rng;

  Statement business(s.db, "INSERT INTO Business (strUserName,strVer,strStartDate) VALUES (?,?,?)");
  business.Bind(1, "样例账套").Bind(2, s.options.version).Bind(3, kStartDate).Run();

  Statement period(s.db,
                   "INSERT INTO AccountPeriod (intYear,bytPeriod,strStartDate,strEndDate) "
                   "VALUES (?,?,?,?)");
  for (int month = 1, day = 0; month <= 12; day += kMonthDays[month - 1], ++month) {
    period.Bind(1, kYear)
        .Bind(2, month)
        .Bind(3, DateOfDay(day))
        .Bind(4, DateOfDay(day + kMonthDays[month - 1] - 1))
        .Run();
  }

  Exec(s.db,
       "INSERT INTO ItemNature VALUES (1,'01','库存商品','1'),(2,'02','原材料','1'),"
       "(3,'03','劳务','2'),(4,'04','半成品','1')");
  const int items = static_cast<int>(std::clamp<std::int64_t>(s.options.scale / 40, 30, 4000));
  m.unitCost.assign(items + 2, 0);
  m.plannedPrice.assign(items + 2, 0);
  m.salePrice.assign(items + 2, 0);
  m.itemNature.assign(items + 2, 1);
  Statement item(s.db,
                 "INSERT INTO Item (lngItemID,strItemCode,strItemName,strUnit,lngItemNatureID,"
                 "dblStandardPrice) VALUES (?,?,?,?,?,?)");
  static const char* const kNatureNames[] = {"", "商品", "材料", "劳务", "半成品"};
  for (int id = 1; id <= items + 1; ++id) {
    const bool dormant = id == items + 1;
    int nature = 1;
    if (!dormant) {
      const double u = rng.Unit();
      nature = u < 0.05 ? 3 : u < 0.55 ? 1 : u < 0.85 ? 2 : 4;
    }
    m.itemNature[id] = nature;
    m.unitCost[id] = Cents(2 + 498 * rng.Unit());
    m.salePrice[id] = Cents(m.unitCost[id] * (1.2 + 0.4 * rng.Unit()));
    if (nature != 3 && rng.Chance(0.15)) {
      m.plannedPrice[id] = Cents(m.unitCost[id] * (0.9 + 0.2 * rng.Unit()));
    }
    const std::string name = dormant ? "停用商品"s : Code(kNatureNames[nature], id, 5);
    item.Bind(1, id)
        .Bind(2, Code("SP", id, 5))
        .Bind(3, name)
        .Bind(4, nature == 2 ? "kg" : "件")
        .Bind(5, nature)
        .Bind(6, m.plannedPrice[id])
        .Run();
    if (dormant) {
      m.dormantItem = id;
    } else if (nature == 3) {
      m.services.push_back(id);
    } else {
      m.goods.push_back(id);
    }
  }

  // A few items valued at planned price, however small the account set.
  auto planned = std::count_if(m.goods.begin(), m.goods.end(),
                               [&m](int id) { return m.plannedPrice[id] > 0; });
  for (std::size_t g = 0; g < m.goods.size() && planned < 3; ++g) {
    const int id = m.goods[g];
    if (m.plannedPrice[id] > 0) continue;
    m.plannedPrice[id] = Cents(m.unitCost[id] * 1.05);
    Statement plan(s.db, "UPDATE Item SET dblStandardPrice=? WHERE lngItemID=?");
    plan.Bind(1, m.plannedPrice[id]).Bind(2, id).Run();
    ++planned;
  }

  m.positionGroups = 4;
  FillCodeTable(s, "PositionGroup", "lngPositionGroupID", "strPositionGroupCode",
                "strPositionGroupName", {"总仓", "门店", "车间", "外租仓"}, "");
  Statement position(s.db,
                     "INSERT INTO Position (lngPositionID,strPositionCode,strPositionName,"
                     "lngPositionGroupID) VALUES (?,?,?,?)");
  m.positionGroup.assign(1, 0);
  for (int group = 1; group <= m.positionGroups; ++group) {
    for (int shelf = 1; shelf <= 3; ++shelf) {
      const int id = ++m.positions;
      position.Bind(1, id)
          .Bind(2, Code("HW", group * 100 + shelf))
          .Bind(3, Code("货位", group * 100 + shelf))
          .Bind(4, group)
          .Run();
      m.positionGroup.push_back(group);
    }
  }

  m.organizations = 3;
  Exec(s.db,
       "INSERT INTO Organization VALUES (1,'01','总部',1),(2,'02','华东分公司',2),"
       "(3,'03','华南分公司',3)");
  m.customers = static_cast<int>(std::clamp<std::int64_t>(s.options.scale / 100, 20, 800));
  FillCodeTable(s, "Customer", "lngCustomerID", "strCustomerCode", "strCustomerName",
                Numbered("往来单位", m.customers), "KH");
  m.departments = 6;
  FillCodeTable(s, "Department", "lngDepartmentID", "strDepartmentCode", "strDepartmentName",
                {"采购部", "销售部", "仓储部", "财务部", "生产部", "行政部"}, "");
  m.employees = 12;
  FillCodeTable(s, "Employee", "lngEmployeeID", "strEmployeeCode", "strEmployeeName",
                Numbered("职员", m.employees), "ZY");
  FillCodeTable(s, "Class1", "lngClassID1", "strClassCode", "strClassName",
                {"华东", "华南", "华北", "出口"}, "");
  FillCodeTable(s, "Class2", "lngClassID2", "strClassCode", "strClassName",
                {"一期工程", "二期工程", "维修", "研发"}, "");
  FillCodeTable(s, "Job", "lngJobID", "strJobCode", "strJobName", {"安装", "调试", "巡检"}, "");
  for (int n = 0; n <= 5; ++n) {
    const std::string table = "Custom"s + std::to_string(n);
    FillCodeTable(s, table, "lngCustomID"s + std::to_string(n), "strCustomCode", "strCustomName",
                  Numbered(("自定"s + std::to_string(n) + "-").c_str(), 3), "");
  }
  Exec(s.db,
       "INSERT INTO Currencys VALUES (1,'RMB','人民币',1),(2,'USD','美元',7.1);"
       "INSERT INTO VoucherType VALUES (1,'记'),(2,'收'),(3,'付'),(4,'转');");

  Statement account(s.db,
                    "INSERT INTO Account (lngAccountID,strAccountCode,strAccountName,"
                    "lngAccountNatureID,blnisDepartment,blnisEmployee,blnisClass1,blnisClass2,"
                    "blnisCustomer) VALUES (?,?,?,?,?,?,?,?,?)");
  for (const AccountRow& a : kAccounts) {
    account.Bind(1, a.id)
        .Bind(2, a.code)
        .Bind(3, a.name)
        .Bind(4, a.nature)
        .Bind(5, a.department)
        .Bind(6, a.employee)
        .Bind(7, a.class1)
        .Bind(8, a.class2)
        .Bind(9, a.customer)
        .Run();
  }
}

// ---------------------------------------------------------------------------------------------
// Documents

namespace {

enum class Flow { kIn, kOut, kTransfer, kUnchecked };

struct Kind {
  int type;
  const char* name;
  const char* prefix;
  int weight;
  Flow flow;
  bool partner;  // the document names a supplier or a customer
};

// Activity types with their share of the documents. 27/28 stand for a transfer pair.
constexpr Kind kKinds[] = {
    {1, "采购入库单", "CGRK", 16, Flow::kIn, true},
    {2, "采购退货单", "CGTH", 2, Flow::kIn, true},
    {3, "受托代销入库单", "STRK", 2, Flow::kIn, true},
    {4, "期初入库单", "QCRK", 1, Flow::kUnchecked, false},
    {5, "委托加工入库单", "JGRK", 2, Flow::kIn, true},
    {7, "直运采购单", "ZYCG", 1, Flow::kUnchecked, true},
    {8, "盘盈单", "PYD", 1, Flow::kIn, false},
    {9, "其他入库单", "QTRK", 2, Flow::kIn, false},
    {10, "调价单", "TJD", 1, Flow::kIn, false},
    {11, "成本调整单", "CBTZ", 1, Flow::kOut, false},
    {13, "委托代销出库单", "WTCK", 2, Flow::kOut, true},
    {15, "销售出库单", "XSCK", 18, Flow::kOut, true},
    {16, "分期收款出库单", "FQCK", 2, Flow::kOut, true},
    {18, "直运销售单", "ZYXS", 1, Flow::kUnchecked, true},
    {19, "领料单", "LLD", 4, Flow::kOut, false},
    {21, "委托加工出库单", "JGCK", 2, Flow::kOut, true},
    {22, "盘亏单", "PKD", 1, Flow::kOut, false},
    {27, "转仓单", "ZC", 8, Flow::kTransfer, false},
    {30, "组装入库单", "ZZRK", 1, Flow::kIn, false},
    {31, "拆卸出库单", "CXCK", 1, Flow::kOut, false},
    {32, "产成品入库单", "CPRK", 3, Flow::kIn, false},
    {33, "报废单", "BFD", 1, Flow::kOut, false},
    {41, "调拨入库单", "DBRK", 1, Flow::kIn, false},
};

// The first documents go through every kind once, so that even a small account set holds each
// activity type, and until two transfer pairs exist (`transfers` so far) the next one is a pair;
// the rest are drawn by weight.
const Kind& PickKind(Rng& rng, bool allowTransfer, std::int64_t document, int transfers) {
  constexpr auto kCount = static_cast<std::int64_t>(std::size(kKinds));
  if (document < kCount && (allowTransfer || kKinds[document].flow != Flow::kTransfer)) {
    return kKinds[document];
  }
  if (allowTransfer && transfers < 2) {
    for (const Kind& k : kKinds) {
      if (k.flow == Flow::kTransfer) return k;
    }
  }
  int total = 0;
  for (const Kind& k : kKinds) total += (allowTransfer || k.flow != Flow::kTransfer) ? k.weight : 0;
  int pick = rng.Below(total);
  for (const Kind& k : kKinds) {
    if (!allowTransfer && k.flow == Flow::kTransfer) continue;
    if (pick < k.weight) return k;
    pick -= k.weight;
  }
  return kKinds[0];
}

struct Header {
  std::int64_t id = 0;
  int day = 0;
  int type = 0;
  std::string receiptNo;
  int receiptNumber = 0;
  int sameGroup = 0;
  std::int64_t order = 0;
  int isVoid = 0;
  int status = 2;
  int customer = 0, department = 0, employee = 0, organization = 0;
};

struct Line {
  int row = 0;
  int item = 0;
  int position = 0;
  std::string batch;
  double quantity = 0, price = 0, amount = 0, cost = 0, avgCost = 0, planPrice = 0, expense = 0,
         income = 0, tax = 0;
};

class DocumentWriter {
 public:
  explicit DocumentWriter(BuildState& s)
      : s_(s),
        header_(s.db,
                "INSERT INTO ItemActivity (lngActivityID,strDate,intYear,bytPeriod,"
                "lngActivityTypeID,lngReceiptTypeID,strReceiptNo,lngReceiptNo,blnSameGroup,"
                "lngOrderActivityID,blnIsVoid,bytStatus,lngCustomerID,lngDepartmentID,"
                "lngEmployeeID,lngOrganizationID) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"),
        line_(s.db,
              "INSERT INTO ItemActivityDetail (lngActivityDetailID,lngActivityID,lngRowID,"
              "lngItemID,lngPositionID,strProduceNum,dblQuantity,dblPrice,dblAmount,"
              "dblCostAmount,dblAvgCostAmount,dblPlanPrice,dblExpenseAmount,dblIncomeAmount,"
              "dblTaxAmount) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)") {
    for (int d = 0; d < kDays; ++d) dates_[d] = DateOfDay(d);
  }

  std::int64_t NextActivityId() { return ++activityId_; }
  int NextReceiptNumber(int type) { return ++receiptNumbers_[type]; }

  void Write(const Header& h) {
    header_.Bind(1, h.id)
        .Bind(2, dates_[h.day])
        .Bind(3, kYear)
        .Bind(4, PeriodOfDay(h.day))
        .Bind(5, h.type)
        .Bind(6, h.type)
        .Bind(7, h.receiptNo)
        .Bind(8, h.receiptNumber)
        .Bind(9, h.sameGroup)
        .Bind(10, h.order)
        .Bind(11, h.isVoid)
        .Bind(12, h.status)
        .Bind(13, h.customer)
        .Bind(14, h.department)
        .Bind(15, h.employee)
        .Bind(16, h.organization)
        .Run();
    ++s_.documents;
  }

  void Write(std::int64_t activity, const Line& l) {
    line_.Bind(1, ++detailId_)
        .Bind(2, activity)
        .Bind(3, l.row)
        .Bind(4, l.item)
        .Bind(5, l.position)
        .Bind(6, l.batch)
        .Bind(7, l.quantity)
        .Bind(8, l.price)
        .Bind(9, l.amount)
        .Bind(10, l.cost)
        .Bind(11, l.avgCost)
        .Bind(12, l.planPrice)
        .Bind(13, l.expense)
        .Bind(14, l.income)
        .Bind(15, l.tax)
        .Run();
    ++s_.lines;
  }

 private:
  BuildState& s_;
  Statement header_;
  Statement line_;
  std::array<std::string, kDays> dates_;
  std::int64_t activityId_ = 0;
  std::int64_t detailId_ = 0;
  std::array<int, 64> receiptNumbers_{};
};

// The figures of one line, consistent with every receipt check and with the average-cost
// update of the account set's version. Lines valued at a planned price carry their cost at that
// price; an inbound one keeps the price actually paid in dblAmount.
Line MakeLine(BuildState& s, const Kind& kind, int row, int item, int position) {
  const Masters& m = s.masters;
  Rng& rng = s.rng;
  Line l;
  l.row = row;
  l.item = item;
  l.position = position;
  if (rng.Chance(0.2)) {
    char batch[32];
    std::snprintf(batch, sizeof batch, "P%d-%03d", kYear, rng.Between(100, 999));
    l.batch = batch;
  }
  const bool valueOnly = kind.type == 10 || kind.type == 11;
  l.quantity = valueOnly ? 0 : rng.Between(1, 60);
  const double plan = m.plannedPrice[item];
  const double cost = valueOnly ? Cents((kind.type == 11 ? rng.Unit() - 0.4 : rng.Unit()) * 300)
                                : Cents(l.quantity * m.unitCost[item]);
  const double paid =
      valueOnly ? cost : Cents(l.quantity * m.unitCost[item] * (0.95 + 0.1 * rng.Unit()));
  const double atPlan = valueOnly ? cost : Cents(l.quantity * plan);
  switch (kind.flow) {
    case Flow::kIn:
      if (plan > 0) {
        l.planPrice = plan;
        l.cost = l.avgCost = atPlan;
        l.amount = paid;
      } else {
        l.amount = l.cost = l.avgCost = paid;
      }
      if (kind.type == 1 && rng.Chance(0.1)) l.expense = Cents(paid * 0.03);
      if (kind.type == 5 && rng.Chance(0.3)) l.expense = Cents(paid * 0.08);
      if (kind.type == 1 || kind.type == 2) l.tax = Cents(l.amount * 0.13);
      break;
    case Flow::kOut:
      l.planPrice = plan;
      l.amount = l.cost = l.avgCost = plan > 0 ? atPlan : cost;
      break;
    case Flow::kTransfer:  // the caller sets the figures of each side
    case Flow::kUnchecked:
      l.amount = l.cost = l.avgCost = kind.type == 18 ? cost : paid;
      if (kind.type == 7) l.tax = Cents(paid * 0.13);
      break;
  }
  if (kind.type == 13 || kind.type == 15 || kind.type == 16 || kind.type == 18) {
    l.income = Cents(l.quantity * m.salePrice[item]);
    l.tax = Cents(l.income * 0.13);
  }
  l.price = l.quantity > 0 ? Cents(l.amount / l.quantity) : 0;
  return l;
}

int PickItem(BuildState& s, const Kind& kind) {
  const Masters& m = s.masters;
  const bool mayBeService = kind.type == 1 || kind.type == 15;
  if (mayBeService && !m.services.empty() && s.rng.Chance(0.05)) {
    return m.services[s.rng.Below(static_cast<int>(m.services.size()))];
  }
  return m.goods[s.rng.Below(static_cast<int>(m.goods.size()))];
}

Header MakeHeader(BuildState& s, DocumentWriter& out, const Kind& kind, int type, int day) {
  Rng& rng = s.rng;
  const Masters& m = s.masters;
  Header h;
  h.id = out.NextActivityId();
  h.day = day;
  h.type = type;
  h.receiptNo = kind.flow == Flow::kTransfer ? (type == 27 ? "ZCRK" : "ZCCK") : kind.prefix;
  h.receiptNumber = out.NextReceiptNumber(type);
  h.customer = kind.partner ? rng.Between(1, m.customers) : 0;
  h.department = rng.Between(1, m.departments);
  h.employee = rng.Between(1, m.employees);
  h.organization = rng.Between(1, m.organizations);
  return h;
}

// A transfer: the receiving header (27) and the issuing header (28) that points to it, lines
// paired by row number. Within one cost group (blnSameGroup 1) only the average cost moves;
// across groups the version decides whether the issue carries its cost as amounts.
// `forceSameGroup` 1 makes a pair within one cost group, 0 one across groups, -1 draws it.
void WriteTransfer(BuildState& s, DocumentWriter& out, const Kind& kind, int day, int lines,
                   int forceSameGroup) {
  const Masters& m = s.masters;
  Rng& rng = s.rng;
  Header in = MakeHeader(s, out, kind, 27, day);
  Header outgoing = MakeHeader(s, out, kind, 28, day);
  outgoing.organization = in.organization;
  outgoing.order = in.id;
  const bool sameGroup = forceSameGroup < 0 ? rng.Chance(0.5) : forceSameGroup == 1;
  in.sameGroup = outgoing.sameGroup = sameGroup ? 1 : 0;
  out.Write(in);
  out.Write(outgoing);

  const bool carriesAmounts = !sameGroup && !s.oldVersion;
  for (int row = 1; row <= lines; ++row) {
    const int item = m.goods[rng.Below(static_cast<int>(m.goods.size()))];
    const int from = rng.Between(1, m.positions);
    const int group = m.positionGroup[from];
    int to = from;
    while (to == from || (m.positionGroup[to] == group) != sameGroup) {
      to = rng.Between(1, m.positions);
    }
    Line issue = MakeLine(s, kind, row, item, from);
    const double plan = m.plannedPrice[item];
    issue.planPrice = plan;
    issue.avgCost =
        plan > 0 ? Cents(issue.quantity * plan) : Cents(issue.quantity * m.unitCost[item]);
    issue.amount = issue.cost = carriesAmounts ? issue.avgCost : 0;
    issue.price = Cents(issue.avgCost / issue.quantity);
    Line receipt = issue;
    receipt.position = to;
    out.Write(outgoing.id, issue);
    out.Write(in.id, receipt);
  }
}

}  // namespace

void FillDocuments(BuildState& s) {
  DocumentWriter out(s);
  Rng& rng = s.rng;
  const std::int64_t target = s.options.scale;
  Exec(s.db, "BEGIN");
  // Seed the receipt types with every kind's name; the transfer pair has one per side.
  {
    Statement type(s.db,
                   "INSERT INTO ReceiptType (lngReceiptTypeID,strReceiptTypeName) VALUES (?,?)");
    for (const Kind& k : kKinds) {
      if (k.flow == Flow::kTransfer) {
        type.Bind(1, 27).Bind(2, "转仓入库单").Run();
        type.Bind(1, 28).Bind(2, "转仓出库单").Run();
      } else {
        type.Bind(1, k.type).Bind(2, k.name).Run();
      }
    }
    type.Bind(1, 50).Bind(2, "收款单").Run();
    type.Bind(1, 51).Bind(2, "付款单").Run();
  }

  std::int64_t kinds = 0;
  int transfers = 0;
  while (s.lines < target) {
    const std::int64_t left = target - s.lines;
    // Documents follow the calendar: the share of lines written so far picks the day.
    const int day = static_cast<int>(std::min<std::int64_t>(kDays - 1, s.lines * kDays / target));
    const Kind& kind = PickKind(rng, left >= 2, kinds++, transfers);
    if (kind.flow == Flow::kTransfer) {
      const int pairs = static_cast<int>(std::min<std::int64_t>(rng.Between(1, 4), left / 2));
      const int forced = transfers < 2 ? 1 - transfers : -1;
      WriteTransfer(s, out, kind, day, pairs, forced);
      ++transfers;
      continue;
    }
    Header h = MakeHeader(s, out, kind, kind.type, day);
    const double u = rng.Unit();
    if (u < 0.01) {
      h.isVoid = 1;
    } else if (u < 0.03) {
      h.status = 1;  // entered, not yet confirmed
    }
    out.Write(h);
    const int lines = static_cast<int>(std::min<std::int64_t>(rng.Between(1, 6), left));
    for (int row = 1; row <= lines; ++row) {
      const int item = PickItem(s, kind);
      const int position = rng.Between(1, s.masters.positions);
      out.Write(h.id, MakeLine(s, kind, row, item, position));
    }
  }
  Exec(s.db, "COMMIT");
}

}  // namespace tallyvet::sample
