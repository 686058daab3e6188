// The cell grid behind the reconciliation screens' lists: a header row fixed at row 0, text cells,
// column widths, row heights, the selected row and the row scrolled to the top. The Qt views show
// a Grid as it stands; the screens' behaviour classes are the only ones that change it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tallyvet {

class Grid {
 public:
  // Height of the header row, in twips; data rows are written as multiples of it.
  static constexpr int kHeaderRowHeight = 240;

  // Columns and header from a format string: pieces separated by "|", one per column. A piece's
  // header caption is the piece without its trailing blanks; its width is the piece's length in
  // display cells (a Chinese character counts two), 0 for an empty piece (a hidden column).
  // Guarantees: one row (the header), nothing selected (row 0), top row 0, visible.
  explicit Grid(std::string_view formatString);

  const std::string& FormatString() const { return format_; }
  int Cols() const { return static_cast<int>(widths_.size()); }
  // Rows, the header included (so at least 1).
  int Rows() const { return static_cast<int>(cells_.size()); }
  // Grows with empty rows or drops rows from the end; the header row always stays.
  // Requires rows >= 1 (smaller values are taken as 1).
  void SetRows(int rows);

  // Throws std::out_of_range outside the grid.
  const std::string& Text(int row, int col) const;
  void SetText(int row, int col, std::string text);

  // The header piece of the format string, trailing blanks included (for views that size columns
  // by text).
  const std::string& HeaderPiece(int col) const;
  int ColWidth(int col) const;
  void SetColWidth(int col, int width);
  int RowHeight(int row) const;
  void SetRowHeight(int row, int twips);

  // The selected row (0 when no data row is selected) and the first row shown below the header.
  int Row = 0;
  int TopRow = 0;
  // Selected across every column (the report screen selects whole rows).
  bool WholeRowSelected = false;
  bool Visible = true;

 private:
  void Check(int row, int col) const;
  std::string format_;
  std::vector<std::string> pieces_;
  std::vector<int> widths_;
  std::vector<std::vector<std::string>> cells_;
  std::vector<int> heights_;
};

}  // namespace tallyvet
