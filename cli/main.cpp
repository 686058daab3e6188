// tallyvet: audits, and in part repairs, the consistency of an inventory-and-accounting account
// set.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <iostream>
#include <stdexcept>

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "ledger_engine/report_file.h"

namespace tallyvet::cli {
int& ExitStatus() {
  static int status = kClean;
  return status;
}

void AddBusyTimeoutOption(CLI::App& job, double& seconds) {
  job.add_option("--busy-timeout", seconds,
                 "seconds to wait while another program holds a lock on the account set "
                 "(default 10)")
      ->check(CLI::Range(0.0, 86400.0));
}

void AddTraceSqlOption(CLI::App& job, std::string& file) {
  job.add_option("--trace-sql", file,
                 "write every statement the job runs to FILE, one JSON object a line as each "
                 "ends (created with mode 0600; see the manual for its fields)");
}

std::filesystem::path ReportFolder(const std::string& reportDir) {
  const std::filesystem::path folder = reportDir.empty() ? "." : std::filesystem::path(reportDir);
  EnsureWritableFolder(folder);
  return folder;
}

db::OpenOptions JobOpenOptions(double busyTimeoutSeconds) {
  db::OpenOptions options;
  options.busy_timeout =
      std::chrono::milliseconds(static_cast<long long>(busyTimeoutSeconds * 1000));
  return options;
}
}  // namespace tallyvet::cli

int main(int argc, char** argv) {
  using namespace tallyvet::cli;
  CLI::App app{"tallyvet: checks that an account set's ledgers agree with its documents"};
  app.set_version_flag("--version", "tallyvet " TALLYVET_VERSION);
  app.require_subcommand(1);
  // Subcommands register here, one line each.
  AddCheckReceiptsCommand(app);
  AddReconcileCommand(app);
  AddGuiCommand(app);
  AddSampleCommand(app);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? 0 : kError;
  } catch (const std::exception& e) {
    std::cerr << "tallyvet: " << e.what() << "\n";
    return kError;
  }
  return ExitStatus();
}
