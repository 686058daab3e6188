#include "db/value.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace tallyvet::db {

namespace {
// The leading numeric part of a text, as the host's text-to-number conversion reads it.
double LeadingNumber(const std::string& s) {
  const char* p = s.c_str();
  while (*p == ' ') ++p;
  char* end = nullptr;
  const double d = std::strtod(p, &end);
  return end == p ? 0.0 : d;
}

const std::string& EmptyText() {
  static const std::string empty;
  return empty;
}
}  // namespace

std::string FormatDouble(double d) {
  if (d == 0) return "0";  // also folds -0
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, d);
  return std::string(buf, r.ptr);
}

double RoundHalfEven(double value, int decimals) {
  if (!std::isfinite(value) || decimals < 0) return value;
  // The shortest decimal text that reads back to `value`, in fixed notation (at most 309 integer
  // digits, or 324 fraction digits for the smallest subnormal).
  char buffer[400];
  const auto written =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
  if (written.ec != std::errc()) return value;
  std::string_view text(buffer, static_cast<std::size_t>(written.ptr - buffer));
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  const auto dot = text.find('.');
  if (dot == std::string_view::npos) return value;
  const std::string_view fraction = text.substr(dot + 1);
  const auto places = static_cast<std::size_t>(decimals);
  if (fraction.size() <= places) return value;

  // Digits kept, as one decimal integer; then decide on the first dropped digit and the rest.
  std::string kept(text.substr(0, dot));
  kept.append(fraction.substr(0, places));
  const char next = fraction[places];
  const bool restNonZero =
      fraction.substr(places + 1).find_first_not_of('0') != std::string_view::npos;
  const bool lastOdd = ((kept.back() - '0') % 2) == 1;
  if (next > '5' || (next == '5' && (restNonZero || lastOdd))) {
    std::size_t i = kept.size();
    while (i > 0) {
      --i;
      if (kept[i] == '9') {
        kept[i] = '0';
      } else {
        ++kept[i];
        break;
      }
      if (i == 0) kept.insert(kept.begin(), '1');
    }
  }
  std::string result = negative ? "-" : "";
  result.append(kept, 0, kept.size() - places);
  if (places > 0) {
    result.push_back('.');
    result.append(kept, kept.size() - places, places);
  }
  double rounded = 0;
  std::from_chars(result.data(), result.data() + result.size(), rounded);
  return rounded;
}

std::string RoundedText(double value, int decimals) {
  return FormatDouble(RoundHalfEven(value, decimals));
}

double Value::OtherAsDouble() const {
  switch (v_.index()) {
    case 1:
      return static_cast<double>(std::get<1>(v_));
    case 2:
      return std::get<2>(v_);
    case 3:
      return LeadingNumber(std::get<3>(v_));
    default:
      return 0;
  }
}

std::int64_t Value::OtherAsInteger() const {
  return static_cast<std::int64_t>(std::llround(AsDouble()));
}

std::string Value::AsText() const {
  switch (v_.index()) {
    case 1:
      return std::to_string(std::get<1>(v_));
    case 2:
      return FormatDouble(std::get<2>(v_));
    case 3:
      return std::get<3>(v_);
    default:
      return {};
  }
}

const std::string& Value::Text() const {
  return v_.index() == 3 ? std::get<3>(v_) : EmptyText();
}

int Compare(const Value& a, const Value& b) {
  const auto rank = [](const Value& v) { return v.IsNull() ? 0 : v.IsNumber() ? 1 : 2; };
  const int ra = rank(a), rb = rank(b);
  if (ra != rb) return ra < rb ? -1 : 1;
  if (ra == 0) return 0;
  if (ra == 2) {
    const int c = a.Text().compare(b.Text());
    return c < 0 ? -1 : c > 0 ? 1 : 0;
  }
  if (a.IsInteger() && b.IsInteger()) {
    const auto x = std::get<1>(a.v_), y = std::get<1>(b.v_);
    return x < y ? -1 : x > y ? 1 : 0;
  }
  const double x = a.AsDouble(), y = b.AsDouble();
  return x < y ? -1 : x > y ? 1 : 0;
}

}  // namespace tallyvet::db
