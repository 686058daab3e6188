// Small account sets for the receipt audit tests, built in code in a temporary SQLite file: the
// document tables the checks read, the masters their codes come from, and a stored stock-ledger
// function short enough to read, so that the re-registration really rebuilds PositionDaily.
#pragma once

#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "db/sqlite_connection.h"
#include "shell/host_context.h"
#include "shell/message_box.h"
#include "support/temp_dir.h"

namespace tallyvet::receipt_audit::fixture {

// Forwards to a real connection, records every query, and fails the ones a test picks.
class SpyConnection final : public db::Connection {
 public:
  explicit SpyConnection(db::Connection& inner) : inner(inner) {}
  std::unique_ptr<db::Recordset> OpenResultset(const std::string& sql, int cursor,
                                               int lock) override {
    opened.push_back(sql);
    if (failQuery && failQuery(sql)) throw db::Error("scripted failure", sql);
    return inner.OpenResultset(sql, cursor, lock);
  }
  void Execute(const std::string& sql) override {
    executed.push_back(sql);
    if (failExecute && failExecute(sql)) throw db::Error("scripted failure", sql);
    inner.Execute(sql);
  }
  std::int64_t RowsAffected() const override { return inner.RowsAffected(); }
  bool StillExecuting() const override { return inner.StillExecuting(); }
  void BeginTransaction() override { inner.BeginTransaction(); }
  void CommitTransaction() override { inner.CommitTransaction(); }
  void RollbackTransaction() override { inner.RollbackTransaction(); }
  bool InTransaction() const override { return inner.InTransaction(); }

  db::Connection& inner;
  std::function<bool(const std::string&)> failQuery;
  std::function<bool(const std::string&)> failExecute;
  std::vector<std::string> opened;
  std::vector<std::string> executed;
};

// Keeps every message shown as "title|text".
struct RecordingMessageBox final : MessageBox {
  void Show(const std::string& text, const std::string& title, MessageIcon) override {
    shown.push_back(title + "|" + text);
  }
  bool AskYesNo(const std::string&, const std::string&) override { return true; }
  std::vector<std::string> shown;
};

// A temporary account set whose context talks through a SpyConnection. Documents are made one
// line each, the line numbered as its header from 1001 on; the helpers return that number.
class AccountSet {
 public:
  struct Line {
    std::string date = "2025-01-10";
    int item = 1, position = 1;
    double amount = 0, cost = 0, avg = 0, plan = 0;
  };

  explicit AccountSet(const std::string& version = "9.00") {
    std::string script = kSchema;
    std::istringstream source(kStockLedgerSource);
    std::string text;
    for (int n = 1; std::getline(source, text); ++n) {
      script += "INSERT INTO ALL_SOURCE VALUES ('TESTER','MDLITEM','PACKAGE BODY'," +
                std::to_string(n) + ",'" + text + "\n');";
    }
    conn_->ExecuteScript(script + "INSERT INTO Business VALUES ('演示账套','" + version + "');");
    ctx.connection = spy_;
    ctx.user = "tester";
  }

  int inbound_line(const Line& l) { return document(1, l); }
  int outbound_line(const Line& l) { return document(15, l); }
  // A transfer: the issuing header (28) points at the receiving header (27); the lines pair up by
  // lngRowID. Returns {issuing line, receiving line}.
  std::pair<int, int> transfer_pair(const Line& out, const Line& in, int sameGroup) {
    const int receiving = document(27, in, sameGroup);
    return {document(28, out, sameGroup, receiving), receiving};
  }

  // The first value of a query that returns a row.
  db::Value Scalar(const std::string& sql) {
    return conn_->OpenResultset(sql)->Fields()[0].Value();
  }
  double LineValue(int id, const std::string& column) {
    return Scalar("SELECT " + column +
                  " FROM ItemActivityDetail WHERE lngActivityDetailID=" + std::to_string(id))
        .AsDouble();
  }
  // Every document line's cost columns and the stock ledger's rows, each as "|"-joined text.
  std::vector<std::string> Lines() {
    std::vector<std::string> out;
    for (const char* sql : {"SELECT lngActivityDetailID,dblAmount,dblCostAmount,dblAvgCostAmount "
                            "FROM ItemActivityDetail ORDER BY 1",
                            "SELECT * FROM PositionDaily ORDER BY 1,2,3"}) {
      for (auto rs = conn_->OpenResultset(sql); !rs->Eof(); rs->MoveNext()) {
        std::string row;
        for (std::size_t i = 0; i < rs->Fields().Count(); ++i)
          row += (i ? "|" : "") + rs->Fields()[i].Value().AsText();
        out.push_back(row);
      }
    }
    return out;
  }
  db::SqliteConnection& db() { return *conn_; }
  SpyConnection& spy() { return *spy_; }

 private:
  static constexpr const char* kSchema = R"(PRAGMA synchronous=OFF;
    CREATE TABLE Business (strUserName TEXT, strVer TEXT);
    CREATE TABLE ItemActivity (lngActivityID INTEGER PRIMARY KEY, strDate TEXT, intYear INTEGER,
      bytPeriod INTEGER, lngReceiptTypeID INTEGER, strReceiptNo TEXT, lngReceiptNo INTEGER,
      lngActivityTypeID INTEGER, blnSameGroup INTEGER, lngOrderActivityID INTEGER,
      blnIsVoid INTEGER DEFAULT 0, bytStatus INTEGER DEFAULT 2);
    CREATE TABLE ItemActivityDetail (lngActivityDetailID INTEGER PRIMARY KEY,
      lngActivityID INTEGER, lngRowID INTEGER DEFAULT 1, lngItemID INTEGER, lngPositionID INTEGER,
      dblAmount REAL, dblCostAmount REAL, dblAvgCostAmount REAL, dblPlanPrice REAL,
      blnIsManual INTEGER DEFAULT 0);
    CREATE TABLE Position (lngPositionID INTEGER PRIMARY KEY, strPositionCode TEXT,
      lngPositionGroupID INTEGER);
    CREATE TABLE Item (lngItemID INTEGER PRIMARY KEY, strItemCode TEXT);
    CREATE TABLE ReceiptType (lngReceiptTypeID INTEGER PRIMARY KEY, strReceiptTypeName TEXT);
    CREATE TABLE ALL_SOURCE (OWNER TEXT, NAME TEXT, TYPE TEXT, LINE INTEGER, TEXT TEXT);
    CREATE TABLE PositionDaily (strDate TEXT, lngItemID INTEGER, lngPositionID INTEGER,
      dblCostIn REAL, dblCostOut REAL, dblAvgOut REAL);
    INSERT INTO Position VALUES (1, 'A01', 1), (2, 'B01', 2);
    INSERT INTO Item VALUES (1, 'BOLT-8'), (2, 'NUT-8'), (3, 'WASHER');
    INSERT INTO ReceiptType VALUES (1, '采购入库'), (15, '销售出库'), (28, '转仓出库');)";

  // The stock-position ledger's stored function, laid out as the derivation reads it.
  static constexpr const char* kStockLedgerSource = R"(Function ChangePositionDaily_New
  (p_BeginDate IN VARCHAR2, p_EndDate IN VARCHAR2) RETURN NUMBER IS
  INSERT INTO PositionDaily (
    strDate,lngItemID,lngPositionID,dblCostIn,dblCostOut,dblAvgOut)
  SELECT ItemActivity.strDate,ItemActivityDetail.lngItemID,ItemActivityDetail.lngPositionID,
    SUM(dblCostAmount) dblCostIn,
    SUM(dblAmount) dblCostOut,
    SUM(dblAvgCostAmount) dblAvgOut
  FROM ItemActivity,ItemActivityDetail WHERE ItemActivity.lngActivityID=ItemActivityDetail.lngActivityID
  AND ItemActivity.strDate>=p_BeginDate AND ItemActivity.strDate<=p_EndDate
  GROUP BY ItemActivity.strDate,ItemActivityDetail.lngItemID,ItemActivityDetail.lngPositionID;)";

  int document(int type, const Line& l, int sameGroup = 0, int order = 0) {
    const std::string id = std::to_string(++last_), t = "," + std::to_string(type);
    // Year and period go in as text; the INTEGER columns keep them as numbers.
    conn_->Execute("INSERT INTO ItemActivity VALUES (" + id + ",'" + l.date + "','" +
                   l.date.substr(0, 4) + "','" + l.date.substr(5, 2) + "'" + t + ",'R'," + id + t +
                   "," + std::to_string(sameGroup) + "," + std::to_string(order) + ",0,2)");
    conn_->Execute("INSERT INTO ItemActivityDetail VALUES (" + id + "," + id + ",1," +
                   std::to_string(l.item) + "," + std::to_string(l.position) + "," +
                   db::FormatDouble(l.amount) + "," + db::FormatDouble(l.cost) + "," +
                   db::FormatDouble(l.avg) + "," + db::FormatDouble(l.plan) + ",0)");
    return last_;
  }

  testing::TempDir dir_;
  std::unique_ptr<db::SqliteConnection> conn_ =
      db::SqliteConnection::Create(dir_ / "a.db", "tester");
  std::shared_ptr<SpyConnection> spy_ = std::make_shared<SpyConnection>(*conn_);
  int last_ = 1000;

 public:
  HostContext ctx;  // last, so that it lets go of the spy before the database closes
};

}  // namespace tallyvet::receipt_audit::fixture
