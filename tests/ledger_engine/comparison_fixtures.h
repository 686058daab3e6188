// Test doubles and a small account set for the comparison tests: a screen that records what the
// engine shows, a sink that keeps every difference, a connection that logs its statements, and an
// account set with the four ledgers the comparison corrects.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db/sqlite_connection.h"
#include "ledger_engine/check_items.h"
#include "ledger_engine/difference.h"
#include "shell/host_context.h"
#include "shell/progress_screen.h"
#include "support/temp_dir.h"

namespace tallyvet::testing {

class RecordingScreen final : public ProgressScreen {
 public:
  void SetNotes(const std::string& caption) override { notes.push_back(caption); }
  double ProgressValue() const override { return value; }
  void ShowProgress(double percent) override {
    progress.push_back(percent);
    value = percent;
  }
  std::vector<std::string>* List1() override { return hasList ? &list : nullptr; }
  void RefreshList1() override { ++listRefreshes; }

  std::vector<std::string> notes;
  std::vector<double> progress;
  double value = 0;
  bool hasList = true;
  std::vector<std::string> list;
  int listRefreshes = 0;
};

class CollectingSink final : public DifferenceSink {
 public:
  void RecordDifference(const DifferenceRecord& record, bool firstInRow) override {
    records.push_back(record);
    firstInRow_.push_back(firstInRow);
  }
  void EndItem(int item) override { ended.push_back(item); }

  std::vector<DifferenceRecord> records;
  std::vector<bool> firstInRow_;
  std::vector<int> ended;
};

// Passes everything to a real connection and keeps the text of every query and statement.
class LoggingConnection final : public db::Connection {
 public:
  explicit LoggingConnection(std::unique_ptr<db::Connection> inner) : inner_(std::move(inner)) {}
  std::unique_ptr<db::Recordset> OpenResultset(const std::string& sql, int cursor,
                                               int lock) override {
    queries.push_back(sql);
    return inner_->OpenResultset(sql, cursor, lock);
  }
  void Execute(const std::string& sql) override {
    statements.push_back(sql);
    inner_->Execute(sql);
  }
  std::int64_t RowsAffected() const override { return inner_->RowsAffected(); }
  bool StillExecuting() const override { return inner_->StillExecuting(); }

  std::vector<std::string> queries;
  std::vector<std::string> statements;

 private:
  std::unique_ptr<db::Connection> inner_;
};

// An account set in a temporary SQLite file: items with codes, a Business row, and the ledgers of
// items 1 to 4 (ItemDaily2, PositionDaily, ItemDaily1, AccountDaily), all with the columns
// LNGITEMID, STRDATE, DBLSALEQUANTITY, DBLSALEAMOUNT, DBLENTRUSTINQUANTITY, DBLUNVOUCHERDEBIT.
// The check items are initialised (dictionary built, ledger tables set).
class AccountSet {
  TempDir dir_;  // first in, last out: the database file outlives the connection

 public:
  AccountSet() {
    auto sqlite = db::SqliteConnection::Create(dir_ / "set.db", "acme");
    sqlite->ExecuteScript(R"(
      CREATE TABLE Item (lngItemID INTEGER PRIMARY KEY, strItemCode VARCHAR(30));
      CREATE TABLE Business (strUserName VARCHAR(60), strVer VARCHAR(20), strStartDate VARCHAR(10));
      INSERT INTO Business VALUES ('样例商贸', '9.10', '2005-01-01');
    )");
    for (const char* ledger : {"ItemDaily2", "PositionDaily", "ItemDaily1", "AccountDaily"}) {
      sqlite->ExecuteScript(std::string("CREATE TABLE ") + ledger +
                            " (lngItemID INTEGER, strDate VARCHAR(10), dblSaleQuantity REAL, "
                            "dblSaleAmount REAL, dblEntrustInQuantity REAL, "
                            "dblUnVoucherDebit REAL);");
    }
    auto logging = std::make_shared<LoggingConnection>(std::move(sqlite));
    log_ = logging.get();
    ctx.connection = logging;
    ctx.user = "acme";
    ctx.AccountStartDate = "2005-01-01";
    InitCheckItems(ctx);
  }

  void Item(int id, const std::string& code) {
    Run("INSERT INTO Item VALUES (" + std::to_string(id) + ",'" + code + "')");
  }
  // One ledger row: item, date and the four values.
  void LedgerRow(const std::string& table, int item, const std::string& date, double quantity,
                 double amount, double entrustIn = 0, double unVoucher = 0) {
    Run("INSERT INTO " + table + " VALUES (" + std::to_string(item) + ",'" + date + "'," +
        db::FormatDouble(quantity) + "," + db::FormatDouble(amount) + "," +
        db::FormatDouble(entrustIn) + "," + db::FormatDouble(unVoucher) + ")");
  }
  void Run(const std::string& sql) { ctx.conn().Execute(sql); }
  // A query walked to its end and back, as the comparison's preparation pass leaves it.
  std::unique_ptr<db::Recordset> Walked(const std::string& sql) {
    auto rs = ctx.conn().OpenResultset(sql, 3, 3);
    while (!rs->Eof()) rs->MoveNext();
    rs->MoveFirst();
    return rs;
  }
  std::vector<std::string> Column(const std::string& sql) {
    std::vector<std::string> out;
    auto rs = ctx.conn().OpenResultset(sql, 3);
    for (; !rs->Eof(); rs->MoveNext()) {
      std::string row;
      for (std::size_t i = 0; i < rs->Fields().Count(); ++i) {
        if (i > 0) row += "|";
        row += rs->Fields()[i].Value().AsText();
      }
      out.push_back(row);
    }
    return out;
  }

  LoggingConnection& log() { return *log_; }
  const TempDir& dir() const { return dir_; }

  HostContext ctx;

 private:
  LoggingConnection* log_ = nullptr;
};

}  // namespace tallyvet::testing
