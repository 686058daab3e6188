#include "shell/notepad/text_viewer.h"

#include <QFont>
#include <QPlainTextEdit>
#include <QStringList>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

#include "shell/gbk.h"
#include "shell/qt/screen_widgets.h"

namespace tallyvet::notepad {

std::unique_ptr<QPlainTextEdit> OpenTextViewer(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw std::system_error(errno, std::generic_category(), "cannot read " + file.string());
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad())
    throw std::system_error(errno, std::generic_category(), "cannot read " + file.string());

  auto viewer = std::make_unique<QPlainTextEdit>();
  QFont font;
  font.setFamilies({QStringLiteral("Noto Sans Mono CJK SC"), QStringLiteral("NSimSun"),
                    QStringLiteral("Monospace")});
  font.setStyleHint(QFont::TypeWriter);
  font.setPixelSize(14);
  viewer->setFont(font);
  viewer->setReadOnly(true);
  viewer->setLineWrapMode(QPlainTextEdit::NoWrap);
  viewer->setPlainText(qt::ToQt(GbkToUtf8(bytes)));
  viewer->setWindowTitle(QString::fromStdString(file.filename().string()));
  return viewer;
}

}  // namespace tallyvet::notepad
