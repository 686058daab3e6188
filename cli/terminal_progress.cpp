#include "cli/terminal_progress.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>

namespace tallyvet::cli {

TerminalProgress::TerminalProgress(std::FILE* out)
    : out_(out), enabled_(out != nullptr && isatty(fileno(out)) != 0) {}

TerminalProgress::~TerminalProgress() {
  Finish();
}

void TerminalProgress::SetNotes(const std::string& caption) {
  display_.SetNotes(caption);
  last_draw_ = -1;  // a new step is always shown
  Draw();
}

void TerminalProgress::ShowProgress(double percent) {
  display_.ShowProgress(percent);
  Draw();
}

void TerminalProgress::ShowRunningItems(const std::vector<RunningItem>& items) {
  running_.clear();
  for (const RunningItem& item : items) {
    if (!running_.empty()) running_ += "  ";
    running_ += std::to_string(item.index + 1) + " " + ItemCaption(item.index) + " ";
    // The server gives nothing to count until it is done: its time instead.
    running_ += item.serverSeconds >= 0
                    ? "服务器 " + std::to_string(static_cast<long>(item.serverSeconds)) + " 秒"
                    : std::to_string(static_cast<int>(item.percent)) + "%";
  }
  Draw();
}

void TerminalProgress::Draw() {
  if (!enabled_) return;
  // Terminal output is slow next to a fetch loop: redraw at most ten times a second.
  const double now = TimeOfDay();
  if (last_draw_ >= 0 && std::fabs(now - last_draw_) < 0.1) return;
  last_draw_ = now;
  if (!running_.empty()) {
    std::fprintf(out_, "\r\033[K[%s]", running_.c_str());
    std::fflush(out_);
    drawn_ = true;
    return;
  }
  constexpr int kWidth = 30;
  const int filled = std::clamp(static_cast<int>(display_.Value() * kWidth / 100.0), 0, kWidth);
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.append(static_cast<std::size_t>(kWidth - filled), '-');
  std::fprintf(out_, "\r\033[K[%s] %3d%% %s", bar.c_str(), static_cast<int>(display_.Value()),
               display_.Notes().c_str());
  std::fflush(out_);
  drawn_ = true;
}

void TerminalProgress::Finish() {
  if (enabled_ && drawn_) {
    std::fprintf(out_, "\r\033[K");
    std::fflush(out_);
    drawn_ = false;
  }
}

}  // namespace tallyvet::cli
