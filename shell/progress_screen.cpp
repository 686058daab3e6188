#include "shell/progress_screen.h"

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "db/recordset.h"

namespace tallyvet {

const std::string& ItemCheckBoxCaption(int index) {
  static const std::array<std::string, 6> captions = {
      "检查存货账", "检查库存账", "检查单位商品账", "检查总账", "检查应收应付", "检查总账与存货账"};
  static const std::string none;
  return index >= 0 && index < 6 ? captions[static_cast<std::size_t>(index)] : none;
}

std::string ProgressScreen::ItemCaption(int index) const {
  return ItemCheckBoxCaption(index);
}

std::string ServerComparisonNotes(double seconds) {
  return "服务器正在比较数据.....已用 " + std::to_string(static_cast<long>(seconds)) + " 秒";
}

void ProgressScreen::ShowServerStatement(double seconds) {
  SetNotes(ServerComparisonNotes(seconds));
}

bool ProgressDisplay::ShowProgress(double percent) {
  value_ = static_cast<float>(percent);
  if (!(100.0 <= value_)) return false;
  value_ = 0;
  // The lap counter: the last two characters as a number n give n + 1 as two digits.
  const auto& n = notes_;
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (n.size() >= 2 && digit(n[n.size() - 2]) && digit(n[n.size() - 1])) {
    const int lap = (n[n.size() - 2] - '0') * 10 + (n[n.size() - 1] - '0') + 1;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", lap);
    notes_ += buf;
  } else {
    notes_ += "01";
  }
  return true;
}

double TimeOfDay() {
  using namespace std::chrono;
  const auto now = system_clock::now();
  const std::time_t t = system_clock::to_time_t(now);
  std::tm local{};
  localtime_r(&t, &local);
  const double frac = duration<double>(now.time_since_epoch()).count() - static_cast<double>(t);
  return local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec + frac;
}

void ProgressStepper::Reset() {
  const double now = TimeOfDay();
  last_ = rounded_ ? std::round(now) : now;
}

void ProgressStepper::Step() {
  const double now = TimeOfDay();
  if (now - last_ >= 0.1) {
    last_ = rounded_ ? std::round(now) : now;
    screen_.ShowProgress(screen_.ProgressValue() + 1);
  }
}

std::size_t StepThrough(db::Recordset& rs, ProgressStepper& stepper) {
  std::size_t rows = 0;
  for (; !rs.Eof(); rs.MoveNext()) {
    stepper.Step();
    ++rows;
  }
  return rows;
}

}  // namespace tallyvet
