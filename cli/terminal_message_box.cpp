#include "cli/terminal_message_box.h"

#include <unistd.h>

#include <iostream>

namespace tallyvet::cli {

void TerminalMessageBox::Show(const std::string& text, const std::string& title,
                              MessageIcon /*icon*/) {
  progress_.Finish();
  std::cerr << title << ": " << text << "\n";
}

bool TerminalMessageBox::AskYesNo(const std::string& text, const std::string& title) {
  if (yes_) return true;
  progress_.Finish();
  std::cerr << title << ": " << text << " [y/N] " << std::flush;
  std::string answer;
  const bool read = static_cast<bool>(std::getline(std::cin, answer));
  if (!isatty(STDIN_FILENO)) std::cerr << "\n";  // the answer was not echoed
  if (!read) return false;
  return answer == "y" || answer == "Y" || answer == "yes" || answer == "是";
}

}  // namespace tallyvet::cli
