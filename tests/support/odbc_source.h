// A SQLite account-set file as an ODBC data source: the SQLite3 driver that Debian's
// libsqliteodbc registers, with the Oracle functions loaded from the build's extension.
#pragma once

#include <filesystem>
#include <string>

namespace tallyvet::testing {

inline std::string SqliteOdbcString(const std::filesystem::path& db) {
  return "Driver=SQLite3;Database=" + db.string() +
         ";LoadExt=" TALLYVET_ORACLE_EXTENSION ";NoCreat=1";
}

}  // namespace tallyvet::testing
