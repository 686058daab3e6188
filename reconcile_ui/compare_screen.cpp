#include "reconcile_ui/compare_screen.h"

#include "ledger_engine/causes.h"

#include <exception>

namespace tallyvet {

std::string ComboList::Text() const {
  if (selected < 0 || selected >= static_cast<int>(entries.size())) return {};
  return entries[static_cast<std::size_t>(selected)];
}

std::string ReportFolderNote(const ScreenReportFolder& reports, const char* home) {
  if (reports.isComponentFolder) return {};
  std::string shown = reports.folder.string();
  const std::string homeText = home != nullptr ? std::string(home) : std::string();
  if (!homeText.empty() && homeText != "/" && shown.starts_with(homeText + "/")) {
    shown = "~" + shown.substr(homeText.size());
  }
  return "报告保存在：" + shown + "（程序文件夹不可写）";
}

CompareScreen::CompareScreen(HostContext& ctx, MessageBox& messages, ReportFile report, Hooks hooks,
                             std::function<CivilDate()> today)
    : ctx_(ctx),
      messages_(messages),
      report_(std::move(report)),
      hooks_(std::move(hooks)),
      today_(std::move(today)) {
  for (int index = 0; index < 6; ++index) {
    chk_[static_cast<std::size_t>(index)].caption = ItemCheckBoxCaption(index);
  }
  display_.SetNotes("准备数据...");
  LoadAccountAndPeriods();
}

void CompareScreen::Refresh() {
  if (hooks_.refresh) hooks_.refresh();
}

void CompareScreen::LoadAccountAndPeriods() {
  const AccountAndPeriods loaded = tallyvet::LoadAccountAndPeriods(ctx_, today_());
  lblUser_[0] = loaded.userCaption;
  lblUser_[1] = loaded.accountCaption;
  for (ComboList& list : cbo_) list = ComboList{};
  cbo_[2].entries.assign(kRangeKinds.begin(), kRangeKinds.end());
  SelectPeriod(2, 0);
  cbo_[0].entries = loaded.periods;
  cbo_[1].entries = loaded.periods;
  cbo_[0].selected = cbo_[1].selected = loaded.selected;
  Refresh();
}

void CompareScreen::SelectPeriod(int index, int position) {
  cbo_.at(static_cast<std::size_t>(index)).selected = position;
  CboPeriodChange(index);
}

void CompareScreen::CboPeriodChange(int index) {
  if (index != 2) return;
  const bool periods = cbo_[2].selected == 0;
  cbo_[0].enabled = periods;
  cbo_[1].enabled = periods;
  Refresh();
}

void CompareScreen::SetItemValue(int index, int value) {
  chk_.at(static_cast<std::size_t>(index)).value = value;
}

DateRange CompareScreen::PeriodRangeToDates() {
  return tallyvet::PeriodRangeToDates(ctx_, cbo_[2].Text(), cbo_[0].Text(), cbo_[1].Text(),
                                      today_());
}

ReportScreen& CompareScreen::ObtainReportScreen() {
  if (!reportScreen_) {
    reportScreen_ = std::make_unique<ReportScreen>(
        ctx_, messages_, report_.Folder(),
        LauncherTexts{lblUser_[0], lblUser_[1], cbo_[0].Text(), cbo_[1].Text()});
  }
  return *reportScreen_;
}

void CompareScreen::EndRun() {
  progressVisible_ = false;
  notesVisible_ = false;
  cmd_[0] = {"开始对账", true};
  for (ItemCheckBox& box : chk_) box.foreColor = 0;
  height_ = kIdleHeight;
  Refresh();
}

bool CompareScreen::RunSelectedItems() {
  height_ = kRunningHeight;
  cmd_[0] = {"对账......", false};
  Refresh();
  try {
    ObtainReportScreen().grdDiff().SetRows(1);
    display_.SetValue(0);
    progressVisible_ = true;
    notesVisible_ = true;
    list1_.clear();
    lastErrors_.clear();
    Refresh();
    const DateRange range = PeriodRangeToDates();
    std::array<bool, 6> ticked{};
    for (std::size_t i = 0; i < chk_.size(); ++i) ticked[i] = chk_[i].value != 0;
    ReportScreenSink toReport(*reportScreen_);
    ReportPageSink toPage(ticked);
    // The report screen shows the cause of every difference: the run looks for them.
    ExplainingSink explaining(ctx_, range.startDate, range.endDate, {&toReport, &toPage});
    ItemHooks colours{[this](int index) {
                        chk_[static_cast<std::size_t>(index)].foreColor = 255;
                        Refresh();
                      },
                      [this](int index) {
                        chk_[static_cast<std::size_t>(index)].foreColor = 0;
                        Refresh();
                      }};
    const bool differences =
        RunItems(ctx_, *this, report_, ticked, range, {&explaining}, colours, &lastErrors_);
    ReportPageData page;
    page.startPeriod = cbo_[0].Text();
    page.endPeriod = cbo_[1].Text();
    page.rangeKind = cbo_[2].Text();
    page.range = range;
    page.generated = CurrentDateTimeText();
    LoadPageAccount(ctx_, range, page);
    toPage.SetErrors(lastErrors_);
    page.items = std::move(toPage.Items());
    reportScreen_->SetPage(std::move(page));
    EndRun();
    return differences;
  } catch (...) {
    EndRun();
    throw;
  }
}

void CompareScreen::CmdSelClick(int index) {
  switch (index) {
    case 0: {
      bool anyTicked = false;
      for (const ItemCheckBox& box : chk_) anyTicked = anyTicked || box.value != 0;
      const std::string invalid = ValidateRun(cbo_[0].selected, cbo_[1].selected, anyTicked);
      if (!invalid.empty()) {
        messages_.Show(invalid, std::string(kWarningTitle), MessageIcon::Error);
        return;
      }
      hourglass_ = true;
      try {
        const bool differences = RunSelectedItems();
        hourglass_ = false;
        if (differences) {
          if (hooks_.showReport) hooks_.showReport(*reportScreen_);
          reportScreen_.reset();
        } else {
          messages_.Show(std::string(kDataCorrect), std::string(kCaption),
                         MessageIcon::Information);
        }
      } catch (const std::exception& e) {
        // A run stopped by the database or the report file: the screen is idle again and the
        // user is told why, instead of the error escaping the event loop.
        hourglass_ = false;
        messages_.Show(e.what(), std::string(kCaption), MessageIcon::Error);
      }
      ctx_.dictionary.Release();
      break;
    }
    case 1:
      reportScreen_.reset();
      if (hooks_.close) hooks_.close();
      break;
    case 2:
      if (std::filesystem::exists(report_.Path()) && hooks_.openReport) {
        hooks_.openReport(report_.Path());
      }
      break;
    default:
      break;
  }
}

void CompareScreen::SetNotes(const std::string& caption) {
  display_.SetNotes(caption);
  Refresh();
}

void CompareScreen::ShowProgress(double percent) {
  try {
    display_.ShowProgress(percent);
    Refresh();
  } catch (...) {
    // Progress is decoration: an error while showing it must never stop the work it reports on.
  }
}

}  // namespace tallyvet
