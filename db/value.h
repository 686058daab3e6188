// A field value as the host connection hands it out: null, integer, double or text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace tallyvet::db {

class Value {
 public:
  Value() = default;
  Value(std::int64_t v) : v_(v) {}
  Value(int v) : v_(static_cast<std::int64_t>(v)) {}
  Value(double v) : v_(v) {}
  Value(std::string v) : v_(std::move(v)) {}
  Value(std::string_view v) : v_(std::string(v)) {}
  Value(const char* v) : v_(std::string(v)) {}

  bool IsNull() const { return v_.index() == 0; }
  bool IsInteger() const { return v_.index() == 1; }
  bool IsDouble() const { return v_.index() == 2; }
  bool IsNumber() const { return IsInteger() || IsDouble(); }
  bool IsText() const { return v_.index() == 3; }

  // Numeric value: integers widened, text read from its leading numeric part ("12.5abc" -> 12.5,
  // "abc" -> 0), null -> 0.
  double AsDouble() const {
    if (const auto* d = std::get_if<double>(&v_)) return *d;  // the common case, kept inline
    return OtherAsDouble();
  }
  // Integer value: doubles rounded half away from zero, text read as a number, null -> 0.
  std::int64_t AsInteger() const {
    if (const auto* i = std::get_if<std::int64_t>(&v_)) return *i;
    return OtherAsInteger();
  }
  // Plain text form: integers as digits, doubles in the shortest form that reads back to the
  // same double ("12.5", "-3", "1e-05"), text as is, null as the empty text.
  std::string AsText() const;
  // The text of a text value; empty for any other kind.
  const std::string& Text() const;

  // Typed comparison used to merge ordered results: numbers by value, texts by byte code,
  // a number before a text; null sorts first. Returns <0, 0 or >0.
  friend int Compare(const Value& a, const Value& b);
  friend bool operator==(const Value& a, const Value& b) { return a.v_ == b.v_; }

 private:
  double OtherAsDouble() const;
  std::int64_t OtherAsInteger() const;
  std::variant<std::monostate, std::int64_t, double, std::string> v_;
};

// The shortest text that reads back to exactly `d`, with "." as decimal point and no grouping.
std::string FormatDouble(double d);

// Amounts are rounded on the decimal value they stand for, halves to the even neighbour.
// RoundHalfEven: `value` rounded to `decimals` places, decided on the shortest decimal text that
// reads back to `value` (FormatDouble's digits): 0.005, stored in binary a little above half a
// cent, rounds to 0, and 2.675, stored a little below, to 2.68. The result is the double nearest
// to the rounded decimal. Infinities, NaN and a negative `decimals` give `value` back unchanged.
double RoundHalfEven(double value, int decimals = 2);

// FormatDouble(RoundHalfEven(value, decimals)): an amount as reports, grids and the command line
// show it ("12.5", "-3", never "-0").
std::string RoundedText(double value, int decimals = 2);

}  // namespace tallyvet::db
