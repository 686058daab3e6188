#include "reconcile_ui/detail_list_screen.h"

#include <memory>

namespace tallyvet {

void DetailListScreen::LoadData(const std::string& strSql, int col) {
  rowCounter_ = 0;
  db::Connection& conn = ctx_.conn();
  std::unique_ptr<db::Recordset> rs = conn.OpenResultset(strSql, 3);
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

}  // namespace tallyvet
