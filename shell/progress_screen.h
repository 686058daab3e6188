// The members that long work reaches on the screen that started it: the notes label, the progress
// bar, ShowProgress, the launcher's item check boxes and the summary list. The Qt screens, the
// command line and the tests each implement this one interface.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace tallyvet {

namespace db {
class Recordset;
}

// An item of a run that works on several items at once, as its screen shows it.
struct RunningItem {
  int index = 0;       // 0 to 5: item 1 to 6
  double percent = 0;  // its own progress bar's value
  // While its comparison runs as one statement on the database server: how long it has run so
  // far, in seconds; negative otherwise.
  double serverSeconds = -1;
};

// The notes while a comparison runs as one statement on the database server, which gives no row
// until it is done: "服务器正在比较数据.....已用 12 秒".
std::string ServerComparisonNotes(double seconds);

class ProgressScreen {
 public:
  virtual ~ProgressScreen() = default;

  // lblNotes.Caption = caption, then lblNotes.Refresh.
  virtual void SetNotes(const std::string& caption) = 0;
  // ProgressBar1.value.
  virtual double ProgressValue() const = 0;
  // ShowProgress(percent): never throws (see ProgressDisplay for the wrap-and-lap rule).
  virtual void ShowProgress(double percent) = 0;
  // chkItem(index).Caption; index 0 to 5 is item 1 to 6.
  virtual std::string ItemCaption(int index) const;
  // The work's statement runs on the database server and gives nothing until it is done; it has
  // run `seconds` so far. Called repeatedly while it runs. The default shows it in the notes
  // (SetNotes(ServerComparisonNotes(seconds))).
  virtual void ShowServerStatement(double seconds);
  // List1, the summary list of a comparison, or null when the screen has none.
  virtual std::vector<std::string>* List1() { return nullptr; }
  // List1.Refresh.
  virtual void RefreshList1() {}
  // The items running now when a run works on several at once, in item order, each with its own
  // progress; called repeatedly by the thread that started the run. A screen without a place for
  // them ignores them.
  virtual void ShowRunningItems(const std::vector<RunningItem>& /*items*/) {}
};

// A screen that shows nothing: for work whose caller reports on its own (the sample builder's
// summary, a stand-in for the host, a test).
class SilentScreen final : public ProgressScreen {
 public:
  void SetNotes(const std::string&) override {}
  double ProgressValue() const override { return value_; }
  void ShowProgress(double percent) override { value_ = percent; }

 private:
  double value_ = 0;
};

// The captions of the launcher's item check boxes, index 0 to 5 (item 1 to 6).
const std::string& ItemCheckBoxCaption(int index);

// The state behind a notes label and a progress bar (minimum 0, maximum 100):
// ShowProgress sets the value; when the maximum is then less than or equal to the value, the value
// goes back to the minimum and the notes get a lap counter appended: when their last two
// characters form a number n, n + 1 as two digits ("01" -> "0102"), otherwise "01".
class ProgressDisplay {
 public:
  void SetNotes(std::string caption) { notes_ = std::move(caption); }
  const std::string& Notes() const { return notes_; }
  double Value() const { return value_; }
  void SetValue(double v) { value_ = static_cast<float>(v); }
  // Returns true when the bar wrapped.
  bool ShowProgress(double percent);

 private:
  std::string notes_;
  double value_ = 0;
};

// Advances the bar by one (ShowProgress with its value plus 1) at most every 0.1 s: the time of the
// last step is kept in whole seconds (rounded), as the host's own screens do, so the step comes
// on every call during part of each second. `rounded` false keeps the exact time instead.
class ProgressStepper {
 public:
  explicit ProgressStepper(ProgressScreen& screen, bool rounded = true)
      : screen_(screen), rounded_(rounded) {}
  void Step();
  // Resets the time of the last step to the current time (rounded as configured).
  void Reset();

 private:
  ProgressScreen& screen_;
  bool rounded_;
  double last_ = 0;
};

// StepThrough: walks `rs` from its current row to its end once, one stepper.Step() per row, so
// that fetching, the slow part of reading a result, happens while the progress bar moves. Leaves
// `rs` at its end and returns the number of rows walked. Throws what the recordset throws.
std::size_t StepThrough(db::Recordset& rs, ProgressStepper& stepper);

// Seconds since midnight, with fractions (the host's Timer).
double TimeOfDay();

}  // namespace tallyvet
