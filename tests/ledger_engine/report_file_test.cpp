#include "ledger_engine/report_file.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <system_error>

#include "comparison_fixtures.h"

namespace tallyvet {
namespace {

using testing::AccountSet;
using testing::TempDir;

std::string ReadBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::filesystem::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

TEST(GbkTest, ChineseTakesTwoBytesAsciiOneAndNothingIsAddedAround) {
  EXPECT_EQ(Utf8ToGbk("商品"), "\xC9\xCC\xC6\xB7");
  EXPECT_EQ(Utf8ToGbk("销售数量\r\n").size(), 4u * 2 + 2);
  EXPECT_EQ(Utf8ToGbk("  对账完毕！").size(), 2u + 5 * 2);  // the full-width "！" too
  EXPECT_EQ(Utf8ToGbk("abc=1"), "abc=1");
  EXPECT_EQ(Utf8ToGbk(""), "");
}

TEST(GbkTest, CharactersGbkLacksAndBrokenUtf8BecomeOneQuestionMarkEach) {
  EXPECT_EQ(Utf8ToGbk("a\xF0\x9F\x98\x80"
                      "b"),
            "a?b");  // an emoji
  EXPECT_EQ(Utf8ToGbk("a\xFF"
                      "b\xE5\x95"),
            "a?b?");  // a stray byte, a cut-off sequence
  EXPECT_EQ(Utf8ToGbk("商\xFF品"), "\xC9\xCC?\xC6\xB7");
}

class ReportFileTest : public ::testing::Test {
 protected:
  TempDir dir_;
  ReportFile report_{dir_.path()};
};

TEST_F(ReportFileTest, AppendingCreatesTheFileAndContinuesWhereTheLastTextEnded) {
  report_.AppendReportText("商品=");
  report_.AppendReportText("A-015\r\n");
  const std::string bytes = ReadBytes(dir_ / "Compare.txt");
  EXPECT_EQ(bytes, "\xC9\xCC\xC6\xB7=A-015\r\n");  // no byte-order mark, one line
}

TEST_F(ReportFileTest, AFolderThatCannotBeWrittenRaises) {
  const ReportFile missing(dir_ / "no-such-folder");
  EXPECT_THROW(missing.AppendReportText("x"), std::system_error);
}

TEST_F(ReportFileTest, RotationMovesTheOldReportToTheFirstFreeBackup) {
  report_.RotateReportFile();  // nothing to move
  EXPECT_FALSE(std::filesystem::exists(dir_ / "Compare.000"));

  WriteBytes(dir_ / "Compare.txt", "first");
  report_.RotateReportFile();
  EXPECT_EQ(ReadBytes(dir_ / "Compare.000"), "first");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "Compare.txt"));

  WriteBytes(dir_ / "Compare.txt", "second");
  report_.RotateReportFile();
  EXPECT_EQ(ReadBytes(dir_ / "Compare.001"), "second");

  // A gap is filled first.
  std::filesystem::remove(dir_ / "Compare.000");
  WriteBytes(dir_ / "Compare.txt", "third");
  report_.RotateReportFile();
  EXPECT_EQ(ReadBytes(dir_ / "Compare.000"), "third");
  EXPECT_EQ(ReadBytes(dir_ / "Compare.001"), "second");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "Compare.002"));
}

TEST_F(ReportFileTest, WithAllThousandBackupsTheOldReportIsDeletedAndNoBackupTouched) {
  for (int n = 0; n <= 999; ++n) WriteBytes(report_.BackupPath(n), std::to_string(n));
  EXPECT_EQ(report_.BackupPath(7), dir_ / "Compare.007");
  WriteBytes(dir_ / "Compare.txt", "old");
  report_.RotateReportFile();
  EXPECT_FALSE(std::filesystem::exists(dir_ / "Compare.txt"));
  EXPECT_EQ(ReadBytes(dir_ / "Compare.000"), "0");
  EXPECT_EQ(ReadBytes(dir_ / "Compare.999"), "999");
  EXPECT_FALSE(std::filesystem::exists(dir_ / "Compare.1000"));
}

class ReportBannerTest : public ::testing::Test {
 protected:
  AccountSet set_;
  ReportFile report_{set_.dir().path()};
  const std::string stars_ = std::string(69, '*');
};

TEST_F(ReportBannerTest, HeaderStartsANewFileWithTheBannerLineByLine) {
  report_.AppendReportText("old report");
  report_.WriteReportHeader(set_.ctx, "2026-12-06 14:03:05");
  EXPECT_EQ(ReadBytes(set_.dir() / "Compare.000"), "old report");
  const std::string expected = stars_ + "\r\n" + "  Quillon对账程序\r\n" + "\r\n" +
                               "            账套：acme 样例商贸\r\n" + "            版本 9.10\r\n" +
                               "\r\n" + std::string(40, ' ') + "2026-12-06 14:03:05\r\n" + stars_ +
                               "\r\n" + "\r\n";
  EXPECT_EQ(ReadBytes(set_.dir() / "Compare.txt"), Utf8ToGbk(expected));
  EXPECT_EQ(set_.log().queries.back(), "SELECT strUserName,strVer FROM acme.Business");
}

TEST_F(ReportBannerTest, WithoutAnAccountSetRowTheAccountLinesAreLeftOut) {
  set_.Run("DELETE FROM Business");
  report_.WriteReportHeader(set_.ctx, "2026-12-06 14:03:05");
  report_.WriteReportFooter();
  const std::string expected = stars_ + "\r\n  Quillon对账程序\r\n\r\n\r\n" + std::string(40, ' ') +
                               "2026-12-06 14:03:05\r\n" + stars_ + "\r\n\r\n" + stars_ +
                               "\r\n  对账完毕！\r\n\r\n";
  EXPECT_EQ(ReadBytes(set_.dir() / "Compare.txt"), Utf8ToGbk(expected));
}

TEST_F(ReportBannerTest, AFailingAccountSetQueryRaisesAfterTheFirstLines) {
  set_.Run("DROP TABLE Business");
  EXPECT_THROW(report_.WriteReportHeader(set_.ctx), db::Error);
  EXPECT_EQ(ReadBytes(set_.dir() / "Compare.txt"),
            Utf8ToGbk(stars_ + "\r\n  Quillon对账程序\r\n\r\n"));
}

}  // namespace
}  // namespace tallyvet
