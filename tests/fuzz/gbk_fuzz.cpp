// The GBK conversions on any bytes: neither throws; UTF-8 to GBK never grows the text, GBK to
// UTF-8 at most triples it and always gives valid UTF-8; and text read from GBK that holds no
// replacement character survives the way back and forth unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "shell/gbk.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

bool ValidUtf8(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return false;
    std::uint32_t cp = n == 1 ? c : c & (0x7f >> n);
    for (std::size_t k = 1; k < n; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      if ((d >> 6) != 2) return false;
      cp = (cp << 6) | (d & 0x3f);
    }
    const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[n] || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff)) return false;
    i += n;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  Require(tallyvet::Utf8ToGbk(bytes).size() <= bytes.size());
  const std::string utf8 = tallyvet::GbkToUtf8(bytes);
  Require(utf8.size() <= 3 * bytes.size());
  Require(ValidUtf8(utf8));
  if (utf8.find("\xEF\xBF\xBD") == std::string::npos) {
    Require(tallyvet::GbkToUtf8(tallyvet::Utf8ToGbk(utf8)) == utf8);
  }
  return 0;
}
