// tallyvet-notepad FILE: shows a GBK text file (the reconciliation report) read-only, maximised.
#include <QApplication>
#include <QMessageBox>
#include <QPlainTextEdit>

#include <exception>
#include <filesystem>

#include "shell/notepad/text_viewer.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    QMessageBox::critical(nullptr, QStringLiteral("tallyvet-notepad"),
                          QStringLiteral("usage: tallyvet-notepad FILE"));
    return 2;
  }
  try {
    auto viewer = tallyvet::notepad::OpenTextViewer(std::filesystem::path(argv[1]));
    viewer->showMaximized();
    viewer->activateWindow();
    return QApplication::exec();
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QStringLiteral("tallyvet-notepad"),
                          QString::fromLocal8Bit(e.what()));
    return 1;
  }
}
