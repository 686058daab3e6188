// Small account sets for the receipt audit tests, built in code in a temporary SQLite file: the
// document tables the checks read, the masters their codes come from, and a stored stock-ledger
// function short enough to read, so that the re-registration really rebuilds PositionDaily.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "db/sqlite_connection.h"
#include "shell/host_context.h"
#include "shell/message_box.h"

namespace tallyvet::receipt_audit::fixture {

// Forwards to a real connection, records every statement, and fails the ones a test picks.
class SpyConnection final : public db::Connection {
 public:
  explicit SpyConnection(db::Connection& inner) : inner_(inner) {}

  std::unique_ptr<db::Recordset> OpenResultset(const std::string& sql, int cursor,
                                               int lock) override {
    opened.push_back(sql);
    if (failQuery && failQuery(sql)) throw db::Error("scripted failure of the query", sql);
    return inner_.OpenResultset(sql, cursor, lock);
  }
  void Execute(const std::string& sql) override {
    executed.push_back(sql);
    if (failExecute && failExecute(sql)) throw db::Error("scripted failure", sql);
    inner_.Execute(sql);
  }
  std::int64_t RowsAffected() const override { return inner_.RowsAffected(); }
  bool StillExecuting() const override { return inner_.StillExecuting(); }

  std::size_t CountOpened(const std::string& prefix) const {
    std::size_t n = 0;
    for (const auto& s : opened) n += s.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }

  std::function<bool(const std::string&)> failQuery;
  std::function<bool(const std::string&)> failExecute;
  std::vector<std::string> opened;
  std::vector<std::string> executed;

 private:
  db::Connection& inner_;
};

class RecordingMessageBox final : public MessageBox {
 public:
  struct Shown {
    std::string text, title;
    MessageIcon icon;
  };
  void Show(const std::string& text, const std::string& title, MessageIcon icon) override {
    shown.push_back({text, title, icon});
  }
  bool AskYesNo(const std::string&, const std::string&) override { return answer; }
  std::vector<Shown> shown;
  bool answer = true;
};

// A temporary account set. Documents are made one per line: each helper makes a header of the
// activity type and one line on it, and returns the line's id.
class AccountSet {
 public:
  explicit AccountSet(const std::string& version = "9.00", bool withBusinessRow = true)
      : path_(TempPath()) {
    conn_ = db::SqliteConnection::Create(path_, "tester");
    // Test files need no durability; fsync per statement would only slow the suite down.
    conn_->ExecuteScript("PRAGMA synchronous=OFF;");
    conn_->ExecuteScript(kSchema);
    conn_->ExecuteScript(StockLedgerSource());
    if (withBusinessRow) {
      conn_->Execute("INSERT INTO Business (strUserName, strVer) VALUES ('演示账套', '" + version +
                     "')");
    }
    spy_ = std::make_shared<SpyConnection>(*conn_);
    ctx.connection = spy_;
    ctx.user = "tester";
  }
  ~AccountSet() {
    ctx.connection.reset();
    spy_.reset();
    conn_.reset();
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  AccountSet(const AccountSet&) = delete;
  AccountSet& operator=(const AccountSet&) = delete;

  db::SqliteConnection& db() { return *conn_; }
  SpyConnection& spy() { return *spy_; }

  struct Line {
    std::string date = "2025-01-10";
    int item = 1;
    int position = 1;
    double amount = 0, cost = 0, avg = 0, plan = 0;
    int manual = 0;
  };

  // Inbound (type 1), outbound (type 15) and any other single-sided document.
  int document_line(int activityType, const Line& l, int sameGroup = 0, int status = 2) {
    const int activity = header(activityType, l.date, sameGroup, 0, status);
    return line(activity, 1, l);
  }
  int inbound_line(const Line& l) { return document_line(1, l); }
  int outbound_line(const Line& l) { return document_line(15, l); }

  // A transfer: the issuing header (28) points at the receiving header (27); the lines pair up by
  // lngRowID 1. Returns {issuing line, receiving line}.
  std::pair<int, int> transfer_pair(const Line& out, const Line& in, int sameGroup) {
    const int receiving = header(27, in.date, sameGroup, 0, 2);
    const int issuing = header(28, out.date, sameGroup, receiving, 2);
    return {line(issuing, 1, out), line(receiving, 1, in)};
  }

  void position(int id, const std::string& code, int group) {
    conn_->Execute("INSERT INTO Position VALUES (" + std::to_string(id) + ",'" + code + "'," +
                   std::to_string(group) + ")");
  }

  double Number(const std::string& sql) {
    auto rs = conn_->OpenResultset(sql);
    return rs->Eof() ? -1e300 : rs->Fields()[0].Value().AsDouble();
  }
  double LineValue(int id, const std::string& column) {
    return Number("SELECT " + column +
                  " FROM ItemActivityDetail WHERE lngActivityDetailID=" + std::to_string(id));
  }
  // Every document line, as text, for comparing the whole table before and after.
  std::string DumpLines() {
    std::string out;
    auto rs = conn_->OpenResultset("SELECT * FROM ItemActivityDetail ORDER BY lngActivityDetailID");
    for (; !rs->Eof(); rs->MoveNext()) {
      for (std::size_t i = 0; i < rs->Fields().Count(); ++i) {
        out += rs->Fields()[i].Value().AsText() + "|";
      }
      out += "\n";
    }
    return out;
  }

  HostContext ctx;

 private:
  static constexpr const char* kSchema = R"(
    CREATE TABLE Business (strUserName TEXT, strVer TEXT, strStartDate TEXT);
    CREATE TABLE ItemActivity (
      lngActivityID INTEGER PRIMARY KEY, strDate TEXT, intYear INTEGER, bytPeriod INTEGER,
      lngReceiptTypeID INTEGER, strReceiptNo TEXT, lngReceiptNo INTEGER,
      lngActivityTypeID INTEGER, blnSameGroup INTEGER NOT NULL DEFAULT 0,
      lngOrderActivityID INTEGER NOT NULL DEFAULT 0, blnIsVoid INTEGER NOT NULL DEFAULT 0,
      bytStatus INTEGER NOT NULL DEFAULT 2);
    CREATE TABLE ItemActivityDetail (
      lngActivityDetailID INTEGER PRIMARY KEY, lngActivityID INTEGER, lngRowID INTEGER,
      lngItemID INTEGER, lngPositionID INTEGER, dblAmount REAL NOT NULL DEFAULT 0,
      dblCostAmount REAL NOT NULL DEFAULT 0, dblAvgCostAmount REAL NOT NULL DEFAULT 0,
      dblPlanPrice REAL NOT NULL DEFAULT 0, blnIsManual INTEGER NOT NULL DEFAULT 0);
    CREATE TABLE Position (lngPositionID INTEGER PRIMARY KEY, strPositionCode TEXT,
      lngPositionGroupID INTEGER);
    CREATE TABLE Item (lngItemID INTEGER PRIMARY KEY, strItemCode TEXT);
    CREATE TABLE ReceiptType (lngReceiptTypeID INTEGER PRIMARY KEY, strReceiptTypeName TEXT);
    CREATE TABLE ALL_SOURCE (OWNER TEXT, NAME TEXT, TYPE TEXT, LINE INTEGER, TEXT TEXT);
    CREATE TABLE PositionDaily (strDate TEXT, lngItemID INTEGER, lngPositionID INTEGER,
      dblCostIn REAL NOT NULL DEFAULT 0, dblCostOut REAL NOT NULL DEFAULT 0,
      dblAvgOut REAL NOT NULL DEFAULT 0);
    INSERT INTO Position VALUES (1, 'A01', 1);
    INSERT INTO Position VALUES (2, 'B01', 2);
    INSERT INTO Item VALUES (1, 'BOLT-8');
    INSERT INTO Item VALUES (2, 'NUT-8');
    INSERT INTO ReceiptType VALUES (1, '采购入库');
    INSERT INTO ReceiptType VALUES (15, '销售出库');
    INSERT INTO ReceiptType VALUES (27, '转仓入库');
    INSERT INTO ReceiptType VALUES (28, '转仓出库');
  )";

  // The stock-position ledger's stored function, laid out as the derivation reads it.
  static std::string StockLedgerSource() {
    const std::vector<std::string> lines = {
        "Function ChangePositionDaily_New",
        "  (p_BeginDate IN VARCHAR2, p_EndDate IN VARCHAR2) RETURN NUMBER IS",
        "BEGIN",
        "  INSERT INTO PositionDaily (",
        "    strDate,lngItemID,lngPositionID,",
        "    dblCostIn,dblCostOut,dblAvgOut)",
        "  SELECT ItemActivity.strDate,ItemActivityDetail.lngItemID,"
        "ItemActivityDetail.lngPositionID,",
        "    SUM(dblCostAmount) dblCostIn,",
        "    SUM(dblAmount) dblCostOut,",
        "    SUM(dblAvgCostAmount) dblAvgOut",
        "  FROM ItemActivity,ItemActivityDetail",
        "  WHERE ItemActivity.lngActivityID=ItemActivityDetail.lngActivityID",
        "  AND ItemActivity.strDate>=p_BeginDate AND ItemActivity.strDate<=p_EndDate",
        "  GROUP BY ItemActivity.strDate,ItemActivityDetail.lngItemID,"
        "ItemActivityDetail.lngPositionID;",
        "  RETURN 1;",
        "END;",
    };
    std::string script;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      std::string text = lines[i] + "\n";
      std::string quoted;
      for (char c : text) quoted += c == '\'' ? std::string("''") : std::string(1, c);
      script += "INSERT INTO ALL_SOURCE VALUES ('TESTER','MDLITEM','PACKAGE BODY'," +
                std::to_string(i + 1) + ",'" + quoted + "');\n";
    }
    return script;
  }

  static std::filesystem::path TempPath() {
    static std::atomic<int> counter{0};
    return std::filesystem::temp_directory_path() /
           ("tallyvet_receipt_" + std::to_string(::getpid()) + "_" + std::to_string(++counter) +
            ".db");
  }

  int header(int type, const std::string& date, int sameGroup, int order, int status) {
    const int id = ++lastActivity_;
    const int year = std::stoi(date.substr(0, 4));
    const int period = std::stoi(date.substr(5, 2));
    conn_->Execute("INSERT INTO ItemActivity VALUES (" + std::to_string(id) + ",'" + date + "'," +
                   std::to_string(year) + "," + std::to_string(period) + "," +
                   std::to_string(type) + ",'R'," + std::to_string(id) + "," +
                   std::to_string(type) + "," + std::to_string(sameGroup) + "," +
                   std::to_string(order) + ",0," + std::to_string(status) + ")");
    return id;
  }

  int line(int activity, int row, const Line& l) {
    const int id = ++lastLine_;
    conn_->Execute("INSERT INTO ItemActivityDetail VALUES (" + std::to_string(id) + "," +
                   std::to_string(activity) + "," + std::to_string(row) + "," +
                   std::to_string(l.item) + "," + std::to_string(l.position) + "," +
                   db::FormatDouble(l.amount) + "," + db::FormatDouble(l.cost) + "," +
                   db::FormatDouble(l.avg) + "," + db::FormatDouble(l.plan) + "," +
                   std::to_string(l.manual) + ")");
    return id;
  }

  std::filesystem::path path_;
  std::unique_ptr<db::SqliteConnection> conn_;
  std::shared_ptr<SpyConnection> spy_;
  int lastActivity_ = 100;
  int lastLine_ = 1000;
};

}  // namespace tallyvet::receipt_audit::fixture
