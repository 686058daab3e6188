// The host's text conventions, shared by every layer that builds, patches or shows its text.
//
// Text is UTF-8 inside the program. The host's names and SQL keywords are ASCII, and its SQL is
// compared, searched and patched as exact, case-sensitive text; upper-casing touches ASCII letters
// only, so Chinese text in literals and captions passes through every call here byte for byte.
// None of these calls throws anything but std::bad_alloc.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tallyvet::db {

// `c` upper-cased when it is an ASCII letter, unchanged otherwise.
constexpr char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

// ASCII letters upper-cased, every other byte unchanged.
std::string UpperAscii(std::string_view text);

// True when `a` and `b` are equal once their ASCII letters are upper-cased.
bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b);

// A name a server takes unquoted as a schema or table: an ASCII letter or _, then letters, digits
// and _, at most 63 bytes (PostgreSQL's limit). Owner names reach SQL text through this test.
bool IsPlainIdentifier(std::string_view name);

// One past the closing quote of the SQL string literal whose opening quote is at `open` (a doubled
// quote inside stands for one); text.size() when the literal is never closed.
std::size_t SkipSqlLiteral(std::string_view text, std::size_t open);

// `text` without the leading and trailing bytes that occur in `characters`.
std::string Trim(std::string_view text, std::string_view characters);

// Leading and trailing blanks (" " only, as the host's Trim) removed; tabs and line breaks stay.
inline std::string TrimBlanks(std::string_view text) {
  return Trim(text, " ");
}

// Every occurrence of `from`, scanning left to right without overlap, replaced by `to`; the
// replacement is never rescanned. An empty `from` leaves the text unchanged.
std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to);

// The byte offset `count` UTF-8 characters after the byte offset `from`, or text.size() when the
// text ends first. A stray continuation byte at `from` counts as one character.
std::size_t Utf8Advance(std::string_view text, std::size_t from, std::size_t count);

// The number of UTF-8 characters in `text`, counted as Utf8Advance steps.
std::size_t Utf8Length(std::string_view text);

// Width of UTF-8 text in terminal cells and grid character cells: two for an East Asian wide or
// full-width character (Chinese text, "（", "！"), one for every other character.
std::size_t DisplayWidth(std::string_view utf8);

}  // namespace tallyvet::db
