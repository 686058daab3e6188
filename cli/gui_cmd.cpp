// tallyvet gui: stands in for the host application. It opens the account set, loads the component
// library from the program's own folder at run time, looks the class up by its programmatic name,
// creates an instance and calls RUN, which shows the screen until the user closes it. The program
// itself links no user-interface library: everything on screen lives in the component.
#include <dlfcn.h>

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "db/sqlite_connection.h"
#include "ledger_engine/report_file.h"
#include "shell/component/component.h"

namespace tallyvet::cli {

namespace {

struct GuiOptions {
  std::string db;
  std::string user;
  std::string className;
  double busyTimeout = kDefaultBusyTimeoutSeconds;
};

// The loaded component. Its handle is released, but the library stays mapped until the program
// ends (which follows RUN at once): unloading it would take Qt and the libraries under it along,
// some of which are not made to be unloaded (they keep what they allocated at load time in their
// own, then unmapped, data).
class ComponentLibrary {
 public:
  explicit ComponentLibrary(const std::filesystem::path& file)
      : handle_(dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE)), file_(file.string()) {
    if (handle_ == nullptr) {
      const char* why = dlerror();
      throw std::runtime_error("cannot load the component library " + file_ + ": " +
                               (why != nullptr ? why : "unknown reason"));
    }
  }
  ~ComponentLibrary() { dlclose(handle_); }
  ComponentLibrary(const ComponentLibrary&) = delete;
  ComponentLibrary& operator=(const ComponentLibrary&) = delete;

  // The entry point `name`; throws when the library lacks it.
  template <typename Fn>
  Fn Find(const char* name) const {
    void* symbol = dlsym(handle_, name);
    if (symbol == nullptr) {
      throw std::runtime_error(file_ + " is not a tallyvet component: it has no " + name);
    }
    return reinterpret_cast<Fn>(symbol);
  }

 private:
  void* handle_;
  std::string file_;
};

struct InstanceDeleter {
  void operator()(TallyvetObject* object) const { object->vtbl->Release(object); }
};

void RunGui(const GuiOptions& options) {
  std::shared_ptr<db::Connection> base =
      db::SqliteConnection::Open(options.db, options.user, JobOpenOptions(options.busyTimeout));
  ComponentLibrary library(ProgramFolder() / TALLYVET_COMPONENT_LIBRARY);
  const auto abi = library.Find<TallyvetAbiVersionFn>("TallyvetAbiVersion");
  if (abi() != TALLYVET_COMPONENT_ABI) {
    throw std::runtime_error("the component library speaks interface version " +
                             std::to_string(abi()) + ", this program " +
                             std::to_string(TALLYVET_COMPONENT_ABI));
  }
  const auto getClass = library.Find<TallyvetGetClassObjectFn>("TallyvetGetClassObject");
  const TallyvetClassInfo* info = getClass(options.className.c_str());
  if (info == nullptr) {
    std::string offered;
    const auto classAt = library.Find<TallyvetClassAtFn>("TallyvetClassAt");
    for (int i = 0; const TallyvetClassInfo* c = classAt(i); ++i) {
      offered += (i == 0 ? "" : ", ") + std::string(c->progId);
    }
    throw std::runtime_error("the component has no class named " + options.className +
                             " (it offers " + offered + ")");
  }
  std::unique_ptr<TallyvetObject, InstanceDeleter> object(info->CreateInstance());
  if (!object) throw std::runtime_error("cannot create " + options.className);
  char error[1024] = {};
  if (object->vtbl->Run(object.get(), &base, options.user.c_str(), error, sizeof error) != 0) {
    throw std::runtime_error(options.className + ".RUN: " + error);
  }
  ExitStatus() = kClean;
}

}  // namespace

void AddGuiCommand(CLI::App& app) {
  auto options = std::make_shared<GuiOptions>();
  CLI::App* gui = app.add_subcommand(
      "gui", "Open a screen as the host application does: load the component, call RUN");
  gui->add_option("--db", options->db, "account-set database file")->required();
  gui->add_option("--user", options->user, "account-set owner, as the host passes it")->required();
  gui->add_option("--class", options->className,
                  "Tallyvet.NewCheckBook (reconciliation) or Tallyvet.NewCheckReceipt (receipt "
                  "costs)")
      ->required();
  AddBusyTimeoutOption(*gui, options->busyTimeout);
  gui->callback([options] { RunGui(*options); });
}

}  // namespace tallyvet::cli
