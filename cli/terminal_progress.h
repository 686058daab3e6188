// The command line's stand-in for a working screen: a progress bar and the notes line on standard
// error when it is a terminal, nothing otherwise. The summary list is kept for the caller.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "shell/progress_screen.h"

namespace tallyvet::cli {

class TerminalProgress final : public ProgressScreen {
 public:
  // `out` is where the bar is drawn; it is drawn only when `out` is a terminal.
  explicit TerminalProgress(std::FILE* out = stderr);
  ~TerminalProgress() override;

  void SetNotes(const std::string& caption) override;
  double ProgressValue() const override { return display_.Value(); }
  void ShowProgress(double percent) override;
  // Replaces the bar by one share per running item ("1 存货账 42%", or "2 库存账 服务器 12 秒" while
  // its statement runs on the server); none brings the bar back.
  void ShowRunningItems(const std::vector<RunningItem>& items) override;
  std::vector<std::string>* List1() override { return &list_; }

  // Clears the bar line (before printing results on the same terminal).
  void Finish();
  const std::vector<std::string>& SummaryList() const { return list_; }

 private:
  void Draw();
  std::FILE* out_;
  bool enabled_;
  ProgressDisplay display_;
  std::vector<std::string> list_;
  std::string running_;  // the running items' shares; empty: the bar
  double last_draw_ = -1;
  bool drawn_ = false;
};

}  // namespace tallyvet::cli
