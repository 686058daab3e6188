// The component's C interface as a host sees it, the host stand-in's errors, and the report
// viewer's reading of GBK text (the viewer itself is in the screenshot test).
#include <dlfcn.h>

#include <QProcess>

#include "component/component.h"
#include "db/sqlite_connection.h"
#include "screen_script.h"
#include "shell/notepad/gbk_text.h"
#include "support/temp_dir.h"

namespace tallyvet::screens_test {
namespace {

TEST(Component, PublishesTheTwoClassesByNameAndCountsItsInstances) {
  const std::unique_ptr<void, int (*)(void*)> library(
      dlopen(TALLYVET_COMPONENT_FILE, RTLD_NOW | RTLD_LOCAL), dlclose);
  ASSERT_TRUE(library) << dlerror();
  auto entry = [&](const char* name) { return dlsym(library.get(), name); };
  const auto getClass = reinterpret_cast<TallyvetGetClassObjectFn>(entry("TallyvetGetClassObject"));
  const auto classAt = reinterpret_cast<TallyvetClassAtFn>(entry("TallyvetClassAt"));
  const auto canUnload = reinterpret_cast<TallyvetCanUnloadNowFn>(entry("TallyvetCanUnloadNow"));
  const auto abi = reinterpret_cast<TallyvetAbiVersionFn>(entry("TallyvetAbiVersion"));
  ASSERT_TRUE(getClass && classAt && canUnload && abi);
  EXPECT_EQ(abi(), TALLYVET_COMPONENT_ABI);
  // Nothing but the entry points leaves the library.
  EXPECT_EQ(entry("_ZN8tallyvet18CurrentHostContextEv"), nullptr);

  const TallyvetClassInfo* receipt = getClass("Tallyvet.NewCheckReceipt");
  const TallyvetClassInfo* book = getClass("Tallyvet.NewCheckBook");
  ASSERT_TRUE(receipt && book);
  EXPECT_STRNE(receipt->classId, book->classId);
  for (const char* wrong : {"Tallyvet.NewCheckbook", "NewCheckBook", ""})
    EXPECT_EQ(getClass(wrong), nullptr) << "names are exact";
  EXPECT_EQ(getClass(nullptr), nullptr);
  EXPECT_TRUE(classAt(0) == receipt && classAt(1) == book && !classAt(2) && !classAt(-1));

  EXPECT_EQ(canUnload(), 1);
  TallyvetObject* first = book->CreateInstance();
  TallyvetObject* second = receipt->CreateInstance();
  ASSERT_TRUE(first && second);
  first->vtbl->Release(first);
  EXPECT_EQ(canUnload(), 0);
  // RUN without a connection shows nothing and says why, cut to the buffer, NUL included.
  char error[256] = "unchanged";
  EXPECT_NE(second->vtbl->Run(second, nullptr, "tallyvet", error, sizeof error), 0);
  EXPECT_NE(std::string(error).find("no database connection"), std::string::npos) << error;
  std::shared_ptr<db::Connection> none;
  char tiny[8] = "";
  EXPECT_NE(second->vtbl->Run(second, &none, "tallyvet", tiny, sizeof tiny), 0);
  EXPECT_EQ(std::string(tiny).size(), 7u);
  second->vtbl->Release(second);
  EXPECT_EQ(canUnload(), 1);
}

// Inside a host there is no command line: the environment names the trace, and a trace that
// cannot be made stops RUN with the reason before any screen shows.
TEST(Component, TracesToTheFileTheEnvironmentNames) {
  const std::unique_ptr<void, int (*)(void*)> library(
      dlopen(TALLYVET_COMPONENT_FILE, RTLD_NOW | RTLD_LOCAL), dlclose);
  ASSERT_TRUE(library) << dlerror();
  const auto getClass =
      reinterpret_cast<TallyvetGetClassObjectFn>(dlsym(library.get(), "TallyvetGetClassObject"));
  TallyvetObject* book = getClass("Tallyvet.NewCheckBook")->CreateInstance();
  tallyvet::testing::TempDir dir;
  std::shared_ptr<db::Connection> base = db::SqliteConnection::Create(dir / "host.db", "demo");
  const std::string unmakeable = (dir / "no-such-folder" / "trace.jsonl").string();
  ::setenv("TALLYVET_TRACE_SQL", unmakeable.c_str(), 1);
  char error[512] = "";
  EXPECT_NE(book->vtbl->Run(book, &base, "demo", error, sizeof error), 0);
  ::unsetenv("TALLYVET_TRACE_SQL");
  EXPECT_NE(std::string(error).find("cannot open the statement trace " + unmakeable),
            std::string::npos)
      << error;
  book->vtbl->Release(book);
}

TEST_F(ScreenTest, HostStandInExplainsWhatIsMissing) {
  SampleAccountSet sample(sample::FaultSet::kNone, 50);
  // The `gui` command's standard error; it must exit with 2.
  auto gui = [&](const std::filesystem::path& program, const char* name) {
    QProcess process;
    process.start(QString::fromStdString(program.string()),
                  {"gui", "--db", QString::fromStdString((sample.dir / "host.db").string()),
                   "--user", "tallyvet", "--class", name});
    EXPECT_TRUE(process.waitForFinished(60000) && process.exitCode() == 2);
    return process.readAllStandardError().toStdString();
  };
  EXPECT_NE(gui(TALLYVET_PROGRAM_FILE, "Tallyvet.NewCheckLedger")
                .find("no class named Tallyvet.NewCheckLedger (it offers "
                      "Tallyvet.NewCheckReceipt, Tallyvet.NewCheckBook)"),
            std::string::npos);
  // The program alone, without the component beside it.
  std::filesystem::copy_file(TALLYVET_PROGRAM_FILE, sample.dir / "tallyvet");
  EXPECT_NE(
      gui(sample.dir / "tallyvet", "Tallyvet.NewCheckBook")
          .find("cannot find libtallyvet_component.so (looked in " + sample.dir.path().string()),
      std::string::npos);
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

}  // namespace
}  // namespace tallyvet::screens_test
