#include "receipt_audit/view/check_activity_view.h"

#include <QCoreApplication>
#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>

#include "shell/qt/twips.h"

namespace tallyvet::receipt_audit {

namespace {

constexpr int kClientWidth = 10155;

qt::GridSource SourceOf(const CheckActivityScreen& screen) {
  const CheckGrid& grid = screen.MSFlexGrid1();
  return qt::GridSource{
      [&grid] { return grid.Rows(); },
      [] { return kGridColumns; },
      [&grid](int row, int col) -> const std::string& {
        return grid.cells.at(static_cast<std::size_t>(row)).at(static_cast<std::size_t>(col));
      },
      [&grid](int col) { return qt::Px(grid.colWidths.at(static_cast<std::size_t>(col))); },
      [&grid](int row) {
        return qt::GridRowPixels(grid.rowHeights.at(static_cast<std::size_t>(row)),
                                 kHeaderRowHeight);
      },
      {}};
}

// A label that grows with its text from its designed top-left corner.
QLabel* AutoSizeLabel(QWidget& parent, int left, int top, int width, int height) {
  auto* label = new QLabel(&parent);
  qt::Place(*label, left, top, width, height);
  label->setTextFormat(Qt::PlainText);
  return label;
}

void SetLabelText(QLabel& label, const std::string& text) {
  const QString shown = qt::ToQt(text);
  if (label.text() == shown) return;
  label.setText(shown);
  label.adjustSize();
}

}  // namespace

CheckActivityView::CheckActivityView(CheckActivityScreen& screen, MessageBox& messages)
    : screen_(screen), messages_(messages) {
  dialog_ = qt::MakeDialog(screen_.Caption(), kClientWidth, screen_.Height() - qt::kFormFrameTwips);
  QDialog& d = *dialog_;
  d.setObjectName(QStringLiteral("frmCheckActivity"));

  struct ButtonDesign {
    int left, top, width, height;
  };
  constexpr std::array<ButtonDesign, 3> kButtons = {
      {{8820, 480, 1215, 350}, {8820, 900, 1215, 350}, {7800, 45, 900, 285}}};
  std::vector<QAbstractButton*> group;
  for (std::size_t i = 0; i < kButtons.size(); ++i) {
    auto* button = new QPushButton(&d);
    button->setAutoDefault(false);
    qt::Place(*button, kButtons[i].left, kButtons[i].top, kButtons[i].width, kButtons[i].height);
    button->setObjectName(QStringLiteral("cmdRpt(%1)").arg(i));
    cmdRpt_[i] = button;
    group.push_back(button);
  }
  // Tab order as designed: 全选, 退出, then the workflow button.
  QWidget::setTabOrder(cmdRpt_[2], cmdRpt_[1]);
  QWidget::setTabOrder(cmdRpt_[1], cmdRpt_[0]);

  grid_ = std::make_unique<qt::GridTable>(d, SourceOf(screen_));
  qt::Place(grid_->View(), 45, 330, 8655, 5760);
  grid_->View().setFocusPolicy(Qt::NoFocus);
  grid_->View().setObjectName(QStringLiteral("MSFlexGrid1"));

  lblUser_ = AutoSizeLabel(d, 60, 75, 540, 180);
  lblNotes_ = AutoSizeLabel(d, 75, 6165, 990, 180);
  lblUser_->setObjectName(QStringLiteral("lblUser"));
  lblNotes_->setObjectName(QStringLiteral("lblNotes"));
  progressBar_ = new QProgressBar(&d);
  progressBar_->setObjectName(QStringLiteral("ProgressBar1"));
  qt::Place(*progressBar_, 60, 6435, 8595, 240);
  progressBar_->setRange(0, 100);
  progressBar_->setTextVisible(false);

  qt::OnClick(group, [this](int index) {
    qt::Guarded(messages_, screen_.Caption(), [&] { screen_.cmdRpt_Click(index); });
  });
  // The close box (and Escape) unload the screen like "退出"; a second unload does nothing.
  QObject::connect(&d, &QDialog::finished, &d, [this](int) {
    qt::Guarded(messages_, screen_.Caption(), [&] { screen_.Form_Unload(); });
  });

  screen_.SetRepaintHook([this](CheckActivityScreen::Part part) { Sync(part); });
  // The one yield before the checks: pending paints run (the hourglass, the disabled button),
  // user input waits until the checks are over.
  screen_.SetYieldHook([] { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); });
  // Unloading ends the modal display; the finished signal this sends finds the screen unloaded.
  screen_.SetCloseHook([this] { dialog_->done(QDialog::Rejected); });
  SyncAll();
}

CheckActivityView::~CheckActivityView() {
  screen_.SetRepaintHook({});
  screen_.SetYieldHook({});
  screen_.SetCloseHook({});
}

void CheckActivityView::SyncAll() {
  using Part = CheckActivityScreen::Part;
  for (Part part : {Part::Labels, Part::Notes, Part::Progress, Part::Grid, Part::Buttons,
                    Part::Layout, Part::Pointer}) {
    Sync(part);
  }
}

void CheckActivityView::Sync(CheckActivityScreen::Part part) {
  using Part = CheckActivityScreen::Part;
  switch (part) {
    case Part::Notes:
      SetLabelText(*lblNotes_, screen_.lblNotes());
      lblNotes_->setVisible(screen_.NotesVisible());
      break;
    case Part::Progress:
      progressBar_->setValue(static_cast<int>(screen_.ProgressValue()));
      progressBar_->setVisible(screen_.ProgressVisible());
      break;
    case Part::Grid:
      grid_->Sync();
      break;
    case Part::Buttons:
      for (int i = 0; i < 3; ++i) {
        const CommandButton& state = screen_.cmdRpt(i);
        cmdRpt_[static_cast<std::size_t>(i)]->setText(qt::ToQt(state.caption));
        cmdRpt_[static_cast<std::size_t>(i)]->setEnabled(state.enabled);
      }
      break;
    case Part::Labels:
      SetLabelText(*lblUser_, screen_.lblUser());
      break;
    case Part::Layout:
      dialog_->setFixedHeight(qt::ClientHeightPx(screen_.Height()));
      lblNotes_->setVisible(screen_.NotesVisible());
      progressBar_->setVisible(screen_.ProgressVisible());
      break;
    case Part::Pointer:
      if (screen_.Hourglass()) {
        dialog_->setCursor(Qt::WaitCursor);
      } else {
        dialog_->unsetCursor();
      }
      break;
  }
  pump_.Pump();
}

void RunCheckActivity(HostContext& ctx, MessageBox& messages, const qt::ModalDisplay& show,
                      const std::filesystem::path& journalFolder) {
  CheckActivityScreen screen(ctx, messages);
  screen.SetJournalFolder(journalFolder);
  CheckActivityView view(screen, messages);
  screen.Form_Load();
  view.SyncAll();
  show(view.Dialog());
  // However the display ended, the screen unloads (releasing the dictionary) before it is dropped.
  screen.Form_Unload();
}

}  // namespace tallyvet::receipt_audit
