// frmCheckActivity driven as a user would: check, clear and restore the marks, adjust, close.
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <set>

#include "receipt_audit/view/check_activity_view.h"
#include "screen_script.h"
#include "shell/qt/twips.h"

namespace tallyvet::screens_test {
namespace {

using receipt_audit::RunCheckActivity;

QPushButton& Button(QDialog& d, int index) {
  return Control<QPushButton>(d, QStringLiteral("cmdRpt(%1)").arg(index));
}
QTableView& Grid(QDialog& d) {
  return Control<QTableView>(d, QStringLiteral("MSFlexGrid1"));
}

// The state of the screen while work runs, caught at its first progress step.
struct RunningState {
  bool seen = false;
  int height = 0;
  bool notesShown = false;
  bool buttonEnabled = true;
  bool hourglass = false;
};

void WatchRunningState(QDialog& d, RunningState& state) {
  auto& bar = Control<QProgressBar>(d, QStringLiteral("ProgressBar1"));
  QObject::connect(&bar, &QProgressBar::valueChanged, &d, [&d, &state] {
    if (state.seen) return;
    state.seen = true;
    state.height = d.height();
    state.notesShown = Control<QLabel>(d, QStringLiteral("lblNotes")).isVisibleTo(&d);
    state.buttonEnabled = Button(d, 0).isEnabled();
    state.hourglass = d.cursor().shape() == Qt::WaitCursor;
  });
}

std::set<std::string> MarksIn(QTableView& grid) {
  std::set<std::string> marks;
  for (int row = 1; row <= DataRows(grid); ++row) marks.insert(Cell(grid, row, 6));
  return marks;
}

TEST_F(ScreenTest, CheckScreenCaptionsFollowTheCheckAndTheAdjustment) {
  SampleAccountSet sample(sample::FaultSet::kReceipts);
  const int planted = static_cast<int>(sample.manifest["receipt_faults"].size());
  ASSERT_GT(planted, 0);
  ScriptedMessages messages;
  ScriptedDisplay display;
  RunningState checking, adjusting;
  display.Then("frmCheckActivity", [&](QDialog& d) {
    EXPECT_EQ(d.windowTitle().toStdString(), "单据成本与平均成本检查");
    EXPECT_EQ(d.height(), qt::ClientHeightPx(6540));
    EXPECT_EQ(d.width(), qt::Px(10155));
    EXPECT_EQ(Button(d, 0).text().toStdString(), "开始检查");
    EXPECT_EQ(Button(d, 1).text().toStdString(), "退出");
    EXPECT_EQ(Button(d, 2).text().toStdString(), "全选");
    const std::string user = Control<QLabel>(d, QStringLiteral("lblUser")).text().toStdString();
    EXPECT_EQ(user.rfind("用户名:tallyvet    账套名:", 0), 0u) << user;
    QTableView& grid = Grid(d);
    EXPECT_EQ(grid.model()->headerData(2, Qt::Horizontal).toString().toStdString(), "项目");
    EXPECT_EQ(grid.model()->headerData(6, Qt::Horizontal).toString().toStdString(), "调整");
    // Before any check "全选" finds no keyed row and changes nothing.
    Button(d, 2).click();
    EXPECT_EQ(MarksIn(grid), std::set<std::string>{""});

    WatchRunningState(d, checking);
    Button(d, 0).click();
    EXPECT_TRUE(checking.seen);
    EXPECT_EQ(checking.height, qt::ClientHeightPx(7110));
    EXPECT_TRUE(checking.notesShown);
    EXPECT_FALSE(checking.buttonEnabled);
    EXPECT_TRUE(checking.hourglass);
    EXPECT_EQ(Button(d, 0).text().toStdString(), "开始调整");
    EXPECT_TRUE(Button(d, 0).isEnabled());
    EXPECT_EQ(d.height(), qt::ClientHeightPx(6540));
    EXPECT_NE(d.cursor().shape(), Qt::WaitCursor);
    ASSERT_EQ(DataRows(grid), planted);
    EXPECT_TRUE(grid.isColumnHidden(0)) << "the row's key";
    EXPECT_EQ(MarksIn(grid), std::set<std::string>{"√"});
    EXPECT_EQ(Cell(grid, 1, 2).rfind("日期=", 0), 0u);
    EXPECT_NE(Cell(grid, 1, 2).find("\n货位="), std::string::npos)
        << "five lines, CR LF shown as breaks";
    EXPECT_GE(grid.rowHeight(0), 5 * QFontMetrics(grid.font()).lineSpacing()) << "five lines";

    Button(d, 2).click();
    EXPECT_EQ(MarksIn(grid), std::set<std::string>{""});
    Button(d, 2).click();
    EXPECT_EQ(MarksIn(grid), std::set<std::string>{"√"});

    adjusting = RunningState{};
    WatchRunningState(d, adjusting);
    Button(d, 0).click();
    EXPECT_TRUE(adjusting.seen);
    EXPECT_EQ(adjusting.height, qt::ClientHeightPx(7110));
    EXPECT_EQ(Button(d, 0).text().toStdString(), "开整完毕");
    EXPECT_FALSE(Button(d, 0).isEnabled());
    // Every planted line was written back: no mark and no "错误" is left.
    EXPECT_EQ(MarksIn(grid), std::set<std::string>{""});
    // After "开整完毕" the workflow button does nothing; "全选" still toggles.
    Button(d, 0).click();
    EXPECT_EQ(Button(d, 0).text().toStdString(), "开整完毕");
    Button(d, 2).click();
    EXPECT_EQ(MarksIn(grid), std::set<std::string>{"√"});
    Button(d, 1).click();
  });
  RunCheckActivity(sample.ctx, messages, display.Display());
  EXPECT_EQ(display.Pending(), 0u);
  EXPECT_TRUE(messages.shown.empty()) << messages.LastText();
}

TEST_F(ScreenTest, EveryRunShowsAFreshCheckScreen) {
  SampleAccountSet sample(sample::FaultSet::kReceipts);
  ScriptedMessages messages;
  ScriptedDisplay display;
  display
      .Then("frmCheckActivity",
            [&](QDialog& d) {
              Button(d, 0).click();
              ASSERT_EQ(Button(d, 0).text().toStdString(), "开始调整");
              ASSERT_GT(DataRows(Grid(d)), 1);
              // The close box ends the screen as "退出" does.
              d.close();
            })
      .Then("frmCheckActivity", [&](QDialog& d) {
        EXPECT_EQ(Button(d, 0).text().toStdString(), "开始检查");
        EXPECT_TRUE(Button(d, 0).isEnabled());
        EXPECT_EQ(DataRows(Grid(d)), 1) << "only the designed empty row";
        EXPECT_EQ(Cell(Grid(d), 1, 1), "");
        Button(d, 1).click();
      });
  RunCheckActivity(sample.ctx, messages, display.Display());
  // The first screen released the dictionary when it closed; the second builds it again.
  RunCheckActivity(sample.ctx, messages, display.Display());
  EXPECT_EQ(display.Pending(), 0u);
  EXPECT_EQ(display.Shown().size(), 2u);
}

}  // namespace
}  // namespace tallyvet::screens_test
