// Renders every screen with real data from faulted sample account sets to PNG files in the build
// folder, in the CJK font the set-up installs, so that a person can look at them.
#include <QComboBox>
#include <QDir>
#include <QFontInfo>
#include <QFontMetrics>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>

#include "receipt_audit/view/check_activity_view.h"
#include "reconcile_ui/view/compare_view.h"
#include "screen_script.h"
#include "shell/notepad/text_viewer.h"

namespace tallyvet::screens_test {
namespace {

const QString kFolder = QStringLiteral(TALLYVET_SCREENSHOT_DIR);

void Save(QWidget& widget, const QString& name) {
  QCoreApplication::processEvents();
  const QPixmap shot = widget.grab();
  const QString file = kFolder + "/" + name + ".png";
  ASSERT_TRUE(shot.save(file)) << file.toStdString();
  EXPECT_GT(QFileInfo(file).size(), 2000) << file.toStdString();
}

QPushButton& Button(QDialog& d, const QString& name) {
  return Control<QPushButton>(d, name);
}

TEST_F(ScreenTest, ScreenshotsOfEveryScreenWithRealData) {
  ASSERT_TRUE(QDir().mkpath(kFolder));
  // The Chinese captions need a font that has them; the set-up installs one.
  const QFontMetrics metrics(qt::ScreenFont());
  ASSERT_TRUE(metrics.inFontUcs4(U'对') && metrics.inFontUcs4(U'账'))
      << "no CJK font: " << QFontInfo(qt::ScreenFont()).family().toStdString();

  {
    SampleAccountSet sample(sample::FaultSet::kReceipts);
    ScriptedMessages messages;
    ScriptedDisplay display;
    display.Then("frmCheckActivity", [&](QDialog& d) {
      Save(d, "frmCheckActivity-loaded");
      auto& bar = Control<QProgressBar>(d, QStringLiteral("ProgressBar1"));
      bool taken = false;
      QObject::connect(&bar, &QProgressBar::valueChanged, &d, [&](int value) {
        if (taken || value < 1) return;
        taken = true;
        Save(d, "frmCheckActivity-checking");
      });
      Button(d, QStringLiteral("cmdRpt(0)")).click();
      Save(d, "frmCheckActivity-checked");
      Button(d, QStringLiteral("cmdRpt(1)")).click();
    });
    receipt_audit::RunCheckActivity(sample.ctx, messages, display.Display());
    EXPECT_EQ(display.Pending(), 0u);
  }

  SampleAccountSet sample(sample::FaultSet::kAll);
  ScriptedMessages messages;
  ScriptedDisplay display;
  CompareViewOptions options;
  options.show = display.Display();
  options.today = [] {
    return CivilDate{std::chrono::year{2025}, std::chrono::month{12}, std::chrono::day{15}};
  };
  display
      .Then("FrmCompare",
            [&](QDialog& d) {
              for (int i : {0, 1, 3}) {
                Control<QAbstractButton>(d, QStringLiteral("chkItem(%1)").arg(i)).click();
              }
              Control<QComboBox>(d, QStringLiteral("cboPeriod(0)")).setCurrentIndex(0);
              Save(d, "FrmCompare");
              auto& bar = Control<QProgressBar>(d, QStringLiteral("ProgressBar1"));
              bool taken = false;
              QObject::connect(&bar, &QProgressBar::valueChanged, &d, [&](int value) {
                if (taken || value < 20) return;
                taken = true;
                Save(d, "FrmCompare-running");
              });
              for (int i = 0; i < 6; ++i) {
                auto& box = Control<QAbstractButton>(d, QStringLiteral("chkItem(%1)").arg(i));
                if (!box.isChecked()) box.click();
              }
              Button(d, QStringLiteral("cmdSel(0)")).click();
              Button(d, QStringLiteral("cmdSel(1)")).click();
            })
      .Then("frmReport",
            [&](QDialog& d) {
              auto& diff = Control<QTableView>(d, QStringLiteral("grdDiff"));
              ClickCell(diff, 1, 9);
              ClickCell(diff, 3, 9);
              // A row whose recomputed value has documents behind it, for the detail list.
              int withDocuments = 1;
              while (withDocuments < DataRows(diff) &&
                     (Cell(diff, withDocuments, 7) == "0" || Cell(diff, withDocuments, 0) == "6")) {
                ++withDocuments;
              }
              ClickCell(diff, withDocuments, 4);
              Save(d, "frmReport");
              Control<QRadioButton>(d, QStringLiteral("Option1(0)")).click();
              Save(d, "frmReport-summary");
              Control<QRadioButton>(d, QStringLiteral("Option1(1)")).click();
              Button(d, QStringLiteral("cmdRpt(1)")).click();
              Button(d, QStringLiteral("cmdRpt(2)")).click();
            })
      .Then("frmDetailList", [&](QDialog& d) {
        Save(d, "frmDetailList");
        Button(d, QStringLiteral("cmdClose")).click();
      });
  RunCompare(sample.ctx, messages, ReportFile(sample.Folder()), options);
  EXPECT_EQ(display.Pending(), 0u);

  auto viewer = notepad::OpenTextViewer(ReportFile(sample.Folder()).Path());
  viewer->resize(900, 600);
  viewer->show();
  Save(*viewer, "tallyvet-notepad");
}

}  // namespace
}  // namespace tallyvet::screens_test
