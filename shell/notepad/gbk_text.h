// GBK (code page 936) text read back into UTF-8, the reverse of what the report writer does.
#pragma once

#include <string>
#include <string_view>

namespace tallyvet::notepad {

// `gbk` as UTF-8. A byte that starts no valid GBK character, or a character cut off at the end,
// becomes U+FFFD and the conversion goes on behind that byte, so one damaged character never
// costs the rest of the text. Throws std::system_error when the converter cannot be opened.
std::string GbkToUtf8(std::string_view gbk);

}  // namespace tallyvet::notepad
