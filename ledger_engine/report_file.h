// The reconciliation text report, Compare.txt: the one record a run leaves behind, readable after
// the screens have closed.
//
// The report lives in one folder (by default the folder of the running program; the command line
// may name another). Text is UTF-8 inside the program and is written in GBK (code page 936), one
// byte per ASCII character and two per Chinese character, without a byte-order mark. Nothing adds
// line ends: callers end their lines with CR LF themselves. Every call opens, writes and closes
// the file, so each text is on disk when the call returns; no file stays open between calls.
//
// Before a new report starts, the previous Compare.txt moves to the first free backup name
// Compare.000 .. Compare.999; when all 1000 exist, the previous report is deleted instead.
// Backups are never deleted or overwritten.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "shell/gbk.h"  // Utf8ToGbk: the report is written in GBK
#include "shell/host_context.h"

namespace tallyvet {

// The folder that holds the running program (read from /proc/self/exe).
// Throws std::filesystem::filesystem_error when the link cannot be read.
std::filesystem::path ProgramFolder();

// The current local date and time written with the strftime `format` (at most 31 bytes of
// result); by default "yyyy-mm-dd hh:mm:ss", the form the banner shows.
std::string CurrentDateTimeText(const char* format = "%Y-%m-%d %H:%M:%S");

class ReportFile {
 public:
  // The report in ProgramFolder().
  ReportFile();
  // The report in `folder`, which must exist when the report is written.
  explicit ReportFile(std::filesystem::path folder);
  // A report whose AppendReportText adds to `text` (UTF-8, as given) instead of writing a file, so
  // that a comparison running beside others keeps its section until its turn to be written.
  // `text` must outlive the report. Only AppendReportText is kept back: not for the other calls.
  static ReportFile InMemory(std::string& text);

  const std::filesystem::path& Folder() const { return folder_; }
  // Folder() / "Compare.txt".
  std::filesystem::path Path() const;
  // Folder() / "Compare.nnn", n in 0..999 written with three digits.
  std::filesystem::path BackupPath(int n) const;

  // AppendReportText: appends `utf8` (converted to GBK) at the end of Compare.txt, creating the
  // file when absent. Throws std::system_error naming the file when it cannot be opened or
  // written.
  void AppendReportText(std::string_view utf8) const;

  // RotateReportFile: moves an existing Compare.txt to the first free backup name, or deletes it
  // when all 1000 backup names exist; does nothing when there is no Compare.txt.
  // Throws std::filesystem::filesystem_error when the rename or delete fails.
  void RotateReportFile() const;

  // WriteReportHeader: rotates, then writes the banner into the new, empty Compare.txt. The
  // account-set lines (owner and name, version) come from
  // "SELECT strUserName,strVer FROM " + ctx.user + ".Business" and are left out when it has no
  // row. `dateTime` is the text of the banner's date line; empty means CurrentDateTimeText().
  // Requires a connection in ctx. Throws db::Error when the query fails, and the errors of
  // RotateReportFile and AppendReportText.
  void WriteReportHeader(HostContext& ctx, std::string_view dateTime = {}) const;

  // WriteReportFooter: appends the closing lines (69 asterisks, "  对账完毕！", an empty line).
  // Throws as AppendReportText.
  void WriteReportFooter() const;

 private:
  std::filesystem::path folder_;
  std::string* text_ = nullptr;  // set for a report kept in memory
};

}  // namespace tallyvet
