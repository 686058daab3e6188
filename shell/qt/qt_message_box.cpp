#include "shell/qt/qt_message_box.h"

#include <QApplication>
#include <QMessageBox>

#include "shell/qt/screen_widgets.h"

namespace tallyvet::qt {

namespace {

QMessageBox::Icon IconOf(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::Warning:
      return QMessageBox::Warning;
    case MessageIcon::Error:
      return QMessageBox::Critical;
    case MessageIcon::Question:
      return QMessageBox::Question;
  }
  return QMessageBox::NoIcon;
}

}  // namespace

void QtMessageBox::Show(const std::string& text, const std::string& title, MessageIcon icon) {
  QMessageBox box(IconOf(icon), ToQt(title), ToQt(text), QMessageBox::Ok,
                  QApplication::activeModalWidget());
  box.exec();
}

bool QtMessageBox::AskYesNo(const std::string& text, const std::string& title) {
  QMessageBox box(QMessageBox::Question, ToQt(title), ToQt(text),
                  QMessageBox::Yes | QMessageBox::No, QApplication::activeModalWidget());
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes;
}

}  // namespace tallyvet::qt
