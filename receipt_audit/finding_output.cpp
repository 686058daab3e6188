#include "receipt_audit/finding_output.h"

#include <array>
#include <charconv>
#include <cstdint>

#include "receipt_audit/receipt_sql.h"

namespace tallyvet::receipt_audit {

namespace {

struct Column {
  const char* header;
  std::size_t width;
};
constexpr std::array<Column, 10> kColumns = {{
    {"ID", 8},
    {"种类", 6},
    {"日期", 10},
    {"业务类型", 14},
    {"单据号", 14},
    {"物品", 10},
    {"货位", 8},
    {"成本金额", 18},
    {"平均成本", 18},
    {"差额", 12},
}};

std::string JoinRow(const std::array<std::string, kColumns.size()>& cells) {
  std::string line;
  for (std::size_t c = 0; c < cells.size(); ++c) {
    if (c > 0) line += "  ";
    // The last column is not padded, so lines carry no trailing blanks.
    line += c + 1 == cells.size() ? cells[c] : PadToWidth(cells[c], kColumns[c].width);
  }
  return line;
}

}  // namespace

std::string PadToWidth(const std::string& text, std::size_t width) {
  const std::size_t w = DisplayWidth(text);
  return w >= width ? text : text + std::string(width - w, ' ');
}

nlohmann::json IntegerOrText(const std::string& text) {
  std::int64_t number = 0;
  const char* first = text.data();
  const char* last = first + text.size();
  const auto parsed = std::from_chars(first, last, number);
  if (parsed.ec == std::errc{} && parsed.ptr == last && first != last) return number;
  return text;
}

nlohmann::json FindingJson(const CheckFinding& finding) {
  return {
      {"kind", finding.kind},
      {"lngActivityDetailID", IntegerOrText(finding.lngActivityDetailID)},
      {"strDate", finding.strDate},
      {"receiptType", finding.receiptType},
      {"receiptNo", finding.receiptNo},
      {"item", finding.itemCode},
      {"position", finding.positionCode},
      {"costAmount", finding.costAmount},
      {"secondAmount", finding.secondAmount},
      {"difference", finding.difference},
  };
}

std::string FindingTableHeader() {
  std::array<std::string, kColumns.size()> cells;
  for (std::size_t c = 0; c < kColumns.size(); ++c) cells[c] = kColumns[c].header;
  return JoinRow(cells);
}

std::string FindingTableLine(const CheckFinding& finding) {
  return JoinRow({finding.lngActivityDetailID, finding.kind, finding.strDate, finding.receiptType,
                  finding.receiptNo, finding.itemCode, finding.positionCode,
                  NumberText(finding.costAmount), NumberText(finding.secondAmount),
                  NumberText(finding.difference)});
}

}  // namespace tallyvet::receipt_audit
