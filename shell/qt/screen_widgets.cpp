#include "shell/qt/screen_widgets.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDialog>
#include <QStringList>

#include <exception>

#include "shell/qt/twips.h"

namespace tallyvet::qt {

QString ToQt(std::string_view utf8) {
  QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return text;
}

std::string FromQt(const QString& text) {
  return text.toStdString();
}

QFont ScreenFont() {
  QFont font;
  font.setFamilies({QStringLiteral("SimSun"), QStringLiteral("宋体"),
                    QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Serif CJK SC")});
  font.setPixelSize(12);
  return font;
}

void ExecModal(QDialog& dialog) {
  dialog.exec();
}

std::unique_ptr<QDialog> MakeDialog(std::string_view caption, int clientWidthTwips,
                                    int clientHeightTwips, QWidget* owner) {
  auto dialog = std::make_unique<QDialog>(owner);
  dialog->setWindowTitle(ToQt(caption));
  dialog->setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  dialog->setFont(ScreenFont());
  dialog->setFixedSize(Px(clientWidthTwips), Px(clientHeightTwips));
  return dialog;
}

void Place(QWidget& widget, int left, int top, int width, int height) {
  widget.setGeometry(TwipsRect(left, top, width, height));
}

void OnClick(const std::vector<QAbstractButton*>& buttons, std::function<void(int)> handler) {
  auto shared = std::make_shared<std::function<void(int)>>(std::move(handler));
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    const int index = static_cast<int>(i);
    QObject::connect(buttons[i], &QAbstractButton::clicked, buttons[i],
                     [shared, index] { (*shared)(index); });
  }
}

void Guarded(MessageBox& messages, std::string_view title, const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    // Qt cannot unwind through its event loop: the handler's error ends here, told to the user.
    try {
      messages.Show(e.what(), std::string(title), MessageIcon::Error);
    } catch (...) {
      // Nothing left to tell it with; the screen stays as the handler left it.
    }
  }
}

void RepaintPump::Pump() {
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ < interval_) return;
  last_ = now;
  QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

}  // namespace tallyvet::qt
