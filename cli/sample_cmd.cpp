// tallyvet sample create: writes a new sample account set (an embedded host database) and,
// on request, the manifest of the faults planted in it.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "sample/sample.h"

namespace tallyvet::cli {

namespace {

struct SampleCreateOptions {
  std::string db;
  std::string owner = "tallyvet";
  std::string version = "9.00";
  std::int64_t scale = 1000;
  std::uint64_t seed = 1;
  std::string faults = "none";
  std::string manifest;
  bool force = false;
};

void RunSampleCreate(const SampleCreateOptions& o) {
  sample::SampleOptions options;
  options.path = o.db;
  options.owner = o.owner;
  options.version = o.version;
  options.scale = o.scale;
  options.seed = o.seed;
  options.faults = sample::ParseFaultSet(o.faults);
  options.overwrite = o.force;

  const auto started = std::chrono::steady_clock::now();
  const nlohmann::json manifest = sample::CreateSample(options);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  if (!o.manifest.empty()) {
    std::ofstream out(o.manifest, std::ios::binary | std::ios::trunc);
    out << manifest.dump(2) << "\n";
    if (!out) throw std::runtime_error("cannot write the manifest " + o.manifest);
  }
  const double megabytes =
      static_cast<double>(std::filesystem::file_size(options.path)) / (1024.0 * 1024.0);
  char summary[160];
  std::snprintf(summary, sizeof summary, "%lld document lines, %.1f MB, %.1f s",
                static_cast<long long>(manifest.at("lines").get<std::int64_t>()), megabytes,
                seconds);
  std::cout << "created " << o.db << ": " << summary;
  if (options.faults != sample::FaultSet::kNone) {
    std::cout << "; planted " << manifest.at("receipt_faults").size() << " receipt faults, "
              << manifest.at("cost_groups").size() << " cost groups, "
              << manifest.at("ledger_faults").size() << " ledger faults";
  }
  std::cout << "\n";
  ExitStatus() = kClean;
}

}  // namespace

void AddSampleCommand(CLI::App& app) {
  CLI::App* sample = app.add_subcommand("sample", "Sample account sets to try the program on");
  sample->require_subcommand(1);
  CLI::App* create = sample->add_subcommand(
      "create", "Write a new sample account set: documents, vouchers, ledgers, stored source");
  auto o = std::make_shared<SampleCreateOptions>();
  create->add_option("--db", o->db, "Account-set file to create")->required();
  create->add_option("--owner", o->owner, "Account-set owner")->capture_default_str();
  create
      ->add_option("--version", o->version,
                   "Program version the account set claims (8.10 or later)")
      ->capture_default_str();
  create->add_option("--scale", o->scale, "About this many document lines")
      ->capture_default_str()
      ->check(CLI::Range(std::int64_t{1}, std::int64_t{100000000}));
  create->add_option("--seed", o->seed, "Seed: the same seed gives the same account set")
      ->capture_default_str();
  create->add_option("--faults", o->faults, "Plant faults: receipts, ledgers or all")
      ->check(CLI::IsMember({"none", "receipts", "ledgers", "all"}))
      ->capture_default_str();
  create->add_option("--manifest", o->manifest, "Write the planted faults as JSON to this file");
  create->add_flag("--force", o->force, "Replace an existing file");
  create->callback([o] { RunSampleCreate(*o); });
}

}  // namespace tallyvet::cli
