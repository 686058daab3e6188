#include "ledger_engine/report_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
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

}  // namespace

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
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw std::system_error(errno, std::generic_category(), "cannot write " + path);
    }
    done += static_cast<std::size_t>(n);
  }
  if (fd.Close() != 0) {
    throw std::system_error(errno, std::generic_category(), "cannot write " + path);
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
