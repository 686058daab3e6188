// FrmCompare, frmReport and frmDetailList driven as a user would: the lists and their range
// kinds, validation, a clean run, a run that ends on the report screen, marks, "全选", the
// document detail and the registration of corrections.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>

#include <cctype>
#include <cmath>
#include <memory>

#include "db/value.h"
#include "reconcile_ui/view/compare_view.h"
#include "screen_script.h"
#include "shell/qt/twips.h"

namespace tallyvet::screens_test {
namespace {

QComboBox& List(QDialog& d, int index) {
  return Control<QComboBox>(d, QStringLiteral("cboPeriod(%1)").arg(index));
}
QCheckBox& Item(QDialog& d, int index) {
  return Control<QCheckBox>(d, QStringLiteral("chkItem(%1)").arg(index));
}
QPushButton& Sel(QDialog& d, int index) {
  return Control<QPushButton>(d, QStringLiteral("cmdSel(%1)").arg(index));
}
QPushButton& Rpt(QDialog& d, int index) {
  return Control<QPushButton>(d, QStringLiteral("cmdRpt(%1)").arg(index));
}
QTableView& Diff(QDialog& d) {
  return Control<QTableView>(d, QStringLiteral("grdDiff"));
}
QTableView& Total(QDialog& d) {
  return Control<QTableView>(d, QStringLiteral("grdTotal"));
}
std::string Text(QWidget& d, const QString& name) {
  return Control<QLabel>(d, name).text().toStdString();
}

std::vector<std::string> Entries(QComboBox& box) {
  std::vector<std::string> entries;
  for (int i = 0; i < box.count(); ++i) entries.push_back(box.itemText(i).toStdString());
  return entries;
}

CompareViewOptions FixedDay(ScriptedDisplay& display, std::vector<std::filesystem::path>* opened) {
  CompareViewOptions options;
  options.show = display.Display();
  options.today = [] {
    return CivilDate{std::chrono::year{2025}, std::chrono::month{6}, std::chrono::day{15}};
  };
  options.openReport = [opened](const std::filesystem::path& path) {
    if (opened != nullptr) opened->push_back(path);
  };
  return options;
}

// Every period of the year, ticked items all, started.
void StartFullYearRun(QDialog& d) {
  List(d, 2).setCurrentIndex(0);
  List(d, 0).setCurrentIndex(0);
  List(d, 1).setCurrentIndex(List(d, 1).count() - 1);
  for (int i = 0; i < 6; ++i) {
    if (!Item(d, i).isChecked()) Item(d, i).click();
  }
  Sel(d, 0).click();
}

int ItemOf(QTableView& grid, int row) {
  return std::stoi(Cell(grid, row, 0));
}

// The first data row of `item`, or 0.
int FirstRowOf(QTableView& grid, int item) {
  for (int row = 1; row <= DataRows(grid); ++row) {
    if (ItemOf(grid, row) == item) return row;
  }
  return 0;
}

std::vector<std::string> MarkColumn(QTableView& grid) {
  std::vector<std::string> marks;
  for (int row = 1; row <= DataRows(grid); ++row) marks.push_back(Cell(grid, row, 9));
  return marks;
}

// What "全选" must leave: every markable row (item 1 to 5) toggled from `before`.
std::vector<std::string> Toggled(QTableView& grid, const std::vector<std::string>& before) {
  std::vector<std::string> after = before;
  for (int row = 1; row <= DataRows(grid); ++row) {
    const int item = ItemOf(grid, row);
    auto& mark = after[static_cast<std::size_t>(row - 1)];
    if (item > 0 && item != 6) mark = mark.empty() ? "√" : "";
  }
  return after;
}

TEST_F(ScreenTest, LauncherListsRangeKindsValidationAndACleanRun) {
  SampleAccountSet sample(sample::FaultSet::kNone);
  ScriptedMessages messages;
  ScriptedDisplay display;
  std::vector<std::filesystem::path> opened;
  struct {
    bool seen = false;
    std::string caption;
    bool enabled = true;
    int height = 0;
    bool barShown = false;
  } running;
  display.Then("FrmCompare", [&](QDialog& d) {
    EXPECT_EQ(d.windowTitle().toStdString(), "对账");
    EXPECT_EQ(Text(d, QStringLiteral("lblUser(0)")), "用户名：tallyvet");
    EXPECT_EQ(Text(d, QStringLiteral("lblUser(1)")).rfind("账套名：", 0), 0u);
    EXPECT_NE(Text(d, QStringLiteral("lblUser(1)")), "账套名：(未知)");
    std::vector<std::string> periods = {"期初"};
    for (int month = 1; month <= 12; ++month) {
      periods.push_back(month < 10 ? "2025.0" + std::to_string(month)
                                   : "2025." + std::to_string(month));
    }
    EXPECT_EQ(Entries(List(d, 0)), periods);
    EXPECT_EQ(Entries(List(d, 1)), periods);
    EXPECT_EQ(List(d, 0).currentText().toStdString(), "2025.06") << "the current month";
    EXPECT_EQ(List(d, 1).currentText().toStdString(), "2025.06");
    EXPECT_EQ(Entries(List(d, 2)), (std::vector<std::string>{"期间", "本日", "本周"}));
    EXPECT_EQ(List(d, 2).currentIndex(), 0);
    EXPECT_EQ(d.height(), qt::ClientHeightPx(5070));
    EXPECT_FALSE(Control<QProgressBar>(d, QStringLiteral("ProgressBar1")).isVisible());
    EXPECT_EQ(Item(d, 5).text().toStdString(), "检查总账与存货账");

    // Range kinds: the period lists take input only for "期间", and keep their choice.
    List(d, 2).setCurrentIndex(1);
    EXPECT_FALSE(List(d, 0).isEnabled());
    EXPECT_FALSE(List(d, 1).isEnabled());
    List(d, 2).setCurrentIndex(2);
    EXPECT_FALSE(List(d, 0).isEnabled());
    List(d, 2).setCurrentIndex(0);
    EXPECT_TRUE(List(d, 0).isEnabled());
    EXPECT_TRUE(List(d, 1).isEnabled());
    EXPECT_EQ(List(d, 0).currentText().toStdString(), "2025.06");

    // Nothing ticked.
    Sel(d, 0).click();
    ASSERT_EQ(messages.shown.size(), 1u);
    EXPECT_EQ(messages.shown[0].text, "请选择对账项目!");
    EXPECT_EQ(messages.shown[0].title, "警告");
    EXPECT_EQ(messages.shown[0].icon, MessageIcon::Error);
    // Start after end, also for "本周" and with nothing ticked: only the period message.
    List(d, 0).setCurrentIndex(12);
    List(d, 1).setCurrentIndex(1);
    List(d, 2).setCurrentIndex(2);
    Sel(d, 0).click();
    ASSERT_EQ(messages.shown.size(), 2u);
    EXPECT_EQ(messages.shown[1].text, "开始对账期间不能大于截止对账期间!");
    EXPECT_EQ(messages.shown[1].title, "警告");

    // No report yet: "查看对账报告" does nothing.
    Sel(d, 2).click();
    EXPECT_TRUE(opened.empty());

    auto& bar = Control<QProgressBar>(d, QStringLiteral("ProgressBar1"));
    QObject::connect(&bar, &QProgressBar::valueChanged, &d, [&] {
      if (running.seen) return;
      running.seen = true;
      running.caption = Sel(d, 0).text().toStdString();
      running.enabled = Sel(d, 0).isEnabled();
      running.height = d.height();
      running.barShown = bar.isVisibleTo(&d);
    });
    StartFullYearRun(d);
    EXPECT_TRUE(running.seen);
    EXPECT_EQ(running.caption, "对账......");
    EXPECT_FALSE(running.enabled);
    EXPECT_EQ(running.height, qt::ClientHeightPx(5760));
    EXPECT_TRUE(running.barShown);
    ASSERT_EQ(messages.shown.size(), 3u);
    EXPECT_EQ(messages.shown[2].text, "账套内数据正确!");
    EXPECT_EQ(messages.shown[2].title, "对账");
    EXPECT_EQ(messages.shown[2].icon, MessageIcon::Information);
    EXPECT_EQ(Sel(d, 0).text().toStdString(), "开始对账");
    EXPECT_TRUE(Sel(d, 0).isEnabled());
    EXPECT_EQ(d.height(), qt::ClientHeightPx(5070));
    EXPECT_FALSE(bar.isVisible());
    for (int i = 0; i < 6; ++i) {
      EXPECT_EQ(Item(d, i).palette().color(QPalette::WindowText), QColor(Qt::black));
    }

    Sel(d, 2).click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0], sample.Folder() / "Compare.txt");
    Sel(d, 1).click();
  });
  RunCompare(sample.ctx, messages, ReportFile(sample.Folder()), FixedDay(display, &opened));
  EXPECT_EQ(display.Pending(), 0u);
  EXPECT_EQ(display.Shown(), std::vector<std::string>{"FrmCompare"}) << "no report screen";
}

TEST_F(ScreenTest, FaultedRunEndsOnTheReportScreenWithMarksDetailAndRegistration) {
  SampleAccountSet sample(sample::FaultSet::kLedgers);
  const int planted = sample.PlantedLedgerFindings();
  ASSERT_GT(planted, 0);
  ScriptedMessages messages;
  ScriptedDisplay display;
  int detailRow = 0;
  double detailSum = 0;
  int detailRows = 0;
  display
      .Then("FrmCompare",
            [&](QDialog& d) {
              List(d, 2).setCurrentIndex(1);  // "本日": the label still shows the periods
              List(d, 2).setCurrentIndex(0);
              StartFullYearRun(d);
              // The report screen has closed; a second run finds only what registration cannot
              // reach (item 6, whose ledger is a voucher subquery).
              Sel(d, 0).click();
              Sel(d, 1).click();
            })
      .Then(
          "frmReport",
          [&](QDialog& d) {
            EXPECT_EQ(d.windowTitle().toStdString(), "对账报告");
            EXPECT_EQ(Text(d, QStringLiteral("lblUser")).rfind("用户名：tallyvet 账套名：", 0), 0u);
            EXPECT_EQ(Text(d, QStringLiteral("lblDate")), "期间:期初—2025.12");
            QTableView& diff = Diff(d);
            EXPECT_TRUE(diff.isVisible());
            EXPECT_FALSE(Total(d).isVisible());
            ASSERT_EQ(DataRows(diff), planted);
            for (int col = 0; col <= 3; ++col) EXPECT_TRUE(diff.isColumnHidden(col)) << col;
            EXPECT_EQ(diff.model()->headerData(4, Qt::Horizontal).toString().toStdString(),
                      "明细项目");
            EXPECT_EQ(diff.model()->headerData(9, Qt::Horizontal).toString().toStdString(), "调整");
            EXPECT_TRUE(Control<QRadioButton>(d, QStringLiteral("Option1(1)")).isChecked());

            // The summary view: only "退出" acts.
            Control<QRadioButton>(d, QStringLiteral("Option1(0)")).click();
            EXPECT_FALSE(diff.isVisible());
            EXPECT_TRUE(Total(d).isVisible());
            EXPECT_FALSE(Rpt(d, 0).isEnabled());
            EXPECT_FALSE(Rpt(d, 1).isEnabled());
            EXPECT_FALSE(Rpt(d, 3).isEnabled());
            EXPECT_TRUE(Rpt(d, 2).isEnabled());
            ASSERT_GT(DataRows(Total(d)), 0);
            EXPECT_EQ(Cell(Total(d), 1, 4), "检查存货账");
            Control<QRadioButton>(d, QStringLiteral("Option1(1)")).click();
            EXPECT_TRUE(diff.isVisible());
            EXPECT_TRUE(Rpt(d, 0).isEnabled());

            // Marks: a click on column 9 of a markable row toggles it; elsewhere nothing.
            const int first = FirstRowOf(diff, 1);
            const int voucher = FirstRowOf(diff, 6);
            ASSERT_GT(first, 0);
            ASSERT_GT(voucher, 0);
            ClickCell(diff, first, 9);
            EXPECT_EQ(Cell(diff, first, 9), "√");
            ClickCell(diff, first, 5);
            EXPECT_EQ(Cell(diff, first, 9), "√");
            ClickCell(diff, voucher, 9);
            EXPECT_EQ(Cell(diff, voucher, 9), "");
            const auto before = MarkColumn(diff);
            Rpt(d, 3).click();
            EXPECT_EQ(MarkColumn(diff), Toggled(diff, before));
            EXPECT_EQ(Cell(diff, first, 9), "");
            Rpt(d, 3).click();
            EXPECT_EQ(MarkColumn(diff), before);

            // The documents behind a row whose documents exist.
            for (int row = 1; row <= DataRows(diff) && detailRow == 0; ++row) {
              const int item = ItemOf(diff, row);
              if (item >= 1 && item <= 3 && db::Value(Cell(diff, row, 7)).AsDouble() != 0) {
                detailRow = row;
              }
            }
            ASSERT_GT(detailRow, 0);
            ClickCell(diff, detailRow, 4);
            Rpt(d, 1).click();
            EXPECT_NEAR(detailSum, db::Value(Cell(diff, detailRow, 7)).AsDouble(), 0.005)
                << "the listed documents add up to the recomputed value";

            // Registration answered No changes nothing, not even the marks.
            ClickCell(diff, first, 9);
            Rpt(d, 3).click();
            const auto marked = MarkColumn(diff);
            EXPECT_EQ(marked, Toggled(diff, std::vector<std::string>(marked.size())));
            const std::string amount = Cell(diff, first, 8);
            messages.answers = {false};
            Rpt(d, 0).click();
            EXPECT_EQ(messages.LastText(),
                      "已结账期间数据调整，建议在指定期间输入调整单据进行调整！\r\n"
                      "未结账期间可通过本程序自动调整差额。");
            EXPECT_EQ(MarkColumn(diff), marked);
            EXPECT_EQ(Cell(diff, first, 8), amount);

            messages.answers = {true};
            Rpt(d, 0).click();
            EXPECT_EQ(messages.LastText(), "登记完毕!");
            EXPECT_EQ(messages.shown.back().icon, MessageIcon::Information);
            for (int row = 1; row <= DataRows(diff); ++row) {
              if (ItemOf(diff, row) == 6) continue;
              EXPECT_EQ(Cell(diff, row, 9), "") << row;
              EXPECT_EQ(Cell(diff, row, 8), "0") << row;
              EXPECT_EQ(Cell(diff, row, 6), Cell(diff, row, 7)) << row;
            }
            Rpt(d, 2).click();
          })
      .Then("frmDetailList",
            [&](QDialog& d) {
              EXPECT_EQ(d.windowTitle().toStdString(), "单据明细");
              QTableView& list = Control<QTableView>(d, QStringLiteral("grdList"));
              EXPECT_EQ(list.model()->headerData(1, Qt::Horizontal).toString().toStdString(),
                        "单据类型");
              detailRows = DataRows(list);
              for (int row = 1; row <= detailRows; ++row) {
                EXPECT_EQ(Cell(list, row, 0).size(), 10u) << "a date";
                EXPECT_FALSE(Cell(list, row, 1).empty()) << "the document type's name";
                detailSum += db::Value(Cell(list, row, 3)).AsDouble();
              }
              Control<QPushButton>(d, QStringLiteral("cmdClose")).click();
            })
      .Then("frmReport", [&](QDialog& d) {
        QTableView& diff = Diff(d);
        ASSERT_GT(DataRows(diff), 0);
        for (int row = 1; row <= DataRows(diff); ++row) EXPECT_EQ(ItemOf(diff, row), 6) << row;
        // The close box leaves the report as "退出" does.
        d.close();
      });
  RunCompare(sample.ctx, messages, ReportFile(sample.Folder()), FixedDay(display, nullptr));
  EXPECT_EQ(display.Pending(), 0u);
  EXPECT_GT(detailRows, 0);
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Forwards to the sample's connection and refuses every statement on one ledger table.
class RefusingConnection final : public db::Connection {
 public:
  RefusingConnection(std::shared_ptr<db::Connection> inner, std::string table)
      : inner_(std::move(inner)), table_(std::move(table)) {}
  std::unique_ptr<db::Recordset> OpenResultset(const std::string& sql, int cursor,
                                               int lock) override {
    return inner_->OpenResultset(sql, cursor, lock);
  }
  void Execute(const std::string& sql) override {
    if (Upper(sql).find(Upper(table_)) != std::string::npos) {
      throw db::Error("table is locked", sql);
    }
    inner_->Execute(sql);
  }
  std::int64_t RowsAffected() const override { return inner_->RowsAffected(); }
  bool StillExecuting() const override { return inner_->StillExecuting(); }

 private:
  std::shared_ptr<db::Connection> inner_;
  std::string table_;
};

// Registration used to report "登记完毕!" alone when statements failed; the rows that failed keep
// "错误", the loop goes on, and the closing message says how many and why.
TEST_F(ScreenTest, RegistrationWithRefusedStatementsSaysSoAndGoesOn) {
  SampleAccountSet sample(sample::FaultSet::kLedgers);
  sample.ctx.connection = std::make_shared<RefusingConnection>(sample.ctx.connection, "ITEMDAILY1");
  ScriptedMessages messages;
  ScriptedDisplay display;
  display.Then("FrmCompare", [&](QDialog& d) {
    StartFullYearRun(d);
    Sel(d, 1).click();
  });
  display.Then("frmReport", [&](QDialog& d) {
    QTableView& diff = Diff(d);
    ASSERT_GT(FirstRowOf(diff, 3), 0) << "item 3 writes ITEMDAILY1";
    Rpt(d, 3).click();
    messages.answers = {true};
    Rpt(d, 0).click();
    const std::string text = messages.LastText();
    EXPECT_EQ(text.rfind("登记完毕!\r\n", 0), 0u) << text;
    EXPECT_NE(text.find("table is locked"), std::string::npos) << text;
    int refused = 0;
    for (int row = 1; row <= DataRows(diff); ++row) {
      const int item = ItemOf(diff, row);
      if (item == 3) {
        ++refused;
        EXPECT_EQ(Cell(diff, row, 9), "错误") << row;
      } else if (item != 6) {
        EXPECT_EQ(Cell(diff, row, 9), "") << "rows after a refused one are registered: " << row;
      }
    }
    EXPECT_NE(text.find(std::to_string(refused)), std::string::npos) << text;
    Rpt(d, 2).click();
  });
  RunCompare(sample.ctx, messages, ReportFile(sample.Folder()), FixedDay(display, nullptr));
  EXPECT_EQ(display.Pending(), 0u);
}

}  // namespace
}  // namespace tallyvet::screens_test
