// A ProgressScreen for tests: records every caption and progress call the engine makes, and
// offers a List1 when a test asks for one.
#pragma once

#include <string>
#include <vector>

#include "shell/progress_screen.h"

namespace tallyvet::testing {

class RecordingScreen : public ProgressScreen {
 public:
  void SetNotes(const std::string& caption) override { notes.push_back(caption); }
  double ProgressValue() const override { return value; }
  void ShowProgress(double percent) override {
    shown.push_back(percent);
    value = percent;
  }
  std::vector<std::string>* List1() override { return hasList1 ? &list1 : nullptr; }
  void RefreshList1() override { ++list1Refreshes; }

  std::vector<std::string> notes;  // every lblNotes caption, in order
  std::vector<double> shown;       // every ShowProgress argument, in order
  double value = 0;                // ProgressBar1.value: the last percent shown
  bool hasList1 = false;
  std::vector<std::string> list1;
  int list1Refreshes = 0;
};

}  // namespace tallyvet::testing
