#include "reconcile_ui/grid.h"

#include <stdexcept>

#include "db/text.h"

namespace tallyvet {

Grid::Grid(std::string_view formatString) : format_(formatString) {
  std::size_t start = 0;
  while (true) {
    const auto bar = formatString.find('|', start);
    pieces_.emplace_back(formatString.substr(start, bar - start));
    if (bar == std::string_view::npos) break;
    start = bar + 1;
  }
  std::vector<std::string> header;
  for (const std::string& piece : pieces_) {
    widths_.push_back(static_cast<int>(db::DisplayWidth(piece)));
    const auto last = piece.find_last_not_of(' ');
    header.push_back(last == std::string::npos ? std::string() : piece.substr(0, last + 1));
  }
  cells_.push_back(std::move(header));
  heights_.push_back(kHeaderRowHeight);
}

void Grid::SetRows(int rows) {
  const auto n = static_cast<std::size_t>(rows < 1 ? 1 : rows);
  cells_.resize(n, std::vector<std::string>(widths_.size()));
  heights_.resize(n, kHeaderRowHeight);
  if (Row >= Rows()) Row = 0;
  if (TopRow >= Rows()) TopRow = 0;
}

void Grid::Check(int row, int col) const {
  if (row < 0 || row >= Rows() || col < 0 || col >= Cols()) {
    throw std::out_of_range("grid cell (" + std::to_string(row) + "," + std::to_string(col) +
                            ") outside " + std::to_string(Rows()) + "x" + std::to_string(Cols()));
  }
}

const std::string& Grid::Text(int row, int col) const {
  Check(row, col);
  return cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)];
}

void Grid::SetText(int row, int col, std::string text) {
  Check(row, col);
  cells_[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)] = std::move(text);
}

const std::string& Grid::HeaderPiece(int col) const {
  Check(0, col);
  return pieces_[static_cast<std::size_t>(col)];
}

int Grid::ColWidth(int col) const {
  Check(0, col);
  return widths_[static_cast<std::size_t>(col)];
}

void Grid::SetColWidth(int col, int width) {
  Check(0, col);
  widths_[static_cast<std::size_t>(col)] = width;
}

int Grid::RowHeight(int row) const {
  Check(row, 0);
  return heights_[static_cast<std::size_t>(row)];
}

void Grid::SetRowHeight(int row, int twips) {
  Check(row, 0);
  heights_[static_cast<std::size_t>(row)] = twips;
}

}  // namespace tallyvet
