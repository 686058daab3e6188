// tallyvet: audits, and in part repairs, the consistency of an inventory-and-accounting account
// set.
#include <exception>
#include <iostream>

#include <CLI/CLI.hpp>

#include "cli/commands.h"

namespace tallyvet::cli {
int& ExitStatus() {
  static int status = kClean;
  return status;
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
