#include "reconcile_ui/view/compare_view.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include "reconcile_ui/view/report_view.h"
#include "shell/qt/twips.h"

namespace tallyvet {

namespace {

constexpr int kClientWidth = 7560;

struct Design {
  int left, top, width, height;
};

// cboPeriod by index: 0 start period, 1 end period, 2 range kind.
constexpr std::array<Design, 3> kLists = {
    {{2400, 540, 1380, 300}, {4260, 540, 1380, 300}, {1200, 540, 1080, 300}}};
// Frame2 by index: 0 "检查账务数据" (items 4 to 6), 1 "检查进销存数据" (items 1 to 3).
constexpr std::array<Design, 2> kFrames = {{{3900, 1020, 3420, 1500}, {240, 1020, 3420, 1500}}};
constexpr std::array<const char*, 2> kFrameCaptions = {"检查账务数据", "检查进销存数据"};
// cmdSel by index: 0 "开始对账", 1 "退出", 2 "查看对账报告".
constexpr std::array<Design, 3> kButtons = {
    {{3420, 4140, 1215, 390}, {6300, 4140, 1020, 390}, {4740, 4140, 1455, 390}}};
// Label1 by index; 0 and 1 sit on the range row, 2 to 5 explain the run.
constexpr std::array<Design, 6> kLabels = {{{240, 600, 960, 255},
                                            {3900, 600, 300, 255},
                                            {240, 2640, 7080, 255},
                                            {240, 3480, 7080, 510},
                                            {240, 2920, 7080, 255},
                                            {240, 3200, 7080, 255}}};
constexpr std::array<const char*, 6> kLabelCaptions = {
    "对账日期",
    "至",
    "    对账程序检查单据明细数据与账上登记数据是否一致。",
    "    （2）进销存数据（进销存单据与存货账、进销存单据与单位物品汇总数、进销存单据与货位账）。",
    "    对账范围包括：",
    "    （1）记账务数据（账凭证与总账）"};

Qt::CheckState CheckStateOf(int value) {
  return value == 0 ? Qt::Unchecked : value == 1 ? Qt::Checked : Qt::PartiallyChecked;
}

int ValueOf(int state) {
  return state == Qt::Unchecked ? 0 : state == Qt::Checked ? 1 : 2;
}

void SetText(QLabel& label, const std::string& text) {
  const QString shown = qt::ToQt(text);
  if (label.text() != shown) label.setText(shown);
}

}  // namespace

CompareView::CompareView(HostContext& ctx, MessageBox& messages, ReportFile report,
                         CompareViewOptions options)
    : messages_(messages), options_(std::move(options)) {
  dialog_ = qt::MakeDialog(CompareScreen::kCaption, kClientWidth,
                           CompareScreen::kIdleHeight - qt::kFormFrameTwips);
  QDialog& d = *dialog_;
  d.setObjectName(QStringLiteral("FrmCompare"));
  const std::string caption(CompareScreen::kCaption);

  for (std::size_t i = 0; i < lblUser_.size(); ++i) {
    lblUser_[i] = new QLabel(&d);
    lblUser_[i]->setTextFormat(Qt::PlainText);
    lblUser_[i]->setObjectName(QStringLiteral("lblUser(%1)").arg(i));
  }
  qt::Place(*lblUser_[0], 240, 150, 3420, 255);
  qt::Place(*lblUser_[1], 3900, 150, 3420, 255);

  for (std::size_t i = 0; i < label1_.size(); ++i) {
    label1_[i] = new QLabel(qt::ToQt(kLabelCaptions[i]), &d);
    label1_[i]->setTextFormat(Qt::PlainText);
    label1_[i]->setObjectName(QStringLiteral("Label1(%1)").arg(i));
    qt::Place(*label1_[i], kLabels[i].left, kLabels[i].top, kLabels[i].width, kLabels[i].height);
  }
  label1_[3]->setWordWrap(true);
  label1_[3]->setAlignment(Qt::AlignLeft | Qt::AlignTop);

  for (std::size_t i = 0; i < cboPeriod_.size(); ++i) {
    cboPeriod_[i] = new QComboBox(&d);
    cboPeriod_[i]->setObjectName(QStringLiteral("cboPeriod(%1)").arg(i));
    qt::Place(*cboPeriod_[i], kLists[i].left, kLists[i].top, kLists[i].width, kLists[i].height);
  }

  for (std::size_t i = 0; i < frame2_.size(); ++i) {
    frame2_[i] = new QGroupBox(qt::ToQt(kFrameCaptions[i]), &d);
    frame2_[i]->setObjectName(QStringLiteral("Frame2(%1)").arg(i));
    qt::Place(*frame2_[i], kFrames[i].left, kFrames[i].top, kFrames[i].width, kFrames[i].height);
  }
  // Items 1 to 3 in the goods frame, 4 to 6 in the accounts frame, top to bottom.
  for (std::size_t i = 0; i < chkItem_.size(); ++i) {
    QGroupBox* frame = i < 3 ? frame2_[1] : frame2_[0];
    chkItem_[i] = new QCheckBox(frame);
    chkItem_[i]->setObjectName(QStringLiteral("chkItem(%1)").arg(i));
    qt::Place(*chkItem_[i], 240, 330 + static_cast<int>(i % 3) * 360, 3000, 300);
  }

  std::vector<QAbstractButton*> buttons;
  for (std::size_t i = 0; i < cmdSel_.size(); ++i) {
    cmdSel_[i] = new QPushButton(&d);
    cmdSel_[i]->setObjectName(QStringLiteral("cmdSel(%1)").arg(i));
    cmdSel_[i]->setAutoDefault(false);
    qt::Place(*cmdSel_[i], kButtons[i].left, kButtons[i].top, kButtons[i].width,
              kButtons[i].height);
    buttons.push_back(cmdSel_[i]);
  }

  lblNotes_ = new QLabel(&d);
  lblNotes_->setObjectName(QStringLiteral("lblNotes"));
  lblNotes_->setTextFormat(Qt::PlainText);
  qt::Place(*lblNotes_, 240, 4800, 7080, 255);
  progressBar_ = new QProgressBar(&d);
  progressBar_->setObjectName(QStringLiteral("ProgressBar1"));
  qt::Place(*progressBar_, 240, 5070, 7080, 240);
  progressBar_->setRange(0, 100);
  progressBar_->setTextVisible(false);
  // Left of the buttons: where the reports go when that is not the component's folder.
  lblReportFolder_ = new QLabel(qt::ToQt(options_.reportFolderNote), &d);
  lblReportFolder_->setObjectName(QStringLiteral("lblReportFolder"));
  lblReportFolder_->setTextFormat(Qt::PlainText);
  lblReportFolder_->setWordWrap(true);
  lblReportFolder_->setToolTip(lblReportFolder_->text());
  qt::Place(*lblReportFolder_, 240, 4080, 3060, 510);
  lblReportFolder_->setVisible(!options_.reportFolderNote.empty());

  CompareScreen::Hooks hooks;
  hooks.refresh = [this] {
    if (screen_) Sync();
  };
  hooks.showReport = [this](ReportScreen& report) {
    ReportView view(report, messages_, options_.show, dialog_.get(), options_.openPage);
    options_.show(view.Dialog());
  };
  hooks.openReport = [this](const std::filesystem::path& path) {
    if (options_.openReport) options_.openReport(path);
  };
  hooks.close = [this] {
    closing_ = true;
    dialog_->done(QDialog::Rejected);
  };
  screen_ = std::make_unique<CompareScreen>(ctx, messages_, std::move(report), std::move(hooks),
                                            options_.today);

  for (std::size_t i = 0; i < cboPeriod_.size(); ++i) {
    const int index = static_cast<int>(i);
    QObject::connect(
        cboPeriod_[i], &QComboBox::currentIndexChanged, &d, [this, index, caption](int position) {
          if (syncing_) return;
          qt::Guarded(messages_, caption, [&] { screen_->SelectPeriod(index, position); });
        });
  }
  for (std::size_t i = 0; i < chkItem_.size(); ++i) {
    const int index = static_cast<int>(i);
    QObject::connect(chkItem_[i], &QCheckBox::stateChanged, &d, [this, index](int state) {
      if (syncing_) return;
      screen_->SetItemValue(index, ValueOf(state));
    });
  }
  // The screen repaints during a run but not after it (the pointer comes back, the report or
  // message has been shown): catch up once the click is over.
  qt::OnClick(buttons, [this](int index) {
    screen_->CmdSelClick(index);
    Sync();
  });
  // The close box ends the screen as "退出" does (the report screen goes with it).
  QObject::connect(&d, &QDialog::finished, &d, [this](int) {
    if (closing_) return;
    closing_ = true;
    screen_->CmdSelClick(1);
  });
  Sync();
}

CompareView::~CompareView() = default;

void CompareView::Sync() {
  const CompareScreen& s = *screen_;
  syncing_ = true;
  for (std::size_t i = 0; i < lblUser_.size(); ++i) {
    SetText(*lblUser_[i], s.lblUser(static_cast<int>(i)));
  }
  for (std::size_t i = 0; i < cboPeriod_.size(); ++i) {
    const ComboList& list = s.cboPeriod(static_cast<int>(i));
    QComboBox& box = *cboPeriod_[i];
    bool same = box.count() == static_cast<int>(list.entries.size());
    for (int e = 0; same && e < box.count(); ++e) {
      same = box.itemText(e) == qt::ToQt(list.entries[static_cast<std::size_t>(e)]);
    }
    if (!same) {
      box.clear();
      for (const std::string& entry : list.entries) box.addItem(qt::ToQt(entry));
    }
    box.setCurrentIndex(list.selected);
    box.setEnabled(list.enabled);
  }
  for (std::size_t i = 0; i < chkItem_.size(); ++i) {
    const ItemCheckBox& item = s.chkItem(static_cast<int>(i));
    QCheckBox& box = *chkItem_[i];
    box.setText(qt::ToQt(item.caption));
    box.setCheckState(CheckStateOf(item.value));
    QPalette palette = box.palette();
    const QColor colour = item.foreColor == 255 ? QColor(255, 0, 0) : QColor(0, 0, 0);
    if (palette.color(QPalette::WindowText) != colour) {
      palette.setColor(QPalette::WindowText, colour);
      box.setPalette(palette);
    }
  }
  for (std::size_t i = 0; i < cmdSel_.size(); ++i) {
    const CommandButton& button = s.cmdSel(static_cast<int>(i));
    cmdSel_[i]->setText(qt::ToQt(button.caption));
    cmdSel_[i]->setEnabled(button.enabled);
  }
  SetText(*lblNotes_, s.NotesCaption());
  lblNotes_->setVisible(s.NotesVisible());
  progressBar_->setValue(static_cast<int>(s.ProgressValue()));
  progressBar_->setVisible(s.ProgressVisible());
  dialog_->setFixedHeight(qt::ClientHeightPx(s.Height()));
  if (s.Hourglass()) {
    dialog_->setCursor(Qt::WaitCursor);
  } else {
    dialog_->unsetCursor();
  }
  syncing_ = false;
  pump_.Pump();
}

void RunCompare(HostContext& ctx, MessageBox& messages, ReportFile report,
                const CompareViewOptions& options) {
  CompareView view(ctx, messages, std::move(report), options);
  options.show(view.Dialog());
}

}  // namespace tallyvet
