// The viewer's window: a GBK text file shown read-only in a plain text editor widget, in a font
// whose Chinese characters are twice as wide as its Latin ones, so the report's columns line up.
#pragma once

#include <filesystem>
#include <memory>

class QPlainTextEdit;

namespace tallyvet::notepad {

// A window (not yet shown) holding the text of `file`, decoded from GBK, line ends as lines.
// Requires a QApplication. Throws std::system_error naming the file when it cannot be read.
std::unique_ptr<QPlainTextEdit> OpenTextViewer(const std::filesystem::path& file);

}  // namespace tallyvet::notepad
