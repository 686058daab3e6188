// Text crossing the program's edge in GBK (code page 936), the encoding of the Chinese systems the
// host runs on: the text report is written in it and read back from it. Inside the program text
// is UTF-8; these two calls are the only conversions. They need no Qt.
#pragma once

#include <string>
#include <string_view>

namespace tallyvet {

// UTF-8 text in GBK. A character that GBK cannot represent (or a byte that is not valid UTF-8)
// becomes "?", so one odd character never costs a report line. Throws std::system_error when the
// converter cannot be opened.
std::string Utf8ToGbk(std::string_view utf8);

// GBK text in UTF-8. A byte that starts no valid GBK character, or a character cut off at the end,
// becomes U+FFFD and the conversion goes on behind that byte, so one damaged character never
// costs the rest of the text. Throws std::system_error when the converter cannot be opened.
std::string GbkToUtf8(std::string_view gbk);

}  // namespace tallyvet
