// Helpers every Qt screen uses: text conversion, the screens' font, dialogs placed in twips,
// control arrays whose one handler receives the index, the modal display that tests replace,
// the throttled repaint during work, and the guard that keeps an error inside an event handler.
#pragma once

#include <QFont>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "shell/message_box.h"

class QAbstractButton;
class QDialog;
class QWidget;

namespace tallyvet::qt {

// UTF-8 text as Qt shows it: CR LF line ends (the screens' own) become one line break.
QString ToQt(std::string_view utf8);
std::string FromQt(const QString& text);

// The font the screens were designed in, 宋体 at 9 points (12 pixels at 15 twips a pixel), with a
// CJK fallback for machines without it.
QFont ScreenFont();

// How a screen is shown modally. The program runs the dialog's own loop (ExecModal); tests pass
// a function that drives the dialog and closes it.
using ModalDisplay = std::function<void(QDialog&)>;
void ExecModal(QDialog& dialog);

// A fixed-size dialog with the given caption and client size (twips), in the screen font, with
// no help button. `owner` (may be null) keeps it in front of the screen that opened it.
std::unique_ptr<QDialog> MakeDialog(std::string_view caption, int clientWidthTwips,
                                    int clientHeightTwips, QWidget* owner = nullptr);

// Places `widget` at its designed left, top, width and height (twips) in its parent.
void Place(QWidget& widget, int left, int top, int width, int height);

// A control array: every button's click reaches `handler` with the button's index.
void OnClick(const std::vector<QAbstractButton*>& buttons, std::function<void(int)> handler);

// Runs `handler`; an exception it throws is shown in a message box (error icon, `title`)
// instead of unwinding through Qt's event loop, which cannot carry it.
void Guarded(MessageBox& messages, std::string_view title, const std::function<void()>& handler);

// Lets the window system paint what the work has changed, at most every `interval`, without
// taking user input: the work itself does not yield, but its screen must not freeze.
class RepaintPump {
 public:
  explicit RepaintPump(std::chrono::milliseconds interval = std::chrono::milliseconds(100))
      : interval_(interval) {}
  void Pump();

 private:
  std::chrono::milliseconds interval_;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace tallyvet::qt
