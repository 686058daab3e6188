// FrmCompare, frmReport and frmDetailList driven as a user would: the lists and their range
// kinds, validation, a clean run, a run that ends on the report screen, marks, "全选", the
// document detail and the registration of corrections. And the screenshots of these screens and of
// the report viewer, in the CJK font the set-up installs, for a person to look at.
#include <QCheckBox>
#include <QComboBox>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "db/value.h"
#include "reconcile_ui/view/compare_view.h"
#include "screen_script.h"
#include "shell/notepad/text_viewer.h"
#include "shell/qt/twips.h"

namespace tallyvet::screens_test {
namespace {

// The controls of the launcher and the report screen, by their control names.
struct Screen {
  QDialog& d;
  QComboBox& List(int i) { return Control<QComboBox>(d, "cboPeriod", i); }
  QPushButton& Sel(int i) { return Control<QPushButton>(d, "cmdSel", i); }
  QPushButton& Rpt(int i) { return Control<QPushButton>(d, "cmdRpt", i); }
  void Click(const char* name, int i) { Control<QAbstractButton>(d, name, i).click(); }
  std::string Text(const char* name) { return Control<QLabel>(d, name).text().toStdString(); }
  // The launcher's height, start caption, whether it takes clicks, whether the bar shows.
  std::string LauncherState() {
    return std::to_string(d.height()) + " " + Sel(0).text().toStdString() +
           (Sel(0).isEnabled() ? " enabled" : "") +
           (Control(d, "ProgressBar1").isVisibleTo(&d) ? " bar" : "");
  }
  // The report's grid shown, then the buttons that take clicks: "detail 0123", "summary 2".
  std::string ReportState() {
    std::string state = Control(d, "grdDiff").isVisible() ? "detail " : "";
    if (Control(d, "grdTotal").isVisible()) state += "summary ";
    for (int i = 0; i < 5; ++i) state += Rpt(i).isEnabled() ? std::to_string(i) : "";
    return state;
  }
  // Every period of the year, every item ticked, started.
  void StartFullYearRun() {
    List(2).setCurrentIndex(0);
    List(0).setCurrentIndex(0);
    List(1).setCurrentIndex(List(1).count() - 1);
    for (int i = 0; i < 6; ++i) Control<QCheckBox>(d, "chkItem", i).setChecked(true);
    Sel(0).click();
  }
};

// The launcher run as the component runs it, on a fixed day, through the scripted display.
class ReconcileScreens : public ScreenTest {
 protected:
  void Run(SampleAccountSet& sample) {
    const CompareViewOptions options{
        display.Display(), [this](const std::filesystem::path& path) { opened.push_back(path); },
        [] { return std::chrono::year{2025} / 6 / 15; },
        // As an installed component run by a user who cannot write its folder.
        ReportFolderNote({sample.dir.path(), false}, sample.dir.path().parent_path().c_str()),
        [this](const std::filesystem::path& page) { pages.push_back(page); }};
    RunCompare(sample.ctx, messages, ReportFile(sample.dir.path()), options);
    EXPECT_EQ(display.Pending(), 0u);
  }
  ScriptedMessages messages;
  ScriptedDisplay display;
  std::vector<std::filesystem::path> opened;  // what "查看对账报告" opened
  std::vector<std::filesystem::path> pages;   // what "查看图表报告" showed
};

int ItemOf(const GridView& grid, int row) {
  return std::stoi(grid.Cell(row, 0));
}
// Column 9 of every row; with `toggled`, as "全选" must leave it: every row of items 1 to 5 turned.
std::vector<std::string> Marks(const GridView& grid, bool toggled = false) {
  std::vector<std::string> marks;
  for (int row = 1; row <= grid.Rows(); ++row) {
    const std::string mark = grid.Cell(row, 9);
    marks.push_back(!toggled || ItemOf(grid, row) == 6 ? mark : mark.empty() ? "√" : "");
  }
  return marks;
}
// The first row that `wanted` accepts, or the last row.
int RowWhere(const GridView& grid, const std::function<bool(int row)>& wanted) {
  int row = 1;
  while (row < grid.Rows() && !wanted(row)) ++row;
  return row;
}

TEST_F(ReconcileScreens, LauncherListsRangeKindsValidationAndACleanRun) {
  SampleAccountSet sample(sample::FaultSet::kNone);
  const std::string resting = std::to_string(qt::ClientHeightPx(5070));
  std::string running;
  display.Then("FrmCompare", [&](QDialog& d) {
    Screen s{d};
    EXPECT_EQ(d.windowTitle().toStdString() + s.Text("lblUser(0)") + s.Text("lblUser(1)"),
              "对账用户名：tallyvet账套名：样例账套");
    EXPECT_EQ(s.List(0).count() + s.List(1).count() + s.List(2).count(), 13 + 13 + 3);
    QString shown = s.List(0).itemText(0) + s.List(1).itemText(12) + s.List(2).itemText(2);
    for (int i = 0; i < 3; ++i) shown += "|" + s.List(i).currentText();
    EXPECT_EQ(shown.toStdString(), "期初2025.12本周|2025.06|2025.06|期间") << "this month";
    EXPECT_EQ(s.LauncherState(), resting + " 开始对账 enabled");

    // Range kinds: the period lists take input only for "期间", and keep their choice.
    s.List(2).setCurrentIndex(1);
    EXPECT_FALSE(s.List(0).isEnabled() || s.List(1).isEnabled());
    s.List(2).setCurrentIndex(2);
    EXPECT_FALSE(s.List(0).isEnabled() || s.List(1).isEnabled());
    s.List(2).setCurrentIndex(0);
    EXPECT_TRUE(s.List(0).isEnabled() && s.List(1).isEnabled());
    EXPECT_EQ(s.List(0).currentText().toStdString(), "2025.06");

    // Nothing ticked; then start after end, for "本周" too and with nothing ticked: only the
    // period message.
    s.Sel(0).click();
    s.List(0).setCurrentIndex(12);
    s.List(1).setCurrentIndex(1);
    s.List(2).setCurrentIndex(2);
    s.Sel(0).click();
    EXPECT_EQ(messages.said,
              (std::vector<std::string>{"警告 [e] 请选择对账项目!",
                                        "警告 [e] 开始对账期间不能大于截止对账期间!"}));
    s.Sel(2).click();  // no report yet: nothing to open
    EXPECT_TRUE(opened.empty());

    OnProgress(d, 0, [&] { running = s.LauncherState(); });
    s.StartFullYearRun();
    EXPECT_EQ(running, std::to_string(qt::ClientHeightPx(5760)) + " 对账...... bar");
    EXPECT_EQ(messages.said.back(), "对账 [i] 账套内数据正确!");
    EXPECT_EQ(s.LauncherState(), resting + " 开始对账 enabled");
    for (int i = 0; i < 6; ++i)
      EXPECT_EQ(Control(d, "chkItem", i).palette().color(QPalette::WindowText), Qt::black);
    s.Sel(2).click();
    EXPECT_EQ(opened, std::vector<std::filesystem::path>{sample.dir / "Compare.txt"});
    s.Sel(1).click();
  });
  Run(sample);  // only the launcher is planned: a report screen would fail the test
}

// Also the screenshot test: each screen is photographed with the sample's data on the way (and
// frmCheckActivity by its own test).
TEST_F(ReconcileScreens, FaultedRunEndsOnTheReportScreenWithMarksDetailRegistrationScreenshots) {
  // The Chinese captions need a font that has them; the set-up installs one.
  const QFontMetrics metrics(qt::ScreenFont());
  ASSERT_TRUE(metrics.inFontUcs4(U'对') && metrics.inFontUcs4(U'账'))
      << "no CJK font: " << QFontInfo(qt::ScreenFont()).family().toStdString();
  SampleAccountSet sample(sample::FaultSet::kLedgers);
  int planted = 0;
  for (const auto& fault : sample.manifest["ledger_faults"]) planted += fault["findings"].size();
  double listed = 0;  // the documents' sum in the detail list
  int listedRows = 0;
  std::string cause;   // the selected row's cause, as the report screen shows it
  int markedRows = 0;  // documents the cause names, marked in the detail list
  display
      .Then("FrmCompare",
            [&](QDialog& d) {
              Screen s{d};
              s.List(2).setCurrentIndex(1);  // "本日" and back: the label still shows the periods
              for (int i : {0, 1, 3}) s.Click("chkItem", i);
              Screenshot(d, "FrmCompare");
              OnProgress(d, 20, [&] { Screenshot(d, "FrmCompare-running"); });
              s.StartFullYearRun();
              s.Sel(1).click();
            })
      .Then("frmReport",
            [&](QDialog& d) {
              Screen s{d};
              const GridView diff = GridView::Of(d, "grdDiff");
              EXPECT_EQ(d.windowTitle().toStdString(), "对账报告");
              EXPECT_EQ(s.Text("lblUser") + " " + s.Text("lblDate"),
                        "用户名：tallyvet 账套名：样例账套 期间:期初—2025.12");
              ASSERT_GT(planted, 0);
              ASSERT_EQ(diff.Rows(), planted);
              for (int col = 0; col <= 3; ++col) EXPECT_TRUE(diff.view.isColumnHidden(col)) << col;
              EXPECT_EQ(diff.Header(4) + "|" + diff.Header(9), "明细项目|调整");
              EXPECT_EQ(s.ReportState(), "detail 01234");
              s.Click("Option1", 0);  // the summary view: only "退出" and the page act
              Screenshot(d, "frmReport-summary");
              EXPECT_EQ(s.ReportState(), "summary 24");
              s.Rpt(4).click();  // the run's page, written beside the report and shown
              ASSERT_EQ(pages.size(), 1u);
              EXPECT_EQ(pages[0], sample.dir / "Compare.html");
              std::ifstream page(pages[0]);
              const std::string html{std::istreambuf_iterator<char>(page), {}};
              EXPECT_NE(html.find("id=\"chart-1\""), std::string::npos);
              EXPECT_EQ(GridView::Of(d, "grdTotal").Cell(1, 4), "检查存货账");
              s.Click("Option1", 1);
              EXPECT_EQ(s.ReportState(), "detail 01234");

              // Marks: a click on column 9 of a markable row toggles it; elsewhere nothing.
              const int first = RowWhere(diff, [&](int r) { return ItemOf(diff, r) == 1; });
              const int voucher = RowWhere(diff, [&](int r) { return ItemOf(diff, r) == 6; });
              diff.Click(first, 9);
              diff.Click(first, 5);
              diff.Click(voucher, 9);
              EXPECT_EQ(diff.Cell(first, 9) + "|" + diff.Cell(voucher, 9), "√|");
              const auto before = Marks(diff), toggled = Marks(diff, true);
              s.Rpt(3).click();
              EXPECT_EQ(Marks(diff), toggled);
              s.Rpt(3).click();
              EXPECT_EQ(Marks(diff), before);

              // The documents behind a row of items 1 to 3 whose recomputed value is not 0.
              const int row = RowWhere(
                  diff, [&](int r) { return ItemOf(diff, r) <= 3 && diff.Cell(r, 7) != "0"; });
              diff.Click(row, 4);
              cause = s.Text("lblCause");
              Screenshot(d, "frmReport");
              s.Rpt(1).click();
              EXPECT_NEAR(listed, db::Value(diff.Cell(row, 7)).AsDouble(), 0.005)
                  << "the listed documents add up to the recomputed value";

              // Registration answered No changes nothing, not even the marks; then Yes.
              diff.Click(first, 9);
              s.Rpt(3).click();
              const auto marked = Marks(diff);
              for (int r = 1; r <= diff.Rows(); ++r)
                EXPECT_EQ(marked[r - 1].empty(), ItemOf(diff, r) == 6);
              const std::string amount = diff.Cell(first, 8);
              messages.answers = {false, true};
              s.Rpt(0).click();
              EXPECT_EQ(messages.said.back(),
                        "对账报告 [?] 已结账期间数据调整，建议在指定期间输入调整单据进行调整！"
                        "\r\n未结账期间可通过本程序自动调整差额。");
              EXPECT_EQ(Marks(diff), marked);
              EXPECT_EQ(diff.Cell(first, 8), amount);
              s.Rpt(0).click();
              EXPECT_EQ(messages.said.back(), "对账报告 [i] 登记完毕!");
              // Registered rows show the recomputed figure and no mark; item 6 keeps its
              // difference.
              EXPECT_EQ(
                  diff.Cell(first, 6) + "|" + diff.Cell(first, 8) + "|" + Marks(diff)[first - 1],
                  diff.Cell(first, 7) + "|0|");
              EXPECT_NE(diff.Cell(voucher, 8), "0");
              d.close();  // the close box leaves the report as "退出" does
            })
      .Then("frmDetailList", [&](QDialog& d) {
        Screenshot(d, "frmDetailList");
        EXPECT_EQ(d.windowTitle().toStdString(), "单据明细");
        const GridView list = GridView::Of(d, "grdList");
        EXPECT_EQ(list.Header(1), "单据类型");
        listedRows = list.Rows();
        for (int row = 1; row <= listedRows; ++row) {
          EXPECT_NE(list.Cell(row, 1).find_first_not_of("0123456789"), std::string::npos)
              << "the document type by its name";
          listed += db::Value(list.Cell(row, 3)).AsDouble();
          const QModelIndex cell = list.view.model()->index(row - 1, 0);
          if (list.view.model()->data(cell, Qt::BackgroundRole).isValid()) ++markedRows;
        }
        Control<QPushButton>(d, "cmdClose").click();
      });
  Run(sample);
  EXPECT_GT(listedRows, 0);
  // A planted fault is either a document the ledger lacks (the list marks it) or a hand edit.
  EXPECT_EQ(cause.rfind("原因：", 0), 0u) << cause;
  if (cause.find("单据未记账") != std::string::npos) {
    EXPECT_GT(markedRows, 0) << cause;
  } else {
    EXPECT_NE(cause.find("原因不明"), std::string::npos) << cause;
    EXPECT_EQ(markedRows, 0);
  }

  // "查看对账报告" shows the GBK report read-only, its Chinese text and line ends as written.
  auto viewer = notepad::OpenTextViewer(sample.dir / "Compare.txt");
  EXPECT_TRUE(viewer->isReadOnly());
  EXPECT_EQ(viewer->windowTitle().toStdString(), "Compare.txt");
  const QString shown = viewer->toPlainText();
  EXPECT_TRUE(shown.contains(QStringLiteral("差额明细（")) &&
              shown.endsWith(QStringLiteral("对账完毕！\n\n")) &&
              !shown.contains(QLatin1Char('\r')))
      << shown.toStdString();
  viewer->resize(900, 600);
  viewer->show();
  Screenshot(*viewer, "tallyvet-notepad");
  EXPECT_THROW(notepad::OpenTextViewer(sample.dir / "absent.txt"), std::system_error);
}

}  // namespace
}  // namespace tallyvet::screens_test
