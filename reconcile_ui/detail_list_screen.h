// The document detail list (frmDetailList): the document lines behind one difference of the
// report screen, each with its date, document type, document number and the value of the
// differing column. The report screen builds the statement and calls LoadData; the view shows the
// grid and closes on "关闭".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "reconcile_ui/grid.h"
#include "shell/host_context.h"

namespace tallyvet {

class DetailListScreen {
 public:
  static constexpr std::string_view kCaption = "单据明细";
  static constexpr std::string_view kGridFormat =
      "日期      |单据类型  |单据号        |数据           ";
  static constexpr std::string_view kCloseCaption = "关闭";

  // The screen as loaded: the grid in its design state, the header row alone.
  explicit DetailListScreen(HostContext& ctx) : ctx_(ctx) {}

  // LoadData: runs `strSql` (OpenResultset(strSql, 3)) on the context's connection and writes
  // its rows from grid row 1 on, growing the grid one row at a time over whatever it holds:
  // column 0 field 0 as text, column 1 GetFieldText of field 1 (the document type's code or
  // name), column 2 field 2 as text, column 3 the field at zero-based position `col` as text.
  // A null field shows as the empty text.
  // Requires: a connection in ctx and a built field dictionary.
  // Throws: db::Error when the statement or a fetch fails, DictionaryError from GetFieldText;
  // rows written before the failure stay.
  void LoadData(const std::string& strSql, int col);
  // As LoadData, the rows going on after the last one written.
  void AppendData(const std::string& sql, int col);
  // Marks the rows whose document number (column 2, blanks trimmed) is one of `numbers`: the
  // documents a difference's cause names.
  void MarkDocuments(const std::vector<std::string>& numbers);
  bool RowMarked(int row) const {
    return row >= 0 && static_cast<std::size_t>(row) < marked_.size() && marked_[row];
  }

  const Grid& grdList() const { return grdList_; }
  // The last row written by LoadData (0 before any row).
  std::int32_t RowCounter() const { return rowCounter_; }

 private:
  HostContext& ctx_;
  Grid grdList_{kGridFormat};
  std::int32_t rowCounter_ = 0;
  std::vector<bool> marked_;
};

}  // namespace tallyvet
