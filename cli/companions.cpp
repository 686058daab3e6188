#include "cli/companions.h"

#include <stdexcept>
#include <string>
#include <system_error>

#include "ledger_engine/report_file.h"

#ifndef TALLYVET_COMPANIONS_FROM_BIN
#error "TALLYVET_COMPANIONS_FROM_BIN: the companions' folder relative to the program's"
#endif

namespace tallyvet::cli {

std::vector<std::filesystem::path> CompanionFolders() {
  const std::filesystem::path program = ProgramFolder();
  std::vector<std::filesystem::path> folders = {program};
  std::error_code ignored;  // a folder that does not exist is simply not a candidate
  const std::filesystem::path installed =
      std::filesystem::weakly_canonical(program / TALLYVET_COMPANIONS_FROM_BIN, ignored);
  if (!installed.empty() && installed != program) folders.push_back(installed);
  return folders;
}

std::filesystem::path FindCompanion(std::string_view name,
                                    const std::vector<std::filesystem::path>& folders) {
  std::string looked;
  for (const std::filesystem::path& folder : folders) {
    const std::filesystem::path file = std::filesystem::absolute(folder / name);
    std::error_code ignored;
    if (std::filesystem::is_regular_file(file, ignored)) return file;
    looked += (looked.empty() ? "" : ", ") + folder.string();
  }
  throw std::runtime_error("cannot find " + std::string(name) + " (looked in " + looked + ")");
}

}  // namespace tallyvet::cli
