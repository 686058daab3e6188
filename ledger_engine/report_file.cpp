#include "ledger_engine/report_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <system_error>

namespace tallyvet {

namespace {

const std::string kAsterisks(69, '*');
constexpr const char* kCrLf = "\r\n";

// Owns one POSIX file descriptor.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now, so that a failing close (a full disk on some file systems) is reported.
  int Close() {
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc;
  }

 private:
  int fd_;
};

// Writes all of `bytes` to `fd`; false with errno set when a write fails.
bool WriteAll(int fd, std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

void WriteFileWhole(const std::filesystem::path& path, std::string_view bytes) {
  const std::string target = path.string();
  const std::string part = target + ".part";
  FileDescriptor fd(::open(part.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (fd.get() < 0) {
    throw std::system_error(errno, std::generic_category(), "cannot create " + part);
  }
  bool written = WriteAll(fd.get(), bytes) && ::fsync(fd.get()) == 0;
  int error = errno;
  if (fd.Close() != 0 && written) {
    written = false;
    error = errno;
  }
  if (written && ::rename(part.c_str(), target.c_str()) != 0) {
    written = false;
    error = errno;
  }
  if (!written) {
    ::unlink(part.c_str());
    throw std::system_error(error, std::generic_category(), "cannot write " + target);
  }
}

std::filesystem::path ProgramFolder() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

std::string CurrentDateTimeText(const char* format) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  // strftime leaves the buffer undefined when the result does not fit.
  if (std::strftime(text, sizeof text, format, &local) == 0) return {};
  return text;
}

namespace {

// Creates and removes a fresh file in `folder`; the reason it could not, or empty.
std::string ProbeFolder(const std::filesystem::path& folder) {
  std::string probe = (folder / ".tallyvet-write-test.XXXXXX").string();
  const int fd = ::mkstemp(probe.data());
  if (fd < 0) return std::strerror(errno);
  ::close(fd);
  ::unlink(probe.c_str());
  return {};
}

}  // namespace

bool CanWriteInto(const std::filesystem::path& folder) {
  return ProbeFolder(folder).empty();
}

void EnsureWritableFolder(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  std::string why = error ? error.message() : ProbeFolder(folder);
  if (!why.empty()) {
    throw std::runtime_error("the report folder " + folder.string() + " cannot be written: " + why);
  }
}

ScreenReportFolder ChooseScreenReportFolder(
    const std::filesystem::path& componentFolder, const char* xdgStateHome, const char* home,
    const std::function<bool(const std::filesystem::path&)>& canWrite) {
  if (canWrite(componentFolder)) return {componentFolder, true};
  std::filesystem::path state;
  // A relative XDG_STATE_HOME is ignored, as the XDG base directory rules say.
  if (xdgStateHome != nullptr && xdgStateHome[0] == '/') {
    state = xdgStateHome;
  } else if (home != nullptr && home[0] != '\0') {
    state = std::filesystem::path(home) / ".local" / "state";
  } else {
    throw std::runtime_error("the component's folder " + componentFolder.string() +
                             " cannot be written and neither XDG_STATE_HOME nor HOME is set");
  }
  const std::filesystem::path folder = state / "tallyvet";
  EnsureWritableFolder(folder);
  return {folder, false};
}

ReportFile::ReportFile() : folder_(ProgramFolder()) {}

ReportFile::ReportFile(std::filesystem::path folder) : folder_(std::move(folder)) {}

std::filesystem::path ReportFile::Path() const {
  return folder_ / "Compare.txt";
}

std::filesystem::path ReportFile::BackupPath(int n) const {
  char name[16];
  std::snprintf(name, sizeof name, "Compare.%03d", n);
  return folder_ / name;
}

ReportFile ReportFile::InMemory(std::string& text) {
  ReportFile report{std::filesystem::path()};
  report.text_ = &text;
  return report;
}

void ReportFile::AppendReportText(std::string_view utf8) const {
  if (text_ != nullptr) {
    text_->append(utf8);
    return;
  }
  const std::string bytes = Utf8ToGbk(utf8);
  const std::string path = Path().string();
  FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
  if (fd.get() < 0) {
    throw std::system_error(errno, std::generic_category(), "cannot open " + path);
  }
  const off_t before = ::lseek(fd.get(), 0, SEEK_END);
  if (!WriteAll(fd.get(), bytes)) {
    const int error = errno;
    // Part of a line would read as if the run had ended there: the text goes whole or not at all.
    if (before >= 0 && ::ftruncate(fd.get(), before) != 0) {
      // Nothing more to do; the error below still stops the run.
    }
    throw std::system_error(error, std::generic_category(), "cannot write " + path);
  }
  if (fd.Close() != 0) {
    const int error = errno;
    if (before >= 0 && ::truncate(path.c_str(), before) != 0) {
      // As above: the run stops on the write error either way.
    }
    throw std::system_error(error, std::generic_category(), "cannot write " + path);
  }
}

void ReportFile::RotateReportFile() const {
  const auto current = Path();
  if (!std::filesystem::exists(current)) return;
  for (int n = 0; n <= 999; ++n) {
    const auto backup = BackupPath(n);
    if (!std::filesystem::exists(backup)) {
      std::filesystem::rename(current, backup);
      return;
    }
  }
  std::filesystem::remove(current);
}

void ReportFile::WriteReportHeader(HostContext& ctx, std::string_view dateTime) const {
  RotateReportFile();
  AppendReportText(kAsterisks + kCrLf + "  Quillon对账程序" + kCrLf + kCrLf);

  auto rs = ctx.conn().OpenResultset("SELECT strUserName,strVer FROM " + ctx.user + ".Business", 3);
  if (!rs->Eof()) {
    const auto& f = rs->Fields();
    AppendReportText("            账套：" + ctx.user + " " + f["strUserName"].Value().AsText() +
                     kCrLf + "            版本 " + f["strVer"].Value().AsText() + kCrLf);
  }
  rs->Close();

  const std::string when = dateTime.empty() ? CurrentDateTimeText() : std::string(dateTime);
  AppendReportText(std::string(kCrLf) + std::string(40, ' ') + when + kCrLf + kAsterisks + kCrLf +
                   kCrLf);
}

void ReportFile::WriteReportFooter() const {
  AppendReportText(kAsterisks + kCrLf + "  对账完毕！" + kCrLf + kCrLf);
}

}  // namespace tallyvet
