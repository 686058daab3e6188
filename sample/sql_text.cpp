#include "sample/sql_text.h"

#include <algorithm>

namespace tallyvet::sample {

using namespace std::string_literals;

int VoucherSourceOfType(int activityType) {
  switch (activityType) {
    case 1:
    case 2:
    case 3:
    case 7:
      return 9;
    case 11:
    case 13:
    case 15:
    case 16:
      return 12;
    default:
      return 11;
  }
}

std::string BookedAmountSql(std::string_view header, std::string_view line) {
  const std::string a(header), d(line);
  return "(" + d + ".dblCostAmount+" + d + ".dblExpenseAmount)*CASE WHEN " + a +
         ".lngReceiptTypeID IN (30,31) THEN 2 ELSE 1 END";
}

std::vector<std::string> SourceLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const auto end = text.find('\n', start);
    if (end == std::string_view::npos) {
      lines.emplace_back(std::string(text.substr(start)) + "\n");
      break;
    }
    lines.emplace_back(text.substr(start, end - start + 1));
    start = end + 1;
  }
  return lines;
}

std::vector<std::string> SplitColumns(std::string_view list) {
  std::vector<std::string> columns;
  const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  std::size_t start = 0;
  while (start <= list.size()) {
    auto end = list.find(',', start);
    if (end == std::string_view::npos) end = list.size();
    std::string_view piece = list.substr(start, end - start);
    while (!piece.empty() && isSpace(piece.front())) piece.remove_prefix(1);
    while (!piece.empty() && isSpace(piece.back())) piece.remove_suffix(1);
    if (!piece.empty()) columns.emplace_back(piece);
    start = end + 1;
  }
  return columns;
}

std::string Join(const std::vector<std::string>& items, const std::string& separator) {
  std::string text;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) text += separator;
    text += items[i];
  }
  return text;
}

namespace {

std::string Numbered(const char* prefix, std::size_t count) {
  std::vector<std::string> names;
  for (std::size_t i = 0; i < count; ++i) names.push_back(prefix + std::to_string(i));
  return Join(names);
}

}  // namespace

std::string GeneralLedgerFillSql(const std::vector<std::string>& keys,
                                 const std::vector<std::string>& voucherColumns,
                                 const std::vector<std::string>& detailColumns,
                                 const std::string& fromVouchers, const std::string& fromDetail) {
  const std::size_t n = keys.size();
  const std::size_t voucherValues = voucherColumns.size() - n;
  const std::size_t detailValues = detailColumns.size() - n;
  const auto ownedByDetail = [&](const std::string& column) {
    return std::find(detailColumns.begin() + static_cast<std::ptrdiff_t>(n), detailColumns.end(),
                     column) != detailColumns.end();
  };

  // Target columns: keys, the voucher columns the detail does not own, the detail columns.
  std::vector<std::string> target(keys);
  std::vector<std::string> fromV, fromD, sums;
  for (std::size_t k = 0; k < n; ++k) {
    fromV.push_back("v"s + std::to_string(k) + " AS k"s + std::to_string(k));
    fromD.push_back("d"s + std::to_string(k));
  }
  std::size_t slot = 0;
  for (std::size_t c = 0; c < voucherValues; ++c) {
    const std::string& column = voucherColumns[n + c];
    if (ownedByDetail(column)) continue;
    target.push_back(column);
    fromV.push_back("v"s + std::to_string(n + c) + " AS x"s + std::to_string(slot));
    fromD.push_back("0");
    sums.push_back("SUM(x"s + std::to_string(slot++) + ")");
  }
  for (std::size_t c = 0; c < detailValues; ++c) {
    target.push_back(detailColumns[n + c]);
    fromV.push_back("0 AS x"s + std::to_string(slot));
    fromD.push_back("d"s + std::to_string(n + c));
    sums.push_back("SUM(x"s + std::to_string(slot++) + ")");
  }
  const std::string keyList = Numbered("k", n);
  return "WITH FromVouchers("s + Numbered("v", voucherColumns.size()) + ") AS (" + fromVouchers +
         "), FromDetail("s + Numbered("d", detailColumns.size()) + ") AS (" + fromDetail +
         ") INSERT INTO AccountDaily ("s + Join(target) + ") SELECT " + keyList + ","s +
         Join(sums) + " FROM (SELECT "s + Join(fromV) + " FROM FromVouchers UNION ALL SELECT "s +
         Join(fromD) + " FROM FromDetail) GROUP BY " + keyList + " ORDER BY " + keyList;
}

}  // namespace tallyvet::sample
