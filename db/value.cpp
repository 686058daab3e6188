#include "db/value.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

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

double Value::AsDouble() const {
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

std::int64_t Value::AsInteger() const {
  if (v_.index() == 1) return std::get<1>(v_);
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
