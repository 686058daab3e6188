#include "ledger_engine/report_file.h"

#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <system_error>

namespace tallyvet {

namespace {

const std::string kAsterisks(69, '*');
constexpr const char* kCrLf = "\r\n";

// Owns one iconv descriptor; the conversion state is reset before every text.
class IconvHandle {
 public:
  IconvHandle(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::system_error(errno, std::generic_category(),
                              std::string("cannot convert text from ") + from + " to " + to);
    }
  }
  ~IconvHandle() { iconv_close(cd_); }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// Length of the UTF-8 sequence that starts with `lead`, 1 for a byte that starts none (so a
// stray byte is skipped alone).
std::size_t Utf8SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC2) return 2;
  return 1;
}

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

std::string Utf8ToGbk(std::string_view utf8) {
  IconvHandle cd("GBK", "UTF-8");
  std::string out;
  out.reserve(utf8.size());
  char* in = const_cast<char*>(utf8.data());
  std::size_t inLeft = utf8.size();
  char buffer[4096];
  while (inLeft > 0) {
    char* to = buffer;
    std::size_t toLeft = sizeof buffer;
    const std::size_t rc = iconv(cd.get(), &in, &inLeft, &to, &toLeft);
    out.append(buffer, static_cast<std::size_t>(to - buffer));
    if (rc != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ (no GBK form, or not UTF-8) or EINVAL (a sequence cut off at the end): one "?" for
    // the character, then go on behind it.
    const std::size_t skip = std::min(inLeft, Utf8SequenceLength(static_cast<unsigned char>(*in)));
    out.push_back('?');
    in += skip;
    inLeft -= skip;
    iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

std::string CurrentDateTimeText() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
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

void ReportFile::AppendReportText(std::string_view utf8) const {
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
