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
#include <functional>
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

// Whether a file can be created in `folder` now: one is created and removed again (permission
// bits alone do not say it: a read-only mount, a full disk, another owner). False on any error.
bool CanWriteInto(const std::filesystem::path& folder);

// Makes `folder` ready to take reports before any work starts: creates it and its parents when
// missing, then checks CanWriteInto. Throws std::runtime_error
// "the report folder <folder> cannot be written: <reason>" otherwise.
void EnsureWritableFolder(const std::filesystem::path& folder);

// Where the screens keep their reports.
struct ScreenReportFolder {
  std::filesystem::path folder;
  bool isComponentFolder = true;  // false: the user's own state folder, because the other is not
};

// The component's own folder when a file can be created in it (`canWrite`); otherwise
// $XDG_STATE_HOME/tallyvet when `xdgStateHome` is an absolute path, else
// $HOME/.local/state/tallyvet. The user's folder is made ready with EnsureWritableFolder.
// Throws std::runtime_error when neither folder can be written, or no HOME is known.
ScreenReportFolder ChooseScreenReportFolder(
    const std::filesystem::path& componentFolder, const char* xdgStateHome, const char* home,
    const std::function<bool(const std::filesystem::path&)>& canWrite = CanWriteInto);

// Writes `bytes` as the whole content of `path`: first under the name with ".part" appended, every
// write and the close checked, then renamed over `path`. On any failure the temporary file is
// removed and `path` is left as it was. Throws std::system_error naming the file.
void WriteFileWhole(const std::filesystem::path& path, std::string_view bytes);

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
  // written (a read-only folder, a full disk); a text that could not be written whole is cut off
  // again, so the file never ends in part of a line.
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
