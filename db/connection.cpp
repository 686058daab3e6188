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

std::unique_ptr<RowSource> Connection::OpenRowSource(const std::string& sql) {
  return std::make_unique<RecordsetRows>(OpenResultset(sql, 3, 3));
}

}  // namespace tallyvet::db
