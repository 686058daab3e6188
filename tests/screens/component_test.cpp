// The component's C interface as a host sees it, the host stand-in's errors, and the report
// viewer's reading of GBK text.
#include <dlfcn.h>

#include <QPlainTextEdit>
#include <QProcess>

#include <fstream>

#include "ledger_engine/report_file.h"
#include "screen_script.h"
#include "shell/component/component.h"
#include "shell/notepad/gbk_text.h"
#include "shell/notepad/text_viewer.h"

namespace tallyvet::screens_test {
namespace {

class LoadedComponent {
 public:
  LoadedComponent() : handle_(dlopen(TALLYVET_COMPONENT_FILE, RTLD_NOW | RTLD_LOCAL)) {}
  ~LoadedComponent() {
    if (handle_ != nullptr) dlclose(handle_);
  }
  LoadedComponent(const LoadedComponent&) = delete;
  LoadedComponent& operator=(const LoadedComponent&) = delete;
  void* handle() const { return handle_; }
  template <typename Fn>
  Fn Find(const char* name) const {
    return reinterpret_cast<Fn>(dlsym(handle_, name));
  }

 private:
  void* handle_;
};

TEST(Component, PublishesTheTwoClassesByNameAndCountsItsInstances) {
  LoadedComponent library;
  ASSERT_NE(library.handle(), nullptr) << dlerror();
  const auto getClass = library.Find<TallyvetGetClassObjectFn>("TallyvetGetClassObject");
  const auto classAt = library.Find<TallyvetClassAtFn>("TallyvetClassAt");
  const auto canUnload = library.Find<TallyvetCanUnloadNowFn>("TallyvetCanUnloadNow");
  const auto abi = library.Find<TallyvetAbiVersionFn>("TallyvetAbiVersion");
  ASSERT_TRUE(getClass && classAt && canUnload && abi);
  EXPECT_EQ(abi(), TALLYVET_COMPONENT_ABI);
  // Nothing but the entry points leaves the library.
  EXPECT_EQ(dlsym(library.handle(), "_ZN8tallyvet18CurrentHostContextEv"), nullptr);

  const TallyvetClassInfo* receipt = getClass("Tallyvet.NewCheckReceipt");
  const TallyvetClassInfo* book = getClass("Tallyvet.NewCheckBook");
  ASSERT_NE(receipt, nullptr);
  ASSERT_NE(book, nullptr);
  EXPECT_STREQ(receipt->classId, TALLYVET_CLSID_NEW_CHECK_RECEIPT);
  EXPECT_STREQ(book->classId, TALLYVET_CLSID_NEW_CHECK_BOOK);
  EXPECT_STRNE(receipt->classId, book->classId);
  EXPECT_EQ(getClass("Tallyvet.NewCheckbook"), nullptr) << "names are exact";
  EXPECT_EQ(getClass("NewCheckBook"), nullptr);
  EXPECT_EQ(getClass(nullptr), nullptr);
  EXPECT_EQ(classAt(0), receipt);
  EXPECT_EQ(classAt(1), book);
  EXPECT_EQ(classAt(2), nullptr);
  EXPECT_EQ(classAt(-1), nullptr);

  EXPECT_EQ(canUnload(), 1);
  TallyvetObject* first = book->CreateInstance();
  TallyvetObject* second = receipt->CreateInstance();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(canUnload(), 0);
  first->vtbl->Release(first);
  EXPECT_EQ(canUnload(), 0);
  // RUN without a connection shows nothing and says why.
  char error[256] = "unchanged";
  EXPECT_NE(second->vtbl->Run(second, nullptr, "tallyvet", error, sizeof error), 0);
  EXPECT_NE(std::string(error).find("no database connection"), std::string::npos) << error;
  std::shared_ptr<db::Connection> none;
  char tiny[8] = "";
  EXPECT_NE(second->vtbl->Run(second, &none, "tallyvet", tiny, sizeof tiny), 0);
  EXPECT_EQ(std::string(tiny).size(), 7u) << "cut to the buffer, NUL included";
  second->vtbl->Release(second);
  EXPECT_EQ(canUnload(), 1);
}

struct ProgramRun {
  int exitCode = -1;
  std::string errors;
};

ProgramRun RunProgram(const std::string& program, const QStringList& arguments) {
  QProcess process;
  process.start(QString::fromStdString(program), arguments);
  ProgramRun run;
  if (!process.waitForFinished(60000)) return run;
  run.exitCode = process.exitCode();
  run.errors = process.readAllStandardError().toStdString();
  return run;
}

TEST_F(ScreenTest, HostStandInExplainsWhatIsMissing) {
  SampleAccountSet sample(sample::FaultSet::kNone, 50);
  const QString db = QString::fromStdString((sample.Folder() / "host.db").string());

  ProgramRun run = RunProgram(TALLYVET_PROGRAM_FILE, {"gui", "--db", db, "--user", "tallyvet",
                                                      "--class", "Tallyvet.NewCheckLedger"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.errors.find("no class named Tallyvet.NewCheckLedger (it offers "
                            "Tallyvet.NewCheckReceipt, Tallyvet.NewCheckBook)"),
            std::string::npos)
      << run.errors;

  run = RunProgram(TALLYVET_PROGRAM_FILE, {"gui", "--db", db + ".missing", "--user", "tallyvet",
                                           "--class", "Tallyvet.NewCheckBook"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.errors.find("not found"), std::string::npos) << run.errors;

  // The program alone, without the component beside it.
  const std::filesystem::path alone = sample.Folder() / "tallyvet";
  std::filesystem::copy_file(TALLYVET_PROGRAM_FILE, alone);
  run = RunProgram(alone.string(),
                   {"gui", "--db", db, "--user", "tallyvet", "--class", "Tallyvet.NewCheckBook"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.errors.find("cannot load the component library " +
                            (sample.Folder() / "libtallyvet_component.so").string()),
            std::string::npos)
      << run.errors;
}

TEST(ReportViewer, ReadsGbkBackAndMarksWhatIsNotGbk) {
  const std::string text = "  对账完毕！\r\n检查库存账 12.50\r\n";
  EXPECT_EQ(notepad::GbkToUtf8(Utf8ToGbk(text)), text);
  EXPECT_EQ(notepad::GbkToUtf8(""), "");
  // A lead byte followed by a byte that cannot trail it: one replacement, and the rest survives.
  EXPECT_EQ(notepad::GbkToUtf8("a\x81 bc"), "a\xEF\xBF\xBD bc");
  // A character cut off at the end.
  EXPECT_EQ(notepad::GbkToUtf8(Utf8ToGbk("账").substr(0, 1)), "\xEF\xBF\xBD");
  // Longer than the converter's buffer.
  std::string longText;
  for (int i = 0; i < 3000; ++i) longText += "对账 ";
  EXPECT_EQ(notepad::GbkToUtf8(Utf8ToGbk(longText)), longText);
}

TEST_F(ScreenTest, ReportViewerShowsTheReportReadOnly) {
  testing::TempDir dir;
  const ReportFile report(dir.path());
  report.AppendReportText("检查库存账\r\n");
  report.WriteReportFooter();
  auto viewer = notepad::OpenTextViewer(report.Path());
  EXPECT_TRUE(viewer->isReadOnly());
  EXPECT_EQ(viewer->windowTitle().toStdString(), "Compare.txt");
  const std::string shown = viewer->toPlainText().toStdString();
  EXPECT_EQ(shown.rfind("检查库存账\n", 0), 0u) << shown;
  EXPECT_NE(shown.find("对账完毕！"), std::string::npos) << shown;
  EXPECT_EQ(shown.find('\r'), std::string::npos);
  viewer.reset();
  EXPECT_THROW(notepad::OpenTextViewer(dir.path() / "absent.txt"), std::system_error);
}

}  // namespace
}  // namespace tallyvet::screens_test
