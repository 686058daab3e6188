// Messages to the user: the Qt screens show dialogs, the command line prints or asks on the
// terminal, and tests script the answers.
#pragma once

#include <string>

namespace tallyvet {

enum class MessageIcon { Information, Warning, Error, Question };

class MessageBox {
 public:
  virtual ~MessageBox() = default;
  // Shows text with an OK button.
  virtual void Show(const std::string& text, const std::string& title, MessageIcon icon) = 0;
  // Asks a Yes/No question; true for Yes.
  virtual bool AskYesNo(const std::string& text, const std::string& title) = 0;
};

}  // namespace tallyvet
