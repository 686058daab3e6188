// A screen for work that reports progress to nobody: it keeps the bar's value and drops the
// notes, for tests and test programs that drive the engine without a view.
#pragma once

#include <string>

#include "shell/progress_screen.h"

namespace tallyvet::testing {

class SilentScreen final : public ProgressScreen {
 public:
  void SetNotes(const std::string&) override {}
  double ProgressValue() const override { return value_; }
  void ShowProgress(double percent) override { value_ = percent; }

 private:
  double value_ = 0;
};

}  // namespace tallyvet::testing
