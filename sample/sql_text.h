// SQL text and source text the sample builder composes: small pure functions, tested by comparing
// strings.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tallyvet::sample {

// The voucher source a document of this activity type is booked under, as the host assigns it
// (and as the voucher/inventory comparison assumes for a document without voucher):
// 9 purchase for 1, 2, 3, 7; 12 costing for 11, 13, 15, 16; 11 stock otherwise.
int VoucherSourceOfType(int activityType);

// What a document line adds to its voucher's inventory accounts, for a line `d` of header `a`:
// cost plus expense, counted twice for receipt types 30 and 31.
std::string BookedAmountSql(std::string_view header, std::string_view line);

// The stored text split into ALL_SOURCE lines, each keeping its "\n"; a last line without one
// gets one. An empty text gives no line.
std::vector<std::string> SourceLines(std::string_view text);

// A comma-separated column list as names, each trimmed of blanks and line breaks.
std::vector<std::string> SplitColumns(std::string_view list);

// The items joined with `separator` between them ("" for no item).
std::string Join(const std::vector<std::string>& items, const std::string& separator = ",");

// One INSERT that fills AccountDaily with a single row per key from two derived SELECTs:
// `fromVouchers` gives keys then `voucherColumns` values, `fromDetail` keys then `detailColumns`
// values (both SELECTs start with the same keys, in the order of `keys`). A column produced by
// both is taken from `fromDetail`, which owns it. Columns are matched by position, not by the
// SELECTs' own names.
std::string GeneralLedgerFillSql(const std::vector<std::string>& keys,
                                 const std::vector<std::string>& voucherColumns,
                                 const std::vector<std::string>& detailColumns,
                                 const std::string& fromVouchers, const std::string& fromDetail);

}  // namespace tallyvet::sample
