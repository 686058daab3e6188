// tallyvet gui: stands in for the host application. It opens the account set, loads the component
// library from the program's companions' folder at run time, looks the class up by its programmatic
// name, creates an instance and calls RUN, which shows the screen until the user closes it. The
// program itself links no user-interface library: everything on screen lives in the component.
//
// tallyvet classes: loads the component without showing anything and says where it and the report
// viewer beside it were found, and which classes it offers.
#include <dlfcn.h>

#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/commands.h"
#include "cli/companions.h"
#include "cli/host_connection.h"
#include "component/component.h"

namespace tallyvet::cli {

namespace {

struct GuiOptions {
  HostOptions host;
  std::string className;
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

// The component found among the program's companions, its interface version checked.
// Throws std::runtime_error when it is missing, cannot be loaded or speaks another version.
std::unique_ptr<ComponentLibrary> LoadComponent(std::filesystem::path* file = nullptr) {
  const std::filesystem::path found = FindCompanion(TALLYVET_COMPONENT_LIBRARY, CompanionFolders());
  auto library = std::make_unique<ComponentLibrary>(found);
  const auto abi = library->Find<TallyvetAbiVersionFn>("TallyvetAbiVersion");
  if (abi() != TALLYVET_COMPONENT_ABI) {
    throw std::runtime_error("the component library speaks interface version " +
                             std::to_string(abi()) + ", this program " +
                             std::to_string(TALLYVET_COMPONENT_ABI));
  }
  if (file != nullptr) *file = found;
  return library;
}

// "Tallyvet.NewCheckReceipt, Tallyvet.NewCheckBook": the classes the component offers.
std::string OfferedClasses(const ComponentLibrary& library) {
  std::string offered;
  const auto classAt = library.Find<TallyvetClassAtFn>("TallyvetClassAt");
  for (int i = 0; const TallyvetClassInfo* c = classAt(i); ++i) {
    offered += (i == 0 ? "" : ", ") + std::string(c->progId);
  }
  return offered;
}

struct InstanceDeleter {
  void operator()(TallyvetObject* object) const { object->vtbl->Release(object); }
};

void RunGui(const GuiOptions& options) {
  // The screens read statement by statement; their writes open short transactions of their own.
  HostConnection host(options.host);
  std::shared_ptr<db::Connection> base = host.connection();
  const std::unique_ptr<ComponentLibrary> library = LoadComponent();
  const auto getClass = library->Find<TallyvetGetClassObjectFn>("TallyvetGetClassObject");
  const TallyvetClassInfo* info = getClass(options.className.c_str());
  if (info == nullptr) {
    throw std::runtime_error("the component has no class named " + options.className +
                             " (it offers " + OfferedClasses(*library) + ")");
  }
  std::unique_ptr<TallyvetObject, InstanceDeleter> object(info->CreateInstance());
  if (!object) throw std::runtime_error("cannot create " + options.className);
  char error[1024] = {};
  if (object->vtbl->Run(object.get(), &base, options.host.user.c_str(), error, sizeof error) != 0) {
    throw std::runtime_error(options.className + ".RUN: " + error);
  }
  host.Finish();
  ExitStatus() = kClean;
}

void ListClasses() {
  std::filesystem::path file;
  const std::unique_ptr<ComponentLibrary> library = LoadComponent(&file);
  std::cout << "component: " << file.string() << "\n"
            << "classes: " << OfferedClasses(*library) << "\n";
  // The component starts its report viewer from its own folder.
  const std::filesystem::path viewer = file.parent_path() / TALLYVET_VIEWER_PROGRAM;
  if (!std::filesystem::is_regular_file(viewer)) {
    throw std::runtime_error("the report viewer is missing: " + viewer.string());
  }
  std::cout << "viewer: " << viewer.string() << "\n";
  ExitStatus() = kClean;
}

}  // namespace

void AddGuiCommand(CLI::App& app) {
  auto options = std::make_shared<GuiOptions>();
  CLI::App* gui = app.add_subcommand(
      "gui", "Open a screen as the host application does: load the component, call RUN");
  AddHostOptions(*gui, options->host);
  gui->add_option("--class", options->className,
                  "Tallyvet.NewCheckBook (reconciliation) or Tallyvet.NewCheckReceipt (receipt "
                  "costs)")
      ->required();
  gui->callback([options] { RunGui(*options); });

  CLI::App* classes = app.add_subcommand(
      "classes",
      "Say where the component library and its report viewer are and which classes it offers");
  classes->callback(ListClasses);
}

}  // namespace tallyvet::cli
