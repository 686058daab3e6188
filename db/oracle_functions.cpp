#include "db/oracle_functions.h"

// Built twice: into the program, against the SQLite it links, and as the loadable extension
// libtallyvet_oracle.so, against the API table of whichever SQLite loads it.
#ifdef TALLYVET_SQLITE_EXTENSION
#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT1
#else
#include <sqlite3.h>
#endif

#include <cmath>
#include <string>
#include <string_view>

#include "db/text.h"
#include "db/value.h"

namespace tallyvet::db {

namespace {

// Oracle holds no empty text: '' is null. The functions below see it that way.
bool IsOracleNull(sqlite3_value* v) {
  const int t = sqlite3_value_type(v);
  return t == SQLITE_NULL || (t == SQLITE_TEXT && sqlite3_value_bytes(v) == 0);
}

// The text Oracle makes of a value: whole numbers without a decimal part.
std::string AsOracleText(sqlite3_value* v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
      return std::to_string(sqlite3_value_int64(v));
    case SQLITE_FLOAT:
      return FormatDouble(sqlite3_value_double(v));
    default: {
      const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
      return std::string(p ? p : "", static_cast<std::size_t>(sqlite3_value_bytes(v)));
    }
  }
}

bool IsNumeric(sqlite3_value* v) {
  const int t = sqlite3_value_type(v);
  return t == SQLITE_INTEGER || t == SQLITE_FLOAT;
}

// A whole text that reads as a number (Oracle converts it when compared with a number).
bool TextAsNumber(sqlite3_value* v, double& out) {
  const std::string s = AsOracleText(v);
  if (s.empty()) return false;
  char* end = nullptr;
  out = std::strtod(s.c_str(), &end);
  while (end && *end == ' ') ++end;
  return end && *end == '\0';
}

bool DecodeMatches(sqlite3_value* e, sqlite3_value* s) {
  const bool en = IsOracleNull(e), sn = IsOracleNull(s);
  if (en || sn) return en && sn;
  if (IsNumeric(e) || IsNumeric(s)) {
    double x = 0, y = 0;
    if (IsNumeric(e)) {
      x = sqlite3_value_double(e);
    } else if (!TextAsNumber(e, x)) {
      return false;
    }
    if (IsNumeric(s)) {
      y = sqlite3_value_double(s);
    } else if (!TextAsNumber(s, y)) {
      return false;
    }
    return x == y;
  }
  return AsOracleText(e) == AsOracleText(s);
}

void Nvl(sqlite3_context* ctx, int, sqlite3_value** argv) {
  sqlite3_result_value(ctx, IsOracleNull(argv[0]) ? argv[1] : argv[0]);
}

void Decode(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  if (argc < 3) {
    sqlite3_result_error(ctx, "wrong number of arguments to function DECODE()", -1);
    return;
  }
  int i = 1;
  for (; i + 1 < argc; i += 2) {
    if (DecodeMatches(argv[0], argv[i])) {
      sqlite3_result_value(ctx, argv[i + 1]);
      return;
    }
  }
  if (i < argc) {
    sqlite3_result_value(ctx, argv[i]);  // the default
  } else {
    sqlite3_result_null(ctx);
  }
}

void Pad(sqlite3_context* ctx, int argc, sqlite3_value** argv, bool left) {
  if (argc < 2 || argc > 3) {
    sqlite3_result_error(ctx,
                         left ? "wrong number of arguments to function LPAD()"
                              : "wrong number of arguments to function RPAD()",
                         -1);
    return;
  }
  if (IsOracleNull(argv[0]) || IsOracleNull(argv[1]) || (argc == 3 && IsOracleNull(argv[2]))) {
    sqlite3_result_null(ctx);
    return;
  }
  const double nd = sqlite3_value_double(argv[1]);
  if (!(nd >= 1)) {  // Oracle: an empty result is null
    sqlite3_result_null(ctx);
    return;
  }
  const auto n = static_cast<std::size_t>(std::trunc(std::min(nd, 32767.0)));
  const std::string s = AsOracleText(argv[0]);
  const std::string pad = argc == 3 ? AsOracleText(argv[2]) : std::string(" ");
  if (pad.empty()) {  // a zero-length blob: null like an empty text, and padding with it never ends
    sqlite3_result_null(ctx);
    return;
  }
  const std::size_t have = Utf8Length(s);
  std::string out;
  if (have >= n) {
    out = s.substr(0, Utf8Advance(s, 0, n));
  } else {
    std::string fill;
    std::size_t need = n - have;
    const std::size_t pad_chars = Utf8Length(pad);
    while (need > 0) {
      const std::size_t take = std::min(need, pad_chars);
      fill.append(pad, 0, Utf8Advance(pad, 0, take));
      need -= take;
    }
    out = left ? fill + s : s + fill;
  }
  sqlite3_result_text(ctx, out.c_str(), static_cast<int>(out.size()), SQLITE_TRANSIENT);
}

void Lpad(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  Pad(ctx, argc, argv, true);
}
void Rpad(sqlite3_context* ctx, int argc, sqlite3_value** argv) {
  Pad(ctx, argc, argv, false);
}

}  // namespace

void RegisterOracleFunctions(sqlite3* db) {
  constexpr int kFlags = SQLITE_UTF8 | SQLITE_DETERMINISTIC;
  sqlite3_create_function_v2(db, "NVL", 2, kFlags, nullptr, Nvl, nullptr, nullptr, nullptr);
  sqlite3_create_function_v2(db, "DECODE", -1, kFlags, nullptr, Decode, nullptr, nullptr, nullptr);
  sqlite3_create_function_v2(db, "LPAD", -1, kFlags, nullptr, Lpad, nullptr, nullptr, nullptr);
  sqlite3_create_function_v2(db, "RPAD", -1, kFlags, nullptr, Rpad, nullptr, nullptr, nullptr);
}

}  // namespace tallyvet::db

#ifdef TALLYVET_SQLITE_EXTENSION
// The entry point SQLite looks for when it loads the file without being told a name.
extern "C" __attribute__((visibility("default"))) int sqlite3_extension_init(
    sqlite3* db, char** /*error*/, const sqlite3_api_routines* api) {
  SQLITE_EXTENSION_INIT2(api);
  tallyvet::db::RegisterOracleFunctions(db);
  return SQLITE_OK;
}
#endif
