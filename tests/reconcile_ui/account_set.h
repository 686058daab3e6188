// Small host account sets for the reconciliation screens' tests, built in code in a temporary
// SQLite file: the account set row, its periods, a stock ledger and a receivable/payable ledger,
// and a message box that records what the screens say and answers their questions from a script.
#pragma once

#include <deque>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "db/sqlite_connection.h"
#include "shell/host_context.h"
#include "shell/message_box.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

namespace tallyvet::testing {

// Records what the screens say, one entry per message or question: "title [icon] text", the icon
// one of i w e ? (information, warning, error, question). Questions are answered from `answers`,
// No when it runs out.
class ScriptedMessageBox final : public MessageBox {
 public:
  void Show(const std::string& text, const std::string& title, MessageIcon icon) override {
    said.push_back(title + " [" + "iwe?"[static_cast<int>(icon)] + "] " + text);
  }
  bool AskYesNo(const std::string& text, const std::string& title) override {
    Show(text, title, MessageIcon::Question);
    if (answers.empty()) return false;
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
  }
  std::vector<std::string> said;
  std::deque<bool> answers;
};

class AccountSet {
 public:
  AccountSet() {
    auto conn = db::SqliteConnection::Create(dir.path() / "host.db", "demo");
    sqlite = conn.get();
    ctx.connection = std::move(conn);
    ctx.user = "demo";
    Script(R"(
      CREATE TABLE Business (strUserName TEXT, strVer TEXT, strStartDate TEXT);
      CREATE TABLE AccountPeriod (intYear INTEGER, bytPeriod INTEGER, strStartDate TEXT,
                                  strEndDate TEXT);
      CREATE TABLE ItemDaily2 (strDate TEXT NOT NULL, lngItemID INTEGER NOT NULL,
        lngPositionGroupID INTEGER NOT NULL DEFAULT 0, dblSaleQuantity REAL NOT NULL DEFAULT 0,
        dblSaleAmount REAL NOT NULL DEFAULT 0);
      CREATE TABLE AccountDaily (strDate TEXT NOT NULL, lngAccountID INTEGER NOT NULL,
        lngDepartmentID INTEGER NOT NULL DEFAULT 0, lngOrganizationID INTEGER NOT NULL DEFAULT 0,
        lngSourceOrganizationID INTEGER NOT NULL DEFAULT 0,
        dblUnVoucherDebit REAL NOT NULL DEFAULT 0, dblUnVoucherCredit REAL NOT NULL DEFAULT 0);
      CREATE TABLE ReceiptType (lngReceiptTypeID INTEGER, strReceiptTypeName TEXT);
    )");
  }

  void Script(const std::string& sql) { sqlite->ExecuteScript(sql); }

  // The account set "演示账套" starting 2005-01-01, with monthly periods `first` to `last` of 2005,
  // each from the 1st to the 28th.
  void Periods(int first = 1, int last = 12) {
    Script("INSERT INTO Business VALUES ('演示账套','9.00','2005-01-01')");
    for (int p = first; p <= last; ++p) {
      const std::string mm = (p < 10 ? "0" : "") + std::to_string(p);
      Script("INSERT INTO AccountPeriod VALUES (2005," + std::to_string(p) + ",'2005-" + mm +
             "-01','2005-" + mm + "-28')");
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
      for (std::size_t i = 0; i < rs->Fields().Count(); ++i)
        row += (i ? "|" : "") + rs->Fields()[i].Value().AsText();
      rows.push_back(row);
    }
    return rows;
  }

  TempDir dir;
  HostContext ctx;
  db::SqliteConnection* sqlite = nullptr;
};

}  // namespace tallyvet::testing
