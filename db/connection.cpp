#include "db/connection.h"

namespace tallyvet::db {

namespace {

// The rows of a recordset, from its current row on.
class RecordsetRows final : public RowSource {
 public:
  explicit RecordsetRows(std::unique_ptr<Recordset> rs) : rs_(std::move(rs)) {
    for (std::size_t i = 0; i < rs_->Fields().Count(); ++i) {
      columns_.push_back({rs_->Fields()[i].Name(), rs_->Fields()[i].Type()});
    }
  }
  const std::vector<ColumnInfo>& Columns() const override { return columns_; }
  bool Next(RowWriter& row) override {
    if (rs_->Eof()) return false;
    for (std::size_t i = 0; i < columns_.size(); ++i) row.Add(rs_->Fields()[i].Value());
    rs_->MoveNext();
    return true;
  }

 private:
  std::unique_ptr<Recordset> rs_;
  std::vector<ColumnInfo> columns_;
};

}  // namespace

void RequireOwnerName(std::string_view owner) {
  const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  bool plain = !owner.empty() && owner.size() <= 128 && letter(owner[0]);
  for (std::size_t i = 1; plain && i < owner.size(); ++i) {
    const char c = owner[i];
    plain = letter(c) || (c >= '0' && c <= '9') || c == '_' || c == '$' || c == '#';
  }
  if (plain) return;
  // The name as given, on one line: a control character would break the message.
  std::string shown;
  for (const char c : owner.substr(0, 160)) {
    shown += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? '?' : c;
  }
  if (owner.size() > 160) shown += "...";
  throw Error("the account-set owner '" + shown +
              "' is not a plain name: a letter, then letters, digits, _, $ or #, at most 128 "
              "bytes");
}

Connection& Backend(Connection& conn) {
  Connection* c = &conn;
  while (Connection* inner = c->Inner()) c = inner;
  return *c;
}

std::unique_ptr<RowSource> Connection::OpenRowSource(const std::string& sql) {
  return std::make_unique<RecordsetRows>(OpenResultset(sql, 3, 3));
}

void Connection::BeginTransaction() {
  throw Error("this connection runs no transactions", "BEGIN");
}

void Connection::CommitTransaction() {
  throw Error("this connection runs no transactions", "COMMIT");
}

void Connection::RollbackTransaction() {
  throw Error("this connection runs no transactions", "ROLLBACK");
}

Transaction::Transaction(Connection& conn) : conn_(conn) {
  conn_.BeginTransaction();
}

Transaction::~Transaction() {
  if (!open_) return;
  try {
    if (conn_.InTransaction()) conn_.RollbackTransaction();
  } catch (const Error&) {
    // A link that is gone took its transaction with it; nothing of it stands.
  }
}

void Transaction::Commit() {
  open_ = false;
  conn_.CommitTransaction();
}

void Transaction::Rollback() {
  open_ = false;
  if (conn_.InTransaction()) conn_.RollbackTransaction();
}

WriteUnit::WriteUnit(Connection& conn, std::string savepoint)
    : conn_(conn), savepoint_(std::move(savepoint)) {
  if (conn_.InTransaction()) {
    conn_.Execute("SAVEPOINT " + savepoint_);
  } else {
    transaction_.emplace(conn_);
  }
}

WriteUnit::~WriteUnit() {
  if (!open_) return;
  try {
    Rollback();
  } catch (const Error&) {
    // A link that is gone took its transaction with it; nothing of the unit stands.
  }
}

void WriteUnit::Commit() {
  open_ = false;
  if (transaction_) {
    transaction_->Commit();
  } else {
    conn_.Execute("RELEASE " + savepoint_);
  }
}

void WriteUnit::Rollback() {
  open_ = false;
  if (transaction_) {
    transaction_->Rollback();
  } else if (conn_.InTransaction()) {
    conn_.Execute("ROLLBACK TO " + savepoint_);
    conn_.Execute("RELEASE " + savepoint_);
  }
}

bool WriteUnit::Open() const {
  return open_ && (transaction_ ? transaction_->Open() : conn_.InTransaction());
}

}  // namespace tallyvet::db
