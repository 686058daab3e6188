// The derivation of ledger SQL from any stored source text (the package before a form feed, the
// voucher function after it): it never throws with a working connection, and whatever it hands
// on without a refusal passes the statement check, is upper-cased, has no ORDER BY left, and
// gives key columns that GetKeyColumns can read.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "ledger_engine/check_items.h"
#include "ledger_engine/derivation.h"

namespace {

using namespace tallyvet;

// ALL_SOURCE with the two units, one row per line, each line with its break.
class SourceConnection final : public db::Connection {
 public:
  SourceConnection(std::string goods, std::string account)
      : goods_(std::move(goods)), account_(std::move(account)) {}

  std::unique_ptr<db::Recordset> OpenResultset(const std::string& sql, int, int) override {
    std::vector<std::vector<db::Value>> rows;
    if (sql.find("SELECT Text FROM ALL_SOURCE") == 0) {
      const std::string& text = sql.find("NAME='MDLITEM'") != std::string::npos ? goods_ : account_;
      std::size_t start = 0;
      while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        rows.push_back({db::Value(text.substr(start, end - start))});
        start = end;
      }
    }
    return db::Recordset::FromRows({{"TEXT", db::adVarChar}}, std::move(rows));
  }
  void Execute(const std::string&) override {}
  std::int64_t RowsAffected() const override { return 0; }
  bool StillExecuting() const override { return false; }

 private:
  std::string goods_;
  std::string account_;
};

struct QuietScreen final : ProgressScreen {
  void SetNotes(const std::string&) override {}
  double ProgressValue() const override { return 0; }
  void ShowProgress(double) override {}
};

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\f');
  HostContext ctx;
  ctx.user = "acme";
  ctx.connection = std::make_shared<SourceConnection>(
      input.substr(0, split), split == std::string::npos ? "" : input.substr(split + 1));
  QuietScreen screen;
  InitCheckItems(ctx);
  DeriveGoodsLedgerSql(ctx, screen);
  DeriveAccountLedgerSql(ctx, screen);

  const CheckItemTable& items = ctx.CheckItems;
  for (int item = 1; item <= 4; ++item) {
    const std::size_t i = CheckItemTable::Index(item);
    for (const std::string* text : {&items.SelectSql[i], &items.InsertColumns[i]}) {
      for (const char c : *text) Require(c < 'a' || c > 'z');
    }
    Require(items.SelectSql[i].find("ORDER BY") == std::string::npos);
    if (!items.Refusal[i].empty()) continue;
    Require(CheckDerivedStatement(items, item).empty());
    std::string columns, positions;
    GetKeyColumns(items, item, columns, positions);
    Require(!positions.empty());
  }
  return 0;
}
