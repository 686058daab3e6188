// A small host account set in a temporary SQLite file, built in code by each test: tables from
// SQL text, the host's stored function source line by line, and a context whose connection
// records every statement the engine sends (and can be told to refuse one).
#pragma once

#include <sqlite3.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <unistd.h>

#include "db/error.h"
#include "db/sqlite_connection.h"
#include "shell/host_context.h"

namespace tallyvet::testing {

// Forwards to the account set's connection and keeps the text of every Execute and
// OpenResultset; `refuse` names a statement prefix that fails as the database would.
class RecordingConnection : public db::Connection {
 public:
  explicit RecordingConnection(std::unique_ptr<db::SqliteConnection> inner)
      : inner_(std::move(inner)) {}

  std::unique_ptr<db::Recordset> OpenResultset(const std::string& sql, int cursor,
                                               int lock) override {
    queries.push_back(sql);
    return inner_->OpenResultset(sql, cursor, lock);
  }
  void Execute(const std::string& sql) override {
    executed.push_back(sql);
    if (!refuse.empty() && sql.rfind(refuse, 0) == 0) throw db::Error("refused by test", sql);
    inner_->Execute(sql);
  }
  std::int64_t RowsAffected() const override { return inner_->RowsAffected(); }
  bool StillExecuting() const override { return inner_->StillExecuting(); }

  db::SqliteConnection& inner() { return *inner_; }

  std::vector<std::string> executed;
  std::vector<std::string> queries;
  std::string refuse;

 private:
  std::unique_ptr<db::SqliteConnection> inner_;
};

class TempAccountSet {
 public:
  explicit TempAccountSet(std::string user = "tally") {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("tallyvet_le_" + std::to_string(::getpid()) + "_" + std::to_string(counter++) + ".db");
    std::filesystem::remove(path_);
    auto inner = db::SqliteConnection::Create(path_, user);
    conn_ = std::make_shared<RecordingConnection>(std::move(inner));
    ctx.connection = conn_;
    ctx.user = std::move(user);
    // Throwaway files: no need to wait for the disk on every commit.
    Script("PRAGMA synchronous=OFF");
    Script(
        "CREATE TABLE ALL_SOURCE (OWNER TEXT NOT NULL, NAME TEXT NOT NULL, TYPE TEXT, "
        "LINE INTEGER NOT NULL, TEXT TEXT)");
  }
  ~TempAccountSet() {
    ctx.connection.reset();
    conn_.reset();
    std::error_code ec;
    std::filesystem::remove(path_, ec);
  }
  TempAccountSet(const TempAccountSet&) = delete;
  TempAccountSet& operator=(const TempAccountSet&) = delete;

  // Schema and data as SQLite reads them, untranslated.
  void Script(const std::string& sql) { conn_->inner().ExecuteScript(sql); }

  // Stores the lines of one object of `owner` in ALL_SOURCE, each with its line break, as the
  // host's dictionary view holds them.
  void StoreSource(const std::string& owner, const std::string& name,
                   const std::vector<std::string>& lines) {
    sqlite3_stmt* stmt = nullptr;
    const char* sql = "INSERT INTO ALL_SOURCE (OWNER, NAME, TYPE, LINE, TEXT) VALUES (?,?,?,?,?)";
    if (sqlite3_prepare_v2(conn_->inner().handle(), sql, -1, &stmt, nullptr) != SQLITE_OK) {
      throw std::runtime_error(sqlite3_errmsg(conn_->inner().handle()));
    }
    int line = 0;
    for (const std::string& text : lines) {
      const std::string stored = text + "\n";
      sqlite3_bind_text(stmt, 1, owner.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(stmt, 2, name.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(stmt, 3, "PACKAGE BODY", -1, SQLITE_STATIC);
      sqlite3_bind_int(stmt, 4, ++line);
      sqlite3_bind_text(stmt, 5, stored.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(stmt) != SQLITE_DONE) {
        sqlite3_finalize(stmt);
        throw std::runtime_error(sqlite3_errmsg(conn_->inner().handle()));
      }
      sqlite3_reset(stmt);
    }
    sqlite3_finalize(stmt);
  }

  // The rows of a query, each as its values' text joined by "|", for comparing whole tables.
  std::vector<std::string> Rows(const std::string& sql) {
    std::vector<std::string> rows;
    auto rs = conn_->inner().OpenResultset(sql, 3, 3);
    for (; !rs->Eof(); rs->MoveNext()) {
      std::string row;
      for (std::size_t i = 0; i < rs->Fields().Count(); ++i) {
        if (i > 0) row += '|';
        row += rs->Fields()[i].Value().AsText();
      }
      rows.push_back(row);
    }
    return rows;
  }

  RecordingConnection& conn() { return *conn_; }

  HostContext ctx;

 private:
  std::filesystem::path path_;
  std::shared_ptr<RecordingConnection> conn_;
};

}  // namespace tallyvet::testing
