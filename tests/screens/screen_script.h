// Driving the Qt screens as a user would, offscreen: a sample account set to work on, message
// boxes that record what they were asked and answer from a script, and a modal display that runs
// a scripted step on each screen as it opens instead of waiting in the dialog's own loop.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QProgressBar>
#include <QTableView>
#include <QTest>

#include <deque>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
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

// The one application of the test program, in the screens' font, deleted when the tests are over
// and before the exit handlers take Qt's own state away (a QApplication left to them crashes the
// program on its way out).
class ApplicationEnvironment final : public ::testing::Environment {
 public:
  void SetUp() override {
    // The offscreen platform cannot fix a window's size hints and says so for every fixed-size
    // dialog; everything else Qt reports goes through.
    previous_ = qInstallMessageHandler(
        [](QtMsgType type, const QMessageLogContext& context, const QString& message) {
          if (!message.contains(QStringLiteral("propagateSizeHints")))
            previous_(type, context, message);
        });
    app_ = std::make_unique<QApplication>(argc_, argv_);
    QApplication::setFont(qt::ScreenFont());
  }
  void TearDown() override { app_.reset(); }

 private:
  static inline QtMessageHandler previous_ = nullptr;
  static inline int argc_ = 1;
  static inline char name_[] = "screens_test";
  static inline char* argv_[] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};

inline ::testing::Environment* const kApplicationEnvironment =
    ::testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

// A sample account set in a temporary folder (which also takes Compare.txt), opened as the host
// would hand it over.
struct SampleAccountSet {
  explicit SampleAccountSet(sample::FaultSet faults, std::int64_t scale = 600)
      : manifest(sample::CreateSample(
            {.path = dir / "host.db", .owner = "tallyvet", .scale = scale, .faults = faults})) {
    ctx.connection = db::SqliteConnection::Open(dir / "host.db", "tallyvet");
    ctx.user = "tallyvet";
  }
  testing::TempDir dir;
  nlohmann::json manifest;
  HostContext ctx;
};

// Records what the screens say, one entry per message or question: "title [icon] text", the icon
// one of i w e ? (information, warning, error, question). Questions are answered from `answers`;
// an unplanned question fails the test.
class ScriptedMessages final : public MessageBox {
 public:
  void Show(const std::string& text, const std::string& title, MessageIcon icon) override {
    said.push_back(title + " [" + "iwe?"[static_cast<int>(icon)] + "] " + text);
  }
  bool AskYesNo(const std::string& text, const std::string& title) override {
    Show(text, title, MessageIcon::Question);
    if (answers.empty()) ADD_FAILURE() << "unplanned question: " << text;
    const bool yes = !answers.empty() && answers.front();
    if (!answers.empty()) answers.pop_front();
    return yes;
  }
  std::vector<std::string> said;
  std::deque<bool> answers;
};

// Each screen that opens modally takes the next step, shown but without a loop of its own; a step
// ends by closing its screen as the user would.
class ScriptedDisplay {
 public:
  ScriptedDisplay& Then(std::string screen, std::function<void(QDialog&)> step) {
    steps_.push_back({std::move(screen), std::move(step)});
    return *this;
  }
  qt::ModalDisplay Display() {
    return [this](QDialog& dialog) {
      ASSERT_FALSE(steps_.empty()) << "unplanned screen " << dialog.objectName().toStdString();
      auto [expected, step] = std::move(steps_.front());
      steps_.pop_front();
      EXPECT_EQ(dialog.objectName().toStdString(), expected);
      dialog.show();
      QCoreApplication::processEvents();
      step(dialog);
      EXPECT_FALSE(dialog.isVisible()) << expected << " was left open by its step";
      if (dialog.isVisible()) dialog.done(QDialog::Rejected);
    };
  }
  std::size_t Pending() const { return steps_.size(); }

 private:
  std::deque<std::pair<std::string, std::function<void(QDialog&)>>> steps_;
};

// The control of `dialog` named `name`, or `name`(`index`) in a control array.
template <typename W = QWidget>
W& Control(QWidget& dialog, const char* name, int index = -1) {
  const QString full =
      index < 0 ? QString::fromUtf8(name) : QStringLiteral("%1(%2)").arg(name).arg(index);
  W* widget = dialog.findChild<W*>(full);
  if (widget == nullptr) throw std::runtime_error("no control " + full.toStdString());
  return *widget;
}

// Runs `seen` once, at the first step of ProgressBar1 to at least `atLeast`: the screen's state
// while its work runs.
inline void OnProgress(QDialog& d, int atLeast, std::function<void()> seen) {
  QObject::connect(&Control<QProgressBar>(d, "ProgressBar1"), &QProgressBar::valueChanged, &d,
                   [atLeast, seen = std::move(seen), done = false](int value) mutable {
                     if (value >= atLeast && !std::exchange(done, true)) seen();
                   });
}

// A PNG of `widget` in the screenshot folder of the build, for a person to look at.
inline void Screenshot(QWidget& widget, const QString& name) {
  QCoreApplication::processEvents();
  const QString file = QStringLiteral(TALLYVET_SCREENSHOT_DIR "/") + name + ".png";
  ASSERT_TRUE(QDir().mkpath(QStringLiteral(TALLYVET_SCREENSHOT_DIR)));
  ASSERT_TRUE(widget.grab().save(file)) << file.toStdString();
  EXPECT_GT(QFileInfo(file).size(), 2000) << file.toStdString();
}

// A grid view as a user reads and clicks it; row 1 is the first data row.
struct GridView {
  QTableView& view;
  int Rows() const { return view.model()->rowCount(); }
  std::string Cell(int row, int col) const {
    return Text(view.model()->index(row - 1, col).data());
  }
  std::string Header(int col) const { return Text(view.model()->headerData(col, Qt::Horizontal)); }
  static std::string Text(const QVariant& v) { return v.toString().toStdString(); }
  static GridView Of(QDialog& d, const char* name) { return {Control<QTableView>(d, name)}; }
  // A mouse click on a cell, scrolled into view first.
  void Click(int row, int col) const {
    const QModelIndex index = view.model()->index(row - 1, col);
    view.scrollTo(index);
    const QRect cell = view.visualRect(index);
    ASSERT_TRUE(cell.isValid()) << "cell " << row << "," << col << " not shown";
    QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
  }
};

// Every test ends with no window of the screens left behind.
class ScreenTest : public ::testing::Test {
 protected:
  void TearDown() override {
    QCoreApplication::processEvents();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      ADD_FAILURE() << "window left behind: " << widget->metaObject()->className() << " "
                    << widget->objectName().toStdString();
    }
  }
};

}  // namespace tallyvet::screens_test
