// A sample account set built for a test, and the differences the system's statements find in
// it, keyed as the manifest keys them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "db/sqlite_connection.h"
#include "ledger_engine/comparison.h"
#include "sample/account_set_audit.h"
#include "sample/sample.h"
#include "support/temp_dir.h"

namespace tallyvet::testing {

using nlohmann::json;
using sample::FaultSet;
using sample::SampleOptions;

inline constexpr std::int64_t kLines = 600;

class QuietScreen : public ProgressScreen {
 public:
  void SetNotes(const std::string&) override {}
  double ProgressValue() const override { return value; }
  void ShowProgress(double percent) override { value = percent; }
  double value = 0;
};

struct Sample {
  TempDir dir;
  std::filesystem::path path;
  json manifest;
  std::shared_ptr<db::SqliteConnection> conn;

  Sample(const std::string& version, FaultSet faults, std::uint64_t seed = 7,
         std::int64_t scale = kLines) {
    SampleOptions o;
    path = dir / "sample.db";
    o.path = path;
    o.owner = "demo";
    o.version = version;
    o.scale = scale;
    o.seed = seed;
    o.faults = faults;
    manifest = sample::CreateSample(o);
    conn = db::SqliteConnection::Open(path, "demo");
  }
};

inline std::string KeyText(const std::vector<std::string>& order, const json& keys) {
  std::string text;
  for (std::size_t k = 0; k < order.size(); ++k) {
    const json& v = keys.at(order[k]);
    text += (k ? "|" : "") + order[k] + "=" +
            (v.is_string() ? v.get<std::string>() : std::to_string(v.get<long long>()));
  }
  return text;
}

// Every difference the statements find, item by item.
inline std::vector<Finding> AllDifferences(db::Connection& conn) {
  std::vector<Finding> all;
  for (const auto& l : AllLedgerSql(conn, "DEMO")) {
    for (auto& f : Differences(conn, l)) all.push_back(std::move(f));
  }
  return all;
}

inline std::string Describe(const std::vector<Finding>& findings) {
  std::string text;
  for (const Finding& f : findings) {
    text += "item " + std::to_string(f.item) + " " + f.keys + " " + f.column +
            " stored=" + std::to_string(f.stored) + " recomputed=" + std::to_string(f.recomputed) +
            "\n";
  }
  return text;
}

}  // namespace tallyvet::testing
