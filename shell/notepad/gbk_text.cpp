#include "shell/notepad/gbk_text.h"

#include <iconv.h>

#include <cerrno>
#include <system_error>

namespace tallyvet::notepad {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

class Converter {
 public:
  Converter() : cd_(iconv_open("UTF-8", "GBK")) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      throw std::system_error(errno, std::generic_category(), "iconv_open GBK to UTF-8");
    }
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

}  // namespace

std::string GbkToUtf8(std::string_view gbk) {
  Converter cd;
  std::string out;
  out.reserve(gbk.size() + gbk.size() / 2);
  char* in = const_cast<char*>(gbk.data());
  std::size_t inLeft = gbk.size();
  char buffer[4096];
  while (inLeft > 0) {
    char* to = buffer;
    std::size_t toLeft = sizeof buffer;
    const std::size_t rc = iconv(cd.get(), &in, &inLeft, &to, &toLeft);
    out.append(buffer, static_cast<std::size_t>(to - buffer));
    if (rc != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL: mark the byte and resume behind it (a lone lead byte must not swallow
    // the ASCII character after it).
    out.append(kReplacement);
    ++in;
    --inLeft;
    iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

}  // namespace tallyvet::notepad
