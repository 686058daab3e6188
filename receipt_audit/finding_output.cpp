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

// Decodes one UTF-8 character starting at `i` and moves `i` past it.
char32_t NextCodePoint(const std::string& s, std::size_t& i) {
  const auto c = static_cast<unsigned char>(s[i]);
  int extra = c < 0x80 ? 0 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : 3;
  char32_t cp = extra == 0 ? c : extra == 1 ? (c & 0x1F) : extra == 2 ? (c & 0x0F) : (c & 0x07);
  ++i;
  while (extra-- > 0 && i < s.size()) {
    cp = (cp << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
    ++i;
  }
  return cp;
}

bool IsWide(char32_t cp) {
  return (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
         (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
         (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
         (cp >= 0xFFE0 && cp <= 0xFFE6) || (cp >= 0x20000 && cp <= 0x3FFFD);
}

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

std::size_t DisplayWidth(const std::string& text) {
  std::size_t width = 0;
  for (std::size_t i = 0; i < text.size();) width += IsWide(NextCodePoint(text, i)) ? 2 : 1;
  return width;
}

std::string PadToWidth(const std::string& text, std::size_t width) {
  const std::size_t w = DisplayWidth(text);
  return w >= width ? text : text + std::string(width - w, ' ');
}

nlohmann::json FindingJson(const CheckFinding& finding) {
  nlohmann::json id = finding.lngActivityDetailID;
  std::int64_t number = 0;
  const char* first = finding.lngActivityDetailID.data();
  const char* last = first + finding.lngActivityDetailID.size();
  const auto parsed = std::from_chars(first, last, number);
  if (parsed.ec == std::errc{} && parsed.ptr == last && first != last) id = number;
  return {
      {"kind", finding.kind},
      {"lngActivityDetailID", id},
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
