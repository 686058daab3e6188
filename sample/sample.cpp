#include "sample/sample.h"

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <system_error>

#include "db/sqlite_connection.h"
#include "sample/build.h"
#include "sample/statement.h"

namespace tallyvet::sample {

FaultSet ParseFaultSet(const std::string& text) {
  if (text == "none") return FaultSet::kNone;
  if (text == "receipts") return FaultSet::kReceipts;
  if (text == "ledgers") return FaultSet::kLedgers;
  if (text == "documents") return FaultSet::kDocuments;
  if (text == "all") return FaultSet::kAll;
  throw std::invalid_argument("unknown fault set \"" + text +
                              "\" (expected none, receipts, ledgers, documents or all)");
}

namespace {

void Validate(const SampleOptions& o) {
  if (o.scale < 1) throw std::runtime_error("the scale must be at least 1 document line");
  if (o.owner.empty()) throw std::runtime_error("the owner must not be empty");
  if (o.version.empty()) throw std::runtime_error("the version must not be empty");
  std::error_code ec;
  if (std::filesystem::exists(o.path, ec)) {
    if (!o.overwrite) {
      throw std::runtime_error(o.path.string() + " already exists (use --force to replace it)");
    }
    std::filesystem::remove(o.path, ec);
    if (ec) throw std::runtime_error("cannot replace " + o.path.string() + ": " + ec.message());
  }
}

nlohmann::json Build(const std::shared_ptr<db::SqliteConnection>& conn, const SampleOptions& o) {
  const bool receipts = o.faults == FaultSet::kReceipts || o.faults == FaultSet::kAll;
  const bool ledgers = o.faults == FaultSet::kLedgers || o.faults == FaultSet::kAll;
  const bool documents = o.faults == FaultSet::kDocuments || o.faults == FaultSet::kAll;
  BuildState s(*conn, o);
  // Nothing is worth keeping of a half-built file, so the build runs without a journal; the
  // file gets a normal one back before it is handed over.
  Exec(s.db,
       "PRAGMA journal_mode=OFF; PRAGMA synchronous=OFF; PRAGMA temp_store=MEMORY;"
       "PRAGMA cache_size=-65536");
  CreateSchema(s);
  FillMasters(s);
  FillDocuments(s);
  // Receipt faults go in before anything is computed from the documents: the vouchers and the
  // ledgers agree with the documents as they stand.
  ReceiptFaults receiptFaults;
  if (receipts) receiptFaults = PlantReceiptFaults(s);
  FillVouchers(s);
  nlohmann::json voucherFault;
  if (ledgers) voucherFault = PlantVoucherFault(s);
  StoreSource(s);

  HostContext ctx;
  ctx.connection = conn;
  ctx.user = o.owner;
  FillLedgers(s, ctx);
  LedgerFaults ledgerFaults;
  if (ledgers) ledgerFaults = PlantLedgerFaults(s, ctx);
  nlohmann::json faults = nlohmann::json::array();
  for (auto& f : ledgerFaults.faults) faults.push_back(f);
  if (!voucherFault.is_null()) faults.push_back(voucherFault);
  nlohmann::json silent = receiptFaults.silent;
  for (auto& f : ledgerFaults.silent) silent.push_back(f);
  // Document faults come last: they keep off the documents and ledger rows planted so far.
  nlohmann::json documentFaults = nlohmann::json::array();
  if (documents) {
    documentFaults = PlantDocumentFaults(s, ctx,
                                         {{"receipt_faults", receiptFaults.findings},
                                          {"cost_groups", receiptFaults.costGroups},
                                          {"ledger_faults", faults},
                                          {"silent_faults", silent}});
  }
  ctx.dictionary.Release();
  ctx.connection.reset();

  Exec(s.db, "PRAGMA journal_mode=DELETE; PRAGMA synchronous=FULL; ANALYZE");

  nlohmann::json manifest = {
      {"owner", o.owner}, {"version", o.version},     {"scale", o.scale},        {"seed", o.seed},
      {"lines", s.lines}, {"documents", s.documents}, {"start_date", kStartDate}};
  manifest["receipt_faults"] = receiptFaults.findings;
  manifest["cost_groups"] = receiptFaults.costGroups;
  manifest["ledger_faults"] = faults;
  manifest["document_faults"] = documentFaults;
  manifest["silent_faults"] = silent;
  return manifest;
}

}  // namespace

nlohmann::json CreateSample(const SampleOptions& options) {
  Validate(options);
  std::shared_ptr<db::SqliteConnection> conn =
      db::SqliteConnection::Create(options.path, options.owner);
  try {
    if (options.opened) options.opened(*conn);
    nlohmann::json manifest = Build(conn, options);
    conn.reset();
    return manifest;
  } catch (...) {
    // A partial account set would pass for a real one; it goes with the failure.
    conn.reset();
    std::error_code ec;
    std::filesystem::remove(options.path, ec);
    throw;
  }
}

}  // namespace tallyvet::sample
