// Where the program finds the files that travel with it: the component library its `gui` loads
// (and the report viewer beside that library). In the build tree they all sit in the program's
// own folder; installed, the program is in <prefix>/bin and they are in <prefix>/lib/tallyvet.
#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

namespace tallyvet::cli {

// The folders to look in, in order: the program's folder, then the installed companions' folder
// relative to it (when that is another one).
std::vector<std::filesystem::path> CompanionFolders();

// The first of `folders` that holds a file `name`, as an absolute path.
// Throws std::runtime_error naming the file and every folder looked in when none holds it.
std::filesystem::path FindCompanion(std::string_view name,
                                    const std::vector<std::filesystem::path>& folders);

}  // namespace tallyvet::cli
