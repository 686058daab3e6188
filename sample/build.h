// The steps that build a sample account set, in the order CreateSample runs them, and the state
// they share. Internal to the sample library.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "db/sqlite_connection.h"
#include "sample/sample.h"
#include "shell/host_context.h"

namespace tallyvet::sample {

// A small deterministic generator (SplitMix64): the same seed gives the same account set on every
// platform and standard library, which std::uniform_*_distribution does not promise.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next();
  // 0 <= result < n; n must be positive.
  int Below(int n);
  // lo <= result <= hi.
  int Between(int lo, int hi) { return lo + Below(hi - lo + 1); }
  // 0 <= result < 1.
  double Unit();
  bool Chance(double p) { return Unit() < p; }

 private:
  std::uint64_t state_;
};

// Rounded to cents, as every amount the host stores.
double Cents(double amount);

// The account set's calendar: twelve monthly periods from kStartDate.
inline constexpr const char* kStartDate = "2025-01-01";
inline constexpr int kYear = 2025;
inline constexpr int kDays = 365;
std::string DateOfDay(int day);  // day 0 is kStartDate
int PeriodOfDay(int day);        // 1 to 12

// Fixed master ids the generator and the faults refer to.
namespace account {
inline constexpr int kCash = 1, kBank = 2, kReceivable = 3, kPrepaid = 4, kMaterials = 5,
                     kGoods = 6, kSemiFinished = 7, kEntrustedProcessing = 8, kConsignedOut = 9,
                     kInstalmentOut = 10, kConsignedIn = 11, kPayable = 12, kOtherPayable = 13,
                     kTaxPayable = 14, kRevenue = 15, kCostOfSales = 16, kAdministration = 17,
                     kPendingLoss = 18, kProduction = 19, kBadDebt = 20;
}  // namespace account

struct Masters {
  std::vector<int> goods;                                 // items of a stock category
  std::vector<int> services;                              // items outside the stock category ('2')
  int dormantItem = 0;                                    // an item no document uses
  std::vector<double> unitCost, plannedPrice, salePrice;  // by item id (index 0 unused)
  std::vector<int> itemNature;                            // by item id
  std::vector<int> positionGroup;                         // by position id
  int positions = 0, positionGroups = 0, customers = 0, departments = 0, employees = 0,
      organizations = 0;
};

struct BuildState {
  BuildState(db::SqliteConnection& c, const SampleOptions& o);
  db::SqliteConnection& conn;
  sqlite3* db;
  const SampleOptions& options;
  bool oldVersion;     // "8.10": the statements of that version decide what is consistent
  bool pairCheckRuns;  // the transfer pair check runs for versions above "8.10" as text
  Rng rng;
  Masters masters;
  std::int64_t lines = 0;
  std::int64_t documents = 0;
};

void CreateSchema(BuildState& s);
void FillMasters(BuildState& s);
void FillDocuments(BuildState& s);

// Vouchers booked from the documents, receivable/payable detail from them and from receipts and
// payments, the vouchers of that detail and manual vouchers; then voucher numbers and posting.
void FillVouchers(BuildState& s);

void StoreSource(BuildState& s);
// Fills ItemDaily2, PositionDaily and ItemDaily1 by re-registration from the stored source, and
// AccountDaily from the derived SELECTs of the voucher and receivable/payable items.
void FillLedgers(BuildState& s, HostContext& ctx);

// Shared by the planters.

// A value read back from the file as the manifest holds it: integer, number, text or null.
nlohmann::json ToJson(const db::Value& v);

// Picks one id among the rows of `query` (a SELECT of `id` with a WHERE clause, no ORDER BY),
// skipping ids already used: the first at or after a drawn id, else the last before it; 0 when
// there is none. Reads a few rows, however large the table.
std::int64_t PickId(BuildState& s, const std::string& query, const std::string& id,
                    std::int64_t maxId, std::set<std::int64_t>& used);
std::int64_t MaxId(BuildState& s, const std::string& table, const std::string& id);

// A ledger as one item compares it: the stored side's key and value columns.
struct Ledger {
  int item = 0;
  std::string table;
  std::vector<std::string> keys;
  std::vector<std::string> values;

  // The columns the comparison of this item counts.
  bool Counts(const std::string& column) const {
    if (item == 3) return column.find("ENTRUSTIN") == std::string::npos;
    if (item == 4) return column.find("UNVOUCHER") == std::string::npos;
    return true;
  }
  std::vector<std::string> Counted() const {
    std::vector<std::string> counted;
    for (const std::string& c : values) {
      if (Counts(c)) counted.push_back(c);
    }
    return counted;
  }
};

// The ledger of item 1 to 5 as the derived check items name it.
Ledger LedgerOf(const HostContext& ctx, int item);

// Faults. Each returns what it planted for the manifest; figures come from SQL run on the file.
struct ReceiptFaults {
  nlohmann::json findings = nlohmann::json::array();
  nlohmann::json costGroups = nlohmann::json::array();
  nlohmann::json silent = nlohmann::json::array();
};
ReceiptFaults PlantReceiptFaults(BuildState& s);

// Before the general ledger is filled: a voucher amount changed, so that only the comparison of
// vouchers with inventory activity sees it.
nlohmann::json PlantVoucherFault(BuildState& s);

struct LedgerFaults {
  nlohmann::json faults = nlohmann::json::array();
  nlohmann::json silent = nlohmann::json::array();
};
LedgerFaults PlantLedgerFaults(BuildState& s, const HostContext& ctx);

// After the ledgers are filled (and after the ledger faults): documents entered, voided,
// unconfirmed, re-dated or moved after posting, lines given sub-cent quantities, and ledger values
// changed by hand, each on ledger rows no other fault touches. `planted` is the manifest so far
// (receipt, ledger and silent faults), whose documents and ledger rows are left alone. Returns
// the "document_faults" list.
nlohmann::json PlantDocumentFaults(BuildState& s, const HostContext& ctx,
                                   const nlohmann::json& planted);

}  // namespace tallyvet::sample
