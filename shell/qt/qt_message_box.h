// The screens' message boxes as Qt dialogs: the text and title as given, the icon mapped one to
// one, OK for a message and Yes/No for a question. Each box is modal over the screen that is
// modal at the time, so it stays in front of the screen that asked.
#pragma once

#include <string>

#include "shell/message_box.h"

namespace tallyvet::qt {

class QtMessageBox final : public MessageBox {
 public:
  // Requires a QApplication; every call blocks in the dialog's own loop until it is answered.
  void Show(const std::string& text, const std::string& title, MessageIcon icon) override;
  // True only for Yes; closing the box counts as No.
  bool AskYesNo(const std::string& text, const std::string& title) override;
};

}  // namespace tallyvet::qt
