// Why a ledger row differs from its documents. Most differences in a live account set have a
// mechanical cause that the documents under the row's key show: a document entered after the
// ledger was posted, one voided or sent back for approval after it, one re-dated or a line moved
// to another key, or amounts carried below the cent. Each differing row gets one cause, tested in
// this order:
//  - moved: another differing row of the item whose keys differ in one column has the exact
//    opposite differences on the same columns, and one document (or one line) now under one of
//    the two keys accounts for them; both rows get it, each naming the other's keys;
//  - unposted: one valid document (its lines under the key), or failing that one line, whose
//    contribution is the difference (recomputed - stored) on every compared column;
//  - withdrawn: one voided or unapproved document whose lines under the key, were they valid,
//    would be the difference the other way (the ledger still holds them); for item 6, a voucher
//    that no document is booked with;
//  - rounding: every difference lies within half a cent per valid line under the key;
//  - unexplained: none of these (a value changed by hand in the ledger; two causes at once).
// A document's contribution comes from the item's own recompute statement, restricted to the
// row's key condition and kept line by line (DocumentLinesStatement); validity tests of that
// statement are lifted so that voided and unapproved documents show, flagged.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ledger_engine/difference.h"
#include "shell/host_context.h"

namespace tallyvet {

// The kind as the screens name it: "单据移动", "单据未记账", "单据作废或取消审核", "舍入误差",
// "原因不明".
const char* CauseKindCaption(CauseKind kind);

// Differences up to this size count as equal: half a cent, the comparison's own resolution.
inline constexpr double kCauseTolerance = 0.005 + 1e-9;

// One line under a row's key, with what it gives each explained column.
struct ContributionLine {
  std::int64_t document = 0;
  std::int64_t line = 0;
  std::string date;
  std::string no;
  bool isVoid = false;
  bool approved = true;
  bool voucher = false;        // an entry of item 6's stored side: a voucher, not a document
  std::vector<double> values;  // one per explained column, in the row's order
  bool Valid() const { return !voucher && !isVoid && approved; }
};

// A differing row as the causes see it.
struct RowToExplain {
  std::vector<KeyValue> keys;
  std::string description;  // the keys as users read them (codes for ids), when known
  RowSide side = RowSide::kBoth;
  // Per explained column: recomputed - stored, and whether the comparison counted it as a
  // difference (a column that did not differ is taken as 0).
  std::vector<double> delta;
  std::vector<bool> differs;
  std::vector<ContributionLine> lines;
};

// The cause of every row, in the rows' order. A moved row's text names the other row by its
// description, or failing that by its keys, each column under `caption`.
std::vector<DifferenceCause> AssignCauses(
    const std::vector<RowToExplain>& rows,
    const std::function<std::string(const std::string&)>& caption);

// The statement of the lines under some rows of `item`: the item's SelectSql restricted to the
// run's date range and to any of the rows' source-side `conditions`, each line given first its
// document id, line id, date, number, void flag and status (six columns; the item's own columns
// follow, the i-th at 6 + i, its keys first). Tests of blnIsVoid and bytStatus in the statement
// are lifted (written 1=1); `validVoid` and `validStatus` get the values those tests asked for
// ("0" and "2" when the statement has none, so that every line counts as valid).
struct ContributionSql {
  std::string sql;
  std::string validVoid = "0";
  std::string validStatus = "2";
};
ContributionSql ContributionStatement(const CheckItemTable& items, int item,
                                      const std::vector<std::string>& conditions,
                                      const std::string& startDate, const std::string& endDate);

// The lines under one row of the named documents (ids as the cause names them), the validity
// tests lifted so that a voided or unapproved document shows: for the document list, with its
// `selectPrefix` (as DocumentLinesStatement).
std::string NamedDocumentLinesStatement(const CheckItemTable& items, int item,
                                        std::string_view condition,
                                        const std::vector<std::int64_t>& ids,
                                        std::string_view selectPrefix);

// Buffers the differences of each item, gives each differing row its cause when the item ends
// (statements on ctx's connection, which the item's comparison no longer uses by then), then
// hands the records, cause attached, and the item's end to `next`, in the order they came.
// Notices (and word of an item merged on the client) pass at once. When the lines of an item cannot
// be read, its rows are unexplained with the database's message in their text, and every sink gets
// a notice saying so: the differences themselves stand, and the run goes on.
class ExplainingSink final : public DifferenceSink {
 public:
  ExplainingSink(HostContext& ctx, std::string startDate, std::string endDate,
                 std::vector<DifferenceSink*> next);
  void RecordDifference(const DifferenceRecord& record, bool firstInRow) override;
  void EndItem(int item) override;
  void Notice(int item, const std::string& text) override;
  void ClientMerge(int item, const std::string& reason) override;

  // Rows are read one a statement until one statement takes longer than `quick` (50 ms by
  // default: the database scanned), then up to 32 a statement. The causes are the same either
  // way; only how the statements are grouped changes.
  void ShareStatementsAfter(std::chrono::milliseconds quick) { quick_ = quick; }

 private:
  HostContext& ctx_;
  std::string startDate_;
  std::string endDate_;
  std::vector<DifferenceSink*> next_;
  std::vector<std::pair<DifferenceRecord, bool>> pending_;
  std::chrono::milliseconds quick_{50};
};

}  // namespace tallyvet
