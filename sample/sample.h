// Sample account sets: builds a new SQLite host database holding one complete account set
// (schema, periods, masters, documents, vouchers, receivable/payable detail, the stored ledger
// source and the ledgers derived from it), optionally with planted inconsistencies, and describes
// what was planted in a JSON manifest. The command line, the end-to-end tests and the benchmarks
// all start from here.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include <nlohmann/json.hpp>

namespace tallyvet::db {
class SqliteConnection;
}

namespace tallyvet::sample {

// Which inconsistencies to plant.
enum class FaultSet {
  kNone,       // a clean account set: every reconciliation item and receipt check comes out clean
  kReceipts,   // receipt cost disagreements (and near-misses that must not be flagged)
  kLedgers,    // ledger rows changed, missing or extra; a changed voucher amount
  kDocuments,  // documents entered, voided, unconfirmed, re-dated or moved after posting, lines
               // with sub-cent quantities, ledger values changed by hand: each differing ledger
               // row with the one cause that explains it
  kAll,        // all of the above
};

struct SampleOptions {
  std::filesystem::path path;      // the database file to create
  std::string owner = "tallyvet";  // account-set owner (stored upper-cased in ALL_SOURCE)
  std::string version = "9.00";    // Business.strVer; "8.10" selects the older statements
  std::int64_t scale = 1000;       // about this many document lines, spread over twelve months
  std::uint64_t seed = 1;          // the same seed and options give the same database content
  FaultSet faults = FaultSet::kNone;
  bool overwrite = false;  // replace an existing file instead of refusing
  // Called with the new file's connection before its first statement (a statement trace).
  std::function<void(db::SqliteConnection&)> opened = nullptr;
};

// Parses "none", "receipts", "ledgers", "documents" or "all"; throws std::invalid_argument
// otherwise.
FaultSet ParseFaultSet(const std::string& text);

// Creates the account set described by `options`.
// Requires: options.scale >= 1; options.path's folder exists.
// Guarantees: on return the file is a complete account set with a normal (DELETE) journal, of
//   exactly options.scale document lines over the twelve monthly periods of 2025 (and the lines
//   of the documents the document faults enter, counted in "lines"). The manifest:
//     {"owner","version","scale","seed","lines","documents","start_date",
//      "receipt_faults": [{"kind","check","lngActivityDetailID","strDate","costAmount",
//                          "secondAmount","difference"}],   one per line a receipt check lists
//      "cost_groups":    [{"intYear","bytPeriod","lngItemID",["lngPositionGroupID"],"sumCost",
//                          "sumAvgCost","difference","lngActivityDetailID"}], the average-cost
//                          groups to update
//      "ledger_faults":  [{"description","item","table","findings":[{"keys":{COLUMN:value},
//                          "column","stored","recomputed"}]}], every difference a comparison over
//                          all dates finds, keys and columns named as the ledger names them
//      "document_faults":[{"description","findings":[{"item","keys":{COLUMN:value},"column",
//                          "stored","recomputed"}],"causes":[{"item","keys":{COLUMN:value},
//                          "kind","documents":[lngActivityID],["other_keys":{COLUMN:value}]}]}],
//                          every difference the document faults give, as "ledger_faults" lists
//                          them, and one cause per differing row: "moved" (a posted document
//                          re-dated or a line moved: two rows whose keys differ in one column,
//                          other_keys naming the other row), "unposted" (a document entered after
//                          posting), "withdrawn" (a posted document voided or unconfirmed),
//                          "rounding" (lines with sub-cent quantities) or "unexplained" (a ledger
//                          value changed by hand, alone or on a row a moved line left); documents
//                          names the document behind the row (a line's document for a line),
//                          empty for "unexplained" (the row a moved line reached, when the row it
//                          left was also changed by hand, is "unposted"). Items 1, 2, 3 and 6;
//                          no two faults reach the same row.
//      "silent_faults":  [...]}  planted changes that must not be reported.
//   Figures are read back by SQL before and after planting. Without faults every list is empty
//   and the account set reconciles clean under its version's statements.
//   On failure the partly written file is removed.
// Throws: std::runtime_error when the file exists and overwrite is false, or options are invalid;
//   db::Error for a database failure.
nlohmann::json CreateSample(const SampleOptions& options);

}  // namespace tallyvet::sample
