// The subcommands of the tallyvet program. Each Add* registers its subcommand(s) on the app; the
// callback that runs the job sets ExitStatus(). An exception that escapes a callback is printed
// by main as "tallyvet: <message>" and ends the program with kError.
#pragma once

#include <filesystem>
#include <string>

#include <CLI/CLI.hpp>

#include "db/sqlite_connection.h"

namespace tallyvet::cli {

enum ExitCode : int {
  kClean = 0,     // the job found nothing wrong
  kFindings = 1,  // the job found differences or flagged lines
  kError = 2,     // the job stopped: bad arguments, a database error, a refused confirmation
};

int& ExitStatus();

// The job's wait for another program's lock on the account set.
inline constexpr double kDefaultBusyTimeoutSeconds = 10;
// Adds --busy-timeout SECONDS to a job that opens the account set, stored in `seconds`.
void AddBusyTimeoutOption(CLI::App& job, double& seconds);
// Adds --trace-sql FILE to a job, stored in `file`.
void AddTraceSqlOption(CLI::App& job, std::string& file);
// The open options of a job: its busy timeout, the rest as by default.
db::OpenOptions JobOpenOptions(double busyTimeoutSeconds);

// The folder of the report and the journals: --report-dir (made when missing), else the current
// folder. Throws std::runtime_error naming the folder when it cannot be made or written.
std::filesystem::path ReportFolder(const std::string& reportDir);

void AddCheckReceiptsCommand(CLI::App& app);
void AddReconcileCommand(CLI::App& app);
void AddGuiCommand(CLI::App& app);
void AddSampleCommand(CLI::App& app);

}  // namespace tallyvet::cli
