// frmCheckActivity driven as a user would: check, clear and restore the marks, adjust, close; and
// the next RUN showing a fresh screen. Its screenshots are taken on the way.
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>

#include <set>

#include "receipt_audit/view/check_activity_view.h"
#include "screen_script.h"
#include "shell/qt/twips.h"

namespace tallyvet::screens_test {
namespace {

// The check screen's controls, by their control names.
struct CheckScreen {
  QDialog& d;
  QPushButton& Button(int index) { return Control<QPushButton>(d, "cmdRpt", index); }
  GridView Grid() { return GridView::Of(d, "MSFlexGrid1"); }
  std::string Captions() {
    return (Button(0).text() + "|" + Button(1).text() + "|" + Button(2).text()).toStdString();
  }
  // The height, whether the workflow button takes clicks, whether the pointer is the hourglass.
  std::string State() {
    return std::to_string(d.height()) + (Button(0).isEnabled() ? " enabled" : "") +
           (d.cursor().shape() == Qt::WaitCursor ? " hourglass" : "");
  }
  std::set<std::string> Marks() {
    std::set<std::string> marks;
    for (int row = 1; row <= Grid().Rows(); ++row) marks.insert(Grid().Cell(row, 6));
    return marks;
  }
};

TEST_F(ScreenTest, CheckScreenCaptionsFollowTheCheckAndTheAdjustmentAndEveryRunIsFresh) {
  SampleAccountSet sample(sample::FaultSet::kReceipts);
  const int planted = static_cast<int>(sample.manifest["receipt_faults"].size());
  ASSERT_GT(planted, 0);
  const std::string resting = std::to_string(qt::ClientHeightPx(6540));
  const std::string working = std::to_string(qt::ClientHeightPx(7110));
  const std::set<std::string> none{""}, all{"√"};
  ScriptedMessages messages;
  ScriptedDisplay display;
  std::string checking, adjusting;
  display
      .Then(
          "frmCheckActivity",
          [&](QDialog& d) {
            CheckScreen s{d};
            const GridView grid = s.Grid();
            Screenshot(d, "frmCheckActivity-loaded");
            EXPECT_EQ(d.windowTitle().toStdString(), "单据成本与平均成本检查");
            EXPECT_EQ(d.width(), qt::Px(10155));
            EXPECT_EQ(s.Captions() + " " + s.State(), "开始检查|退出|全选 " + resting + " enabled");
            EXPECT_TRUE(
                Control<QLabel>(d, "lblUser").text().startsWith("用户名:tallyvet    账套名:"));
            EXPECT_EQ(grid.Header(2) + "|" + grid.Header(6), "项目|调整");
            s.Button(2).click();  // before any check "全选" finds no keyed row
            EXPECT_EQ(s.Marks(), none);

            OnProgress(d, 0, [&] {
              checking = s.State() + (Control(d, "lblNotes").isVisibleTo(&d) ? " notes" : "");
              Screenshot(d, "frmCheckActivity-checking");
            });
            s.Button(0).click();
            Screenshot(d, "frmCheckActivity-checked");
            EXPECT_EQ(checking, working + " hourglass notes");
            EXPECT_EQ(s.Captions() + " " + s.State(), "开始调整|退出|全选 " + resting + " enabled");
            ASSERT_EQ(grid.Rows(), planted);
            EXPECT_TRUE(grid.view.isColumnHidden(0)) << "the row's key";
            EXPECT_EQ(s.Marks(), all);
            // Five lines, CR LF shown as line breaks.
            EXPECT_EQ(grid.Cell(1, 2).rfind("日期=", 0), 0u);
            EXPECT_NE(grid.Cell(1, 2).find("\n货位="), std::string::npos);
            EXPECT_GE(grid.view.rowHeight(0), 5 * QFontMetrics(grid.view.font()).lineSpacing());
            s.Button(2).click();
            EXPECT_EQ(s.Marks(), none);
            s.Button(2).click();
            EXPECT_EQ(s.Marks(), all);

            OnProgress(d, 0, [&] { adjusting = std::to_string(d.height()); });
            s.Button(0).click();
            EXPECT_EQ(adjusting, working);
            EXPECT_EQ(s.Captions() + " " + s.State(), "开整完毕|退出|全选 " + resting);
            EXPECT_EQ(s.Marks(), none) << "every planted line written back, none kept \"错误\"";
            s.Button(2).click();  // still toggles
            EXPECT_EQ(s.Marks(), all);
            d.close();  // the close box ends the screen as "退出" does
          })
      .Then("frmCheckActivity", [&](QDialog& d) {
        CheckScreen s{d};
        EXPECT_EQ(s.Captions() + " " + s.State(), "开始检查|退出|全选 " + resting + " enabled");
        EXPECT_EQ(s.Grid().Rows(), 1) << "only the designed empty row";
        EXPECT_EQ(s.Grid().Cell(1, 1), "");
        s.Button(1).click();
      });
  receipt_audit::RunCheckActivity(sample.ctx, messages, display.Display());
  // The first screen released the dictionary when it closed; the second builds it again.
  receipt_audit::RunCheckActivity(sample.ctx, messages, display.Display());
  EXPECT_EQ(display.Pending(), 0u);
  EXPECT_TRUE(messages.said.empty()) << messages.said.front();
}

}  // namespace
}  // namespace tallyvet::screens_test
