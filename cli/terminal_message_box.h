// The screens' message boxes on the command line: a message goes to standard error, a Yes/No
// question is asked on the terminal (or answered Yes up front, for --yes).
#pragma once

#include <string>

#include "cli/terminal_progress.h"
#include "shell/message_box.h"

namespace tallyvet::cli {

class TerminalMessageBox final : public MessageBox {
 public:
  // `progress` is cleared before anything is printed; `yes` answers every question with Yes
  // without asking.
  explicit TerminalMessageBox(TerminalProgress& progress, bool yes = false)
      : progress_(progress), yes_(yes) {}

  // Prints "<title>: <text>" on standard error.
  void Show(const std::string& text, const std::string& title, MessageIcon icon) override;

  // Prints "<title>: <text> [y/N] " on standard error and reads one line from standard input:
  // true for "y", "Y", "yes" or "是"; false for anything else or the end of input.
  bool AskYesNo(const std::string& text, const std::string& title) override;

 private:
  TerminalProgress& progress_;
  bool yes_;
};

}  // namespace tallyvet::cli
