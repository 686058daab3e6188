// Small host account sets for the reconciliation screens' tests, built in code in a temporary
// SQLite file: the account set row, its periods, a stock ledger and a receivable/payable ledger,
// and a message box that records what the screens say and answers their questions from a script.
#pragma once

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "db/sqlite_connection.h"
#include "ledger_engine/check_items.h"
#include "shell/host_context.h"
#include "shell/message_box.h"
#include "support/temp_dir.h"

namespace tallyvet::testing {

struct ShownMessage {
  std::string text;
  std::string title;
  MessageIcon icon;
};

class ScriptedMessageBox final : public MessageBox {
 public:
  void Show(const std::string& text, const std::string& title, MessageIcon icon) override {
    shown.push_back({text, title, icon});
  }
  bool AskYesNo(const std::string& text, const std::string& title) override {
    asked.push_back({text, title, MessageIcon::Question});
    if (answers.empty()) return false;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::vector<ShownMessage> shown;
  std::vector<ShownMessage> asked;
  std::deque<bool> answers;
};

class AccountSet {
 public:
  explicit AccountSet(std::string owner = "demo") {
    auto conn = db::SqliteConnection::Create(dir.path() / "host.db", owner);
    sqlite = conn.get();
    ctx.connection = std::move(conn);
    ctx.user = std::move(owner);
    sqlite->ExecuteScript(R"(
      CREATE TABLE Business (strUserName TEXT, strVer TEXT, strStartDate TEXT);
      CREATE TABLE AccountPeriod (intYear INTEGER, bytPeriod INTEGER, strStartDate TEXT,
                                  strEndDate TEXT);
      CREATE TABLE ItemDaily2 (strDate TEXT NOT NULL, lngItemID INTEGER NOT NULL,
                               lngPositionGroupID INTEGER NOT NULL DEFAULT 0,
                               dblSaleQuantity REAL NOT NULL DEFAULT 0,
                               dblSaleAmount REAL NOT NULL DEFAULT 0);
      CREATE TABLE AccountDaily (strDate TEXT NOT NULL, lngAccountID INTEGER NOT NULL,
                                 lngDepartmentID INTEGER NOT NULL DEFAULT 0,
                                 lngOrganizationID INTEGER NOT NULL DEFAULT 0,
                                 lngSourceOrganizationID INTEGER NOT NULL DEFAULT 0,
                                 dblUnVoucherDebit REAL NOT NULL DEFAULT 0,
                                 dblUnVoucherCredit REAL NOT NULL DEFAULT 0);
      CREATE TABLE ReceiptType (lngReceiptTypeID INTEGER, strReceiptTypeName TEXT);
    )");
  }

  void Script(const std::string& sql) { sqlite->ExecuteScript(sql); }

  void Business(const std::string& name, const std::string& startDate) {
    Script("INSERT INTO Business VALUES ('" + name + "','9.00','" + startDate + "')");
  }
  // Twelve monthly periods of `year`, each from the 1st to the 28th for simplicity.
  void Periods(int year, int first = 1, int last = 12) {
    for (int p = first; p <= last; ++p) {
      const std::string mm = (p < 10 ? "0" : "") + std::to_string(p);
      Script("INSERT INTO AccountPeriod VALUES (" + std::to_string(year) + "," + std::to_string(p) +
             ",'" + std::to_string(year) + "-" + mm + "-01','" + std::to_string(year) + "-" + mm +
             "-28')");
    }
  }
  void StockRow(const std::string& date, int item, int group, double quantity, double amount) {
    Script("INSERT INTO ItemDaily2 VALUES ('" + date + "'," + std::to_string(item) + "," +
           std::to_string(group) + "," + db::FormatDouble(quantity) + "," +
           db::FormatDouble(amount) + ")");
  }

  // Every row of a table, its values' text joined by "|", in a fixed order.
  std::vector<std::string> Rows(const std::string& table) {
    std::vector<std::string> rows;
    auto rs = sqlite->OpenResultset("SELECT * FROM " + table + " ORDER BY 1,2,3,4,5", 3);
    for (; !rs->Eof(); rs->MoveNext()) {
      std::string row;
      for (std::size_t i = 0; i < rs->Fields().Count(); ++i) {
        row += (i ? "|" : "") + rs->Fields()[i].Value().AsText();
      }
      rows.push_back(row);
    }
    return rows;
  }

  TempDir dir;
  HostContext ctx;
  db::SqliteConnection* sqlite = nullptr;
};

}  // namespace tallyvet::testing
