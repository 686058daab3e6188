// What a comparison hands out for every difference it finds.
#pragma once

#include <cstdint>
#include <string>

namespace tallyvet {

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
};

}  // namespace tallyvet
