// Vouchers and receivable/payable detail of a sample account set. Document vouchers are made
// from the document lines by SQL, so that the voucher/inventory comparison agrees with the
// documents exactly as they stand, faults included.
#include <algorithm>
#include <string>

#include "sample/build.h"
#include "sample/sql_text.h"
#include "sample/statement.h"

namespace tallyvet::sample {

using namespace std::string_literals;

namespace {

struct Posting {
  int type;
  int direction;       // of the inventory side: 1 into stock, -1 out of it
  int counterAccount;  // 0: the other side is inventory too (transfers)
};

// How each booked activity type reaches the ledger. Goods sent out on consignment or
// instalment, or in for processing, stay on inventory accounts whose names the voucher/inventory
// comparison leaves out.
constexpr Posting kPostings[] = {
    {1, 1, account::kPayable},
    {2, -1, account::kPayable},
    {3, 1, account::kConsignedIn},
    {5, 1, account::kEntrustedProcessing},
    {8, 1, account::kPendingLoss},
    {9, 1, account::kOtherPayable},
    {10, 1, account::kCostOfSales},
    {11, -1, account::kCostOfSales},
    {13, -1, account::kConsignedOut},
    {15, -1, account::kCostOfSales},
    {16, -1, account::kInstalmentOut},
    {19, -1, account::kProduction},
    {21, -1, account::kEntrustedProcessing},
    {22, -1, account::kPendingLoss},
    {27, 1, 0},
    {28, -1, 0},
    {30, 1, account::kProduction},
    {31, -1, account::kProduction},
    {32, 1, account::kProduction},
    {33, -1, account::kAdministration},
    {41, 1, account::kOtherPayable},
};

constexpr const char* kInsertVoucherDetail =
    "INSERT INTO VoucherDetail (lngVoucherID,lngRowID,lngAccountID,intDirection,dblAmount,"
    "dblCurrAmount,dblQuantity,lngCurrencyID,lngDepartmentID,lngEmployeeID,lngClassID1,"
    "lngClassID2,lngCustomerID,lngOrganizationID,lngSourceOrganizationID,strSummary) ";

// Stock-category lines `d` of booked documents `a`, with item `i`, nature `n`, posting `p` and
// whatever further tables the caller joins.
std::string BookedLines(const std::string& moreTables, const std::string& moreConditions) {
  return " FROM ItemActivity a, ItemActivityDetail d, Item i, ItemNature n, temp.Posting p" +
         moreTables +
         " WHERE d.lngActivityID=a.lngActivityID AND i.lngItemID=d.lngItemID"
         " AND n.lngItemNatureID=i.lngItemNatureID AND n.strItemCategory='1'"
         " AND p.lngActivityTypeID=a.lngActivityTypeID AND a.lngVoucherID1 IS NOT NULL" +
         moreConditions;
}

void BookDocuments(BuildState& s) {
  Exec(s.db,
       "CREATE TEMP TABLE Posting (lngActivityTypeID INTEGER PRIMARY KEY, intDirection INTEGER,"
       " lngCounterAccountID INTEGER, lngVoucherSourceID INTEGER);"
       "CREATE TEMP TABLE NatureAccount (lngItemNatureID INTEGER PRIMARY KEY,"
       " lngAccountID INTEGER)");
  {
    Statement posting(s.db, "INSERT INTO temp.Posting VALUES (?,?,?,?)");
    for (const Posting& p : kPostings) {
      posting.Bind(1, p.type)
          .Bind(2, p.direction)
          .Bind(3, p.counterAccount)
          .Bind(4, VoucherSourceOfType(p.type))
          .Run();
    }
    Statement nature(s.db, "INSERT INTO temp.NatureAccount VALUES (?,?)");
    nature.Bind(1, 1).Bind(2, account::kGoods).Run();
    nature.Bind(1, 2).Bind(2, account::kMaterials).Run();
    nature.Bind(1, 4).Bind(2, account::kSemiFinished).Run();
  }

  // One voucher per day and source for the documents that hold stock goods; direct purchases
  // and sales and opening stock are not booked this way.
  const std::string hasGoods =
      "EXISTS (SELECT 1 FROM ItemActivityDetail d, Item i, ItemNature n"
      " WHERE d.lngActivityID=a.lngActivityID AND i.lngItemID=d.lngItemID"
      " AND n.lngItemNatureID=i.lngItemNatureID AND n.strItemCategory='1')";
  Exec(s.db,
       "INSERT INTO Voucher (strDate,lngVoucherTypeID,intVoucherNo,lngVoucherSourceID,"
       "strSummary) SELECT DISTINCT a.strDate,4,0,p.lngVoucherSourceID,'库存单据'"
       " FROM ItemActivity a, temp.Posting p WHERE p.lngActivityTypeID=a.lngActivityTypeID"
       " AND " +
           hasGoods + " ORDER BY a.strDate,p.lngVoucherSourceID");
  Exec(s.db,
       "CREATE TEMP TABLE VoucherKey AS SELECT strDate,lngVoucherSourceID,lngVoucherID"
       " FROM Voucher;"
       "CREATE UNIQUE INDEX temp.VoucherKey_Key ON VoucherKey (strDate,lngVoucherSourceID);"
       "UPDATE ItemActivity AS a SET lngVoucherID1=k.lngVoucherID"
       " FROM temp.Posting p, temp.VoucherKey k"
       " WHERE p.lngActivityTypeID=a.lngActivityTypeID AND k.strDate=a.strDate"
       " AND k.lngVoucherSourceID=p.lngVoucherSourceID AND " +
           hasGoods);

  const std::string amount = "SUM("s + BookedAmountSql("a", "d") + ")";
  // The inventory side, by account, direction and organisation.
  Exec(s.db,
       std::string(kInsertVoucherDetail) +
           "SELECT a.lngVoucherID1,0,na.lngAccountID,p.intDirection," + amount + "," + amount +
           ",SUM(d.dblQuantity),1,0,0,0,0,0,a.lngOrganizationID,a.lngOrganizationID,"
           "'存货'"s +
           BookedLines(", temp.NatureAccount na", " AND na.lngItemNatureID=i.lngItemNatureID") +
           " GROUP BY a.lngVoucherID1,na.lngAccountID,p.intDirection,a.lngOrganizationID"
           " HAVING " +
           amount + "<>0 ORDER BY 1,3,4,14");
  // The other side, with the analysis keys its account keeps.
  const auto keyed = [](const char* flag, const char* column) {
    return "CASE WHEN c."s + flag + "=1 THEN a." + column + " ELSE 0 END";
  };
  const std::string department = keyed("blnisDepartment", "lngDepartmentID");
  const std::string employee = keyed("blnisEmployee", "lngEmployeeID");
  const std::string customer = keyed("blnisCustomer", "lngCustomerID");
  Exec(s.db, std::string(kInsertVoucherDetail) + "SELECT a.lngVoucherID1,0,c.lngAccountID," +
                 "-p.intDirection," + amount + "," + amount + ",SUM(d.dblQuantity),1," +
                 department + "," + employee + ",0,0," + customer +
                 ",a.lngOrganizationID,a.lngOrganizationID,'对方'"s +
                 BookedLines(", Account c", " AND c.lngAccountID=p.lngCounterAccountID") +
                 " GROUP BY a.lngVoucherID1,c.lngAccountID,p.intDirection," + department + "," +
                 employee + "," + customer + ",a.lngOrganizationID HAVING " + amount +
                 "<>0 ORDER BY 1,3,4,9,10,13,14");
}

// Receivables from sales, payables from purchases, each one row per document; the analysis
// keys are kept on every row, also where the account does not keep them.
void DetailFromDocuments(BuildState& s) {
  Exec(s.db,
       "INSERT INTO QARAPDetail1 (strDate,lngAccountID,intDirection,dblAmount,dblCurrAmount,"
       "lngCurrencyID,lngDepartmentID,lngEmployeeID,lngClassID1,lngClassID2,lngCustomerID,"
       "lngOrganizationID,lngReceiptTypeID,strReceiptNo,lngReceiptNo)"
       " SELECT a.strDate,"
       " CASE WHEN a.lngActivityTypeID IN (1,2,7) THEN "s +
           std::to_string(account::kPayable) + " ELSE "s + std::to_string(account::kReceivable) +
           " END,"
           " CASE WHEN a.lngActivityTypeID IN (1,7) THEN -1 ELSE 1 END,"
           " CASE WHEN a.lngActivityTypeID IN (1,7) THEN -1 ELSE 1 END*SUM(CASE WHEN"
           " a.lngActivityTypeID IN (1,2,7) THEN d.dblAmount ELSE d.dblIncomeAmount END"
           "+d.dblTaxAmount),"
           " CASE WHEN a.lngActivityTypeID IN (1,7) THEN -1 ELSE 1 END*SUM(CASE WHEN"
           " a.lngActivityTypeID IN (1,2,7) THEN d.dblAmount ELSE d.dblIncomeAmount END"
           "+d.dblTaxAmount),"
           " 1,a.lngDepartmentID,a.lngEmployeeID,1+a.lngActivityID%4,1+(a.lngActivityID/4)%4,"
           " a.lngCustomerID,a.lngOrganizationID,a.lngReceiptTypeID,a.strReceiptNo,"
           "a.lngReceiptNo"
           " FROM ItemActivity a, ItemActivityDetail d WHERE d.lngActivityID=a.lngActivityID"
           " AND a.lngActivityTypeID IN (1,2,7,13,15,16,18) AND a.blnIsVoid=0 AND a.bytStatus=2"
           " AND a.lngCustomerID>0 GROUP BY a.lngActivityID ORDER BY a.lngActivityID");
}

// Receipts from customers and payments to suppliers, some in a foreign currency.
void ReceiptsAndPayments(BuildState& s) {
  Rng& rng = s.rng;
  const Masters& m = s.masters;
  Statement insert(s.db,
                   "INSERT INTO QARAPDetail1 (strDate,lngAccountID,intDirection,dblAmount,"
                   "dblCurrAmount,lngCurrencyID,lngDepartmentID,lngEmployeeID,lngClassID1,"
                   "lngClassID2,lngCustomerID,lngOrganizationID,lngReceiptTypeID,strReceiptNo,"
                   "lngReceiptNo) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
  const int count = static_cast<int>(std::max<std::int64_t>(10, s.documents / 15));
  int receiptNo = 0, paymentNo = 0;
  for (int n = 0; n < count; ++n) {
    const double u = rng.Unit();
    const bool receipt = u < 0.6;
    const int accountId =
        receipt ? account::kReceivable : (u < 0.9 ? account::kPayable : account::kOtherPayable);
    const int direction = receipt ? -1 : 1;
    const double amount = Cents(100 + rng.Unit() * 20000);
    const bool foreign = rng.Chance(0.15);
    insert.Bind(1, DateOfDay(rng.Below(kDays)))
        .Bind(2, accountId)
        .Bind(3, direction)
        .Bind(4, direction * amount)
        .Bind(5, direction * (foreign ? Cents(amount / 7.1) : amount))
        .Bind(6, foreign ? 2 : 1)
        .Bind(7, rng.Between(1, m.departments))
        .Bind(8, rng.Between(1, m.employees))
        .Bind(9, rng.Between(1, 4))
        .Bind(10, rng.Between(1, 4))
        .Bind(11, rng.Between(1, m.customers))
        .Bind(12, rng.Between(1, m.organizations))
        .Bind(13, receipt ? 50 : 51)
        .Bind(14, receipt ? "SK" : "FK")
        .Bind(15, receipt ? ++receiptNo : ++paymentNo)
        .Run();
  }
}

// A third of the receivable/payable rows are already booked: one voucher per day and source,
// the detail's own account on one side and revenue or the bank on the other.
void BookDetail(BuildState& s) {
  const std::string booked =
      " FROM QARAPDetail1 q, Account c WHERE c.lngAccountID=q.lngAccountID"
      " AND q.lngARAPDetailID%3=0";
  const std::string source =
      "CASE WHEN q.lngAccountID="s + std::to_string(account::kReceivable) + " THEN 10 ELSE 9 END";
  Exec(s.db,
       "CREATE TEMP TABLE DetailVoucher (strDate TEXT, lngVoucherSourceID INTEGER,"
       " lngVoucherID INTEGER, PRIMARY KEY (strDate, lngVoucherSourceID));"
       "INSERT INTO Voucher (strDate,lngVoucherTypeID,intVoucherNo,lngVoucherSourceID,"
       "strSummary) SELECT DISTINCT q.strDate,4,0," +
           source + ",'往来'" + booked + " ORDER BY q.strDate," + source +
           ";"
           "INSERT INTO temp.DetailVoucher SELECT strDate,lngVoucherSourceID,lngVoucherID"
           " FROM Voucher WHERE strSummary='往来'");
  const auto keyed = [](const char* flag, const char* column) {
    return "CASE WHEN c."s + flag + "=1 THEN q." + column + " ELSE 0 END";
  };
  const std::string keys =
      keyed("blnisDepartment", "lngDepartmentID") + "," + keyed("blnisEmployee", "lngEmployeeID") +
      "," + keyed("blnisClass1", "lngClassID1") + "," + keyed("blnisClass2", "lngClassID2") + "," +
      keyed("blnisCustomer", "lngCustomerID");
  const std::string voucher =
      "(SELECT v.lngVoucherID FROM temp.DetailVoucher v WHERE v.strDate=q.strDate"
      " AND v.lngVoucherSourceID=" +
      source + ")";
  Exec(s.db, std::string(kInsertVoucherDetail) + "SELECT " + voucher +
                 ",0,q.lngAccountID,q.intDirection,SUM(q.dblAmount*q.intDirection),"
                 "SUM(q.dblCurrAmount*q.intDirection),0,q.lngCurrencyID," +
                 keys + ",q.lngOrganizationID,q.lngOrganizationID,'往来'" + booked +
                 " GROUP BY 1,3,4,8,9,10,11,12,13,14 ORDER BY 1,3,4,8,9,10,11,12,13,14");
  const std::string other = "CASE WHEN q.lngAccountID="s + std::to_string(account::kReceivable) +
                            " AND q.intDirection=1 THEN "s + std::to_string(account::kRevenue) +
                            " ELSE "s + std::to_string(account::kBank) + " END";
  Exec(s.db, std::string(kInsertVoucherDetail) + "SELECT " + voucher + ",0," + other +
                 ",-q.intDirection,SUM(q.dblAmount*q.intDirection),"
                 "SUM(q.dblCurrAmount*q.intDirection),0,q.lngCurrencyID,0,0,0,0,0,"
                 "q.lngOrganizationID,q.lngOrganizationID,'往来'" +
                 booked + " GROUP BY 1,3,4,8,14 ORDER BY 1,3,4,8,14");
}

// Expense claims paid from the bank.
void ManualVouchers(BuildState& s) {
  Rng& rng = s.rng;
  const Masters& m = s.masters;
  const int count = static_cast<int>(std::max<std::int64_t>(12, s.options.scale / 200));
  std::int64_t id = QueryValue(s.db, "SELECT IFNULL(MAX(lngVoucherID),0) FROM Voucher").AsInteger();
  Statement voucher(s.db,
                    "INSERT INTO Voucher (lngVoucherID,strDate,lngVoucherTypeID,intVoucherNo,"
                    "lngVoucherSourceID,strSummary) VALUES (?,?,3,0,0,'费用报销')");
  Statement line(s.db, std::string(kInsertVoucherDetail) +
                           "VALUES (?,0,?,?,?,?,0,?,?,?,?,?,0,?,0,'费用报销')");
  for (int n = 0; n < count; ++n) {
    ++id;
    voucher.Bind(1, id).Bind(2, DateOfDay(rng.Below(kDays))).Run();
    const double amount = Cents(50 + rng.Unit() * 5000);
    const bool foreign = rng.Chance(0.2);
    const double curr = foreign ? Cents(amount / 7.1) : amount;
    const int organization = rng.Between(1, m.organizations);
    line.Bind(1, id)
        .Bind(2, account::kAdministration)
        .Bind(3, 1)
        .Bind(4, amount)
        .Bind(5, curr)
        .Bind(6, foreign ? 2 : 1)
        .Bind(7, rng.Between(1, m.departments))
        .Bind(8, rng.Between(1, m.employees))
        .Bind(9, 0)
        .Bind(10, rng.Chance(0.3) ? rng.Between(1, 4) : 0)
        .Bind(11, organization)
        .Run();
    line.Bind(1, id)
        .Bind(2, account::kBank)
        .Bind(3, -1)
        .Bind(4, amount)
        .Bind(5, curr)
        .Bind(6, foreign ? 2 : 1)
        .Bind(7, 0)
        .Bind(8, 0)
        .Bind(9, 0)
        .Bind(10, 0)
        .Bind(11, organization)
        .Run();
  }
}

// Numbers run per voucher type and month in date order; vouchers up to September are posted,
// except a few left for the accountant.
void NumberAndPost(BuildState& s) {
  Exec(s.db,
       "UPDATE Voucher SET intVoucherNo=n.rn FROM (SELECT lngVoucherID,ROW_NUMBER() OVER"
       " (PARTITION BY lngVoucherTypeID,substr(strDate,1,7) ORDER BY strDate,lngVoucherID) AS rn"
       " FROM Voucher) AS n WHERE Voucher.lngVoucherID=n.lngVoucherID;"
       "UPDATE Voucher SET blnPosted=CASE WHEN strDate<'2025-10-01' AND lngVoucherID%7<>0"
       " THEN 1 ELSE 0 END;"
       "UPDATE VoucherDetail SET lngRowID=n.rn FROM (SELECT lngVoucherDetailID,ROW_NUMBER()"
       " OVER (PARTITION BY lngVoucherID ORDER BY lngVoucherDetailID) AS rn FROM VoucherDetail)"
       " AS n WHERE VoucherDetail.lngVoucherDetailID=n.lngVoucherDetailID");
}

}  // namespace

void FillVouchers(BuildState& s) {
  Exec(s.db, "BEGIN");
  BookDocuments(s);
  DetailFromDocuments(s);
  ReceiptsAndPayments(s);
  BookDetail(s);
  ManualVouchers(s);
  NumberAndPost(s);
  Exec(s.db, "COMMIT");
}

}  // namespace tallyvet::sample
