// Test doubles and a small account set built in code: a screen that records what the engine shows,
// a sink that keeps every difference, a connection that logs every query and statement, and a
// temporary SQLite account set of the owner "acme" with stored source, two items, a Business row
// and the four ledgers the comparison corrects (LNGITEMID, STRDATE and four values).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "db/sqlite_connection.h"
#include "ledger_engine/check_items.h"
#include "ledger_engine/difference.h"
#include "ledger_engine/key_conditions.h"
#include "shell/progress_screen.h"
#include "support/temp_dir.h"

namespace tallyvet::testing {

struct RecordingScreen final : ProgressScreen {
  void SetNotes(const std::string& caption) override { notes.push_back(caption); }
  double ProgressValue() const override { return value; }
  void ShowProgress(double percent) override { progress.push_back(value = percent); }
  std::vector<std::string>* List1() override { return hasList ? &list : nullptr; }
  void RefreshList1() override { ++listRefreshes; }
  std::vector<std::string> notes, list;
  std::vector<double> progress;
  double value = 0;  // ProgressBar1.value: the last percent shown
  bool hasList = true;
  int listRefreshes = 0;
};

struct CollectingSink final : DifferenceSink {
  void RecordDifference(const DifferenceRecord& record, bool first) override {
    records.push_back(record);
    firstInRow.push_back(first);
  }
  void EndItem(int item) override { ended.push_back(item); }
  std::vector<DifferenceRecord> records;
  std::vector<bool> firstInRow;
  std::vector<int> ended;
};

struct LoggingConnection final : db::Connection {
  explicit LoggingConnection(std::unique_ptr<db::SqliteConnection> inner)
      : inner(std::move(inner)) {}
  std::unique_ptr<db::Recordset> OpenResultset(const std::string& sql, int cursor,
                                               int lock) override {
    queries.push_back(sql);
    return inner->OpenResultset(sql, cursor, lock);
  }
  void Execute(const std::string& sql) override {
    statements.push_back(sql);
    inner->Execute(sql);
  }
  std::int64_t RowsAffected() const override { return inner->RowsAffected(); }
  bool StillExecuting() const override { return inner->StillExecuting(); }
  void BeginTransaction() override {
    statements.push_back("BEGIN");
    inner->BeginTransaction();
  }
  void CommitTransaction() override {
    statements.push_back("COMMIT");
    inner->CommitTransaction();
  }
  void RollbackTransaction() override {
    statements.push_back("ROLLBACK");
    inner->RollbackTransaction();
  }
  bool InTransaction() const override { return inner->InTransaction(); }
  const std::unique_ptr<db::SqliteConnection> inner;
  std::vector<std::string> queries, statements;
};

struct AccountSet {
  AccountSet() {
    auto connection =
        std::make_shared<LoggingConnection>(db::SqliteConnection::Create(dir / "set.db", "acme"));
    log = connection.get();
    ctx.connection = connection;
    ctx.user = "acme";
    ctx.AccountStartDate = "2005-01-01";
    Script(R"(PRAGMA synchronous=OFF;
      CREATE TABLE ALL_SOURCE (OWNER TEXT, NAME TEXT, TYPE TEXT, LINE INTEGER, TEXT TEXT);
      CREATE TABLE Item (lngItemID INTEGER PRIMARY KEY, strItemCode VARCHAR(30));
      INSERT INTO Item VALUES (15, 'A-015'), (16, 'A-016');
      CREATE TABLE Business (strUserName VARCHAR(60), strVer VARCHAR(20), strStartDate TEXT);
      INSERT INTO Business VALUES ('样例商贸', '9.10', '2005-01-01');)");
    for (const char* ledger : {"ItemDaily2", "PositionDaily", "ItemDaily1", "AccountDaily"}) {
      Script(std::string("CREATE TABLE ") + ledger +
             " (LNGITEMID INTEGER, STRDATE VARCHAR(10), DBLSALEQUANTITY REAL, DBLSALEAMOUNT REAL, "
             "DBLENTRUSTINQUANTITY REAL, DBLUNVOUCHERDEBIT REAL)");
    }
    InitCheckItems(ctx);
  }

  // Schema and data as SQLite reads them, untranslated and unlogged.
  void Script(const std::string& sql) { log->inner->ExecuteScript(sql); }
  void Insert(const std::string& table, const std::string& rows) {
    Script("INSERT INTO " + table + " VALUES " + rows);
  }
  // The lines of one stored object of the owner, each with its line break, as ALL_SOURCE has them.
  void StoreSource(const std::string& name, const std::vector<std::string>& lines) {
    for (std::size_t n = 0; n < lines.size(); ++n) {
      Insert("ALL_SOURCE", "('ACME','" + name + "','PACKAGE BODY'," + std::to_string(n + 1) + "," +
                               QuoteSqlText(lines[n] + "\n") + ")");
    }
  }
  // The rows of a query, each as its values' text joined by "|" (unlogged).
  std::vector<std::string> Rows(const std::string& sql) {
    std::vector<std::string> out;
    for (auto rs = log->inner->OpenResultset(sql, 3, 3); !rs->Eof(); rs->MoveNext()) {
      out.emplace_back();
      for (std::size_t i = 0; i < rs->Fields().Count(); ++i) {
        out.back() += (i > 0 ? "|" : "") + rs->Fields()[i].Value().AsText();
      }
    }
    return out;
  }

  TempDir dir;  // made first, removed last: the database file outlives the connection
  LoggingConnection* log = nullptr;
  HostContext ctx;
};

}  // namespace tallyvet::testing
