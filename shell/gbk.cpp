#include "shell/gbk.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace tallyvet {

namespace {

// Owns one iconv descriptor from one encoding to another.
class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::system_error(errno, std::generic_category(),
                              std::string("cannot convert text from ") + from + " to " + to);
    }
  }
  ~Iconv() { iconv_close(cd_); }
  Iconv(const Iconv&) = delete;
  Iconv& operator=(const Iconv&) = delete;

  // All of `in` converted. Where iconv meets a sequence it cannot take (EILSEQ, or EINVAL for one
  // cut off at the end), `replacement` stands for it and the conversion resumes
  // `skipLength(rest)` bytes further on, rest being the input from that sequence on.
  template <typename SkipLength>
  std::string Convert(std::string_view in, std::string_view replacement, SkipLength skipLength) {
    std::string out;
    out.reserve(in.size());
    char* from = const_cast<char*>(in.data());  // iconv's signature; it does not write there
    std::size_t fromLeft = in.size();
    char buffer[4096];
    while (fromLeft > 0) {
      char* to = buffer;
      std::size_t toLeft = sizeof buffer;
      const std::size_t rc = iconv(cd_, &from, &fromLeft, &to, &toLeft);
      out.append(buffer, static_cast<std::size_t>(to - buffer));
      if (rc != static_cast<std::size_t>(-1)) break;
      if (errno == E2BIG) continue;
      const std::size_t skip = std::min(fromLeft, skipLength(std::string_view(from, fromLeft)));
      out.append(replacement);
      from += skip;
      fromLeft -= skip;
      iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
  }

 private:
  iconv_t cd_;
};

// Length of the UTF-8 sequence that starts with `lead`, 1 for a byte that starts none (so a
// stray byte is skipped alone).
std::size_t Utf8SequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
  if (lead >= 0xC2) return 2;
  return 1;
}

}  // namespace

std::string Utf8ToGbk(std::string_view utf8) {
  // The whole character goes: its GBK form does not exist, and half of it would be noise.
  return Iconv("GBK", "UTF-8").Convert(utf8, "?", [](std::string_view rest) {
    return Utf8SequenceLength(static_cast<unsigned char>(rest.front()));
  });
}

std::string GbkToUtf8(std::string_view gbk) {
  // One byte only: a lone lead byte must not swallow the ASCII character after it.
  return Iconv("UTF-8", "GBK").Convert(gbk, "\xEF\xBF\xBD", [](std::string_view) {
    return std::size_t{1};
  });
}

}  // namespace tallyvet
