// Driving the Qt screens as a user would, offscreen: a sample account set to work on, message
// boxes that record what they were asked and answer from a script, and a modal display that runs
// a scripted step on each screen as it opens instead of waiting in the dialog's own loop.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QTableView>
#include <QTest>

#include <cstdio>
#include <deque>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "db/sqlite_connection.h"
#include "sample/sample.h"
#include "shell/host_context.h"
#include "shell/message_box.h"
#include "shell/qt/screen_widgets.h"
#include "support/temp_dir.h"

namespace tallyvet::screens_test {

// The offscreen platform cannot fix a window's size hints and says so for every fixed-size
// dialog; everything else Qt reports goes through.
inline QtMessageHandler& PreviousMessageHandler() {
  static QtMessageHandler previous = nullptr;
  return previous;
}
inline void QuietSizeHintWarnings(QtMsgType type, const QMessageLogContext& context,
                                  const QString& message) {
  if (message.contains(QStringLiteral("does not support propagateSizeHints"))) return;
  if (PreviousMessageHandler() != nullptr) {
    PreviousMessageHandler()(type, context, message);
  } else {
    std::fprintf(stderr, "%s\n", qPrintable(message));
  }
}

// The one application of the test program, in the screens' font. It is made by the first test
// that needs it and deleted when the tests are over, before the exit handlers take Qt's own state
// away (a QApplication left to them crashes the program on its way out).
class ApplicationEnvironment final : public ::testing::Environment {
 public:
  static QApplication& Get() {
    if (app_ == nullptr) {
      static int argc = 1;
      static char name[] = "screens_test";
      static char* argv[] = {name, nullptr};
      PreviousMessageHandler() = qInstallMessageHandler(QuietSizeHintWarnings);
      app_ = new QApplication(argc, argv);
      QApplication::setFont(qt::ScreenFont());
    }
    return *app_;
  }
  void TearDown() override {
    delete app_;
    app_ = nullptr;
  }

 private:
  static inline QApplication* app_ = nullptr;
};

inline ::testing::Environment* const kApplicationEnvironment =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

inline QApplication& Application() {
  return ApplicationEnvironment::Get();
}

// A sample account set in a temporary folder (which also takes Compare.txt), opened as the host
// would hand it over.
struct SampleAccountSet {
  explicit SampleAccountSet(sample::FaultSet faults, std::int64_t scale = 600) {
    sample::SampleOptions options;
    options.path = dir / "host.db";
    options.owner = "tallyvet";
    options.scale = scale;
    options.faults = faults;
    manifest = sample::CreateSample(options);
    ctx.connection = db::SqliteConnection::Open(options.path, options.owner);
    ctx.user = options.owner;
  }
  std::filesystem::path Folder() const { return dir.path(); }
  // How many ledger differences the planted faults must produce.
  int PlantedLedgerFindings() const {
    int n = 0;
    for (const auto& fault : manifest["ledger_faults"])
      n += static_cast<int>(fault["findings"].size());
    return n;
  }

  testing::TempDir dir;
  nlohmann::json manifest;
  HostContext ctx;
};

class ScriptedMessages final : public MessageBox {
 public:
  struct Message {
    std::string text, title;
    MessageIcon icon;
  };
  void Show(const std::string& text, const std::string& title, MessageIcon icon) override {
    shown.push_back({text, title, icon});
  }
  bool AskYesNo(const std::string& text, const std::string& title) override {
    shown.push_back({text, title, MessageIcon::Question});
    if (answers.empty()) {
      ADD_FAILURE() << "unplanned question: " << text;
      return false;
    }
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
  }
  // The text of the last message, or empty.
  std::string LastText() const { return shown.empty() ? std::string() : shown.back().text; }

  std::vector<Message> shown;
  std::deque<bool> answers;
};

// Each screen that opens modally takes the next step, shown but without a loop of its own; a step
// ends by closing its screen as the user would.
class ScriptedDisplay {
 public:
  using Step = std::function<void(QDialog&)>;
  ScriptedDisplay& Then(std::string screen, Step step) {
    steps_.push_back({std::move(screen), std::move(step)});
    return *this;
  }
  qt::ModalDisplay Display() {
    return [this](QDialog& dialog) { Show(dialog); };
  }
  std::size_t Pending() const { return steps_.size(); }
  // Names of the screens shown, in order.
  const std::vector<std::string>& Shown() const { return shown_; }

 private:
  void Show(QDialog& dialog) {
    const std::string name = dialog.objectName().toStdString();
    shown_.push_back(name);
    if (steps_.empty()) {
      ADD_FAILURE() << "unplanned screen " << name;
      dialog.done(QDialog::Rejected);
      return;
    }
    auto [expected, step] = std::move(steps_.front());
    steps_.pop_front();
    EXPECT_EQ(name, expected);
    dialog.show();
    QCoreApplication::processEvents();
    step(dialog);
    if (dialog.isVisible()) {
      ADD_FAILURE() << name << " was left open by its step";
      dialog.done(QDialog::Rejected);
    }
  }
  std::deque<std::pair<std::string, Step>> steps_;
  std::vector<std::string> shown_;
};

// The control of `dialog` named `name` (its control name, e.g. "cmdRpt(0)").
template <typename W>
W& Control(QWidget& dialog, const QString& name) {
  W* widget = dialog.findChild<W*>(name);
  if (widget == nullptr) throw std::runtime_error("no control " + name.toStdString());
  return *widget;
}

// What a grid view shows in grid row `row` (1 = first data row) and column `col`.
inline std::string Cell(QTableView& view, int row, int col) {
  return view.model()->index(row - 1, col).data().toString().toStdString();
}
inline int DataRows(QTableView& view) {
  return view.model()->rowCount();
}

// A mouse click on a grid cell, scrolled into view first.
inline void ClickCell(QTableView& view, int row, int col) {
  const QModelIndex index = view.model()->index(row - 1, col);
  view.scrollTo(index);
  const QRect cell = view.visualRect(index);
  ASSERT_TRUE(cell.isValid()) << "cell " << row << "," << col << " not shown";
  QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
}

// Fails the test when a window of the screens is still around.
inline void ExpectNoWindowLeft() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    ADD_FAILURE() << "window left behind: " << widget->metaObject()->className() << " "
                  << widget->objectName().toStdString() << " "
                  << widget->windowTitle().toStdString();
  }
}

class ScreenTest : public ::testing::Test {
 protected:
  void SetUp() override { Application(); }
  void TearDown() override {
    QCoreApplication::processEvents();
    ExpectNoWindowLeft();
  }
};

}  // namespace tallyvet::screens_test
