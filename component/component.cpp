// The two public classes and their RUN, behind the C interface of component.h.
#include "component/component.h"

#include <dlfcn.h>

#include <QApplication>
#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <memory>
#include <new>
#include <string>

#include "db/connection.h"
#include "db/statement_trace.h"
#include "ledger_engine/report_file.h"
#include "receipt_audit/view/check_activity_view.h"
#include "reconcile_ui/view/compare_view.h"
#include "shell/host_context.h"
#include "shell/qt/qt_message_box.h"
#include "shell/qt/screen_widgets.h"

namespace {

using tallyvet::HostContext;

enum class Kind { kNewCheckReceipt, kNewCheckBook };

// An instance: the C object first, so that the pointer the host holds is the instance's.
struct Instance {
  TallyvetObject object;
  Kind kind;
};

int g_instances = 0;
int g_runs = 0;

// The folder this library was loaded from.
std::filesystem::path ComponentFolder() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&TallyvetGetClassObject), &info) == 0 ||
      info.dli_fname == nullptr) {
    return tallyvet::ProgramFolder();
  }
  return std::filesystem::absolute(info.dli_fname).parent_path();
}

// The application the screens run in: the host's when it has one; otherwise one is made for the
// length of the RUN (`made`). Kept no longer: a QApplication left to the exit handlers would be
// destroyed after the Qt state it depends on.
QApplication* EnsureApplication(std::unique_ptr<QApplication>& made, std::string& why) {
  if (auto* app = qobject_cast<QApplication*>(QCoreApplication::instance())) return app;
  if (QCoreApplication::instance() != nullptr) {
    why = "the host's application object cannot show windows (it is not a QApplication)";
    return nullptr;
  }
  // Without a display Qt would end the process; the host gets a reason instead.
  if (std::getenv("QT_QPA_PLATFORM") == nullptr && std::getenv("DISPLAY") == nullptr &&
      std::getenv("WAYLAND_DISPLAY") == nullptr) {
    why = "no display to show the screen on (neither DISPLAY nor WAYLAND_DISPLAY is set)";
    return nullptr;
  }
  static int argc = 1;
  static char name[] = "tallyvet";
  static char* argv[] = {name, nullptr};
  made = std::make_unique<QApplication>(argc, argv);
  QApplication::setFont(tallyvet::qt::ScreenFont());
  return made.get();
}

int Fail(const std::string& why, char* error, size_t errorSize) {
  if (error != nullptr && errorSize > 0) {
    const size_t n = why.size() < errorSize - 1 ? why.size() : errorSize - 1;
    std::memcpy(error, why.data(), n);
    error[n] = '\0';
  }
  return 1;
}

// "查看对账报告": the report in the viewer beside the component; the launcher does not wait.
void OpenReport(tallyvet::MessageBox& messages, const std::filesystem::path& folder,
                const std::filesystem::path& report) {
  const std::filesystem::path viewer = folder / TALLYVET_VIEWER_PROGRAM;
  if (!QProcess::startDetached(QString::fromStdString(viewer.string()),
                               {QString::fromStdString(report.string())})) {
    messages.Show("无法打开对账报告: " + viewer.string() + " " + report.string(), "对账",
                  tallyvet::MessageIcon::Error);
  }
}

// "查看图表报告": the page in the desktop's browser; the report screen does not wait.
void OpenPage(tallyvet::MessageBox& messages, const std::filesystem::path& page) {
  if (!QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(page.string())))) {
    messages.Show("无法打开图表报告: " + page.string(), "对账报告", tallyvet::MessageIcon::Error);
  }
}

int Run(TallyvetObject* self, void* base, const char* strUser, char* error, size_t errorSize) {
  struct Running {
    Running() { ++g_runs; }
    ~Running() { --g_runs; }
  } running;
  try {
    auto* connection = static_cast<std::shared_ptr<tallyvet::db::Connection>*>(base);
    if (self == nullptr) return Fail("RUN: no instance", error, errorSize);
    if (connection == nullptr || !*connection) {
      return Fail("RUN: no database connection was given", error, errorSize);
    }
    const Kind kind = reinterpret_cast<Instance*>(self)->kind;
    HostContext& ctx = tallyvet::CurrentHostContext();
    ctx.connection = *connection;
    // Inside a host there is no command line: the environment names the trace. A connection that
    // is traced already (tallyvet gui --trace-sql) is not traced twice.
    if (dynamic_cast<tallyvet::db::TracingConnection*>(connection->get()) == nullptr) {
      if (auto trace = tallyvet::db::OpenStatementTrace(
              {}, kind == Kind::kNewCheckReceipt ? "NewCheckReceipt" : "NewCheckBook", true)) {
        ctx.connection = std::make_shared<tallyvet::db::TracingConnection>(*connection, trace,
                                                                           "the host's connection");
      }
    }
    ctx.user = strUser != nullptr ? strUser : "";

    std::string why;
    std::unique_ptr<QApplication> made;  // outlives the screens below
    if (EnsureApplication(made, why) == nullptr) return Fail(why, error, errorSize);
    tallyvet::qt::QtMessageBox messages;
    if (kind == Kind::kNewCheckReceipt) {
      // The stock ledger's rebuild leaves its journal where the reconciliation leaves its report.
      tallyvet::receipt_audit::RunCheckActivity(ctx, messages, tallyvet::qt::ExecModal,
                                                ComponentFolder());
    } else {
      const std::filesystem::path folder = ComponentFolder();
      // Installed, the component's folder is usually not the user's to write: the reports then
      // go to the user's state folder, and the launcher says where.
      const tallyvet::ScreenReportFolder reports = tallyvet::ChooseScreenReportFolder(
          folder, std::getenv("XDG_STATE_HOME"), std::getenv("HOME"));
      tallyvet::CompareViewOptions options;
      options.openReport = [&messages, folder](const std::filesystem::path& report) {
        OpenReport(messages, folder, report);
      };
      options.openPage = [&messages](const std::filesystem::path& page) {
        OpenPage(messages, page);
      };
      options.reportFolderNote = tallyvet::ReportFolderNote(reports, std::getenv("HOME"));
      tallyvet::RunCompare(ctx, messages, tallyvet::ReportFile(reports.folder), options);
    }
    return 0;
  } catch (const std::exception& e) {
    // The C boundary stops every exception: the host learns why the screen did not run.
    return Fail(e.what(), error, errorSize);
  } catch (...) {
    return Fail("RUN stopped on an unknown error", error, errorSize);
  }
}

void Release(TallyvetObject* self) {
  if (self == nullptr) return;
  delete reinterpret_cast<Instance*>(self);
  --g_instances;
}

const TallyvetObjectVtbl kVtbl = {&Run, &Release};

template <Kind kind>
TallyvetObject* Create() {
  auto* instance = new (std::nothrow) Instance{{&kVtbl}, kind};
  if (instance == nullptr) return nullptr;
  ++g_instances;
  return &instance->object;
}

const TallyvetClassInfo kClasses[] = {
    {"Tallyvet.NewCheckReceipt", TALLYVET_CLSID_NEW_CHECK_RECEIPT, &Create<Kind::kNewCheckReceipt>},
    {"Tallyvet.NewCheckBook", TALLYVET_CLSID_NEW_CHECK_BOOK, &Create<Kind::kNewCheckBook>},
};

}  // namespace

extern "C" {

__attribute__((visibility("default"))) const TallyvetClassInfo* TallyvetGetClassObject(
    const char* progId) {
  if (progId == nullptr) return nullptr;
  for (const TallyvetClassInfo& info : kClasses) {
    if (std::strcmp(info.progId, progId) == 0) return &info;
  }
  return nullptr;
}

__attribute__((visibility("default"))) const TallyvetClassInfo* TallyvetClassAt(int index) {
  constexpr int count = static_cast<int>(sizeof(kClasses) / sizeof(kClasses[0]));
  return index >= 0 && index < count ? &kClasses[index] : nullptr;
}

__attribute__((visibility("default"))) int TallyvetCanUnloadNow(void) {
  return g_instances == 0 && g_runs == 0 ? 1 : 0;
}

__attribute__((visibility("default"))) int TallyvetAbiVersion(void) {
  return TALLYVET_COMPONENT_ABI;
}

}  // extern "C"
