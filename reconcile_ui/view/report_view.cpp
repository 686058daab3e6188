#include "reconcile_ui/view/report_view.h"

#include <QDialog>
#include <QGroupBox>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>

#include "reconcile_ui/view/detail_list_view.h"
#include "shell/qt/twips.h"

namespace tallyvet {

namespace {

constexpr int kClientWidth = 11400;
constexpr int kClientHeight = 7200;

struct Design {
  int left, top, width, height;
};
// cmdRpt by index: 0 "重新登记汇总数", 1 "查看单据明细", 2 "退出", 3 "全选", 4 "查看图表报告".
constexpr std::array<Design, 5> kButtons = {{{6360, 6600, 1755, 390},
                                             {8220, 6600, 1635, 390},
                                             {9960, 6600, 1320, 390},
                                             {5040, 6600, 1215, 390},
                                             {3240, 6600, 1695, 390}}};
// Option1 by index inside Frame1: 0 "显示汇总数", 1 "显示明细数".
constexpr std::array<Design, 2> kOptions = {{{2100, 210, 1740, 300}, {180, 210, 1740, 300}}};
constexpr std::array<const char*, 2> kOptionCaptions = {"显示汇总数", "显示明细数"};

}  // namespace

ReportView::ReportView(ReportScreen& screen, MessageBox& messages, qt::ModalDisplay show,
                       QWidget* owner, std::function<void(const std::filesystem::path&)> openPage)
    : screen_(screen), messages_(messages), show_(std::move(show)) {
  dialog_ = qt::MakeDialog(ReportScreen::kCaption, kClientWidth, kClientHeight, owner);
  QDialog& d = *dialog_;
  d.setObjectName(QStringLiteral("frmReport"));
  const std::string caption(ReportScreen::kCaption);

  lblUser_ = new QLabel(&d);
  qt::Place(*lblUser_, 120, 120, 6600, 255);
  lblDate_ = new QLabel(&d);
  qt::Place(*lblDate_, 120, 420, 6600, 255);
  for (QLabel* label : {lblUser_, lblDate_}) label->setTextFormat(Qt::PlainText);
  lblUser_->setObjectName(QStringLiteral("lblUser"));
  lblDate_->setObjectName(QStringLiteral("lblDate"));

  frame1_ = new QGroupBox(&d);
  frame1_->setObjectName(QStringLiteral("Frame1"));
  qt::Place(*frame1_, 7260, 30, 4020, 600);
  std::vector<QAbstractButton*> options;
  for (std::size_t i = 0; i < option1_.size(); ++i) {
    auto* option = new QRadioButton(qt::ToQt(kOptionCaptions[i]), frame1_);
    qt::Place(*option, kOptions[i].left, kOptions[i].top, kOptions[i].width, kOptions[i].height);
    option->setObjectName(QStringLiteral("Option1(%1)").arg(i));
    option1_[i] = option;
    options.push_back(option);
  }

  diff_ = std::make_unique<qt::GridTable>(d, GridSourceOf(screen_.grdDiff()));
  total_ = std::make_unique<qt::GridTable>(d, GridSourceOf(screen_.grdTotal()));
  grdDiff().setObjectName(QStringLiteral("grdDiff"));
  grdTotal().setObjectName(QStringLiteral("grdTotal"));
  for (qt::GridTable* grid : {diff_.get(), total_.get()}) {
    qt::Place(grid->View(), 120, 720, 11160, 5280);
  }
  // The selected difference's cause, under the grid.
  lblCause_ = new QLabel(&d);
  qt::Place(*lblCause_, 120, 6060, 11160, 480);
  lblCause_->setTextFormat(Qt::PlainText);
  lblCause_->setWordWrap(true);
  lblCause_->setObjectName(QStringLiteral("lblCause"));

  std::vector<QAbstractButton*> buttons;
  for (std::size_t i = 0; i < cmdRpt_.size(); ++i) {
    auto* button = new QPushButton(qt::ToQt(screen_.CmdRptCaption(static_cast<int>(i))), &d);
    button->setAutoDefault(false);
    qt::Place(*button, kButtons[i].left, kButtons[i].top, kButtons[i].width, kButtons[i].height);
    button->setObjectName(QStringLiteral("cmdRpt(%1)").arg(i));
    cmdRpt_[i] = button;
    buttons.push_back(button);
  }

  qt::OnClick(options, [this, caption](int index) {
    qt::Guarded(messages_, caption, [&] { screen_.Option1Click(index); });
  });
  qt::OnClick(buttons, [this, caption](int index) {
    qt::Guarded(messages_, caption, [&] { screen_.CmdRptClick(index); });
  });
  QObject::connect(&grdDiff(), &QTableView::clicked, &d, [this, caption](const QModelIndex& at) {
    qt::Guarded(messages_, caption, [&] { screen_.GrdDiffClick(at.row() + 1, at.column()); });
  });
  // The close box unloads the screen as "退出" does (its detail list goes with it).
  QObject::connect(&d, &QDialog::finished, &d, [this, caption](int) {
    if (closing_) return;
    closing_ = true;
    qt::Guarded(messages_, caption, [&] { screen_.CmdRptClick(2); });
  });

  screen_.SetHooks(ReportScreen::Hooks{[this] { Sync(); },
                                       [this](DetailListScreen& detail) {
                                         DetailListView view(detail, dialog_.get());
                                         show_(view.Dialog());
                                       },
                                       [this] {
                                         closing_ = true;
                                         dialog_->done(QDialog::Rejected);
                                       },
                                       std::move(openPage)});
  diff_->Sync();
  total_->Sync();
  Sync();
}

ReportView::~ReportView() {
  screen_.SetHooks({});
}

void ReportView::Sync() {
  diff_->SyncCells();
  total_->SyncCells();
  const Grid& diff = screen_.grdDiff();
  grdDiff().setVisible(diff.Visible);
  grdTotal().setVisible(screen_.grdTotal().Visible);

  // The screen moves its selection and top row while it registers; the user's own scrolling in
  // between is left alone.
  if (diff.Row != shownRow_) {
    shownRow_ = diff.Row;
    if (shownRow_ >= 1) {
      grdDiff().selectRow(shownRow_ - 1);
    } else {
      grdDiff().clearSelection();
    }
  }
  if (diff.TopRow != shownTopRow_) {
    shownTopRow_ = diff.TopRow;
    if (shownTopRow_ >= 1) {
      grdDiff().scrollTo(diff_->Model().index(shownTopRow_ - 1, 4),
                         QAbstractItemView::PositionAtTop);
    }
  }

  for (std::size_t i = 0; i < cmdRpt_.size(); ++i) {
    cmdRpt_[i]->setEnabled(screen_.CmdRptEnabled(static_cast<int>(i)));
  }
  for (std::size_t i = 0; i < option1_.size(); ++i) {
    option1_[i]->setChecked(screen_.SelectedOption() == static_cast<int>(i));
  }
  lblUser_->setText(qt::ToQt(screen_.lblUser()));
  lblDate_->setText(qt::ToQt(screen_.lblDate()));
  lblCause_->setText(qt::ToQt(screen_.lblCause()));
  pump_.Pump();
}

}  // namespace tallyvet
