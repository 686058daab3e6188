#include "reconcile_ui/detail_list_screen.h"

#include <algorithm>
#include <memory>

#include "db/text.h"

namespace tallyvet {

void DetailListScreen::LoadData(const std::string& strSql, int col) {
  rowCounter_ = 0;
  AppendData(strSql, col);
}

void DetailListScreen::AppendData(const std::string& sql, int col) {
  const db::StatementScope listing(db::Purpose::kDocumentList);
  db::Connection& conn = ctx_.conn();
  std::unique_ptr<db::Recordset> rs = conn.OpenResultset(sql, 3);
  const db::FieldList& fields = rs->Fields();
  while (!rs->Eof()) {
    ++rowCounter_;
    if (grdList_.Rows() - 1 < rowCounter_) grdList_.SetRows(grdList_.Rows() + 1);
    grdList_.SetText(rowCounter_, 0, fields[0].Value().AsText());
    std::string fieldName;  // empty: GetFieldText takes the field's own name
    grdList_.SetText(rowCounter_, 1,
                     ctx_.dictionary.GetFieldText(conn, fields[1], fieldName).AsText());
    grdList_.SetText(rowCounter_, 2, fields[2].Value().AsText());
    grdList_.SetText(rowCounter_, 3, fields[col].Value().AsText());
    rs->MoveNext();
  }
  rs->Close();
}

void DetailListScreen::MarkDocuments(const std::vector<std::string>& numbers) {
  marked_.assign(static_cast<std::size_t>(grdList_.Rows()), false);
  for (int row = 1; row <= rowCounter_ && row < grdList_.Rows(); ++row) {
    const std::string no = db::TrimBlanks(grdList_.Text(row, 2));
    marked_[static_cast<std::size_t>(row)] =
        std::any_of(numbers.begin(), numbers.end(),
                    [&](const std::string& n) { return db::TrimBlanks(n) == no; });
  }
}

}  // namespace tallyvet
