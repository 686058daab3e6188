// Files that a run leaves behind when the disk fills while they are written: the report keeps only
// whole texts, and a file written whole (the undo scripts) is either complete or absent.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
#include <system_error>

#include "ledger_engine/report_file.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

namespace tallyvet {
namespace {

using testing::TempDir;

// A file size limit stands in for a full disk: a write past it stops part-way with an error.
class DiskFillsAt {
 public:
  explicit DiskFillsAt(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    previous_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~DiskFillsAt() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, previous_);
  }

 private:
  rlimit saved_{};
  void (*previous_)(int) = nullptr;
};

TEST(ReportOnAFullDisk, AnAppendThatDoesNotFitIsCutOffAgain) {
  TempDir dir;
  const ReportFile report(dir.path());
  report.AppendReportText("first line\r\n");
  {
    DiskFillsAt limit(20);
    EXPECT_THROW(report.AppendReportText("  对账完毕！ and more than fits\r\n"), std::system_error);
  }
  EXPECT_EQ(testing::FileText(report.Path()), "first line\r\n");
}

TEST(ReportOnAFullDisk, AFileWrittenWholeIsCompleteOrLeftAsItWas) {
  TempDir dir;
  const auto path = dir / "Rebuild.undo.sql";
  WriteFileWhole(path, "DELETE FROM T;\n");
  {
    DiskFillsAt limit(30);
    try {
      WriteFileWhole(path, "DELETE FROM T;\nINSERT INTO T VALUES (1, 'a long enough row');\n");
      FAIL() << "expected an error";
    } catch (const std::system_error& e) {
      EXPECT_NE(std::string(e.what()).find("cannot write " + path.string()), std::string::npos);
    }
  }
  EXPECT_EQ(testing::FileText(path), "DELETE FROM T;\n");
  EXPECT_FALSE(std::filesystem::exists(path.string() + ".part"));
  // A folder that is not there: nothing made, the error names the file.
  EXPECT_THROW(WriteFileWhole(dir / "missing" / "x.sql", "x"), std::system_error);
}

}  // namespace
}  // namespace tallyvet
