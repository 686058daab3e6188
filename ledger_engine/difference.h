// What a comparison hands out for every difference it finds.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/value.h"

namespace tallyvet {

// Which results hold the differing row.
enum class RowSide { kBoth, kRecomputedOnly, kStoredOnly };

// "both", "recomputed_only", "stored_only".
const char* RowSideName(RowSide side);

// One key column of a ledger row: the ledger's (stored side's) column name, upper-cased, and the
// value as the row holds it (a text stays text, an id stays a number).
struct KeyValue {
  std::string column;
  db::Value value;
};

// Why a ledger row differs from its documents (see ledger_engine/causes.h), in the order the
// causes are tested.
enum class CauseKind { kMoved, kUnposted, kWithdrawn, kRounding, kUnexplained };

// "moved", "unposted", "withdrawn", "rounding", "unexplained".
const char* CauseKindName(CauseKind kind);

// A document a cause names: an inventory document (lngActivityID), a voucher (lngVoucherID) or a
// receivable/payable line, with the number and date users know it by.
struct NamedDocument {
  std::int64_t id = 0;
  std::string no;
  std::string date;
  bool voucher = false;   // a voucher of item 6's stored side, not a document
  std::int64_t line = 0;  // the one line that accounts for the difference; 0: the whole document
  bool isVoid = false;    // the document is voided (withdrawn)
  bool approved = true;   // the document is approved (withdrawn: false unless voided)
};

struct DifferenceCause {
  CauseKind kind = CauseKind::kUnexplained;
  std::vector<NamedDocument> documents;  // more than one: as many candidates fit equally
  std::vector<KeyValue> otherKeys;       // moved: the keys of the row at the other end
  int lines = 0;                         // rounding: the lines under the row's key
  std::string text;                      // one sentence for the screens
};

struct DifferenceRecord {
  std::int16_t item = 0;
  std::int16_t columnIndex = 0;  // zero-based index of the differing column
  std::string condition;         // the row's key condition
  std::string keyDescription;    // caption=text CR LF, one line per key column
  std::string columnName;        // stored side's column name
  std::string columnCaption;
  double storedValue = 0;
  double recomputedValue = 0;
  std::int16_t keyCount = 0;
  std::int16_t spare = 0;
  std::vector<KeyValue> keys;  // the row's keys, as many as keyCount
  RowSide side = RowSide::kBoth;
  // Set when the run explains its differences (ExplainingSink); shared by the row's records.
  std::shared_ptr<const DifferenceCause> cause;
};

// Receives every filled DifferenceRecord of a run (RecordDifference). `firstInRow` is true for the
// first difference recorded in the current row. Sinks: the text report, the report screen's grids,
// the command line's table and JSON lines.
class DifferenceSink {
 public:
  virtual ~DifferenceSink() = default;
  virtual void RecordDifference(const DifferenceRecord& record, bool firstInRow) = 0;
  // The comparison of `item` is over (summary rows go out here).
  virtual void EndItem(int /*item*/) {}
  // A remark on the comparison of `item` that is no difference: a column of the recomputed
  // statement that the ledger lacks, left out of the comparison. The summary list has it too.
  virtual void Notice(int /*item*/, const std::string& /*text*/) {}
  // The comparison of `item` was to run as one statement on the database server and merges its
  // two sides in this process instead, for `reason`: a construct that statement cannot express,
  // keys the server cannot pair as the merge pairs them, or the server's own refusal. The result
  // is the same either way. Told before any difference of the item, at most once per item.
  virtual void ClientMerge(int /*item*/, const std::string& /*reason*/) {}
};

}  // namespace tallyvet
