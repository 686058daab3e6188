// tallyvet sample create: writes a new sample account set (an embedded host database, or a schema
// on a PostgreSQL server reached through ODBC) and, on request, the manifest of the faults planted
// in it.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include <stdlib.h>

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include "cli/commands.h"
#include "db/odbc_connection.h"
#include "db/sqlite_connection.h"
#include "db/statement_trace.h"
#include "sample/copy.h"
#include "sample/sample.h"

namespace tallyvet::cli {

namespace {

struct SampleCreateOptions {
  std::string db;
  std::string odbc;
  std::string owner = "tallyvet";
  std::string version = "9.00";
  std::int64_t scale = 1000;
  std::uint64_t seed = 1;
  std::string faults = "none";
  std::string manifest;
  std::string traceSql;
  bool force = false;
};

// A sample on a server is built in a scratch file by the same generator, then copied into the
// owner's schema in one transaction: a copy that fails leaves the server as it was.
nlohmann::json CreateOnServer(sample::SampleOptions options, const std::string& odbc,
                              const std::shared_ptr<db::StatementTrace>& trace) {
  const std::shared_ptr<db::OdbcConnection> conn = db::OdbcConnection::Open(odbc, options.owner);
  // The server's statements are traced; the scratch file's build is the program's own business.
  std::shared_ptr<db::Connection> reader = conn;
  if (trace) reader = std::make_shared<db::TracingConnection>(conn, trace, odbc);
  if (conn->dialect() != db::OdbcDialect::kPostgres) {
    throw std::runtime_error("sample create --odbc builds on PostgreSQL only; the data source is " +
                             conn->dbms_name());
  }
  const bool replace = options.overwrite;
  if (!replace) {
    auto existing = reader->OpenResultset(
        "SELECT COUNT(*) FROM information_schema.schemata WHERE schema_name = LOWER('" +
        options.owner + "')");
    if (existing->Fields()[0].Value().AsInteger() > 0) {
      throw std::runtime_error("the schema " + options.owner +
                               " exists already (use --force to replace it)");
    }
  }
  std::string pattern =
      (std::filesystem::temp_directory_path() / "tallyvet-sample-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a scratch folder in " +
                             std::filesystem::temp_directory_path().string());
  }
  const std::filesystem::path scratch = pattern;
  struct Remove {
    std::filesystem::path path;
    ~Remove() {
      std::error_code ec;
      std::filesystem::remove_all(path, ec);
    }
  } removeScratch{scratch};
  options.path = scratch / "sample.db";
  options.overwrite = false;
  nlohmann::json manifest = sample::CreateSample(options);

  sample::CopyOptions copy;
  copy.schema = options.owner;
  copy.replace = replace;
  if (trace) {
    copy.trace = trace.get();
    copy.traceConnection = static_cast<db::TracingConnection&>(*reader).number();
  }
  sample::CopyAccountSetToServer(options.path, *conn, copy);
  return manifest;
}

void RunSampleCreate(const SampleCreateOptions& o) {
  if (o.db.empty() && o.odbc.empty()) throw CLI::RequiredError("--db or --odbc");
  // Before anything is made or replaced: the owner names the schema and qualifies statements.
  db::RequireOwnerName(o.owner);
  const std::shared_ptr<db::StatementTrace> trace = db::OpenStatementTrace(o.traceSql, "sample");
  std::unique_ptr<db::SqliteHandleTrace> fileTrace;
  sample::SampleOptions options;
  options.path = o.db;
  options.owner = o.owner;
  options.version = o.version;
  options.scale = o.scale;
  options.seed = o.seed;
  options.faults = sample::ParseFaultSet(o.faults);
  options.overwrite = o.force;
  if (trace && o.odbc.empty()) {
    options.opened = [&](db::SqliteConnection& conn) {
      fileTrace = std::make_unique<db::SqliteHandleTrace>(conn, trace);
    };
  }

  const auto started = std::chrono::steady_clock::now();
  const nlohmann::json manifest =
      o.odbc.empty() ? sample::CreateSample(options) : CreateOnServer(options, o.odbc, trace);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

  if (!o.manifest.empty()) {
    std::ofstream out(o.manifest, std::ios::binary | std::ios::trunc);
    out << manifest.dump(2) << "\n";
    if (!out) throw std::runtime_error("cannot write the manifest " + o.manifest);
  }
  char summary[160];
  if (o.odbc.empty()) {
    const double megabytes =
        static_cast<double>(std::filesystem::file_size(options.path)) / (1024.0 * 1024.0);
    std::snprintf(summary, sizeof summary, "%lld document lines, %.1f MB, %.1f s",
                  static_cast<long long>(manifest.at("lines").get<std::int64_t>()), megabytes,
                  seconds);
    std::cout << "created " << o.db << ": " << summary;
  } else {
    std::snprintf(summary, sizeof summary, "%lld document lines, %.1f s",
                  static_cast<long long>(manifest.at("lines").get<std::int64_t>()), seconds);
    std::cout << "created schema " << o.owner << " on the server: " << summary;
  }
  if (options.faults != sample::FaultSet::kNone) {
    std::cout << "; planted " << manifest.at("receipt_faults").size() << " receipt faults, "
              << manifest.at("cost_groups").size() << " cost groups, "
              << manifest.at("ledger_faults").size() << " ledger faults, "
              << manifest.at("document_faults").size() << " document faults";
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
  CLI::Option* db = create->add_option("--db", o->db, "Account-set file to create");
  CLI::Option* odbc = create->add_option(
      "--odbc", o->odbc,
      "ODBC connection string of a PostgreSQL database: the account set goes into a schema "
      "named after the owner");
  db->excludes(odbc);
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
  create->add_option("--faults", o->faults, "Plant faults: receipts, ledgers, documents or all")
      ->check(CLI::IsMember({"none", "receipts", "ledgers", "documents", "all"}))
      ->capture_default_str();
  create->add_option("--manifest", o->manifest, "Write the planted faults as JSON to this file");
  create->add_flag("--force", o->force, "Replace an existing file (or schema)");
  AddTraceSqlOption(*create, o->traceSql);
  create->callback([o] { RunSampleCreate(*o); });
}

}  // namespace tallyvet::cli
