// Reconciliation items run side by side, each on a connection of its own, and handed back in item
// order as if they had run one after another.
//
// Each item runs CompareLedger (report written, no correction) on a copy of the run's context
// that has the thread's connection in place of the run's. What the item would have written while
// it ran (its report section, its differences, the summary list entries it added, its error) is
// kept in an ItemResult until every item before it has been handed back; then `deliver` gets it
// on the calling thread. So everything the caller writes comes out in item order, and no sink,
// report file or screen of the caller is touched from another thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "db/connection.h"
#include "ledger_engine/difference.h"
#include "shell/host_context.h"
#include "shell/progress_screen.h"

namespace tallyvet {

struct ItemResult {
  int item = 0;
  bool agreed = false;
  std::string error;          // empty unless the comparison stopped on an error
  std::string reportSection;  // the item's part of Compare.txt, UTF-8, banner and footer apart
  std::vector<std::string> notices;  // the sinks' notices (columns left out), before any difference
  std::string clientMerge;  // why the item was merged here instead of on the server, or empty
  std::vector<std::pair<DifferenceRecord, bool>> differences;  // each with its firstInRow
  std::vector<std::string> listEntries;  // summary list entries the item added, in order
  std::string insertColumns;             // the item's InsertColumns as its run matched them
};

// The connections of one thread of a run: the recompute's (the thread's context has it) and,
// when given, the stored ledger's, read at the same time (see CompareLedger). A run whose items
// are compared on the server needs only the first: the server's statement is one.
struct ItemConnections {
  std::shared_ptr<db::Connection> recompute;
  std::shared_ptr<db::Connection> stored;
};

// RunItemsSideBySide: runs `items` (item numbers 1 to 6) over [startDate, endDate] on one thread
// per entry of `connections`, the threads taking the longest items first (those over the document
// lines before those over the vouchers); hands every result
// to `deliver` on the calling thread, in the order of `items`, as soon as it and all before it are
// done. Meanwhile `screen` gets ShowRunningItems (from the calling thread only); its ItemCaption
// gives the report's section headings.
// Requires: ctx with a built dictionary and derived SQL for every item; at least one entry; every
// connection already reading the run's common view and used by nothing else until the call
// returns.
// Guarantees: every thread has been joined when the call returns or throws.
// Throws: what `deliver` throws (items not yet started are dropped, running ones are finished and
// dropped), and anything but std::exception that a comparison threw, at that item's turn.
void RunItemsSideBySide(const HostContext& ctx, ProgressScreen& screen,
                        const std::vector<int>& items, const std::string& startDate,
                        const std::string& endDate, const std::vector<ItemConnections>& connections,
                        const std::function<void(ItemResult&)>& deliver);

}  // namespace tallyvet
